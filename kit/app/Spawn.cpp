#include "Spawn.h"

#include <AppDefs.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <sstream>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

extern char** environ;

namespace BPrivate {

status_t SpawnError(int error)
{
	switch (error) {
		case ENOENT:
		case ENOTDIR:
			return B_ENTRY_NOT_FOUND;
		case EACCES:
		case EPERM:
		case ENOEXEC:
		case EISDIR:
		case ETXTBSY:
		case ELIBBAD:
			return B_LAUNCH_FAILED_EXECUTABLE;
		case ENOMEM:
		case EAGAIN:
			return B_NO_MEMORY;
		case ELOOP:
			return B_LINK_LIMIT;
		default:
			return B_LAUNCH_FAILED;
	}
}

namespace {

// Owns the two posix_spawn objects for one start.
struct SpawnSetup {
	posix_spawn_file_actions_t actions;
	posix_spawnattr_t attributes;
	bool actionsMade = false;
	bool attributesMade = false;

	SpawnSetup()
	{
		actionsMade = posix_spawn_file_actions_init(&actions) == 0;
		attributesMade = posix_spawnattr_init(&attributes) == 0;
	}
	~SpawnSetup()
	{
		if (actionsMade)
			posix_spawn_file_actions_destroy(&actions);
		if (attributesMade)
			posix_spawnattr_destroy(&attributes);
	}
	SpawnSetup(const SpawnSetup&) = delete;
	SpawnSetup& operator=(const SpawnSetup&) = delete;
};

void Redirect(posix_spawn_file_actions_t* actions, int fd, int target)
{
	if (fd >= 0)
		posix_spawn_file_actions_adddup2(actions, fd, target);
	else
		posix_spawn_file_actions_addopen(actions, target, "/dev/null", O_WRONLY, 0);
}

} // namespace

status_t Spawn(const std::string& executable, const std::vector<std::string>& arguments,
	pid_t* pid, const SpawnOptions& options)
{
	SpawnSetup setup;
	if (!setup.actionsMade || !setup.attributesMade)
		return B_NO_MEMORY;

	posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
	Redirect(&setup.actions, options.stdoutFd, STDOUT_FILENO);
	Redirect(&setup.actions, options.stderrFd, STDERR_FILENO);
	posix_spawn_file_actions_addclosefrom_np(&setup.actions, STDERR_FILENO + 1);

	sigset_t none;
	sigemptyset(&none);
	posix_spawnattr_setsigmask(&setup.attributes, &none);
	sigset_t defaults;
	sigemptyset(&defaults);
	for (int signal : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD, SIGUSR1, SIGUSR2})
		sigaddset(&defaults, signal);
	posix_spawnattr_setsigdefault(&setup.attributes, &defaults);
	short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
	if (options.newGroup) {
		posix_spawnattr_setpgroup(&setup.attributes, 0);
		flags |= POSIX_SPAWN_SETPGROUP;
	}
	posix_spawnattr_setflags(&setup.attributes, flags);

	std::vector<char*> argv;
	argv.reserve(arguments.size() + 1);
	for (const std::string& argument : arguments)
		argv.push_back(const_cast<char*>(argument.c_str()));
	argv.push_back(nullptr);

	// glibc runs the child with CLONE_VFORK and reports a failed exec here,
	// having reaped the child itself.
	const int result
		= posix_spawn(pid, executable.c_str(), &setup.actions, &setup.attributes, argv.data(), environ);
	return result == 0 ? B_OK : SpawnError(result);
}

std::string GetEnv(const char* name)
{
	const char* value = getenv(name);
	return value ? value : "";
}

namespace {

bool IsExecutableFile(const std::string& path)
{
	struct stat info;
	return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

} // namespace

std::string FindInPath(const std::string& name)
{
	if (name.empty())
		return {};
	if (name.find('/') != std::string::npos)
		return name;
	std::string path = GetEnv("PATH");
	if (path.empty())
		path = "/usr/local/bin:/usr/bin:/bin";
	std::stringstream dirs(path);
	std::string dir;
	while (std::getline(dirs, dir, ':')) {
		if (dir.empty())
			dir = ".";
		std::string candidate = dir + "/" + name;
		if (IsExecutableFile(candidate))
			return candidate;
	}
	return {};
}

} // namespace BPrivate
