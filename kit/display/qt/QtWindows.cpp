// Windows: the top-level widget of each kit window, its flags, modality and
// frame, and what happens when the user asks it to close.
#include "QtDisplayImpl.h"

#include <AppDefs.h>
#include <InterfaceDefs.h>

#include <QCloseEvent>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <cstdlib>

namespace BPrivate {

namespace {

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

} // namespace BPrivate
