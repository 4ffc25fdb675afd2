// A list of real WAV files encoded through the whole program (the headless
// display, the given gogo, the program's default settings) against lame
// started on the same files one after another with its own defaults, which
// are the same settings (128 kbps, -q 3, joint stereo). Alternating rounds;
// the medians are compared. Every round's MP3s are checked to be there.
// The floor, timed in the same rounds: two lames at once on each file against
// twice one alone, the best two cores give at that moment.
//
//   BENCH_GOGO=... BENCH_LAME=... BENCH_ROUNDS=5 BENCH_WAVS=dir bench_program_vs_lame
//
// Everything comes through the environment: the program takes its own
// command line as lists to open.

#include "support/TimedRun.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

std::string Mp3Beside(const std::string& wav)
{
	return fs::path(wav).replace_extension(".mp3").string();
}

void RemoveOutputs(const std::vector<std::string>& wavs)
{
	std::error_code error;
	for (const std::string& wav : wavs)
		fs::remove(Mp3Beside(wav), error);
}

bool OutputsThere(const std::vector<std::string>& wavs)
{
	std::error_code error;
	for (const std::string& wav : wavs) {
		if (fs::file_size(Mp3Beside(wav), error) == 0 || error)
			return false;
	}
	return true;
}

// Starts lame on wav, writing mp3; 0 when it could not be started.
pid_t StartLame(const std::string& lame, const std::string& wav, const std::string& mp3)
{
	std::vector<std::string> words = {lame, "--quiet", wav, mp3};
	std::vector<char*> argv;
	for (std::string& word : words)
		argv.push_back(word.data());
	argv.push_back(nullptr);
	pid_t pid = 0;
	if (posix_spawn(&pid, lame.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
		return 0;
	return pid;
}

bool Succeeded(pid_t pid)
{
	int status = 0;
	return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string PairMp3(const std::string& wav)
{
	return fs::path(wav).replace_extension(".pair.mp3").string();
}

// Seconds for lame over the files one after another, or with `pair` two
// lames at once on each file; negative on failure.
double TimeLame(const std::string& lame, const std::vector<std::string>& wavs, bool pair)
{
	const auto start = bench::Clock::now();
	for (const std::string& wav : wavs) {
		const pid_t second = pair ? StartLame(lame, wav, PairMp3(wav)) : 0;
		const bool first = Succeeded(StartLame(lame, wav, Mp3Beside(wav)));
		const bool other = !pair || Succeeded(second);
		if (!first || !other)
			return -1;
	}
	const double seconds = std::chrono::duration<double>(bench::Clock::now() - start).count();
	if (pair) {
		std::error_code error;
		for (const std::string& wav : wavs)
			fs::remove(PairMp3(wav), error);
	}
	return seconds;
}

} // namespace

std::string Setting(const char* name)
{
	const char* value = std::getenv(name);
	return value != nullptr ? value : "";
}

int main()
{
	const std::string gogo = Setting("BENCH_GOGO");
	const std::string lame = Setting("BENCH_LAME");
	const std::string directory = Setting("BENCH_WAVS");
	const int rounds = std::atoi(Setting("BENCH_ROUNDS").c_str());
	std::vector<std::string> wavs;
	std::error_code error;
	for (const auto& entry : fs::directory_iterator(directory, error)) {
		if (entry.path().extension() == ".wav")
			wavs.push_back(fs::absolute(entry.path()).string());
	}
	std::sort(wavs.begin(), wavs.end());
	if (gogo.empty() || lame.empty() || rounds <= 0 || wavs.empty()) {
		std::fprintf(stderr, "usage: BENCH_GOGO=gogo BENCH_LAME=lame BENCH_ROUNDS=n "
			"BENCH_WAVS=directory-of-wavs bench_program_vs_lame\n");
		return 2;
	}
	std::vector<double> lameTimes, programTimes, pairTimes;
	bool ok = true;
	// One round of each first, untimed, so that both find the files cached.
	for (int round = -1; round < rounds && ok; round++) {
		RemoveOutputs(wavs);
		const double l = TimeLame(lame, wavs, false);
		ok = l >= 0 && OutputsThere(wavs);
		RemoveOutputs(wavs);
		const double p = ok ? bench::TimeProgramRun(wavs, gogo, std::chrono::seconds(600)) : -1;
		ok = ok && p >= 0 && OutputsThere(wavs);
		RemoveOutputs(wavs);
		const double two = ok ? TimeLame(lame, wavs, true) : -1;
		ok = ok && two >= 0 && OutputsThere(wavs);
		if (ok && round >= 0) {
			lameTimes.push_back(l);
			programTimes.push_back(p);
			pairTimes.push_back(two);
		}
	}
	RemoveOutputs(wavs);
	if (!ok) {
		std::fprintf(stderr, "bench_program_vs_lame: a run failed or left no MP3\n");
		return 1;
	}
	const double l = bench::Median(lameTimes), p = bench::Median(programTimes);
	const double floor = bench::Median(pairTimes) / (2 * l);
	std::printf("%zu files: program with gogo %.3f s, lame file by file %.3f s, ratio %.3f, floor %.3f, "
		"over the floor %+.3f (medians of %d)\n", wavs.size(), p, l, p / l, floor, p / l - floor, rounds);
	return 0;
}
