// gogo: the Gogo-compatible command-line MP3 encoder the front end runs.
//
// GOGO_NO_TMPFILE=1 in the environment makes it write the MP3 under a named
// temporary file, as on file systems without O_TMPFILE (vfat, exfat, NFS),
// so that the tests can reach that way of writing on any disk.
#include "GogoEncoder.h"
#include "GogoOptions.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
void Tell(const std::string& reason)
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
		Tell(parsed.error);
		return gogo::kExitUsage;
	case gogo::ParseAction::Encode:
		break;
	}

	gogo::Options options = parsed.options;
	if (const char* noTmpFile = getenv("GOGO_NO_TMPFILE");
			noTmpFile != nullptr && std::strcmp(noTmpFile, "1") == 0) {
		options.fallbacks.noTmpFile = true;
	}
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

	// The name the MP3 took, when the usual one was in use: said even with
	// -silent, as nobody would look for it there.
	const std::string instead = result.nameTaken
		? " instead of " + gogo::QuotePath(gogo::OutputPath(options)) + ", which exists" : "";
	if (!result.ok) {
		if (progressShown)
			Put(stdout, "\n");
		Tell(result.error);
		if (result.truncated)
			return gogo::kExitTruncated;
		return result.inputKept ? gogo::kExitInputKept : gogo::kExitFailure;
	}
	// Said even with -silent: the header was wrong, which the user should know.
	if (!result.note.empty())
		Tell("note: " + result.note);
	if (!result.tagNote.empty())
		Tell("note: " + result.tagNote);
	if (!options.silent) {
		const double audio = result.sampleRate > 0
			? static_cast<double>(result.frames) / result.sampleRate : 0.0;
		char figures[128];
		snprintf(figures, sizeof(figures), " (%.1f s of audio in %.2f s, %.1fx)", audio, seconds,
			seconds > 0 ? audio / seconds : 0.0);
		Put(stdout, std::string(progressShown ? "\r" : "") + "100%  wrote "
			+ gogo::QuotePath(result.outputPath) + instead + figures + "\n");
	} else if (result.nameTaken) {
		Put(stdout, "wrote " + gogo::QuotePath(result.outputPath) + instead + "\n");
	}
	return gogo::kExitOk;
}
