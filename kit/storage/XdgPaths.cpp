#include "XdgPaths.h"

#include "PathSplit.h"
#include "UniqueFd.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace BPrivate {

namespace {

std::string home_directory()
{
	const char* home = std::getenv("HOME");
	if (home != nullptr && home[0] == '/')
		return home;
	struct passwd entry;
	struct passwd* result = nullptr;
	std::vector<char> buffer(16384);
	if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result) == 0
		&& result != nullptr && result->pw_dir != nullptr && result->pw_dir[0] == '/')
		return result->pw_dir;
	return {};
}

std::string base_directory(const char* variable, const char* fallback)
{
	const char* value = std::getenv(variable);
	if (value != nullptr && value[0] == '/')
		return value;
	std::string home = home_directory();
	if (home.empty())
		return {};
	return home + fallback;
}

} // namespace

std::string xdg_data_home()
{
	return base_directory("XDG_DATA_HOME", "/.local/share");
}

std::string xdg_config_home()
{
	return base_directory("XDG_CONFIG_HOME", "/.config");
}

std::vector<std::string> xdg_data_dirs()
{
	const char* value = std::getenv("XDG_DATA_DIRS");
	std::string list = value != nullptr && value[0] != '\0' ? value : "/usr/local/share:/usr/share";
	std::vector<std::string> dirs;
	size_t position = 0;
	while (position <= list.size()) {
		size_t end = list.find(':', position);
		if (end == std::string::npos)
			end = list.size();
		std::string dir = list.substr(position, end - position);
		while (dir.size() > 1 && dir.back() == '/')
			dir.pop_back();
		if (!dir.empty() && dir[0] == '/')
			dirs.push_back(dir);
		position = end + 1;
	}
	return dirs;
}

status_t make_directories(const std::string& path, mode_t mode)
{
	if (path.empty() || path[0] != '/')
		return B_BAD_VALUE;
	struct stat st;
	if (stat(path.c_str(), &st) == 0)
		return S_ISDIR(st.st_mode) ? B_OK : B_NOT_A_DIRECTORY;
	const std::string_view parent = SplitPathView(path).directory;
	if (parent != "/") {
		status_t status = make_directories(std::string(parent), mode);
		if (status != B_OK)
			return status;
	}
	if (mkdir(path.c_str(), mode) != 0 && errno != EEXIST)
		return status_from_errno(errno);
	return B_OK;
}

status_t read_file(const std::string& path, std::string* contents, size_t limit)
{
	contents->clear();
	const UniqueFd file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
	if (!file.IsValid())
		return status_from_errno(errno);
	const int fd = file.Get();
	struct stat st;
	status_t status = B_OK;
	// Only a regular file: a FIFO or a device would block or never end.
	if (fstat(fd, &st) != 0)
		status = status_from_errno(errno);
	else if (!S_ISREG(st.st_mode))
		status = S_ISDIR(st.st_mode) ? B_IS_A_DIRECTORY : B_NOT_ALLOWED;
	else if (st.st_size < 0 || uint64(st.st_size) > limit)
		status = B_BUFFER_OVERFLOW;
	std::string buffer;
	if (status == B_OK) {
		// One byte more than the limit tells a file that grew past it.
		const size_t expected = size_t(st.st_size) < limit ? size_t(st.st_size) : limit;
		buffer.resize(expected + 1);
		size_t have = 0;
		for (;;) {
			if (have == buffer.size()) {
				if (have > limit)
					break;
				buffer.resize(have + 65536 < limit + 1 ? have + 65536 : limit + 1);
			}
			ssize_t result = read(fd, buffer.data() + have, buffer.size() - have);
			if (result < 0 && errno == EINTR)
				continue;
			if (result < 0)
				status = status_from_errno(errno);
			if (result <= 0)
				break;
			have += size_t(result);
		}
		if (status == B_OK && have > limit)
			status = B_BUFFER_OVERFLOW;
		buffer.resize(have);
	}
	if (status == B_OK)
		*contents = std::move(buffer);
	return status;
}

bool read_whole_file(const std::string& path, std::string* contents)
{
	return read_file(path, contents) == B_OK;
}

status_t remove_file(const std::string& path)
{
	if (unlink(path.c_str()) != 0 && errno != ENOENT)
		return status_from_errno(errno);
	return B_OK;
}

bool file_exists(const std::string& path)
{
	struct stat st;
	return stat(path.c_str(), &st) == 0;
}

} // namespace BPrivate
