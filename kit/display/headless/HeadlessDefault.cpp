#include <HeadlessDisplay.h>

namespace BPrivate {

std::unique_ptr<Display> CreateDefaultDisplay()
{
	return std::make_unique<HeadlessDisplay>();
}

} // namespace BPrivate
