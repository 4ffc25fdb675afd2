// Runs the whole program in-process on the headless display, for tests that
// drive it as a user would.
#pragma once

#include "TestSupport.h"

#include <HeadlessDisplay.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

class TamselApp;
class MainWindow;

namespace testing_support {

constexpr const char* kMainTitle = "Tamsel Gogo Frontend 1.2a";
constexpr const char* kProgressTitle = "Encoding progress";

// Removes the four stored settings from the test executable, so that the
// next start sees the defaults.
void ClearStoredSettings();
// Stores an encoder location as the running executable's setting.
void StoreEncoderLocation(const std::string& path);

class ProgramRun {
public:
	// Starts the program with the files as its launch arguments, with
	// XDG_DATA_HOME and XDG_CONFIG_HOME in a temporary directory, and waits
	// until the main window is shown.
	explicit ProgramRun(std::vector<std::string> launchFiles = {});
	// Asks the program to quit (as from outside), answers nothing, and waits
	// for it to end.
	~ProgramRun();
	ProgramRun(const ProgramRun&) = delete;
	ProgramRun& operator=(const ProgramRun&) = delete;

	BPrivate::HeadlessDisplay& Robot() const { return *fRobot; }
	TamselApp* App() const { return fApp.get(); }
	MainWindow* Window() const;
	bool Started() const { return fStarted; }
	// True once Run has returned (the program quit by itself).
	bool Ended() const;
	// Asks the program to quit and waits for it; true when it ended in time.
	bool Quit();
	const TempDir& Home() const { return fHome; }

	// Reads of the main window's state under its lock.
	std::vector<std::string> ListItems() const;

private:
	TempDir fHome;
	std::unique_ptr<TamselApp> fApp;
	BPrivate::HeadlessDisplay* fRobot = nullptr;
	std::thread fThread;
	std::atomic<bool> fEnded{false};
	bool fStarted = false;
};

} // namespace testing_support
