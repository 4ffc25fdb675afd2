#include <Invoker.h>

#include <Handler.h>
#include <Looper.h>

#include <chrono>

namespace {

int64 Now()
{
	return std::chrono::duration_cast<std::chrono::microseconds>(
		std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace

BInvoker::BInvoker(BMessage* message, const BHandler* handler, const BLooper* looper)
	:
	fMessage(message)
{
	SetTarget(handler, looper);
}

BInvoker::~BInvoker() = default;

status_t BInvoker::SetMessage(BMessage* message)
{
	if (message != fMessage.get())
		fMessage.reset(message);
	return B_OK;
}

status_t BInvoker::SetTarget(const BHandler* handler, const BLooper* looper)
{
	if (!handler && !looper) {
		fTarget = BMessenger();
		fTargetHandler = nullptr;
		fHasTarget = false;
		return B_OK;
	}
	status_t result = B_OK;
	fTarget = BMessenger(handler, looper, &result);
	fTargetHandler = handler ? handler : looper;
	fHasTarget = true;
	return result;
}

status_t BInvoker::SetTarget(BMessenger messenger)
{
	fTarget = messenger;
	fTargetHandler = nullptr;
	fHasTarget = true;
	return B_OK;
}

BHandler* BInvoker::Target(BLooper** looper) const
{
	BHandler* handler = const_cast<BHandler*>(fTargetHandler);
	if (looper)
		*looper = handler ? handler->Looper() : nullptr;
	return handler;
}

status_t BInvoker::Invoke(BMessage* message)
{
	const BMessage* source = message ? message : fMessage.get();
	if (!source)
		return B_BAD_VALUE;
	if (!fHasTarget)
		return B_BAD_HANDLER;
	BMessage copy(*source);
	// Subclasses that add their own "when" and "source" (menu items) keep them.
	int64 when = 0;
	if (copy.FindInt64("when", &when) != B_OK)
		copy.AddInt64("when", Now());
	void* pointer = nullptr;
	if (copy.FindPointer("source", &pointer) != B_OK)
		copy.AddPointer("source", this);
	return fTarget.SendMessage(&copy);
}
