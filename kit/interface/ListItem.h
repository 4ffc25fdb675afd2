// BListItem and BStringItem: the rows of a list view.
#pragma once

#include <SupportDefs.h>

#include <string>

class BListView;

class BListItem {
public:
	explicit BListItem(uint32 outlineLevel = 0, bool expanded = true);
	// An item deleted while still in a list leaves the list first, so the
	// list never keeps a dangling row.
	virtual ~BListItem();

	bool IsSelected() const { return fSelected; }
	uint32 OutlineLevel() const { return fLevel; }
	bool IsExpanded() const { return fExpanded; }
	// The text shown for the row.
	virtual const char* DisplayText() const { return ""; }

protected:
	// Tells the list that holds this item (if any) that its text changed.
	void TextChanged();

private:
	friend class BListView;
	bool fSelected = false;
	uint32 fLevel;
	bool fExpanded;
	BListView* fList = nullptr;
};

class BStringItem : public BListItem {
public:
	explicit BStringItem(const char* text, uint32 outlineLevel = 0, bool expanded = true);
	~BStringItem() override;

	// An item in a list shows its new text at the list's next update.
	virtual void SetText(const char* text);
	const char* Text() const { return fText.c_str(); }
	const char* DisplayText() const override { return fText.c_str(); }

private:
	std::string fText;
};
