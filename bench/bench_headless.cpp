// What the program's windows cost on the headless display: filling a large
// list, many changes under one lock, and how long a message posted to an
// idle looper (or a click on a button) waits before it is handled.
#include <Application.h>
#include <Button.h>
#include <HeadlessDisplay.h>
#include <ListItem.h>
#include <ListView.h>
#include <Looper.h>
#include <StringView.h>
#include <Window.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32 kPing = 'PING';
constexpr uint32 kClicked = 'CLKD';

class BenchApp : public BApplication {
public:
	BenchApp() : BApplication("application/x-vnd.tamsel-bench-headless") {}
};

// Counts what it handles; the benchmark thread spins on the count so that
// only the looper's wake-up is measured.
class CountingWindow : public BWindow {
public:
	CountingWindow()
		: BWindow(BRect(0, 0, 599, 499), "Bench", B_TITLED_WINDOW, 0)
	{
		list = new BListView(BRect(0, 0, 300, 400), "List", B_MULTIPLE_SELECTION_LIST);
		AddChild(list);
		line = new BStringView(BRect(310, 0, 590, 14), "Line", "");
		AddChild(line);
		AddChild(new BButton(BRect(310, 20, 390, 44), "Button", "Click", new BMessage(kClicked)));
	}
	void MessageReceived(BMessage* message) override
	{
		if (message->what == kClicked || message->what == kPing)
			handled.fetch_add(1, std::memory_order_release);
		else
			BWindow::MessageReceived(message);
	}
	std::atomic<int64> handled{0};
	BListView* list;
	BStringView* line;
};

class CountingLooper : public BLooper {
public:
	CountingLooper() : BLooper("idle") {}
	void MessageReceived(BMessage* message) override
	{
		if (message->what == kPing)
			handled.fetch_add(1, std::memory_order_release);
	}
	std::atomic<int64> handled{0};
};

CountingWindow* gWindow = nullptr;

BPrivate::HeadlessDisplay& Robot()
{
	return *BPrivate::GetHeadlessDisplay();
}

void WaitForCount(const std::atomic<int64>& counter, int64 count)
{
	while (counter.load(std::memory_order_acquire) < count)
		std::this_thread::yield();
}

void ReportMedian(benchmark::State& state, std::vector<double>& micros)
{
	if (micros.empty())
		return;
	std::sort(micros.begin(), micros.end());
	state.counters["median_us"] = micros[micros.size() / 2];
	state.counters["p90_us"] = micros[micros.size() * 9 / 10];
}

// 100,000 rows appended under one lock, until the display shows them all.
void BM_ListAddItems(benchmark::State& state)
{
	const int32 count = int32(state.range(0));
	std::vector<std::unique_ptr<BStringItem>> items;
	for (auto _ : state) {
		state.PauseTiming();
		items.clear();
		for (int32 i = 0; i < count; i++)
			items.push_back(std::make_unique<BStringItem>(("/music/track" + std::to_string(i) + ".wav").c_str()));
		state.ResumeTiming();

		gWindow->Lock();
		for (auto& item : items)
			gWindow->list->AddItem(item.get());
		gWindow->Unlock();
		bool shown = Robot().WaitFor([count] {
			return Robot().ListItems("Bench", "List").size() == size_t(count);
		}, std::chrono::seconds(30));
		if (!shown)
			state.SkipWithError("the display never showed every row");

		state.PauseTiming();
		gWindow->Lock();
		gWindow->list->MakeEmpty();
		gWindow->Unlock();
		state.ResumeTiming();
	}
	state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_ListAddItems)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same rows, each AddItem taking the lock on its own (a thread that
// forgot to lock): one batch per row.
void BM_ListAddItemsUnlocked(benchmark::State& state)
{
	const int32 count = int32(state.range(0));
	std::vector<std::unique_ptr<BStringItem>> items;
	for (auto _ : state) {
		state.PauseTiming();
		items.clear();
		for (int32 i = 0; i < count; i++)
			items.push_back(std::make_unique<BStringItem>(("row " + std::to_string(i)).c_str()));
		state.ResumeTiming();
		for (auto& item : items)
			gWindow->list->AddItem(item.get());
		state.PauseTiming();
		gWindow->Lock();
		gWindow->list->MakeEmpty();
		gWindow->Unlock();
		state.ResumeTiming();
	}
	state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_ListAddItemsUnlocked)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

// 10,000 texts set under one lock: one batch reaches the display.
void BM_SetTextUnderOneLock(benchmark::State& state)
{
	const int32 count = int32(state.range(0));
	int64 round = 0;
	for (auto _ : state) {
		gWindow->Lock();
		for (int32 i = 0; i < count; i++)
			gWindow->line->SetText(("File " + std::to_string(i) + " of " + std::to_string(round)).c_str());
		gWindow->Unlock();
		round++;
	}
	state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_SetTextUnderOneLock)->Arg(10000)->Unit(benchmark::kMicrosecond)->UseRealTime();

// From PostMessage to the handler, for a looper that waits for work.
void BM_PostToIdleLooper(benchmark::State& state)
{
	auto* looper = new CountingLooper;
	looper->Run();
	std::vector<double> micros;
	int64 sent = 0;
	for (auto _ : state) {
		auto start = Clock::now();
		looper->PostMessage(kPing);
		WaitForCount(looper->handled, ++sent);
		micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
		// Let the looper go back to waiting, so that every post meets an idle looper.
		state.PauseTiming();
		std::this_thread::sleep_for(std::chrono::microseconds(200));
		state.ResumeTiming();
	}
	ReportMedian(state, micros);
	looper->Lock();
	looper->Quit();
}
BENCHMARK(BM_PostToIdleLooper)->Iterations(2000)->Unit(benchmark::kMicrosecond)->UseRealTime();

// A robot click on a button until the window's handler has its message:
// the input message, the button's invoke and its message to the window.
void BM_RobotClick(benchmark::State& state)
{
	std::vector<double> micros;
	int64 expected = gWindow->handled.load();
	for (auto _ : state) {
		auto start = Clock::now();
		if (!Robot().Click("Bench", "Button")) {
			state.SkipWithError("the click was refused");
			break;
		}
		WaitForCount(gWindow->handled, ++expected);
		micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
		state.PauseTiming();
		std::this_thread::sleep_for(std::chrono::microseconds(200));
		state.ResumeTiming();
	}
	ReportMedian(state, micros);
}
BENCHMARK(BM_RobotClick)->Iterations(2000)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
	benchmark::Initialize(&argc, argv);
	auto app = std::make_unique<BenchApp>();
	std::thread serving([&app] { app->Run(); });
	while (app->IsLaunching())
		std::this_thread::yield();
	gWindow = new CountingWindow;
	gWindow->Show();
	Robot().WaitFor([] { return Robot().IsWindowShown("Bench"); });

	benchmark::RunSpecifiedBenchmarks();
	benchmark::Shutdown();

	be_app_messenger.SendMessage(B_QUIT_REQUESTED);
	serving.join();
	app.reset();
	return 0;
}
