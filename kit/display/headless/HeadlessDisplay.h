// The headless display: keeps what a screen would show in memory, and acts as
// a robot user for tests. Every robot call is safe from any thread; a robot
// call that acts (click, type, ...) posts input to the window's looper like a
// real screen and returns false when the target is missing, hidden, disabled,
// or blocked by a modal window. Reads reflect the batches flushed so far.
#pragma once

#include <Display.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace BPrivate {

class HeadlessDisplay : public Display {
public:
	HeadlessDisplay();
	~HeadlessDisplay() override;

	// Display.
	void Run() override;
	void Quit() override;
	void Apply(Batch batch) override;
	void ShowAlert(AlertRequest request, std::function<void(int32)> answer) override;
	void ShowFilePanel(FilePanelRequest request,
		std::function<void(const FilePanelResult&)> answer) override;
	void HideFilePanel(int32 id) override;
	PreferredSize GetPreferredSize(const SizeQuery& query) override;
	float TabHeight() override;
	float StringWidth(const std::string& text) override;

	// Fixed metrics, so that layouts are the same on every machine: every
	// byte of text is kCharWidth wide, a line of text kLineHeight high.
	static constexpr float kCharWidth = 7;
	static constexpr float kLineHeight = 14;

	// ---- what the screen shows -------------------------------------------
	struct ShownAlert {
		int32 id;
		std::string title, text;
		std::vector<std::string> buttons;
		AlertIcon icon;
		// The box as this display lays it out: its text takes at most
		// kAlertTextMaxWidth x kAlertTextMaxHeight and scrolls past that.
		float width, height;
		bool textScrolls;
	};
	struct ShownPanel {
		int32 id;
		FilePanelRequest request;
	};

	// The window with this title (shown or hidden); nullopt when none.
	std::optional<WindowState> FindWindow(const std::string& title) const;
	std::vector<WindowState> Windows() const;
	bool IsWindowShown(const std::string& title) const;
	// A view found by name in the window with this title.
	std::optional<ViewState> FindView(const std::string& window, const std::string& view) const;
	// The rows of a list view, and its selected rows.
	std::vector<std::string> ListItems(const std::string& window, const std::string& view) const;
	std::vector<int32> ListSelection(const std::string& window, const std::string& view) const;
	// The number of rows shown, without copying them; -1 for no such list.
	int32 CountListItems(const std::string& window, const std::string& view) const;
	// The label of the marked item of a menu field; "" when none.
	std::string MarkedLabel(const std::string& window, const std::string& view) const;
	// The frame of a view in its window's coordinates.
	std::optional<BRect> ViewFrameInWindow(const std::string& window, const std::string& view) const;
	std::vector<ShownAlert> Alerts() const;
	std::vector<ShownPanel> Panels() const;
	// Batches received so far for the window (to check that changes merge).
	int32 BatchCount(const std::string& window) const;

	// ---- acting like a user ----------------------------------------------
	bool Click(const std::string& window, const std::string& view); // button
	bool Toggle(const std::string& window, const std::string& view); // check box
	// Replaces the whole text of a text control (as if the user selected all and typed).
	bool SetText(const std::string& window, const std::string& view, const std::string& text);
	// Types the text one character at a time: one modification per character.
	bool Type(const std::string& window, const std::string& view, const std::string& text);
	// Chooses the item of a menu bar ("List", "Save...") or a menu field ("", "128 kbps").
	bool ChooseMenuItem(const std::string& window, const std::string& view,
		const std::string& menu, const std::string& item);
	// Clicks a row: extend adds a range (shift), toggle flips one row (ctrl).
	bool SelectRow(const std::string& window, const std::string& view, int32 row,
		bool extend = false, bool toggle = false);
	bool SelectRows(const std::string& window, const std::string& view, std::vector<int32> rows);
	bool SelectTab(const std::string& window, const std::string& view, int32 index);
	bool Drop(const std::string& window, const std::string& view, const std::vector<std::string>& paths);
	bool PressCloseBox(const std::string& window);
	// The screen goes away, as when the X server ends: the application is
	// told (DisplayLost) and the display stops serving. True when the
	// application got as far as quitting in time.
	bool LoseScreen();
	// Presses the button of the oldest open alert (or the one with this title).
	bool AnswerAlert(int32 button, const std::string& title = {});
	// Answers the open panel with this title: chosen paths (open panel), or
	// a directory and a name (save panel).
	bool AnswerOpenPanel(const std::string& title, const std::vector<std::string>& paths);
	bool AnswerSavePanel(const std::string& title, const std::string& directory, const std::string& name);
	bool CancelPanel(const std::string& title);

	// Polls cond (with the display state unlocked) until it holds or the
	// deadline passes.
	bool WaitFor(const std::function<bool()>& cond,
		std::chrono::milliseconds deadline = std::chrono::seconds(10)) const;

private:
	struct Impl;
	std::unique_ptr<Impl> fImpl;
};

// The headless display of this process, when it is the one in use.
HeadlessDisplay* GetHeadlessDisplay();

} // namespace BPrivate
