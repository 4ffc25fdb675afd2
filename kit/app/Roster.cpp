#include <Roster.h>

#include <Entry.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

#ifndef P_PIDFD
#define P_PIDFD 3
#endif

namespace {

// How long the preferred-application lookup may take before it is given up.
constexpr auto kMimeQueryTimeout = std::chrono::seconds(5);
// Enough for any desktop entry id; more is not an answer we can use.
constexpr size_t kMimeQueryOutputLimit = 64 * 1024;

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

// posix_spawn with argument vectors: stdin from /dev/null, stdout (or the
// given descriptor) and stderr inherited, every other descriptor closed in the
// child so nothing of ours leaks into it, signals back to their defaults.
status_t Spawn(const std::string& executable, const std::vector<std::string>& arguments,
	pid_t* pid, int stdoutFd = -1)
{
	posix_spawn_file_actions_t actions;
	if (posix_spawn_file_actions_init(&actions) != 0)
		return B_NO_MEMORY;
	posix_spawnattr_t attributes;
	if (posix_spawnattr_init(&attributes) != 0) {
		posix_spawn_file_actions_destroy(&actions);
		return B_NO_MEMORY;
	}

	posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
	if (stdoutFd >= 0)
		posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
	posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);

	sigset_t none;
	sigemptyset(&none);
	posix_spawnattr_setsigmask(&attributes, &none);
	sigset_t defaults;
	sigemptyset(&defaults);
	for (int signal : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD, SIGUSR1, SIGUSR2})
		sigaddset(&defaults, signal);
	posix_spawnattr_setsigdefault(&attributes, &defaults);
	posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

	std::vector<char*> argv;
	argv.reserve(arguments.size() + 1);
	for (const std::string& argument : arguments)
		argv.push_back(const_cast<char*>(argument.c_str()));
	argv.push_back(nullptr);

	// glibc runs the child with CLONE_VFORK and reports a failed exec here,
	// having reaped the child itself.
	int result = posix_spawn(pid, executable.c_str(), &actions, &attributes, argv.data(), environ);
	posix_spawnattr_destroy(&attributes);
	posix_spawn_file_actions_destroy(&actions);
	return result == 0 ? B_OK : SpawnError(result);
}

std::string GetEnv(const char* name)
{
	const char* value = getenv(name);
	return value ? value : "";
}

bool IsExecutableFile(const std::string& path)
{
	struct stat info;
	return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

// The program named as the shell would find it, but without a shell.
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

struct Watcher {
	BMessenger target;
	uint32 mask;
};

struct Team {
	int pidfd = -1;
	entry_ref ref;
	// Its launch notice is out; only then may its quit notice follow.
	bool announced = false;
	// In the follower's epoll set; otherwise the follower polls for it.
	bool followed = false;
};

// The process-wide part of the roster: the teams it started and who wants to
// hear of their end. One thread follows every team through its pidfd, all of
// them in one epoll set: a team started adds its pidfd to the set from the
// launching thread, so the follower need not be woken for it, which keeps the
// step from one encoder to the next as short as the kernel allows.
class TeamRegistry {
public:
	static TeamRegistry& Get()
	{
		static TeamRegistry registry;
		return registry;
	}

	~TeamRegistry()
	{
		std::thread thread;
		{
			std::lock_guard<std::mutex> guard(fLock);
			fStopping = true;
			thread = std::move(fThread);
		}
		Wake();
		if (thread.joinable())
			thread.join();
		for (auto& [pid, team] : fTeams) {
			if (team.pidfd >= 0)
				close(team.pidfd);
		}
		if (fWakeFd >= 0)
			close(fWakeFd);
		if (fEpollFd >= 0)
			close(fEpollFd);
	}

	void Add(pid_t pid, entry_ref ref)
	{
		// Works on a zombie too, and nothing else reaps our children, so the
		// pid cannot have been reused between the spawn and this call.
		int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
		std::vector<Watcher> targets;
		{
			// Known from now on (kill_team finds it), but not followed until
			// its launch is announced: its quit notice must not come first.
			std::lock_guard<std::mutex> guard(fLock);
			fTeams[pid] = Team{pidfd, ref};
			if (!fThread.joinable() && !fStopping)
				fThread = std::thread([this] { Follow(); });
			targets = WatchersFor(B_REQUEST_LAUNCHED);
		}
		Notify(targets, B_SOME_APP_LAUNCHED, ref, pid);

		bool wake = false;
		{
			std::lock_guard<std::mutex> guard(fLock);
			auto found = fTeams.find(pid);
			if (found == fTeams.end())
				return;
			Team& team = found->second;
			team.announced = true;
			if (pidfd >= 0 && fEpollFd >= 0) {
				// A team that has ended already makes its pidfd readable at
				// once, so nothing is missed in between.
				epoll_event event{};
				event.events = EPOLLIN;
				event.data.fd = pidfd;
				team.followed = epoll_ctl(fEpollFd, EPOLL_CTL_ADD, pidfd, &event) == 0;
			}
			if (!team.followed) {
				// Without a pidfd (an old kernel) the team can only be
				// polled for, and the follower must learn to poll.
				fPolledTeams += 1;
				wake = true;
			}
		}
		if (wake)
			Wake();
	}

	status_t Kill(team_id team)
	{
		std::lock_guard<std::mutex> guard(fLock);
		auto found = fTeams.find(team);
		if (found == fTeams.end())
			return B_BAD_TEAM_ID;
		int result;
		if (found->second.pidfd >= 0) {
			result = static_cast<int>(
				syscall(SYS_pidfd_send_signal, found->second.pidfd, SIGKILL, nullptr, 0));
		} else {
			// Not reaped yet (that happens under this lock), so still ours.
			result = kill(team, SIGKILL);
		}
		if (result != 0)
			return errno == ESRCH ? B_BAD_TEAM_ID : B_NOT_ALLOWED;
		return B_OK;
	}

	status_t StartWatching(const BMessenger& target, uint32 mask)
	{
		if (!target.IsValid())
			return B_BAD_VALUE;
		std::lock_guard<std::mutex> guard(fLock);
		for (Watcher& watcher : fWatchers) {
			if (watcher.target == target) {
				watcher.mask = mask;
				return B_OK;
			}
		}
		fWatchers.push_back(Watcher{target, mask});
		return B_OK;
	}

	status_t StopWatching(const BMessenger& target)
	{
		std::lock_guard<std::mutex> guard(fLock);
		auto found = std::find_if(fWatchers.begin(), fWatchers.end(),
			[&](const Watcher& watcher) { return watcher.target == target; });
		if (found == fWatchers.end())
			return B_BAD_VALUE;
		fWatchers.erase(found);
		return B_OK;
	}

	void SetOpener(const char* path)
	{
		std::lock_guard<std::mutex> guard(fLock);
		fOpener = path != nullptr && path[0] != '\0' ? path : "xdg-open";
	}

	std::string Opener()
	{
		std::lock_guard<std::mutex> guard(fLock);
		return fOpener;
	}

	void SetAppInfoProvider(BPrivate::AppInfoProvider provider)
	{
		std::lock_guard<std::mutex> guard(fLock);
		fAppInfoProvider = provider;
	}

	BPrivate::AppInfoProvider AppInfoProvider()
	{
		std::lock_guard<std::mutex> guard(fLock);
		return fAppInfoProvider;
	}

private:
	TeamRegistry()
		: fWakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
		  fEpollFd(epoll_create1(EPOLL_CLOEXEC))
	{
		if (fEpollFd >= 0 && fWakeFd >= 0) {
			epoll_event event{};
			event.events = EPOLLIN;
			event.data.fd = fWakeFd;
			epoll_ctl(fEpollFd, EPOLL_CTL_ADD, fWakeFd, &event);
		}
	}

	void Wake()
	{
		if (fWakeFd < 0)
			return;
		uint64_t one = 1;
		ssize_t written = write(fWakeFd, &one, sizeof(one));
		(void)written; // a full counter already means "wake up"
	}

	std::vector<Watcher> WatchersFor(uint32 mask) const
	{
		std::vector<Watcher> targets;
		for (const Watcher& watcher : fWatchers) {
			if ((watcher.mask & mask) != 0)
				targets.push_back(watcher);
		}
		return targets;
	}

	void Notify(const std::vector<Watcher>& targets, uint32 what, const entry_ref& ref, pid_t pid)
	{
		if (targets.empty())
			return;
		BMessage notice(what);
		notice.AddRef("be:ref", &ref);
		notice.AddInt32("be:team", static_cast<int32>(pid));
		for (const Watcher& watcher : targets) {
			if (watcher.target.SendMessage(&notice) != B_BAD_HANDLER)
				continue;
			// A watcher that has gone is dropped before the next one hears of
			// this, so whoever hears of it can count on that.
			std::lock_guard<std::mutex> guard(fLock);
			std::erase_if(fWatchers, [&](const Watcher& other) { return other.target == watcher.target; });
		}
	}

	// The watcher thread.
	void Follow()
	{
		for (;;) {
			bool polling = false;
			{
				std::lock_guard<std::mutex> guard(fLock);
				if (fStopping)
					return;
				polling = fPolledTeams > 0 || fEpollFd < 0;
			}
			bool woken = true;
			if (fEpollFd >= 0) {
				epoll_event events[16];
				int result = epoll_wait(fEpollFd, events, 16, polling ? 100 : -1);
				if (result < 0 && errno != EINTR)
					std::this_thread::sleep_for(std::chrono::milliseconds(10));
				woken = std::any_of(events, events + std::max(result, 0),
					[this](const epoll_event& event) { return event.data.fd == fWakeFd; });
			} else {
				std::this_thread::sleep_for(std::chrono::milliseconds(100));
			}
			uint64_t count;
			while (woken && fWakeFd >= 0 && read(fWakeFd, &count, sizeof(count)) > 0) {
			}

			std::vector<std::pair<pid_t, entry_ref>> ended;
			std::vector<Watcher> targets;
			{
				// Reaping and forgetting happen together under the lock, so
				// kill_team never sees a pid that may already belong to
				// someone else.
				std::lock_guard<std::mutex> guard(fLock);
				for (auto it = fTeams.begin(); it != fTeams.end();) {
					if (!it->second.announced) {
						++it;
						continue;
					}
					siginfo_t info{};
					int waited = it->second.pidfd >= 0
						? waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(it->second.pidfd),
							&info, WEXITED | WNOHANG)
						: waitid(P_PID, static_cast<id_t>(it->first), &info, WEXITED | WNOHANG);
					bool gone = (waited == 0 && info.si_pid != 0) || (waited < 0 && errno == ECHILD);
					if (!gone) {
						++it;
						continue;
					}
					if (it->second.followed)
						epoll_ctl(fEpollFd, EPOLL_CTL_DEL, it->second.pidfd, nullptr);
					else
						fPolledTeams -= 1;
					if (it->second.pidfd >= 0)
						close(it->second.pidfd);
					ended.emplace_back(it->first, std::move(it->second.ref));
					it = fTeams.erase(it);
				}
				if (!ended.empty())
					targets = WatchersFor(B_REQUEST_QUIT);
			}
			for (const auto& [pid, ref] : ended)
				Notify(targets, B_SOME_APP_QUIT, ref, pid);
		}
	}

	std::mutex fLock;
	std::map<pid_t, Team> fTeams;
	std::vector<Watcher> fWatchers;
	std::thread fThread;
	bool fStopping = false;
	int fWakeFd;
	int fEpollFd;
	// Teams that the epoll set does not follow, so the follower polls.
	int fPolledTeams = 0;
	std::string fOpener = "xdg-open";
	BPrivate::AppInfoProvider fAppInfoProvider = nullptr;
};

// Starts an executable found at a path (links followed) and hands the new
// team to the registry.
status_t LaunchExecutable(const std::string& path, const std::vector<std::string>& arguments,
	team_id* team)
{
	if (path.empty())
		return B_ENTRY_NOT_FOUND;
	char* resolvedPath = realpath(path.c_str(), nullptr);
	if (resolvedPath == nullptr)
		return errno == ENOENT || errno == ENOTDIR ? B_ENTRY_NOT_FOUND : SpawnError(errno);
	std::string resolved(resolvedPath);
	free(resolvedPath);

	struct stat info;
	if (stat(resolved.c_str(), &info) != 0)
		return B_ENTRY_NOT_FOUND;
	if (!S_ISREG(info.st_mode) || access(resolved.c_str(), X_OK) != 0)
		return B_LAUNCH_FAILED_EXECUTABLE;

	entry_ref ref;
	if (get_ref_for_path(resolved.c_str(), &ref) != B_OK)
		return B_ENTRY_NOT_FOUND;

	std::vector<std::string> argv;
	argv.reserve(arguments.size() + 1);
	argv.push_back(path);
	argv.insert(argv.end(), arguments.begin(), arguments.end());

	pid_t pid = -1;
	status_t status = Spawn(resolved, argv, &pid);
	if (status != B_OK)
		return status;
	TeamRegistry::Get().Add(pid, ref);
	if (team != nullptr)
		*team = static_cast<team_id>(pid);
	return B_OK;
}

status_t CollectArguments(int argc, const char* const* args, std::vector<std::string>* out)
{
	if (argc < 0 || (argc > 0 && args == nullptr))
		return B_BAD_VALUE;
	for (int i = 0; i < argc; i++) {
		if (args[i] == nullptr)
			return B_BAD_VALUE;
		out->emplace_back(args[i]);
	}
	return B_OK;
}

status_t LaunchOpener(const std::string& document, team_id* team)
{
	std::string opener = FindInPath(TeamRegistry::Get().Opener());
	if (opener.empty())
		return B_LAUNCH_FAILED_APP_NOT_FOUND;
	return LaunchExecutable(opener, {document}, team);
}

// ---- the preferred application of a MIME type ----------------------------

// Runs `xdg-mime query default <type>` and returns the desktop entry id it
// names, giving up after a while so that a hung helper cannot hang us.
std::string QueryDefaultApplication(const std::string& mimeType)
{
	std::string xdgMime = FindInPath("xdg-mime");
	if (xdgMime.empty())
		return {};
	int pipeFds[2];
	if (pipe2(pipeFds, O_CLOEXEC) != 0)
		return {};
	pid_t pid = -1;
	status_t status = Spawn(xdgMime, {xdgMime, "query", "default", mimeType}, &pid, pipeFds[1]);
	close(pipeFds[1]);
	if (status != B_OK) {
		close(pipeFds[0]);
		return {};
	}

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
		pollfd fd{pipeFds[0], POLLIN, 0};
		int ready = poll(&fd, 1, static_cast<int>(left.count()));
		if (ready < 0 && errno == EINTR)
			continue;
		if (ready <= 0) {
			timedOut = ready == 0;
			break;
		}
		char buffer[4096];
		ssize_t got = read(pipeFds[0], buffer, sizeof(buffer));
		if (got < 0 && errno == EINTR)
			continue;
		if (got <= 0)
			break;
		if (output.size() < kMimeQueryOutputLimit)
			output.append(buffer, static_cast<size_t>(got));
	}
	close(pipeFds[0]);
	// The child is ours and unreaped, so its pid cannot name anyone else.
	if (timedOut)
		kill(pid, SIGKILL);
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

// The raw value of Exec in the [Desktop Entry] group, string escapes undone.
bool ReadExecLine(const std::string& path, std::string* exec)
{
	std::ifstream file(path);
	if (!file)
		return false;
	std::string line;
	bool inEntry = false;
	while (std::getline(file, line)) {
		if (!line.empty() && line.back() == '\r')
			line.pop_back();
		if (line.empty() || line[0] == '#')
			continue;
		if (line[0] == '[') {
			inEntry = line == "[Desktop Entry]";
			continue;
		}
		if (!inEntry)
			continue;
		size_t equals = line.find('=');
		if (equals == std::string::npos)
			continue;
		std::string key = line.substr(0, equals);
		while (!key.empty() && (key.back() == ' ' || key.back() == '\t'))
			key.pop_back();
		if (key != "Exec")
			continue;
		std::string value = line.substr(equals + 1);
		size_t start = value.find_first_not_of(" \t");
		value = start == std::string::npos ? std::string() : value.substr(start);
		std::string unescaped;
		for (size_t i = 0; i < value.size(); i++) {
			if (value[i] != '\\' || i + 1 == value.size()) {
				unescaped += value[i];
				continue;
			}
			char next = value[++i];
			switch (next) {
				case 's': unescaped += ' '; break;
				case 'n': unescaped += '\n'; break;
				case 't': unescaped += '\t'; break;
				case 'r': unescaped += '\r'; break;
				case '\\': unescaped += '\\'; break;
				// Left for the Exec quoting rules below.
				default: unescaped += '\\'; unescaped += next; break;
			}
		}
		*exec = unescaped;
		return true;
	}
	return false;
}

struct ExecArgument {
	std::string text;
	bool quoted;
};

// Splits an Exec value into arguments: blanks separate, double quotes group,
// and inside quotes a backslash escapes ", `, $ and itself.
bool SplitExec(const std::string& exec, std::vector<ExecArgument>* out)
{
	std::string current;
	bool inQuotes = false;
	bool inArgument = false;
	bool quoted = false;
	for (size_t i = 0; i < exec.size(); i++) {
		char c = exec[i];
		if (inQuotes) {
			if (c == '"') {
				inQuotes = false;
			} else if (c == '\\' && i + 1 < exec.size()
				&& std::strchr("\"`$\\", exec[i + 1]) != nullptr) {
				current += exec[++i];
			} else {
				current += c;
			}
		} else if (c == ' ' || c == '\t' || c == '\n') {
			if (inArgument)
				out->push_back(ExecArgument{current, quoted});
			current.clear();
			inArgument = false;
			quoted = false;
		} else if (c == '"') {
			inQuotes = true;
			inArgument = true;
			quoted = true;
		} else {
			current += c;
			inArgument = true;
		}
	}
	if (inQuotes)
		return false;
	if (inArgument)
		out->push_back(ExecArgument{current, quoted});
	return !out->empty();
}

// Expands the field codes for one start of the program: %f/%u take `single`
// (when there is one), %F/%U take every file, %% is a percent sign, other
// codes are dropped.
std::vector<std::string> ExpandExec(const std::vector<ExecArgument>& exec,
	const std::vector<std::string>& files, const std::string* single)
{
	std::vector<std::string> argv;
	for (const ExecArgument& argument : exec) {
		if (argument.quoted) {
			// Field codes are not expanded inside quotes.
			argv.push_back(argument.text);
			continue;
		}
		if (argument.text == "%F" || argument.text == "%U") {
			argv.insert(argv.end(), files.begin(), files.end());
			continue;
		}
		std::string expanded;
		bool onlyCodes = true;
		for (size_t i = 0; i < argument.text.size(); i++) {
			char c = argument.text[i];
			if (c != '%' || i + 1 == argument.text.size()) {
				expanded += c;
				onlyCodes = false;
				continue;
			}
			char code = argument.text[++i];
			if (code == '%') {
				expanded += '%';
				onlyCodes = false;
			} else if ((code == 'f' || code == 'u') && single != nullptr) {
				expanded += *single;
				onlyCodes = false;
			}
		}
		if (!onlyCodes)
			argv.push_back(expanded);
	}
	return argv;
}

status_t LaunchDesktopEntry(const std::string& desktopFile, const std::vector<std::string>& files,
	team_id* team)
{
	std::string exec;
	std::vector<ExecArgument> parsed;
	if (!ReadExecLine(desktopFile, &exec) || !SplitExec(exec, &parsed))
		return B_BAD_DATA;

	bool takesList = false;
	bool takesOne = false;
	for (const ExecArgument& argument : parsed) {
		if (argument.quoted)
			continue;
		if (argument.text == "%F" || argument.text == "%U")
			takesList = true;
		else if (argument.text.find("%f") != std::string::npos
			|| argument.text.find("%u") != std::string::npos)
			takesOne = true;
	}

	// A program that takes one file at a time is started once per file.
	std::vector<std::vector<std::string>> starts;
	if (takesOne && !takesList && files.size() > 1) {
		for (const std::string& file : files)
			starts.push_back(ExpandExec(parsed, files, &file));
	} else {
		starts.push_back(ExpandExec(parsed, files, files.empty() ? nullptr : &files.front()));
	}

	status_t result = B_LAUNCH_FAILED_APP_NOT_FOUND;
	bool started = false;
	for (const std::vector<std::string>& argv : starts) {
		if (argv.empty())
			continue;
		std::string program = FindInPath(argv.front());
		if (program.empty())
			continue;
		team_id launched = -1;
		status_t status = LaunchExecutable(
			program, std::vector<std::string>(argv.begin() + 1, argv.end()), &launched);
		if (status != B_OK) {
			result = status;
			continue;
		}
		if (!started && team != nullptr)
			*team = launched;
		started = true;
	}
	return started ? B_OK : result;
}

} // namespace

// ---- BRoster -------------------------------------------------------------

BRoster::BRoster() = default;
BRoster::~BRoster() = default;

status_t BRoster::Launch(const entry_ref* ref, int argc, const char* const* args,
	team_id* team) const
{
	if (ref == nullptr)
		return B_BAD_VALUE;
	std::vector<std::string> arguments;
	if (status_t status = CollectArguments(argc, args, &arguments); status != B_OK)
		return status;
	return LaunchExecutable(ref->Path(), arguments, team);
}

status_t BRoster::Launch(const entry_ref* ref, const BMessage*, team_id* team) const
{
	if (ref == nullptr)
		return B_BAD_VALUE;
	std::string path = ref->Path();
	struct stat info;
	if (path.empty() || lstat(path.c_str(), &info) != 0)
		return B_ENTRY_NOT_FOUND;
	return LaunchOpener(path, team);
}

status_t BRoster::Launch(const char* mimeType, int argc, const char* const* args,
	team_id* team) const
{
	if (mimeType == nullptr || mimeType[0] == '\0')
		return B_BAD_VALUE;
	std::vector<std::string> arguments;
	if (status_t status = CollectArguments(argc, args, &arguments); status != B_OK)
		return status;

	std::string desktopFile = FindDesktopFile(QueryDefaultApplication(mimeType));
	if (!desktopFile.empty() && LaunchDesktopEntry(desktopFile, arguments, team) == B_OK)
		return B_OK;
	// No usable preferred application: let the desktop's opener decide.
	if (arguments.empty())
		return B_LAUNCH_FAILED_APP_NOT_FOUND;
	return LaunchOpener(arguments.front(), team);
}

status_t BRoster::StartWatching(BMessenger target, uint32 eventMask) const
{
	return TeamRegistry::Get().StartWatching(target, eventMask);
}

status_t BRoster::StopWatching(BMessenger target) const
{
	return TeamRegistry::Get().StopWatching(target);
}

status_t BRoster::GetAppInfo(const char* signature, app_info* info) const
{
	if (signature == nullptr || info == nullptr)
		return B_BAD_VALUE;
	BPrivate::AppInfoProvider provider = TeamRegistry::Get().AppInfoProvider();
	if (provider == nullptr)
		return B_ERROR;
	return provider(signature, info);
}

namespace {
const BRoster gRoster;
} // namespace

const BRoster* be_roster = &gRoster;

status_t kill_team(team_id team)
{
	if (team <= 0)
		return B_BAD_TEAM_ID;
	return TeamRegistry::Get().Kill(team);
}

void BPrivate::SetDesktopOpener(const char* path)
{
	TeamRegistry::Get().SetOpener(path);
}

void BPrivate::SetAppInfoProvider(AppInfoProvider provider)
{
	TeamRegistry::Get().SetAppInfoProvider(provider);
}
