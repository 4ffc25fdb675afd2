// The input's length as its header declares it.
#pragma once

#include <cstdint>

namespace gogo {

// What the input's header says its length is. libsndfile takes the smaller
// of that and what the file holds, which hides a truncated file and one
// still being recorded, so the headers of the formats it does that for are
// read here.
struct DeclaredLength {
	bool read = false;       // the header is one of those read here
	bool compressed = false; // of WAV data whose length in frames cannot be told
	bool known = false;      // it gives the length (a header still being written may not)
	int64_t frames = 0;
};

// WAV (RIFF, RIFX), RF64, BW64, Sony Wave64, AIFF and AIFF-C; read = false
// for any other file.
DeclaredLength ReadDeclaredLength(int fd, uint64_t fileSize);

// Formats whose length libsndfile takes from the stream's own header rather
// than from the file's size, so that its count is what the file declares.
bool LengthFromStream(int format);

} // namespace gogo
