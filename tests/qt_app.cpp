// The kit's client side on the Qt display (offscreen): a real application
// whose Run serves the display on the main thread (this test's thread),
// while the user's steps run on a thread of their own through the display's
// robot, which acts with real Qt events.
#include <QtDisplay.h>
#include <QtDisplayRobot.h>

#include <Alert.h>
#include <Application.h>
#include <Button.h>
#include <CheckBox.h>
#include <Entry.h>
#include <FilePanel.h>
#include <ListItem.h>
#include <ListView.h>
#include <ScrollView.h>
#include <TextControl.h>
#include <View.h>
#include <Window.h>

#include <TestSupport.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

using namespace BPrivate;
using testing_support::TempDir;
using testing_support::WaitUntil;

namespace {

const bool kOffscreen = [] {
	setenv("QT_QPA_PLATFORM", "offscreen", 1);
	return true;
}();

constexpr uint32 kClicked = 'clck';
constexpr uint32 kToggled = 'togl';
constexpr uint32 kEdited = 'edit';
constexpr uint32 kSelected = 'slct';
constexpr uint32 kAsk = 'askA';
constexpr uint32 kAnswered = 'answ';
constexpr uint32 kSentinel = 'sntl';

class Inbox {
public:
	void Add(const BMessage& message)
	{
		std::lock_guard guard(fLock);
		fMessages.push_back(message);
	}
	std::vector<BMessage> Of(uint32 what) const
	{
		std::lock_guard guard(fLock);
		std::vector<BMessage> found;
		for (const BMessage& message : fMessages) {
			if (message.what == what)
				found.push_back(message);
		}
		return found;
	}
	bool WaitFor(uint32 what, size_t count) const
	{
		return WaitUntil([&] { return Of(what).size() >= count; });
	}

private:
	mutable std::mutex fLock;
	std::vector<BMessage> fMessages;
};

// A list that records the files dropped on it.
class DropList : public BListView {
public:
	DropList(BRect frame, Inbox& inbox)
		: BListView(frame, "files", B_MULTIPLE_SELECTION_LIST), fInbox(inbox) {}
	void MessageReceived(BMessage* message) override
	{
		if (message->what == B_SIMPLE_DATA)
			fInbox.Add(*message);
		else
			BListView::MessageReceived(message);
	}

private:
	Inbox& fInbox;
};

// A window like the program's: a panel-coloured back view holding a button,
// a check box, a text field and a list of files in a scroll view.
class TestWindow : public BWindow {
public:
	explicit TestWindow(const char* title)
		: BWindow(BRect(100, 100, 499, 399), title, B_TITLED_WINDOW, B_NOT_RESIZABLE)
	{
		BView* back = new BView(Bounds(), "back", B_FOLLOW_ALL_SIDES, 0);
		back->SetViewColor(ui_color(B_PANEL_BACKGROUND_COLOR));
		AddChild(back);
		button = new BButton(BRect(10, 10, 109, 35), "encode", "Encode", new BMessage(kClicked));
		back->AddChild(button);
		box = new BCheckBox(BRect(120, 10, 259, 30), "mono", "Mono", new BMessage(kToggled));
		back->AddChild(box);
		field = new BTextControl(BRect(10, 45, 289, 65), "name", "Name:", "", nullptr);
		field->SetDivider(60);
		field->SetModificationMessage(new BMessage(kEdited));
		back->AddChild(field);
		list = new DropList(BRect(12, 82, 370 - B_V_SCROLL_BAR_WIDTH, 280), inbox);
		list->SetSelectionMessage(new BMessage(kSelected));
		back->AddChild(new BScrollView("scroll", list, B_FOLLOW_LEFT | B_FOLLOW_TOP, 0, false, true));
	}
	void MessageReceived(BMessage* message) override
	{
		if (message->what == kAsk) {
			// Blocks this window's thread only; the screen goes on.
			int32 answer = (new BAlert("Replace files", "Replace the existing files?", "Cancel",
				"Skip", "Replace", B_WIDTH_AS_USUAL, B_WARNING_ALERT))->Go();
			BMessage answered(kAnswered);
			answered.AddInt32("button", answer);
			inbox.Add(answered);
			return;
		}
		inbox.Add(*message);
		BWindow::MessageReceived(message);
	}
	bool QuitRequested() override { return true; }
	// Every message posted before this one has been handled once it is.
	bool Settle()
	{
		size_t before = inbox.Of(kSentinel).size();
		PostMessage(kSentinel);
		return inbox.WaitFor(kSentinel, before + 1);
	}

	BButton* button;
	BCheckBox* box;
	BTextControl* field;
	DropList* list;
	Inbox inbox;
};

class TestApp : public BApplication {
public:
	TestApp() : BApplication("application/x-vnd.tamsel-qt-test") {}
	void RefsReceived(BMessage* message) override { inbox.Add(*message); }
	Inbox inbox;
};

template <typename Function>
auto Locked(BWindow* window, Function&& function)
{
	window->Lock();
	struct Unlocker {
		BWindow* window;
		~Unlocker() { window->Unlock(); }
	} unlocker{window};
	return function();
}

// Runs the application on this thread, which serves the display, and the
// steps on another; the steps get the shown window and the robot. Quitting
// the application at the end closes the window and makes Run return.
void RunApp(const std::function<void(TestApp&, TestWindow*, QtDisplayRobot&)>& steps)
{
	ASSERT_TRUE(kOffscreen);
	SetDisplay(std::make_unique<QtDisplay>());
	QtDisplay* display = GetQtDisplay();
	ASSERT_NE(display, nullptr);
	QtDisplayRobot robot(*display);
	{
		TestApp app;
		std::thread user([&] {
			if (!display->WaitUntilRunning()) {
				ADD_FAILURE() << "the display never ran";
			} else {
				auto* window = new TestWindow("Tamsel test");
				window->Show();
				if (QtDisplay::WaitFor([&] { return robot.IsWindowShown("Tamsel test"); }))
					steps(app, window, robot);
				else
					ADD_FAILURE() << "the window never showed";
				// The list's items belong to whoever added them, as on the platform.
				// (Unless the steps closed the window.)
				if (app.CountWindows() > 0 && window->Lock()) {
					std::vector<BListItem*> items;
					for (int32 i = 0; i < window->list->CountItems(); i++)
						items.push_back(window->list->ItemAt(i));
					window->list->MakeEmpty();
					for (BListItem* item : items)
						delete item;
					window->Unlock();
				}
			}
			be_app_messenger.SendMessage(B_QUIT_REQUESTED);
		});
		app.Run();
		user.join();
	}
	ResetDisplay();
}

TEST(QtApp, ClicksTogglesAndTypingReachTheHandlers)
{
	RunApp([](TestApp&, TestWindow* window, QtDisplayRobot& robot) {
		EXPECT_EQ(robot.ViewText("Tamsel test", "encode"), "Encode");
		EXPECT_TRUE(robot.Click("Tamsel test", "encode"));
		EXPECT_TRUE(window->inbox.WaitFor(kClicked, 1));

		EXPECT_TRUE(robot.Toggle("Tamsel test", "mono"));
		EXPECT_TRUE(window->inbox.WaitFor(kToggled, 1));
		ASSERT_TRUE(window->Settle());
		EXPECT_EQ(Locked(window, [&] { return window->box->Value(); }), B_CONTROL_ON);

		EXPECT_TRUE(robot.Type("Tamsel test", "name", "Öl"));
		EXPECT_TRUE(window->inbox.WaitFor(kEdited, 2));
		ASSERT_TRUE(window->Settle());
		EXPECT_EQ(Locked(window, [&] { return std::string(window->field->Text()); }), "Öl");
		// Nothing was echoed back over what the user typed.
		EXPECT_EQ(robot.ViewText("Tamsel test", "name"), "Öl");

		Locked(window, [&] { window->button->SetEnabled(false); });
		EXPECT_TRUE(QtDisplay::WaitFor([&] {
			return robot.IsViewEnabled("Tamsel test", "encode") == std::optional<bool>(false);
		}));
		EXPECT_FALSE(robot.Click("Tamsel test", "encode"));
		ASSERT_TRUE(window->Settle());
		EXPECT_EQ(window->inbox.Of(kClicked).size(), 1u);
	});
}

TEST(QtApp, TheUsersSelectionAndDroppedFilesReachTheList)
{
	TempDir dir;
	ASSERT_TRUE(testing_support::WriteFile(dir / "a.wav", "RIFF"));
	ASSERT_TRUE(testing_support::WriteFile(dir / "b.wav", "RIFF"));
	RunApp([&](TestApp&, TestWindow* window, QtDisplayRobot& robot) {
		Locked(window, [&] {
			for (int i = 0; i < 20; i++)
				window->list->AddItem(new BStringItem(("track " + std::to_string(i)).c_str()));
		});
		ASSERT_TRUE(QtDisplay::WaitFor([&] { return robot.ListRows("Tamsel test", "files").size() == 20; }));
		EXPECT_TRUE(robot.SelectRow("Tamsel test", "files", 2));
		EXPECT_TRUE(robot.SelectRow("Tamsel test", "files", 4, true));
		EXPECT_TRUE(window->inbox.WaitFor(kSelected, 2));
		ASSERT_TRUE(window->Settle());
		std::vector<int32> selected = Locked(window, [&] {
			std::vector<int32> rows;
			for (int32 i = 0; window->list->CurrentSelection(i) >= 0; i++)
				rows.push_back(window->list->CurrentSelection(i));
			return rows;
		});
		EXPECT_EQ(selected, (std::vector<int32>{2, 3, 4}));
		EXPECT_EQ(robot.ListSelection("Tamsel test", "files"), selected);

		std::vector<std::string> paths = {dir / "a.wav", dir / "b.wav"};
		EXPECT_TRUE(robot.Drop("Tamsel test", "files", paths));
		ASSERT_TRUE(window->inbox.WaitFor(B_SIMPLE_DATA, 1));
		BMessage dropped = window->inbox.Of(B_SIMPLE_DATA)[0];
		for (size_t i = 0; i < paths.size(); i++) {
			entry_ref expected, got;
			ASSERT_EQ(get_ref_for_path(paths[i].c_str(), &expected), B_OK);
			ASSERT_EQ(dropped.FindRef("refs", int32(i), &got), B_OK);
			EXPECT_EQ(got, expected);
		}
	});
}

TEST(QtApp, AnAlertAndAFilePanelAreAnswered)
{
	TempDir dir;
	ASSERT_TRUE(testing_support::WriteFile(dir / "song.wav", "RIFF"));
	std::string root = std::filesystem::canonical(dir.Path()).string();
	RunApp([&](TestApp& app, TestWindow* window, QtDisplayRobot& robot) {
		window->PostMessage(kAsk);
		ASSERT_TRUE(QtDisplay::WaitFor([&] { return robot.Alerts().size() == 1; }));
		EXPECT_EQ(robot.Alerts()[0].buttons, (std::vector<std::string>{"Cancel", "Skip", "Replace"}));
		// The window's thread waits in Go; the screen does not.
		EXPECT_EQ(robot.ViewText("Tamsel test", "encode"), "Encode");
		EXPECT_TRUE(robot.AnswerAlert(2, "Replace files"));
		ASSERT_TRUE(window->inbox.WaitFor(kAnswered, 1));
		int32 button = -1;
		window->inbox.Of(kAnswered)[0].FindInt32("button", &button);
		EXPECT_EQ(button, 2);

		entry_ref start;
		ASSERT_EQ(get_ref_for_path(root.c_str(), &start), B_OK);
		BFilePanel panel(B_OPEN_PANEL, nullptr, &start, 0, false);
		panel.Window()->SetTitle("Add files");
		panel.Show();
		ASSERT_TRUE(QtDisplay::WaitFor([&] { return robot.PanelTitles().size() == 1; }));
		EXPECT_TRUE(robot.AnswerOpenPanel("Add files", {root + "/song.wav"}));
		// The panel's message goes to its target, the application by default.
		ASSERT_TRUE(app.inbox.WaitFor(B_REFS_RECEIVED, 1));
		entry_ref expected, got;
		ASSERT_EQ(get_ref_for_path((root + "/song.wav").c_str(), &expected), B_OK);
		ASSERT_EQ(app.inbox.Of(B_REFS_RECEIVED)[0].FindRef("refs", &got), B_OK);
		EXPECT_EQ(got, expected);
	});
}

TEST(QtApp, TheScreenMatchesTheClientAfterABurstFromTwoThreads)
{
	RunApp([](TestApp&, TestWindow* window, QtDisplayRobot& robot) {
		auto changer = [window](int seed) {
			for (int i = 0; i < 200; i++) {
				Locked(window, [&] {
					std::string tag = std::to_string(seed) + "-" + std::to_string(i);
					if (i % 4 == seed)
						window->button->SetLabel(("Encode " + tag).c_str());
					window->field->SetText(("text " + tag).c_str());
					window->box->SetValue((i + seed) % 2 ? B_CONTROL_ON : B_CONTROL_OFF);
					window->box->SetEnabled(i % 3 != 0);
					window->list->AddItem(new BStringItem(("row " + tag).c_str()), 0);
					if (window->list->CountItems() > 30)
						delete window->list->RemoveItem(window->list->CountItems() - 1);
					if (i % 7 == 0 && window->list->CountItems() > 1)
						window->list->MoveItem(0, window->list->CountItems() - 1);
					window->list->Select(i % window->list->CountItems());
				});
			}
		};
		std::thread first(changer, 0);
		std::thread second(changer, 1);
		first.join();
		second.join();

		struct Client {
			std::string label, text;
			int32 value;
			bool enabled;
			std::vector<std::string> rows;
			std::vector<int32> selection;
		};
		Client client = Locked(window, [&] {
			Client state;
			state.label = window->button->Label();
			state.text = window->field->Text();
			state.value = window->box->Value();
			state.enabled = window->box->IsEnabled();
			for (int32 i = 0; i < window->list->CountItems(); i++)
				state.rows.push_back(static_cast<BStringItem*>(window->list->ItemAt(i))->Text());
			for (int32 i = 0; window->list->CurrentSelection(i) >= 0; i++)
				state.selection.push_back(window->list->CurrentSelection(i));
			return state;
		});
		EXPECT_TRUE(QtDisplay::WaitFor([&] {
			return robot.ViewText("Tamsel test", "name") == client.text
				&& robot.ListRows("Tamsel test", "files") == client.rows;
		}));
		EXPECT_EQ(robot.ViewText("Tamsel test", "encode"), client.label);
		EXPECT_EQ(robot.ViewText("Tamsel test", "name"), client.text);
		EXPECT_EQ(robot.IsChecked("Tamsel test", "mono"), std::optional<bool>(client.value == B_CONTROL_ON));
		EXPECT_EQ(robot.IsViewEnabled("Tamsel test", "mono"), std::optional<bool>(client.enabled));
		EXPECT_EQ(robot.ListRows("Tamsel test", "files"), client.rows);
		EXPECT_EQ(robot.ListSelection("Tamsel test", "files"), client.selection);
	});
}

TEST(QtApp, TheCloseBoxAsksTheWindowToQuit)
{
	RunApp([](TestApp& app, TestWindow*, QtDisplayRobot& robot) {
		EXPECT_TRUE(robot.PressCloseBox("Tamsel test"));
		EXPECT_TRUE(QtDisplay::WaitFor([&] { return !robot.WindowFrame("Tamsel test"); }));
		EXPECT_TRUE(WaitUntil([&] { return app.CountWindows() == 0; }));
	});
}

} // namespace
