#include <MenuItem.h>

#include <Looper.h>
#include <Menu.h>
#include <Window.h>

#include <atomic>
#include <chrono>

namespace {

// Ids only need to be unique within a window; a process-wide counter is the
// simplest way to get that without asking the window.
std::atomic<int32> sNextItemId{1};

int64 NowMicroseconds()
{
	using namespace std::chrono;
	return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

BMenuItem::BMenuItem(const char* label, BMessage* message, char shortcut, uint32 modifiers)
	:
	fId(sNextItemId.fetch_add(1)),
	fLabel(label ? label : "")
{
	(void)shortcut;
	(void)modifiers;
	SetMessage(message);
}

BMenuItem::BMenuItem(BMenu* submenu, BMessage* message)
	:
	fId(sNextItemId.fetch_add(1)),
	fSubmenu(submenu)
{
	SetMessage(message);
	if (fSubmenu) {
		fLabel = fSubmenu->Name();
		fSubmenu->fSuperitem = this;
	}
}

BMenuItem::~BMenuItem() = default;

void BMenuItem::SetLabel(const char* label)
{
	std::string newLabel = label ? label : "";
	if (newLabel == fLabel)
		return;
	fLabel = std::move(newLabel);
	if (fMenu)
		fMenu->Changed();
}

const char* BMenuItem::Label() const
{
	return fLabel.c_str();
}

void BMenuItem::SetMarked(bool marked)
{
	if (marked == fMarked)
		return;
	fMarked = marked;
	if (fMenu) {
		if (marked)
			fMenu->ItemMarked(this);
		fMenu->Changed();
	}
}

void BMenuItem::SetEnabled(bool enabled)
{
	if (enabled == fEnabled)
		return;
	fEnabled = enabled;
	if (fMenu)
		fMenu->Changed();
}

status_t BMenuItem::Invoke(BMessage* message)
{
	const BMessage* source = message ? message : Message();
	if (!source)
		return B_BAD_VALUE;

	BMessage copy(*source);
	copy.AddInt64("when", NowMicroseconds());
	copy.AddPointer("source", this);
	if (fMenu)
		copy.AddInt32("index", fMenu->IndexOf(this));

	if (HasTarget())
		return BInvoker::Invoke(&copy);

	BWindow* window = fMenu ? fMenu->Window() : nullptr;
	if (!window)
		return B_BAD_VALUE;
	return window->PostMessage(&copy, window);
}

void BMenuItem::FillState(BPrivate::MenuItemState& state) const
{
	if (fSubmenu)
		fSubmenu->FillState(state);
	state.id = fId;
	state.label = fLabel;
	state.separator = IsSeparator();
	state.marked = fMarked;
	state.enabled = fEnabled;
}

BSeparatorItem::BSeparatorItem()
	:
	BMenuItem("", nullptr)
{
}
