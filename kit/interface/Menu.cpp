#include <Menu.h>

#include <View.h>
#include <Window.h>

#include <cstring>

BMenu::BMenu(const char* title, menu_layout layout)
	:
	fTitle(title ? title : ""),
	fLayout(layout)
{
}

BMenu::~BMenu() = default;

bool BMenu::AddItem(BMenuItem* item)
{
	return AddItem(item, CountItems());
}

bool BMenu::AddItem(BMenuItem* item, int32 index)
{
	// An item already in a menu would end up owned twice.
	if (!item || item->fMenu || index < 0 || index > CountItems())
		return false;
	fItems.insert(fItems.begin() + index, std::unique_ptr<BMenuItem>(item));
	item->fMenu = this;
	if (fRadioMode && item->IsMarked())
		ItemMarked(item);
	Changed();
	return true;
}

bool BMenu::AddItem(BMenu* submenu)
{
	if (!submenu)
		return false;
	auto item = std::make_unique<BMenuItem>(submenu);
	if (!AddItem(item.get()))
		return false;
	item.release(); // the menu holds it now
	return true;
}

bool BMenu::AddSeparatorItem()
{
	auto item = std::make_unique<BSeparatorItem>();
	if (!AddItem(item.get()))
		return false;
	item.release();
	return true;
}

BMenuItem* BMenu::RemoveItem(int32 index)
{
	if (index < 0 || index >= CountItems())
		return nullptr;
	BMenuItem* item = fItems[index].release();
	fItems.erase(fItems.begin() + index);
	item->fMenu = nullptr;
	Changed();
	return item;
}

bool BMenu::RemoveItem(BMenuItem* item)
{
	int32 index = IndexOf(item);
	if (index < 0)
		return false;
	// The caller owns the item again, as with the index form.
	RemoveItem(index);
	return true;
}

BMenuItem* BMenu::ItemAt(int32 index) const
{
	if (index < 0 || index >= CountItems())
		return nullptr;
	return fItems[index].get();
}

int32 BMenu::IndexOf(const BMenuItem* item) const
{
	for (size_t i = 0; i < fItems.size(); i++) {
		if (fItems[i].get() == item)
			return int32(i);
	}
	return -1;
}

BMenuItem* BMenu::FindItem(const char* label) const
{
	if (!label)
		return nullptr;
	for (const auto& item : fItems) {
		if (!item->IsSeparator() && std::strcmp(item->Label(), label) == 0)
			return item.get();
		if (BMenu* sub = item->Submenu()) {
			if (BMenuItem* found = sub->FindItem(label))
				return found;
		}
	}
	return nullptr;
}

BMenuItem* BMenu::FindItem(uint32 command) const
{
	for (const auto& item : fItems) {
		if (item->Message() && item->Command() == command)
			return item.get();
		if (BMenu* sub = item->Submenu()) {
			if (BMenuItem* found = sub->FindItem(command))
				return found;
		}
	}
	return nullptr;
}

BMenuItem* BMenu::FindMarked() const
{
	return ItemAt(FindMarkedIndex());
}

int32 BMenu::FindMarkedIndex() const
{
	for (size_t i = 0; i < fItems.size(); i++) {
		if (fItems[i]->IsMarked())
			return int32(i);
	}
	return -1;
}

void BMenu::SetRadioMode(bool on)
{
	if (on == fRadioMode)
		return;
	fRadioMode = on;
	// Showing the marked label only makes sense with one marked item.
	if (!on)
		fLabelFromMarked = false;
	Changed();
}

void BMenu::SetLabelFromMarked(bool on)
{
	if (on == fLabelFromMarked)
		return;
	fLabelFromMarked = on;
	if (on)
		fRadioMode = true;
	Changed();
}

status_t BMenu::SetTargetForItems(BHandler* target)
{
	for (const auto& item : fItems) {
		status_t result = item->SetTarget(target);
		if (result != B_OK)
			return result;
	}
	return B_OK;
}

void BMenu::SetOwner(BView* view)
{
	fOwner = view;
}

BView* BMenu::Owner() const
{
	if (fOwner)
		return fOwner;
	// A submenu is shown by whatever shows the menu it hangs from.
	if (fSuperitem && fSuperitem->Menu())
		return fSuperitem->Menu()->Owner();
	return nullptr;
}

BWindow* BMenu::Window() const
{
	BView* owner = Owner();
	return owner ? owner->Window() : nullptr;
}

void BMenu::Changed()
{
	if (BView* owner = Owner())
		owner->Invalidate();
}

BMenuItem* BMenu::ItemForId(int32 id) const
{
	for (const auto& item : fItems) {
		if (item->Id() == id)
			return item.get();
		if (BMenu* sub = item->Submenu()) {
			if (BMenuItem* found = sub->ItemForId(id))
				return found;
		}
	}
	return nullptr;
}

void BMenu::FillState(BPrivate::MenuItemState& state) const
{
	state.id = fSuperitem ? fSuperitem->Id() : 0;
	state.label = fTitle;
	state.isMenu = true;
	state.radioMode = fRadioMode;
	state.labelFromMarked = fLabelFromMarked;
	state.items.clear();
	state.items.reserve(fItems.size());
	for (const auto& item : fItems) {
		BPrivate::MenuItemState child;
		item->FillState(child);
		state.items.push_back(std::move(child));
	}
}

void BMenu::ItemChosen(BMenuItem* item)
{
	if (!item || item->Menu() != this || !item->IsEnabled() || item->IsSeparator())
		return;
	// The mark is sent back to the display on purpose: not every display
	// moves the mark of a radio menu by itself, and an equal state is harmless.
	if (fRadioMode)
		item->SetMarked(true);
	if (item->Message())
		item->Invoke();
}

void BMenu::ItemMarked(BMenuItem* item)
{
	if (!fRadioMode)
		return;
	for (const auto& other : fItems) {
		if (other.get() != item)
			other->fMarked = false;
	}
}
