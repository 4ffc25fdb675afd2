// Whether an encode took all the audio its input holds, and what to say of
// it: the header that understated the audio (all of it was encoded), the
// file that ends before its header says (the MP3 has what there is), and
// whether -delete may remove the input.
#pragma once

#include "InputExtent.h"

#include <cstdint>
#include <string>

namespace gogo {

// Frames as a duration for a message: "3.0 s", "1 min 42 s", "6 h 46 min".
std::string Duration(int64_t frames, int sampleRate);

// What the encode found, for the judgement.
struct EncodedLength {
	int64_t frames = 0;        // encoded
	int64_t declared = -1;     // what the header declares (libsndfile's count, or STREAMINFO's); -1: unknown
	bool streamEnd = false;    // the reading went on to the end of the stream
	std::string stopped;       // else why it stopped (libsndfile's text)
	int sampleRate = 0;
};

struct LengthVerdict {
	// The input ends before its header says: the MP3 has what there is.
	bool truncated = false;
	std::string truncation; // "holds only 1 min 42 s of the 3 min 25 s ..." (no path)
	// Why -delete must keep the input even when whole; empty when it may go.
	std::string keepReason;
};

// A note before the encode when the header understates the audio or does
// not give its length (empty otherwise): "its header declares 52.1 s of
// audio but the file holds 6 h 46 min; all of it is encoded".
std::string UnderstatedNote(const InputExtent& extent);
// The same for a stream found to hold more than it declares.
std::string LongerStreamNote(int64_t declared, int64_t held, int sampleRate);

LengthVerdict JudgeLength(const InputExtent& extent, const EncodedLength& encoded);

} // namespace gogo
