// Removing the temporary file of an encode in progress when a signal ends
// the process: the file is registered (directory descriptor and name, both
// made before the file) while it has a temporary name, and the handler that
// InstallSignalCleanup() installs unlinks what is registered.
#pragma once

#include <csignal>

namespace gogo {

// Blocks the cleanup signals for the scope, so that registering a temporary
// file and creating it (or renaming and unregistering it) are atomic as far
// as the handler is concerned.
class SignalBlock {
public:
	SignalBlock()
	{
		sigset_t set;
		sigemptyset(&set);
		sigaddset(&set, SIGTERM);
		sigaddset(&set, SIGINT);
		sigaddset(&set, SIGHUP);
		fBlocked = pthread_sigmask(SIG_BLOCK, &set, &fPrevious) == 0;
	}
	~SignalBlock()
	{
		if (fBlocked)
			pthread_sigmask(SIG_SETMASK, &fPrevious, nullptr);
	}
	SignalBlock(const SignalBlock&) = delete;
	SignalBlock& operator=(const SignalBlock&) = delete;

private:
	sigset_t fPrevious;
	bool fBlocked = false;
};

// Registers a temporary name in a directory; returns the slot, or -1 when
// too many are registered at once (no cleanup on a signal for that one).
// The name must stay valid until UnregisterTemp(slot). Block the signals
// around registering and creating (or renaming and unregistering).
int RegisterTemp(int directory, const char* name);
void UnregisterTemp(int slot);

} // namespace gogo
