// The protocol between the client side of the Interface Kit (windows and
// views, running on their loopers' threads) and a display (the Qt one or the
// headless one, running on the process's main thread).
//
// Client -> display, asynchronous (nobody waits):
//   Display::Apply(Batch)        window and view changes, in order, merged
//                                per window and flushed when the window's
//                                outermost lock is released and after every
//                                handled message. A window's first batch
//                                starts with its WindowCreate; a ViewCreate
//                                comes after its parent's; a ViewDestroy
//                                takes the view's whole subtree with it.
//                                Operations for a window or a view that the
//                                display does not know (gone already) are
//                                ignored, never an error.
//   Display::ShowAlert(...)      shows an alert; the answer comes back through
//                                the alert's callback (BAlert::Go waits on it).
//   Display::ShowFilePanel(...)  shows a file panel; every choice (and the
//                                cancel) comes back through its callback.
//   Display::HideFilePanel(id)   hides a panel that is open.
// Client -> display, synchronous (the caller waits, the display answers from
// any thread without taking any looper's lock):
//   Display::PreferredSize(...)  the preferred size of a view from the
//                                display's font metrics and size hints.
// Display -> client, asynchronous: input is posted as a BMessage to the
// window's looper through the BMessenger given in WindowCreate (codes below);
// the looper updates the view's state and runs the view's hooks. A change
// that came from the display is not sent back to it.
//
// The display never takes a looper's lock, so a looper that blocks (an
// alert waiting for its button) can never stall the screen.
#pragma once

#include <GraphicsDefs.h>
#include <Messenger.h>
#include <Rect.h>
#include <EntryRef.h>

#include <functional>
#include <string>
#include <variant>
#include <vector>

namespace BPrivate {

using WindowId = int32;
using ViewId = int32;

enum class ViewKind : int32 {
	Plain,       // BView: a plain (usually panel-coloured) view
	Button,
	CheckBox,
	TextControl,
	StringView,
	MenuBar,
	MenuField,
	ListView,
	ScrollView,
	TabView,
};

// One item of a menu; a separator has no label. id is unique in its window.
struct MenuItemState {
	int32 id = 0;
	std::string label;
	bool separator = false;
	bool marked = false;
	bool enabled = true;
	// A submenu (menu bar entries are items with submenus).
	std::vector<MenuItemState> items;
	bool isMenu = false;
	bool radioMode = false;
	bool labelFromMarked = false;
};

// The whole displayed state of one view, apart from a list view's items,
// which travel as list operations so that large lists stay cheap.
struct ViewState {
	ViewId id = 0;
	ViewId parent = 0; // 0: the window's top level
	ViewKind kind = ViewKind::Plain;
	std::string name;
	BRect frame;       // in the parent's coordinates, both edges included
	uint32 resizingMode = 0;
	uint32 flags = 0;
	bool hidden = false;
	bool enabled = true;
	bool hasViewColor = false;
	rgb_color viewColor;

	std::string label;       // button, check box, text control, menu field
	std::string text;        // text control, string view
	int32 value = 0;         // check box
	float divider = 0;       // text control and menu field: label width
	int32 maxBytes = 0;      // text control: at most this many bytes (0: any)
	BRect textViewFrame;     // text control: the text entry, in the view's coordinates
	bool isDefault = false;  // button

	std::vector<MenuItemState> menu; // menu bar: its menus; menu field: its items

	bool multipleSelection = false; // list view

	std::vector<std::string> tabLabels; // tab view
	int32 selectedTab = 0;
	float tabHeight = 0;

	uint32 border = 0;       // scroll view: B_NO_BORDER, B_PLAIN_BORDER, B_FANCY_BORDER
	bool horizontalScroll = false;
	bool verticalScroll = false;
	ViewId target = 0;       // scroll view: the view it scrolls
};

// Window look, feel and flags, as the client gives them.
struct WindowState {
	WindowId id = 0;
	std::string title;
	BRect frame;   // screen coordinates, both edges included
	int32 look = 0;
	int32 feel = 0;
	uint32 flags = 0;
	bool hidden = true;
};

// Operations of a batch.
struct WindowCreate { WindowState state; BMessenger input; };
struct WindowUpdate { WindowState state; };
struct WindowDestroy { WindowId id; };
struct ViewCreate { ViewState state; };
struct ViewUpdate { ViewState state; };
struct ViewDestroy { ViewId id; };
struct ListInsert { ViewId view; int32 index; std::vector<std::string> texts; };
struct ListRemove { ViewId view; int32 index; int32 count; };
struct ListMove { ViewId view; int32 from; int32 to; };
struct ListSetText { ViewId view; int32 index; std::string text; };
struct ListSelect { ViewId view; std::vector<int32> selected; };
struct ListClear { ViewId view; };

using Operation = std::variant<WindowCreate, WindowUpdate, WindowDestroy, ViewCreate, ViewUpdate,
	ViewDestroy, ListInsert, ListRemove, ListMove, ListSetText, ListSelect, ListClear>;

struct Batch {
	WindowId window = 0;
	std::vector<Operation> operations;
};

// Input messages that a display posts to a window's looper. Every one
// carries the int32 "_view" (the ViewId); the window routes it to the view.
enum : uint32 {
	K_INPUT_INVOKE = '_kIV',   // button clicked; check box toggled ("value" int32)
	K_INPUT_TEXT = '_kTX',     // text field edited: "text" string, the whole new text
	K_INPUT_SELECT = '_kSL',   // list selection: "index" int32, every selected row, ascending
	K_INPUT_MENU = '_kMN',     // menu item chosen: "item" int32, the item's id
	K_INPUT_TAB = '_kTB',      // tab chosen: "index" int32
	// Files dropped on a view arrive as B_SIMPLE_DATA with "refs" and "_view".
	// The close box posts B_QUIT_REQUESTED (no "_view").
};

enum class AlertIcon : int32 { None, Info, Idea, Warning, Stop };

struct AlertRequest {
	int32 id = 0;
	std::string title; // the window title; names the case, not shown in the box
	std::string text;
	std::vector<std::string> buttons; // in order; the answer is an index
	AlertIcon icon = AlertIcon::None;
};

// The most room an alert's text takes, in pixels; a longer or wider text
// scrolls inside it, so that the box and its buttons stay on a 1024x768
// screen however long the text. A display with a smaller screen takes less.
inline constexpr float kAlertTextMaxWidth = 600;
inline constexpr float kAlertTextMaxHeight = 400;

enum class PanelMode : int32 { Open, Save };

struct FilePanelRequest {
	int32 id = 0;
	PanelMode mode = PanelMode::Open;
	uint32 nodeFlavors = 0; // B_FILE_NODE | B_DIRECTORY_NODE | B_SYMLINK_NODE
	bool multipleSelection = false;
	bool modal = false;
	bool hideWhenDone = true;
	std::string title;
	std::string defaultLabel; // "" : the display's default
	std::string cancelLabel;
	std::string startDirectory; // "" : the display's default
	std::string saveName;
};

// One answer of a file panel. For an open panel: paths (the chosen
// entries, links not followed); for a save panel: directory and name.
struct FilePanelResult {
	bool cancelled = false;
	std::vector<std::string> paths;
	std::string directory;
	std::string name;
};

// What a preferred size depends on.
struct SizeQuery {
	ViewKind kind = ViewKind::Plain;
	std::string label;
	std::string text;
	float divider = 0;
	BRect frame; // the current frame, for kinds whose width stays as it is
	std::vector<std::string> tabLabels;
};

struct PreferredSize {
	float width = 0;  // as Be gives it: pixels - 1
	float height = 0;
};

} // namespace BPrivate
