// BListView: a list of items with single or multiple selection. The list
// holds pointers; whoever removes an item owns it again (the platform's rule).
#pragma once

#include <Invoker.h>
#include <ListItem.h>
#include <View.h>

#include <memory>
#include <vector>

class BListView : public BView, public BInvoker {
public:
	BListView(BRect frame, const char* name, list_view_type type = B_SINGLE_SELECTION_LIST,
		uint32 resizingMode = B_FOLLOW_LEFT | B_FOLLOW_TOP,
		uint32 flags = B_WILL_DRAW | B_FRAME_EVENTS | B_NAVIGABLE);
	~BListView() override; // deletes no items, as on the platform

	// Virtual so that subclasses see every insertion. An item already in a
	// list (this one or another) is refused.
	virtual bool AddItem(BListItem* item);
	virtual bool AddItem(BListItem* item, int32 index);
	// Appends through AddItem(item), one item at a time.
	virtual bool AddList(const std::vector<BListItem*>& items);
	virtual BListItem* RemoveItem(int32 index);
	virtual bool RemoveItem(BListItem* item);
	virtual bool RemoveItems(int32 index, int32 count);
	// The selection follows the items.
	bool MoveItem(int32 from, int32 to);
	bool SwapItems(int32 a, int32 b);
	// Removes every item (without deleting them).
	virtual void MakeEmpty();

	BListItem* ItemAt(int32 index) const;
	BListItem* FirstItem() const { return ItemAt(0); }
	BListItem* LastItem() const { return ItemAt(CountItems() - 1); }
	int32 IndexOf(const BListItem* item) const;
	int32 CountItems() const { return int32(fItems.Size()); }
	bool IsEmpty() const { return fItems.Size() == 0; }
	bool HasItem(const BListItem* item) const { return item && item->fList == this; }
	// Sends a changed item's text to the display.
	void InvalidateItem(int32 index);

	list_view_type ListType() const { return fType; }
	void SetListType(list_view_type type);

	// The index-th selected row, in ascending order; -1 past the last one.
	int32 CurrentSelection(int32 index = 0) const;
	bool IsItemSelected(int32 index) const;
	void Select(int32 index, bool extend = false);
	void Select(int32 from, int32 to, bool extend = false);
	void Deselect(int32 index);
	void DeselectAll();

	// Hook: called whenever the selection changes, by code or by the user.
	virtual void SelectionChanged() {}
	// Sent (a copy) each time the user changes the selection.
	void SetSelectionMessage(BMessage* message);
	BMessage* SelectionMessage() const { return fSelectionMessage.get(); }

	BPrivate::ViewKind Kind() const override { return BPrivate::ViewKind::ListView; }
	void FillState(BPrivate::ViewState& state) const override;
	bool HandleInput(BMessage* message) override;
	void AttachedToWindow() override;

private:
	// The rows, kept in a gap buffer: removing the selected rows from the
	// last one down (what callers do to keep indices valid) and appending
	// many rows both stay linear overall, where a plain vector would shift
	// the whole tail on every removal.
	class ItemStore {
	public:
		size_t Size() const { return fBuffer.size() - (fGapEnd - fGapStart); }
		BListItem* At(size_t index) const
		{
			return index < fGapStart ? fBuffer[index] : fBuffer[index + (fGapEnd - fGapStart)];
		}
		BListItem*& At(size_t index)
		{
			return index < fGapStart ? fBuffer[index] : fBuffer[index + (fGapEnd - fGapStart)];
		}
		void Insert(size_t index, BListItem* item);
		void Erase(size_t index, size_t count);
		void Clear();

	private:
		void MoveGap(size_t index);
		void Grow(size_t extra);

		std::vector<BListItem*> fBuffer;
		size_t fGapStart = 0;
		size_t fGapEnd = 0;
	};

	bool InsertAt(BListItem* item, int32 index);
	// Sets the selection to exactly these ascending rows, without telling
	// the display; true when it changed.
	bool SetSelectionTo(const std::vector<int32>& rows);
	void SetSelected(int32 index, bool selected);
	void ClearSelectionFlags();
	const std::vector<int32>& SelectedRows() const;
	void SendSelection();
	void SendSelectionMessage();

	list_view_type fType;
	ItemStore fItems;
	int32 fSelectedCount = 0;
	// Sorted selected rows, rebuilt on demand: callers walk CurrentSelection(0),
	// (1), ... and would otherwise pay a scan of the whole list per step.
	mutable std::vector<int32> fSelectedRows;
	mutable bool fSelectedRowsValid = true;
	std::unique_ptr<BMessage> fSelectionMessage;
};
