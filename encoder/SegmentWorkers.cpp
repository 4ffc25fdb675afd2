#include "SegmentWorkers.h"

#include "InputReader.h"
#include "LameHandle.h"
#include "SegmentPlan.h"
#include "SegmentReader.h"
#include "SignalCleanup.h"

#include <algorithm>
#include <climits>
#include <new>
#include <system_error>

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
	SignalBlock block;
	for (int i = 0; i < count; i++) {
		try {
			fThreads.emplace_back(&WorkerPool::Run, this);
		} catch (const std::system_error&) {
			break;
		} catch (const std::bad_alloc&) {
			break;
		}
	}
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

bool WorkerPool::Take(int index, std::chrono::milliseconds patience, SegmentOutput& output)
{
	std::unique_lock<std::mutex> lock(fLock);
	// Without patience, only a look: a wait even for no time sleeps the
	// thread for the timer's slack (some 60 µs, for every block read).
	if (patience.count() > 0)
		fDoneChanged.wait_for(lock, patience, [&] { return fDone.count(index) != 0 || fOutOfMemory; });
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
	const SegmentPlan& plan = stream.Plan();
	if (plan.inputEnd != INT64_MAX && static_cast<unsigned long long>(plan.inputEnd - plan.inputStart) <= ULONG_MAX)
		lame_set_num_samples(gf, static_cast<unsigned long>(plan.inputEnd - plan.inputStart));
	// LAME's analysis would see only this segment; the segments' own, below,
	// are merged into the whole input's.
	lame_set_findReplayGain(gf, 0);
	if (const int code = lame_init_params(gf); code < 0) {
		output.lameCode = code;
		output.lameSetup = true;
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
			const int64_t gainEnd = plan.gainEnd;
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
	const bool last = plan.last;
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
	// The first frames of the warm-up go; its last ones stay for a join
	// that finds nothing in the overlap to fit (SegmentJoiner).
	const size_t drop = std::min(frames.size(), static_cast<size_t>(plan.warmUp > 0 ? kSettleFrames : 0));
	frames.erase(frames.begin(), frames.begin() + static_cast<std::ptrdiff_t>(drop));
	if (!last) {
		const int64_t firstKept = plan.firstFrame - static_cast<int64_t>(plan.warmUp) + static_cast<int64_t>(drop);
		const int64_t keep = plan.plannedEnd + plan.overlap - firstKept;
		if (static_cast<int64_t>(frames.size()) > keep)
			frames.resize(static_cast<size_t>(keep));
	}
	output.frames = std::move(frames);
	output.ok = true;
	return output;
}

} // namespace gogo
