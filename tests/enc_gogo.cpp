// The bundled encoder: its argument parser, its encoding (in-process and as
// the gogo program, run with posix_spawn), its output naming (never over
// another file unless told), and its care with the input (-delete only of a
// complete, unchanged input) and with partial files.
#include "GogoEncoder.h"
#include "GogoOptions.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <lame/lame.h>
#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <limits>
#include <mutex>
#include <random>
#include <set>
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

// Writes sine waves (a different pitch per channel) through an already open
// descriptor or a path: a WAV of an SF_FORMAT_* subformat, or any file of a
// major format and subformat.
bool WriteSineFd(int fd, double seconds, int rate, int channels, int fullFormat)
{
	SF_INFO info;
	std::memset(&info, 0, sizeof(info));
	info.samplerate = rate;
	info.channels = channels;
	info.format = fullFormat;
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

bool WriteSineWavFd(int fd, double seconds, int rate, int channels, int format)
{
	return WriteSineFd(fd, seconds, rate, channels, SF_FORMAT_WAV | format);
}

bool WriteSineFile(const std::string& path, double seconds, int rate, int channels, int fullFormat)
{
	const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
	if (fd < 0)
		return false;
	return WriteSineFd(fd, seconds, rate, channels, fullFormat);
}

bool WriteSineWav(const std::string& path, double seconds, int rate, int channels,
	int format = SF_FORMAT_PCM_16)
{
	return WriteSineFile(path, seconds, rate, channels, SF_FORMAT_WAV | format);
}

// A canonical 44-byte header of 16-bit PCM WAV whose data chunk claims
// dataBytes, whatever follows it.
std::string WavHeader(int rate, int channels, uint32_t dataBytes)
{
	std::string header;
	auto put = [&header](uint32_t value, int bytes) {
		for (int i = 0; i < bytes; i++)
			header += static_cast<char>((value >> (8 * i)) & 0xff);
	};
	header += "RIFF";
	put(dataBytes == 0xffffffff ? 0xffffffff : 36 + dataBytes, 4);
	header += "WAVEfmt ";
	put(16, 4);
	put(1, 2); // PCM
	put(static_cast<uint32_t>(channels), 2);
	put(static_cast<uint32_t>(rate), 4);
	put(static_cast<uint32_t>(rate * channels * 2), 4);
	put(static_cast<uint32_t>(channels * 2), 2);
	put(16, 2);
	header += "data";
	put(dataBytes, 4);
	return header;
}

// 16-bit PCM samples of a tone, little-endian, frames starting at first.
std::string PcmFrames(int64_t first, int64_t count, int rate, int channels)
{
	std::string data;
	data.reserve(static_cast<size_t>(count * channels * 2));
	for (int64_t i = first; i < first + count; i++) {
		const double value = 0.4 * std::sin(2 * M_PI * 330.0 * static_cast<double>(i) / rate);
		const auto sample = static_cast<int16_t>(std::lround(value * 32767));
		for (int c = 0; c < channels; c++) {
			data += static_cast<char>(sample & 0xff);
			data += static_cast<char>((sample >> 8) & 0xff);
		}
	}
	return data;
}

// Cuts a file to a fraction of its size, as a copy or a download cut short.
bool CutTo(const std::string& path, double fraction)
{
	struct stat st;
	if (stat(path.c_str(), &st) != 0)
		return false;
	return truncate(path.c_str(), static_cast<off_t>(static_cast<double>(st.st_size) * fraction)) == 0;
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

// The environment of a child: this process's, with the given NAME=value
// entries added or put in place of the same names.
struct Environment {
	std::vector<std::string> strings;
	std::vector<char*> pointers;

	explicit Environment(const std::vector<std::string>& extra)
	{
		for (char** entry = environ; *entry != nullptr; entry++) {
			const std::string text = *entry;
			const std::string name = text.substr(0, text.find('='));
			const bool replaced = std::any_of(extra.begin(), extra.end(),
				[&name](const std::string& e) { return e.rfind(name + "=", 0) == 0; });
			if (!replaced)
				strings.push_back(text);
		}
		strings.insert(strings.end(), extra.begin(), extra.end());
		for (std::string& text : strings)
			pointers.push_back(text.data());
		pointers.push_back(nullptr);
	}
};

pid_t Spawn(const std::vector<std::string>& arguments, Stdio stdio, const std::string& outPath,
	const std::string& errPath, int pipeWrite = -1, const std::vector<std::string>& extraEnvironment = {})
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

	Environment environment(extraEnvironment);
	pid_t pid = -1;
	if (posix_spawn(&pid, kGogo.c_str(), &actions, &attributes, argv.data(),
			environment.pointers.data()) != 0) {
		pid = -1;
	}
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
	EXPECT_FALSE(options.overwrite);
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

TEST(GogoOptions, OverwriteButNeverWithDelete)
{
	const gogo::ParseResult overwrite = Parse({"-overwrite", "-o", "out", "x.wav"});
	ASSERT_EQ(overwrite.action, gogo::ParseAction::Encode) << overwrite.error;
	EXPECT_TRUE(overwrite.options.overwrite);
	EXPECT_FALSE(overwrite.options.deleteInput);
	// -delete is handed the only copy of a recording: nothing is replaced
	// then, and asking for it is an error in either order.
	for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
			{"-overwrite", "-delete", "x.wav"}, {"-delete", "-b", "64", "-overwrite", "x.wav"}}) {
		const gogo::ParseResult both = Parse(arguments);
		EXPECT_EQ(both.action, gogo::ParseAction::Error);
		EXPECT_NE(both.error.find("-overwrite"), std::string::npos) << both.error;
		EXPECT_NE(both.error.find("-delete"), std::string::npos) << both.error;
		EXPECT_EQ(both.error.find('\n'), std::string::npos);
	}
	EXPECT_NE(gogo::UsageText().find("-overwrite"), std::string::npos);
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
		"-overwrite", "-silent", "-noreplaygain", "-h", "--help", "--version", "--", "-", "", "128", "320", "m",
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
			ASSERT_FALSE(result.options.overwrite && result.options.deleteInput);
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

// Float files can hold what no converter should pass on: LAME aborts the
// whole process on a NaN or an infinity. Those, and samples far past full
// scale, are clipped; the encode goes through with the file's length.
TEST(GogoEncode, FloatSamplesThatAreNotNumbersOrPastFullScaleAreClipped)
{
	const float specials[] = {std::numeric_limits<float>::quiet_NaN(),
		std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(), 1e30f,
		-1e30f, 4.0f};
	for (int channels : {1, 2}) {
		TempDir dir;
		const std::string input = dir / "odd.wav";
		SF_INFO info;
		std::memset(&info, 0, sizeof(info));
		info.samplerate = 44100;
		info.channels = channels;
		info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
		SNDFILE* file = sf_open(input.c_str(), SFM_WRITE, &info);
		ASSERT_NE(file, nullptr);
		const sf_count_t frames = 44100;
		std::vector<float> samples(static_cast<size_t>(frames * channels));
		for (size_t i = 0; i < samples.size(); i++)
			samples[i] = static_cast<float>(0.3 * std::sin(0.05 * static_cast<double>(i)));
		// Runs of each kind, and single ones between good samples.
		for (size_t kind = 0; kind < std::size(specials); kind++) {
			for (size_t i = 0; i < 300; i++)
				samples[1000 + kind * 4000 + i] = specials[kind];
			samples[30000 + kind * 97] = specials[kind];
		}
		ASSERT_EQ(sf_write_float(file, samples.data(), static_cast<sf_count_t>(samples.size())),
			static_cast<sf_count_t>(samples.size()));
		ASSERT_EQ(sf_close(file), 0);

		gogo::Options options;
		options.input = input;
		const gogo::EncodeResult result = gogo::EncodeFile(options);
		ASSERT_TRUE(result.ok) << result.error;
		EXPECT_EQ(result.frames, frames);
		const Decoded decoded = Decode(result.outputPath);
		ASSERT_TRUE(decoded.ok);
		EXPECT_EQ(decoded.channels, channels);
		EXPECT_EQ(decoded.Content(), frames);
	}
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

// ---- naming the output: never over another file ----------------------------------------

// The ways of writing and naming the MP3 that file systems leave open: the
// nameless O_TMPFILE linked in, a named temporary file renamed with
// RENAME_NOREPLACE (vfat, exfat), linked and unlinked (NFS), or renamed over
// an empty placeholder made with O_EXCL (neither flag nor links).
struct WritePath {
	bool noTmpFile;
	bool noRenameNoReplace;
	bool noHardLinks;
	const char* name;
};

class GogoNoReplace : public testing::TestWithParam<WritePath> {
protected:
	static gogo::Options OptionsFor(const std::string& input)
	{
		gogo::Options options;
		options.input = input;
		options.quality = gogo::kNoPsyQuality;
		options.fallbacks.noTmpFile = GetParam().noTmpFile;
		options.fallbacks.noRenameNoReplace = GetParam().noRenameNoReplace;
		options.fallbacks.noHardLinks = GetParam().noHardLinks;
		return options;
	}
};

TEST_P(GogoNoReplace, TakesTheFirstFreeNameAndLeavesTheOthersAlone)
{
	TempDir dir;
	const std::string input = dir / "x.wav";
	ASSERT_TRUE(WriteSineWav(input, 1, 44100, 2));
	// In use: a file, a directory, and a symbolic link to nowhere.
	ASSERT_TRUE(WriteFile(dir / "x.mp3", "mine"));
	ASSERT_EQ(mkdir((dir / "x (2).mp3").c_str(), 0755), 0);
	ASSERT_EQ(symlink("nowhere", (dir / "x (3).mp3").c_str()), 0);

	for (const char* expected : {"x (4).mp3", "x (5).mp3"}) {
		const gogo::EncodeResult result = gogo::EncodeFile(OptionsFor(input));
		ASSERT_TRUE(result.ok) << result.error;
		EXPECT_TRUE(result.nameTaken);
		EXPECT_EQ(result.outputPath, dir / expected);
		const Decoded decoded = Decode(dir / expected);
		ASSERT_TRUE(decoded.ok) << expected;
		EXPECT_EQ(decoded.Content(), 44100);
	}
	EXPECT_EQ(ReadFile(dir / "x.mp3"), "mine");
	EXPECT_TRUE(ListDirectory(dir / "x (2).mp3").empty());
	char target[16] = {};
	EXPECT_EQ(readlink((dir / "x (3).mp3").c_str(), target, sizeof(target) - 1), 7);
	EXPECT_FALSE(Exists(dir / "nowhere"));
	// Nothing else: no temporary file, no placeholder.
	EXPECT_EQ(ListDirectory(dir.Path()), (std::vector<std::string>{"x (2).mp3", "x (3).mp3",
		"x (4).mp3", "x (5).mp3", "x.mp3", "x.wav"}));

	// A free name is taken as it is.
	ASSERT_TRUE(WriteSineWav(dir / "y.wav", 1, 44100, 1));
	const gogo::EncodeResult fresh = gogo::EncodeFile(OptionsFor(dir / "y.wav"));
	ASSERT_TRUE(fresh.ok) << fresh.error;
	EXPECT_FALSE(fresh.nameTaken);
	EXPECT_EQ(fresh.outputPath, dir / "y.mp3");
}

TEST_P(GogoNoReplace, OverwriteRenamesOverTheOldFileButNeverWithDelete)
{
	TempDir dir;
	const std::string input = dir / "x.wav";
	ASSERT_TRUE(WriteSineWav(input, 1, 44100, 2));
	ASSERT_TRUE(WriteFile(dir / "x.mp3", "old"));
	// A second name of the old file: a rename leaves it the old contents,
	// writing into the old file would not.
	ASSERT_EQ(link((dir / "x.mp3").c_str(), (dir / "old.lnk").c_str()), 0);

	gogo::Options options = OptionsFor(input);
	options.overwrite = true;
	gogo::EncodeResult result = gogo::EncodeFile(options);
	ASSERT_TRUE(result.ok) << result.error;
	EXPECT_FALSE(result.nameTaken);
	EXPECT_EQ(result.outputPath, dir / "x.mp3");
	EXPECT_TRUE(Decode(dir / "x.mp3").ok);
	EXPECT_EQ(ReadFile(dir / "old.lnk"), "old");
	EXPECT_EQ(ListDirectory(dir.Path()), (std::vector<std::string>{"old.lnk", "x.mp3", "x.wav"}));

	// With -delete the request to replace is ignored: a free name again.
	const std::string first = ReadFile(dir / "x.mp3");
	options.deleteInput = true;
	result = gogo::EncodeFile(options);
	ASSERT_TRUE(result.ok) << result.error;
	EXPECT_TRUE(result.nameTaken);
	EXPECT_EQ(result.outputPath, dir / "x (2).mp3");
	EXPECT_EQ(ReadFile(dir / "x.mp3"), first);
	EXPECT_EQ(ListDirectory(dir.Path()), (std::vector<std::string>{"old.lnk", "x (2).mp3", "x.mp3"}));
}

TEST_P(GogoNoReplace, EncodesRacingForOneNameEachGetTheirOwn)
{
	// Four inputs of one name and four lengths, to one directory at once:
	// each MP3 must survive under a name of its own.
	TempDir dir;
	const std::vector<double> seconds = {1.0, 1.5, 2.0, 2.5};
	std::vector<gogo::Options> options;
	for (size_t i = 0; i < seconds.size(); i++) {
		const std::string album = dir / ("album" + std::to_string(i));
		ASSERT_EQ(mkdir(album.c_str(), 0755), 0);
		ASSERT_TRUE(WriteSineWav(album + "/song.wav", seconds[i], 44100, 1));
		options.push_back(OptionsFor(album + "/song.wav"));
		options.back().hasOutputDirectory = true;
		options.back().outputDirectory = dir / "out";
	}
	std::vector<gogo::EncodeResult> results(options.size());
	std::atomic<int> ready{0};
	std::vector<std::thread> threads;
	for (size_t i = 0; i < options.size(); i++) {
		threads.emplace_back([&, i] {
			ready++;
			while (ready.load() < static_cast<int>(options.size()))
				std::this_thread::yield();
			results[i] = gogo::EncodeFile(options[i]);
		});
	}
	for (std::thread& thread : threads)
		thread.join();

	std::set<std::string> paths;
	std::multiset<int64_t> lengths;
	for (const gogo::EncodeResult& result : results) {
		ASSERT_TRUE(result.ok) << result.error;
		paths.insert(result.outputPath);
		const Decoded decoded = Decode(result.outputPath);
		ASSERT_TRUE(decoded.ok) << result.outputPath;
		lengths.insert(decoded.Content());
	}
	EXPECT_EQ(paths, (std::set<std::string>{dir / "out/song.mp3", dir / "out/song (2).mp3",
		dir / "out/song (3).mp3", dir / "out/song (4).mp3"}));
	EXPECT_EQ(lengths, (std::multiset<int64_t>{44100, 66150, 88200, 110250}));
	EXPECT_EQ(ListDirectory(dir / "out").size(), 4u);
}

TEST_P(GogoNoReplace, ANumberedNameTooLongIsRefused)
{
	TempDir dir;
	const long nameMax = pathconf(dir.Path().c_str(), _PC_NAME_MAX);
	ASSERT_GT(nameMax, 8);
	// "nnn....mp3" is as long as a name can be: "nnn... (2).mp3" is not.
	const std::string stem(static_cast<size_t>(nameMax) - 4, 'n');
	const std::string input = dir / (stem + ".wav");
	ASSERT_TRUE(WriteSineWav(input, 1, 44100, 1));
	ASSERT_TRUE(WriteFile(dir / (stem + ".mp3"), "mine"));
	gogo::Options options = OptionsFor(input);
	options.deleteInput = true;
	const gogo::EncodeResult result = gogo::EncodeFile(options);
	EXPECT_FALSE(result.ok);
	EXPECT_FALSE(result.outputWritten);
	EXPECT_NE(result.error.find("too long"), std::string::npos) << result.error;
	EXPECT_EQ(result.error.find('\n'), std::string::npos);
	EXPECT_EQ(ReadFile(dir / (stem + ".mp3")), "mine");
	EXPECT_EQ(ListDirectory(dir.Path()), (std::vector<std::string>{stem + ".mp3", stem + ".wav"}));
}

INSTANTIATE_TEST_SUITE_P(WritePaths, GogoNoReplace,
	testing::Values(WritePath{false, false, false, "tmpfile"},
		WritePath{true, false, false, "named_rename_noreplace"},
		WritePath{true, true, false, "named_link"},
		WritePath{true, true, true, "named_placeholder"}),
	[](const testing::TestParamInfo<WritePath>& info) { return std::string(info.param.name); });

// ---- -delete: only a complete input that did not change ------------------------------------

gogo::Options DeleteOptions(const std::string& input)
{
	gogo::Options options;
	options.input = input;
	options.deleteInput = true;
	options.quality = gogo::kNoPsyQuality;
	return options;
}

// The result of an encode that wrote the MP3 and kept the input.
void ExpectKept(const gogo::EncodeResult& result, const std::string& because)
{
	EXPECT_FALSE(result.ok);
	EXPECT_TRUE(result.outputWritten);
	EXPECT_TRUE(result.inputKept);
	EXPECT_NE(result.error.find("did not delete"), std::string::npos) << result.error;
	EXPECT_NE(result.error.find(because), std::string::npos) << result.error;
	EXPECT_EQ(result.error.find('\n'), std::string::npos) << result.error;
	EXPECT_TRUE(Decode(result.outputPath).ok);
}

// Waits until the clock that stamps files has passed the file's change
// time, so that a change made now shows in its times, however coarse.
bool WaitPastChangeTime(const std::string& path)
{
	struct stat st;
	if (stat(path.c_str(), &st) != 0)
		return false;
	return testing_support::WaitUntil([&st] {
		struct timespec now;
		clock_gettime(CLOCK_REALTIME_COARSE, &now);
		return now.tv_sec > st.st_ctim.tv_sec
			|| (now.tv_sec == st.st_ctim.tv_sec && now.tv_nsec > st.st_ctim.tv_nsec);
	});
}

TEST(GogoDelete, KeepsAnInputThatChangesDuringTheEncode)
{
	struct Change {
		const char* name;
		void (*apply)(const std::string& input);
		const char* because; // nullptr: no change, the input goes
	};
	const Change changes[] = {
		{"unchanged", [](const std::string&) {}, nullptr},
		{"grows",
			[](const std::string& input) {
				const int fd = open(input.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
				ASSERT_GE(fd, 0);
				const std::string more(4096, '\0');
				EXPECT_EQ(write(fd, more.data(), more.size()), static_cast<ssize_t>(more.size()));
				close(fd);
			},
			"changed during the encode"},
		{"rewritten in place",
			[](const std::string& input) {
				ASSERT_TRUE(WaitPastChangeTime(input));
				const int fd = open(input.c_str(), O_WRONLY | O_CLOEXEC);
				ASSERT_GE(fd, 0);
				EXPECT_EQ(pwrite(fd, "\x7f\x7f", 2, 100000), 2);
				close(fd);
			},
			"modified"},
		{"status changed",
			[](const std::string& input) {
				ASSERT_TRUE(WaitPastChangeTime(input));
				EXPECT_EQ(chmod(input.c_str(), 0600), 0);
			},
			"changed during the encode"},
		{"replaced",
			[](const std::string& input) {
				EXPECT_TRUE(WriteFile(input + ".new", "another file"));
				EXPECT_EQ(rename((input + ".new").c_str(), input.c_str()), 0);
			},
			"replaced"},
		{"removed", [](const std::string& input) { EXPECT_EQ(unlink(input.c_str()), 0); },
			"removed"},
	};
	for (const Change& change : changes) {
		SCOPED_TRACE(change.name);
		TempDir dir;
		const std::string input = dir / "rec.wav";
		ASSERT_TRUE(WriteSineWav(input, 6, 44100, 2));
		const std::string contents = ReadFile(input);
		// Once the encode is under way (a block encoded, the input's state
		// taken long before).
		bool applied = false;
		const gogo::EncodeResult result = gogo::EncodeFile(DeleteOptions(input),
			[&](int percent) {
				if (percent > 0 && !applied) {
					applied = true;
					change.apply(input);
				}
			});
		ASSERT_TRUE(applied);
		if (change.because == nullptr) {
			EXPECT_TRUE(result.ok) << result.error;
			EXPECT_FALSE(result.inputKept);
			EXPECT_EQ(ListDirectory(dir.Path()), std::vector<std::string>{"rec.mp3"});
			continue;
		}
		ExpectKept(result, change.because);
		const std::string now = ReadFile(input);
		if (std::string(change.name) == "replaced")
			EXPECT_EQ(now, "another file");
		else if (std::string(change.name) == "removed")
			EXPECT_FALSE(Exists(input));
		else
			EXPECT_EQ(now.substr(0, 100000), contents.substr(0, 100000));
	}
}

struct Container {
	int format;
	const char* name;
	bool headerRead; // a header gogo reads itself (else libsndfile's count)
	bool checkable;  // -delete can tell complete from truncated
};

class GogoDeleteContainers : public testing::TestWithParam<Container> {};

TEST_P(GogoDeleteContainers, DeletesCompleteInputsAndKeepsTruncatedOnes)
{
	const Container container = GetParam();
	TempDir dir;
	const std::string input = dir / "in.audio";
	ASSERT_TRUE(WriteSineFile(input, 4, 44100, 2, container.format));
	gogo::EncodeResult result = gogo::EncodeFile(DeleteOptions(input));
	if (container.checkable) {
		ASSERT_TRUE(result.ok) << result.error;
		EXPECT_FALSE(Exists(input));
	} else {
		ExpectKept(result, "can be checked as complete");
		EXPECT_TRUE(Exists(input));
	}
	ASSERT_EQ(unlink(result.outputPath.c_str()), 0);

	// Cut short, as a copy that stopped halfway: whatever libsndfile makes
	// of it, the input stays as it is.
	ASSERT_TRUE(WriteSineFile(input, 4, 44100, 2, container.format));
	ASSERT_TRUE(CutTo(input, 0.4));
	const std::string cut = ReadFile(input);
	result = gogo::EncodeFile(DeleteOptions(input));
	EXPECT_FALSE(result.ok);
	EXPECT_EQ(result.outputWritten, result.inputKept);
	EXPECT_EQ(ReadFile(input), cut);
	if (container.headerRead && container.checkable)
		ExpectKept(result, "its header declares 4.0 s of audio (176400 frames)");
}

INSTANTIATE_TEST_SUITE_P(Formats, GogoDeleteContainers,
	testing::Values(Container{SF_FORMAT_WAV | SF_FORMAT_PCM_16, "wav_pcm16", true, true},
		Container{SF_FORMAT_WAV | SF_FORMAT_FLOAT, "wav_float_with_peak", true, true},
		Container{SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, "wavex_pcm24", true, true},
		Container{SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, "wav_ima_adpcm", true, false},
		Container{SF_FORMAT_RF64 | SF_FORMAT_PCM_16, "rf64", true, true},
		Container{SF_FORMAT_W64 | SF_FORMAT_PCM_16, "w64", true, true},
		Container{SF_FORMAT_AIFF | SF_FORMAT_PCM_16, "aiff", true, true},
		Container{SF_FORMAT_AIFF | SF_FORMAT_FLOAT, "aifc_float", true, true},
		Container{SF_FORMAT_FLAC | SF_FORMAT_PCM_16, "flac", false, true},
		Container{SF_FORMAT_AU | SF_FORMAT_PCM_16, "au", false, false}),
	[](const testing::TestParamInfo<Container>& info) { return std::string(info.param.name); });

TEST(GogoDelete, KeepsAWavWhoseHeaderDoesNotGiveItsLength)
{
	// Recorders write 0xffffffff or 0 as the data size until they finish.
	TempDir dir;
	const std::string input = dir / "rec.wav";
	const std::string contents = WavHeader(44100, 2, 0xffffffff) + PcmFrames(0, 88200, 44100, 2);
	ASSERT_TRUE(WriteFile(input, contents));
	gogo::Options options = DeleteOptions(input);
	gogo::EncodeResult result = gogo::EncodeFile(options);
	ExpectKept(result, "does not declare its length");
	EXPECT_EQ(ReadFile(input), contents);
	// Encoding alone is fine.
	ASSERT_EQ(unlink(result.outputPath.c_str()), 0);
	options.deleteInput = false;
	result = gogo::EncodeFile(options);
	ASSERT_TRUE(result.ok) << result.error;
	EXPECT_EQ(result.frames, 88200);

	// libsndfile sees no audio at all behind a size of 0: nothing to write.
	const std::string empty = WavHeader(44100, 2, 0) + PcmFrames(0, 88200, 44100, 2);
	ASSERT_TRUE(WriteFile(input, empty));
	result = gogo::EncodeFile(DeleteOptions(input));
	EXPECT_FALSE(result.ok);
	EXPECT_FALSE(result.outputWritten);
	EXPECT_EQ(ReadFile(input), empty);
	EXPECT_EQ(ListDirectory(dir.Path()), (std::vector<std::string>{"rec.mp3", "rec.wav"}));
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

	// An existing directory, given with a trailing slash, works as well (and
	// the MP3 already there is kept).
	const RunResult again = RunGogo({"-o", output + "/", input});
	ASSERT_EQ(again.Code(), 0) << again.err;
	EXPECT_EQ(ListDirectory(output), (std::vector<std::string>{"in (2).mp3", "in.mp3"}));
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

// The last percentage of gogo's progress output; -1 before the first.
int LastPercent(const std::string& out)
{
	const size_t sign = out.rfind('%');
	if (sign == std::string::npos)
		return -1;
	size_t start = sign;
	while (start > 0 && out[start - 1] >= '0' && out[start - 1] <= '9')
		start--;
	return start < sign ? std::stoi(out.substr(start, sign - start)) : -1;
}

// The hidden temporary files of the named way of writing in a directory.
std::vector<std::string> TemporaryFiles(const std::string& dir, const std::string& outputName)
{
	std::vector<std::string> found;
	for (const std::string& name : ListDirectory(dir)) {
		if (name.rfind("." + outputName + ".", 0) == 0)
			found.push_back(name);
	}
	return found;
}

TEST_F(GogoProgram, SignalsMidwayLeaveNoFile)
{
	TempDir dir;
	const std::string input = dir / "long.wav";
	ASSERT_TRUE(WriteSineWav(input, 120, 48000, 2));
	const std::string before = ReadFile(input);
	struct Path {
		const char* name;
		std::vector<std::string> environment;
		bool named; // a hidden temporary file is there to see
	};
	// The front end sends SIGTERM to skip a file or stop a run, SIGKILL when
	// gogo is still there 2 s later: only a nameless file goes even then.
	for (const Path& path : {Path{"tmpfile", {}, false}, Path{"named", {"GOGO_NO_TMPFILE=1"}, true}}) {
		std::vector<int> signalNumbers = {SIGTERM, SIGINT, SIGHUP};
		if (!path.named)
			signalNumbers.push_back(SIGKILL);
		for (int signalNumber : signalNumbers) {
			SCOPED_TRACE(std::string(path.name) + ", signal " + std::to_string(signalNumber));
			TempDir capture;
			const pid_t pid = Spawn({"-delete", "-q", "2", input}, Stdio::Capture, capture / "out",
				capture / "err", -1, path.environment);
			ASSERT_GT(pid, 0);
			// Well into the encode: a few percent done, and in the named way
			// the temporary file there with MP3 data in it.
			const bool underWay = testing_support::WaitUntil(
				[&] {
					if (LastPercent(ReadFile(capture / "out")) < 3)
						return false;
					if (!path.named)
						return true;
					for (const std::string& name : TemporaryFiles(dir.Path(), "long.mp3")) {
						struct stat st;
						if (stat((dir / name).c_str(), &st) == 0 && st.st_size > 0)
							return true;
					}
					return false;
				},
				std::chrono::seconds(60));
			EXPECT_TRUE(underWay) << ReadFile(capture / "out") << " " << ListDirectory(dir.Path()).size();
			ASSERT_EQ(kill(pid, signalNumber), 0);
			const int status = Wait(pid);
			if (signalNumber == SIGKILL) {
				EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
			} else {
				ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
				EXPECT_EQ(WEXITSTATUS(status), 128 + signalNumber);
			}
			EXPECT_EQ(ListDirectory(dir.Path()), std::vector<std::string>{"long.wav"});
		}
	}
	EXPECT_EQ(ReadFile(input), before);
}

// ---- the gogo program: output names ---------------------------------------------------

class GogoProgramNames : public GogoProgram {};

TEST_F(GogoProgramNames, SameNameFromTwoAlbumsToOneDirectory)
{
	for (const bool deleting : {false, true}) {
		SCOPED_TRACE(deleting ? "with -delete" : "without -delete");
		TempDir dir;
		ASSERT_EQ(mkdir((dir / "albumA").c_str(), 0755), 0);
		ASSERT_EQ(mkdir((dir / "albumB").c_str(), 0755), 0);
		ASSERT_TRUE(WriteSineWav(dir / "albumA/track01.wav", 1, 44100, 2));
		ASSERT_TRUE(WriteSineWav(dir / "albumB/track01.wav", 2, 44100, 2));
		const std::string out = dir / "out";
		std::vector<std::string> options = {"-o", out};
		if (deleting)
			options.insert(options.begin(), "-delete");

		std::vector<std::string> arguments = options;
		arguments.push_back(dir / "albumA/track01.wav");
		RunResult run = RunGogo(arguments);
		ASSERT_EQ(run.Code(), 0) << run.err;
		EXPECT_EQ(run.out.find("instead"), std::string::npos) << run.out;
		const std::string first = ReadFile(out + "/track01.mp3");

		arguments = options;
		arguments.push_back(dir / "albumB/track01.wav");
		run = RunGogo(arguments);
		ASSERT_EQ(run.Code(), 0) << run.err;
		EXPECT_TRUE(run.err.empty()) << run.err;
		// The line that reports the encode names the file it made.
		EXPECT_NE(run.out.find("wrote '" + out + "/track01 (2).mp3' instead of '" + out
			+ "/track01.mp3', which exists"), std::string::npos) << run.out;

		EXPECT_EQ(ListDirectory(out), (std::vector<std::string>{"track01 (2).mp3", "track01.mp3"}));
		EXPECT_EQ(ReadFile(out + "/track01.mp3"), first);
		EXPECT_EQ(Decode(out + "/track01.mp3").Content(), 44100);
		EXPECT_EQ(Decode(out + "/track01 (2).mp3").Content(), 88200);
		EXPECT_EQ(Exists(dir / "albumA/track01.wav"), !deleting);
		EXPECT_EQ(Exists(dir / "albumB/track01.wav"), !deleting);
	}
}

TEST_F(GogoProgramNames, WavAndFlacSideBySide)
{
	for (const bool deleting : {false, true}) {
		SCOPED_TRACE(deleting ? "with -delete" : "without -delete");
		TempDir dir;
		ASSERT_TRUE(WriteSineWav(dir / "x.wav", 1, 44100, 2));
		ASSERT_TRUE(WriteSineFile(dir / "x.flac", 2, 44100, 1, SF_FORMAT_FLAC | SF_FORMAT_PCM_16));
		std::vector<std::string> arguments = {"-silent", dir / "x.wav"};
		if (deleting)
			arguments.insert(arguments.begin(), "-delete");
		RunResult run = RunGogo(arguments);
		ASSERT_EQ(run.Code(), 0) << run.err;
		EXPECT_TRUE(run.out.empty()) << run.out;
		arguments.back() = dir / "x.flac";
		run = RunGogo(arguments);
		ASSERT_EQ(run.Code(), 0) << run.err;
		// -silent still says where the MP3 went, on one line.
		EXPECT_EQ(run.out, "wrote '" + dir / "x (2).mp3' instead of '" + dir / "x.mp3', which exists\n");
		const std::vector<std::string> expected = deleting
			? std::vector<std::string>{"x (2).mp3", "x.mp3"}
			: std::vector<std::string>{"x (2).mp3", "x.flac", "x.mp3", "x.wav"};
		EXPECT_EQ(ListDirectory(dir.Path()), expected);
		const Decoded wav = Decode(dir / "x.mp3");
		const Decoded flac = Decode(dir / "x (2).mp3");
		EXPECT_EQ(wav.channels, 2);
		EXPECT_EQ(wav.Content(), 44100);
		EXPECT_EQ(flac.channels, 1);
		EXPECT_EQ(flac.Content(), 88200);
	}
}

TEST_F(GogoProgramNames, OverwriteReplacesAtomicallyButNotWithDelete)
{
	TempDir dir;
	const std::string input = dir / "x.wav";
	ASSERT_TRUE(WriteSineWav(input, 1, 44100, 2));
	ASSERT_TRUE(WriteFile(dir / "x.mp3", "old"));
	ASSERT_EQ(link((dir / "x.mp3").c_str(), (dir / "old.lnk").c_str()), 0);

	// With -delete: refused before anything is touched.
	RunResult run = RunGogo({"-overwrite", "-delete", input});
	EXPECT_EQ(run.Code(), 2);
	ExpectOneErrorLine(run);
	EXPECT_NE(run.err.find("-overwrite cannot be used with -delete"), std::string::npos) << run.err;
	EXPECT_EQ(ReadFile(dir / "x.mp3"), "old");
	EXPECT_EQ(ListDirectory(dir.Path()), (std::vector<std::string>{"old.lnk", "x.mp3", "x.wav"}));

	// Alone: renamed over the old file, whose other name keeps it whole.
	run = RunGogo({"-overwrite", input});
	ASSERT_EQ(run.Code(), 0) << run.err;
	EXPECT_EQ(run.out.find("instead"), std::string::npos) << run.out;
	EXPECT_EQ(Decode(dir / "x.mp3").Content(), 44100);
	EXPECT_EQ(ReadFile(dir / "old.lnk"), "old");
	EXPECT_EQ(ListDirectory(dir.Path()), (std::vector<std::string>{"old.lnk", "x.mp3", "x.wav"}));

	// And in the named way of writing, as on vfat.
	ASSERT_EQ(unlink((dir / "old.lnk").c_str()), 0);
	ASSERT_EQ(link((dir / "x.mp3").c_str(), (dir / "previous.lnk").c_str()), 0);
	const std::string previous = ReadFile(dir / "x.mp3");
	TempDir capture;
	const pid_t pid = Spawn({"-overwrite", "-b", "64", input}, Stdio::Capture, capture / "out",
		capture / "err", -1, {"GOGO_NO_TMPFILE=1"});
	ASSERT_GT(pid, 0);
	const int status = Wait(pid);
	ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadFile(capture / "err");
	for (const Frame& frame : ParseFrames(ReadFile(dir / "x.mp3")))
		EXPECT_EQ(frame.bitrate, 64);
	EXPECT_EQ(ReadFile(dir / "previous.lnk"), previous);
	EXPECT_EQ(ListDirectory(dir.Path()), (std::vector<std::string>{"previous.lnk", "x.mp3", "x.wav"}));
}

// ---- the gogo program: -delete of an incomplete input ---------------------------------------

class GogoProgramDelete : public GogoProgram {};

TEST_F(GogoProgramDelete, TruncatedWavIsKept)
{
	TempDir dir;
	const std::string input = dir / "cut.wav";
	// The header declares 20 s; 3 s are there.
	const uint32_t declared = 20 * 44100 * 4;
	ASSERT_TRUE(WriteFile(input, WavHeader(44100, 2, declared) + PcmFrames(0, 3 * 44100, 44100, 2)));
	const std::string contents = ReadFile(input);

	RunResult run = RunGogo({"-delete", input});
	EXPECT_EQ(run.Code(), gogo::kExitInputKept);
	ExpectOneErrorLine(run);
	EXPECT_NE(run.err.find("gogo: wrote '" + dir / "cut.mp3' but did not delete '" + input
		+ "': its header declares 20.0 s of audio (882000 frames) but 3.0 s (132300 frames)"
		" could be read: it is truncated or still being written"), std::string::npos) << run.err;
	EXPECT_EQ(ReadFile(input), contents);
	EXPECT_EQ(Decode(dir / "cut.mp3").Content(), 3 * 44100);

	// Without -delete it is simply encoded (the first MP3 stays).
	run = RunGogo({"-silent", input});
	EXPECT_EQ(run.Code(), 0) << run.err;
	EXPECT_EQ(ListDirectory(dir.Path()), (std::vector<std::string>{"cut (2).mp3", "cut.mp3", "cut.wav"}));
}

TEST_F(GogoProgramDelete, WavStillBeingRecordedIsKept)
{
	// A recorder appends to a WAV whose header already declares ten minutes;
	// gogo runs on it with -delete meanwhile.
	TempDir dir;
	const std::string input = dir / "live.wav";
	constexpr int kRate = 44100;
	const uint32_t declared = 600u * kRate * 4;
	const int64_t present = 3 * kRate;
	const std::string start = WavHeader(kRate, 2, declared) + PcmFrames(0, present, kRate, 2);
	ASSERT_TRUE(WriteFile(input, start));

	std::mutex lock;
	std::condition_variable changed;
	bool stop = false;
	int64_t written = present;
	std::thread recorder([&] {
		const int fd = open(input.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
		if (fd < 0)
			return;
		// A twentieth of a second at a time, up to two minutes in all: far
		// from the ten minutes declared, whenever gogo looks.
		const int64_t chunk = kRate / 20;
		std::unique_lock<std::mutex> guard(lock);
		while (!stop && written + chunk <= 120 * kRate) {
			const std::string data = PcmFrames(written, chunk, kRate, 2);
			if (write(fd, data.data(), data.size()) != static_cast<ssize_t>(data.size()))
				break;
			written += chunk;
			changed.wait_for(guard, std::chrono::milliseconds(5), [&] { return stop; });
		}
		close(fd);
	});
	const RunResult run = RunGogo({"-delete", "-nopsy", input});
	{
		std::lock_guard<std::mutex> guard(lock);
		stop = true;
	}
	changed.notify_all();
	recorder.join();

	EXPECT_EQ(run.Code(), gogo::kExitInputKept) << run.err;
	ExpectOneErrorLine(run);
	EXPECT_NE(run.err.find("but did not delete '" + input + "'"), std::string::npos) << run.err;
	// The recording is whole: what was there, and all that came after.
	const std::string now = ReadFile(input);
	EXPECT_EQ(now.size(), 44 + static_cast<size_t>(written) * 4);
	EXPECT_EQ(now.substr(0, start.size()), start);
	EXPECT_TRUE(Decode(dir / "live.mp3").ok);
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
