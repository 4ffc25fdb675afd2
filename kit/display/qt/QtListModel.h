// QtListModel: the rows of a list view, kept as the client sends them.
// Rows stay UTF-8 until Qt asks for one, so that adding a hundred thousand
// files costs one vector insert and one model signal.
#pragma once

#include <RemovalRun.h>
#include <SupportDefs.h>

#include <QAbstractListModel>

#include <string>
#include <vector>

namespace BPrivate {

class QtListModel : public QAbstractListModel {
public:
	explicit QtListModel(QObject* parent = nullptr) : QAbstractListModel(parent) {}

	int rowCount(const QModelIndex& parent = QModelIndex()) const override;
	QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

	// The list operations of the protocol; indexes out of range are clamped
	// or ignored, never trusted.
	void Insert(int32 index, std::vector<std::string> texts);
	void Remove(int32 index, int32 count);
	// Many removals at once (ranges ascending, within the rows), as one
	// reset of the model: views lose their selection and scroll position.
	void RemoveRanges(const std::vector<RowRange>& ranges);
	void Move(int32 from, int32 to);
	void SetText(int32 index, std::string text);
	void Clear();

	int32 Count() const { return int32(fRows.size()); }
	const std::string& Row(int32 index) const { return fRows[size_t(index)]; }

private:
	std::vector<std::string> fRows;
};

} // namespace BPrivate
