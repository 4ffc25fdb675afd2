#include "CMap8Png.h"

#include <GraphicsDefs.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>
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

	std::string temporary = path + ".XXXXXX";
	int fd = mkostemp(temporary.data(), O_CLOEXEC);
	if (fd < 0)
		return status_from_errno(errno);
	FILE* file = fdopen(fd, "wb");
	if (file == nullptr) {
		int error = errno;
		close(fd);
		unlink(temporary.c_str());
		return status_from_errno(error);
	}
	fchmod(fd, 0644);

	// The simplified API of libpng reports errors by its result, with no
	// longjmp through this code.
	png_image image;
	std::memset(&image, 0, sizeof(image));
	image.version = PNG_IMAGE_VERSION;
	image.width = png_uint_32(side);
	image.height = png_uint_32(side);
	image.format = PNG_FORMAT_RGBA;
	bool written = png_image_write_to_stdio(&image, file, 0, rgba.data(), 0, nullptr) != 0;
	png_image_free(&image);
	bool closed = fclose(file) == 0;
	status_t status = B_OK;
	if (!written || !closed)
		status = B_IO_ERROR;
	else if (rename(temporary.c_str(), path.c_str()) != 0)
		status = status_from_errno(errno);
	if (status != B_OK)
		unlink(temporary.c_str());
	return status;
}

} // namespace BPrivate
