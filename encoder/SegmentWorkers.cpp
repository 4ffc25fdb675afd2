#include "SegmentWorkers.h"

#include "InputReader.h"
#include "LameHandle.h"
#include "SegmentReader.h"

#include <algorithm>
#include <climits>
#include <csignal>
#include <new>
#include <system_error>

#include <pthread.h>

namespace gogo {

namespace {

// Samples handed to LAME at a time.
constexpr int kEncodeChunk = 8192;

// Encodes a block of frames sample frames; LAME's return value.
int EncodeBlock(lame_global_flags* gf, const Samples& block, size_t offset, int frames, int channels,
	std::vector<unsigned char>& buffer)
{
	const int size = static_cast<int>(buffer.size());
	switch (block.kind) {
	case SampleKind::Short: {
		// LAME's short functions take non-const buffers but only read them.
		short* p = const_cast<short*>(block.shorts.data() + offset);
		return channels == 2 ? lame_encode_buffer_interleaved(gf, p, frames, buffer.data(), size)
			: lame_encode_buffer(gf, p, p, frames, buffer.data(), size);
	}
	case SampleKind::Int: {
		const int* p = block.ints.data() + offset;
		return channels == 2 ? lame_encode_buffer_interleaved_int(gf, p, frames, buffer.data(), size)
			: lame_encode_buffer_int(gf, p, p, frames, buffer.data(), size);
	}
	case SampleKind::Float:
		break;
	}
	const float* p = block.floats.data() + offset;
	return channels == 2 ? lame_encode_buffer_interleaved_ieee_float(gf, p, frames, buffer.data(), size)
		: lame_encode_buffer_ieee_float(gf, p, p, frames, buffer.data(), size);
}

// The ReplayGain analysis of frames sample frames of block from offset.
void AnalyseBlock(ReplayGainAnalysis& gain, const Samples& block, size_t offset, size_t frames)
{
	switch (block.kind) {
	case SampleKind::Short: gain.AddShorts(block.shorts.data() + offset, frames); break;
	case SampleKind::Int: gain.AddInts(block.ints.data() + offset, frames); break;
	case SampleKind::Float: gain.AddFloats(block.floats.data() + offset, frames); break;
	}
}

} // namespace

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

std::string EndedEarlyText(int64_t framesRead, int64_t framesDeclared)
{
	return "it ended after " + std::to_string(framesRead) + " of the " + std::to_string(framesDeclared)
		+ " sample frames it declares";
}

SegmentStream::SegmentStream(int index, const SegmentPlan& plan, const ParallelSource& source,
	sf_count_t blockFrames)
	: fIndex(index), fPlan(plan), fSource(source),
	  fBlockFrames(blockFrames), fReadPosition(plan.inputStart), fReserved(plan.inputStart)
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
	// reader would. The block is claimed before it is read, so that the
	// segment is not ended before what it has read.
	int64_t inputEnd = 0;
	{
		std::lock_guard<std::mutex> lock(fLock);
		inputEnd = fPlan.inputEnd;
		if (fReadPosition >= inputEnd) {
			fDoneReading = true;
			return false;
		}
		fReserved = fReadPosition + std::min<int64_t>(fBlockFrames, inputEnd - fReadPosition);
	}
	const sf_count_t wanted = static_cast<sf_count_t>(fReserved - fReadPosition);
	std::shared_ptr<Samples> samples = fOwnBlocks->Get();
	const sf_count_t got = fReader->Read(*samples, wanted);
	if (got <= 0) {
		if (got < 0)
			fReadError = fReader->Error();
		else if (fReadPosition < std::min(inputEnd, source.frames))
			fReadError = EndedEarlyText(fReadPosition, source.frames);
		std::lock_guard<std::mutex> lock(fLock);
		fDoneReading = true;
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

void SegmentStream::Close(bool last)
{
	{
		std::lock_guard<std::mutex> lock(fLock);
		fClosed = true;
		fPlan.last = last;
		if (last)
			fPlan.plannedEnd = -1;
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

SegmentPlan SegmentStream::CurrentPlan()
{
	std::lock_guard<std::mutex> lock(fLock);
	return fPlan;
}

int64_t SegmentStream::ReadTo()
{
	std::lock_guard<std::mutex> lock(fLock);
	return fDoneReading ? INT64_MAX : fReserved;
}

bool SegmentStream::EndAt(int64_t end, int frameSize, int warmUp, int lookahead, int64_t inputFrames,
	SegmentPlan& rest)
{
	std::lock_guard<std::mutex> lock(fLock);
	if (!fSource || fDoneReading || end <= fPlan.firstFrame || end < warmUp || end * frameSize < fReserved
			|| end >= (fPlan.last ? inputFrames / frameSize : fPlan.plannedEnd))
		return false;
	const SegmentPlan before = fPlan;
	fPlan.last = false;
	fPlan.plannedEnd = end;
	fPlan.inputEnd = std::min(inputFrames, (end + fPlan.overlap + lookahead) * frameSize);
	fPlan.inputLength = fPlan.inputEnd - fPlan.inputStart;
	fPlan.gainEnd = end * frameSize;
	// The rest starts with a warm-up of its own and ends where this did.
	rest = before;
	rest.firstFrame = end;
	rest.warmUp = warmUp;
	rest.inputStart = (end - rest.warmUp) * frameSize;
	rest.gainFrom = end * frameSize;
	rest.inputLength = (before.last ? inputFrames : before.inputEnd) - rest.inputStart;
	return true;
}

WorkerPool::WorkerPool(const LameSetup& setup, int channels, const ReplayGainAnalysis* gain)
	: fSetup(setup), fChannels(channels), fGain(gain)
{
}

WorkerPool::~WorkerPool()
{
	Cancel();
	{
		std::lock_guard<std::mutex> lock(fLock);
		fClosing = true;
		// Segments nobody took: close them so that nothing waits on them.
		fQueue.clear();
	}
	fWork.notify_all();
	for (std::thread& thread : fThreads)
		thread.join();
}

int WorkerPool::Start(int count)
{
	// The threads inherit the mask: the cleanup signals go to the thread
	// that removes the temporary file.
	sigset_t set, previous;
	sigemptyset(&set);
	sigaddset(&set, SIGTERM);
	sigaddset(&set, SIGINT);
	sigaddset(&set, SIGHUP);
	const bool blocked = pthread_sigmask(SIG_BLOCK, &set, &previous) == 0;
	for (int i = 0; i < count; i++) {
		try {
			fThreads.emplace_back(&WorkerPool::Run, this);
		} catch (const std::system_error&) {
			break;
		} catch (const std::bad_alloc&) {
			break;
		}
	}
	if (blocked)
		pthread_sigmask(SIG_SETMASK, &previous, nullptr);
	return static_cast<int>(fThreads.size());
}

void WorkerPool::Submit(std::shared_ptr<SegmentStream> stream)
{
	{
		std::lock_guard<std::mutex> lock(fLock);
		fQueue.push_back(std::move(stream));
	}
	fWork.notify_all();
}

void WorkerPool::Hold(size_t bytes)
{
	std::lock_guard<std::mutex> lock(fLock);
	fHeld += bytes;
}

void WorkerPool::Release(size_t bytes)
{
	{
		std::lock_guard<std::mutex> lock(fLock);
		fHeld -= std::min(fHeld, bytes);
	}
	fRoom.notify_all();
}

bool WorkerPool::WaitForRoom(size_t budget, std::chrono::milliseconds patience)
{
	std::unique_lock<std::mutex> lock(fLock);
	return fRoom.wait_for(lock, patience, [&] {
		return fHeld <= budget || fBusy == fWaiting || fCancel.load();
	});
}

bool WorkerPool::Take(int index, std::chrono::milliseconds patience, SegmentOutput& output, bool* idle)
{
	std::unique_lock<std::mutex> lock(fLock);
	const auto someoneIdle = [&] {
		return idle != nullptr && fQueue.empty() && fBusy < static_cast<int>(fThreads.size());
	};
	// Without patience, only a look: a wait even for no time sleeps the
	// thread for the timer's slack (some 60 µs, for every block read).
	if (patience.count() > 0) {
		fDoneChanged.wait_for(lock, patience, [&] {
			return fDone.count(index) != 0 || fOutOfMemory || someoneIdle();
		});
	}
	if (idle != nullptr)
		*idle = someoneIdle();
	auto found = fDone.find(index);
	if (found == fDone.end()) {
		if (!fOutOfMemory)
			return false;
		output = SegmentOutput{};
		output.memory = true;
		return true;
	}
	output = std::move(found->second);
	fDone.erase(found);
	return true;
}

void WorkerPool::Cancel()
{
	fCancel.store(true);
	fWork.notify_all();
	fRoom.notify_all();
	fDoneChanged.notify_all();
}

bool WorkerPool::Next(SegmentStream& stream, BlockRange& block)
{
	if (stream.ReadsItself())
		return stream.Pop(block); // never waits for the reader
	{
		std::lock_guard<std::mutex> lock(fLock);
		fWaiting++;
	}
	fRoom.notify_all();
	const bool got = stream.Pop(block);
	{
		std::lock_guard<std::mutex> lock(fLock);
		fWaiting--;
	}
	return got;
}

void WorkerPool::Run()
{
	while (true) {
		std::shared_ptr<SegmentStream> stream;
		{
			std::unique_lock<std::mutex> lock(fLock);
			fWork.wait(lock, [this] { return fClosing || !fQueue.empty(); });
			if (fQueue.empty())
				return;
			stream = std::move(fQueue.front());
			fQueue.pop_front();
			fBusy++;
		}
		SegmentOutput output;
		try {
			output = Encode(*stream);
		} catch (const std::bad_alloc&) {
			output = SegmentOutput{};
			output.memory = true;
		}
		{
			std::lock_guard<std::mutex> lock(fLock);
			fBusy--;
			try {
				fDone[stream->Index()] = std::move(output);
			} catch (const std::bad_alloc&) {
				fOutOfMemory = true; // Take() reports it rather than wait
			}
		}
		fDoneChanged.notify_all();
		fRoom.notify_all(); // one busy worker fewer
	}
}

SegmentOutput WorkerPool::Encode(SegmentStream& stream)
{
	SegmentOutput output;
	LameHandle lame;
	lame_global_flags* gf = lame.Get();
	if (gf == nullptr) {
		output.memory = true;
		return output;
	}
	fSetup(gf);
	// Its end may yet be brought forward (EndAt): what depends on the end
	// is looked up as it is needed.
	const SegmentPlan plan = stream.CurrentPlan();
	if (plan.inputEnd != INT64_MAX && static_cast<unsigned long long>(plan.inputEnd - plan.inputStart) <= ULONG_MAX)
		lame_set_num_samples(gf, static_cast<unsigned long>(plan.inputEnd - plan.inputStart));
	// LAME's analysis would see only this segment; the segments' own, below,
	// are merged into the whole input's.
	lame_set_findReplayGain(gf, 0);
	if (lame_init_params(gf) < 0) {
		output.lameCode = -3;
		return output;
	}
	// The segment's MP3, reserved at once for the most LAME can make of
	// its input (only the pages written are ever touched): growing it
	// would copy it over and over.
	std::vector<unsigned char> raw;
	raw.reserve(static_cast<size_t>(plan.inputLength) * 5 / 4 + 7200);
	std::vector<unsigned char> buffer(static_cast<size_t>(kEncodeChunk) * 5 / 4 + 7200);
	if (fGain) {
		output.gain = *fGain;
		output.gain->StartAt(plan.inputStart, plan.gainFrom);
	}
	int64_t position = plan.inputStart;
	BlockRange block;
	const size_t channels = static_cast<size_t>(fChannels);
	while (Next(stream, block)) {
		const size_t bytes = block.Bytes();
		const size_t frames = block.Count() / channels;
		for (size_t done = 0; done < frames;) {
			if (fCancel.load())
				return output;
			const int n = static_cast<int>(std::min<size_t>(kEncodeChunk, frames - done));
			const int encoded = EncodeBlock(gf, *block.samples, block.begin + done * channels, n, fChannels,
				buffer);
			if (encoded < 0) {
				output.lameCode = encoded;
				return output;
			}
			raw.insert(raw.end(), buffer.begin(), buffer.begin() + encoded);
			done += static_cast<size_t>(n);
			fEncoded.fetch_add(n);
		}
		if (output.gain) {
			const int64_t gainEnd = stream.ReadsItself() ? stream.CurrentPlan().gainEnd : plan.gainEnd;
			if (position < gainEnd) {
				AnalyseBlock(*output.gain, *block.samples, block.begin,
					static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(frames), gainEnd - position)));
			}
		}
		position += static_cast<int64_t>(frames);
		block = BlockRange();
		if (!stream.ReadsItself())
			Release(bytes);
	}
	if (fCancel.load())
		return output;
	if (stream.ReadFailed()) {
		output.readFailed = true;
		output.readError = stream.ReadError();
		output.framesRead = stream.ReadPosition();
		return output;
	}
	const SegmentPlan ended = stream.CurrentPlan();
	const bool last = ended.last;
	if (last) {
		const int flushed = lame_encode_flush(gf, buffer.data(), static_cast<int>(buffer.size()));
		if (flushed < 0) {
			output.lameCode = flushed;
			return output;
		}
		raw.insert(raw.end(), buffer.begin(), buffer.begin() + flushed);
		const size_t tagSize = lame_get_lametag_frame(gf, nullptr, 0);
		if (tagSize > 0) {
			output.tag.resize(tagSize);
			if (lame_get_lametag_frame(gf, output.tag.data(), tagSize) != tagSize)
				output.tag.clear();
		}
	}

	// LAME's stream starts with an empty frame where the Info frame goes.
	FrameHeader first;
	if (raw.size() < 4 || !ParseFrameHeader(raw.data(), first)
			|| raw.size() < static_cast<size_t>(first.frameBytes)) {
		return output;
	}
	const size_t infoBytes = static_cast<size_t>(first.frameBytes);
	SplitResult split = SplitFrames(raw.data() + infoBytes, raw.size() - infoBytes, false);
	if (!split.ok)
		return output; // lameCode 0: not a stream that can be joined
	if (stream.Index() == 0)
		output.infoFrame.assign(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(infoBytes));
	raw = std::vector<unsigned char>();
	std::vector<Mp3Frame>& frames = split.frames;
	const size_t drop = std::min(frames.size(), static_cast<size_t>(plan.warmUp));
	frames.erase(frames.begin(), frames.begin() + static_cast<std::ptrdiff_t>(drop));
	if (!last) {
		const int64_t keep = ended.plannedEnd + ended.overlap - ended.firstFrame;
		if (static_cast<int64_t>(frames.size()) > keep)
			frames.resize(static_cast<size_t>(keep));
	}
	output.frames = std::move(frames);
	output.ok = true;
	return output;
}

} // namespace gogo
