// The list view with many rows: appending 100,000 rows until the screen
// shows them all, and removing half of them the way the file list does, from
// the last row down (every other row selected, or one block of rows). Run on the headless display; the detached variants show what the
// client side alone costs.
#include <Application.h>
#include <Display.h>
#include <HeadlessDisplay.h>
#include <ListView.h>
#include <Window.h>

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int32 kRows = 100000;

struct Rows {
	std::vector<std::unique_ptr<BStringItem>> items;
	Rows()
	{
		items.reserve(kRows);
		for (int32 i = 0; i < kRows; i++)
			items.push_back(std::make_unique<BStringItem>(("/music/album/track " + std::to_string(i) + ".wav").c_str()));
	}
};

// The shown window the benchmarks work in; set up by main.
BWindow* sWindow = nullptr;
BListView* sList = nullptr;
BPrivate::HeadlessDisplay* sRobot = nullptr;

bool ScreenHasRows(size_t count)
{
	return sRobot->WaitFor([&] { return sRobot->ListItems("Bench", "Files").size() == count; },
		std::chrono::seconds(60));
}

void RemoveSelectedDownwards(BListView& list)
{
	for (int32 i = list.CountItems() - 1; i >= 0; i--) {
		if (list.IsItemSelected(i))
			list.RemoveItem(i);
	}
}

void BM_AddItemsShown(benchmark::State& state)
{
	Rows rows;
	for (auto _ : state) {
		sWindow->Lock();
		for (auto& item : rows.items)
			sList->AddItem(item.get());
		sWindow->Unlock();
		if (!ScreenHasRows(kRows))
			state.SkipWithError("the screen never showed every row");

		state.PauseTiming();
		sWindow->Lock();
		sList->MakeEmpty();
		sWindow->Unlock();
		ScreenHasRows(0);
		state.ResumeTiming();
	}
	state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_AddItemsShown)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RemoveHalfSelectedShown(benchmark::State& state)
{
	Rows rows;
	// 0: every other row (scattered); 1: the first half (one block).
	std::vector<int32> selected;
	for (int32 i = 0; i < kRows / 2; i++)
		selected.push_back(state.range(0) == 0 ? 2 * i : i);
	for (auto _ : state) {
		state.PauseTiming();
		sWindow->Lock();
		for (auto& item : rows.items)
			sList->AddItem(item.get());
		sWindow->Unlock();
		ScreenHasRows(kRows);
		// Selected the way a user does: the display reports the selection.
		sRobot->SelectRows("Bench", "Files", selected);
		sRobot->WaitFor([&] {
			sWindow->Lock();
			bool done = sList->CurrentSelection(kRows / 2 - 1) >= 0;
			sWindow->Unlock();
			return done;
		}, std::chrono::seconds(60));
		state.ResumeTiming();

		sWindow->Lock();
		RemoveSelectedDownwards(*sList);
		sWindow->Unlock();
		if (!ScreenHasRows(kRows / 2))
			state.SkipWithError("the screen never caught up");

		state.PauseTiming();
		sWindow->Lock();
		sList->MakeEmpty();
		sWindow->Unlock();
		ScreenHasRows(0);
		state.ResumeTiming();
	}
}
BENCHMARK(BM_RemoveHalfSelectedShown)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_AddItemsDetached(benchmark::State& state)
{
	Rows rows;
	for (auto _ : state) {
		BListView list(BRect(0, 0, 99, 99), "detached", B_MULTIPLE_SELECTION_LIST);
		for (auto& item : rows.items)
			list.AddItem(item.get());
		benchmark::DoNotOptimize(list.CountItems());
	}
}
BENCHMARK(BM_AddItemsDetached)->Unit(benchmark::kMillisecond);

void BM_RemoveHalfSelectedDetached(benchmark::State& state)
{
	Rows rows;
	for (auto _ : state) {
		state.PauseTiming();
		BListView list(BRect(0, 0, 99, 99), "detached", B_MULTIPLE_SELECTION_LIST);
		for (auto& item : rows.items)
			list.AddItem(item.get());
		for (int32 i = 0; i < kRows; i += 2)
			list.Select(i, true);
		state.ResumeTiming();
		RemoveSelectedDownwards(list);
		benchmark::DoNotOptimize(list.CountItems());
	}
}
BENCHMARK(BM_RemoveHalfSelectedDetached)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
	benchmark::Initialize(&argc, argv);
	BApplication app("application/x-vnd.tamsel-bench-lists");
	std::thread loop([&] { app.Run(); });
	sRobot = BPrivate::GetHeadlessDisplay();
	sWindow = new BWindow(BRect(0, 0, 399, 399), "Bench", B_TITLED_WINDOW, 0);
	auto list = std::make_unique<BListView>(BRect(0, 0, 399, 399), "Files", B_MULTIPLE_SELECTION_LIST);
	sList = list.get();
	sWindow->AddChild(list.release());
	sWindow->Show();
	sRobot->WaitFor([] { return sRobot->FindView("Bench", "Files").has_value(); });

	benchmark::RunSpecifiedBenchmarks();
	benchmark::Shutdown();

	// The rows belong to the benchmarks, which are over: leave none behind.
	sWindow->Lock();
	sList->MakeEmpty();
	sWindow->Unlock();
	app.PostMessage(B_QUIT_REQUESTED);
	loop.join();
	return 0;
}
