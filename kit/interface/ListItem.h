// BListItem and BStringItem: the rows of a list view.
#pragma once

#include <SupportDefs.h>

#include <string>

class BListItem {
public:
	explicit BListItem(uint32 outlineLevel = 0, bool expanded = true);
	virtual ~BListItem();

	bool IsSelected() const { return fSelected; }
	uint32 OutlineLevel() const { return fLevel; }
	bool IsExpanded() const { return fExpanded; }
	// The text shown for the row.
	virtual const char* DisplayText() const { return ""; }

private:
	friend class BListView;
	bool fSelected = false;
	uint32 fLevel;
	bool fExpanded;
};

class BStringItem : public BListItem {
public:
	explicit BStringItem(const char* text, uint32 outlineLevel = 0, bool expanded = true);
	~BStringItem() override;

	// Changing the text of an item in a list needs the list's Invalidate(Item).
	virtual void SetText(const char* text);
	const char* Text() const { return fText.c_str(); }
	const char* DisplayText() const override { return fText.c_str(); }

private:
	std::string fText;
};
