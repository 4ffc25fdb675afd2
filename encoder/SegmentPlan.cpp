#include "SegmentPlan.h"

#include "SegmentReader.h"

#include <algorithm>
#include <cstdint>

namespace gogo {

namespace {

// The stream's frame segment k starts at, with `before` of the `total`
// shares in front of it, of the `segments`: each encoder makes frames in
// proportion to its share, its warm-up, overlap and look-ahead included
// (the first has no warm-up, the last no overlap).
int64_t SegmentStart(int64_t streamFrames, int k, int segments, int64_t before, int64_t total)
{
	if (k == 0)
		return 0;
	const int64_t tail = kOverlapFrames + kLookaheadFrames;
	const int64_t extra = kWarmUpFrames + tail;
	const int64_t encoded = streamFrames + extra * (segments - 1);
	// In 128 bits: a header may declare any length.
	const auto share = static_cast<int64_t>(static_cast<__int128>(encoded) * before / total);
	return std::max<int64_t>(kWarmUpFrames, share - tail - extra * (k - 1));
}

// Whether LAME will put an Info frame first: as its InitVbrTag decides,
// when a frame at the tag's bit rate (CBR: the stream's) holds the side
// information and the 156 bytes of the tag.
bool WritesInfoFrame(lame_global_flags* configured)
{
	if (lame_get_bWriteVbrTag(configured) == 0)
		return false;
	const int rate = lame_get_out_samplerate(configured);
	const bool mpeg1 = lame_get_version(configured) == 1;
	int kbps = mpeg1 ? 128 : rate < 16000 ? 32 : 64;
	if (lame_get_VBR(configured) == vbr_off)
		kbps = lame_get_brate(configured);
	if (rate <= 0)
		return false;
	const int frameBytes = (mpeg1 ? 144000 : 72000) * kbps / rate;
	const bool mono = lame_get_mode(configured) == MONO;
	const int sideInfo = 4 + (mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17));
	return frameBytes >= sideInfo + 156 && frameBytes <= 2880;
}

} // namespace

std::vector<int> SegmentShares(int64_t streamFrames, int frameSize, int sampleRate)
{
	if (frameSize <= 0 || sampleRate <= 0 || streamFrames < 2 * kMinSegmentFrames)
		return {};
	// Ends of half a segment would be too short to gain: two halves.
	if (streamFrames < 4 * kMinSegmentFrames)
		return {1, 1};
	const int64_t longest = std::max<int64_t>(2 * kMinSegmentFrames,
		int64_t{sampleRate} * kMaxSegmentSeconds / frameSize);
	// In whole segments: 2 (one between the ends), else a multiple of 4.
	int64_t wholes = (streamFrames + longest - 1) / longest;
	wholes = wholes <= 2 ? 2 : (wholes + 3) / 4 * 4;
	wholes = std::min<int64_t>(wholes, 1 << 20);
	std::vector<int> shares(static_cast<size_t>(wholes + 1), 2);
	shares.front() = 1;
	shares.back() = 1;
	return shares;
}

std::vector<SegmentPlan> PlanSegments(int64_t inputFrames, int frameSize, const std::vector<int>& shares)
{
	const int64_t streamFrames = inputFrames / frameSize;
	int64_t total = 0;
	for (const int share : shares)
		total += share;
	std::vector<SegmentPlan> plans(shares.size());
	const int segments = static_cast<int>(shares.size());
	int64_t before = 0;
	for (int k = 0; k < segments; k++) {
		SegmentPlan& plan = plans[static_cast<size_t>(k)];
		plan.firstFrame = SegmentStart(streamFrames, k, segments, before, total);
		before += shares[static_cast<size_t>(k)];
		plan.warmUp = k == 0 ? 0 : kWarmUpFrames;
		plan.overlap = kOverlapFrames;
		plan.inputStart = (plan.firstFrame - plan.warmUp) * frameSize;
		plan.gainFrom = plan.firstFrame * frameSize;
		plan.last = k + 1 == segments;
		if (plan.last) {
			plan.plannedEnd = -1;
			plan.inputEnd = INT64_MAX;
			plan.inputLength = inputFrames - plan.inputStart;
			plan.gainEnd = INT64_MAX;
		} else {
			plan.plannedEnd = SegmentStart(streamFrames, k + 1, segments, before, total);
			plan.inputEnd = std::min(inputFrames,
				(plan.plannedEnd + kOverlapFrames + kLookaheadFrames) * frameSize);
			plan.inputLength = plan.inputEnd - plan.inputStart;
			plan.gainEnd = plan.plannedEnd * frameSize;
		}
	}
	return plans;
}

std::optional<ParallelPlan> PlanParallel(lame_global_flags* configured, const ParallelSource& source,
	int threads)
{
	threads = std::min(threads, kMaxEncoders);
	if (threads < 2 || source.frames <= 0 || source.frames == SF_COUNT_MAX)
		return std::nullopt;
	if (lame_get_out_samplerate(configured) != source.sampleRate)
		return std::nullopt;
	// The joined stream starts with the Info frame LAME leaves room for;
	// where its frames are too small to hold one (16 kHz mono at 32 kbps),
	// LAME writes none, and one encoder does what lame does.
	if (!WritesInfoFrame(configured))
		return std::nullopt;
	const int frameSize = lame_get_framesize(configured);
	const std::vector<int> shares = SegmentShares(source.frames / std::max(1, frameSize), frameSize,
		source.sampleRate);
	if (shares.size() < 2)
		return std::nullopt;
	const int segments = static_cast<int>(shares.size());
	ParallelPlan plan;
	plan.threads = std::min(threads, segments);
	plan.frameSize = frameSize;
	// Decided once: whether each segment reads its own input by position,
	// or the calling thread reads it in order for all of them.
	plan.byPosition = ReadsByPosition(source);
	plan.segments = PlanSegments(source.frames, frameSize, shares);
	plan.replayGain = lame_get_findReplayGain(configured) != 0;
	plan.outputChannels = lame_get_mode(configured) == MONO ? 1 : 2;
	plan.scale = lame_get_scale(configured);
	plan.scaleLeft = lame_get_scale_left(configured);
	plan.scaleRight = lame_get_scale_right(configured);
	return plan;
}

} // namespace gogo
