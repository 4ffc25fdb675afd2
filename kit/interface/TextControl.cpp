#include <TextControl.h>

#include <Message.h>

#include <climits>
#include <cmath>

namespace {

// The longest prefix of text that fits in maxBytes without splitting a
// UTF-8 sequence.
std::string CutToBytes(std::string text, int32 maxBytes)
{
	if (maxBytes < 0)
		maxBytes = 0;
	if (text.size() <= size_t(maxBytes))
		return text;
	size_t cut = size_t(maxBytes);
	while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
		cut--;
	text.resize(cut);
	return text;
}

} // namespace

void BTextView::ResizeTo(float width, float height)
{
	if (width == fFrame.Width() && height == fFrame.Height())
		return;
	fFrame.right = fFrame.left + width;
	fFrame.bottom = fFrame.top + height;
	fOwner->Invalidate();
}

void BTextView::SetMaxBytes(int32 max)
{
	if (max < 0)
		max = 0;
	if (max == fMaxBytes)
		return;
	fMaxBytes = max;
	fOwner->Invalidate();
	// A text already longer than the new limit is cut like a typed one.
	fOwner->ApplyText(fOwner->fText, false);
}

const char* BTextView::Text() const
{
	return fOwner->Text();
}

void BTextView::SetText(const char* text)
{
	fOwner->SetText(text);
}

BTextControl::BTextControl(BRect frame, const char* name, const char* label,
	const char* initialText, BMessage* message, uint32 resizingMode, uint32 flags)
	:
	BControl(frame, name, label, message, resizingMode, flags),
	fText(initialText ? initialText : ""),
	fTextView(std::make_unique<BTextView>(this))
{
	// Without a label the entry takes the whole width.
	fDivider = (label && *label) ? std::floor(frame.Width() / 2.0f) : 0;
	LayoutTextView();
}

BTextControl::~BTextControl() = default;

void BTextControl::SetText(const char* text)
{
	ApplyText(text ? text : "", false);
}

void BTextControl::SetDivider(float position)
{
	if (position == fDivider)
		return;
	fDivider = position;
	LayoutTextView();
	Invalidate();
}

void BTextControl::SetModificationMessage(BMessage* message)
{
	if (message != fModificationMessage.get())
		fModificationMessage.reset(message);
}

void BTextControl::GetPreferredSize(float* width, float* height)
{
	BView::GetPreferredSize(width, height);
}

void BTextControl::ResizeToPreferred()
{
	// The entry follows through BView::ResizeBy.
	BView::ResizeToPreferred();
}

void BTextControl::FillState(BPrivate::ViewState& state) const
{
	BControl::FillState(state);
	state.text = fText;
	state.divider = fDivider;
	state.maxBytes = fTextView->MaxBytes() == INT32_MAX ? 0 : fTextView->MaxBytes();
	state.textViewFrame = fTextView->Frame();
}

bool BTextControl::HandleInput(BMessage* message)
{
	if (message->what != BPrivate::K_INPUT_TEXT)
		return BControl::HandleInput(message);
	std::string text;
	if (IsEnabled() && message->FindString("text", &text) == B_OK)
		ApplyText(std::move(text), true);
	return true;
}

void BTextControl::ApplyText(std::string text, bool fromDisplay)
{
	const size_t given = text.size();
	std::string cut = CutToBytes(std::move(text), fTextView->MaxBytes());
	const bool wasCut = cut.size() != given;
	if (cut == fText) {
		// A field that showed more than the limit gets the cut text back.
		if (fromDisplay && wasCut)
			Invalidate();
		return;
	}
	fText = std::move(cut);
	// What the user typed is on the screen already; anything else is sent.
	if (!fromDisplay || wasCut)
		Invalidate();
	if (fModificationMessage)
		Invoke(fModificationMessage.get());
}

void BTextControl::LayoutTextView()
{
	BRect bounds = Bounds();
	fTextView->fFrame = BRect(fDivider, 0, bounds.right, bounds.bottom);
}
