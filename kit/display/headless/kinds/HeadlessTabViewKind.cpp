// A tab view: its frame is its size; its tabs are HeadlessDisplay::TabHeight() high.
#include "HeadlessViewKind.h"

namespace BPrivate {

namespace {

class TabViewKind : public HeadlessViewKind {};

} // namespace

const HeadlessViewKind& HeadlessTabViewKind()
{
	static const TabViewKind kind;
	return kind;
}

} // namespace BPrivate
