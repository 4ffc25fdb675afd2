// BApplication on the headless display: the launch sequence, quitting with
// and without windows, and what the application knows about itself.
#include <Application.h>
#include <Entry.h>
#include <Roster.h>
#include <Window.h>

#include <TestSupport.h>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

using testing_support::TempDir;
using testing_support::WaitUntil;
using testing_support::WriteFile;

namespace {

constexpr const char* kSignature = "application/x-vnd.tamsel-test";

// Ends the process if Run does not return in time, instead of hanging the run.
class Watchdog {
public:
	Watchdog()
		: fThread([this] {
			std::unique_lock<std::mutex> guard(fLock);
			if (!fCond.wait_for(guard, std::chrono::seconds(30), [this] { return fDone; })) {
				std::fprintf(stderr, "BApplication::Run did not return\n");
				std::abort();
			}
		})
	{
	}
	~Watchdog()
	{
		{
			std::lock_guard<std::mutex> guard(fLock);
			fDone = true;
		}
		fCond.notify_all();
		fThread.join();
	}

private:
	std::mutex fLock;
	std::condition_variable fCond;
	bool fDone = false;
	std::thread fThread;
};

// Records the launch sequence as the application thread sees it.
class LaunchApp : public BApplication {
public:
	LaunchApp()
		: BApplication(kSignature)
	{
	}
	~LaunchApp() override
	{
		if (ending != nullptr)
			*ending = true;
		if (reachable != nullptr)
			*reachable = BMessenger(nullptr, this).IsValid() ? 1 : 0;
	}

	void RefsReceived(BMessage* message) override
	{
		Event event{"refs", IsLaunching(), {}};
		entry_ref ref;
		for (int32 i = 0; message->FindRef("refs", i, &ref) == B_OK; i++)
			event.refs.push_back(ref);
		Record(event);
	}

	void ReadyToRun() override
	{
		Record(Event{"ready", IsLaunching(), {}});
		// A message handled after ReadyToRun sees the launch over.
		PostMessage('AFTR');
		if (quitWhenReady)
			PostMessage(B_QUIT_REQUESTED);
	}

	void MessageReceived(BMessage* message) override
	{
		if (message->what == 'AFTR')
			Record(Event{"after", IsLaunching(), {}});
		else
			BApplication::MessageReceived(message);
	}

	bool QuitRequested() override
	{
		quitRequests++;
		return allowQuit && BApplication::QuitRequested();
	}

	struct Event {
		std::string name;
		bool launching;
		std::vector<entry_ref> refs;
	};

	std::vector<Event> Events()
	{
		std::lock_guard<std::mutex> guard(fLock);
		return fEvents;
	}

	// Set as the destructor begins, and whether a messenger still reached
	// the application then.
	std::atomic<bool>* ending = nullptr;
	std::atomic<int32>* reachable = nullptr;
	std::atomic<bool> quitWhenReady{true};
	std::atomic<bool> allowQuit{true};
	std::atomic<int32> quitRequests{0};

private:
	void Record(Event event)
	{
		std::lock_guard<std::mutex> guard(fLock);
		fEvents.push_back(std::move(event));
	}

	std::mutex fLock;
	std::vector<Event> fEvents;
};

TEST(Application, LaunchRefsArriveOnceBeforeReadyToRun)
{
	TempDir dir;
	ASSERT_TRUE(WriteFile(dir / "one.wav", "RIFF"));
	ASSERT_TRUE(WriteFile(dir / "two words.wav", "RIFF"));
	Watchdog watchdog;
	{
		LaunchApp app;
		EXPECT_EQ(be_app, &app);
		EXPECT_EQ(app.InitCheck(), B_OK);
		EXPECT_TRUE(app.IsLaunching());
		app.SetLaunchArguments({dir / "one.wav", dir / "missing.wav", dir / "two words.wav", dir.Path()});
		app.Run();

		const std::vector<LaunchApp::Event> events = app.Events();
		ASSERT_EQ(events.size(), 3u);
		EXPECT_EQ(events[0].name, "refs");
		EXPECT_TRUE(events[0].launching);
		ASSERT_EQ(events[0].refs.size(), 3u) << "only arguments that name existing entries";
		entry_ref expected;
		ASSERT_EQ(get_ref_for_path((dir / "one.wav").c_str(), &expected), B_OK);
		EXPECT_EQ(events[0].refs[0], expected);
		ASSERT_EQ(get_ref_for_path((dir / "two words.wav").c_str(), &expected), B_OK);
		EXPECT_EQ(events[0].refs[1], expected);
		EXPECT_EQ(events[0].refs[2].Path(), dir.Path());
		EXPECT_EQ(events[1].name, "ready");
		EXPECT_TRUE(events[1].launching) << "still launching inside ReadyToRun";
		EXPECT_EQ(events[2].name, "after");
		EXPECT_FALSE(events[2].launching);
		EXPECT_FALSE(app.IsLaunching());
	}
	EXPECT_EQ(be_app, nullptr);
	EXPECT_FALSE(be_app_messenger.IsValid());
}

TEST(Application, WithoutLaunchFilesThereIsNoRefsMessage)
{
	Watchdog watchdog;
	LaunchApp app;
	app.SetLaunchArguments({});
	app.Run();
	const std::vector<LaunchApp::Event> events = app.Events();
	ASSERT_EQ(events.size(), 2u);
	EXPECT_EQ(events[0].name, "ready");
	EXPECT_EQ(events[1].name, "after");
}

TEST(Application, QuitRequestedEndsRunOnlyWhenAgreed)
{
	Watchdog watchdog;
	LaunchApp app;
	app.SetLaunchArguments({});
	app.quitWhenReady = false;
	app.allowQuit = false;
	std::atomic<bool> runReturned{false};
	std::thread outsider([&] {
		ASSERT_TRUE(WaitUntil([&] { return !app.IsLaunching(); }));
		// Refused: Run keeps going.
		ASSERT_EQ(be_app_messenger.SendMessage(B_QUIT_REQUESTED), B_OK);
		ASSERT_TRUE(WaitUntil([&] { return app.quitRequests.load() == 1; }));
		EXPECT_FALSE(WaitUntil([&] { return runReturned.load(); }, std::chrono::milliseconds(50)));
		app.allowQuit = true;
		// No windows at all: the request alone ends Run.
		ASSERT_EQ(be_app_messenger.SendMessage(B_QUIT_REQUESTED), B_OK);
	});
	thread_id thread = app.Run();
	runReturned = true;
	outsider.join();
	EXPECT_GT(thread, 0);
	EXPECT_NE(thread, find_thread(nullptr)) << "the looper ran on a thread of its own";
	EXPECT_EQ(app.quitRequests.load(), 2);
	EXPECT_EQ(app.CountWindows(), 0);
}

class RefusingWindow : public BWindow {
public:
	RefusingWindow(const char* title, std::atomic<bool>& allow, std::atomic<int32>& deleted)
		: BWindow(BRect(10, 10, 200, 100), title, B_TITLED_WINDOW, 0), fAllow(allow), fDeleted(deleted)
	{
	}
	~RefusingWindow() override { fDeleted++; }
	bool QuitRequested() override
	{
		// The application asks while holding the window's lock.
		if (!IsLocked())
			fAskedUnlocked = true;
		return fAllow.load();
	}
	static inline std::atomic<bool> fAskedUnlocked{false};

private:
	std::atomic<bool>& fAllow;
	std::atomic<int32>& fDeleted;
};

TEST(Application, QuitAsksEveryWindowFirst)
{
	Watchdog watchdog;
	LaunchApp app;
	app.SetLaunchArguments({});
	app.quitWhenReady = false;
	std::atomic<bool> allowFirst{true};
	std::atomic<bool> allowSecond{false};
	std::atomic<int32> deleted{0};
	auto* first = new RefusingWindow("first", allowFirst, deleted);
	auto* second = new RefusingWindow("second", allowSecond, deleted);
	auto* hidden = new RefusingWindow("never shown", allowFirst, deleted);
	EXPECT_EQ(app.CountWindows(), 3);
	EXPECT_EQ(app.WindowAt(0), first);
	EXPECT_EQ(app.WindowAt(3), nullptr);
	EXPECT_EQ(app.WindowAt(-1), nullptr);
	(void)hidden;

	std::thread outsider([&] {
		ASSERT_TRUE(WaitUntil([&] { return !app.IsLaunching(); }));
		first->Lock();
		first->Show();
		first->Unlock();
		second->Lock();
		second->Show();
		second->Unlock();
		be_app_messenger.SendMessage(B_QUIT_REQUESTED);
		// The second window refuses: the first is gone, the application stays.
		ASSERT_TRUE(WaitUntil([&] { return app.quitRequests.load() == 1 && deleted.load() == 1; }));
		EXPECT_EQ(app.CountWindows(), 2);
		allowSecond = true;
		be_app_messenger.SendMessage(B_QUIT_REQUESTED);
	});
	app.Run();
	outsider.join();
	EXPECT_EQ(deleted.load(), 3);
	EXPECT_EQ(app.CountWindows(), 0);
	EXPECT_FALSE(RefusingWindow::fAskedUnlocked.load());
}

// Nothing reaches the application once it has ended: once Run has returned
// (it quit), nor while it is destroyed, run or not; another thread posts to
// it all along, as the roster's and the quit signals' threads may.
TEST(Application, NothingReachesTheApplicationOnceItHasEnded)
{
	for (const bool run : {true, false}) {
		SCOPED_TRACE(run ? "run until it quit" : "never run");
		Watchdog watchdog;
		std::atomic<bool> ended{false};
		std::atomic<int32> reachable{-1};
		auto* app = new LaunchApp;
		app->SetLaunchArguments({});
		app->ending = &ended;
		app->reachable = &reachable;
		const BMessenger messenger(nullptr, app);
		std::atomic<int32> lateTries{0};
		std::atomic<int32> lateTaken{0};
		std::jthread poster([&](std::stop_token stop) {
			while (!stop.stop_requested()) {
				// Asked first: a post taken after this saw the end was taken too late.
				const bool late = ended;
				const bool taken = messenger.SendMessage('PING') == B_OK;
				if (late) {
					lateTries++;
					lateTaken += taken ? 1 : 0;
				}
				std::this_thread::yield();
			}
		});
		if (run) {
			app->Run();
			ended = true;
			ASSERT_TRUE(WaitUntil([&] { return lateTries.load() >= 20; }));
		}
		delete app;
		poster.request_stop();
		poster.join();
		EXPECT_EQ(reachable.load(), 0);
		EXPECT_EQ(lateTaken.load(), 0);
		EXPECT_EQ(be_app, nullptr);
	}
}

TEST(Application, KnowsItsOwnExecutable)
{
	Watchdog watchdog;
	LaunchApp app;
	app.SetLaunchArguments({});
	app.quitWhenReady = false;
	std::thread outsider([&] {
		ASSERT_TRUE(WaitUntil([&] { return !app.IsLaunching(); }));
		app_info info;
		ASSERT_EQ(app.GetAppInfo(&info), B_OK);
		char* executable = realpath(TAMSEL_BINARY_DIR "/tests/ui_application", nullptr);
		ASSERT_NE(executable, nullptr);
		entry_ref expected;
		EXPECT_EQ(get_ref_for_path(executable, &expected), B_OK);
		free(executable);
		EXPECT_EQ(info.ref, expected) << info.ref.Path();
		EXPECT_EQ(info.team, getpid());
		EXPECT_EQ(info.signature, kSignature);
		EXPECT_EQ(info.thread, app.Thread());

		app_info viaRoster;
		EXPECT_EQ(be_roster->GetAppInfo(kSignature, &viaRoster), B_OK);
		EXPECT_EQ(viaRoster.ref, expected);
		EXPECT_NE(be_roster->GetAppInfo("application/x-someone-else", &viaRoster), B_OK);
		EXPECT_EQ(app.GetAppInfo(nullptr), B_BAD_VALUE);
		be_app_messenger.SendMessage(B_QUIT_REQUESTED);
	});
	app.Run();
	outsider.join();
}

TEST(Application, BadSignatureIsReported)
{
	status_t error = B_OK;
	BApplication app("not-an-application-type", &error);
	EXPECT_EQ(error, B_BAD_VALUE);
	EXPECT_EQ(app.InitCheck(), B_BAD_VALUE);
	status_t secondError = B_OK;
	BApplication second(kSignature, &secondError);
	EXPECT_EQ(secondError, B_ALREADY_RUNNING);
	EXPECT_EQ(be_app, &app) << "the first application stays the one";
}

TEST(ApplicationDeathTest, SecondApplicationObjectAborts)
{
	GTEST_FLAG_SET(death_test_style, "threadsafe");
	BApplication app(kSignature);
	EXPECT_DEATH(BApplication second(kSignature), "second application");
}

} // namespace
