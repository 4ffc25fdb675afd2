// Joins the frames of segments encoded apart into one stream, in order.
// Each segment but the first starts (after its warm-up) at a planned frame
// and the one before it goes on some frames past that point; the join is
// made in that overlap at the first frame where the later segment's frame
// fits for good: the stream's reservoir there is at least the
// main_data_begin that frame had in its own stream (then it and every frame
// after it fit, Mp3Repacker laying data out as early as it can). In the
// first half of the overlap a frame that both encoders made alike is
// waited for, so that where the encoders agree the join is seamless. When
// no frame of the overlap fits, the later segment takes over at its end
// and the frames that do not fit get a higher bit rate.
#pragma once

#include "LameTag.h"
#include "Mp3Frame.h"
#include "Mp3Repacker.h"

#include <cstdint>
#include <vector>

namespace gogo {

class SegmentJoiner {
public:
	SegmentJoiner(Mp3Repacker::Sink sink, int overlapFrames);

	// The next segment's frames, the first being frame `first` of the whole
	// stream; the segment is planned to hand over at frame plannedEnd (the
	// next segment's first), or to be the last when plannedEnd < 0. False
	// when the frames cannot be joined (a gap, no room) or the sink failed.
	bool Add(int64_t first, int64_t plannedEnd, std::vector<Mp3Frame> frames);
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

	Mp3Repacker fRepacker;
	Mp3Repacker::Sink fSink;
	int fOverlap;
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
