// A list view on the headless display: its rows and its selection follow
// the list operations of the protocol.
#pragma once

#include <HeadlessDisplayImpl.h>

#include <cstddef>
#include <vector>

namespace BPrivate {

// One of ListInsert, ListRemove, ListMove, ListSetText, ListSelect and
// ListClear, on the list view it names.
void ApplyListOperation(HeadlessView& view, Operation& operation);
// Removals from the bottom up in one pass (see RemovalRun.h), starting at
// operations[at] (a ListRemove for this view). Returns how many operations
// it applied: 0 when the one there does not start such a run.
size_t ApplyRemovalRun(HeadlessView& view, const std::vector<Operation>& operations, size_t at);

} // namespace BPrivate
