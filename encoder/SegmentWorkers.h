// The worker threads of the parallel encoder and what they work on: each
// segment's samples stream in (the reader appends blocks as it reads them)
// and its own LAME encoder turns them into frames as they come, so that a
// segment's encode starts with its first block rather than its last. The
// blocks a worker has encoded are freed at once; the bytes held, across all
// segments, are counted so that the reader can wait when they pass its
// budget.
#pragma once

#include "Mp3Frame.h"
#include "ParallelEncoder.h"
#include "ReplayGain.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace gogo {

class SegmentReader;

// Samples as read: 16-bit (and 8-bit) PCM as shorts, which halves what
// segments hold and gives LAME the same values as ints would; other PCM as
// ints, float and compressed formats as floats (as the one-thread encode).
enum class SampleKind { Short, Int, Float };

SampleKind KindOf(const ParallelSource& source);

struct Samples {
	SampleKind kind = SampleKind::Int;
	std::vector<short> shorts;
	std::vector<int> ints;
	std::vector<float> floats;

	void Resize(size_t count);
	size_t Bytes() const;
	size_t Count() const { return shorts.size() + ints.size() + floats.size(); }
	// Reads up to frames sample frames: how many, 0 at the end, or -1 on an
	// error, whose text (libsndfile's) goes to error.
	sf_count_t Read(SNDFILE* file, sf_count_t frames, std::string& error);
};

// The reader's blocks, used again once the segments and the analysis are
// done with them: reading then neither allocates nor faults in fresh
// memory for every block. What is held at once is bounded by the reader's
// budget either way; the blocks given back are all there is in the pool.
class BlockPool {
public:
	BlockPool(SampleKind kind, size_t count);
	// A block of count samples of kind, given back to the pool when the
	// last owner lets it go (from any thread).
	std::shared_ptr<Samples> Get();

private:
	struct Free {
		std::mutex lock;
		std::vector<std::unique_ptr<Samples>> blocks;
	};
	SampleKind fKind;
	size_t fCount;
	std::shared_ptr<Free> fFree; // the blocks' deleters share it
};

// Samples [begin, end) of a block as read. The reader reads each block once
// and the segments whose input it holds, and the ReplayGain analysis, share
// it: no copies, and the block's memory goes when the last of them is done.
struct BlockRange {
	std::shared_ptr<const Samples> samples;
	size_t begin = 0;
	size_t end = 0;

	size_t Count() const { return end - begin; }
	size_t Bytes() const;
};

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

// What an input that ends before the length it declares is said to do.
std::string EndedEarlyText(int64_t framesRead, int64_t framesDeclared);

struct SegmentOutput {
	bool ok = false;
	bool memory = false;
	int lameCode = 0;
	bool readFailed = false; // a segment that reads itself could not
	std::string readError;
	int64_t framesRead = 0;  // of the input, where the reading stopped
	std::vector<Mp3Frame> frames;
	std::vector<unsigned char> infoFrame; // the first segment's empty Info frame
	std::vector<unsigned char> tag;       // the last segment's Info frame
	std::optional<ReplayGainAnalysis> gain; // of its part of the input
};

// The blocks of one segment, from the reader to a worker, or read by the
// worker itself from the input (by position).
class SegmentStream {
public:
	SegmentStream(int index, const SegmentPlan& plan) : fIndex(index), fPlan(plan) {}
	// A segment that reads its own input from source, blockFrames at a time.
	SegmentStream(int index, const SegmentPlan& plan, const ParallelSource& source, sf_count_t blockFrames);
	~SegmentStream();
	int Index() const { return fIndex; }
	// The plan as made: the reader's view of a segment read in order (only
	// the reader changes it, with Close).
	const SegmentPlan& Plan() const { return fPlan; }
	// The plan as it stands: a segment that reads itself may be ended
	// early (EndAt) while it runs.
	SegmentPlan CurrentPlan();
	bool ReadsItself() const { return fSource.has_value(); }
	// For one that reads itself, once Pop has said false: why it stopped
	// before its end, if it did.
	bool ReadFailed() const { return !fReadError.empty(); }
	const std::string& ReadError() const { return fReadError; }
	int64_t ReadPosition() const { return fReadPosition; }

	// Reader side.
	void Push(BlockRange block);
	// No more blocks; last makes it the last segment (flushed, tagged).
	void Close(bool last);

	// Worker side: the next block, or false once closed and drained.
	bool Pop(BlockRange& block);

	// For one that reads itself: where its reading has got to (the block
	// being read included), and whether it is done reading.
	int64_t ReadTo();
	// Ends it at the stream's frame end instead (keeping its overlap frames
	// and lookahead frames more of input past it), if it reads itself, is
	// still reading and has not read past end's input; false otherwise.
	// The plan of the rest of its range, with warmUp frames of warm-up,
	// goes to rest.
	bool EndAt(int64_t end, int frameSize, int warmUp, int lookahead, int64_t inputFrames, SegmentPlan& rest);

private:
	bool ReadNext(BlockRange& block);

	int fIndex;
	SegmentPlan fPlan;
	// Reading itself (only the worker's thread touches these).
	std::optional<ParallelSource> fSource;
	sf_count_t fBlockFrames = 0;
	std::unique_ptr<SegmentReader> fReader;
	std::unique_ptr<BlockPool> fOwnBlocks;
	int64_t fReadPosition = 0;
	std::string fReadError;
	// Under fLock: the end of the block being read, and whether the
	// reading is over (nothing may be taken off its end any more).
	int64_t fReserved = 0;
	bool fDoneReading = false;
	// Fed by the reader.
	std::mutex fLock;
	std::condition_variable fChanged;
	std::deque<BlockRange> fBlocks;
	bool fClosed = false;
};

class WorkerPool {
public:
	// gain: the ReplayGain analysis each segment makes of its part, as set
	// up for the input (nullptr: none).
	WorkerPool(const LameSetup& setup, int channels, const ReplayGainAnalysis* gain);
	~WorkerPool(); // stops (abandoning segments in progress) and joins
	WorkerPool(const WorkerPool&) = delete;
	WorkerPool& operator=(const WorkerPool&) = delete;

	// Starts up to count threads with the cleanup signals blocked; returns
	// how many started.
	int Start(int count);

	// Hands a segment to the next free worker (segments go in order).
	void Submit(std::shared_ptr<SegmentStream> stream);

	// Counts a block's bytes in (the reader, before pushing it).
	void Hold(size_t bytes);
	// Waits until the bytes held are within budget, or every worker with a
	// segment waits for its input (when only more reading frees any); false
	// when that took longer than patience.
	bool WaitForRoom(size_t budget, std::chrono::milliseconds patience);

	// Segment index's output, waiting for it at most patience; false if it
	// is not there yet. With idle, the wait also ends when a worker has
	// nothing to do, and *idle says whether one has.
	bool Take(int index, std::chrono::milliseconds patience, SegmentOutput& output, bool* idle = nullptr);

	// The sample frames the workers have encoded so far (warm-up included).
	int64_t EncodedFrames() const { return fEncoded.load(); }

	// Abandons the segments in progress.
	void Cancel();

private:
	void Run();
	SegmentOutput Encode(SegmentStream& stream);
	// The stream's next block, counting this worker as waiting meanwhile.
	bool Next(SegmentStream& stream, BlockRange& block);
	void Release(size_t bytes);

	const LameSetup& fSetup;
	int fChannels;
	const ReplayGainAnalysis* fGain;
	std::atomic<bool> fCancel{false};
	std::atomic<int64_t> fEncoded{0};
	std::mutex fLock;
	// Each waiter has its own, so that a worker taking a block wakes only
	// the reader waiting for room, and the calling thread waiting for a
	// segment is woken once the segment is done.
	std::condition_variable fWork; // segments queued, or closing
	std::condition_variable fRoom; // bytes released, workers waiting for input
	std::condition_variable fDoneChanged; // a segment done
	std::deque<std::shared_ptr<SegmentStream>> fQueue;
	std::map<int, SegmentOutput> fDone;
	size_t fHeld = 0;
	int fBusy = 0;    // workers with a segment
	int fWaiting = 0; // of those, waiting for its next block
	bool fClosing = false;
	bool fOutOfMemory = false; // an output could not be stored
	std::vector<std::thread> fThreads;
};

} // namespace gogo
