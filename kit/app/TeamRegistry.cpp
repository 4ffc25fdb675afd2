#include "TeamRegistry.h"

#include <algorithm>
#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef P_PIDFD
#define P_PIDFD 3
#endif

namespace BPrivate {

namespace {

// What an epoll event is about: the upper half of its data says the kind,
// the lower half holds the descriptor.
enum : uint64_t {
	kWakeEvent = 0,
	kTeamEndEvent = 1,
	kErrorEvent = 2,
};

uint64_t EventData(uint64_t kind, int fd)
{
	return (kind << 32) | static_cast<uint32_t>(fd);
}

// How much one wake-up reads of one team's standard error before the others
// get their turn; a team that writes without pause cannot hold the follower.
constexpr size_t kErrorReadPerWake = 256 * 1024;
// What is read after a team's end, from children that still write to it.
constexpr size_t kErrorDrainLimit = 1024 * 1024;

int SendSignal(int pidfd, pid_t pid, int signal)
{
	if (pidfd >= 0)
		return static_cast<int>(syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0));
	return kill(pid, signal);
}

} // namespace

TeamRegistry& TeamRegistry::Get()
{
	static TeamRegistry registry;
	return registry;
}

TeamRegistry::TeamRegistry()
	: fWakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
	  fEpollFd(epoll_create1(EPOLL_CLOEXEC))
{
	if (fEpollFd.IsValid() && fWakeFd.IsValid()) {
		epoll_event event{};
		event.events = EPOLLIN;
		event.data.u64 = EventData(kWakeEvent, fWakeFd.Get());
		epoll_ctl(fEpollFd.Get(), EPOLL_CTL_ADD, fWakeFd.Get(), &event);
	}
}

TeamRegistry::~TeamRegistry()
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
	// A team told to end must not outlive us merely because we end first.
	for (const PendingKill& pending : fPendingKills) {
		kill(-pending.group, SIGKILL);
		auto team = fTeams.find(pending.group);
		if (team != fTeams.end())
			SendSignal(team->second.pidfd.Get(), pending.group, SIGKILL);
	}
}

void TeamRegistry::Add(pid_t pid, entry_ref ref, UniqueFd errorPipe)
{
	// Works on a zombie too, and nothing else reaps our children, so the
	// pid cannot have been reused between the spawn and this call.
	const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
	std::vector<Watcher> targets;
	{
		// Known from now on (kill_team finds it), but not followed until
		// its launch is announced: its quit notice must not come first.
		std::lock_guard<std::mutex> guard(fLock);
		Team& team = fTeams[pid];
		team.pidfd.Reset(pidfd);
		team.ref = ref;
		if (errorPipe.IsValid()) {
			const int errorFd = errorPipe.Get();
			fcntl(errorFd, F_SETFL, fcntl(errorFd, F_GETFL) | O_NONBLOCK);
			team.errorFd = std::move(errorPipe);
			fByErrorFd[errorFd] = pid;
			if (fEpollFd.IsValid()) {
				epoll_event event{};
				event.events = EPOLLIN;
				event.data.u64 = EventData(kErrorEvent, errorFd);
				epoll_ctl(fEpollFd.Get(), EPOLL_CTL_ADD, errorFd, &event);
			}
		}
		if (!fThread.joinable() && !fStopping)
			fThread = std::thread([this] { Follow(); });
		targets = WatchersFor(B_REQUEST_LAUNCHED);
	}
	if (!targets.empty()) {
		BMessage notice(B_SOME_APP_LAUNCHED);
		notice.AddRef("be:ref", &ref);
		notice.AddInt32("be:team", static_cast<int32>(pid));
		Notify(targets, notice);
	}

	bool wake = false;
	{
		std::lock_guard<std::mutex> guard(fLock);
		auto found = fTeams.find(pid);
		if (found == fTeams.end())
			return;
		Team& team = found->second;
		team.announced = true;
		if (pidfd >= 0 && fEpollFd.IsValid()) {
			// A team that has ended already makes its pidfd readable at
			// once, so nothing is missed in between.
			epoll_event event{};
			event.events = EPOLLIN;
			event.data.u64 = EventData(kTeamEndEvent, pidfd);
			team.followed = epoll_ctl(fEpollFd.Get(), EPOLL_CTL_ADD, pidfd, &event) == 0;
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

status_t TeamRegistry::Kill(team_id pid)
{
	{
		std::lock_guard<std::mutex> guard(fLock);
		auto found = fTeams.find(pid);
		if (found == fTeams.end())
			return B_BAD_TEAM_ID;
		Team& team = found->second;
		// The team leads its own group (the roster started it so), and its
		// pid, not reaped yet (that happens under this lock), still names
		// that group. The leader is also told directly, in case it has left
		// the group.
		const int toGroup = kill(-pid, SIGTERM);
		const int groupError = errno;
		const int toLeader = SendSignal(team.pidfd.Get(), pid, SIGTERM);
		if (toGroup != 0 && toLeader != 0)
			return groupError == ESRCH && errno == ESRCH ? B_BAD_TEAM_ID : B_NOT_ALLOWED;
		team.killed = true;
		fPendingKills.push_back(PendingKill{pid, std::chrono::steady_clock::now() + kKillGrace});
	}
	// The follower learns of the new deadline.
	Wake();
	return B_OK;
}

int TeamRegistry::KillOverdue()
{
	const auto now = std::chrono::steady_clock::now();
	int nextMs = -1;
	for (auto it = fPendingKills.begin(); it != fPendingKills.end();) {
		if (it->deadline <= now) {
			// A group whose members have all gone answers ESRCH. Its id
			// cannot have been taken by a new group within the grace
			// period unless the pids wrapped around in two seconds.
			kill(-it->group, SIGKILL);
			auto team = fTeams.find(it->group);
			if (team != fTeams.end())
				SendSignal(team->second.pidfd.Get(), it->group, SIGKILL);
			it = fPendingKills.erase(it);
			continue;
		}
		const auto left = std::chrono::ceil<std::chrono::milliseconds>(it->deadline - now).count();
		nextMs = nextMs < 0 ? static_cast<int>(left) : std::min(nextMs, static_cast<int>(left));
		++it;
	}
	return nextMs;
}

status_t TeamRegistry::StartWatching(const BMessenger& target, uint32 mask)
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

status_t TeamRegistry::StopWatching(const BMessenger& target)
{
	std::lock_guard<std::mutex> guard(fLock);
	auto found = std::find_if(fWatchers.begin(), fWatchers.end(),
		[&](const Watcher& watcher) { return watcher.target == target; });
	if (found == fWatchers.end())
		return B_BAD_VALUE;
	fWatchers.erase(found);
	return B_OK;
}

void TeamRegistry::SetOpener(const char* path)
{
	std::lock_guard<std::mutex> guard(fLock);
	fOpener = path != nullptr && path[0] != '\0' ? path : "xdg-open";
}

std::string TeamRegistry::Opener()
{
	std::lock_guard<std::mutex> guard(fLock);
	return fOpener;
}

void TeamRegistry::SetAppInfoProvider(AppInfoProvider provider)
{
	std::lock_guard<std::mutex> guard(fLock);
	fAppInfoProvider = provider;
}

AppInfoProvider TeamRegistry::CurrentAppInfoProvider()
{
	std::lock_guard<std::mutex> guard(fLock);
	return fAppInfoProvider;
}

void TeamRegistry::Wake()
{
	if (!fWakeFd.IsValid())
		return;
	uint64_t one = 1;
	ssize_t written = write(fWakeFd.Get(), &one, sizeof(one));
	(void)written; // a full counter already means "wake up"
}

std::vector<TeamRegistry::Watcher> TeamRegistry::WatchersFor(uint32 mask) const
{
	std::vector<Watcher> targets;
	for (const Watcher& watcher : fWatchers) {
		if ((watcher.mask & mask) != 0)
			targets.push_back(watcher);
	}
	return targets;
}

void TeamRegistry::Notify(const std::vector<Watcher>& targets, const BMessage& notice)
{
	for (const Watcher& watcher : targets) {
		if (watcher.target.SendMessage(&notice) != B_BAD_HANDLER)
			continue;
		// A watcher that has gone is dropped before the next one hears of
		// this, so whoever hears of it can count on that.
		std::lock_guard<std::mutex> guard(fLock);
		std::erase_if(fWatchers, [&](const Watcher& other) { return other.target == watcher.target; });
	}
}

void TeamRegistry::ReadErrors(Team& team, bool drain)
{
	if (!team.errorFd.IsValid())
		return;
	const size_t limit = drain ? kErrorDrainLimit : kErrorReadPerWake;
	char buffer[16 * 1024];
	size_t total = 0;
	bool ended = false;
	while (total < limit) {
		const ssize_t got = read(team.errorFd.Get(), buffer, sizeof(buffer));
		if (got < 0 && errno == EINTR)
			continue;
		if (got <= 0) {
			ended = got == 0;
			break;
		}
		total += static_cast<size_t>(got);
		team.errorTail.append(buffer, static_cast<size_t>(got));
		if (team.errorTail.size() > kErrorTailLimit)
			team.errorTail.erase(0, team.errorTail.size() - kErrorTailLimit);
	}
	if (ended || drain) {
		// End of file: everyone holding the pipe has closed it. After the
		// team's end, children that still hold it are not waited for.
		if (fEpollFd.IsValid())
			epoll_ctl(fEpollFd.Get(), EPOLL_CTL_DEL, team.errorFd.Get(), nullptr);
		fByErrorFd.erase(team.errorFd.Get());
		team.errorFd.Reset();
	}
}

void TeamRegistry::Forget(Team& team)
{
	ReadErrors(team, true);
	if (team.followed)
		epoll_ctl(fEpollFd.Get(), EPOLL_CTL_DEL, team.pidfd.Get(), nullptr);
	else
		fPolledTeams -= 1;
	team.pidfd.Reset();
}

// The follower thread.
void TeamRegistry::Follow()
{
	int timeoutMs = -1;
	for (;;) {
		bool polling = false;
		{
			std::lock_guard<std::mutex> guard(fLock);
			if (fStopping)
				return;
			polling = fPolledTeams > 0 || !fEpollFd.IsValid();
			timeoutMs = KillOverdue();
		}
		if (polling)
			timeoutMs = timeoutMs < 0 ? 100 : std::min(timeoutMs, 100);

		std::vector<int> errorFds;
		bool woken = true;
		if (fEpollFd.IsValid()) {
			epoll_event events[16];
			const int result = epoll_wait(fEpollFd.Get(), events, 16, timeoutMs);
			if (result < 0 && errno != EINTR) {
				struct timespec pause = {0, 10 * 1000 * 1000};
				nanosleep(&pause, nullptr);
			}
			woken = false;
			for (int i = 0; i < std::max(result, 0); i++) {
				const uint64_t kind = events[i].data.u64 >> 32;
				const int fd = static_cast<int>(events[i].data.u64 & 0xffffffffu);
				if (kind == kWakeEvent)
					woken = true;
				else if (kind == kErrorEvent)
					errorFds.push_back(fd);
			}
		} else {
			struct timespec pause = {0, 100 * 1000 * 1000};
			nanosleep(&pause, nullptr);
		}
		uint64_t count;
		while (woken && fWakeFd.IsValid() && read(fWakeFd.Get(), &count, sizeof(count)) > 0) {
		}

		std::vector<Ended> ended;
		std::vector<Watcher> targets;
		{
			// Reaping and forgetting happen together under the lock, so
			// kill_team never sees a pid that may already belong to
			// someone else.
			std::lock_guard<std::mutex> guard(fLock);
			for (int fd : errorFds) {
				auto owner = fByErrorFd.find(fd);
				if (owner == fByErrorFd.end())
					continue;
				auto team = fTeams.find(owner->second);
				if (team != fTeams.end())
					ReadErrors(team->second, false);
			}
			for (auto it = fTeams.begin(); it != fTeams.end();) {
				Team& team = it->second;
				if (!team.announced) {
					++it;
					continue;
				}
				siginfo_t info{};
				const int waited = team.pidfd.IsValid()
					? waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(team.pidfd.Get()), &info,
						WEXITED | WNOHANG)
					: waitid(P_PID, static_cast<id_t>(it->first), &info, WEXITED | WNOHANG);
				const bool gone = (waited == 0 && info.si_pid != 0) || (waited < 0 && errno == ECHILD);
				if (!gone) {
					++it;
					continue;
				}
				if (waited != 0)
					info = siginfo_t{};
				Forget(team);
				ended.push_back(Ended{it->first, std::move(team.ref), info, team.killed,
					std::move(team.errorTail)});
				it = fTeams.erase(it);
			}
			if (!ended.empty())
				targets = WatchersFor(B_REQUEST_QUIT);
		}
		for (const Ended& end : ended) {
			if (targets.empty())
				break;
			BMessage notice(B_SOME_APP_QUIT);
			notice.AddRef("be:ref", &end.ref);
			notice.AddInt32("be:team", static_cast<int32>(end.pid));
			if (end.info.si_code == CLD_EXITED)
				notice.AddInt32("be:exit_status", end.info.si_status);
			else if (end.info.si_code == CLD_KILLED || end.info.si_code == CLD_DUMPED)
				notice.AddInt32("be:signal", end.info.si_status);
			notice.AddBool("be:killed", end.killed);
			notice.AddData("be:stderr", B_RAW_TYPE, end.errorTail.data(),
				static_cast<ssize_t>(end.errorTail.size()));
			Notify(targets, notice);
		}
	}
}

} // namespace BPrivate
