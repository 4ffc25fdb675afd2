#include <TabView.h>

#include <Display.h>
#include <Message.h>

BTab::BTab(BView* view)
	:
	fView(view)
{
}

BTab::~BTab() = default;

const char* BTab::Label() const
{
	if (fHasLabel)
		return fLabel.c_str();
	return fView ? fView->Name() : "";
}

void BTab::SetLabel(const char* label)
{
	fLabel = label ? label : "";
	fHasLabel = true;
	if (fTabView)
		fTabView->Invalidate();
}

bool BTab::IsSelected() const
{
	return fTabView && fTabView->TabAt(fTabView->Selection()) == this;
}

BTabView::BTabView(BRect frame, const char* name, button_width width, uint32 resizingMode,
	uint32 flags)
	:
	BView(frame, name, resizingMode, flags),
	fTabWidth(width)
{
	BRect bounds = Bounds();
	bounds.top = TabHeight();
	fContainer = new BView(bounds, "view container", B_FOLLOW_ALL_SIDES, 0);
	BView::AddChild(fContainer);
}

BTabView::~BTabView() = default;

void BTabView::AddTab(BView* target, BTab* tab)
{
	std::unique_ptr<BTab> owned(tab);
	if (!owned)
		owned = std::make_unique<BTab>();
	owned->fView = target;
	owned->fTabView = this;
	int32 index = CountTabs();
	fTabs.push_back(std::move(owned));
	if (target) {
		// Only the selected page shows; the rest wait hidden.
		if (index != fSelection)
			target->Hide();
		fContainer->AddChild(target);
	}
	Invalidate();
}

bool BTabView::RemoveChild(BView* child)
{
	for (const auto& tab : fTabs) {
		if (child && tab->fView == child) {
			if (!tab->fHasLabel)
				tab->SetLabel(child->Name());
			tab->fView = nullptr;
		}
	}
	if (child != nullptr && child->Parent() == fContainer)
		return fContainer->RemoveChild(child);
	return BView::RemoveChild(child);
}

BTab* BTabView::TabAt(int32 index) const
{
	if (index < 0 || index >= CountTabs())
		return nullptr;
	return fTabs[size_t(index)].get();
}

BView* BTabView::ViewForTab(int32 index) const
{
	BTab* tab = TabAt(index);
	return tab ? tab->View() : nullptr;
}

void BTabView::Select(int32 index)
{
	if (!TabAt(index) || index == fSelection)
		return;
	if (BView* page = ViewForTab(fSelection))
		page->Hide();
	fSelection = index;
	if (BView* page = ViewForTab(fSelection))
		page->Show();
	Invalidate();
}

float BTabView::TabHeight() const
{
	return BPrivate::GetDisplay()->TabHeight();
}

void BTabView::SetTabWidth(button_width width)
{
	if (width == fTabWidth)
		return;
	fTabWidth = width;
	Invalidate();
}

void BTabView::FillState(BPrivate::ViewState& state) const
{
	BView::FillState(state);
	state.tabLabels.clear();
	state.tabLabels.reserve(fTabs.size());
	for (const auto& tab : fTabs)
		state.tabLabels.emplace_back(tab->Label());
	state.selectedTab = fSelection;
	state.tabHeight = TabHeight();
}

bool BTabView::HandleInput(BMessage* message)
{
	if (message->what != BPrivate::K_INPUT_TAB)
		return BView::HandleInput(message);
	int32 index = 0;
	// Through the virtual Select, so that a subclass sees the user's choice.
	if (message->FindInt32("index", &index) == B_OK)
		Select(index);
	return true;
}
