// Constants of the Interface Kit: resizing modes, view and window flags,
// window looks and feels, alert kinds and the like.
#pragma once

#include <GraphicsDefs.h>
#include <Rect.h>

// Resizing modes: how a view follows its parent's size. Each edge's rule is a
// four-bit code; the mode holds left, top, right and bottom.
enum : uint32 {
	_VIEW_TOP_ = 1,
	_VIEW_LEFT_ = 2,
	_VIEW_BOTTOM_ = 3,
	_VIEW_RIGHT_ = 4,
	_VIEW_CENTER_ = 5,
};
constexpr uint32 _rule_(uint32 l, uint32 t, uint32 r, uint32 b)
{
	return (l << 12) | (t << 8) | (r << 4) | b;
}
enum : uint32 {
	B_FOLLOW_NONE = 0,
	B_FOLLOW_ALL_SIDES = _rule_(_VIEW_LEFT_, _VIEW_TOP_, _VIEW_RIGHT_, _VIEW_BOTTOM_),
	B_FOLLOW_ALL = B_FOLLOW_ALL_SIDES,
	B_FOLLOW_LEFT = _rule_(_VIEW_LEFT_, 0, _VIEW_LEFT_, 0),
	B_FOLLOW_RIGHT = _rule_(_VIEW_RIGHT_, 0, _VIEW_RIGHT_, 0),
	B_FOLLOW_LEFT_RIGHT = _rule_(_VIEW_LEFT_, 0, _VIEW_RIGHT_, 0),
	B_FOLLOW_H_CENTER = _rule_(_VIEW_CENTER_, 0, _VIEW_CENTER_, 0),
	B_FOLLOW_TOP = _rule_(0, _VIEW_TOP_, 0, _VIEW_TOP_),
	B_FOLLOW_BOTTOM = _rule_(0, _VIEW_BOTTOM_, 0, _VIEW_BOTTOM_),
	B_FOLLOW_TOP_BOTTOM = _rule_(0, _VIEW_TOP_, 0, _VIEW_BOTTOM_),
	B_FOLLOW_V_CENTER = _rule_(0, _VIEW_CENTER_, 0, _VIEW_CENTER_),
};

// View flags.
enum : uint32 {
	B_FULL_UPDATE_ON_RESIZE = 0x80000000u,
	B_WILL_DRAW = 0x20000000u,
	B_PULSE_NEEDED = 0x10000000u,
	B_NAVIGABLE_JUMP = 0x08000000u,
	B_FRAME_EVENTS = 0x04000000u,
	B_NAVIGABLE = 0x02000000u,
};

enum window_type : int32 {
	B_UNTYPED_WINDOW = 0,
	B_TITLED_WINDOW = 1,
	B_MODAL_WINDOW = 3,
	B_DOCUMENT_WINDOW = 11,
	B_BORDERED_WINDOW = 20,
	B_FLOATING_WINDOW = 21,
};

enum window_look : int32 {
	B_BORDERED_WINDOW_LOOK = 20,
	B_NO_BORDER_WINDOW_LOOK = 19,
	B_TITLED_WINDOW_LOOK = 1,
	B_DOCUMENT_WINDOW_LOOK = 11,
	B_MODAL_WINDOW_LOOK = 3,
	B_FLOATING_WINDOW_LOOK = 7,
};

enum window_feel : int32 {
	B_NORMAL_WINDOW_FEEL = 0,
	B_MODAL_SUBSET_WINDOW_FEEL = 2,
	B_MODAL_APP_WINDOW_FEEL = 1,
	B_MODAL_ALL_WINDOW_FEEL = 3,
	B_FLOATING_SUBSET_WINDOW_FEEL = 5,
	B_FLOATING_APP_WINDOW_FEEL = 4,
	B_FLOATING_ALL_WINDOW_FEEL = 6,
};

// Window flags.
enum : uint32 {
	B_NOT_MOVABLE = 0x00000001,
	B_NOT_CLOSABLE = 0x00000020,
	B_NOT_ZOOMABLE = 0x00000040,
	B_NOT_MINIMIZABLE = 0x00004000,
	B_NOT_RESIZABLE = 0x00000002,
	B_NOT_H_RESIZABLE = 0x00000004,
	B_NOT_V_RESIZABLE = 0x00000008,
	B_AVOID_FRONT = 0x00000080,
	B_AVOID_FOCUS = 0x00002000,
	B_WILL_ACCEPT_FIRST_CLICK = 0x00000010,
	B_OUTLINE_RESIZE = 0x00001000,
	B_NO_WORKSPACE_ACTIVATION = 0x00000100,
	B_ASYNCHRONOUS_CONTROLS = 0x00080000,
	B_QUIT_ON_WINDOW_CLOSE = 0x00100000,
};

constexpr uint32 B_CURRENT_WORKSPACE = 0;
constexpr uint32 B_ALL_WORKSPACES = 0xffffffffu;

enum border_style : int32 {
	B_PLAIN_BORDER = 0,
	B_FANCY_BORDER = 1,
	B_NO_BORDER = 2,
};

enum : int32 {
	B_CONTROL_OFF = 0,
	B_CONTROL_ON = 1,
};

enum alert_type : int32 {
	B_EMPTY_ALERT = 0,
	B_INFO_ALERT = 1,
	B_IDEA_ALERT = 2,
	B_WARNING_ALERT = 3,
	B_STOP_ALERT = 4,
};

enum button_width : int32 {
	B_WIDTH_AS_USUAL = 0,
	B_WIDTH_FROM_WIDEST = 1,
	B_WIDTH_FROM_LABEL = 2,
};

enum menu_layout : int32 {
	B_ITEMS_IN_ROW = 0,
	B_ITEMS_IN_COLUMN = 1,
	B_ITEMS_IN_MATRIX = 2,
};

enum list_view_type : int32 {
	B_SINGLE_SELECTION_LIST = 0,
	B_MULTIPLE_SELECTION_LIST = 1,
};

enum orientation : int32 {
	B_HORIZONTAL = 0,
	B_VERTICAL = 1,
};

constexpr float B_V_SCROLL_BAR_WIDTH = 14.0f;
constexpr float B_H_SCROLL_BAR_HEIGHT = 14.0f;

enum : uint32 {
	B_CONTROL_INVOKED = 'CIVK',
	B_MODIFIERS_CHANGED = '_MCH',
};
