#include "FilesList.h"

#include "Alerts.h"
#include "Commands.h"
#include "ListFile.h"
#include "MainWindow.h"
#include "TabView.h"
#include "TamselApp.h"

#include <AppDefs.h>
#include <Autolock.h>
#include <Entry.h>
#include <ListItem.h>
#include <Message.h>
#include <Path.h>
#include <Window.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// Past this many separate runs of selected rows, removing run by run costs
// more than rebuilding the list from the rows that stay.
constexpr size_t kMaxRunsRemovedInPlace = 32;

void set_enabled(BButton* button, bool enabled)
{
	if (button != nullptr)
		button->SetEnabled(enabled);
}

} // namespace

FilesList::FilesList(BRect frame, MainWindow* window)
	:
	BListView(frame, "FilesList", B_MULTIPLE_SELECTION_LIST, B_FOLLOW_ALL_SIDES,
		B_WILL_DRAW | B_NAVIGABLE | B_FRAME_EVENTS),
	mainWindow(window)
{
	// The panels copy their messages, as on the platform.
	BMessage saveMessage(kMsgSavePanel);
	savePanel = std::make_unique<BFilePanel>(B_SAVE_PANEL, nullptr, nullptr, B_FILE_NODE, false,
		&saveMessage, nullptr, true, true);
	savePanel->Window()->SetTitle("Save list");
	savePanel->SetButtonLabel(B_DEFAULT_BUTTON, "Save");
	savePanel->SetButtonLabel(B_CANCEL_BUTTON, "Cancel");

	BMessage openMessage(kMsgOpenPanel);
	openPanel = std::make_unique<BFilePanel>(B_OPEN_PANEL, nullptr, nullptr, B_FILE_NODE, false,
		&openMessage, nullptr, true, true);
	openPanel->Window()->SetTitle("Open list");
	openPanel->SetButtonLabel(B_DEFAULT_BUTTON, "Open");
	openPanel->SetButtonLabel(B_CANCEL_BUTTON, "Cancel");
}

FilesList::~FilesList()
{
	// The buttons are siblings of the scroll view and may be gone already.
	encodeButton = nullptr;
	removeButton = nullptr;
	moveUpButton = nullptr;
	moveDownButton = nullptr;
	std::vector<std::unique_ptr<BListItem>> items;
	items.reserve(size_t(CountItems()));
	for (int32 i = 0; i < CountItems(); i++)
		items.emplace_back(ItemAt(i));
	BListView::MakeEmpty();
}

int32 FilesList::CountSelected()
{
	int32 count = 0;
	while (CurrentSelection(count) != -1)
		count++;
	return count;
}

void FilesList::SelectionChanged()
{
	// Runs after every insertion, so it must not count the whole selection:
	// whether there is exactly one selected row is all the rules need.
	int32 first = CurrentSelection(0);
	bool single = first != -1 && CurrentSelection(1) == -1;
	int32 count = CountItems();
	set_enabled(removeButton, first != -1);
	set_enabled(moveUpButton, single && first > 0);
	set_enabled(moveDownButton, single && first < count - 1);
}

bool FilesList::AddItem(BListItem* item)
{
	bool added = BListView::AddItem(item);
	if (added) {
		set_enabled(encodeButton, true);
		SelectionChanged();
	}
	return added;
}

bool FilesList::AddItem(BListItem* item, int32 index)
{
	bool added = BListView::AddItem(item, index);
	if (added) {
		set_enabled(encodeButton, true);
		SelectionChanged();
	}
	return added;
}

void FilesList::AddFile(const char* path)
{
	BAutolock lock(Window());
	auto item = std::make_unique<BStringItem>(path != nullptr ? path : "");
	if (AddItem(item.get()))
		item.release(); // the list's now
}

void FilesList::MessageReceived(BMessage* message)
{
	if (message->what != B_SIMPLE_DATA || !message->HasRef("refs")) {
		BListView::MessageReceived(message);
		return;
	}
	entry_ref ref;
	for (int32 i = 0; message->FindRef("refs", i, &ref) == B_OK; i++) {
		BEntry entry(&ref, true);
		// Gone since it was dragged: there is nothing to encode.
		if (entry.InitCheck() != B_OK || !entry.Exists())
			continue;
		BPath path(&entry);
		if (path.InitCheck() != B_OK)
			continue;
		BAutolock lock(Window());
		auto item = std::make_unique<BStringItem>(path.Path());
		if (AddItem(item.get()))
			item.release();
	}
}

void FilesList::RemoveFiles()
{
	// Runs of consecutive selected rows, from the last row up, as
	// (first index, length).
	std::vector<std::pair<int32, int32>> runs;
	for (int32 i = CountItems() - 1; i >= 0;) {
		if (!ItemAt(i)->IsSelected()) {
			i--;
			continue;
		}
		int32 last = i;
		while (i >= 0 && ItemAt(i)->IsSelected())
			i--;
		runs.emplace_back(i + 1, last - i);
	}

	std::vector<std::unique_ptr<BListItem>> removed;
	if (runs.size() <= kMaxRunsRemovedInPlace) {
		for (auto [first, length] : runs) {
			for (int32 i = first; i < first + length; i++)
				removed.emplace_back(ItemAt(i));
			BListView::RemoveItems(first, length);
		}
	} else {
		// A scattered selection: each removal from the middle would move the
		// whole tail of the list, so the rows that stay are put back at once.
		std::vector<BListItem*> kept;
		kept.reserve(size_t(CountItems()));
		for (int32 i = 0; i < CountItems(); i++) {
			BListItem* item = ItemAt(i);
			if (item->IsSelected())
				removed.emplace_back(item);
			else
				kept.push_back(item);
		}
		BListView::MakeEmpty();
		BListView::AddList(kept);
	}
	removed.clear();

	if (IsEmpty())
		set_enabled(encodeButton, false);
	SelectionChanged();
}

void FilesList::MoveUp()
{
	int32 selected = CurrentSelection(0);
	if (selected > 0 && CurrentSelection(1) == -1)
		MoveItem(selected, selected - 1);
	SelectionChanged();
}

void FilesList::MoveDown()
{
	int32 selected = CurrentSelection(0);
	if (selected != -1 && CurrentSelection(1) == -1 && selected < CountItems() - 1)
		MoveItem(selected, selected + 1);
	SelectionChanged();
}

void FilesList::Clear()
{
	std::vector<std::unique_ptr<BListItem>> items;
	items.reserve(size_t(CountItems()));
	for (int32 i = 0; i < CountItems(); i++)
		items.emplace_back(ItemAt(i));
	BListView::MakeEmpty();
	items.clear();
	set_enabled(encodeButton, false);
	SelectionChanged();
}

void FilesList::ShowSave()
{
	savePanel->Show();
}

void FilesList::ShowOpen()
{
	openPanel->Show();
}

void FilesList::Save(const char* path)
{
	// The items' own texts, not copies: a list of a million entries would
	// be held twice. The lock stays for the whole write (the window's thread
	// holds it anyway while it handles the panel's message), so no item goes
	// away under the writer.
	BAutolock lock(mainWindow != nullptr ? static_cast<BLooper*>(mainWindow) : Window());
	std::vector<std::string_view> paths;
	const int32 count = CountItems();
	paths.reserve(size_t(count));
	for (int32 i = 0; i < count; i++) {
		auto* item = dynamic_cast<BStringItem*>(ItemAt(i));
		paths.emplace_back(item != nullptr ? item->Text() : "");
	}

	switch (listfile::WriteViews(path, paths)) {
		case listfile::WriteResult::kOk:
			break;
		case listfile::WriteResult::kOpenError:
			ShowStopAlert("SaveOpenError",
				"Can't create or open output file. Please check that the file isn't on a "
				"read-only disk, or the file you want to overwrite isn't used by other "
				"applications.");
			break;
		case listfile::WriteResult::kWriteError:
			ShowStopAlert("SaveWriteError", "Can't write to output file. Disk full?");
			break;
	}
}

void FilesList::Open(const char* path)
{
	// The whole file is read before the list changes, so that a list is
	// never left half replaced. The items are made as the lines are read:
	// a long list is then held once, not once more as the file's paths.
	std::vector<std::unique_ptr<BStringItem>> fresh;
	std::string entry;
	const auto made = [&](std::string_view line) {
		entry.assign(line);
		fresh.push_back(std::make_unique<BStringItem>(entry.c_str()));
	};
	if (listfile::Read(path, made) != listfile::ReadResult::kOk) {
		ShowStopAlert("OpenOpenError",
			"Can't open input file. Please make sure you have access to the file.");
		return;
	}

	BAutolock lock(mainWindow != nullptr ? static_cast<BLooper*>(mainWindow) : Window());
	if (mainWindow != nullptr && mainWindow->tabView != nullptr)
		mainWindow->tabView->Select(0);
	TamselApp* app = tamsel_app();
	if (app == nullptr || !app->dontClearOnOpen) {
		std::vector<std::unique_ptr<BListItem>> old;
		old.reserve(size_t(CountItems()));
		for (int32 i = 0; i < CountItems(); i++)
			old.emplace_back(ItemAt(i));
		BListView::MakeEmpty();
	}
	std::vector<BListItem*> items;
	items.reserve(fresh.size());
	for (const auto& item : fresh)
		items.push_back(item.get());
	if (AddList(items)) {
		for (auto& item : fresh)
			(void)item.release(); // the list owns them now
	}
	if (IsEmpty()) {
		set_enabled(encodeButton, false);
		SelectionChanged();
	}
}
