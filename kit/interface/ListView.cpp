#include <ListView.h>

#include <Message.h>
#include <Window.h>

#include <algorithm>
#include <chrono>

// ---- the row store -------------------------------------------------------

void BListView::ItemStore::MoveGap(size_t index)
{
	if (index < fGapStart) {
		size_t count = fGapStart - index;
		std::move_backward(fBuffer.begin() + index, fBuffer.begin() + fGapStart,
			fBuffer.begin() + fGapEnd);
		fGapStart -= count;
		fGapEnd -= count;
	} else if (index > fGapStart) {
		size_t count = index - fGapStart;
		std::move(fBuffer.begin() + fGapEnd, fBuffer.begin() + fGapEnd + count,
			fBuffer.begin() + fGapStart);
		fGapStart += count;
		fGapEnd += count;
	}
}

void BListView::ItemStore::Grow(size_t extra)
{
	size_t capacity = std::max<size_t>(16, 2 * (Size() + extra));
	std::vector<BListItem*> buffer(capacity, nullptr);
	std::copy(fBuffer.begin(), fBuffer.begin() + fGapStart, buffer.begin());
	size_t tail = fBuffer.size() - fGapEnd;
	std::copy(fBuffer.begin() + fGapEnd, fBuffer.end(), buffer.end() - tail);
	fGapEnd = capacity - tail;
	fBuffer.swap(buffer);
}

void BListView::ItemStore::Insert(size_t index, BListItem* item)
{
	if (fGapStart == fGapEnd)
		Grow(1);
	MoveGap(index);
	fBuffer[fGapStart++] = item;
}

void BListView::ItemStore::Erase(size_t index, size_t count)
{
	MoveGap(index);
	fGapEnd += count;
}

void BListView::ItemStore::Clear()
{
	fBuffer.clear();
	fGapStart = fGapEnd = 0;
}

// ---- the list view -------------------------------------------------------

namespace {

int64 NowMicroseconds()
{
	using namespace std::chrono;
	return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

BListView::BListView(BRect frame, const char* name, list_view_type type, uint32 resizingMode,
	uint32 flags)
	:
	BView(frame, name, resizingMode, flags),
	fType(type)
{
}

BListView::~BListView()
{
	// The items outlive the list; they must not point back at it.
	for (size_t i = 0; i < fItems.Size(); i++) {
		fItems.At(i)->fList = nullptr;
		fItems.At(i)->fSelected = false;
	}
}

bool BListView::InsertAt(BListItem* item, int32 index)
{
	if (!item || item->fList || index < 0 || index > CountItems())
		return false;
	fItems.Insert(size_t(index), item);
	item->fList = this;
	item->fSelected = false;
	if (fSelectedCount > 0 && fSelectedRowsValid) {
		auto it = std::lower_bound(fSelectedRows.begin(), fSelectedRows.end(), index);
		for (; it != fSelectedRows.end(); ++it)
			++*it;
	}
	if (Window())
		AddOperation(BPrivate::ListInsert{Id(), index, {item->DisplayText()}});
	return true;
}

bool BListView::AddItem(BListItem* item)
{
	return InsertAt(item, CountItems());
}

bool BListView::AddItem(BListItem* item, int32 index)
{
	return InsertAt(item, index);
}

bool BListView::AddList(const std::vector<BListItem*>& items)
{
	// Refuse the whole list up front rather than stopping half-way.
	for (BListItem* item : items) {
		if (!item || item->fList)
			return false;
	}
	bool result = true;
	for (BListItem* item : items)
		result = AddItem(item) && result;
	return result;
}

BListItem* BListView::RemoveItem(int32 index)
{
	BListItem* item = ItemAt(index);
	if (!item)
		return nullptr;
	bool wasSelected = item->fSelected;
	fItems.Erase(size_t(index), 1);
	item->fList = nullptr;
	item->fSelected = false;
	if (wasSelected)
		fSelectedCount--;
	if (fSelectedRowsValid && !fSelectedRows.empty()) {
		auto it = std::lower_bound(fSelectedRows.begin(), fSelectedRows.end(), index);
		if (wasSelected)
			it = fSelectedRows.erase(it);
		for (; it != fSelectedRows.end(); ++it)
			--*it;
	}
	if (Window())
		AddOperation(BPrivate::ListRemove{Id(), index, 1});
	if (wasSelected)
		SelectionChanged();
	return item;
}

bool BListView::RemoveItem(BListItem* item)
{
	if (!HasItem(item))
		return false;
	return RemoveItem(IndexOf(item)) != nullptr;
}

bool BListView::RemoveItems(int32 index, int32 count)
{
	if (index < 0 || index >= CountItems() || count <= 0)
		return false;
	count = std::min(count, CountItems() - index);
	int32 selected = 0;
	for (int32 i = index; i < index + count; i++) {
		BListItem* item = fItems.At(size_t(i));
		if (item->fSelected)
			selected++;
		item->fSelected = false;
		item->fList = nullptr;
	}
	fItems.Erase(size_t(index), size_t(count));
	fSelectedCount -= selected;
	fSelectedRowsValid = false;
	if (Window())
		AddOperation(BPrivate::ListRemove{Id(), index, count});
	if (selected > 0)
		SelectionChanged();
	return true;
}

bool BListView::MoveItem(int32 from, int32 to)
{
	if (!ItemAt(from) || !ItemAt(to))
		return false;
	if (from == to)
		return true;
	BListItem* item = fItems.At(size_t(from));
	fItems.Erase(size_t(from), 1);
	fItems.Insert(size_t(to), item);
	if (fSelectedCount > 0)
		fSelectedRowsValid = false;
	if (Window()) {
		AddOperation(BPrivate::ListMove{Id(), from, to});
		// Whether a display carries the selection along with a moved row is
		// its own business; saying it outright keeps both sides equal.
		if (fSelectedCount > 0)
			SendSelection();
	}
	return true;
}

bool BListView::SwapItems(int32 a, int32 b)
{
	if (!ItemAt(a) || !ItemAt(b))
		return false;
	if (a == b)
		return true;
	std::swap(fItems.At(size_t(a)), fItems.At(size_t(b)));
	bool selectionMoved = fItems.At(size_t(a))->fSelected != fItems.At(size_t(b))->fSelected;
	if (selectionMoved)
		fSelectedRowsValid = false;
	if (Window()) {
		AddOperation(BPrivate::ListSetText{Id(), a, fItems.At(size_t(a))->DisplayText()});
		AddOperation(BPrivate::ListSetText{Id(), b, fItems.At(size_t(b))->DisplayText()});
		if (selectionMoved)
			SendSelection();
	}
	return true;
}

void BListView::MakeEmpty()
{
	if (IsEmpty())
		return;
	bool hadSelection = fSelectedCount > 0;
	for (size_t i = 0; i < fItems.Size(); i++) {
		fItems.At(i)->fList = nullptr;
		fItems.At(i)->fSelected = false;
	}
	fItems.Clear();
	fSelectedCount = 0;
	fSelectedRows.clear();
	fSelectedRowsValid = true;
	if (Window())
		AddOperation(BPrivate::ListClear{Id()});
	if (hadSelection)
		SelectionChanged();
}

BListItem* BListView::ItemAt(int32 index) const
{
	if (index < 0 || index >= CountItems())
		return nullptr;
	return fItems.At(size_t(index));
}

int32 BListView::IndexOf(const BListItem* item) const
{
	if (!HasItem(item))
		return -1;
	for (size_t i = 0; i < fItems.Size(); i++) {
		if (fItems.At(i) == item)
			return int32(i);
	}
	return -1;
}

void BListView::InvalidateItem(int32 index)
{
	BListItem* item = ItemAt(index);
	if (item && Window())
		AddOperation(BPrivate::ListSetText{Id(), index, item->DisplayText()});
}

void BListView::SetListType(list_view_type type)
{
	if (type == fType)
		return;
	fType = type;
	Invalidate();
	if (fType == B_SINGLE_SELECTION_LIST && fSelectedCount > 1) {
		SetSelectionTo({CurrentSelection(0)});
		SendSelection();
		SelectionChanged();
	}
}

// ---- selection -----------------------------------------------------------

const std::vector<int32>& BListView::SelectedRows() const
{
	if (!fSelectedRowsValid) {
		fSelectedRows.clear();
		fSelectedRows.reserve(size_t(fSelectedCount));
		for (size_t i = 0; i < fItems.Size() && int32(fSelectedRows.size()) < fSelectedCount; i++) {
			if (fItems.At(i)->fSelected)
				fSelectedRows.push_back(int32(i));
		}
		fSelectedRowsValid = true;
	}
	return fSelectedRows;
}

int32 BListView::CurrentSelection(int32 index) const
{
	if (index < 0 || index >= fSelectedCount)
		return -1;
	return SelectedRows()[size_t(index)];
}

bool BListView::IsItemSelected(int32 index) const
{
	BListItem* item = ItemAt(index);
	return item && item->fSelected;
}

void BListView::SetSelected(int32 index, bool selected)
{
	BListItem* item = fItems.At(size_t(index));
	if (item->fSelected == selected)
		return;
	item->fSelected = selected;
	fSelectedCount += selected ? 1 : -1;
	if (!fSelectedRowsValid)
		return;
	auto it = std::lower_bound(fSelectedRows.begin(), fSelectedRows.end(), index);
	if (selected)
		fSelectedRows.insert(it, index);
	else
		fSelectedRows.erase(it);
}

void BListView::ClearSelectionFlags()
{
	for (int32 row : SelectedRows())
		fItems.At(size_t(row))->fSelected = false;
	fSelectedRows.clear();
	fSelectedRowsValid = true;
	fSelectedCount = 0;
}

bool BListView::SetSelectionTo(const std::vector<int32>& rows)
{
	if (rows == SelectedRows())
		return false;
	ClearSelectionFlags();
	for (int32 row : rows)
		fItems.At(size_t(row))->fSelected = true;
	fSelectedRows = rows;
	fSelectedRowsValid = true;
	fSelectedCount = int32(rows.size());
	return true;
}

void BListView::Select(int32 index, bool extend)
{
	if (!ItemAt(index))
		return;
	if (extend && fType == B_MULTIPLE_SELECTION_LIST) {
		if (fItems.At(size_t(index))->fSelected)
			return;
		SetSelected(index, true);
	} else if (!SetSelectionTo({index})) {
		return;
	}
	SendSelection();
	SelectionChanged();
}

void BListView::Select(int32 from, int32 to, bool extend)
{
	if (from > to || !ItemAt(from) || !ItemAt(to))
		return;
	// A single-selection list can only hold the end of the range.
	if (fType == B_SINGLE_SELECTION_LIST) {
		Select(to, extend);
		return;
	}
	std::vector<int32> rows;
	rows.reserve(size_t(to - from + 1) + (extend ? size_t(fSelectedCount) : 0));
	for (int32 i = from; i <= to; i++)
		rows.push_back(i);
	if (extend) {
		std::vector<int32> merged;
		merged.reserve(rows.size() + SelectedRows().size());
		std::set_union(rows.begin(), rows.end(), SelectedRows().begin(), SelectedRows().end(),
			std::back_inserter(merged));
		rows.swap(merged);
	}
	if (!SetSelectionTo(rows))
		return;
	SendSelection();
	SelectionChanged();
}

void BListView::Deselect(int32 index)
{
	if (!IsItemSelected(index))
		return;
	SetSelected(index, false);
	SendSelection();
	SelectionChanged();
}

void BListView::DeselectAll()
{
	if (fSelectedCount == 0)
		return;
	ClearSelectionFlags();
	SendSelection();
	SelectionChanged();
}

void BListView::SetSelectionMessage(BMessage* message)
{
	fSelectionMessage.reset(message);
}

void BListView::SendSelection()
{
	if (Window())
		AddOperation(BPrivate::ListSelect{Id(), SelectedRows()});
}

void BListView::SendSelectionMessage()
{
	if (!fSelectionMessage)
		return;
	BMessage copy(*fSelectionMessage);
	copy.AddInt64("when", NowMicroseconds());
	copy.AddPointer("source", this);
	for (int32 row : SelectedRows())
		copy.AddInt32("index", row);
	if (HasTarget())
		BInvoker::Invoke(&copy);
	else if (BWindow* window = Window())
		window->PostMessage(&copy, window);
}

// ---- the display ---------------------------------------------------------

void BListView::FillState(BPrivate::ViewState& state) const
{
	BView::FillState(state);
	state.multipleSelection = fType == B_MULTIPLE_SELECTION_LIST;
}

void BListView::AttachedToWindow()
{
	BView::AttachedToWindow();
	// The rows never travel in the view's state; a list that already holds
	// some sends them all at once.
	if (IsEmpty())
		return;
	std::vector<std::string> texts;
	texts.reserve(fItems.Size());
	for (size_t i = 0; i < fItems.Size(); i++)
		texts.emplace_back(fItems.At(i)->DisplayText());
	AddOperation(BPrivate::ListInsert{Id(), 0, std::move(texts)});
	if (fSelectedCount > 0)
		SendSelection();
}

bool BListView::HandleInput(BMessage* message)
{
	if (message->what != BPrivate::K_INPUT_SELECT)
		return BView::HandleInput(message);

	std::vector<int32> rows;
	int32 row = 0;
	for (int32 i = 0; message->FindInt32("index", i, &row) == B_OK; i++) {
		// Rows the client removed since the user clicked no longer exist.
		if (row >= 0 && row < CountItems())
			rows.push_back(row);
	}
	std::sort(rows.begin(), rows.end());
	rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
	bool corrected = false;
	if (fType == B_SINGLE_SELECTION_LIST && rows.size() > 1) {
		rows.resize(1);
		corrected = true;
	}
	bool changed = SetSelectionTo(rows);
	// Only a selection the display could not show as it is goes back to it.
	if (corrected)
		SendSelection();
	if (changed) {
		SelectionChanged();
		SendSelectionMessage();
	}
	return true;
}
