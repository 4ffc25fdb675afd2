// Replacing a user's file: what stays of the old file (its links, mode,
// owner, attributes, and all of it until the new one is complete), where
// the temporary goes, and the rewrite in place when no temporary can be
// made, which must never start without the room for all of it.

#include "AtomicFile.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <linux/falloc.h>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

using BPrivate::AtomicFile;
using BPrivate::gAtomicFileCalls;
using BPrivate::write_file_atomically;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

constexpr uid_t kNobody = 65534;

std::set<std::string> Entries(const std::string& path)
{
	std::set<std::string> names;
	if (DIR* dir = opendir(path.c_str())) {
		while (dirent* entry = readdir(dir)) {
			std::string name = entry->d_name;
			if (name != "." && name != "..")
				names.insert(name);
		}
		closedir(dir);
	}
	return names;
}

struct stat StatOf(const std::string& path)
{
	struct stat st;
	std::memset(&st, 0, sizeof st);
	EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
	return st;
}

bool KeepsUserAttributes(const std::string& directory)
{
	const std::string probe = directory + "/.probe";
	WriteFile(probe, "");
	const bool kept = setxattr(probe.c_str(), "user.probe", "1", 1, 0) == 0;
	unlink(probe.c_str());
	return kept;
}

int InChild(const std::function<int()>& body)
{
	const pid_t pid = fork();
	if (pid == 0)
		_exit(body());
	int status = 0;
	if (pid < 0 || waitpid(pid, &status, 0) != pid)
		return -1;
	return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool DropToNobody()
{
	return setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0
		&& geteuid() == kNobody;
}

// While it lives, creating a temporary fails with `createError` (no inode,
// no quota), and reserving room runs `reserve`.
class Calls {
public:
	using Reserve = BPrivate::AtomicFileCalls::ReserveFunction;
	explicit Calls(int createError, Reserve reserve = &fallocate)
		: fCreate(gAtomicFileCalls.create.load()), fReserve(gAtomicFileCalls.reserve.exchange(reserve))
	{
		sCreateError = createError;
		if (createError != 0)
			gAtomicFileCalls.create = &FailCreate;
	}
	~Calls()
	{
		gAtomicFileCalls.create = fCreate;
		gAtomicFileCalls.reserve = fReserve;
	}
	Calls(const Calls&) = delete;
	Calls& operator=(const Calls&) = delete;

private:
	static int FailCreate(int, const char*, int, mode_t)
	{
		errno = sCreateError;
		return -1;
	}
	static inline std::atomic<int> sCreateError{0};
	BPrivate::AtomicFileCalls::CreateFunction fCreate;
	Reserve fReserve;
};

int NoRoom(int, int, off_t, off_t)
{
	errno = ENOSPC;
	return -1;
}

// A file system that reserves only by growing the file, and runs out of
// room half way, having grown it.
int GrowsThenFails(int fd, int mode, off_t offset, off_t length)
{
	if (mode & FALLOC_FL_KEEP_SIZE) {
		errno = EOPNOTSUPP;
		return -1;
	}
	struct stat st;
	if (fstat(fd, &st) == 0 && offset + length / 2 > st.st_size)
		(void)!ftruncate(fd, offset + length / 2);
	errno = ENOSPC;
	return -1;
}

} // namespace

TEST(StorageAtomicFile, ANewFileHasTheModeAskedLessTheUmaskAndNothingElseIsLeft)
{
	TempDir dir;
	const mode_t mask = umask(0);
	umask(mask);
	EXPECT_EQ(BPrivate::current_umask(), mask);
	ASSERT_EQ(write_file_atomically(dir / "new", "contents\n", 0666), B_OK);
	EXPECT_EQ(ReadFile(dir / "new"), "contents\n");
	EXPECT_EQ(StatOf(dir / "new").st_mode & 07777, 0666 & ~mask);
	ASSERT_EQ(write_file_atomically(dir / "empty", "", 0640), B_OK);
	EXPECT_EQ(ReadFile(dir / "empty"), "");
	EXPECT_EQ(StatOf(dir / "empty").st_mode & 07777, 0640 & ~mask);
	EXPECT_EQ(Entries(dir.Path()), (std::set<std::string>{"new", "empty"}));
}

// The old file's looks go to the new one: its mode (private stays private),
// owner, and extended attributes; a link to it stays a link, at every step
// of a chain.
TEST(StorageAtomicFile, ReplacingKeepsLinksModeOwnerAndAttributes)
{
	TempDir dir;
	ASSERT_EQ(mkdir((dir / "real").c_str(), 0755), 0);
	const std::string target = dir / "real/file";
	ASSERT_TRUE(WriteFile(target, "old"));
	ASSERT_EQ(chown(target.c_str(), kNobody, kNobody), 0);
	ASSERT_EQ(chmod(target.c_str(), 0600), 0);
	const bool attributes = KeepsUserAttributes(dir.Path());
	if (attributes) {
		ASSERT_EQ(setxattr(target.c_str(), "user.comment", "kept", 4, 0), 0);
	}
	ASSERT_EQ(symlink(target.c_str(), (dir / "absolute").c_str()), 0);
	ASSERT_EQ(symlink("real/file", (dir / "relative").c_str()), 0);
	ASSERT_EQ(symlink("relative", (dir / "chained").c_str()), 0);

	for (const char* name : {"absolute", "relative", "chained"}) {
		SCOPED_TRACE(name);
		// Held open, the replaced file keeps what it had.
		const std::string previous = ReadFile(target);
		const int old = open(target.c_str(), O_RDONLY | O_CLOEXEC);
		ASSERT_GE(old, 0);
		const std::string contents = std::string("through ") + name + "\n";
		ASSERT_EQ(write_file_atomically(dir / name, contents), B_OK);
		EXPECT_TRUE(S_ISLNK(StatOf(dir / name).st_mode));
		EXPECT_EQ(ReadFile(target), contents);
		std::string kept(previous.size() + 1, '\0');
		kept.resize(size_t(std::max<ssize_t>(0, pread(old, kept.data(), kept.size(), 0))));
		EXPECT_EQ(kept, previous) << "replaced, not rewritten";
		close(old);
		const struct stat st = StatOf(target);
		EXPECT_EQ(st.st_mode & 07777, 0600u);
		EXPECT_EQ(st.st_uid, kNobody);
		EXPECT_EQ(st.st_gid, kNobody);
		if (attributes) {
			char value[8] = {};
			EXPECT_EQ(getxattr(target.c_str(), "user.comment", value, sizeof value), 4);
			EXPECT_STREQ(value, "kept");
		}
	}
	EXPECT_EQ(Entries(dir / "real"), (std::set<std::string>{"file"}));
	EXPECT_EQ(Entries(dir.Path()), (std::set<std::string>{"real", "absolute", "relative", "chained"}));
}

// The temporary lies beside the file, hidden, and holds the new contents
// while the old file is untouched; given up, it goes.
TEST(StorageAtomicFile, UntilCommittedTheOldFileStaysAndTheTemporaryIsBesideIt)
{
	TempDir dir;
	const std::string path = dir / "file";
	ASSERT_TRUE(WriteFile(path, "old"));
	{
		AtomicFile file;
		ASSERT_EQ(file.Open(path, 3), B_OK);
		EXPECT_FALSE(file.InPlace());
		EXPECT_EQ(file.TargetPath(), path);
		const std::string working = file.WorkingPath();
		EXPECT_EQ(working.substr(0, working.rfind('/')), dir.Path());
		EXPECT_EQ(working[working.rfind('/') + 1], '.');
		ASSERT_EQ(file.Write("new"), B_OK);
		EXPECT_EQ(ReadFile(working), "new");
		EXPECT_EQ(ReadFile(path), "old");
		EXPECT_EQ(Entries(dir.Path()).size(), 2u);
	}
	EXPECT_EQ(ReadFile(path), "old");
	EXPECT_EQ(Entries(dir.Path()), (std::set<std::string>{"file"}));

	AtomicFile file;
	ASSERT_EQ(file.Open(path, -1), B_OK);
	ASSERT_EQ(file.Write("new, of a length not told"), B_OK);
	ASSERT_EQ(file.Commit(), B_OK);
	EXPECT_EQ(ReadFile(path), "new, of a length not told");
	EXPECT_EQ(file.Commit(), B_NO_INIT) << "once";
	EXPECT_EQ(Entries(dir.Path()), (std::set<std::string>{"file"}));
}

// The size told is kept to: more is refused before it is written, less is
// not committed.
TEST(StorageAtomicFile, TheSizeToldIsTheSizeWritten)
{
	TempDir dir;
	const std::string path = dir / "file";
	ASSERT_TRUE(WriteFile(path, "old"));
	{
		AtomicFile file;
		ASSERT_EQ(file.Open(path, 4), B_OK);
		EXPECT_EQ(file.Write("12345"), B_BAD_VALUE);
		EXPECT_EQ(file.Commit(), B_NO_INIT);
	}
	{
		AtomicFile file;
		ASSERT_EQ(file.Open(path, 4), B_OK);
		ASSERT_EQ(file.Write("123"), B_OK);
		EXPECT_EQ(file.Commit(), B_BAD_VALUE);
	}
	EXPECT_EQ(ReadFile(path), "old");
	EXPECT_EQ(Entries(dir.Path()), (std::set<std::string>{"file"}));
}

TEST(StorageAtomicFile, WhatIsNoFileToReplaceIsRefusedAtOnce)
{
	TempDir dir;
	ASSERT_EQ(mkdir((dir / "folder").c_str(), 0755), 0);
	ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
	ASSERT_EQ(symlink("loop", (dir / "loop").c_str()), 0);
	EXPECT_EQ(write_file_atomically(dir / "folder", "x"), B_IS_A_DIRECTORY);
	EXPECT_EQ(write_file_atomically(dir / "fifo", "x", 0644, AtomicFile::Fallback::kInPlace),
		B_NOT_ALLOWED);
	EXPECT_EQ(write_file_atomically("/dev/null", "x"), B_NOT_ALLOWED);
	EXPECT_EQ(write_file_atomically(dir / "loop", "x"), B_LINK_LIMIT);
	EXPECT_EQ(write_file_atomically(dir / "missing/file", "x"), B_ENTRY_NOT_FOUND);
	EXPECT_EQ(write_file_atomically("", "x"), B_ENTRY_NOT_FOUND);
	EXPECT_EQ(Entries(dir.Path()), (std::set<std::string>{"folder", "fifo", "loop"}));
	EXPECT_TRUE(Entries(dir / "folder").empty());
	EXPECT_TRUE(S_ISFIFO(StatOf(dir / "fifo").st_mode));
}

TEST(StorageAtomicFile, AFullDiskLeavesTheOldFileAndNoTemporary)
{
	TempDir dir;
	const std::string path = dir / "file";
	ASSERT_TRUE(WriteFile(path, "old contents"));
	const std::string big(256 * 1024, 'n');
	const int result = InChild([&] {
		// The file size limit stands in for a full disk.
		signal(SIGXFSZ, SIG_IGN);
		rlimit limit{64 * 1024, 64 * 1024};
		if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
			return 100;
		return write_file_atomically(path, big) == B_OK ? 1 : 0;
	});
	EXPECT_EQ(result, 0);
	EXPECT_EQ(ReadFile(path), "old contents");
	EXPECT_EQ(Entries(dir.Path()), (std::set<std::string>{"file"}));
}

// No temporary can be created: without a fallback nothing changes; with
// one, the file is rewritten where it is once its room is reserved, and
// left byte for byte when the room cannot be had.
TEST(StorageAtomicFile, WithoutATemporaryOnlyAReservedRewriteInPlace)
{
	TempDir dir;
	const std::string path = dir / "file";
	const std::string old(5000, 'o');
	ASSERT_TRUE(WriteFile(path, old));
	ASSERT_EQ(chmod(path.c_str(), 0604), 0);
	const ino_t inode = StatOf(path).st_ino;
	const std::string longer(20000, 'l');
	constexpr auto kInPlace = AtomicFile::Fallback::kInPlace;

	for (int error : {ENOSPC, EDQUOT, EACCES}) {
		SCOPED_TRACE(std::strerror(error));
		{
			Calls calls(error);
			EXPECT_EQ(write_file_atomically(path, longer), status_from_errno(error));
			// The size must be known to reserve it.
			AtomicFile unknown;
			EXPECT_EQ(unknown.Open(path, -1, 0644, kInPlace), status_from_errno(error));
			EXPECT_FALSE(unknown.InPlace());
		}
		for (auto reserve : {&NoRoom, &GrowsThenFails}) {
			Calls calls(error, reserve);
			AtomicFile file;
			EXPECT_EQ(file.Open(path, off_t(longer.size()), 0644, kInPlace), B_DEVICE_FULL);
			EXPECT_TRUE(file.InPlace()) << "it was the reservation that failed";
			EXPECT_EQ(file.Write(longer), B_NO_INIT);
		}
		EXPECT_EQ(ReadFile(path), old);
		EXPECT_EQ(StatOf(path).st_size, off_t(old.size()));
	}

	Calls calls(ENOSPC);
	ASSERT_EQ(write_file_atomically(path, longer, 0644, kInPlace), B_OK);
	EXPECT_EQ(ReadFile(path), longer);
	ASSERT_EQ(write_file_atomically(path, "short", 0644, kInPlace), B_OK);
	EXPECT_EQ(ReadFile(path), "short");
	const struct stat st = StatOf(path);
	EXPECT_EQ(st.st_ino, inode);
	EXPECT_EQ(st.st_mode & 07777, 0604u);
	// Not more than the room reserved is ever written in place.
	AtomicFile file;
	ASSERT_EQ(file.Open(path, 3, 0644, kInPlace), B_OK);
	EXPECT_TRUE(file.InPlace());
	EXPECT_EQ(file.Write("four"), B_BAD_VALUE);
	EXPECT_EQ(ReadFile(path), "short");
	// And a missing file has nothing to fall back on.
	EXPECT_EQ(write_file_atomically(dir / "new", "x", 0644, kInPlace), B_DEVICE_FULL);
	EXPECT_EQ(Entries(dir.Path()), (std::set<std::string>{"file"}));
}

// A file with other hard links would keep its old contents under those
// names if it were replaced: it is refused, or rewritten in place.
TEST(StorageAtomicFile, AFileWithHardLinksIsNeverCutOffFromThem)
{
	TempDir dir;
	const std::string path = dir / "file";
	ASSERT_TRUE(WriteFile(path, "old"));
	ASSERT_EQ(link(path.c_str(), (dir / "other").c_str()), 0);
	EXPECT_EQ(write_file_atomically(path, "new"), B_NOT_ALLOWED);
	EXPECT_EQ(ReadFile(dir / "other"), "old");
	ASSERT_EQ(write_file_atomically(path, "new", 0644, AtomicFile::Fallback::kInPlace), B_OK);
	EXPECT_EQ(ReadFile(path), "new");
	EXPECT_EQ(ReadFile(dir / "other"), "new");
	EXPECT_EQ(Entries(dir.Path()), (std::set<std::string>{"file", "other"}));
}

// Saved by someone who may not give files away: their own file keeps its
// owner (a group they are not in cannot be kept); someone else's file is
// not taken over by a replacement.
TEST(StorageAtomicFile, AFileIsNeverGivenToWhoeverSavesIt)
{
	TempDir dir;
	ASSERT_EQ(chmod(dir.Path().c_str(), 0777), 0);
	const std::string ours = dir / "ours";
	const std::string theirs = dir / "theirs";
	ASSERT_TRUE(WriteFile(ours, "old ours"));
	ASSERT_EQ(chown(ours.c_str(), kNobody, 0), 0);
	ASSERT_EQ(chmod(ours.c_str(), 0640), 0);
	ASSERT_TRUE(WriteFile(theirs, "old theirs"));
	ASSERT_EQ(chmod(theirs.c_str(), 0666), 0);

	const int result = InChild([&] {
		if (!DropToNobody())
			return 100;
		if (write_file_atomically(ours, "new ours") != B_OK)
			return 1;
		if (write_file_atomically(theirs, "new theirs") != B_NOT_ALLOWED)
			return 2;
		if (ReadFile(theirs) != "old theirs")
			return 3;
		if (write_file_atomically(theirs, "in place", 0644, AtomicFile::Fallback::kInPlace) != B_OK)
			return 4;
		return 0;
	});
	if (result == 100)
		GTEST_SKIP() << "cannot give up root here";
	ASSERT_EQ(result, 0);
	EXPECT_EQ(ReadFile(ours), "new ours");
	EXPECT_EQ(StatOf(ours).st_uid, kNobody);
	EXPECT_EQ(StatOf(ours).st_mode & 07777, 0640u);
	EXPECT_EQ(ReadFile(theirs), "in place");
	EXPECT_EQ(StatOf(theirs).st_uid, 0u);
	EXPECT_EQ(Entries(dir.Path()), (std::set<std::string>{"ours", "theirs"}));
}

// A drop box: a folder others may write in but not list. The file is made
// there all the same.
TEST(StorageAtomicFile, AFolderThatCannotBeListedStillTakesTheFile)
{
	TempDir dir;
	ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
	const std::string box = dir / "box";
	ASSERT_EQ(mkdir(box.c_str(), 0733), 0);
	ASSERT_EQ(chmod(box.c_str(), 0733), 0);
	const int result = InChild([&] {
		if (!DropToNobody())
			return 100;
		return write_file_atomically(box + "/file", "dropped") == B_OK ? 0 : 1;
	});
	if (result == 100)
		GTEST_SKIP() << "cannot give up root here";
	EXPECT_EQ(result, 0);
	EXPECT_EQ(ReadFile(box + "/file"), "dropped");
	EXPECT_EQ(Entries(box), (std::set<std::string>{"file"}));
}
