#include <MenuField.h>

#include <Display.h>
#include <Message.h>

#include <cmath>

BMenuField::BMenuField(BRect frame, const char* name, const char* label, BMenu* menu,
	uint32 resizingMode, uint32 flags)
	:
	BView(frame, name, resizingMode, flags),
	fLabel(label ? label : ""),
	fMenu(menu)
{
	if (!fMenu)
		fMenu = std::make_unique<BMenu>(name);
	fMenu->SetOwner(this);
	// Without a label the menu starts at the left edge.
	fDivider = fLabel.empty() ? 0 : std::floor(frame.Width() / 2.0f);
}

BMenuField::~BMenuField() = default;

void BMenuField::SetLabel(const char* label)
{
	std::string newLabel = label ? label : "";
	if (newLabel == fLabel)
		return;
	fLabel = std::move(newLabel);
	Invalidate();
}

void BMenuField::SetDivider(float position)
{
	if (position == fDivider)
		return;
	fDivider = position;
	Invalidate();
}

void BMenuField::SetEnabled(bool enabled)
{
	if (enabled == fEnabled)
		return;
	fEnabled = enabled;
	Invalidate();
}

void BMenuField::GetPreferredSize(float* width, float* height)
{
	BPrivate::SizeQuery query;
	query.kind = BPrivate::ViewKind::MenuField;
	query.label = fLabel;
	query.divider = fDivider;
	query.frame = Frame();
	// The pop-up must fit its widest entry, whichever is marked later.
	BPrivate::Display* display = BPrivate::GetDisplay();
	float widest = -1;
	for (int32 i = 0; i < fMenu->CountItems(); i++) {
		BMenuItem* item = fMenu->ItemAt(i);
		if (item->IsSeparator())
			continue;
		float itemWidth = display->StringWidth(item->Label());
		if (itemWidth > widest) {
			widest = itemWidth;
			query.text = item->Label();
		}
	}
	BPrivate::PreferredSize size = display->GetPreferredSize(query);
	if (width)
		*width = size.width;
	if (height)
		*height = size.height;
}

void BMenuField::FillState(BPrivate::ViewState& state) const
{
	BView::FillState(state);
	state.label = fLabel;
	state.divider = fDivider;
	state.enabled = fEnabled;
	BPrivate::MenuItemState menu;
	fMenu->FillState(menu);
	state.menu.assign(1, std::move(menu));
}

bool BMenuField::HandleInput(BMessage* message)
{
	if (message->what != BPrivate::K_INPUT_MENU)
		return BView::HandleInput(message);
	int32 id = 0;
	if (fEnabled && message->FindInt32("item", &id) == B_OK) {
		if (BMenuItem* item = fMenu->ItemForId(id); item && item->Menu())
			item->Menu()->ItemChosen(item);
	}
	return true;
}
