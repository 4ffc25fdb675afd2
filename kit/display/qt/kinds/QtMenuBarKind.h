// A menu bar (BMenuBar): its menus are made again whenever the client's
// items change.
#pragma once

#include "QtViewKind.h"

#include <vector>

class QMenuBar;

namespace BPrivate {

struct MenuBarRec : ViewRec {
	QMenuBar* bar = nullptr;
	std::vector<MenuItemState> shownMenu;
	bool menuBuilt = false;
};

} // namespace BPrivate
