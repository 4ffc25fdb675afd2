#include "SignalCleanup.h"
#include "GogoEncoder.h"

#include <atomic>
#include <cstring>

#include <unistd.h>

namespace gogo {

namespace {

// The temporary files being written: a directory descriptor and a name in
// it, both prepared before the file is created, read by the signal handler.
struct TempSlot {
	std::atomic<int> directory{-1};
	std::atomic<const char*> name{nullptr};
};
constexpr int kTempSlots = 16;
TempSlot sTempSlots[kTempSlots];

extern "C" void CleanupAndExit(int signalNumber)
{
	for (TempSlot& slot : sTempSlots) {
		const char* name = slot.name.load();
		if (name != nullptr)
			unlinkat(slot.directory.load(), name, 0);
	}
	_exit(128 + signalNumber);
}

} // namespace

int RegisterTemp(int directory, const char* name)
{
	for (int i = 0; i < kTempSlots; i++) {
		const char* expected = nullptr;
		// Claim the slot with a placeholder first, so that the handler never
		// pairs a name with another slot's directory.
		static const char kClaimed[] = "";
		if (sTempSlots[i].name.compare_exchange_strong(expected, kClaimed)) {
			sTempSlots[i].directory.store(directory);
			sTempSlots[i].name.store(name);
			return i;
		}
	}
	return -1; // too many at once: no cleanup on a signal for this one
}

void UnregisterTemp(int slot)
{
	if (slot < 0)
		return;
	sTempSlots[slot].name.store(nullptr);
	sTempSlots[slot].directory.store(-1);
}

void InstallSignalCleanup()
{
	struct sigaction action;
	std::memset(&action, 0, sizeof(action));
	action.sa_handler = CleanupAndExit;
	sigfillset(&action.sa_mask);
	sigaction(SIGTERM, &action, nullptr);
	sigaction(SIGINT, &action, nullptr);
	sigaction(SIGHUP, &action, nullptr);

	struct sigaction ignore;
	std::memset(&ignore, 0, sizeof(ignore));
	ignore.sa_handler = SIG_IGN;
	sigemptyset(&ignore.sa_mask);
	sigaction(SIGPIPE, &ignore, nullptr);
}

} // namespace gogo
