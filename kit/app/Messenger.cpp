#include <Messenger.h>

#include <Handler.h>
#include <Looper.h>

BMessenger::BMessenger(const BHandler* handler, const BLooper* looper, status_t* result)
{
	status_t status = B_OK;
	if (handler != nullptr) {
		const BLooper* owner = handler->Looper();
		if (owner == nullptr) {
			status = B_BAD_HANDLER;
		} else if (looper != nullptr && looper != owner) {
			status = B_MISMATCHED_VALUES;
		} else {
			fLooperToken = owner->Token();
			// Aimed at the looper itself, not at its preferred handler.
			fHandlerToken = handler->Token();
		}
	} else if (looper != nullptr) {
		fLooperToken = looper->Token();
		fHandlerToken = -1;
	} else {
		status = B_BAD_VALUE;
	}
	if (result != nullptr)
		*result = status;
}

bool BMessenger::IsValid() const
{
	if (fLooperToken < 0 || !BHandler::TokenExists(fLooperToken))
		return false;
	return fHandlerToken < 0 || BHandler::TokenExists(fHandlerToken);
}

status_t BMessenger::SendMessage(uint32 what) const
{
	BMessage message(what);
	return SendMessage(&message);
}

status_t BMessenger::SendMessage(const BMessage* message) const
{
	if (message == nullptr)
		return B_BAD_VALUE;
	if (fLooperToken < 0)
		return B_BAD_HANDLER;
	return BLooper::PostToToken(fLooperToken, fHandlerToken, *message);
}
