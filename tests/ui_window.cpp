// Windows and views as a user and the program's threads see them: showing and
// hiding, the view tree on the display, batching of changes, locking from
// other threads, resizing modes, the close box, modal windows and drops.
#include "ui_harness.h"

#include <AppDefs.h>
#include <Button.h>
#include <Entry.h>
#include <StringView.h>

#include <future>

#include <unistd.h>

using namespace ui_test;
using BPrivate::HeadlessDisplay;

namespace {

constexpr uint32 kClicked = 'CLKD';

BRect DisplayFrame(const char* window, const char* view)
{
	return Robot().ViewFrameInWindow(window, view).value_or(BRect());
}

std::string DisplayText(const char* window, const char* view)
{
	auto state = Robot().FindView(window, view);
	return state ? state->text : std::string("<missing>");
}

} // namespace

// ---- showing, hiding, quitting ---------------------------------------------

class WindowLife : public UiTest {};

TEST_F(WindowLife, HiddenUntilShownAndTheFirstShowStartsTheThread)
{
	auto* window = new RecordingWindow("Life");
	EXPECT_LT(window->Thread(), 0);
	EXPECT_TRUE(window->IsHidden());
	// The window reached the display with its first views, hidden.
	ASSERT_TRUE(Robot().WaitFor([] { return Robot().FindWindow("Life").has_value(); }));
	EXPECT_TRUE(Robot().FindWindow("Life")->hidden);

	ASSERT_TRUE(window->ShowAndWait());
	EXPECT_GE(window->Thread(), 0);
	EXPECT_FALSE(window->IsHidden());
}

TEST_F(WindowLife, ShowAndHideNestLikeACounter)
{
	auto* window = new RecordingWindow("Nesting");
	ASSERT_TRUE(window->ShowAndWait());
	window->Show();
	window->Hide();
	EXPECT_FALSE(window->IsHidden());
	EXPECT_TRUE(Robot().IsWindowShown("Nesting"));

	window->Hide();
	EXPECT_TRUE(window->IsHidden());
	EXPECT_TRUE(Robot().WaitFor([] { return !Robot().IsWindowShown("Nesting"); }));

	// Hidden twice takes two shows.
	window->Hide();
	window->Show();
	EXPECT_TRUE(window->IsHidden());
	window->Show();
	EXPECT_FALSE(window->IsHidden());
	EXPECT_TRUE(Robot().WaitFor([] { return Robot().IsWindowShown("Nesting"); }));
}

TEST_F(WindowLife, TitleAndFrameChangesReachTheDisplay)
{
	auto* window = new RecordingWindow("Before", BRect(10, 20, 209, 119));
	ASSERT_TRUE(window->ShowAndWait());
	Locked(window, [&] {
		window->SetTitle("After");
		window->MoveTo(50, 60);
	});
	ASSERT_TRUE(Robot().WaitFor([] { return Robot().FindWindow("After").has_value(); }));
	EXPECT_FALSE(Robot().FindWindow("Before").has_value());
	BRect frame = Robot().FindWindow("After")->frame;
	EXPECT_EQ(frame, BRect(50, 60, 249, 159));
	EXPECT_EQ(window->Frame(), frame);
	EXPECT_EQ(window->Bounds(), BRect(0, 0, 199, 99));
}

TEST_F(WindowLife, QuitLeavesTheApplicationAndTheDisplay)
{
	const int32 before = be_app->CountWindows();
	auto* window = new RecordingWindow("Quitting");
	EXPECT_EQ(be_app->CountWindows(), before + 1);
	ASSERT_TRUE(window->ShowAndWait());

	window->Lock();
	window->Quit();
	EXPECT_EQ(be_app->CountWindows(), before);
	EXPECT_TRUE(Robot().WaitFor([] { return !Robot().FindWindow("Quitting").has_value(); }));
}

TEST_F(WindowLife, AWindowThatNeverShowedCanQuit)
{
	auto* window = new RecordingWindow("NeverShown");
	window->Lock();
	window->Quit();
	EXPECT_TRUE(Robot().WaitFor([] { return !Robot().FindWindow("NeverShown").has_value(); }));
}

// ---- the view tree on the display ------------------------------------------

class ViewTree : public UiTest {};

TEST_F(ViewTree, AttachingSendsTheWholeSubtreeWithItsLatestState)
{
	auto* window = new RecordingWindow("Tree");
	// Built while outside any window: the views just keep their state.
	auto* group = new BView(BRect(10, 20, 209, 119), "Group", B_FOLLOW_NONE, 0);
	auto* label = new BStringView(BRect(5, 6, 100, 20), "Label", "first");
	group->AddChild(label);
	label->SetText("second");
	label->MoveTo(7, 8);
	EXPECT_FALSE(Robot().FindView("Tree", "Label").has_value());

	Locked(window, [&] { window->back->AddChild(group); });
	ASSERT_TRUE(Robot().WaitFor([] { return Robot().FindView("Tree", "Label").has_value(); }));
	auto groupState = Robot().FindView("Tree", "Group");
	auto labelState = Robot().FindView("Tree", "Label");
	auto backState = Robot().FindView("Tree", "BackView");
	ASSERT_TRUE(groupState && labelState && backState);
	EXPECT_EQ(backState->parent, 0);
	EXPECT_EQ(groupState->parent, backState->id);
	EXPECT_EQ(labelState->parent, groupState->id);
	EXPECT_EQ(labelState->kind, BPrivate::ViewKind::StringView);
	EXPECT_EQ(labelState->text, "second");
	EXPECT_EQ(labelState->frame, label->Frame());
	// Offsets of the parents add up to the frame in the window.
	BRect inWindow = label->Frame().OffsetByCopy(group->Frame().left, group->Frame().top);
	EXPECT_EQ(DisplayFrame("Tree", "Label"), inWindow);
	EXPECT_EQ(window->FindView("Label"), label);
	EXPECT_EQ(window->ViewForId(label->Id()), label);
}

TEST_F(ViewTree, RemovingTakesTheSubtreeOffTheDisplayAndReaddingBringsItBack)
{
	auto* window = new RecordingWindow("Removal");
	auto* group = new BView(BRect(0, 0, 99, 99), "Group", B_FOLLOW_NONE, 0);
	group->AddChild(new BStringView(BRect(0, 0, 50, 14), "Inner", "text"));
	window->back->AddChild(group);
	ASSERT_TRUE(window->ShowAndWait());
	ASSERT_TRUE(Robot().FindView("Removal", "Inner").has_value());

	EXPECT_TRUE(Locked(window, [&] { return group->RemoveSelf(); }));
	EXPECT_EQ(group->Window(), nullptr);
	EXPECT_EQ(group->ChildAt(0)->Window(), nullptr);
	EXPECT_TRUE(Robot().WaitFor([] {
		return !Robot().FindView("Removal", "Group") && !Robot().FindView("Removal", "Inner");
	}));

	// Given back to the caller, and accepted by the window again.
	Locked(window, [&] { window->AddChild(group); });
	ASSERT_TRUE(Robot().WaitFor([] { return Robot().FindView("Removal", "Inner").has_value(); }));
	EXPECT_EQ(Robot().FindView("Removal", "Group")->parent, 0);
}

TEST_F(ViewTree, AViewThatComesAndGoesWithinOneLockNeverReachesTheDisplay)
{
	auto* window = new RecordingWindow("Transient");
	ASSERT_TRUE(window->ShowAndWait());
	const int32 batches = Robot().BatchCount("Transient");
	auto* view = new BStringView(BRect(0, 0, 50, 14), "Passing", "text");
	Locked(window, [&] {
		window->back->AddChild(view);
		view->SetText("changed");
		window->back->RemoveChild(view);
	});
	delete view;
	// Nothing was left to send.
	EXPECT_TRUE(window->Settle());
	EXPECT_EQ(Robot().BatchCount("Transient"), batches);
	EXPECT_FALSE(Robot().FindView("Transient", "Passing").has_value());
}

TEST_F(ViewTree, InputForAViewThatHasGoneIsDropped)
{
	auto* window = new RecordingWindow("Gone");
	auto* button = new BButton(BRect(10, 10, 80, 34), "Button", "Press", new BMessage(kClicked));
	window->back->AddChild(button);
	ASSERT_TRUE(window->ShowAndWait());
	const BPrivate::ViewId id = button->Id();

	Locked(window, [&] { window->back->RemoveChild(button); });
	delete button;
	// As if the display had sent a click just before the view went.
	BMessage click(BPrivate::K_INPUT_INVOKE);
	click.AddInt32("_view", id);
	ASSERT_EQ(BMessenger(window).SendMessage(&click), B_OK);
	ASSERT_TRUE(window->Settle());
	EXPECT_EQ(window->inbox.Count(kClicked), 0u);
	EXPECT_FALSE(Robot().Click("Gone", "Button"));
}

// ---- batches -----------------------------------------------------------------

class Batching : public UiTest {};

TEST_F(Batching, ManyChangesUnderOneLockTravelAsOneBatch)
{
	auto* window = new RecordingWindow("Batch");
	auto* line = new BStringView(BRect(0, 0, 200, 14), "Line", "start");
	window->back->AddChild(line);
	ASSERT_TRUE(window->ShowAndWait());
	const int32 before = Robot().BatchCount("Batch");

	Locked(window, [&] {
		for (int i = 0; i < 10000; i++)
			line->SetText(std::to_string(i).c_str());
		// Unflushed while the lock is held.
		EXPECT_EQ(DisplayText("Batch", "Line"), "start");
	});
	EXPECT_EQ(Robot().BatchCount("Batch"), before + 1);
	EXPECT_EQ(DisplayText("Batch", "Line"), "9999");
}

TEST_F(Batching, ChangesToSeveralViewsInOneLockShareABatch)
{
	auto* window = new RecordingWindow("Shared");
	auto* first = new BStringView(BRect(0, 0, 100, 14), "First", "1");
	auto* second = new BButton(BRect(0, 20, 80, 44), "Second", "2", nullptr);
	window->back->AddChild(first);
	window->back->AddChild(second);
	ASSERT_TRUE(window->ShowAndWait());
	const int32 before = Robot().BatchCount("Shared");

	Locked(window, [&] {
		first->SetText("one");
		second->SetLabel("two");
		second->SetEnabled(false);
		first->MoveTo(3, 4);
		window->SetTitle("Shared");
	});
	EXPECT_EQ(Robot().BatchCount("Shared"), before + 1);
	EXPECT_EQ(DisplayText("Shared", "First"), "one");
	EXPECT_EQ(Robot().FindView("Shared", "First")->frame.LeftTop(), BPoint(3, 4));
	EXPECT_EQ(Robot().FindView("Shared", "Second")->label, "two");
	EXPECT_FALSE(Robot().FindView("Shared", "Second")->enabled);
}

// ---- locks from other threads --------------------------------------------------

class Locking : public UiTest {
protected:
	void Build(const char* title)
	{
		window = new RecordingWindow(title);
		line = new BStringView(BRect(0, 0, 200, 14), "Line", "start");
		button = new BButton(BRect(0, 20, 80, 44), "Button", "Press", new BMessage(kClicked));
		window->back->AddChild(line);
		window->back->AddChild(button);
		ASSERT_TRUE(window->ShowAndWait());
	}
	RecordingWindow* window = nullptr;
	BStringView* line = nullptr;
	BButton* button = nullptr;
};

TEST_F(Locking, AChangeFromAThreadWithoutTheLockStillReachesTheDisplay)
{
	Build("NoLock");
	std::thread worker([this] { line->SetText("from a thread"); });
	worker.join();
	EXPECT_TRUE(Robot().WaitFor([] { return DisplayText("NoLock", "Line") == "from a thread"; }));
	// The brief lock it took is gone: the window still handles input.
	ASSERT_TRUE(Robot().Click("NoLock", "Button"));
	EXPECT_TRUE(window->inbox.WaitForCount(kClicked, 1));
}

TEST_F(Locking, AChangeByTheLockHolderShowsWhenTheOutermostLockGoes)
{
	Build("Holder");
	window->Lock();
	window->Lock();
	line->SetText("nested");
	window->Unlock();
	EXPECT_EQ(DisplayText("Holder", "Line"), "start");
	window->Unlock();
	EXPECT_EQ(DisplayText("Holder", "Line"), "nested");
}

TEST_F(Locking, InputAndChangesWaitWhileAnotherThreadHoldsTheLock)
{
	Build("Busy");
	std::promise<void> locked;
	std::promise<void> release;
	std::thread holder([&] {
		window->Lock();
		locked.set_value();
		release.get_future().wait();
		window->Unlock();
	});
	locked.get_future().wait();

	// The robot's click is queued; the window's thread cannot take its lock.
	ASSERT_TRUE(Robot().Click("Busy", "Button"));
	std::atomic<bool> changed{false};
	std::thread writer([&] {
		line->SetText("after the holder");
		changed = true;
	});
	EXPECT_FALSE(window->inbox.WaitForCount(kClicked, 1, 100ms));
	EXPECT_FALSE(changed.load());

	release.set_value();
	holder.join();
	writer.join();
	EXPECT_TRUE(window->inbox.WaitForCount(kClicked, 1));
	EXPECT_TRUE(changed.load());
	EXPECT_TRUE(Robot().WaitFor([] { return DisplayText("Busy", "Line") == "after the holder"; }));
	// Handled where the window's messages are handled.
	EXPECT_EQ(window->inbox.Last(kClicked)->thread, window->Thread());
}

// ---- resizing modes --------------------------------------------------------------

class Resizing : public UiTest {};

TEST_F(Resizing, ViewsFollowTheEdgesTheirModesName)
{
	auto* window = new RecordingWindow("Resize", BRect(0, 0, 399, 299));
	struct Case {
		const char* name;
		uint32 mode;
		BRect frame;
		BView* view = nullptr;
	};
	std::vector<Case> cases = {
		{"None", B_FOLLOW_NONE, BRect(10, 10, 59, 29)},
		{"LeftTop", B_FOLLOW_LEFT | B_FOLLOW_TOP, BRect(20, 30, 69, 49)},
		{"RightBottom", B_FOLLOW_RIGHT | B_FOLLOW_BOTTOM, BRect(300, 250, 379, 279)},
		{"All", B_FOLLOW_ALL_SIDES, BRect(5, 40, 394, 240)},
		{"LeftRightTop", B_FOLLOW_LEFT_RIGHT | B_FOLLOW_TOP, BRect(5, 5, 394, 25)},
		{"RightTopBottom", B_FOLLOW_RIGHT | B_FOLLOW_TOP_BOTTOM, BRect(350, 5, 394, 290)},
		{"Centered", B_FOLLOW_H_CENTER | B_FOLLOW_V_CENTER, BRect(150, 100, 249, 199)},
	};
	for (Case& c : cases) {
		c.view = new BView(c.frame, c.name, c.mode, 0);
		window->back->AddChild(c.view);
	}
	// Inside a view that grows, a child that follows the right edge moves.
	BView* inner = new BView(BRect(300, 150, 379, 179), "Inner", B_FOLLOW_RIGHT | B_FOLLOW_BOTTOM, 0);
	cases[3].view->AddChild(inner);
	const BRect innerFrame = inner->Frame();
	ASSERT_TRUE(window->ShowAndWait());

	const float dx = 120;
	const float dy = 60;
	Locked(window, [&] { window->ResizeBy(dx, dy); });

	auto expected = [&](uint32 mode, BRect frame) {
		uint32 rules[4] = {(mode >> 12) & 0xf, (mode >> 8) & 0xf, (mode >> 4) & 0xf, mode & 0xf};
		float* edges[4] = {&frame.left, &frame.top, &frame.right, &frame.bottom};
		for (int i = 0; i < 4; i++) {
			uint32 rule = rules[i] ? rules[i] : (i >= 2 && rules[i - 2] ? rules[i - 2] : 0);
			float delta = (i % 2 == 0) ? dx : dy;
			if (rule == _VIEW_RIGHT_ || rule == _VIEW_BOTTOM_)
				*edges[i] += delta;
			else if (rule == _VIEW_CENTER_)
				*edges[i] += delta / 2;
		}
		return frame;
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.name);
		EXPECT_EQ(c.view->Frame(), expected(c.mode, c.frame));
		EXPECT_EQ(Robot().FindView("Resize", c.name)->frame, c.view->Frame());
	}
	// Spelled out for the common cases, so the rule above is checked too.
	EXPECT_EQ(cases[0].view->Frame(), cases[0].frame);
	EXPECT_EQ(cases[2].view->Frame(), cases[2].frame.OffsetByCopy(dx, dy));
	EXPECT_EQ(cases[3].view->Frame().Width(), cases[3].frame.Width() + dx);
	EXPECT_EQ(cases[3].view->Frame().Height(), cases[3].frame.Height() + dy);
	EXPECT_EQ(cases[6].view->Frame().Width(), cases[6].frame.Width());
	EXPECT_EQ(inner->Frame(), innerFrame.OffsetByCopy(dx, dy));
	EXPECT_EQ(window->back->Frame(), BRect(0, 0, 399 + dx, 299 + dy));
	EXPECT_EQ(Robot().FindWindow("Resize")->frame, BRect(0, 0, 399 + dx, 299 + dy));

	// Shrinking back gives the frames they started with.
	Locked(window, [&] { window->ResizeTo(399, 299); });
	for (const Case& c : cases)
		EXPECT_EQ(c.view->Frame(), c.frame) << c.name;
	EXPECT_EQ(inner->Frame(), innerFrame);
}

TEST_F(Resizing, PreferredSizesKeepTheTopLeftCornerAndComeFromTheDisplayMetrics)
{
	auto* window = new RecordingWindow("Preferred");
	auto* shortButton = new BButton(BRect(10, 20, 30, 30), "Short", "OK", nullptr);
	auto* longButton = new BButton(BRect(10, 60, 30, 70), "Long",
		"A label much longer than the smallest button", nullptr);
	auto* line = new BStringView(BRect(40, 50, 41, 51), "Line", "Some words");
	auto* plain = new BView(BRect(5, 5, 54, 24), "Plain", B_FOLLOW_NONE, 0);
	for (BView* view : std::vector<BView*>{shortButton, longButton, line, plain}) {
		window->back->AddChild(view);
		view->ResizeToPreferred();
	}
	EXPECT_EQ(shortButton->Frame().LeftTop(), BPoint(10, 20));
	EXPECT_EQ(line->Frame().LeftTop(), BPoint(40, 50));
	EXPECT_GT(longButton->Frame().Width(), shortButton->Frame().Width());
	EXPECT_EQ(longButton->Frame().Height(), shortButton->Frame().Height());
	// A line of text is as wide as its text measures.
	EXPECT_EQ(line->Frame().Width(), line->StringWidth("Some words"));
	EXPECT_EQ(line->Frame().Height(), HeadlessDisplay::kLineHeight);
	// A plain view prefers the size it has.
	EXPECT_EQ(plain->Frame(), BRect(5, 5, 54, 24));
	ASSERT_TRUE(window->ShowAndWait());
	EXPECT_EQ(Robot().FindView("Preferred", "Long")->frame, longButton->Frame());
}

// ---- the close box -----------------------------------------------------------------

class CloseBox : public UiTest {};

TEST_F(CloseBox, PressingItAsksTheWindowAndQuitsItWhenItAgrees)
{
	auto* window = new RecordingWindow("Closing");
	window->allowQuit = false;
	ASSERT_TRUE(window->ShowAndWait());

	ASSERT_TRUE(Robot().PressCloseBox("Closing"));
	ASSERT_TRUE(window->Settle());
	EXPECT_EQ(window->quitRequests.load(), 1);
	EXPECT_TRUE(Robot().IsWindowShown("Closing"));

	window->allowQuit = true;
	const int32 windows = be_app->CountWindows();
	ASSERT_TRUE(Robot().PressCloseBox("Closing"));
	EXPECT_TRUE(Robot().WaitFor([] { return !Robot().FindWindow("Closing").has_value(); }));
	EXPECT_TRUE(testing_support::WaitUntil([&] { return be_app->CountWindows() == windows - 1; }));
}

TEST_F(CloseBox, AWindowWithoutOneCannotBeClosed)
{
	auto* window = new RecordingWindow("Unclosable", BRect(0, 0, 99, 99), B_NORMAL_WINDOW_FEEL,
		B_NOT_CLOSABLE);
	ASSERT_TRUE(window->ShowAndWait());
	EXPECT_FALSE(Robot().PressCloseBox("Unclosable"));
	ASSERT_TRUE(window->Settle());
	EXPECT_EQ(window->quitRequests.load(), 0);
}

// ---- modal windows -------------------------------------------------------------------

class Modal : public UiTest {};

TEST_F(Modal, AShownModalWindowBlocksInputToTheOthersUntilHidden)
{
	auto* main = new RecordingWindow("Main");
	main->back->AddChild(new BButton(BRect(0, 0, 80, 24), "Button", "Go", new BMessage(kClicked)));
	auto* modal = new RecordingWindow("Progress", BRect(0, 0, 199, 99), B_MODAL_APP_WINDOW_FEEL);
	modal->back->AddChild(new BButton(BRect(0, 0, 80, 24), "Stop", "Stop", new BMessage(kClicked)));
	ASSERT_TRUE(main->ShowAndWait());
	ASSERT_TRUE(modal->ShowAndWait());

	EXPECT_FALSE(Robot().Click("Main", "Button"));
	EXPECT_FALSE(Robot().PressCloseBox("Main"));
	EXPECT_TRUE(Robot().Click("Progress", "Stop"));
	EXPECT_TRUE(modal->inbox.WaitForCount(kClicked, 1));

	modal->Hide();
	ASSERT_TRUE(Robot().WaitFor([] { return !Robot().IsWindowShown("Progress"); }));
	EXPECT_TRUE(Robot().Click("Main", "Button"));
	EXPECT_TRUE(main->inbox.WaitForCount(kClicked, 1));
	ASSERT_TRUE(main->Settle());
	EXPECT_EQ(main->inbox.Count(kClicked), 1u);
}

// ---- drops -------------------------------------------------------------------------------

namespace {

class DropTarget : public BView {
public:
	DropTarget(BRect frame, const char* name) : BView(frame, name, B_FOLLOW_NONE, 0) {}
	void MessageReceived(BMessage* message) override
	{
		if (message->what == B_SIMPLE_DATA)
			inbox.Add(*message);
		else
			BView::MessageReceived(message);
	}
	Inbox inbox;
};

} // namespace

class Drops : public UiTest {
protected:
	testing_support::TempDir dir;
};

TEST_F(Drops, FilesDroppedOnAViewArriveAsRefsWithoutFollowingLinks)
{
	const std::string file = dir / "song.wav";
	const std::string link = dir / "link.wav";
	ASSERT_TRUE(testing_support::WriteFile(file, "RIFF"));
	ASSERT_EQ(symlink(file.c_str(), link.c_str()), 0);

	auto* window = new RecordingWindow("Drops");
	auto* target = new DropTarget(BRect(0, 0, 99, 99), "Target");
	window->back->AddChild(target);
	ASSERT_TRUE(window->ShowAndWait());

	ASSERT_TRUE(Robot().Drop("Drops", "Target", {file, dir / "missing.wav", link}));
	ASSERT_TRUE(target->inbox.WaitForCount(B_SIMPLE_DATA, 1));
	Received drop = *target->inbox.Last(B_SIMPLE_DATA);
	EXPECT_EQ(drop.thread, window->Thread());
	type_code type = 0;
	int32 count = 0;
	ASSERT_EQ(drop.message.GetInfo("refs", &type, &count), B_OK);
	ASSERT_EQ(count, 2);
	entry_ref first;
	entry_ref second;
	ASSERT_EQ(drop.message.FindRef("refs", 0, &first), B_OK);
	ASSERT_EQ(drop.message.FindRef("refs", 1, &second), B_OK);
	EXPECT_EQ(first.name, "song.wav");
	EXPECT_EQ(second.name, "link.wav");
	EXPECT_EQ(second.Path(), link);
}

TEST_F(Drops, ADropNobodyHandlesGoesUpToTheWindowAndNothingDropsOnNothing)
{
	const std::string file = dir / "a.wav";
	ASSERT_TRUE(testing_support::WriteFile(file, "x"));
	auto* window = new RecordingWindow("Bubbles");
	auto* plain = new BView(BRect(0, 0, 99, 99), "Plain", B_FOLLOW_NONE, 0);
	auto* hidden = new DropTarget(BRect(0, 0, 99, 99), "Hidden");
	window->back->AddChild(plain);
	window->back->AddChild(hidden);
	hidden->Hide();
	ASSERT_TRUE(window->ShowAndWait());

	ASSERT_TRUE(Robot().Drop("Bubbles", "Plain", {file}));
	EXPECT_TRUE(window->inbox.WaitForCount(B_SIMPLE_DATA, 1));
	EXPECT_FALSE(Robot().Drop("Bubbles", "Plain", {dir / "nothing-here"}));
	EXPECT_FALSE(Robot().Drop("Bubbles", "Hidden", {file}));
	EXPECT_FALSE(Robot().Drop("Bubbles", "NoSuchView", {file}));
}
