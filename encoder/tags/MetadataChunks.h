// The parts of an input file that carry its tags, found by walking its
// container and read into memory within one budget (kMaxTagBytes in all):
// what TagLib then parses (InputTags.h). Hand-written only where TagLib
// reads a whole file itself and would take whatever sizes it says, or
// does not know the container at all (Wave64, AIFF's text chunks). The
// bext fields are read here too: libsndfile has them only for a file it
// opens itself, which a WAV whose header understates its audio or a Wave64
// is not.
//
//   WAV, RIFX, RF64, BW64:  LIST chunks of type INFO, "id3 " and "ID3 "
//                           chunks, the bext chunk's fixed fields
//   Sony Wave64:            the same, named by their GUIDs
//   AIFF, AIFF-C:           NAME, AUTH, "(c) " and ANNO chunks, ID3 chunks
//   FLAC:                   VORBIS_COMMENT and PICTURE blocks, and an
//                           ID3v2 tag before the stream
//   Ogg (Vorbis, Opus):     the first stream's comment packet
//
// A part that claims more than the file holds, or more than the budget has
// left, is left out, and leftOut says so; nothing here fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace gogo {

// The most tag data read from one input, and so the most a tag can carry.
constexpr size_t kMaxTagBytes = size_t{16} << 20;

struct MetadataChunks {
	std::vector<std::string> info;  // LIST bodies, from their "INFO" on
	std::vector<std::string> id3;   // ID3v2 tags, each from its "ID3" header on
	// AIFF: the chunk's name and its text, in file order.
	std::vector<std::pair<std::string, std::string>> text;
	// A BWF bext chunk's fixed fields (602 bytes, or fewer when it is short).
	std::string bext;
	// Vorbis comments without their packet's header (FLAC's block, Ogg's packet).
	std::vector<std::string> vorbisComments;
	std::vector<std::string> pictures; // FLAC PICTURE block bodies
	bool leftOut = false;           // a part was too big, or cut short, to be read

	bool Empty() const
	{
		return info.empty() && id3.empty() && text.empty() && bext.empty() && vorbisComments.empty()
			&& pictures.empty();
	}
};

// fileSize is the file's size; budget is for tests (the whole budget in gogo).
MetadataChunks ReadMetadataChunks(int fd, uint64_t fileSize, size_t budget = kMaxTagBytes);

} // namespace gogo
