#include <StringView.h>

BStringView::BStringView(BRect frame, const char* name, const char* text, uint32 resizingMode,
	uint32 flags)
	:
	BView(frame, name, resizingMode, flags),
	fText(text ? text : "")
{
}

BStringView::~BStringView() = default;

void BStringView::SetText(const char* text)
{
	std::string newText = text ? text : "";
	if (newText == fText)
		return;
	fText = std::move(newText);
	Invalidate();
}

void BStringView::GetPreferredSize(float* width, float* height)
{
	BView::GetPreferredSize(width, height);
}

void BStringView::FillState(BPrivate::ViewState& state) const
{
	BView::FillState(state);
	state.text = fText;
}
