// How much audio an input holds, told from its container and its size
// rather than from the sizes its header declares.
//
// libsndfile takes a WAV's length from its data chunk's size (or the
// smaller of that and what the file holds): a size that wrapped past
// 4 GiB, one left at 0 by a recorder that lost power, or one never updated
// hides the rest of the audio, and a file cut short looks whole. The
// headers of the formats whose samples lie at fixed places are read here,
// so that the encode reads every sample frame the file holds and can tell a
// truncated file from a whole one.
#pragma once

#include <cstdint>

namespace gogo {

// Where the sample frames of an uncompressed input lie in the file, and how
// to read them as headerless samples (libsndfile's SF_FORMAT_RAW).
struct PcmLayout {
	uint64_t offset = 0; // of the first sample frame
	uint64_t bytes = 0;  // of the whole sample frames the file holds from there
	int format = 0;      // SF_FORMAT_RAW | the subformat | the byte order
	int channels = 0;
	int sampleRate = 0;
	int blockAlign = 0;  // bytes per sample frame
};

struct InputExtent {
	enum class Kind {
		Other,      // a container not read here: libsndfile's count is all there is
		Pcm,        // samples at fixed places: layout and heldFrames tell what is there
		Compressed, // a WAV or AIFF-C of compressed samples: sizes do not tell frames
		Flac,       // flacCountAt is set
		Ogg,        // streamEnded is set
	};
	Kind kind = Kind::Other;

	// Pcm: what the header declares. Unknown for a data size of 0 or
	// 0xffffffff, as recorders leave it until they finish.
	bool declaredKnown = false;
	int64_t declaredFrames = 0;
	// Pcm: what the file holds. The data chunk's own size where other chunks
	// follow it; where it is the file's last chunk, every whole sample frame
	// from its start to the end of the file.
	int64_t heldFrames = 0;
	PcmLayout layout;

	// Flac: the file offset of STREAMINFO's byte holding the top 4 bits of
	// its 36-bit sample count (the other 32 bits follow).
	int64_t flacCountAt = -1;
	// Ogg: the file's last page is the end of its stream (not cut short).
	bool streamEnded = false;

	// Pcm: the file goes on past the data chunk's declared end.
	bool HoldsMore() const { return declaredKnown && heldFrames > declaredFrames; }
	// Pcm: the file ends before its header says.
	bool HoldsLess() const { return declaredKnown && heldFrames < declaredFrames; }
};

// WAV (RIFF, RIFX), RF64, BW64, Sony Wave64, AIFF, AIFF-C, FLAC and Ogg; Kind::Other
// for any other file. fileSize is the file's size (a test may pass more than
// the file holds: what cannot be read there is taken as audio, as in a file
// that size).
InputExtent ReadInputExtent(int fd, uint64_t fileSize);

} // namespace gogo
