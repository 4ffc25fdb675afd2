#include "ParallelEncoder.h"

#include "LameTag.h"
#include "Mp3Frame.h"
#include "ReplayGain.h"
#include "SegmentJoiner.h"
#include "SegmentReader.h"
#include "SegmentWorkers.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <climits>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <sched.h>
#include <unistd.h>

namespace gogo {

namespace {

// Frames a segment's encoder makes before its first kept one: enough for
// the psychoacoustic model's slow state (the ATH's adaptation to loudness)
// to settle, not only the MDCT's overlap.
constexpr int kWarmUpFrames = 32;
// Frames a segment goes on past the next one's start, where the join is made.
constexpr int kOverlapFrames = 12;
// Input past the last frame wanted, for LAME's look-ahead.
constexpr int kLookaheadFrames = 3;
// The least a segment split off a running one keeps: less gains less than
// the join costs.
constexpr int64_t kMinSplitFrames = 48;
// Frames past where a running segment's reading has got to that it keeps
// when it is split (it reads on meanwhile; a block is some 7 frames).
constexpr int64_t kSplitMarginFrames = 16;
// A segment shorter than this gains less than its warm-up costs.
constexpr int64_t kMinSegmentFrames = 256;
// The short last segment, in hundredths of the stream (at least the
// shortest segment, at most half a segment): how far one worker may fall
// behind the others and still finish with them, for one join more.
constexpr int64_t kShortLastShare = 10;
// The input held at once, read but not yet encoded.
constexpr size_t kInputBudget = size_t{16} << 20;
// The longest segment: its MP3 is held until it is joined.
constexpr int kMaxSegmentSeconds = 30;
// At most this many encoders at once (each holds a LAME encoder and a
// segment's MP3): the memory stays bounded on any machine.
constexpr int kMaxEncoders = 16;
constexpr sf_count_t kReadBlock = 8192;
constexpr size_t kWriteBlock = size_t{256} << 10;
// How long the reader waits for the workers before reporting progress.
constexpr std::chrono::milliseconds kPatience{100};

// Samples LAME holds before it makes a frame, and those it holds at the
// start (its encoder delay less the MDCT's): what its flush feeds past the
// input follows from them.
int64_t FlushSilence(int frameSize, int encoderDelay, int64_t streamFrames, int64_t inputFrames)
{
	const int64_t needed = std::max(1024 + frameSize - 272, 512 + frameSize - 32);
	const int64_t silence = needed + (streamFrames - 1) * frameSize - (encoderDelay - 48) - inputFrames;
	return std::max<int64_t>(0, silence);
}

// The stream's frame body segment k of bodySegments starts at (the body is
// the stream's first bodyEnd frames: all of it, or all but a short last
// segment). Each body segment is given the same number of frames to
// encode: the first has no warm-up, and without a short segment after it
// the last has no overlap, so they keep more of their frames than the
// others and no worker is left to finish alone.
int64_t SegmentStart(int64_t bodyEnd, bool shortLast, int k, int bodySegments)
{
	if (k == 0)
		return 0;
	const int64_t extra = kWarmUpFrames + (shortLast ? 0 : kOverlapFrames + kLookaheadFrames);
	return kWarmUpFrames + std::max<int64_t>(0, bodyEnd - extra) * k / bodySegments;
}

std::vector<SegmentPlan> PlanSegments(int64_t inputFrames, int frameSize, int segments, int64_t tailFrames)
{
	const int64_t streamFrames = inputFrames / frameSize;
	const bool shortLast = tailFrames > 0;
	const int bodySegments = segments - (shortLast ? 1 : 0);
	const int64_t bodyEnd = streamFrames - tailFrames;
	auto start = [&](int k) {
		return k <= bodySegments ? SegmentStart(bodyEnd, shortLast, k, bodySegments) : streamFrames;
	};
	std::vector<SegmentPlan> plans(static_cast<size_t>(segments));
	for (int k = 0; k < segments; k++) {
		SegmentPlan& plan = plans[static_cast<size_t>(k)];
		plan.firstFrame = start(k);
		plan.warmUp = k == 0 ? 0 : kWarmUpFrames;
		plan.overlap = kOverlapFrames;
		plan.inputStart = (plan.firstFrame - plan.warmUp) * frameSize;
		plan.gainFrom = plan.firstFrame * frameSize;
		plan.last = k == segments - 1;
		if (plan.last) {
			plan.plannedEnd = -1;
			plan.inputEnd = INT64_MAX;
			plan.inputLength = inputFrames - plan.inputStart;
			plan.gainEnd = INT64_MAX;
		} else {
			plan.plannedEnd = start(k + 1);
			plan.inputEnd = std::min(inputFrames,
				(plan.plannedEnd + kOverlapFrames + kLookaheadFrames) * frameSize);
			plan.inputLength = plan.inputEnd - plan.inputStart;
			plan.gainEnd = plan.plannedEnd * frameSize;
		}
	}
	return plans;
}

// Closes the segments still open when the encode ends, however it ends, so
// that no worker waits for more of them.
struct OpenSegments {
	std::vector<std::shared_ptr<SegmentStream>> list;
	~OpenSegments()
	{
		for (const auto& stream : list)
			stream->Close(false);
	}
};

} // namespace

int OnlineCores()
{
	long cores = sysconf(_SC_NPROCESSORS_ONLN);
	// Fewer when this process may run on fewer (taskset, a container's cpuset).
	cpu_set_t allowed;
	CPU_ZERO(&allowed);
	if (sched_getaffinity(0, sizeof(allowed), &allowed) == 0 && CPU_COUNT(&allowed) > 0)
		cores = cores > 0 ? std::min<long>(cores, CPU_COUNT(&allowed)) : CPU_COUNT(&allowed);
	return cores > 0 ? static_cast<int>(std::min<long>(cores, kMaxEncoders)) : 1;
}

std::optional<ParallelPlan> PlanParallel(lame_global_flags* configured, const ParallelSource& source,
	int threads)
{
	threads = std::min(threads, kMaxEncoders);
	if (threads < 2 || source.frames <= 0 || source.frames == SF_COUNT_MAX)
		return std::nullopt;
	if (lame_get_out_samplerate(configured) != source.sampleRate)
		return std::nullopt;
	const int frameSize = lame_get_framesize(configured);
	if (frameSize <= 0)
		return std::nullopt;
	const int64_t streamFrames = source.frames / frameSize;
	const int64_t most = streamFrames / kMinSegmentFrames;
	threads = static_cast<int>(std::min<int64_t>(threads, most));
	if (threads < 2)
		return std::nullopt;
	// Segments of at most half a minute (what a segment's MP3 holds until it
	// is joined stays small), shorter when many threads share the budget, and
	// a multiple of the threads in number so that the threads finish
	// together.
	const size_t sampleBytes = KindOf(source) == SampleKind::Short ? sizeof(short) : sizeof(float);
	const int64_t bytesPerFrame = static_cast<int64_t>(static_cast<size_t>(source.channels)
		* sampleBytes * static_cast<size_t>(frameSize));
	const int64_t longest = static_cast<int64_t>(source.sampleRate) * kMaxSegmentSeconds / frameSize;
	const int64_t budgetFrames = static_cast<int64_t>(kInputBudget) / threads / bytesPerFrame;
	const int64_t segmentFrames = std::max(kMinSegmentFrames, std::min(longest, budgetFrames));
	ParallelPlan plan;
	plan.replayGain = lame_get_findReplayGain(configured) != 0;
	// The workers seldom finish together by themselves: the frames of one
	// part of an input cost more than those of another (a sweep's high end,
	// a quiet intro), cores shared with other work run at different speeds,
	// and a calling thread that reads the input in order takes its time
	// from one of them. Where each segment reads its own input, a worker
	// left with nothing to do takes over the later part of a running
	// segment (a join only where one is needed); read in order, a short
	// last segment goes to whichever worker is free first.
	const int64_t tail = std::max(kMinSegmentFrames,
		std::min(streamFrames * kShortLastShare / 100, segmentFrames / 2));
	if (!ReadsByPosition(source) && (streamFrames - tail) / threads >= kMinSegmentFrames)
		plan.tailFrames = tail;
	const int64_t bodyFrames = streamFrames - plan.tailFrames;
	const int64_t rounds = (bodyFrames + segmentFrames * threads - 1) / (segmentFrames * threads);
	plan.threads = threads;
	plan.segments = static_cast<int>(std::min<int64_t>(rounds * threads, INT_MAX / 2))
		+ (plan.tailFrames > 0 ? 1 : 0);
	plan.frameSize = frameSize;
	plan.outputChannels = lame_get_mode(configured) == MONO ? 1 : 2;
	plan.scale = lame_get_scale(configured);
	plan.scaleLeft = lame_get_scale_left(configured);
	plan.scaleRight = lame_get_scale_right(configured);
	return plan;
}

namespace {

ParallelResult Encode(const ParallelSource& source, const LameSetup& setup, const ParallelPlan& plan,
	const WriteFunction& write, const ReadProgress& progress)
{
	ParallelResult result;
	const std::vector<SegmentPlan> plans = PlanSegments(source.frames, plan.frameSize, plan.segments,
		plan.tailFrames);
	// Each segment analyses its own part (from a copy of fresh, which the
	// workers share and nothing changes); the parts are merged into gain
	// as they are joined.
	ReplayGainAnalysis fresh;
	const bool findGain = plan.replayGain && fresh.Init(source.sampleRate, source.channels,
		plan.outputChannels, plan.scale, plan.scaleLeft, plan.scaleRight);
	ReplayGainAnalysis gain;
	WorkerPool pool(setup, source.channels, findGain ? &fresh : nullptr);
	OpenSegments open; // after the pool: closed before the pool joins its threads
	int writeError = 0;
	auto fail = [&](ParallelResult::Failure failure) {
		pool.Cancel();
		result.failure = failure;
		if (failure == ParallelResult::Failure::Write && result.writeError == 0)
			result.writeError = writeError != 0 ? writeError : EIO;
		return result;
	};
	if (pool.Start(plan.threads) == 0) {
		result.failure = ParallelResult::Failure::NoThreads;
		return result;
	}

	// The joined frames go out in writes of kWriteBlock bytes, not frame by
	// frame.
	std::vector<unsigned char> pending;
	auto flush = [&]() {
		writeError = pending.empty() ? 0 : write(pending.data(), pending.size(), -1);
		pending.clear();
		return writeError == 0;
	};
	SegmentJoiner joiner(
		[&](const unsigned char* data, size_t size) {
			pending.insert(pending.end(), data, data + size);
			return pending.size() < kWriteBlock || flush();
		},
		kOverlapFrames);
	std::vector<unsigned char> infoFrame, tag;

	// Progress is the share of the segments' input encoded, in the input's
	// frames (so that it moves with the encoding, not with the reading).
	int64_t fed = 0;
	for (const SegmentPlan& segment : plans)
		fed += std::min(segment.inputEnd, source.frames) - segment.inputStart;
	int64_t reported = -1;
	auto report = [&]() {
		if (!progress || fed <= 0)
			return;
		const double share = static_cast<double>(pool.EncodedFrames()) / static_cast<double>(fed);
		const int64_t done = std::min(source.frames, static_cast<int64_t>(share * static_cast<double>(source.frames)));
		// (Never back: a segment split off another adds warm-up to encode.)
		if (done > reported) {
			reported = done;
			progress(done);
		}
	};

	// The segments handed out, in the stream's order (a segment split off
	// another's end comes right after it).
	std::vector<std::shared_ptr<SegmentStream>> order;
	size_t merged = 0;
	bool finished = false;
	// Whether an idle worker may yet take over part of a running segment.
	bool splitting = plan.splitWhenIdle && ReadsByPosition(source);
	bool idle = false;
	ParallelResult::Failure mergeFailure = ParallelResult::Failure::None;
	// Joins the segments that are done, in order; with wait, waits for the
	// next (or, while splitting, until a worker is idle).
	auto merge = [&](bool wait) {
		while (merged < order.size() && mergeFailure == ParallelResult::Failure::None) {
			SegmentOutput output;
			if (!pool.Take(order[merged]->Index(), wait ? kPatience : std::chrono::milliseconds(0), output,
					splitting ? &idle : nullptr)) {
				if (!wait || idle)
					return;
				report();
				continue;
			}
			wait = false;
			const SegmentPlan segment = order[merged]->CurrentPlan();
			if (!output.ok) {
				if (output.readFailed) {
					mergeFailure = ParallelResult::Failure::Read;
					result.readError = output.readError;
					result.framesRead = output.framesRead;
				} else if (output.memory) {
					mergeFailure = ParallelResult::Failure::Memory;
				} else {
					mergeFailure = ParallelResult::Failure::Encode;
					result.lameCode = output.lameCode;
				}
				return;
			}
			if (findGain) {
				if (!output.gain) {
					mergeFailure = ParallelResult::Failure::Encode;
					return;
				}
				if (merged == 0) {
					gain = std::move(*output.gain);
				} else if (!gain.Merge(*output.gain)) {
					mergeFailure = ParallelResult::Failure::Encode;
					return;
				}
			}
			if (merged == 0) {
				infoFrame = std::move(output.infoFrame);
				writeError = infoFrame.empty() ? 0 : write(infoFrame.data(), infoFrame.size(), -1);
				if (writeError != 0) {
					mergeFailure = ParallelResult::Failure::Write;
					return;
				}
			}
			if (!joiner.Add(segment.firstFrame, segment.last ? -1 : segment.plannedEnd,
					std::move(output.frames))) {
				mergeFailure = joiner.SinkFailed() ? ParallelResult::Failure::Write
					: ParallelResult::Failure::Encode;
				return;
			}
			if (segment.last) {
				tag = std::move(output.tag);
				finished = true;
			}
			merged++;
		}
	};

	const size_t channels = static_cast<size_t>(source.channels);
	BlockPool blocks(KindOf(source), static_cast<size_t>(kReadBlock) * channels);
	int nextOpen = 0;
	int64_t position = 0;
	// Where every segment reads its own input, this thread only hands the
	// segments out, two rounds ahead of the joining: a worker that runs
	// ahead of another holds no more than that many segments' MP3s. (Read
	// in order, they are handed out as the reading reaches them.)
	const bool byPosition = ReadsByPosition(source);
	const size_t ahead = 2 * static_cast<size_t>(plan.threads);
	auto handOut = [&]() {
		bool handed = false;
		while (byPosition && nextOpen < plan.segments && order.size() - merged < ahead) {
			order.push_back(std::make_shared<SegmentStream>(nextOpen, plans[static_cast<size_t>(nextOpen)],
				source, kReadBlock));
			pool.Submit(order.back());
			nextOpen++;
			handed = true;
		}
		return handed;
	};
	// A worker with nothing to do takes over the later part of the running
	// segment with the most left to encode, so that the workers finish
	// together however fast each runs. false when no segment has enough
	// left to gain from it (and none will have: they only shrink).
	const int64_t streamFrames = source.frames / plan.frameSize;
	int nextIndex = plan.segments;
	auto split = [&]() {
		std::shared_ptr<SegmentStream> widest;
		size_t widestAt = 0;
		int64_t widestFrom = 0, widestEnd = 0;
		for (size_t i = merged; i < order.size(); i++) {
			const SegmentPlan current = order[i]->CurrentPlan();
			const int64_t readTo = order[i]->ReadTo();
			if (readTo == INT64_MAX)
				continue; // done reading
			const int64_t end = current.last ? streamFrames : current.plannedEnd;
			const int64_t from = std::max(current.firstFrame, (readTo + plan.frameSize - 1) / plan.frameSize);
			if (!widest || end - from > widestEnd - widestFrom) {
				widest = order[i];
				widestAt = i;
				widestFrom = from;
				widestEnd = end;
			}
		}
		if (!widest)
			return false;
		// Both then encode about as many frames: this one to the new end and
		// its overlap, the other its warm-up and the rest. The new end lies a
		// little past where the reading has got to, which goes on meanwhile.
		const bool last = widest->CurrentPlan().last;
		const int64_t end = std::max(widestFrom + kSplitMarginFrames, (widestFrom + widestEnd + kWarmUpFrames
			- (last ? kOverlapFrames + kLookaheadFrames : 0)) / 2);
		if (widestEnd - end < kMinSplitFrames)
			return false;
		SegmentPlan rest;
		if (!widest->EndAt(end, plan.frameSize, kWarmUpFrames, kLookaheadFrames, source.frames, rest))
			return true; // its reading got there first: look again
		auto stream = std::make_shared<SegmentStream>(nextIndex++, rest, source, kReadBlock);
		order.insert(order.begin() + static_cast<std::ptrdiff_t>(widestAt + 1), stream);
		pool.Submit(stream);
		fed += static_cast<int64_t>(kWarmUpFrames + kOverlapFrames + kLookaheadFrames) * plan.frameSize;
		return true;
	};
	try {
		if (byPosition) {
			handOut();
			// The segments read it all; one that stops short fails the
			// encode when it is joined.
			position = source.frames;
			result.framesRead = position;
		} else {
			while (true) {
				// Open the segments this block has samples for.
				while (nextOpen < plan.segments
						&& plans[static_cast<size_t>(nextOpen)].inputStart < position + kReadBlock) {
					auto stream = std::make_shared<SegmentStream>(nextOpen, plans[static_cast<size_t>(nextOpen)]);
					open.list.push_back(stream);
					order.push_back(stream);
					pool.Submit(stream);
					nextOpen++;
				}
				while (!pool.WaitForRoom(kInputBudget, kPatience))
					report();

				// The segments share the block until each is done with it;
				// then it is read into again.
				std::shared_ptr<Samples> block = blocks.Get();
				const sf_count_t got = block->Read(source.file, kReadBlock, result.readError);
				if (got < 0) {
					// A stream that stops decoding (a FLAC cut in a frame) or
					// cannot be read: the one-thread encode tells which.
					result.framesRead = position;
					return fail(ParallelResult::Failure::EndedEarly);
				}
				if (got == 0)
					break;
				const int64_t blockEnd = position + got;
				for (auto it = open.list.begin(); it != open.list.end();) {
					SegmentStream& stream = **it;
					const int64_t from = std::max(position, stream.Plan().inputStart);
					const int64_t to = std::min(blockEnd, stream.Plan().inputEnd);
					if (from < to) {
						BlockRange part{block, static_cast<size_t>(from - position) * channels,
							static_cast<size_t>(to - position) * channels};
						pool.Hold(part.Bytes());
						stream.Push(std::move(part));
					}
					if (stream.Plan().inputEnd <= blockEnd) {
						stream.Close(false);
						it = open.list.erase(it);
					} else {
						++it;
					}
				}
				position = blockEnd;
				report();
				merge(false);
				if (mergeFailure != ParallelResult::Failure::None)
					return fail(mergeFailure);
			}
			result.framesRead = position;

			// Every segment but the last has had all its input; one that ends
			// early (frames that fail to decode without an error, a file cut
			// short) is a failure, never a short MP3.
			if (position < source.frames || open.list.size() != 1 || !open.list.front()->Plan().last) {
				result.readError = EndedEarlyText(position, source.frames);
				return fail(ParallelResult::Failure::EndedEarly);
			}
			open.list.front()->Close(true);
			open.list.clear();
		}
		while (!finished && merged < order.size()) {
			idle = false;
			merge(true);
			if (mergeFailure != ParallelResult::Failure::None)
				return fail(mergeFailure);
			// A worker idle with segments still to hand out takes one of those.
			if (!handOut() && idle && splitting)
				splitting = split();
		}
	} catch (const std::bad_alloc&) {
		return fail(ParallelResult::Failure::Memory);
	}
	if (!finished)
		return fail(ParallelResult::Failure::Encode);
	if (!joiner.Finish() || !flush())
		return fail(ParallelResult::Failure::Write);

	// The Info frame for the whole stream, over the empty one written first.
	if (tag.empty() || tag.size() != infoFrame.size())
		return fail(ParallelResult::Failure::Encode);
	StreamTotals totals;
	totals.frames = static_cast<uint32_t>(joiner.Frames());
	totals.audioBytes = static_cast<uint32_t>(joiner.Bytes());
	totals.toc = joiner.Table().Entries();
	totals.musicCrc = joiner.MusicCrc();
	if (findGain) {
		int encoderDelay = 576;
		if (auto read = ReadInfoTag(tag.data(), tag.size()); read && read->lame)
			encoderDelay = read->encoderDelay;
		gain.AddSilence(static_cast<size_t>(
			FlushSilence(plan.frameSize, encoderDelay, joiner.Frames(), position)));
		totals.radioGain = gain.RadioGainTenths();
	}
	if (!PatchInfoTag(tag, totals))
		return fail(ParallelResult::Failure::Encode);
	if (const int error = write(tag.data(), tag.size(), 0); error != 0) {
		result.writeError = error;
		return fail(ParallelResult::Failure::Write);
	}
	result.enlargedFrames = joiner.EnlargedFrames();
	result.joins = joiner.Joins();
	for (size_t k = 1; k < order.size(); k++)
		result.starts.push_back(order[k]->CurrentPlan().firstFrame);
	return result;
}

} // namespace

ParallelResult EncodeParallel(const ParallelSource& source, const LameSetup& setup,
	const ParallelPlan& plan, const WriteFunction& write, const ReadProgress& progress)
{
	try {
		return Encode(source, setup, plan, write, progress);
	} catch (const std::bad_alloc&) {
		// The workers are stopped and joined on the way out.
		ParallelResult result;
		result.failure = ParallelResult::Failure::Memory;
		return result;
	}
}

} // namespace gogo
