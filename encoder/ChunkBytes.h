// What the container walks (InputExtent, MetadataChunks) read chunks with:
// exact reads at an offset, numbers of either byte order, chunk names.
#pragma once

#include <cstddef>
#include <cstdint>

namespace gogo {

// A walk over chunks stops after this many, whatever the file says.
constexpr int kMaxChunks = 4096;

// Reads exactly size bytes at offset; false on a short read or an error.
bool ReadAt(int fd, uint64_t offset, unsigned char* data, size_t size);

// count bytes (at most 8) as an unsigned number.
uint64_t Unsigned(const unsigned char* bytes, int count, bool bigEndian);

// Four printable ASCII characters, the first not a space: what a chunk's
// name is made of, and what audio samples seldom are.
bool PlausibleName(const unsigned char* name);

// The size of the ID3v2 tag whose 10-byte header is head (the header, its
// frames and its footer), or 0 when head is not one.
uint64_t Id3v2TagSize(const unsigned char* head);

} // namespace gogo
