// Reading the input's samples: libsndfile, a block ahead of the encoder.
#pragma once

#include "SignalCleanup.h"

#include <sndfile.h>

#include <condition_variable>
#include <cstring>
#include <new>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace gogo {

class SoundFile {
public:
	SoundFile() = default;
	~SoundFile()
	{
		if (fFile != nullptr)
			sf_close(fFile);
	}
	SoundFile(const SoundFile&) = delete;
	SoundFile& operator=(const SoundFile&) = delete;
	bool Open(int fd)
	{
		std::memset(&fInfo, 0, sizeof(fInfo));
		fFile = sf_open_fd(fd, SFM_READ, &fInfo, SF_FALSE);
		return fFile != nullptr;
	}
	SNDFILE* Get() const { return fFile; }
	const SF_INFO& Info() const { return fInfo; }

private:
	SNDFILE* fFile = nullptr;
	SF_INFO fInfo;
};

// One line from libsndfile's error text.
std::string OneLine(const char* text);

// libsndfile's text for the last error on file; never empty.
std::string ReadErrorText(SNDFILE* file);

// Whether the samples of a format are read as floats (else as ints).
bool ReadsAsFloat(int format);

// Frames read and encoded at a time: 64k, or about a second's worth for
// low sample rates (which LAME may resample upwards, so that a block's MP3
// is bounded by its duration more than by its sample count).
sf_count_t BlockFrames(int sampleRate);

constexpr int kMinSampleRate = 1000;

// Float samples as LAME can take them: a NaN becomes silence, and anything
// beyond full scale (infinities included) is clipped to it. LAME aborts the
// process on a NaN or an infinity, and a sample past full scale clips in
// every player anyway; samples within full scale are left exactly as read.
void ClipFloatSamples(float* samples, size_t count);

// Reads the input a block ahead of the encoder, on a second thread, so that
// reading and converting the samples overlaps encoding them. Reads in the
// caller's thread instead when no thread can be started.
class BlockReader {
public:
	BlockReader(SNDFILE* file, bool asFloat, int channels, sf_count_t blockFrames)
		:
		fFile(file),
		fAsFloat(asFloat),
		fChannels(static_cast<size_t>(channels)),
		fSamples(static_cast<size_t>(blockFrames) * static_cast<size_t>(channels)),
		fBlockFrames(blockFrames)
	{
	}

	~BlockReader()
	{
		if (!fThread.joinable())
			return;
		{
			std::lock_guard<std::mutex> lock(fLock);
			fStop = true;
		}
		fChanged.notify_all();
		fThread.join();
	}

	BlockReader(const BlockReader&) = delete;
	BlockReader& operator=(const BlockReader&) = delete;

	// Allocates the buffers and starts the reading; false when out of memory.
	bool Start()
	{
		try {
			for (Slot& slot : fSlots) {
				if (fAsFloat)
					slot.floats.resize(fSamples);
				else
					slot.ints.resize(fSamples);
			}
		} catch (const std::bad_alloc&) {
			return false;
		}
		try {
			// The thread starts with the cleanup signals blocked (it inherits
			// the mask), so that they always reach the encoding thread.
			SignalBlock block;
			fThread = std::thread(&BlockReader::Run, this);
		} catch (...) {
			// No thread: Next() reads.
		}
		return true;
	}

	// The next block's frames: > 0, 0 at the end, -1 on a read error
	// (Error() says which). The block stays valid until the next call.
	sf_count_t Next(const float*& floats, const int*& ints)
	{
		if (!fThread.joinable()) {
			Slot& slot = fSlots[0];
			slot.frames = Read(slot);
			floats = slot.floats.data();
			ints = slot.ints.data();
			return slot.frames;
		}
		std::unique_lock<std::mutex> lock(fLock);
		if (fHolding) {
			// Give back the block of the previous call.
			fHolding = false;
			fFilled--;
			fReadIndex = (fReadIndex + 1) % kSlots;
			fChanged.notify_all();
		}
		fChanged.wait(lock, [this] { return fFilled > 0; });
		fHolding = true;
		const Slot& slot = fSlots[fReadIndex];
		floats = slot.floats.data();
		ints = slot.ints.data();
		return slot.frames;
	}

	std::string Error()
	{
		std::lock_guard<std::mutex> lock(fLock);
		return fError;
	}

private:
	struct Slot {
		std::vector<float> floats;
		std::vector<int> ints;
		sf_count_t frames = 0;
	};
	static constexpr int kSlots = 3;

	sf_count_t Read(Slot& slot)
	{
		const sf_count_t got = fAsFloat ? sf_readf_float(fFile, slot.floats.data(), fBlockFrames)
			: sf_readf_int(fFile, slot.ints.data(), fBlockFrames);
		if (got > 0) {
			if (fAsFloat)
				ClipFloatSamples(slot.floats.data(), static_cast<size_t>(got) * fChannels);
			return got;
		}
		if (sf_error(fFile) != SF_ERR_NO_ERROR) {
			std::string text = ReadErrorText(fFile);
			std::lock_guard<std::mutex> lock(fLock);
			fError = std::move(text);
			return -1;
		}
		return 0;
	}

	void Run()
	{
		while (true) {
			int index;
			{
				std::unique_lock<std::mutex> lock(fLock);
				fChanged.wait(lock, [this] { return fStop || fFilled < kSlots; });
				if (fStop)
					return;
				index = fWriteIndex;
			}
			Slot& slot = fSlots[index];
			slot.frames = Read(slot);
			{
				std::lock_guard<std::mutex> lock(fLock);
				fWriteIndex = (fWriteIndex + 1) % kSlots;
				fFilled++;
			}
			fChanged.notify_all();
			if (slot.frames <= 0)
				return; // the end, or an error: the encoder sees it in this slot
		}
	}

	SNDFILE* fFile;
	bool fAsFloat;
	size_t fChannels;
	size_t fSamples;
	sf_count_t fBlockFrames;
	Slot fSlots[kSlots];
	std::mutex fLock;
	std::condition_variable fChanged;
	int fFilled = 0;     // slots read and not yet given back (the held one included)
	int fReadIndex = 0;  // the consumer's next (or held) slot
	int fWriteIndex = 0; // the reader's next slot
	bool fHolding = false;
	bool fStop = false;
	std::string fError;
	std::thread fThread;
};

} // namespace gogo
