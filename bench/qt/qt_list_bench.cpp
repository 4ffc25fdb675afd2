// How long a hundred thousand rows (or as many as the first argument says)
// take from the client's ListInsert to a painted list view, on the Qt display
// (offscreen unless a platform is set), and how long scrolling to the end and
// back to the middle takes, painted, and taking out every other row, selected,
// one removal at a time from the bottom up, as the program's "Remove" does
// with such a selection. Prints one line per run and the best of them; exits
// 1 when the best run is over the budget of one second.
//
//   qt_list_bench [rows]
#include <QtDisplay.h>

#include <InterfaceDefs.h>

#include <QApplication>
#include <QListView>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace BPrivate;
using Clock = std::chrono::steady_clock;

namespace {

int kRows = 100000;
constexpr int kRuns = 5;

Batch Window(WindowId id)
{
	WindowState window;
	window.id = id;
	window.title = "List bench " + std::to_string(id);
	window.frame = BRect(50, 50, 549, 449);
	window.flags = B_NOT_RESIZABLE;
	window.hidden = false;
	ViewState scroll;
	scroll.id = 1;
	scroll.kind = ViewKind::ScrollView;
	scroll.name = "scroll";
	scroll.frame = BRect(10, 10, 489, 389);
	scroll.border = B_FANCY_BORDER;
	scroll.verticalScroll = true;
	scroll.target = 2;
	ViewState list;
	list.id = 2;
	list.parent = 1;
	list.kind = ViewKind::ListView;
	list.name = "list";
	list.frame = BRect(2, 2, 477 - B_V_SCROLL_BAR_WIDTH - 1, 377);
	list.multipleSelection = true;
	Batch batch;
	batch.window = id;
	batch.operations = {WindowCreate{window, BMessenger()}, ViewCreate{scroll}, ViewCreate{list}};
	return batch;
}

// Runs fn with the list view of bench window `run`, on the display thread.
template <typename F>
void WithList(QtDisplay& display, int run, F fn)
{
	display.Invoke([&] {
		for (QWidget* top : QApplication::topLevelWidgets()) {
			if (top->windowTitle() != QString::fromStdString("List bench " + std::to_string(run)))
				continue;
			if (auto* list = top->findChild<QListView*>("list"))
				fn(list);
		}
	});
}

} // namespace

int main(int argc, char** argv)
{
	if (argc > 1 && std::atoi(argv[1]) > 0)
		kRows = std::atoi(argv[1]);
	if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
		setenv("QT_QPA_PLATFORM", "offscreen", 1);
	QtDisplay display;
	double best = 1e9;
	std::thread client([&] {
		if (!display.WaitUntilRunning()) {
			std::fprintf(stderr, "the display never ran\n");
			display.Quit();
			return;
		}
		for (int run = 1; run <= kRuns; run++) {
			display.Apply(Window(run));
			display.Invoke([] {});
			std::vector<std::string> rows;
			rows.reserve(kRows);
			for (int i = 0; i < kRows; i++)
				rows.push_back("/home/user/Music/Some Album/" + std::to_string(i) + " - A track.wav");

			Clock::time_point start = Clock::now();
			Batch batch;
			batch.window = run;
			batch.operations.push_back(ListInsert{2, 0, std::move(rows)});
			display.Apply(std::move(batch));
			int shown = 0;
			// Shown means laid out and painted, not only queued.
			WithList(display, run, [&](QListView* list) {
				list->viewport()->repaint();
				shown = list->model()->rowCount();
			});
			double seconds = std::chrono::duration<double>(Clock::now() - start).count();
			best = std::min(best, seconds);
			// To the end and to the middle, painted each time; the row at the
			// bottom of the view shows that the end was reached.
			int bottomRow = -1;
			Clock::time_point scrollStart = Clock::now();
			WithList(display, run, [&](QListView* list) {
				list->scrollToBottom();
				list->viewport()->repaint();
				bottomRow = list->indexAt(QPoint(1, list->viewport()->height() - 2)).row();
				list->scrollTo(list->model()->index(kRows / 2, 0), QAbstractItemView::PositionAtCenter);
				list->viewport()->repaint();
			});
			double scrolled = std::chrono::duration<double>(Clock::now() - scrollStart).count();

			Batch select;
			select.window = run;
			ListSelect selection{2, {}};
			for (int i = 0; i < kRows; i += 2)
				selection.selected.push_back(i);
			select.operations.push_back(std::move(selection));
			display.Apply(std::move(select));
			display.Invoke([] {});
			Clock::time_point removeStart = Clock::now();
			Batch remove;
			remove.window = run;
			for (int i = (kRows - 1) / 2 * 2; i >= 0; i -= 2)
				remove.operations.push_back(ListRemove{2, i, 1});
			display.Apply(std::move(remove));
			int left = 0;
			WithList(display, run, [&](QListView* list) {
				list->viewport()->repaint();
				left = list->model()->rowCount();
			});
			double removed = std::chrono::duration<double>(Clock::now() - removeStart).count();
			std::printf("run %d: %d rows shown in %.3f s; to row %d and to the middle in %.3f s; "
				"every other row taken out (%d left) in %.3f s\n", run, shown, seconds, bottomRow,
				scrolled, left, removed);
			Batch destroy;
			destroy.window = run;
			destroy.operations.push_back(WindowDestroy{run});
			display.Apply(std::move(destroy));
		}
		display.Quit();
	});
	display.Run();
	client.join();
	std::printf("best: %.3f s for %d rows (budget 1 s)\n", best, kRows);
	return best < 1.0 ? 0 : 1;
}
