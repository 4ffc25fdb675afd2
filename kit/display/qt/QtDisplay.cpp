#include "QtDisplayImpl.h"

#include <AppDefs.h>
#include <Entry.h>
#include <InterfaceDefs.h>
#include <StorageDefs.h>

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QFrame>
#include <QItemSelection>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QTabBar>
#include <QTimer>
#include <QUrl>
#include <QValidator>
#include <QWindow>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/syscall.h>
#include <unistd.h>

namespace BPrivate {

namespace {

// Qt keeps pointers to argc and argv for the application's lifetime.
char gProgramName[] = "TamselGogoFrontend";
char* gArgv[] = {gProgramName, nullptr};
int gArgc = 1;

// Fixed metrics for the rare answer that cannot wait for Qt's fonts.
constexpr float kFixedCharWidth = 7;
constexpr float kFixedLineHeight = 14;

QRect ToQRect(const BRect& frame)
{
	int left = int(std::lround(frame.left));
	int top = int(std::lround(frame.top));
	int width = int(std::lround(frame.right - frame.left)) + 1;
	int height = int(std::lround(frame.bottom - frame.top)) + 1;
	return QRect(left, top, std::max(width, 0), std::max(height, 0));
}

QColor ToQColor(rgb_color color)
{
	return QColor(color.red, color.green, color.blue, color.alpha);
}

bool SameMenu(const std::vector<MenuItemState>& a, const std::vector<MenuItemState>& b)
{
	if (a.size() != b.size())
		return false;
	for (size_t i = 0; i < a.size(); i++) {
		const MenuItemState& x = a[i];
		const MenuItemState& y = b[i];
		if (x.id != y.id || x.label != y.label || x.separator != y.separator
			|| x.marked != y.marked || x.enabled != y.enabled || x.isMenu != y.isMenu
			|| x.radioMode != y.radioMode || x.labelFromMarked != y.labelFromMarked
			|| !SameMenu(x.items, y.items))
			return false;
	}
	return true;
}

// The label a menu field shows: the marked item's when the menu says so.
std::string FieldLabel(const MenuItemState& menu)
{
	if (menu.labelFromMarked) {
		for (const MenuItemState& item : menu.items) {
			if (item.marked && !item.separator)
				return item.label;
		}
	}
	return menu.label;
}

// Text fields count their limit in UTF-8 bytes; QLineEdit's own limit
// counts characters, which lets "é" through twice as often.
class ByteLimitValidator : public QValidator {
public:
	explicit ByteLimitValidator(QObject* parent) : QValidator(parent) {}
	void SetLimit(int32 limit) { fLimit = limit; }
	State validate(QString& input, int&) const override
	{
		if (fLimit > 0 && input.toUtf8().size() > fLimit)
			return Invalid;
		return Acceptable;
	}

private:
	int32 fLimit = 0;
};

bool HasLocalFiles(const QMimeData* data)
{
	if (!data || !data->hasUrls())
		return false;
	for (const QUrl& url : data->urls()) {
		if (url.isLocalFile())
			return true;
	}
	return false;
}

// Watches a window's widgets for files dragged onto them. Each view widget
// accepts drops itself so that a drag lands on the deepest one, and the
// filter runs before widgets with drop handling of their own (a line edit
// would insert the URL as text).
class DropFilter : public QObject {
public:
	DropFilter(QtDisplay::Impl* display, WindowId window, QWidget* top)
		: QObject(top), fDisplay(display), fWindow(window), fTop(top) {}

protected:
	bool eventFilter(QObject* object, QEvent* event) override
	{
		switch (event->type()) {
			case QEvent::DragEnter:
			case QEvent::DragMove: {
				auto* drag = static_cast<QDropEvent*>(event);
				if (!HasLocalFiles(drag->mimeData()))
					return false;
				drag->setDropAction(Qt::CopyAction);
				drag->accept();
				return true;
			}
			case QEvent::Drop: {
				auto* drop = static_cast<QDropEvent*>(event);
				if (!HasLocalFiles(drop->mimeData()) || !object->isWidgetType())
					return false;
				auto* widget = static_cast<QWidget*>(object);
				QPoint where = widget->mapTo(fTop, drop->position().toPoint());
				BMessage message(B_SIMPLE_DATA);
				for (const QUrl& url : drop->mimeData()->urls()) {
					if (!url.isLocalFile())
						continue;
					std::string path = url.toLocalFile().toStdString();
					entry_ref ref;
					if (get_ref_for_path(path.c_str(), &ref) == B_OK)
						message.AddRef("refs", &ref);
				}
				drop->setDropAction(Qt::CopyAction);
				drop->accept();
				if (!message.HasRef("refs"))
					return true;
				if (WindowRec* window = fDisplay->FindWindowRec(fWindow))
					fDisplay->PostInput(fWindow, fDisplay->ViewAt(*window, where), std::move(message));
				return true;
			}
			default:
				return false;
		}
	}

private:
	QtDisplay::Impl* fDisplay;
	WindowId fWindow;
	QWidget* fTop;
};

// For start-up timing: tells the display when a window is first on the
// screen. The platform window's expose event says so; the top-level widget
// itself may never paint, its back view covers it.
class ExposeWatcher : public QObject {
public:
	ExposeWatcher(QtDisplay::Impl* display, QObject* parent) : QObject(parent), fDisplay(display) {}

protected:
	bool eventFilter(QObject* object, QEvent* event) override
	{
		if (event->type() == QEvent::Expose && static_cast<QWindow*>(object)->isExposed())
			fDisplay->WindowShown();
		return false;
	}

private:
	QtDisplay::Impl* fDisplay;
};

Qt::WindowFlags FlagsFor(const WindowState& state)
{
	Qt::WindowFlags flags = Qt::Window;
	bool floating = state.look == B_FLOATING_WINDOW_LOOK
		|| state.feel == B_FLOATING_APP_WINDOW_FEEL || state.feel == B_FLOATING_SUBSET_WINDOW_FEEL
		|| state.feel == B_FLOATING_ALL_WINDOW_FEEL;
	if (floating)
		flags = Qt::Tool;
	else if (state.look == B_MODAL_WINDOW_LOOK)
		flags = Qt::Dialog;
	if (state.look == B_NO_BORDER_WINDOW_LOOK)
		return flags | Qt::FramelessWindowHint;
	flags |= Qt::CustomizeWindowHint | Qt::WindowSystemMenuHint;
	if (state.look != B_BORDERED_WINDOW_LOOK)
		flags |= Qt::WindowTitleHint;
	if (!(state.flags & B_NOT_MINIMIZABLE) && !floating)
		flags |= Qt::WindowMinimizeButtonHint;
	if (!(state.flags & (B_NOT_ZOOMABLE | B_NOT_RESIZABLE)))
		flags |= Qt::WindowMaximizeButtonHint;
	if (!(state.flags & B_NOT_CLOSABLE))
		flags |= Qt::WindowCloseButtonHint;
	return flags;
}

Qt::WindowModality ModalityFor(const WindowState& state)
{
	switch (state.feel) {
		case B_MODAL_APP_WINDOW_FEEL:
		case B_MODAL_SUBSET_WINDOW_FEEL:
		case B_MODAL_ALL_WINDOW_FEEL:
			return Qt::ApplicationModal;
		default:
			return Qt::NonModal;
	}
}

} // namespace

QString PlainLabel(const std::string& label)
{
	return QString::fromStdString(label).replace(QLatin1Char('&'), QLatin1String("&&"));
}

// ---- the window widget ---------------------------------------------------

QtKitWindow::QtKitWindow(QtDisplay::Impl* display, WindowId id)
	:
	fDisplay(display),
	fId(id)
{
}

void QtKitWindow::closeEvent(QCloseEvent* event)
{
	if (fAllowClose) {
		event->accept();
		return;
	}
	event->ignore();
	fDisplay->CloseRequested(fId);
}

void QtKitWindow::changeEvent(QEvent* event)
{
	QWidget::changeEvent(event);
	if (event->type() != QEvent::WindowStateChange || !isVisible())
		return;
	const Qt::WindowStates states = windowState();
	if ((fKeepUnminimised && (states & Qt::WindowMinimized))
		|| (fKeepUnzoomed && (states & (Qt::WindowMaximized | Qt::WindowFullScreen)))) {
		// Not from inside the state change itself: the window system is
		// still busy with it.
		QTimer::singleShot(0, this, [this] {
			setWindowState(Qt::WindowNoState);
			showNormal();
			raise();
			activateWindow();
		});
	}
}

// ---- threads -------------------------------------------------------------

bool QtDisplay::Impl::OnMainThread()
{
	// Qt's GUI thread is the process's first thread; its id is the pid.
	return pid_t(syscall(SYS_gettid)) == getpid();
}

void QtDisplay::Impl::EnsureApplication()
{
	if (!QCoreApplication::instance()) {
		// Lives as long as the process: Qt does not like a second
		// application object after the first, and tests run several kit
		// applications in a row.
		new QApplication(gArgc, gArgv);
	}
	QApplication::setQuitOnLastWindowClosed(false);
}

void QtDisplay::Impl::Post(std::function<void()> task)
{
	std::lock_guard guard(lock);
	tasks.push_back({std::move(task), nullptr});
	if (waker && !wakePosted) {
		wakePosted = true;
		QMetaObject::invokeMethod(waker, [this] { Drain(); }, Qt::QueuedConnection);
	}
}

bool QtDisplay::Impl::Call(const std::function<void()>& fn)
{
	if (OnMainThread()) {
		if (!QCoreApplication::instance())
			return false;
		fn();
		return true;
	}
	CallState state;
	std::unique_lock guard(lock);
	if (!running && quitRequested)
		return false;
	tasks.push_back({[&fn] { fn(); }, &state});
	if (waker && !wakePosted) {
		wakePosted = true;
		QMetaObject::invokeMethod(waker, [this] { Drain(); }, Qt::QueuedConnection);
	}
	// A call made before the display serves waits for it: the first windows
	// ask for their sizes while the main thread is still on its way into the
	// event loop, and only a measurement is the same on every start. A
	// display that never comes to serve is given up after a while.
	const auto giveUp = std::chrono::steady_clock::now() + kWaitForServing;
	while (!state.finished) {
		if (running) {
			callDone.wait(guard, [&state] { return state.finished; });
			break;
		}
		if (callDone.wait_until(guard, giveUp) == std::cv_status::timeout && !running
			&& !state.finished) {
			std::erase_if(tasks, [&state](const Task& task) { return task.call == &state; });
			return false;
		}
	}
	return state.ran;
}

void QtDisplay::Impl::ReleaseCallers()
{
	// Nobody is left to run what callers wait for.
	std::erase_if(tasks, [](const Task& task) {
		if (!task.call)
			return false;
		task.call->finished = true;
		return true;
	});
	callDone.notify_all();
}

void QtDisplay::Impl::Drain()
{
	std::vector<Task> pending;
	{
		std::lock_guard guard(lock);
		wakePosted = false;
		pending.swap(tasks);
	}
	// One pass only: work queued meanwhile has posted a wake-up of its own,
	// so a busy client cannot starve painting and input.
	for (Task& task : pending) {
		task.fn();
		if (task.call) {
			std::lock_guard guard(lock);
			task.call->ran = true;
			task.call->finished = true;
			callDone.notify_all();
		}
	}
}

// ---- windows -------------------------------------------------------------

WindowRec* QtDisplay::Impl::FindWindowRec(WindowId id)
{
	auto it = windows.find(id);
	return it == windows.end() ? nullptr : it->second.get();
}

WindowRec* QtDisplay::Impl::FindWindowRec(const std::string& title)
{
	for (auto& [id, window] : windows) {
		if (window->state.title == title)
			return window.get();
	}
	return nullptr;
}

ViewRec* QtDisplay::Impl::FindViewRec(WindowRec& window, ViewId id)
{
	auto it = window.views.find(id);
	return it == window.views.end() ? nullptr : it->second.get();
}

ViewRec* QtDisplay::Impl::FindViewRec(WindowRec& window, const std::string& name)
{
	for (auto& [id, view] : window.views) {
		if (view->state.name == name)
			return view.get();
	}
	return nullptr;
}

void QtDisplay::Impl::ApplyBatch(Batch& batch)
{
	for (size_t at = 0; at < batch.operations.size(); at++) {
		Operation& operation = batch.operations[at];
		if (std::holds_alternative<ListRemove>(operation)) {
			if (WindowRec* window = FindWindowRec(batch.window)) {
				if (size_t applied = ApplyRemovalRun(*window, batch.operations, at)) {
					at += applied - 1;
					continue;
				}
			}
		}
		std::visit([&](auto& op) {
			using T = std::decay_t<decltype(op)>;
			if constexpr (std::is_same_v<T, WindowCreate>) {
				CreateWindow(op);
			} else if constexpr (std::is_same_v<T, WindowUpdate>) {
				UpdateWindow(op.state);
			} else if constexpr (std::is_same_v<T, WindowDestroy>) {
				DestroyWindow(op.id);
			} else {
				WindowRec* window = FindWindowRec(batch.window);
				if (!window)
					return;
				if constexpr (std::is_same_v<T, ViewCreate>) {
					CreateView(*window, op.state);
				} else if constexpr (std::is_same_v<T, ViewUpdate>) {
					if (ViewRec* view = FindViewRec(*window, op.state.id))
						UpdateView(*window, *view, op.state, false);
					else
						CreateView(*window, op.state);
				} else if constexpr (std::is_same_v<T, ViewDestroy>) {
					DestroyView(*window, op.id);
				} else {
					ViewRec* view = FindViewRec(*window, op.view);
					if (!view || !view->model)
						return;
					view->applying = true;
					if constexpr (std::is_same_v<T, ListInsert>)
						view->model->Insert(op.index, std::move(op.texts));
					else if constexpr (std::is_same_v<T, ListRemove>)
						view->model->Remove(op.index, op.count);
					else if constexpr (std::is_same_v<T, ListMove>)
						view->model->Move(op.from, op.to);
					else if constexpr (std::is_same_v<T, ListSetText>)
						view->model->SetText(op.index, std::move(op.text));
					else if constexpr (std::is_same_v<T, ListSelect>)
						ApplyListSelection(*view, op.selected);
					else if constexpr (std::is_same_v<T, ListClear>)
						view->model->Clear();
					view->applying = false;
				}
			}
		}, operation);
	}
}

// Removals from the bottom up (see RemovalRun.h). A few are made one by one,
// so that the view keeps its state as it always does; many at once are one
// reset of the model, which Qt does in linear time where a removal each
// would take quadratic time, after which the selection, the current row and
// the scroll position are put back as they would have come out. Returns how
// many operations from `at` it applied: 0 when the one there does not start
// such a run.
size_t QtDisplay::Impl::ApplyRemovalRun(WindowRec& window, const std::vector<Operation>& operations,
	size_t at)
{
	constexpr size_t kOneByOne = 32;
	const auto* first = std::get_if<ListRemove>(&operations[at]);
	ViewRec* view = first ? FindViewRec(window, first->view) : nullptr;
	if (!view || !view->model || !view->list)
		return 0;
	const RemovalRun run = FindRemovalRun(operations, at, view->model->Count());
	if (run.operations == 0)
		return 0;

	view->applying = true;
	if (run.ranges.size() <= kOneByOne) {
		for (auto range = run.ranges.rbegin(); range != run.ranges.rend(); ++range)
			view->model->Remove(range->first, range->second - range->first);
	} else {
		QItemSelectionModel* selection = view->list->selectionModel();
		// From the ranges: selectedRows() asks about each row in turn, which
		// takes quadratic time over a scattered selection.
		std::vector<int32> selected;
		for (const QItemSelectionRange& range : selection->selection()) {
			for (int32 row = range.top(); row <= range.bottom(); row++)
				selected.push_back(row);
		}
		std::sort(selected.begin(), selected.end());
		selected.erase(std::unique(selected.begin(), selected.end()), selected.end());
		const int32 current = selection->currentIndex().row();
		const QModelIndex top = view->list->indexAt(QPoint(1, 1));

		view->model->RemoveRanges(run.ranges);

		ApplyListSelection(*view, RowsAfterRemoval(selected, run.ranges));
		if (current >= 0) {
			const std::vector<int32> kept = RowsAfterRemoval({current}, run.ranges);
			if (!kept.empty())
				selection->setCurrentIndex(view->model->index(kept.front()), QItemSelectionModel::NoUpdate);
		}
		if (top.isValid() && view->model->Count() > 0) {
			// The old top row, or the first after it that stayed.
			const int32 row = std::min(PlaceAfterRemoval(top.row(), run.ranges),
				view->model->Count() - 1);
			view->list->scrollTo(view->model->index(row), QAbstractItemView::PositionAtTop);
		}
	}
	view->applying = false;
	return run.operations;
}

void QtDisplay::Impl::CreateWindow(WindowCreate& op)
{
	WindowRec* window = FindWindowRec(op.state.id);
	if (!window) {
		auto created = std::make_unique<WindowRec>();
		created->id = op.state.id;
		created->widget = std::make_unique<QtKitWindow>(this, op.state.id);
		InstallDropTarget(created->widget.get(), op.state.id);
		window = created.get();
		windows[op.state.id] = std::move(created);
	}
	window->input = op.input;
	UpdateWindow(op.state);
}

void QtDisplay::Impl::UpdateWindow(const WindowState& state)
{
	WindowRec* window = FindWindowRec(state.id);
	if (!window)
		return;
	QtKitWindow* top = window->widget.get();
	bool first = !window->configured;
	WindowState old = window->state;
	window->state = state;
	window->configured = true;

	if (first || old.title != state.title)
		top->setWindowTitle(QString::fromStdString(state.title));

	bool reshow = false;
	top->SetKeptNormal((state.flags & B_NOT_MINIMIZABLE) != 0,
		(state.flags & (B_NOT_ZOOMABLE | B_NOT_RESIZABLE)) != 0);
	Qt::WindowFlags flags = FlagsFor(state);
	if (top->windowFlags() != flags) {
		reshow = top->isVisible();
		top->setWindowFlags(flags); // hides the window
	}
	// Modality only takes effect when a window is shown.
	Qt::WindowModality modality = ModalityFor(state);
	if (top->windowModality() != modality) {
		if (top->isVisible()) {
			top->hide();
			reshow = true;
		}
		top->setWindowModality(modality);
	}

	QRect geometry = ToQRect(state.frame);
	if (first || old.frame != state.frame || old.flags != state.flags) {
		QSize minimum(0, 0);
		QSize maximum(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
		if (state.flags & (B_NOT_RESIZABLE | B_NOT_H_RESIZABLE)) {
			minimum.setWidth(geometry.width());
			maximum.setWidth(geometry.width());
		}
		if (state.flags & (B_NOT_RESIZABLE | B_NOT_V_RESIZABLE)) {
			minimum.setHeight(geometry.height());
			maximum.setHeight(geometry.height());
		}
		top->setMinimumSize(minimum);
		top->setMaximumSize(maximum);
		if (top->geometry() != geometry)
			top->setGeometry(geometry);
	}

	if (!state.hidden && (!top->isVisible() || reshow)) {
		top->show();
		if (exitWhenShown && top->windowHandle())
			top->windowHandle()->installEventFilter(new ExposeWatcher(this, top));
	}
	else if (state.hidden && top->isVisible())
		top->hide();
}

void QtDisplay::Impl::DestroyWindow(WindowId id)
{
	auto it = windows.find(id);
	if (it == windows.end())
		return;
	std::unique_ptr<WindowRec> window = std::move(it->second);
	windows.erase(it);
	window->widget->AllowClose();
	window->widget->close();
	// Deleting the top level deletes every view widget with it.
	window->views.clear();
	window->widget.reset();
}

bool QtDisplay::Impl::CloseRequested(WindowId id)
{
	WindowRec* window = FindWindowRec(id);
	if (!window || (window->state.flags & B_NOT_CLOSABLE))
		return false;
	BMessage message(B_QUIT_REQUESTED);
	PostInput(id, message);
	return true;
}

void QtDisplay::Impl::WindowShown()
{
	if (!exitWhenShown)
		return;
	// Start-up timing: the window is on the screen, nothing else matters.
	std::fflush(nullptr);
	std::_Exit(0);
}

void QtDisplay::Impl::CloseEverything()
{
	while (!windows.empty())
		DestroyWindow(windows.begin()->first);
	// A looper may be waiting for its alert's answer; closing a box counts
	// as its last button, as Escape does.
	while (!alerts.empty()) {
		AlertRec alert = std::move(alerts.begin()->second);
		alerts.erase(alerts.begin());
		if (alert.box) {
			alert.box->disconnect(alert.box, nullptr, nullptr, nullptr);
			delete alert.box;
		}
		if (alert.answer)
			alert.answer(std::max<int32>(int32(alert.request.buttons.size()) - 1, 0));
	}
	while (!panels.empty()) {
		PanelRec panel = std::move(panels.begin()->second);
		panels.erase(panels.begin());
		if (panel.dialog) {
			panel.dialog->disconnect(panel.dialog, nullptr, nullptr, nullptr);
			delete panel.dialog;
		}
	}
}

// ---- input ---------------------------------------------------------------

void QtDisplay::Impl::PostInput(WindowId window, BMessage& message)
{
	std::function<void(WindowId, const BMessage&)> watcher;
	{
		std::lock_guard guard(lock);
		watcher = observer;
	}
	if (watcher)
		watcher(window, message);
	if (WindowRec* rec = FindWindowRec(window))
		rec->input.SendMessage(&message);
}

void QtDisplay::Impl::PostInput(WindowId window, ViewId view, BMessage message)
{
	message.AddInt32("_view", view);
	PostInput(window, message);
}

ViewId QtDisplay::Impl::ViewAt(const WindowRec& window, QPoint where) const
{
	QWidget* top = window.widget.get();
	ViewId best = 0;
	int bestDepth = -1;
	for (const auto& [id, view] : window.views) {
		QWidget* widget = view->widget;
		if (!widget || !widget->isVisibleTo(top))
			continue;
		QRect area(widget->mapTo(top, QPoint(0, 0)), widget->size());
		if (!area.contains(where))
			continue;
		int depth = 0;
		for (ViewId parent = view->state.parent; parent != 0 && depth < 1000; depth++) {
			auto it = window.views.find(parent);
			if (it == window.views.end())
				break;
			parent = it->second->state.parent;
		}
		if (depth > bestDepth) {
			bestDepth = depth;
			best = id;
		}
	}
	return best;
}

void QtDisplay::Impl::InstallDropTarget(QWidget* widget, WindowId window)
{
	WindowRec* rec = FindWindowRec(window);
	QWidget* top = rec ? rec->widget.get() : widget->window();
	DropFilter* filter = top->findChild<DropFilter*>(QString(), Qt::FindDirectChildrenOnly);
	if (!filter)
		filter = new DropFilter(this, window, top);
	widget->setAcceptDrops(true);
	widget->installEventFilter(filter);
}

// ---- views ---------------------------------------------------------------

void QtDisplay::Impl::CreateView(WindowRec& window, const ViewState& state)
{
	if (window.views.count(state.id))
		return;
	ViewRec* parentRec = state.parent ? FindViewRec(window, state.parent) : nullptr;
	QWidget* parent = parentRec && parentRec->container ? parentRec->container
		: window.widget.get();
	auto rec = std::make_unique<ViewRec>();
	rec->state = state;
	WindowId wid = window.id;
	ViewId vid = state.id;
	// Signals look the view up again: a widget may outlive its record for
	// the length of a queued delete.
	auto find = [this, wid, vid]() -> ViewRec* {
		WindowRec* w = FindWindowRec(wid);
		return w ? FindViewRec(*w, vid) : nullptr;
	};

	QWidget* widget = nullptr;
	switch (state.kind) {
		case ViewKind::Button: {
			auto* button = new QPushButton(parent);
			QObject::connect(button, &QPushButton::clicked, button, [this, find, wid, vid] {
				if (ViewRec* view = find(); view && !view->applying)
					PostInput(wid, vid, BMessage(K_INPUT_INVOKE));
			});
			widget = button;
			break;
		}
		case ViewKind::CheckBox: {
			auto* box = new QCheckBox(parent);
			// clicked, not toggled: only the user's clicks are input.
			QObject::connect(box, &QCheckBox::clicked, box, [this, find, wid, vid](bool checked) {
				ViewRec* view = find();
				if (!view || view->applying)
					return;
				// The client takes the user's value without sending it back;
				// what we remember of its state follows, so that a later
				// change is told apart from this one.
				view->state.value = checked ? B_CONTROL_ON : B_CONTROL_OFF;
				BMessage message(K_INPUT_INVOKE);
				message.AddInt32("value", view->state.value);
				PostInput(wid, vid, std::move(message));
			});
			widget = box;
			break;
		}
		case ViewKind::TextControl: {
			widget = new QWidget(parent);
			rec->label = new QLabel(widget);
			rec->label->setTextFormat(Qt::PlainText);
			rec->edit = new QLineEdit(widget);
			rec->edit->setValidator(new ByteLimitValidator(rec->edit));
			rec->label->setBuddy(rec->edit);
			// setText never emits textEdited, so the client's own changes
			// are not sent back.
			QObject::connect(rec->edit, &QLineEdit::textEdited, rec->edit,
				[this, find, wid, vid](const QString& text) {
					ViewRec* view = find();
					if (!view || view->applying)
						return;
					view->state.text = text.toStdString();
					BMessage message(K_INPUT_TEXT);
					message.AddString("text", view->state.text);
					PostInput(wid, vid, std::move(message));
				});
			InstallDropTarget(rec->edit, wid);
			break;
		}
		case ViewKind::StringView: {
			auto* label = new QLabel(parent);
			label->setTextFormat(Qt::PlainText);
			label->setWordWrap(false);
			label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
			rec->label = label;
			widget = label;
			break;
		}
		case ViewKind::MenuBar: {
			auto* bar = new QMenuBar(parent);
			bar->setNativeMenuBar(false);
			rec->menuBar = bar;
			widget = bar;
			break;
		}
		case ViewKind::MenuField: {
			widget = new QWidget(parent);
			rec->label = new QLabel(widget);
			rec->label->setTextFormat(Qt::PlainText);
			rec->fieldButton = new QPushButton(widget);
			rec->fieldMenu = new QMenu(rec->fieldButton);
			rec->fieldButton->setMenu(rec->fieldMenu);
			rec->label->setBuddy(rec->fieldButton);
			break;
		}
		case ViewKind::ListView: {
			auto* list = new QListView(parent);
			rec->model = new QtListModel(list);
			list->setModel(rec->model);
			list->setUniformItemSizes(true);
			list->setEditTriggers(QAbstractItemView::NoEditTriggers);
			list->setFrameShape(QFrame::NoFrame);
			list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
			bool scrolled = parentRec && parentRec->state.kind == ViewKind::ScrollView
				&& parentRec->state.verticalScroll;
			list->setVerticalScrollBarPolicy(scrolled ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAsNeeded);
			QObject::connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, list,
				[this, find, wid, vid] {
					ViewRec* view = find();
					if (!view || view->applying || !view->list)
						return;
					BMessage message(K_INPUT_SELECT);
					std::vector<int32> rows;
					for (const QModelIndex& index : view->list->selectionModel()->selectedRows())
						rows.push_back(index.row());
					std::sort(rows.begin(), rows.end());
					for (int32 row : rows)
						message.AddInt32("index", row);
					PostInput(wid, vid, std::move(message));
				});
			rec->list = list;
			InstallDropTarget(list->viewport(), wid);
			widget = list;
			break;
		}
		case ViewKind::ScrollView:
			widget = new QFrame(parent);
			break;
		case ViewKind::TabView: {
			widget = new QWidget(parent);
			rec->tabPane = new QFrame(widget);
			rec->tabPane->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
			rec->tabs = new QTabBar(widget);
			rec->tabs->setDrawBase(false);
			QObject::connect(rec->tabs, &QTabBar::currentChanged, rec->tabs,
				[this, find, wid, vid](int index) {
					ViewRec* view = find();
					if (!view || view->applying || index < 0)
						return;
					BMessage message(K_INPUT_TAB);
					message.AddInt32("index", index);
					PostInput(wid, vid, std::move(message));
				});
			break;
		}
		case ViewKind::Plain:
		default:
			widget = new QWidget(parent);
			break;
	}
	rec->widget = widget;
	rec->container = widget;
	InstallDropTarget(widget, wid);
	ViewRec* view = rec.get();
	window.views[state.id] = std::move(rec);
	UpdateView(window, *view, state, true);
	// Pages are added after their tab view; its tabs stay clickable on top.
	if (parentRec && parentRec->tabs)
		parentRec->tabs->raise();
}

void QtDisplay::Impl::UpdateView(WindowRec& window, ViewRec& view, const ViewState& state,
	bool created)
{
	QWidget* widget = view.widget;
	if (!widget)
		return;
	ViewState old = std::move(view.state);
	view.state = state;
	view.applying = true;

	if (created || old.name != state.name)
		widget->setObjectName(QString::fromStdString(state.name));
	if (!created && old.parent != state.parent) {
		ViewRec* parentRec = state.parent ? FindViewRec(window, state.parent) : nullptr;
		widget->setParent(parentRec && parentRec->container ? parentRec->container
			: window.widget.get());
		created = true; // a reparented widget is hidden and needs everything again
	}
	PlaceView(window, view);

	if (state.hasViewColor && (state.kind == ViewKind::Plain || state.kind == ViewKind::TabView)
		&& (created || !old.hasViewColor || old.viewColor != state.viewColor)) {
		QPalette palette = widget->palette();
		palette.setColor(QPalette::Window, ToQColor(state.viewColor));
		widget->setPalette(palette);
		widget->setAutoFillBackground(true);
	}

	QString label = QString::fromStdString(state.label);
	QRect bounds(0, 0, widget->width(), widget->height());
	int divider = std::clamp(int(std::lround(state.divider)), 0, bounds.width());
	switch (state.kind) {
		case ViewKind::Button: {
			auto* button = static_cast<QPushButton*>(widget);
			if (created || old.label != state.label)
				button->setText(PlainLabel(state.label));
			button->setDefault(state.isDefault);
			break;
		}
		case ViewKind::CheckBox: {
			auto* box = static_cast<QCheckBox*>(widget);
			if (created || old.label != state.label)
				box->setText(PlainLabel(state.label));
			if (created || old.value != state.value)
				box->setChecked(state.value != B_CONTROL_OFF);
			break;
		}
		case ViewKind::TextControl: {
			view.label->setText(PlainLabel(state.label));
			view.label->setVisible(!state.label.empty());
			view.label->setGeometry(0, 0, divider, bounds.height());
			if (state.textViewFrame.IsValid())
				view.edit->setGeometry(ToQRect(state.textViewFrame));
			else
				view.edit->setGeometry(divider, 0, bounds.width() - divider, bounds.height());
			static_cast<ByteLimitValidator*>(const_cast<QValidator*>(view.edit->validator()))
				->SetLimit(state.maxBytes);
			// Only the client's own changes: an update about something else
			// must not undo keys typed since the client last heard.
			if (created || old.text != state.text) {
				QString text = QString::fromStdString(state.text);
				if (view.edit->text() != text)
					view.edit->setText(text);
			}
			view.edit->setAccessibleName(label);
			widget->setAccessibleName(label);
			break;
		}
		case ViewKind::StringView:
			if (created || old.text != state.text)
				view.label->setText(QString::fromStdString(state.text));
			break;
		case ViewKind::MenuBar:
			if (!view.menuBuilt || !SameMenu(view.shownMenu, state.menu))
				BuildMenuBar(window, view);
			break;
		case ViewKind::MenuField:
			view.label->setText(PlainLabel(state.label));
			view.label->setVisible(!state.label.empty());
			view.label->setGeometry(0, 0, divider, bounds.height());
			view.fieldButton->setGeometry(divider, 0, bounds.width() - divider, bounds.height());
			if (!view.menuBuilt || !SameMenu(view.shownMenu, state.menu))
				BuildMenuField(window, view);
			view.fieldButton->setAccessibleName(label);
			widget->setAccessibleName(label);
			break;
		case ViewKind::ListView:
			view.list->setSelectionMode(state.multipleSelection
				? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
			break;
		case ViewKind::ScrollView: {
			auto* frame = static_cast<QFrame*>(widget);
			if (state.border == B_FANCY_BORDER)
				frame->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
			else if (state.border == B_PLAIN_BORDER) {
				frame->setFrameStyle(QFrame::Box | QFrame::Plain);
				frame->setLineWidth(1);
			} else
				frame->setFrameStyle(QFrame::NoFrame);
			// The target fills the frame, scroll bar margin included.
			for (auto& [id, child] : window.views) {
				if (child->state.parent == state.id)
					PlaceView(window, *child);
			}
			break;
		}
		case ViewKind::TabView: {
			bool same = view.tabs->count() == int(state.tabLabels.size());
			for (int i = 0; same && i < view.tabs->count(); i++)
				same = view.tabs->tabText(i) == PlainLabel(state.tabLabels[size_t(i)]);
			if (!same) {
				while (view.tabs->count() > 0)
					view.tabs->removeTab(view.tabs->count() - 1);
				for (const std::string& tab : state.tabLabels)
					view.tabs->addTab(PlainLabel(tab));
			}
			if (state.selectedTab >= 0 && state.selectedTab < view.tabs->count())
				view.tabs->setCurrentIndex(state.selectedTab);
			int tabHeight = int(std::lround(state.tabHeight > 0 ? state.tabHeight
				: ComputeTabHeight()));
			view.tabs->setGeometry(0, 0, bounds.width(), tabHeight);
			view.tabPane->setGeometry(0, tabHeight - 1, bounds.width(),
				std::max(bounds.height() - tabHeight + 1, 0));
			view.tabPane->lower();
			view.tabs->raise();
			break;
		}
		case ViewKind::Plain:
		default:
			break;
	}

	if (created || old.enabled != state.enabled)
		widget->setEnabled(state.enabled);
	if (created || old.hidden != state.hidden)
		widget->setVisible(!state.hidden);
	view.applying = false;
}

void QtDisplay::Impl::PlaceView(WindowRec& window, ViewRec& view)
{
	QWidget* widget = view.widget;
	if (!widget)
		return;
	QRect geometry = ToQRect(view.state.frame);
	ViewRec* parent = view.state.parent ? FindViewRec(window, view.state.parent) : nullptr;
	if (view.list && parent && parent->state.kind == ViewKind::ScrollView
		&& (parent->state.verticalScroll || parent->state.horizontalScroll) && parent->widget) {
		// The kit leaves room for Be's scroll bar beside the list; the
		// list's own scroll bar takes that room instead.
		geometry = static_cast<QFrame*>(parent->widget.data())->contentsRect();
	}
	if (widget->geometry() != geometry)
		widget->setGeometry(geometry);
}

void QtDisplay::Impl::DestroyView(WindowRec& window, ViewId id)
{
	auto it = window.views.find(id);
	if (it == window.views.end())
		return;
	std::vector<ViewId> children;
	for (const auto& [childId, child] : window.views) {
		if (child->state.parent == id)
			children.push_back(childId);
	}
	for (ViewId child : children)
		DestroyView(window, child);
	it = window.views.find(id);
	if (it == window.views.end())
		return;
	std::unique_ptr<ViewRec> view = std::move(it->second);
	window.views.erase(it);
	delete view->widget.data();
}

void QtDisplay::Impl::FillMenu(QMenu* menu, WindowId window, ViewId view,
	const MenuItemState& state)
{
	for (const MenuItemState& item : state.items) {
		if (item.separator) {
			menu->addSeparator();
			continue;
		}
		if (item.isMenu) {
			QMenu* sub = menu->addMenu(PlainLabel(item.label));
			sub->setEnabled(item.enabled);
			FillMenu(sub, window, view, item);
			continue;
		}
		QAction* action = menu->addAction(PlainLabel(item.label));
		action->setEnabled(item.enabled);
		if (item.marked || state.radioMode) {
			action->setCheckable(true);
			action->setChecked(item.marked);
		}
		int32 id = item.id;
		bool marked = item.marked;
		QObject::connect(action, &QAction::triggered, action, [this, window, view, id, marked, action] {
			// The mark is the client's to move; it sends it back if it does.
			if (action->isCheckable())
				action->setChecked(marked);
			BMessage message(K_INPUT_MENU);
			message.AddInt32("item", id);
			PostInput(window, view, std::move(message));
		});
	}
}

void QtDisplay::Impl::BuildMenuBar(WindowRec& window, ViewRec& view)
{
	QMenuBar* bar = view.menuBar;
	for (QMenu* menu : bar->findChildren<QMenu*>(QString(), Qt::FindDirectChildrenOnly))
		delete menu;
	bar->clear();
	for (const MenuItemState& item : view.state.menu) {
		if (item.separator)
			continue;
		if (item.isMenu) {
			auto* menu = new QMenu(PlainLabel(item.label), bar);
			menu->setEnabled(item.enabled);
			FillMenu(menu, window.id, view.state.id, item);
			bar->addMenu(menu);
		} else {
			QAction* action = bar->addAction(PlainLabel(item.label));
			action->setEnabled(item.enabled);
			int32 id = item.id;
			WindowId wid = window.id;
			ViewId vid = view.state.id;
			QObject::connect(action, &QAction::triggered, action, [this, wid, vid, id] {
				BMessage message(K_INPUT_MENU);
				message.AddInt32("item", id);
				PostInput(wid, vid, std::move(message));
			});
		}
	}
	view.shownMenu = view.state.menu;
	view.menuBuilt = true;
}

void QtDisplay::Impl::BuildMenuField(WindowRec& window, ViewRec& view)
{
	view.fieldMenu->clear();
	for (QMenu* menu : view.fieldMenu->findChildren<QMenu*>(QString(), Qt::FindDirectChildrenOnly))
		delete menu;
	MenuItemState menu;
	if (view.state.menu.size() == 1 && view.state.menu[0].isMenu)
		menu = view.state.menu[0];
	else
		menu.items = view.state.menu;
	FillMenu(view.fieldMenu, window.id, view.state.id, menu);
	view.fieldButton->setText(PlainLabel(FieldLabel(menu)));
	view.shownMenu = view.state.menu;
	view.menuBuilt = true;
}

void QtDisplay::Impl::ApplyListSelection(ViewRec& view, const std::vector<int32>& rows)
{
	std::vector<int32> sorted;
	sorted.reserve(rows.size());
	for (int32 row : rows) {
		if (row >= 0 && row < view.model->Count())
			sorted.push_back(row);
	}
	std::sort(sorted.begin(), sorted.end());
	sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
	QItemSelection selection;
	for (size_t i = 0; i < sorted.size();) {
		size_t j = i;
		while (j + 1 < sorted.size() && sorted[j + 1] == sorted[j] + 1)
			j++;
		selection.select(view.model->index(sorted[i]), view.model->index(sorted[j]));
		i = j + 1;
	}
	QItemSelectionModel* model = view.list->selectionModel();
	model->select(selection, QItemSelectionModel::ClearAndSelect);
	// The current row anchors the user's next shift-click.
	if (!sorted.empty())
		model->setCurrentIndex(view.model->index(sorted.front()), QItemSelectionModel::NoUpdate);
}

// ---- alerts and file panels ---------------------------------------------

void QtDisplay::Impl::ShowAlertNow(int32 id, AlertRequest request, std::function<void(int32)> answer)
{
	auto* box = new QMessageBox();
	box->setWindowTitle(QString::fromStdString(request.title));
	box->setTextFormat(Qt::PlainText);
	box->setText(QString::fromStdString(request.text));
	switch (request.icon) {
		case AlertIcon::Info:
		case AlertIcon::Idea:
			box->setIcon(QMessageBox::Information);
			break;
		case AlertIcon::Warning:
			box->setIcon(QMessageBox::Warning);
			break;
		case AlertIcon::Stop:
			box->setIcon(QMessageBox::Critical);
			break;
		case AlertIcon::None:
		default:
			box->setIcon(QMessageBox::NoIcon);
			break;
	}
	AlertRec rec;
	rec.id = id;
	// One role for every button keeps them in the order given.
	for (const std::string& label : request.buttons)
		rec.buttons.push_back(box->addButton(PlainLabel(label), QMessageBox::ActionRole));
	if (!rec.buttons.empty()) {
		box->setEscapeButton(rec.buttons.back());
		box->setDefaultButton(static_cast<QPushButton*>(rec.buttons.back()));
	}
	box->setWindowModality(Qt::ApplicationModal);
	rec.request = std::move(request);
	rec.answer = std::move(answer);
	rec.box = box;
	int64 serial = nextAlertSerial++;
	alerts[serial] = std::move(rec);
	QObject::connect(box, &QDialog::finished, box, [this, serial] { AlertFinished(serial); });
	box->show();
}

void QtDisplay::Impl::AlertFinished(int64 serial)
{
	auto it = alerts.find(serial);
	if (it == alerts.end())
		return;
	AlertRec alert = std::move(it->second);
	alerts.erase(it);
	int32 index = int32(alert.buttons.size()) - 1;
	if (alert.box) {
		QAbstractButton* clicked = alert.box->clickedButton();
		for (size_t i = 0; i < alert.buttons.size(); i++) {
			if (alert.buttons[i] == clicked)
				index = int32(i);
		}
		alert.box->deleteLater();
	}
	if (alert.answer)
		alert.answer(std::max<int32>(index, 0));
}

void QtDisplay::Impl::ShowPanelNow(FilePanelRequest request,
	std::function<void(const FilePanelResult&)> answer)
{
	int32 id = request.id;
	PanelRec& panel = panels[id];
	if (!panel.dialog) {
		panel.dialog = new QFileDialog();
		QObject::connect(panel.dialog, &QDialog::finished, panel.dialog,
			[this, id](int result) { PanelFinished(id, result); });
	}
	QFileDialog* dialog = panel.dialog;
	dialog->setOption(QFileDialog::DontUseNativeDialog, true);
	// A chosen link is reported as the link, as the kit's panels do.
	dialog->setOption(QFileDialog::DontResolveSymlinks, true);
	dialog->setWindowTitle(QString::fromStdString(request.title));
	if (request.mode == PanelMode::Save) {
		dialog->setAcceptMode(QFileDialog::AcceptSave);
		dialog->setFileMode(QFileDialog::AnyFile);
	} else {
		dialog->setAcceptMode(QFileDialog::AcceptOpen);
		if (request.nodeFlavors == B_DIRECTORY_NODE)
			dialog->setFileMode(QFileDialog::Directory);
		else
			dialog->setFileMode(request.multipleSelection ? QFileDialog::ExistingFiles
				: QFileDialog::ExistingFile);
	}
	if (!request.defaultLabel.empty())
		dialog->setLabelText(QFileDialog::Accept, QString::fromStdString(request.defaultLabel));
	if (!request.cancelLabel.empty())
		dialog->setLabelText(QFileDialog::Reject, QString::fromStdString(request.cancelLabel));
	if (!request.startDirectory.empty())
		dialog->setDirectory(QString::fromStdString(request.startDirectory));
	if (request.mode == PanelMode::Save && !request.saveName.empty())
		dialog->selectFile(QString::fromStdString(request.saveName));
	dialog->setWindowModality(request.modal ? Qt::ApplicationModal : Qt::NonModal);
	panel.request = std::move(request);
	panel.answer = std::move(answer);
	dialog->show();
	dialog->raise();
}

void QtDisplay::Impl::PanelFinished(int32 id, int result)
{
	auto it = panels.find(id);
	if (it == panels.end() || !it->second.dialog)
		return;
	PanelRec& panel = it->second;
	QFileDialog* dialog = panel.dialog;
	FilePanelResult answer;
	bool keep = false;
	if (result == QDialog::Accepted) {
		QStringList files = dialog->selectedFiles();
		if (panel.request.mode == PanelMode::Save) {
			QFileInfo info(files.value(0));
			answer.directory = QDir::cleanPath(info.absolutePath()).toStdString();
			answer.name = info.fileName().toStdString();
		} else {
			for (const QString& file : files)
				answer.paths.push_back(QDir::cleanPath(file).toStdString());
		}
		keep = !panel.request.hideWhenDone;
	} else {
		answer.cancelled = true;
	}
	std::function<void(const FilePanelResult&)> callback = panel.answer;
	panelAnswers++;
	if (keep) {
		dialog->show();
	} else {
		dialog->disconnect(dialog, nullptr, nullptr, nullptr);
		dialog->deleteLater();
		panels.erase(it);
	}
	if (callback)
		callback(answer);
}

// ---- sizes ---------------------------------------------------------------

PreferredSize QtDisplay::Impl::FixedSize(const SizeQuery& query)
{
	float labelWidth = kFixedCharWidth * float(query.label.size());
	float textWidth = kFixedCharWidth * float(query.text.size());
	switch (query.kind) {
		case ViewKind::Button:
			return {std::max(labelWidth + 24, 75.0f) - 1, kFixedLineHeight + 10 - 1};
		case ViewKind::CheckBox:
			return {labelWidth + 22 - 1, kFixedLineHeight + 4 - 1};
		case ViewKind::TextControl:
			return {query.frame.Width(), kFixedLineHeight + 8 - 1};
		case ViewKind::StringView:
			return {std::max(textWidth, labelWidth) - 1, kFixedLineHeight + 2 - 1};
		case ViewKind::MenuBar:
			return {query.frame.Width(), kFixedLineHeight + 6 - 1};
		case ViewKind::MenuField:
			return {query.divider + textWidth + 40 - 1, kFixedLineHeight + 10 - 1};
		default:
			return {query.frame.Width(), query.frame.Height()};
	}
}

PreferredSize QtDisplay::Impl::ComputeSize(const SizeQuery& query)
{
	EnsureApplication();
	auto be = [](QSize size) {
		return PreferredSize{float(size.width() - 1), float(size.height() - 1)};
	};
	switch (query.kind) {
		case ViewKind::Button: {
			QPushButton button(PlainLabel(query.label));
			return be(button.sizeHint());
		}
		case ViewKind::CheckBox: {
			QCheckBox box(PlainLabel(query.label));
			return be(box.sizeHint());
		}
		case ViewKind::TextControl: {
			QLineEdit edit;
			QLabel label(PlainLabel(query.label));
			int height = std::max(edit.sizeHint().height(), label.sizeHint().height());
			return {query.frame.Width(), float(height - 1)};
		}
		case ViewKind::StringView: {
			QLabel label(QString::fromStdString(query.text.empty() ? query.label : query.text));
			label.setTextFormat(Qt::PlainText);
			return be(label.sizeHint());
		}
		case ViewKind::MenuBar: {
			QMenuBar bar;
			bar.setNativeMenuBar(false);
			for (const std::string& title : query.tabLabels)
				bar.addMenu(PlainLabel(title));
			if (query.tabLabels.empty())
				bar.addMenu(QStringLiteral("File"));
			return {query.frame.Width(), float(bar.sizeHint().height() - 1)};
		}
		case ViewKind::MenuField: {
			QPushButton button(PlainLabel(query.text));
			QMenu menu;
			button.setMenu(&menu);
			QSize size = button.sizeHint();
			return {query.divider + float(size.width() - 1), float(size.height() - 1)};
		}
		case ViewKind::TabView:
		default:
			return {query.frame.Width(), query.frame.Height()};
	}
}

float QtDisplay::Impl::ComputeTabHeight()
{
	{
		std::lock_guard guard(lock);
		if (tabHeight >= 0)
			return tabHeight;
	}
	EnsureApplication();
	QTabBar bar;
	bar.addTab(QStringLiteral("Tab"));
	float height = float(bar.sizeHint().height());
	std::lock_guard guard(lock);
	tabHeight = height;
	return height;
}

float QtDisplay::Impl::ComputeStringWidth(const std::string& text)
{
	EnsureApplication();
	return float(QFontMetricsF(QApplication::font()).horizontalAdvance(QString::fromStdString(text)));
}

// ---- QtDisplay -----------------------------------------------------------

QtDisplay::QtDisplay()
	:
	fImpl(std::make_unique<Impl>(this))
{
	const char* exitWhenShown = std::getenv("TAMSEL_EXIT_WHEN_SHOWN");
	fImpl->exitWhenShown = exitWhenShown && std::strcmp(exitWhenShown, "1") == 0;
}

QtDisplay::~QtDisplay()
{
	// Widgets can only go on the main thread; elsewhere they are left to
	// the process's end rather than touched from the wrong thread.
	if (Impl::OnMainThread())
		fImpl->CloseEverything();
}

namespace {

// True while the event loop runs. Qt's X11 platform ends the process with
// exit() when its connection to the X server breaks; that exit comes from
// inside the loop, and the application is then asked to quit (and store its
// settings) before the process goes.
std::atomic<bool> sServing{false};

void ScreenGoneAtExit()
{
	if (sServing.exchange(false)) {
		std::fputs("The screen went away; the application is asked to quit.\n", stderr);
		DisplayLost();
	}
}

} // namespace

void QtDisplay::Run()
{
	Impl::EnsureApplication();
	static const bool exitWatched = std::atexit(ScreenGoneAtExit) == 0;
	(void)exitWatched;
	QObject waker;
	{
		std::lock_guard guard(fImpl->lock);
		if (fImpl->quitRequested) {
			fImpl->quitRequested = false;
			fImpl->ReleaseCallers();
			return;
		}
		fImpl->waker = &waker;
		fImpl->running = true;
		// Work queued before Run (the first windows) is applied inside the
		// event loop like everything else, so that Quit always finds it running.
		fImpl->wakePosted = true;
		QMetaObject::invokeMethod(&waker, [this] { fImpl->Drain(); }, Qt::QueuedConnection);
	}
	sServing = true;
	QApplication::exec();
	sServing = false;
	{
		std::lock_guard guard(fImpl->lock);
		fImpl->running = false;
		fImpl->waker = nullptr;
		fImpl->wakePosted = false;
		fImpl->quitRequested = false;
		fImpl->ReleaseCallers();
	}
	fImpl->CloseEverything();
}

void QtDisplay::Quit()
{
	std::lock_guard guard(fImpl->lock);
	if (!fImpl->running) {
		fImpl->quitRequested = true;
		return;
	}
	fImpl->tasks.push_back({[impl = fImpl.get()] {
		impl->CloseEverything();
		QCoreApplication::exit(0);
	}, nullptr});
	if (fImpl->waker && !fImpl->wakePosted) {
		fImpl->wakePosted = true;
		QMetaObject::invokeMethod(fImpl->waker, [impl = fImpl.get()] { impl->Drain(); },
			Qt::QueuedConnection);
	}
}

void QtDisplay::Apply(Batch batch)
{
	fImpl->Post([impl = fImpl.get(), batch = std::move(batch)]() mutable {
		impl->ApplyBatch(batch);
	});
}

void QtDisplay::ShowAlert(AlertRequest request, std::function<void(int32)> answer)
{
	fImpl->Post([impl = fImpl.get(), request = std::move(request),
		answer = std::move(answer)]() mutable {
		int32 id = request.id;
		impl->ShowAlertNow(id, std::move(request), std::move(answer));
	});
}

void QtDisplay::ShowFilePanel(FilePanelRequest request,
	std::function<void(const FilePanelResult&)> answer)
{
	fImpl->Post([impl = fImpl.get(), request = std::move(request),
		answer = std::move(answer)]() mutable {
		impl->ShowPanelNow(std::move(request), std::move(answer));
	});
}

void QtDisplay::HideFilePanel(int32 id)
{
	fImpl->Post([impl = fImpl.get(), id] {
		auto it = impl->panels.find(id);
		if (it == impl->panels.end())
			return;
		if (QFileDialog* dialog = it->second.dialog) {
			dialog->disconnect(dialog, nullptr, nullptr, nullptr);
			dialog->hide();
			dialog->deleteLater();
		}
		impl->panels.erase(it);
	});
}

PreferredSize QtDisplay::GetPreferredSize(const SizeQuery& query)
{
	SizeKey key{query.kind, query.label, query.text, query.divider, query.frame.Width(),
		query.frame.Height(), query.tabLabels};
	{
		std::lock_guard guard(fImpl->lock);
		auto it = fImpl->sizeCache.find(key);
		if (it != fImpl->sizeCache.end())
			return it->second;
	}
	PreferredSize size;
	bool measured = true;
	if (Impl::OnMainThread())
		size = fImpl->ComputeSize(query);
	else if (!fImpl->Call([&] { size = fImpl->ComputeSize(query); })) {
		size = Impl::FixedSize(query);
		measured = false;
	}
	if (measured) {
		std::lock_guard guard(fImpl->lock);
		fImpl->sizeCache[key] = size;
	}
	return size;
}

float QtDisplay::TabHeight()
{
	{
		std::lock_guard guard(fImpl->lock);
		if (fImpl->tabHeight >= 0)
			return fImpl->tabHeight;
	}
	float height = 0;
	if (Impl::OnMainThread())
		return fImpl->ComputeTabHeight();
	if (fImpl->Call([&] { height = fImpl->ComputeTabHeight(); }))
		return height;
	return kFixedLineHeight + 10;
}

float QtDisplay::StringWidth(const std::string& text)
{
	{
		std::lock_guard guard(fImpl->lock);
		auto it = fImpl->widthCache.find(text);
		if (it != fImpl->widthCache.end())
			return it->second;
	}
	float width = 0;
	if (Impl::OnMainThread())
		width = fImpl->ComputeStringWidth(text);
	else if (!fImpl->Call([&] { width = fImpl->ComputeStringWidth(text); }))
		return kFixedCharWidth * float(text.size());
	std::lock_guard guard(fImpl->lock);
	// Bounded: file names pass through here, and there can be many.
	if (fImpl->widthCache.size() >= 4096)
		fImpl->widthCache.clear();
	fImpl->widthCache[text] = width;
	return width;
}

void QtDisplay::SetInputObserver(std::function<void(WindowId, const BMessage&)> observer)
{
	std::lock_guard guard(fImpl->lock);
	fImpl->observer = std::move(observer);
}

bool QtDisplay::Invoke(const std::function<void()>& fn)
{
	return fImpl->Call(fn);
}

bool QtDisplay::IsRunning() const
{
	std::lock_guard guard(fImpl->lock);
	return fImpl->running;
}

bool QtDisplay::WaitUntilRunning(std::chrono::milliseconds deadline) const
{
	return WaitFor([this] { return IsRunning(); }, deadline);
}

QtDisplay* GetQtDisplay()
{
	return dynamic_cast<QtDisplay*>(GetDisplay());
}

} // namespace BPrivate
