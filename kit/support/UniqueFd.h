// A file descriptor with one owner, closed when the owner goes. Header-only
// and free of the kit's types, so that the bundled encoder can use it too.
//
// Linux releases a descriptor even when close() fails, EINTR included, so a
// close is never tried twice: another thread may already have been given the
// same number. EINTR from close() is no failure either: the data was handed
// over, there is nothing left to redo.
#pragma once

#include <cerrno>
#include <unistd.h>
#include <utility>

class UniqueFd {
public:
	UniqueFd() noexcept = default;
	explicit UniqueFd(int fd) noexcept : fFd(fd) {}
	~UniqueFd() { Reset(); }

	UniqueFd(const UniqueFd&) = delete;
	UniqueFd& operator=(const UniqueFd&) = delete;
	UniqueFd(UniqueFd&& other) noexcept : fFd(other.Release()) {}
	UniqueFd& operator=(UniqueFd&& other) noexcept
	{
		if (this != &other)
			Reset(other.Release());
		return *this;
	}

	int Get() const noexcept { return fFd; }
	bool IsValid() const noexcept { return fFd >= 0; }

	// Gives the descriptor up without closing it.
	int Release() noexcept { return std::exchange(fFd, -1); }

	// Closes the descriptor held, if any, and takes `fd` in its place. A
	// failed close is not reported, and errno stays as it was, so that a
	// caller's error survives the clean-up.
	void Reset(int fd = -1) noexcept
	{
		const int old = std::exchange(fFd, fd);
		if (old >= 0) {
			const int saved = errno;
			::close(old);
			errno = saved;
		}
	}

	// Closes now, for a caller that needs to know how it went (a delayed
	// write error may show only here): 0, or the error number.
	int Close() noexcept
	{
		const int old = Release();
		if (old < 0 || ::close(old) == 0 || errno == EINTR)
			return 0;
		return errno;
	}

private:
	int fFd = -1;
};
