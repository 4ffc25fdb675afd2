// The command line of the bundled Gogo-compatible encoder.
//
//   gogo [options] input-path
//
// The input path is always the last argument. Everything before it is an
// option; an unknown option, a missing or bad option value, or a stray
// argument before the input is an error. Parsing never throws and accepts
// any bytes (it is fuzzed).
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace gogo {

enum class ChannelMode {
	Default,     // joint stereo for stereo input, mono for mono input (LAME's choice)
	Mono,        // -m m
	Stereo,      // -m s
	JointStereo  // -m j
};

// The bit rates -b accepts, in kbps (those of MPEG-1 Layer III).
extern const int kBitrates[14];
bool IsValidBitrate(int kbps);

constexpr int kDefaultBitrate = 128;
// LAME's own default (`lame --longhelp`: "Default -q 3"), so that
// `gogo -b 128 x.wav` does the same work as `lame -b 128 x.wav`.
constexpr int kDefaultQuality = 3;
// What -nopsy selects: LAME's fastest algorithms.
constexpr int kNoPsyQuality = 9;
// The most -threads accepts.
constexpr int kMaxThreads = 64;

// The tag fields the command line sets: -title, -artist, -album, -year,
// -track, -genre and -comment, in this order.
enum class TagField { Title, Artist, Album, Year, Track, Genre, Comment };
constexpr size_t kTagFields = 7;

struct Options {
	int bitrate = 0;          // -b, kbps; 0 when not given
	ChannelMode mode = ChannelMode::Default;
	bool noPsy = false;       // -nopsy was given
	int quality = -1;         // 0..9 from -q or -nopsy (the later wins); -1 when neither
	int vbrQuality = -1;      // -v 0..9 (VBR); -1 for constant bit rate
	bool deleteInput = false; // -delete
	// -overwrite: an existing file of the output name is replaced (renamed
	// over) rather than the MP3 taking the first free "NAME (n).mp3". The
	// parser refuses it with -delete; EncodeFile ignores it then.
	bool overwrite = false;
	bool hasOutputDirectory = false;
	std::string outputDirectory; // -o
	bool silent = false;      // -silent: no progress on stdout
	// ReplayGain analysis into the LAME tag, as lame does by default (so that
	// gogo's output is byte for byte lame's); -noreplaygain turns it off.
	bool replayGain = true;
	// -threads N: the encoder threads for the one file; 0 (not given) for one
	// per core online. 1 encodes as LAME alone does, byte for byte.
	int threads = 0;
	// The tag fields set on the command line (by TagField), each replacing
	// what the input carries; "" where not given. -notag: no tag at all.
	std::array<std::string, kTagFields> tags;
	bool noTag = false;
	std::string input;        // the last argument

	// Features of the output's file system to do without, as on those that
	// lack them (vfat and exfat have no O_TMPFILE, NFS no RENAME_NOREPLACE,
	// vfat no hard links), so that tests reach every way of writing the MP3.
	// Not options of the command line: gogo's main sets noTmpFile when the
	// environment has GOGO_NO_TMPFILE=1.
	struct WriteFallbacks {
		bool noTmpFile = false;         // a named temporary file, never O_TMPFILE
		bool noRenameNoReplace = false; // as if renameat2(RENAME_NOREPLACE) were refused
		bool noHardLinks = false;       // as if link() were refused (implies noTmpFile)
	};
	WriteFallbacks fallbacks;

	// The quality LAME is given: -q/-nopsy, else kDefaultQuality.
	int EffectiveQuality() const { return quality >= 0 ? quality : kDefaultQuality; }
	// The bit rate for CBR (or the minimum for VBR when -b is given).
	int EffectiveBitrate() const { return bitrate > 0 ? bitrate : kDefaultBitrate; }
};

enum class ParseAction {
	Encode,  // options.input names the file to encode
	Help,    // print UsageText() on stdout, exit 0
	Version, // print VersionText() on stdout, exit 0
	Error    // print "gogo: " + error on stderr, exit kExitUsage
};

struct ParseResult {
	ParseAction action = ParseAction::Error;
	Options options;
	std::string error; // the reason, one line, without the "gogo: " prefix
};

// Exit statuses of the gogo program.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1; // the encode failed
constexpr int kExitUsage = 2;   // bad command line
constexpr int kExitInputKept = 3; // the MP3 was written but -delete kept the input
constexpr int kExitTruncated = 4; // the input ends before its header says: the MP3 has what there is

// The arguments after the program name.
ParseResult ParseArguments(const std::vector<std::string>& arguments);
// argv as main() gets it: argv[0] is the program name and is skipped; null
// entries are tolerated (treated as empty strings).
ParseResult ParseArguments(int argc, const char* const* argv);

std::string UsageText();
std::string VersionText();

} // namespace gogo
