// Tab views (labels from page names, one page shown at a time, user choice)
// and scroll views (frame grown around the target by border and bars).
#include <Application.h>
#include <Display.h>
#include <HeadlessDisplay.h>
#include <ListView.h>
#include <ScrollView.h>
#include <TabView.h>
#include <Window.h>

#include <TestSupport.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using BPrivate::HeadlessDisplay;
using testing_support::WaitUntil;

// ---- scroll views --------------------------------------------------------

TEST(ScrollViewTest, FrameGrowsAroundTheTarget)
{
	struct Case {
		border_style border;
		bool horizontal, vertical;
		float inset;
	};
	const Case cases[] = {
		{B_FANCY_BORDER, false, true, 2},
		{B_FANCY_BORDER, true, true, 2},
		{B_PLAIN_BORDER, false, false, 1},
		{B_PLAIN_BORDER, true, false, 1},
		{B_NO_BORDER, false, true, 0},
		{B_NO_BORDER, true, true, 0},
	};
	const BRect targetFrame(30, 40, 229, 139);
	for (const Case& c : cases) {
		SCOPED_TRACE("border " + std::to_string(c.border) + " h " + std::to_string(c.horizontal)
			+ " v " + std::to_string(c.vertical));
		auto* target = new BView(targetFrame, "target", B_FOLLOW_ALL, 0);
		BScrollView scroll("scroll", target, B_FOLLOW_ALL, B_WILL_DRAW, c.horizontal, c.vertical,
			c.border);
		BRect frame = scroll.Frame();
		EXPECT_EQ(frame.left, targetFrame.left - c.inset);
		EXPECT_EQ(frame.top, targetFrame.top - c.inset);
		EXPECT_EQ(frame.right, targetFrame.right + c.inset + (c.vertical ? B_V_SCROLL_BAR_WIDTH : 0));
		EXPECT_EQ(frame.bottom,
			targetFrame.bottom + c.inset + (c.horizontal ? B_H_SCROLL_BAR_HEIGHT : 0));
		// The target now sits inside the border, its size unchanged.
		EXPECT_EQ(target->Parent(), &scroll);
		EXPECT_EQ(scroll.Target(), target);
		EXPECT_EQ(target->Frame(),
			BRect(c.inset, c.inset, c.inset + targetFrame.Width(), c.inset + targetFrame.Height()));

		BPrivate::ViewState state;
		scroll.FillState(state);
		EXPECT_EQ(state.kind, BPrivate::ViewKind::ScrollView);
		EXPECT_EQ(state.border, uint32(c.border));
		EXPECT_EQ(state.horizontalScroll, c.horizontal);
		EXPECT_EQ(state.verticalScroll, c.vertical);
		EXPECT_EQ(state.target, target->Id());
	}
}

TEST(ScrollViewTest, FilesTabLayoutFillsThePage)
{
	// The files tab: a list inset by 2 with room for the bar and the
	// buttons; its fancy scroll view must end up flush with the page.
	const float W = 379, H = 300;
	auto* list = new BListView(BRect(2, 2, W - 16, H - 31), "FilesList", B_MULTIPLE_SELECTION_LIST);
	BScrollView scroll("FilesScroll", list, B_FOLLOW_ALL_SIDES, B_WILL_DRAW, false, true,
		B_FANCY_BORDER);
	EXPECT_EQ(scroll.Frame(), BRect(0, 0, W, H - 29));
	EXPECT_EQ(scroll.FindView("FilesList"), list);

	// Taking the target away leaves the scroll view without one.
	ASSERT_TRUE(scroll.RemoveChild(list));
	std::unique_ptr<BView> owned(list);
	EXPECT_EQ(scroll.Target(), nullptr);
	BPrivate::ViewState state;
	scroll.FillState(state);
	EXPECT_EQ(state.target, 0);
}

// ---- tab views -----------------------------------------------------------

namespace {

const BRect kPage(10, 10, 300, 200);

// Counts Select calls, whoever makes them.
class CountingTabView : public BTabView {
public:
	CountingTabView()
		:
		BTabView(BRect(0, 0, 399, 299), "TabView", B_WIDTH_AS_USUAL)
	{
	}
	void Select(int32 index) override
	{
		fSelects++;
		BTabView::Select(index);
	}
	std::atomic<int32> fSelects{0};
};

void AddPages(BTabView& tabs)
{
	tabs.AddTab(new BView(kPage, "Files", B_FOLLOW_NONE, 0), new BTab(nullptr));
	tabs.AddTab(new BView(kPage, "Gogo options", B_FOLLOW_NONE, 0), new BTab(nullptr));
	tabs.AddTab(new BView(kPage, "Program options", B_FOLLOW_NONE, 0));
}

std::vector<bool> HiddenPages(const BTabView& tabs)
{
	std::vector<bool> hidden;
	for (int32 i = 0; i < tabs.CountTabs(); i++)
		hidden.push_back(tabs.ViewForTab(i)->IsHidden());
	return hidden;
}

} // namespace

TEST(TabViewTest, LabelsComeFromPageNamesUnlessSet)
{
	CountingTabView tabs;
	AddPages(tabs);
	ASSERT_EQ(tabs.CountTabs(), 3);
	EXPECT_STREQ(tabs.TabAt(0)->Label(), "Files");
	EXPECT_STREQ(tabs.TabAt(2)->Label(), "Program options");
	EXPECT_EQ(tabs.TabAt(3), nullptr);
	EXPECT_EQ(tabs.TabAt(-1), nullptr);
	EXPECT_EQ(tabs.ViewForTab(5), nullptr);
	EXPECT_EQ(tabs.ViewForTab(1)->Parent(), tabs.ContainerView()) << "pages sit below the tabs";
	EXPECT_EQ(tabs.ViewForTab(1)->Frame(), kPage);

	tabs.TabAt(1)->SetLabel("Encoder");
	EXPECT_STREQ(tabs.TabAt(1)->Label(), "Encoder");
	auto* own = new BTab(nullptr);
	own->SetLabel("Own label");
	tabs.AddTab(new BView(kPage, "Hidden name", B_FOLLOW_NONE, 0), own);
	EXPECT_STREQ(tabs.TabAt(3)->Label(), "Own label");

	BPrivate::ViewState state;
	tabs.FillState(state);
	EXPECT_EQ(state.tabLabels,
		(std::vector<std::string>{"Files", "Encoder", "Program options", "Own label"}));
	EXPECT_EQ(state.selectedTab, 0);
	EXPECT_EQ(state.tabHeight, tabs.TabHeight());
	EXPECT_EQ(tabs.TabHeight(), BPrivate::GetDisplay()->TabHeight());

	tabs.SetTabWidth(B_WIDTH_FROM_WIDEST);
	EXPECT_EQ(tabs.TabWidth(), B_WIDTH_FROM_WIDEST);
}

TEST(TabViewTest, OnlyTheSelectedPageShows)
{
	CountingTabView tabs;
	AddPages(tabs);
	EXPECT_EQ(tabs.Selection(), 0);
	EXPECT_TRUE(tabs.TabAt(0)->IsSelected());
	EXPECT_EQ(HiddenPages(tabs), (std::vector<bool>{false, true, true}));

	tabs.Select(2);
	EXPECT_EQ(tabs.Selection(), 2);
	EXPECT_TRUE(tabs.TabAt(2)->IsSelected());
	EXPECT_FALSE(tabs.TabAt(0)->IsSelected());
	EXPECT_EQ(HiddenPages(tabs), (std::vector<bool>{true, true, false}));

	tabs.Select(3);
	tabs.Select(-1);
	EXPECT_EQ(tabs.Selection(), 2);
	EXPECT_EQ(HiddenPages(tabs), (std::vector<bool>{true, true, false}));

	BMessage input(BPrivate::K_INPUT_TAB);
	input.AddInt32("index", 1);
	int32 before = tabs.fSelects.load();
	EXPECT_TRUE(tabs.HandleInput(&input));
	EXPECT_EQ(tabs.fSelects.load(), before + 1);
	EXPECT_EQ(HiddenPages(tabs), (std::vector<bool>{true, false, true}));

	// A page taken away keeps its tab and label.
	BView* page = tabs.ViewForTab(0);
	ASSERT_TRUE(tabs.RemoveChild(page));
	std::unique_ptr<BView> owned(page);
	EXPECT_EQ(tabs.ViewForTab(0), nullptr);
	EXPECT_STREQ(tabs.TabAt(0)->Label(), "Files");
	tabs.Select(0);
	EXPECT_EQ(tabs.Selection(), 0);
	EXPECT_TRUE(tabs.ViewForTab(1)->IsHidden());
}

namespace {

class TabWindowTest : public testing::Test {
protected:
	void SetUp() override
	{
		fApp = std::make_unique<BApplication>("application/x-vnd.tamsel-test-tabs");
		fThread = std::thread([this] { fApp->Run(); });
		fRobot = BPrivate::GetHeadlessDisplay();
		ASSERT_NE(fRobot, nullptr);
		fWindow = new BWindow(BRect(0, 0, 399, 299), "Tabs", B_TITLED_WINDOW, 0);
		fTabs = new CountingTabView;
		AddPages(*fTabs);
		fWindow->AddChild(fTabs);
		fWindow->Show();
		ASSERT_TRUE(fRobot->WaitFor([&] { return fRobot->FindView("Tabs", "TabView").has_value(); }));
	}
	void TearDown() override
	{
		fApp->PostMessage(B_QUIT_REQUESTED);
		fThread.join();
		fApp.reset();
		BPrivate::ResetDisplay();
	}

	bool ShownPageIs(const std::string& name)
	{
		return fRobot->WaitFor([&] {
			for (const char* page : {"Files", "Gogo options", "Program options"}) {
				auto state = fRobot->FindView("Tabs", page);
				if (!state || state->hidden != (page != name))
					return false;
			}
			return true;
		});
	}

	std::unique_ptr<BApplication> fApp;
	std::thread fThread;
	HeadlessDisplay* fRobot = nullptr;
	BWindow* fWindow = nullptr;
	CountingTabView* fTabs = nullptr;
};

} // namespace

TEST_F(TabWindowTest, ScreenShowsTabsAndFollowsTheUser)
{
	auto shown = fRobot->FindView("Tabs", "TabView");
	ASSERT_TRUE(shown.has_value());
	EXPECT_EQ(shown->tabLabels,
		(std::vector<std::string>{"Files", "Gogo options", "Program options"}));
	EXPECT_EQ(shown->tabHeight, BPrivate::GetDisplay()->TabHeight());
	EXPECT_TRUE(ShownPageIs("Files"));

	ASSERT_TRUE(fRobot->SelectTab("Tabs", "TabView", 2));
	ASSERT_TRUE(WaitUntil([&] {
		fWindow->Lock();
		int32 selection = fTabs->Selection();
		fWindow->Unlock();
		return selection == 2;
	}));
	EXPECT_GE(fTabs->fSelects.load(), 1);
	EXPECT_TRUE(ShownPageIs("Program options"));

	fWindow->Lock();
	fTabs->Select(1);
	fWindow->Unlock();
	EXPECT_TRUE(ShownPageIs("Gogo options"));
	EXPECT_TRUE(fRobot->WaitFor([&] {
		auto state = fRobot->FindView("Tabs", "TabView");
		return state && state->selectedTab == 1;
	}));
}
