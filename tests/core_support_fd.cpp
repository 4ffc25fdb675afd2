// UniqueFd: the one owner of a file descriptor that the kit, the program and
// the encoder share. Each descriptor is closed once, by whoever holds it
// last, and a close is never tried twice.
#include "UniqueFd.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace {

bool IsOpen(int fd)
{
	return fcntl(fd, F_GETFD) != -1;
}

struct Pipe {
	int read = -1;
	int write = -1;
};

Pipe MakePipe()
{
	int fds[2];
	EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0);
	return {fds[0], fds[1]};
}

} // namespace

TEST(SupportUniqueFd, OwnershipMovesAndEndsInOneClose)
{
	const Pipe pipe = MakePipe();
	{
		UniqueFd first(pipe.read);
		UniqueFd second(std::move(first));
		EXPECT_FALSE(first.IsValid());
		EXPECT_EQ(second.Get(), pipe.read);
		UniqueFd third;
		EXPECT_FALSE(third.IsValid());
		third = std::move(second);
		EXPECT_FALSE(second.IsValid());
		EXPECT_TRUE(IsOpen(pipe.read));
	}
	EXPECT_FALSE(IsOpen(pipe.read));

	// Taking another descriptor closes the one held before.
	{
		UniqueFd owner(pipe.write);
		const Pipe other = MakePipe();
		owner = UniqueFd(other.read);
		EXPECT_FALSE(IsOpen(pipe.write));
		EXPECT_TRUE(IsOpen(other.read));
		owner.Reset(other.write);
		EXPECT_FALSE(IsOpen(other.read));
		EXPECT_TRUE(IsOpen(other.write));
	}

	// Released, it is the caller's again.
	const Pipe released = MakePipe();
	{
		UniqueFd owner(released.read);
		EXPECT_EQ(owner.Release(), released.read);
		EXPECT_FALSE(owner.IsValid());
	}
	EXPECT_TRUE(IsOpen(released.read));
	close(released.read);
	close(released.write);
}

TEST(SupportUniqueFd, CloseReportsResetKeepsErrno)
{
	const Pipe pipe = MakePipe();
	UniqueFd owner(pipe.read);
	EXPECT_EQ(owner.Close(), 0);
	EXPECT_FALSE(owner.IsValid());
	EXPECT_FALSE(IsOpen(pipe.read));
	EXPECT_EQ(owner.Close(), 0) << "nothing held, nothing to close";

	// A failed close is reported once; the number is not tried again.
	UniqueFd stale(pipe.read);
	EXPECT_EQ(stale.Close(), EBADF);
	EXPECT_FALSE(stale.IsValid());
	EXPECT_EQ(stale.Close(), 0);

	// A clean-up on an error path leaves the caller's errno alone, even when
	// the close itself fails.
	UniqueFd writer(pipe.write);
	UniqueFd bad(pipe.read);
	errno = ENOSPC;
	writer.Reset();
	bad.Reset();
	EXPECT_EQ(errno, ENOSPC);
	EXPECT_FALSE(IsOpen(pipe.write));
}
