// The bundled encoder on any input file: the bytes are written to a file and
// encoded in-process, the way gogo does it (libsndfile reads, our own
// container reading tells what the file holds and how to read past a header
// that understates it, LAME encodes). The input's size picks
// the options, so that CBR, VBR, mono and -delete are all reached.
//
// Beyond not crashing, what must hold on every input:
//  - a failed encode leaves the input where it was and no file in the
//    output directory;
//  - the input is gone only when the encode succeeded with -delete;
//  - a successful encode leaves exactly its MP3, under the name it reports.
//
// The tags are read from every input, whether its audio opens or not:
// what is read stays within its budget, and the tag made of it is one
// whole ID3v2.4 tag, or none.
//
// Inputs are bounded in time: whatever libsndfile says holds more than a few
// seconds of audio, or a FLAC whose stream decodes to more (a few bytes of
// FLAC can hold hours), is skipped.

#include "FuzzTempDir.h"
#include "GogoEncoder.h"
#include "GogoOptions.h"
#include "InputExtent.h"
#include "InputTags.h"
#include "InputView.h"
#include "MetadataChunks.h"

#include <sndfile.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void Check(bool condition)
{
	if (!condition)
		__builtin_trap();
}

constexpr size_t kMaxInput = 65536;
constexpr sf_count_t kMaxFrames = 4 * 48000;

bool Exists(const std::string& path)
{
	struct stat info;
	return ::lstat(path.c_str(), &info) == 0;
}

std::vector<std::string> Entries(const std::string& directory)
{
	std::vector<std::string> names;
	DIR* dir = ::opendir(directory.c_str());
	if (dir == nullptr)
		return names;
	while (const dirent* entry = ::readdir(dir)) {
		if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
			names.emplace_back(entry->d_name);
	}
	::closedir(dir);
	return names;
}

// Whether the encode would read more audio than a fuzz input should cost:
// as libsndfile declares it, and for a FLAC as far as its stream decodes
// (a few bytes of constant frames can hold hours). What the container
// reading says is checked against the file on the way.
bool TooLong(const std::string& path, size_t size)
{
	const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
	Check(fd >= 0);
	const gogo::InputExtent extent = gogo::ReadInputExtent(fd, size);
	bool tooLong = false;
	if (extent.kind == gogo::InputExtent::Kind::Pcm) {
		const gogo::PcmLayout& layout = extent.layout;
		Check(layout.offset <= size && layout.bytes <= size - layout.offset);
		Check(layout.blockAlign > 0 && extent.heldFrames >= 0);
		Check(layout.bytes == static_cast<uint64_t>(extent.heldFrames) * static_cast<uint64_t>(layout.blockAlign));
		Check(!extent.HoldsMore() || !extent.HoldsLess());
	} else if (extent.kind == gogo::InputExtent::Kind::Flac) {
		gogo::InputView view = gogo::WholeFile(fd, size);
		view.hiddenCountAt = extent.flacCountAt;
		gogo::ViewFile file;
		if (file.Open(view)) {
			std::vector<short> samples(4096 * 2);
			sf_count_t total = 0, got;
			while (!tooLong && (got = sf_readf_short(file.Get(), samples.data(),
						4096 / std::max(1, file.Info().channels))) > 0) {
				total += got;
				tooLong = total > kMaxFrames;
			}
		}
	}
	SF_INFO info;
	std::memset(&info, 0, sizeof(info));
	SNDFILE* file = sf_open_fd(fd, SFM_READ, &info, SF_FALSE);
	if (file != nullptr) {
		sf_close(file);
		// An unknown length is fine where the stream is short (above).
		const bool unknown = info.frames == SF_COUNT_MAX && extent.kind == gogo::InputExtent::Kind::Flac;
		tooLong = tooLong || (!unknown && (info.frames < 0 || info.frames > kMaxFrames));
	}
	::close(fd);
	// Otherwise the encoder's own refusal is worth reaching.
	return tooLong;
}

// Reads the input's tags as the encode does, and with a small budget.
void CheckTags(const std::string& path, size_t size)
{
	const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
	Check(fd >= 0);
	constexpr size_t kBudget = 512;
	const gogo::MetadataChunks chunks = gogo::ReadMetadataChunks(fd, size, kBudget);
	size_t read = chunks.bext.size();
	for (const auto* list : {&chunks.info, &chunks.id3, &chunks.vorbisComments, &chunks.pictures}) {
		for (const std::string& part : *list)
			read += part.size();
	}
	for (const auto& [name, text] : chunks.text)
		read += text.size();
	Check(read <= kBudget);

	gogo::Options options;
	options.tags[size % gogo::kTagFields] = "fuzz";
	const gogo::InputTag tag = gogo::MakeInputTag(fd, size, options);
	const std::vector<unsigned char>& bytes = tag.bytes;
	Check(bytes.size() >= 10 && std::memcmp(bytes.data(), "ID3\x04", 4) == 0);
	const size_t declared = size_t{bytes[6]} << 21 | size_t{bytes[7]} << 14 | size_t{bytes[8]} << 7 | bytes[9];
	Check(declared + 10 == bytes.size());
	::close(fd);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	if (size > kMaxInput)
		return 0;
	static const std::string directory = fuzzing::ProcessTempDir().Path();
	static const std::string input = directory + "/in.wav";
	static const std::string output = directory + "/out";
	static const bool made = ::mkdir(output.c_str(), 0700) == 0;
	Check(made);

	Check(fuzzing::WriteFile(input, std::string_view(reinterpret_cast<const char*>(data), size)));
	CheckTags(input, size);
	if (TooLong(input, size))
		return 0;

	gogo::Options options;
	options.input = input;
	options.hasOutputDirectory = true;
	options.outputDirectory = output;
	options.silent = true;
	switch (size % 5) {
	case 0:
		break; // -b 128, as lame
	case 1:
		options.bitrate = 320;
		options.mode = gogo::ChannelMode::Stereo;
		break;
	case 2:
		options.vbrQuality = 4;
		options.replayGain = false;
		break;
	case 3:
		options.mode = gogo::ChannelMode::Mono;
		options.noPsy = true;
		options.quality = gogo::kNoPsyQuality;
		options.bitrate = 32;
		break;
	case 4:
		options.deleteInput = true;
		break;
	}

	const gogo::EncodeResult result = gogo::EncodeFile(options);
	const std::vector<std::string> left = Entries(output);
	if (result.ok) {
		Check(result.outputWritten);
		Check(left.size() == 1);
		Check(output + "/" + left.front() == result.outputPath);
		Check(Exists(input) != options.deleteInput);
		Check(result.frames > 0);
	} else if (result.outputWritten) {
		// Only -delete, or an input that ends before its header says, fail
		// after the MP3 is written: the input stays.
		Check(result.truncated || (options.deleteInput && result.inputKept));
		Check(result.inputKept == options.deleteInput);
		Check(left.size() == 1);
		Check(Exists(input));
	} else {
		Check(left.empty());
		Check(Exists(input));
		Check(!result.error.empty());
	}
	for (const std::string& name : left)
		::unlink((output + "/" + name).c_str());
	return 0;
}
