// Reading and writing the four settings as attributes of a node (the
// program's own executable), apart from the application object so that odd
// stored values can be tried out on any file.
#pragma once

#include <Node.h>

struct SettingsValues {
	// The encoder location and its terminator; always terminated.
	char* location = nullptr; // a buffer of kEncoderLocationSize bytes
	bool dontCloseOnAdd = false;
	bool dontClearOnOpen = false;
	bool selfRegisterMimeType = true;
};

// Loads every value, giving the default for any value that is missing,
// unreadable, of another type or size, or (for the location) not terminated
// within the buffer.
void LoadSettings(const BNode& node, SettingsValues& values);
// Stores every value; the results of the writes are not looked at.
void StoreSettings(BNode& node, const SettingsValues& values);
