// Colours, colour spaces and the platform's user-interface colours.
#pragma once

#include <SupportDefs.h>

struct rgb_color {
	uint8 red = 0;
	uint8 green = 0;
	uint8 blue = 0;
	uint8 alpha = 255;
	constexpr bool operator==(const rgb_color& o) const
	{
		return red == o.red && green == o.green && blue == o.blue && alpha == o.alpha;
	}
	constexpr bool operator!=(const rgb_color& o) const { return !(*this == o); }
};

enum color_space : uint32 {
	B_NO_COLOR_SPACE = 0,
	B_RGB32 = 0x0008,
	B_RGBA32 = 0x2008,
	B_CMAP8 = 0x0004,
	B_GRAY8 = 0x0002,
};

enum color_which : int32 {
	B_PANEL_BACKGROUND_COLOR = 1,
	B_MENU_BACKGROUND_COLOR = 2,
	B_WINDOW_TAB_COLOR = 3,
	B_KEYBOARD_NAVIGATION_COLOR = 4,
	B_DESKTOP_COLOR = 5,
	B_MENU_SELECTION_BACKGROUND_COLOR = 6,
	B_MENU_ITEM_TEXT_COLOR = 7,
	B_PANEL_TEXT_COLOR = 10,
	B_DOCUMENT_BACKGROUND_COLOR = 11,
};

rgb_color ui_color(color_which which);

// The 256-colour palette that B_CMAP8 indexes; index 255 is transparent.
// Indices 0..215 are a 6x6x6 colour cube (each channel in steps of 51, red
// the slowest), 216..254 a ramp of greys from dark to light.
const rgb_color* system_colors_palette();
constexpr uint8 B_TRANSPARENT_MAGIC_CMAP8 = 0xff;

// The index of a colour of the cube; each level is 0..5 (0, 51, ..., 255).
constexpr uint8 cmap8_cube_index(uint8 red, uint8 green, uint8 blue)
{
	return uint8(36 * red + 6 * green + blue);
}
