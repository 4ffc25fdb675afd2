#include <ScrollView.h>

namespace {

float BorderWidth(border_style border)
{
	switch (border) {
		case B_FANCY_BORDER:
			return 2;
		case B_PLAIN_BORDER:
			return 1;
		case B_NO_BORDER:
			break;
	}
	return 0;
}

// The scroll view is the target's frame grown by the border on every side,
// with the scroll bars outside the target.
BRect FrameAround(BView* target, bool horizontal, bool vertical, border_style border)
{
	float inset = BorderWidth(border);
	BRect frame = target ? target->Frame() : BRect(0, 0, 0, 0);
	frame.InsetBy(-inset, -inset);
	if (vertical)
		frame.right += B_V_SCROLL_BAR_WIDTH;
	if (horizontal)
		frame.bottom += B_H_SCROLL_BAR_HEIGHT;
	return frame;
}

} // namespace

BScrollView::BScrollView(const char* name, BView* target, uint32 resizingMode, uint32 flags,
	bool horizontal, bool vertical, border_style border)
	:
	BView(FrameAround(target, horizontal, vertical, border), name, resizingMode, flags),
	fTarget(target),
	fHorizontal(horizontal),
	fVertical(vertical),
	fBorder(border)
{
	if (fTarget) {
		float inset = BorderWidth(fBorder);
		fTarget->MoveTo(inset, inset);
		AddChild(fTarget);
	}
}

BScrollView::~BScrollView() = default;

bool BScrollView::RemoveChild(BView* child)
{
	if (!BView::RemoveChild(child))
		return false;
	if (child == fTarget) {
		fTarget = nullptr;
		Invalidate();
	}
	return true;
}

void BScrollView::FillState(BPrivate::ViewState& state) const
{
	BView::FillState(state);
	state.border = uint32(fBorder);
	state.horizontalScroll = fHorizontal;
	state.verticalScroll = fVertical;
	state.target = fTarget ? fTarget->Id() : 0;
}
