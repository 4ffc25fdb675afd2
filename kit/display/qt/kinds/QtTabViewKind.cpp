#include "QtTabViewKind.h"

#include "QtDisplayImpl.h"

#include <QFrame>
#include <QTabBar>

#include <algorithm>
#include <cmath>

namespace BPrivate {

namespace {

class TabViewKind : public QtViewKind {
public:
	std::unique_ptr<ViewRec> Create(QtDisplay::Impl& display, WindowRec& window, ViewRec*,
		QWidget* parent, const ViewState& state) const override
	{
		auto rec = std::make_unique<TabViewRec>();
		rec->widget = new QWidget(parent);
		rec->pane = new QFrame(rec->widget);
		rec->pane->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
		rec->tabs = new QTabBar(rec->widget);
		rec->tabs->setDrawBase(false);
		QObject::connect(rec->tabs, &QTabBar::currentChanged, rec->tabs,
			[impl = &display, wid = window.id, vid = state.id](int index) {
				ViewRec* view = impl->FindView(wid, vid);
				if (!view || view->applying || index < 0)
					return;
				BMessage message(K_INPUT_TAB);
				message.AddInt32("index", index);
				impl->PostInput(wid, vid, std::move(message));
			});
		return rec;
	}

	void Update(QtDisplay::Impl& display, WindowRec&, ViewRec& rec, const ViewState&,
		bool) const override
	{
		auto& view = static_cast<TabViewRec&>(rec);
		const ViewState& state = view.state;
		QRect bounds(0, 0, view.widget->width(), view.widget->height());
		bool same = view.tabs->count() == int(state.tabLabels.size());
		for (int i = 0; same && i < view.tabs->count(); i++)
			same = view.tabs->tabText(i) == PlainLabel(state.tabLabels[size_t(i)]);
		if (!same) {
			while (view.tabs->count() > 0)
				view.tabs->removeTab(view.tabs->count() - 1);
			for (const std::string& tab : state.tabLabels)
				view.tabs->addTab(PlainLabel(tab));
		}
		if (state.selectedTab >= 0 && state.selectedTab < view.tabs->count())
			view.tabs->setCurrentIndex(state.selectedTab);
		int tabHeight = int(std::lround(state.tabHeight > 0 ? state.tabHeight
			: display.ComputeTabHeight()));
		view.tabs->setGeometry(0, 0, bounds.width(), tabHeight);
		view.pane->setGeometry(0, tabHeight - 1, bounds.width(),
			std::max(bounds.height() - tabHeight + 1, 0));
		view.pane->lower();
		view.tabs->raise();
	}

	bool FillsWithViewColor() const override { return true; }

	// Pages are added after their tab view; its tabs stay clickable on top.
	void ChildCreated(ViewRec& view) const override
	{
		static_cast<TabViewRec&>(view).tabs->raise();
	}
};

} // namespace

const QtViewKind& QtTabViewKind()
{
	static const TabViewKind kind;
	return kind;
}

} // namespace BPrivate
