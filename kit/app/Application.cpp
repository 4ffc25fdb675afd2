#include <Application.h>

#include "QuitSignals.h"

#include <AppFileInfo.h>
#include <Autolock.h>
#include <Display.h>
#include <Entry.h>
#include <File.h>
#include <Roster.h>
#include <Window.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <strings.h>

#include <unistd.h>

BApplication* be_app = nullptr;
BMessenger be_app_messenger;

namespace {

// Guards be_app and be_app_messenger against windows that go away on their
// own threads while the application object itself is being destroyed.
std::mutex sAppLifetimeLock;

// Set when the running application quits; DisplayLost waits for it.
std::mutex sQuitLock;
std::condition_variable sQuitCondition;
bool sAppQuit = false;

// The arguments the process was started with, after its own name.
std::vector<std::string> CommandLineArguments()
{
	std::ifstream file("/proc/self/cmdline", std::ios::binary);
	std::string contents((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
	std::vector<std::string> arguments;
	size_t start = 0;
	bool first = true;
	while (start < contents.size()) {
		size_t end = contents.find('\0', start);
		if (end == std::string::npos)
			end = contents.size();
		if (!first)
			arguments.push_back(contents.substr(start, end - start));
		first = false;
		start = end + 1;
	}
	return arguments;
}

status_t RunningAppInfo(const char* signature, app_info* info)
{
	BApplication* app = be_app;
	if (app == nullptr || strcasecmp(signature, app->Signature()) != 0)
		return B_ERROR;
	return app->GetAppInfo(info);
}

} // namespace

BApplication::BApplication(const char* signature)
	: BApplication(signature, nullptr)
{
}

BApplication::BApplication(const char* signature, status_t* error)
	: BLooper("application"), fSignature(signature ? signature : "")
{
	if (be_app != nullptr) {
		// There is one application per process, as on the original platform.
		if (error == nullptr) {
			std::fprintf(stderr, "BApplication: a second application object was created\n");
			std::abort();
		}
		fInitError = B_ALREADY_RUNNING;
		*error = fInitError;
		return;
	}
	if (signature == nullptr || strncasecmp(signature, "application/", 12) != 0)
		fInitError = B_BAD_VALUE;
	be_app = this;
	be_app_messenger = BMessenger(nullptr, this);
	// Before any thread of the application's exists, so all inherit the mask.
	fQuitSignals = std::make_unique<BPrivate::QuitSignals>();
	BPrivate::SetAppInfoProvider(RunningAppInfo);
	if (error != nullptr)
		*error = fInitError;
}

BApplication::~BApplication()
{
	// Run has joined the looper's thread; one that never ran has none.
	WaitForThread();
	fQuitSignals.reset();
	std::lock_guard<std::mutex> guard(sAppLifetimeLock);
	if (be_app == this) {
		BPrivate::SetAppInfoProvider(nullptr);
		be_app_messenger = BMessenger();
		be_app = nullptr;
	}
}

void BApplication::SetLaunchArguments(std::vector<std::string> paths)
{
	fLaunchArgs = std::move(paths);
	fLaunchArgsSet = true;
}

thread_id BApplication::Run()
{
	if (fRunStarted.exchange(true))
		return B_ALREADY_RUNNING;

	std::vector<std::string> arguments = fLaunchArgsSet ? fLaunchArgs : CommandLineArguments();
	BMessage refs(B_REFS_RECEIVED);
	for (const std::string& argument : arguments) {
		BEntry entry(argument.c_str());
		entry_ref ref;
		if (entry.InitCheck() == B_OK && entry.Exists() && entry.GetRef(&ref) == B_OK)
			refs.AddRef("refs", &ref);
	}
	// Both are queued before the thread starts, so they come first.
	if (!refs.IsEmpty())
		PostMessage(&refs);
	PostMessage(B_READY_TO_RUN);

	{
		std::lock_guard<std::mutex> guard(sQuitLock);
		sAppQuit = false;
	}
	thread_id thread = BLooper::Run();
	if (thread < 0)
		return thread;
	if (fQuitSignals)
		fQuitSignals->Start();
	// The display wants the process's main thread; the application's
	// looper stops it from Quit.
	BPrivate::GetDisplay()->Run();
	WaitForThread();
	return thread;
}

void BApplication::Quit()
{
	if (Thread() == find_thread(nullptr)) {
		StopLoop();
	} else {
		// Waits for the message being handled, as a quit from outside would.
		BAutolock lock(this);
		StopLoop();
	}
	{
		std::lock_guard<std::mutex> guard(sQuitLock);
		sAppQuit = true;
	}
	sQuitCondition.notify_all();
	if (fRunStarted.load())
		BPrivate::GetDisplay()->Quit();
}

bool BPrivate::DisplayLost(std::chrono::milliseconds grace)
{
	{
		std::lock_guard<std::mutex> lifetime(sAppLifetimeLock);
		if (be_app == nullptr)
			return true;
		be_app_messenger.SendMessage(B_QUIT_REQUESTED);
	}
	std::unique_lock<std::mutex> guard(sQuitLock);
	return sQuitCondition.wait_for(guard, grace, [] { return sAppQuit; });
}

bool BApplication::QuitRequested()
{
	return QuitAllWindows();
}

bool BApplication::QuitAllWindows()
{
	std::vector<int32> tokens;
	{
		std::lock_guard<std::mutex> guard(fWindowsLock);
		for (BWindow* window : fWindows)
			tokens.push_back(static_cast<BLooper*>(window)->Token());
	}
	for (int32 token : tokens) {
		// By token: a window may have closed itself since the list was taken.
		BLooper* window = BLooper::LockLooper(token);
		if (window == nullptr)
			continue;
		if (!window->QuitRequested()) {
			window->Unlock();
			return false;
		}
		window->Quit();
	}
	return true;
}

void BApplication::ReadyToRun()
{
}

void BApplication::RefsReceived(BMessage*)
{
}

void BApplication::AboutRequested()
{
}

void BApplication::ArgvReceived(int32, char**)
{
}

void BApplication::MessageReceived(BMessage* message)
{
	BLooper::MessageReceived(message);
}

void BApplication::DispatchMessage(BMessage* message, BHandler* handler)
{
	if (message == nullptr || handler != this) {
		BLooper::DispatchMessage(message, handler);
		return;
	}
	switch (message->what) {
		case B_REFS_RECEIVED:
			RefsReceived(message);
			break;
		case B_READY_TO_RUN:
			ReadyToRun();
			fLaunching.store(false);
			break;
		case B_ABOUT_REQUESTED:
			AboutRequested();
			break;
		case B_QUIT_REQUESTED:
			if (QuitRequested())
				Quit();
			break;
		default:
			BLooper::DispatchMessage(message, handler);
			break;
	}
}

bool BApplication::IsLaunching() const
{
	return fLaunching.load();
}

status_t BApplication::GetAppInfo(app_info* info) const
{
	if (info == nullptr)
		return B_BAD_VALUE;
	info->team = static_cast<team_id>(getpid());
	info->thread = Thread();
	info->signature = fSignature;
	info->flags = B_MULTIPLE_LAUNCH;
	char* executable = realpath("/proc/self/exe", nullptr);
	if (executable == nullptr)
		return B_ENTRY_NOT_FOUND;
	status_t status = get_ref_for_path(executable, &info->ref);
	free(executable);
	if (status != B_OK)
		return status;
	// The flags come from the executable's resources when it carries them.
	BFile file(&info->ref, B_READ_ONLY);
	BAppFileInfo appFileInfo(&file);
	uint32 flags = 0;
	if (appFileInfo.InitCheck() == B_OK && appFileInfo.GetAppFlags(&flags) == B_OK)
		info->flags = flags;
	return B_OK;
}

int32 BApplication::CountWindows() const
{
	std::lock_guard<std::mutex> guard(fWindowsLock);
	return static_cast<int32>(fWindows.size());
}

BWindow* BApplication::WindowAt(int32 index) const
{
	std::lock_guard<std::mutex> guard(fWindowsLock);
	if (index < 0 || static_cast<size_t>(index) >= fWindows.size())
		return nullptr;
	return fWindows[static_cast<size_t>(index)];
}

void BApplication::RegisterWindow(BWindow* window)
{
	if (window == nullptr)
		return;
	std::lock_guard<std::mutex> guard(fWindowsLock);
	fWindows.push_back(window);
}

bool BApplication::ForgetWindow(BWindow* window, bool quitApp)
{
	std::lock_guard<std::mutex> lifetime(sAppLifetimeLock);
	if (be_app == nullptr)
		return false;
	size_t erased = 0;
	{
		std::lock_guard<std::mutex> guard(be_app->fWindowsLock);
		erased = std::erase(be_app->fWindows, window);
	}
	if (quitApp)
		be_app_messenger.SendMessage(B_QUIT_REQUESTED);
	return erased > 0;
}
