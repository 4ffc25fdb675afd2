// The bundled encoder: its argument parser, its encoding (in-process and as
// the gogo program, run with posix_spawn), its output naming, and its care
// with the input and with partial files.
#include "GogoEncoder.h"
#include "GogoOptions.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <lame/lame.h>
#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

const std::string kGogo = TAMSEL_BINARY_DIR "/gogo";

// ---- fixtures -----------------------------------------------------------------

// Writes a WAV of sine waves (a different pitch per channel) through an
// already open descriptor or a path. format is an SF_FORMAT_* subformat.
bool WriteSineWavFd(int fd, double seconds, int rate, int channels, int format)
{
	SF_INFO info;
	std::memset(&info, 0, sizeof(info));
	info.samplerate = rate;
	info.channels = channels;
	info.format = SF_FORMAT_WAV | format;
	SNDFILE* file = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
	if (file == nullptr)
		return false;
	const sf_count_t frames = static_cast<sf_count_t>(seconds * rate);
	const sf_count_t block = 8192;
	std::vector<float> buffer(static_cast<size_t>(block * channels));
	bool ok = true;
	for (sf_count_t start = 0; start < frames && ok; start += block) {
		const sf_count_t count = std::min(block, frames - start);
		for (sf_count_t i = 0; i < count; i++) {
			const double t = static_cast<double>(start + i) / rate;
			for (int c = 0; c < channels; c++) {
				buffer[static_cast<size_t>(i * channels + c)] =
					static_cast<float>(0.5 * std::sin(2 * M_PI * (440.0 + 110.0 * c) * t));
			}
		}
		ok = sf_writef_float(file, buffer.data(), count) == count;
	}
	return sf_close(file) == 0 && ok;
}

bool WriteSineWav(const std::string& path, double seconds, int rate, int channels,
	int format = SF_FORMAT_PCM_16)
{
	const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
	if (fd < 0)
		return false;
	return WriteSineWavFd(fd, seconds, rate, channels, format);
}

bool Exists(const std::string& path)
{
	struct stat st;
	return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> ListDirectory(const std::string& path)
{
	std::vector<std::string> names;
	DIR* dir = opendir(path.c_str());
	if (dir == nullptr)
		return names;
	while (dirent* entry = readdir(dir)) {
		const std::string name = entry->d_name;
		if (name != "." && name != "..")
			names.push_back(name);
	}
	closedir(dir);
	std::sort(names.begin(), names.end());
	return names;
}

// ---- running gogo ---------------------------------------------------------------

struct RunResult {
	int status = -1; // as from waitpid
	std::string out, err;
	bool Exited() const { return WIFEXITED(status); }
	int Code() const { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }
};

enum class Stdio { Capture, Closed, BrokenPipe };

pid_t Spawn(const std::vector<std::string>& arguments, Stdio stdio, const std::string& outPath,
	const std::string& errPath, int pipeWrite = -1)
{
	std::vector<std::string> strings;
	strings.push_back(kGogo);
	strings.insert(strings.end(), arguments.begin(), arguments.end());
	std::vector<char*> argv;
	for (std::string& s : strings)
		argv.push_back(s.data());
	argv.push_back(nullptr);

	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
	switch (stdio) {
	case Stdio::Capture:
		posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(),
			O_WRONLY | O_CREAT | O_TRUNC, 0644);
		posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(),
			O_WRONLY | O_CREAT | O_TRUNC, 0644);
		break;
	case Stdio::Closed:
		posix_spawn_file_actions_addclose(&actions, 1);
		posix_spawn_file_actions_addclose(&actions, 2);
		break;
	case Stdio::BrokenPipe:
		posix_spawn_file_actions_adddup2(&actions, pipeWrite, 1);
		posix_spawn_file_actions_adddup2(&actions, pipeWrite, 2);
		break;
	}
	// The child starts with default signal handling, whatever the test runner's.
	posix_spawnattr_t attributes;
	posix_spawnattr_init(&attributes);
	sigset_t defaults;
	sigemptyset(&defaults);
	sigaddset(&defaults, SIGPIPE);
	sigaddset(&defaults, SIGTERM);
	sigaddset(&defaults, SIGINT);
	sigaddset(&defaults, SIGHUP);
	posix_spawnattr_setsigdefault(&attributes, &defaults);
	sigset_t none;
	sigemptyset(&none);
	posix_spawnattr_setsigmask(&attributes, &none);
	posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

	pid_t pid = -1;
	if (posix_spawn(&pid, kGogo.c_str(), &actions, &attributes, argv.data(), environ) != 0)
		pid = -1;
	posix_spawnattr_destroy(&attributes);
	posix_spawn_file_actions_destroy(&actions);
	return pid;
}

int Wait(pid_t pid)
{
	int status = -1;
	while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
	}
	return status;
}

RunResult RunGogo(const std::vector<std::string>& arguments, Stdio stdio = Stdio::Capture)
{
	TempDir capture;
	const std::string outPath = capture / "stdout";
	const std::string errPath = capture / "stderr";
	RunResult run;
	int pipeEnds[2] = {-1, -1};
	if (stdio == Stdio::BrokenPipe) {
		if (pipe(pipeEnds) != 0)
			return run;
		close(pipeEnds[0]); // nobody reads: every write gets EPIPE
	}
	const pid_t pid = Spawn(arguments, stdio, outPath, errPath, pipeEnds[1]);
	if (pipeEnds[1] >= 0)
		close(pipeEnds[1]);
	if (pid < 0)
		return run;
	run.status = Wait(pid);
	run.out = ReadFile(outPath);
	run.err = ReadFile(errPath);
	return run;
}

// The stderr of a failure: exactly one line, "gogo: <reason>".
void ExpectOneErrorLine(const RunResult& run)
{
	ASSERT_FALSE(run.err.empty());
	EXPECT_EQ(run.err.rfind("gogo: ", 0), 0u) << run.err;
	EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
	EXPECT_EQ(run.err.back(), '\n') << run.err;
}

// ---- reading the MP3 ---------------------------------------------------------------

struct Frame {
	int version = 0; // 1 MPEG-1, 2 MPEG-2, 25 MPEG-2.5
	int bitrate = 0; // kbps
	int samplerate = 0;
	int channelMode = 0; // 0 stereo, 1 joint, 2 dual, 3 mono
};

// Walks the frame headers of a file that starts with a frame (no ID3v2).
std::vector<Frame> ParseFrames(const std::string& data)
{
	static const int kBitrateV1[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224,
		256, 320, 0};
	static const int kBitrateV2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144,
		160, 0};
	static const int kRates[3] = {44100, 48000, 32000};
	std::vector<Frame> frames;
	size_t position = 0;
	while (position + 4 <= data.size()) {
		const auto* h = reinterpret_cast<const unsigned char*>(data.data() + position);
		if (h[0] != 0xff || (h[1] & 0xe0) != 0xe0)
			break;
		const int versionBits = (h[1] >> 3) & 3;
		const int layerBits = (h[1] >> 1) & 3;
		const int bitrateIndex = h[2] >> 4;
		const int rateIndex = (h[2] >> 2) & 3;
		const int padding = (h[2] >> 1) & 1;
		if (versionBits == 1 || layerBits != 1 || bitrateIndex == 0 || bitrateIndex == 15
				|| rateIndex == 3) {
			break;
		}
		Frame frame;
		frame.version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 25;
		frame.bitrate = frame.version == 1 ? kBitrateV1[bitrateIndex] : kBitrateV2[bitrateIndex];
		frame.samplerate = kRates[rateIndex] / (frame.version == 1 ? 1 : frame.version == 2 ? 2 : 4);
		frame.channelMode = h[3] >> 6;
		const int length = (frame.version == 1 ? 144 : 72) * frame.bitrate * 1000
			/ frame.samplerate + padding;
		frames.push_back(frame);
		position += static_cast<size_t>(length);
	}
	return frames;
}

struct Decoded {
	bool ok = false;
	int channels = 0;
	int samplerate = 0;
	int64_t samples = 0; // per channel, as the decoder gives them
	int delay = -1;      // from the LAME tag
	int padding = -1;
	// The samples of the input, once the encoder delay and padding are taken off.
	int64_t Content() const { return samples - std::max(delay, 0) - std::max(padding, 0); }
};

// Decodes with libmp3lame's decoder (hip).
Decoded Decode(const std::string& path)
{
	Decoded decoded;
	std::string data = ReadFile(path);
	if (data.empty())
		return decoded;
	hip_t hip = hip_decode_init();
	if (hip == nullptr)
		return decoded;
	std::vector<short> left(1152 * 4), right(1152 * 4);
	mp3data_struct mp3data;
	std::memset(&mp3data, 0, sizeof(mp3data));
	unsigned char none[1] = {0};
	size_t position = 0;
	bool error = false;
	while (!error) {
		const size_t length = std::min<size_t>(4096, data.size() - position);
		unsigned char* chunk = length > 0
			? reinterpret_cast<unsigned char*>(data.data() + position) : none;
		position += length;
		int delay = -1, padding = -1;
		int got = hip_decode1_headersB(hip, chunk, length, left.data(), right.data(), &mp3data,
			&delay, &padding);
		while (true) {
			if (delay >= 0) {
				decoded.delay = delay;
				decoded.padding = padding;
			}
			if (got < 0) {
				error = true;
				break;
			}
			if (got == 0)
				break;
			decoded.samples += got;
			delay = padding = -1;
			got = hip_decode1_headersB(hip, none, 0, left.data(), right.data(), &mp3data, &delay,
				&padding);
		}
		if (length == 0)
			break;
	}
	hip_decode_exit(hip);
	decoded.ok = !error && mp3data.header_parsed == 1;
	decoded.channels = mp3data.stereo;
	decoded.samplerate = mp3data.samplerate;
	return decoded;
}

// ---- the argument parser ---------------------------------------------------------

gogo::ParseResult Parse(const std::vector<std::string>& arguments)
{
	return gogo::ParseArguments(arguments);
}

TEST(GogoOptions, InputAloneGivesTheDefaults)
{
	const gogo::ParseResult result = Parse({"song.wav"});
	ASSERT_EQ(result.action, gogo::ParseAction::Encode) << result.error;
	const gogo::Options& options = result.options;
	EXPECT_EQ(options.input, "song.wav");
	EXPECT_EQ(options.bitrate, 0);
	EXPECT_EQ(options.EffectiveBitrate(), 128);
	EXPECT_EQ(options.mode, gogo::ChannelMode::Default);
	EXPECT_FALSE(options.noPsy);
	EXPECT_EQ(options.EffectiveQuality(), 3);
	EXPECT_EQ(options.vbrQuality, -1);
	EXPECT_FALSE(options.deleteInput);
	EXPECT_FALSE(options.hasOutputDirectory);
	EXPECT_FALSE(options.silent);
	EXPECT_TRUE(options.replayGain);
}

TEST(GogoOptions, TheFrontEndsFullCommandLine)
{
	const gogo::ParseResult result = Parse({"-b", "192", "-m", "j", "-nopsy", "-delete", "-o",
		"/music/out dir", "-silent", "/music/in put.wav"});
	ASSERT_EQ(result.action, gogo::ParseAction::Encode) << result.error;
	const gogo::Options& options = result.options;
	EXPECT_EQ(options.bitrate, 192);
	EXPECT_EQ(options.mode, gogo::ChannelMode::JointStereo);
	EXPECT_TRUE(options.noPsy);
	EXPECT_EQ(options.EffectiveQuality(), 9);
	EXPECT_TRUE(options.deleteInput);
	EXPECT_TRUE(options.hasOutputDirectory);
	EXPECT_EQ(options.outputDirectory, "/music/out dir");
	EXPECT_TRUE(options.silent);
	EXPECT_EQ(options.input, "/music/in put.wav");
}

TEST(GogoOptions, EveryBitRateAndMode)
{
	for (int kbps : gogo::kBitrates) {
		const gogo::ParseResult result = Parse({"-b", std::to_string(kbps), "x.wav"});
		ASSERT_EQ(result.action, gogo::ParseAction::Encode) << kbps;
		EXPECT_EQ(result.options.bitrate, kbps);
	}
	EXPECT_EQ(Parse({"-m", "m", "x"}).options.mode, gogo::ChannelMode::Mono);
	EXPECT_EQ(Parse({"-m", "s", "x"}).options.mode, gogo::ChannelMode::Stereo);
	EXPECT_EQ(Parse({"-m", "j", "x"}).options.mode, gogo::ChannelMode::JointStereo);
}

TEST(GogoOptions, TheLaterOfQualityAndNoPsyWins)
{
	EXPECT_EQ(Parse({"-nopsy", "-q", "2", "x"}).options.EffectiveQuality(), 2);
	EXPECT_EQ(Parse({"-q", "2", "-nopsy", "x"}).options.EffectiveQuality(), 9);
	EXPECT_EQ(Parse({"-q", "0", "x"}).options.EffectiveQuality(), 0);
	const gogo::ParseResult vbr = Parse({"-v", "4", "-b", "64", "x"});
	ASSERT_EQ(vbr.action, gogo::ParseAction::Encode);
	EXPECT_EQ(vbr.options.vbrQuality, 4);
	EXPECT_EQ(vbr.options.bitrate, 64);
	EXPECT_FALSE(Parse({"-noreplaygain", "x"}).options.replayGain);
	// Repeated options: the last one counts.
	EXPECT_EQ(Parse({"-b", "64", "-b", "256", "x"}).options.bitrate, 256);
}

TEST(GogoOptions, BadBitRates)
{
	for (const char* bad : {"100", "0", "-128", "128k", "abc", "", " 128", "128 ", "99999999999",
			"1e2", "320.0", "8"}) {
		const gogo::ParseResult result = Parse({"-b", bad, "x.wav"});
		EXPECT_EQ(result.action, gogo::ParseAction::Error) << bad;
		EXPECT_NE(result.error.find("bit rate"), std::string::npos) << result.error;
	}
}

TEST(GogoOptions, BadModesAndQualities)
{
	for (const char* bad : {"x", "mono", "", "M", "j ", "d"})
		EXPECT_EQ(Parse({"-m", bad, "x.wav"}).action, gogo::ParseAction::Error) << bad;
	for (const char* bad : {"10", "-1", "a", "", "3.5"}) {
		EXPECT_EQ(Parse({"-q", bad, "x.wav"}).action, gogo::ParseAction::Error) << bad;
		EXPECT_EQ(Parse({"-v", bad, "x.wav"}).action, gogo::ParseAction::Error) << bad;
	}
	EXPECT_EQ(Parse({"-o", "", "x.wav"}).action, gogo::ParseAction::Error);
}

TEST(GogoOptions, MissingValues)
{
	// The value would be the input, which is always last.
	for (const char* option : {"-b", "-m", "-o", "-q", "-v"}) {
		const gogo::ParseResult result = Parse({option, "x.wav"});
		EXPECT_EQ(result.action, gogo::ParseAction::Error) << option;
		EXPECT_NE(result.error.find("needs a value"), std::string::npos) << result.error;
		EXPECT_EQ(Parse({"x.wav", option}).action, gogo::ParseAction::Error) << option;
		EXPECT_EQ(Parse({option}).action, gogo::ParseAction::Error) << option;
	}
}

TEST(GogoOptions, TheInputMustBeLast)
{
	const gogo::ParseResult stray = Parse({"x.wav", "-b", "128", "y.wav"});
	EXPECT_EQ(stray.action, gogo::ParseAction::Error);
	EXPECT_NE(stray.error.find("last argument"), std::string::npos) << stray.error;
	EXPECT_EQ(Parse({"a.wav", "b.wav"}).action, gogo::ParseAction::Error);
	EXPECT_EQ(Parse({"-b", "128", "-delete"}).action, gogo::ParseAction::Error);
	EXPECT_EQ(Parse({}).action, gogo::ParseAction::Error);
	EXPECT_EQ(Parse({""}).action, gogo::ParseAction::Error);
	// A name that starts with '-' needs "--" (or ./).
	EXPECT_EQ(Parse({"-weird.wav"}).action, gogo::ParseAction::Error);
	const gogo::ParseResult dashed = Parse({"-b", "64", "--", "-weird.wav"});
	ASSERT_EQ(dashed.action, gogo::ParseAction::Encode) << dashed.error;
	EXPECT_EQ(dashed.options.input, "-weird.wav");
	EXPECT_EQ(Parse({"--", "a", "b"}).action, gogo::ParseAction::Error);
	// An option's value may look like anything, "-h" included.
	const gogo::ParseResult odd = Parse({"-o", "-h", "x.wav"});
	ASSERT_EQ(odd.action, gogo::ParseAction::Encode) << odd.error;
	EXPECT_EQ(odd.options.outputDirectory, "-h");
}

TEST(GogoOptions, UnknownOptionsAreErrors)
{
	for (const char* unknown : {"-x", "--bitrate", "-B", "-deletee", "-", "-b128", "-nopsy=1"}) {
		const gogo::ParseResult result = Parse({unknown, "x.wav"});
		EXPECT_EQ(result.action, gogo::ParseAction::Error) << unknown;
		EXPECT_EQ(result.error.find('\n'), std::string::npos);
	}
	const gogo::ParseResult result = Parse({"-frobnicate", "x.wav"});
	EXPECT_NE(result.error.find("-frobnicate"), std::string::npos) << result.error;
	// Control bytes in the offending argument do not break the line.
	for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
			{"-a\nb\rc", "x.wav"}, {"-\nx"}, {"-b", "1\n", "x"}, {"-m", "\r", "x"},
			{"x\ny", "x"}, {"--", "a\n", "b"}}) {
		const gogo::ParseResult control = Parse(arguments);
		EXPECT_EQ(control.action, gogo::ParseAction::Error);
		EXPECT_EQ(control.error.find('\n'), std::string::npos) << control.error;
		EXPECT_EQ(control.error.find('\r'), std::string::npos) << control.error;
	}
}

TEST(GogoOptions, HelpAndVersion)
{
	EXPECT_EQ(Parse({"-h"}).action, gogo::ParseAction::Help);
	EXPECT_EQ(Parse({"--help"}).action, gogo::ParseAction::Help);
	EXPECT_EQ(Parse({"-b", "128", "--help", "x.wav"}).action, gogo::ParseAction::Help);
	EXPECT_EQ(Parse({"--version"}).action, gogo::ParseAction::Version);
	EXPECT_NE(gogo::UsageText().find("usage: gogo"), std::string::npos);
	EXPECT_NE(gogo::UsageText().find("-nopsy"), std::string::npos);
}

TEST(GogoOptions, ArgvWithNullEntries)
{
	const char* argv[] = {"gogo", "-b", nullptr, "x.wav", nullptr};
	EXPECT_EQ(gogo::ParseArguments(4, argv).action, gogo::ParseAction::Error);
	const char* good[] = {"gogo", "-m", "m", "x.wav", nullptr};
	const gogo::ParseResult result = gogo::ParseArguments(4, good);
	ASSERT_EQ(result.action, gogo::ParseAction::Encode);
	EXPECT_EQ(result.options.mode, gogo::ChannelMode::Mono);
	EXPECT_EQ(gogo::ParseArguments(0, nullptr).action, gogo::ParseAction::Error);
	EXPECT_EQ(gogo::ParseArguments(1, argv).action, gogo::ParseAction::Error);
}

TEST(GogoOptions, SurvivesRandomArguments)
{
	const std::vector<std::string> words = {"-b", "-m", "-o", "-q", "-v", "-nopsy", "-delete",
		"-silent", "-noreplaygain", "-h", "--help", "--version", "--", "-", "", "128", "320", "m",
		"s", "j", "9", "x.wav", std::string("a\0b", 3), "\xff\xfe", "-b128", "/tmp/x y"};
	std::mt19937 random(12345);
	for (int round = 0; round < 20000; round++) {
		std::vector<std::string> arguments(random() % 8);
		for (std::string& argument : arguments) {
			if (random() % 4 == 0) {
				argument.resize(random() % 12);
				for (char& c : argument)
					c = static_cast<char>(random() % 256);
				if (!argument.empty() && random() % 2 == 0)
					argument[0] = '-';
			} else {
				argument = words[random() % words.size()];
			}
		}
		const gogo::ParseResult result = Parse(arguments);
		if (result.action == gogo::ParseAction::Error) {
			ASSERT_FALSE(result.error.empty());
			ASSERT_EQ(result.error.find('\n'), std::string::npos);
		} else if (result.action == gogo::ParseAction::Encode) {
			ASSERT_FALSE(result.options.input.empty());
			ASSERT_EQ(result.options.input, arguments.back());
			ASSERT_EQ(result.options.input.find('\0'), std::string::npos);
		}
	}
}

// ---- naming ------------------------------------------------------------------------

TEST(GogoNaming, OutputFileNames)
{
	EXPECT_EQ(gogo::OutputFileName("song.wav"), "song.mp3");
	EXPECT_EQ(gogo::OutputFileName("song.WAV"), "song.mp3");
	EXPECT_EQ(gogo::OutputFileName("a.b.flac"), "a.b.mp3");
	EXPECT_EQ(gogo::OutputFileName("noext"), "noext.mp3");
	EXPECT_EQ(gogo::OutputFileName(".hidden"), ".hidden.mp3");
	EXPECT_EQ(gogo::OutputFileName("trailing."), "trailing.mp3");
	EXPECT_EQ(gogo::OutputFileName("with space.aiff"), "with space.mp3");
}

TEST(GogoNaming, PathsSplitAndJoin)
{
	std::string directory, name;
	gogo::SplitPath("a/b/c.wav", directory, name);
	EXPECT_EQ(directory, "a/b");
	EXPECT_EQ(name, "c.wav");
	gogo::SplitPath("c.wav", directory, name);
	EXPECT_EQ(directory, "");
	EXPECT_EQ(name, "c.wav");
	gogo::SplitPath("/c.wav", directory, name);
	EXPECT_EQ(directory, "/");
	EXPECT_EQ(name, "c.wav");
	gogo::SplitPath("a//c.wav", directory, name);
	EXPECT_EQ(directory, "a");
	gogo::SplitPath("a/", directory, name);
	EXPECT_EQ(directory, "a");
	EXPECT_EQ(name, "");

	gogo::Options options;
	options.input = "/music/in/song.wav";
	EXPECT_EQ(gogo::OutputPath(options), "/music/in/song.mp3");
	options.hasOutputDirectory = true;
	options.outputDirectory = "/music/out dir";
	EXPECT_EQ(gogo::OutputPath(options), "/music/out dir/song.mp3");
	options.outputDirectory = "/music/out/";
	EXPECT_EQ(gogo::OutputPath(options), "/music/out/song.mp3");
	options.hasOutputDirectory = false;
	options.input = "song";
	EXPECT_EQ(gogo::OutputPath(options), "song.mp3");
}

TEST(GogoNaming, QuotePathKeepsOneLine)
{
	EXPECT_EQ(gogo::QuotePath("a b\"c;d"), "'a b\"c;d'");
	EXPECT_EQ(gogo::QuotePath("a\nb\tc"), "'a\\x0ab\\x09c'");
	EXPECT_EQ(gogo::QuotePath("\xff"), "'\xff'");
}

// ---- encoding in-process -------------------------------------------------------------

struct Format {
	int subformat;
	int rate;
	int channels;
	const char* name;
};

class GogoEncodeFormats : public testing::TestWithParam<Format> {};

TEST_P(GogoEncodeFormats, DecodesToTheInputsLengthAndChannels)
{
	const Format format = GetParam();
	TempDir dir;
	const std::string input = dir / "in.wav";
	const double seconds = 1.5;
	ASSERT_TRUE(WriteSineWav(input, seconds, format.rate, format.channels, format.subformat));
	const int64_t frames = static_cast<int64_t>(seconds * format.rate);

	gogo::Options options;
	options.input = input;
	std::vector<int> percents;
	const gogo::EncodeResult result =
		gogo::EncodeFile(options, [&percents](int percent) { percents.push_back(percent); });
	ASSERT_TRUE(result.ok) << result.error;
	EXPECT_EQ(result.outputPath, dir / "in.mp3");
	EXPECT_EQ(result.frames, frames);
	EXPECT_EQ(result.channels, format.channels);
	ASSERT_FALSE(percents.empty());
	EXPECT_EQ(percents.back(), 100);
	EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
	EXPECT_EQ(ListDirectory(dir.Path()), (std::vector<std::string>{"in.mp3", "in.wav"}));

	const Decoded decoded = Decode(dir / "in.mp3");
	ASSERT_TRUE(decoded.ok);
	EXPECT_EQ(decoded.channels, format.channels);
	ASSERT_GT(decoded.samplerate, 0);
	EXPECT_GE(decoded.delay, 0) << "no LAME tag";
	// The duration, within a frame (LAME resamples some rates).
	const double expected = static_cast<double>(frames) / format.rate;
	const double got = static_cast<double>(decoded.Content()) / decoded.samplerate;
	EXPECT_NEAR(got, expected, 1152.0 / decoded.samplerate) << decoded.samples;
	if (decoded.samplerate == format.rate) {
		EXPECT_EQ(decoded.Content(), frames);
	}
}

INSTANTIATE_TEST_SUITE_P(Wav, GogoEncodeFormats,
	testing::Values(Format{SF_FORMAT_PCM_16, 44100, 2, "pcm16_44k_stereo"},
		Format{SF_FORMAT_PCM_16, 44100, 1, "pcm16_44k_mono"},
		Format{SF_FORMAT_PCM_U8, 22050, 1, "pcm8_22k_mono"},
		Format{SF_FORMAT_PCM_24, 48000, 2, "pcm24_48k_stereo"},
		Format{SF_FORMAT_PCM_32, 32000, 2, "pcm32_32k_stereo"},
		Format{SF_FORMAT_FLOAT, 48000, 1, "float_48k_mono"},
		Format{SF_FORMAT_FLOAT, 44100, 2, "float_44k_stereo"},
		Format{SF_FORMAT_DOUBLE, 16000, 2, "double_16k_stereo"},
		Format{SF_FORMAT_PCM_16, 8000, 1, "pcm16_8k_mono"},
		Format{SF_FORMAT_PCM_16, 96000, 2, "pcm16_96k_stereo"}),
	[](const testing::TestParamInfo<Format>& info) { return std::string(info.param.name); });

TEST(GogoEncode, EveryFrameHasTheChosenBitRate)
{
	TempDir dir;
	const std::string input = dir / "in.wav";
	ASSERT_TRUE(WriteSineWav(input, 2, 44100, 2));
	for (int kbps : {32, 64, 96, 128, 192, 320}) {
		gogo::Options options;
		options.input = input;
		options.bitrate = kbps;
		const gogo::EncodeResult result = gogo::EncodeFile(options);
		ASSERT_TRUE(result.ok) << result.error;
		const std::string data = ReadFile(result.outputPath);
		const std::vector<Frame> frames = ParseFrames(data);
		ASSERT_FALSE(frames.empty());
		// As lame does, LAME picks a lower sample rate for low bit rates
		// (16 kHz MPEG-2 at 32 kbps); from 112 kbps on it keeps 44.1 kHz.
		const Frame& first = frames.front();
		if (kbps >= 112) {
			EXPECT_EQ(first.version, 1);
			EXPECT_EQ(first.samplerate, 44100);
		}
		const size_t perFrame = first.version == 1 ? 1152 : 576;
		EXPECT_GE(frames.size(), 2 * first.samplerate / perFrame) << kbps;
		for (const Frame& frame : frames) {
			EXPECT_EQ(frame.bitrate, kbps);
			EXPECT_EQ(frame.samplerate, first.samplerate);
		}
		size_t length = 0;
		for (const Frame& frame : frames) {
			length += (frame.version == 1 ? 144 : 72) * frame.bitrate * 1000 / frame.samplerate;
		}
		EXPECT_GE(data.size(), length);
		EXPECT_LE(data.size(), length + frames.size()); // at most a padding byte per frame
		const Decoded decoded = Decode(result.outputPath);
		ASSERT_TRUE(decoded.ok);
		const int64_t expected = 2 * decoded.samplerate;
		if (first.version == 1) {
			// The first frame is the LAME tag ("Info" for a constant bit rate),
			// which tells the delay and padding.
			EXPECT_NE(data.substr(0, 200).find("Info"), std::string::npos);
			EXPECT_NE(data.find("LAME"), std::string::npos);
			EXPECT_NEAR(decoded.Content(), expected, perFrame);
		} else {
			// Frames of 144 bytes at 32 kbps have no room for the tag: the
			// decoder gives the delay and padding too.
			EXPECT_GE(decoded.samples, expected);
			EXPECT_LE(decoded.samples, expected + 576 + 3 * static_cast<int64_t>(perFrame));
		}
	}
}

TEST(GogoEncode, ModesSetTheChannels)
{
	TempDir dir;
	const std::string input = dir / "in.wav";
	ASSERT_TRUE(WriteSineWav(input, 2, 44100, 2));
	struct Case {
		gogo::ChannelMode mode;
		int channels;
		int headerMode;
	};
	for (const Case& c : {Case{gogo::ChannelMode::Mono, 1, 3}, Case{gogo::ChannelMode::Stereo, 2, 0},
			Case{gogo::ChannelMode::JointStereo, 2, 1}}) {
		gogo::Options options;
		options.input = input;
		options.mode = c.mode;
		const gogo::EncodeResult result = gogo::EncodeFile(options);
		ASSERT_TRUE(result.ok) << result.error;
		const Decoded decoded = Decode(result.outputPath);
		ASSERT_TRUE(decoded.ok);
		EXPECT_EQ(decoded.channels, c.channels);
		EXPECT_EQ(decoded.Content(), 88200);
		for (const Frame& frame : ParseFrames(ReadFile(result.outputPath)))
			EXPECT_EQ(frame.channelMode, c.headerMode);
	}
}

TEST(GogoEncode, VariableBitRateAndNoPsy)
{
	TempDir dir;
	const std::string input = dir / "in.wav";
	ASSERT_TRUE(WriteSineWav(input, 2, 44100, 2));
	gogo::Options options;
	options.input = input;
	options.vbrQuality = 2;
	gogo::EncodeResult result = gogo::EncodeFile(options);
	ASSERT_TRUE(result.ok) << result.error;
	EXPECT_NE(ReadFile(result.outputPath).substr(0, 200).find("Xing"), std::string::npos);
	Decoded decoded = Decode(result.outputPath);
	ASSERT_TRUE(decoded.ok);
	EXPECT_EQ(decoded.Content(), 88200);

	options.vbrQuality = -1;
	options.noPsy = true;
	options.quality = gogo::kNoPsyQuality;
	options.bitrate = 112;
	result = gogo::EncodeFile(options);
	ASSERT_TRUE(result.ok) << result.error;
	decoded = Decode(result.outputPath);
	ASSERT_TRUE(decoded.ok);
	EXPECT_EQ(decoded.Content(), 88200);
	for (const Frame& frame : ParseFrames(ReadFile(result.outputPath)))
		EXPECT_EQ(frame.bitrate, 112);
}

TEST(GogoEncode, RefusesToOverwriteTheInput)
{
	// A WAV named .mp3 would be replaced by its own MP3.
	TempDir dir;
	const std::string input = dir / "song.mp3";
	ASSERT_TRUE(WriteSineWav(input, 1, 44100, 2));
	const std::string before = ReadFile(input);
	gogo::Options options;
	options.input = input;
	options.deleteInput = true;
	const gogo::EncodeResult result = gogo::EncodeFile(options);
	EXPECT_FALSE(result.ok);
	EXPECT_NE(result.error.find("overwrite"), std::string::npos) << result.error;
	EXPECT_EQ(ReadFile(input), before);
	EXPECT_EQ(ListDirectory(dir.Path()), std::vector<std::string>{"song.mp3"});
}

TEST(GogoEncode, RefusesMoreThanTwoChannelsAndEmptyAudio)
{
	TempDir dir;
	ASSERT_TRUE(WriteSineWav(dir / "quad.wav", 1, 44100, 4));
	gogo::Options options;
	options.input = dir / "quad.wav";
	gogo::EncodeResult result = gogo::EncodeFile(options);
	EXPECT_FALSE(result.ok);
	EXPECT_NE(result.error.find("4 channels"), std::string::npos) << result.error;

	ASSERT_TRUE(WriteSineWav(dir / "silence.wav", 0, 44100, 2));
	options.input = dir / "silence.wav";
	result = gogo::EncodeFile(options);
	EXPECT_FALSE(result.ok);
	EXPECT_NE(result.error.find("no audio"), std::string::npos) << result.error;
	EXPECT_EQ(ListDirectory(dir.Path()), (std::vector<std::string>{"quad.wav", "silence.wav"}));
}

TEST(GogoEncode, LowSampleRatesLameResamplesUpwards)
{
	// 4 kHz becomes 8 kHz: each block's MP3 is larger than its sample count
	// suggests, which the output buffer must allow for.
	TempDir dir;
	const std::string input = dir / "low.wav";
	ASSERT_TRUE(WriteSineWav(input, 40, 4000, 1));
	gogo::Options options;
	options.input = input;
	options.bitrate = 320;
	gogo::EncodeResult result = gogo::EncodeFile(options);
	ASSERT_TRUE(result.ok) << result.error;
	const Decoded decoded = Decode(result.outputPath);
	ASSERT_TRUE(decoded.ok);
	EXPECT_EQ(decoded.samplerate, 8000);
	EXPECT_NEAR(static_cast<double>(decoded.samples) / decoded.samplerate, 40.0, 0.3);

	ASSERT_TRUE(WriteSineWav(dir / "absurd.wav", 1, 500, 1));
	options.input = dir / "absurd.wav";
	result = gogo::EncodeFile(options);
	EXPECT_FALSE(result.ok);
	EXPECT_NE(result.error.find("sample rate"), std::string::npos) << result.error;
}

// ---- the gogo program ------------------------------------------------------------------

class GogoProgram : public testing::Test {
protected:
	void SetUp() override
	{
		if (access(kGogo.c_str(), X_OK) != 0)
			FAIL() << kGogo << " is missing: build the gogo target";
	}
};

TEST_F(GogoProgram, EncodesBesideTheInputWithProgress)
{
	TempDir dir;
	const std::string input = dir / "track.wav";
	ASSERT_TRUE(WriteSineWav(input, 2, 44100, 2));
	const RunResult run = RunGogo({"-b", "160", input});
	ASSERT_EQ(run.Code(), 0) << run.err;
	EXPECT_TRUE(run.err.empty()) << run.err;
	EXPECT_NE(run.out.find('%'), std::string::npos) << run.out;
	EXPECT_EQ(run.out.back(), '\n');
	EXPECT_NE(run.out.find("track.mp3"), std::string::npos) << run.out;
	EXPECT_EQ(ListDirectory(dir.Path()), (std::vector<std::string>{"track.mp3", "track.wav"}));
	for (const Frame& frame : ParseFrames(ReadFile(dir / "track.mp3")))
		EXPECT_EQ(frame.bitrate, 160);
	const Decoded decoded = Decode(dir / "track.mp3");
	ASSERT_TRUE(decoded.ok);
	EXPECT_EQ(decoded.channels, 2);
	EXPECT_EQ(decoded.Content(), 88200);
}

TEST_F(GogoProgram, MonoModeGivesOneChannel)
{
	TempDir dir;
	const std::string input = dir / "stereo.wav";
	ASSERT_TRUE(WriteSineWav(input, 2, 48000, 2, SF_FORMAT_FLOAT));
	const RunResult run = RunGogo({"-b", "64", "-m", "m", input});
	ASSERT_EQ(run.Code(), 0) << run.err;
	const Decoded decoded = Decode(dir / "stereo.mp3");
	ASSERT_TRUE(decoded.ok);
	EXPECT_EQ(decoded.channels, 1);
	EXPECT_EQ(decoded.samplerate, 48000);
	EXPECT_EQ(decoded.Content(), 96000);
}

TEST_F(GogoProgram, DeleteRemovesTheInputOnlyOnSuccess)
{
	TempDir dir;
	const std::string input = dir / "gone.wav";
	ASSERT_TRUE(WriteSineWav(input, 1, 44100, 2));
	RunResult run = RunGogo({"-delete", input});
	ASSERT_EQ(run.Code(), 0) << run.err;
	EXPECT_EQ(ListDirectory(dir.Path()), std::vector<std::string>{"gone.mp3"});
	EXPECT_TRUE(Decode(dir / "gone.mp3").ok);

	// The output directory cannot be made (a file is in the way): the input stays.
	const std::string kept = dir / "kept.wav";
	ASSERT_TRUE(WriteSineWav(kept, 1, 44100, 2));
	const std::string before = ReadFile(kept);
	ASSERT_TRUE(WriteFile(dir / "blocker", "not a directory"));
	run = RunGogo({"-delete", "-o", dir / "blocker/out", kept});
	EXPECT_EQ(run.Code(), 1);
	ExpectOneErrorLine(run);
	EXPECT_EQ(ReadFile(kept), before);

	// Not audio: the input stays too.
	const std::string text = dir / "text.wav";
	ASSERT_TRUE(WriteFile(text, "just some words\n"));
	run = RunGogo({"-delete", text});
	EXPECT_EQ(run.Code(), 1);
	ExpectOneErrorLine(run);
	EXPECT_EQ(ReadFile(text), "just some words\n");
	EXPECT_EQ(ListDirectory(dir.Path()),
		(std::vector<std::string>{"blocker", "gone.mp3", "kept.wav", "text.wav"}));
}

TEST_F(GogoProgram, OutputDirectoryWithSpacesIsCreated)
{
	TempDir dir;
	const std::string input = dir / "in.wav";
	ASSERT_TRUE(WriteSineWav(input, 1, 44100, 1));
	const std::string output = dir / "out dir/with spaces/deeper one";
	const RunResult run = RunGogo({"-o", output, input});
	ASSERT_EQ(run.Code(), 0) << run.err;
	EXPECT_EQ(ListDirectory(output), std::vector<std::string>{"in.mp3"});
	EXPECT_EQ(ListDirectory(dir.Path()), (std::vector<std::string>{"in.wav", "out dir"}));
	const Decoded decoded = Decode(output + "/in.mp3");
	ASSERT_TRUE(decoded.ok);
	EXPECT_EQ(decoded.channels, 1);

	// An existing directory, given with a trailing slash, works as well.
	const RunResult again = RunGogo({"-o", output + "/", input});
	ASSERT_EQ(again.Code(), 0) << again.err;
	EXPECT_EQ(ListDirectory(output), std::vector<std::string>{"in.mp3"});
}

TEST_F(GogoProgram, NonAudioInputFailsCleanly)
{
	TempDir dir;
	const std::string input = dir / "notes.wav";
	const std::string contents = "RIFF? no, this is plain text.\n";
	ASSERT_TRUE(WriteFile(input, contents));
	const RunResult run = RunGogo({"-b", "128", "-o", dir / "out", input});
	EXPECT_EQ(run.Code(), 1);
	ExpectOneErrorLine(run);
	EXPECT_NE(run.err.find("notes.wav"), std::string::npos) << run.err;
	EXPECT_EQ(ReadFile(input), contents);
	// No MP3, no temporary file, not even the output directory.
	EXPECT_EQ(ListDirectory(dir.Path()), std::vector<std::string>{"notes.wav"});

	const RunResult beside = RunGogo({input});
	EXPECT_EQ(beside.Code(), 1);
	EXPECT_EQ(ListDirectory(dir.Path()), std::vector<std::string>{"notes.wav"});
}

TEST_F(GogoProgram, EmptyMissingAndDirectoryInputsFail)
{
	TempDir dir;
	ASSERT_TRUE(WriteFile(dir / "empty.wav", ""));
	ASSERT_EQ(mkdir((dir / "folder.wav").c_str(), 0755), 0);
	struct Case {
		std::string path;
		const char* reason;
	};
	for (const Case& c : {Case{dir / "empty.wav", "empty"}, Case{dir / "missing.wav", "No such"},
			Case{dir / "folder.wav", "directory"}, Case{dir / "folder.wav/", "directory"}}) {
		const RunResult run = RunGogo({"-delete", c.path});
		EXPECT_EQ(run.Code(), 1) << c.path;
		ExpectOneErrorLine(run);
		EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
	}
	EXPECT_EQ(ListDirectory(dir.Path()), (std::vector<std::string>{"empty.wav", "folder.wav"}));
	EXPECT_TRUE(ListDirectory(dir / "folder.wav").empty());
}

TEST_F(GogoProgram, CommandLineErrorsAndHelp)
{
	RunResult run = RunGogo({"-b", "129", "x.wav"});
	EXPECT_EQ(run.Code(), 2);
	ExpectOneErrorLine(run);
	run = RunGogo({"-frob", "x.wav"});
	EXPECT_EQ(run.Code(), 2);
	ExpectOneErrorLine(run);
	run = RunGogo({});
	EXPECT_EQ(run.Code(), 2);
	ExpectOneErrorLine(run);
	run = RunGogo({"--help"});
	EXPECT_EQ(run.Code(), 0);
	EXPECT_NE(run.out.find("usage: gogo"), std::string::npos);
	run = RunGogo({"--version"});
	EXPECT_EQ(run.Code(), 0);
	EXPECT_NE(run.out.find("gogo"), std::string::npos);
}

TEST_F(GogoProgram, StrangeBytesInPaths)
{
	TempDir dir;
	const std::string weirdDir = dir / "dir with \"double quotes\"\tand a tab; semi;colons \xff\xfe";
	ASSERT_EQ(mkdir(weirdDir.c_str(), 0755), 0);
	const std::string name = "my \"song\"\t;x; \xe9t\xe9 'single'";
	const std::string input = weirdDir + "/" + name + ".wav";
	ASSERT_TRUE(WriteSineWav(input, 1, 44100, 2));
	RunResult run = RunGogo({"-b", "96", input});
	ASSERT_EQ(run.Code(), 0) << run.err;
	EXPECT_EQ(ListDirectory(weirdDir), (std::vector<std::string>{name + ".mp3", name + ".wav"}));
	EXPECT_TRUE(Decode(weirdDir + "/" + name + ".mp3").ok);

	// And as the output directory, with -delete.
	const std::string outDir = weirdDir + "/out;\"x\"\t\x80";
	run = RunGogo({"-delete", "-o", outDir, input});
	ASSERT_EQ(run.Code(), 0) << run.err;
	EXPECT_EQ(ListDirectory(outDir), std::vector<std::string>{name + ".mp3"});
	EXPECT_FALSE(Exists(input));

	// A name starting with '-', after "--"; a name without an extension.
	const std::string dashed = dir / "-dash";
	ASSERT_TRUE(WriteSineWav(dashed, 1, 22050, 1));
	run = RunGogo({"--", "-dash"}); // relative to gogo's working directory: missing
	EXPECT_EQ(run.Code(), 1);
	run = RunGogo({"--", dashed});
	ASSERT_EQ(run.Code(), 0) << run.err;
	EXPECT_TRUE(Exists(dir / "-dash.mp3"));
}

// Creates a directory chain longer than PATH_MAX under base (components of
// 200 bytes) and returns the path; walks with openat as nothing else can.
std::string MakeLongDirectory(const std::string& base, int levels)
{
	std::string path = base;
	int fd = open(base.c_str(), O_RDONLY | O_DIRECTORY);
	const std::string component(200, 'd');
	for (int i = 0; i < levels && fd >= 0; i++) {
		const std::string name = component + std::to_string(i);
		mkdirat(fd, name.c_str(), 0755);
		const int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
		close(fd);
		fd = next;
		path += "/" + name;
	}
	if (fd < 0)
		return "";
	close(fd);
	return path;
}

int OpenLongDirectory(const std::string& path)
{
	int fd = open("/", O_RDONLY | O_DIRECTORY);
	size_t position = 1;
	while (fd >= 0 && position < path.size()) {
		size_t end = path.find('/', position);
		if (end == std::string::npos)
			end = path.size();
		const std::string name = path.substr(position, end - position);
		position = end + 1;
		const int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
		close(fd);
		fd = next;
	}
	return fd;
}

// Removes a tree of any depth.
void RemoveTree(int parent, const std::string& name)
{
	const int fd = openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
	if (fd >= 0) {
		DIR* dir = fdopendir(fd);
		std::vector<std::string> children;
		while (dirent* entry = readdir(dir)) {
			const std::string child = entry->d_name;
			if (child != "." && child != "..")
				children.push_back(child);
		}
		for (const std::string& child : children) {
			if (unlinkat(fd, child.c_str(), 0) != 0)
				RemoveTree(fd, child);
		}
		closedir(dir);
	}
	unlinkat(parent, name.c_str(), AT_REMOVEDIR);
}

TEST_F(GogoProgram, PathsLongerThanPathMax)
{
	TempDir dir;
	const std::string deep = MakeLongDirectory(dir.Path(), 24);
	ASSERT_FALSE(deep.empty());
	ASSERT_GT(deep.size(), 4096u);
	{
		const int fd = OpenLongDirectory(deep);
		ASSERT_GE(fd, 0);
		const int wav = openat(fd, "long.wav", O_RDWR | O_CREAT | O_TRUNC, 0644);
		ASSERT_GE(wav, 0);
		ASSERT_TRUE(WriteSineWavFd(wav, 1, 44100, 2, SF_FORMAT_PCM_16));
		close(fd);
	}
	const std::string outDir = deep + "/" + std::string(200, 'o') + "/" + std::string(200, 'p');
	const RunResult run = RunGogo({"-delete", "-o", outDir, deep + "/long.wav"});
	EXPECT_EQ(run.Code(), 0) << run.err;
	const int out = OpenLongDirectory(outDir);
	EXPECT_GE(out, 0);
	if (out >= 0) {
		struct stat st;
		EXPECT_EQ(fstatat(out, "long.mp3", &st, 0), 0);
		EXPECT_GT(st.st_size, 10000);
		close(out);
	}
	const int in = OpenLongDirectory(deep);
	ASSERT_GE(in, 0);
	struct stat st;
	EXPECT_NE(fstatat(in, "long.wav", &st, 0), 0); // deleted
	close(in);
	const int base = open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY);
	RemoveTree(base, std::string(200, 'd') + "0");
	close(base);
}

TEST_F(GogoProgram, SurvivesClosedAndBrokenStdio)
{
	TempDir dir;
	const std::string input = dir / "in.wav";
	ASSERT_TRUE(WriteSineWav(input, 2, 44100, 2));
	RunResult run = RunGogo({input}, Stdio::Closed);
	EXPECT_EQ(run.Code(), 0);
	Decoded decoded = Decode(dir / "in.mp3");
	EXPECT_TRUE(decoded.ok);
	EXPECT_EQ(decoded.Content(), 88200);
	ASSERT_EQ(unlink((dir / "in.mp3").c_str()), 0);

	run = RunGogo({input}, Stdio::BrokenPipe);
	EXPECT_TRUE(run.Exited()) << "killed by signal " << WTERMSIG(run.status);
	EXPECT_EQ(run.Code(), 0);
	decoded = Decode(dir / "in.mp3");
	EXPECT_TRUE(decoded.ok);
	EXPECT_EQ(decoded.Content(), 88200);

	// A failure with stderr broken still exits non-zero and cleans up.
	ASSERT_TRUE(WriteFile(dir / "bad.wav", "nope"));
	run = RunGogo({dir / "bad.wav"}, Stdio::BrokenPipe);
	EXPECT_EQ(run.Code(), 1);
	EXPECT_EQ(ListDirectory(dir.Path()), (std::vector<std::string>{"bad.wav", "in.mp3", "in.wav"}));
}

TEST_F(GogoProgram, SignalsMidwayLeaveNoFile)
{
	TempDir dir;
	const std::string input = dir / "long.wav";
	ASSERT_TRUE(WriteSineWav(input, 120, 48000, 2));
	const std::string before = ReadFile(input);
	// SIGKILL is how the front end skips a file or stops a run.
	for (int signalNumber : {SIGTERM, SIGINT, SIGHUP, SIGKILL}) {
		TempDir capture;
		const pid_t pid = Spawn({"-delete", "-q", "2", input}, Stdio::Capture, capture / "out",
			capture / "err");
		ASSERT_GT(pid, 0);
		// Progress on stdout: the encode is under way.
		const bool started = testing_support::WaitUntil(
			[&capture] { return ReadFile(capture / "out").find('%') != std::string::npos; },
			std::chrono::seconds(30));
		EXPECT_TRUE(started) << ReadFile(capture / "out");
		std::this_thread::sleep_for(std::chrono::milliseconds(100)); // well into the encode
		ASSERT_EQ(kill(pid, signalNumber), 0);
		const int status = Wait(pid);
		if (signalNumber == SIGKILL) {
			EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
		} else {
			ASSERT_TRUE(WIFEXITED(status)) << "signal " << signalNumber;
			EXPECT_EQ(WEXITSTATUS(status), 128 + signalNumber);
		}
		EXPECT_EQ(ListDirectory(dir.Path()), std::vector<std::string>{"long.wav"})
			<< "signal " << signalNumber;
	}
	EXPECT_EQ(ReadFile(input), before);
}

TEST_F(GogoProgram, SameBytesAsLame)
{
	// The defaults do lame's work: lame -b 128 and gogo -b 128 write the same file.
	const std::string lame = "/usr/bin/lame";
	if (access(lame.c_str(), X_OK) != 0)
		GTEST_SKIP() << "no " << lame;
	TempDir dir;
	const std::string input = dir / "in.wav";
	ASSERT_TRUE(WriteSineWav(input, 3, 44100, 2));
	const RunResult run = RunGogo({"-b", "128", input});
	ASSERT_EQ(run.Code(), 0) << run.err;

	std::vector<std::string> strings = {lame, "--quiet", "-b", "128", input, dir / "lame.mp3"};
	std::vector<char*> argv;
	for (std::string& s : strings)
		argv.push_back(s.data());
	argv.push_back(nullptr);
	pid_t pid = -1;
	ASSERT_EQ(posix_spawn(&pid, lame.c_str(), nullptr, nullptr, argv.data(), environ), 0);
	ASSERT_EQ(Wait(pid), 0);
	const std::string ours = ReadFile(dir / "in.mp3");
	ASSERT_FALSE(ours.empty());
	EXPECT_TRUE(ours == ReadFile(dir / "lame.mp3"));
}

} // namespace
