// BMenuItem and BSeparatorItem: the entries of a menu.
#pragma once

#include <DisplayProtocol.h>
#include <Invoker.h>

#include <memory>
#include <string>

class BMenu;

class BMenuItem : public BInvoker {
public:
	BMenuItem(const char* label, BMessage* message, char shortcut = 0, uint32 modifiers = 0);
	// An item that opens a submenu; the submenu belongs to the item.
	explicit BMenuItem(BMenu* submenu, BMessage* message = nullptr);
	~BMenuItem() override;

	virtual void SetLabel(const char* label);
	const char* Label() const;
	void SetMarked(bool marked);
	bool IsMarked() const { return fMarked; }
	void SetEnabled(bool enabled);
	bool IsEnabled() const { return fEnabled; }
	BMenu* Submenu() const { return fSubmenu.get(); }
	BMenu* Menu() const { return fMenu; }
	virtual bool IsSeparator() const { return false; }

	// Without a target of its own an item sends to its menu's window.
	status_t Invoke(BMessage* message = nullptr) override;

	// Kit-internal.
	int32 Id() const { return fId; }
	void FillState(BPrivate::MenuItemState& state) const;

private:
	friend class BMenu;
	int32 fId;
	std::string fLabel;
	bool fMarked = false;
	bool fEnabled = true;
	BMenu* fMenu = nullptr;
	std::unique_ptr<BMenu> fSubmenu;
};

class BSeparatorItem : public BMenuItem {
public:
	BSeparatorItem();
	bool IsSeparator() const override { return true; }
};
