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
#include "SampleBlocks.h"
#include "SegmentStream.h"

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

struct SegmentOutput {
	bool ok = false;
	bool memory = false;
	int lameCode = 0;
	bool lameSetup = false;  // lameCode is lame_init_params's
	bool readFailed = false; // a segment that reads itself could not
	std::string readError;
	int64_t framesRead = 0;  // of the input, where the reading stopped
	std::vector<Mp3Frame> frames;
	std::vector<unsigned char> infoFrame; // the first segment's empty Info frame
	std::vector<unsigned char> tag;       // the last segment's Info frame
	std::optional<ReplayGainAnalysis> gain; // of its part of the input
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
	// is not there yet.
	bool Take(int index, std::chrono::milliseconds patience, SegmentOutput& output);

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
