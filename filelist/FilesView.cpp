#include "FilesView.h"

#include "Commands.h"

#include "FilesList.h"

#include <GraphicsDefs.h>
#include <InterfaceDefs.h>
#include <Message.h>

#include <utility>

namespace {

// The buttons of the tab keep their label's width; only the left and top
// edges of the frame given here count.
std::unique_ptr<BButton> make_button(BRect frame, const char* name, const char* label, uint32 what,
	uint32 resizingMode, bool enabled)
{
	auto button = std::make_unique<BButton>(frame, name, label, new BMessage(what), resizingMode,
		B_WILL_DRAW | B_NAVIGABLE);
	button->ResizeToPreferred();
	if (!enabled)
		button->SetEnabled(false);
	return button;
}

} // namespace

FilesView::FilesView(BRect frame, BButton* encodeButton, MainWindow* window)
	:
	BView(frame, "Files", B_FOLLOW_NONE, 0)
{
	SetViewColor(ui_color(B_PANEL_BACKGROUND_COLOR));
	const float width = Bounds().right;
	const float height = Bounds().bottom;

	// No message of its own: the chosen files arrive as B_REFS_RECEIVED.
	addPanel = std::make_unique<BFilePanel>(B_OPEN_PANEL, nullptr, nullptr, B_FILE_NODE, true,
		nullptr, nullptr, true, true);
	addPanel->Window()->SetTitle("Add files");
	addPanel->SetButtonLabel(B_DEFAULT_BUTTON, "Add");

	auto adopt = [this](std::unique_ptr<BButton> button) {
		BButton* raw = button.get();
		AddChild(button.release());
		return raw;
	};
	removeButton = adopt(make_button(BRect(width - 74, height - 24, width, height), "RemoveFiles",
		"Remove", kMsgRemoveFiles, B_FOLLOW_RIGHT | B_FOLLOW_BOTTOM, false));
	addButton = adopt(make_button(BRect(width - 153, height - 24, width, height), "AddFiles",
		"Add...", kMsgAddFiles, B_FOLLOW_RIGHT | B_FOLLOW_BOTTOM, true));
	moveUpButton = adopt(make_button(BRect(-1, height - 24, width, height), "MoveUp", "Move up",
		kMsgMoveUp, B_FOLLOW_LEFT | B_FOLLOW_BOTTOM, false));
	const float upRight = moveUpButton->Frame().right;
	moveDownButton = adopt(make_button(BRect(upRight + 5, height - 24, width, height), "MoveDown",
		"Move down", kMsgMoveDown, B_FOLLOW_LEFT | B_FOLLOW_BOTTOM, false));

	// Room for the border on every side, the scroll bar on the right and
	// the row of buttons below.
	BRect listFrame = Bounds();
	listFrame.InsetBy(2, 2);
	listFrame.right -= B_V_SCROLL_BAR_WIDTH;
	listFrame.bottom -= 29;
	auto list = std::make_unique<FilesList>(listFrame, window);
	list->removeButton = removeButton;
	list->encodeButton = encodeButton;
	list->moveUpButton = moveUpButton;
	list->moveDownButton = moveDownButton;
	filesList = list.get();

	auto scroll = std::make_unique<BScrollView>("FilesScroll", list.release(), B_FOLLOW_ALL_SIDES,
		B_WILL_DRAW, false, true, B_FANCY_BORDER);
	scrollView = scroll.get();
	AddChild(scroll.release());
}
