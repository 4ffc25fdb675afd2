#include "TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace testing_support {

TempDir::TempDir()
{
	std::string pattern = "/tmp/tamsel-test-XXXXXX";
	if (mkdtemp(pattern.data()) != nullptr)
		fPath = pattern;
}

TempDir::~TempDir()
{
	if (fPath.empty())
		return;
	std::error_code error;
	// Make everything writable again so that read-only test fixtures go too.
	for (auto it = std::filesystem::recursive_directory_iterator(fPath, error);
			!error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
		std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
			std::filesystem::perm_options::add | std::filesystem::perm_options::nofollow, error);
	}
	std::filesystem::permissions(fPath, std::filesystem::perms::owner_all,
		std::filesystem::perm_options::add, error);
	std::filesystem::remove_all(fPath, error);
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline)
{
	const auto end = std::chrono::steady_clock::now() + deadline;
	while (true) {
		if (condition())
			return true;
		if (std::chrono::steady_clock::now() >= end)
			return false;
		std::this_thread::sleep_for(std::chrono::milliseconds(1));
	}
}

bool WriteFile(const std::string& path, const std::string& contents)
{
	std::ofstream out(path, std::ios::binary | std::ios::trunc);
	out << contents;
	return bool(out);
}

std::string ReadFile(const std::string& path)
{
	std::ifstream in(path, std::ios::binary);
	std::ostringstream buffer;
	buffer << in.rdbuf();
	return buffer.str();
}

std::vector<std::string> SplitAt(const std::string& text, char separator)
{
	std::vector<std::string> pieces;
	size_t start = 0;
	while (start < text.size()) {
		size_t end = text.find(separator, start);
		if (end == std::string::npos)
			end = text.size();
		pieces.push_back(text.substr(start, end - start));
		start = end + 1;
	}
	return pieces;
}

} // namespace testing_support
