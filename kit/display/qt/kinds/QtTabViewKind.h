// A tab view (BTabView): a tab bar over a pane; the pages are its child
// views. The user's choice of tab is K_INPUT_TAB.
#pragma once

#include "QtViewKind.h"

class QFrame;
class QTabBar;

namespace BPrivate {

struct TabViewRec : ViewRec {
	QTabBar* tabs = nullptr;
	QFrame* pane = nullptr;
};

} // namespace BPrivate
