// A libsndfile handle over an open input file, read with pread so that no
// handle moves another's position: the whole file as it is, the file with
// a FLAC's declared sample count hidden (so that it is decoded to the end
// of its stream), or a run of headerless samples inside it (the audio of a
// WAV or AIFF whose header understates it).
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <string>

namespace gogo {

struct InputView {
	int fd = -1;
	uint64_t offset = 0; // the view's first byte in the file
	uint64_t length = 0; // its bytes
	// Headerless samples in this layout when raw.format is set.
	SF_INFO raw{};
	// FLAC: STREAMINFO's sample count is read as 0 (unknown) from here.
	int64_t hiddenCountAt = -1;

	bool Valid() const { return fd >= 0; }
};

// The open file of length bytes, whole.
InputView WholeFile(int fd, uint64_t length);

class ViewFile {
public:
	ViewFile() = default;
	~ViewFile();
	ViewFile(const ViewFile&) = delete;
	ViewFile& operator=(const ViewFile&) = delete;

	// False (with Error()) when libsndfile cannot open it.
	bool Open(const InputView& view);
	SNDFILE* Get() const { return fFile; }
	const SF_INFO& Info() const { return fInfo; }
	const std::string& Error() const { return fError; }
	// The first errno a read met (libsndfile sees only a short read), or 0.
	int ReadErrno() const { return fPlace.error; }

private:
	struct Place {
		InputView view;
		sf_count_t position = 0;
		int error = 0;
	};
	static sf_count_t Length(void* place);
	static sf_count_t Seek(sf_count_t offset, int whence, void* place);
	static sf_count_t ReadBytes(void* into, sf_count_t count, void* place);
	static sf_count_t Write(const void* from, sf_count_t count, void* place);
	static sf_count_t Tell(void* place);

	Place fPlace;
	SNDFILE* fFile = nullptr;
	SF_INFO fInfo{};
	std::string fError;
};

} // namespace gogo
