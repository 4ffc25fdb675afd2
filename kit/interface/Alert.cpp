#include <Alert.h>

#include <Autolock.h>
#include <Display.h>
#include <Window.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace {

std::atomic<int32> sNextAlertId{1};

BPrivate::AlertIcon IconFor(alert_type type)
{
	switch (type) {
		case B_INFO_ALERT:
			return BPrivate::AlertIcon::Info;
		case B_IDEA_ALERT:
			return BPrivate::AlertIcon::Idea;
		case B_WARNING_ALERT:
			return BPrivate::AlertIcon::Warning;
		case B_STOP_ALERT:
			return BPrivate::AlertIcon::Stop;
		default:
			return BPrivate::AlertIcon::None;
	}
}

// Shared with the display's callback, which may run on any thread and after
// the waiting thread has gone on.
struct AlertAnswer {
	std::mutex lock;
	std::condition_variable answered;
	bool done = false;
	int32 button = -1;
};

} // namespace

BAlert::BAlert(const char* title, const char* text, const char* button0, const char* button1,
	const char* button2, button_width width, alert_type type)
	:
	fTitle(title ? title : ""),
	fText(text ? text : ""),
	fWidth(width),
	fType(type)
{
	for (const char* label : {button0, button1, button2}) {
		if (!label)
			break;
		fButtons.emplace_back(label);
	}
}

BAlert::~BAlert() = default;

int32 BAlert::Go()
{
	BPrivate::AlertRequest request;
	request.id = sNextAlertId.fetch_add(1);
	request.title = fTitle;
	request.text = fText;
	request.buttons = fButtons;
	request.icon = IconFor(fType);

	// What the calling window changed before the alert must be on the screen
	// while its thread waits here.
	if (auto* window = dynamic_cast<BWindow*>(BLooper::LooperForThread())) {
		BAutolock lock(window);
		if (lock.IsLocked())
			window->Flush();
	}

	auto answer = std::make_shared<AlertAnswer>();
	BPrivate::GetDisplay()->ShowAlert(std::move(request), [answer](int32 button) {
		{
			std::lock_guard<std::mutex> guard(answer->lock);
			if (answer->done)
				return;
			answer->done = true;
			answer->button = button;
		}
		answer->answered.notify_all();
	});

	int32 button;
	{
		// Only this thread waits; whatever lock it holds stays held, as on
		// the platform, and every other looper goes on.
		std::unique_lock<std::mutex> guard(answer->lock);
		answer->answered.wait(guard, [&answer] { return answer->done; });
		button = answer->button;
	}
	delete this;
	return button;
}
