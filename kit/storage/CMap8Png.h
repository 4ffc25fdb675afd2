// Kit-private: writes a B_CMAP8 icon as a PNG file for the icon theme.
#pragma once

#include <SupportDefs.h>

#include <string>

namespace BPrivate {

// pixels: `side` rows of `side` palette indices; rows are `bytesPerRow` apart.
// Colours come from system_colors_palette(), the transparent index becomes a
// clear pixel. The file is replaced whole, as AtomicFile does it.
status_t write_cmap8_png(const std::string& path, const uint8* pixels, int32 side,
	int32 bytesPerRow);

} // namespace BPrivate
