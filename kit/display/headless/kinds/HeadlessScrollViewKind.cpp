// A scroll view: its frame is its size.
#include "HeadlessViewKind.h"

namespace BPrivate {

namespace {

class ScrollViewKind : public HeadlessViewKind {};

} // namespace

const HeadlessViewKind& HeadlessScrollViewKind()
{
	static const ScrollViewKind kind;
	return kind;
}

} // namespace BPrivate
