#include <Display.h>

#include <mutex>

namespace BPrivate {

namespace {

std::mutex sDisplayLock;
std::unique_ptr<Display> sDisplay;

} // namespace

Display* GetDisplay()
{
	std::lock_guard<std::mutex> guard(sDisplayLock);
	if (!sDisplay)
		sDisplay = CreateDefaultDisplay();
	return sDisplay.get();
}

void SetDisplay(std::unique_ptr<Display> display)
{
	std::unique_ptr<Display> previous;
	{
		std::lock_guard<std::mutex> guard(sDisplayLock);
		previous = std::move(sDisplay);
		sDisplay = std::move(display);
	}
	// Destroyed outside the lock: a display's destructor may wait for its
	// own threads, which may ask for the display.
}

void ResetDisplay()
{
	SetDisplay(nullptr);
}

} // namespace BPrivate
