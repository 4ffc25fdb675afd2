// BLooper: a thread with a message queue that hands each message to its handler.
#pragma once

#include <Handler.h>
#include <Message.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class BLooper : public BHandler {
public:
	explicit BLooper(const char* name = nullptr);
	~BLooper() override;

	// Starts the looper's thread. Returns its thread id.
	virtual thread_id Run();
	// Ends the looper. Called from the looper's own thread (which must hold
	// the lock) it never returns and the looper deletes itself; from another
	// thread it takes the lock, asks the thread to end, waits for it and then
	// deletes the looper.
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

protected:
	// Called with the lock held whenever the outermost lock is released;
	// windows flush their pending display changes here.
	virtual void OuterUnlock() {}
	// Called in the looper's thread before the first message.
	virtual void ThreadStarted() {}

private:
	struct Envelope {
		BMessage message;
		int32 handlerToken; // -1: the preferred handler (or the looper)
	};
	void Loop();
	void EnqueueLocked(Envelope envelope);

	std::vector<BHandler*> fHandlers;
	BHandler* fPreferred = nullptr;
	BMessage* fCurrentMessage = nullptr;

	// The queue.
	std::mutex fQueueLock;
	std::condition_variable fQueueCond;
	std::deque<Envelope> fQueue;
	bool fQuitting = false;

	// The looper's recursive lock.
	mutable std::mutex fLockMutex;
	std::condition_variable fLockCond;
	std::thread::id fOwner;
	int32 fLockCount = 0;

	std::thread fThread;
	std::atomic<thread_id> fThreadId{-1};
	std::atomic<bool> fRunning{false};
};
