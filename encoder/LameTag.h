// The Xing/Info frame LAME puts first in its MP3s, with the LAME tag in it:
// read, and rewritten for a stream put together from parts.
//
// The fields that describe the stream (frame count, byte count, the seek
// table, the music length and CRC, the ReplayGain of the audio) are set for
// the whole stream; those that describe the settings (version, VBR method,
// lowpass, encoder delay and padding...) are kept; the tag's CRC is made
// again. The seek table is built as LAME builds its own, from the frames'
// bit rates, so a stream of the same frames gets the same table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace gogo {

// The CRC-16 of the LAME tag and of its music CRC field (polynomial 0x8005
// reflected, start 0).
uint16_t LameCrc(const unsigned char* data, size_t size, uint16_t crc = 0);

// LAME's seek table: every frame's bit rate summed into at most 400 points,
// kept evenly spaced by halving.
class SeekTable {
public:
	void Add(int kbps);
	// The 100 entries: the share of the stream before each percent of it,
	// out of 256.
	std::array<unsigned char, 100> Entries() const;
	int64_t Frames() const { return fFrames; }

private:
	static constexpr int kSize = 400;
	std::array<int, kSize> fBag{};
	int fPosition = 0;
	int fSeen = 0;
	int fWant = 1;
	int fSum = 0;
	int64_t fFrames = 0;
};

struct InfoTag {
	bool cbr = false;        // "Info" rather than "Xing"
	uint32_t frames = 0;
	uint32_t bytes = 0;
	std::array<unsigned char, 100> toc{};
	bool lame = false;       // the LAME extension follows (fields below)
	int encoderDelay = 0;
	int encoderPadding = 0;
	uint16_t radioGain = 0;  // the raw field
	uint32_t peak = 0;
	uint32_t musicLength = 0;
	uint16_t musicCrc = 0;
	uint16_t tagCrc = 0;
	bool tagCrcValid = false;
};

// Reads the Xing/Info frame at the start of data; nullopt when there is none.
std::optional<InfoTag> ReadInfoTag(const unsigned char* data, size_t size);

// The LAME tag's radio ReplayGain field for a gain in tenths of a dB.
uint16_t RadioGainField(int tenthsOfDb);

struct StreamTotals {
	uint32_t frames = 0;       // audio frames
	uint32_t audioBytes = 0;   // of the audio frames (the Info frame not counted)
	std::array<unsigned char, 100> toc{};
	uint16_t musicCrc = 0;
	std::optional<int> radioGain; // tenths of a dB; none leaves the field as it is
};

// Rewrites the stream fields of a Xing/Info frame made by LAME; false when
// frame is not one with a LAME tag.
bool PatchInfoTag(std::vector<unsigned char>& frame, const StreamTotals& totals);

} // namespace gogo
