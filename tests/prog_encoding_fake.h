// A stand-in encoder for the encoding tests: a script that records every
// start (its arguments) and every normal end in a log, and that keeps
// running while a "<input>.hold" file sits next to its input.
#pragma once

#include "ProgramHarness.h"

#include <FilesList.h>
#include <MainWindow.h>
#include <ProgressWindow.h>
#include <TamselApp.h>

#include <ListItem.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace testing_support {

struct EncoderEvent {
	bool started = false; // false: the encoder ended by itself
	std::vector<std::string> arguments; // without argv[0]
};

class FakeEncoder {
public:
	explicit FakeEncoder(const TempDir& dir)
		:
		fPath(dir / "gogo"),
		fLog(dir / "encoder.log")
	{
		// Records are NUL-separated so that any argument (tabs, quotes,
		// spaces) survives: a tag, the count, then the arguments.
		const std::string script = "#!/bin/sh\n"
			"log='" + fLog + "'\n"
			"{ printf 'S\\0%s\\0' \"$#\"; for a; do printf '%s\\0' \"$a\"; done; } >> \"$log\"\n"
			"for last; do :; done\n"
			"while [ -e \"$last.hold\" ]; do sleep 0.005; done\n"
			"{ printf 'F\\0%s\\0' \"$#\"; for a; do printf '%s\\0' \"$a\"; done; } >> \"$log\"\n";
		EXPECT_TRUE(WriteFile(fPath, script));
		chmod(fPath.c_str(), 0755);
	}

	const std::string& Path() const { return fPath; }

	std::vector<EncoderEvent> Events() const
	{
		std::vector<std::string> fields;
		const std::string log = ReadFile(fLog);
		size_t start = 0;
		for (size_t end; (end = log.find('\0', start)) != std::string::npos; start = end + 1)
			fields.push_back(log.substr(start, end - start));
		std::vector<EncoderEvent> events;
		for (size_t i = 0; i + 1 < fields.size();) {
			EncoderEvent event;
			event.started = fields[i] == "S";
			const size_t count = std::stoul(fields[i + 1]);
			if (i + 2 + count > fields.size())
				break; // a record still being written
			event.arguments.assign(fields.begin() + long(i + 2), fields.begin() + long(i + 2 + count));
			events.push_back(std::move(event));
			i += 2 + count;
		}
		return events;
	}

	// The arguments of every start, in order.
	std::vector<std::vector<std::string>> Starts() const
	{
		std::vector<std::vector<std::string>> starts;
		for (EncoderEvent& event : Events()) {
			if (event.started)
				starts.push_back(std::move(event.arguments));
		}
		return starts;
	}

	// The inputs (last arguments) of the encoders that ended by themselves.
	std::vector<std::string> Finished() const
	{
		std::vector<std::string> inputs;
		for (const EncoderEvent& event : Events()) {
			if (!event.started && !event.arguments.empty())
				inputs.push_back(event.arguments.back());
		}
		return inputs;
	}

	static void Hold(const std::string& input) { WriteFile(input + ".hold", ""); }
	static void Release(const std::string& input)
	{
		std::error_code error;
		std::filesystem::remove(input + ".hold", error);
	}

private:
	std::string fPath;
	std::string fLog;
};

// The run's state, read under the main window's lock.
inline bool IsEncoding(const ProgramRun& run)
{
	MainWindow* window = run.Window();
	if (window == nullptr || !window->Lock())
		return false;
	const bool encoding = window->encoding;
	window->Unlock();
	return encoding;
}

inline bool RunEnded(const ProgramRun& run)
{
	return run.Robot().WaitFor([&] {
		return !IsEncoding(run) && !run.Robot().IsWindowShown(kProgressTitle);
	});
}

inline std::string ShownText(const ProgramRun& run, const std::string& view)
{
	auto state = run.Robot().FindView(kProgressTitle, view);
	return state ? state->text : std::string("<missing>");
}

// Makes empty input files in the directory and returns their paths.
inline std::vector<std::string> MakeInputs(const TempDir& dir, const std::vector<std::string>& names)
{
	std::vector<std::string> paths;
	for (const std::string& name : names) {
		paths.push_back(dir / name);
		WriteFile(paths.back(), "");
	}
	return paths;
}

// Drops the files on the list, as from a file manager, and waits until the
// list shows them.
inline bool AddFiles(const ProgramRun& run, const std::vector<std::string>& paths)
{
	const size_t before = run.ListItems().size();
	return run.Robot().Drop(kMainTitle, "FilesList", paths)
		&& WaitUntil([&] { return run.ListItems().size() == before + paths.size(); });
}

inline bool ClickEncode(const ProgramRun& run)
{
	return run.Robot().WaitFor([&] { return run.Robot().Click(kMainTitle, "EncodeButton"); });
}

} // namespace testing_support
