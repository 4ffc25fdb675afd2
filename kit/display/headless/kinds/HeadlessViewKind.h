// One kind of view on the headless display: what it does that the others do
// not. Every ViewKind has a unit of its own here (HeadlessButtonKind.cpp,
// HeadlessListViewKind.cpp, ...), found through the table in
// HeadlessViewKinds.cpp. What a user can do to each kind is in
// ../HeadlessRobot.cpp. Adding a kind of view: see the list in
// kit/display/qt/kinds/QtViewKind.h.
#pragma once

#include <HeadlessDisplay.h>

namespace BPrivate {

// The fixed metrics of controls, beside HeadlessDisplay::kCharWidth and
// kLineHeight. Sizes are given as Be gives them, in the units of ResizeTo:
// a width of w covers w + 1 pixels.
inline constexpr float kHeadlessFieldHeight = 20; // one-line fields: text controls, menu fields

class HeadlessViewKind {
public:
	virtual ~HeadlessViewKind() = default;

	// The preferred size from the fixed metrics. By default the frame as
	// it is.
	virtual PreferredSize FixedSize(const SizeQuery& query) const;
};

// The unit of a kind; one that is not known is a plain view.
const HeadlessViewKind& HeadlessViewKindFor(ViewKind kind);

} // namespace BPrivate
