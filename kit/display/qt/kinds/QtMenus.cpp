#include "QtMenus.h"

#include "QtDisplayImpl.h"

#include <QMenu>

namespace BPrivate {

bool SameMenu(const std::vector<MenuItemState>& a, const std::vector<MenuItemState>& b)
{
	if (a.size() != b.size())
		return false;
	for (size_t i = 0; i < a.size(); i++) {
		const MenuItemState& x = a[i];
		const MenuItemState& y = b[i];
		if (x.id != y.id || x.label != y.label || x.separator != y.separator
			|| x.marked != y.marked || x.enabled != y.enabled || x.isMenu != y.isMenu
			|| x.radioMode != y.radioMode || x.labelFromMarked != y.labelFromMarked
			|| !SameMenu(x.items, y.items))
			return false;
	}
	return true;
}

void FillMenu(QtDisplay::Impl& display, QMenu* menu, WindowId window, ViewId view,
	const MenuItemState& state)
{
	for (const MenuItemState& item : state.items) {
		if (item.separator) {
			menu->addSeparator();
			continue;
		}
		if (item.isMenu) {
			QMenu* sub = menu->addMenu(PlainLabel(item.label));
			sub->setEnabled(item.enabled);
			FillMenu(display, sub, window, view, item);
			continue;
		}
		QAction* action = menu->addAction(PlainLabel(item.label));
		action->setEnabled(item.enabled);
		if (item.marked || state.radioMode) {
			action->setCheckable(true);
			action->setChecked(item.marked);
		}
		int32 id = item.id;
		bool marked = item.marked;
		QObject::connect(action, &QAction::triggered, action,
			[impl = &display, window, view, id, marked, action] {
				// The mark is the client's to move; it sends it back if it does.
				if (action->isCheckable())
					action->setChecked(marked);
				BMessage message(K_INPUT_MENU);
				message.AddInt32("item", id);
				impl->PostInput(window, view, std::move(message));
			});
	}
}

} // namespace BPrivate
