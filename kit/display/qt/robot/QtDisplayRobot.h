// The Qt display's robot, for tests and benchmarks (it is not part of the
// program): reads what the widgets show and acts like a user through real
// Qt events where Qt allows it (mouse and key events, drag and drop events).
// Like the headless display, the acting calls return false when the target
// is missing, hidden, disabled or blocked by a modal window. Every call
// waits for the main thread, so tests make them from a thread of their own
// while the main thread serves the display.
#pragma once

#include <QtDisplay.h>

#include <optional>
#include <string>
#include <vector>

namespace BPrivate {

class QtDisplayRobot {
public:
	explicit QtDisplayRobot(QtDisplay& display);

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

private:
	QtDisplay::Impl& fImpl;
};

} // namespace BPrivate
