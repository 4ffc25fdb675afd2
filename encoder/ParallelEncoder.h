// Encodes one input on several cores: the input is cut into segments at
// MP3 frame boundaries, each segment is encoded by its own LAME encoder on
// a worker thread, and the segments' frames are joined into one stream.
//
// A segment's encoder starts 32 frames early (those frames are thrown
// away): the MDCT overlaps the previous granule and the psychoacoustic
// model carries state from frame to frame, so the first frames an encoder
// makes differ from what an encoder that had been running would make.
// Segments start on multiples of the frame size, so frame i of a segment
// starting s frames in is frame s + i of the one-thread encode. Each
// segment but the last goes on 12 frames past the next one's start, and the
// join is made in that overlap (SegmentJoiner); the frames are laid out
// again over the bit reservoir by Mp3Repacker. The Xing/LAME tag is the
// last segment's (it has the settings, delay and padding of the whole)
// with the stream's frame and byte counts, seek table, music CRC and
// ReplayGain put in (LameTag). Each segment analyses the ReplayGain of the
// part of the input it keeps (its warm-up input brings the filters into
// their state), and the parts are merged in order (ReplayGain).
//
// Where the input's samples can be found by position (PCM and float in
// WAV, AIFF and their kin: SegmentReader), each segment's worker reads its
// own input, and the calling thread only hands out segments and joins
// them. Otherwise (FLAC, Ogg, MP3...) the input is read once, in order, on
// the calling thread, which hands each block to the segments that need it;
// it waits while the input read but not yet encoded passes a fixed budget.
// Either way the calling thread joins the segments in order as they are
// done. Where the segments lie depends on the input alone (SegmentPlan.h):
// the two ends are half as long as the segments between them, and they are
// taken in order by whichever worker is free, so that the workers finish
// close together without the bytes depending on which ran what, or when.
// See docs/encoder.md.
#pragma once

#include "InputView.h"

#include <lame/lame.h>
#include <sndfile.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace gogo {

// The number of cores online that this process may run on (at least 1, at
// most 16, the most encoders the parallel path runs).
int OnlineCores();

struct ParallelSource {
	SNDFILE* file = nullptr;
	bool asFloat = false;
	int channels = 0;
	int sampleRate = 0;
	int64_t frames = 0; // the stream's, as planned (FLAC: as STREAMINFO declares them)
	int format = 0;     // libsndfile's, of file
	InputView view;     // what file reads, for segments that read by position
};

// Sets up an encoder as the one-thread encode does, short of
// lame_init_params.
using LameSetup = std::function<void(lame_global_flags*)>;

// A segment: what to encode and which frames of the whole it gives.
struct SegmentPlan {
	int64_t firstFrame = 0;  // the stream's frame its kept frames start at
	int64_t plannedEnd = -1; // the next segment's firstFrame; -1 for the last
	int64_t inputStart = 0;  // sample frames
	int64_t inputEnd = 0;    // exclusive; INT64_MAX for the last
	int64_t inputLength = 0; // the sample frames it is to get, as declared
	// The input its ReplayGain analysis counts: from its first kept frame
	// to the next segment's (the input before only warms the filters up).
	int64_t gainFrom = 0;
	int64_t gainEnd = 0;     // exclusive; INT64_MAX for the last
	int warmUp = 0;          // frames to throw away first
	int overlap = 0;         // frames to keep past plannedEnd
	bool last = false;
};

// The plan (SegmentPlan.h): the segments depend on the input alone; the
// threads only say how many are encoded at once.
struct ParallelPlan {
	int threads = 0;
	int frameSize = 0;  // samples per MP3 frame
	// Each segment reads its own input by position (SegmentReader), or the
	// calling thread reads it in order for all of them.
	bool byPosition = false;
	std::vector<SegmentPlan> segments;
	bool replayGain = false;
	int outputChannels = 0;
	float scale = 1, scaleLeft = 1, scaleRight = 1; // LAME's, for the ReplayGain analysis
};

// How to split the encode of source with the encoder configured (after
// lame_init_params) as the one-thread encode's; nullopt when one thread is
// as good: one thread asked for, an input too short to gain, or an encode
// that resamples (frames would not line up with the input).
std::optional<ParallelPlan> PlanParallel(lame_global_flags* configured, const ParallelSource& source,
	int threads);

struct ParallelResult {
	// EndedEarly: read in order, the input ended before source.frames or
	// failed to read (nothing is written then; the one-thread encode takes
	// what there is, and tells a damaged stream from a read error).
	enum class Failure { None, Read, EndedEarly, Encode, Write, Memory, NoThreads };
	Failure failure = Failure::None;
	std::string readError;  // Read: libsndfile's text
	int lameCode = 0;       // Encode: LAME's return code (0: the segments could not be joined)
	bool lameSetup = false; // lameCode is lame_init_params's
	int writeError = 0;     // Write: errno
	int64_t framesRead = 0; // sample frames read from the input
	int enlargedFrames = 0; // frames whose bit rate a join had to raise
	std::vector<int64_t> joins; // the frames (of the stream) where segments were joined
};

// Writes size bytes at offset, or after the last write when offset < 0;
// returns 0 or an errno.
using WriteFunction = std::function<int(const unsigned char* data, size_t size, int64_t offset)>;
// How far the encoding is, in sample frames of the input.
using ReadProgress = std::function<void(int64_t framesDone)>;

// Reads source to its end and writes the MP3 (the Info frame first). An
// input that ends before source.frames fails (Failure::EndedEarly read in
// order, Failure::Read by position), never gives a short MP3; one that goes
// on past it is read to its end (framesRead) but only source.frames are
// encoded. With Failure::NoThreads nothing was read and nothing
// written: encode on one thread instead.
ParallelResult EncodeParallel(const ParallelSource& source, const LameSetup& setup,
	const ParallelPlan& plan, const WriteFunction& write, const ReadProgress& progress);

} // namespace gogo
