// The Qt display: shows the kit's windows and views as Qt widgets on the
// process's main thread and turns the user's input into messages for the
// windows' loopers.
//
// Every public call is safe from any thread. Widgets are only ever touched
// on the main thread: other threads queue work (under a mutex of our own,
// so ThreadSanitizer sees the hand-over) and wake the main thread with one
// posted event per burst.
//
// The robot that reads the widgets and acts like a user for tests is
// QtDisplayRobot (robot/QtDisplayRobot.h), linked into tests and benchmarks
// only, never into the program.
#pragma once

#include <Display.h>

#include <chrono>
#include <functional>
#include <memory>
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

	struct Impl;

private:
	friend class QtDisplayRobot;

	std::unique_ptr<Impl> fImpl;
};

// The Qt display of this process, when it is the one in use.
QtDisplay* GetQtDisplay();

} // namespace BPrivate
