// BHandler: an object that messages can be aimed at, attached to a looper.
#pragma once

#include <SupportDefs.h>

#include <string>

class BLooper;
class BMessage;

class BHandler {
public:
	explicit BHandler(const char* name = nullptr);
	virtual ~BHandler();

	virtual void MessageReceived(BMessage* message);

	BLooper* Looper() const { return fLooper; }
	const char* Name() const { return fName.c_str(); }
	void SetName(const char* name) { fName = name ? name : ""; }

	// Handlers are found by a process-wide token so that a message aimed at a
	// handler that has gone is dropped instead of reaching freed memory.
	int32 Token() const { return fToken; }
	// True while the handler with this token exists. Kit-internal.
	static bool TokenExists(int32 token);

private:
	friend class BLooper;
	// Takes the token out of the registry, so that messengers find the
	// handler gone from now on. Idempotent. A looper that is quitting retires
	// itself and its handlers before any destructor runs.
	void RetireToken();

	BLooper* fLooper = nullptr;
	std::string fName;
	const int32 fToken;
};
