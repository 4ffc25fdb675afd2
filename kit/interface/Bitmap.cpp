#include <Bitmap.h>

#include <cstring>

namespace {

// Bitmaps here are icons and small images; anything larger than this is a
// mistake in the bounds rather than a real request.
constexpr int64 kMaxBitsLength = int64(1) << 28;

int32 bytes_per_pixel(color_space space)
{
	switch (space) {
		case B_CMAP8:
		case B_GRAY8:
			return 1;
		case B_RGB32:
		case B_RGBA32:
			return 4;
		default:
			return 0;
	}
}

} // namespace

BBitmap::BBitmap(BRect bounds, color_space space)
	: fBounds(bounds), fSpace(space)
{
	int32 pixelSize = bytes_per_pixel(space);
	if (pixelSize == 0 || !bounds.IsValid())
		return;
	// Both edges are included: a rectangle from 0 to 31 is 32 pixels wide.
	double width = double(bounds.right) - double(bounds.left) + 1;
	double height = double(bounds.bottom) - double(bounds.top) + 1;
	if (width * height * pixelSize > double(kMaxBitsLength))
		return;
	int64 columns = int64(width);
	int64 rows = int64(height);
	// Rows are padded to a multiple of four bytes, as on the original platform.
	int64 rowBytes = (columns * pixelSize + 3) & ~int64(3);
	if (rowBytes * rows > kMaxBitsLength)
		return;
	fBytesPerRow = int32(rowBytes);
	fBits.assign(size_t(rowBytes * rows), 0);
}

status_t BBitmap::InitCheck() const
{
	return fBits.empty() ? B_BAD_VALUE : B_OK;
}

void BBitmap::SetBits(const void* data, int32 length, int32 offset, color_space space)
{
	// No conversion between colour spaces: data of another space is refused.
	if (data == nullptr || length <= 0 || offset < 0 || space != fSpace)
		return;
	if (size_t(offset) >= fBits.size())
		return;
	size_t count = fBits.size() - size_t(offset);
	if (size_t(length) < count)
		count = size_t(length);
	std::memcpy(fBits.data() + offset, data, count);
}
