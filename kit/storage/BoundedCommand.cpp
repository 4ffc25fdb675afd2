#include "BoundedCommand.h"

#include "Spawn.h"
#include "UniqueFd.h"

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace BPrivate {

namespace {

// Waits until the child has ended or the deadline has passed; true when it
// has ended (it is not reaped yet).
bool wait_for_exit(pid_t pid, std::chrono::steady_clock::time_point deadline)
{
#ifdef SYS_pidfd_open
	// The child stays a zombie until it is reaped below, so its pid cannot
	// be reused in between.
	const UniqueFd pidfd(int(syscall(SYS_pidfd_open, pid, 0)));
	if (pidfd.IsValid()) {
		bool ended = false;
		while (true) {
			auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
				deadline - std::chrono::steady_clock::now());
			if (left.count() < 0)
				break;
			struct pollfd entry = {pidfd.Get(), POLLIN, 0};
			int result = poll(&entry, 1, int(left.count()) + 1);
			if (result > 0) {
				ended = true;
				break;
			}
			if (result < 0 && errno != EINTR)
				break;
		}
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
	const std::string program = FindInPath(argv[0]);
	if (program.empty())
		return B_ENTRY_NOT_FOUND;
	// Standard input, output and error on /dev/null, nothing else of ours,
	// in a group of its own so that a helper script goes with its children.
	pid_t pid = -1;
	const status_t spawned = Spawn(program, argv, &pid);
	if (spawned == B_ENTRY_NOT_FOUND || spawned == B_LAUNCH_FAILED_EXECUTABLE)
		return B_ENTRY_NOT_FOUND;
	if (spawned != B_OK)
		return B_ERROR;

	bool ended = wait_for_exit(pid, std::chrono::steady_clock::now() + limit);
	if (!ended) {
		// Not reaped yet, so the pid still names the child and its group.
		kill(-pid, SIGKILL);
		kill(pid, SIGKILL);
	}
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
