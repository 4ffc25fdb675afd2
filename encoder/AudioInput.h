// The input of an encode: the file opened by its directory and name and
// checked, what it holds (InputExtent), and the libsndfile handle that reads
// its audio: libsndfile's own on the file, or a view (InputView) where that
// would stop short of what the file holds, or decode a FLAC only as far as
// its STREAMINFO says.
#pragma once

#include "InputExtent.h"
#include "InputReader.h"
#include "InputView.h"
#include "UniqueFd.h"

#include <sndfile.h>

#include <cstdint>
#include <string>

#include <sys/stat.h>

namespace gogo {

class AudioInput {
public:
	AudioInput() = default;
	AudioInput(const AudioInput&) = delete;
	AudioInput& operator=(const AudioInput&) = delete;

	// Opens path and its audio: mono or stereo, at kMinSampleRate or more,
	// not empty. Returns "" or why not (one line naming the path).
	std::string Open(const std::string& path);

	const std::string& Directory() const { return fDirectory; } // path's directory part
	const std::string& Name() const { return fName; }           // its last component
	int DirectoryFd() const { return fDirectoryFd.Get(); }
	int Fd() const { return fFd.Get(); }
	// The file as it was opened, before anything was read.
	const struct stat& AtStart() const { return fAtStart; }
	const InputExtent& Extent() const { return fExtent; }

	// The handle the audio is read through, and what it reads.
	SNDFILE* File() const { return fFile; }
	const SF_INFO& Info() const { return fOwnView ? fViewFile.Info() : fSound.Info(); }
	const InputView& View() const { return fView; }
	// The length the input declares (a FLAC's STREAMINFO, though it is read
	// to its end), and whether it is known.
	int64_t DeclaredFrames() const { return fDeclaredFrames; }
	bool LengthKnown() const { return fDeclaredFrames > 0 && fDeclaredFrames != SF_COUNT_MAX; }
	// The frames a plan and the progress count with: the declared ones, or 0.
	int64_t PlanFrames() const { return LengthKnown() ? fDeclaredFrames : 0; }

	// Back to the start for another reading (the view opened again, so
	// File() may change); false with libsndfile's text in error.
	bool Rewind(std::string& error);
	// The last read of File() failed for the system (as opposed to a stream
	// that stopped decoding).
	bool SystemRefused() const;

private:
	std::string OpenFile(const std::string& path);
	std::string OpenAudio(const std::string& path);

	std::string fDirectory, fName;
	UniqueFd fDirectoryFd, fFd;
	struct stat fAtStart{};
	InputExtent fExtent;
	SoundFile fSound;
	bool fOpened = false; // fSound is open
	InputView fView;
	bool fOwnView = false; // the audio is read through fViewFile
	ViewFile fViewFile;
	SNDFILE* fFile = nullptr;
	int64_t fDeclaredFrames = 0;
};

} // namespace gogo
