// The inside of the headless display. Where things are:
//   HeadlessDisplay.cpp  the Display calls: batches, alerts, panels, sizes
//   HeadlessRobot.cpp    what the screen shows, and acting like a user
//   kinds/               one unit per kind of view (see kinds/HeadlessViewKind.h)
// Everything is guarded by `lock`.
#pragma once

#include <HeadlessDisplay.h>

#include <InterfaceDefs.h>
#include <Message.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace BPrivate {

template <typename... Ts>
struct Overloaded : Ts... {
	using Ts::operator()...;
};
template <typename... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

// A view as the screen would show it.
struct HeadlessView {
	ViewState state;
	std::vector<std::string> rows;
	std::vector<int32> selection; // ascending
	int32 anchor = -1;            // the last row clicked, for shift-clicks
};

struct HeadlessDisplay::Impl {
	using View = HeadlessView;
	struct Window {
		WindowState state;
		BMessenger input;
		std::map<ViewId, View> views; // ids grow with creation
		int32 batches = 0;
	};
	struct Alert {
		AlertRequest request;
		std::function<void(int32)> answer;
		float width = 0, height = 0;
		bool textScrolls = false;
	};
	struct Panel {
		FilePanelRequest request;
		std::function<void(const FilePanelResult&)> answer;
	};

	mutable std::mutex lock;
	std::condition_variable quitCond;
	bool quit = false;
	std::map<WindowId, Window> windows;
	std::vector<Alert> alerts;
	std::vector<Panel> panels;

	// ---- looking things up (lock held) -----------------------------------

	static bool IsModal(int32 feel)
	{
		return feel == B_MODAL_APP_WINDOW_FEEL || feel == B_MODAL_ALL_WINDOW_FEEL
			|| feel == B_MODAL_SUBSET_WINDOW_FEEL;
	}

	Window* FindWindow(const std::string& title)
	{
		Window* hidden = nullptr;
		for (auto& [id, window] : windows) {
			if (window.state.title != title)
				continue;
			if (!window.state.hidden)
				return &window;
			if (!hidden)
				hidden = &window;
		}
		return hidden;
	}

	View* FindView(Window& window, const std::string& name)
	{
		for (auto& [id, view] : window.views) {
			if (view.state.name == name)
				return &view;
		}
		return nullptr;
	}

	View* FindView(const std::string& windowTitle, const std::string& name)
	{
		Window* window = FindWindow(windowTitle);
		return window ? FindView(*window, name) : nullptr;
	}

	bool IsViewHidden(const Window& window, const View& view) const
	{
		const View* at = &view;
		for (int depth = 0; at && depth < 1000; depth++) {
			if (at->state.hidden)
				return true;
			if (at->state.parent == 0)
				return false;
			auto parent = window.views.find(at->state.parent);
			at = parent == window.views.end() ? nullptr : &parent->second;
		}
		return false;
	}

	bool IsBlockedByModal(const Window& target) const
	{
		for (const auto& [id, window] : windows) {
			if (&window != &target && !window.state.hidden && IsModal(window.state.feel))
				return true;
		}
		return false;
	}

	// A window that a user could act on: shown and not behind a modal one.
	Window* ReachableWindow(const std::string& title)
	{
		Window* window = FindWindow(title);
		if (!window || window->state.hidden || IsBlockedByModal(*window))
			return nullptr;
		return window;
	}

	// A view that a user could act on: in a reachable window, shown, enabled.
	View* ReachableView(const std::string& title, const std::string& name, Window** windowOut)
	{
		Window* window = ReachableWindow(title);
		if (!window)
			return nullptr;
		View* view = FindView(*window, name);
		if (!view || !view->state.enabled || IsViewHidden(*window, *view))
			return nullptr;
		*windowOut = window;
		return view;
	}

	void EraseSubtree(Window& window, ViewId root)
	{
		std::vector<ViewId> pending{root};
		while (!pending.empty()) {
			ViewId id = pending.back();
			pending.pop_back();
			window.views.erase(id);
			for (const auto& [childId, child] : window.views) {
				if (child.state.parent == id)
					pending.push_back(childId);
			}
		}
	}

	// ---- applying operations (lock held) ---------------------------------

	// Removals from the bottom up in one pass (see RemovalRun.h). Returns
	// how many operations from `at` it applied: 0 when the one there does
	// not start such a run.
	size_t ApplyRemovalRun(Window& window, const std::vector<Operation>& operations, size_t at);
	void ApplyTo(Window& window, Operation& operation);

	// ---- acting (lock held while building, never while posting) ----------

	static BMessage InputFor(uint32 what, ViewId view)
	{
		BMessage message(what);
		message.AddInt32("_view", view);
		return message;
	}

	// What a user does to one view: under the lock, act(view, input) changes
	// what the screen shows and adds the input messages that the window gets
	// for it, or returns false when the view cannot take it. The messages are
	// posted once the lock is let go; true when every one arrived.
	template <typename F>
	bool Act(const std::string& window, const std::string& view, std::optional<ViewKind> kind,
		F act)
	{
		std::vector<BMessage> input;
		BMessenger target;
		{
			std::lock_guard<std::mutex> guard(lock);
			Window* owner = nullptr;
			View* found = ReachableView(window, view, &owner);
			if (!found || (kind && found->state.kind != *kind) || !act(found, input))
				return false;
			target = owner->input;
		}
		for (BMessage& message : input) {
			if (target.SendMessage(&message) != B_OK)
				return false;
		}
		return true;
	}
};

} // namespace BPrivate
