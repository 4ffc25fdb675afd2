#include "HeadlessListViewKind.h"

#include "HeadlessViewKind.h"

#include <RemovalRun.h>

#include <algorithm>
#include <iterator>
#include <set>

namespace BPrivate {

namespace {

class ListViewKind : public HeadlessViewKind {
};

} // namespace

const HeadlessViewKind& HeadlessListViewKind()
{
	static const ListViewKind kind;
	return kind;
}

void ApplyListOperation(HeadlessView& view, Operation& operation)
{
	std::visit(Overloaded{
		[&](ListInsert& op) {
			int32 index = std::clamp(op.index, int32(0), int32(view.rows.size()));
			int32 count = int32(op.texts.size());
			view.rows.insert(view.rows.begin() + index,
				std::make_move_iterator(op.texts.begin()),
				std::make_move_iterator(op.texts.end()));
			for (int32& row : view.selection) {
				if (row >= index)
					row += count;
			}
		},
		[&](ListRemove& op) {
			if (op.index < 0 || op.index >= int32(view.rows.size()) || op.count <= 0)
				return;
			int32 end = std::min(int32(view.rows.size()), op.index + op.count);
			view.rows.erase(view.rows.begin() + op.index, view.rows.begin() + end);
			// The selection is ascending: the removed rows leave it, and
			// only the rows after them move up. Removing from the bottom
			// up, row by row, so costs nothing for the rows above.
			std::vector<int32>& selection = view.selection;
			auto first = std::lower_bound(selection.begin(), selection.end(), op.index);
			auto last = std::lower_bound(first, selection.end(), end);
			for (auto it = last; it != selection.end(); ++it)
				*it -= end - op.index;
			selection.erase(first, last);
		},
		[&](ListMove& op) {
			int32 size = int32(view.rows.size());
			if (op.from < 0 || op.from >= size || op.to < 0 || op.to >= size)
				return;
			std::string moved = std::move(view.rows[size_t(op.from)]);
			view.rows.erase(view.rows.begin() + op.from);
			view.rows.insert(view.rows.begin() + op.to, std::move(moved));
			for (int32& row : view.selection) {
				if (row == op.from)
					row = op.to;
				else if (op.from < op.to && row > op.from && row <= op.to)
					row--;
				else if (op.from > op.to && row >= op.to && row < op.from)
					row++;
			}
			std::sort(view.selection.begin(), view.selection.end());
		},
		[&](ListSetText& op) {
			if (op.index >= 0 && op.index < int32(view.rows.size()))
				view.rows[size_t(op.index)] = std::move(op.text);
		},
		[&](ListSelect& op) {
			std::set<int32> rows;
			for (int32 row : op.selected) {
				if (row >= 0 && row < int32(view.rows.size()))
					rows.insert(row);
			}
			view.selection.assign(rows.begin(), rows.end());
		},
		[&](ListClear&) {
			view.rows.clear();
			view.selection.clear();
			view.anchor = -1;
		},
		[](auto&) {},
	}, operation);
}

size_t ApplyRemovalRun(HeadlessView& view, const std::vector<Operation>& operations, size_t at)
{
	const RemovalRun run = FindRemovalRun(operations, at, int32(view.rows.size()));
	if (run.operations == 0)
		return 0;
	EraseRanges(view.rows, run.ranges);
	view.selection = RowsAfterRemoval(view.selection, run.ranges);
	return run.operations;
}

} // namespace BPrivate
