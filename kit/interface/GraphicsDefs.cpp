#include <GraphicsDefs.h>

#include <array>

namespace {

constexpr std::array<rgb_color, 256> make_palette()
{
	std::array<rgb_color, 256> palette{};
	for (int red = 0; red < 6; red++) {
		for (int green = 0; green < 6; green++) {
			for (int blue = 0; blue < 6; blue++) {
				palette[cmap8_cube_index(uint8(red), uint8(green), uint8(blue))]
					= rgb_color{uint8(red * 51), uint8(green * 51), uint8(blue * 51), 255};
			}
		}
	}
	// 39 greys strictly between black and white (both are in the cube).
	for (int i = 0; i < 39; i++) {
		uint8 level = uint8(((i + 1) * 255 + 20) / 40);
		palette[216 + i] = rgb_color{level, level, level, 255};
	}
	palette[B_TRANSPARENT_MAGIC_CMAP8] = rgb_color{0, 0, 0, 0};
	return palette;
}

constexpr std::array<rgb_color, 256> kPalette = make_palette();

} // namespace

rgb_color ui_color(color_which which)
{
	switch (which) {
		case B_PANEL_BACKGROUND_COLOR:
		case B_MENU_BACKGROUND_COLOR:
			return {216, 216, 216, 255};
		case B_WINDOW_TAB_COLOR:
			return {255, 203, 0, 255};
		case B_KEYBOARD_NAVIGATION_COLOR:
			return {0, 0, 229, 255};
		case B_DESKTOP_COLOR:
			return {51, 102, 152, 255};
		case B_MENU_SELECTION_BACKGROUND_COLOR:
			return {168, 168, 168, 255};
		case B_MENU_ITEM_TEXT_COLOR:
		case B_PANEL_TEXT_COLOR:
			return {0, 0, 0, 255};
		case B_DOCUMENT_BACKGROUND_COLOR:
			return {255, 255, 255, 255};
	}
	return {0, 0, 0, 255};
}

const rgb_color* system_colors_palette()
{
	return kPalette.data();
}
