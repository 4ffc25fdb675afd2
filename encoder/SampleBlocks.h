// The samples the parallel encoder reads, in blocks that the segments and
// the ReplayGain analysis share without copies, and that are used again once
// they are all done with them.
#pragma once

#include "ParallelEncoder.h"

#include <sndfile.h>

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace gogo {

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

} // namespace gogo
