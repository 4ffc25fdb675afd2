// The headless display as a robot user: what the screen shows, and acting
// on it. Every call takes the display's lock; input is posted after it is
// let go.
#include "HeadlessDisplayImpl.h"

#include <AppDefs.h>
#include <Entry.h>

#include <algorithm>
#include <set>
#include <thread>

#include <sys/stat.h>

namespace BPrivate {

namespace {

// The byte length of the UTF-8 sequence that starts with this byte.
size_t SequenceLength(unsigned char lead)
{
	if (lead < 0x80)
		return 1;
	if ((lead & 0xE0) == 0xC0)
		return 2;
	if ((lead & 0xF0) == 0xE0)
		return 3;
	if ((lead & 0xF8) == 0xF0)
		return 4;
	return 1;
}

std::vector<std::string> SplitCharacters(const std::string& text)
{
	std::vector<std::string> characters;
	for (size_t at = 0; at < text.size();) {
		size_t length = std::min(SequenceLength(static_cast<unsigned char>(text[at])),
			text.size() - at);
		characters.push_back(text.substr(at, length));
		at += length;
	}
	return characters;
}

std::string CutToBytes(std::string text, int32 maxBytes)
{
	if (maxBytes <= 0 || text.size() <= size_t(maxBytes))
		return text;
	size_t cut = size_t(maxBytes);
	while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
		cut--;
	text.resize(cut);
	return text;
}

const MenuItemState* FindItem(const std::vector<MenuItemState>& items, const std::string& label,
	bool wantMenu)
{
	for (const MenuItemState& item : items) {
		bool isMenu = item.isMenu || !item.items.empty();
		if (!item.separator && item.label == label && isMenu == wantMenu)
			return &item;
		if (const MenuItemState* found = FindItem(item.items, label, wantMenu))
			return found;
	}
	return nullptr;
}

// The chain of enabled flags down to the item: a disabled menu disables
// everything in it.
bool IsReachable(const std::vector<MenuItemState>& items, int32 id, bool enabled)
{
	for (const MenuItemState& item : items) {
		bool itemEnabled = enabled && item.enabled;
		if (item.id == id && !item.separator)
			return itemEnabled;
		if (IsReachable(item.items, id, itemEnabled))
			return true;
	}
	return false;
}

const MenuItemState* FindMarked(const std::vector<MenuItemState>& items)
{
	for (const MenuItemState& item : items) {
		if (item.marked && !item.separator)
			return &item;
		if (const MenuItemState* found = FindMarked(item.items))
			return found;
	}
	return nullptr;
}

// Marks the chosen item the way a radio-mode menu does on the screen.
void MarkChosen(std::vector<MenuItemState>& items, int32 id)
{
	for (MenuItemState& item : items) {
		bool holds = std::any_of(item.items.begin(), item.items.end(),
			[id](const MenuItemState& child) { return child.id == id; });
		if (holds && item.radioMode) {
			for (MenuItemState& child : item.items)
				child.marked = child.id == id;
		}
		MarkChosen(item.items, id);
	}
}

} // namespace

// ---- what the screen shows ---------------------------------------------

std::optional<WindowState> HeadlessDisplay::FindWindow(const std::string& title) const
{
	std::lock_guard<std::mutex> guard(fImpl->lock);
	if (const Impl::Window* window = fImpl->FindWindow(title))
		return window->state;
	return std::nullopt;
}

std::vector<WindowState> HeadlessDisplay::Windows() const
{
	std::lock_guard<std::mutex> guard(fImpl->lock);
	std::vector<WindowState> windows;
	for (const auto& [id, window] : fImpl->windows)
		windows.push_back(window.state);
	return windows;
}

bool HeadlessDisplay::IsWindowShown(const std::string& title) const
{
	std::lock_guard<std::mutex> guard(fImpl->lock);
	const Impl::Window* window = fImpl->FindWindow(title);
	return window && !window->state.hidden;
}

std::optional<ViewState> HeadlessDisplay::FindView(const std::string& window,
	const std::string& view) const
{
	std::lock_guard<std::mutex> guard(fImpl->lock);
	if (const Impl::View* found = fImpl->FindView(window, view))
		return found->state;
	return std::nullopt;
}

std::vector<std::string> HeadlessDisplay::ListItems(const std::string& window,
	const std::string& view) const
{
	std::lock_guard<std::mutex> guard(fImpl->lock);
	if (const Impl::View* found = fImpl->FindView(window, view))
		return found->rows;
	return {};
}

int32 HeadlessDisplay::CountListItems(const std::string& window, const std::string& view) const
{
	std::lock_guard<std::mutex> guard(fImpl->lock);
	if (const Impl::View* found = fImpl->FindView(window, view))
		return int32(found->rows.size());
	return -1;
}

std::vector<int32> HeadlessDisplay::ListSelection(const std::string& window,
	const std::string& view) const
{
	std::lock_guard<std::mutex> guard(fImpl->lock);
	if (const Impl::View* found = fImpl->FindView(window, view))
		return found->selection;
	return {};
}

std::string HeadlessDisplay::MarkedLabel(const std::string& window, const std::string& view) const
{
	std::lock_guard<std::mutex> guard(fImpl->lock);
	const Impl::View* found = fImpl->FindView(window, view);
	if (!found)
		return {};
	const MenuItemState* marked = FindMarked(found->state.menu);
	return marked ? marked->label : std::string();
}

std::optional<BRect> HeadlessDisplay::ViewFrameInWindow(const std::string& window,
	const std::string& view) const
{
	std::lock_guard<std::mutex> guard(fImpl->lock);
	Impl::Window* owner = fImpl->FindWindow(window);
	if (!owner)
		return std::nullopt;
	const Impl::View* found = fImpl->FindView(*owner, view);
	if (!found)
		return std::nullopt;
	BRect frame = found->state.frame;
	ViewId parent = found->state.parent;
	for (int depth = 0; parent != 0 && depth < 1000; depth++) {
		auto at = owner->views.find(parent);
		if (at == owner->views.end())
			break;
		frame.OffsetBy(at->second.state.frame.left, at->second.state.frame.top);
		parent = at->second.state.parent;
	}
	return frame;
}

std::vector<HeadlessDisplay::ShownAlert> HeadlessDisplay::Alerts() const
{
	std::lock_guard<std::mutex> guard(fImpl->lock);
	std::vector<ShownAlert> alerts;
	for (const Impl::Alert& alert : fImpl->alerts) {
		const AlertRequest& request = alert.request;
		alerts.push_back(ShownAlert{request.id, request.title, request.text, request.buttons,
			request.icon, alert.width, alert.height, alert.textScrolls});
	}
	return alerts;
}

std::vector<HeadlessDisplay::ShownPanel> HeadlessDisplay::Panels() const
{
	std::lock_guard<std::mutex> guard(fImpl->lock);
	std::vector<ShownPanel> panels;
	for (const Impl::Panel& panel : fImpl->panels)
		panels.push_back(ShownPanel{panel.request.id, panel.request});
	return panels;
}

int32 HeadlessDisplay::BatchCount(const std::string& window) const
{
	std::lock_guard<std::mutex> guard(fImpl->lock);
	const Impl::Window* found = fImpl->FindWindow(window);
	return found ? found->batches : 0;
}

// ---- acting like a user ------------------------------------------------

bool HeadlessDisplay::Click(const std::string& window, const std::string& view)
{
	auto act = [&](Impl::View* target, std::vector<BMessage>& input) {
		BMessage message = Impl::InputFor(K_INPUT_INVOKE, target->state.id);
		// Clicking a check box toggles it, as on the screen.
		if (target->state.kind == ViewKind::CheckBox) {
			target->state.value = target->state.value ? 0 : 1;
			message.AddInt32("value", target->state.value);
		}
		input.push_back(std::move(message));
		return true;
	};
	return fImpl->Act(window, view, std::nullopt, act);
}

bool HeadlessDisplay::Toggle(const std::string& window, const std::string& view)
{
	// Only a check box; then it is a click.
	auto checkOnly = [](Impl::View*, std::vector<BMessage>&) { return true; };
	return fImpl->Act(window, view, ViewKind::CheckBox, checkOnly) && Click(window, view);
}

bool HeadlessDisplay::SetText(const std::string& window, const std::string& view,
	const std::string& text)
{
	auto act = [&](Impl::View* target, std::vector<BMessage>& input) {
		// A field takes no more than its limit, like a paste would.
		target->state.text = CutToBytes(text, target->state.maxBytes);
		BMessage message = Impl::InputFor(K_INPUT_TEXT, target->state.id);
		message.AddString("text", target->state.text);
		input.push_back(std::move(message));
		return true;
	};
	return fImpl->Act(window, view, ViewKind::TextControl, act);
}

bool HeadlessDisplay::Type(const std::string& window, const std::string& view,
	const std::string& text)
{
	auto act = [&](Impl::View* target, std::vector<BMessage>& input) {
		for (const std::string& character : SplitCharacters(text)) {
			int32 limit = target->state.maxBytes;
			// A full field refuses further keys.
			if (limit > 0 && target->state.text.size() + character.size() > size_t(limit))
				break;
			target->state.text += character;
			BMessage message = Impl::InputFor(K_INPUT_TEXT, target->state.id);
			message.AddString("text", target->state.text);
			input.push_back(std::move(message));
		}
		return true;
	};
	return fImpl->Act(window, view, ViewKind::TextControl, act);
}

bool HeadlessDisplay::ChooseMenuItem(const std::string& window, const std::string& view,
	const std::string& menu, const std::string& item)
{
	auto act = [&](Impl::View* target, std::vector<BMessage>& input) {
		const std::vector<MenuItemState>* items = &target->state.menu;
		if (!menu.empty()) {
			const MenuItemState* submenu = FindItem(*items, menu, true);
			if (!submenu || !submenu->enabled)
				return false;
			items = &submenu->items;
		}
		const MenuItemState* chosen = FindItem(*items, item, false);
		if (!chosen || !IsReachable(target->state.menu, chosen->id, true))
			return false;
		int32 id = chosen->id;
		MarkChosen(target->state.menu, id);
		BMessage message = Impl::InputFor(K_INPUT_MENU, target->state.id);
		message.AddInt32("item", id);
		input.push_back(std::move(message));
		return true;
	};
	return fImpl->Act(window, view, std::nullopt, act);
}

bool HeadlessDisplay::SelectRow(const std::string& window, const std::string& view, int32 row,
	bool extend, bool toggle)
{
	auto act = [&](Impl::View* target, std::vector<BMessage>& input) {
		if (row < 0 || row >= int32(target->rows.size()))
			return false;
		std::set<int32> selection(target->selection.begin(), target->selection.end());
		const bool selected = selection.count(row) != 0;
		if (!target->state.multipleSelection) {
			// One row at most: a ctrl-click on the selected row clears it.
			selection.clear();
			if (!(toggle && selected))
				selection.insert(row);
			target->anchor = row;
		} else if (toggle) {
			if (selected)
				selection.erase(row);
			else
				selection.insert(row);
			target->anchor = row;
		} else if (extend) {
			int32 anchor = target->anchor;
			if (anchor < 0 || anchor >= int32(target->rows.size()))
				anchor = selection.empty() ? row : *selection.begin();
			for (int32 at = std::min(anchor, row); at <= std::max(anchor, row); at++)
				selection.insert(at);
		} else {
			selection = {row};
			target->anchor = row;
		}
		target->selection.assign(selection.begin(), selection.end());
		BMessage message = Impl::InputFor(K_INPUT_SELECT, target->state.id);
		for (int32 index : target->selection)
			message.AddInt32("index", index);
		input.push_back(std::move(message));
		return true;
	};
	return fImpl->Act(window, view, ViewKind::ListView, act);
}

bool HeadlessDisplay::SelectRows(const std::string& window, const std::string& view,
	std::vector<int32> rows)
{
	auto act = [&](Impl::View* target, std::vector<BMessage>& input) {
		std::set<int32> selection;
		for (int32 row : rows) {
			if (row < 0 || row >= int32(target->rows.size()))
				return false;
			selection.insert(row);
		}
		if (!target->state.multipleSelection && selection.size() > 1)
			return false;
		target->selection.assign(selection.begin(), selection.end());
		target->anchor = selection.empty() ? -1 : *selection.rbegin();
		BMessage message = Impl::InputFor(K_INPUT_SELECT, target->state.id);
		for (int32 index : target->selection)
			message.AddInt32("index", index);
		input.push_back(std::move(message));
		return true;
	};
	return fImpl->Act(window, view, ViewKind::ListView, act);
}

bool HeadlessDisplay::SelectTab(const std::string& window, const std::string& view, int32 index)
{
	auto act = [&](Impl::View* target, std::vector<BMessage>& input) {
		if (index < 0 || index >= int32(target->state.tabLabels.size()))
			return false;
		target->state.selectedTab = index;
		BMessage message = Impl::InputFor(K_INPUT_TAB, target->state.id);
		message.AddInt32("index", index);
		input.push_back(std::move(message));
		return true;
	};
	return fImpl->Act(window, view, ViewKind::TabView, act);
}

bool HeadlessDisplay::Drop(const std::string& window, const std::string& view,
	const std::vector<std::string>& paths)
{
	// The refs are made before taking the display's lock: they touch the
	// file system.
	BMessage message(B_SIMPLE_DATA);
	int32 count = 0;
	for (const std::string& path : paths) {
		struct stat info;
		entry_ref ref;
		if (lstat(path.c_str(), &info) != 0 || get_ref_for_path(path.c_str(), &ref) != B_OK)
			continue;
		message.AddRef("refs", &ref);
		count++;
	}
	if (count == 0)
		return false;
	auto act = [&](Impl::View* target, std::vector<BMessage>& input) {
		message.AddInt32("_view", target->state.id);
		input.push_back(std::move(message));
		return true;
	};
	return fImpl->Act(window, view, std::nullopt, act);
}

bool HeadlessDisplay::PressCloseBox(const std::string& window)
{
	BMessenger target;
	{
		std::lock_guard<std::mutex> guard(fImpl->lock);
		Impl::Window* owner = fImpl->ReachableWindow(window);
		if (!owner || (owner->state.flags & B_NOT_CLOSABLE))
			return false;
		target = owner->input;
	}
	return target.SendMessage(B_QUIT_REQUESTED) == B_OK;
}

bool HeadlessDisplay::LoseScreen()
{
	const bool quit = DisplayLost();
	Quit();
	return quit;
}

bool HeadlessDisplay::AnswerAlert(int32 button, const std::string& title)
{
	std::function<void(int32)> answer;
	{
		std::lock_guard<std::mutex> guard(fImpl->lock);
		auto& alerts = fImpl->alerts;
		auto found = std::find_if(alerts.begin(), alerts.end(), [&title](const Impl::Alert& alert) {
			return title.empty() || alert.request.title == title;
		});
		if (found == alerts.end() || button < 0 || button >= int32(found->request.buttons.size()))
			return false;
		answer = std::move(found->answer);
		alerts.erase(found);
	}
	if (answer)
		answer(button);
	return true;
}

namespace {

using PanelAnswer = std::function<void(const FilePanelResult&)>;

} // namespace

bool HeadlessDisplay::AnswerOpenPanel(const std::string& title,
	const std::vector<std::string>& paths)
{
	PanelAnswer answer;
	{
		std::lock_guard<std::mutex> guard(fImpl->lock);
		auto& panels = fImpl->panels;
		auto found = std::find_if(panels.begin(), panels.end(), [&title](const Impl::Panel& panel) {
			return panel.request.title == title && panel.request.mode == PanelMode::Open;
		});
		if (found == panels.end())
			return false;
		if (!found->request.multipleSelection && paths.size() > 1)
			return false;
		if (found->request.hideWhenDone) {
			answer = std::move(found->answer);
			panels.erase(found);
		} else {
			answer = found->answer;
		}
	}
	FilePanelResult result;
	result.paths = paths;
	if (answer)
		answer(result);
	return true;
}

bool HeadlessDisplay::AnswerSavePanel(const std::string& title, const std::string& directory,
	const std::string& name)
{
	PanelAnswer answer;
	{
		std::lock_guard<std::mutex> guard(fImpl->lock);
		auto& panels = fImpl->panels;
		auto found = std::find_if(panels.begin(), panels.end(), [&title](const Impl::Panel& panel) {
			return panel.request.title == title && panel.request.mode == PanelMode::Save;
		});
		if (found == panels.end())
			return false;
		if (found->request.hideWhenDone) {
			answer = std::move(found->answer);
			panels.erase(found);
		} else {
			answer = found->answer;
		}
	}
	FilePanelResult result;
	result.directory = directory;
	result.name = name;
	if (answer)
		answer(result);
	return true;
}

bool HeadlessDisplay::CancelPanel(const std::string& title)
{
	PanelAnswer answer;
	{
		std::lock_guard<std::mutex> guard(fImpl->lock);
		auto& panels = fImpl->panels;
		auto found = std::find_if(panels.begin(), panels.end(),
			[&title](const Impl::Panel& panel) { return panel.request.title == title; });
		if (found == panels.end())
			return false;
		answer = std::move(found->answer);
		panels.erase(found);
	}
	FilePanelResult result;
	result.cancelled = true;
	if (answer)
		answer(result);
	return true;
}

bool HeadlessDisplay::WaitFor(const std::function<bool()>& cond,
	std::chrono::milliseconds deadline) const
{
	const auto until = std::chrono::steady_clock::now() + deadline;
	for (;;) {
		if (cond())
			return true;
		if (std::chrono::steady_clock::now() >= until)
			return false;
		std::this_thread::sleep_for(std::chrono::milliseconds(1));
	}
}

} // namespace BPrivate
