// Shared by the ui_ tests: an application served on a thread of its own, and
// a window and a looper that record every message that reaches them, with
// the thread that handled it.
#pragma once

#include "TestSupport.h"

#include <Application.h>
#include <HeadlessDisplay.h>
#include <Looper.h>
#include <Message.h>
#include <View.h>
#include <Window.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace ui_test {

using namespace std::chrono_literals;

// A message that some looper handled, and on which thread.
struct Received {
	BMessage message;
	thread_id thread;
};

class Inbox {
public:
	void Add(const BMessage& message)
	{
		std::lock_guard<std::mutex> guard(fLock);
		fReceived.push_back(Received{message, find_thread(nullptr)});
	}
	std::vector<Received> All(uint32 what) const
	{
		std::lock_guard<std::mutex> guard(fLock);
		std::vector<Received> matching;
		for (const Received& received : fReceived) {
			if (received.message.what == what)
				matching.push_back(received);
		}
		return matching;
	}
	size_t Count(uint32 what) const { return All(what).size(); }
	std::optional<Received> Last(uint32 what) const
	{
		std::vector<Received> matching = All(what);
		if (matching.empty())
			return std::nullopt;
		return matching.back();
	}
	bool WaitForCount(uint32 what, size_t count,
		std::chrono::milliseconds deadline = std::chrono::seconds(10)) const
	{
		return testing_support::WaitUntil([&] { return Count(what) >= count; }, deadline);
	}

private:
	mutable std::mutex fLock;
	std::vector<Received> fReceived;
};

// Posted after the messages under test: once it has been handled, every
// message posted before it has been too (one queue, in order).
constexpr uint32 kSentinel = 'SNTL';

class TestApp : public BApplication {
public:
	TestApp() : BApplication("application/x-vnd.tamsel-ui-test") {}
	void RefsReceived(BMessage* message) override { inbox.Add(*message); }
	void MessageReceived(BMessage* message) override { inbox.Add(*message); }
	Inbox inbox;
};

// The application served on a thread of its own, as BApplication::Run
// wants the thread that serves the display; quits it (and with it every
// window) at the end.
class AppThread {
public:
	AppThread() : fApp(std::make_unique<TestApp>())
	{
		fThread = std::thread([this] { fApp->Run(); });
		started = testing_support::WaitUntil([this] { return !fApp->IsLaunching(); });
	}
	~AppThread()
	{
		be_app_messenger.SendMessage(B_QUIT_REQUESTED);
		fThread.join();
		fApp.reset();
	}
	AppThread(const AppThread&) = delete;
	AppThread& operator=(const AppThread&) = delete;

	TestApp& App() { return *fApp; }
	bool started = false;

private:
	std::unique_ptr<TestApp> fApp;
	std::thread fThread;
};

inline BPrivate::HeadlessDisplay& Robot()
{
	return *BPrivate::GetHeadlessDisplay();
}

// A titled window with a panel-coloured "BackView" filling it, like the
// program's windows. What it handles is recorded; onMessage runs first, in
// the window's thread, for tests that look at the views right then.
class RecordingWindow : public BWindow {
public:
	explicit RecordingWindow(const char* title, BRect frame = BRect(100, 100, 499, 399),
		window_feel feel = B_NORMAL_WINDOW_FEEL, uint32 flags = 0)
		:
		BWindow(frame, title, B_TITLED_WINDOW_LOOK, feel, flags)
	{
		back = new BView(Bounds(), "BackView", B_FOLLOW_ALL_SIDES, 0);
		back->SetViewColor(ui_color(B_PANEL_BACKGROUND_COLOR));
		AddChild(back);
	}
	void MessageReceived(BMessage* message) override
	{
		BMessage copy(*message);
		if (onMessage)
			onMessage(&copy);
		inbox.Add(copy);
	}
	bool QuitRequested() override
	{
		quitRequests++;
		return allowQuit.load();
	}
	// Shows the window and waits until the display shows it.
	bool ShowAndWait()
	{
		Show();
		std::string title = Title();
		return Robot().WaitFor([title] { return Robot().IsWindowShown(title); });
	}
	// Waits until every message posted before this call has been handled.
	bool Settle()
	{
		size_t before = inbox.Count(kSentinel);
		PostMessage(kSentinel);
		return inbox.WaitForCount(kSentinel, before + 1);
	}

	BView* back = nullptr;
	Inbox inbox;
	std::function<void(BMessage*)> onMessage;
	std::atomic<bool> allowQuit{true};
	std::atomic<int32> quitRequests{0};
};

// A looper that is not a window, as an explicit target.
class RecordingLooper : public BLooper {
public:
	RecordingLooper() : BLooper("recorder") { Run(); }
	void MessageReceived(BMessage* message) override { inbox.Add(*message); }
	bool Settle()
	{
		size_t before = inbox.Count(kSentinel);
		PostMessage(kSentinel);
		return inbox.WaitForCount(kSentinel, before + 1);
	}
	Inbox inbox;
};

struct QuitLooper {
	void operator()(BLooper* looper) const
	{
		looper->Lock();
		looper->Quit();
	}
};
using LooperPtr = std::unique_ptr<RecordingLooper, QuitLooper>;

// Runs the code with the window locked, like the program does from threads
// other than the window's.
template <typename Function>
auto Locked(BWindow* window, Function&& function)
{
	struct Unlocker {
		BWindow* window;
		~Unlocker() { window->Unlock(); }
	};
	window->Lock();
	Unlocker unlocker{window};
	return function();
}

class UiTest : public ::testing::Test {
protected:
	void SetUp() override { ASSERT_TRUE(app.started); }
	AppThread app;
};

} // namespace ui_test
