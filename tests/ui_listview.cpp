// BListView and its items: insertion through the virtual hooks, selection
// bookkeeping and its hook, out-of-range indices, and what the display shows
// after each change.
#include <Application.h>
#include <Display.h>
#include <HeadlessDisplay.h>
#include <ListView.h>
#include <Window.h>

#include <TestSupport.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

using BPrivate::HeadlessDisplay;
using testing_support::TempDir;
using testing_support::WaitUntil;

namespace {

// Counts the hooks so that tests can tell exactly when they ran.
class CountingList : public BListView {
public:
	using BListView::BListView;

	bool AddItem(BListItem* item) override
	{
		std::lock_guard<std::mutex> guard(fLock);
		fAppends++;
		return BListView::AddItem(item);
	}
	bool AddItem(BListItem* item, int32 index) override
	{
		std::lock_guard<std::mutex> guard(fLock);
		fInserts++;
		return BListView::AddItem(item, index);
	}
	void SelectionChanged() override
	{
		std::lock_guard<std::mutex> guard(fLock);
		fSelectionChanges++;
		fLastSeen.clear();
		for (int32 i = 0; CurrentSelection(i) >= 0; i++)
			fLastSeen.push_back(CurrentSelection(i));
	}
	void MessageReceived(BMessage* message) override
	{
		if (message->what == B_SIMPLE_DATA) {
			std::lock_guard<std::mutex> guard(fLock);
			entry_ref ref;
			for (int32 i = 0; message->FindRef("refs", i, &ref) == B_OK; i++)
				fDropped.push_back(ref.name);
			return;
		}
		BListView::MessageReceived(message);
	}

	int32 Appends() const { std::lock_guard<std::mutex> g(fLock); return fAppends; }
	int32 Inserts() const { std::lock_guard<std::mutex> g(fLock); return fInserts; }
	int32 SelectionChanges() const { std::lock_guard<std::mutex> g(fLock); return fSelectionChanges; }
	std::vector<int32> LastSeen() const { std::lock_guard<std::mutex> g(fLock); return fLastSeen; }
	std::vector<std::string> Dropped() const { std::lock_guard<std::mutex> g(fLock); return fDropped; }

private:
	mutable std::mutex fLock;
	int32 fAppends = 0;
	int32 fInserts = 0;
	int32 fSelectionChanges = 0;
	std::vector<int32> fLastSeen;
	std::vector<std::string> fDropped;
};

// The list does not own its items; the tests do.
struct Items {
	std::vector<std::unique_ptr<BStringItem>> owned;
	BStringItem* Make(const std::string& text)
	{
		owned.push_back(std::make_unique<BStringItem>(text.c_str()));
		return owned.back().get();
	}
};

std::vector<std::string> Texts(const BListView& list)
{
	std::vector<std::string> texts;
	for (int32 i = 0; i < list.CountItems(); i++)
		texts.emplace_back(static_cast<BStringItem*>(list.ItemAt(i))->Text());
	return texts;
}

std::vector<int32> Selection(const BListView& list)
{
	std::vector<int32> rows;
	for (int32 i = 0; list.CurrentSelection(i) >= 0; i++)
		rows.push_back(list.CurrentSelection(i));
	return rows;
}

BMessage SelectInput(std::vector<int32> rows)
{
	BMessage input(BPrivate::K_INPUT_SELECT);
	for (int32 row : rows)
		input.AddInt32("index", row);
	return input;
}

const BRect kFrame(0, 0, 199, 299);

} // namespace

// ---- without a window ----------------------------------------------------

TEST(ListViewTest, EveryInsertionGoesThroughTheVirtualAddItem)
{
	Items items;
	CountingList list(kFrame, "list");
	EXPECT_TRUE(list.AddItem(items.Make("b")));
	EXPECT_TRUE(list.AddItem(items.Make("a"), 0));
	EXPECT_TRUE(list.AddList({items.Make("c"), items.Make("d")}));
	EXPECT_EQ(list.Appends(), 3);
	EXPECT_EQ(list.Inserts(), 1);
	EXPECT_EQ(Texts(list), (std::vector<std::string>{"a", "b", "c", "d"}));

	// A list with a null entry is refused as a whole.
	EXPECT_FALSE(list.AddList({items.Make("e"), nullptr}));
	EXPECT_EQ(list.CountItems(), 4);
}

TEST(ListViewTest, OutOfRangeIndicesChangeNothing)
{
	Items items;
	CountingList list(kFrame, "list", B_MULTIPLE_SELECTION_LIST);
	EXPECT_EQ(list.ItemAt(0), nullptr);
	EXPECT_EQ(list.FirstItem(), nullptr);
	EXPECT_EQ(list.LastItem(), nullptr);
	EXPECT_EQ(list.RemoveItem(int32(0)), nullptr);
	list.AddItem(items.Make("a"));
	list.AddItem(items.Make("b"));

	BStringItem* stray = items.Make("stray");
	EXPECT_FALSE(list.AddItem(stray, 3));
	EXPECT_FALSE(list.AddItem(stray, -1));
	EXPECT_FALSE(list.AddItem(nullptr));
	EXPECT_EQ(list.ItemAt(-1), nullptr);
	EXPECT_EQ(list.ItemAt(2), nullptr);
	EXPECT_EQ(list.RemoveItem(int32(2)), nullptr);
	EXPECT_FALSE(list.RemoveItem(stray));
	EXPECT_FALSE(list.RemoveItems(2, 1));
	EXPECT_FALSE(list.MoveItem(0, 2));
	EXPECT_FALSE(list.MoveItem(-1, 0));
	EXPECT_FALSE(list.SwapItems(0, 5));
	EXPECT_EQ(list.IndexOf(stray), -1);
	EXPECT_EQ(list.IndexOf(nullptr), -1);
	list.Select(2);
	list.Select(-1);
	list.Select(1, 5);
	list.Deselect(7);
	EXPECT_EQ(list.CurrentSelection(0), -1);
	EXPECT_EQ(list.CurrentSelection(-1), -1);
	EXPECT_FALSE(list.IsItemSelected(9));
	EXPECT_EQ(list.SelectionChanges(), 0);
	EXPECT_EQ(Texts(list), (std::vector<std::string>{"a", "b"}));

	// An item is in one list at a time.
	CountingList other(kFrame, "other");
	EXPECT_FALSE(other.AddItem(list.ItemAt(0)));
	EXPECT_FALSE(list.AddItem(list.ItemAt(1)));
	EXPECT_EQ(other.CountItems(), 0);
	EXPECT_EQ(list.CountItems(), 2);
}

TEST(ListViewTest, SelectionChangedRunsExactlyWhenTheSelectionChanges)
{
	Items items;
	for (list_view_type type : {B_SINGLE_SELECTION_LIST, B_MULTIPLE_SELECTION_LIST}) {
		SCOPED_TRACE(type == B_SINGLE_SELECTION_LIST ? "single" : "multiple");
		CountingList list(kFrame, "list", type);
		for (int i = 0; i < 6; i++)
			list.AddItem(items.Make("row " + std::to_string(i)));
		EXPECT_EQ(list.SelectionChanges(), 0);

		list.Select(2);
		EXPECT_EQ(list.SelectionChanges(), 1);
		EXPECT_EQ(list.LastSeen(), std::vector<int32>{2});
		list.Select(2); // already so
		EXPECT_EQ(list.SelectionChanges(), 1);

		list.Select(4, true);
		std::vector<int32> extended = type == B_MULTIPLE_SELECTION_LIST
			? std::vector<int32>{2, 4} : std::vector<int32>{4};
		EXPECT_EQ(Selection(list), extended);
		EXPECT_EQ(list.SelectionChanges(), 2);
		EXPECT_EQ(list.LastSeen(), extended);

		list.Deselect(3); // not selected
		EXPECT_EQ(list.SelectionChanges(), 2);
		list.Deselect(4);
		EXPECT_EQ(list.SelectionChanges(), 3);

		list.Select(1, 3);
		std::vector<int32> range = type == B_MULTIPLE_SELECTION_LIST
			? std::vector<int32>{1, 2, 3} : std::vector<int32>{3};
		EXPECT_EQ(Selection(list), range);
		EXPECT_EQ(list.SelectionChanges(), 4);
		list.Select(1, 3); // the same again
		EXPECT_EQ(list.SelectionChanges(), 4);

		// Removing an unselected row moves the indices but not the selection.
		EXPECT_NE(list.RemoveItem(int32(5)), nullptr);
		EXPECT_EQ(list.SelectionChanges(), 4);
		list.DeselectAll();
		EXPECT_EQ(list.SelectionChanges(), 5);
		EXPECT_EQ(list.CurrentSelection(), -1);
		list.DeselectAll();
		EXPECT_EQ(list.SelectionChanges(), 5);
		list.MakeEmpty();
		EXPECT_EQ(list.SelectionChanges(), 5);
	}
}

TEST(ListViewTest, ReplacingSelectionInMultipleListAndSwitchingToSingle)
{
	Items items;
	CountingList list(kFrame, "list", B_MULTIPLE_SELECTION_LIST);
	for (int i = 0; i < 5; i++)
		list.AddItem(items.Make(std::to_string(i)));
	list.Select(0, 1);
	list.Select(3, 4, true);
	EXPECT_EQ(Selection(list), (std::vector<int32>{0, 1, 3, 4}));
	list.Select(2); // without extend the selection is replaced
	EXPECT_EQ(Selection(list), std::vector<int32>{2});
	list.Select(0, 4);
	int32 before = list.SelectionChanges();
	list.SetListType(B_SINGLE_SELECTION_LIST);
	EXPECT_EQ(Selection(list), std::vector<int32>{0});
	EXPECT_EQ(list.SelectionChanges(), before + 1);
	for (int32 i = 0; i < list.CountItems(); i++)
		EXPECT_EQ(list.ItemAt(i)->IsSelected(), i == 0) << i;
}

TEST(ListViewTest, RemovingSelectedRowsUpdatesTheSelection)
{
	Items items;
	CountingList list(kFrame, "list", B_MULTIPLE_SELECTION_LIST);
	for (int i = 0; i < 8; i++)
		list.AddItem(items.Make(std::to_string(i)));
	for (int32 row : {1, 2, 5, 7})
		list.Select(row, true);
	int32 changes = list.SelectionChanges();

	BListItem* removed = list.RemoveItem(int32(2));
	ASSERT_NE(removed, nullptr);
	EXPECT_FALSE(removed->IsSelected());
	EXPECT_EQ(list.SelectionChanges(), changes + 1);
	EXPECT_EQ(list.LastSeen(), (std::vector<int32>{1, 4, 6}));

	// The way the program removes the selection: from the last row down.
	for (int32 i = list.CountItems() - 1; i >= 0; i--) {
		if (list.IsItemSelected(i))
			list.RemoveItem(i);
	}
	EXPECT_EQ(Texts(list), (std::vector<std::string>{"0", "3", "4", "6"}));
	EXPECT_EQ(list.CurrentSelection(), -1);
	EXPECT_EQ(list.SelectionChanges(), changes + 4);

	// A range that holds a selected row changes the selection once.
	list.Select(1);
	list.Select(3, true);
	changes = list.SelectionChanges();
	EXPECT_TRUE(list.RemoveItems(1, 10)); // clamped to the end
	EXPECT_EQ(Texts(list), std::vector<std::string>{"0"});
	EXPECT_EQ(list.SelectionChanges(), changes + 1);
	EXPECT_EQ(list.CurrentSelection(), -1);

	list.Select(0);
	changes = list.SelectionChanges();
	list.MakeEmpty();
	EXPECT_TRUE(list.IsEmpty());
	EXPECT_EQ(list.SelectionChanges(), changes + 1);
}

TEST(ListViewTest, MovedAndSwappedItemsKeepTheirSelection)
{
	Items items;
	CountingList list(kFrame, "list", B_MULTIPLE_SELECTION_LIST);
	for (const char* text : {"a", "b", "c", "d"})
		list.AddItem(items.Make(text));
	list.Select(1);
	EXPECT_TRUE(list.MoveItem(1, 3));
	EXPECT_EQ(Texts(list), (std::vector<std::string>{"a", "c", "d", "b"}));
	EXPECT_EQ(Selection(list), std::vector<int32>{3});
	EXPECT_TRUE(list.MoveItem(3, 0));
	EXPECT_EQ(Texts(list), (std::vector<std::string>{"b", "a", "c", "d"}));
	EXPECT_EQ(Selection(list), std::vector<int32>{0});
	EXPECT_TRUE(list.MoveItem(2, 2));
	EXPECT_TRUE(list.SwapItems(0, 2));
	EXPECT_EQ(Texts(list), (std::vector<std::string>{"c", "a", "b", "d"}));
	EXPECT_EQ(Selection(list), std::vector<int32>{2});
	EXPECT_TRUE(list.ItemAt(2)->IsSelected());
}

TEST(ListViewTest, InputFromTheDisplaySetsExactlyTheGivenRows)
{
	Items items;
	CountingList multiple(kFrame, "multiple", B_MULTIPLE_SELECTION_LIST);
	CountingList single(kFrame, "single");
	for (int i = 0; i < 5; i++) {
		multiple.AddItem(items.Make(std::to_string(i)));
		single.AddItem(items.Make(std::to_string(i)));
	}
	multiple.Select(0);
	int32 changes = multiple.SelectionChanges();

	BMessage input = SelectInput({4, 1, 9, -2, 1});
	EXPECT_TRUE(multiple.HandleInput(&input));
	EXPECT_EQ(Selection(multiple), (std::vector<int32>{1, 4}));
	EXPECT_EQ(multiple.SelectionChanges(), changes + 1);
	EXPECT_TRUE(multiple.HandleInput(&input)); // nothing new
	EXPECT_EQ(multiple.SelectionChanges(), changes + 1);
	BMessage none = SelectInput({});
	multiple.HandleInput(&none);
	EXPECT_EQ(multiple.CurrentSelection(), -1);
	EXPECT_EQ(multiple.SelectionChanges(), changes + 2);

	BMessage many = SelectInput({3, 2});
	single.HandleInput(&many);
	EXPECT_EQ(Selection(single), std::vector<int32>{2});
	EXPECT_EQ(single.SelectionChanges(), 1);

	BMessage other(BPrivate::K_INPUT_TAB);
	EXPECT_FALSE(single.HandleInput(&other));
}

TEST(ListViewTest, ItemsOutliveTheListAndLeaveItWhenDeleted)
{
	Items items;
	BStringItem* kept = items.Make("kept");
	{
		CountingList list(kFrame, "list", B_MULTIPLE_SELECTION_LIST);
		auto doomed = std::make_unique<BStringItem>("doomed");
		list.AddItem(kept);
		list.AddItem(doomed.get());
		list.Select(0, 1);
		int32 changes = list.SelectionChanges();
		doomed.reset();
		EXPECT_EQ(Texts(list), std::vector<std::string>{"kept"});
		EXPECT_EQ(Selection(list), std::vector<int32>{0});
		EXPECT_EQ(list.SelectionChanges(), changes + 1);
		EXPECT_TRUE(list.HasItem(kept));
	}
	// The list is gone; the item is whole and free to join another one.
	kept->SetText("still here");
	EXPECT_STREQ(kept->Text(), "still here");
	EXPECT_FALSE(kept->IsSelected());
	CountingList next(kFrame, "next");
	EXPECT_TRUE(next.AddItem(kept));
}

// The rows are kept in a gap buffer; a random mix of operations checked
// against a plain vector catches any slip in its index arithmetic.
TEST(ListViewTest, RandomEditsAgreeWithAPlainModel)
{
	Items items;
	CountingList list(kFrame, "list", B_MULTIPLE_SELECTION_LIST);
	std::vector<BListItem*> model;
	std::vector<bool> selected;
	std::mt19937 random(1234);
	for (int step = 0; step < 4000; step++) {
		int32 size = int32(model.size());
		auto pick = [&](int32 bound) { return int32(random() % uint32(bound)); };
		switch (pick(6)) {
			case 0:
			case 1: {
				int32 at = pick(size + 1);
				BStringItem* item = items.Make(std::to_string(step));
				ASSERT_TRUE(list.AddItem(item, at));
				model.insert(model.begin() + at, item);
				selected.insert(selected.begin() + at, false);
				break;
			}
			case 2:
				if (size > 0) {
					int32 at = pick(size);
					ASSERT_EQ(list.RemoveItem(at), model[size_t(at)]);
					model.erase(model.begin() + at);
					selected.erase(selected.begin() + at);
				}
				break;
			case 3:
				if (size > 0) {
					int32 from = pick(size), to = pick(size);
					ASSERT_TRUE(list.MoveItem(from, to));
					BListItem* item = model[size_t(from)];
					bool mark = selected[size_t(from)];
					model.erase(model.begin() + from);
					selected.erase(selected.begin() + from);
					model.insert(model.begin() + to, item);
					selected.insert(selected.begin() + to, mark);
				}
				break;
			case 4:
				if (size > 0) {
					int32 at = pick(size);
					list.Select(at, true);
					selected[size_t(at)] = true;
				}
				break;
			case 5:
				if (size > 0) {
					int32 at = pick(size);
					list.Deselect(at);
					selected[size_t(at)] = false;
				}
				break;
		}
		if (step % 50 == 0 || step > 3900) {
			ASSERT_EQ(list.CountItems(), int32(model.size()));
			std::vector<int32> expected;
			for (size_t i = 0; i < model.size(); i++) {
				ASSERT_EQ(list.ItemAt(int32(i)), model[i]) << "step " << step;
				ASSERT_EQ(list.IndexOf(model[i]), int32(i));
				if (selected[i])
					expected.push_back(int32(i));
			}
			ASSERT_EQ(Selection(list), expected) << "step " << step;
		}
	}
}

// ---- in a window on the headless display ---------------------------------

namespace {

class ListWindow : public BWindow {
public:
	ListWindow()
		:
		BWindow(BRect(100, 100, 499, 399), "Lists", B_TITLED_WINDOW, 0)
	{
	}
	void MessageReceived(BMessage* message) override
	{
		if (message->what == 'SLCT') {
			std::lock_guard<std::mutex> guard(fLock);
			int32 row = 0;
			std::vector<int32> rows;
			for (int32 i = 0; message->FindInt32("index", i, &row) == B_OK; i++)
				rows.push_back(row);
			fSelections.push_back(rows);
			return;
		}
		BWindow::MessageReceived(message);
	}
	std::vector<std::vector<int32>> Selections() const
	{
		std::lock_guard<std::mutex> guard(fLock);
		return fSelections;
	}

private:
	mutable std::mutex fLock;
	std::vector<std::vector<int32>> fSelections;
};

class ListWindowTest : public testing::Test {
protected:
	void SetUp() override
	{
		fApp = std::make_unique<BApplication>("application/x-vnd.tamsel-test-lists");
		fThread = std::thread([this] { fApp->Run(); });
		fRobot = BPrivate::GetHeadlessDisplay();
		ASSERT_NE(fRobot, nullptr);
	}
	void TearDown() override
	{
		fApp->PostMessage(B_QUIT_REQUESTED);
		fThread.join();
		fApp.reset();
		BPrivate::ResetDisplay();
	}

	// Builds a shown window holding the list; the window owns it.
	CountingList* ShowList(list_view_type type, const std::vector<std::string>& before = {})
	{
		fWindow = new ListWindow;
		auto list = std::make_unique<CountingList>(kFrame, "Files", type);
		for (const std::string& text : before)
			list->AddItem(fItems.Make(text));
		CountingList* raw = list.get();
		fWindow->AddChild(list.release());
		fWindow->Show();
		EXPECT_TRUE(fRobot->WaitFor([&] { return fRobot->FindView("Lists", "Files").has_value(); }));
		return raw;
	}

	// Whether the screen shows what the client holds.
	bool ScreenMatches(CountingList* list)
	{
		fWindow->Lock();
		std::vector<std::string> texts = Texts(*list);
		std::vector<int32> rows = Selection(*list);
		fWindow->Unlock();
		return fRobot->WaitFor([&] {
			return fRobot->ListItems("Lists", "Files") == texts
				&& fRobot->ListSelection("Lists", "Files") == rows;
		});
	}

	std::unique_ptr<BApplication> fApp;
	std::thread fThread;
	HeadlessDisplay* fRobot = nullptr;
	ListWindow* fWindow = nullptr;
	Items fItems; // outlives the window: the list deletes none of them
};

} // namespace

TEST_F(ListWindowTest, RowsAddedBeforeAndAfterShowingReachTheScreenOnce)
{
	CountingList* list = ShowList(B_MULTIPLE_SELECTION_LIST, {"one", "two"});
	EXPECT_TRUE(ScreenMatches(list));
	auto view = fRobot->FindView("Lists", "Files");
	ASSERT_TRUE(view.has_value());
	EXPECT_TRUE(view->multipleSelection);

	fWindow->Lock();
	list->AddItem(fItems.Make("zero"), 0);
	list->AddList({fItems.Make("three"), fItems.Make("four")});
	list->Select(1, 2);
	fWindow->Unlock();
	EXPECT_TRUE(ScreenMatches(list));
	EXPECT_EQ(fRobot->ListItems("Lists", "Files"),
		(std::vector<std::string>{"zero", "one", "two", "three", "four"}));

	fWindow->Lock();
	list->MoveItem(1, 4);
	static_cast<BStringItem*>(list->ItemAt(0))->SetText("renamed");
	list->SwapItems(0, 3);
	fWindow->Unlock();
	EXPECT_TRUE(ScreenMatches(list));

	fWindow->Lock();
	for (int32 i = list->CountItems() - 1; i >= 0; i--) {
		if (list->IsItemSelected(i))
			list->RemoveItem(i);
	}
	fWindow->Unlock();
	EXPECT_TRUE(ScreenMatches(list));

	fWindow->Lock();
	list->MakeEmpty();
	list->AddItem(fItems.Make("fresh"));
	fWindow->Unlock();
	EXPECT_TRUE(ScreenMatches(list));
}

TEST_F(ListWindowTest, UserSelectionRunsTheHookAndSendsTheSelectionMessage)
{
	CountingList* list = ShowList(B_MULTIPLE_SELECTION_LIST, {"a", "b", "c", "d"});
	fWindow->Lock();
	list->SetSelectionMessage(new BMessage('SLCT'));
	fWindow->Unlock();

	ASSERT_TRUE(fRobot->SelectRows("Lists", "Files", {1, 3}));
	ASSERT_TRUE(WaitUntil([&] { return list->SelectionChanges() == 1; }));
	EXPECT_EQ(list->LastSeen(), (std::vector<int32>{1, 3}));
	ASSERT_TRUE(WaitUntil([&] { return fWindow->Selections().size() == 1; }));
	EXPECT_EQ(fWindow->Selections()[0], (std::vector<int32>{1, 3}));
	EXPECT_TRUE(ScreenMatches(list));

	// A click on a row that is the whole selection already changes nothing.
	ASSERT_TRUE(fRobot->SelectRow("Lists", "Files", 2));
	ASSERT_TRUE(WaitUntil([&] { return list->SelectionChanges() == 2; }));
	ASSERT_TRUE(fRobot->SelectRow("Lists", "Files", 2));
	ASSERT_TRUE(fRobot->SelectRow("Lists", "Files", 0, false, true));
	ASSERT_TRUE(WaitUntil([&] { return list->SelectionChanges() == 3; }));
	EXPECT_EQ(list->LastSeen(), (std::vector<int32>{0, 2}));
	// The message is handled after the hook has run.
	ASSERT_TRUE(WaitUntil([&] { return fWindow->Selections().size() == 3; }));
	EXPECT_EQ(fWindow->Selections()[2], (std::vector<int32>{0, 2}));
	EXPECT_TRUE(ScreenMatches(list));
}

TEST_F(ListWindowTest, SingleSelectionListKeepsOneRow)
{
	CountingList* list = ShowList(B_SINGLE_SELECTION_LIST, {"a", "b", "c"});
	ASSERT_TRUE(fRobot->SelectRow("Lists", "Files", 0));
	ASSERT_TRUE(fRobot->SelectRow("Lists", "Files", 2, true));
	ASSERT_TRUE(WaitUntil([&] { return list->LastSeen().size() == 1 && list->LastSeen()[0] == 2; }));
	EXPECT_TRUE(ScreenMatches(list));
	fWindow->Lock();
	list->Select(0, 2, true);
	fWindow->Unlock();
	EXPECT_TRUE(ScreenMatches(list));
	EXPECT_EQ(fRobot->ListSelection("Lists", "Files"), std::vector<int32>{2});
}

TEST_F(ListWindowTest, DroppedFilesReachMessageReceived)
{
	TempDir dir;
	ASSERT_TRUE(testing_support::WriteFile(dir / "first.wav", "x"));
	ASSERT_TRUE(testing_support::WriteFile(dir / "second.wav", "y"));
	CountingList* list = ShowList(B_MULTIPLE_SELECTION_LIST);
	ASSERT_TRUE(fRobot->Drop("Lists", "Files", {dir / "first.wav", dir / "second.wav"}));
	ASSERT_TRUE(WaitUntil([&] { return list->Dropped().size() == 2; }));
	EXPECT_EQ(list->Dropped(), (std::vector<std::string>{"first.wav", "second.wav"}));
}

// A burst of removals in one batch: from the bottom up, one row or a block
// at a time, then going the other way, as programs take out what is
// selected. The screen must end up with exactly the client's rows and
// selection whichever way the removals came.
TEST_F(ListWindowTest, BurstsOfRemovalsLeaveTheScreenAsTheClient)
{
	std::vector<std::string> texts;
	for (int i = 0; i < 300; i++)
		texts.push_back("row " + std::to_string(i));
	CountingList* list = ShowList(B_MULTIPLE_SELECTION_LIST, texts);

	std::mt19937 random(7);
	for (int round = 0; round < 20; round++) {
		fWindow->Lock();
		if (list->CountItems() < 40) {
			for (int i = 0; i < 200; i++)
				list->AddItem(fItems.Make("again " + std::to_string(round) + "." + std::to_string(i)));
		}
		for (int32 i = 0; i < list->CountItems(); i++) {
			if (random() % 3 == 0)
				list->Select(i, true);
			else
				list->Deselect(i);
		}
		// Bottom up: about half the selected rows one by one, now and then a
		// block; the selected rows that stay move up.
		int32 row = list->CountItems() - 1;
		while (row >= 0) {
			if (random() % 7 == 0) {
				const int32 count = int32(random() % 4) + 1;
				const int32 from = std::max(0, row - count + 1);
				list->RemoveItems(from, row - from + 1);
				row = from - 1;
			} else {
				if (list->IsItemSelected(row) && random() % 2 == 0)
					list->RemoveItem(row);
				row--;
			}
		}
		// Then top down, which no run may take for one of its own, and an
		// index past the end, which changes nothing.
		for (int32 i = 0; i < 3 && i < list->CountItems(); i++)
			list->RemoveItem(i);
		list->RemoveItem(list->CountItems() + 5);
		fWindow->Unlock();
		ASSERT_TRUE(ScreenMatches(list)) << "round " << round;
	}
}
