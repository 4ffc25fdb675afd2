// The pause between files of a run: the program goes through a list of
// files with an encoder that exits at once (/bin/true), on the headless
// display, and the same encoder is started as often from a shell loop. Both
// are timed in the same process, in alternating rounds, and the medians
// compared.
//
//   bench_encoding_pause [files] [rounds]   (defaults 1000 and 3)

#include "support/TimedRun.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using bench::Clock;
constexpr const char* kEncoder = "/bin/true";

double TimeShellLoop(int files)
{
	const std::string loop = "for i in $(seq " + std::to_string(files) + "); do " + kEncoder
		+ " f$i; done";
	const auto start = Clock::now();
	pid_t pid = fork();
	if (pid == 0) {
		execl("/bin/sh", "sh", "-c", loop.c_str(), static_cast<char*>(nullptr));
		_exit(127);
	}
	int status = 0;
	waitpid(pid, &status, 0);
	return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv)
{
	const int files = argc > 1 ? std::atoi(argv[1]) : 1000;
	const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
	if (files <= 0 || rounds <= 0) {
		std::fprintf(stderr, "usage: %s [files] [rounds]\n", argv[0]);
		return 2;
	}
	std::vector<double> shell;
	std::vector<double> program;
	for (int round = 0; round < rounds; round++) {
		shell.push_back(TimeShellLoop(files));
		std::vector<std::string> names;
		for (int i = 0; i < files; i++)
			names.push_back("f" + std::to_string(i));
		program.push_back(bench::TimeProgramRun(names, kEncoder, std::chrono::seconds(600)));
		if (program.back() < 0)
			break;
		std::printf("round %d               program %.3f s, shell %.3f s (%.2fx)\n", round + 1,
			program.back(), shell.back(), program.back() / shell.back());
	}
	if (program.back() < 0) {
		std::fprintf(stderr, "the run did not end\n");
		return 1;
	}

	const double programMedian = bench::Median(program);
	const double shellMedian = bench::Median(shell);
	std::printf("files                 %d\n", files);
	std::printf("program run (median)  %.3f s  %.3f ms/file\n", programMedian,
		1000 * programMedian / files);
	std::printf("shell loop (median)   %.3f s  %.3f ms/file\n", shellMedian,
		1000 * shellMedian / files);
	std::printf("ratio program/shell   %.2f\n", programMedian / shellMedian);
	return 0;
}
