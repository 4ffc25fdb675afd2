// A text control: as wide as its frame, one field high.
#include "HeadlessViewKind.h"

namespace BPrivate {

namespace {

class TextControlKind : public HeadlessViewKind {
public:
	PreferredSize FixedSize(const SizeQuery& query) const override
	{
		return {query.frame.Width(), kHeadlessFieldHeight};
	}
};

} // namespace

const HeadlessViewKind& HeadlessTextControlKind()
{
	static const TextControlKind kind;
	return kind;
}

} // namespace BPrivate
