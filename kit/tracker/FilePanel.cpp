#include <FilePanel.h>

#include <AppDefs.h>
#include <Application.h>
#include <Display.h>
#include <Entry.h>

#include <atomic>
#include <mutex>

namespace {

std::atomic<int32> sNextPanelId{1};

} // namespace

// Everything the display's callback needs. The callback can run on any
// thread and may still run after the panel has been deleted; it then finds
// the panel gone and drops the answer.
struct BFilePanel::Shared {
	std::mutex lock;
	bool alive = true;
	bool showing = false;
	BPrivate::FilePanelRequest request;
	bool hasTarget = false;
	BMessenger target;
	std::unique_ptr<BMessage> message;
};

void BFilePanelWindow::SetTitle(const char* title)
{
	fTitle = title ? title : "";
}

BFilePanel::BFilePanel(file_panel_mode mode, BMessenger* target, const entry_ref* directory,
	uint32 nodeFlavors, bool allowMultipleSelection, BMessage* message, BRefFilter*, bool modal,
	bool hideWhenDone)
	:
	fMode(mode),
	fShared(std::make_shared<Shared>())
{
	fWindow.fTitle = mode == B_SAVE_PANEL ? "Save" : "Open";
	BPrivate::FilePanelRequest& request = fShared->request;
	request.id = sNextPanelId.fetch_add(1);
	request.mode = mode == B_SAVE_PANEL ? BPrivate::PanelMode::Save : BPrivate::PanelMode::Open;
	request.nodeFlavors = nodeFlavors != 0 ? nodeFlavors : uint32(B_FILE_NODE);
	request.multipleSelection = allowMultipleSelection;
	request.modal = modal;
	request.hideWhenDone = hideWhenDone;
	if (directory)
		request.startDirectory = directory->Path();
	if (target) {
		fShared->hasTarget = true;
		fShared->target = *target;
	}
	if (message)
		fShared->message = std::make_unique<BMessage>(*message);
}

BFilePanel::~BFilePanel()
{
	bool showing;
	int32 id;
	{
		std::lock_guard<std::mutex> guard(fShared->lock);
		fShared->alive = false;
		showing = fShared->showing;
		fShared->showing = false;
		id = fShared->request.id;
	}
	if (showing)
		BPrivate::GetDisplay()->HideFilePanel(id);
}

void BFilePanel::Show()
{
	BPrivate::FilePanelRequest request;
	{
		std::lock_guard<std::mutex> guard(fShared->lock);
		fShared->request.title = fWindow.fTitle;
		fShared->showing = true;
		request = fShared->request;
	}
	std::weak_ptr<Shared> weak = fShared;
	const file_panel_mode mode = fMode;
	BPrivate::GetDisplay()->ShowFilePanel(std::move(request),
		[weak, mode](const BPrivate::FilePanelResult& result) {
			std::shared_ptr<Shared> shared = weak.lock();
			if (!shared)
				return;
			BMessage message;
			BMessenger target;
			{
				std::lock_guard<std::mutex> guard(shared->lock);
				if (!shared->alive)
					return;
				// A cancel always closes the panel; a choice only when the
				// panel hides when done.
				if (result.cancelled || shared->request.hideWhenDone)
					shared->showing = false;
				if (result.cancelled)
					return;
				if (shared->message)
					message = *shared->message;
				else
					message.what = mode == B_SAVE_PANEL ? uint32(B_SAVE_REQUESTED) : uint32(B_REFS_RECEIVED);
				target = shared->hasTarget ? shared->target : be_app_messenger;
			}
			if (mode == B_SAVE_PANEL) {
				entry_ref directory;
				if (get_ref_for_path(result.directory.c_str(), &directory) == B_OK)
					message.AddRef("directory", &directory);
				message.AddString("name", result.name);
			} else {
				// The chosen entries themselves: a link stays a link.
				for (const std::string& path : result.paths) {
					entry_ref ref;
					if (get_ref_for_path(path.c_str(), &ref) == B_OK)
						message.AddRef("refs", &ref);
				}
			}
			target.SendMessage(&message);
		});
}

void BFilePanel::Hide()
{
	int32 id;
	{
		std::lock_guard<std::mutex> guard(fShared->lock);
		if (!fShared->showing)
			return;
		fShared->showing = false;
		id = fShared->request.id;
	}
	BPrivate::GetDisplay()->HideFilePanel(id);
}

bool BFilePanel::IsShowing() const
{
	std::lock_guard<std::mutex> guard(fShared->lock);
	return fShared->showing;
}

void BFilePanel::SetTarget(BMessenger target)
{
	std::lock_guard<std::mutex> guard(fShared->lock);
	fShared->hasTarget = true;
	fShared->target = target;
}

void BFilePanel::SetMessage(BMessage* message)
{
	std::lock_guard<std::mutex> guard(fShared->lock);
	fShared->message = message ? std::make_unique<BMessage>(*message) : nullptr;
}

void BFilePanel::SetButtonLabel(file_panel_button button, const char* label)
{
	std::lock_guard<std::mutex> guard(fShared->lock);
	if (button == B_CANCEL_BUTTON)
		fShared->request.cancelLabel = label ? label : "";
	else
		fShared->request.defaultLabel = label ? label : "";
}

void BFilePanel::SetHideWhenDone(bool hideWhenDone)
{
	std::lock_guard<std::mutex> guard(fShared->lock);
	fShared->request.hideWhenDone = hideWhenDone;
}

bool BFilePanel::HidesWhenDone() const
{
	std::lock_guard<std::mutex> guard(fShared->lock);
	return fShared->request.hideWhenDone;
}

void BFilePanel::SetSaveText(const char* text)
{
	std::lock_guard<std::mutex> guard(fShared->lock);
	fShared->request.saveName = text ? text : "";
}
