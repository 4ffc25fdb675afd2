// One segment's input on its way to the worker that encodes it: blocks
// pushed by the reader in order, or read by the worker itself by position.
#pragma once

#include "ParallelEncoder.h"
#include "SampleBlocks.h"

#include <sndfile.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace gogo {

class SegmentReader;

// What an input that ends before the length it declares is said to do.
std::string EndedEarlyText(int64_t framesRead, int64_t framesDeclared);

// The blocks of one segment, from the reader to a worker, or read by the
// worker itself from the input (by position).
class SegmentStream {
public:
	SegmentStream(int index, const SegmentPlan& plan) : fIndex(index), fPlan(plan) {}
	// A segment that reads its own input from source, blockFrames at a time.
	SegmentStream(int index, const SegmentPlan& plan, const ParallelSource& source, sf_count_t blockFrames);
	~SegmentStream();
	int Index() const { return fIndex; }
	const SegmentPlan& Plan() const { return fPlan; }
	bool ReadsItself() const { return fSource.has_value(); }
	// For one that reads itself, once Pop has said false: why it stopped
	// before its end, if it did.
	bool ReadFailed() const { return !fReadError.empty(); }
	const std::string& ReadError() const { return fReadError; }
	int64_t ReadPosition() const { return fReadPosition; }

	// Reader side.
	void Push(BlockRange block);
	// No more blocks.
	void Close();

	// Worker side: the next block, or false once closed and drained.
	bool Pop(BlockRange& block);

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
	// Fed by the reader.
	std::mutex fLock;
	std::condition_variable fChanged;
	std::deque<BlockRange> fBlocks;
	bool fClosed = false;
};

} // namespace gogo
