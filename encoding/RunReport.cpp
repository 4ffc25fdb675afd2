#include "RunReport.h"

#include <PathSplit.h>

#include <algorithm>
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
		fListed.push_back(Failure{ShortPath(path), Reason(notice)});
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
	const Shown shown = Show(text, limit);
	size_t end = 0;
	for (const size_t boundary : shown.boundaries) {
		if (boundary > limit)
			break;
		end = boundary;
	}
	return shown.text.substr(0, end);
}

std::string RunReport::ShortPath(const std::string& path)
{
	const size_t leafLength = SplitPathView(path).leaf.size();
	const Shown directory = Show(path.substr(0, path.size() - leafLength), SIZE_MAX);
	const Shown leaf = Show(path.substr(path.size() - leafLength), SIZE_MAX);
	// The name has two thirds of the room, and more beside a short directory.
	const std::string shownLeaf
		= Middle(leaf, kPathLimit - std::min(directory.text.size(), kPathLimit / 3));
	return Middle(directory, kPathLimit - shownLeaf.size()) + shownLeaf;
}

RunReport::Shown RunReport::Show(const std::string& text, size_t limit)
{
	Shown shown;
	shown.boundaries.push_back(0);
	for (size_t i = 0; i < text.size() && shown.text.size() <= limit;) {
		const unsigned char byte = static_cast<unsigned char>(text[i]);
		size_t length = 1;
		if (byte < 0x20 || byte == 0x7f) {
			char escape[8];
			std::snprintf(escape, sizeof(escape), "\\x%02x", byte);
			shown.text += escape;
		} else {
			// A character's continuation bytes stay with it.
			if (byte >= 0xc0) {
				while (i + length < text.size() && length < 4
					&& (static_cast<unsigned char>(text[i + length]) & 0xc0) == 0x80)
					length++;
			}
			shown.text.append(text, i, length);
		}
		shown.boundaries.push_back(shown.text.size());
		i += length;
	}
	return shown;
}

std::string RunReport::Middle(const Shown& shown, size_t limit)
{
	static constexpr std::string_view kEllipsis = "\u2026";
	if (shown.text.size() <= limit)
		return shown.text;
	if (limit <= kEllipsis.size())
		return std::string(kEllipsis);
	// The start keeps the odd byte; both ends fall between pieces.
	const size_t room = limit - kEllipsis.size();
	const size_t headRoom = room - room / 2;
	const size_t tailFrom = shown.text.size() - room / 2;
	const auto& bounds = shown.boundaries;
	const size_t headEnd = *std::prev(std::upper_bound(bounds.begin(), bounds.end(), headRoom));
	const size_t tailStart = *std::lower_bound(bounds.begin(), bounds.end(), tailFrom);
	return shown.text.substr(0, headEnd) + std::string(kEllipsis) + shown.text.substr(tailStart);
}
