#include <View.h>

#include <Autolock.h>
#include <Display.h>
#include <Message.h>
#include <TextControl.h>
#include <Window.h>

#include <algorithm>
#include <atomic>

namespace {

// Ids are never reused, so input that names a view that has gone can only
// miss, never reach another view.
std::atomic<BPrivate::ViewId> sNextViewId{1};

// Where an edge goes when the parent grows by delta, for one rule of the
// resizing mode. A missing rule keeps the edge where it is relative to the
// parent's left or top edge.
float MoveEdge(float edge, uint32 rule, float delta)
{
	switch (rule) {
		case _VIEW_RIGHT_:
		case _VIEW_BOTTOM_:
			return edge + delta;
		case _VIEW_CENTER_:
			return edge + delta / 2;
		default:
			return edge;
	}
}

} // namespace

BView::BView(BRect frame, const char* name, uint32 resizingMode, uint32 flags)
	:
	BHandler(name),
	fId(sNextViewId.fetch_add(1)),
	fFrame(frame),
	fName(name ? name : ""),
	fResizingMode(resizingMode),
	fFlags(flags)
{
}

BView::~BView()
{
	// Deleted while still in a tree: leave it first, so that neither the
	// parent nor the window keeps a pointer to this view.
	if (fParent) {
		BAutolock lock(fWindow);
		for (auto& child : fParent->fChildren) {
			if (child.get() == this) {
				child.release();
				break;
			}
		}
		fParent->fChildren.erase(std::remove(fParent->fChildren.begin(), fParent->fChildren.end(),
			nullptr), fParent->fChildren.end());
		if (fWindow)
			DetachTree();
		fParent = nullptr;
	}
	// The children go with this view; they must not try to leave it.
	for (auto& child : fChildren)
		child->fParent = nullptr;
	fChildren.clear();
}

void BView::AddChild(BView* child, BView* before)
{
	if (!child || child == this || child->fParent || child->fId == 0)
		return;
	BAutolock lock(fWindow);
	auto at = fChildren.end();
	if (before) {
		at = std::find_if(fChildren.begin(), fChildren.end(),
			[before](const std::unique_ptr<BView>& view) { return view.get() == before; });
	}
	fChildren.insert(at, std::unique_ptr<BView>(child));
	child->fParent = this;
	if (!fWindow)
		return;

	child->AttachTree(fWindow);
	child->SendCreateTree();
	// The hooks run once the whole subtree is known to the window; a hook
	// that adds views attaches them through its own AddChild.
	std::vector<BView*> attached;
	std::vector<BView*> pending{child};
	while (!pending.empty()) {
		BView* view = pending.back();
		pending.pop_back();
		attached.push_back(view);
		for (auto it = view->fChildren.rbegin(); it != view->fChildren.rend(); ++it)
			pending.push_back(it->get());
	}
	for (BView* view : attached)
		view->AttachedToWindow();
	for (auto it = attached.rbegin(); it != attached.rend(); ++it)
		(*it)->AllAttached();
}

bool BView::RemoveChild(BView* child)
{
	if (!child || child->fParent != this)
		return false;
	BAutolock lock(fWindow);
	auto found = std::find_if(fChildren.begin(), fChildren.end(),
		[child](const std::unique_ptr<BView>& view) { return view.get() == child; });
	if (found == fChildren.end())
		return false;
	if (child->fWindow)
		child->DetachTree();
	found->release();
	fChildren.erase(found);
	child->fParent = nullptr;
	return true;
}

bool BView::RemoveSelf()
{
	return fParent ? fParent->RemoveChild(this) : false;
}

int32 BView::CountChildren() const
{
	return int32(fChildren.size());
}

BView* BView::ChildAt(int32 index) const
{
	if (index < 0 || index >= CountChildren())
		return nullptr;
	return fChildren[size_t(index)].get();
}

BView* BView::FindView(const char* name) const
{
	if (!name)
		return nullptr;
	if (fName == name)
		return const_cast<BView*>(this);
	for (const auto& child : fChildren) {
		if (BView* found = child->FindView(name))
			return found;
	}
	return nullptr;
}

BRect BView::Frame() const
{
	return fFrame;
}

BRect BView::Bounds() const
{
	return BRect(0, 0, fFrame.Width(), fFrame.Height());
}

void BView::MoveTo(float x, float y)
{
	if (x == fFrame.left && y == fFrame.top)
		return;
	BAutolock lock(fWindow);
	fFrame.OffsetTo(x, y);
	Invalidate();
}

void BView::MoveBy(float dx, float dy)
{
	MoveTo(fFrame.left + dx, fFrame.top + dy);
}

void BView::ResizeTo(float width, float height)
{
	ResizeBy(width - fFrame.Width(), height - fFrame.Height());
}

void BView::ResizeBy(float dx, float dy)
{
	if (dx == 0 && dy == 0)
		return;
	BAutolock lock(fWindow);
	fFrame.right += dx;
	fFrame.bottom += dy;
	Invalidate();
	// The entry of a text control is a child view on the platform that
	// follows the control's width and height.
	if (auto* textControl = dynamic_cast<BTextControl*>(this)) {
		BTextView* entry = textControl->TextView();
		entry->ResizeTo(entry->Frame().Width() + dx, entry->Frame().Height() + dy);
	}
	for (const auto& child : fChildren)
		child->ParentResized(dx, dy);
	if (fFlags & B_FRAME_EVENTS)
		FrameResized(fFrame.Width(), fFrame.Height());
}

void BView::ParentResized(float dx, float dy)
{
	// Rules of 0 mean the default: left and top, and an edge without a rule
	// of its own keeps the view's size.
	uint32 left = (fResizingMode >> 12) & 0xf;
	uint32 top = (fResizingMode >> 8) & 0xf;
	uint32 right = (fResizingMode >> 4) & 0xf;
	uint32 bottom = fResizingMode & 0xf;
	if (left == 0)
		left = _VIEW_LEFT_;
	if (right == 0)
		right = left;
	if (top == 0)
		top = _VIEW_TOP_;
	if (bottom == 0)
		bottom = top;
	BRect frame(MoveEdge(fFrame.left, left, dx), MoveEdge(fFrame.top, top, dy),
		MoveEdge(fFrame.right, right, dx), MoveEdge(fFrame.bottom, bottom, dy));
	MoveTo(frame.left, frame.top);
	ResizeTo(frame.Width(), frame.Height());
}

void BView::GetPreferredSize(float* width, float* height)
{
	float preferredWidth = fFrame.Width();
	float preferredHeight = fFrame.Height();
	if (Kind() != BPrivate::ViewKind::Plain) {
		BPrivate::ViewState state;
		FillState(state);
		BPrivate::SizeQuery query;
		query.kind = state.kind;
		query.label = state.label;
		query.text = state.text;
		query.divider = state.divider;
		query.frame = state.frame;
		query.tabLabels = state.tabLabels;
		BPrivate::PreferredSize size = BPrivate::GetDisplay()->GetPreferredSize(query);
		preferredWidth = size.width;
		preferredHeight = size.height;
	}
	if (width)
		*width = preferredWidth;
	if (height)
		*height = preferredHeight;
}

void BView::ResizeToPreferred()
{
	float width = 0;
	float height = 0;
	GetPreferredSize(&width, &height);
	ResizeTo(width, height);
}

void BView::SetResizingMode(uint32 mode)
{
	if (mode == fResizingMode)
		return;
	BAutolock lock(fWindow);
	fResizingMode = mode;
	Invalidate();
}

void BView::SetFlags(uint32 flags)
{
	if (flags == fFlags)
		return;
	BAutolock lock(fWindow);
	fFlags = flags;
	Invalidate();
}

void BView::SetViewColor(rgb_color color)
{
	if (fHasViewColor && color == fViewColor)
		return;
	BAutolock lock(fWindow);
	fViewColor = color;
	fHasViewColor = true;
	Invalidate();
}

void BView::Show()
{
	if (!fHidden)
		return;
	BAutolock lock(fWindow);
	fHidden = false;
	Invalidate();
}

void BView::Hide()
{
	if (fHidden)
		return;
	BAutolock lock(fWindow);
	fHidden = true;
	Invalidate();
}

bool BView::IsHidden() const
{
	for (const BView* view = this; view; view = view->fParent) {
		if (view->fHidden)
			return true;
	}
	return false;
}

float BView::StringWidth(const char* text) const
{
	return BPrivate::GetDisplay()->StringWidth(text ? text : "");
}

void BView::MessageReceived(BMessage* message)
{
	// What a view does not understand goes up the chain: parent views, then
	// the window.
	if (fParent && fParent->fId != 0)
		fParent->MessageReceived(message);
	else if (fWindow)
		fWindow->MessageReceived(message);
	else
		BHandler::MessageReceived(message);
}

void BView::FillState(BPrivate::ViewState& state) const
{
	state.id = fId;
	state.parent = fParent ? fParent->fId : 0;
	state.kind = Kind();
	state.name = fName;
	state.frame = fFrame;
	state.resizingMode = fResizingMode;
	state.flags = fFlags;
	state.hidden = fHidden;
	state.enabled = true;
	state.hasViewColor = fHasViewColor;
	state.viewColor = fViewColor;
}

bool BView::HandleInput(BMessage*)
{
	return false;
}

void BView::Invalidate()
{
	if (fWindow && fId != 0)
		fWindow->MarkDirty(this);
}

void BView::AddOperation(BPrivate::Operation operation)
{
	// A view outside a window has no twin on the display; attaching it
	// later sends its whole state.
	if (fWindow)
		fWindow->AddOperation(std::move(operation));
}

void BView::SetWindow(BWindow* window)
{
	if (window == fWindow)
		return;
	if (fWindow) {
		BAutolock lock(fWindow);
		DetachTree();
	}
	if (window) {
		BAutolock lock(window);
		AttachTree(window);
		SendCreateTree();
	}
}

void BView::AttachTree(BWindow* window)
{
	fWindow = window;
	window->RegisterView(this);
	for (const auto& child : fChildren)
		child->AttachTree(window);
}

void BView::DetachTree()
{
	if (!fWindow)
		return;
	BWindow* window = fWindow;
	// One destroy for the root: the display drops the subtree with it.
	window->AddOperation(BPrivate::ViewDestroy{fId});
	std::vector<BView*> pending{this};
	while (!pending.empty()) {
		BView* view = pending.back();
		pending.pop_back();
		view->DetachedFromWindow();
		window->UnregisterView(view);
		view->fWindow = nullptr;
		for (auto it = view->fChildren.rbegin(); it != view->fChildren.rend(); ++it)
			pending.push_back(it->get());
	}
}

void BView::SendCreateTree()
{
	if (!fWindow)
		return;
	BPrivate::ViewCreate create;
	create.state.id = fId;
	fWindow->AddOperation(std::move(create));
	for (const auto& child : fChildren)
		child->SendCreateTree();
}
