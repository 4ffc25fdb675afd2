#include "AudioInput.h"
#include "FileOps.h"
#include "Paths.h"

#include <fcntl.h>
#include <unistd.h>

namespace gogo {

std::string AudioInput::Open(const std::string& path)
{
	if (std::string error = OpenFile(path); !error.empty())
		return error;
	return OpenAudio(path);
}

std::string AudioInput::OpenFile(const std::string& path)
{
	if (path.empty())
		return "no input file";
	if (path.find('\0') != std::string::npos)
		return "input file name contains a NUL byte";

	SplitPath(path, fDirectory, fName);
	fDirectoryFd.Reset(OpenDirectory(fDirectory, false));
	if (fDirectoryFd.Get() < 0) {
		const int error = errno;
		return "cannot open " + QuotePath(path) + ": " + ErrnoText(error);
	}
	if (fName.empty())
		return QuotePath(path) + " is a directory";
	fFd.Reset(openat(fDirectoryFd.Get(), fName.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
	if (fFd.Get() < 0) {
		const int error = errno;
		return "cannot open " + QuotePath(path) + ": " + ErrnoText(error);
	}
	if (fstat(fFd.Get(), &fAtStart) != 0) {
		const int error = errno;
		return "cannot read " + QuotePath(path) + ": " + ErrnoText(error);
	}
	if (S_ISDIR(fAtStart.st_mode))
		return QuotePath(path) + " is a directory";
	if (!S_ISREG(fAtStart.st_mode))
		return QuotePath(path) + " is not a regular file";
	if (fAtStart.st_size == 0)
		return QuotePath(path) + " is empty";
	// What the file holds, from its container and its size: the encode
	// reads all of it, and -delete holds what was read against it.
	fExtent = ReadInputExtent(fFd.Get(), static_cast<uint64_t>(fAtStart.st_size));
	const int flags = fcntl(fFd.Get(), F_GETFL);
	if (flags >= 0)
		fcntl(fFd.Get(), F_SETFL, flags & ~O_NONBLOCK);
	return std::string();
}

std::string AudioInput::OpenAudio(const std::string& path)
{
	fOpened = fSound.Open(fFd.Get());
	const std::string openError = fOpened ? std::string() : OneLine(sf_strerror(nullptr));
	// Where libsndfile would stop short of what the file holds (or cannot
	// open it for its header's sizes), the samples are read as they lie; a
	// FLAC is decoded to the end of its stream, past what STREAMINFO says.
	fView = WholeFile(fFd.Get(), static_cast<uint64_t>(fAtStart.st_size));
	if (fExtent.kind == InputExtent::Kind::Pcm
			&& (!fOpened || fSound.Info().frames != fExtent.heldFrames
				|| fSound.Info().channels != fExtent.layout.channels)) {
		fView.offset = fExtent.layout.offset;
		fView.length = fExtent.layout.bytes;
		fView.raw.samplerate = fExtent.layout.sampleRate;
		fView.raw.channels = fExtent.layout.channels;
		fView.raw.format = fExtent.layout.format;
		fOwnView = true;
	} else if (fExtent.kind == InputExtent::Kind::Flac && fExtent.flacCountAt >= 0 && fOpened) {
		fView.hiddenCountAt = fExtent.flacCountAt;
		fOwnView = true;
	}
	if (fOwnView && !fViewFile.Open(fView)) {
		return QuotePath(path) + " is not an audio file libsndfile can read ("
			+ OneLine(fViewFile.Error().c_str()) + ")";
	}
	if (!fOwnView && !fOpened)
		return QuotePath(path) + " is not an audio file libsndfile can read (" + openError + ")";
	fFile = fOwnView ? fViewFile.Get() : fSound.Get();
	const SF_INFO& info = Info();
	if (info.channels != 1 && info.channels != 2) {
		return QuotePath(path) + " has " + std::to_string(info.channels)
			+ " channels; only mono and stereo are supported";
	}
	if (info.samplerate < kMinSampleRate) {
		return QuotePath(path) + " has a sample rate of " + std::to_string(info.samplerate)
			+ " Hz; at least " + std::to_string(kMinSampleRate) + " is needed";
	}
	if (info.frames == 0)
		return QuotePath(path) + " contains no audio";
	fDeclaredFrames =
		fExtent.kind == InputExtent::Kind::Flac && fOpened ? fSound.Info().frames : info.frames;
	return std::string();
}

bool AudioInput::Rewind(std::string& error)
{
	if (!fOwnView) {
		if (sf_seek(fFile, 0, SEEK_SET) == 0)
			return true;
		error = ReadErrorText(fFile);
		return false;
	}
	const bool opened = fViewFile.Open(fView);
	fFile = fViewFile.Get();
	if (!opened)
		error = fViewFile.Error();
	return opened;
}

bool AudioInput::SystemRefused() const
{
	return sf_error(fFile) == SF_ERR_SYSTEM || (fOwnView && fViewFile.ReadErrno() != 0);
}

} // namespace gogo
