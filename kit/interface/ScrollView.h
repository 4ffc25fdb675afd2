// BScrollView: a frame around a target view with scroll bars.
#pragma once

#include <View.h>

class BScrollView : public BView {
public:
	// The target becomes a child of the scroll view, which grows around it
	// by the border and the scroll bars.
	BScrollView(const char* name, BView* target, uint32 resizingMode = B_FOLLOW_LEFT | B_FOLLOW_TOP,
		uint32 flags = 0, bool horizontal = false, bool vertical = false,
		border_style border = B_FANCY_BORDER);
	~BScrollView() override;

	BView* Target() const { return fTarget; }
	// Removing the target leaves an empty frame.
	bool RemoveChild(BView* child) override;
	border_style Border() const { return fBorder; }

	BPrivate::ViewKind Kind() const override { return BPrivate::ViewKind::ScrollView; }
	void FillState(BPrivate::ViewState& state) const override;

private:
	BView* fTarget;
	bool fHorizontal;
	bool fVertical;
	border_style fBorder;
};
