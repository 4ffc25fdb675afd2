// A plain view: its frame is its size.
#include "HeadlessViewKind.h"

namespace BPrivate {

namespace {

class PlainKind : public HeadlessViewKind {};

} // namespace

const HeadlessViewKind& HeadlessPlainKind()
{
	static const PlainKind kind;
	return kind;
}

} // namespace BPrivate
