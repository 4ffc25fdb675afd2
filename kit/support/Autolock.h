// BAutolock: a looper's lock held for a scope. It locks in its constructor
// and unlocks in its destructor, only if the lock was taken; the lock is
// recursive, so a caller that already holds it pays one count. A null
// looper is simply not locked (a view outside a window has nothing to
// guard). The kit has no BLocker: loopers are its only locks.
#pragma once

#include <Looper.h>

class BAutolock {
public:
	explicit BAutolock(BLooper* looper) : fLooper(looper != nullptr && looper->Lock() ? looper : nullptr)
	{
	}
	~BAutolock()
	{
		if (fLooper != nullptr)
			fLooper->Unlock();
	}
	BAutolock(const BAutolock&) = delete;
	BAutolock& operator=(const BAutolock&) = delete;

	bool IsLocked() const { return fLooper != nullptr; }

private:
	BLooper* fLooper;
};
