// The Qt display: shows the kit's windows and views as Qt widgets on the
// process's main thread and turns the user's input into messages for the
// windows' loopers.
//
// Every public call is safe from any thread. Widgets are only ever touched
// on the main thread: other threads queue work (under a mutex of our own,
// so ThreadSanitizer sees the hand-over) and wake the main thread with one
// posted event per burst.
//
// The robot calls at the end act like a user through real Qt events where
// Qt allows it (mouse and key events, drag and drop events); like the
// headless display, they return false when the target is missing, hidden,
// disabled or blocked by a modal window. They wait for the main thread, so
// tests call them from a thread of their own while the main thread serves
// the display.
#pragma once

#include <Display.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class BMessage;

namespace BPrivate {

class QtDisplay : public Display {
public:
	QtDisplay();
	~QtDisplay() override;

	// Display.
	void Run() override;
	void Quit() override;
	void Apply(Batch batch) override;
	void ShowAlert(AlertRequest request, std::function<void(int32)> answer) override;
	void ShowFilePanel(FilePanelRequest request,
		std::function<void(const FilePanelResult&)> answer) override;
	void HideFilePanel(int32 id) override;
	// Before Run, on a thread other than the main one, Qt's fonts cannot
	// be asked; the answers then come from fixed metrics (7 pixels a byte,
	// lines 14 pixels high, plus typical widget margins).
	PreferredSize GetPreferredSize(const SizeQuery& query) override;
	float TabHeight() override;
	float StringWidth(const std::string& text) override;

	// ---- test hooks -----------------------------------------------------
	// Sees every input message the display posts, on the main thread,
	// before it is sent to the window's looper.
	void SetInputObserver(std::function<void(WindowId, const BMessage&)> observer);

	// Runs fn on the main thread and waits for it; false (fn not run) when
	// the display is not serving. From the main thread fn runs at once.
	bool Invoke(const std::function<void()>& fn);
	// True once Run serves the display.
	bool IsRunning() const;
	bool WaitUntilRunning(std::chrono::milliseconds deadline = std::chrono::seconds(10)) const;
	// Polls cond until it holds or the deadline passes.
	static bool WaitFor(const std::function<bool()>& cond,
		std::chrono::milliseconds deadline = std::chrono::seconds(10));

	// What the screen shows. Windows are found by title; views by name.
	bool IsWindowShown(const std::string& window);
	// Client area in screen coordinates, both edges included.
	std::optional<BRect> WindowFrame(const std::string& window);
	std::optional<bool> IsViewShown(const std::string& window, const std::string& view);
	std::optional<bool> IsViewEnabled(const std::string& window, const std::string& view);
	// The widget's geometry in its window, both edges included.
	std::optional<BRect> ViewFrameInWindow(const std::string& window, const std::string& view);
	// The text shown: a button's or check box's label, a text field's
	// contents, a string view's text, a menu field's shown choice.
	std::optional<std::string> ViewText(const std::string& window, const std::string& view);
	std::optional<bool> IsChecked(const std::string& window, const std::string& view);
	std::vector<std::string> ListRows(const std::string& window, const std::string& view);
	std::vector<int32> ListSelection(const std::string& window, const std::string& view);
	std::vector<std::string> TabLabels(const std::string& window, const std::string& view);
	std::optional<int32> CurrentTab(const std::string& window, const std::string& view);
	// Top-level menu titles of a menu bar, or the items of one of its menus
	// ("" : a menu field's items).
	std::vector<std::string> MenuItems(const std::string& window, const std::string& view,
		const std::string& menu = {});

	struct ShownAlert {
		std::string title, text;
		std::vector<std::string> buttons;
		AlertIcon icon;
	};
	std::vector<ShownAlert> Alerts();
	std::vector<std::string> PanelTitles();

	// Acting like a user.
	bool Click(const std::string& window, const std::string& view);
	bool Toggle(const std::string& window, const std::string& view);
	// Key presses, one per character, in the text field.
	bool Type(const std::string& window, const std::string& view, const std::string& text);
	// Selects everything in the field, then types.
	bool SetText(const std::string& window, const std::string& view, const std::string& text);
	bool ChooseMenuItem(const std::string& window, const std::string& view,
		const std::string& menu, const std::string& item);
	// A mouse click on the row; extend: shift, toggle: control.
	bool SelectRow(const std::string& window, const std::string& view, int32 row,
		bool extend = false, bool toggle = false);
	bool SelectTab(const std::string& window, const std::string& view, int32 index);
	// Drags the files onto the middle of the view and drops them there.
	bool Drop(const std::string& window, const std::string& view,
		const std::vector<std::string>& paths);
	bool PressCloseBox(const std::string& window);
	// Presses a button of the oldest open alert (or the one with this title);
	// button -1 presses Escape.
	bool AnswerAlert(int32 button, const std::string& title = {});
	bool AnswerOpenPanel(const std::string& title, const std::vector<std::string>& paths);
	bool AnswerSavePanel(const std::string& title, const std::string& directory,
		const std::string& name);
	bool CancelPanel(const std::string& title);

	struct Impl;

private:
	std::unique_ptr<Impl> fImpl;
};

// The Qt display of this process, when it is the one in use.
QtDisplay* GetQtDisplay();

} // namespace BPrivate
