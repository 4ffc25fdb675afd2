#include "InputExtent.h"
#include "ChunkBytes.h"

#include <ogg/ogg.h>
#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <vector>

#include <unistd.h>

namespace gogo {

namespace {

// The sizes of a container's chunk headers.
struct ChunkRules {
	bool wave64 = false;   // GUID names, 64-bit sizes that count the header, 8-byte alignment
	bool bigEndian = false;
};

// The chunks that WAV and AIFF writers put after the audio.
bool KnownChunk(const unsigned char* name)
{
	static const char* const kNames[] = {"LIST", "id3 ", "ID3 ", "bext", "cue ", "smpl", "inst",
		"fact", "PEAK", "iXML", "axml", "JUNK", "junk", "PAD ", "FLLR", "_PMX", "acid", "cart",
		"umid", "MD5 ", "DISP", "chna", "labl", "ltxt", "note", "plst", "NAME", "AUTH", "(c) ",
		"ANNO", "MARK", "COMT", "APPL", "CHAN", "basc"};
	for (const char* known : kNames) {
		if (std::memcmp(name, known, 4) == 0)
			return true;
	}
	return false;
}

// Whether what lies at offset is a run of chunks: one of those writers put
// after the audio, or any that chain to the file's very end. Then the data
// chunk before it ended where its size says. Audio read as chunk headers
// almost never does either.
bool ChunksFollow(int fd, uint64_t offset, uint64_t fileSize, ChunkRules rules)
{
	const uint64_t headerSize = rules.wave64 ? 24 : 8;
	if (!rules.wave64 && offset <= fileSize && fileSize - offset >= 8) {
		unsigned char header[8];
		if (ReadAt(fd, offset, header, sizeof(header)) && KnownChunk(header)
				&& Unsigned(header + 4, 4, rules.bigEndian) <= fileSize - offset - 8) {
			return true;
		}
	}
	for (int chunk = 0; chunk < kMaxChunks; chunk++) {
		if (offset == fileSize)
			return chunk > 0;
		if (offset > fileSize || fileSize - offset < headerSize)
			return false;
		unsigned char header[24];
		// Wave64's names are GUIDs, not all of them letters.
		if (!ReadAt(fd, offset, header, static_cast<size_t>(headerSize))
				|| (!rules.wave64 && !PlausibleName(header))) {
			return false;
		}
		uint64_t next;
		if (rules.wave64) {
			const uint64_t size = Unsigned(header + 16, 8, false);
			if (size < 24 || size > fileSize - offset)
				return false;
			next = offset + size;
			if (next != fileSize)
				next = offset + ((size + 7) & ~uint64_t{7});
		} else {
			const uint64_t size = Unsigned(header + 4, 4, rules.bigEndian);
			if (size > fileSize - offset - 8)
				return false;
			next = offset + 8 + size;
			if (next != fileSize)
				next += size & 1; // the pad byte, which a last chunk may lack
		}
		offset = next;
	}
	return false;
}

// The length a data chunk of declaredBytes at offset gives, with unknown
// marking a size that says nothing; layout has the format.
InputExtent FromData(InputExtent extent, uint64_t offset, uint64_t declaredBytes, bool unknown,
	uint64_t fileSize, int fd, ChunkRules rules)
{
	const uint64_t align = static_cast<uint64_t>(extent.layout.blockAlign);
	if (extent.kind != InputExtent::Kind::Pcm || align == 0 || offset > fileSize)
		return extent;
	extent.layout.offset = offset;
	const uint64_t available = fileSize - offset;
	uint64_t held = available;
	if (!unknown) {
		extent.declaredKnown = true;
		extent.declaredFrames = static_cast<int64_t>(declaredBytes / align);
		// The declared end (with its pad byte) is the file's end, or other
		// chunks follow it: the size stands.
		const uint64_t end = declaredBytes + (rules.wave64 ? (8 - declaredBytes % 8) % 8 : declaredBytes & 1);
		if (declaredBytes <= available
				&& (available - declaredBytes <= end - declaredBytes
					|| ChunksFollow(fd, offset + end, fileSize, rules))) {
			held = declaredBytes;
		}
	} else if (declaredBytes == 0 && ChunksFollow(fd, offset, fileSize, rules)) {
		held = 0; // a size of 0, and other chunks right after it: no audio
	}
	extent.heldFrames = static_cast<int64_t>(held / align);
	extent.layout.bytes = static_cast<uint64_t>(extent.heldFrames) * align;
	return extent;
}

// The raw format of WAVE samples: PCM, float, A-law and mu-law with whole
// bytes per sample and frames of channels samples; 0 for anything else.
int WaveSubformat(uint64_t code, uint64_t bits)
{
	switch (code) {
	case 1:
		switch (bits) {
		case 8: return SF_FORMAT_PCM_U8;
		case 16: return SF_FORMAT_PCM_16;
		case 24: return SF_FORMAT_PCM_24;
		case 32: return SF_FORMAT_PCM_32;
		default: return 0;
		}
	case 3: return bits == 32 ? SF_FORMAT_FLOAT : bits == 64 ? SF_FORMAT_DOUBLE : 0;
	case 6: return bits == 8 ? SF_FORMAT_ALAW : 0;
	case 7: return bits == 8 ? SF_FORMAT_ULAW : 0;
	default: return 0;
	}
}

// The layout a WAVEFORMATEX (16 or 40 bytes) gives.
void ReadWaveFormat(InputExtent& extent, const unsigned char* fields, size_t length, bool bigEndian)
{
	uint64_t code = Unsigned(fields, 2, bigEndian);
	// WAVE_FORMAT_EXTENSIBLE: the format is the sub-format GUID's first field.
	if (code == 0xfffe && length == 40)
		code = Unsigned(fields + 24, 2, bigEndian);
	const uint64_t channels = Unsigned(fields + 2, 2, bigEndian);
	const uint64_t rate = Unsigned(fields + 4, 4, bigEndian);
	const uint64_t blockAlign = Unsigned(fields + 12, 2, bigEndian);
	const uint64_t bits = Unsigned(fields + 14, 2, bigEndian);
	// PCM samples of 12 or 20 bits lie in whole bytes: the container's size
	// is what places them.
	const uint64_t container = channels > 0 && blockAlign % channels == 0 ? blockAlign / channels * 8 : 0;
	const bool fits = code == 1 ? bits > 0 && bits <= container : bits == container;
	const int subformat = fits ? WaveSubformat(code, container) : 0;
	if (subformat == 0 || channels == 0 || channels > 1024
			|| rate > static_cast<uint64_t>(std::numeric_limits<int>::max())) {
		extent.kind = InputExtent::Kind::Compressed;
		return;
	}
	extent.kind = InputExtent::Kind::Pcm;
	extent.layout.format = SF_FORMAT_RAW | subformat | (bigEndian ? SF_ENDIAN_BIG : SF_ENDIAN_LITTLE);
	extent.layout.channels = static_cast<int>(channels);
	extent.layout.sampleRate = static_cast<int>(rate);
	extent.layout.blockAlign = static_cast<int>(blockAlign);
}

// WAV (RIFF, RIFX), RF64 and BW64. Not for compressed data, whose fact
// chunk cannot be trusted (libsndfile's own IMA ADPCM files give half the
// frames it reads back).
bool RiffExtent(int fd, uint64_t fileSize, InputExtent& extent)
{
	unsigned char head[12];
	if (!ReadAt(fd, 0, head, sizeof(head)) || std::memcmp(head + 8, "WAVE", 4) != 0)
		return false;
	const bool bigEndian = std::memcmp(head, "RIFX", 4) == 0;
	const bool sixtyFour = std::memcmp(head, "RF64", 4) == 0 || std::memcmp(head, "BW64", 4) == 0;
	if (!bigEndian && !sixtyFour && std::memcmp(head, "RIFF", 4) != 0)
		return false;
	const ChunkRules rules{false, bigEndian};

	uint64_t longDataSize = 0;
	bool haveFormat = false, haveLongSize = false;
	uint64_t offset = 12;
	for (int chunk = 0; chunk < kMaxChunks && offset + 8 <= fileSize; chunk++) {
		unsigned char header[8];
		if (!ReadAt(fd, offset, header, sizeof(header)))
			return true;
		const uint64_t size = Unsigned(header + 4, 4, bigEndian);
		const uint64_t body = offset + 8;
		unsigned char fields[40];
		if (std::memcmp(header, "ds64", 4) == 0 && size >= 24) {
			if (!ReadAt(fd, body, fields, 24))
				return true;
			longDataSize = Unsigned(fields + 8, 8, false);
			haveLongSize = true;
		} else if (std::memcmp(header, "fmt ", 4) == 0 && size >= 16 && !haveFormat) {
			const size_t length = size >= 40 ? 40 : 16;
			if (!ReadAt(fd, body, fields, length))
				return true;
			ReadWaveFormat(extent, fields, length, bigEndian);
			haveFormat = true;
		} else if (std::memcmp(header, "data", 4) == 0) {
			if (!haveFormat)
				return true;
			uint64_t dataSize = size;
			bool unknown = size == 0;
			if (size == 0xffffffff) {
				if (sixtyFour && haveLongSize)
					dataSize = longDataSize;
				else
					unknown = true; // a recorder's mark for "not known yet"
			}
			extent = FromData(extent, body, dataSize, unknown, fileSize, fd, rules);
			return true;
		}
		offset = body + size + (size & 1);
	}
	return true;
}

// Sony Wave64: chunks named by GUIDs, sizes of 64 bits that count the
// chunk's own 24-byte header, each chunk aligned to 8 bytes.
bool Wave64Extent(int fd, uint64_t fileSize, InputExtent& extent)
{
	// The GUID of "fmt " and "data" after their four letters.
	static const unsigned char kTail[12] = {0xf3, 0xac, 0xd3, 0x11, 0x8c, 0xd1, 0x00, 0xc0, 0x4f,
		0x8e, 0xdb, 0x8a};
	static const unsigned char kRiff[16] = {'r', 'i', 'f', 'f', 0x2e, 0x91, 0xcf, 0x11, 0xa5, 0xd6,
		0x28, 0xdb, 0x04, 0xc1, 0x00, 0x00};
	static const unsigned char kWave[16] = {'w', 'a', 'v', 'e', 0xf3, 0xac, 0xd3, 0x11, 0x8c, 0xd1,
		0x00, 0xc0, 0x4f, 0x8e, 0xdb, 0x8a};
	unsigned char head[40];
	if (!ReadAt(fd, 0, head, sizeof(head)) || std::memcmp(head, kRiff, 16) != 0
			|| std::memcmp(head + 24, kWave, 16) != 0) {
		return false;
	}
	const ChunkRules rules{true, false};
	bool haveFormat = false;
	uint64_t offset = 40;
	for (int chunk = 0; chunk < kMaxChunks && offset + 24 <= fileSize; chunk++) {
		unsigned char header[24];
		if (!ReadAt(fd, offset, header, sizeof(header)))
			return true;
		const uint64_t size = Unsigned(header + 16, 8, false);
		if (size < 24)
			return true;
		const bool known = std::memcmp(header + 4, kTail, sizeof(kTail)) == 0;
		const uint64_t body = offset + 24;
		unsigned char fields[40];
		if (known && std::memcmp(header, "fmt ", 4) == 0 && size >= 24 + 16 && !haveFormat) {
			const size_t length = size >= 24 + 40 ? 40 : 16;
			if (!ReadAt(fd, body, fields, length))
				return true;
			ReadWaveFormat(extent, fields, length, false);
			haveFormat = true;
		} else if (known && std::memcmp(header, "data", 4) == 0) {
			if (haveFormat)
				extent = FromData(extent, body, size - 24, false, fileSize, fd, rules);
			return true;
		}
		if (size > fileSize)
			return true;
		offset += (size + 7) & ~uint64_t{7};
	}
	return true;
}

// An 80-bit IEEE extended sample rate, as whole hertz (0 when absurd).
int ExtendedRate(const unsigned char* bytes)
{
	const int exponent = ((bytes[0] & 0x7f) << 8 | bytes[1]) - 16383 - 63;
	const uint64_t mantissa = Unsigned(bytes + 2, 8, true);
	if ((bytes[0] & 0x80) != 0 || mantissa == 0 || exponent < -63 || exponent > -32)
		return 0;
	const double rate = std::ldexp(static_cast<double>(mantissa), exponent);
	return rate >= 1 && rate <= 1e7 ? static_cast<int>(rate) : 0;
}

// The raw format of AIFF samples: big-endian PCM, and those of AIFF-C's
// compression types that are plain samples; 0 for the others.
int AiffSubformat(const unsigned char* type, uint64_t bits, bool& bigEndian, int& bytes)
{
	bigEndian = true;
	auto is = [type](const char* name) { return std::memcmp(type, name, 4) == 0; };
	auto pcm = [&](uint64_t size, bool signedBytes) -> int {
		bytes = static_cast<int>((size + 7) / 8);
		switch (bytes) {
		case 1: return signedBytes ? SF_FORMAT_PCM_S8 : SF_FORMAT_PCM_U8;
		case 2: return SF_FORMAT_PCM_16;
		case 3: return SF_FORMAT_PCM_24;
		case 4: return SF_FORMAT_PCM_32;
		default: return 0;
		}
	};
	if (is("NONE") || is("twos"))
		return pcm(bits, true);
	if (is("sowt")) {
		bigEndian = false;
		return pcm(bits, true);
	}
	if (is("raw "))
		return pcm(8, false);
	if (is("in24"))
		return pcm(24, true);
	if (is("in32"))
		return pcm(32, true);
	if (is("fl32") || is("FL32")) {
		bytes = 4;
		return SF_FORMAT_FLOAT;
	}
	if (is("fl64") || is("FL64")) {
		bytes = 8;
		return SF_FORMAT_DOUBLE;
	}
	if (is("ulaw") || is("ULAW") || is("alaw") || is("ALAW")) {
		bytes = 1;
		return type[0] == 'u' || type[0] == 'U' ? SF_FORMAT_ULAW : SF_FORMAT_ALAW;
	}
	return 0;
}

// AIFF and AIFF-C: the COMM chunk's frame count against the SSND chunk's
// samples.
bool AiffExtent(int fd, uint64_t fileSize, InputExtent& extent)
{
	unsigned char head[12];
	if (!ReadAt(fd, 0, head, sizeof(head)) || std::memcmp(head, "FORM", 4) != 0)
		return false;
	const bool compressed = std::memcmp(head + 8, "AIFC", 4) == 0;
	if (!compressed && std::memcmp(head + 8, "AIFF", 4) != 0)
		return false;
	const ChunkRules rules{false, true};
	bool haveFormat = false;
	int64_t declared = 0;
	uint64_t offset = 12;
	for (int chunk = 0; chunk < kMaxChunks && offset + 8 <= fileSize; chunk++) {
		unsigned char header[8];
		if (!ReadAt(fd, offset, header, sizeof(header)))
			return true;
		const uint64_t size = Unsigned(header + 4, 4, true);
		const uint64_t body = offset + 8;
		if (std::memcmp(header, "COMM", 4) == 0 && size >= 18 && !haveFormat) {
			unsigned char fields[22];
			const bool withType = compressed && size >= 22;
			if (!ReadAt(fd, body, fields, withType ? 22 : 18))
				return true;
			const uint64_t channels = Unsigned(fields, 2, true);
			declared = static_cast<int64_t>(Unsigned(fields + 2, 4, true));
			const uint64_t bits = Unsigned(fields + 6, 2, true);
			bool bigEndian = true;
			int bytes = 0;
			const int subformat = AiffSubformat(
				withType ? fields + 18 : reinterpret_cast<const unsigned char*>("NONE"), bits,
				bigEndian, bytes);
			const int rate = ExtendedRate(fields + 8);
			haveFormat = true;
			if (subformat == 0 || channels == 0 || channels > 1024 || rate == 0) {
				extent.kind = InputExtent::Kind::Compressed;
				return true;
			}
			extent.kind = InputExtent::Kind::Pcm;
			extent.layout.format =
				SF_FORMAT_RAW | subformat | (bigEndian ? SF_ENDIAN_BIG : SF_ENDIAN_LITTLE);
			extent.layout.channels = static_cast<int>(channels);
			extent.layout.sampleRate = rate;
			extent.layout.blockAlign = static_cast<int>(channels) * bytes;
		} else if (std::memcmp(header, "SSND", 4) == 0 && size >= 8) {
			if (!haveFormat || extent.kind != InputExtent::Kind::Pcm)
				return true;
			unsigned char fields[8];
			if (!ReadAt(fd, body, fields, sizeof(fields)))
				return true;
			const uint64_t skip = Unsigned(fields, 4, true);
			const uint64_t start = body + 8 + skip;
			const uint64_t chunkEnd = body + size;
			if (start > chunkEnd)
				return true;
			extent = FromData(extent, start, chunkEnd - start, false, fileSize, fd, rules);
			// COMM declares the length; SSND's size only says where the
			// samples end.
			extent.declaredFrames = declared;
			return true;
		}
		offset = body + size + (size & 1);
	}
	return true;
}

// FLAC, after an ID3v2 tag or not: where STREAMINFO's sample count lies.
bool FlacExtent(int fd, InputExtent& extent)
{
	unsigned char head[10];
	if (!ReadAt(fd, 0, head, sizeof(head)))
		return false;
	const uint64_t start = Id3v2TagSize(head);
	unsigned char block[8];
	if (!ReadAt(fd, start, block, sizeof(block)) || std::memcmp(block, "fLaC", 4) != 0)
		return false;
	extent.kind = InputExtent::Kind::Flac;
	// The first metadata block is STREAMINFO (type 0, 34 bytes); its sample
	// count is the low 4 bits of byte 13 and bytes 14 to 17.
	if ((block[4] & 0x7f) == 0 && Unsigned(block + 5, 3, true) >= 18)
		extent.flacCountAt = static_cast<int64_t>(start + 8 + 13);
	return true;
}

// The most an Ogg page takes: its header with 255 lacing values, and 255
// segments of 255 bytes.
constexpr uint64_t kMaxOggPage = 27 + 255 + 255 * 255;

// Ogg: whether the last page the file holds marks the end of its stream;
// libogg checks each page's CRC.
bool OggExtent(int fd, uint64_t fileSize, InputExtent& extent)
{
	unsigned char head[4];
	if (!ReadAt(fd, 0, head, sizeof(head)) || std::memcmp(head, "OggS", 4) != 0)
		return false;
	extent.kind = InputExtent::Kind::Ogg;
	// Two pages' worth: the last whole page starts in there.
	const uint64_t tail = std::min(fileSize, 2 * kMaxOggPage);
	ogg_sync_state sync;
	ogg_sync_init(&sync);
	char* buffer = ogg_sync_buffer(&sync, static_cast<long>(tail));
	if (buffer != nullptr
			&& ReadAt(fd, fileSize - tail, reinterpret_cast<unsigned char*>(buffer),
				static_cast<size_t>(tail))) {
		ogg_sync_wrote(&sync, static_cast<long>(tail));
		ogg_page page;
		long step;
		bool lastEnds = false;
		while ((step = ogg_sync_pageseek(&sync, &page)) != 0) {
			if (step > 0)
				lastEnds = ogg_page_eos(&page) != 0;
		}
		// Bytes after the last whole page (a tag some tools append) do not
		// matter; a page cut short there does, as the page before it is then
		// not the last.
		extent.streamEnded = lastEnds;
	}
	ogg_sync_clear(&sync);
	return true;
}

} // namespace

InputExtent ReadInputExtent(int fd, uint64_t fileSize)
{
	InputExtent extent;
	if (RiffExtent(fd, fileSize, extent) || Wave64Extent(fd, fileSize, extent)
			|| AiffExtent(fd, fileSize, extent) || FlacExtent(fd, extent)
			|| OggExtent(fd, fileSize, extent)) {
		return extent;
	}
	return InputExtent{};
}

} // namespace gogo
