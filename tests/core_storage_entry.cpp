// Entries, refs and paths on real files: links of every kind, names that are
// not UTF-8, paths longer than the original platform's 1024 bytes; and the
// directory/leaf split of kit/support/PathSplit.h.
#include <Entry.h>
#include <File.h>
#include <Path.h>

#include "PathSplit.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

struct stat Stat(const std::string& path)
{
	struct stat st = {};
	EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
	return st;
}

std::string EntryPath(const BEntry& entry)
{
	BPath path;
	EXPECT_EQ(entry.GetPath(&path), B_OK);
	return path.Path() != nullptr ? path.Path() : "";
}

// The temporary directory itself may sit behind a link (/tmp often does).
std::string Real(const std::string& path)
{
	return std::filesystem::canonical(path).string();
}

class WorkingDirectory {
public:
	explicit WorkingDirectory(const std::string& path)
	{
		char buffer[4096];
		fOld = getcwd(buffer, sizeof(buffer)) != nullptr ? buffer : "/";
		EXPECT_EQ(chdir(path.c_str()), 0);
	}
	~WorkingDirectory() { EXPECT_EQ(chdir(fOld.c_str()), 0); }

private:
	std::string fOld;
};

} // namespace

TEST(StorageEntry, RegularFileAndItsRef)
{
	TempDir dir;
	const std::string file = Real(dir.Path()) + "/song.wav";
	ASSERT_TRUE(WriteFile(file, "RIFF"));

	BEntry entry(file.c_str());
	ASSERT_EQ(entry.InitCheck(), B_OK);
	EXPECT_TRUE(entry.Exists());
	EXPECT_TRUE(entry.IsFile());
	EXPECT_FALSE(entry.IsDirectory());
	EXPECT_FALSE(entry.IsSymLink());
	EXPECT_EQ(EntryPath(entry), file);
	char name[B_FILE_NAME_LENGTH];
	ASSERT_EQ(entry.GetName(name), B_OK);
	EXPECT_STREQ(name, "song.wav");

	entry_ref ref;
	ASSERT_EQ(entry.GetRef(&ref), B_OK);
	struct stat directory = Stat(Real(dir.Path()));
	EXPECT_EQ(ref.device, dev_t_(directory.st_dev));
	EXPECT_EQ(ref.directory, ino_t_(directory.st_ino));
	EXPECT_EQ(ref.name, "song.wav");
	EXPECT_EQ(ref.Path(), file);

	BEntry again(&ref);
	ASSERT_EQ(again.InitCheck(), B_OK);
	EXPECT_EQ(EntryPath(again), file);
	entry_ref second;
	ASSERT_EQ(get_ref_for_path(file.c_str(), &second), B_OK);
	EXPECT_EQ(ref, second);
}

TEST(StorageEntry, RefEqualityIsDeviceDirectoryAndName)
{
	entry_ref a(1, 2, "x", "/one");
	entry_ref b(1, 2, "x", "/another/path/to/the/same/directory");
	EXPECT_EQ(a, b);
	EXPECT_NE(a, entry_ref(1, 2, "y", "/one"));
	EXPECT_NE(a, entry_ref(1, 3, "x", "/one"));
	EXPECT_NE(a, entry_ref(2, 2, "x", "/one"));
	EXPECT_EQ(entry_ref(), entry_ref());
	EXPECT_EQ(entry_ref().Path(), "");
	EXPECT_EQ(entry_ref(1, 2, "leaf", "/").Path(), "/leaf");
	EXPECT_EQ(a.set_name(nullptr), B_BAD_VALUE);
	EXPECT_EQ(a.set_name("z"), B_OK);
	EXPECT_EQ(a.Path(), "/one/z");
}

TEST(StorageEntry, SameFileThroughALinkedDirectoryGivesTheSameRef)
{
	TempDir dir;
	const std::string real = Real(dir.Path());
	ASSERT_EQ(mkdir((real + "/music").c_str(), 0755), 0);
	ASSERT_TRUE(WriteFile(real + "/music/a.wav", ""));
	ASSERT_EQ(symlink("music", (real + "/alias").c_str()), 0);

	entry_ref direct;
	entry_ref viaLink;
	ASSERT_EQ(get_ref_for_path((real + "/music/a.wav").c_str(), &direct), B_OK);
	ASSERT_EQ(get_ref_for_path((real + "/alias/a.wav").c_str(), &viaLink), B_OK);
	EXPECT_EQ(direct, viaLink);
	EXPECT_EQ(viaLink.Path(), real + "/music/a.wav");
}

TEST(StorageEntry, MissingLeafIsSetButDoesNotExist)
{
	TempDir dir;
	const std::string path = Real(dir.Path()) + "/not-yet.tsq";
	BEntry entry(path.c_str());
	EXPECT_EQ(entry.InitCheck(), B_OK);
	EXPECT_FALSE(entry.Exists());
	EXPECT_FALSE(entry.IsFile());
	EXPECT_EQ(EntryPath(entry), path);
	entry_ref ref;
	EXPECT_EQ(entry.GetRef(&ref), B_OK);
	EXPECT_EQ(ref.name, "not-yet.tsq");

	BEntry missingDirectory((Real(dir.Path()) + "/nowhere/file").c_str());
	EXPECT_EQ(missingDirectory.InitCheck(), B_ENTRY_NOT_FOUND);
	EXPECT_FALSE(missingDirectory.Exists());
	EXPECT_EQ(missingDirectory.GetRef(&ref), B_ENTRY_NOT_FOUND);

	ASSERT_TRUE(WriteFile(Real(dir.Path()) + "/plain", "x"));
	BEntry underFile((Real(dir.Path()) + "/plain/child").c_str());
	EXPECT_NE(underFile.InitCheck(), B_OK);
}

TEST(StorageEntry, UnsetEntryAnswersNothing)
{
	BEntry entry;
	EXPECT_EQ(entry.InitCheck(), B_NO_INIT);
	EXPECT_FALSE(entry.Exists());
	entry_ref ref;
	EXPECT_EQ(entry.GetRef(&ref), B_NO_INIT);
	BPath path;
	EXPECT_EQ(entry.GetPath(&path), B_NO_INIT);
	EXPECT_EQ(path.Path(), nullptr);
	EXPECT_EQ(entry.Remove(), B_NO_INIT);
	EXPECT_EQ(BEntry(static_cast<const char*>(nullptr)).InitCheck(), B_BAD_VALUE);
	EXPECT_EQ(BEntry(static_cast<const entry_ref*>(nullptr)).InitCheck(), B_BAD_VALUE);
	entry_ref unset;
	EXPECT_EQ(BEntry(&unset).InitCheck(), B_BAD_VALUE);
	EXPECT_EQ(BEntry("").InitCheck(), B_ENTRY_NOT_FOUND);
}

TEST(StorageEntry, RelativePathsAreTakenFromTheWorkingDirectory)
{
	TempDir dir;
	const std::string real = Real(dir.Path());
	ASSERT_EQ(mkdir((real + "/sub").c_str(), 0755), 0);
	ASSERT_TRUE(WriteFile(real + "/sub/f", ""));
	WorkingDirectory cwd(real + "/sub");

	EXPECT_EQ(EntryPath(BEntry("f")), real + "/sub/f");
	EXPECT_EQ(EntryPath(BEntry("./f")), real + "/sub/f");
	EXPECT_EQ(EntryPath(BEntry("../sub//./f")), real + "/sub/f");
	EXPECT_EQ(EntryPath(BEntry(".")), real + "/sub");
	EXPECT_EQ(EntryPath(BEntry("..")), real);

	// ".." is taken from where a link leads, not by cutting the text.
	ASSERT_EQ(mkdir((real + "/deep").c_str(), 0755), 0);
	ASSERT_EQ(mkdir((real + "/deep/inner").c_str(), 0755), 0);
	ASSERT_EQ(symlink("deep/inner", (real + "/jump").c_str()), 0);
	EXPECT_EQ(EntryPath(BEntry("../jump/..")), real + "/deep");
	EXPECT_EQ(EntryPath(BEntry("../jump/../inner/x")), real + "/deep/inner/x");
}

TEST(StorageEntry, RootDirectory)
{
	BEntry root("/");
	ASSERT_EQ(root.InitCheck(), B_OK);
	EXPECT_TRUE(root.IsDirectory());
	EXPECT_EQ(EntryPath(root), "/");
	entry_ref ref;
	ASSERT_EQ(root.GetRef(&ref), B_OK);
	EXPECT_EQ(ref.Path(), "/");
	BEntry fromRef(&ref);
	EXPECT_EQ(EntryPath(fromRef), "/");
	BEntry parent;
	EXPECT_EQ(root.GetParent(&parent), B_ENTRY_NOT_FOUND);
	EXPECT_EQ(EntryPath(BEntry("/..//./")), "/");
}

TEST(StorageEntry, GetParentWalksUp)
{
	TempDir dir;
	const std::string real = Real(dir.Path());
	ASSERT_EQ(mkdir((real + "/a").c_str(), 0755), 0);
	BEntry entry((real + "/a/b").c_str());
	BEntry parent;
	ASSERT_EQ(entry.GetParent(&parent), B_OK);
	EXPECT_EQ(EntryPath(parent), real + "/a");
	EXPECT_TRUE(parent.IsDirectory());
	BEntry grandParent;
	ASSERT_EQ(parent.GetParent(&grandParent), B_OK);
	EXPECT_EQ(EntryPath(grandParent), real);
}

TEST(StorageEntry, LinkToAFile)
{
	TempDir dir;
	const std::string real = Real(dir.Path());
	ASSERT_TRUE(WriteFile(real + "/target", "data"));
	ASSERT_EQ(symlink("target", (real + "/link").c_str()), 0);

	BEntry link((real + "/link").c_str(), false);
	ASSERT_EQ(link.InitCheck(), B_OK);
	EXPECT_TRUE(link.IsSymLink());
	EXPECT_FALSE(link.IsFile());
	EXPECT_EQ(EntryPath(link), real + "/link");

	BEntry target((real + "/link").c_str(), true);
	ASSERT_EQ(target.InitCheck(), B_OK);
	EXPECT_TRUE(target.IsFile());
	EXPECT_FALSE(target.IsSymLink());
	EXPECT_EQ(EntryPath(target), real + "/target");

	// get_ref_for_path names the link itself.
	entry_ref ref;
	ASSERT_EQ(get_ref_for_path((real + "/link").c_str(), &ref), B_OK);
	EXPECT_EQ(ref.name, "link");
	BEntry fromRef(&ref, true);
	EXPECT_EQ(EntryPath(fromRef), real + "/target");
}

TEST(StorageEntry, DanglingLinks)
{
	TempDir dir;
	const std::string real = Real(dir.Path());
	ASSERT_EQ(symlink("gone", (real + "/dangling").c_str()), 0);
	ASSERT_EQ(symlink("nowhere/gone", (real + "/deep").c_str()), 0);

	BEntry link((real + "/dangling").c_str(), false);
	EXPECT_TRUE(link.Exists()) << "the link itself is there";
	EXPECT_TRUE(link.IsSymLink());

	BEntry end((real + "/dangling").c_str(), true);
	EXPECT_EQ(end.InitCheck(), B_OK) << "its directory exists";
	EXPECT_FALSE(end.Exists());
	EXPECT_EQ(EntryPath(end), real + "/gone");

	BEntry lost((real + "/deep").c_str(), true);
	EXPECT_EQ(lost.InitCheck(), B_ENTRY_NOT_FOUND);
}

TEST(StorageEntry, ChainsAbsoluteRelativeAndLooping)
{
	TempDir dir;
	const std::string real = Real(dir.Path());
	ASSERT_EQ(mkdir((real + "/d1").c_str(), 0755), 0);
	ASSERT_EQ(mkdir((real + "/d2").c_str(), 0755), 0);
	ASSERT_TRUE(WriteFile(real + "/d2/final", ""));
	// a -> d1/b -> (absolute) d1/c -> ../d2/final
	ASSERT_EQ(symlink("d1/b", (real + "/a").c_str()), 0);
	ASSERT_EQ(symlink((real + "/d1/c").c_str(), (real + "/d1/b").c_str()), 0);
	ASSERT_EQ(symlink("../d2/final", (real + "/d1/c").c_str()), 0);
	BEntry chain((real + "/a").c_str(), true);
	ASSERT_EQ(chain.InitCheck(), B_OK);
	EXPECT_EQ(EntryPath(chain), real + "/d2/final");
	EXPECT_TRUE(chain.IsFile());

	ASSERT_EQ(symlink("loop2", (real + "/loop1").c_str()), 0);
	ASSERT_EQ(symlink("loop1", (real + "/loop2").c_str()), 0);
	EXPECT_EQ(BEntry((real + "/loop1").c_str(), true).InitCheck(), B_LINK_LIMIT);
	EXPECT_EQ(BEntry((real + "/loop1").c_str(), false).InitCheck(), B_OK);

	// A linked directory in the middle of a path is resolved either way.
	ASSERT_EQ(symlink("d2", (real + "/dirlink").c_str()), 0);
	EXPECT_EQ(EntryPath(BEntry((real + "/dirlink/final").c_str(), false)), real + "/d2/final");
	// A link to a directory, not traversed, stays the link.
	BEntry dirLink((real + "/dirlink").c_str(), false);
	EXPECT_TRUE(dirLink.IsSymLink());
	EXPECT_TRUE(BEntry((real + "/dirlink").c_str(), true).IsDirectory());
}

TEST(StorageEntry, NamesThatAreNotUtf8)
{
	TempDir dir;
	const std::string real = Real(dir.Path());
	const std::string leaf = "caf\xe9-\xff\xfe.wav"; // Latin-1 and stray bytes
	const std::string path = real + "/" + leaf;
	ASSERT_TRUE(WriteFile(path, "x"));

	BEntry entry(path.c_str());
	ASSERT_EQ(entry.InitCheck(), B_OK);
	EXPECT_TRUE(entry.IsFile());
	char name[B_FILE_NAME_LENGTH];
	ASSERT_EQ(entry.GetName(name), B_OK);
	EXPECT_EQ(std::string(name), leaf);
	entry_ref ref;
	ASSERT_EQ(entry.GetRef(&ref), B_OK);
	EXPECT_EQ(ref.name, leaf);
	BPath asPath(&ref);
	EXPECT_EQ(std::string(asPath.Path()), path);
	EXPECT_EQ(std::string(asPath.Leaf()), leaf);
	BFile file(&ref, B_READ_ONLY);
	EXPECT_EQ(file.InitCheck(), B_OK);
	EXPECT_EQ(entry.Remove(), B_OK);
	EXPECT_FALSE(BEntry(path.c_str()).Exists());
}

TEST(StorageEntry, PathsLongerThanTheOriginalLimit)
{
	TempDir dir;
	std::string path = Real(dir.Path());
	const std::string component(200, 'n');
	while (path.size() < 2 * B_PATH_NAME_LENGTH) {
		path += "/" + component;
		ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
	}
	const std::string file = path + "/deep.wav";
	ASSERT_GT(file.size(), size_t(B_PATH_NAME_LENGTH));
	ASSERT_TRUE(WriteFile(file, "deep"));

	BEntry entry(file.c_str(), true);
	ASSERT_EQ(entry.InitCheck(), B_OK);
	EXPECT_TRUE(entry.IsFile());
	EXPECT_EQ(EntryPath(entry), file);
	entry_ref ref;
	ASSERT_EQ(entry.GetRef(&ref), B_OK);
	EXPECT_EQ(ref.Path(), file);
	BEntry parent;
	ASSERT_EQ(entry.GetParent(&parent), B_OK);
	EXPECT_EQ(EntryPath(parent), path);

	BFile opened(&ref, B_READ_WRITE);
	ASSERT_EQ(opened.InitCheck(), B_OK);
	char buffer[8] = {};
	EXPECT_EQ(opened.Read(buffer, sizeof(buffer)), 4);
	EXPECT_EQ(std::string(buffer), "deep");
	EXPECT_EQ(opened.WriteAttr("long", B_STRING_TYPE, 0, "v", 2), 2);

	// A link with a long target.
	const std::string link = Real(dir.Path()) + "/to-deep";
	ASSERT_EQ(symlink(file.c_str(), link.c_str()), 0);
	EXPECT_EQ(EntryPath(BEntry(link.c_str(), true)), file);

	// Beyond what the kernel takes in one path, a clear error.
	std::string tooLong = Real(dir.Path());
	while (tooLong.size() < 5000)
		tooLong += "/" + component;
	EXPECT_NE(BEntry(tooLong.c_str()).InitCheck(), B_OK);
	const std::string longLeaf(300, 'x');
	EXPECT_EQ(BEntry((Real(dir.Path()) + "/" + longLeaf).c_str()).InitCheck(), B_NAME_TOO_LONG);
}

TEST(StorageEntry, RemoveFilesDirectoriesAndLinks)
{
	TempDir dir;
	const std::string real = Real(dir.Path());
	ASSERT_TRUE(WriteFile(real + "/file", ""));
	ASSERT_EQ(mkdir((real + "/dir").c_str(), 0755), 0);
	ASSERT_EQ(symlink("file", (real + "/link").c_str()), 0);

	BEntry link((real + "/link").c_str());
	EXPECT_EQ(link.Remove(), B_OK);
	EXPECT_FALSE(link.Exists());
	EXPECT_TRUE(BEntry((real + "/file").c_str()).Exists()) << "the target stays";

	BEntry directory((real + "/dir").c_str());
	EXPECT_EQ(directory.Remove(), B_OK);
	EXPECT_FALSE(directory.Exists());

	BEntry file((real + "/file").c_str());
	EXPECT_EQ(file.Remove(), B_OK);
	EXPECT_EQ(file.Remove(), B_ENTRY_NOT_FOUND);

	ASSERT_EQ(mkdir((real + "/full").c_str(), 0755), 0);
	ASSERT_TRUE(WriteFile(real + "/full/x", ""));
	EXPECT_EQ(BEntry((real + "/full").c_str()).Remove(), B_DIRECTORY_NOT_EMPTY);
}

TEST(StorageEntry, Rename)
{
	TempDir dir;
	const std::string real = Real(dir.Path());
	ASSERT_EQ(mkdir((real + "/other").c_str(), 0755), 0);
	ASSERT_TRUE(WriteFile(real + "/a", "A"));
	ASSERT_TRUE(WriteFile(real + "/b", "B"));

	BEntry entry((real + "/a").c_str());
	EXPECT_EQ(entry.Rename("b"), B_FILE_EXISTS);
	EXPECT_EQ(testing_support::ReadFile(real + "/b"), "B");
	EXPECT_EQ(entry.Rename("c"), B_OK) << "relative to the entry's directory";
	EXPECT_EQ(EntryPath(entry), real + "/c");
	EXPECT_EQ(entry.Rename((real + "/other/d").c_str()), B_OK);
	EXPECT_EQ(EntryPath(entry), real + "/other/d");
	EXPECT_EQ(entry.Rename((real + "/b").c_str(), true), B_OK);
	EXPECT_EQ(testing_support::ReadFile(real + "/b"), "A");
	EXPECT_EQ(entry.Rename((real + "/missing/e").c_str()), B_ENTRY_NOT_FOUND);
	EXPECT_EQ(entry.Rename(nullptr), B_BAD_VALUE);
}

TEST(StoragePath, SetLeafNormaliseAndParent)
{
	BPath unset;
	EXPECT_EQ(unset.InitCheck(), B_NO_INIT);
	EXPECT_EQ(unset.Path(), nullptr);
	EXPECT_EQ(unset.Leaf(), nullptr);
	EXPECT_EQ(unset.Append("x"), B_BAD_VALUE);

	// A clean absolute path is kept as given, existing or not.
	BPath plain("/no/such/dir", "leaf");
	ASSERT_EQ(plain.InitCheck(), B_OK);
	EXPECT_STREQ(plain.Path(), "/no/such/dir/leaf");
	EXPECT_STREQ(plain.Leaf(), "leaf");
	BPath parent;
	ASSERT_EQ(plain.GetParent(&parent), B_OK);
	EXPECT_STREQ(parent.Path(), "/no/such/dir");
	EXPECT_EQ(BPath("/a", "/b").InitCheck(), B_BAD_VALUE);
	EXPECT_EQ(BPath(static_cast<const char*>(nullptr)).InitCheck(), B_BAD_VALUE);

	BPath root("/");
	EXPECT_STREQ(root.Path(), "/");
	EXPECT_STREQ(root.Leaf(), "");
	EXPECT_EQ(root.GetParent(&parent), B_ENTRY_NOT_FOUND);

	TempDir dir;
	const std::string real = Real(dir.Path());
	ASSERT_EQ(mkdir((real + "/x").c_str(), 0755), 0);
	BPath messy((real + "/x/../x//./file").c_str());
	ASSERT_EQ(messy.InitCheck(), B_OK);
	EXPECT_EQ(std::string(messy.Path()), real + "/x/file");
	EXPECT_EQ(BPath((real + "/nowhere/../file").c_str()).InitCheck(), B_ENTRY_NOT_FOUND)
		<< "normalising asks the file system";

	BPath appended(real.c_str());
	EXPECT_EQ(appended.Append("x/y"), B_OK);
	EXPECT_EQ(std::string(appended.Path()), real + "/x/y");
	EXPECT_EQ(appended.Append("/abs"), B_BAD_VALUE);
	EXPECT_EQ(appended.Append(""), B_OK);
	EXPECT_EQ(std::string(appended.Path()), real + "/x/y");
}

TEST(StoragePath, FromRefAndEntry)
{
	TempDir dir;
	const std::string real = Real(dir.Path());
	ASSERT_TRUE(WriteFile(real + "/f", ""));
	entry_ref ref;
	ASSERT_EQ(get_ref_for_path((real + "/f").c_str(), &ref), B_OK);
	BPath fromRef(&ref);
	EXPECT_EQ(std::string(fromRef.Path()), real + "/f");
	BEntry entry(&ref);
	BPath fromEntry(&entry);
	EXPECT_EQ(std::string(fromEntry.Path()), real + "/f");
	BEntry unsetEntry;
	EXPECT_EQ(BPath(&unsetEntry).InitCheck(), B_NO_INIT);
	entry_ref unsetRef;
	EXPECT_EQ(BPath(&unsetRef).InitCheck(), B_BAD_VALUE);
}

// The split of a path: roots, repeated and trailing slashes, a name without
// a directory.
TEST(StoragePath, SplitIntoDirectoryAndLeaf)
{
	struct Case {
		const char* path;
		const char* directory;
		const char* leaf;
	};
	const Case cases[] = {
		{"a/b/c.wav", "a/b", "c.wav"},
		{"c.wav", "", "c.wav"},
		{"", "", ""},
		{"/c.wav", "/", "c.wav"},
		{"//c.wav", "/", "c.wav"},
		{"/", "/", ""},
		{"//", "/", ""},
		{"a/", "a", ""},
		{"a//", "a", ""},
		{"/a/b/", "/a/b", ""},
		{"a//c.wav", "a", "c.wav"},
		{"/a///b/c", "/a///b", "c"},
		{"/a/./..", "/a/.", ".."},
	};
	for (const Case& c : cases) {
		std::string directory = "stale";
		std::string leaf = "stale";
		SplitPath(c.path, directory, leaf);
		EXPECT_EQ(directory, c.directory) << c.path;
		EXPECT_EQ(leaf, c.leaf) << c.path;
		const std::string path = c.path;
		const DirectoryAndLeaf split = SplitPathView(path);
		EXPECT_EQ(split.directory, c.directory) << c.path;
		EXPECT_EQ(split.leaf, c.leaf) << c.path;
		// The leaf is the tail of the path itself, so it ends where the path
		// does (BPath::Leaf hands it out as a C string).
		EXPECT_EQ(split.leaf.data() + split.leaf.size(), path.data() + path.size()) << c.path;
	}
	// The path may be the very string the directory or the leaf goes to.
	std::string directory = "/music/in/song.wav";
	std::string leaf;
	SplitPath(directory, directory, leaf);
	EXPECT_EQ(directory + "|" + leaf, "/music/in|song.wav");
	leaf = "/music/in/song.wav";
	SplitPath(leaf, directory, leaf);
	EXPECT_EQ(directory + "|" + leaf, "/music/in|song.wav");
}
