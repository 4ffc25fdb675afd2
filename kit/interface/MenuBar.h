// BMenuBar: the row of menus at the top of a window.
#pragma once

#include <Menu.h>
#include <View.h>

class BMenuBar : public BView, public BMenu {
public:
	BMenuBar(BRect frame, const char* name,
		uint32 resizingMode = B_FOLLOW_LEFT_RIGHT | B_FOLLOW_TOP,
		menu_layout layout = B_ITEMS_IN_ROW, bool resizeToFit = true);
	~BMenuBar() override;

	// Both bases know a name and a window; they are the same for a menu bar.
	using BHandler::Name;
	using BView::Window;

	void AttachedToWindow() override;
	void GetPreferredSize(float* width, float* height) override;
	BPrivate::ViewKind Kind() const override { return BPrivate::ViewKind::MenuBar; }
	void FillState(BPrivate::ViewState& state) const override;
	bool HandleInput(BMessage* message) override;

private:
	bool fResizeToFit;
};
