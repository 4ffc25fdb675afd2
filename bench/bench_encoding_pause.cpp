// The pause between files of a run: the program goes through a list of
// files with an encoder that exits at once (/bin/true), on the headless
// display, and the same encoder is started as often from a shell loop. Both
// are timed in the same process, in alternating rounds, and the medians
// compared.
//
//   bench_encoding_pause [files] [rounds]   (defaults 1000 and 3)

#include "FilesList.h"
#include "MainWindow.h"
#include "TamselApp.h"

#include <Display.h>
#include <HeadlessDisplay.h>
#include <ListItem.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kEncoder = "/bin/true";

bool WaitFor(const std::function<bool()>& condition, std::chrono::seconds deadline)
{
	const auto end = Clock::now() + deadline;
	while (!condition()) {
		if (Clock::now() > end)
			return false;
		// Gently: every look takes the main window's lock, and a poll that
		// competes with the run would be timed as part of it.
		std::this_thread::sleep_for(std::chrono::milliseconds(2));
	}
	return true;
}

template<typename F>
auto Locked(MainWindow* window, F read)
{
	window->Lock();
	auto value = read();
	window->Unlock();
	return value;
}

// Seconds for a run over `files` list entries; negative on failure.
double TimeProgramRun(int files, const std::string& home)
{
	setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
	setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
	BPrivate::ResetDisplay();
	auto app = std::make_unique<TamselApp>();
	BPrivate::HeadlessDisplay* robot = BPrivate::GetHeadlessDisplay();
	std::thread thread([&] { app->Run(); });

	double seconds = -1;
	const char* title = "Tamsel Gogo Frontend 1.2a";
	if (robot != nullptr && WaitFor([&] { return robot->IsWindowShown(title); }, std::chrono::seconds(20))) {
		MainWindow* window = app->mainWindow;
		Locked(window, [&] {
			std::strncpy(app->encoderLocation.get(), kEncoder, kEncoderLocationSize - 1);
			for (int i = 0; i < files; i++)
				window->filesList->AddFile(("f" + std::to_string(i)).c_str());
			return 0;
		});
		const auto start = Clock::now();
		WaitFor([&] { return robot->Click(title, "EncodeButton"); }, std::chrono::seconds(20));
		// The click is handled later; a run of many files is seen going on.
		const bool started = WaitFor(
			[&] { return Locked(window, [&] { return window->encoding; }); }, std::chrono::seconds(20));
		const bool ended = started && WaitFor([&] {
			return !Locked(window, [&] { return window->encoding; })
				&& !robot->IsWindowShown("Encoding progress");
		}, std::chrono::seconds(600));
		// Polling may notice the end late by at most one poll (2 ms).
		if (ended)
			seconds = std::chrono::duration<double>(Clock::now() - start).count();
	}
	app->PostMessage(B_QUIT_REQUESTED);
	thread.join();
	app.reset();
	BPrivate::ResetDisplay();
	return seconds;
}

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

double Median(std::vector<double> values)
{
	std::sort(values.begin(), values.end());
	return values[values.size() / 2];
}

int main(int argc, char** argv)
{
	const int files = argc > 1 ? std::atoi(argv[1]) : 1000;
	const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
	if (files <= 0 || rounds <= 0) {
		std::fprintf(stderr, "usage: %s [files] [rounds]\n", argv[0]);
		return 2;
	}
	char pattern[] = "/tmp/tamsel-bench-XXXXXX";
	if (mkdtemp(pattern) == nullptr)
		return 1;
	const std::string home = pattern;

	std::vector<double> shell;
	std::vector<double> program;
	for (int round = 0; round < rounds; round++) {
		shell.push_back(TimeShellLoop(files));
		program.push_back(TimeProgramRun(files, home));
		if (program.back() < 0)
			break;
		std::printf("round %d               program %.3f s, shell %.3f s (%.2fx)\n", round + 1,
			program.back(), shell.back(), program.back() / shell.back());
	}
	std::error_code error;
	std::filesystem::remove_all(home, error);
	if (program.back() < 0) {
		std::fprintf(stderr, "the run did not end\n");
		return 1;
	}

	const double programMedian = Median(program);
	const double shellMedian = Median(shell);
	std::printf("files                 %d\n", files);
	std::printf("program run (median)  %.3f s  %.3f ms/file\n", programMedian,
		1000 * programMedian / files);
	std::printf("shell loop (median)   %.3f s  %.3f ms/file\n", shellMedian,
		1000 * shellMedian / files);
	std::printf("ratio program/shell   %.2f\n", programMedian / shellMedian);
	return 0;
}
