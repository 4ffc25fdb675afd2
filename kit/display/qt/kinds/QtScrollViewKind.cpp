// A scroll view (BScrollView): a frame around its target. The target's own
// scroll bars do the scrolling (see QtListViewKind.cpp).
#include "QtDisplayImpl.h"

#include <InterfaceDefs.h>

#include <QFrame>

namespace BPrivate {

namespace {

class ScrollViewKind : public QtViewKind {
public:
	std::unique_ptr<ViewRec> Create(QtDisplay::Impl&, WindowRec&, ViewRec*, QWidget* parent,
		const ViewState&) const override
	{
		auto rec = std::make_unique<ViewRec>();
		rec->widget = new QFrame(parent);
		return rec;
	}

	void Update(QtDisplay::Impl& display, WindowRec& window, ViewRec& view, const ViewState&,
		bool) const override
	{
		const ViewState& state = view.state;
		auto* frame = static_cast<QFrame*>(view.widget.data());
		if (state.border == B_FANCY_BORDER)
			frame->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
		else if (state.border == B_PLAIN_BORDER) {
			frame->setFrameStyle(QFrame::Box | QFrame::Plain);
			frame->setLineWidth(1);
		} else
			frame->setFrameStyle(QFrame::NoFrame);
		// The target fills the frame, scroll bar margin included.
		for (auto& [id, child] : window.views) {
			if (child->state.parent == state.id)
				display.PlaceView(window, *child);
		}
	}
};

} // namespace

const QtViewKind& QtScrollViewKind()
{
	static const ScrollViewKind kind;
	return kind;
}

} // namespace BPrivate
