// The ID3v2.4 tag an MP3 begins with: what its input carries (read within
// kMaxTagBytes, MetadataChunks.h) and what the options set, written by
// TagLib with its text in UTF-8.
//
// Where a field comes from, first source first (docs/encoder.md has the
// whole table):
//   - the command line (-title ... -comment) replaces all else;
//   - FLAC and Ogg: their Vorbis comments, then an ID3v2 tag before the
//     FLAC stream for what they lack; pictures from PICTURE blocks (or
//     METADATA_BLOCK_PICTURE comments) become APIC frames;
//   - WAV, RF64, Wave64 and AIFF: an embedded ID3 chunk, all of its frames
//     (pictures too), then RIFF INFO, the bext chunk, or AIFF's NAME, AUTH,
//     "(c) " and ANNO for what it lacks.
// An input with none of these and no tag options gets no tag at all, so
// that its MP3 is byte for byte what it was without tags. Nothing here
// fails: what cannot be read is left out, and a note says so when that was
// for its size.
#pragma once

#include "GogoOptions.h"

#include <cstdint>
#include <string>
#include <vector>

namespace gogo {

struct InputTag {
	std::vector<unsigned char> bytes; // the whole tag; empty for none
	std::string note;                 // one line when some of the input's tags were left out
};

// The tag for the input open as fd, fileSize bytes long.
InputTag MakeInputTag(int fd, uint64_t fileSize, const Options& options);

} // namespace gogo
