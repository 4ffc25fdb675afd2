// -delete's last step: the input goes only once the MP3 is durable under its
// final name, and only if it is still the file that was encoded, as it was
// when the encode began, and all of it was encoded.
#pragma once

#include <string>

#include <sys/stat.h>

namespace gogo {

struct InputToDelete {
	std::string path;      // as given, for messages
	int directory = -1;    // its directory, open
	std::string name;      // its name there
	int fd = -1;           // the input, open since the encode began
	struct stat atStart{}; // as it was then
	// Why the length the encode found keeps it (LengthVerdict); empty when
	// it may go.
	std::string keepReason;
};

struct WrittenOutput {
	int directory = -1;         // the MP3's directory, open
	std::string name;           // the name the MP3 took there
	bool fileSynced = false;    // the MP3's data reached the disk
	int directorySyncError = 0; // of the sync after the rename, or 0
	int createdSyncError = 0;   // of the directories made for -o, or 0
};

// Removes the input when it may go. Returns "" once it is gone, else why it
// stays: "did not delete '<path>': <reason>", or "cannot delete '<path>':
// <error>" when the unlink failed.
std::string DeleteInput(const InputToDelete& input, const WrittenOutput& output);

} // namespace gogo
