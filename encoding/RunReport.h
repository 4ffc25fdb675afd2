// What went wrong in an encoding run, gathered file by file from the
// roster's quit notices, for the report shown when the run has gone through
// its list. Bounded however many files fail.
#pragma once

#include <Message.h>

#include <string>
#include <vector>

class RunReport {
public:
	// Files named in the report; the rest are counted.
	static constexpr size_t kListedFiles = 20;
	// The longest reason given for one file, in bytes.
	static constexpr size_t kReasonLimit = 200;

	void Clear();
	void FileStarted() { fStarted++; }
	// The encoder of the file has ended as the quit notice tells. It failed
	// when it exited non-zero or died of a signal that the run did not send
	// ("be:killed"). True when it failed.
	bool FileEnded(const std::string& path, const BMessage& notice);

	int32 Started() const { return fStarted; }
	int32 Failed() const { return fFailed; }
	// "%d of %d files could not be encoded:", then one line per failed file.
	std::string Text() const;

	// Why a file failed: the last non-empty line its encoder wrote to
	// standard error, else its exit status or the signal that ended it.
	static std::string Reason(const BMessage& notice);
	// Control bytes shown as \xNN, so that the text stays on one line; cut
	// to at most `limit` bytes without splitting an escape or a character.
	static std::string Printable(const std::string& text, size_t limit);

private:
	struct Failure {
		std::string path;
		std::string reason;
	};
	std::vector<Failure> fListed;
	int32 fStarted = 0;
	int32 fFailed = 0;
};
