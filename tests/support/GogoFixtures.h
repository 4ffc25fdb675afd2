// What the encoder's tests share: sound files written for them, gogo run as
// a program (posix_spawn), and its MP3 read back: the frames' headers, and
// the audio decoded by libmp3lame's own decoder. Header-only; the enc_ tests
// include it.
#pragma once

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

namespace gogo_testing {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

inline const std::string kGogo = TAMSEL_BINARY_DIR "/gogo";

// ---- fixtures -----------------------------------------------------------------

// Writes sine waves (a different pitch per channel) through an already open
// descriptor or a path: a WAV of an SF_FORMAT_* subformat, or any file of a
// major format and subformat.
inline bool WriteSineFd(int fd, double seconds, int rate, int channels, int fullFormat)
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

inline bool WriteSineWavFd(int fd, double seconds, int rate, int channels, int format)
{
	return WriteSineFd(fd, seconds, rate, channels, SF_FORMAT_WAV | format);
}

inline bool WriteSineFile(const std::string& path, double seconds, int rate, int channels, int fullFormat)
{
	const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
	if (fd < 0)
		return false;
	return WriteSineFd(fd, seconds, rate, channels, fullFormat);
}

inline bool WriteSineWav(const std::string& path, double seconds, int rate, int channels,
	int format = SF_FORMAT_PCM_16)
{
	return WriteSineFile(path, seconds, rate, channels, SF_FORMAT_WAV | format);
}

// Seconds of a tone in a container of libsndfile's, its bytes.
inline std::string MadeBy(int format, double seconds = 2)
{
	TempDir dir;
	const std::string path = dir / "made";
	return WriteSineFile(path, seconds, 44100, 2, format) ? ReadFile(path) : std::string();
}

// A canonical 44-byte header of 16-bit PCM WAV whose data chunk claims
// dataBytes, whatever follows it.
inline std::string WavHeader(int rate, int channels, uint32_t dataBytes)
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
inline std::string PcmFrames(int64_t first, int64_t count, int rate, int channels)
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
inline bool CutTo(const std::string& path, double fraction)
{
	struct stat st;
	if (stat(path.c_str(), &st) != 0)
		return false;
	return truncate(path.c_str(), static_cast<off_t>(static_cast<double>(st.st_size) * fraction)) == 0;
}

inline bool Exists(const std::string& path)
{
	struct stat st;
	return lstat(path.c_str(), &st) == 0;
}

inline std::vector<std::string> ListDirectory(const std::string& path)
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

// Starts command (the program's path first, no shell).
inline pid_t SpawnCommand(const std::vector<std::string>& command, Stdio stdio, const std::string& outPath,
	const std::string& errPath, int pipeWrite = -1, const std::vector<std::string>& extraEnvironment = {})
{
	if (command.empty())
		return -1;
	std::vector<std::string> strings = command;
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
	if (posix_spawn(&pid, strings[0].c_str(), &actions, &attributes, argv.data(),
			environment.pointers.data()) != 0) {
		pid = -1;
	}
	posix_spawnattr_destroy(&attributes);
	posix_spawn_file_actions_destroy(&actions);
	return pid;
}

// Starts gogo with arguments.
inline pid_t Spawn(const std::vector<std::string>& arguments, Stdio stdio, const std::string& outPath,
	const std::string& errPath, int pipeWrite = -1, const std::vector<std::string>& extraEnvironment = {})
{
	std::vector<std::string> command = {kGogo};
	command.insert(command.end(), arguments.begin(), arguments.end());
	return SpawnCommand(command, stdio, outPath, errPath, pipeWrite, extraEnvironment);
}

inline int Wait(pid_t pid)
{
	int status = -1;
	while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
	}
	return status;
}

// Runs command (the program's path first) to its end.
inline RunResult RunCommand(const std::vector<std::string>& command, Stdio stdio = Stdio::Capture)
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
	const pid_t pid = SpawnCommand(command, stdio, outPath, errPath, pipeEnds[1]);
	if (pipeEnds[1] >= 0)
		close(pipeEnds[1]);
	if (pid < 0)
		return run;
	run.status = Wait(pid);
	run.out = ReadFile(outPath);
	run.err = ReadFile(errPath);
	return run;
}

inline RunResult RunGogo(const std::vector<std::string>& arguments, Stdio stdio = Stdio::Capture)
{
	std::vector<std::string> command = {kGogo};
	command.insert(command.end(), arguments.begin(), arguments.end());
	return RunCommand(command, stdio);
}

// The stderr of a failure: exactly one line, "gogo: <reason>".
inline void ExpectOneErrorLine(const RunResult& run)
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
inline std::vector<Frame> ParseFrames(const std::string& data)
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

// Decodes with libmp3lame's decoder (hip); with samples, also keeps the
// decoded samples there, interleaved stereo (a mono stream's twice).
inline Decoded Decode(const std::string& path, std::vector<short>* samples = nullptr)
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
			if (samples != nullptr) {
				for (int i = 0; i < got; i++) {
					samples->push_back(left[static_cast<size_t>(i)]);
					samples->push_back(right[static_cast<size_t>(i)]);
				}
			}
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

} // namespace gogo_testing
