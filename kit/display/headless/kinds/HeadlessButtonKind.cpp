// A button: as wide as its label with padding, at least kButtonMinWidth.
#include "HeadlessViewKind.h"

#include <algorithm>

namespace BPrivate {

namespace {

constexpr float kButtonMinWidth = 74;
constexpr float kButtonPadding = 20;
constexpr float kButtonHeight = 24;

class ButtonKind : public HeadlessViewKind {
public:
	PreferredSize FixedSize(const SizeQuery& query) const override
	{
		const float label = HeadlessDisplay::kCharWidth * float(query.label.size());
		return {std::max(kButtonMinWidth, label + kButtonPadding), kButtonHeight};
	}
};

} // namespace

const HeadlessViewKind& HeadlessButtonKind()
{
	static const ButtonKind kind;
	return kind;
}

} // namespace BPrivate
