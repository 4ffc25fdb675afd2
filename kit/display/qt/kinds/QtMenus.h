// What menu bars and menu fields share: their menus, made from the client's
// items. Choosing an item is K_INPUT_MENU with the item's id.
#pragma once

#include "QtDisplay.h"

#include <vector>

class QMenu;

namespace BPrivate {

// Whether two menus show the same.
bool SameMenu(const std::vector<MenuItemState>& a, const std::vector<MenuItemState>& b);
// Adds the items of `state` (and their submenus) to the menu.
void FillMenu(QtDisplay::Impl& display, QMenu* menu, WindowId window, ViewId view,
	const MenuItemState& state);

} // namespace BPrivate
