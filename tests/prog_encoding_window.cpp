// The progress window: its layout, its kind, and that it keeps the main
// window to itself while a run goes on.

#include "prog_encoding_fake.h"

using namespace testing_support;

namespace {

class ProgressWindowTest : public ::testing::Test {
protected:
	void SetUp() override
	{
		ClearStoredSettings();
		StoreEncoderLocation(fEncoder.Path());
		fInputs = MakeInputs(fFiles, {"a.wav", "b.wav"});
	}
	void TearDown() override { ClearStoredSettings(); }

	BRect Frame(const ProgramRun& run, const char* view)
	{
		auto frame = run.Robot().ViewFrameInWindow(kProgressTitle, view);
		EXPECT_TRUE(frame) << view;
		return frame.value_or(BRect());
	}

	TempDir fFiles;
	TempDir fTools;
	FakeEncoder fEncoder{fTools};
	std::vector<std::string> fInputs;
};

TEST_F(ProgressWindowTest, IsAFixedModalWindowLaidOutFromItsText)
{
	ProgramRun run;
	ASSERT_TRUE(run.Started());
	ASSERT_TRUE(AddFiles(run, fInputs));
	auto window = run.Robot().FindWindow(kProgressTitle);
	ASSERT_TRUE(window);
	EXPECT_TRUE(window->hidden);
	EXPECT_EQ(window->look, int32(B_FLOATING_WINDOW_LOOK));
	EXPECT_EQ(window->feel, int32(B_MODAL_APP_WINDOW_FEEL));
	EXPECT_EQ(window->flags, uint32(B_NOT_RESIZABLE | B_NOT_CLOSABLE | B_NOT_ZOOMABLE
		| B_NOT_MINIMIZABLE | B_ASYNCHRONOUS_CONTROLS));

	const BRect now = Frame(run, "NowEncoding");
	const BRect name = Frame(run, "FileName");
	const BRect number = Frame(run, "FileNumber");
	const BRect skip = Frame(run, "SkipFile");
	const BRect stop = Frame(run, "StopEncoding");
	const BRect back = Frame(run, "BackView");

	EXPECT_EQ(now.LeftTop(), BPoint(5, 5));
	// Sized to its text, which is wider than one pixel.
	EXPECT_GT(now.Height(), 1);
	EXPECT_EQ(name, BRect(5, now.bottom + 6, 335, now.bottom + 21));
	EXPECT_EQ(number, BRect(5, name.bottom + 6, 335, name.bottom + 21));
	EXPECT_EQ(skip.LeftTop(), BPoint(5, number.bottom + 6));
	EXPECT_EQ(stop.LeftTop(), BPoint(skip.right + 5, number.bottom + 6));

	EXPECT_EQ(window->frame.Width(), 340);
	EXPECT_EQ(window->frame.Height(), 3 * now.Height() + skip.Height() + 28);
	EXPECT_EQ(back, BRect(0, 0, 340, window->frame.Height()));

	auto skipState = run.Robot().FindView(kProgressTitle, "SkipFile");
	auto stopState = run.Robot().FindView(kProgressTitle, "StopEncoding");
	ASSERT_TRUE(skipState && stopState);
	EXPECT_EQ(skipState->label, "Skip file");
	EXPECT_EQ(stopState->label, "Stop encoding");
	EXPECT_EQ(ShownText(run, "NowEncoding"), "Please wait while encoding:");
	EXPECT_EQ(ShownText(run, "FileName"), "#");
	EXPECT_EQ(ShownText(run, "FileNumber"), "#");
}

TEST_F(ProgressWindowTest, TheMainWindowRefusesInputWhileARunGoesOn)
{
	FakeEncoder::Hold(fInputs[0]);
	ProgramRun run;
	ASSERT_TRUE(run.Started());
	ASSERT_TRUE(AddFiles(run, fInputs));
	// Before the run the main window takes clicks.
	ASSERT_TRUE(run.Robot().SelectTab(kMainTitle, "TabView", 1));
	ASSERT_TRUE(run.Robot().WaitFor([&] {
		auto page = run.Robot().FindView(kMainTitle, "Gogo options");
		return page && !page->hidden;
	}));
	ASSERT_TRUE(ClickEncode(run));
	ASSERT_TRUE(WaitUntil([&] { return fEncoder.Starts().size() == 1; }));
	ASSERT_TRUE(run.Robot().WaitFor([&] { return run.Robot().IsWindowShown(kProgressTitle); }));

	EXPECT_FALSE(run.Robot().Click(kMainTitle, "EncodeButton"));
	EXPECT_FALSE(run.Robot().Toggle(kMainTitle, "DisablePsycho"));
	EXPECT_FALSE(run.Robot().SelectTab(kMainTitle, "TabView", 0));
	EXPECT_FALSE(run.Robot().PressCloseBox(kMainTitle));

	FakeEncoder::Release(fInputs[0]);
	ASSERT_TRUE(RunEnded(run));
	EXPECT_TRUE(run.Robot().Toggle(kMainTitle, "DisablePsycho"));
	EXPECT_EQ(fEncoder.Starts().size(), 2u);
}

TEST_F(ProgressWindowTest, SkipAndStopDoNothingOutsideARun)
{
	ProgramRun run;
	ASSERT_TRUE(run.Started());
	ASSERT_TRUE(AddFiles(run, fInputs));
	MainWindow* window = run.Window();
	window->PostMessage('SKIP');
	window->PostMessage('STOP');
	BMessage notice(kMsgEncoderQuit);
	window->PostMessage(&notice);
	// Handled in order: once the tab has changed the three are behind us.
	ASSERT_TRUE(run.Robot().SelectTab(kMainTitle, "TabView", 1));
	ASSERT_TRUE(run.Robot().WaitFor([&] {
		auto tabs = run.Robot().FindView(kMainTitle, "TabView");
		return tabs && tabs->selectedTab == 1;
	}));
	EXPECT_FALSE(IsEncoding(run));
	EXPECT_FALSE(run.Robot().IsWindowShown(kProgressTitle));
	EXPECT_TRUE(fEncoder.Starts().empty());
	EXPECT_TRUE(run.Robot().Alerts().empty());
}

} // namespace
