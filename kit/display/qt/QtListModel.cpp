#include "QtListModel.h"

#include <algorithm>
#include <iterator>

namespace BPrivate {

int QtListModel::rowCount(const QModelIndex& parent) const
{
	return parent.isValid() ? 0 : int(fRows.size());
}

QVariant QtListModel::data(const QModelIndex& index, int role) const
{
	if (!index.isValid() || index.row() < 0 || size_t(index.row()) >= fRows.size())
		return {};
	if (role == Qt::DisplayRole || role == Qt::ToolTipRole || role == Qt::AccessibleTextRole)
		return QString::fromStdString(fRows[size_t(index.row())]);
	return {};
}

void QtListModel::Insert(int32 index, std::vector<std::string> texts)
{
	if (texts.empty())
		return;
	index = std::clamp<int32>(index, 0, Count());
	beginInsertRows(QModelIndex(), index, index + int32(texts.size()) - 1);
	fRows.insert(fRows.begin() + index, std::make_move_iterator(texts.begin()),
		std::make_move_iterator(texts.end()));
	endInsertRows();
}

void QtListModel::Remove(int32 index, int32 count)
{
	if (index < 0 || index >= Count() || count <= 0)
		return;
	count = std::min(count, Count() - index);
	beginRemoveRows(QModelIndex(), index, index + count - 1);
	fRows.erase(fRows.begin() + index, fRows.begin() + index + count);
	endRemoveRows();
}

void QtListModel::RemoveRanges(const std::vector<RowRange>& ranges)
{
	beginResetModel();
	EraseRanges(fRows, ranges);
	endResetModel();
}

void QtListModel::Move(int32 from, int32 to)
{
	if (from < 0 || from >= Count() || to < 0 || to >= Count() || from == to)
		return;
	// The row ends up at index `to`; Qt wants the row it goes before,
	// counted before the move.
	int destination = to > from ? to + 1 : to;
	if (!beginMoveRows(QModelIndex(), from, from, QModelIndex(), destination))
		return;
	std::string row = std::move(fRows[size_t(from)]);
	fRows.erase(fRows.begin() + from);
	fRows.insert(fRows.begin() + to, std::move(row));
	endMoveRows();
}

void QtListModel::SetText(int32 index, std::string text)
{
	if (index < 0 || index >= Count())
		return;
	fRows[size_t(index)] = std::move(text);
	QModelIndex changed = this->index(index);
	emit dataChanged(changed, changed, {Qt::DisplayRole});
}

void QtListModel::Clear()
{
	if (fRows.empty())
		return;
	beginResetModel();
	fRows.clear();
	endResetModel();
}

} // namespace BPrivate
