#include "DeclaredLength.h"

#include <sndfile.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <limits>

#include <unistd.h>

namespace gogo {

namespace {

// Reads exactly size bytes at offset; false on a short read or an error.
bool ReadAt(int fd, uint64_t offset, unsigned char* data, size_t size)
{
	while (size > 0) {
		if (offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max()))
			return false;
		const ssize_t got = pread(fd, data, size, static_cast<off_t>(offset));
		if (got < 0 && errno == EINTR)
			continue;
		if (got <= 0)
			return false;
		data += got;
		size -= static_cast<size_t>(got);
		offset += static_cast<uint64_t>(got);
	}
	return true;
}

uint64_t Unsigned(const unsigned char* bytes, int count, bool bigEndian)
{
	uint64_t value = 0;
	for (int i = 0; i < count; i++) {
		const int index = bigEndian ? i : count - 1 - i;
		value = (value << 8) | bytes[index];
	}
	return value;
}

// A walk over chunks stops after this many, whatever the file says.
constexpr int kMaxChunks = 4096;

// The WAVE format codes whose frames are the data's size over the block
// alignment.
bool IsPlainWaveFormat(uint64_t code)
{
	return code == 1 || code == 3 || code == 6 || code == 7; // PCM, float, A-law, mu-law
}

// The length a WAVE data chunk of dataSize bytes gives, once its format
// chunk was (or was not) seen: none for a size of 0 or a missing format, and
// only "compressed" for formats whose frames the size does not tell.
DeclaredLength FromDataChunk(DeclaredLength result, bool haveFormat, uint64_t format,
	uint64_t blockAlign, uint64_t dataSize)
{
	if (dataSize == 0 || !haveFormat)
		return result;
	if (!IsPlainWaveFormat(format)) {
		result.compressed = true;
	} else if (blockAlign > 0) {
		result.frames = static_cast<int64_t>(dataSize / blockAlign);
		result.known = true;
	}
	return result;
}

// WAV (RIFF, RIFX), RF64 and BW64: the data chunk's size in frames. Not for
// compressed data, whose fact chunk cannot be trusted (libsndfile's own IMA
// ADPCM files give half the frames it reads back).
DeclaredLength RiffLength(int fd, uint64_t fileSize)
{
	DeclaredLength result;
	unsigned char head[12];
	if (!ReadAt(fd, 0, head, sizeof(head)) || std::memcmp(head + 8, "WAVE", 4) != 0)
		return result;
	const bool bigEndian = std::memcmp(head, "RIFX", 4) == 0;
	const bool sixtyFour = std::memcmp(head, "RF64", 4) == 0 || std::memcmp(head, "BW64", 4) == 0;
	if (!bigEndian && !sixtyFour && std::memcmp(head, "RIFF", 4) != 0)
		return result;
	result.read = true;

	uint64_t format = 0, blockAlign = 0, longDataSize = 0;
	bool haveFormat = false, haveLongSize = false;
	uint64_t offset = 12;
	for (int chunk = 0; chunk < kMaxChunks && offset + 8 <= fileSize; chunk++) {
		unsigned char header[8];
		if (!ReadAt(fd, offset, header, sizeof(header)))
			return result;
		const uint64_t size = Unsigned(header + 4, 4, bigEndian);
		const uint64_t body = offset + 8;
		unsigned char fields[40];
		if (std::memcmp(header, "ds64", 4) == 0 && size >= 24) {
			if (!ReadAt(fd, body, fields, 24))
				return result;
			longDataSize = Unsigned(fields + 8, 8, false);
			haveLongSize = true;
		} else if (std::memcmp(header, "fmt ", 4) == 0 && size >= 16) {
			const size_t length = size >= 40 ? 40 : 16;
			if (!ReadAt(fd, body, fields, length))
				return result;
			format = Unsigned(fields, 2, bigEndian);
			blockAlign = Unsigned(fields + 12, 2, bigEndian);
			// WAVE_FORMAT_EXTENSIBLE: the format is the sub-format GUID's first field.
			if (format == 0xfffe && length == 40)
				format = Unsigned(fields + 24, 2, bigEndian);
			haveFormat = true;
		} else if (std::memcmp(header, "data", 4) == 0) {
			uint64_t dataSize = size;
			if (sixtyFour && size == 0xffffffff) {
				if (!haveLongSize)
					return result;
				dataSize = longDataSize;
			} else if (size == 0xffffffff) {
				return result; // a recorder's mark for "not known yet"
			}
			// A size of 0 is how recorders leave a header they fill in at the
			// end (libsndfile then takes the file's length).
			return FromDataChunk(result, haveFormat, format, blockAlign, dataSize);
		}
		offset = body + size + (size & 1);
	}
	return result;
}

// Sony Wave64: chunks named by GUIDs, sizes of 64 bits that count the
// chunk's own 24-byte header, each chunk aligned to 8 bytes.
DeclaredLength Wave64Length(int fd, uint64_t fileSize)
{
	// The GUID of "fmt " and "data" after their four letters.
	static const unsigned char kTail[12] = {0xf3, 0xac, 0xd3, 0x11, 0x8c, 0xd1, 0x00, 0xc0, 0x4f,
		0x8e, 0xdb, 0x8a};
	static const unsigned char kRiff[16] = {'r', 'i', 'f', 'f', 0x2e, 0x91, 0xcf, 0x11, 0xa5, 0xd6,
		0x28, 0xdb, 0x04, 0xc1, 0x00, 0x00};
	static const unsigned char kWave[16] = {'w', 'a', 'v', 'e', 0xf3, 0xac, 0xd3, 0x11, 0x8c, 0xd1,
		0x00, 0xc0, 0x4f, 0x8e, 0xdb, 0x8a};
	DeclaredLength result;
	unsigned char head[40];
	if (!ReadAt(fd, 0, head, sizeof(head)) || std::memcmp(head, kRiff, 16) != 0
			|| std::memcmp(head + 24, kWave, 16) != 0) {
		return result;
	}
	result.read = true;

	uint64_t format = 0, blockAlign = 0;
	bool haveFormat = false;
	uint64_t offset = 40;
	for (int chunk = 0; chunk < kMaxChunks && offset + 24 <= fileSize; chunk++) {
		unsigned char header[24];
		if (!ReadAt(fd, offset, header, sizeof(header)))
			return result;
		const uint64_t size = Unsigned(header + 16, 8, false);
		if (size < 24)
			return result;
		const bool known = std::memcmp(header + 4, kTail, sizeof(kTail)) == 0;
		const uint64_t body = offset + 24;
		unsigned char fields[16];
		if (known && std::memcmp(header, "fmt ", 4) == 0 && size >= 24 + 16) {
			if (!ReadAt(fd, body, fields, 16))
				return result;
			format = Unsigned(fields, 2, false);
			blockAlign = Unsigned(fields + 12, 2, false);
			haveFormat = true;
		} else if (known && std::memcmp(header, "data", 4) == 0) {
			const uint64_t dataSize = size - 24;
			return FromDataChunk(result, haveFormat, format, blockAlign, dataSize);
		}
		if (size > fileSize)
			return result;
		offset += (size + 7) & ~uint64_t{7};
	}
	return result;
}

// AIFF and AIFF-C: the frame count of the COMM chunk.
DeclaredLength AiffLength(int fd, uint64_t fileSize)
{
	DeclaredLength result;
	unsigned char head[12];
	if (!ReadAt(fd, 0, head, sizeof(head)) || std::memcmp(head, "FORM", 4) != 0
			|| (std::memcmp(head + 8, "AIFF", 4) != 0 && std::memcmp(head + 8, "AIFC", 4) != 0)) {
		return result;
	}
	result.read = true;
	uint64_t offset = 12;
	for (int chunk = 0; chunk < kMaxChunks && offset + 8 <= fileSize; chunk++) {
		unsigned char header[8];
		if (!ReadAt(fd, offset, header, sizeof(header)))
			return result;
		const uint64_t size = Unsigned(header + 4, 4, true);
		if (std::memcmp(header, "COMM", 4) == 0 && size >= 6) {
			unsigned char fields[6];
			if (!ReadAt(fd, offset + 8, fields, sizeof(fields)))
				return result;
			result.frames = static_cast<int64_t>(Unsigned(fields + 2, 4, true));
			result.known = true;
			return result;
		}
		offset += 8 + size + (size & 1);
	}
	return result;
}

} // namespace

DeclaredLength ReadDeclaredLength(int fd, uint64_t fileSize)
{
	DeclaredLength length = RiffLength(fd, fileSize);
	if (!length.read)
		length = Wave64Length(fd, fileSize);
	if (!length.read)
		length = AiffLength(fd, fileSize);
	return length;
}

// Formats whose length libsndfile takes from the stream's own header rather
// than from the file's size, so that its count is what the file declares.
bool LengthFromStream(int format)
{
	switch (format & SF_FORMAT_TYPEMASK) {
	case SF_FORMAT_FLAC:
	case SF_FORMAT_OGG:
		return true;
	default:
		return false;
	}
}

} // namespace gogo
