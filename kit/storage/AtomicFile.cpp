#include "AtomicFile.h"

#include "PathResolution.h"
#include "PathSplit.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/falloc.h>
#include <linux/limits.h>
#include <memory>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace BPrivate {

namespace {

// The temporary's name holds this much of the file's own name, so that a
// leftover after a crash can be told apart from others.
constexpr size_t kNameKept = 64;
// Tries at a fresh temporary name before giving up (another process could
// only collide by chance).
constexpr int kNameTries = 64;

int create_file(int directory, const char* name, int flags, mode_t mode)
{
	return ::openat(directory, name, flags, mode);
}

int reserve_space(int fd, int mode, off_t offset, off_t length)
{
	return ::fallocate(fd, mode, offset, length);
}

// Eight random bytes as hex; from the clock and a counter when the kernel
// has no randomness to give yet.
std::string random_suffix()
{
	uint64 value = 0;
	if (::getrandom(&value, sizeof value, GRND_NONBLOCK) != ssize_t(sizeof value)) {
		static std::atomic<uint64> counter{0};
		value = uint64(std::chrono::steady_clock::now().time_since_epoch().count())
			^ (uint64(::getpid()) << 40) ^ (counter.fetch_add(1) * 0x9e3779b97f4a7c15ull);
	}
	static constexpr char kDigits[] = "0123456789abcdef";
	std::string suffix(16, '0');
	for (char& digit : suffix) {
		digit = kDigits[value & 0xf];
		value >>= 4;
	}
	return suffix;
}

bool write_all(int fd, const char* data, size_t size, int* error)
{
	while (size > 0) {
		ssize_t written = ::write(fd, data, size);
		if (written < 0 && errno == EINTR)
			continue;
		if (written <= 0) {
			*error = written < 0 ? errno : EIO;
			return false;
		}
		data += written;
		size -= size_t(written);
	}
	return true;
}

int fallocate_retrying(AtomicFileCalls::ReserveFunction reserve, int fd, int mode, off_t offset,
	off_t length)
{
	for (;;) {
		if (reserve(fd, mode, offset, length) == 0)
			return 0;
		if (errno != EINTR)
			return errno;
	}
}

// Gives the temporary the extended attributes of the file it replaces
// (and with them its ACLs). What the kernel does not let us copy is left
// out: the contents matter more than a label.
void copy_attributes(const std::string& from, int to)
{
	ssize_t length = ::llistxattr(from.c_str(), nullptr, 0);
	if (length <= 0 || length > XATTR_LIST_MAX)
		return;
	std::unique_ptr<char[]> names(new (std::nothrow) char[size_t(length)]);
	std::unique_ptr<char[]> value(new (std::nothrow) char[XATTR_SIZE_MAX]);
	if (names == nullptr || value == nullptr)
		return;
	length = ::llistxattr(from.c_str(), names.get(), size_t(length));
	if (length <= 0)
		return;
	for (ssize_t at = 0; at < length;) {
		const char* name = names.get() + at;
		size_t nameLength = ::strnlen(name, size_t(length - at));
		at += ssize_t(nameLength) + 1;
		if (nameLength == 0 || at > length)
			continue;
		ssize_t size = ::lgetxattr(from.c_str(), name, value.get(), XATTR_SIZE_MAX);
		if (size >= 0)
			(void)::fsetxattr(to, name, value.get(), size_t(size), 0);
	}
}

} // namespace

AtomicFileCalls gAtomicFileCalls{&create_file, &reserve_space};

mode_t current_umask()
{
	// umask() would change it for a moment, for every thread.
	FILE* status = std::fopen("/proc/self/status", "re");
	mode_t mask = 022;
	if (status == nullptr)
		return mask;
	char* line = nullptr;
	size_t size = 0;
	while (::getline(&line, &size, status) >= 0) {
		unsigned value = 0;
		if (std::sscanf(line, "Umask: %o", &value) == 1) {
			mask = mode_t(value & 0777);
			break;
		}
	}
	std::free(line);
	std::fclose(status);
	return mask;
}

AtomicFile::~AtomicFile()
{
	RemoveTemporary();
}

void AtomicFile::RemoveTemporary()
{
	fFd.Reset();
	if (!fCommitted && !fTemporaryLeaf.empty() && fDirectory.IsValid())
		::unlinkat(fDirectory.Get(), fTemporaryLeaf.c_str(), 0);
	fTemporaryLeaf.clear();
	fWorking.clear();
}

status_t AtomicFile::Open(const std::string& path, off_t size, mode_t newMode, Fallback fallback)
{
	if (fDirectory.IsValid() || fFd.IsValid() || fCommitted || fFailed)
		return B_NOT_ALLOWED; // one file, once
	fFailed = true; // until it is ready
	fSize = size;
	fWritten = 0;
	status_t status = resolve_entry_path(path, true, &fTarget);
	if (status != B_OK)
		return status;
	std::string directory;
	SplitPath(fTarget, directory, fLeaf);
	if (fLeaf.empty())
		return B_IS_A_DIRECTORY;
	fDirectory.Reset(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
	fCanSyncDirectory = fDirectory.IsValid();
	// A folder we may write in but not list (a drop box) can still take
	// the file; only its own flush is then out of reach.
	if (!fDirectory.IsValid() && errno == EACCES)
		fDirectory.Reset(::open(directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
	if (!fDirectory.IsValid())
		return status_from_errno(errno);

	struct stat old;
	const bool exists = ::fstatat(fDirectory.Get(), fLeaf.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
	if (!exists && errno != ENOENT)
		return status_from_errno(errno);
	if (exists && S_ISDIR(old.st_mode))
		return B_IS_A_DIRECTORY;
	// A device or a FIFO is no file to replace; a link here came after the
	// path was resolved.
	if (exists && !S_ISREG(old.st_mode))
		return B_NOT_ALLOWED;

	bool mayFallBack = false;
	status = CreateTemporary(exists ? &old : nullptr, newMode, &mayFallBack);
	if (status == B_OK) {
		fFailed = false;
		return B_OK;
	}
	if (!exists || fallback != Fallback::kInPlace || fSize < 0 || !mayFallBack)
		return status;
	status = OpenInPlace();
	if (status == B_OK)
		fFailed = false;
	return status;
}

status_t AtomicFile::CreateTemporary(const struct stat* old, mode_t newMode, bool* mayFallBack)
{
	// A rename would leave the other names of the file with the old
	// contents.
	if (old != nullptr && old->st_nlink > 1) {
		*mayFallBack = true;
		return B_NOT_ALLOWED;
	}

	const AtomicFileCalls::CreateFunction create = gAtomicFileCalls.create.load();
	const std::string stem = "." + fLeaf.substr(0, kNameKept) + ".";
	int fd = -1;
	std::string name;
	for (int attempt = 0; attempt < kNameTries && fd < 0; attempt++) {
		name = stem + random_suffix();
		fd = create(fDirectory.Get(), name.c_str(),
			O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
		if (fd < 0 && errno != EEXIST) {
			*mayFallBack = true;
			return status_from_errno(errno);
		}
	}
	if (fd < 0) {
		*mayFallBack = true;
		return B_FILE_EXISTS;
	}
	fFd.Reset(fd);
	fTemporaryLeaf = name;
	std::string directory;
	std::string leaf;
	SplitPath(fTarget, directory, leaf);
	fWorking = join_path(directory, name);

	if (old == nullptr) {
		if (::fchmod(fd, newMode & ~current_umask() & 07777) != 0) {
			int error = errno;
			RemoveTemporary();
			return status_from_errno(error);
		}
		return B_OK;
	}

	struct stat made;
	if (::fstat(fd, &made) != 0) {
		int error = errno;
		RemoveTemporary();
		return status_from_errno(error);
	}
	if ((made.st_uid != old->st_uid || made.st_gid != old->st_gid)
		&& ::fchown(fd, old->st_uid, old->st_gid) != 0) {
		// Our own file in a group we are not in keeps our group; someone
		// else's file would change hands.
		if (errno != EPERM || old->st_uid != made.st_uid) {
			int error = errno;
			RemoveTemporary();
			*mayFallBack = true;
			return error == EPERM ? B_NOT_ALLOWED : status_from_errno(error);
		}
	}
	copy_attributes(fTarget, fd);
	// After the owner: a chown clears the set-id bits.
	if (::fchmod(fd, old->st_mode & 07777) != 0) {
		int error = errno;
		RemoveTemporary();
		return status_from_errno(error);
	}
	return B_OK;
}

status_t AtomicFile::OpenInPlace()
{
	UniqueFd opened(::openat(fDirectory.Get(), fLeaf.c_str(),
		O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK));
	if (!opened.IsValid())
		return status_from_errno(errno);
	const int fd = opened.Get();
	struct stat st;
	if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
		return B_NOT_ALLOWED;
	int flags = ::fcntl(fd, F_GETFL);
	if (flags >= 0)
		::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
	fFd = std::move(opened);
	fInPlace = true;
	fWorking = fTarget;
	if (fSize == 0)
		return B_OK;

	// The blocks for every byte of the new contents, holes of the old file
	// included, without changing its size: when that cannot be done, the
	// file is as it was.
	const AtomicFileCalls::ReserveFunction reserve = gAtomicFileCalls.reserve.load();
	int error = fallocate_retrying(reserve, fd, FALLOC_FL_KEEP_SIZE, 0, fSize);
	if (error == EOPNOTSUPP) {
		// Some file systems only reserve by growing the file; what grew is
		// cut off again if that fails.
		error = fallocate_retrying(reserve, fd, 0, 0, fSize);
		if (error != 0 && fSize > st.st_size) {
			struct stat now;
			if (::fstat(fd, &now) == 0 && now.st_size != st.st_size)
				(void)!::ftruncate(fd, st.st_size);
		}
	}
	if (error != 0) {
		fFd.Reset();
		return status_from_errno(error);
	}
	return B_OK;
}

status_t AtomicFile::Write(std::string_view bytes)
{
	if (!fFd.IsValid() || fFailed || fCommitted)
		return B_NO_INIT;
	// In place, only the reserved room may be written.
	if (fSize >= 0 && off_t(bytes.size()) > fSize - fWritten) {
		fFailed = true;
		return B_BAD_VALUE;
	}
	int error = 0;
	if (!write_all(fFd.Get(), bytes.data(), bytes.size(), &error)) {
		fFailed = true;
		return status_from_errno(error);
	}
	fWritten += off_t(bytes.size());
	return B_OK;
}

status_t AtomicFile::Commit()
{
	if (!fFd.IsValid() || fFailed || fCommitted)
		return B_NO_INIT;
	if (fSize >= 0 && fWritten != fSize) {
		fFailed = true;
		return B_BAD_VALUE;
	}
	if (fInPlace) {
		// Cuts off what is left of longer old contents.
		if (::ftruncate(fFd.Get(), fWritten) != 0 || ::fsync(fFd.Get()) != 0) {
			fFailed = true;
			return status_from_errno(errno);
		}
		fCommitted = true;
		// A delayed write error may show only here.
		if (const int error = fFd.Close(); error != 0)
			return status_from_errno(error);
		return B_OK;
	}

	if (::fsync(fFd.Get()) != 0) {
		fFailed = true;
		return status_from_errno(errno);
	}
	if (const int error = fFd.Close(); error != 0) {
		fFailed = true;
		return status_from_errno(error);
	}
	if (::renameat(fDirectory.Get(), fTemporaryLeaf.c_str(), fDirectory.Get(), fLeaf.c_str()) != 0) {
		fFailed = true;
		return status_from_errno(errno);
	}
	fCommitted = true;
	fTemporaryLeaf.clear();
	fWorking = fTarget;
	// The new name lasts only once the directory is on the disk too. Some
	// file systems cannot flush a directory (EINVAL); that is no failure.
	if (fCanSyncDirectory && ::fsync(fDirectory.Get()) != 0 && errno != EINVAL && errno != EROFS)
		return status_from_errno(errno);
	return B_OK;
}

status_t write_file_atomically(const std::string& path, std::string_view contents, mode_t newMode,
	AtomicFile::Fallback fallback)
{
	AtomicFile file;
	status_t status = file.Open(path, off_t(contents.size()), newMode, fallback);
	if (status == B_OK)
		status = file.Write(contents);
	if (status == B_OK)
		status = file.Commit();
	return status;
}

} // namespace BPrivate
