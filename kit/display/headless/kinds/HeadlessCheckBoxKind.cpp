// A check box: its box and its label.
#include "HeadlessViewKind.h"

namespace BPrivate {

namespace {

constexpr float kCheckBoxPadding = 20;
constexpr float kCheckBoxHeight = 18;

class CheckBoxKind : public HeadlessViewKind {
public:
	PreferredSize FixedSize(const SizeQuery& query) const override
	{
		const float label = HeadlessDisplay::kCharWidth * float(query.label.size());
		return {label + kCheckBoxPadding, kCheckBoxHeight};
	}
};

} // namespace

const HeadlessViewKind& HeadlessCheckBoxKind()
{
	static const CheckBoxKind kind;
	return kind;
}

} // namespace BPrivate
