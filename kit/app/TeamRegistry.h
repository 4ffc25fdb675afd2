// Kit-private: the teams the roster started, followed to their end. One
// thread follows every team through its pidfd and reads what it writes to
// its standard error, all in one epoll set: a team started adds its pidfd to
// the set from the launching thread, so the follower need not be woken for
// it, which keeps the step from one encoder to the next as short as the
// kernel allows.
//
// A team's quit notice (B_SOME_APP_QUIT) carries "be:ref" and "be:team",
// and how the team ended: "be:exit_status" (int32) when it exited,
// "be:signal" (int32) when a signal ended it, "be:killed" (bool) when
// kill_team was sent to it, and "be:stderr" (raw data), the last bytes it
// wrote to its standard error (at most kErrorTailLimit).
#pragma once

#include <AppDefs.h>
#include <Messenger.h>
#include <Roster.h>

#include "UniqueFd.h"

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <csignal>

#include <sys/types.h>

namespace BPrivate {

class TeamRegistry {
public:
	// The tail of a team's standard error that its quit notice keeps.
	static constexpr size_t kErrorTailLimit = 4096;
	// How long a killed team's group has to end after SIGTERM before SIGKILL.
	static constexpr std::chrono::milliseconds kKillGrace{2000};

	static TeamRegistry& Get();
	~TeamRegistry();
	TeamRegistry(const TeamRegistry&) = delete;
	TeamRegistry& operator=(const TeamRegistry&) = delete;

	// Takes over a team just started, and the read end of its standard error
	// pipe (or none). Announces its launch, then follows it.
	void Add(pid_t pid, entry_ref ref, UniqueFd errorFd);
	// SIGTERM to the team's process group, SIGKILL to it after the grace
	// period. B_BAD_TEAM_ID for a team that is unknown or has been reaped.
	status_t Kill(team_id team);

	status_t StartWatching(const BMessenger& target, uint32 mask);
	status_t StopWatching(const BMessenger& target);

	void SetOpener(const char* path);
	std::string Opener();
	void SetAppInfoProvider(AppInfoProvider provider);
	AppInfoProvider CurrentAppInfoProvider();

private:
	struct Watcher {
		BMessenger target;
		uint32 mask;
	};
	struct Team {
		UniqueFd pidfd;
		UniqueFd errorFd;
		entry_ref ref;
		std::string errorTail;
		// Its launch notice is out; only then may its quit notice follow.
		bool announced = false;
		// In the follower's epoll set; otherwise the follower polls for it.
		bool followed = false;
		bool killed = false;
	};
	// A group that got SIGTERM and gets SIGKILL at the deadline, whether or
	// not its leader has ended by then (a child that ignores SIGTERM).
	struct PendingKill {
		pid_t group;
		std::chrono::steady_clock::time_point deadline;
	};
	struct Ended {
		pid_t pid;
		entry_ref ref;
		siginfo_t info;
		bool killed;
		std::string errorTail;
	};

	TeamRegistry();
	void Wake();
	std::vector<Watcher> WatchersFor(uint32 mask) const;
	void Notify(const std::vector<Watcher>& targets, const BMessage& notice);
	void Follow();
	// Reads what is waiting on the team's standard error; everything up to
	// end of file (or a bound) when `drain`. Under fLock.
	void ReadErrors(Team& team, bool drain);
	// Sends SIGKILL to the groups whose grace has passed; the time until the
	// next deadline, or -1 for none. Under fLock.
	int KillOverdue();
	void Forget(Team& team);

	std::mutex fLock;
	std::map<pid_t, Team> fTeams;
	std::map<int, pid_t> fByErrorFd;
	std::vector<PendingKill> fPendingKills;
	std::vector<Watcher> fWatchers;
	std::thread fThread;
	bool fStopping = false;
	const UniqueFd fWakeFd;
	const UniqueFd fEpollFd;
	// Teams that the epoll set does not follow, so the follower polls.
	int fPolledTeams = 0;
	std::string fOpener = "xdg-open";
	AppInfoProvider fAppInfoProvider = nullptr;
};

} // namespace BPrivate
