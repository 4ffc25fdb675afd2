#include <CheckBox.h>

#include <Message.h>

BCheckBox::BCheckBox(BRect frame, const char* name, const char* label, BMessage* message,
	uint32 resizingMode, uint32 flags)
	:
	BControl(frame, name, label, message, resizingMode, flags)
{
}

BCheckBox::~BCheckBox() = default;

void BCheckBox::GetPreferredSize(float* width, float* height)
{
	BView::GetPreferredSize(width, height);
}

bool BCheckBox::HandleInput(BMessage* message)
{
	if (message->what != BPrivate::K_INPUT_INVOKE)
		return BControl::HandleInput(message);
	if (!IsEnabled())
		return true;
	int32 value = 0;
	if (message->FindInt32("value", &value) != B_OK)
		value = Value() == B_CONTROL_OFF ? B_CONTROL_ON : B_CONTROL_OFF;
	// The display shows the new value already.
	SetValueNoUpdate(value != B_CONTROL_OFF ? B_CONTROL_ON : B_CONTROL_OFF);
	if (Message())
		Invoke();
	return true;
}
