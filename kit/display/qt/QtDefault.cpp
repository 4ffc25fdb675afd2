// Makes the Qt display the default one (the program).
#include "QtDisplay.h"

#include <cstdio>
#include <cstdlib>

namespace BPrivate {

namespace {

bool HasEnvironment(const char* name)
{
	const char* value = std::getenv(name);
	return value && *value;
}

} // namespace

std::unique_ptr<Display> CreateDefaultDisplay()
{
	// Without a screen Qt aborts with a page about platform plugins; one
	// line that says what to do is kinder.
	if (!HasEnvironment("DISPLAY") && !HasEnvironment("WAYLAND_DISPLAY")
		&& !HasEnvironment("QT_QPA_PLATFORM")) {
		std::fputs("TamselGogoFrontend: no display found; run it on a desktop, or headless with: "
			"xvfb-run ./TamselGogoFrontend\n", stderr);
		std::exit(1);
	}
	return std::make_unique<QtDisplay>();
}

} // namespace BPrivate
