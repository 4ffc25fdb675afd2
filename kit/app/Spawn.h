// Kit-private: starting programs with argument vectors (posix_spawn, never a
// shell) and finding them as a shell would, without one.
#pragma once

#include <SupportDefs.h>

#include <string>
#include <vector>

#include <sys/types.h>

namespace BPrivate {

struct SpawnOptions {
	// Where the child's standard output and error go; -1: /dev/null.
	int stdoutFd = -1;
	int stderrFd = -1;
	// The child leads a process group of its own, so that it and everything
	// it starts can be signalled together.
	bool newGroup = true;
};

// Starts the executable with the arguments (argv[0] included): standard
// input from /dev/null, no descriptor of ours beyond 0-2, signals back to
// their defaults and unblocked. B_OK, or the error the exec gave as a status.
status_t Spawn(const std::string& executable, const std::vector<std::string>& arguments,
	pid_t* pid, const SpawnOptions& options = {});

// A status for an errno of exec or path resolution.
status_t SpawnError(int error);

// An environment variable, empty when unset.
std::string GetEnv(const char* name);

// The program named as the shell would find it on PATH; a name with a slash
// is taken as it is. Empty when there is none.
std::string FindInPath(const std::string& name);

} // namespace BPrivate
