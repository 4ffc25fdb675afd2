#include "QuitSignals.h"

#include <AppDefs.h>
#include <Application.h>

#include <cerrno>

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace BPrivate {

QuitSignals::QuitSignals()
	: fOwner(pthread_self())
{
	sigemptyset(&fSignals);
	sigaddset(&fSignals, SIGTERM);
	sigaddset(&fSignals, SIGHUP);
	sigaddset(&fSignals, SIGINT);
	pthread_sigmask(SIG_BLOCK, &fSignals, &fOldMask);
}

QuitSignals::~QuitSignals()
{
	if (fThread.joinable()) {
		uint64_t one = 1;
		ssize_t written = write(fStopFd.Get(), &one, sizeof(one));
		(void)written;
		fThread.join();
	}
	fSignalFd.Reset();
	fStopFd.Reset();
	// A signal that came after the watcher stopped is delivered now, as if
	// the application had never taken it.
	if (pthread_equal(fOwner, pthread_self()))
		pthread_sigmask(SIG_SETMASK, &fOldMask, nullptr);
}

void QuitSignals::Start()
{
	if (fThread.joinable())
		return;
	fSignalFd.Reset(signalfd(-1, &fSignals, SFD_CLOEXEC | SFD_NONBLOCK));
	fStopFd.Reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
	if (!fSignalFd.IsValid() || !fStopFd.IsValid())
		return; // the signals keep their default effect
	fThread = std::thread([this] { Watch(); });
}

void QuitSignals::Watch()
{
	pthread_setname_np(pthread_self(), "quit signals");
	bool requested = false;
	for (;;) {
		pollfd fds[2] = {{fSignalFd.Get(), POLLIN, 0}, {fStopFd.Get(), POLLIN, 0}};
		if (poll(fds, 2, -1) < 0) {
			if (errno == EINTR)
				continue;
			return;
		}
		if (fds[1].revents != 0)
			return;
		signalfd_siginfo info;
		while (read(fSignalFd.Get(), &info, sizeof(info)) == static_cast<ssize_t>(sizeof(info))) {
			if (requested)
				_exit(128 + static_cast<int>(info.ssi_signo));
			requested = true;
			be_app_messenger.SendMessage(B_QUIT_REQUESTED);
		}
	}
}

} // namespace BPrivate
