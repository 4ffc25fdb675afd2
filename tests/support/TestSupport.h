// Helpers shared by the tests: temporary directories and deadline waits.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace testing_support {

// A fresh directory under /tmp, removed with everything in it at the end.
class TempDir {
public:
	TempDir();
	~TempDir();
	TempDir(const TempDir&) = delete;
	TempDir& operator=(const TempDir&) = delete;
	const std::string& Path() const { return fPath; }
	std::string operator/(const std::string& leaf) const { return fPath + "/" + leaf; }

private:
	std::string fPath;
};

// Polls the condition until it holds or the deadline passes; true if it held.
bool WaitUntil(const std::function<bool()>& condition,
	std::chrono::milliseconds deadline = std::chrono::seconds(10));

// Writes a whole file; returns false on any error.
bool WriteFile(const std::string& path, const std::string& contents);
// Reads a whole file; empty on error.
std::string ReadFile(const std::string& path);
// The pieces of a text between separators, each without its separator; a
// last piece without one counts too.
std::vector<std::string> SplitAt(const std::string& text, char separator);
inline std::vector<std::string> SplitLines(const std::string& text) { return SplitAt(text, '\n'); }

} // namespace testing_support
