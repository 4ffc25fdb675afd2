// The Display calls of the headless display: batches, alerts and panels
// are kept in memory; sizes come from fixed metrics (each kind's in its
// unit, see kinds/).
#include "HeadlessDisplayImpl.h"

#include "kinds/HeadlessListViewKind.h"
#include "kinds/HeadlessViewKind.h"

#include <algorithm>

namespace BPrivate {

namespace {

constexpr float kTabHeight = 24;

// An alert: the icon left of the text, the buttons in a row below, a margin
// around and between them.
constexpr float kAlertMargin = 12;
constexpr float kAlertIcon = 32;
constexpr float kAlertButtonHeight = 24;
constexpr float kAlertButtonMinWidth = 74;
constexpr float kAlertButtonPadding = 20;

struct AlertLayout {
	float width, height;
	bool textScrolls;
};

// The alert's box: its text unwrapped, as long and as wide as it is up to
// the most an alert's text takes.
AlertLayout LayOutAlert(const AlertRequest& request)
{
	const std::string& text = request.text;
	size_t lines = 1;
	size_t widest = 0;
	for (size_t start = 0;;) {
		const size_t end = std::min(text.find('\n', start), text.size());
		widest = std::max(widest, end - start);
		if (end == text.size())
			break;
		lines++;
		start = end + 1;
	}
	const float textWidth = HeadlessDisplay::kCharWidth * float(widest);
	const float textHeight = HeadlessDisplay::kLineHeight * float(lines);
	float buttons = 0;
	for (const std::string& label : request.buttons) {
		buttons += std::max(kAlertButtonMinWidth,
			HeadlessDisplay::kCharWidth * float(label.size()) + kAlertButtonPadding) + kAlertMargin;
	}
	return AlertLayout{
		std::max(kAlertIcon + std::min(textWidth, kAlertTextMaxWidth) + 3 * kAlertMargin,
			buttons + kAlertMargin),
		std::max(kAlertIcon, std::min(textHeight, kAlertTextMaxHeight))
			+ kAlertButtonHeight + 3 * kAlertMargin,
		textWidth > kAlertTextMaxWidth || textHeight > kAlertTextMaxHeight,
	};
}

} // namespace

// ---- applying operations -------------------------------------------------

size_t HeadlessDisplay::Impl::ApplyRemovalRun(Window& window,
	const std::vector<Operation>& operations, size_t at)
{
	const auto* first = std::get_if<ListRemove>(&operations[at]);
	if (first == nullptr)
		return 0;
	auto found = window.views.find(first->view);
	if (found == window.views.end())
		return 0;
	return BPrivate::ApplyRemovalRun(found->second, operations, at);
}

void HeadlessDisplay::Impl::ApplyTo(Window& window, Operation& operation)
{
	auto list = [&window, &operation](ViewId id) {
		auto found = window.views.find(id);
		if (found != window.views.end())
			ApplyListOperation(found->second, operation);
	};
	std::visit(Overloaded{
		[&](WindowUpdate& op) { window.state = std::move(op.state); },
		[&](ViewCreate& op) {
			View& view = window.views[op.state.id];
			view = View{};
			view.state = std::move(op.state);
		},
		[&](ViewUpdate& op) {
			auto found = window.views.find(op.state.id);
			if (found != window.views.end())
				found->second.state = std::move(op.state);
		},
		[&](ViewDestroy& op) { EraseSubtree(window, op.id); },
		[&](ListInsert& op) { list(op.view); },
		[&](ListRemove& op) { list(op.view); },
		[&](ListMove& op) { list(op.view); },
		[&](ListSetText& op) { list(op.view); },
		[&](ListSelect& op) { list(op.view); },
		[&](ListClear& op) { list(op.view); },
		[](auto&) {},
	}, operation);
}

// ---- the display -----------------------------------------------------------

HeadlessDisplay::HeadlessDisplay()
	:
	fImpl(std::make_unique<Impl>())
{
}

HeadlessDisplay::~HeadlessDisplay() = default;

void HeadlessDisplay::Run()
{
	std::unique_lock<std::mutex> guard(fImpl->lock);
	fImpl->quitCond.wait(guard, [this] { return fImpl->quit; });
	// The quit is used up: a later application may serve the display again.
	fImpl->quit = false;
	fImpl->windows.clear();
}

void HeadlessDisplay::Quit()
{
	{
		std::lock_guard<std::mutex> guard(fImpl->lock);
		fImpl->quit = true;
	}
	fImpl->quitCond.notify_all();
}

void HeadlessDisplay::Apply(Batch batch)
{
	std::lock_guard<std::mutex> guard(fImpl->lock);
	auto found = fImpl->windows.find(batch.window);
	for (size_t at = 0; at < batch.operations.size(); at++) {
		Operation& operation = batch.operations[at];
		if (auto* create = std::get_if<WindowCreate>(&operation)) {
			Impl::Window& window = fImpl->windows[batch.window];
			window = Impl::Window{};
			window.state = std::move(create->state);
			window.input = create->input;
			found = fImpl->windows.find(batch.window);
			continue;
		}
		// Batches for a window that is gone (or never came) are dropped.
		if (found == fImpl->windows.end())
			return;
		if (std::holds_alternative<WindowDestroy>(operation)) {
			fImpl->windows.erase(found);
			return;
		}
		if (size_t applied = fImpl->ApplyRemovalRun(found->second, batch.operations, at)) {
			at += applied - 1;
			continue;
		}
		fImpl->ApplyTo(found->second, operation);
	}
	if (found != fImpl->windows.end())
		found->second.batches++;
}

void HeadlessDisplay::ShowAlert(AlertRequest request, std::function<void(int32)> answer)
{
	const AlertLayout layout = LayOutAlert(request);
	Impl::Alert alert{std::move(request), std::move(answer), layout.width, layout.height,
		layout.textScrolls};
	std::lock_guard<std::mutex> guard(fImpl->lock);
	fImpl->alerts.push_back(std::move(alert));
}

void HeadlessDisplay::ShowFilePanel(FilePanelRequest request,
	std::function<void(const FilePanelResult&)> answer)
{
	std::lock_guard<std::mutex> guard(fImpl->lock);
	for (Impl::Panel& panel : fImpl->panels) {
		if (panel.request.id == request.id) {
			// Shown again while open: the same panel, brought up to date.
			panel.request = std::move(request);
			panel.answer = std::move(answer);
			return;
		}
	}
	fImpl->panels.push_back(Impl::Panel{std::move(request), std::move(answer)});
}

void HeadlessDisplay::HideFilePanel(int32 id)
{
	std::function<void(const FilePanelResult&)> dropped;
	std::lock_guard<std::mutex> guard(fImpl->lock);
	auto& panels = fImpl->panels;
	auto found = std::find_if(panels.begin(), panels.end(),
		[id](const Impl::Panel& panel) { return panel.request.id == id; });
	if (found == panels.end())
		return;
	// The callback is destroyed outside the lock: it may own the last
	// reference to its panel's state.
	dropped = std::move(found->answer);
	panels.erase(found);
}

PreferredSize HeadlessDisplay::GetPreferredSize(const SizeQuery& query)
{
	return HeadlessViewKindFor(query.kind).FixedSize(query);
}

float HeadlessDisplay::TabHeight()
{
	return kTabHeight;
}

float HeadlessDisplay::StringWidth(const std::string& text)
{
	return kCharWidth * float(text.size());
}

HeadlessDisplay* GetHeadlessDisplay()
{
	return dynamic_cast<HeadlessDisplay*>(GetDisplay());
}

} // namespace BPrivate
