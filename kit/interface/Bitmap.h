// BBitmap: an image in memory (the program uses B_CMAP8 icons).
#pragma once

#include <GraphicsDefs.h>
#include <Rect.h>

#include <vector>

class BBitmap {
public:
	BBitmap(BRect bounds, color_space space);
	BBitmap(const BBitmap& other) = default;
	BBitmap& operator=(const BBitmap& other) = default;

	status_t InitCheck() const;
	BRect Bounds() const { return fBounds; }
	color_space ColorSpace() const { return fSpace; }
	int32 BytesPerRow() const { return fBytesPerRow; }
	int32 BitsLength() const { return int32(fBits.size()); }
	void* Bits() { return fBits.data(); }
	const void* Bits() const { return fBits.data(); }
	// Copies length bytes from data at offset; the colour space of data must
	// be the bitmap's own.
	void SetBits(const void* data, int32 length, int32 offset, color_space space);

private:
	BRect fBounds;
	color_space fSpace;
	int32 fBytesPerRow = 0;
	std::vector<uint8> fBits;
};

enum icon_size : int32 {
	B_LARGE_ICON = 32,
	B_MINI_ICON = 16,
};
