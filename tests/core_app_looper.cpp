// BLooper, BHandler and BMessenger with real threads: ordering under
// contention, the recursive lock from every side, quitting with work queued,
// and messages aimed at things that have gone.
#include <AppDefs.h>
#include <Handler.h>
#include <Looper.h>
#include <Messenger.h>

#include <TestSupport.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using testing_support::WaitUntil;

namespace {

enum : uint32 {
	kSequence = 'SEQN',
	kBlock = 'BLCK',
	kMarker = 'MARK',
	kProbe = 'PROB',
};

// A gate a handler can wait at until the test opens it.
class Gate {
public:
	void Open()
	{
		{
			std::lock_guard<std::mutex> guard(fLock);
			fOpen = true;
		}
		fCond.notify_all();
	}
	void Wait()
	{
		std::unique_lock<std::mutex> guard(fLock);
		fCond.wait(guard, [this] { return fOpen; });
	}

private:
	std::mutex fLock;
	std::condition_variable fCond;
	bool fOpen = false;
};

// What a looper saw, kept outside it so it can be read after the looper is gone.
struct Journal {
	std::mutex lock;
	std::vector<std::pair<int32, int32>> sequence; // (poster, number)
	std::vector<uint32> whats;
	std::atomic<int32> handled{0};
	std::atomic<int32> outerUnlocks{0};
	std::atomic<bool> destroyed{false};
	std::atomic<bool> gone{false}; // the whole looper, BLooper included
	std::atomic<bool> wrongThread{false};
	std::atomic<bool> notLocked{false};
	std::atomic<bool> quitAllowed{true};
	Gate* gate = nullptr;
	std::atomic<bool> blockDone{false};
	std::atomic<bool> quitInHandler{false};
	// Asked from the destructor: may a messenger still reach the looper (or
	// one of its handlers) while it is being destroyed? -1: not asked.
	std::vector<const BMessenger*> probes;
	std::atomic<int32> reachableInDestructor{-1};
	// Set as the destructor begins; it then gives the looper's thread a
	// moment to handle what another thread is posting.
	std::atomic<bool> destroying{false};
	std::atomic<int32> handledWhileDestroyed{0};
};

// Bases go in the reverse order of their construction: this one says so
// once the looper part, which lets its handlers go, is gone too. It also
// puts the looper part away from the start of the object.
class GoneSignal {
public:
	explicit GoneSignal(Journal& journal) : fGoneJournal(journal) {}
	~GoneSignal() { fGoneJournal.gone = true; }

private:
	Journal& fGoneJournal;
};

class TestLooper : public GoneSignal, public BLooper {
public:
	explicit TestLooper(Journal& journal)
		: GoneSignal(journal), BLooper("test looper"), fJournal(journal)
	{
	}
	~TestLooper() override
	{
		fJournal.destroying = true;
		if (!fJournal.probes.empty()) {
			WaitUntil([this] { return fJournal.handledWhileDestroyed.load() > 0; },
				std::chrono::milliseconds(50));
			int32 reachable = 0;
			for (const BMessenger* probe : fJournal.probes)
				reachable += probe->IsValid() ? 1 : 0;
			fJournal.reachableInDestructor = reachable;
		}
		fJournal.destroyed = true;
	}

	void MessageReceived(BMessage* message) override
	{
		if (LooperForThread() != this || find_thread(nullptr) != Thread())
			fJournal.wrongThread = true;
		if (!IsLocked() || CountLocks() != 1 || LockingThread() != Thread())
			fJournal.notLocked = true;
		if (fJournal.destroying)
			fJournal.handledWhileDestroyed++;
		{
			std::lock_guard<std::mutex> guard(fJournal.lock);
			fJournal.whats.push_back(message->what);
			int32 poster = 0;
			int32 number = 0;
			if (message->what == kSequence && message->FindInt32("poster", &poster) == B_OK
				&& message->FindInt32("number", &number) == B_OK)
				fJournal.sequence.emplace_back(poster, number);
		}
		if (message->what == kBlock && fJournal.gate != nullptr) {
			fJournal.gate->Wait();
			fJournal.blockDone = true;
			if (fJournal.quitInHandler)
				Quit();
		}
		fJournal.handled++;
	}

	bool QuitRequested() override { return fJournal.quitAllowed; }

protected:
	void OuterUnlock() override { fJournal.outerUnlocks++; }

private:
	Journal& fJournal;
};

class CountingHandler : public BHandler {
public:
	explicit CountingHandler(std::atomic<int32>& count)
		: BHandler("counter"), fCount(count)
	{
	}
	void MessageReceived(BMessage*) override { fCount++; }

private:
	std::atomic<int32>& fCount;
};

// Quits a running looper from the test thread, waiting for it to go.
void QuitFromOutside(BLooper* looper)
{
	looper->Lock();
	looper->Quit();
}

TEST(Looper, PostsFromManyThreadsArriveInOrderPerPoster)
{
	Journal journal;
	auto* looper = new TestLooper(journal);
	ASSERT_GT(looper->Run(), 0);
	EXPECT_EQ(looper->Run(), B_ALREADY_RUNNING);

	constexpr int32 kPosters = 6;
	constexpr int32 kEach = 400;
	BMessenger messenger(looper);
	std::vector<std::thread> posters;
	for (int32 poster = 0; poster < kPosters; poster++) {
		posters.emplace_back([&, poster] {
			for (int32 number = 0; number < kEach; number++) {
				BMessage message(kSequence);
				message.AddInt32("poster", poster);
				message.AddInt32("number", number);
				// Half go straight to the looper, half through a messenger.
				status_t status = (number % 2 == 0) ? looper->PostMessage(&message)
					: messenger.SendMessage(&message);
				ASSERT_EQ(status, B_OK);
			}
		});
	}
	for (std::thread& thread : posters)
		thread.join();
	ASSERT_TRUE(WaitUntil([&] { return journal.handled.load() == kPosters * kEach; }));

	std::map<int32, int32> next;
	{
		std::lock_guard<std::mutex> guard(journal.lock);
		ASSERT_EQ(journal.sequence.size(), size_t(kPosters * kEach));
		for (const auto& [poster, number] : journal.sequence) {
			EXPECT_EQ(number, next[poster]) << "poster " << poster;
			next[poster] = number + 1;
		}
	}
	EXPECT_FALSE(journal.wrongThread) << "handled on the looper's own thread";
	EXPECT_FALSE(journal.notLocked) << "the looper's thread holds its lock, once, while handling";
	EXPECT_GE(journal.outerUnlocks.load(), 1) << "the outermost unlock runs after handled messages";
	QuitFromOutside(looper);
	EXPECT_TRUE(journal.destroyed);
}

// The lock seen from each state a looper can be in.
TEST(LooperLock, NotRunning)
{
	Journal journal;
	auto* looper = new TestLooper(journal);
	EXPECT_FALSE(looper->IsLocked());
	EXPECT_EQ(looper->LockingThread(), -1);
	EXPECT_EQ(looper->CountLocks(), 0);
	ASSERT_TRUE(looper->Lock());
	EXPECT_TRUE(looper->IsLocked());
	EXPECT_EQ(looper->LockingThread(), find_thread(nullptr));
	std::thread([&] {
		EXPECT_FALSE(looper->IsLocked()) << "locked, but not by this thread";
		EXPECT_EQ(looper->LockWithTimeout(1000), B_TIMED_OUT);
	}).join();
	looper->Unlock();
	EXPECT_EQ(journal.outerUnlocks.load(), 1);
	std::thread([&] {
		EXPECT_EQ(looper->LockWithTimeout(0), B_OK);
		looper->Unlock();
	}).join();
	// A looper that never ran is simply deleted.
	looper->Quit();
	EXPECT_TRUE(journal.destroyed);
}

TEST(LooperLock, RunningAndUnlockedThenLockedByCaller)
{
	Journal journal;
	auto* looper = new TestLooper(journal);
	looper->Run();
	ASSERT_EQ(looper->LockWithTimeout(B_INFINITE_TIMEOUT), B_OK);
	const int32 unlocksBefore = journal.outerUnlocks.load();

	// While the caller holds the lock the looper cannot handle anything.
	looper->PostMessage(kProbe);
	BMessage probe(kProbe);
	ASSERT_EQ(BMessenger(looper).SendMessage(&probe), B_OK);
	EXPECT_FALSE(WaitUntil([&] { return journal.handled.load() > 0; }, std::chrono::milliseconds(100)));

	// Recursive for the holder; only the outermost unlock releases and calls the hook.
	ASSERT_TRUE(looper->Lock());
	EXPECT_EQ(looper->CountLocks(), 2);
	looper->Unlock();
	EXPECT_TRUE(looper->IsLocked());
	EXPECT_EQ(looper->CountLocks(), 1);
	EXPECT_EQ(journal.outerUnlocks.load(), unlocksBefore);
	EXPECT_EQ(journal.handled.load(), 0);
	looper->Unlock();
	EXPECT_FALSE(looper->IsLocked());
	// An unlock by a thread that holds nothing changes nothing.
	looper->Unlock();
	EXPECT_TRUE(WaitUntil([&] { return journal.handled.load() == 2; }));
	QuitFromOutside(looper);
}

TEST(LooperLock, LockedByAnotherThread)
{
	Journal journal;
	auto* looper = new TestLooper(journal);
	looper->Run();

	Gate release;
	std::atomic<bool> holding{false};
	std::atomic<thread_id> holder{-1};
	std::thread other([&] {
		looper->Lock();
		holder = find_thread(nullptr);
		holding = true;
		release.Wait();
		holding = false;
		looper->Unlock();
	});
	ASSERT_TRUE(WaitUntil([&] { return holding.load(); }));
	EXPECT_FALSE(looper->IsLocked());
	EXPECT_EQ(looper->LockingThread(), holder.load());
	EXPECT_EQ(looper->CountLocks(), 1);
	EXPECT_EQ(looper->LockWithTimeout(20000), B_TIMED_OUT);

	std::atomic<bool> locked{false};
	std::thread waiter([&] {
		EXPECT_TRUE(looper->Lock());
		// The other thread gave it up before this one could get it.
		EXPECT_FALSE(holding.load());
		locked = true;
		looper->Unlock();
	});
	EXPECT_FALSE(WaitUntil([&] { return locked.load(); }, std::chrono::milliseconds(50)));
	release.Open();
	EXPECT_TRUE(WaitUntil([&] { return locked.load(); }));
	other.join();
	waiter.join();
	QuitFromOutside(looper);
}

TEST(LooperQuit, SelfQuitDiscardsWhatIsStillQueued)
{
	Journal journal;
	Gate gate;
	journal.gate = &gate;
	journal.quitInHandler = true;
	auto* looper = new TestLooper(journal);
	looper->Run();
	BMessenger messenger(looper);
	looper->PostMessage(kBlock);
	for (int32 i = 0; i < 200; i++) {
		BMessage message(kSequence);
		message.AddString("payload", std::string(100, 'x'));
		looper->PostMessage(&message);
	}
	gate.Open();
	ASSERT_TRUE(WaitUntil([&] { return journal.gone.load(); }));
	EXPECT_EQ(journal.handled.load(), 1) << "nothing is handled after Quit";
	EXPECT_EQ(messenger.SendMessage(kProbe), B_BAD_HANDLER);
	EXPECT_FALSE(messenger.IsValid());
}

// No messenger may reach a looper or its handlers once its destruction has
// begun, whichever way it ends, and its thread handles nothing more: the
// derived destructor is the first to run. Another thread posts to the
// looper and its handler all along.
TEST(LooperQuit, NothingReachesALooperWhoseDestructionHasBegun)
{
	for (const char* how : {"itself", "from outside", "never run", "deleted", "deleted unrun"}) {
		SCOPED_TRACE(how);
		Journal journal;
		auto* looper = new TestLooper(journal);
		std::atomic<int32> count{0};
		auto* handler = new CountingHandler(count);
		looper->AddHandler(handler);
		const BMessenger toLooper(nullptr, looper);
		const BMessenger toHandler(handler);
		ASSERT_TRUE(toLooper.IsValid());
		ASSERT_TRUE(toHandler.IsValid());
		journal.probes = {&toLooper, &toHandler};
		std::atomic<int32> acceptedLate{0};
		std::jthread poster([&](std::stop_token stop) {
			while (!stop.stop_requested()) {
				// Asked first: a post taken after this saw the destruction
				// begin was taken too late.
				const bool late = journal.destroying;
				const status_t status = toLooper.SendMessage(kProbe);
				if (toHandler.SendMessage(kProbe) == B_OK || status == B_OK)
					acceptedLate += late ? 1 : 0;
				std::this_thread::yield();
			}
		});
		if (std::string(how) == "itself") {
			Gate gate;
			journal.gate = &gate;
			journal.quitInHandler = true;
			looper->Run();
			looper->PostMessage(kBlock);
			gate.Open();
			ASSERT_TRUE(WaitUntil([&] { return journal.gone.load(); }));
		} else if (std::string(how) == "from outside") {
			looper->Run();
			QuitFromOutside(looper);
		} else if (std::string(how) == "never run") {
			looper->Lock();
			looper->Quit();
		} else {
			if (std::string(how) == "deleted") {
				looper->Run();
				ASSERT_TRUE(WaitUntil([&] { return journal.handled.load() > 10; }));
			}
			delete looper;
		}
		poster.request_stop();
		poster.join();
		EXPECT_TRUE(journal.destroyed);
		EXPECT_EQ(journal.reachableInDestructor.load(), 0);
		EXPECT_EQ(journal.handledWhileDestroyed.load(), 0);
		EXPECT_EQ(acceptedLate.load(), 0);
		EXPECT_FALSE(toLooper.IsValid());
		EXPECT_FALSE(toHandler.IsValid());
		EXPECT_EQ(toHandler.SendMessage(kProbe), B_BAD_HANDLER);
		delete handler;
	}
}

TEST(LooperQuit, QuitFromAnotherThreadWaitsForTheCurrentMessage)
{
	Journal journal;
	Gate gate;
	journal.gate = &gate;
	auto* looper = new TestLooper(journal);
	looper->Run();
	looper->PostMessage(kBlock);
	for (int32 i = 0; i < 50; i++)
		looper->PostMessage(kSequence);
	ASSERT_TRUE(WaitUntil([&] { return looper->LockingThread() == looper->Thread(); }));

	std::atomic<bool> quitReturned{false};
	std::thread quitter([&] {
		looper->Quit();
		quitReturned = true;
	});
	EXPECT_FALSE(WaitUntil([&] { return quitReturned.load(); }, std::chrono::milliseconds(50)));
	EXPECT_FALSE(journal.destroyed);
	gate.Open();
	quitter.join();
	EXPECT_TRUE(journal.blockDone) << "the message being handled finished first";
	EXPECT_TRUE(journal.destroyed);
	EXPECT_LT(journal.handled.load(), 51);
}

TEST(LooperQuit, QuitRequestedDecides)
{
	Journal journal;
	journal.quitAllowed = false;
	std::atomic<int32> preferredCount{0};
	CountingHandler preferred(preferredCount);
	auto* looper = new TestLooper(journal);
	looper->AddHandler(&preferred);
	looper->SetPreferredHandler(&preferred);
	looper->Run();
	BMessenger messenger(looper);

	// A quit request without a target is for the looper, not the preferred handler.
	looper->PostMessage(B_QUIT_REQUESTED);
	looper->PostMessage(kMarker);
	ASSERT_TRUE(WaitUntil([&] { return preferredCount.load() == 1; }));
	EXPECT_FALSE(journal.destroyed);
	EXPECT_TRUE(messenger.IsValid());
	EXPECT_EQ(journal.handled.load(), 0) << "untargeted messages go to the preferred handler";

	journal.quitAllowed = true;
	EXPECT_EQ(messenger.SendMessage(B_QUIT_REQUESTED), B_OK);
	ASSERT_TRUE(WaitUntil([&] { return journal.gone.load(); }));
	EXPECT_TRUE(journal.destroyed);
	EXPECT_FALSE(messenger.IsValid());
	EXPECT_EQ(preferred.Looper(), nullptr) << "handlers are detached, not deleted";
}

TEST(LooperHandlers, MessagesToAGoneHandlerAreDropped)
{
	Journal journal;
	std::atomic<int32> goneCount{0};
	std::atomic<int32> keptCount{0};
	auto* looper = new TestLooper(journal);
	auto gone = std::make_unique<CountingHandler>(goneCount);
	CountingHandler kept(keptCount);
	looper->AddHandler(gone.get());
	looper->AddHandler(&kept);
	EXPECT_EQ(gone->Looper(), looper);
	looper->Run();

	BMessenger toGone(gone.get());
	BMessenger toKept(&kept, looper);
	status_t result = B_OK;
	Journal otherJournal;
	auto* other = new TestLooper(otherJournal);
	BMessenger mismatched(&kept, other, &result);
	EXPECT_EQ(result, B_MISMATCHED_VALUES);
	EXPECT_FALSE(mismatched.IsValid());
	other->Quit();
	CountingHandler loose(goneCount);
	BMessenger toLoose(&loose, nullptr, &result);
	EXPECT_EQ(result, B_BAD_HANDLER);
	EXPECT_EQ(toLoose.SendMessage(kProbe), B_BAD_HANDLER);
	BMessage stray(kProbe);
	EXPECT_EQ(looper->PostMessage(&stray, &loose), B_MISMATCHED_VALUES);
	EXPECT_EQ(looper->PostMessage(nullptr), B_BAD_VALUE);

	// Queue messages for the handler while the looper is held, then delete it.
	looper->Lock();
	BMessage probe(kProbe);
	ASSERT_EQ(looper->PostMessage(&probe, gone.get()), B_OK);
	ASSERT_EQ(toGone.SendMessage(kProbe), B_OK);
	ASSERT_EQ(toKept.SendMessage(kProbe), B_OK);
	gone.reset();
	looper->Unlock();
	looper->PostMessage(kMarker);
	ASSERT_TRUE(WaitUntil([&] { return journal.handled.load() == 1; }));
	EXPECT_EQ(goneCount.load(), 0);
	EXPECT_EQ(keptCount.load(), 1);
	EXPECT_EQ(toGone.SendMessage(kProbe), B_BAD_HANDLER);
	EXPECT_FALSE(toGone.IsValid());
	EXPECT_TRUE(toKept.IsValid());

	// Removed (not deleted) handlers no longer receive either.
	EXPECT_TRUE(looper->RemoveHandler(&kept));
	EXPECT_FALSE(looper->RemoveHandler(&kept));
	EXPECT_FALSE(looper->RemoveHandler(looper));
	toKept.SendMessage(kProbe);
	looper->PostMessage(kMarker);
	ASSERT_TRUE(WaitUntil([&] { return journal.handled.load() == 2; }));
	EXPECT_EQ(keptCount.load(), 1);
	QuitFromOutside(looper);
}

TEST(LooperMessenger, MessengerToAQuitLooper)
{
	BMessenger empty;
	EXPECT_FALSE(empty.IsValid());
	EXPECT_EQ(empty.SendMessage(kProbe), B_BAD_HANDLER);

	Journal journal;
	auto* looper = new TestLooper(journal);
	looper->Run();
	BMessenger messenger(nullptr, looper);
	EXPECT_TRUE(messenger.IsValid());
	EXPECT_TRUE(messenger == BMessenger(nullptr, looper));
	EXPECT_EQ(messenger.SendMessage(kProbe), B_OK);
	ASSERT_TRUE(WaitUntil([&] { return journal.handled.load() == 1; }));

	// Senders racing with the quit get B_OK or B_BAD_HANDLER, nothing worse.
	std::atomic<bool> stop{false};
	std::atomic<int32> badHandler{0};
	std::thread sender([&] {
		while (!stop) {
			status_t status = messenger.SendMessage(kProbe);
			if (status == B_BAD_HANDLER)
				badHandler++;
			else
				EXPECT_EQ(status, B_OK);
		}
	});
	ASSERT_TRUE(WaitUntil([&] { return journal.handled.load() > 10; }));
	QuitFromOutside(looper);
	ASSERT_TRUE(WaitUntil([&] { return badHandler.load() > 0; }));
	stop = true;
	sender.join();
	EXPECT_FALSE(messenger.IsValid());
	EXPECT_EQ(messenger.SendMessage(kProbe), B_BAD_HANDLER);
	EXPECT_EQ(BLooper::LockLooper(-5), nullptr);
}

TEST(LooperMessenger, PostToHandledLatencyIsSane)
{
	Journal journal;
	auto* looper = new TestLooper(journal);
	looper->Run();
	std::vector<double> micros;
	for (int32 i = 0; i < 200; i++) {
		auto start = std::chrono::steady_clock::now();
		looper->PostMessage(kProbe);
		ASSERT_TRUE(WaitUntil([&] { return journal.handled.load() == i + 1; }));
		micros.push_back(std::chrono::duration<double, std::micro>(
			std::chrono::steady_clock::now() - start).count());
	}
	std::nth_element(micros.begin(), micros.begin() + micros.size() / 2, micros.end());
	double median = micros[micros.size() / 2];
	RecordProperty("median_post_to_handled_us", std::to_string(median));
	// Only a sanity bound: a lost wake-up would show up as the poll deadline.
	EXPECT_LT(median, 1e6);
	QuitFromOutside(looper);
}

} // namespace
