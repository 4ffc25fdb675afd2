#include <Entry.h>
#include <File.h>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uint32 kAccessMask = 0x0003;
constexpr uint32 kKnownModes
	= kAccessMask | B_CREATE_FILE | B_ERASE_FILE | B_FAIL_IF_EXISTS | B_OPEN_AT_END;

status_t open_flags(uint32 mode, int* flags)
{
	if ((mode & ~kKnownModes) != 0)
		return B_BAD_VALUE;
	switch (mode & kAccessMask) {
		case B_READ_ONLY:
			*flags = O_RDONLY;
			break;
		case B_WRITE_ONLY:
			*flags = O_WRONLY;
			break;
		case B_READ_WRITE:
			*flags = O_RDWR;
			break;
		default:
			return B_BAD_VALUE;
	}
	if (mode & B_CREATE_FILE)
		*flags |= O_CREAT;
	if (mode & B_ERASE_FILE)
		*flags |= O_TRUNC;
	if (mode & B_FAIL_IF_EXISTS)
		*flags |= O_EXCL;
	if (mode & B_OPEN_AT_END)
		*flags |= O_APPEND;
	return B_OK;
}

} // namespace

BFile::BFile(const entry_ref* ref, uint32 openMode)
{
	SetTo(ref, openMode);
}

BFile::BFile(const char* path, uint32 openMode)
{
	SetTo(path, openMode);
}

BFile::BFile(const BEntry* entry, uint32 openMode)
{
	SetTo(entry, openMode);
}

BFile::~BFile() = default;

void BFile::Unset()
{
	BNode::Unset();
	fMode = 0;
	fTextBusy = false;
}

status_t BFile::SetTo(const entry_ref* ref, uint32 openMode)
{
	Unset();
	if (ref == nullptr)
		return fInit = B_BAD_VALUE;
	std::string path = ref->Path();
	if (path.empty())
		return fInit = B_BAD_VALUE;
	return SetTo(path.c_str(), openMode);
}

status_t BFile::SetTo(const BEntry* entry, uint32 openMode)
{
	Unset();
	if (entry == nullptr)
		return fInit = B_BAD_VALUE;
	if (entry->InitCheck() != B_OK)
		return fInit = entry->InitCheck();
	return SetTo(entry->PathString().c_str(), openMode);
}

status_t BFile::SetTo(const char* path, uint32 openMode)
{
	Unset();
	if (path == nullptr)
		return fInit = B_BAD_VALUE;
	int flags = 0;
	status_t status = open_flags(openMode, &flags);
	if (status != B_OK)
		return fInit = status;

	status = OpenPath(path, flags);
	if (status == B_BUSY && (flags & O_ACCMODE) != O_RDONLY && (flags & O_TRUNC) == 0) {
		// A running executable cannot be opened for writing on Linux, but
		// its attributes can be written through a read-only descriptor.
		status = OpenPath(path, O_RDONLY);
		fTextBusy = status == B_OK;
	}
	if (status != B_OK)
		return status;

	struct stat st;
	if (fstat(fFd.Get(), &st) == 0 && S_ISDIR(st.st_mode)) {
		BNode::Unset();
		return fInit = B_IS_A_DIRECTORY;
	}
	fMode = fTextBusy ? uint32(B_READ_ONLY) : openMode;
	return B_OK;
}

ssize_t BFile::Read(void* buffer, size_t size)
{
	if (!fFd.IsValid())
		return B_FILE_ERROR;
	if (buffer == nullptr && size > 0)
		return B_BAD_VALUE;
	if (size > SSIZE_MAX)
		size = SSIZE_MAX;
	while (true) {
		ssize_t result = read(fFd.Get(), buffer, size);
		if (result >= 0)
			return result;
		if (errno != EINTR)
			return status_from_errno(errno);
	}
}

ssize_t BFile::Write(const void* buffer, size_t size)
{
	if (!fFd.IsValid())
		return B_FILE_ERROR;
	if (fTextBusy)
		return B_BUSY;
	if (buffer == nullptr && size > 0)
		return B_BAD_VALUE;
	if (size > SSIZE_MAX)
		size = SSIZE_MAX;
	const char* data = static_cast<const char*>(buffer);
	size_t written = 0;
	while (written < size) {
		ssize_t result = write(fFd.Get(), data + written, size - written);
		if (result > 0) {
			written += size_t(result);
			continue;
		}
		if (result < 0 && errno == EINTR)
			continue;
		if (written > 0)
			return ssize_t(written);
		return result < 0 ? status_from_errno(errno) : B_IO_ERROR;
	}
	return ssize_t(written);
}

status_t BFile::Sync()
{
	if (!fFd.IsValid())
		return B_FILE_ERROR;
	if (fsync(fFd.Get()) != 0)
		return status_from_errno(errno);
	return B_OK;
}

status_t BFile::GetSize(off_t_* size) const
{
	if (size == nullptr)
		return B_BAD_VALUE;
	if (!fFd.IsValid())
		return B_FILE_ERROR;
	struct stat st;
	if (fstat(fFd.Get(), &st) != 0)
		return status_from_errno(errno);
	*size = st.st_size;
	return B_OK;
}

bool BFile::IsReadable() const
{
	return fFd.IsValid() && (fMode & kAccessMask) != B_WRITE_ONLY;
}

bool BFile::IsWritable() const
{
	return fFd.IsValid() && !fTextBusy && (fMode & kAccessMask) != B_READ_ONLY;
}
