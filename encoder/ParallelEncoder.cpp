#include "ParallelEncoder.h"

#include "LameTag.h"
#include "Mp3Frame.h"
#include "ReplayGain.h"
#include "SegmentJoiner.h"
#include "SegmentPlan.h"
#include "SegmentReader.h"
#include "SegmentWorkers.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <sched.h>
#include <unistd.h>

namespace gogo {

namespace {

// The input held at once, read but not yet encoded.
constexpr size_t kInputBudget = size_t{16} << 20;
constexpr sf_count_t kReadBlock = 8192;
constexpr size_t kWriteBlock = size_t{256} << 10;
// How long the calling thread waits for the workers before reporting
// progress.
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

// One parallel encode: the calling thread hands the plan's segments to the
// workers in order (and, where the input is read in order, reads it for
// them), then joins their frames in order as they are done and writes the
// Info frame for the whole stream. Nothing here depends on which worker
// ran a segment or when: the bytes follow from the plan alone.
class Coordinator {
public:
	Coordinator(const ParallelSource& source, const LameSetup& setup, const ParallelPlan& plan,
		const WriteFunction& write, const ReadProgress& progress)
		:
		fSource(source),
		fPlan(plan),
		fWrite(write),
		fProgress(progress),
		fFindGain(plan.replayGain && fFresh.Init(source.sampleRate, source.channels,
			plan.outputChannels, plan.scale, plan.scaleLeft, plan.scaleRight)),
		fPool(setup, source.channels, fFindGain ? &fFresh : nullptr),
		fJoiner([this](const unsigned char* data, size_t size) { return Buffer(data, size); },
			kOverlapFrames, kWarmUpFrames - kSettleFrames),
		fBlocks(KindOf(source), static_cast<size_t>(kReadBlock) * static_cast<size_t>(source.channels))
	{
		for (const SegmentPlan& segment : plan.segments)
			fFed += std::min(segment.inputEnd, source.frames) - segment.inputStart;
	}

	~Coordinator()
	{
		// However the encode ends, no worker waits for more of a segment.
		for (const auto& stream : fOpen)
			stream->Close();
	}

	Coordinator(const Coordinator&) = delete;
	Coordinator& operator=(const Coordinator&) = delete;

	ParallelResult Run()
	{
		if (fPool.Start(fPlan.threads) == 0) {
			fResult.failure = ParallelResult::Failure::NoThreads;
			return fResult;
		}
		if (fPlan.byPosition) {
			// The segments read it all; one that stops short fails the
			// encode when it is joined.
			HandOut();
			fPosition = fSource.frames;
		} else if (!ReadInOrder()) {
			return fResult;
		}
		fResult.framesRead = fPosition;
		while (!fFinished && fMerged < fOrder.size()) {
			if (!Merge(true))
				return fResult;
			HandOut();
		}
		if (!fFinished)
			return Fail(ParallelResult::Failure::Encode);
		if (!Finish())
			return fResult;
		fResult.enlargedFrames = fJoiner.EnlargedFrames();
		fResult.joins = fJoiner.Joins();
		return fResult;
	}

private:
	ParallelResult Fail(ParallelResult::Failure failure)
	{
		fPool.Cancel();
		fResult.failure = failure;
		if (failure == ParallelResult::Failure::Write && fResult.writeError == 0)
			fResult.writeError = fWriteError != 0 ? fWriteError : EIO;
		return fResult;
	}

	// The joined frames go out in writes of kWriteBlock bytes, not frame by
	// frame.
	bool Buffer(const unsigned char* data, size_t size)
	{
		fPending.insert(fPending.end(), data, data + size);
		return fPending.size() < kWriteBlock || Flush();
	}

	bool Flush()
	{
		fWriteError = fPending.empty() ? 0 : fWrite(fPending.data(), fPending.size(), -1);
		fPending.clear();
		return fWriteError == 0;
	}

	// Progress is the share of the segments' input encoded, in the input's
	// frames (so that it moves with the encoding, not with the reading).
	void Report()
	{
		if (!fProgress || fFed <= 0)
			return;
		const double share = static_cast<double>(fPool.EncodedFrames()) / static_cast<double>(fFed);
		const int64_t done = std::min(fSource.frames,
			static_cast<int64_t>(share * static_cast<double>(fSource.frames)));
		if (done > fReported) {
			fReported = done;
			fProgress(done);
		}
	}

	// Where every segment reads its own input, the segments are handed out
	// two rounds ahead of the joining: a worker that runs ahead of another
	// holds no more than that many segments' MP3s.
	void HandOut()
	{
		const size_t ahead = 2 * static_cast<size_t>(fPlan.threads);
		while (fPlan.byPosition && fNextOpen < fPlan.segments.size() && fOrder.size() - fMerged < ahead) {
			fOrder.push_back(std::make_shared<SegmentStream>(static_cast<int>(fNextOpen),
				fPlan.segments[fNextOpen], fSource, kReadBlock));
			fPool.Submit(fOrder.back());
			fNextOpen++;
		}
	}

	// Reads the input once, in order, handing each block to the segments
	// whose input it holds; they are handed out as the reading reaches them.
	bool ReadInOrder()
	{
		const size_t channels = static_cast<size_t>(fSource.channels);
		while (true) {
			while (fNextOpen < fPlan.segments.size()
					&& fPlan.segments[fNextOpen].inputStart < fPosition + kReadBlock) {
				auto stream = std::make_shared<SegmentStream>(static_cast<int>(fNextOpen),
					fPlan.segments[fNextOpen]);
				fOpen.push_back(stream);
				fOrder.push_back(stream);
				fPool.Submit(stream);
				fNextOpen++;
			}
			while (!fPool.WaitForRoom(kInputBudget, kPatience))
				Report();

			// The segments share the block until each is done with it; then
			// it is read into again.
			std::shared_ptr<Samples> block = fBlocks.Get();
			const sf_count_t got = block->Read(fSource.file, kReadBlock, fResult.readError);
			if (got < 0) {
				// A stream that stops decoding (a FLAC cut in a frame) or
				// cannot be read: the one-thread encode tells which.
				fResult.framesRead = fPosition;
				Fail(ParallelResult::Failure::EndedEarly);
				return false;
			}
			if (got == 0)
				break;
			const int64_t blockEnd = fPosition + got;
			for (auto it = fOpen.begin(); it != fOpen.end();) {
				SegmentStream& stream = **it;
				const int64_t from = std::max(fPosition, stream.Plan().inputStart);
				const int64_t to = std::min(blockEnd, stream.Plan().inputEnd);
				if (from < to) {
					BlockRange part{block, static_cast<size_t>(from - fPosition) * channels,
						static_cast<size_t>(to - fPosition) * channels};
					fPool.Hold(part.Bytes());
					stream.Push(std::move(part));
				}
				if (stream.Plan().inputEnd <= blockEnd) {
					stream.Close();
					it = fOpen.erase(it);
				} else {
					++it;
				}
			}
			fPosition = blockEnd;
			Report();
			if (!Merge(false))
				return false;
		}
		// Every segment but the last has had all its input; an input that
		// ends early (frames that fail to decode without an error, a file cut
		// short) is never a short MP3 here.
		if (fPosition < fSource.frames || fOpen.size() != 1 || !fOpen.front()->Plan().last) {
			fResult.readError = EndedEarlyText(fPosition, fSource.frames);
			fResult.framesRead = fPosition;
			Fail(ParallelResult::Failure::EndedEarly);
			return false;
		}
		fOpen.front()->Close();
		fOpen.clear();
		return true;
	}

	// Joins the segments that are done, in order; with wait, waits for the
	// next one. False (with the result's failure set) when one failed.
	bool Merge(bool wait)
	{
		while (fMerged < fOrder.size()) {
			SegmentOutput output;
			if (!fPool.Take(fOrder[fMerged]->Index(), wait ? kPatience : std::chrono::milliseconds(0),
					output)) {
				if (!wait)
					return true;
				Report();
				continue;
			}
			wait = false;
			const ParallelResult::Failure failure = Join(output, fOrder[fMerged]->Plan());
			if (failure != ParallelResult::Failure::None) {
				Fail(failure);
				return false;
			}
			fMerged++;
		}
		return true;
	}

	// One segment's output into the stream.
	ParallelResult::Failure Join(SegmentOutput& output, const SegmentPlan& segment)
	{
		if (!output.ok) {
			if (output.readFailed) {
				fResult.readError = output.readError;
				fResult.framesRead = output.framesRead;
				return ParallelResult::Failure::Read;
			}
			if (output.memory)
				return ParallelResult::Failure::Memory;
			fResult.lameCode = output.lameCode;
			fResult.lameSetup = output.lameSetup;
			return ParallelResult::Failure::Encode;
		}
		if (fFindGain) {
			if (!output.gain)
				return ParallelResult::Failure::Encode;
			if (fMerged == 0)
				fGain = std::move(*output.gain);
			else if (!fGain.Merge(*output.gain))
				return ParallelResult::Failure::Encode;
		}
		if (fMerged == 0) {
			fInfoFrame = std::move(output.infoFrame);
			fWriteError = fInfoFrame.empty() ? 0 : fWrite(fInfoFrame.data(), fInfoFrame.size(), -1);
			if (fWriteError != 0)
				return ParallelResult::Failure::Write;
		}
		const int64_t first = segment.firstFrame - (segment.warmUp > 0 ? segment.warmUp - kSettleFrames : 0);
		if (!fJoiner.Add(first, segment.firstFrame, segment.last ? -1 : segment.plannedEnd,
				std::move(output.frames))) {
			return fJoiner.SinkFailed() ? ParallelResult::Failure::Write : ParallelResult::Failure::Encode;
		}
		if (segment.last) {
			fTag = std::move(output.tag);
			fFinished = true;
		}
		return ParallelResult::Failure::None;
	}

	// The rest of the stream out, and the Info frame for the whole of it
	// over the empty one written first.
	bool Finish()
	{
		if (!fJoiner.Finish() || !Flush()) {
			Fail(ParallelResult::Failure::Write);
			return false;
		}
		if (fTag.empty() || fTag.size() != fInfoFrame.size()) {
			Fail(ParallelResult::Failure::Encode);
			return false;
		}
		StreamTotals totals;
		totals.frames = static_cast<uint32_t>(fJoiner.Frames());
		totals.audioBytes = static_cast<uint32_t>(fJoiner.Bytes());
		totals.toc = fJoiner.Table().Entries();
		totals.musicCrc = fJoiner.MusicCrc();
		if (fFindGain) {
			int encoderDelay = 576;
			if (auto read = ReadInfoTag(fTag.data(), fTag.size()); read && read->lame)
				encoderDelay = read->encoderDelay;
			fGain.AddSilence(static_cast<size_t>(
				FlushSilence(fPlan.frameSize, encoderDelay, fJoiner.Frames(), fPosition)));
			totals.radioGain = fGain.RadioGainTenths();
		}
		if (!PatchInfoTag(fTag, totals)) {
			Fail(ParallelResult::Failure::Encode);
			return false;
		}
		if (const int error = fWrite(fTag.data(), fTag.size(), 0); error != 0) {
			fResult.writeError = error;
			Fail(ParallelResult::Failure::Write);
			return false;
		}
		return true;
	}

	const ParallelSource& fSource;
	const ParallelPlan& fPlan;
	const WriteFunction& fWrite;
	const ReadProgress& fProgress;
	// Each segment analyses its own part (from a copy of fFresh, which the
	// workers share and nothing changes); the parts are merged into fGain
	// as they are joined.
	ReplayGainAnalysis fFresh;
	bool fFindGain;
	ReplayGainAnalysis fGain;
	WorkerPool fPool;
	SegmentJoiner fJoiner;
	BlockPool fBlocks;
	// The segments handed out, in the stream's order; those still being
	// read in order.
	std::vector<std::shared_ptr<SegmentStream>> fOrder;
	std::vector<std::shared_ptr<SegmentStream>> fOpen;
	size_t fNextOpen = 0;
	size_t fMerged = 0;
	bool fFinished = false;
	int64_t fPosition = 0; // of the reading in order
	int64_t fFed = 0;
	int64_t fReported = -1;
	std::vector<unsigned char> fPending;
	int fWriteError = 0;
	std::vector<unsigned char> fInfoFrame, fTag;
	ParallelResult fResult;
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

ParallelResult EncodeParallel(const ParallelSource& source, const LameSetup& setup,
	const ParallelPlan& plan, const WriteFunction& write, const ReadProgress& progress)
{
	try {
		Coordinator coordinator(source, setup, plan, write, progress);
		return coordinator.Run();
	} catch (const std::bad_alloc&) {
		// The workers are stopped and joined on the way out.
		ParallelResult result;
		result.failure = ParallelResult::Failure::Memory;
		return result;
	}
}

} // namespace gogo
