// A list view (BListView): its rows live in a QtListModel and change through
// the list operations of the protocol; the user's selection is
// K_INPUT_SELECT with every selected row.
#pragma once

#include "QtViewKind.h"

#include <cstddef>
#include <vector>

class QListView;

namespace BPrivate {

class QtListModel;

struct ListViewRec : ViewRec {
	QListView* list = nullptr;
	QtListModel* model = nullptr;
};

// One of ListInsert, ListRemove, ListMove, ListSetText, ListSelect and
// ListClear, on the list view it names.
void ApplyListOperation(ListViewRec& view, Operation& operation);
// A run of removals from the bottom up that starts at operations[at] (a
// ListRemove for this view), in one go. Returns how many operations it
// applied: 0 when the one there does not start such a run.
size_t ApplyRemovalRun(ListViewRec& view, const std::vector<Operation>& operations, size_t at);
// Selects exactly these rows (out of range ones are left out).
void ApplyListSelection(ListViewRec& view, const std::vector<int32>& rows);

} // namespace BPrivate
