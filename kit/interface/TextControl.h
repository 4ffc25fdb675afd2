// BTextControl: a label and a one-line text field. The modification message
// is sent on every change of the text, typed or set with SetText.
#pragma once

#include <Control.h>

#include <memory>

// The text entry part of a text control, as far as the program uses it.
class BTextView {
public:
	explicit BTextView(class BTextControl* owner) : fOwner(owner) {}
	BRect Frame() const { return fFrame; }
	BRect Bounds() const { return BRect(0, 0, fFrame.Width(), fFrame.Height()); }
	void ResizeTo(float width, float height);
	// At most this many bytes of text are accepted (typed or set).
	void SetMaxBytes(int32 max);
	int32 MaxBytes() const { return fMaxBytes; }
	const char* Text() const;
	void SetText(const char* text);

private:
	friend class BTextControl;
	BTextControl* fOwner;
	BRect fFrame;
	int32 fMaxBytes = 0x7fffffff;
};

class BTextControl : public BControl {
public:
	BTextControl(BRect frame, const char* name, const char* label, const char* initialText,
		BMessage* message, uint32 resizingMode = B_FOLLOW_LEFT | B_FOLLOW_TOP,
		uint32 flags = B_WILL_DRAW | B_NAVIGABLE);
	~BTextControl() override;

	// Texts longer than the text view's byte limit are cut at the limit
	// (never inside a UTF-8 character).
	virtual void SetText(const char* text);
	const char* Text() const { return fText.c_str(); }

	void SetDivider(float position);
	float Divider() const { return fDivider; }

	// The message sent whenever the text changes; belongs to the control.
	void SetModificationMessage(BMessage* message);
	BMessage* ModificationMessage() const { return fModificationMessage.get(); }

	BTextView* TextView() const { return fTextView.get(); }

	void GetPreferredSize(float* width, float* height) override;
	void ResizeToPreferred() override;
	BPrivate::ViewKind Kind() const override { return BPrivate::ViewKind::TextControl; }
	void FillState(BPrivate::ViewState& state) const override;
	bool HandleInput(BMessage* message) override;

private:
	friend class BTextView;
	void ApplyText(std::string text, bool fromDisplay);
	void LayoutTextView();

	std::string fText;
	float fDivider = 0;
	std::unique_ptr<BMessage> fModificationMessage;
	std::unique_ptr<BTextView> fTextView;
};
