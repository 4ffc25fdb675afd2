#include "TamselApp.h"

#include <memory>

int main()
{
	// Made and deleted as every looper is: its Quit withdraws it before Run
	// returns, and deleting it ends whatever of it is left before any of its
	// destructors runs.
	auto app = std::make_unique<TamselApp>();
	app->Run();
	return 0;
}
