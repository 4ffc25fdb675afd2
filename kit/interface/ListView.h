// BListView: a list of items with single or multiple selection. The list
// holds pointers; whoever removes an item owns it again (the platform's rule).
#pragma once

#include <Invoker.h>
#include <ListItem.h>
#include <View.h>

#include <vector>

class BListView : public BView, public BInvoker {
public:
	BListView(BRect frame, const char* name, list_view_type type = B_SINGLE_SELECTION_LIST,
		uint32 resizingMode = B_FOLLOW_LEFT | B_FOLLOW_TOP,
		uint32 flags = B_WILL_DRAW | B_FRAME_EVENTS | B_NAVIGABLE);
	~BListView() override; // deletes no items, as on the platform

	// Virtual so that subclasses see every insertion.
	virtual bool AddItem(BListItem* item);
	virtual bool AddItem(BListItem* item, int32 index);
	virtual bool AddList(const std::vector<BListItem*>& items);
	virtual BListItem* RemoveItem(int32 index);
	virtual bool RemoveItem(BListItem* item);
	virtual bool RemoveItems(int32 index, int32 count);
	bool MoveItem(int32 from, int32 to);
	bool SwapItems(int32 a, int32 b);
	// Removes every item (without deleting them).
	virtual void MakeEmpty();

	BListItem* ItemAt(int32 index) const;
	BListItem* FirstItem() const;
	BListItem* LastItem() const;
	int32 IndexOf(const BListItem* item) const;
	int32 CountItems() const { return int32(fItems.size()); }
	bool IsEmpty() const { return fItems.empty(); }
	bool HasItem(const BListItem* item) const { return IndexOf(item) >= 0; }
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
	void SetSelectionMessage(BMessage* message);

	BPrivate::ViewKind Kind() const override { return BPrivate::ViewKind::ListView; }
	void FillState(BPrivate::ViewState& state) const override;
	bool HandleInput(BMessage* message) override;
	void AttachedToWindow() override;

private:
	void SelectionUpdated();
	void SendSelection();

	list_view_type fType;
	std::vector<BListItem*> fItems;
	int32 fSelectedCount = 0;
};
