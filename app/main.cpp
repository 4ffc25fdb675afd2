#include "TamselApp.h"

int main()
{
	TamselApp app;
	app.Run();
	return 0;
}
