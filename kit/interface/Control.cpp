#include <Control.h>

#include <Window.h>

#include <chrono>

namespace {

int64 Now()
{
	return std::chrono::duration_cast<std::chrono::microseconds>(
		std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace

BControl::BControl(BRect frame, const char* name, const char* label, BMessage* message,
	uint32 resizingMode, uint32 flags)
	:
	BView(frame, name, resizingMode, flags),
	BInvoker(message, nullptr, nullptr),
	fLabel(label ? label : "")
{
}

BControl::~BControl() = default;

void BControl::SetLabel(const char* label)
{
	std::string newLabel = label ? label : "";
	if (newLabel == fLabel)
		return;
	fLabel = std::move(newLabel);
	Invalidate();
}

void BControl::SetValue(int32 value)
{
	if (value == fValue)
		return;
	fValue = value;
	Invalidate();
}

void BControl::SetEnabled(bool enabled)
{
	if (enabled == fEnabled)
		return;
	fEnabled = enabled;
	Invalidate();
}

status_t BControl::Invoke(BMessage* message)
{
	const BMessage* source = message ? message : Message();
	if (!source)
		return B_BAD_VALUE;
	BMessage copy(*source);
	// A message sent again keeps one value per field.
	copy.RemoveName("when");
	copy.RemoveName("source");
	copy.RemoveName("be:value");
	copy.AddInt64("when", Now());
	copy.AddPointer("source", static_cast<const BControl*>(this));
	copy.AddInt32("be:value", fValue);
	if (HasTarget())
		return Messenger().SendMessage(&copy);
	// Without a target of its own a control reports to its window.
	BWindow* window = Window();
	if (!window)
		return B_BAD_HANDLER;
	return BMessenger(window).SendMessage(&copy);
}

void BControl::AttachedToWindow()
{
	BView::AttachedToWindow();
}

void BControl::FillState(BPrivate::ViewState& state) const
{
	BView::FillState(state);
	state.label = fLabel;
	state.value = fValue;
	state.enabled = fEnabled;
}
