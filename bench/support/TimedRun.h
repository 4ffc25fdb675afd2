// A whole run of the program over a list of files with a given encoder,
// timed from the click on "Encode!" to the end of the run: what the
// benchmarks of whole runs share. The program runs on the tests' harness
// (tests/support/ProgramHarness.h).
#pragma once

#include "FilesList.h"
#include "MainWindow.h"
#include "ProgramHarness.h"
#include "TamselApp.h"

#include <Autolock.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

// Polls gently: every look takes the main window's lock, and a poll that
// competes with the run would be timed as part of it.
inline bool WaitGently(const std::function<bool()>& condition, std::chrono::seconds deadline)
{
	const auto end = Clock::now() + deadline;
	while (!condition()) {
		if (Clock::now() > end)
			return false;
		std::this_thread::sleep_for(std::chrono::milliseconds(2));
	}
	return true;
}

inline bool Encoding(MainWindow* window)
{
	BAutolock lock(window);
	return window->encoding;
}

// Seconds for a run of encoder over files, with the program's settings in a
// home of its own; negative when the run did not start or did not end within
// deadline. The run is seen to end by polling, so it may be noticed late
// by one poll (2 ms).
inline double TimeProgramRun(const std::vector<std::string>& files, const std::string& encoder,
	std::chrono::seconds deadline)
{
	using testing_support::kMainTitle;
	using testing_support::kProgressTitle;
	testing_support::ProgramRun run;
	if (!run.Started())
		return -1;
	MainWindow* window = run.Window();
	BPrivate::HeadlessDisplay& robot = run.Robot();
	{
		BAutolock lock(window);
		char* location = run.App()->encoderLocation.get();
		std::strncpy(location, encoder.c_str(), kEncoderLocationSize - 1);
		location[kEncoderLocationSize - 1] = '\0';
		for (const std::string& file : files)
			window->filesList->AddFile(file.c_str());
	}
	const auto start = Clock::now();
	WaitGently([&] { return robot.Click(kMainTitle, "EncodeButton"); }, std::chrono::seconds(20));
	// The click is handled later; a run of many files is seen going on.
	const bool started = WaitGently([&] { return Encoding(window); }, std::chrono::seconds(20));
	// A run that fails says so in an alert, which waits for an answer (the
	// harness gives it when the program quits).
	const bool ended = started && WaitGently([&] {
		return !robot.Alerts().empty() || (!Encoding(window) && !robot.IsWindowShown(kProgressTitle));
	}, deadline);
	const auto alerts = robot.Alerts();
	for (const auto& alert : alerts)
		std::fprintf(stderr, "the run ended with an alert: %s\n", alert.text.c_str());
	if (!ended || !alerts.empty())
		return -1;
	return std::chrono::duration<double>(Clock::now() - start).count();
}

inline double Median(std::vector<double> values)
{
	std::sort(values.begin(), values.end());
	return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace bench
