#include <ListItem.h>

#include <ListView.h>

BListItem::BListItem(uint32 outlineLevel, bool expanded)
	:
	fLevel(outlineLevel),
	fExpanded(expanded)
{
}

BListItem::~BListItem()
{
	if (fList)
		fList->RemoveItem(this);
}

void BListItem::TextChanged()
{
	if (fList)
		fList->InvalidateItem(fList->IndexOf(this));
}

BStringItem::BStringItem(const char* text, uint32 outlineLevel, bool expanded)
	:
	BListItem(outlineLevel, expanded),
	fText(text ? text : "")
{
}

BStringItem::~BStringItem() = default;

void BStringItem::SetText(const char* text)
{
	fText = text ? text : "";
	TextChanged();
}
