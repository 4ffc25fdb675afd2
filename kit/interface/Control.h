// BControl: a view with a label, a value, an enabled state and a message.
#pragma once

#include <Invoker.h>
#include <View.h>

class BControl : public BView, public BInvoker {
public:
	BControl(BRect frame, const char* name, const char* label, BMessage* message,
		uint32 resizingMode, uint32 flags);
	~BControl() override;

	virtual void SetLabel(const char* label);
	const char* Label() const { return fLabel.c_str(); }
	virtual void SetValue(int32 value);
	int32 Value() const { return fValue; }
	virtual void SetEnabled(bool enabled);
	bool IsEnabled() const { return fEnabled; }

	// Adds "when", "source" and "be:value" like the platform, then sends.
	status_t Invoke(BMessage* message = nullptr) override;

	void AttachedToWindow() override;
	void FillState(BPrivate::ViewState& state) const override;

protected:
	// Sets the value without telling the display (input from the display).
	void SetValueNoUpdate(int32 value) { fValue = value; }

private:
	std::string fLabel;
	int32 fValue = 0;
	bool fEnabled = true;
};
