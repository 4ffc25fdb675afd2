// BNode and BFile on real files: open modes, reading and writing, and the
// cases that root cannot simply be denied (tested from an unprivileged child
// process, or with the immutable flag) or that Linux adds (a running
// executable).
#include <Entry.h>
#include <File.h>

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <linux/fs.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

extern char** environ;

TEST(StorageFile, OpenModesMapOntoTheKernelsFlags)
{
	TempDir dir;
	const std::string path = dir / "list.tsq";

	EXPECT_EQ(BFile(path.c_str(), B_READ_ONLY).InitCheck(), B_ENTRY_NOT_FOUND);
	EXPECT_EQ(BFile(path.c_str(), B_WRITE_ONLY).InitCheck(), B_ENTRY_NOT_FOUND);

	// The mode the list is saved with: create, or empty what is there.
	constexpr uint32 kSaveMode = B_WRITE_ONLY | B_CREATE_FILE | B_ERASE_FILE;
	static_assert(kSaveMode == 0x0601);
	{
		BFile file(path.c_str(), kSaveMode);
		ASSERT_EQ(file.InitCheck(), B_OK);
		EXPECT_TRUE(file.IsWritable());
		EXPECT_FALSE(file.IsReadable());
		EXPECT_EQ(file.Write("first version", 13), 13);
		char byte;
		EXPECT_EQ(file.Read(&byte, 1), B_FILE_ERROR) << "write-only";
	}
	EXPECT_EQ(ReadFile(path), "first version");
	{
		BFile file(path.c_str(), kSaveMode);
		ASSERT_EQ(file.InitCheck(), B_OK);
		EXPECT_EQ(file.Write("v2", 2), 2);
	}
	EXPECT_EQ(ReadFile(path), "v2");

	EXPECT_EQ(BFile(path.c_str(), B_WRITE_ONLY | B_CREATE_FILE | B_FAIL_IF_EXISTS).InitCheck(),
		B_FILE_EXISTS);
	{
		BFile file(path.c_str(), B_WRITE_ONLY | B_OPEN_AT_END);
		ASSERT_EQ(file.InitCheck(), B_OK);
		EXPECT_EQ(file.Write("+", 1), 1);
	}
	EXPECT_EQ(ReadFile(path), "v2+");
	{
		BFile file(path.c_str(), B_READ_WRITE);
		ASSERT_EQ(file.InitCheck(), B_OK);
		EXPECT_TRUE(file.IsReadable());
		EXPECT_TRUE(file.IsWritable());
		char buffer[8] = {};
		EXPECT_EQ(file.Read(buffer, sizeof(buffer)), 3);
		EXPECT_STREQ(buffer, "v2+");
		EXPECT_EQ(file.Read(buffer, sizeof(buffer)), 0) << "end of file";
		off_t_ size = -1;
		EXPECT_EQ(file.GetSize(&size), B_OK);
		EXPECT_EQ(size, 3);
		EXPECT_EQ(file.Sync(), B_OK);
	}
	// The close-on-exec flag is always set.
	BFile file(path.c_str(), B_READ_ONLY);
	ASSERT_EQ(file.InitCheck(), B_OK);
	EXPECT_NE(fcntl(file.FileDescriptor(), F_GETFD) & FD_CLOEXEC, 0);
	EXPECT_EQ(BFile(path.c_str(), 0x0003).InitCheck(), B_BAD_VALUE);
	EXPECT_EQ(BFile(path.c_str(), 0x8000).InitCheck(), B_BAD_VALUE);
}

TEST(StorageFile, FromRefAndEntryAndNotAtAll)
{
	TempDir dir;
	const std::string path = dir / "f";
	ASSERT_TRUE(WriteFile(path, "abc"));
	entry_ref ref;
	ASSERT_EQ(get_ref_for_path(path.c_str(), &ref), B_OK);
	EXPECT_EQ(BFile(&ref, B_READ_ONLY).InitCheck(), B_OK);
	BEntry entry(path.c_str());
	EXPECT_EQ(BFile(&entry, B_READ_ONLY).InitCheck(), B_OK);

	BEntry unset;
	EXPECT_EQ(BFile(&unset, B_READ_ONLY).InitCheck(), B_NO_INIT);
	BFile none;
	EXPECT_EQ(none.InitCheck(), B_NO_INIT);
	char byte;
	EXPECT_EQ(none.Read(&byte, 1), B_FILE_ERROR);
	EXPECT_EQ(none.Write(&byte, 1), B_FILE_ERROR);
	EXPECT_EQ(none.Sync(), B_FILE_ERROR);
	EXPECT_FALSE(none.IsReadable());
	EXPECT_FALSE(none.IsWritable());

	BFile file(path.c_str(), B_READ_ONLY);
	file.Unset();
	EXPECT_EQ(file.InitCheck(), B_NO_INIT);
	EXPECT_EQ(file.FileDescriptor(), -1);
}

TEST(StorageFile, WritesThroughALinkAndCreatesItsTarget)
{
	TempDir dir;
	ASSERT_EQ(symlink("target", (dir / "link").c_str()), 0);
	BEntry link((dir / "link").c_str(), false);
	BFile file(&link, B_WRITE_ONLY | B_CREATE_FILE | B_ERASE_FILE);
	ASSERT_EQ(file.InitCheck(), B_OK);
	EXPECT_EQ(file.Write("x", 1), 1);
	EXPECT_EQ(ReadFile(dir / "target"), "x");
	EXPECT_TRUE(link.IsSymLink());
}

TEST(StorageFile, DirectoriesAreNodesButNotFiles)
{
	TempDir dir;
	BNode node(dir.Path().c_str());
	EXPECT_EQ(node.InitCheck(), B_OK);
	EXPECT_EQ(BFile(dir.Path().c_str(), B_READ_ONLY).InitCheck(), B_IS_A_DIRECTORY);
	EXPECT_EQ(BFile(dir.Path().c_str(), B_READ_WRITE).InitCheck(), B_IS_A_DIRECTORY);
}

TEST(StorageFile, AFifoWithoutWriterDoesNotBlockTheOpen)
{
	TempDir dir;
	const std::string fifo = dir / "fifo";
	ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
	BNode node(fifo.c_str());
	EXPECT_EQ(node.InitCheck(), B_OK);
	BFile reader(fifo.c_str(), B_READ_ONLY);
	EXPECT_EQ(reader.InitCheck(), B_OK);
}

TEST(StorageFile, WriteReportsAFullDevice)
{
	// /dev/full accepts the open and fails every write with ENOSPC.
	BFile full("/dev/full", B_WRITE_ONLY);
	if (full.InitCheck() != B_OK)
		GTEST_SKIP() << "no /dev/full here";
	EXPECT_EQ(full.Write("line\n", 5), B_DEVICE_FULL);
}

namespace {

// Runs `check` in a child process that has given up root; returns its exit
// code, or -1 when the child could not drop its privileges.
int RunUnprivileged(const std::function<int()>& check)
{
	pid_t pid = fork();
	if (pid == 0) {
		if (setgid(65534) != 0 || setuid(65534) != 0)
			_exit(100);
		_exit(check());
	}
	int status = 0;
	waitpid(pid, &status, 0);
	if (!WIFEXITED(status) || WEXITSTATUS(status) == 100)
		return -1;
	return WEXITSTATUS(status);
}

// Sets or clears the immutable flag; false where the file system or the
// capabilities do not allow it.
bool SetImmutable(const std::string& path, bool immutable)
{
	int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
	if (fd < 0)
		return false;
	int flags = 0;
	bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
	if (ok) {
		flags = immutable ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
		ok = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
	}
	close(fd);
	return ok;
}

} // namespace

TEST(StorageFile, ReadOnlyFileForAnUnprivilegedUser)
{
	if (geteuid() != 0)
		GTEST_SKIP() << "needs root to switch to another user";
	TempDir dir;
	ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
	const std::string path = dir / "readonly";
	ASSERT_TRUE(WriteFile(path, "keep"));
	ASSERT_EQ(chmod(path.c_str(), 0444), 0);

	int result = RunUnprivileged([&] {
		BFile write(path.c_str(), B_WRITE_ONLY | B_ERASE_FILE);
		if (write.InitCheck() != B_PERMISSION_DENIED)
			return 1;
		BFile read(path.c_str(), B_READ_ONLY);
		if (read.InitCheck() != B_OK)
			return 2;
		// Attributes need write permission on the node, not on the descriptor.
		if (read.WriteAttr("a", B_RAW_TYPE, 0, "x", 1) != B_PERMISSION_DENIED)
			return 3;
		BFile create((dir / "new").c_str(), B_WRITE_ONLY | B_CREATE_FILE);
		if (create.InitCheck() != B_PERMISSION_DENIED)
			return 4;
		return 0;
	});
	if (result < 0)
		GTEST_SKIP() << "could not drop privileges";
	EXPECT_EQ(result, 0);
	EXPECT_EQ(ReadFile(path), "keep");
}

TEST(StorageFile, ImmutableFileDeniesEvenRoot)
{
	TempDir dir;
	const std::string path = dir / "immutable";
	ASSERT_TRUE(WriteFile(path, "keep"));
	if (!SetImmutable(path, true))
		GTEST_SKIP() << "the immutable flag is not available here";
	BFile write(path.c_str(), B_WRITE_ONLY | B_CREATE_FILE | B_ERASE_FILE);
	EXPECT_EQ(write.InitCheck(), B_PERMISSION_DENIED);
	BFile read(path.c_str(), B_READ_ONLY);
	EXPECT_EQ(read.InitCheck(), B_OK);
	EXPECT_EQ(read.WriteAttr("a", B_RAW_TYPE, 0, "x", 1), B_PERMISSION_DENIED);
	EXPECT_EQ(BEntry(path.c_str()).Remove(), B_PERMISSION_DENIED);
	ASSERT_TRUE(SetImmutable(path, false));
	EXPECT_EQ(ReadFile(path), "keep");
}

TEST(StorageFile, RunningExecutableKeepsWritableAttributes)
{
	// Linux refuses to open a running program for writing (ETXTBSY). The
	// settings of the application live in attributes of its executable, so
	// a write mode still gives a node whose attributes can be written.
	TempDir dir;
	const std::string program = dir / "sleeper";
	std::filesystem::copy_file("/bin/sleep", program);
	ASSERT_EQ(chmod(program.c_str(), 0755), 0);
	pid_t pid = -1;
	char arg0[] = "sleeper";
	char arg1[] = "30";
	char* argv[] = {arg0, arg1, nullptr};
	ASSERT_EQ(posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ), 0);
	// The program is busy once the child has executed it.
	ASSERT_TRUE(testing_support::WaitUntil([&] {
		int fd = open(program.c_str(), O_WRONLY | O_CLOEXEC);
		if (fd >= 0)
			close(fd);
		return fd < 0 && errno == ETXTBSY;
	}));

	{
		BFile file(program.c_str(), B_WRITE_ONLY);
		ASSERT_EQ(file.InitCheck(), B_OK);
		EXPECT_FALSE(file.IsWritable());
		EXPECT_EQ(file.Write("x", 1), B_BUSY);
		EXPECT_EQ(file.WriteAttr("dont_close_on_add", B_BOOL_TYPE, 0, "\1", 1), 1);
		EXPECT_EQ(BFile(program.c_str(), B_WRITE_ONLY | B_ERASE_FILE).InitCheck(), B_BUSY)
			<< "emptying it is refused";
	}
	BFile reader(program.c_str(), B_READ_ONLY);
	char value = 0;
	EXPECT_EQ(reader.ReadAttr("dont_close_on_add", B_BOOL_TYPE, 0, &value, 1), 1);
	EXPECT_EQ(value, 1);

	kill(pid, SIGKILL);
	waitpid(pid, nullptr, 0);
}
