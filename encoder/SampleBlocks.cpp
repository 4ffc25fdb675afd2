#include "SampleBlocks.h"

#include "InputReader.h"

#include <new>

namespace gogo {

SampleKind KindOf(const ParallelSource& source)
{
	if (source.asFloat)
		return SampleKind::Float;
	switch (source.format & SF_FORMAT_SUBMASK) {
	case SF_FORMAT_PCM_16:
	case SF_FORMAT_PCM_S8:
	case SF_FORMAT_PCM_U8:
		return SampleKind::Short;
	default:
		return SampleKind::Int;
	}
}

void Samples::Resize(size_t count)
{
	switch (kind) {
	case SampleKind::Short: shorts.resize(count); break;
	case SampleKind::Int: ints.resize(count); break;
	case SampleKind::Float: floats.resize(count); break;
	}
}

size_t Samples::Bytes() const
{
	return shorts.size() * sizeof(short) + ints.size() * sizeof(int) + floats.size() * sizeof(float);
}

BlockPool::BlockPool(SampleKind kind, size_t count)
	: fKind(kind), fCount(count), fFree(std::make_shared<Free>())
{
}

std::shared_ptr<Samples> BlockPool::Get()
{
	std::unique_ptr<Samples> block;
	{
		std::lock_guard<std::mutex> lock(fFree->lock);
		if (!fFree->blocks.empty()) {
			block = std::move(fFree->blocks.back());
			fFree->blocks.pop_back();
		}
	}
	if (!block) {
		block = std::make_unique<Samples>();
		block->kind = fKind;
		block->Resize(fCount);
	}
	std::shared_ptr<Free> free = fFree;
	return std::shared_ptr<Samples>(block.release(), [free](Samples* given) {
		std::unique_ptr<Samples> owned(given);
		std::lock_guard<std::mutex> lock(free->lock);
		try {
			free->blocks.push_back(std::move(owned));
		} catch (const std::bad_alloc&) {
			// Not kept: freed here instead.
		}
	});
}

size_t BlockRange::Bytes() const
{
	if (!samples)
		return 0;
	return Count() * (samples->kind == SampleKind::Short ? sizeof(short)
		: samples->kind == SampleKind::Int ? sizeof(int) : sizeof(float));
}

sf_count_t Samples::Read(SNDFILE* file, sf_count_t frames, std::string& error)
{
	sf_count_t got = 0;
	switch (kind) {
	case SampleKind::Short: got = sf_readf_short(file, shorts.data(), frames); break;
	case SampleKind::Int: got = sf_readf_int(file, ints.data(), frames); break;
	case SampleKind::Float:
		got = sf_readf_float(file, floats.data(), frames);
		// As on one thread: LAME must never see a NaN, an infinity or a
		// sample far past full scale.
		if (got > 0 && frames > 0) {
			const size_t perFrame = floats.size() / static_cast<size_t>(frames);
			ClipFloatSamples(floats.data(), std::min(floats.size(), static_cast<size_t>(got) * perFrame));
		}
		break;
	}
	if (got < 0 || (got == 0 && sf_error(file) != SF_ERR_NO_ERROR)) {
		error = ReadErrorText(file);
		return -1;
	}
	return got;
}

} // namespace gogo
