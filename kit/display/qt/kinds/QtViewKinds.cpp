// The table of view kinds, and what a kind does unless it says otherwise.
#include "QtDisplayImpl.h"

namespace BPrivate {

// Each defined in its kind's unit.
const QtViewKind& QtPlainKind();
const QtViewKind& QtButtonKind();
const QtViewKind& QtCheckBoxKind();
const QtViewKind& QtTextControlKind();
const QtViewKind& QtStringViewKind();
const QtViewKind& QtMenuBarKind();
const QtViewKind& QtMenuFieldKind();
const QtViewKind& QtListViewKind();
const QtViewKind& QtScrollViewKind();
const QtViewKind& QtTabViewKind();

const QtViewKind& QtViewKindFor(ViewKind kind)
{
	// No default: the compiler names a kind of the protocol missing here.
	switch (kind) {
		case ViewKind::Plain: return QtPlainKind();
		case ViewKind::Button: return QtButtonKind();
		case ViewKind::CheckBox: return QtCheckBoxKind();
		case ViewKind::TextControl: return QtTextControlKind();
		case ViewKind::StringView: return QtStringViewKind();
		case ViewKind::MenuBar: return QtMenuBarKind();
		case ViewKind::MenuField: return QtMenuFieldKind();
		case ViewKind::ListView: return QtListViewKind();
		case ViewKind::ScrollView: return QtScrollViewKind();
		case ViewKind::TabView: return QtTabViewKind();
	}
	return QtPlainKind();
}

void QtViewKind::Update(QtDisplay::Impl&, WindowRec&, ViewRec&, const ViewState&, bool) const
{
}

PreferredSize QtViewKind::MeasuredSize(const SizeQuery& query) const
{
	return {query.frame.Width(), query.frame.Height()};
}

PreferredSize QtViewKind::FixedSize(const SizeQuery& query) const
{
	return {query.frame.Width(), query.frame.Height()};
}

QRect QtViewKind::Geometry(QtDisplay::Impl&, WindowRec&, const ViewRec& view) const
{
	return ToQRect(view.state.frame);
}

} // namespace BPrivate
