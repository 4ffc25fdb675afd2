// Menus, menu bars and menu fields: ownership and lookup, radio mode and the
// marked label, where a chosen item's message goes (and that an item without
// one sends nothing), and what the display shows.
#include <Application.h>
#include <Display.h>
#include <HeadlessDisplay.h>
#include <Menu.h>
#include <MenuBar.h>
#include <MenuField.h>
#include <MenuItem.h>
#include <Window.h>

#include <TestSupport.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

using BPrivate::HeadlessDisplay;
using testing_support::WaitUntil;

namespace {

std::vector<std::string> Labels(const BMenu& menu)
{
	std::vector<std::string> labels;
	for (int32 i = 0; i < menu.CountItems(); i++)
		labels.emplace_back(menu.ItemAt(i)->IsSeparator() ? "-" : menu.ItemAt(i)->Label());
	return labels;
}

std::vector<std::string> MarkedLabels(const BMenu& menu)
{
	std::vector<std::string> labels;
	for (int32 i = 0; i < menu.CountItems(); i++) {
		if (menu.ItemAt(i)->IsMarked())
			labels.emplace_back(menu.ItemAt(i)->Label());
	}
	return labels;
}

// A bit-rate menu as the encoder tab builds it.
std::unique_ptr<BMenu> BitRateMenu()
{
	auto menu = std::make_unique<BMenu>("BitRate");
	menu->AddItem(new BMenuItem("Default", nullptr));
	menu->AddSeparatorItem();
	for (int rate : {32, 64, 128, 320})
		menu->AddItem(new BMenuItem((std::to_string(rate) + " kbps").c_str(), nullptr));
	menu->SetRadioMode(true);
	menu->SetTriggersEnabled(false);
	menu->SetLabelFromMarked(true);
	menu->ItemAt(0)->SetMarked(true);
	return menu;
}

} // namespace

// ---- without a window ----------------------------------------------------

TEST(MenuTest, ItemsAreOwnedFoundAndGivenBack)
{
	BMenu menu("List");
	EXPECT_TRUE(menu.AddItem(new BMenuItem("New", new BMessage('NWLS'))));
	EXPECT_TRUE(menu.AddItem(new BMenuItem("Open...", new BMessage('OPLS'))));
	EXPECT_TRUE(menu.AddSeparatorItem());
	EXPECT_TRUE(menu.AddItem(new BMenuItem("Save...", new BMessage('SVLS')), 1));
	EXPECT_EQ(Labels(menu), (std::vector<std::string>{"New", "Save...", "Open...", "-"}));
	EXPECT_EQ(menu.ItemAt(4), nullptr);
	EXPECT_EQ(menu.ItemAt(-1), nullptr);
	EXPECT_EQ(menu.RemoveItem(int32(9)), nullptr);

	auto stray = std::make_unique<BMenuItem>("Stray", nullptr);
	EXPECT_FALSE(menu.AddItem(stray.get(), 6));
	EXPECT_FALSE(menu.AddItem(static_cast<BMenuItem*>(nullptr)));
	EXPECT_FALSE(menu.RemoveItem(stray.get()));
	// An item belongs to one menu: a second menu refuses it.
	BMenu other("Other");
	EXPECT_FALSE(other.AddItem(menu.ItemAt(0)));

	EXPECT_EQ(menu.FindItem("Open..."), menu.ItemAt(2));
	EXPECT_EQ(menu.FindItem('SVLS'), menu.ItemAt(1));
	EXPECT_EQ(menu.FindItem("Nothing"), nullptr);
	EXPECT_EQ(menu.FindItem('NONE'), nullptr);
	EXPECT_EQ(menu.ItemAt(1)->Menu(), &menu);

	std::unique_ptr<BMenuItem> taken(menu.RemoveItem(int32(1)));
	ASSERT_NE(taken, nullptr);
	EXPECT_EQ(taken->Menu(), nullptr);
	EXPECT_STREQ(taken->Label(), "Save...");
	BMenuItem* open = menu.FindItem("Open...");
	EXPECT_TRUE(menu.RemoveItem(open));
	std::unique_ptr<BMenuItem> openOwned(open);
	EXPECT_EQ(Labels(menu), (std::vector<std::string>{"New", "-"}));
	// Given back, it may join another menu.
	EXPECT_TRUE(other.AddItem(taken.release()));
}

TEST(MenuTest, SubmenusAndIdsAcrossTheTree)
{
	BMenu top("Top");
	auto* sub = new BMenu("Mode");
	sub->AddItem(new BMenuItem("Stereo", nullptr));
	sub->AddItem(new BMenuItem("Mono", new BMessage('MONO')));
	EXPECT_TRUE(top.AddItem(sub));
	top.AddItem(new BMenuItem("Plain", nullptr));

	BMenuItem* holder = top.ItemAt(0);
	ASSERT_NE(holder, nullptr);
	EXPECT_EQ(holder->Submenu(), sub);
	EXPECT_STREQ(holder->Label(), "Mode");
	EXPECT_EQ(sub->Superitem(), holder);
	EXPECT_EQ(top.FindItem("Mono"), sub->ItemAt(1));
	EXPECT_EQ(top.FindItem('MONO'), sub->ItemAt(1));

	std::set<int32> ids;
	for (BMenuItem* item : {holder, sub->ItemAt(0), sub->ItemAt(1), top.ItemAt(1)}) {
		EXPECT_TRUE(ids.insert(item->Id()).second) << item->Label();
		EXPECT_EQ(top.ItemForId(item->Id()), item);
	}
	EXPECT_EQ(top.ItemForId(-5), nullptr);

	BPrivate::MenuItemState state;
	top.FillState(state);
	EXPECT_TRUE(state.isMenu);
	ASSERT_EQ(state.items.size(), 2u);
	EXPECT_TRUE(state.items[0].isMenu);
	EXPECT_EQ(state.items[0].id, holder->Id());
	ASSERT_EQ(state.items[0].items.size(), 2u);
	EXPECT_EQ(state.items[0].items[1].label, "Mono");
	EXPECT_FALSE(state.items[1].isMenu);
}

TEST(MenuTest, RadioModeKeepsOneItemMarked)
{
	BMenu loose("Loose");
	loose.AddItem(new BMenuItem("a", nullptr));
	loose.AddItem(new BMenuItem("b", nullptr));
	loose.ItemAt(0)->SetMarked(true);
	loose.ItemAt(1)->SetMarked(true);
	EXPECT_EQ(MarkedLabels(loose), (std::vector<std::string>{"a", "b"}));
	EXPECT_EQ(loose.FindMarked(), loose.ItemAt(0));

	std::unique_ptr<BMenu> menu = BitRateMenu();
	EXPECT_TRUE(menu->IsRadioMode());
	EXPECT_TRUE(menu->IsLabelFromMarked());
	EXPECT_FALSE(menu->AreTriggersEnabled());
	EXPECT_EQ(MarkedLabels(*menu), std::vector<std::string>{"Default"});
	menu->ItemAt(4)->SetMarked(true);
	EXPECT_EQ(MarkedLabels(*menu), std::vector<std::string>{"128 kbps"});
	EXPECT_EQ(menu->FindMarkedIndex(), 4);

	// A marked item joining a radio menu takes the mark.
	auto* marked = new BMenuItem("999 kbps", nullptr);
	marked->SetMarked(true);
	menu->AddItem(marked);
	EXPECT_EQ(MarkedLabels(*menu), std::vector<std::string>{"999 kbps"});

	// Choosing works on the menu that holds the item; a disabled item or a
	// separator cannot be chosen.
	menu->ItemChosen(menu->ItemAt(2));
	EXPECT_EQ(menu->FindMarkedIndex(), 2);
	menu->ItemAt(3)->SetEnabled(false);
	menu->ItemChosen(menu->ItemAt(3));
	menu->ItemChosen(menu->ItemAt(1));
	menu->ItemChosen(loose.ItemAt(1));
	EXPECT_EQ(menu->FindMarkedIndex(), 2);

	// Leaving radio mode also stops showing the marked label.
	menu->SetRadioMode(false);
	EXPECT_FALSE(menu->IsLabelFromMarked());
	loose.SetLabelFromMarked(true);
	EXPECT_TRUE(loose.IsRadioMode());
}

TEST(MenuTest, InputToAnUnattachedBarMarksInTheRightSubmenu)
{
	BMenuBar bar(BRect(0, 0, 99, 19), "bar");
	auto* modes = new BMenu("Mode");
	modes->AddItem(new BMenuItem("Stereo", nullptr));
	modes->AddItem(new BMenuItem("Mono", nullptr));
	modes->SetRadioMode(true);
	modes->ItemAt(0)->SetMarked(true);
	bar.AddItem(modes);
	EXPECT_STREQ(bar.Name(), "bar");
	EXPECT_EQ(bar.Window(), nullptr);

	BMessage input(BPrivate::K_INPUT_MENU);
	input.AddInt32("item", modes->ItemAt(1)->Id());
	EXPECT_TRUE(bar.HandleInput(&input));
	EXPECT_EQ(MarkedLabels(*modes), std::vector<std::string>{"Mono"});

	BMessage unknown(BPrivate::K_INPUT_MENU);
	unknown.AddInt32("item", -1);
	EXPECT_TRUE(bar.HandleInput(&unknown));
	EXPECT_EQ(MarkedLabels(*modes), std::vector<std::string>{"Mono"});

	BPrivate::ViewState state;
	bar.FillState(state);
	EXPECT_EQ(state.kind, BPrivate::ViewKind::MenuBar);
	ASSERT_EQ(state.menu.size(), 1u);
	EXPECT_EQ(state.menu[0].label, "Mode");
	EXPECT_TRUE(state.menu[0].radioMode);
	ASSERT_EQ(state.menu[0].items.size(), 2u);
	EXPECT_TRUE(state.menu[0].items[1].marked);
	EXPECT_FALSE(state.menu[0].items[0].marked);

	// Without a window and without a target there is nowhere to send to.
	BMenuItem lonely("Lonely", new BMessage('LONE'));
	EXPECT_NE(lonely.Invoke(), B_OK);
}

TEST(MenuTest, MenuFieldStateAndDivider)
{
	BMenuField field(BRect(0, 0, 199, 19), "BitRateField", "Bit rate:", BitRateMenu().release());
	EXPECT_EQ(field.Menu()->Owner(), &field);
	EXPECT_STREQ(field.Label(), "Bit rate:");
	field.SetDivider(117);
	EXPECT_EQ(field.Divider(), 117);
	field.SetEnabled(false);

	BPrivate::ViewState state;
	field.FillState(state);
	EXPECT_EQ(state.kind, BPrivate::ViewKind::MenuField);
	EXPECT_EQ(state.label, "Bit rate:");
	EXPECT_EQ(state.divider, 117);
	EXPECT_FALSE(state.enabled);
	ASSERT_EQ(state.menu.size(), 1u);
	EXPECT_TRUE(state.menu[0].isMenu);
	EXPECT_TRUE(state.menu[0].labelFromMarked);
	ASSERT_EQ(state.menu[0].items.size(), 6u);
	EXPECT_TRUE(state.menu[0].items[1].separator);
	EXPECT_TRUE(state.menu[0].items[0].marked);

	// A disabled field ignores choices.
	BMessage input(BPrivate::K_INPUT_MENU);
	input.AddInt32("item", field.Menu()->ItemAt(3)->Id());
	field.HandleInput(&input);
	EXPECT_EQ(field.Menu()->FindMarkedIndex(), 0);
	field.SetEnabled(true);
	field.HandleInput(&input);
	EXPECT_EQ(field.Menu()->FindMarkedIndex(), 3);
}

// ---- in a window on the headless display ---------------------------------

namespace {

class MenuApp : public BApplication {
public:
	MenuApp() : BApplication("application/x-vnd.tamsel-test-menus") {}
	void AboutRequested() override { fAbouts++; }
	std::atomic<int32> fAbouts{0};
};

// Records every command it receives apart from display input.
class MenuWindow : public BWindow {
public:
	MenuWindow()
		:
		BWindow(BRect(50, 50, 449, 249), "Menus", B_TITLED_WINDOW, 0)
	{
	}
	void MessageReceived(BMessage* message) override
	{
		std::lock_guard<std::mutex> guard(fLock);
		BMenuItem* source = nullptr;
		message->FindPointer("source", reinterpret_cast<void**>(&source));
		fReceived.push_back({message->what, source});
	}
	struct Received {
		uint32 what;
		BMenuItem* source;
	};
	std::vector<Received> ReceivedSoFar() const
	{
		std::lock_guard<std::mutex> guard(fLock);
		return fReceived;
	}

private:
	mutable std::mutex fLock;
	std::vector<Received> fReceived;
};

class MenuWindowTest : public testing::Test {
protected:
	void SetUp() override
	{
		fApp = std::make_unique<MenuApp>();
		fThread = std::thread([this] { fApp->Run(); });
		fRobot = BPrivate::GetHeadlessDisplay();
		ASSERT_NE(fRobot, nullptr);

		fWindow = new MenuWindow;
		fBar = new BMenuBar(BRect(0, 0, 10, 10), "MenuBar");
		auto* list = new BMenu("List");
		list->AddItem(new BMenuItem("New", new BMessage('NWLS')));
		list->AddSeparatorItem();
		list->AddItem(new BMenuItem("Exit", new BMessage('CLOS')));
		fBar->AddItem(list);
		auto* help = new BMenu("Help");
		help->AddItem(new BMenuItem("Readme", new BMessage('RDME')));
		fAbout = new BMenuItem("About...", new BMessage(B_ABOUT_REQUESTED));
		fAbout->SetTarget(be_app);
		help->AddItem(fAbout);
		fBar->AddItem(help);
		fWindow->AddChild(fBar);

		fField = new BMenuField(BRect(10, 40, 300, 60), "BitRateField", "Bit rate:",
			BitRateMenu().release());
		fField->SetDivider(117);
		fWindow->AddChild(fField);
		fWindow->Show();
		ASSERT_TRUE(fRobot->WaitFor([&] { return fRobot->FindView("Menus", "BitRateField").has_value(); }));
	}
	void TearDown() override
	{
		fApp->PostMessage(B_QUIT_REQUESTED);
		fThread.join();
		fApp.reset();
		BPrivate::ResetDisplay();
	}

	// Posts a marker to the window and waits for it: every message sent
	// before it has been handled by then.
	void Drain()
	{
		fWindow->PostMessage('MARK');
		ASSERT_TRUE(WaitUntil([&] {
			auto received = fWindow->ReceivedSoFar();
			return !received.empty() && received.back().what == 'MARK';
		}));
	}

	std::unique_ptr<MenuApp> fApp;
	std::thread fThread;
	HeadlessDisplay* fRobot = nullptr;
	MenuWindow* fWindow = nullptr;
	BMenuBar* fBar = nullptr;
	BMenuField* fField = nullptr;
	BMenuItem* fAbout = nullptr;
};

} // namespace

TEST_F(MenuWindowTest, MenuBarSpansTheWindowAtItsPreferredHeight)
{
	BPrivate::SizeQuery query;
	query.kind = BPrivate::ViewKind::MenuBar;
	float height = BPrivate::GetDisplay()->GetPreferredSize(query).height;
	fWindow->Lock();
	BRect frame = fBar->Frame();
	float windowWidth = fWindow->Bounds().Width();
	fWindow->Unlock();
	EXPECT_EQ(frame.Width(), windowWidth);
	EXPECT_EQ(frame.Height(), height);
	auto shown = fRobot->FindView("Menus", "MenuBar");
	ASSERT_TRUE(shown.has_value());
	EXPECT_EQ(shown->frame, frame);
	ASSERT_EQ(shown->menu.size(), 2u);
	EXPECT_EQ(shown->menu[0].label, "List");
	EXPECT_EQ(shown->menu[1].items.size(), 2u);
}

TEST_F(MenuWindowTest, ChosenItemsGoToTheWindowOrTheirOwnTarget)
{
	ASSERT_TRUE(fRobot->ChooseMenuItem("Menus", "MenuBar", "List", "New"));
	ASSERT_TRUE(fRobot->ChooseMenuItem("Menus", "MenuBar", "Help", "About..."));
	ASSERT_TRUE(fRobot->ChooseMenuItem("Menus", "MenuBar", "List", "Exit"));
	ASSERT_TRUE(WaitUntil([&] { return fApp->fAbouts.load() == 1; }));
	// The chosen items reach the window through the display's thread: a
	// marker posted straight away could overtake them. Once both are in,
	// the marker shows that nothing more came.
	ASSERT_TRUE(WaitUntil([&] { return fWindow->ReceivedSoFar().size() >= 2; }));
	Drain();
	auto received = fWindow->ReceivedSoFar();
	ASSERT_EQ(received.size(), 3u);
	EXPECT_EQ(received[0].what, uint32('NWLS'));
	EXPECT_EQ(received[1].what, uint32('CLOS'));
	fWindow->Lock();
	EXPECT_EQ(received[0].source, fBar->FindItem("New"));
	fWindow->Unlock();
	EXPECT_EQ(fApp->fAbouts.load(), 1);
}

TEST_F(MenuWindowTest, MenuFieldShowsTheMarkedLabelAndSendsNothing)
{
	EXPECT_EQ(fRobot->MarkedLabel("Menus", "BitRateField"), "Default");
	auto shown = fRobot->FindView("Menus", "BitRateField");
	ASSERT_TRUE(shown.has_value());
	EXPECT_EQ(shown->label, "Bit rate:");
	EXPECT_EQ(shown->divider, 117);

	ASSERT_TRUE(fRobot->ChooseMenuItem("Menus", "BitRateField", "", "128 kbps"));
	ASSERT_TRUE(WaitUntil([&] {
		fWindow->Lock();
		int32 marked = fField->Menu()->FindMarkedIndex();
		fWindow->Unlock();
		return marked == 4;
	}));
	EXPECT_TRUE(fRobot->WaitFor([&] { return fRobot->MarkedLabel("Menus", "BitRateField") == "128 kbps"; }));
	Drain();
	// The bit-rate items carry no message: only the marker arrived.
	EXPECT_EQ(fWindow->ReceivedSoFar().size(), 1u);

	// Marking by code reaches the screen too.
	fWindow->Lock();
	fField->Menu()->ItemAt(5)->SetMarked(true);
	fWindow->Unlock();
	EXPECT_TRUE(fRobot->WaitFor([&] { return fRobot->MarkedLabel("Menus", "BitRateField") == "320 kbps"; }));
	fWindow->Lock();
	EXPECT_EQ(MarkedLabels(*fField->Menu()), std::vector<std::string>{"320 kbps"});
	fWindow->Unlock();
}

TEST_F(MenuWindowTest, PreferredSizeOfTheFieldComesFromTheDisplay)
{
	fWindow->Lock();
	float width = 0, height = 0;
	fField->GetPreferredSize(&width, &height);
	fField->ResizeToPreferred();
	BRect frame = fField->Frame();
	fWindow->Unlock();
	EXPECT_GT(width, 117);
	EXPECT_GT(height, 0);
	EXPECT_EQ(frame.Width(), width);
	EXPECT_EQ(frame.Height(), height);
	EXPECT_TRUE(fRobot->WaitFor([&] {
		auto shown = fRobot->FindView("Menus", "BitRateField");
		return shown && shown->frame == frame;
	}));
}
