#include <MenuBar.h>

#include <Display.h>
#include <Message.h>
#include <Window.h>

BMenuBar::BMenuBar(BRect frame, const char* name, uint32 resizingMode, menu_layout layout,
	bool resizeToFit)
	:
	BView(frame, name, resizingMode, B_WILL_DRAW | B_FRAME_EVENTS),
	BMenu(name, layout),
	fResizeToFit(resizeToFit)
{
	SetOwner(this);
}

BMenuBar::~BMenuBar() = default;

void BMenuBar::AttachedToWindow()
{
	BView::AttachedToWindow();
	if (!fResizeToFit || !Window())
		return;
	float width = 0;
	float height = 0;
	GetPreferredSize(&width, &height);
	ResizeTo(Window()->Bounds().Width(), height);
}

void BMenuBar::GetPreferredSize(float* width, float* height)
{
	BPrivate::SizeQuery query;
	query.kind = BPrivate::ViewKind::MenuBar;
	query.frame = Frame();
	for (int32 i = 0; i < CountItems(); i++)
		query.tabLabels.push_back(ItemAt(i)->Label());
	BPrivate::PreferredSize size = BPrivate::GetDisplay()->GetPreferredSize(query);
	if (width)
		*width = size.width;
	if (height)
		*height = size.height;
}

void BMenuBar::FillState(BPrivate::ViewState& state) const
{
	BView::FillState(state);
	state.menu.clear();
	state.menu.reserve(CountItems());
	for (int32 i = 0; i < CountItems(); i++) {
		BPrivate::MenuItemState item;
		ItemAt(i)->FillState(item);
		state.menu.push_back(std::move(item));
	}
}

bool BMenuBar::HandleInput(BMessage* message)
{
	if (message->what != BPrivate::K_INPUT_MENU)
		return BView::HandleInput(message);
	int32 id = 0;
	if (message->FindInt32("item", &id) == B_OK) {
		// Radio mode belongs to the menu that holds the item, not to the bar.
		if (BMenuItem* item = ItemForId(id); item && item->Menu())
			item->Menu()->ItemChosen(item);
	}
	return true;
}
