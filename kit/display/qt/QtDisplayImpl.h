// The inside of the Qt display. Where things are:
//   QtDisplay.cpp     the Display calls, Run and Quit, the test hooks
//   QtMainThread.cpp  handing work to the main thread (Post, Call, Drain)
//   QtWindows.cpp     windows: the top-level widget, its flags and frame
//   QtViews.cpp       batches; making, changing, placing and removing views,
//                     what every kind of view shares
//   kinds/            one unit per kind of view (see kinds/QtViewKind.h)
//   QtInput.cpp       input to the windows' loopers, files dropped
//   QtAlerts.cpp      alerts
//   QtFilePanels.cpp  file panels
//   QtSizes.cpp       preferred sizes, the tab height, string widths
//   QtListModel.*     the rows of a list view
// The robot (robot/, for tests only) reads it too. Everything below "main
// thread only" is touched on the main thread alone; the rest is guarded by
// `lock`.
#pragma once

#include "QtDisplay.h"
#include "kinds/QtViewKind.h"

#include <Message.h>

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QSize>
#include <QWidget>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

class QAbstractButton;
class QFileDialog;
class QMessageBox;

namespace BPrivate {

// Fixed metrics for the rare answer that cannot wait for Qt's fonts.
inline constexpr float kFixedCharWidth = 7;
inline constexpr float kFixedLineHeight = 14;

// The top level of a kit window. The close box asks the window's looper
// (the kit decides whether the window goes); the widget only really closes
// when the display removes it.
class QtKitWindow : public QWidget {
public:
	QtKitWindow(QtDisplay::Impl* display, WindowId id);

	void AllowClose() { fAllowClose = true; }

	// The window's flags say it cannot be minimised or zoomed (a progress
	// window that keeps the others blocked). Window managers may offer it
	// anyway (openbox ignores the hints); then it is put back at once.
	void SetKeptNormal(bool minimise, bool zoom)
	{
		fKeepUnminimised = minimise;
		fKeepUnzoomed = zoom;
	}

protected:
	void closeEvent(QCloseEvent* event) override;
	void changeEvent(QEvent* event) override;

private:
	QtDisplay::Impl* fDisplay;
	WindowId fId;
	bool fAllowClose = false;
	bool fKeepUnminimised = false;
	bool fKeepUnzoomed = false;
};

struct WindowRec {
	WindowId id = 0;
	WindowState state;
	BMessenger input;
	std::unique_ptr<QtKitWindow> widget;
	std::map<ViewId, std::unique_ptr<ViewRec>> views;
	bool configured = false;
};

struct AlertRec {
	int32 id = 0;
	AlertRequest request;
	std::function<void(int32)> answer;
	QPointer<QMessageBox> box;
	std::vector<QAbstractButton*> buttons;
};

struct PanelRec {
	FilePanelRequest request;
	std::function<void(const FilePanelResult&)> answer;
	QPointer<QFileDialog> dialog;
};

struct SizeKey {
	ViewKind kind;
	std::string label, text;
	float divider, frameWidth, frameHeight;
	std::vector<std::string> labels;
	auto operator<=>(const SizeKey&) const = default;
};

// A Call waiting for the main thread.
struct CallState {
	bool finished = false;
	bool ran = false;
};

class DrainWaker;

struct QtDisplay::Impl {
	explicit Impl(QtDisplay* owner) : owner(owner) {}

	// Any thread: queues work for the main thread and wakes it once.
	void Post(std::function<void()> task);
	// Any thread: runs fn on the main thread and waits; before the display
	// serves, waits for it to (up to kWaitForServing). False when fn was not
	// run: the display has ended, or never came to serve.
	bool Call(const std::function<void()>& fn);
	static constexpr std::chrono::seconds kWaitForServing{30};
	// With the lock held: every waiting Call returns false.
	void ReleaseCallers();
	// Any thread: runs fn(window record, view record) on the main thread for
	// the view named in the window titled so; not at all when either is
	// missing. The robot's calls are made of this.
	template <typename F>
	bool OnView(const std::string& window, const std::string& view, F fn);
	static bool OnMainThread();

	// ---- main thread only ----------------------------------------------
	void Drain();
	void ApplyBatch(Batch& batch);
	void CreateWindow(WindowCreate& op);
	void UpdateWindow(const WindowState& state);
	void DestroyWindow(WindowId id);
	void CreateView(WindowRec& window, const ViewState& state);
	void UpdateView(WindowRec& window, ViewRec& view, const ViewState& state, bool created);
	void DestroyView(WindowRec& window, ViewId id);
	void PlaceView(WindowRec& window, ViewRec& view);
	void ShowAlertNow(int32 id, AlertRequest request, std::function<void(int32)> answer);
	void AlertFinished(int64 serial);
	void ShowPanelNow(FilePanelRequest request, std::function<void(const FilePanelResult&)> answer);
	void PanelFinished(int32 id, int result);
	void HidePanelNow(int32 id);
	void CloseEverything();

	// Input to a window's looper.
	void PostInput(WindowId window, BMessage& message);
	void PostInput(WindowId window, ViewId view, BMessage message);
	// Drops: files onto a widget of a window, at a point in window coordinates.
	ViewId ViewAt(const WindowRec& window, QPoint where) const;
	void InstallDropTarget(QWidget* widget, WindowId window);
	bool CloseRequested(WindowId id);
	// Start-up timing (TAMSEL_EXIT_WHEN_SHOWN=1): ends the process.
	void WindowShown();

	WindowRec* FindWindowRec(WindowId id);
	WindowRec* FindWindowRec(const std::string& title);
	ViewRec* FindViewRec(WindowRec& window, const std::string& name);
	ViewRec* FindViewRec(WindowRec& window, ViewId id);
	// The view's record of kind Rec, looked up again by its ids: a widget's
	// signal may come while its view is on the way out. Null when the view
	// is gone or its record is not a Rec.
	template <typename Rec = ViewRec>
	Rec* FindView(WindowId window, ViewId view);

	PreferredSize ComputeSize(const SizeQuery& query);
	float ComputeTabHeight();
	float ComputeStringWidth(const std::string& text);
	static PreferredSize FixedSize(const SizeQuery& query);
	// Creates the application object on the main thread when there is none.
	static void EnsureApplication();

	QtDisplay* owner;

	// ---- guarded by lock -----------------------------------------------
	mutable std::mutex lock;
	std::condition_variable callDone;
	struct Task {
		std::function<void()> fn;
		CallState* call = nullptr; // a waiting Call, when not null
	};
	std::vector<Task> tasks;
	DrainWaker* waker = nullptr;
	bool wakePosted = false;
	bool running = false;
	bool quitRequested = false;
	std::function<void(WindowId, const BMessage&)> observer;
	std::map<SizeKey, PreferredSize> sizeCache;
	std::map<std::string, float> widthCache;
	float tabHeight = -1;

	// ---- main thread only ----------------------------------------------
	std::map<WindowId, std::unique_ptr<WindowRec>> windows;
	std::map<int64, AlertRec> alerts; // by arrival, so the oldest is first
	int64 nextAlertSerial = 0;
	std::map<int32, PanelRec> panels;
	int64 panelAnswers = 0; // answers given so far, for the robot
	bool exitWhenShown = false;
};

// Wakes the main thread to drain the task queue with an event that carries
// nothing: the tasks travel under our own lock, which ThreadSanitizer sees,
// never through Qt's queue, whose locks it cannot see.
class DrainWaker : public QObject {
public:
	explicit DrainWaker(QtDisplay::Impl* impl) : fImpl(impl) {}
	// Any thread; Qt owns the event.
	void Wake() { QCoreApplication::postEvent(this, new QEvent(QEvent::User)); }

protected:
	void customEvent(QEvent*) override;

private:
	QtDisplay::Impl* fImpl;
};

template <typename F>
bool QtDisplay::Impl::OnView(const std::string& window, const std::string& view, F fn)
{
	return Call([&] {
		WindowRec* rec = FindWindowRec(window);
		if (ViewRec* v = rec ? FindViewRec(*rec, view) : nullptr)
			fn(rec, v);
	});
}

template <typename Rec>
Rec* QtDisplay::Impl::FindView(WindowId window, ViewId view)
{
	WindowRec* rec = FindWindowRec(window);
	return dynamic_cast<Rec*>(rec ? FindViewRec(*rec, view) : nullptr);
}

// Qt's text for a label of ours: an ampersand is a character, not a mnemonic.
QString PlainLabel(const std::string& label);
// A frame of the kit (both edges included) as Qt's rectangle.
QRect ToQRect(const BRect& frame);
QColor ToQColor(rgb_color color);
// A size hint as Be gives sizes: pixels - 1.
inline PreferredSize BeSize(QSize size)
{
	return PreferredSize{float(size.width() - 1), float(size.height() - 1)};
}

} // namespace BPrivate
