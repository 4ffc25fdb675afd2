// MPEG audio Layer III frames as this encoder's parallel path handles them:
// a frame's header and side info, read and rewritten, and a stream of LAME's
// output cut into frames that each carry their own main data.
//
// In Layer III a frame's main data need not lie in its own slot: it starts
// main_data_begin bytes before the end of the frame's side info, counted
// over the slots' payloads only (the bit reservoir), and runs on for the
// sum of its granules' part2_3_length bits. Cutting a stream into frames
// with their own main data lets frames of separately made streams be laid
// out again as one stream (Mp3Repacker).
//
// Everything here takes untrusted bytes (it is fuzzed) and never throws but
// std::bad_alloc, which the callers catch.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace gogo {

// What a Layer III frame header says.
struct FrameHeader {
	int version = 0;        // 1 (MPEG-1), 2 (MPEG-2) or 25 (MPEG-2.5)
	bool protection = false; // a CRC-16 follows the header
	int bitrateIndex = 0;   // 1..14
	int sampleRateIndex = 0; // 0..2
	bool padding = false;
	int mode = 0;           // 0 stereo, 1 joint, 2 dual, 3 mono
	int channels = 0;
	int bitrateKbps = 0;
	int sampleRate = 0;
	int frameBytes = 0;     // the whole frame, header included
	int sideInfoBytes = 0;  // 17 or 32 (MPEG-1), 9 or 17 (MPEG-2 and 2.5)
	int granules = 0;       // 2 (MPEG-1) or 1

	// Header, CRC and side info: where the payload starts.
	int PrefixBytes() const { return 4 + (protection ? 2 : 0) + sideInfoBytes; }
	int PayloadBytes() const { return frameBytes - PrefixBytes(); }
	// The largest main_data_begin the side info can hold.
	int MaxMainDataBegin() const { return version == 1 ? 511 : 255; }
};

// Reads a Layer III header from 4 bytes; false when they are not one (free
// format and the reserved values included).
bool ParseFrameHeader(const unsigned char* bytes, FrameHeader& header);

// The frame size in bytes for a bit rate index with the other fields of
// header; 0 for an index outside 1..14.
int FrameBytesFor(const FrameHeader& header, int bitrateIndex);

// A frame with its own main data.
struct Mp3Frame {
	FrameHeader header;
	// Header, CRC (if any) and side info as in the stream.
	std::array<unsigned char, 4 + 2 + 32> prefix{};
	int mainDataBegin = 0;  // as the stream had it
	int mainDataBits = 0;   // the sum of part2_3_length
	std::vector<unsigned char> mainData; // (mainDataBits + 7) / 8 bytes

	int MainDataBytes() const { return static_cast<int>(mainData.size()); }
	// The same audio: side info (main_data_begin aside) and main data equal.
	bool SameAudio(const Mp3Frame& other) const;
};

// Reads main_data_begin and the part2_3_length sum from the side info of a
// frame whose prefix holds header (and the CRC if any) and side info.
void ReadSideInfo(const FrameHeader& header, const unsigned char* sideInfo, int& mainDataBegin,
	int& mainDataBits);

// Writes main_data_begin into the frame's side info, and its bit rate index
// into its header, updating frameBytes and recomputing the CRC if there is one.
void SetMainDataBegin(Mp3Frame& frame, int mainDataBegin);
void SetBitrateIndex(Mp3Frame& frame, int bitrateIndex);

// The Layer III CRC-16 (polynomial 0x8005, start 0xffff) over the header's
// last two bytes and the side info.
uint16_t FrameCrc(const FrameHeader& header, const unsigned char* prefix);

// Whether the frame is a Xing/Info frame (LAME's tag frame) rather than audio.
bool IsInfoFrame(const FrameHeader& header, const unsigned char* frame, size_t size);

// Cuts a stream that starts with a frame header into frames. The stream may
// end inside a frame (a stream still being made): frames whose side info or
// main data is not all there yet are left out. With infoFirst, an Info/Xing
// frame first is left out of frames and its size given in infoFrameBytes;
// without, the first frame is audio whatever its bytes spell.
struct SplitResult {
	bool ok = true;           // false: the stream is not Layer III as expected
	size_t infoFrameBytes = 0;
	std::vector<Mp3Frame> frames;
	size_t consumed = 0;      // bytes of the whole frames (slots) read
};
SplitResult SplitFrames(const unsigned char* data, size_t size, bool infoFirst = true);

} // namespace gogo
