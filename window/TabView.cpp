#include "TabView.h"

#include "EncoderView.h"
#include "FilesView.h"
#include "OptionsView.h"

TabView::TabView(BRect frame, BButton* encodeButton, MainWindow* window)
	:
	BTabView(frame, "TabView", B_WIDTH_AS_USUAL, B_FOLLOW_ALL_SIDES,
		B_FULL_UPDATE_ON_RESIZE | B_WILL_DRAW | B_NAVIGABLE_JUMP | B_FRAME_EVENTS | B_NAVIGABLE)
{
	BRect pageFrame = Bounds();
	pageFrame.InsetBy(10, 10);
	pageFrame.right -= 2;
	pageFrame.bottom -= TabHeight() + 3;

	// Tabs without views of their own take their labels from the pages' names.
	filesView = new FilesView(pageFrame, encodeButton, window);
	AddTab(filesView, new BTab());
	encoderView = new EncoderView(pageFrame);
	AddTab(encoderView, new BTab());
	optionsView = new OptionsView(pageFrame);
	AddTab(optionsView, new BTab());
}
