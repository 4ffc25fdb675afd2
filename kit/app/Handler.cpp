#include <Handler.h>

#include <Looper.h>

#include <atomic>
#include <mutex>
#include <unordered_set>

namespace {

// Tokens are never reused, so a stale token can only miss, never hit another
// handler. The registry lives forever: loopers and messengers may still be
// asked about tokens while static objects are being destroyed at exit.
struct HandlerRegistry {
	std::mutex lock;
	std::unordered_set<int32> live;
	std::atomic<int32> next{1};
};

HandlerRegistry& Registry()
{
	static HandlerRegistry& registry = *new HandlerRegistry;
	return registry;
}

int32 NewToken()
{
	HandlerRegistry& registry = Registry();
	int32 token = registry.next.fetch_add(1);
	std::lock_guard<std::mutex> guard(registry.lock);
	registry.live.insert(token);
	return token;
}

} // namespace

BHandler::BHandler(const char* name)
	: fName(name ? name : ""), fToken(NewToken())
{
}

BHandler::~BHandler()
{
	// A looper clears its own link before this runs, so only a handler that
	// is still attached to some other looper detaches here.
	if (fLooper != nullptr)
		fLooper->RemoveHandler(this);
	RetireToken();
}

void BHandler::RetireToken()
{
	HandlerRegistry& registry = Registry();
	std::lock_guard<std::mutex> guard(registry.lock);
	registry.live.erase(fToken);
}

void BHandler::MessageReceived(BMessage*)
{
	// Nothing understands the message; it is dropped.
}

bool BHandler::TokenExists(int32 token)
{
	HandlerRegistry& registry = Registry();
	std::lock_guard<std::mutex> guard(registry.lock);
	return registry.live.count(token) != 0;
}
