// Start-up timing, the kit's side: an empty application with one window, as
// the program starts. Run with TAMSEL_EXIT_WHEN_SHOWN=1: the Qt display ends
// the process once the window is exposed.
#include <Application.h>
#include <View.h>
#include <Window.h>

int main()
{
	BApplication app("application/x-vnd.tamsel-startup-bench");
	BWindow* window = new BWindow(BRect(100, 100, 499, 399), "Start-up", B_TITLED_WINDOW,
		B_NOT_RESIZABLE | B_NOT_ZOOMABLE);
	BView* back = new BView(window->Bounds(), "back", B_FOLLOW_ALL_SIDES, 0);
	back->SetViewColor(ui_color(B_PANEL_BACKGROUND_COLOR));
	window->AddChild(back);
	window->Show();
	app.Run();
	return 0;
}
