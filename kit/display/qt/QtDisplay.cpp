// The Display calls of the Qt display, Run and Quit, and its test hooks.
#include "QtDisplayImpl.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace BPrivate {

QtDisplay::QtDisplay()
	:
	fImpl(std::make_unique<Impl>(this))
{
	const char* exitWhenShown = std::getenv("TAMSEL_EXIT_WHEN_SHOWN");
	fImpl->exitWhenShown = exitWhenShown && std::strcmp(exitWhenShown, "1") == 0;
}

QtDisplay::~QtDisplay()
{
	// Widgets can only go on the main thread; elsewhere they are left to
	// the process's end rather than touched from the wrong thread.
	if (Impl::OnMainThread())
		fImpl->CloseEverything();
}

namespace {

// True while the event loop runs. Qt's X11 platform ends the process with
// exit() when its connection to the X server breaks; that exit comes from
// inside the loop, and the application is then asked to quit (and store its
// settings) before the process goes.
std::atomic<bool> sServing{false};

void ScreenGoneAtExit()
{
	if (sServing.exchange(false)) {
		std::fputs("The screen went away; the application is asked to quit.\n", stderr);
		DisplayLost();
	}
}

} // namespace

void QtDisplay::Run()
{
	Impl::EnsureApplication();
	static const bool exitWatched = std::atexit(ScreenGoneAtExit) == 0;
	(void)exitWatched;
	DrainWaker waker(fImpl.get());
	{
		std::lock_guard guard(fImpl->lock);
		if (fImpl->quitRequested) {
			fImpl->quitRequested = false;
			fImpl->ReleaseCallers();
			return;
		}
		fImpl->waker = &waker;
		fImpl->running = true;
		// Work queued before Run (the first windows) is applied inside the
		// event loop like everything else, so that Quit always finds it running.
		fImpl->wakePosted = true;
		waker.Wake();
	}
	sServing = true;
	QApplication::exec();
	sServing = false;
	{
		std::lock_guard guard(fImpl->lock);
		fImpl->running = false;
		fImpl->waker = nullptr;
		fImpl->wakePosted = false;
		fImpl->quitRequested = false;
		fImpl->ReleaseCallers();
	}
	fImpl->CloseEverything();
}

void QtDisplay::Quit()
{
	std::lock_guard guard(fImpl->lock);
	if (!fImpl->running) {
		fImpl->quitRequested = true;
		return;
	}
	fImpl->tasks.push_back({[impl = fImpl.get()] {
		impl->CloseEverything();
		QCoreApplication::exit(0);
	}, nullptr});
	if (fImpl->waker && !fImpl->wakePosted) {
		fImpl->wakePosted = true;
		fImpl->waker->Wake();
	}
}

void QtDisplay::Impl::CloseEverything()
{
	while (!windows.empty())
		DestroyWindow(windows.begin()->first);
	// A looper may be waiting for its alert's answer; closing a box counts
	// as its last button, as Escape does.
	while (!alerts.empty()) {
		AlertRec alert = std::move(alerts.begin()->second);
		alerts.erase(alerts.begin());
		if (alert.box) {
			alert.box->disconnect(alert.box, nullptr, nullptr, nullptr);
			delete alert.box;
		}
		if (alert.answer)
			alert.answer(std::max<int32>(int32(alert.request.buttons.size()) - 1, 0));
	}
	while (!panels.empty()) {
		PanelRec panel = std::move(panels.begin()->second);
		panels.erase(panels.begin());
		if (panel.dialog) {
			panel.dialog->disconnect(panel.dialog, nullptr, nullptr, nullptr);
			delete panel.dialog;
		}
	}
}

void QtDisplay::Apply(Batch batch)
{
	fImpl->Post([impl = fImpl.get(), batch = std::move(batch)]() mutable {
		impl->ApplyBatch(batch);
	});
}

void QtDisplay::ShowAlert(AlertRequest request, std::function<void(int32)> answer)
{
	fImpl->Post([impl = fImpl.get(), request = std::move(request),
		answer = std::move(answer)]() mutable {
		int32 id = request.id;
		impl->ShowAlertNow(id, std::move(request), std::move(answer));
	});
}

void QtDisplay::ShowFilePanel(FilePanelRequest request,
	std::function<void(const FilePanelResult&)> answer)
{
	fImpl->Post([impl = fImpl.get(), request = std::move(request),
		answer = std::move(answer)]() mutable {
		impl->ShowPanelNow(std::move(request), std::move(answer));
	});
}

void QtDisplay::HideFilePanel(int32 id)
{
	fImpl->Post([impl = fImpl.get(), id] { impl->HidePanelNow(id); });
}

// ---- test hooks -----------------------------------------------------------

void QtDisplay::SetInputObserver(std::function<void(WindowId, const BMessage&)> observer)
{
	std::lock_guard guard(fImpl->lock);
	fImpl->observer = std::move(observer);
}

bool QtDisplay::Invoke(const std::function<void()>& fn)
{
	return fImpl->Call(fn);
}

bool QtDisplay::IsRunning() const
{
	std::lock_guard guard(fImpl->lock);
	return fImpl->running;
}

bool QtDisplay::WaitUntilRunning(std::chrono::milliseconds deadline) const
{
	return WaitFor([this] { return IsRunning(); }, deadline);
}

QtDisplay* GetQtDisplay()
{
	return dynamic_cast<QtDisplay*>(GetDisplay());
}

} // namespace BPrivate
