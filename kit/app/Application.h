// BApplication: the application object, its looper and its start-up.
#pragma once

#include <AppDefs.h>
#include <Looper.h>
#include <Messenger.h>

#include <memory>
#include <string>
#include <vector>

struct app_info {
	team_id team = -1;
	thread_id thread = -1;
	uint32 flags = 0;
	entry_ref ref; // the running executable
	std::string signature;
};

class BWindow;
namespace BPrivate { class Display; class QuitSignals; }

class BApplication : public BLooper {
public:
	explicit BApplication(const char* signature);
	BApplication(const char* signature, status_t* error);
	~BApplication() override;

	status_t InitCheck() const { return fInitError; }

	// Runs the application's looper on a thread of its own while the calling
	// thread serves the display; returns when the looper has quit and the
	// display has closed its windows.
	thread_id Run() override;
	// Ends the application's loop and the display, so that Run returns, and
	// withdraws the application: from then on no messenger reaches it (the
	// roster's and the quit signals' threads may still try). The object
	// itself is not deleted: it belongs to main.
	void Quit() override;
	bool QuitRequested() override;

	virtual void ReadyToRun();
	virtual void RefsReceived(BMessage* message);
	virtual void AboutRequested();
	virtual void ArgvReceived(int32 argc, char** argv);
	void MessageReceived(BMessage* message) override;
	void DispatchMessage(BMessage* message, BHandler* handler) override;

	// True until ReadyToRun has run.
	bool IsLaunching() const;
	status_t GetAppInfo(app_info* info) const;
	const char* Signature() const { return fSignature.c_str(); }

	int32 CountWindows() const;
	BWindow* WindowAt(int32 index) const;

	// Files to deliver as the launch B_REFS_RECEIVED. By default these are
	// the process's command-line arguments; tests that run an application
	// in-process set them before Run.
	void SetLaunchArguments(std::vector<std::string> paths);

private:
	friend class BWindow;
	void RegisterWindow(BWindow* window);
	// Takes a window that goes away off the application's list, on whichever
	// thread it goes; true if it was on it. With quitApp, also asks the
	// application to quit. Safe against the application going away itself.
	static bool ForgetWindow(BWindow* window, bool quitApp);
	// Asks every window to quit (each locked, QuitRequested, then Quit);
	// false as soon as one refuses.
	bool QuitAllWindows();

	std::string fSignature;
	status_t fInitError = B_OK;
	// SIGTERM, SIGHUP and SIGINT ask the application to quit.
	std::unique_ptr<BPrivate::QuitSignals> fQuitSignals;
	std::atomic<bool> fLaunching{true};
	std::atomic<bool> fRunStarted{false};
	std::vector<std::string> fLaunchArgs;
	bool fLaunchArgsSet = false;
	mutable std::mutex fWindowsLock;
	std::vector<BWindow*> fWindows;
};

extern BApplication* be_app;
extern BMessenger be_app_messenger;
