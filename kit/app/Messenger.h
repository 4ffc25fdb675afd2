// BMessenger: a safe address of a handler in a looper, usable from any thread.
#pragma once

#include <Message.h>

class BHandler;
class BLooper;

class BMessenger {
public:
	BMessenger() = default;
	// Aims at the handler (in its looper) or, with a null handler, at the
	// looper's preferred handler.
	explicit BMessenger(const BHandler* handler, const BLooper* looper = nullptr,
		status_t* result = nullptr);

	bool IsValid() const;
	// B_BAD_HANDLER when the target has gone; never blocks.
	status_t SendMessage(uint32 what) const;
	status_t SendMessage(const BMessage* message) const;

	bool operator==(const BMessenger& other) const
	{
		return fLooperToken == other.fLooperToken && fHandlerToken == other.fHandlerToken;
	}

private:
	int32 fLooperToken = -1;
	int32 fHandlerToken = -1; // -1: the preferred handler
};
