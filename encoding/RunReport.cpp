#include "RunReport.h"

#include <cstdio>
#include <cstring>

void RunReport::Clear()
{
	fListed.clear();
	fStarted = 0;
	fFailed = 0;
}

bool RunReport::FileEnded(const std::string& path, const BMessage& notice)
{
	bool killed = false;
	if (notice.FindBool("be:killed", &killed) == B_OK && killed)
		return false; // skipped or stopped: the user's choice, not a failure
	int32 status = 0;
	int32 signal = 0;
	const bool failed = (notice.FindInt32("be:exit_status", &status) == B_OK && status != 0)
		|| notice.FindInt32("be:signal", &signal) == B_OK;
	if (!failed)
		return false;
	fFailed++;
	if (fListed.size() < kListedFiles)
		fListed.push_back(Failure{Printable(path, SIZE_MAX), Reason(notice)});
	return true;
}

std::string RunReport::Text() const
{
	std::string text = std::to_string(fFailed) + " of " + std::to_string(fStarted)
		+ " files could not be encoded:";
	for (const Failure& failure : fListed)
		text += "\n" + failure.path + ": " + failure.reason;
	if (fFailed > static_cast<int32>(fListed.size()))
		text += "\n\u2026and " + std::to_string(fFailed - static_cast<int32>(fListed.size())) + " more.";
	return text;
}

std::string RunReport::Reason(const BMessage& notice)
{
	const void* data = nullptr;
	ssize_t size = 0;
	if (notice.FindData("be:stderr", B_RAW_TYPE, 0, &data, &size) == B_OK && size > 0) {
		const std::string errors(static_cast<const char*>(data), static_cast<size_t>(size));
		// A line ends at a newline; a carriage return starts it over, as a
		// progress line does on a terminal.
		size_t end = errors.size();
		while (end > 0) {
			const size_t start = errors.find_last_of("\r\n", end - 1);
			const size_t from = start == std::string::npos ? 0 : start + 1;
			std::string line = errors.substr(from, end - from);
			const size_t first = line.find_first_not_of(" \t");
			if (first != std::string::npos) {
				line.erase(0, first);
				line.erase(line.find_last_not_of(" \t") + 1);
				return Printable(line, kReasonLimit);
			}
			if (start == std::string::npos)
				break;
			end = start;
		}
	}
	int32 status = 0;
	if (notice.FindInt32("be:exit_status", &status) == B_OK)
		return "exit status " + std::to_string(status);
	int32 signal = 0;
	if (notice.FindInt32("be:signal", &signal) == B_OK) {
		const char* name = sigabbrev_np(signal);
		return std::string("ended by signal ") + (name != nullptr ? std::string("SIG") + name
			: std::to_string(signal));
	}
	return "ended";
}

std::string RunReport::Printable(const std::string& text, size_t limit)
{
	std::string shown;
	for (size_t i = 0; i < text.size();) {
		const unsigned char byte = static_cast<unsigned char>(text[i]);
		std::string piece;
		size_t length = 1;
		if (byte < 0x20 || byte == 0x7f) {
			char escape[8];
			std::snprintf(escape, sizeof(escape), "\\x%02x", byte);
			piece = escape;
		} else {
			// A character's continuation bytes stay with it.
			if (byte >= 0xc0) {
				while (i + length < text.size() && length < 4
					&& (static_cast<unsigned char>(text[i + length]) & 0xc0) == 0x80)
					length++;
			}
			piece = text.substr(i, length);
		}
		if (shown.size() + piece.size() > limit)
			break;
		shown += piece;
		i += length;
	}
	return shown;
}
