#include "DefaultApplication.h"

#include "Spawn.h"
#include "UniqueFd.h"

#include <AppDefs.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <sstream>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace BPrivate {

namespace {

// How long the preferred-application lookup may take before it is given up.
constexpr auto kMimeQueryTimeout = std::chrono::seconds(5);
// Enough for any desktop entry id; more is not an answer we can use.
constexpr size_t kMimeQueryOutputLimit = 64 * 1024;

} // namespace

std::string QueryDefaultApplication(const std::string& mimeType)
{
	std::string xdgMime = FindInPath("xdg-mime");
	if (xdgMime.empty())
		return {};
	int pipeFds[2];
	if (pipe2(pipeFds, O_CLOEXEC) != 0)
		return {};
	UniqueFd readEnd(pipeFds[0]);
	UniqueFd writeEnd(pipeFds[1]);
	pid_t pid = -1;
	SpawnOptions options;
	options.stdoutFd = writeEnd.Get();
	status_t status = Spawn(xdgMime, {xdgMime, "query", "default", mimeType}, &pid, options);
	writeEnd.Reset();
	if (status != B_OK)
		return {};

	std::string output;
	const auto deadline = std::chrono::steady_clock::now() + kMimeQueryTimeout;
	bool timedOut = false;
	for (;;) {
		auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
			deadline - std::chrono::steady_clock::now());
		if (left.count() <= 0) {
			timedOut = true;
			break;
		}
		pollfd fd{readEnd.Get(), POLLIN, 0};
		int ready = poll(&fd, 1, static_cast<int>(left.count()));
		if (ready < 0 && errno == EINTR)
			continue;
		if (ready <= 0) {
			timedOut = ready == 0;
			break;
		}
		char buffer[4096];
		ssize_t got = read(readEnd.Get(), buffer, sizeof(buffer));
		if (got < 0 && errno == EINTR)
			continue;
		if (got <= 0)
			break;
		if (output.size() < kMimeQueryOutputLimit)
			output.append(buffer, static_cast<size_t>(got));
	}
	// Closed before the wait: a helper still writing gets EPIPE instead of
	// blocking on a full pipe.
	readEnd.Reset();
	// The child is ours and unreaped, so its pid still names its group: the
	// helper is a script, and whatever it started goes with it.
	if (timedOut)
		kill(-pid, SIGKILL);
	while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
	}
	if (timedOut)
		return {};

	// The first line, trimmed; several ids may be separated by ';'.
	output = output.substr(0, output.find('\n'));
	output = output.substr(0, output.find(';'));
	size_t begin = output.find_first_not_of(" \t\r");
	size_t end = output.find_last_not_of(" \t\r");
	if (begin == std::string::npos)
		return {};
	return output.substr(begin, end - begin + 1);
}

std::string FindDesktopFile(const std::string& id)
{
	if (id.empty() || id.find('/') != std::string::npos || id == "." || id == "..")
		return {};
	std::vector<std::string> dirs;
	std::string dataHome = GetEnv("XDG_DATA_HOME");
	if (dataHome.empty() && !GetEnv("HOME").empty())
		dataHome = GetEnv("HOME") + "/.local/share";
	if (!dataHome.empty())
		dirs.push_back(dataHome);
	std::string dataDirs = GetEnv("XDG_DATA_DIRS");
	if (dataDirs.empty())
		dataDirs = "/usr/local/share:/usr/share";
	std::stringstream list(dataDirs);
	std::string dir;
	while (std::getline(list, dir, ':')) {
		if (!dir.empty())
			dirs.push_back(dir);
	}
	for (const std::string& base : dirs) {
		std::string candidate = base + "/applications/" + id;
		struct stat info;
		if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode))
			return candidate;
	}
	return {};
}

} // namespace BPrivate
