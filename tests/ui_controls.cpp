// Controls driven by the robot as a user would: buttons and their targets,
// check boxes, text fields with their modification messages and byte
// limits, string views, and a window built from every kind of control.
#include "ui_harness.h"

#include <Button.h>
#include <CheckBox.h>
#include <ListView.h>
#include <Menu.h>
#include <MenuBar.h>
#include <MenuField.h>
#include <MenuItem.h>
#include <ScrollView.h>
#include <StringView.h>
#include <TabView.h>
#include <TextControl.h>

using namespace ui_test;

namespace {

constexpr uint32 kPressed = 'PRSS';
constexpr uint32 kToggled = 'TOGL';
constexpr uint32 kModified = 'MODF';
constexpr uint32 kInvoked = 'INVK';

std::optional<BPrivate::ViewState> Shown(const char* window, const char* view)
{
	return Robot().FindView(window, view);
}

} // namespace

// ---- buttons and targets -------------------------------------------------------

class Buttons : public UiTest {};

TEST_F(Buttons, AClickReachesTheWindowInItsOwnThreadWhenNoTargetIsSet)
{
	auto* window = new RecordingWindow("Clicks");
	auto* button = new BButton(BRect(10, 10, 90, 34), "Press", "Press", new BMessage(kPressed));
	window->back->AddChild(button);
	ASSERT_TRUE(window->ShowAndWait());

	ASSERT_TRUE(Robot().Click("Clicks", "Press"));
	ASSERT_TRUE(window->inbox.WaitForCount(kPressed, 1));
	Received click = *window->inbox.Last(kPressed);
	EXPECT_EQ(click.thread, window->Thread());
	void* source = nullptr;
	ASSERT_EQ(click.message.FindPointer("source", &source), B_OK);
	EXPECT_EQ(source, static_cast<BControl*>(button));
	int64 when = 0;
	EXPECT_EQ(click.message.FindInt64("when", &when), B_OK);
	EXPECT_GT(when, 0);
	int32 value = -1;
	EXPECT_EQ(click.message.FindInt32("be:value", &value), B_OK);

	// Every click is one message, with one value per field.
	ASSERT_TRUE(Robot().Click("Clicks", "Press"));
	ASSERT_TRUE(window->inbox.WaitForCount(kPressed, 2));
	int32 count = 0;
	type_code type = 0;
	ASSERT_EQ(window->inbox.Last(kPressed)->message.GetInfo("when", &type, &count), B_OK);
	EXPECT_EQ(count, 1);
}

TEST_F(Buttons, AnExplicitTargetGetsTheMessageInItsOwnThread)
{
	LooperPtr target(new RecordingLooper);
	auto* window = new RecordingWindow("Targets");
	auto* byHandler = new BButton(BRect(0, 0, 80, 24), "ByHandler", "A", new BMessage(kPressed));
	auto* byMessenger = new BButton(BRect(0, 30, 80, 54), "ByMessenger", "B", new BMessage(kInvoked));
	EXPECT_EQ(byHandler->SetTarget(target.get()), B_OK);
	EXPECT_EQ(byHandler->Target(), target.get());
	EXPECT_EQ(byMessenger->SetTarget(BMessenger(target.get())), B_OK);
	window->back->AddChild(byHandler);
	window->back->AddChild(byMessenger);
	ASSERT_TRUE(window->ShowAndWait());

	ASSERT_TRUE(Robot().Click("Targets", "ByHandler"));
	ASSERT_TRUE(Robot().Click("Targets", "ByMessenger"));
	ASSERT_TRUE(target->inbox.WaitForCount(kPressed, 1));
	ASSERT_TRUE(target->inbox.WaitForCount(kInvoked, 1));
	EXPECT_EQ(target->inbox.Last(kPressed)->thread, target->Thread());
	EXPECT_EQ(target->inbox.Last(kInvoked)->thread, target->Thread());
	ASSERT_TRUE(window->Settle());
	EXPECT_EQ(window->inbox.Count(kPressed) + window->inbox.Count(kInvoked), 0u);
}

TEST_F(Buttons, DisabledOrHiddenButtonsCannotBeClickedAndCodeChangesShow)
{
	auto* window = new RecordingWindow("States");
	auto* button = new BButton(BRect(0, 0, 80, 24), "Button", "Go", new BMessage(kPressed));
	window->back->AddChild(button);
	ASSERT_TRUE(window->ShowAndWait());

	Locked(window, [&] {
		button->SetEnabled(false);
		button->SetLabel("Wait");
		button->MakeDefault(true);
	});
	auto state = Shown("States", "Button");
	ASSERT_TRUE(state);
	EXPECT_FALSE(state->enabled);
	EXPECT_EQ(state->label, "Wait");
	EXPECT_TRUE(state->isDefault);
	EXPECT_EQ(state->kind, BPrivate::ViewKind::Button);
	EXPECT_FALSE(Robot().Click("States", "Button"));

	Locked(window, [&] {
		button->SetEnabled(true);
		button->Hide();
	});
	EXPECT_FALSE(Robot().Click("States", "Button"));
	Locked(window, [&] { button->Show(); });
	EXPECT_TRUE(Robot().Click("States", "Button"));
	EXPECT_TRUE(window->inbox.WaitForCount(kPressed, 1));
}

TEST_F(Buttons, AClickThatArrivesAfterTheButtonWasDisabledDoesNothing)
{
	auto* window = new RecordingWindow("Late");
	auto* button = new BButton(BRect(0, 0, 80, 24), "Button", "Go", new BMessage(kPressed));
	window->back->AddChild(button);
	ASSERT_TRUE(window->ShowAndWait());

	window->Lock();
	ASSERT_TRUE(Robot().Click("Late", "Button")); // queued behind the lock
	button->SetEnabled(false);
	window->Unlock();
	ASSERT_TRUE(window->Settle());
	EXPECT_EQ(window->inbox.Count(kPressed), 0u);
}

// ---- check boxes ---------------------------------------------------------------------

class CheckBoxes : public UiTest {};

TEST_F(CheckBoxes, TogglingFlipsTheValueAndInvokesWithIt)
{
	auto* window = new RecordingWindow("Boxes");
	auto* box = new BCheckBox(BRect(0, 0, 150, 18), "Box", "Delete wave file", new BMessage(kToggled));
	window->back->AddChild(box);
	ASSERT_TRUE(window->ShowAndWait());

	ASSERT_TRUE(Robot().Toggle("Boxes", "Box"));
	ASSERT_TRUE(window->inbox.WaitForCount(kToggled, 1));
	int32 value = -1;
	EXPECT_EQ(window->inbox.Last(kToggled)->message.FindInt32("be:value", &value), B_OK);
	EXPECT_EQ(value, B_CONTROL_ON);
	EXPECT_EQ(Locked(window, [&] { return box->Value(); }), B_CONTROL_ON);

	ASSERT_TRUE(Robot().Toggle("Boxes", "Box"));
	ASSERT_TRUE(window->inbox.WaitForCount(kToggled, 2));
	EXPECT_EQ(window->inbox.Last(kToggled)->message.FindInt32("be:value", &value), B_OK);
	EXPECT_EQ(value, B_CONTROL_OFF);
	EXPECT_EQ(Locked(window, [&] { return box->Value(); }), B_CONTROL_OFF);
	// Only a check box toggles.
	EXPECT_FALSE(Robot().Toggle("Boxes", "BackView"));
}

TEST_F(CheckBoxes, CodeSetsTheValueOnTheScreenWithoutInvoking)
{
	auto* window = new RecordingWindow("Quiet");
	auto* box = new BCheckBox(BRect(0, 0, 150, 18), "Box", "Flag", new BMessage(kToggled));
	auto* silent = new BCheckBox(BRect(0, 20, 150, 38), "Silent", "No message", nullptr);
	window->back->AddChild(box);
	window->back->AddChild(silent);
	ASSERT_TRUE(window->ShowAndWait());

	Locked(window, [&] { box->SetValue(B_CONTROL_ON); });
	EXPECT_EQ(Shown("Quiet", "Box")->value, B_CONTROL_ON);
	// A box without a message toggles all the same.
	ASSERT_TRUE(Robot().Toggle("Quiet", "Silent"));
	ASSERT_TRUE(window->Settle());
	EXPECT_EQ(Locked(window, [&] { return silent->Value(); }), B_CONTROL_ON);
	EXPECT_EQ(window->inbox.Count(kToggled), 0u);
	// The robot flips what the screen shows, so the box goes off again.
	ASSERT_TRUE(Robot().Toggle("Quiet", "Box"));
	ASSERT_TRUE(window->inbox.WaitForCount(kToggled, 1));
	EXPECT_EQ(Locked(window, [&] { return box->Value(); }), B_CONTROL_OFF);
}

// ---- text fields ------------------------------------------------------------------------

class TextFields : public UiTest {
protected:
	// A field whose modification messages are recorded together with the
	// text the field held when the window handled them.
	BTextControl* Build(const char* title, const char* initial = "")
	{
		window = new RecordingWindow(title);
		field = new BTextControl(BRect(0, 0, 299, 19), "Field", "Location:", initial, nullptr);
		field->SetModificationMessage(new BMessage(kModified));
		window->back->AddChild(field);
		window->onMessage = [this](BMessage* message) {
			if (message->what == kModified)
				message->AddString("_text", field->Text());
		};
		EXPECT_TRUE(window->ShowAndWait());
		return field;
	}
	std::vector<std::string> SeenTexts() const
	{
		std::vector<std::string> texts;
		for (const Received& received : window->inbox.All(kModified)) {
			std::string text;
			received.message.FindString("_text", &text);
			texts.push_back(text);
		}
		return texts;
	}
	RecordingWindow* window = nullptr;
	BTextControl* field = nullptr;
};

TEST_F(TextFields, TypingSendsOneModificationPerCharacter)
{
	Build("Typing");
	// Three characters, four bytes.
	ASSERT_TRUE(Robot().Type("Typing", "Field", "ab\xC3\xA9"));
	ASSERT_TRUE(window->inbox.WaitForCount(kModified, 3));
	ASSERT_TRUE(window->Settle());
	EXPECT_EQ(window->inbox.Count(kModified), 3u);
	// The messages queue behind the keys, so each finds the whole text.
	EXPECT_EQ(SeenTexts().back(), "ab\xC3\xA9");
	EXPECT_EQ(window->inbox.Last(kModified)->thread, window->Thread());
	EXPECT_EQ(Shown("Typing", "Field")->text, "ab\xC3\xA9");
}

TEST_F(TextFields, SetTextNotifiesOnlyWhenTheTextChanges)
{
	Build("Setting", "start");
	Locked(window, [&] { field->SetText("/usr/bin/gogo"); });
	EXPECT_EQ(Shown("Setting", "Field")->text, "/usr/bin/gogo");
	Locked(window, [&] { field->SetText("/usr/bin/gogo"); });
	// The same text typed over by the user: no change either.
	ASSERT_TRUE(Robot().SetText("Setting", "Field", "/usr/bin/gogo"));
	ASSERT_TRUE(window->Settle());
	EXPECT_EQ(SeenTexts(), (std::vector<std::string>{"/usr/bin/gogo"}));

	ASSERT_TRUE(Robot().SetText("Setting", "Field", "/opt/gogo"));
	ASSERT_TRUE(window->inbox.WaitForCount(kModified, 2));
	EXPECT_EQ(SeenTexts().back(), "/opt/gogo");
	EXPECT_STREQ(Locked(window, [&] { return std::string(field->Text()); }).c_str(), "/opt/gogo");
	EXPECT_STREQ(field->TextView()->Text(), field->Text());
}

TEST_F(TextFields, TheByteLimitCutsTextWithoutSplittingCharacters)
{
	Build("Limits");
	Locked(window, [&] {
		field->TextView()->SetMaxBytes(4);
		// 'a', then two two-byte characters: the second does not fit.
		field->SetText("a\xC3\xA9\xC3\xA8");
	});
	EXPECT_STREQ(field->Text(), "a\xC3\xA9");
	EXPECT_EQ(Shown("Limits", "Field")->text, "a\xC3\xA9");
	EXPECT_EQ(Shown("Limits", "Field")->maxBytes, 4);

	// Typing stops at the limit like a real field: the last key is refused.
	ASSERT_TRUE(Robot().Type("Limits", "Field", "z!"));
	ASSERT_TRUE(window->Settle());
	EXPECT_STREQ(Locked(window, [&] { return std::string(field->Text()); }).c_str(), "a\xC3\xA9z");
	EXPECT_EQ(SeenTexts(), (std::vector<std::string>{"a\xC3\xA9", "a\xC3\xA9z"}));

	// A lower limit cuts the text there and then.
	Locked(window, [&] { field->TextView()->SetMaxBytes(2); });
	EXPECT_STREQ(field->Text(), "a");
	ASSERT_TRUE(window->inbox.WaitForCount(kModified, 3));
	EXPECT_EQ(SeenTexts().back(), "a");
	EXPECT_EQ(Shown("Limits", "Field")->text, "a");
}

TEST_F(TextFields, TheEntryFollowsTheDividerAndCanBeSizedOnItsOwn)
{
	Build("Entry");
	const BRect bounds = field->Bounds();
	Locked(window, [&] { field->SetDivider(115); });
	EXPECT_EQ(field->TextView()->Frame(), BRect(115, 0, bounds.right, bounds.bottom));
	EXPECT_EQ(Shown("Entry", "Field")->divider, 115);

	Locked(window, [&] { field->TextView()->ResizeTo(96, bounds.Height()); });
	auto state = Shown("Entry", "Field");
	EXPECT_EQ(state->textViewFrame, BRect(115, 0, 211, bounds.bottom));
	EXPECT_EQ(state->frame, field->Frame());

	// Widening the control widens the entry by as much, like a child that
	// follows both sides.
	Locked(window, [&] { field->ResizeBy(50, 0); });
	EXPECT_EQ(field->TextView()->Frame(), BRect(115, 0, 261, bounds.bottom));
	EXPECT_EQ(Shown("Entry", "Field")->textViewFrame, field->TextView()->Frame());
	field->ResizeToPreferred();
	EXPECT_EQ(field->Frame().Width(), bounds.Width() + 50);
}

TEST_F(TextFields, AFieldWithoutModificationMessageChangesQuietlyAndADisabledOneRefuses)
{
	auto* window = new RecordingWindow("Plain");
	auto* field = new BTextControl(BRect(0, 0, 199, 19), "Field", nullptr, "", new BMessage(kInvoked));
	window->back->AddChild(field);
	ASSERT_TRUE(window->ShowAndWait());
	EXPECT_EQ(field->Divider(), 0);

	ASSERT_TRUE(Robot().Type("Plain", "Field", "xyz"));
	ASSERT_TRUE(window->Settle());
	EXPECT_STREQ(Locked(window, [&] { return std::string(field->Text()); }).c_str(), "xyz");
	EXPECT_EQ(window->inbox.Count(kInvoked), 0u);

	Locked(window, [&] { field->SetEnabled(false); });
	EXPECT_FALSE(Robot().SetText("Plain", "Field", "other"));
	EXPECT_FALSE(Robot().Type("Plain", "Field", "q"));
}

// ---- string views ---------------------------------------------------------------------------

class StringViews : public UiTest {};

TEST_F(StringViews, TextChangesShowAndThePreferredSizeFollowsTheText)
{
	auto* window = new RecordingWindow("Strings");
	auto* line = new BStringView(BRect(5, 5, 335, 20), "FileNumber", "#");
	window->back->AddChild(line);
	ASSERT_TRUE(window->ShowAndWait());

	Locked(window, [&] {
		line->SetText("File 3 of 12");
		line->ResizeToPreferred();
	});
	auto state = Shown("Strings", "FileNumber");
	EXPECT_EQ(state->text, "File 3 of 12");
	EXPECT_STREQ(line->Text(), "File 3 of 12");
	EXPECT_EQ(state->frame.Width(), line->StringWidth("File 3 of 12"));
	EXPECT_EQ(state->frame.LeftTop(), BPoint(5, 5));
}

// ---- a whole window ---------------------------------------------------------------------------

namespace {

constexpr uint32 kMenuNew = 'NWLS';
constexpr uint32 kBitrate = 'BITR';
constexpr uint32 kSelected = 'SELC';
constexpr uint32 kEncode = 'ENCD';

// Built from kit classes only, laid out like the program's windows.
class ExampleWindow : public RecordingWindow {
public:
	ExampleWindow() : RecordingWindow("Example", BRect(50, 50, 549, 449))
	{
		auto* bar = new BMenuBar(BRect(0, 0, 499, 19), "MenuBar");
		auto* listMenu = new BMenu("List");
		listMenu->AddItem(new BMenuItem("New", new BMessage(kMenuNew)));
		listMenu->AddSeparatorItem();
		listMenu->AddItem(new BMenuItem("Exit", new BMessage(B_QUIT_REQUESTED)));
		bar->AddItem(listMenu);
		back->AddChild(bar);

		tabs = new BTabView(BRect(0, 25, 499, 360), "TabView");
		auto* files = new BView(BRect(0, 0, 490, 300), "Files", B_FOLLOW_ALL_SIDES, 0);
		list = new BListView(BRect(5, 5, 300, 200), "FilesList", B_MULTIPLE_SELECTION_LIST);
		list->SetSelectionMessage(new BMessage(kSelected));
		files->AddChild(new BScrollView("FilesScroll", list, B_FOLLOW_ALL_SIDES, 0, false, true));
		auto* options = new BView(BRect(0, 0, 490, 300), "Options", B_FOLLOW_ALL_SIDES, 0);
		auto* bitrates = new BMenu("Bitrate");
		bitrates->SetRadioMode(true);
		for (const char* rate : {"128 kbps", "192 kbps", "320 kbps"})
			bitrates->AddItem(new BMenuItem(rate, new BMessage(kBitrate)));
		bitrates->ItemAt(0)->SetMarked(true);
		options->AddChild(new BMenuField(BRect(0, 0, 300, 20), "BitRateField", "Bitrate:", bitrates));
		box = new BCheckBox(BRect(0, 30, 200, 48), "DeleteWave", "Delete wave file",
			new BMessage(kToggled));
		options->AddChild(box);
		field = new BTextControl(BRect(0, 60, 400, 79), "ExtraParam", "Extra parameters:", "",
			nullptr);
		field->SetModificationMessage(new BMessage(kModified));
		options->AddChild(field);
		tabs->AddTab(files);
		tabs->AddTab(options);
		back->AddChild(tabs);

		status = new BStringView(BRect(5, 370, 300, 384), "Status", "Ready");
		back->AddChild(status);
		auto* encode = new BButton(BRect(420, 370, 494, 394), "EncodeButton", "Encode!",
			new BMessage(kEncode), B_FOLLOW_RIGHT | B_FOLLOW_BOTTOM);
		encode->ResizeToPreferred();
		back->AddChild(encode);
	}
	// The list owns no rows: whoever filled it deletes them.
	~ExampleWindow() override
	{
		while (BListItem* item = list->RemoveItem(int32(0)))
			delete item;
	}
	void MessageReceived(BMessage* message) override
	{
		if (message->what == kEncode)
			status->SetText(("Encoding " + std::to_string(list->CountItems()) + " files").c_str());
		RecordingWindow::MessageReceived(message);
	}

	BTabView* tabs;
	BListView* list;
	BCheckBox* box;
	BTextControl* field;
	BStringView* status;
};

} // namespace

class WholeWindow : public UiTest {};

TEST_F(WholeWindow, EveryControlCanBeDrivenLikeAUserWould)
{
	auto* window = new ExampleWindow;
	ASSERT_TRUE(window->ShowAndWait());
	Locked(window, [&] {
		for (const char* name : {"one.wav", "two.wav", "three.wav"})
			window->list->AddItem(new BStringItem(name));
	});
	EXPECT_EQ(Robot().ListItems("Example", "FilesList"),
		(std::vector<std::string>{"one.wav", "two.wav", "three.wav"}));

	// The menu bar.
	ASSERT_TRUE(Robot().ChooseMenuItem("Example", "MenuBar", "List", "New"));
	EXPECT_TRUE(window->inbox.WaitForCount(kMenuNew, 1));
	EXPECT_FALSE(Robot().ChooseMenuItem("Example", "MenuBar", "List", "Nothing"));

	// The list: a click, then a shift-click that extends the selection.
	ASSERT_TRUE(Robot().SelectRow("Example", "FilesList", 0));
	ASSERT_TRUE(Robot().SelectRow("Example", "FilesList", 2, true));
	ASSERT_TRUE(window->inbox.WaitForCount(kSelected, 2));
	ASSERT_TRUE(window->Settle());
	EXPECT_EQ(Locked(window, [&] {
		std::vector<int32> rows;
		for (int32 i = 0; window->list->CurrentSelection(i) >= 0; i++)
			rows.push_back(window->list->CurrentSelection(i));
		return rows;
	}), (std::vector<int32>{0, 1, 2}));
	ASSERT_TRUE(Robot().SelectRow("Example", "FilesList", 1, false, true));
	ASSERT_TRUE(window->inbox.WaitForCount(kSelected, 3));
	EXPECT_EQ(Robot().ListSelection("Example", "FilesList"), (std::vector<int32>{0, 2}));

	// The options page is hidden until its tab is chosen.
	EXPECT_FALSE(Robot().Toggle("Example", "DeleteWave"));
	ASSERT_TRUE(Robot().SelectTab("Example", "TabView", 1));
	ASSERT_TRUE(Robot().WaitFor([] { return !Robot().FindView("Example", "Options")->hidden; }));
	EXPECT_EQ(Locked(window, [&] { return window->tabs->Selection(); }), 1);
	EXPECT_TRUE(Robot().FindView("Example", "Files")->hidden);
	EXPECT_FALSE(Robot().SelectRow("Example", "FilesList", 0));

	// The menu field marks what was chosen.
	EXPECT_EQ(Robot().MarkedLabel("Example", "BitRateField"), "128 kbps");
	ASSERT_TRUE(Robot().ChooseMenuItem("Example", "BitRateField", "", "320 kbps"));
	ASSERT_TRUE(window->inbox.WaitForCount(kBitrate, 1));
	EXPECT_TRUE(Robot().WaitFor(
		[] { return Robot().MarkedLabel("Example", "BitRateField") == "320 kbps"; }));

	// The check box and the text field.
	ASSERT_TRUE(Robot().Toggle("Example", "DeleteWave"));
	ASSERT_TRUE(window->inbox.WaitForCount(kToggled, 1));
	ASSERT_TRUE(Robot().Type("Example", "ExtraParam", "-q 2"));
	ASSERT_TRUE(window->inbox.WaitForCount(kModified, 4));
	EXPECT_STREQ(Locked(window, [&] { return std::string(window->field->Text()); }).c_str(), "-q 2");

	// The button, and what its handler changed.
	ASSERT_TRUE(Robot().Click("Example", "EncodeButton"));
	ASSERT_TRUE(window->inbox.WaitForCount(kEncode, 1));
	EXPECT_TRUE(Robot().WaitFor(
		[] { return Robot().FindView("Example", "Status")->text == "Encoding 3 files"; }));

	// The menu item that quits: the window goes.
	ASSERT_TRUE(Robot().ChooseMenuItem("Example", "MenuBar", "List", "Exit"));
	EXPECT_TRUE(Robot().WaitFor([] { return !Robot().FindWindow("Example").has_value(); }));
}
