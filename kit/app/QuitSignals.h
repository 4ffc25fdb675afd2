// Kit-private: SIGTERM, SIGHUP and SIGINT as a quit requested from outside
// (a logout, a closed terminal, Ctrl-C). The application blocks them from
// its constructor on, so that every thread started later has them blocked,
// and a thread of its own reads them from a signalfd and posts
// B_QUIT_REQUESTED to the application: the windows are asked, the settings
// stored, as when the user quits. A second signal while the first request is
// still being answered ends the process at once, as the signal would have.
#pragma once

#include "UniqueFd.h"

#include <csignal>
#include <thread>

namespace BPrivate {

class QuitSignals {
public:
	// Blocks the signals in the calling thread.
	QuitSignals();
	// Stops the watcher and gives the constructing thread its mask back.
	~QuitSignals();
	QuitSignals(const QuitSignals&) = delete;
	QuitSignals& operator=(const QuitSignals&) = delete;

	// Starts the watching thread (named "quit signals"); once only.
	void Start();

private:
	void Watch();

	sigset_t fSignals;
	sigset_t fOldMask;
	pthread_t fOwner;
	UniqueFd fSignalFd;
	UniqueFd fStopFd;
	std::thread fThread;
};

} // namespace BPrivate
