// The MP3 being written: a temporary file in the output directory (without
// a name where the file system allows), named only once complete, never over
// another file unless asked to.
#pragma once

#include "FileOps.h"
#include "GogoOptions.h"
#include "SignalCleanup.h"

#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gogo {

// Beyond errno's codes: with replace, the output name is the input file.
constexpr int kIsTheInput = -1;

// The highest n tried for "<name> (n).mp3".
constexpr int kMaxNameNumber = 9999;

// The n-th choice of name for an output: "x.mp3", then "x (2).mp3"...
std::string NumberedName(const std::string& name, int number);

// A temporary file being written in a directory; removed unless committed.
class TempFile {
public:
	TempFile(int directory, const Options::WriteFallbacks& fallbacks)
		:
		fDirectory(directory),
		fFallbacks(fallbacks)
	{
	}
	~TempFile() { Discard(); }
	TempFile(const TempFile&) = delete;
	TempFile& operator=(const TempFile&) = delete;

	// Creates the file without a name where the file system can, so that
	// it goes with the process however that ends, and as
	// ".<finalName>.XXXXXX" otherwise (shortened when too long for the file
	// system). Returns 0 or the error.
	int Create(const std::string& finalName, long nameMax)
	{
		fNameMax = nameMax;
		// The nameless file gets its name through /proc at the end, as a
		// hard link.
		if (!fFallbacks.noTmpFile && !fFallbacks.noHardLinks && access("/proc/self/fd", X_OK) == 0) {
			const int fd = openat(fDirectory, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
			if (fd >= 0) {
				fFd.Reset(fd);
				fNameless = true;
				return 0;
			}
		}
		const std::string stem = Stem(finalName);
		int error = EEXIST;
		for (int attempt = 0; attempt < 100; attempt++) {
			std::string name = stem + "." + RandomSuffix();
			SignalBlock block;
			fName = std::move(name);
			fSlot = RegisterTemp(fDirectory, fName.c_str());
			const int fd = openat(fDirectory, fName.c_str(),
				O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
			if (fd >= 0) {
				fFd.Reset(fd);
				if (fstat(fd, &fIdentity) != 0)
					std::memset(&fIdentity, 0, sizeof(fIdentity));
				return 0;
			}
			error = errno;
			Forget();
			if (error != EEXIST)
				break;
		}
		return error;
	}

	int Fd() const { return fFd.Get(); }
	const std::string& Name() const { return fName; }

	// Syncs and closes; returns 0 or the error. synced tells whether the
	// data reached the disk (false where the file system cannot sync).
	int Finish(bool& synced)
	{
		synced = false;
		if (fsync(fFd.Get()) == 0)
			synced = true;
		else if (errno != EINVAL && errno != EROFS)
			return errno;
		// A nameless file is closed once it has its name.
		return fNameless ? 0 : fFd.Close();
	}

	// Gives the finished file its name. With replace it is renamed over
	// finalName, unless that is the file `input`. Otherwise it takes the
	// first free name of finalName, "<stem> (2).mp3", "<stem> (3).mp3"...
	// without ever replacing a file, whoever else is naming files there at
	// the same moment. name gets the name taken, or the last one tried.
	// Returns 0 or the error: EEXIST when every name is taken,
	// ENAMETOOLONG when a numbered name is too long, kIsTheInput.
	int Commit(const std::string& finalName, bool replace, const struct stat& input,
		std::string& name)
	{
		if (replace) {
			name = finalName;
			return Replace(finalName, input);
		}
		for (int number = 1; number <= kMaxNameNumber; number++) {
			name = NumberedName(finalName, number);
			if (fNameMax > 0 && name.size() > static_cast<size_t>(fNameMax))
				return ENAMETOOLONG;
			const int error = fNameless ? LinkNameless(name) : MoveNoReplace(name);
			if (error != EEXIST)
				return error;
		}
		return EEXIST;
	}

	void Discard()
	{
		fFd.Reset();
		if (fName.empty())
			return;
		SignalBlock block;
		unlinkat(fDirectory, fName.c_str(), 0);
		Forget();
	}

private:
	// ".<finalName>", shortened so that the random suffix still fits.
	std::string Stem(const std::string& finalName) const
	{
		std::string stem = "." + finalName;
		const size_t suffixLength = 7; // ".XXXXXX"
		if (fNameMax > 0 && stem.size() + suffixLength > static_cast<size_t>(fNameMax))
			stem.resize(static_cast<size_t>(fNameMax) > suffixLength ? fNameMax - suffixLength : 1);
		return stem;
	}

	std::string SelfPath() const { return "/proc/self/fd/" + std::to_string(fFd.Get()); }

	// The temporary name is no longer the file's (or never was); the
	// caller blocks the signals.
	void Forget()
	{
		UnregisterTemp(fSlot);
		fSlot = -1;
		fName.clear();
	}

	// A link fails where a name exists, whatever it names: the nameless
	// file appears under its final name complete, or not at all.
	int LinkNameless(const std::string& name)
	{
		if (linkat(AT_FDCWD, SelfPath().c_str(), fDirectory, name.c_str(), AT_SYMLINK_FOLLOW) != 0)
			return errno;
		fNameless = false;
		fFd.Reset(); // synced already: nothing to learn from close
		return 0;
	}

	// The named temporary file to name, never replacing what is there: the
	// signals wait meanwhile, so that the handler finds the temporary file
	// registered exactly while it has its temporary name.
	int MoveNoReplace(const std::string& name)
	{
		SignalBlock block;
		if (!fFallbacks.noRenameNoReplace && fRenameNoReplace) {
			if (renameat2(fDirectory, fName.c_str(), fDirectory, name.c_str(), RENAME_NOREPLACE) == 0) {
				Forget();
				return 0;
			}
			const int error = errno;
			if (!RenameFlagsUnsupported(error))
				return error;
			fRenameNoReplace = false; // as NFS: links are the next best thing
		}
		if (!fFallbacks.noHardLinks && fHardLinks) {
			int error = linkat(fDirectory, fName.c_str(), fDirectory, name.c_str(), 0) == 0 ? 0 : errno;
			// Over NFS a link whose reply was lost is retried, and the retry
			// finds the name: the file's own.
			struct stat there;
			if (error == EEXIST && fstatat(fDirectory, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0
					&& fIdentity.st_ino != 0 && SameFile(there, fIdentity)) {
				error = 0;
			}
			if (error == 0) {
				unlinkat(fDirectory, fName.c_str(), 0);
				Forget();
				return 0;
			}
			if (!HardLinksUnsupported(error))
				return error;
			fHardLinks = false; // as vfat
		}
		return MoveOverPlaceholder(name);
	}

	// Neither flag nor links: the name is claimed with an empty file made
	// with O_EXCL, which the rename then replaces. It is checked to be
	// still that empty file just before; the signals wait throughout.
	int MoveOverPlaceholder(const std::string& name)
	{
		const int fd = openat(fDirectory, name.c_str(),
			O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
		if (fd < 0)
			return errno;
		struct stat own;
		const bool known = fstat(fd, &own) == 0;
		close(fd);
		struct stat there;
		if (!known || fstatat(fDirectory, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0
				|| !SameFile(there, own) || there.st_size != 0) {
			// Someone else's now: leave it be.
			return EEXIST;
		}
		if (renameat(fDirectory, fName.c_str(), fDirectory, name.c_str()) != 0) {
			const int error = errno;
			unlinkat(fDirectory, name.c_str(), 0);
			return error;
		}
		Forget();
		return 0;
	}

	// Renames over finalName; a nameless file is first linked in under a
	// temporary name, as rename cannot take it.
	int Replace(const std::string& finalName, const struct stat& input)
	{
		if (fNameless) {
			const std::string self = SelfPath();
			int error = EEXIST;
			for (int attempt = 0; attempt < 100 && error == EEXIST; attempt++) {
				SignalBlock block;
				fName = Stem(finalName) + "." + RandomSuffix();
				fSlot = RegisterTemp(fDirectory, fName.c_str());
				error = linkat(AT_FDCWD, self.c_str(), fDirectory, fName.c_str(), AT_SYMLINK_FOLLOW) == 0
					? 0 : errno;
				if (error != 0)
					Forget();
			}
			if (error != 0)
				return error;
			fNameless = false;
			fFd.Reset();
		}
		SignalBlock block;
		struct stat existing;
		if (fstatat(fDirectory, finalName.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0
				&& SameFile(existing, input)) {
			return kIsTheInput;
		}
		if (renameat(fDirectory, fName.c_str(), fDirectory, finalName.c_str()) != 0)
			return errno;
		Forget();
		return 0;
	}

	int fDirectory;
	Options::WriteFallbacks fFallbacks;
	UniqueFd fFd;
	std::string fName;
	int fSlot = -1;
	long fNameMax = 0;
	bool fNameless = false;
	struct stat fIdentity {};     // of the named temporary file
	bool fRenameNoReplace = true; // false once the file system refused the flag
	bool fHardLinks = true;       // false once it refused a link
};

} // namespace gogo
