// BCheckBox: an on/off control; toggling it sets its value and invokes.
#pragma once

#include <Control.h>

class BCheckBox : public BControl {
public:
	BCheckBox(BRect frame, const char* name, const char* label, BMessage* message,
		uint32 resizingMode = B_FOLLOW_LEFT | B_FOLLOW_TOP, uint32 flags = B_WILL_DRAW | B_NAVIGABLE);
	~BCheckBox() override;

	void GetPreferredSize(float* width, float* height) override;
	BPrivate::ViewKind Kind() const override { return BPrivate::ViewKind::CheckBox; }
	bool HandleInput(BMessage* message) override;
};
