// gogo: the Gogo-compatible command-line MP3 encoder the front end runs.
#include "GogoEncoder.h"
#include "GogoOptions.h"

#include <chrono>
#include <cstdio>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Output that never fails the program: errors (a closed or broken stdout,
// a full disk) are ignored.
void Put(FILE* stream, const std::string& text)
{
	fwrite(text.data(), 1, text.size(), stream);
	fflush(stream);
	clearerr(stream);
}

// The message, on one line whatever bytes it carries.
void Fail(const std::string& reason)
{
	std::string line = "gogo: ";
	for (char c : reason)
		line += (c == '\n' || c == '\r') ? ' ' : c;
	line += '\n';
	Put(stderr, line);
}

// Makes sure descriptors 0, 1 and 2 are open, so that no file the encoder
// opens becomes stdout and receives the progress.
void GuardStandardDescriptors()
{
	for (int fd = 0; fd <= 2; fd++) {
		if (fcntl(fd, F_GETFD) == -1) {
			const int null = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
			if (null >= 0 && null != fd) {
				dup2(null, fd);
				close(null);
			}
		}
	}
}

} // namespace

int main(int argc, char** argv)
{
	GuardStandardDescriptors();
	gogo::InstallSignalCleanup();

	const gogo::ParseResult parsed = gogo::ParseArguments(argc, argv);
	switch (parsed.action) {
	case gogo::ParseAction::Help:
		Put(stdout, gogo::UsageText());
		return gogo::kExitOk;
	case gogo::ParseAction::Version:
		Put(stdout, gogo::VersionText());
		return gogo::kExitOk;
	case gogo::ParseAction::Error:
		Fail(parsed.error);
		return gogo::kExitUsage;
	case gogo::ParseAction::Encode:
		break;
	}

	const gogo::Options& options = parsed.options;
	bool progressShown = false;
	gogo::ProgressFunction progress;
	if (!options.silent) {
		progress = [&progressShown](int percent) {
			if (percent >= 100)
				return; // the final line says it
			char text[16];
			snprintf(text, sizeof(text), "\r%4d%%", percent);
			Put(stdout, text);
			progressShown = true;
		};
	}

	const auto start = std::chrono::steady_clock::now();
	const gogo::EncodeResult result = gogo::EncodeFile(options, progress);
	const double seconds =
		std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

	if (!result.ok) {
		if (progressShown)
			Put(stdout, "\n");
		Fail(result.error);
		return gogo::kExitFailure;
	}
	if (!options.silent) {
		const double audio = result.sampleRate > 0
			? static_cast<double>(result.frames) / result.sampleRate : 0.0;
		char figures[128];
		snprintf(figures, sizeof(figures), " (%.1f s of audio in %.2f s, %.1fx)", audio, seconds,
			seconds > 0 ? audio / seconds : 0.0);
		Put(stdout, std::string(progressShown ? "\r" : "") + "100%  wrote "
			+ gogo::QuotePath(result.outputPath) + figures + "\n");
	}
	return gogo::kExitOk;
}
