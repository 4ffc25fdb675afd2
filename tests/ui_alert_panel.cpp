// Alerts that block the thread that shows them (and only that one), and the
// file panels' answers as messages to their targets.
#include "ui_harness.h"

#include <Alert.h>
#include <AppDefs.h>
#include <Button.h>
#include <Entry.h>
#include <FilePanel.h>
#include <StringView.h>

#include <future>

#include <unistd.h>

using namespace ui_test;
using BPrivate::AlertIcon;

namespace {

constexpr uint32 kAsk = 'ASK_';
constexpr uint32 kAnswered = 'ANSD';
constexpr uint32 kOther = 'OTHR';
constexpr uint32 kOpened = 'OLPM';
constexpr uint32 kSaved = 'SLPM';

// A window whose button shows an alert from the window's own thread, like
// the program's error cases; the answer is posted back to the window.
class AskingWindow : public RecordingWindow {
public:
	AskingWindow() : RecordingWindow("Asking")
	{
		status = new BStringView(BRect(0, 40, 200, 54), "Status", "idle");
		back->AddChild(status);
		back->AddChild(new BButton(BRect(0, 0, 80, 24), "Ask", "Ask", new BMessage(kAsk)));
	}
	void MessageReceived(BMessage* message) override
	{
		if (message->what == kAsk) {
			status->SetText("asking");
			asks++;
			int32 button = (new BAlert("SaveOpenError", "Could not open the file.", "OK", "Retry",
				nullptr, B_WIDTH_AS_USUAL, B_STOP_ALERT))->Go();
			BMessage answered(kAnswered);
			answered.AddInt32("button", button);
			PostMessage(&answered);
		}
		RecordingWindow::MessageReceived(message);
	}
	BStringView* status;
	std::atomic<int32> asks{0};
};

bool AlertShown(const std::string& title)
{
	for (const auto& alert : Robot().Alerts()) {
		if (alert.title == title)
			return true;
	}
	return false;
}

} // namespace

// ---- alerts ----------------------------------------------------------------------

class Alerts : public UiTest {};

TEST_F(Alerts, GoBlocksOnlyItsOwnWindowUntilAButtonIsPressed)
{
	auto* asking = new AskingWindow;
	auto* other = new RecordingWindow("Other");
	other->back->AddChild(new BButton(BRect(0, 0, 80, 24), "Button", "Other", new BMessage(kOther)));
	ASSERT_TRUE(asking->ShowAndWait());
	ASSERT_TRUE(other->ShowAndWait());

	ASSERT_TRUE(Robot().Click("Asking", "Ask"));
	ASSERT_TRUE(Robot().WaitFor([] { return AlertShown("SaveOpenError"); }));
	auto alert = Robot().Alerts().front();
	EXPECT_EQ(alert.text, "Could not open the file.");
	EXPECT_EQ(alert.buttons, (std::vector<std::string>{"OK", "Retry"}));
	EXPECT_EQ(alert.icon, AlertIcon::Stop);
	// What the window changed before Go is on the screen while it waits.
	EXPECT_EQ(Robot().FindView("Asking", "Status")->text, "asking");

	// The other window goes on; the asking one queues its input.
	ASSERT_TRUE(Robot().Click("Other", "Button"));
	EXPECT_TRUE(other->inbox.WaitForCount(kOther, 1));
	ASSERT_TRUE(Robot().Click("Asking", "Ask"));
	EXPECT_FALSE(asking->inbox.WaitForCount(kAsk, 1, 100ms));
	EXPECT_EQ(asking->asks.load(), 1);

	ASSERT_TRUE(Robot().AnswerAlert(1));
	ASSERT_TRUE(asking->inbox.WaitForCount(kAnswered, 1));
	int32 button = -1;
	EXPECT_EQ(asking->inbox.Last(kAnswered)->message.FindInt32("button", &button), B_OK);
	EXPECT_EQ(button, 1);

	// The queued click shows the next alert.
	ASSERT_TRUE(Robot().WaitFor([] { return AlertShown("SaveOpenError"); }));
	EXPECT_FALSE(Robot().AnswerAlert(2)); // there is no third button
	ASSERT_TRUE(Robot().AnswerAlert(0, "SaveOpenError"));
	ASSERT_TRUE(asking->inbox.WaitForCount(kAnswered, 2));
	EXPECT_EQ(asking->inbox.Last(kAnswered)->message.FindInt32("button", &button), B_OK);
	EXPECT_EQ(button, 0);
	EXPECT_TRUE(Robot().Alerts().empty());
}

TEST_F(Alerts, AlertsFromPlainThreadsAreAnsweredByTitle)
{
	auto ask = [](const char* title, alert_type type) {
		return std::async(std::launch::async, [title, type] {
			return (new BAlert(title, "text", "OK", "Cancel", "More", B_WIDTH_AS_USUAL, type))->Go();
		});
	};
	auto info = ask("MimeInstalled", B_INFO_ALERT);
	auto warning = ask("Careful", B_WARNING_ALERT);
	ASSERT_TRUE(Robot().WaitFor([] { return Robot().Alerts().size() == 2; }));
	for (const auto& alert : Robot().Alerts()) {
		EXPECT_EQ(alert.buttons.size(), 3u);
		EXPECT_EQ(alert.icon, alert.title == "Careful" ? AlertIcon::Warning : AlertIcon::Info);
	}

	ASSERT_TRUE(Robot().AnswerAlert(2, "Careful"));
	EXPECT_EQ(warning.get(), 2);
	EXPECT_EQ(info.wait_for(0ms), std::future_status::timeout);
	ASSERT_TRUE(Robot().AnswerAlert(0));
	EXPECT_EQ(info.get(), 0);
	EXPECT_FALSE(Robot().AnswerAlert(0));
}

// ---- file panels ---------------------------------------------------------------------

class Panels : public UiTest {
protected:
	static std::optional<BPrivate::FilePanelRequest> Shown(const std::string& title)
	{
		for (const auto& panel : Robot().Panels()) {
			if (panel.request.title == title)
				return panel.request;
		}
		return std::nullopt;
	}
	testing_support::TempDir dir;
};

TEST_F(Panels, AnOpenPanelSendsItsMessageWithRefsOfTheChosenEntries)
{
	const std::string file = dir / "list.tsq";
	const std::string link = dir / "alias.tsq";
	ASSERT_TRUE(testing_support::WriteFile(file, "list"));
	ASSERT_EQ(symlink(file.c_str(), link.c_str()), 0);

	LooperPtr target(new RecordingLooper);
	BMessenger messenger(target.get());
	BMessage message(kOpened);
	message.AddInt32("extra", 7);
	BFilePanel panel(B_OPEN_PANEL, &messenger, nullptr, B_FILE_NODE | B_SYMLINK_NODE, true,
		&message, nullptr, true);
	panel.Window()->SetTitle("Open list");
	panel.SetButtonLabel(B_DEFAULT_BUTTON, "Open");
	panel.SetButtonLabel(B_CANCEL_BUTTON, "Cancel");
	EXPECT_FALSE(panel.IsShowing());
	panel.Show();
	EXPECT_TRUE(panel.IsShowing());

	auto request = Shown("Open list");
	ASSERT_TRUE(request);
	EXPECT_EQ(request->mode, BPrivate::PanelMode::Open);
	EXPECT_EQ(request->nodeFlavors, uint32(B_FILE_NODE | B_SYMLINK_NODE));
	EXPECT_TRUE(request->multipleSelection);
	EXPECT_TRUE(request->modal);
	EXPECT_EQ(request->defaultLabel, "Open");
	EXPECT_EQ(request->cancelLabel, "Cancel");

	ASSERT_TRUE(Robot().AnswerOpenPanel("Open list", {file, link}));
	ASSERT_TRUE(target->inbox.WaitForCount(kOpened, 1));
	BMessage received = target->inbox.Last(kOpened)->message;
	int32 extra = 0;
	EXPECT_EQ(received.FindInt32("extra", &extra), B_OK);
	EXPECT_EQ(extra, 7);
	entry_ref first;
	entry_ref second;
	ASSERT_EQ(received.FindRef("refs", 0, &first), B_OK);
	ASSERT_EQ(received.FindRef("refs", 1, &second), B_OK);
	EXPECT_EQ(first.Path(), file);
	// The link itself, not where it points.
	EXPECT_EQ(second.name, "alias.tsq");
	// Done: the panel hides.
	EXPECT_FALSE(Shown("Open list"));
	EXPECT_FALSE(panel.IsShowing());
}

TEST_F(Panels, WithoutAMessageOrTargetTheApplicationGetsTheDefaultMessages)
{
	const std::string file = dir / "song.wav";
	ASSERT_TRUE(testing_support::WriteFile(file, "RIFF"));
	BFilePanel open(B_OPEN_PANEL);
	open.Window()->SetTitle("Add files");
	BFilePanel save(B_SAVE_PANEL);
	save.Window()->SetTitle("Save list");
	EXPECT_EQ(save.PanelMode(), B_SAVE_PANEL);
	open.Show();
	save.Show();

	ASSERT_TRUE(Robot().AnswerOpenPanel("Add files", {file}));
	ASSERT_TRUE(app.App().inbox.WaitForCount(B_REFS_RECEIVED, 1));
	entry_ref ref;
	ASSERT_EQ(app.App().inbox.Last(B_REFS_RECEIVED)->message.FindRef("refs", &ref), B_OK);
	EXPECT_EQ(ref.Path(), file);
	EXPECT_EQ(app.App().inbox.Last(B_REFS_RECEIVED)->thread, app.App().Thread());

	// Only an open panel answers with paths.
	EXPECT_FALSE(Robot().AnswerOpenPanel("Save list", {file}));
	ASSERT_TRUE(Robot().AnswerSavePanel("Save list", dir.Path(), "my.tsq"));
	ASSERT_TRUE(app.App().inbox.WaitForCount(B_SAVE_REQUESTED, 1));
	BMessage saved = app.App().inbox.Last(B_SAVE_REQUESTED)->message;
	entry_ref directory;
	ASSERT_EQ(saved.FindRef("directory", &directory), B_OK);
	EXPECT_EQ(directory.Path(), dir.Path());
	std::string name;
	ASSERT_EQ(saved.FindString("name", &name), B_OK);
	EXPECT_EQ(name, "my.tsq");
}

TEST_F(Panels, APanelThatStaysOpenAnswersAgainAndCancelSendsNothing)
{
	LooperPtr target(new RecordingLooper);
	BMessenger messenger(target.get());
	BMessage message(kSaved);
	BFilePanel panel(B_SAVE_PANEL, &messenger, nullptr, 0, false, &message);
	panel.Window()->SetTitle("Save list");
	panel.SetHideWhenDone(false);
	EXPECT_FALSE(panel.HidesWhenDone());
	panel.SetSaveText("untitled.tsq");
	panel.Show();
	EXPECT_EQ(Shown("Save list")->saveName, "untitled.tsq");

	ASSERT_TRUE(Robot().AnswerSavePanel("Save list", dir.Path(), "first.tsq"));
	ASSERT_TRUE(Robot().AnswerSavePanel("Save list", dir.Path(), "second.tsq"));
	ASSERT_TRUE(target->inbox.WaitForCount(kSaved, 2));
	std::vector<std::string> names;
	for (const Received& received : target->inbox.All(kSaved)) {
		std::string name;
		received.message.FindString("name", &name);
		names.push_back(name);
	}
	EXPECT_EQ(names, (std::vector<std::string>{"first.tsq", "second.tsq"}));
	EXPECT_TRUE(panel.IsShowing());

	ASSERT_TRUE(Robot().CancelPanel("Save list"));
	ASSERT_TRUE(target->Settle());
	EXPECT_EQ(target->inbox.Count(kSaved), 2u);
	EXPECT_EQ(target->inbox.Count(B_CANCEL), 0u);
	EXPECT_FALSE(panel.IsShowing());
	EXPECT_FALSE(Shown("Save list"));
}

TEST_F(Panels, HidingOrDeletingAPanelTakesItOffTheScreen)
{
	auto panel = std::make_unique<BFilePanel>(B_OPEN_PANEL);
	panel->Window()->SetTitle("Locate Gogo");
	panel->Show();
	ASSERT_TRUE(Shown("Locate Gogo"));
	panel->Hide();
	EXPECT_FALSE(Shown("Locate Gogo"));
	EXPECT_FALSE(Robot().AnswerOpenPanel("Locate Gogo", {dir.Path()}));

	panel->Show();
	ASSERT_TRUE(Shown("Locate Gogo"));
	panel.reset();
	EXPECT_FALSE(Shown("Locate Gogo"));
}
