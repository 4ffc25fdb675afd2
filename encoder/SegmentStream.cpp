#include "SegmentStream.h"

#include "SegmentReader.h"

#include <algorithm>

namespace gogo {

std::string EndedEarlyText(int64_t framesRead, int64_t framesDeclared)
{
	return "it ended after " + std::to_string(framesRead) + " of the " + std::to_string(framesDeclared)
		+ " sample frames it declares";
}

SegmentStream::SegmentStream(int index, const SegmentPlan& plan, const ParallelSource& source,
	sf_count_t blockFrames)
	: fIndex(index), fPlan(plan), fSource(source),
	  fBlockFrames(blockFrames), fReadPosition(plan.inputStart)
{
}

SegmentStream::~SegmentStream() = default;

bool SegmentStream::ReadNext(BlockRange& block)
{
	const ParallelSource& source = *fSource;
	if (!fReader) {
		fReader = std::make_unique<SegmentReader>();
		if (!fReader->Open(source, fPlan.inputStart)) {
			fReadError = fReader->Error();
			return false;
		}
		const size_t channels = static_cast<size_t>(source.channels);
		fOwnBlocks = std::make_unique<BlockPool>(KindOf(source), static_cast<size_t>(fBlockFrames) * channels);
	}
	// The last segment (its end INT64_MAX) reads to the input's end, as the
	// reader would.
	const int64_t inputEnd = fPlan.inputEnd;
	if (fReadPosition >= inputEnd)
		return false;
	const sf_count_t wanted =
		static_cast<sf_count_t>(std::min<int64_t>(fBlockFrames, inputEnd - fReadPosition));
	std::shared_ptr<Samples> samples = fOwnBlocks->Get();
	const sf_count_t got = fReader->Read(*samples, wanted);
	if (got <= 0) {
		if (got < 0)
			fReadError = fReader->Error();
		else if (fReadPosition < std::min(inputEnd, source.frames))
			fReadError = EndedEarlyText(fReadPosition, source.frames);
		return false;
	}
	fReadPosition += got;
	block = BlockRange{std::move(samples), 0, static_cast<size_t>(got) * static_cast<size_t>(source.channels)};
	return true;
}

void SegmentStream::Push(BlockRange block)
{
	{
		std::lock_guard<std::mutex> lock(fLock);
		fBlocks.push_back(std::move(block));
	}
	fChanged.notify_all();
}

void SegmentStream::Close()
{
	{
		std::lock_guard<std::mutex> lock(fLock);
		fClosed = true;
	}
	fChanged.notify_all();
}

bool SegmentStream::Pop(BlockRange& block)
{
	if (fSource)
		return ReadNext(block);
	std::unique_lock<std::mutex> lock(fLock);
	fChanged.wait(lock, [this] { return fClosed || !fBlocks.empty(); });
	if (fBlocks.empty())
		return false;
	block = std::move(fBlocks.front());
	fBlocks.pop_front();
	return true;
}

} // namespace gogo
