#include <Button.h>

#include <Message.h>

BButton::BButton(BRect frame, const char* name, const char* label, BMessage* message,
	uint32 resizingMode, uint32 flags)
	:
	BControl(frame, name, label, message, resizingMode, flags)
{
}

BButton::~BButton() = default;

void BButton::MakeDefault(bool isDefault)
{
	if (isDefault == fDefault)
		return;
	fDefault = isDefault;
	Invalidate();
}

void BButton::GetPreferredSize(float* width, float* height)
{
	BView::GetPreferredSize(width, height);
}

void BButton::FillState(BPrivate::ViewState& state) const
{
	BControl::FillState(state);
	state.isDefault = fDefault;
}

bool BButton::HandleInput(BMessage* message)
{
	if (message->what != BPrivate::K_INPUT_INVOKE)
		return BControl::HandleInput(message);
	// The button may have been disabled after the display sent the click.
	if (IsEnabled())
		Invoke();
	return true;
}
