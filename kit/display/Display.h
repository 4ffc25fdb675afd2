// The display interface: what the Interface Kit needs of a screen. See
// DisplayProtocol.h for the protocol and which calls wait.
#pragma once

#include <DisplayProtocol.h>

#include <chrono>
#include <memory>

namespace BPrivate {

class Display {
public:
	virtual ~Display() = default;

	// Serves the display on the calling thread (the process's main thread)
	// until Quit. BApplication::Run calls it.
	virtual void Run() = 0;
	// Any thread; makes Run return after closing every window.
	virtual void Quit() = 0;

	// Any thread, never blocks.
	virtual void Apply(Batch batch) = 0;
	virtual void ShowAlert(AlertRequest request, std::function<void(int32 button)> answer) = 0;
	virtual void ShowFilePanel(FilePanelRequest request,
		std::function<void(const FilePanelResult&)> answer) = 0;
	virtual void HideFilePanel(int32 id) = 0;

	// Any thread; waits for the answer, which never needs a looper's lock.
	virtual PreferredSize GetPreferredSize(const SizeQuery& query) = 0;
	// Height of a tab view's tabs.
	virtual float TabHeight() = 0;
	// The width of a string in the view font.
	virtual float StringWidth(const std::string& text) = 0;
};

// For a display whose screen went away (the X server ended): asks the
// running application to quit, as a quit from outside would, so that it
// stores what it keeps, and waits up to `grace` for it to get as far as
// quitting. True when it did (or there is no application). Any thread but
// the application's own.
bool DisplayLost(std::chrono::milliseconds grace = std::chrono::seconds(5));

// The display of this process, created on first use by CreateDefaultDisplay
// unless SetDisplay installed one before.
Display* GetDisplay();
// Installs a display (tests); must happen before the first window.
void SetDisplay(std::unique_ptr<Display> display);
// Drops the display (tests, between applications).
void ResetDisplay();

// Defined by the library that provides the default display: the Qt display
// for the program, the headless one for tests.
std::unique_ptr<Display> CreateDefaultDisplay();

} // namespace BPrivate
