// The Qt display on the offscreen platform, driven through the protocol
// alone: hand-made batches go in, the widgets and the input messages that
// come out are checked. No looper is involved; an observer sees the input.
#include <QtDisplay.h>
#include <QtDisplayRobot.h>

#include <AppDefs.h>
#include <Entry.h>
#include <InterfaceDefs.h>
#include <Message.h>
#include <StorageDefs.h>
#include <TestSupport.h>

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QLineEdit>
#include <QListView>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QStyleFactory>
#include <QThread>
#include <QWidget>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <random>
#include <thread>
#include <tuple>

using namespace BPrivate;
using testing_support::TempDir;
using testing_support::WaitUntil;

namespace {

const bool kOffscreen = [] {
	setenv("QT_QPA_PLATFORM", "offscreen", 1);
	return true;
}();

// Every input message the display posts, in order.
class Inbox {
public:
	void Add(WindowId window, const BMessage& message)
	{
		std::lock_guard guard(fLock);
		fMessages.push_back({window, message});
	}
	std::vector<BMessage> Of(uint32 what) const
	{
		std::lock_guard guard(fLock);
		std::vector<BMessage> found;
		for (const auto& [window, message] : fMessages) {
			if (message.what == what)
				found.push_back(message);
		}
		return found;
	}
	size_t Count() const
	{
		std::lock_guard guard(fLock);
		return fMessages.size();
	}
	bool WaitFor(uint32 what, size_t count) const
	{
		return WaitUntil([&] { return Of(what).size() >= count; }, std::chrono::seconds(10));
	}

private:
	mutable std::mutex fLock;
	std::vector<std::pair<WindowId, BMessage>> fMessages;
};

int32 ViewOf(const BMessage& message)
{
	int32 view = -1;
	message.FindInt32("_view", &view);
	return view;
}

std::vector<int32> Indexes(const BMessage& message)
{
	std::vector<int32> rows;
	int32 row = 0;
	for (int32 i = 0; message.FindInt32("index", i, &row) == B_OK; i++)
		rows.push_back(row);
	return rows;
}

WindowState MakeWindow(WindowId id, const std::string& title, BRect frame, uint32 flags = 0)
{
	WindowState state;
	state.id = id;
	state.title = title;
	state.frame = frame;
	state.look = B_TITLED_WINDOW_LOOK;
	state.feel = B_NORMAL_WINDOW_FEEL;
	state.flags = flags;
	state.hidden = false;
	return state;
}

ViewState MakeView(ViewId id, ViewId parent, ViewKind kind, const std::string& name, BRect frame)
{
	ViewState state;
	state.id = id;
	state.parent = parent;
	state.kind = kind;
	state.name = name;
	state.frame = frame;
	return state;
}

MenuItemState Item(int32 id, const std::string& label)
{
	MenuItemState item;
	item.id = id;
	item.label = label;
	return item;
}

Batch Ops(WindowId window, std::vector<Operation> operations)
{
	Batch batch;
	batch.window = window;
	batch.operations = std::move(operations);
	return batch;
}

// Serves the display on this thread (the process's main thread, as Qt
// wants) while the steps run on another; the steps end by quitting it.
void Serve(QtDisplay& display, const std::function<void()>& steps)
{
	std::thread robot([&] {
		if (display.WaitUntilRunning())
			steps();
		else
			ADD_FAILURE() << "the display never started";
		display.Quit();
	});
	display.Run();
	robot.join();
}

class QtDisplayTest : public ::testing::Test {
protected:
	void SetUp() override
	{
		ASSERT_TRUE(kOffscreen);
		fDisplay.SetInputObserver([this](WindowId window, const BMessage& message) {
			fInbox.Add(window, message);
		});
	}

	// Applies the batch and waits until the display has applied it.
	void Send(Batch batch)
	{
		fDisplay.Apply(std::move(batch));
		ASSERT_TRUE(fDisplay.Invoke([] {}));
	}

	QtDisplay fDisplay;
	QtDisplayRobot fRobot{fDisplay};
	Inbox fInbox;
};

// ---- windows ---------------------------------------------------------------

TEST_F(QtDisplayTest, WindowsFollowTheirStateAndTheCloseBoxOnlyAsks)
{
	Serve(fDisplay, [&] {
		BRect frame(100, 50, 399, 249);
		Send(Ops(1, {WindowCreate{MakeWindow(1, "Fixed", frame, B_NOT_RESIZABLE | B_NOT_ZOOMABLE),
			BMessenger()}}));
		EXPECT_TRUE(fRobot.IsWindowShown("Fixed"));
		// Both edges belong to the frame: 300 x 200 pixels.
		std::optional<BRect> shown = fRobot.WindowFrame("Fixed");
		ASSERT_TRUE(shown);
		EXPECT_EQ(*shown, frame);

		Qt::WindowFlags flags;
		QSize minimum, maximum;
		ASSERT_TRUE(fDisplay.Invoke([&] {
			for (QWidget* top : QApplication::topLevelWidgets()) {
				if (top->windowTitle() == "Fixed") {
					flags = top->windowFlags();
					minimum = top->minimumSize();
					maximum = top->maximumSize();
				}
			}
		}));
		EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
		EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
		EXPECT_EQ(minimum, QSize(300, 200));
		EXPECT_EQ(maximum, QSize(300, 200));

		// The close box asks the window's looper; the window stays.
		EXPECT_TRUE(fRobot.PressCloseBox("Fixed"));
		EXPECT_EQ(fInbox.Of(B_QUIT_REQUESTED).size(), 1u);
		EXPECT_TRUE(fRobot.IsWindowShown("Fixed"));

		// Moved, renamed, made unclosable: the close box is gone and asks nothing.
		WindowState moved = MakeWindow(1, "Renamed", BRect(10, 20, 209, 119),
			B_NOT_CLOSABLE | B_NOT_MINIMIZABLE);
		Send(Ops(1, {WindowUpdate{moved}}));
		EXPECT_FALSE(fRobot.IsWindowShown("Fixed"));
		EXPECT_TRUE(fRobot.IsWindowShown("Renamed"));
		EXPECT_EQ(fRobot.WindowFrame("Renamed"), std::optional<BRect>(BRect(10, 20, 209, 119)));
		EXPECT_FALSE(fRobot.PressCloseBox("Renamed"));
		EXPECT_EQ(fInbox.Of(B_QUIT_REQUESTED).size(), 1u);

		moved.hidden = true;
		Send(Ops(1, {WindowUpdate{moved}}));
		EXPECT_FALSE(fRobot.IsWindowShown("Renamed"));
		Send(Ops(1, {WindowDestroy{1}}));
		EXPECT_FALSE(fRobot.WindowFrame("Renamed"));
	});
}

TEST_F(QtDisplayTest, AModalWindowBlocksTheOthers)
{
	Serve(fDisplay, [&] {
		Send(Ops(1, {WindowCreate{MakeWindow(1, "Main", BRect(0, 0, 299, 199)), BMessenger()},
			ViewCreate{MakeView(11, 0, ViewKind::Button, "go", BRect(10, 10, 89, 39))}}));
		WindowState modal = MakeWindow(2, "Modal", BRect(50, 50, 249, 149));
		modal.look = B_MODAL_WINDOW_LOOK;
		modal.feel = B_MODAL_APP_WINDOW_FEEL;
		Send(Ops(2, {WindowCreate{modal, BMessenger()}}));
		EXPECT_FALSE(fRobot.Click("Main", "go"));
		EXPECT_FALSE(fRobot.PressCloseBox("Main"));
		modal.hidden = true;
		Send(Ops(2, {WindowUpdate{modal}}));
		EXPECT_TRUE(fRobot.Click("Main", "go"));
		EXPECT_TRUE(fInbox.WaitFor(BPrivate::K_INPUT_INVOKE, 1));
	});
}

TEST_F(QtDisplayTest, BatchesBeforeRunAreShownAndQuitBeforeRunReturns)
{
	fDisplay.Apply(Ops(1, {WindowCreate{MakeWindow(1, "Early", BRect(0, 0, 99, 99)), BMessenger()}}));
	// A size asked for from another thread before Run waits for the loop and
	// is measured, not guessed: the first windows of a program ask while the
	// main thread is still on its way into the loop, and every start must
	// lay out the same.
	SizeQuery query;
	query.kind = ViewKind::Button;
	query.label = "A rather long label";
	PreferredSize early;
	std::atomic<bool> answered{false};
	std::thread asker([&] {
		early = fDisplay.GetPreferredSize(query);
		answered = true;
	});
	EXPECT_FALSE(WaitUntil([&] { return answered.load(); }, std::chrono::milliseconds(200)))
		<< "answered before the display served: a guess";
	Serve(fDisplay, [&] {
		EXPECT_TRUE(QtDisplay::WaitFor([&] { return fRobot.IsWindowShown("Early"); }));
	});
	asker.join();
	const QSize measured = QPushButton(QStringLiteral("A rather long label")).sizeHint();
	EXPECT_EQ(early.width, float(measured.width() - 1));
	EXPECT_EQ(early.height, float(measured.height() - 1));
	EXPECT_FALSE(fDisplay.IsRunning());
	EXPECT_FALSE(fDisplay.Invoke([] {}) && !QCoreApplication::instance());

	QtDisplay second;
	second.Quit();
	second.Run(); // returns at once
	EXPECT_FALSE(second.IsRunning());
}

// ---- views and their input -----------------------------------------------

TEST_F(QtDisplayTest, ControlsShowTheirStateAndPostTheUsersInput)
{
	Serve(fDisplay, [&] {
		ViewState back = MakeView(10, 0, ViewKind::Plain, "back", BRect(5, 5, 294, 194));
		back.hasViewColor = true;
		back.viewColor = rgb_color{216, 216, 216, 255};
		ViewState button = MakeView(11, 10, ViewKind::Button, "encode", BRect(10, 10, 89, 39));
		button.label = "Encode & quit";
		ViewState box = MakeView(12, 10, ViewKind::CheckBox, "mono", BRect(10, 50, 129, 69));
		box.label = "Mono";
		ViewState field = MakeView(13, 10, ViewKind::TextControl, "name", BRect(10, 80, 209, 101));
		field.label = "Name:";
		field.divider = 60;
		field.text = "start";
		field.maxBytes = 8;
		ViewState note = MakeView(14, 10, ViewKind::StringView, "note", BRect(10, 110, 49, 125));
		note.text = "A <b>long</b> note that does not fit";
		Send(Ops(1, {WindowCreate{MakeWindow(1, "Controls", BRect(0, 0, 299, 199)), BMessenger()},
			ViewCreate{back}, ViewCreate{button}, ViewCreate{box}, ViewCreate{field}, ViewCreate{note}}));

		// Frames are relative to the parent view, both edges included.
		EXPECT_EQ(fRobot.ViewFrameInWindow("Controls", "encode"),
			std::optional<BRect>(BRect(15, 15, 94, 44)));
		EXPECT_EQ(fRobot.ViewText("Controls", "encode"), "Encode & quit");
		EXPECT_EQ(fRobot.ViewText("Controls", "name"), "start");
		EXPECT_EQ(fRobot.ViewText("Controls", "note"), note.text);

		QString accessible, buddyText, objectName;
		int editLeft = -1;
		bool autoFill = false;
		ASSERT_TRUE(fDisplay.Invoke([&] {
			for (QWidget* top : QApplication::topLevelWidgets()) {
				if (auto* edit = top->findChild<QLineEdit*>()) {
					accessible = edit->accessibleName();
					editLeft = edit->geometry().left();
					objectName = edit->parentWidget()->objectName();
				}
				if (auto* backWidget = top->findChild<QWidget*>("back"))
					autoFill = backWidget->autoFillBackground();
			}
		}));
		EXPECT_EQ(accessible, "Name:");
		EXPECT_EQ(objectName, "name");
		EXPECT_EQ(editLeft, 60);
		EXPECT_TRUE(autoFill);

		EXPECT_TRUE(fRobot.Click("Controls", "encode"));
		ASSERT_TRUE(fInbox.WaitFor(K_INPUT_INVOKE, 1));
		EXPECT_EQ(ViewOf(fInbox.Of(K_INPUT_INVOKE)[0]), 11);

		EXPECT_TRUE(fRobot.Toggle("Controls", "mono"));
		ASSERT_TRUE(fInbox.WaitFor(K_INPUT_INVOKE, 2));
		int32 value = -1;
		EXPECT_EQ(fInbox.Of(K_INPUT_INVOKE)[1].FindInt32("value", &value), B_OK);
		EXPECT_EQ(value, B_CONTROL_ON);
		EXPECT_EQ(ViewOf(fInbox.Of(K_INPUT_INVOKE)[1]), 12);

		// One modification per typed character, each with the whole text;
		// the limit counts bytes: "é" is two of them.
		EXPECT_TRUE(fRobot.SetText("Controls", "name", "ab"));
		EXPECT_TRUE(fRobot.Type("Controls", "name", "éxyzéq"));
		std::vector<BMessage> edits = fInbox.Of(K_INPUT_TEXT);
		ASSERT_FALSE(edits.empty());
		std::string last;
		edits.back().FindString("text", &last);
		// "abéxyz" is 7 bytes: the second "é" would make 9, the "q" makes 8.
		EXPECT_EQ(last, "abéxyzq");
		EXPECT_EQ(fRobot.ViewText("Controls", "name"), "abéxyzq");
		EXPECT_EQ(ViewOf(edits.back()), 13);
		EXPECT_EQ(edits.size(), 7u); // every accepted key, none for the refused one

		// The client's own changes show and are not sent back.
		size_t before = fInbox.Count();
		box.value = B_CONTROL_OFF;
		field.text = "set by the client";
		button.enabled = false;
		note.hidden = true;
		Send(Ops(1, {ViewUpdate{box}, ViewUpdate{field}, ViewUpdate{button}, ViewUpdate{note}}));
		EXPECT_EQ(fRobot.IsChecked("Controls", "mono"), std::optional<bool>(false));
		EXPECT_EQ(fRobot.ViewText("Controls", "name"), "set by the client");
		EXPECT_EQ(fRobot.IsViewEnabled("Controls", "encode"), std::optional<bool>(false));
		EXPECT_EQ(fRobot.IsViewShown("Controls", "note"), std::optional<bool>(false));
		EXPECT_EQ(fInbox.Count(), before);
		// A disabled button cannot be clicked.
		EXPECT_FALSE(fRobot.Click("Controls", "encode"));

		// Destroying a view takes its children with it.
		Send(Ops(1, {ViewDestroy{10}}));
		EXPECT_FALSE(fRobot.ViewText("Controls", "encode"));
		EXPECT_FALSE(fRobot.IsViewShown("Controls", "back"));
	});
}

TEST_F(QtDisplayTest, TheClientsChangesShowEvenBackToTheValuesBeforeTheUsersInput)
{
	Serve(fDisplay, [&] {
		ViewState box = MakeView(12, 0, ViewKind::CheckBox, "mono", BRect(10, 50, 129, 69));
		box.label = "Mono";
		ViewState field = MakeView(13, 0, ViewKind::TextControl, "name", BRect(10, 80, 209, 101));
		field.label = "Name:";
		field.divider = 60;
		Send(Ops(1, {WindowCreate{MakeWindow(1, "Reset", BRect(0, 0, 299, 199)), BMessenger()},
			ViewCreate{box}, ViewCreate{field}}));
		EXPECT_TRUE(fRobot.Type("Reset", "name", "typed"));
		EXPECT_TRUE(fRobot.Toggle("Reset", "mono"));
		ASSERT_TRUE(fInbox.WaitFor(K_INPUT_INVOKE, 1));

		// The client took the user's values (without sending them back);
		// an update about something else leaves them alone.
		field.text = "typed";
		field.label = "File name:";
		box.value = B_CONTROL_ON;
		box.label = "Mono (joint)";
		Send(Ops(1, {ViewUpdate{field}, ViewUpdate{box}}));
		EXPECT_EQ(fRobot.ViewText("Reset", "name"), "typed");
		EXPECT_EQ(fRobot.IsChecked("Reset", "mono"), std::optional<bool>(true));
		EXPECT_EQ(fRobot.ViewText("Reset", "mono"), "Mono (joint)");

		// Then the program resets both to what they were before the user came.
		field.text = "";
		box.value = B_CONTROL_OFF;
		Send(Ops(1, {ViewUpdate{field}, ViewUpdate{box}}));
		EXPECT_EQ(fRobot.ViewText("Reset", "name"), "");
		EXPECT_EQ(fRobot.IsChecked("Reset", "mono"), std::optional<bool>(false));
	});
}

TEST_F(QtDisplayTest, MenusShowMarksAndPostChosenItems)
{
	Serve(fDisplay, [&] {
		MenuItemState open = Item(1, "Open…");
		MenuItemState separator;
		separator.separator = true;
		MenuItemState quit = Item(2, "Quit");
		MenuItemState disabled = Item(3, "Later");
		disabled.enabled = false;
		MenuItemState file = Item(100, "File");
		file.isMenu = true;
		file.items = {open, separator, quit, disabled};
		ViewState bar = MakeView(20, 0, ViewKind::MenuBar, "menubar", BRect(0, 0, 299, 19));
		bar.menu = {file};

		MenuItemState low = Item(4, "64 kbps");
		MenuItemState high = Item(5, "128 kbps");
		high.marked = true;
		MenuItemState rates = Item(0, "Rates");
		rates.isMenu = true;
		rates.radioMode = true;
		rates.labelFromMarked = true;
		rates.items = {low, high};
		ViewState field = MakeView(21, 0, ViewKind::MenuField, "rate", BRect(10, 30, 209, 55));
		field.label = "Bitrate:";
		field.divider = 70;
		field.menu = {rates};
		Send(Ops(1, {WindowCreate{MakeWindow(1, "Menus", BRect(0, 0, 299, 199)), BMessenger()},
			ViewCreate{bar}, ViewCreate{field}}));

		EXPECT_EQ(fRobot.MenuItems("Menus", "menubar"), std::vector<std::string>{"File"});
		EXPECT_EQ(fRobot.MenuItems("Menus", "menubar", "File"),
			(std::vector<std::string>{"Open…", "-", "Quit", "Later"}));
		EXPECT_EQ(fRobot.ViewText("Menus", "rate"), "128 kbps");

		EXPECT_TRUE(fRobot.ChooseMenuItem("Menus", "menubar", "File", "Quit"));
		EXPECT_FALSE(fRobot.ChooseMenuItem("Menus", "menubar", "File", "Later"));
		EXPECT_FALSE(fRobot.ChooseMenuItem("Menus", "menubar", "Edit", "Quit"));
		EXPECT_TRUE(fRobot.ChooseMenuItem("Menus", "rate", "", "64 kbps"));
		ASSERT_TRUE(fInbox.WaitFor(K_INPUT_MENU, 2));
		std::vector<BMessage> chosen = fInbox.Of(K_INPUT_MENU);
		int32 item = 0;
		chosen[0].FindInt32("item", &item);
		EXPECT_EQ(item, 2);
		EXPECT_EQ(ViewOf(chosen[0]), 20);
		chosen[1].FindInt32("item", &item);
		EXPECT_EQ(item, 4);
		EXPECT_EQ(ViewOf(chosen[1]), 21);
		// The mark moves when the client says so, not before.
		EXPECT_EQ(fRobot.ViewText("Menus", "rate"), "128 kbps");
		field.menu[0].items[0].marked = true;
		field.menu[0].items[1].marked = false;
		Send(Ops(1, {ViewUpdate{field}}));
		EXPECT_EQ(fRobot.ViewText("Menus", "rate"), "64 kbps");
	});
}

TEST_F(QtDisplayTest, TabsShowTheClientsChoiceAndPostTheUsers)
{
	Serve(fDisplay, [&] {
		ViewState tabs = MakeView(30, 0, ViewKind::TabView, "tabs", BRect(0, 0, 299, 199));
		tabs.tabLabels = {"Files", "Options"};
		ViewState first = MakeView(31, 30, ViewKind::Plain, "files", BRect(2, 30, 297, 197));
		ViewState second = MakeView(32, 30, ViewKind::Plain, "options", BRect(2, 30, 297, 197));
		second.hidden = true;
		Send(Ops(1, {WindowCreate{MakeWindow(1, "Tabs", BRect(0, 0, 299, 199)), BMessenger()},
			ViewCreate{tabs}, ViewCreate{first}, ViewCreate{second}}));
		EXPECT_EQ(fRobot.TabLabels("Tabs", "tabs"), (std::vector<std::string>{"Files", "Options"}));
		EXPECT_EQ(fRobot.CurrentTab("Tabs", "tabs"), std::optional<int32>(0));

		EXPECT_TRUE(fRobot.SelectTab("Tabs", "tabs", 1));
		ASSERT_TRUE(fInbox.WaitFor(K_INPUT_TAB, 1));
		int32 index = -1;
		fInbox.Of(K_INPUT_TAB)[0].FindInt32("index", &index);
		EXPECT_EQ(index, 1);

		// The client answers by selecting the tab and swapping the pages;
		// nothing goes back.
		tabs.selectedTab = 1;
		first.hidden = true;
		second.hidden = false;
		Send(Ops(1, {ViewUpdate{tabs}, ViewUpdate{first}, ViewUpdate{second}}));
		EXPECT_EQ(fRobot.CurrentTab("Tabs", "tabs"), std::optional<int32>(1));
		EXPECT_EQ(fRobot.IsViewShown("Tabs", "options"), std::optional<bool>(true));
		EXPECT_EQ(fRobot.IsViewShown("Tabs", "files"), std::optional<bool>(false));
		tabs.selectedTab = 0;
		Send(Ops(1, {ViewUpdate{tabs}}));
		EXPECT_EQ(fInbox.Of(K_INPUT_TAB).size(), 1u);
	});
}

// ---- lists -----------------------------------------------------------------

class QtListTest : public QtDisplayTest {
protected:
	void MakeList(bool multiple)
	{
		ViewState scroll = MakeView(40, 0, ViewKind::ScrollView, "scroll", BRect(10, 10, 209, 159));
		scroll.border = B_FANCY_BORDER;
		scroll.verticalScroll = true;
		scroll.target = 41;
		ViewState list = MakeView(41, 40, ViewKind::ListView, "list",
			BRect(2, 2, 197 - B_V_SCROLL_BAR_WIDTH - 1, 147));
		list.multipleSelection = multiple;
		ViewState field = MakeView(42, 0, ViewKind::TextControl, "field", BRect(10, 170, 209, 190));
		field.divider = 0;
		Send(Ops(1, {WindowCreate{MakeWindow(1, "Lists", BRect(0, 0, 299, 199)), BMessenger()},
			ViewCreate{scroll}, ViewCreate{list}, ViewCreate{field}}));
	}
};

TEST_F(QtListTest, OperationsKeepTheRowsOfAReferenceList)
{
	Serve(fDisplay, [&] {
		MakeList(true);
		std::vector<std::string> expected;
		std::mt19937 random(1234);
		int serial = 0;
		for (int step = 0; step < 300; step++) {
			int size = int(expected.size());
			std::vector<Operation> operations;
			switch (random() % 6) {
				case 0:
				case 1: {
					int index = int(random() % uint32(size + 1));
					std::vector<std::string> texts;
					for (int n = int(random() % 4) + 1; n > 0; n--)
						texts.push_back("row " + std::to_string(serial++));
					expected.insert(expected.begin() + index, texts.begin(), texts.end());
					operations.push_back(ListInsert{41, index, texts});
					break;
				}
				case 2:
					if (size > 0) {
						int index = int(random() % uint32(size));
						int count = std::min(int(random() % 3) + 1, size - index);
						expected.erase(expected.begin() + index, expected.begin() + index + count);
						operations.push_back(ListRemove{41, index, count});
					}
					break;
				case 3:
					if (size > 1) {
						int from = int(random() % uint32(size));
						int to = int(random() % uint32(size));
						std::string moved = expected[size_t(from)];
						expected.erase(expected.begin() + from);
						expected.insert(expected.begin() + to, moved);
						operations.push_back(ListMove{41, from, to});
					}
					break;
				case 4:
					if (size > 0) {
						int index = int(random() % uint32(size));
						expected[size_t(index)] = "renamed " + std::to_string(serial++);
						operations.push_back(ListSetText{41, index, expected[size_t(index)]});
					}
					break;
				case 5:
					if (random() % 10 == 0) {
						expected.clear();
						operations.push_back(ListClear{41});
					}
					break;
			}
			fDisplay.Apply(Ops(1, std::move(operations)));
		}
		// Out-of-range operations are ignored, never trusted.
		fDisplay.Apply(Ops(1, {ListRemove{41, int32(expected.size()) + 5, 3},
			ListMove{41, -1, 0}, ListSetText{41, int32(expected.size()), "ghost"}}));
		EXPECT_EQ(fRobot.ListRows("Lists", "list"), expected);
		EXPECT_EQ(fInbox.Of(K_INPUT_SELECT).size(), 0u);
	});
}

TEST_F(QtListTest, TheUsersSelectionIsPostedAndTheClientsIsNotEchoed)
{
	Serve(fDisplay, [&] {
		MakeList(true);
		std::vector<std::string> rows;
		for (int i = 0; i < 50; i++)
			rows.push_back("file " + std::to_string(i) + ".wav");
		Send(Ops(1, {ListInsert{41, 0, rows}}));
		EXPECT_EQ(fRobot.ListRows("Lists", "list"), rows);

		// The list covers the scroll view's inside, where Be's scroll bar would be.
		std::optional<BRect> scroll = fRobot.ViewFrameInWindow("Lists", "scroll");
		std::optional<BRect> list = fRobot.ViewFrameInWindow("Lists", "list");
		ASSERT_TRUE(scroll && list);
		EXPECT_GT(list->left, scroll->left);
		EXPECT_LT(list->right, scroll->right);
		EXPECT_GT(list->right, scroll->right - 4);

		EXPECT_TRUE(fRobot.SelectRow("Lists", "list", 3));
		EXPECT_TRUE(fRobot.SelectRow("Lists", "list", 6, true));
		EXPECT_TRUE(fRobot.SelectRow("Lists", "list", 45, false, true));
		ASSERT_TRUE(fInbox.WaitFor(K_INPUT_SELECT, 3));
		std::vector<BMessage> selections = fInbox.Of(K_INPUT_SELECT);
		EXPECT_EQ(Indexes(selections.front()), std::vector<int32>{3});
		EXPECT_EQ(Indexes(selections.back()), (std::vector<int32>{3, 4, 5, 6, 45}));
		EXPECT_EQ(ViewOf(selections.back()), 41);

		size_t posted = fInbox.Of(K_INPUT_SELECT).size();
		Send(Ops(1, {ListSelect{41, {9, 1, 2}}, ListRemove{41, 0, 2}}));
		EXPECT_EQ(fRobot.ListSelection("Lists", "list"), (std::vector<int32>{0, 7}));
		EXPECT_EQ(fInbox.Of(K_INPUT_SELECT).size(), posted);
	});
}

// Taking out selected rows one by one from the bottom up, a few or very many
// in one batch: the rows and the selection that stay are those of a
// reference list, nothing is echoed, and the row at the top of the view
// stays in sight.
TEST_F(QtListTest, RemovalsFromTheBottomUpKeepWhatStays)
{
	Serve(fDisplay, [&] {
		MakeList(true);
		std::vector<std::string> rows;
		for (int i = 0; i < 3000; i++)
			rows.push_back("take " + std::to_string(i));
		std::vector<int32> selected;
		for (int32 i = 0; i < 3000; i += 3)
			selected.push_back(i);
		Send(Ops(1, {ListInsert{41, 0, rows}, ListSelect{41, selected}}));
		auto topRow = [&] {
			std::string text;
			EXPECT_TRUE(fDisplay.Invoke([&] {
				for (QWidget* top : QApplication::topLevelWidgets()) {
					if (auto* list = top->findChild<QListView*>("list"))
						text = list->indexAt(QPoint(1, 1)).data().toString().toStdString();
				}
			}));
			return text;
		};
		ASSERT_TRUE(fDisplay.Invoke([&] {
			for (QWidget* top : QApplication::topLevelWidgets()) {
				if (auto* list = top->findChild<QListView*>("list"))
					list->scrollTo(list->model()->index(2001, 0), QAbstractItemView::PositionAtTop);
			}
		}));
		ASSERT_EQ(topRow(), "take 2001");
		const size_t posted = fInbox.Of(K_INPUT_SELECT).size();

		std::mt19937 random(99);
		for (int removals : {5, 40, 700}) {
			// Every n-th row from the bottom up, and each time one unselected
			// row at the very end.
			std::vector<Operation> operations;
			const int32 size = int32(rows.size());
			const int32 step = std::max(1, size / removals);
			std::vector<bool> gone(rows.size(), false);
			for (int32 row = size - 1; row >= 0; row -= step) {
				const int32 count = random() % 5 == 0 ? std::min(row + 1, 2) : 1;
				operations.push_back(ListRemove{41, row - count + 1, count});
				for (int32 i = row - count + 1; i <= row; i++)
					gone[size_t(i)] = true;
				row -= count - 1;
			}
			std::vector<std::string> keptRows;
			std::vector<int32> keptSelection;
			int32 removedAbove = 0;
			size_t next = 0;
			for (int32 i = 0; i < size; i++) {
				if (gone[size_t(i)]) {
					removedAbove++;
					continue;
				}
				keptRows.push_back(rows[size_t(i)]);
				while (next < selected.size() && selected[next] < i)
					next++;
				if (next < selected.size() && selected[next] == i)
					keptSelection.push_back(i - removedAbove);
			}
			Send(Ops(1, std::move(operations)));
			EXPECT_EQ(fRobot.ListRows("Lists", "list"), keptRows) << removals;
			EXPECT_EQ(fRobot.ListSelection("Lists", "list"), keptSelection) << removals;
			rows = keptRows;
			selected = keptSelection;
		}
		EXPECT_EQ(fInbox.Of(K_INPUT_SELECT).size(), posted);
		// After the large batch, the row that was on top, or the first after
		// it that stayed, is on top again.
		const std::string top = topRow();
		ASSERT_FALSE(top.empty());
		const int number = std::stoi(top.substr(5));
		EXPECT_GE(number, 2001);
		EXPECT_LE(number, 2001 + 50);
	});
}

TEST_F(QtListTest, DroppedFilesArriveAsRefsForTheViewUnderTheDrop)
{
	TempDir dir;
	ASSERT_TRUE(testing_support::WriteFile(dir / "one.wav", "RIFF"));
	ASSERT_TRUE(testing_support::WriteFile(dir / "two space.wav", "RIFF"));
	std::filesystem::create_symlink(dir / "one.wav", dir / "link.wav");
	Serve(fDisplay, [&] {
		MakeList(false);
		std::vector<std::string> paths = {dir / "one.wav", dir / "two space.wav", dir / "link.wav"};
		EXPECT_TRUE(fRobot.Drop("Lists", "list", paths));
		ASSERT_TRUE(fInbox.WaitFor(B_SIMPLE_DATA, 1));
		BMessage dropped = fInbox.Of(B_SIMPLE_DATA)[0];
		EXPECT_EQ(ViewOf(dropped), 41);
		for (size_t i = 0; i < paths.size(); i++) {
			entry_ref expected, got;
			ASSERT_EQ(get_ref_for_path(paths[i].c_str(), &expected), B_OK);
			ASSERT_EQ(dropped.FindRef("refs", int32(i), &got), B_OK);
			EXPECT_EQ(got, expected) << paths[i];
		}
		// A text field under the drop gets the refs too, not the URLs as text.
		EXPECT_TRUE(fRobot.Drop("Lists", "field", {dir / "one.wav"}));
		ASSERT_TRUE(fInbox.WaitFor(B_SIMPLE_DATA, 2));
		EXPECT_EQ(ViewOf(fInbox.Of(B_SIMPLE_DATA)[1]), 42);
		EXPECT_EQ(fRobot.ViewText("Lists", "field"), "");
	});
}

TEST_F(QtListTest, AHundredThousandRowsArriveInOneOperation)
{
	Serve(fDisplay, [&] {
		MakeList(true);
		std::vector<std::string> rows;
		for (int i = 0; i < 100000; i++)
			rows.push_back("/music/album/track " + std::to_string(i) + ".wav");
		Send(Ops(1, {ListInsert{41, 0, rows}, ListSelect{41, {99999}}}));
		int shown = 0;
		std::string lastRow;
		ASSERT_TRUE(fDisplay.Invoke([&] {
			for (QWidget* top : QApplication::topLevelWidgets()) {
				if (auto* list = top->findChild<QListView*>("list")) {
					shown = list->model()->rowCount();
					lastRow = list->model()->data(list->model()->index(shown - 1, 0)).toString().toStdString();
				}
			}
		}));
		EXPECT_EQ(shown, 100000);
		EXPECT_EQ(lastRow, rows.back());
		EXPECT_EQ(fRobot.ListSelection("Lists", "list"), std::vector<int32>{99999});
	});
}

// ---- alerts and panels -----------------------------------------------------

TEST_F(QtDisplayTest, AlertsKeepTheButtonOrderAndAnswerOnTheMainThread)
{
	Serve(fDisplay, [&] {
		std::mutex lock;
		std::vector<std::pair<int32, bool>> answers; // button, on the main thread
		auto answer = [&](int32 button) {
			std::lock_guard guard(lock);
			answers.push_back({button, QThread::currentThread() == qApp->thread()});
		};
		auto count = [&] {
			std::lock_guard guard(lock);
			return answers.size();
		};
		AlertRequest request;
		request.id = 1;
		request.title = "Quit while encoding";
		request.text = "Stop encoding & quit?";
		request.buttons = {"Cancel", "Keep", "Quit"};
		request.icon = AlertIcon::Warning;
		fDisplay.ShowAlert(request, answer);
		ASSERT_TRUE(QtDisplay::WaitFor([&] { return fRobot.Alerts().size() == 1; }));
		QtDisplayRobot::ShownAlert shown = fRobot.Alerts()[0];
		EXPECT_EQ(shown.title, request.title);
		EXPECT_EQ(shown.text, request.text);
		EXPECT_EQ(shown.buttons, request.buttons);
		EXPECT_EQ(shown.icon, AlertIcon::Warning);

		// Left to right as given.
		std::vector<int> lefts;
		ASSERT_TRUE(fDisplay.Invoke([&] {
			for (QWidget* top : QApplication::topLevelWidgets()) {
				if (top->windowTitle() != "Quit while encoding" || !top->isVisible())
					continue;
				for (const char* label : {"Cancel", "Keep", "Quit"}) {
					for (QAbstractButton* button : top->findChildren<QAbstractButton*>()) {
						if (button->text() == label)
							lefts.push_back(button->mapTo(top, QPoint(0, 0)).x());
					}
				}
			}
		}));
		ASSERT_EQ(lefts.size(), 3u);
		EXPECT_LT(lefts[0], lefts[1]);
		EXPECT_LT(lefts[1], lefts[2]);

		EXPECT_TRUE(fRobot.AnswerAlert(1));
		ASSERT_TRUE(QtDisplay::WaitFor([&] { return count() == 1; }));
		EXPECT_TRUE(fRobot.Alerts().empty());

		request.id = 2;
		request.title = "Second";
		request.icon = AlertIcon::Stop;
		fDisplay.ShowAlert(request, answer);
		ASSERT_TRUE(QtDisplay::WaitFor([&] { return fRobot.Alerts().size() == 1; }));
		EXPECT_EQ(fRobot.Alerts()[0].icon, AlertIcon::Stop);
		EXPECT_FALSE(fRobot.AnswerAlert(0, "Not open"));
		EXPECT_TRUE(fRobot.AnswerAlert(-1, "Second")); // Escape
		ASSERT_TRUE(QtDisplay::WaitFor([&] { return count() == 2; }));

		// A text too long or too wide for the screen scrolls inside a box
		// that stays on it, the button too; the label keeps its name and the
		// whole text, and Return presses the button. A short text is laid
		// out as the message box does.
		std::string wide, tall, report = "20 of 20 files could not be encoded:";
		for (int i = 0; i < 20; i++)
			wide += (i ? "\n" : "") + std::string(3000, 'w');
		for (int i = 0; i < 300; i++)
			tall += "line " + std::to_string(i) + "\n";
		for (int i = 0; i < 20; i++) {
			report += "\n/home/someone/Music/some\u2026 folder/the file with a rather long name "
				+ std::to_string(i) + ".wav: gogo:";
			for (int word = 0; word < 20; word++)
				report += " reason";
		}
		const struct {
			const char* name;
			std::string text;
			bool scrolls;
		} texts[] = {{"short", request.text, false}, {"wide", wide, true}, {"tall", tall, true},
			{"report", report, true}};
		for (const auto& [name, text, scrolls] : texts) {
			SCOPED_TRACE(name);
			request.id++;
			request.title = std::string("Long ") + name;
			request.text = text;
			request.buttons = {"OK"};
			fDisplay.ShowAlert(request, answer);
			ASSERT_TRUE(QtDisplay::WaitFor([&] { return fRobot.Alerts().size() == 1; }));
			EXPECT_EQ(fRobot.Alerts()[0].text, text);
			// Whether the box and its button are on the screen, the label in
			// the scroll area, and the label with the whole text; with
			// `restyle`, once the box has laid itself out anew for another style.
			const auto look = [&](bool restyle) {
				bool onScreen = false, inScrollArea = false;
				QString labelText;
				EXPECT_TRUE(fDisplay.Invoke([&] {
					for (QWidget* top : QApplication::topLevelWidgets()) {
						if (top->windowTitle() != QString::fromStdString(request.title) || !top->isVisible())
							continue;
						static QStyle* const fusion = QStyleFactory::create("Fusion");
						if (restyle)
							top->setStyle(fusion);
						const QRect screen = top->screen()->availableGeometry();
						auto* button = top->findChild<QAbstractButton*>();
						onScreen = screen.contains(top->frameGeometry()) && button != nullptr
							&& screen.contains(QRect(button->mapToGlobal(QPoint(0, 0)), button->size()));
						if (auto* label = top->findChild<QLabel*>("qt_msgbox_label")) {
							labelText = label->text();
							auto* scroll = top->findChild<QScrollArea*>("AlertText");
							inScrollArea = scroll != nullptr && label->parentWidget() == scroll->viewport();
						}
					}
				}));
				return std::tuple(onScreen, inScrollArea, labelText.toStdString() == text);
			};
			EXPECT_EQ(look(false), std::tuple(true, scrolls, true));
			if (scrolls) {
				EXPECT_EQ(look(true), std::tuple(true, true, true)) << "after a change of style";
			}
			ASSERT_TRUE(fDisplay.Invoke([&] {
				for (QWidget* top : QApplication::topLevelWidgets()) {
					if (top->windowTitle() != QString::fromStdString(request.title) || !top->isVisible())
						continue;
					QWidget* focus = top->focusWidget() != nullptr ? top->focusWidget() : top;
					QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
					QKeyEvent release(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier);
					QCoreApplication::sendEvent(focus, &press);
					QCoreApplication::sendEvent(focus, &release);
				}
			}));
			ASSERT_TRUE(QtDisplay::WaitFor([&] { return count() == size_t(request.id); }));
		}
		std::lock_guard guard(lock);
		EXPECT_EQ(answers[0], std::make_pair(1, true));
		EXPECT_EQ(answers[1], std::make_pair(2, true));
		for (size_t i = 2; i < answers.size(); i++)
			EXPECT_EQ(answers[i], std::make_pair(0, true)) << "Return presses the button";
	});
}

TEST_F(QtDisplayTest, FilePanelsAnswerWithLinksKeptAndSaveNamesSplit)
{
	TempDir dir;
	ASSERT_TRUE(testing_support::WriteFile(dir / "a.wav", "RIFF"));
	ASSERT_TRUE(testing_support::WriteFile(dir / "b.wav", "RIFF"));
	std::filesystem::create_directory(dir / "sub");
	std::filesystem::create_symlink(dir / "a.wav", dir / "sub/link.wav");
	std::string root = std::filesystem::canonical(dir.Path()).string();
	Serve(fDisplay, [&] {
		std::mutex lock;
		std::vector<FilePanelResult> results;
		auto answer = [&](const FilePanelResult& result) {
			std::lock_guard guard(lock);
			results.push_back(result);
		};
		auto count = [&] {
			std::lock_guard guard(lock);
			return results.size();
		};
		FilePanelRequest open;
		open.id = 1;
		open.title = "Add files";
		open.multipleSelection = true;
		open.hideWhenDone = false;
		open.startDirectory = root;
		open.defaultLabel = "Add";
		fDisplay.ShowFilePanel(open, answer);
		ASSERT_TRUE(QtDisplay::WaitFor([&] { return fRobot.PanelTitles().size() == 1; }));

		EXPECT_TRUE(fRobot.AnswerOpenPanel("Add files", {root + "/sub/link.wav"}));
		ASSERT_TRUE(QtDisplay::WaitFor([&] { return count() == 1; }));
		// Kept open after a choice; the second answer picks two files.
		EXPECT_EQ(fRobot.PanelTitles(), std::vector<std::string>{"Add files"});
		EXPECT_TRUE(fRobot.AnswerOpenPanel("Add files", {root + "/a.wav", root + "/b.wav"}));
		ASSERT_TRUE(QtDisplay::WaitFor([&] { return count() == 2; }));
		EXPECT_TRUE(fRobot.CancelPanel("Add files"));
		ASSERT_TRUE(QtDisplay::WaitFor([&] { return count() == 3; }));
		EXPECT_TRUE(fRobot.PanelTitles().empty());

		FilePanelRequest save;
		save.id = 2;
		save.mode = PanelMode::Save;
		save.title = "Save list";
		save.saveName = "list.txt";
		save.startDirectory = root;
		fDisplay.ShowFilePanel(save, answer);
		ASSERT_TRUE(QtDisplay::WaitFor([&] { return fRobot.PanelTitles().size() == 1; }));
		EXPECT_TRUE(fRobot.AnswerSavePanel("Save list", root + "/sub", "new list.txt"));
		ASSERT_TRUE(QtDisplay::WaitFor([&] { return count() == 4; }));
		EXPECT_TRUE(fRobot.PanelTitles().empty());

		FilePanelRequest folder;
		folder.id = 3;
		folder.title = "Destination";
		folder.nodeFlavors = B_DIRECTORY_NODE;
		folder.startDirectory = root;
		fDisplay.ShowFilePanel(folder, answer);
		ASSERT_TRUE(QtDisplay::WaitFor([&] { return fRobot.PanelTitles().size() == 1; }));
		fDisplay.HideFilePanel(3);
		ASSERT_TRUE(QtDisplay::WaitFor([&] { return fRobot.PanelTitles().empty(); }));
		fDisplay.ShowFilePanel(folder, answer);
		ASSERT_TRUE(QtDisplay::WaitFor([&] { return fRobot.PanelTitles().size() == 1; }));
		EXPECT_TRUE(fRobot.AnswerOpenPanel("Destination", {root + "/sub"}));
		ASSERT_TRUE(QtDisplay::WaitFor([&] { return count() == 5; }));

		std::lock_guard guard(lock);
		EXPECT_EQ(results[0].paths, std::vector<std::string>{root + "/sub/link.wav"});
		EXPECT_FALSE(results[0].cancelled);
		EXPECT_EQ(results[1].paths, (std::vector<std::string>{root + "/a.wav", root + "/b.wav"}));
		EXPECT_TRUE(results[2].cancelled);
		EXPECT_EQ(results[3].directory, root + "/sub");
		EXPECT_EQ(results[3].name, "new list.txt");
		EXPECT_EQ(results[4].paths, std::vector<std::string>{root + "/sub"});
	});
}

// ---- metrics ---------------------------------------------------------------

TEST_F(QtDisplayTest, PreferredSizesComeFromTheWidgetsOnAnyThread)
{
	Serve(fDisplay, [&] {
		SizeQuery shortButton;
		shortButton.kind = ViewKind::Button;
		shortButton.label = "OK";
		SizeQuery longButton = shortButton;
		longButton.label = "Encode every file in the list now";
		PreferredSize small = fDisplay.GetPreferredSize(shortButton);
		PreferredSize large = fDisplay.GetPreferredSize(longButton);
		EXPECT_GT(large.width, small.width);
		EXPECT_EQ(large.height, small.height);

		// The answer is the widget's size hint less one, as Be counts.
		QSize hint;
		QSize lineHint;
		ASSERT_TRUE(fDisplay.Invoke([&] {
			QPushButton button(QString::fromStdString(longButton.label));
			hint = button.sizeHint();
			lineHint = QLineEdit().sizeHint();
		}));
		EXPECT_EQ(large.width, float(hint.width() - 1));
		EXPECT_EQ(large.height, float(hint.height() - 1));

		SizeQuery field;
		field.kind = ViewKind::TextControl;
		field.label = "Name:";
		field.frame = BRect(0, 0, 199, 10);
		PreferredSize fieldSize = fDisplay.GetPreferredSize(field);
		EXPECT_EQ(fieldSize.width, 199);
		EXPECT_GE(fieldSize.height, float(lineHint.height() - 1));

		// Many threads at once get the same answers as one.
		std::vector<std::thread> threads;
		std::atomic<int> mismatches{0};
		float width = fDisplay.StringWidth("Tamsel Gogo");
		EXPECT_GT(width, fDisplay.StringWidth("Tamsel"));
		for (int t = 0; t < 4; t++) {
			threads.emplace_back([&] {
				for (int i = 0; i < 50; i++) {
					if (fDisplay.StringWidth("Tamsel Gogo") != width)
						mismatches++;
					PreferredSize again = fDisplay.GetPreferredSize(longButton);
					if (again.width != large.width || again.height != large.height)
						mismatches++;
				}
			});
		}
		for (std::thread& thread : threads)
			thread.join();
		EXPECT_EQ(mismatches.load(), 0);
		EXPECT_GT(fDisplay.TabHeight(), 10);
	});
}

TEST_F(QtDisplayTest, BatchesFromTwoThreadsKeepEachThreadsOrder)
{
	Serve(fDisplay, [&] {
		ViewState left = MakeView(50, 0, ViewKind::StringView, "left", BRect(0, 0, 99, 15));
		ViewState right = MakeView(51, 0, ViewKind::StringView, "right", BRect(0, 20, 99, 35));
		Send(Ops(1, {WindowCreate{MakeWindow(1, "Two", BRect(0, 0, 199, 99)), BMessenger()},
			ViewCreate{left}, ViewCreate{right}}));
		auto writer = [&](ViewState state) {
			for (int i = 0; i <= 500; i++) {
				state.text = std::to_string(i);
				fDisplay.Apply(Ops(1, {ViewUpdate{state}}));
			}
		};
		std::thread a(writer, left);
		std::thread b(writer, right);
		a.join();
		b.join();
		ASSERT_TRUE(fDisplay.Invoke([] {}));
		EXPECT_EQ(fRobot.ViewText("Two", "left"), "500");
		EXPECT_EQ(fRobot.ViewText("Two", "right"), "500");
	});
}

} // namespace
