// A string view: one line of its text.
#include "HeadlessViewKind.h"

namespace BPrivate {

namespace {

class StringViewKind : public HeadlessViewKind {
public:
	PreferredSize FixedSize(const SizeQuery& query) const override
	{
		const float text = HeadlessDisplay::kCharWidth * float(query.text.size());
		return {text, HeadlessDisplay::kLineHeight};
	}
};

} // namespace

const HeadlessViewKind& HeadlessStringViewKind()
{
	static const StringViewKind kind;
	return kind;
}

} // namespace BPrivate
