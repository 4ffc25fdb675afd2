// A menu field (BMenuField): a label and a button that pops up the menu and
// shows its choice.
#pragma once

#include "QtViewKind.h"

#include <vector>

class QLabel;
class QMenu;
class QPushButton;

namespace BPrivate {

struct MenuFieldRec : ViewRec {
	QLabel* label = nullptr;
	QPushButton* button = nullptr;
	QMenu* menu = nullptr;
	std::vector<MenuItemState> shownMenu;
	bool menuBuilt = false;
};

} // namespace BPrivate
