#include "FileOps.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <ctime>

#include <fcntl.h>

namespace gogo {

std::string ErrnoText(int error)
{
	return std::strerror(error);
}

int OpenDirectory(const std::string& path, bool create, int* syncError)
{
	const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
	int current;
	size_t position = 0;
	if (!path.empty() && path[0] == '/') {
		current = open("/", flags);
		position = 1;
	} else {
		current = open(".", flags);
	}
	if (current < 0)
		return -1;

	while (position < path.size()) {
		size_t end = path.find('/', position);
		if (end == std::string::npos)
			end = path.size();
		const std::string component = path.substr(position, end - position);
		position = end + 1;
		if (component.empty() || component == ".")
			continue;

		int next = openat(current, component.c_str(), flags);
		if (next < 0 && errno == ENOENT && create) {
			if (mkdirat(current, component.c_str(), 0777) == 0) {
				// An MP3 in a directory whose own entry is lost in a crash is
				// lost with it.
				if (fsync(current) != 0 && syncError != nullptr && *syncError == 0)
					*syncError = errno;
			} else if (errno != EEXIST) {
				const int error = errno;
				close(current);
				errno = error;
				return -1;
			}
			next = openat(current, component.c_str(), flags);
		}
		const int error = errno;
		close(current);
		if (next < 0) {
			errno = error;
			return -1;
		}
		current = next;
	}
	return current;
}


bool WriteAll(int fd, const unsigned char* data, size_t size, int& error, off_t offset)
{
	while (size > 0) {
		const ssize_t written
			= offset < 0 ? write(fd, data, size) : pwrite(fd, data, size, offset);
		if (written < 0) {
			if (errno == EINTR)
				continue;
			error = errno;
			return false;
		}
		if (written == 0) {
			error = EIO;
			return false;
		}
		data += written;
		size -= static_cast<size_t>(written);
		if (offset >= 0)
			offset += written;
	}
	return true;
}


std::string RandomSuffix()
{
	static const char kChars[] =
		"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
	static std::atomic<uint64_t> counter{0};
	struct timespec now;
	clock_gettime(CLOCK_REALTIME, &now);
	uint64_t state = static_cast<uint64_t>(now.tv_nsec) ^ (static_cast<uint64_t>(now.tv_sec) << 20)
		^ (static_cast<uint64_t>(getpid()) << 40) ^ (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
	std::string suffix;
	for (int i = 0; i < 6; i++) {
		// splitmix64 step
		state += 0x9E3779B97F4A7C15ull;
		uint64_t z = state;
		z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
		z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
		z ^= z >> 31;
		suffix += kChars[z % (sizeof(kChars) - 1)];
	}
	return suffix;
}

bool SameFile(const struct stat& a, const struct stat& b)
{
	return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool RenameFlagsUnsupported(int error)
{
	return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == ENOTSUP;
}

bool HardLinksUnsupported(int error)
{
	return error == EPERM || error == ENOSYS || error == EOPNOTSUPP || error == ENOTSUP;
}

} // namespace gogo
