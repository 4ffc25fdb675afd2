// BMenuField: a label and a pop-up menu that shows its marked item's label.
#pragma once

#include <Menu.h>
#include <View.h>

#include <memory>

class BMenuField : public BView {
public:
	// The menu belongs to the field.
	BMenuField(BRect frame, const char* name, const char* label, BMenu* menu,
		uint32 resizingMode = B_FOLLOW_LEFT | B_FOLLOW_TOP,
		uint32 flags = B_WILL_DRAW | B_NAVIGABLE);
	~BMenuField() override;

	BMenu* Menu() const { return fMenu.get(); }
	const char* Label() const { return fLabel.c_str(); }
	void SetLabel(const char* label);
	void SetDivider(float position);
	float Divider() const { return fDivider; }
	void SetEnabled(bool enabled);
	bool IsEnabled() const { return fEnabled; }

	void GetPreferredSize(float* width, float* height) override;
	BPrivate::ViewKind Kind() const override { return BPrivate::ViewKind::MenuField; }
	void FillState(BPrivate::ViewState& state) const override;
	bool HandleInput(BMessage* message) override;

private:
	std::string fLabel;
	std::unique_ptr<BMenu> fMenu;
	float fDivider = 0;
	bool fEnabled = true;
};
