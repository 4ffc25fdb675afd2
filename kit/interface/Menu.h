// BMenu: a list of items. It is not a view of its own here: a menu lives in
// a menu bar or a menu field, which show it.
#pragma once

#include <InterfaceDefs.h>
#include <MenuItem.h>

#include <memory>
#include <string>
#include <vector>

class BView;
class BWindow;

class BMenu {
public:
	explicit BMenu(const char* title, menu_layout layout = B_ITEMS_IN_COLUMN);
	virtual ~BMenu();

	// The item belongs to the menu.
	bool AddItem(BMenuItem* item);
	bool AddItem(BMenuItem* item, int32 index);
	bool AddItem(BMenu* submenu);
	bool AddSeparatorItem();
	BMenuItem* RemoveItem(int32 index);
	bool RemoveItem(BMenuItem* item);
	int32 CountItems() const { return int32(fItems.size()); }
	BMenuItem* ItemAt(int32 index) const;
	int32 IndexOf(const BMenuItem* item) const;
	BMenuItem* FindItem(const char* label) const;
	BMenuItem* FindItem(uint32 command) const;
	BMenuItem* FindMarked() const;
	int32 FindMarkedIndex() const;

	// In radio mode exactly one item is marked: marking one unmarks the rest.
	void SetRadioMode(bool on);
	bool IsRadioMode() const { return fRadioMode; }
	void SetLabelFromMarked(bool on);
	bool IsLabelFromMarked() const { return fLabelFromMarked; }
	void SetTriggersEnabled(bool on) { fTriggersEnabled = on; }
	bool AreTriggersEnabled() const { return fTriggersEnabled; }
	status_t SetTargetForItems(BHandler* target);

	const char* Name() const { return fTitle.c_str(); }
	BMenuItem* Superitem() const { return fSuperitem; }

	// Kit-internal: the view that shows the menu (a menu bar or a field).
	void SetOwner(BView* view);
	BView* Owner() const;
	BWindow* Window() const;
	void Changed();
	BMenuItem* ItemForId(int32 id) const;
	void FillState(BPrivate::MenuItemState& state) const;
	// The user chose the item: marks it in radio mode and invokes it.
	void ItemChosen(BMenuItem* item);

private:
	friend class BMenuItem;
	void ItemMarked(BMenuItem* item);

	std::string fTitle;
	menu_layout fLayout;
	std::vector<std::unique_ptr<BMenuItem>> fItems;
	bool fRadioMode = false;
	bool fLabelFromMarked = false;
	bool fTriggersEnabled = true;
	BMenuItem* fSuperitem = nullptr;
	BView* fOwner = nullptr;
};
