#include "CMap8Png.h"

#include <GraphicsDefs.h>

#include "AtomicFile.h"

#include <cstring>
#include <png.h>
#include <vector>

namespace BPrivate {

status_t write_cmap8_png(const std::string& path, const uint8* pixels, int32 side,
	int32 bytesPerRow)
{
	if (pixels == nullptr || side <= 0 || side > 1024 || bytesPerRow < side)
		return B_BAD_VALUE;
	const rgb_color* palette = system_colors_palette();
	std::vector<uint8> rgba(size_t(side) * size_t(side) * 4);
	for (int32 y = 0; y < side; y++) {
		for (int32 x = 0; x < side; x++) {
			uint8 index = pixels[size_t(y) * size_t(bytesPerRow) + size_t(x)];
			rgb_color colour = palette[index];
			if (index == B_TRANSPARENT_MAGIC_CMAP8)
				colour = rgb_color{0, 0, 0, 0};
			uint8* out = &rgba[(size_t(y) * size_t(side) + size_t(x)) * 4];
			out[0] = colour.red;
			out[1] = colour.green;
			out[2] = colour.blue;
			out[3] = colour.alpha;
		}
	}

	// Encoded in memory first (an icon is a few KiB), then written as any
	// other file the kit replaces. The simplified API of libpng reports
	// errors by its result, with no longjmp through this code.
	png_image image;
	std::memset(&image, 0, sizeof(image));
	image.version = PNG_IMAGE_VERSION;
	image.width = png_uint_32(side);
	image.height = png_uint_32(side);
	image.format = PNG_FORMAT_RGBA;
	png_alloc_size_t size = 0;
	bool measured = png_image_write_to_memory(&image, nullptr, &size, 0, rgba.data(), 0, nullptr) != 0;
	std::string encoded;
	if (measured && size > 0) {
		encoded.resize(size_t(size));
		measured = png_image_write_to_memory(&image, encoded.data(), &size, 0, rgba.data(), 0,
					   nullptr) != 0
			&& size <= encoded.size();
		encoded.resize(size_t(size));
	}
	png_image_free(&image);
	if (!measured || encoded.empty())
		return B_ERROR;
	return write_file_atomically(path, encoded);
}

} // namespace BPrivate
