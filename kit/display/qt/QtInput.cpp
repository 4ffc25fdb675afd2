// Input from the screen to the windows' loopers, and files dropped on views.
#include "QtDisplayImpl.h"

#include <AppDefs.h>
#include <Entry.h>

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace BPrivate {

namespace {

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

} // namespace

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

} // namespace BPrivate
