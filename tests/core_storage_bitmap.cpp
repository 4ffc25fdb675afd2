// BBitmap's layout and the palette that B_CMAP8 icons index.
#include <Bitmap.h>
#include <GraphicsDefs.h>

#include <gtest/gtest.h>

#include <cmath>
#include <set>

TEST(StorageBitmap, RowsArePaddedToFourBytes)
{
	BBitmap icon(BRect(0, 0, 31, 31), B_CMAP8);
	ASSERT_EQ(icon.InitCheck(), B_OK);
	EXPECT_EQ(icon.BytesPerRow(), 32);
	EXPECT_EQ(icon.BitsLength(), 32 * 32);
	EXPECT_EQ(icon.ColorSpace(), B_CMAP8);
	EXPECT_EQ(icon.Bounds(), BRect(0, 0, 31, 31));

	BBitmap odd(BRect(0, 0, 4, 2), B_CMAP8);
	EXPECT_EQ(odd.BytesPerRow(), 8) << "5 pixels round up to 8 bytes";
	EXPECT_EQ(odd.BitsLength(), 8 * 3);

	BBitmap colour(BRect(10, 10, 12, 11), B_RGB32);
	EXPECT_EQ(colour.BytesPerRow(), 12);
	EXPECT_EQ(colour.BitsLength(), 24);
	BBitmap alpha(BRect(0, 0, 0, 0), B_RGBA32);
	EXPECT_EQ(alpha.BitsLength(), 4);
}

TEST(StorageBitmap, InvalidBoundsOrSpaces)
{
	EXPECT_NE(BBitmap(BRect(), B_CMAP8).InitCheck(), B_OK);
	EXPECT_NE(BBitmap(BRect(0, 0, 10, 10), B_NO_COLOR_SPACE).InitCheck(), B_OK);
	EXPECT_NE(BBitmap(BRect(0, 0, 1e9f, 1e9f), B_RGB32).InitCheck(), B_OK);
	EXPECT_NE(BBitmap(BRect(0, 0, NAN, 3), B_CMAP8).InitCheck(), B_OK);
	BBitmap none(BRect(), B_CMAP8);
	EXPECT_EQ(none.BitsLength(), 0);
	none.SetBits("abc", 3, 0, B_CMAP8); // nothing to write into, no crash
}

TEST(StorageBitmap, SetBitsCopiesWithinBounds)
{
	BBitmap bitmap(BRect(0, 0, 3, 1), B_CMAP8);
	const uint8 data[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
	bitmap.SetBits(data, 4, 2, B_CMAP8);
	const uint8* bits = static_cast<const uint8*>(bitmap.Bits());
	EXPECT_EQ(bits[0], 0);
	EXPECT_EQ(bits[2], 1);
	EXPECT_EQ(bits[5], 4);
	bitmap.SetBits(data, 10, 6, B_CMAP8); // runs past the end: cut
	EXPECT_EQ(bits[7], 2);
	bitmap.SetBits(data, 4, 0, B_RGB32); // another space: refused
	EXPECT_EQ(bits[0], 0);
	bitmap.SetBits(data, 4, -1, B_CMAP8);
	bitmap.SetBits(data, 4, 100, B_CMAP8);
	bitmap.SetBits(nullptr, 4, 0, B_CMAP8);
	EXPECT_EQ(bits[0], 0);
}

TEST(StorageBitmap, PaletteIsACubeAGreyRampAndTransparency)
{
	const rgb_color* palette = system_colors_palette();
	ASSERT_NE(palette, nullptr);
	EXPECT_EQ(palette[cmap8_cube_index(0, 0, 0)], (rgb_color{0, 0, 0, 255}));
	EXPECT_EQ(palette[cmap8_cube_index(5, 5, 5)], (rgb_color{255, 255, 255, 255}));
	EXPECT_EQ(palette[cmap8_cube_index(5, 2, 0)], (rgb_color{255, 102, 0, 255}));
	EXPECT_EQ(palette[B_TRANSPARENT_MAGIC_CMAP8].alpha, 0);
	std::set<int> greys;
	for (int i = 216; i < 255; i++) {
		EXPECT_EQ(palette[i].red, palette[i].green);
		EXPECT_EQ(palette[i].green, palette[i].blue);
		EXPECT_EQ(palette[i].alpha, 255);
		if (i > 216) {
			EXPECT_GT(palette[i].red, palette[i - 1].red) << "dark to light";
		}
		greys.insert(palette[i].red);
	}
	EXPECT_EQ(greys.size(), 39u);
	EXPECT_EQ(ui_color(B_PANEL_BACKGROUND_COLOR), (rgb_color{216, 216, 216, 255}));
	EXPECT_EQ(ui_color(B_DOCUMENT_BACKGROUND_COLOR), (rgb_color{255, 255, 255, 255}));
	EXPECT_EQ(ui_color(B_PANEL_TEXT_COLOR), (rgb_color{0, 0, 0, 255}));
}
