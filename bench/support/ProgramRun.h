// Runs the program on the headless display over a list of files with a
// given encoder and times the run from the click on "Encode!" to the end of
// the run: what the benchmarks of whole runs share.
#pragma once

#include "FilesList.h"
#include "MainWindow.h"
#include "TamselApp.h"

#include <Display.h>
#include <HeadlessDisplay.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline bool WaitFor(const std::function<bool()>& condition, std::chrono::seconds deadline)
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

// Seconds for a run of encoder over files, with the program's settings kept
// under home; negative when the run did not start or did not end within
// deadline. The run is seen to end by polling, so it may be noticed late
// by one poll (2 ms).
inline double TimeProgramRun(const std::vector<std::string>& files, const std::string& encoder,
	const std::string& home, std::chrono::seconds deadline)
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
			std::strncpy(app->encoderLocation.get(), encoder.c_str(), kEncoderLocationSize - 1);
			app->encoderLocation.get()[kEncoderLocationSize - 1] = '\0';
			for (const std::string& file : files)
				window->filesList->AddFile(file.c_str());
			return 0;
		});
		const auto start = Clock::now();
		WaitFor([&] { return robot->Click(title, "EncodeButton"); }, std::chrono::seconds(20));
		// The click is handled later; a run of many files is seen going on.
		const bool started = WaitFor(
			[&] { return Locked(window, [&] { return window->encoding; }); }, std::chrono::seconds(20));
		// A run that fails says so in an alert, which waits for an answer.
		const bool ended = started && WaitFor([&] {
			return !robot->Alerts().empty()
				|| (!Locked(window, [&] { return window->encoding; })
					&& !robot->IsWindowShown("Encoding progress"));
		}, deadline);
		const auto alerts = robot->Alerts();
		for (const auto& alert : alerts)
			std::fprintf(stderr, "the run ended with an alert: %s\n", alert.text.c_str());
		if (ended && alerts.empty())
			seconds = std::chrono::duration<double>(Clock::now() - start).count();
		else
			robot->AnswerAlert(0);
	}
	app->PostMessage(B_QUIT_REQUESTED);
	thread.join();
	app.reset();
	BPrivate::ResetDisplay();
	return seconds;
}

inline double Median(std::vector<double> values)
{
	std::sort(values.begin(), values.end());
	return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace bench
