#include "OptionsView.h"

#include "Commands.h"

#include "TamselApp.h"

#include <GraphicsDefs.h>

#include <algorithm>

namespace {

constexpr uint32 kNavigable = B_WILL_DRAW | B_NAVIGABLE;

// Places a freshly made control at its preferred size below the previous one.
BRect Below(BView* previous, float gap)
{
	const float top = previous->Frame().bottom + gap;
	return BRect(0, top, 10, top + 10);
}

} // namespace

OptionsView::OptionsView(BRect frame)
	:
	BView(frame, "Program options", B_FOLLOW_NONE, 0)
{
	SetViewColor(ui_color(B_PANEL_BACKGROUND_COLOR));
	const float W = Bounds().right;

	browseButton = new BButton(BRect(W - 74, 0, W, 20), "SetEncoderLocation", "Browse...",
		new BMessage(kMsgLocateEncoder), B_FOLLOW_RIGHT | B_FOLLOW_TOP, kNavigable);
	float width = 0;
	float height = 0;
	browseButton->GetPreferredSize(&width, &height);
	// Its slot ends at the view's edge; a style with wider buttons than that
	// would push it out of the tab, where it is cut off.
	browseButton->ResizeTo(std::min(width, W - browseButton->Frame().left), 20);
	AddChild(browseButton);

	locationField = new BTextControl(BRect(0, 1, W - 79, 21), "EncoderLocation", "Gogo location:",
		"", nullptr, B_FOLLOW_LEFT_RIGHT | B_FOLLOW_TOP, kNavigable);
	locationField->GetPreferredSize(&width, &height);
	locationField->ResizeTo(W - 79, height);
	locationField->SetDivider(115);
	BTextView* entry = locationField->TextView();
	entry->ResizeTo(W - 203, entry->Bounds().Height());
	// One byte of the 1024-byte setting is its terminator.
	entry->SetMaxBytes(kEncoderLocationSize - 1);
	AddChild(locationField);

	closeOnAddBox = new BCheckBox(Below(locationField, 5), "DontCloseOnAdd",
		"Do not close \"Add files\" panel on adding files", new BMessage(kMsgDontCloseOnAdd),
		B_FOLLOW_LEFT | B_FOLLOW_TOP, kNavigable);
	closeOnAddBox->ResizeToPreferred();
	AddChild(closeOnAddBox);

	clearOnOpenBox = new BCheckBox(Below(closeOnAddBox, 5), "DontClearOnOpen",
		"Do not clear current list when opening another list", new BMessage(kMsgDontClearOnOpen),
		B_FOLLOW_LEFT | B_FOLLOW_TOP, kNavigable);
	clearOnOpenBox->ResizeToPreferred();
	AddChild(clearOnOpenBox);

	selfInstallBox = new BCheckBox(Below(clearOnOpenBox, 5), "SelfRegisterMIMEType",
		"Self-install MIME type on startup", new BMessage(kMsgSelfRegister),
		B_FOLLOW_LEFT | B_FOLLOW_TOP, kNavigable);
	selfInstallBox->ResizeToPreferred();
	AddChild(selfInstallBox);

	const float buttonTop = selfInstallBox->Frame().bottom + 5;
	BButton* install = new BButton(BRect(19, buttonTop, 29, buttonTop + 10),
		"RegisterMIMETypeNow", "Install MIME type now", new BMessage(kMsgRegisterNow),
		B_FOLLOW_LEFT | B_FOLLOW_TOP, kNavigable);
	install->ResizeToPreferred();
	AddChild(install);

	const float left = install->Frame().right + 4;
	BButton* remove = new BButton(BRect(left, buttonTop, left + 10, buttonTop + 10),
		"UnregisterMIMETypeNow", "Delete MIME type now", new BMessage(kMsgUnregisterNow),
		B_FOLLOW_LEFT | B_FOLLOW_TOP, kNavigable);
	remove->ResizeToPreferred();
	AddChild(remove);

	// The panel keeps a copy of its message.
	BMessage located(kMsgLocatePanel);
	locatePanel = std::make_unique<BFilePanel>(B_OPEN_PANEL, nullptr, nullptr,
		B_FILE_NODE | B_SYMLINK_NODE, false, &located, nullptr, true, true);
	locatePanel->Window()->SetTitle("Locate Gogo");
	locatePanel->SetButtonLabel(B_DEFAULT_BUTTON, "Select");
	locatePanel->SetButtonLabel(B_CANCEL_BUTTON, "Cancel");

	// Last, so that the controls start from the loaded settings; setting the
	// text sends kMsgLocationModified, which copies the same text back.
	locationField->SetModificationMessage(new BMessage(kMsgLocationModified));
	TamselApp* app = tamsel_app();
	locationField->SetText(app->encoderLocation.get());
	closeOnAddBox->SetValue(app->dontCloseOnAdd ? B_CONTROL_ON : B_CONTROL_OFF);
	clearOnOpenBox->SetValue(app->dontClearOnOpen ? B_CONTROL_ON : B_CONTROL_OFF);
	selfInstallBox->SetValue(app->selfRegisterMimeType ? B_CONTROL_ON : B_CONTROL_OFF);
}
