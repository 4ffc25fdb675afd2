#include <Window.h>

#include <Application.h>
#include <Autolock.h>
#include <Display.h>

#include <algorithm>
#include <atomic>
#include <mutex>

namespace {

std::atomic<BPrivate::WindowId> sNextWindowId{1};

// Frame, title and visibility are read from any thread (a window that shows
// another one asks for its frame); this guards them, and nothing else is
// ever taken while it is held.
std::mutex sWindowStateLock;

template <typename... Ts>
struct Overloaded : Ts... {
	using Ts::operator()...;
};
template <typename... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

// The view an operation is about; 0 for window operations.
BPrivate::ViewId ViewOf(const BPrivate::Operation& operation)
{
	using namespace BPrivate;
	return std::visit(Overloaded{
		[](const ViewCreate& op) { return op.state.id; },
		[](const ViewUpdate& op) { return op.state.id; },
		[](const ViewDestroy& op) { return op.id; },
		[](const ListInsert& op) { return op.view; },
		[](const ListRemove& op) { return op.view; },
		[](const ListMove& op) { return op.view; },
		[](const ListSetText& op) { return op.view; },
		[](const ListSelect& op) { return op.view; },
		[](const ListClear& op) { return op.view; },
		[](const auto&) { return ViewId(0); },
	}, operation);
}

} // namespace

BWindow::BWindow(BRect frame, const char* title, window_type type, uint32 flags, uint32)
	:
	BLooper(title)
{
	window_look look = B_TITLED_WINDOW_LOOK;
	window_feel feel = B_NORMAL_WINDOW_FEEL;
	switch (type) {
		case B_DOCUMENT_WINDOW:
			look = B_DOCUMENT_WINDOW_LOOK;
			break;
		case B_MODAL_WINDOW:
			look = B_MODAL_WINDOW_LOOK;
			feel = B_MODAL_APP_WINDOW_FEEL;
			break;
		case B_BORDERED_WINDOW:
			look = B_BORDERED_WINDOW_LOOK;
			break;
		case B_FLOATING_WINDOW:
			look = B_FLOATING_WINDOW_LOOK;
			feel = B_FLOATING_APP_WINDOW_FEEL;
			break;
		default:
			break;
	}
	Init(frame, title, look, feel, flags);
}

BWindow::BWindow(BRect frame, const char* title, window_look look, window_feel feel,
	uint32 flags, uint32)
	:
	BLooper(title)
{
	Init(frame, title, look, feel, flags);
}

void BWindow::Init(BRect frame, const char* title, window_look look, window_feel feel,
	uint32 flags)
{
	fId = sNextWindowId.fetch_add(1);
	fTitle = title ? title : "";
	fFrame = frame;
	fLook = look;
	fFeel = feel;
	fFlags = flags;

	// The top view stands for the window's content area; it has no twin on
	// the display (id 0 means "the window" to it).
	fTopView = std::make_unique<BView>(BRect(0, 0, frame.Width(), frame.Height()), "",
		B_FOLLOW_ALL_SIDES, 0);
	fTopView->fId = 0;
	fTopView->fWindow = this;

	BPrivate::WindowCreate create;
	create.state.id = fId;
	create.input = BMessenger(this);
	fPending.push_back(std::move(create));
	fWindowDirty = true;

	if (be_app)
		be_app->RegisterWindow(this);
}

BWindow::~BWindow()
{
	// Quit unregisters and tells the display; a window deleted without it
	// does both here.
	if (BApplication::ForgetWindow(this, false)) {
		BPrivate::Batch batch;
		batch.window = fId;
		batch.operations.push_back(BPrivate::WindowDestroy{fId});
		BPrivate::GetDisplay()->Apply(std::move(batch));
	}
	fPending.clear();
	fDirty.clear();
	std::vector<BView*> views;
	views.swap(fViews);
	for (BView* view : views)
		RemoveHandler(view);
	fTopView.reset();
}

void BWindow::Show()
{
	bool start = false;
	{
		BAutolock lock(this);
		if (++fShowLevel == 1) {
			{
				std::lock_guard<std::mutex> guard(sWindowStateLock);
				fHidden = false;
			}
			SendWindowUpdate();
		}
		if (!fStarted) {
			fStarted = true;
			start = Thread() < 0;
		}
	}
	if (start)
		Run();
}

void BWindow::Hide()
{
	BAutolock lock(this);
	if (--fShowLevel == 0) {
		{
			std::lock_guard<std::mutex> guard(sWindowStateLock);
			fHidden = true;
		}
		SendWindowUpdate();
	}
}

bool BWindow::IsHidden() const
{
	std::lock_guard<std::mutex> guard(sWindowStateLock);
	return fHidden;
}

void BWindow::Quit()
{
	const bool ownThread = IsRunning() && Thread() == find_thread(nullptr);
	Lock();
	// The display only knows the window once its first batch went out.
	const bool known = fPending.empty()
		|| !std::holds_alternative<BPrivate::WindowCreate>(fPending.front());
	fPending.clear();
	fDirty.clear();
	fWindowDirty = true; // nothing more is sent for this window
	if (known) {
		BPrivate::Batch batch;
		batch.window = fId;
		batch.operations.push_back(BPrivate::WindowDestroy{fId});
		BPrivate::GetDisplay()->Apply(std::move(batch));
	}
	BApplication::ForgetWindow(this, (fFlags & B_QUIT_ON_WINDOW_CLOSE) != 0);

	if (ownThread) {
		// The loop ends after the current message and deletes the window.
		BLooper::Quit();
		Unlock();
	} else {
		// Takes the lock count along; the window is gone afterwards.
		BLooper::Quit();
	}
}

bool BWindow::QuitRequested()
{
	return BLooper::QuitRequested();
}

void BWindow::SetTitle(const char* title)
{
	BAutolock lock(this);
	{
		std::lock_guard<std::mutex> guard(sWindowStateLock);
		fTitle = title ? title : "";
	}
	SetName(title);
	SendWindowUpdate();
}

BRect BWindow::Frame() const
{
	std::lock_guard<std::mutex> guard(sWindowStateLock);
	return fFrame;
}

BRect BWindow::Bounds() const
{
	BRect frame = Frame();
	return BRect(0, 0, frame.Width(), frame.Height());
}

void BWindow::MoveTo(float x, float y)
{
	BAutolock lock(this);
	{
		std::lock_guard<std::mutex> guard(sWindowStateLock);
		if (fFrame.left == x && fFrame.top == y)
			return;
		fFrame.OffsetTo(x, y);
	}
	SendWindowUpdate();
}

void BWindow::MoveBy(float dx, float dy)
{
	BRect frame = Frame();
	MoveTo(frame.left + dx, frame.top + dy);
}

void BWindow::ResizeTo(float width, float height)
{
	BAutolock lock(this);
	{
		std::lock_guard<std::mutex> guard(sWindowStateLock);
		if (fFrame.Width() == width && fFrame.Height() == height)
			return;
		fFrame.right = fFrame.left + width;
		fFrame.bottom = fFrame.top + height;
	}
	fTopView->ResizeTo(width, height);
	SendWindowUpdate();
}

void BWindow::ResizeBy(float dx, float dy)
{
	BRect frame = Frame();
	ResizeTo(frame.Width() + dx, frame.Height() + dy);
}

void BWindow::AddChild(BView* child, BView* before)
{
	fTopView->AddChild(child, before);
}

bool BWindow::RemoveChild(BView* child)
{
	return fTopView->RemoveChild(child);
}

int32 BWindow::CountChildren() const
{
	return fTopView->CountChildren();
}

BView* BWindow::ChildAt(int32 index) const
{
	return fTopView->ChildAt(index);
}

BView* BWindow::FindView(const char* name) const
{
	for (int32 i = 0; i < fTopView->CountChildren(); i++) {
		if (BView* found = fTopView->ChildAt(i)->FindView(name))
			return found;
	}
	return nullptr;
}

void BWindow::DispatchMessage(BMessage* message, BHandler* handler)
{
	if (!message)
		return;
	switch (message->what) {
		case BPrivate::K_INPUT_INVOKE:
		case BPrivate::K_INPUT_TEXT:
		case BPrivate::K_INPUT_SELECT:
		case BPrivate::K_INPUT_MENU:
		case BPrivate::K_INPUT_TAB:
		case B_SIMPLE_DATA: {
			int32 id = 0;
			if (message->FindInt32("_view", &id) != B_OK)
				break;
			// Input for a view that has gone since the display sent it is
			// dropped.
			BView* view = ViewForId(id);
			if (!view)
				return;
			if (message->what == B_SIMPLE_DATA)
				BLooper::DispatchMessage(message, view);
			else
				view->HandleInput(message);
			return;
		}
		default:
			break;
	}
	BLooper::DispatchMessage(message, handler);
}

void BWindow::MessageReceived(BMessage* message)
{
	BLooper::MessageReceived(message);
}

void BWindow::MarkDirty(BView* view)
{
	if (!view || view->Id() == 0)
		return;
	BAutolock lock(this);
	if (fDirty.insert(view->Id()).second) {
		BPrivate::ViewUpdate update;
		update.state.id = view->Id();
		fPending.push_back(std::move(update));
	}
}

void BWindow::AddOperation(BPrivate::Operation operation)
{
	using namespace BPrivate;
	BAutolock lock(this);

	if (auto* create = std::get_if<ViewCreate>(&operation)) {
		fDirty.insert(create->state.id);
	} else if (auto* destroy = std::get_if<ViewDestroy>(&operation)) {
		const ViewId id = destroy->id;
		fDirty.erase(id);
		// A view that comes and goes within one batch never reaches the
		// display: its create and everything after it are dropped.
		auto created = std::find_if(fPending.begin(), fPending.end(), [id](const Operation& op) {
			const auto* pending = std::get_if<ViewCreate>(&op);
			return pending && pending->state.id == id;
		});
		if (created != fPending.end()) {
			fPending.erase(std::remove_if(created, fPending.end(),
				[id](const Operation& op) { return ViewOf(op) == id; }), fPending.end());
			return;
		}
	} else if (auto* insert = std::get_if<ListInsert>(&operation)) {
		// Rows appended one by one travel as one insert of many rows. Pending
		// updates do not carry rows, so merging across them keeps the order
		// that matters.
		int looked = 0;
		for (auto it = fPending.rbegin(); it != fPending.rend() && looked < 8; ++it, ++looked) {
			if (std::holds_alternative<ViewUpdate>(*it))
				continue;
			auto* previous = std::get_if<ListInsert>(&*it);
			if (previous && previous->view == insert->view
				&& previous->index + int32(previous->texts.size()) == insert->index) {
				if (previous->texts.empty())
					previous->texts = std::move(insert->texts);
				else
					previous->texts.insert(previous->texts.end(),
						std::make_move_iterator(insert->texts.begin()),
						std::make_move_iterator(insert->texts.end()));
				return;
			}
			break;
		}
	}
	fPending.push_back(std::move(operation));
}

void BWindow::Flush()
{
	using namespace BPrivate;
	// A view's FillState may invalidate another view; one more round sends
	// that too instead of leaving it until the next unlock.
	for (int round = 0; round < 2 && !fPending.empty(); round++) {
		std::vector<Operation> operations;
		operations.swap(fPending);
		fDirty.clear();
		fWindowDirty = false;

		Batch batch;
		batch.window = fId;
		batch.operations.reserve(operations.size());
		for (Operation& operation : operations) {
			bool keep = std::visit(Overloaded{
				[this](WindowCreate& op) { op.state = State(); return true; },
				[this](WindowUpdate& op) { op.state = State(); return true; },
				[this](ViewCreate& op) {
					BView* view = ViewForId(op.state.id);
					if (view)
						view->FillState(op.state);
					return view != nullptr;
				},
				[this](ViewUpdate& op) {
					BView* view = ViewForId(op.state.id);
					if (view)
						view->FillState(op.state);
					return view != nullptr;
				},
				[](auto&) { return true; },
			}, operation);
			if (keep)
				batch.operations.push_back(std::move(operation));
		}
		if (!batch.operations.empty())
			GetDisplay()->Apply(std::move(batch));
	}
}

BView* BWindow::ViewForId(BPrivate::ViewId id) const
{
	if (id == 0)
		return nullptr;
	for (BView* view : fViews) {
		if (view->Id() == id)
			return view;
	}
	return nullptr;
}

void BWindow::RegisterView(BView* view)
{
	if (!view || view->Id() == 0)
		return;
	fViews.push_back(view);
	// Views are handlers of their window, so that messengers can aim at them.
	AddHandler(view);
}

void BWindow::UnregisterView(BView* view)
{
	auto found = std::find(fViews.begin(), fViews.end(), view);
	if (found == fViews.end())
		return;
	fViews.erase(found);
	RemoveHandler(view);
}

void BWindow::OuterUnlock()
{
	Flush();
}

void BWindow::SendWindowUpdate()
{
	if (fWindowDirty)
		return;
	fWindowDirty = true;
	fPending.push_back(BPrivate::WindowUpdate{});
}

BPrivate::WindowState BWindow::State() const
{
	BPrivate::WindowState state;
	state.id = fId;
	{
		std::lock_guard<std::mutex> guard(sWindowStateLock);
		state.title = fTitle;
		state.frame = fFrame;
		state.hidden = fHidden;
	}
	state.look = fLook;
	state.feel = fFeel;
	state.flags = fFlags;
	return state;
}
