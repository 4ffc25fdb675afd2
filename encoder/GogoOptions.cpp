#include "GogoOptions.h"
#include "TagText.h"

#include <cstddef>
#include <string>

namespace gogo {

const int kBitrates[14] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};

bool IsValidBitrate(int kbps)
{
	for (int rate : kBitrates) {
		if (rate == kbps)
			return true;
	}
	return false;
}

namespace {

// An argument quoted for an error message: bounded in length, control bytes
// escaped so that the message stays on one line.
std::string Quoted(const std::string& text)
{
	constexpr size_t kMaxShown = 80;
	static const char kHex[] = "0123456789abcdef";
	std::string result = "'";
	const size_t shown = text.size() < kMaxShown ? text.size() : kMaxShown;
	for (size_t i = 0; i < shown; i++) {
		const unsigned char c = static_cast<unsigned char>(text[i]);
		if (c < 0x20 || c == 0x7f) {
			result += "\\x";
			result += kHex[c >> 4];
			result += kHex[c & 0xf];
		} else {
			result += static_cast<char>(c);
		}
	}
	if (shown < text.size())
		result += "...";
	result += "'";
	return result;
}

// A plain decimal number of at most 4 digits (no sign, no spaces); -1 otherwise.
int SmallNumber(const std::string& text)
{
	if (text.empty() || text.size() > 4)
		return -1;
	int value = 0;
	for (char c : text) {
		if (c < '0' || c > '9')
			return -1;
		value = value * 10 + (c - '0');
	}
	return value;
}

// The options that set a tag field, by TagField.
constexpr const char* kTagOptions[kTagFields] = {"-title", "-artist", "-album", "-year", "-track",
	"-genre", "-comment"};

int TagOption(const std::string& argument)
{
	for (size_t i = 0; i < kTagFields; i++) {
		if (argument == kTagOptions[i])
			return static_cast<int>(i);
	}
	return -1;
}

// n or n/total, each a number of 1 to 4 digits, n not 0.
bool IsTrack(const std::string& text)
{
	const size_t slash = text.find('/');
	const std::string number = text.substr(0, slash);
	if (SmallNumber(number) < 1)
		return false;
	return slash == std::string::npos || SmallNumber(text.substr(slash + 1)) >= 1;
}

bool IsHelp(const std::string& argument)
{
	return argument == "-h" || argument == "--help" || argument == "-help";
}

bool IsVersion(const std::string& argument)
{
	return argument == "--version" || argument == "-version";
}

ParseResult Failure(std::string reason)
{
	ParseResult result;
	result.action = ParseAction::Error;
	result.error = std::move(reason);
	return result;
}

} // namespace

ParseResult ParseArguments(const std::vector<std::string>& given)
{
	// Empty words are left out: a trailing space in the front end's "Extra
	// parameters" gives one, and no option or file is called "".
	std::vector<std::string> arguments;
	arguments.reserve(given.size());
	for (const std::string& argument : given) {
		if (!argument.empty())
			arguments.push_back(argument);
	}
	const size_t count = arguments.size();
	if (count == 0)
		return Failure("no input file (usage: gogo [options] input-file; try 'gogo --help')");

	ParseResult result;
	Options& options = result.options;
	bool endOfOptions = false;
	const size_t last = count - 1;

	for (size_t i = 0; i < last; i++) {
		const std::string& argument = arguments[i];
		if (endOfOptions) {
			return Failure("unexpected argument " + Quoted(argument)
				+ " (only the input file may follow '--')");
		}
		if (argument == "--") {
			endOfOptions = true;
			continue;
		}
		if (IsHelp(argument)) {
			result.action = ParseAction::Help;
			return result;
		}
		if (IsVersion(argument)) {
			result.action = ParseAction::Version;
			return result;
		}
		if (argument.empty() || argument[0] != '-') {
			return Failure("unexpected argument " + Quoted(argument)
				+ " (the input file must be the last argument)");
		}

		// Flags.
		if (argument == "-nopsy") {
			options.noPsy = true;
			options.quality = kNoPsyQuality;
			continue;
		}
		if (argument == "-delete") {
			options.deleteInput = true;
			continue;
		}
		if (argument == "-silent") {
			options.silent = true;
			continue;
		}
		if (argument == "-noreplaygain") {
			options.replayGain = false;
			continue;
		}
		if (argument == "-overwrite") {
			options.overwrite = true;
			continue;
		}
		if (argument == "-notag") {
			options.noTag = true;
			continue;
		}

		// Options with a value; the value can never be the last argument,
		// which is the input.
		const int tagField = TagOption(argument);
		const bool takesValue = argument == "-b" || argument == "-m" || argument == "-o"
			|| argument == "-q" || argument == "-v" || argument == "-threads" || tagField >= 0;
		if (!takesValue)
			return Failure("unknown option " + Quoted(argument) + " (try 'gogo --help')");
		if (i + 1 >= last) {
			return Failure("option " + argument + " needs a value"
				+ (i + 1 == last ? " (the last argument is the input file)" : ""));
		}
		const std::string& value = arguments[++i];

		if (tagField >= 0) {
			if (value.find('\0') != std::string::npos)
				return Failure("the value of " + argument + " contains a NUL byte");
			if (tagField == static_cast<int>(TagField::Year) && !IsTimestamp(value)) {
				return Failure("bad year " + Quoted(value)
					+ " for -year (a year, or a date as 2024-05-01)");
			}
			if (tagField == static_cast<int>(TagField::Track) && !IsTrack(value)) {
				return Failure("bad track " + Quoted(value)
					+ " for -track (a number, or number/total as 3/12)");
			}
			options.tags[static_cast<size_t>(tagField)] = value;
		} else if (argument == "-b") {
			const int kbps = SmallNumber(value);
			if (!IsValidBitrate(kbps)) {
				return Failure("bad bit rate " + Quoted(value)
					+ " for -b (one of 32 40 48 56 64 80 96 112 128 160 192 224 256 320)");
			}
			options.bitrate = kbps;
		} else if (argument == "-m") {
			if (value == "m")
				options.mode = ChannelMode::Mono;
			else if (value == "s")
				options.mode = ChannelMode::Stereo;
			else if (value == "j")
				options.mode = ChannelMode::JointStereo;
			else
				return Failure("bad mode " + Quoted(value) + " for -m (m, s or j)");
		} else if (argument == "-o") {
			if (value.empty())
				return Failure("empty directory name for -o");
			if (value.find('\0') != std::string::npos)
				return Failure("directory name for -o contains a NUL byte");
			options.hasOutputDirectory = true;
			options.outputDirectory = value;
		} else if (argument == "-q") {
			const int quality = SmallNumber(value);
			if (quality < 0 || quality > 9)
				return Failure("bad quality " + Quoted(value) + " for -q (0 to 9)");
			options.quality = quality;
		} else if (argument == "-threads") {
			const int threads = SmallNumber(value);
			if (threads < 1 || threads > kMaxThreads) {
				return Failure("bad thread count " + Quoted(value) + " for -threads (1 to "
					+ std::to_string(kMaxThreads) + ")");
			}
			options.threads = threads;
		} else { // -v
			const int quality = SmallNumber(value);
			if (quality < 0 || quality > 9)
				return Failure("bad VBR quality " + Quoted(value) + " for -v (0 to 9)");
			options.vbrQuality = quality;
		}
	}

	const std::string& input = arguments[last];
	if (!endOfOptions) {
		if (IsHelp(input)) {
			result.action = ParseAction::Help;
			return result;
		}
		if (IsVersion(input)) {
			result.action = ParseAction::Version;
			return result;
		}
		if (!input.empty() && input[0] == '-') {
			return Failure("no input file: the last argument " + Quoted(input)
				+ " is an option (for a file of that name write '"
				+ "./" + Quoted(input).substr(1) + " or put '--' before it)");
		}
	}
	if (input.empty())
		return Failure("empty input file name");
	if (input.find('\0') != std::string::npos)
		return Failure("input file name contains a NUL byte");

	// -delete hands gogo the only copy of a recording: its MP3 never
	// replaces a file, so a replacing option makes no sense beside it.
	if (options.overwrite && options.deleteInput) {
		return Failure("-overwrite cannot be used with -delete (with -delete an existing MP3 is"
			" never replaced; leave out one of them)");
	}

	options.input = input;
	result.action = ParseAction::Encode;
	return result;
}

ParseResult ParseArguments(int argc, const char* const* argv)
{
	std::vector<std::string> arguments;
	if (argv != nullptr) {
		for (int i = 1; i < argc; i++)
			arguments.emplace_back(argv[i] != nullptr ? argv[i] : "");
	}
	return ParseArguments(arguments);
}

std::string UsageText()
{
	return
		"usage: gogo [options] input-file\n"
		"\n"
		"Encodes one audio file (WAV, AIFF, FLAC... anything libsndfile reads; mono or\n"
		"stereo) to MP3 with LAME. The output is the input's name with its extension\n"
		"replaced by .mp3, beside the input or in the -o directory. It is written under\n"
		"a hidden temporary name and renamed only once complete and synced to disk, so\n"
		"a failed or interrupted encode leaves no partial file behind.\n"
		"\n"
		"An existing file is never replaced: when NAME.mp3 exists the MP3 takes the\n"
		"first free name of NAME (2).mp3, NAME (3).mp3... (so albumA/track01.wav and\n"
		"albumB/track01.wav can go to one -o directory), and the line that reports\n"
		"the encode names it, -silent or not. -overwrite replaces NAME.mp3 instead.\n"
		"\n"
		"The input file is always the last argument (use ./-name or '-- -name' for a\n"
		"file whose name starts with '-'). Options, each a separate argument:\n"
		"  -b <kbps>     bit rate: 32 40 48 56 64 80 96 112 128 160 192 224 256 320\n"
		"                (default 128); with -v, the minimum bit rate\n"
		"  -m <mode>     m mono, s stereo, j joint stereo (default: joint stereo for\n"
		"                stereo input; mono input stays mono)\n"
		"  -nopsy        fastest encoding: LAME quality 9 (as -q 9)\n"
		"  -q <0-9>      LAME quality, 0 best and slowest, 9 fastest (default 3, as\n"
		"                lame's); the later of -q and -nopsy wins\n"
		"  -v <0-9>      variable bit rate of this quality (0 best, 9 smallest)\n"
		"  -o <dir>      output directory, created (with its parents) if missing\n"
		"  -delete       delete the input file once the MP3 is complete and synced to\n"
		"                disk, but only if the input did not change during the encode\n"
		"                and every sample frame it holds was encoded (see below);\n"
		"                otherwise it is kept, with exit status 3 (4 if truncated)\n"
		"  -overwrite    replace an existing file of the output name (atomically, as\n"
		"                lame does) instead of taking a free name; refused with -delete\n"
		"  -threads <n> encode on n threads (1 to 64, at most 16 run at once;\n"
		"                default: one per core online); -threads 1 gives exactly\n"
		"                what LAME alone makes. Inputs under about 13 s, and those\n"
		"                LAME resamples, use one thread\n"
		"  -noreplaygain skip the ReplayGain analysis (done by default, as lame does)\n"
		"  -title <text>, -artist <text>, -album <text>, -genre <text>,\n"
		"  -comment <text>\n"
		"                set that field of the MP3's tag, replacing what the input\n"
		"                carries\n"
		"  -year <year>  the year (or date, as 2024-05-01) of the recording\n"
		"  -track <n>    the track number, or n/total\n"
		"  -notag        write no tag, whatever the input carries\n"
		"  -silent       no progress output\n"
		"  -h, --help    this text (also -help)\n"
		"  --version     the version (also -version)\n"
		"\n"
		"An unknown option or a bad value is an error. Input with more than two\n"
		"channels is refused. As with lame, LAME picks the output sample rate: low\n"
		"bit rates get a lower one (32 kbps: 16 kHz), low sample rates cap the bit\n"
		"rate (8 kHz: 64 kbps). An output name that is the input file itself is\n"
		"refused. Empty arguments are ignored.\n"
		"\n"
		"The audio encoded is what the file holds, not what its header says: a WAV,\n"
		"RF64, W64 or AIFF whose audio runs past the size its header gives (a size\n"
		"that wrapped past 4 GiB, or was left at 0 by a recorder that stopped) is\n"
		"read to the end of the file, and a FLAC to the end of its stream; one line\n"
		"\"gogo: note: ...\" says so. An input that ends before its header says (cut\n"
		"short, damaged, or still being recorded; an Ogg file without its last page)\n"
		"is encoded as far as it goes, one line says how much of it that is, the\n"
		"input is never deleted, and the exit status is 4.\n"
		"\n"
		"Tags: the MP3 begins with an ID3v2.4 tag (UTF-8) holding what the input\n"
		"carries (RIFF INFO, an embedded ID3 chunk, BWF bext, AIFF's NAME, AUTH,\n"
		"(c) and ANNO, Vorbis comments and FLAC pictures) and what the options above\n"
		"set; without either there is no tag. At most 16 MB of an input's tags are\n"
		"read; one line \"gogo: note: ...\" says when some were left out.\n"
		"\n"
		"Exit status: 0 success, 1 the encode failed, 2 bad command line, 3 the MP3\n"
		"was written but -delete kept the input, 4 the input is truncated (the MP3\n"
		"has what there is), 128+N stopped by signal N (SIGTERM, SIGINT, SIGHUP);\n"
		"with status 1 to 4 one line \"gogo: <reason>\" goes to stderr.\n";
}

std::string VersionText()
{
	return "gogo (Tamsel Gogo Frontend bundled encoder) 1.0, using LAME and libsndfile\n";
}

} // namespace gogo
