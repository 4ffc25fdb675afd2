// Joins the frames of segments encoded apart into one stream, in order.
// Each segment but the first starts (after its warm-up) at a planned frame
// and the one before it goes on some frames past that point; the join is
// made in that overlap at the first frame where the later segment's frame
// fits for good: the stream's reservoir there is at least the
// main_data_begin that frame had in its own stream (then it and every frame
// after it fit, Mp3Repacker laying data out as early as it can). In the
// first half of the overlap a frame that both encoders made alike is
// waited for, so that where the encoders agree the join is seamless; from
// its middle on, a frame with less reservoir than it had will also do if it
// and the frames after it fit as they are.
//
// A fresh encoder saves reservoir as it starts, which a running one has
// spent (60 s of pink noise at 48 kHz, 128 kbps: some 350 bytes against
// 40), so sometimes no frame of the overlap fits. The join is then made at
// the latest of the later segment's last warm-up frames that fits (its
// encoder has run a few frames, and saved less): a constant bit rate stays
// constant. Only if none fits either do frames get a higher bit rate
// (counted in EnlargedFrames; none in any real encode of the tests, the
// CBR sweep or the benchmarks: only the unit test that builds such frames).
#pragma once

#include "LameTag.h"
#include "Mp3Frame.h"
#include "Mp3Repacker.h"

#include <cstdint>
#include <vector>

namespace gogo {

class SegmentJoiner {
public:
	// overlapFrames: how far a segment goes past the next one's start;
	// backFrames: how many of its last warm-up frames a segment gives with
	// its own (a join may fall back on them).
	SegmentJoiner(Mp3Repacker::Sink sink, int overlapFrames, int backFrames);

	// The next segment's frames, the first being frame `first` of the whole
	// stream; it is planned to take over at plannedStart (frames before are
	// its warm-up's last ones) and to hand over at plannedEnd (the next
	// segment's plannedStart), or to be the last when plannedEnd < 0. False
	// when the frames cannot be joined (a gap, no room) or the sink failed.
	bool Add(int64_t first, int64_t plannedStart, int64_t plannedEnd, std::vector<Mp3Frame> frames);
	bool Finish();

	int64_t Frames() const { return fRepacker.Frames(); }
	uint64_t Bytes() const { return fRepacker.Bytes(); }
	uint16_t MusicCrc() const { return fCrc; }
	const SeekTable& Table() const { return fTable; }
	int EnlargedFrames() const { return fEnlarged; }
	// The frame of the whole stream at which each join was made.
	const std::vector<int64_t>& Joins() const { return fJoins; }
	bool SinkFailed() const { return fSinkFailed; }

private:
	bool Place(Mp3Frame& frame);
	// The frame at which the held segment hands over to frames; found is
	// false when none fits as it is. -1 when frames are missing.
	int64_t ChooseJoin(int64_t first, int64_t plannedStart, const std::vector<Mp3Frame>& frames,
		bool& found) const;

	Mp3Repacker fRepacker;
	Mp3Repacker::Sink fSink;
	int fOverlap;
	int fBack;
	std::vector<Mp3Frame> fHeld; // the current segment's frames
	int64_t fHeldFirst = 0;
	int64_t fNext = 0;           // the next frame of the stream to place
	bool fStarted = false;
	uint16_t fCrc = 0;
	SeekTable fTable;
	int fEnlarged = 0;
	bool fSinkFailed = false;
	std::vector<int64_t> fJoins;
};

} // namespace gogo
