// Batches, and what the display does for every view alike: making the
// record and the widgets (through the view's kind, see kinds/), naming,
// placing, the view colour, enabling, hiding, removing. Windows are in
// QtWindows.cpp, the list operations in kinds/QtListViewKind.cpp.
#include "QtDisplayImpl.h"

#include "kinds/QtListViewKind.h"

#include <algorithm>
#include <cmath>

namespace BPrivate {

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

QString PlainLabel(const std::string& label)
{
	return QString::fromStdString(label).replace(QLatin1Char('&'), QLatin1String("&&"));
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
		if (const auto* remove = std::get_if<ListRemove>(&operation)) {
			WindowRec* window = FindWindowRec(batch.window);
			auto* list = window ? dynamic_cast<ListViewRec*>(FindViewRec(*window, remove->view))
				: nullptr;
			if (list) {
				if (size_t applied = ApplyRemovalRun(*list, batch.operations, at)) {
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
				} else if (auto* list = dynamic_cast<ListViewRec*>(FindViewRec(*window, op.view))) {
					ApplyListOperation(*list, operation);
				}
			}
		}, operation);
	}
}

void QtDisplay::Impl::CreateView(WindowRec& window, const ViewState& state)
{
	if (window.views.count(state.id))
		return;
	ViewRec* parentRec = state.parent ? FindViewRec(window, state.parent) : nullptr;
	QWidget* parent = parentRec && parentRec->container ? parentRec->container
		: window.widget.get();
	const QtViewKind& kind = QtViewKindFor(state.kind);
	std::unique_ptr<ViewRec> rec = kind.Create(*this, window, parentRec, parent, state);
	rec->kind = &kind;
	rec->state = state;
	rec->container = rec->widget;
	InstallDropTarget(rec->widget, window.id);
	ViewRec* view = rec.get();
	window.views[state.id] = std::move(rec);
	UpdateView(window, *view, state, true);
	if (parentRec)
		parentRec->kind->ChildCreated(*parentRec);
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

	if (state.hasViewColor && view.kind->FillsWithViewColor()
		&& (created || !old.hasViewColor || old.viewColor != state.viewColor)) {
		QPalette palette = widget->palette();
		palette.setColor(QPalette::Window, ToQColor(state.viewColor));
		widget->setPalette(palette);
		widget->setAutoFillBackground(true);
	}

	view.kind->Update(*this, window, view, old, created);

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
	QRect geometry = view.kind->Geometry(*this, window, view);
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

} // namespace BPrivate
