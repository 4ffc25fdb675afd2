#include "ProgressWindow.h"

#include "Commands.h"

ProgressWindow::ProgressWindow(BWindow* parent)
	:
	BWindow(BRect(0, 0, 1, 1), "Encoding progress", B_FLOATING_WINDOW_LOOK,
		B_MODAL_APP_WINDOW_FEEL,
		B_NOT_RESIZABLE | B_NOT_CLOSABLE | B_NOT_ZOOMABLE | B_NOT_MINIMIZABLE
			| B_ASYNCHRONOUS_CONTROLS,
		B_CURRENT_WORKSPACE)
{
	backView = new BView(Bounds(), "BackView", B_FOLLOW_ALL_SIDES, 0);
	backView->SetViewColor(ui_color(B_PANEL_BACKGROUND_COLOR));
	AddChild(backView);

	auto* nowEncoding = new BStringView(BRect(5, 5, 335, 6), "NowEncoding",
		"Please wait while encoding:", B_FOLLOW_LEFT | B_FOLLOW_TOP, B_WILL_DRAW);
	nowEncoding->ResizeToPreferred();
	backView->AddChild(nowEncoding);

	float top = nowEncoding->Frame().bottom;
	fileNameView = new BStringView(BRect(5, top + 6, 335, top + 21), "FileName", "#",
		B_FOLLOW_LEFT | B_FOLLOW_TOP, B_WILL_DRAW);
	backView->AddChild(fileNameView);

	top = fileNameView->Frame().bottom;
	fileNumberView = new BStringView(BRect(5, top + 6, 335, top + 21), "FileNumber", "#",
		B_FOLLOW_LEFT | B_FOLLOW_TOP, B_WILL_DRAW);
	backView->AddChild(fileNumberView);

	top = fileNumberView->Frame().bottom;
	skipButton = new BButton(BRect(5, top + 6, 80, top + 32), "SkipFile", "Skip file",
		new BMessage(kMsgSkipFile), B_FOLLOW_LEFT | B_FOLLOW_TOP, B_WILL_DRAW | B_NAVIGABLE);
	skipButton->ResizeToPreferred();
	skipButton->SetTarget(parent);
	backView->AddChild(skipButton);

	const float skipRight = skipButton->Frame().right;
	stopButton = new BButton(BRect(skipRight + 5, top + 6, skipRight + 81, top + 32),
		"StopEncoding", "Stop encoding", new BMessage(kMsgStopEncoding),
		B_FOLLOW_LEFT | B_FOLLOW_TOP, B_WILL_DRAW | B_NAVIGABLE);
	stopButton->ResizeToPreferred();
	stopButton->SetTarget(parent);
	backView->AddChild(stopButton);

	const float lineHeight = nowEncoding->Frame().Height();
	ResizeTo(340, 3 * lineHeight + skipButton->Frame().Height() + 28);
}
