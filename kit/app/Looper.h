// BLooper: a thread with a message queue that hands each message to its handler.
//
// A looper is made with new and ends through Quit or delete. Either way it is
// withdrawn (out of the looper registry, its and its handlers' tokens
// retired) and its thread has ended before any destructor of it runs, so
// that no messenger reaches a looper that is partly destroyed and none of its
// code runs while it is. The application is the one looper that may live
// elsewhere: its Quit withdraws it, so nothing reaches it once Run returns.
#pragma once

#include <Handler.h>
#include <Message.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

// A timeout that never ends (LockWithTimeout).
inline constexpr bigtime_t B_INFINITE_TIMEOUT = INT64_MAX;

// The kernel id of the calling thread.
thread_id find_thread(const char* name);

class BLooper : public BHandler {
public:
	explicit BLooper(const char* name = nullptr);
	~BLooper() override;

	// `delete looper` (from any thread but the looper's own while it handles
	// a message) comes here: the looper is withdrawn, its thread told to end
	// after the current message and waited for, and its lock taken, as by
	// Quit; only then do its destructors run.
	static void operator delete(BLooper* looper, std::destroying_delete_t);
	// The storage comes from the global allocator and goes back to it; the
	// plain delete only frees a looper whose construction failed.
	static void* operator new(std::size_t size);
	static void operator delete(void* storage);

	// Starts the looper's thread. Returns its thread id, or B_ALREADY_RUNNING.
	// Unlike the original platform, a new looper is not locked by its
	// constructor: nothing needs unlocking before Run.
	virtual thread_id Run();
	// Ends the looper. Called from the looper's own thread (while it handles
	// a message) it returns, the loop ends after the current message and the
	// looper deletes itself. From another thread it takes the lock (if the
	// caller does not hold it already), asks the thread to end, releases every
	// lock of the caller, waits for the thread and deletes the looper. A
	// looper that was never run is simply deleted.
	virtual void Quit();
	virtual bool QuitRequested();

	// Never blocks: the message is copied into the queue.
	status_t PostMessage(uint32 what);
	status_t PostMessage(const BMessage* message, BHandler* handler = nullptr,
		BHandler* replyTo = nullptr);

	// Recursive for the thread that holds it; any thread may take it.
	bool Lock();
	void Unlock();
	status_t LockWithTimeout(bigtime_t timeout);
	bool IsLocked() const;
	thread_id LockingThread() const;
	int32 CountLocks() const;

	void AddHandler(BHandler* handler);
	bool RemoveHandler(BHandler* handler);
	BHandler* PreferredHandler() const { return fPreferred; }
	void SetPreferredHandler(BHandler* handler) { fPreferred = handler; }

	// The message being handled, valid while the looper handles it.
	BMessage* CurrentMessage() const { return fCurrentMessage; }
	thread_id Thread() const { return fThreadId.load(); }
	bool IsRunning() const { return fRunning.load(); }

	virtual void DispatchMessage(BMessage* message, BHandler* handler);
	void MessageReceived(BMessage* message) override;

	// The looper whose thread is the calling thread, or null.
	static BLooper* LooperForThread();

	// Posts a message to the handler with the given token in the looper with
	// the given id, if both still exist. Kit-internal, used by BMessenger.
	static status_t PostToToken(int32 looperToken, int32 handlerToken, const BMessage& message);
	// Locks the looper with the given token if it still exists; null when it
	// has gone. Unlike Lock on a pointer, never touches a deleted looper.
	// Kit-internal.
	static BLooper* LockLooper(int32 looperToken);

protected:
	// Ends the loop after the current message without deleting the looper
	// (the application object is not the loop's to delete), and withdraws
	// it. Any thread, holding the lock.
	void StopLoop();
	// Waits for the looper's thread to end; not from that thread.
	void WaitForThread();

	// Called with the lock held whenever the outermost lock is released;
	// windows flush their pending display changes here.
	virtual void OuterUnlock() {}
	// Called in the looper's thread, with the lock held, before the first message.
	virtual void ThreadStarted() {}

private:
	friend class BHandler;
	struct Envelope {
		BMessage message;
		int32 handlerToken; // -1: the preferred handler (or the looper)
	};
	enum class QuitMode { None, SelfDelete, Other, Stop };

	void Loop();
	// Makes the looper and its handlers unreachable (registry and tokens)
	// before anything of them is destroyed.
	void Withdraw();
	// What every end of a looper does before its destructors: withdraws it,
	// ends its thread (detaches it when it is the calling thread) and leaves
	// the lock held by the calling thread.
	void Retire();
	void Enqueue(Envelope envelope);
	BHandler* ResolveHandler(const Envelope& envelope);
	// Gives up the lock completely, however deep the calling thread holds it.
	void ReleaseAllLocks();
	bool AcquireLock(bigtime_t timeout);

	std::vector<BHandler*> fHandlers;
	BHandler* fPreferred = nullptr;
	BMessage* fCurrentMessage = nullptr;

	// The queue.
	std::mutex fQueueLock;
	std::condition_variable fQueueCond;
	std::deque<Envelope> fQueue;
	QuitMode fQuitMode = QuitMode::None;

	// The looper's recursive lock.
	mutable std::mutex fLockMutex;
	std::condition_variable fLockCond;
	thread_id fOwner = -1;
	int32 fLockCount = 0;
	int32 fWaiters = 0;
	thread_id fLastReleaser = -1;
	bool fYielding = false;

	// Started by Run; joined by the thread that quits the looper, detached
	// when the looper deletes itself.
	std::thread fThread;
	std::mutex fThreadLock;
	std::atomic<thread_id> fThreadId{-1};
	std::atomic<bool> fRunning{false};
};
