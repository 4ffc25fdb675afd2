// One kind of view on the Qt display: how its widgets are made, how they
// follow the client's state, how big it wants to be. Every ViewKind has a
// unit of its own here (QtButtonKind.cpp, QtListViewKind.cpp, ...), found
// through the table in QtViewKinds.cpp. What the display does for every
// view alike (naming, placing, the view colour, enabling, hiding, taking
// dropped files) is in ../QtViews.cpp and ../QtInput.cpp.
//
// A new kind of view takes:
//  1. the protocol (DisplayProtocol.h): its ViewKind, its fields in
//     ViewState (and SizeQuery), its K_INPUT_ code if the user acts on it;
//  2. its kit class (kit/interface): Kind(), FillState(), HandleInput(),
//     its preferred size through a SizeQuery;
//  3. a unit here, QtNewKind.cpp (and QtNewKind.h when its record holds
//     widgets the robot reads), entered in the table in QtViewKinds.cpp;
//  4. a unit in ../../headless/kinds, entered in HeadlessViewKinds.cpp;
//  5. what the robots read and do with it: ../robot/QtDisplayRobot.*,
//     ../../headless/HeadlessDisplay.h and HeadlessRobot.cpp.
// The build finds new files by itself; both tables are switches without a
// default, so the compiler names a kind left out.
#pragma once

#include "QtDisplay.h"

#include <QPointer>
#include <QRect>
#include <QWidget>

#include <memory>

namespace BPrivate {

class QtViewKind;
struct WindowRec;

// A view on the screen. A kind made of more widgets than the one at the
// frame keeps them in a record derived from this one, declared in its
// unit's header (QtTextControlKind.h, ...), where the robot reads them too.
struct ViewRec {
	virtual ~ViewRec() = default;

	const QtViewKind* kind = nullptr; // the unit that made it
	ViewState state;
	QPointer<QWidget> widget;     // placed at the frame
	QWidget* container = nullptr; // where child views go
	// Set while a change from the client is applied, so that Qt's signals
	// about it are not taken for the user's input and echoed back.
	bool applying = false;
};

class QtViewKind {
public:
	virtual ~QtViewKind() = default;

	// Makes the view's widgets as children of `parent` (the parent view's
	// container, or the window) and returns the record that holds them,
	// with its widget set. parentView is null at the window's top level.
	// Signals find the view again by its ids (QtDisplay::Impl::FindView)
	// and post the user's input unless the view is `applying`.
	virtual std::unique_ptr<ViewRec> Create(QtDisplay::Impl& display, WindowRec& window,
		ViewRec* parentView, QWidget* parent, const ViewState& state) const = 0;

	// Shows the kind's own fields of view.state; `old` is the state before
	// (everything counts as changed when `created`). The name, the frame,
	// the view colour, enabling and hiding are the display's.
	virtual void Update(QtDisplay::Impl& display, WindowRec& window, ViewRec& view,
		const ViewState& old, bool created) const;

	// The preferred size measured with Qt's widgets: on the main thread,
	// with an application. By default the frame as it is.
	virtual PreferredSize MeasuredSize(const SizeQuery& query) const;
	// The preferred size from the fixed metrics (kFixedCharWidth,
	// kFixedLineHeight), when Qt cannot be asked. By default the frame.
	virtual PreferredSize FixedSize(const SizeQuery& query) const;

	// Where the widget goes in its parent. By default the view's frame.
	virtual QRect Geometry(QtDisplay::Impl& display, WindowRec& window, const ViewRec& view) const;
	// Whether the view colour fills the widget's background.
	virtual bool FillsWithViewColor() const { return false; }
	// A child view has just been made inside this one.
	virtual void ChildCreated(ViewRec& /*view*/) const {}
};

// The unit of a kind; one that is not known shows as a plain view.
const QtViewKind& QtViewKindFor(ViewKind kind);

} // namespace BPrivate
