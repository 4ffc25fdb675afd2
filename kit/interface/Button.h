// BButton: a push button that invokes its message when clicked.
#pragma once

#include <Control.h>

class BButton : public BControl {
public:
	BButton(BRect frame, const char* name, const char* label, BMessage* message,
		uint32 resizingMode = B_FOLLOW_LEFT | B_FOLLOW_TOP, uint32 flags = B_WILL_DRAW | B_NAVIGABLE);
	~BButton() override;

	void MakeDefault(bool isDefault);
	bool IsDefault() const { return fDefault; }

	void GetPreferredSize(float* width, float* height) override;
	BPrivate::ViewKind Kind() const override { return BPrivate::ViewKind::Button; }
	void FillState(BPrivate::ViewState& state) const override;
	bool HandleInput(BMessage* message) override;

private:
	bool fDefault = false;
};
