#include "LameTag.h"

#include "Mp3Frame.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace gogo {

namespace {

// Offsets from the "Xing"/"Info" mark.
constexpr size_t kFramesField = 8;
constexpr size_t kBytesField = 12;
constexpr size_t kTocField = 16;
constexpr size_t kLameField = 120;  // the version string
constexpr size_t kRadioGainField = 135;
constexpr size_t kPeakField = 131;
constexpr size_t kDelayField = 141;
constexpr size_t kMusicLengthField = 148;
constexpr size_t kMusicCrcField = 152;
constexpr size_t kTagCrcField = 154;
constexpr size_t kTagEnd = 156;

uint32_t Get32(const unsigned char* p)
{
	return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

uint16_t Get16(const unsigned char* p)
{
	return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

void Put32(unsigned char* p, uint32_t value)
{
	p[0] = static_cast<unsigned char>(value >> 24);
	p[1] = static_cast<unsigned char>(value >> 16);
	p[2] = static_cast<unsigned char>(value >> 8);
	p[3] = static_cast<unsigned char>(value);
}

void Put16(unsigned char* p, uint16_t value)
{
	p[0] = static_cast<unsigned char>(value >> 8);
	p[1] = static_cast<unsigned char>(value);
}

// Where the mark is, or 0 when data does not start with a Xing/Info frame
// long enough to hold a LAME tag.
size_t MarkOffset(const unsigned char* data, size_t size)
{
	FrameHeader header;
	if (size < 4 || !ParseFrameHeader(data, header))
		return 0;
	const size_t frameBytes = std::min(size, static_cast<size_t>(header.frameBytes));
	if (!IsInfoFrame(header, data, frameBytes))
		return 0;
	return 4 + static_cast<size_t>(header.sideInfoBytes);
}

} // namespace

namespace {

// CRC-16/ARC (reflected, polynomial 0x8005) eight bytes at a step: table k
// gives a byte's effect on the CRC k bytes further on. The music CRC runs
// over the whole stream as it is joined, so this is on the path of every
// byte written.
struct CrcTables {
	std::array<std::array<uint16_t, 256>, 8> t{};
	constexpr CrcTables()
	{
		for (unsigned n = 0; n < 256; n++) {
			unsigned value = n;
			for (int bit = 0; bit < 8; bit++)
				value = (value & 1) != 0 ? (value >> 1) ^ 0xa001 : value >> 1;
			t[0][n] = static_cast<uint16_t>(value);
		}
		for (size_t k = 1; k < t.size(); k++) {
			for (unsigned n = 0; n < 256; n++)
				t[k][n] = static_cast<uint16_t>((t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xff]);
		}
	}
};

constexpr CrcTables kCrc;

} // namespace

uint16_t LameCrc(const unsigned char* data, size_t size, uint16_t crc)
{
	const auto& t = kCrc.t;
	size_t i = 0;
	for (; i + 8 <= size; i += 8) {
		const unsigned c = crc ^ (data[i] | (unsigned{data[i + 1]} << 8));
		crc = static_cast<uint16_t>(t[7][c & 0xff] ^ t[6][c >> 8] ^ t[5][data[i + 2]] ^ t[4][data[i + 3]]
			^ t[3][data[i + 4]] ^ t[2][data[i + 5]] ^ t[1][data[i + 6]] ^ t[0][data[i + 7]]);
	}
	for (; i < size; i++)
		crc = static_cast<uint16_t>((crc >> 8) ^ t[0][(crc ^ data[i]) & 0xff]);
	return crc;
}

void SeekTable::Add(int kbps)
{
	fFrames++;
	fSum += kbps;
	fSeen++;
	if (fSeen < fWant)
		return;
	if (fPosition < kSize) {
		fBag[static_cast<size_t>(fPosition)] = fSum;
		fPosition++;
		fSeen = 0;
	}
	if (fPosition == kSize) {
		for (int i = 1; i < kSize; i += 2)
			fBag[static_cast<size_t>(i / 2)] = fBag[static_cast<size_t>(i)];
		fWant *= 2;
		fPosition /= 2;
	}
}

std::array<unsigned char, 100> SeekTable::Entries() const
{
	std::array<unsigned char, 100> entries{};
	if (fPosition <= 0)
		return entries;
	// In LAME's own precision, so that the entries come out the same.
	for (int i = 1; i < 100; i++) {
		const float j = static_cast<float>(i) / 100.0f;
		int index = static_cast<int>(std::floor(j * static_cast<float>(fPosition)));
		if (index > fPosition - 1)
			index = fPosition - 1;
		const float act = static_cast<float>(fBag[static_cast<size_t>(index)]);
		const float sum = static_cast<float>(fSum);
		int point = static_cast<int>(256.0 * act / sum);
		if (point > 255)
			point = 255;
		entries[static_cast<size_t>(i)] = static_cast<unsigned char>(point);
	}
	return entries;
}

std::optional<InfoTag> ReadInfoTag(const unsigned char* data, size_t size)
{
	const size_t mark = MarkOffset(data, size);
	if (mark == 0 || size < mark + kTocField + 100)
		return std::nullopt;
	InfoTag tag;
	const unsigned char* p = data + mark;
	tag.cbr = std::memcmp(p, "Info", 4) == 0;
	const uint32_t flags = Get32(p + 4);
	if ((flags & 7) != 7)
		return std::nullopt; // not as LAME writes it
	tag.frames = Get32(p + kFramesField);
	tag.bytes = Get32(p + kBytesField);
	std::memcpy(tag.toc.data(), p + kTocField, 100);
	if (size >= mark + kTagEnd) {
		tag.lame = std::memcmp(p + kLameField, "LAME", 4) == 0 || std::memcmp(p + kLameField, "L3.9", 4) == 0;
		tag.peak = Get32(p + kPeakField);
		tag.radioGain = Get16(p + kRadioGainField);
		tag.encoderDelay = (p[kDelayField] << 4) | (p[kDelayField + 1] >> 4);
		tag.encoderPadding = ((p[kDelayField + 1] & 0x0f) << 8) | p[kDelayField + 2];
		tag.musicLength = Get32(p + kMusicLengthField);
		tag.musicCrc = Get16(p + kMusicCrcField);
		tag.tagCrc = Get16(p + kTagCrcField);
		tag.tagCrcValid = LameCrc(data, mark + kTagCrcField) == tag.tagCrc;
	}
	return tag;
}

uint16_t RadioGainField(int tenthsOfDb)
{
	if (tenthsOfDb > 0x1fe)
		tenthsOfDb = 0x1fe;
	if (tenthsOfDb < -0x1fe)
		tenthsOfDb = -0x1fe;
	uint16_t field = 0x2000 | 0x0c00; // radio gain, set automatically
	if (tenthsOfDb >= 0)
		field |= static_cast<uint16_t>(tenthsOfDb);
	else
		field |= static_cast<uint16_t>(0x200 | -tenthsOfDb);
	return field;
}

bool PatchInfoTag(std::vector<unsigned char>& frame, const StreamTotals& totals)
{
	const size_t mark = MarkOffset(frame.data(), frame.size());
	if (mark == 0 || frame.size() < mark + kTagEnd)
		return false;
	unsigned char* p = frame.data() + mark;
	if (std::memcmp(p + kLameField, "LAME", 4) != 0 && std::memcmp(p + kLameField, "L3.9", 4) != 0)
		return false;
	const uint32_t streamBytes = totals.audioBytes + static_cast<uint32_t>(frame.size());
	Put32(p + kFramesField, totals.frames);
	Put32(p + kBytesField, streamBytes);
	std::memcpy(p + kTocField, totals.toc.data(), 100);
	if (totals.radioGain)
		Put16(p + kRadioGainField, RadioGainField(*totals.radioGain));
	Put32(p + kMusicLengthField, streamBytes);
	Put16(p + kMusicCrcField, totals.musicCrc);
	Put16(p + kTagCrcField, LameCrc(frame.data(), mark + kTagCrcField));
	return true;
}

} // namespace gogo
