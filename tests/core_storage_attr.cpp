// Node attributes as extended attributes, and a file's MIME type, on real
// files: values byte for byte in "user.<name>", readable by other tools and
// written by them.
#include <Entry.h>
#include <File.h>
#include <NodeInfo.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace {

// A fresh directory on a file system that keeps user attributes: /tmp if it
// does, else /var/tmp or the build directory.
class AttrDir {
public:
	AttrDir()
	{
		for (std::string base : {"/tmp", "/var/tmp", TAMSEL_BINARY_DIR}) {
			std::string pattern = base + "/tamsel-attr-XXXXXX";
			if (mkdtemp(pattern.data()) == nullptr)
				continue;
			if (setxattr(pattern.c_str(), "user.probe", "1", 1, 0) == 0) {
				fPath = pattern;
				return;
			}
			rmdir(pattern.c_str());
		}
	}
	~AttrDir()
	{
		std::error_code error;
		if (!fPath.empty())
			std::filesystem::remove_all(fPath, error);
	}
	bool Usable() const { return !fPath.empty(); }
	std::string File(const std::string& leaf, const std::string& contents = "") const
	{
		std::string path = fPath + "/" + leaf;
		FILE* file = std::fopen(path.c_str(), "wb");
		if (file != nullptr) {
			std::fwrite(contents.data(), 1, contents.size(), file);
			std::fclose(file);
		}
		return path;
	}
	const std::string& Path() const { return fPath; }

private:
	std::string fPath;
};

#define REQUIRE_XATTRS(dir) \
	if (!(dir).Usable()) \
	GTEST_SKIP() << "no writable file system with user extended attributes"

std::string RawValue(const std::string& path, const std::string& name)
{
	std::vector<char> buffer(65536);
	ssize_t size = getxattr(path.c_str(), name.c_str(), buffer.data(), buffer.size());
	if (size < 0)
		return "<" + std::string(std::strerror(errno)) + ">";
	return std::string(buffer.data(), size_t(size));
}

bool CommandExists(const char* name)
{
	std::string command = std::string("command -v ") + name + " >/dev/null 2>&1";
	return std::system(command.c_str()) == 0;
}

} // namespace

TEST(StorageAttr, ValueByteForByteAndTypeBesideIt)
{
	AttrDir dir;
	REQUIRE_XATTRS(dir);
	const std::string path = dir.File("exe");
	BFile file(path.c_str(), B_WRITE_ONLY);
	ASSERT_EQ(file.InitCheck(), B_OK);

	const char location[] = "/boot/home/config/bin/Gogo";
	ASSERT_EQ(sizeof(location), 27u);
	EXPECT_EQ(file.WriteAttr("encoder_location", B_STRING_TYPE, 0, location, sizeof(location)), 27);
	EXPECT_EQ(RawValue(path, "user.encoder_location"), std::string(location, 27));
	EXPECT_EQ(RawValue(path, "user.be_type.encoder_location"), "CSTR");

	bool flag = true;
	EXPECT_EQ(file.WriteAttr("self_register_mime_type", B_BOOL_TYPE, 0, &flag, 1), 1);
	EXPECT_EQ(RawValue(path, "user.self_register_mime_type"), std::string("\1", 1));

	BFile reader(path.c_str(), B_READ_ONLY);
	char buffer[1024];
	EXPECT_EQ(reader.ReadAttr("encoder_location", B_STRING_TYPE, 0, buffer, sizeof(buffer)), 27);
	EXPECT_STREQ(buffer, location);
	attr_info info;
	ASSERT_EQ(reader.GetAttrInfo("encoder_location", &info), B_OK);
	EXPECT_EQ(info.type, type_code(B_STRING_TYPE));
	EXPECT_EQ(info.size, 27);
	ASSERT_EQ(reader.GetAttrInfo("self_register_mime_type", &info), B_OK);
	EXPECT_EQ(info.type, type_code(B_BOOL_TYPE));
	EXPECT_EQ(info.size, 1);
}

TEST(StorageAttr, ValuesWrittenByOtherToolsReadWithAnyType)
{
	AttrDir dir;
	REQUIRE_XATTRS(dir);
	const std::string path = dir.File("f");
	ASSERT_EQ(setxattr(path.c_str(), "user.comment", "hello", 5, 0), 0);
	const char binary[] = {'\0', '\x01', '\xff', '\0', 'z'};
	ASSERT_EQ(setxattr(path.c_str(), "user.blob", binary, sizeof(binary), 0), 0);
	ASSERT_EQ(setxattr(path.c_str(), "user.empty", "", 0, 0), 0);

	BNode node(path.c_str());
	char buffer[16] = {};
	EXPECT_EQ(node.ReadAttr("comment", B_STRING_TYPE, 0, buffer, sizeof(buffer)), 5);
	EXPECT_EQ(std::string(buffer, 5), "hello");
	EXPECT_EQ(node.ReadAttr("comment", B_INT32_TYPE, 0, buffer, sizeof(buffer)), 5)
		<< "the type asked for does not filter";
	EXPECT_EQ(node.ReadAttr("blob", B_RAW_TYPE, 0, buffer, sizeof(buffer)), 5);
	EXPECT_EQ(std::memcmp(buffer, binary, 5), 0);
	EXPECT_EQ(node.ReadAttr("empty", B_RAW_TYPE, 0, buffer, sizeof(buffer)), 0);

	attr_info info;
	ASSERT_EQ(node.GetAttrInfo("comment", &info), B_OK);
	EXPECT_EQ(info.type, type_code(B_RAW_TYPE));
	EXPECT_EQ(info.size, 5);
	ASSERT_EQ(node.GetAttrInfo("empty", &info), B_OK);
	EXPECT_EQ(info.size, 0);

	// A companion of the wrong size is no type either.
	ASSERT_EQ(setxattr(path.c_str(), "user.be_type.comment", "LONGER", 6, 0), 0);
	ASSERT_EQ(node.GetAttrInfo("comment", &info), B_OK);
	EXPECT_EQ(info.type, type_code(B_RAW_TYPE));
}

TEST(StorageAttr, OddSizesOffsetsAndShortBuffers)
{
	AttrDir dir;
	REQUIRE_XATTRS(dir);
	BNode node(dir.File("f").c_str());
	ASSERT_EQ(node.InitCheck(), B_OK);

	std::string big(3000, '\0');
	for (size_t i = 0; i < big.size(); i++)
		big[i] = char(i * 7);
	EXPECT_EQ(node.WriteAttr("big", 'BIGV', 0, big.data(), big.size()), 3000);
	std::vector<char> buffer(4096);
	EXPECT_EQ(node.ReadAttr("big", 'BIGV', 0, buffer.data(), buffer.size()), 3000);
	EXPECT_EQ(std::string(buffer.data(), 3000), big);
	// A buffer smaller than the value gets its first bytes.
	EXPECT_EQ(node.ReadAttr("big", 'BIGV', 0, buffer.data(), 1024), 1024);
	EXPECT_EQ(std::string(buffer.data(), 1024), big.substr(0, 1024));
	EXPECT_EQ(node.ReadAttr("big", 'BIGV', 2990, buffer.data(), 100), 10);
	EXPECT_EQ(std::string(buffer.data(), 10), big.substr(2990));
	EXPECT_EQ(node.ReadAttr("big", 'BIGV', 3000, buffer.data(), 100), 0);
	EXPECT_EQ(node.ReadAttr("big", 'BIGV', 5000, buffer.data(), 100), 0);
	EXPECT_EQ(node.ReadAttr("big", 'BIGV', 0, buffer.data(), 0), 0);
	EXPECT_EQ(node.ReadAttr("big", 'BIGV', -1, buffer.data(), 10), B_BAD_VALUE);

	// Writing at the start replaces the whole value; further in, it patches.
	EXPECT_EQ(node.WriteAttr("v", B_RAW_TYPE, 0, "abcdef", 6), 6);
	EXPECT_EQ(node.WriteAttr("v", B_RAW_TYPE, 3, "XY", 2), 2);
	EXPECT_EQ(node.ReadAttr("v", B_RAW_TYPE, 0, buffer.data(), 64), 6);
	EXPECT_EQ(std::string(buffer.data(), 6), "abcXYf");
	EXPECT_EQ(node.WriteAttr("v", B_RAW_TYPE, 8, "!", 1), 1);
	EXPECT_EQ(node.ReadAttr("v", B_RAW_TYPE, 0, buffer.data(), 64), 9);
	EXPECT_EQ(std::string(buffer.data(), 9), std::string("abcXYf\0\0!", 9));
	EXPECT_EQ(node.WriteAttr("v", B_RAW_TYPE, 0, "z", 1), 1);
	EXPECT_EQ(node.ReadAttr("v", B_RAW_TYPE, 0, buffer.data(), 64), 1);
	EXPECT_EQ(node.WriteAttr("v", B_RAW_TYPE, 0, nullptr, 0), 0);
	EXPECT_EQ(node.ReadAttr("v", B_RAW_TYPE, 0, buffer.data(), 64), 0);
	EXPECT_EQ(node.WriteAttr("v", B_RAW_TYPE, 0, nullptr, 3), B_BAD_VALUE);

	// Near the kernel's bound: some file systems keep it, others (ext4
	// without large attributes) say so with an error.
	std::string huge(60000, 'h');
	ssize_t written = node.WriteAttr("huge", B_RAW_TYPE, 0, huge.data(), huge.size());
	EXPECT_TRUE(written == ssize_t(huge.size()) || written < 0) << written;
	std::string tooBig(70000, 'h');
	EXPECT_EQ(node.WriteAttr("huge", B_RAW_TYPE, 0, tooBig.data(), tooBig.size()), B_BAD_VALUE);
}

TEST(StorageAttr, MissingAttributesAndClosedNodes)
{
	AttrDir dir;
	REQUIRE_XATTRS(dir);
	BNode node(dir.File("f").c_str());
	char buffer[8];
	attr_info info;
	EXPECT_EQ(node.ReadAttr("missing", B_STRING_TYPE, 0, buffer, sizeof(buffer)), B_ENTRY_NOT_FOUND);
	EXPECT_EQ(node.GetAttrInfo("missing", &info), B_ENTRY_NOT_FOUND);
	EXPECT_EQ(node.RemoveAttr("missing"), B_ENTRY_NOT_FOUND);

	BNode closed;
	EXPECT_EQ(closed.ReadAttr("x", B_STRING_TYPE, 0, buffer, sizeof(buffer)), B_FILE_ERROR);
	EXPECT_EQ(closed.WriteAttr("x", B_STRING_TYPE, 0, "a", 1), B_FILE_ERROR);
	EXPECT_EQ(closed.RemoveAttr("x"), B_FILE_ERROR);
	EXPECT_EQ(closed.GetAttrInfo("x", &info), B_FILE_ERROR);
	// A file that did not open behaves the same.
	BFile failed((dir.Path() + "/absent").c_str(), B_READ_ONLY);
	EXPECT_EQ(failed.InitCheck(), B_ENTRY_NOT_FOUND);
	EXPECT_EQ(failed.ReadAttr("x", B_STRING_TYPE, 0, buffer, sizeof(buffer)), B_FILE_ERROR);
}

TEST(StorageAttr, RemoveTakesTheTypeAlong)
{
	AttrDir dir;
	REQUIRE_XATTRS(dir);
	const std::string path = dir.File("f");
	BNode node(path.c_str());
	ASSERT_EQ(node.WriteAttr("gone", B_INT32_TYPE, 0, "\0\0\0\1", 4), 4);
	EXPECT_EQ(node.RemoveAttr("gone"), B_OK);
	EXPECT_EQ(getxattr(path.c_str(), "user.gone", nullptr, 0), -1);
	EXPECT_EQ(getxattr(path.c_str(), "user.be_type.gone", nullptr, 0), -1);
}

TEST(StorageAttr, NamesThatCannotBeUsed)
{
	AttrDir dir;
	REQUIRE_XATTRS(dir);
	BNode node(dir.File("f").c_str());
	char buffer[4];
	// The companions' namespace is reserved, so no name can collide with one.
	EXPECT_EQ(node.WriteAttr("be_type.x", B_RAW_TYPE, 0, "a", 1), B_NOT_ALLOWED);
	EXPECT_EQ(node.ReadAttr("be_type.x", B_RAW_TYPE, 0, buffer, 4), B_NOT_ALLOWED);
	EXPECT_EQ(node.WriteAttr("", B_RAW_TYPE, 0, "a", 1), B_BAD_VALUE);
	EXPECT_EQ(node.WriteAttr(nullptr, B_RAW_TYPE, 0, "a", 1), B_BAD_VALUE);
	EXPECT_EQ(node.WriteAttr(std::string(243, 'n').c_str(), B_RAW_TYPE, 0, "a", 1), B_NAME_TOO_LONG);
	EXPECT_EQ(node.WriteAttr(std::string(242, 'n').c_str(), B_RAW_TYPE, 0, "a", 1), 1);
	// Any bytes but NUL are a name.
	EXPECT_EQ(node.WriteAttr("na\xefme with spaces", B_RAW_TYPE, 0, "a", 1), 1);
	EXPECT_EQ(node.ReadAttr("na\xefme with spaces", B_RAW_TYPE, 0, buffer, 4), 1);
}

TEST(StorageAttr, DirectoriesAndLinkedFiles)
{
	AttrDir dir;
	REQUIRE_XATTRS(dir);
	BNode directory(dir.Path().c_str());
	ASSERT_EQ(directory.InitCheck(), B_OK);
	EXPECT_EQ(directory.WriteAttr("d", B_STRING_TYPE, 0, "dir", 4), 4);
	EXPECT_EQ(RawValue(dir.Path(), "user.d"), std::string("dir", 4));

	const std::string target = dir.File("target");
	ASSERT_EQ(symlink("target", (dir.Path() + "/link").c_str()), 0);
	BNode viaLink((dir.Path() + "/link").c_str());
	ASSERT_EQ(viaLink.InitCheck(), B_OK);
	EXPECT_EQ(viaLink.WriteAttr("t", B_STRING_TYPE, 0, "x", 2), 2);
	EXPECT_EQ(RawValue(target, "user.t"), std::string("x", 2)) << "a node is the link's target";
}

TEST(StorageAttr, FileSystemsWithoutUserAttributesGiveErrors)
{
	// procfs has no user attributes at all; sysfs reads none and writes none.
	BNode proc("/proc/self/status");
	ASSERT_EQ(proc.InitCheck(), B_OK);
	char buffer[8];
	attr_info info;
	EXPECT_EQ(proc.ReadAttr("x", B_RAW_TYPE, 0, buffer, sizeof(buffer)), B_NOT_SUPPORTED);
	EXPECT_EQ(proc.WriteAttr("x", B_RAW_TYPE, 0, "a", 1), B_NOT_SUPPORTED);
	EXPECT_EQ(proc.GetAttrInfo("x", &info), B_NOT_SUPPORTED);
	EXPECT_EQ(proc.RemoveAttr("x"), B_NOT_SUPPORTED);
	BNodeInfo procInfo(&proc);
	char type[B_MIME_TYPE_LENGTH];
	// No attributes there: only the database's globs could name a type.
	EXPECT_EQ(procInfo.GetType(type), B_ENTRY_NOT_FOUND);
	EXPECT_EQ(procInfo.SetType("text/plain"), B_NOT_SUPPORTED);

	BNode sys("/sys/kernel");
	if (sys.InitCheck() == B_OK) {
		EXPECT_LT(sys.ReadAttr("x", B_RAW_TYPE, 0, buffer, sizeof(buffer)), 0);
		EXPECT_LT(sys.WriteAttr("x", B_RAW_TYPE, 0, "a", 1), 0);
	}
}

TEST(StorageNodeInfo, TypeIsThePlainStringOfTheFreedesktopAttribute)
{
	AttrDir dir;
	REQUIRE_XATTRS(dir);
	const std::string path = dir.File("list");
	BFile file(path.c_str(), B_WRITE_ONLY);
	BNodeInfo info(&file);
	ASSERT_EQ(info.InitCheck(), B_OK);
	char type[B_MIME_TYPE_LENGTH];
	EXPECT_EQ(info.GetType(type), B_ENTRY_NOT_FOUND);
	EXPECT_STREQ(type, "");

	EXPECT_EQ(info.SetType("text/x-TamselGogoFronted-list"), B_OK);
	EXPECT_EQ(RawValue(path, "user.mime_type"), "text/x-TamselGogoFronted-list") << "no NUL";
	EXPECT_LT(getxattr(path.c_str(), "user.be_type.mime_type", nullptr, 0), 0);

	BFile reader(path.c_str(), B_READ_ONLY);
	BNodeInfo readInfo(&reader);
	ASSERT_EQ(readInfo.GetType(type), B_OK);
	EXPECT_STREQ(type, "text/x-TamselGogoFronted-list");

	EXPECT_EQ(info.SetType("not a type"), B_BAD_VALUE);
	EXPECT_EQ(info.SetType(nullptr), B_OK);
	EXPECT_EQ(readInfo.GetType(type), B_ENTRY_NOT_FOUND);
	EXPECT_EQ(info.SetType(nullptr), B_OK) << "removing what is not there";
}

TEST(StorageNodeInfo, WithoutTheAttributeTheDatabaseGlobsName)
{
	AttrDir dir;
	REQUIRE_XATTRS(dir);
	const std::string data = dir.Path() + "/data";
	std::filesystem::create_directories(data + "/mime");
	std::ofstream(data + "/mime/globs2") << "# comment\n"
										  << "50:text/x-TamselGogoFronted-list:*.tsq\n"
										  << "60:text/x-special:special.tsq:cs\n";
	const char* oldHome = std::getenv("XDG_DATA_HOME");
	const std::string savedHome = oldHome ? oldHome : "";
	setenv("XDG_DATA_HOME", data.c_str(), 1);
	setenv("XDG_DATA_DIRS", (dir.Path() + "/none").c_str(), 1);

	char type[B_MIME_TYPE_LENGTH];
	auto typeOf = [&](const std::string& leaf) {
		const std::string path = dir.Path() + "/" + leaf;
		if (!std::filesystem::exists(path))
			std::ofstream(path) << "0;/x\n";
		BFile file(path.c_str(), B_READ_ONLY);
		BNodeInfo info(&file);
		const status_t status = info.GetType(type);
		return status == B_OK ? std::string(type) : std::string("error");
	};
	EXPECT_EQ(typeOf("takes.tsq"), "text/x-TamselGogoFronted-list");
	EXPECT_EQ(typeOf("TAKES.TSQ"), "text/x-TamselGogoFronted-list") << "globs ignore case";
	EXPECT_EQ(typeOf("special.tsq"), "text/x-special") << "the heavier glob wins";
	EXPECT_EQ(typeOf("takes.txt"), "error");

	// A type of its own wins over the name; a change of the database is seen.
	{
		BFile file(dir.File("takes.tsq").c_str(), B_READ_ONLY);
		BNodeInfo info(&file);
		ASSERT_EQ(info.SetType("audio/x-wav"), B_OK);
	}
	EXPECT_EQ(typeOf("takes.tsq"), "audio/x-wav");
	std::ofstream(data + "/mime/globs2") << "50:text/plain:*.txt\n";
	EXPECT_EQ(typeOf("other.tsq"), "error");
	EXPECT_EQ(typeOf("notes.txt"), "text/plain");

	if (oldHome)
		setenv("XDG_DATA_HOME", savedHome.c_str(), 1);
	else
		unsetenv("XDG_DATA_HOME");
	unsetenv("XDG_DATA_DIRS");
}

TEST(StorageNodeInfo, TypesWrittenByOtherTools)
{
	AttrDir dir;
	REQUIRE_XATTRS(dir);
	const std::string path = dir.File("f");
	BNode node(path.c_str());
	BNodeInfo info(&node);
	char type[B_MIME_TYPE_LENGTH];

	// With a terminator, as some writers store it.
	ASSERT_EQ(setxattr(path.c_str(), "user.mime_type", "audio/x-wav", 12, 0), 0);
	ASSERT_EQ(info.GetType(type), B_OK);
	EXPECT_STREQ(type, "audio/x-wav");
	// Longer than the buffer: cut to fit, still terminated.
	std::string overlong = "application/" + std::string(400, 'x');
	ASSERT_EQ(setxattr(path.c_str(), "user.mime_type", overlong.data(), overlong.size(), 0), 0);
	ASSERT_EQ(info.GetType(type), B_OK);
	EXPECT_EQ(std::strlen(type), size_t(B_MIME_TYPE_LENGTH - 1));
	EXPECT_EQ(std::string(type), overlong.substr(0, B_MIME_TYPE_LENGTH - 1));
	// Empty is no type.
	ASSERT_EQ(setxattr(path.c_str(), "user.mime_type", "", 0, 0), 0);
	EXPECT_EQ(info.GetType(type), B_ENTRY_NOT_FOUND);

	if (!CommandExists("setfattr") || !CommandExists("getfattr"))
		GTEST_SKIP() << "setfattr/getfattr (package attr) not installed";
	std::string command = "setfattr -n user.mime_type -v text/plain '" + path + "'";
	ASSERT_EQ(std::system(command.c_str()), 0);
	ASSERT_EQ(info.GetType(type), B_OK);
	EXPECT_STREQ(type, "text/plain");
	ASSERT_EQ(info.SetType("audio/mpeg"), B_OK);
	command = "test \"$(getfattr --only-values -n user.mime_type '" + path + "')\" = audio/mpeg";
	EXPECT_EQ(std::system(command.c_str()), 0);
}

TEST(StorageNodeInfo, UnboundOrClosed)
{
	BNodeInfo unbound;
	char type[B_MIME_TYPE_LENGTH];
	EXPECT_EQ(unbound.InitCheck(), B_NO_INIT);
	EXPECT_EQ(unbound.GetType(type), B_NO_INIT);
	EXPECT_EQ(unbound.SetType("text/plain"), B_NO_INIT);
	EXPECT_EQ(unbound.GetType(nullptr), B_BAD_VALUE);
	BNode closed;
	BNodeInfo onClosed;
	EXPECT_EQ(onClosed.SetTo(&closed), B_NO_INIT);
	EXPECT_EQ(onClosed.SetTo(nullptr), B_BAD_VALUE);
}
