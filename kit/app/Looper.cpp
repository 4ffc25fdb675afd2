#include <Looper.h>

#include <AppDefs.h>
#include <Autolock.h>

#include <chrono>
#include <future>
#include <unordered_map>

#include <sys/syscall.h>
#include <unistd.h>

namespace {

thread_local BLooper* tCurrentLooper = nullptr;

// Every looper by token, so that a messenger finds out whether its looper
// still exists without touching it. Like the handler registry it is never
// destroyed: the roster's watcher may post to it while statics go away.
struct LooperRegistry {
	std::mutex lock;
	std::unordered_map<int32, BLooper*> loopers;
};

LooperRegistry& Loopers()
{
	static LooperRegistry& registry = *new LooperRegistry;
	return registry;
}

void Unregister(int32 token)
{
	LooperRegistry& registry = Loopers();
	std::lock_guard<std::mutex> guard(registry.lock);
	registry.loopers.erase(token);
}

} // namespace

thread_id find_thread(const char* name)
{
	if (name != nullptr)
		return B_NAME_NOT_FOUND;
	thread_local const thread_id tid = static_cast<thread_id>(syscall(SYS_gettid));
	return tid;
}

BLooper::BLooper(const char* name)
	: BHandler(name)
{
	fLooper = this;
	fHandlers.push_back(this);
	LooperRegistry& registry = Loopers();
	std::lock_guard<std::mutex> guard(registry.lock);
	registry.loopers.emplace(Token(), this);
}

BLooper::~BLooper()
{
	// A looper that was deleted or quit has been retired already. One that
	// ends otherwise (the application, left to the end of main without Quit)
	// is withdrawn here, which is the earliest its own code can do it.
	Withdraw();
	{
		std::unique_lock<std::mutex> threadGuard(fThreadLock);
		if (fThread.joinable()) {
			if (fThread.get_id() == std::this_thread::get_id()) {
				fThread.detach();
			} else {
				{
					std::lock_guard<std::mutex> queueGuard(fQueueLock);
					fQuitMode = QuitMode::Other;
				}
				fQueueCond.notify_all();
				fThread.join();
			}
		}
	}
	for (BHandler* handler : fHandlers) {
		if (handler != this)
			handler->fLooper = nullptr;
	}
	fHandlers.clear();
	// So that ~BHandler does not try to detach the looper from itself.
	fLooper = nullptr;
	if (tCurrentLooper == this)
		tCurrentLooper = nullptr;
}

void BLooper::operator delete(BLooper* looper, std::destroying_delete_t)
{
	looper->Retire();
	// The storage begins with the most derived object, not necessarily here.
	void* storage = dynamic_cast<void*>(looper);
	looper->~BLooper();
	::operator delete(storage);
}

void* BLooper::operator new(std::size_t size)
{
	return ::operator new(size);
}

void BLooper::operator delete(void* storage)
{
	::operator delete(storage);
}

void BLooper::Retire()
{
	AcquireLock(B_INFINITE_TIMEOUT);
	Withdraw();
	{
		std::lock_guard<std::mutex> threadGuard(fThreadLock);
		if (!fThread.joinable())
			return;
		if (fThread.get_id() == std::this_thread::get_id()) {
			// Deleted on its own thread: only the end of its loop may do
			// that (after Quit from a handler), and it lets the thread go
			// first; this keeps a thread from being left joinable.
			fThread.detach();
			return;
		}
	}
	{
		std::lock_guard<std::mutex> queueGuard(fQueueLock);
		if (fQuitMode == QuitMode::None)
			fQuitMode = QuitMode::Other;
	}
	fQueueCond.notify_all();
	// The thread finishes the message it handles, then sees the quit.
	ReleaseAllLocks();
	WaitForThread();
	// Held through the destructors, so a thread that found the looper a
	// moment ago through LockLooper is done with it before it goes.
	AcquireLock(B_INFINITE_TIMEOUT);
}

thread_id BLooper::Run()
{
	std::promise<thread_id> started;
	std::future<thread_id> startedId = started.get_future();
	{
		std::lock_guard<std::mutex> guard(fThreadLock);
		if (fThread.joinable() || fRunning.load())
			return B_ALREADY_RUNNING;
		fRunning.store(true);
		fThread = std::thread([this, promise = std::move(started)]() mutable {
			thread_id id = find_thread(nullptr);
			fThreadId.store(id);
			promise.set_value(id);
			Loop();
		});
	}
	return startedId.get();
}

void BLooper::Loop()
{
	tCurrentLooper = this;
	AcquireLock(B_INFINITE_TIMEOUT);
	ThreadStarted();
	QuitMode mode;
	{
		std::lock_guard<std::mutex> guard(fQueueLock);
		mode = fQuitMode;
	}
	if (mode != QuitMode::SelfDelete)
		Unlock();

	while (mode == QuitMode::None) {
		Envelope envelope;
		{
			std::unique_lock<std::mutex> guard(fQueueLock);
			fQueueCond.wait(guard, [this] { return !fQueue.empty() || fQuitMode != QuitMode::None; });
			if (fQuitMode != QuitMode::None) {
				mode = fQuitMode;
				break;
			}
			envelope = std::move(fQueue.front());
			fQueue.pop_front();
		}

		AcquireLock(B_INFINITE_TIMEOUT);
		{
			// Another thread may have quit the looper while this one waited
			// for the lock; the message is then discarded.
			std::lock_guard<std::mutex> guard(fQueueLock);
			mode = fQuitMode;
		}
		if (mode != QuitMode::None) {
			Unlock();
			break;
		}

		if (BHandler* handler = ResolveHandler(envelope)) {
			fCurrentMessage = &envelope.message;
			DispatchMessage(&envelope.message, handler);
			fCurrentMessage = nullptr;
		}

		{
			std::lock_guard<std::mutex> guard(fQueueLock);
			mode = fQuitMode;
		}
		// A looper that quits itself keeps its lock until it is gone, so no
		// other thread can get in between the last message and the delete.
		if (mode != QuitMode::SelfDelete)
			Unlock();
	}

	tCurrentLooper = nullptr;
	fRunning.store(false);
	if (mode == QuitMode::SelfDelete) {
		{
			std::lock_guard<std::mutex> guard(fThreadLock);
			if (fThread.joinable())
				fThread.detach();
		}
		delete this;
	}
}

BHandler* BLooper::ResolveHandler(const Envelope& envelope)
{
	if (envelope.handlerToken < 0) {
		// A quit request without a target is meant for the looper itself,
		// never for whichever view happens to be preferred.
		if (envelope.message.what == B_QUIT_REQUESTED || fPreferred == nullptr)
			return this;
		return fPreferred;
	}
	for (BHandler* handler : fHandlers) {
		if (handler->Token() == envelope.handlerToken)
			return handler;
	}
	// The handler has been removed or deleted since the message was posted.
	return nullptr;
}

void BLooper::Quit()
{
	if (IsRunning() && fThreadId.load() == find_thread(nullptr)) {
		Withdraw();
		{
			std::lock_guard<std::mutex> guard(fQueueLock);
			fQuitMode = QuitMode::SelfDelete;
		}
		fQueueCond.notify_all();
		return;
	}

	AcquireLock(B_INFINITE_TIMEOUT);
	{
		std::lock_guard<std::mutex> guard(fQueueLock);
		if (fQuitMode == QuitMode::SelfDelete) {
			// The looper is already on its way out on its own thread.
			ReleaseAllLocks();
			return;
		}
	}
	// Retired (withdrawn, its thread ended, the lock held) before any
	// destructor runs.
	delete this;
}

void BLooper::Withdraw()
{
	// First out of the looper registry, so that no new message can be queued;
	// then every token, so that no messenger thinks the looper or one of its
	// handlers is still there while their destructors run.
	// The handler table is the lock holder's; every caller holds the lock or
	// is the destructor.
	Unregister(Token());
	for (BHandler* handler : fHandlers)
		handler->RetireToken();
}

bool BLooper::QuitRequested()
{
	return true;
}

void BLooper::StopLoop()
{
	Withdraw();
	{
		std::lock_guard<std::mutex> guard(fQueueLock);
		if (fQuitMode == QuitMode::None)
			fQuitMode = QuitMode::Stop;
	}
	fQueueCond.notify_all();
}

void BLooper::WaitForThread()
{
	std::lock_guard<std::mutex> guard(fThreadLock);
	if (fThread.joinable() && fThread.get_id() != std::this_thread::get_id())
		fThread.join();
}

status_t BLooper::PostMessage(uint32 what)
{
	BMessage message(what);
	return PostMessage(&message);
}

status_t BLooper::PostMessage(const BMessage* message, BHandler* handler, BHandler*)
{
	if (message == nullptr)
		return B_BAD_VALUE;
	int32 token = -1;
	if (handler != nullptr) {
		if (handler->fLooper != this)
			return B_MISMATCHED_VALUES;
		token = handler->Token();
	}
	Enqueue(Envelope{*message, token});
	return B_OK;
}

void BLooper::Enqueue(Envelope envelope)
{
	{
		std::lock_guard<std::mutex> guard(fQueueLock);
		fQueue.push_back(std::move(envelope));
	}
	fQueueCond.notify_one();
}

status_t BLooper::PostToToken(int32 looperToken, int32 handlerToken, const BMessage& message)
{
	if (handlerToken >= 0 && handlerToken != looperToken && !BHandler::TokenExists(handlerToken))
		return B_BAD_HANDLER;
	LooperRegistry& registry = Loopers();
	// Held while enqueuing: the looper cannot be deleted in between.
	std::lock_guard<std::mutex> guard(registry.lock);
	auto found = registry.loopers.find(looperToken);
	if (found == registry.loopers.end())
		return B_BAD_HANDLER;
	found->second->Enqueue(Envelope{message, handlerToken});
	return B_OK;
}

BLooper* BLooper::LockLooper(int32 looperToken)
{
	for (;;) {
		{
			LooperRegistry& registry = Loopers();
			std::lock_guard<std::mutex> guard(registry.lock);
			auto found = registry.loopers.find(looperToken);
			if (found == registry.loopers.end())
				return nullptr;
			// Only a try: waiting here would stall every messenger of the
			// process behind one busy looper.
			if (found->second->AcquireLock(0))
				return found->second;
		}
		std::this_thread::sleep_for(std::chrono::milliseconds(1));
	}
}

// ---- the lock ------------------------------------------------------------

bool BLooper::AcquireLock(bigtime_t timeout)
{
	const thread_id self = find_thread(nullptr);
	std::unique_lock<std::mutex> guard(fLockMutex);
	if (fLockCount > 0 && fOwner == self) {
		fLockCount++;
		return true;
	}
	fWaiters++;
	// The thread that just let go does not take the lock straight back while
	// others wait for it: a busy looper would otherwise starve everyone who
	// wants to lock it between two messages (a Quit from outside, say).
	auto mayTake = [this, self] {
		return fLockCount == 0 && !(fYielding && fLastReleaser == self && fWaiters > 1);
	};
	bool acquired = true;
	if (timeout == B_INFINITE_TIMEOUT)
		fLockCond.wait(guard, mayTake);
	else
		acquired = fLockCond.wait_for(guard, std::chrono::microseconds(timeout > 0 ? timeout : 0), mayTake);
	fWaiters--;
	if (!acquired) {
		// A thread yielding to this one may go ahead now.
		fLockCond.notify_all();
		return false;
	}
	fYielding = false;
	fOwner = self;
	fLockCount = 1;
	return true;
}

bool BLooper::Lock()
{
	return AcquireLock(B_INFINITE_TIMEOUT);
}

status_t BLooper::LockWithTimeout(bigtime_t timeout)
{
	return AcquireLock(timeout) ? B_OK : B_TIMED_OUT;
}

void BLooper::Unlock()
{
	const thread_id self = find_thread(nullptr);
	{
		std::lock_guard<std::mutex> guard(fLockMutex);
		if (fLockCount == 0 || fOwner != self)
			return;
		if (fLockCount > 1) {
			fLockCount--;
			return;
		}
	}
	// Still held (count 1) while the hook runs; a nested Lock/Unlock inside
	// it only moves the count between 1 and 2.
	OuterUnlock();
	{
		std::lock_guard<std::mutex> guard(fLockMutex);
		if (--fLockCount > 0)
			return;
		fOwner = -1;
		fLastReleaser = self;
		fYielding = fWaiters > 0;
		// Under the mutex: the next owner may quit and delete the looper as
		// soon as it has the lock, and must not find this thread still in
		// the condition variable.
		fLockCond.notify_all();
	}
}

void BLooper::ReleaseAllLocks()
{
	if (!IsLocked())
		return;
	OuterUnlock();
	{
		std::lock_guard<std::mutex> guard(fLockMutex);
		fLockCount = 0;
		fOwner = -1;
		fLastReleaser = find_thread(nullptr);
		fYielding = fWaiters > 0;
		fLockCond.notify_all();
	}
}

bool BLooper::IsLocked() const
{
	std::lock_guard<std::mutex> guard(fLockMutex);
	return fLockCount > 0 && fOwner == find_thread(nullptr);
}

thread_id BLooper::LockingThread() const
{
	std::lock_guard<std::mutex> guard(fLockMutex);
	return fLockCount > 0 ? fOwner : -1;
}

int32 BLooper::CountLocks() const
{
	std::lock_guard<std::mutex> guard(fLockMutex);
	return fLockCount;
}

// ---- handlers and dispatch -----------------------------------------------

void BLooper::AddHandler(BHandler* handler)
{
	if (handler == nullptr)
		return;
	BAutolock lock(this);
	if (handler->fLooper == nullptr) {
		handler->fLooper = this;
		fHandlers.push_back(handler);
	}
}

bool BLooper::RemoveHandler(BHandler* handler)
{
	if (handler == nullptr || handler == this)
		return false;
	BAutolock lock(this);
	bool found = false;
	for (auto it = fHandlers.begin(); it != fHandlers.end(); ++it) {
		if (*it == handler) {
			fHandlers.erase(it);
			found = true;
			break;
		}
	}
	if (found) {
		handler->fLooper = nullptr;
		if (fPreferred == handler)
			fPreferred = nullptr;
	}
	return found;
}

void BLooper::DispatchMessage(BMessage* message, BHandler* handler)
{
	if (message == nullptr || handler == nullptr)
		return;
	if (message->what == B_QUIT_REQUESTED && handler == this) {
		if (QuitRequested())
			Quit();
		return;
	}
	handler->MessageReceived(message);
}

void BLooper::MessageReceived(BMessage* message)
{
	BHandler::MessageReceived(message);
}

BLooper* BLooper::LooperForThread()
{
	return tCurrentLooper;
}
