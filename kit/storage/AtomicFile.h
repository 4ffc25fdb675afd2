// Kit-private: replacing a user's file so that it is never lost half way.
//
// The new contents go to a temporary file created beside the file (same
// directory, so the rename cannot cross file systems), made to look like the
// old one (owner, mode, extended attributes and with them ACLs); it is
// written whole, flushed to the disk, renamed over the old one, and the
// directory is flushed so that the new name lasts too. A symbolic link is
// followed to the file it finally names: the link stays, its target is
// replaced. Until Commit succeeds the old file is as it was.
//
// Some files cannot be replaced that way: no temporary can be created in
// their directory (no free inodes, a quota, a directory the user may not
// write), the old file belongs to someone else and we may not give the
// temporary away, or it has other hard links that a rename would cut off. A
// caller may then ask for the file to be rewritten in place, which is done
// only once the space for the whole new contents is reserved on that very
// file, so that no write can run out of room half way; when it cannot be
// reserved, the old file is left byte for byte as it was.
#pragma once

#include <SupportDefs.h>

#include "UniqueFd.h"

#include <atomic>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/types.h>

namespace BPrivate {

class AtomicFile {
public:
	enum class Fallback {
		kNone,    // the file is replaced whole, or not at all
		kInPlace, // as above, or rewritten in place after reserving its space
	};

	AtomicFile() = default;
	// Without a successful Commit, the temporary goes and the old file
	// stays as it was (in place, it keeps what was written so far).
	~AtomicFile();
	AtomicFile(const AtomicFile&) = delete;
	AtomicFile& operator=(const AtomicFile&) = delete;

	// Gets ready to replace the file at `path` (which need not exist; its
	// directory must) with exactly `size` bytes. `size` may be -1 when it
	// is not known in advance: then there is no rewriting in place.
	// `newMode` is the mode of a file that did not exist, less the umask.
	// Refuses a directory (B_IS_A_DIRECTORY) and what is not a regular file
	// (B_NOT_ALLOWED), and, without the fallback, a file it could not
	// replace without giving it to us or cutting its hard links
	// (B_NOT_ALLOWED). Our own file keeps its group only if we are in it.
	status_t Open(const std::string& path, off_t size, mode_t newMode = 0644,
		Fallback fallback = Fallback::kNone);
	status_t Write(std::string_view bytes);
	// The new contents are on the disk and in place of the old ones.
	status_t Commit();

	// The file being written: the temporary, or the file itself in place.
	// Attributes set on it before Commit go with the new contents.
	const std::string& WorkingPath() const { return fWorking; }
	// The file that gets replaced, links resolved.
	const std::string& TargetPath() const { return fTarget; }
	// True once the old file is opened to be rewritten in place (then a
	// failed Open was the reservation).
	bool InPlace() const { return fInPlace; }

private:
	// Creates the temporary and makes it look like `old`, when there is one.
	// mayFallBack tells that the old file itself may be written instead.
	status_t CreateTemporary(const struct ::stat* old, mode_t newMode, bool* mayFallBack);
	status_t OpenInPlace();
	void RemoveTemporary();

	std::string fTarget;
	std::string fLeaf;
	std::string fWorking;
	std::string fTemporaryLeaf;
	UniqueFd fDirectory;
	bool fCanSyncDirectory = false; // the directory can be flushed
	UniqueFd fFd;
	off_t fSize = -1;
	off_t fWritten = 0;
	bool fInPlace = false;
	bool fFailed = false;
	bool fCommitted = false;
};

// Replaces the file at `path` with `contents` as AtomicFile does.
status_t write_file_atomically(const std::string& path, std::string_view contents,
	mode_t newMode = 0644, AtomicFile::Fallback fallback = AtomicFile::Fallback::kNone);

// The process's umask, read without changing it.
mode_t current_umask();

// How AtomicFile creates its temporary and reserves space, as openat() and
// fallocate() do. Tests put in calls that fail as a file system out of
// inodes or space would; nothing else changes them.
struct AtomicFileCalls {
	using CreateFunction = int (*)(int directory, const char* name, int flags, mode_t mode);
	using ReserveFunction = int (*)(int fd, int mode, off_t offset, off_t length);
	std::atomic<CreateFunction> create;
	std::atomic<ReserveFunction> reserve;
};
extern AtomicFileCalls gAtomicFileCalls;

} // namespace BPrivate
