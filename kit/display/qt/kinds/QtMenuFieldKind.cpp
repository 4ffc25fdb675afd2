#include "QtMenuFieldKind.h"

#include "QtDisplayImpl.h"
#include "QtMenus.h"

#include <QLabel>
#include <QMenu>
#include <QPushButton>

#include <algorithm>
#include <cmath>

namespace BPrivate {

namespace {

// The label a menu field shows: the marked item's when the menu says so.
std::string FieldLabel(const MenuItemState& menu)
{
	if (menu.labelFromMarked) {
		for (const MenuItemState& item : menu.items) {
			if (item.marked && !item.separator)
				return item.label;
		}
	}
	return menu.label;
}

class MenuFieldKind : public QtViewKind {
public:
	std::unique_ptr<ViewRec> Create(QtDisplay::Impl&, WindowRec&, ViewRec*, QWidget* parent,
		const ViewState&) const override
	{
		auto rec = std::make_unique<MenuFieldRec>();
		rec->widget = new QWidget(parent);
		rec->label = new QLabel(rec->widget);
		rec->label->setTextFormat(Qt::PlainText);
		rec->button = new QPushButton(rec->widget);
		rec->menu = new QMenu(rec->button);
		rec->button->setMenu(rec->menu);
		rec->label->setBuddy(rec->button);
		return rec;
	}

	void Update(QtDisplay::Impl& display, WindowRec& window, ViewRec& rec, const ViewState&,
		bool) const override
	{
		auto& view = static_cast<MenuFieldRec&>(rec);
		const ViewState& state = view.state;
		QWidget* widget = view.widget;
		QString label = QString::fromStdString(state.label);
		QRect bounds(0, 0, widget->width(), widget->height());
		int divider = std::clamp(int(std::lround(state.divider)), 0, bounds.width());

		view.label->setText(PlainLabel(state.label));
		view.label->setVisible(!state.label.empty());
		view.label->setGeometry(0, 0, divider, bounds.height());
		view.button->setGeometry(divider, 0, bounds.width() - divider, bounds.height());
		if (!view.menuBuilt || !SameMenu(view.shownMenu, state.menu))
			Build(display, window, view);
		view.button->setAccessibleName(label);
		widget->setAccessibleName(label);
	}

	PreferredSize MeasuredSize(const SizeQuery& query) const override
	{
		QPushButton button(PlainLabel(query.text));
		QMenu menu;
		button.setMenu(&menu);
		QSize size = button.sizeHint();
		return {query.divider + float(size.width() - 1), float(size.height() - 1)};
	}

	PreferredSize FixedSize(const SizeQuery& query) const override
	{
		float textWidth = kFixedCharWidth * float(query.text.size());
		return {query.divider + textWidth + 40 - 1, kFixedLineHeight + 10 - 1};
	}

private:
	static void Build(QtDisplay::Impl& display, WindowRec& window, MenuFieldRec& view)
	{
		view.menu->clear();
		for (QMenu* menu : view.menu->findChildren<QMenu*>(QString(), Qt::FindDirectChildrenOnly))
			delete menu;
		MenuItemState menu;
		if (view.state.menu.size() == 1 && view.state.menu[0].isMenu)
			menu = view.state.menu[0];
		else
			menu.items = view.state.menu;
		FillMenu(display, view.menu, window.id, view.state.id, menu);
		view.button->setText(PlainLabel(FieldLabel(menu)));
		view.shownMenu = view.state.menu;
		view.menuBuilt = true;
	}
};

} // namespace

const QtViewKind& QtMenuFieldKind()
{
	static const MenuFieldKind kind;
	return kind;
}

} // namespace BPrivate
