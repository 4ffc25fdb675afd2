// BInvoker: a message and the target it is sent to.
#pragma once

#include <Message.h>
#include <Messenger.h>

#include <memory>

class BHandler;
class BLooper;

class BInvoker {
public:
	BInvoker() = default;
	BInvoker(BMessage* message, const BHandler* handler, const BLooper* looper = nullptr);
	virtual ~BInvoker();

	// The message belongs to the invoker.
	virtual status_t SetMessage(BMessage* message);
	BMessage* Message() const { return fMessage.get(); }
	uint32 Command() const { return fMessage ? fMessage->what : 0; }

	virtual status_t SetTarget(const BHandler* handler, const BLooper* looper = nullptr);
	status_t SetTarget(BMessenger messenger);
	bool IsTargetLocal() const { return true; }
	BHandler* Target(BLooper** looper = nullptr) const;
	BMessenger Messenger() const { return fTarget; }

	// Sends the message (or the given one) to the target. Without a target
	// set, a control's target is its window.
	virtual status_t Invoke(BMessage* message = nullptr);

protected:
	bool HasTarget() const { return fHasTarget; }

private:
	std::unique_ptr<BMessage> fMessage;
	BMessenger fTarget;
	const BHandler* fTargetHandler = nullptr;
	bool fHasTarget = false;
};
