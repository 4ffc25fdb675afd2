#include "BoundedCommand.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace BPrivate {

namespace {

// Waits until the child has ended or the deadline has passed; true when it
// has ended (it is not reaped yet).
bool wait_for_exit(pid_t pid, std::chrono::steady_clock::time_point deadline)
{
#ifdef SYS_pidfd_open
	// The child stays a zombie until it is reaped below, so its pid cannot
	// be reused in between.
	int pidfd = int(syscall(SYS_pidfd_open, pid, 0));
	if (pidfd >= 0) {
		bool ended = false;
		while (true) {
			auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
				deadline - std::chrono::steady_clock::now());
			if (left.count() < 0)
				break;
			struct pollfd entry = {pidfd, POLLIN, 0};
			int result = poll(&entry, 1, int(left.count()) + 1);
			if (result > 0) {
				ended = true;
				break;
			}
			if (result < 0 && errno != EINTR)
				break;
		}
		close(pidfd);
		return ended;
	}
#endif
	// Without pidfds: look now and then, without reaping.
	while (std::chrono::steady_clock::now() < deadline) {
		siginfo_t info = {};
		if (waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid)
			return true;
		std::this_thread::sleep_for(std::chrono::milliseconds(5));
	}
	return false;
}

} // namespace

status_t run_bounded(const std::vector<std::string>& argv, std::chrono::milliseconds limit)
{
	if (argv.empty() || argv[0].empty())
		return B_BAD_VALUE;
	std::vector<char*> arguments;
	for (const std::string& argument : argv)
		arguments.push_back(const_cast<char*>(argument.c_str()));
	arguments.push_back(nullptr);

	posix_spawn_file_actions_t actions;
	posix_spawnattr_t attributes;
	if (posix_spawn_file_actions_init(&actions) != 0)
		return B_NO_MEMORY;
	if (posix_spawnattr_init(&attributes) != 0) {
		posix_spawn_file_actions_destroy(&actions);
		return B_NO_MEMORY;
	}
	posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
	posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
	posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
	// The calling thread may block or catch signals; the helper starts clean.
	sigset_t none;
	sigset_t all;
	sigemptyset(&none);
	sigfillset(&all);
	posix_spawnattr_setsigmask(&attributes, &none);
	posix_spawnattr_setsigdefault(&attributes, &all);
	posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

	pid_t pid = -1;
	int error = posix_spawnp(&pid, arguments[0], &actions, &attributes, arguments.data(), environ);
	posix_spawn_file_actions_destroy(&actions);
	posix_spawnattr_destroy(&attributes);
	if (error != 0)
		return error == ENOENT || error == EACCES || error == ENOTDIR ? B_ENTRY_NOT_FOUND : B_ERROR;

	bool ended = wait_for_exit(pid, std::chrono::steady_clock::now() + limit);
	if (!ended)
		kill(pid, SIGKILL);
	int status = 0;
	pid_t reaped;
	do {
		reaped = waitpid(pid, &status, 0);
	} while (reaped < 0 && errno == EINTR);
	if (!ended)
		return B_TIMED_OUT;
	if (reaped != pid)
		return B_ERROR; // reaped by someone else: the outcome is unknown
	return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? B_OK : B_ERROR;
}

} // namespace BPrivate
