// BStringView: a line of text; a text longer than the frame is cut at its edge.
#pragma once

#include <View.h>

class BStringView : public BView {
public:
	BStringView(BRect frame, const char* name, const char* text,
		uint32 resizingMode = B_FOLLOW_LEFT | B_FOLLOW_TOP, uint32 flags = B_WILL_DRAW);
	~BStringView() override;

	void SetText(const char* text);
	const char* Text() const { return fText.c_str(); }

	void GetPreferredSize(float* width, float* height) override;
	BPrivate::ViewKind Kind() const override { return BPrivate::ViewKind::StringView; }
	void FillState(BPrivate::ViewState& state) const override;

private:
	std::string fText;
};
