// A menu bar: as wide as its frame.
#include "HeadlessViewKind.h"

namespace BPrivate {

namespace {

constexpr float kMenuBarHeight = 20;

class MenuBarKind : public HeadlessViewKind {
public:
	PreferredSize FixedSize(const SizeQuery& query) const override
	{
		return {query.frame.Width(), kMenuBarHeight};
	}
};

} // namespace

const HeadlessViewKind& HeadlessMenuBarKind()
{
	static const MenuBarKind kind;
	return kind;
}

} // namespace BPrivate
