#include "DeleteInput.h"
#include "FileOps.h"
#include "Paths.h"

#include <fcntl.h>
#include <unistd.h>

namespace gogo {

std::string DeleteInput(const InputToDelete& input, const WrittenOutput& output)
{
	auto keep = [&input](const std::string& reason) {
		return "did not delete " + QuotePath(input.path) + ": " + reason;
	};

	// The MP3 must outlive a crash before its source may go.
	if (!output.fileSynced)
		return keep("the MP3 could not be synced to disk");
	if (output.directorySyncError != 0) {
		return keep("the output directory could not be synced to disk ("
			+ ErrnoText(output.directorySyncError) + ")");
	}
	if (output.createdSyncError != 0) {
		return keep("the new output directory could not be synced to disk ("
			+ ErrnoText(output.createdSyncError) + ")");
	}

	// Delete only what was encoded, as it was: the same file, by the open
	// descriptor and by its name, unchanged since the encode began.
	const struct stat& atStart = input.atStart;
	struct stat held, now, written;
	if (fstat(input.fd, &held) != 0) {
		const int error = errno;
		return keep("cannot check it: " + ErrnoText(error));
	}
	if (fstatat(input.directory, input.name.c_str(), &now, 0) != 0) {
		const int error = errno;
		if (error == ENOENT)
			return keep("it was moved or removed during the encode");
		return keep("cannot check it: " + ErrnoText(error));
	}
	if (fstatat(output.directory, output.name.c_str(), &written, 0) == 0 && SameFile(written, now))
		return keep("it is the output file");
	if (!SameFile(now, atStart) || !SameFile(held, atStart))
		return keep("it was replaced during the encode");
	for (const struct stat* seen : {&held, &now}) {
		if (seen->st_size != atStart.st_size) {
			return keep("it changed during the encode (from " + std::to_string(atStart.st_size)
				+ " to " + std::to_string(seen->st_size) + " bytes)");
		}
		if (seen->st_mtim.tv_sec != atStart.st_mtim.tv_sec
				|| seen->st_mtim.tv_nsec != atStart.st_mtim.tv_nsec) {
			return keep("it was modified during the encode");
		}
		if (seen->st_ctim.tv_sec != atStart.st_ctim.tv_sec
				|| seen->st_ctim.tv_nsec != atStart.st_ctim.tv_nsec) {
			return keep("it changed during the encode (its status change time moved)");
		}
	}

	// Every sample frame the file holds was encoded: not a file cut short,
	// nor one a recorder is still writing, nor one whose length cannot be
	// told.
	if (!input.keepReason.empty())
		return keep(input.keepReason);

	if (unlinkat(input.directory, input.name.c_str(), 0) != 0) {
		const int error = errno;
		return "cannot delete " + QuotePath(input.path) + ": " + ErrnoText(error);
	}
	return std::string();
}

} // namespace gogo
