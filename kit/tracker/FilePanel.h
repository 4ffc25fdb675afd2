// BFilePanel: the open and save panels; a panel keeps a copy of its message. An open panel sends its message (or
// B_REFS_RECEIVED when it has none) with "refs"; a save panel sends its
// message (or B_SAVE_REQUESTED) with "directory" and "name". The target
// defaults to the application.
#pragma once

#include <Message.h>
#include <Messenger.h>
#include <StorageDefs.h>

#include <memory>
#include <string>

enum file_panel_mode : int32 {
	B_OPEN_PANEL = 0,
	B_SAVE_PANEL = 1,
};

enum file_panel_button : int32 {
	B_CANCEL_BUTTON = 0,
	B_DEFAULT_BUTTON = 1,
};

enum : uint32 {
	B_SAVE_REQUESTED = '_SRQ',
};

class BRefFilter;

// The panel's window, as far as the program uses it.
class BFilePanelWindow {
public:
	void SetTitle(const char* title);
	const char* Title() const { return fTitle.c_str(); }

private:
	friend class BFilePanel;
	std::string fTitle;
};

class BFilePanel {
public:
	BFilePanel(file_panel_mode mode = B_OPEN_PANEL, BMessenger* target = nullptr,
		const entry_ref* directory = nullptr, uint32 nodeFlavors = 0,
		bool allowMultipleSelection = true, BMessage* message = nullptr,
		BRefFilter* filter = nullptr, bool modal = false, bool hideWhenDone = true);
	virtual ~BFilePanel();

	void Show();
	void Hide();
	bool IsShowing() const;

	BFilePanelWindow* Window() { return &fWindow; }
	void SetTarget(BMessenger target);
	void SetMessage(BMessage* message);
	void SetButtonLabel(file_panel_button button, const char* label);
	void SetHideWhenDone(bool hideWhenDone);
	bool HidesWhenDone() const;
	void SetSaveText(const char* text);
	file_panel_mode PanelMode() const { return fMode; }


private:
	struct Shared;
	file_panel_mode fMode;
	BFilePanelWindow fWindow;
	std::shared_ptr<Shared> fShared; // shared with the display's callback
};
