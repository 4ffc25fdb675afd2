// The window shown while a run goes through the list: which file, which of
// how many, and "Skip file" / "Stop encoding".
#pragma once

#include <Button.h>
#include <StringView.h>
#include <Window.h>

class ProgressWindow : public BWindow {
public:
	explicit ProgressWindow(BWindow* parent);

	BView* backView = nullptr;
	BStringView* fileNameView = nullptr;
	BStringView* fileNumberView = nullptr;
	BButton* skipButton = nullptr;
	BButton* stopButton = nullptr;
};
