// A menu field: its label up to the divider, then the shown choice with padding.
#include "HeadlessViewKind.h"

namespace BPrivate {

namespace {

constexpr float kMenuFieldPadding = 30;

class MenuFieldKind : public HeadlessViewKind {
public:
	PreferredSize FixedSize(const SizeQuery& query) const override
	{
		const float label = HeadlessDisplay::kCharWidth * float(query.label.size());
		const float text = HeadlessDisplay::kCharWidth * float(query.text.size());
		float divider = query.divider > 0 ? query.divider : (label > 0 ? label + 5 : 0);
		return {divider + text + kMenuFieldPadding, kHeadlessFieldHeight};
	}
};

} // namespace

const HeadlessViewKind& HeadlessMenuFieldKind()
{
	static const MenuFieldKind kind;
	return kind;
}

} // namespace BPrivate
