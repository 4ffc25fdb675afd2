#include "QtMenuBarKind.h"

#include "QtDisplayImpl.h"
#include "QtMenus.h"

#include <QMenu>
#include <QMenuBar>

namespace BPrivate {

namespace {

class MenuBarKind : public QtViewKind {
public:
	std::unique_ptr<ViewRec> Create(QtDisplay::Impl&, WindowRec&, ViewRec*, QWidget* parent,
		const ViewState&) const override
	{
		auto rec = std::make_unique<MenuBarRec>();
		auto* bar = new QMenuBar(parent);
		bar->setNativeMenuBar(false);
		rec->bar = bar;
		rec->widget = bar;
		return rec;
	}

	void Update(QtDisplay::Impl& display, WindowRec& window, ViewRec& rec, const ViewState&,
		bool) const override
	{
		auto& view = static_cast<MenuBarRec&>(rec);
		if (!view.menuBuilt || !SameMenu(view.shownMenu, view.state.menu))
			Build(display, window, view);
	}

	PreferredSize MeasuredSize(const SizeQuery& query) const override
	{
		QMenuBar bar;
		bar.setNativeMenuBar(false);
		for (const std::string& title : query.tabLabels)
			bar.addMenu(PlainLabel(title));
		if (query.tabLabels.empty())
			bar.addMenu(QStringLiteral("File"));
		return {query.frame.Width(), float(bar.sizeHint().height() - 1)};
	}

	PreferredSize FixedSize(const SizeQuery& query) const override
	{
		return {query.frame.Width(), kFixedLineHeight + 6 - 1};
	}

private:
	static void Build(QtDisplay::Impl& display, WindowRec& window, MenuBarRec& view)
	{
		QMenuBar* bar = view.bar;
		for (QMenu* menu : bar->findChildren<QMenu*>(QString(), Qt::FindDirectChildrenOnly))
			delete menu;
		bar->clear();
		for (const MenuItemState& item : view.state.menu) {
			if (item.separator)
				continue;
			if (item.isMenu) {
				auto* menu = new QMenu(PlainLabel(item.label), bar);
				menu->setEnabled(item.enabled);
				FillMenu(display, menu, window.id, view.state.id, item);
				bar->addMenu(menu);
			} else {
				QAction* action = bar->addAction(PlainLabel(item.label));
				action->setEnabled(item.enabled);
				int32 id = item.id;
				WindowId wid = window.id;
				ViewId vid = view.state.id;
				QObject::connect(action, &QAction::triggered, action, [impl = &display, wid, vid, id] {
					BMessage message(K_INPUT_MENU);
					message.AddInt32("item", id);
					impl->PostInput(wid, vid, std::move(message));
				});
			}
		}
		view.shownMenu = view.state.menu;
		view.menuBuilt = true;
	}
};

} // namespace

const QtViewKind& QtMenuBarKind()
{
	static const MenuBarKind kind;
	return kind;
}

} // namespace BPrivate
