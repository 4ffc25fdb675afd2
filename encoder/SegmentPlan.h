// Where the segments of a parallel encode lie. The plan depends on the input
// alone (its length, frame size and sample rate), never on the number of
// threads or on how fast they run: the MP3's bytes are the same on every
// run and for every -threads N of 2 or more.
//
// The segments' shares of the stream are 1, 2, 2, ..., 2, 1 (the ends are
// half as long as the others), with 1 or 4j - 1 segments of share 2: taken
// in order by whichever worker is free, two workers finish together (one
// takes the first end while the other takes the second segment, and from
// then on they stay half a segment apart, until the last end evens them
// out), and so do four where there are three or more of share 2. With one
// of share 2 between the ends, two workers also finish together where the
// cost of a frame rises or falls steadily along the input (a sweep): each
// has half the input, centred on the middle. Short inputs are two equal
// halves; no segment is longer than a minute (its MP3 is held until it is
// joined).
//
// Segment k of S keeps frames [F_k, F_{k+1}) of the stream's T frames,
// F_k = floor((T + 47 (S - 1)) C_k / U) - 15 - 47 (k - 1) for k >= 1, C_k the
// shares before k and U all of them: every encoder makes frames in
// proportion to its share, its warm-up, overlap and look-ahead counted (the
// first has no warm-up, the last no overlap, so they keep more). Its
// encoder starts 32 frames early (warm-up, thrown away) and, but for the
// last, goes on 12 frames past F_{k+1} (the overlap, where the join is
// made) and 3 more of look-ahead input.
#pragma once

#include "ParallelEncoder.h"

#include <cstdint>
#include <vector>

namespace gogo {

// Frames a segment's encoder makes before its first kept one: enough for
// the psychoacoustic model's slow state (the ATH's adaptation to loudness)
// to settle, not only the MDCT's overlap.
constexpr int kWarmUpFrames = 32;
// The warm-up's first frame is thrown away (its MDCT and filter bank start
// from silence); the later ones may serve a join that finds no frame of the
// overlap to fit (SegmentJoiner).
constexpr int kSettleFrames = 1;
// Frames a segment goes on past the next one's start, where the join is made.
constexpr int kOverlapFrames = 12;
// Input past the last frame wanted, for LAME's look-ahead.
constexpr int kLookaheadFrames = 3;
// A segment shorter than this gains less than its warm-up costs.
constexpr int64_t kMinSegmentFrames = 256;
// The longest segment.
constexpr int kMaxSegmentSeconds = 60;
// At most this many encoders at once (each holds a LAME encoder and a
// segment's MP3): the memory stays bounded on any machine.
constexpr int kMaxEncoders = 16;

// The shares of the segments an input of streamFrames frames of frameSize
// samples at sampleRate is cut into, in order; fewer than 2, one thread is
// as good.
std::vector<int> SegmentShares(int64_t streamFrames, int frameSize, int sampleRate);

// The segments of an input of inputFrames sample frames.
std::vector<SegmentPlan> PlanSegments(int64_t inputFrames, int frameSize, const std::vector<int>& shares);

} // namespace gogo
