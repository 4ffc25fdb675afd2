#include "QtListViewKind.h"

#include "QtDisplayImpl.h"
#include "QtListModel.h"

#include <RemovalRun.h>

#include <QFrame>
#include <QItemSelection>
#include <QListView>

#include <algorithm>

namespace BPrivate {

namespace {

class ListViewKind : public QtViewKind {
public:
	std::unique_ptr<ViewRec> Create(QtDisplay::Impl& display, WindowRec& window,
		ViewRec* parentView, QWidget* parent, const ViewState& state) const override
	{
		auto rec = std::make_unique<ListViewRec>();
		auto* list = new QListView(parent);
		rec->model = new QtListModel(list);
		list->setModel(rec->model);
		list->setUniformItemSizes(true);
		list->setEditTriggers(QAbstractItemView::NoEditTriggers);
		list->setFrameShape(QFrame::NoFrame);
		list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
		bool scrolled = parentView && parentView->state.kind == ViewKind::ScrollView
			&& parentView->state.verticalScroll;
		list->setVerticalScrollBarPolicy(scrolled ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAsNeeded);
		QObject::connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, list,
			[impl = &display, wid = window.id, vid = state.id] {
				auto* view = impl->FindView<ListViewRec>(wid, vid);
				if (!view || view->applying)
					return;
				BMessage message(K_INPUT_SELECT);
				std::vector<int32> rows;
				for (const QModelIndex& index : view->list->selectionModel()->selectedRows())
					rows.push_back(index.row());
				std::sort(rows.begin(), rows.end());
				for (int32 row : rows)
					message.AddInt32("index", row);
				impl->PostInput(wid, vid, std::move(message));
			});
		rec->list = list;
		display.InstallDropTarget(list->viewport(), window.id);
		rec->widget = list;
		return rec;
	}

	void Update(QtDisplay::Impl&, WindowRec&, ViewRec& rec, const ViewState&, bool) const override
	{
		auto& view = static_cast<ListViewRec&>(rec);
		view.list->setSelectionMode(view.state.multipleSelection
			? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
	}

	QRect Geometry(QtDisplay::Impl& display, WindowRec& window, const ViewRec& view) const override
	{
		QRect geometry = ToQRect(view.state.frame);
		ViewRec* parent = view.state.parent ? display.FindViewRec(window, view.state.parent) : nullptr;
		if (parent && parent->state.kind == ViewKind::ScrollView
			&& (parent->state.verticalScroll || parent->state.horizontalScroll) && parent->widget) {
			// The kit leaves room for Be's scroll bar beside the list; the
			// list's own scroll bar takes that room instead.
			geometry = static_cast<QFrame*>(parent->widget.data())->contentsRect();
		}
		return geometry;
	}
};

} // namespace

const QtViewKind& QtListViewKind()
{
	static const ListViewKind kind;
	return kind;
}

void ApplyListOperation(ListViewRec& view, Operation& operation)
{
	view.applying = true;
	std::visit([&view](auto& op) {
		using T = std::decay_t<decltype(op)>;
		if constexpr (std::is_same_v<T, ListInsert>)
			view.model->Insert(op.index, std::move(op.texts));
		else if constexpr (std::is_same_v<T, ListRemove>)
			view.model->Remove(op.index, op.count);
		else if constexpr (std::is_same_v<T, ListMove>)
			view.model->Move(op.from, op.to);
		else if constexpr (std::is_same_v<T, ListSetText>)
			view.model->SetText(op.index, std::move(op.text));
		else if constexpr (std::is_same_v<T, ListSelect>)
			ApplyListSelection(view, op.selected);
		else if constexpr (std::is_same_v<T, ListClear>)
			view.model->Clear();
	}, operation);
	view.applying = false;
}

// Removals from the bottom up (see RemovalRun.h). A few are made one by one,
// so that the view keeps its state as it always does; many at once are one
// reset of the model, which Qt does in linear time where a removal each
// would take quadratic time, after which the selection, the current row and
// the scroll position are put back as they would have come out.
size_t ApplyRemovalRun(ListViewRec& view, const std::vector<Operation>& operations, size_t at)
{
	constexpr size_t kOneByOne = 32;
	const RemovalRun run = FindRemovalRun(operations, at, view.model->Count());
	if (run.operations == 0)
		return 0;

	view.applying = true;
	if (run.ranges.size() <= kOneByOne) {
		for (auto range = run.ranges.rbegin(); range != run.ranges.rend(); ++range)
			view.model->Remove(range->first, range->second - range->first);
	} else {
		QItemSelectionModel* selection = view.list->selectionModel();
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
		const QModelIndex top = view.list->indexAt(QPoint(1, 1));

		view.model->RemoveRanges(run.ranges);

		ApplyListSelection(view, RowsAfterRemoval(selected, run.ranges));
		if (current >= 0) {
			const std::vector<int32> kept = RowsAfterRemoval({current}, run.ranges);
			if (!kept.empty())
				selection->setCurrentIndex(view.model->index(kept.front()), QItemSelectionModel::NoUpdate);
		}
		if (top.isValid() && view.model->Count() > 0) {
			// The old top row, or the first after it that stayed.
			const int32 row = std::min(PlaceAfterRemoval(top.row(), run.ranges),
				view.model->Count() - 1);
			view.list->scrollTo(view.model->index(row), QAbstractItemView::PositionAtTop);
		}
	}
	view.applying = false;
	return run.operations;
}

void ApplyListSelection(ListViewRec& view, const std::vector<int32>& rows)
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

} // namespace BPrivate
