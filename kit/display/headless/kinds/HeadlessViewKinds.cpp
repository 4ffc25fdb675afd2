// The table of view kinds, and what a kind does unless it says otherwise.
#include "HeadlessViewKind.h"

namespace BPrivate {

// Each defined in its kind's unit.
const HeadlessViewKind& HeadlessPlainKind();
const HeadlessViewKind& HeadlessButtonKind();
const HeadlessViewKind& HeadlessCheckBoxKind();
const HeadlessViewKind& HeadlessTextControlKind();
const HeadlessViewKind& HeadlessStringViewKind();
const HeadlessViewKind& HeadlessMenuBarKind();
const HeadlessViewKind& HeadlessMenuFieldKind();
const HeadlessViewKind& HeadlessListViewKind();
const HeadlessViewKind& HeadlessScrollViewKind();
const HeadlessViewKind& HeadlessTabViewKind();

const HeadlessViewKind& HeadlessViewKindFor(ViewKind kind)
{
	// No default: the compiler names a kind of the protocol missing here.
	switch (kind) {
		case ViewKind::Plain: return HeadlessPlainKind();
		case ViewKind::Button: return HeadlessButtonKind();
		case ViewKind::CheckBox: return HeadlessCheckBoxKind();
		case ViewKind::TextControl: return HeadlessTextControlKind();
		case ViewKind::StringView: return HeadlessStringViewKind();
		case ViewKind::MenuBar: return HeadlessMenuBarKind();
		case ViewKind::MenuField: return HeadlessMenuFieldKind();
		case ViewKind::ListView: return HeadlessListViewKind();
		case ViewKind::ScrollView: return HeadlessScrollViewKind();
		case ViewKind::TabView: return HeadlessTabViewKind();
	}
	return HeadlessPlainKind();
}

PreferredSize HeadlessViewKind::FixedSize(const SizeQuery& query) const
{
	return {query.frame.Width(), query.frame.Height()};
}

} // namespace BPrivate
