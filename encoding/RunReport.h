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
	// The longest path shown for one file, in bytes: a line of the report
	// stays readable however deep the file lies.
	static constexpr size_t kPathLimit = 80;

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
	// The path as Printable shows it, at most kPathLimit bytes: a longer one
	// loses the middle of its directory (an ellipsis in its place) and keeps
	// the file name whole, unless the name alone is too long, which then
	// keeps its start and its end.
	static std::string ShortPath(const std::string& path);

private:
	// A text as the report shows it, and where each of its characters (or
	// escapes) begins and ends: the places where it may be cut.
	struct Shown {
		std::string text;
		std::vector<size_t> boundaries; // ascending, from 0 to text.size()
	};
	// Stops once the text shown passes `limit` bytes.
	static Shown Show(const std::string& text, size_t limit);
	// At most `limit` bytes: the whole text, or its start and end around an
	// ellipsis.
	static std::string Middle(const Shown& shown, size_t limit);

	struct Failure {
		std::string path;
		std::string reason;
	};
	std::vector<Failure> fListed;
	int32 fStarted = 0;
	int32 fFailed = 0;
};
