// Handing work to the main thread: the only thread that touches widgets.
// Other threads queue tasks under our own mutex (so ThreadSanitizer sees
// the hand-over) and wake the main thread with one posted event per burst.
#include "QtDisplayImpl.h"

#include <QApplication>

#include <thread>

#include <sys/syscall.h>
#include <unistd.h>

namespace BPrivate {

namespace {

// Qt keeps pointers to argc and argv for the application's lifetime.
char gProgramName[] = "TamselGogoFrontend";
char* gArgv[] = {gProgramName, nullptr};
int gArgc = 1;

} // namespace

void DrainWaker::customEvent(QEvent*)
{
	fImpl->Drain();
}

bool QtDisplay::Impl::OnMainThread()
{
	// Qt's GUI thread is the process's first thread; its id is the pid.
	return pid_t(syscall(SYS_gettid)) == getpid();
}

void QtDisplay::Impl::EnsureApplication()
{
	if (!QCoreApplication::instance()) {
		// Lives as long as the process: Qt does not like a second
		// application object after the first, and tests run several kit
		// applications in a row.
		new QApplication(gArgc, gArgv);
	}
	QApplication::setQuitOnLastWindowClosed(false);
}

void QtDisplay::Impl::Post(std::function<void()> task)
{
	std::lock_guard guard(lock);
	tasks.push_back({std::move(task), nullptr});
	if (waker && !wakePosted) {
		wakePosted = true;
		waker->Wake();
	}
}

bool QtDisplay::Impl::Call(const std::function<void()>& fn)
{
	if (OnMainThread()) {
		if (!QCoreApplication::instance())
			return false;
		fn();
		return true;
	}
	CallState state;
	std::unique_lock guard(lock);
	if (!running && quitRequested)
		return false;
	tasks.push_back({[&fn] { fn(); }, &state});
	if (waker && !wakePosted) {
		wakePosted = true;
		waker->Wake();
	}
	// A call made before the display serves waits for it: the first windows
	// ask for their sizes while the main thread is still on its way into the
	// event loop, and only a measurement is the same on every start. A
	// display that never comes to serve is given up after a while.
	const auto giveUp = std::chrono::steady_clock::now() + kWaitForServing;
	while (!state.finished) {
		if (running) {
			callDone.wait(guard, [&state] { return state.finished; });
			break;
		}
		if (callDone.wait_until(guard, giveUp) == std::cv_status::timeout && !running
			&& !state.finished) {
			std::erase_if(tasks, [&state](const Task& task) { return task.call == &state; });
			return false;
		}
	}
	return state.ran;
}

void QtDisplay::Impl::ReleaseCallers()
{
	// Nobody is left to run what callers wait for.
	std::erase_if(tasks, [](const Task& task) {
		if (!task.call)
			return false;
		task.call->finished = true;
		return true;
	});
	callDone.notify_all();
}

void QtDisplay::Impl::Drain()
{
	std::vector<Task> pending;
	{
		std::lock_guard guard(lock);
		wakePosted = false;
		pending.swap(tasks);
	}
	// One pass only: work queued meanwhile has posted a wake-up of its own,
	// so a busy client cannot starve painting and input.
	for (Task& task : pending) {
		task.fn();
		if (task.call) {
			std::lock_guard guard(lock);
			task.call->ran = true;
			task.call->finished = true;
			callDone.notify_all();
		}
	}
}

bool QtDisplay::WaitFor(const std::function<bool()>& cond, std::chrono::milliseconds deadline)
{
	auto end = std::chrono::steady_clock::now() + deadline;
	for (;;) {
		if (cond())
			return true;
		if (std::chrono::steady_clock::now() >= end)
			return false;
		std::this_thread::sleep_for(std::chrono::milliseconds(2));
	}
}

} // namespace BPrivate
