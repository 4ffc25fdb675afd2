// The file operations the encoder is built from: descriptors, directories
// walked one component at a time, complete writes, temporary names.
#pragma once

#include <cerrno>
#include <cstddef>
#include <string>

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace gogo {

std::string ErrnoText(int error);

class FileDescriptor {
public:
	FileDescriptor() = default;
	explicit FileDescriptor(int fd) : fFd(fd) {}
	~FileDescriptor() { Reset(); }
	FileDescriptor(const FileDescriptor&) = delete;
	FileDescriptor& operator=(const FileDescriptor&) = delete;
	int Get() const { return fFd; }
	void Reset(int fd = -1)
	{
		if (fFd >= 0)
			close(fFd);
		fFd = fd;
	}
	// Closes, returning 0 or the error.
	int Close()
	{
		if (fFd < 0)
			return 0;
		const int result = close(fFd);
		fFd = -1;
		return result == 0 || errno == EINTR ? 0 : errno;
	}

private:
	int fFd = -1;
};

// Opens a directory by walking its path one component at a time, so that
// any length works; with create, missing components are made (mkdir -p),
// each new one's entry synced in its parent, and syncError gets the first
// error of those syncs (or stays 0). Returns the descriptor, or -1 with
// errno set.
int OpenDirectory(const std::string& path, bool create, int* syncError = nullptr);

// Writes all of data, at the file's position or, with an offset, there.
bool WriteAll(int fd, const unsigned char* data, size_t size, int& error, off_t offset = -1);

// Six characters for a temporary name, different in each call.
std::string RandomSuffix();

bool SameFile(const struct stat& a, const struct stat& b);

// The errors of a call that the file system does not support, as opposed
// to one that failed.
bool RenameFlagsUnsupported(int error);
bool HardLinksUnsupported(int error);

} // namespace gogo
