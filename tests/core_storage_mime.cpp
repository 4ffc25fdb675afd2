// The file-type database on the freedesktop shared MIME database, in a
// temporary home: the states absent / installed by us / installed by the
// system, what the desktop's own tools then see, and the failures of the
// helper program.
#include <AppDefs.h>
#include <Message.h>
#include <MimeType.h>
#include <ResourceFormat.h>

#include "BoundedCommand.h"
#include "DesktopExec.h"
#include "FreedesktopFormats.h"
#include "TestSupport.h"
#include "XdgPaths.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <png.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

constexpr char kListType[] = "text/x-TamselGogoFronted-list";
constexpr char kSignature[] = "application/x-vnd.TamselGogoFrontend";
constexpr char kDesktopId[] = "application-x-vnd.TamselGogoFrontend.desktop";
constexpr char kIconName[] = "text-x-TamselGogoFronted-list";

// This test executable stands in for the application: a desktop entry is
// written only for the running application's own signature.
constexpr std::array<uint8, 1024> MakeIcon()
{
	std::array<uint8, 1024> pixels{};
	for (size_t i = 0; i < pixels.size(); i++)
		pixels[i] = i < 32 ? B_TRANSPARENT_MAGIC_CMAP8 : cmap8_cube_index(5, 2, 0);
	return pixels;
}
constexpr auto kAppIcon = MakeIcon();
constexpr auto kBuild = [](auto& writer) {
	writer.Signature(kSignature);
	writer.AppFlags(B_MULTIPLE_LAUNCH);
	writer.AppVersion(1, 2, 97, 5, 0, "Tamsel Gogo Frontend", "MIME test");
	writer.LargeIcon(kAppIcon);
};
TAMSEL_RESOURCE_SECTION(kTestResources, kBuild);

class Environment {
public:
	void Set(const char* name, const std::string& value)
	{
		Remember(name);
		setenv(name, value.c_str(), 1);
	}
	void Unset(const char* name)
	{
		Remember(name);
		unsetenv(name);
	}
	~Environment()
	{
		for (auto& [name, value] : fSaved) {
			if (value)
				setenv(name.c_str(), value->c_str(), 1);
			else
				unsetenv(name.c_str());
		}
	}

private:
	void Remember(const char* name)
	{
		for (auto& saved : fSaved) {
			if (saved.first == name)
				return;
		}
		const char* value = std::getenv(name);
		fSaved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
	}
	std::vector<std::pair<std::string, std::optional<std::string>>> fSaved;
};

bool Exists(const std::string& path)
{
	struct stat st;
	return stat(path.c_str(), &st) == 0;
}

// Runs a command with the test's environment; its standard output, trimmed.
std::string Output(const std::string& command)
{
	std::string output;
	if (FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r")) {
		char buffer[512];
		while (size_t n = fread(buffer, 1, sizeof(buffer), pipe))
			output.append(buffer, n);
		pclose(pipe);
	}
	while (!output.empty() && (output.back() == '\n' || output.back() == ' '))
		output.pop_back();
	return output;
}

bool CommandExists(const std::string& name)
{
	return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

class StorageMime : public testing::Test {
protected:
	void SetUp() override
	{
		fDataHome = fHome / ".local/share";
		fConfigHome = fHome / ".config";
		fEnvironment.Set("HOME", fHome.Path());
		fEnvironment.Set("XDG_DATA_HOME", fDataHome);
		fEnvironment.Set("XDG_CONFIG_HOME", fConfigHome);
		// The "system" has a database of its own that knows nothing yet.
		std::filesystem::create_directories(fSystem / "mime");
		ASSERT_TRUE(WriteFile(fSystem / "mime/types", "text/plain\n"));
		fEnvironment.Set("XDG_DATA_DIRS", fSystem.Path());
		fEnvironment.Unset("XDG_CURRENT_DESKTOP");
	}

	std::string Package() const { return fDataHome + "/mime/packages/text-x-TamselGogoFronted-list.xml"; }
	std::string MimeIcon(int side) const
	{
		std::string size = std::to_string(side) + "x" + std::to_string(side);
		return fDataHome + "/icons/hicolor/" + size + "/mimetypes/" + kIconName + ".png";
	}
	std::string DesktopEntry() const { return fDataHome + "/applications/" + kDesktopId; }
	std::string MimeApps() const { return fConfigHome + "/mimeapps.list"; }

	// What the application does to install its list type.
	status_t InstallListType(const char* description = "Tamsel Gogo Frontend list")
	{
		BMimeType type(kListType);
		EXPECT_EQ(type.InitCheck(), B_OK);
		EXPECT_EQ(type.SetShortDescription(description), B_OK);
		EXPECT_EQ(type.SetLongDescription(description), B_OK);
		EXPECT_EQ(type.SetPreferredApp(kSignature, B_OPEN), B_OK);
		BMessage extensions;
		extensions.AddString("extensions", "tsq");
		EXPECT_EQ(type.SetFileExtensions(&extensions), B_OK);
		BBitmap large(BRect(0, 0, 31, 31), B_CMAP8);
		BBitmap mini(BRect(0, 0, 15, 15), B_CMAP8);
		std::memset(large.Bits(), cmap8_cube_index(0, 1, 4), size_t(large.BitsLength()));
		std::memset(mini.Bits(), B_TRANSPARENT_MAGIC_CMAP8, size_t(mini.BitsLength()));
		static_cast<uint8*>(mini.Bits())[0] = cmap8_cube_index(5, 5, 0);
		EXPECT_EQ(type.SetIcon(&large, B_LARGE_ICON), B_OK);
		EXPECT_EQ(type.SetIcon(&mini, B_MINI_ICON), B_OK);
		return type.Install();
	}

	static bool IsInstalled() { return BMimeType(kListType).IsInstalled(); }

	TempDir fHome;
	TempDir fSystem;
	Environment fEnvironment;
	std::string fDataHome;
	std::string fConfigHome;
};

struct Image {
	uint32 width = 0;
	uint32 height = 0;
	std::vector<uint8> rgba;
};

std::optional<Image> ReadPng(const std::string& path)
{
	png_image image;
	std::memset(&image, 0, sizeof(image));
	image.version = PNG_IMAGE_VERSION;
	if (!png_image_begin_read_from_file(&image, path.c_str()))
		return std::nullopt;
	image.format = PNG_FORMAT_RGBA;
	Image result;
	result.width = image.width;
	result.height = image.height;
	result.rgba.resize(PNG_IMAGE_SIZE(image));
	if (!png_image_finish_read(&image, nullptr, result.rgba.data(), 0, nullptr))
		return std::nullopt;
	return result;
}

} // namespace

TEST_F(StorageMime, AbsentThenInstalledThenDeleted)
{
	// Absent.
	EXPECT_FALSE(IsInstalled());
	char text[B_MIME_TYPE_LENGTH];
	EXPECT_EQ(BMimeType(kListType).GetShortDescription(text), B_ENTRY_NOT_FOUND);
	EXPECT_EQ(BMimeType(kListType).GetPreferredApp(text), B_ENTRY_NOT_FOUND);
	EXPECT_EQ(BMimeType(kListType).Delete(), B_ENTRY_NOT_FOUND);

	// Installed by us.
	ASSERT_EQ(InstallListType(), B_OK);
	EXPECT_TRUE(IsInstalled());
	const std::string package = ReadFile(Package());
	EXPECT_NE(package.find("<mime-type type=\"text/x-TamselGogoFronted-list\">"), std::string::npos);
	EXPECT_NE(package.find("<comment>Tamsel Gogo Frontend list</comment>"), std::string::npos);
	EXPECT_NE(package.find("<glob pattern=\"*.tsq\"/>"), std::string::npos);
	EXPECT_NE(package.find("<icon name=\"text-x-TamselGogoFronted-list\"/>"), std::string::npos);
	EXPECT_EQ(BMimeType(kListType).GetShortDescription(text), B_OK);
	EXPECT_STREQ(text, "Tamsel Gogo Frontend list");
	EXPECT_EQ(BMimeType(kListType).GetPreferredApp(text), B_OK);
	EXPECT_STREQ(text, kSignature);

	// The icons, converted through the palette, the transparent index clear.
	std::optional<Image> large = ReadPng(MimeIcon(32));
	ASSERT_TRUE(large);
	EXPECT_EQ(large->width, 32u);
	EXPECT_EQ(large->height, 32u);
	EXPECT_EQ(std::vector<uint8>(large->rgba.begin(), large->rgba.begin() + 4),
		(std::vector<uint8>{0, 51, 204, 255}));
	std::optional<Image> mini = ReadPng(MimeIcon(16));
	ASSERT_TRUE(mini);
	EXPECT_EQ(mini->width, 16u);
	EXPECT_EQ(std::vector<uint8>(mini->rgba.begin(), mini->rgba.begin() + 4),
		(std::vector<uint8>{255, 255, 0, 255}));
	EXPECT_EQ(mini->rgba[4 + 3], 0) << "transparent";

	// The preferred application: a desktop entry for the running program.
	const std::string entry = ReadFile(DesktopEntry());
	const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
	EXPECT_NE(entry.find("[Desktop Entry]\n"), std::string::npos);
	EXPECT_NE(entry.find("\nType=Application\n"), std::string::npos);
	EXPECT_NE(entry.find("\nName=Tamsel Gogo Frontend\n"), std::string::npos);
	// Exec names a plainly named link to the executable, not its own path.
	const std::string launcher = fDataHome + "/application-x-vnd.TamselGogoFrontend/launch";
	EXPECT_NE(entry.find("\nExec=" + launcher + " %F\n"), std::string::npos) << entry;
	std::error_code error;
	EXPECT_EQ(std::filesystem::read_symlink(launcher, error).string(), self);
	EXPECT_NE(entry.find("\nMimeType=text/x-TamselGogoFronted-list;\n"), std::string::npos);
	EXPECT_NE(entry.find("\nIcon=application-x-vnd.TamselGogoFrontend\n"), std::string::npos);
	EXPECT_NE(entry.find("\nNoDisplay=false\n"), std::string::npos);
	EXPECT_NE(entry.find("\nTerminal=false\n"), std::string::npos);
	EXPECT_TRUE(Exists(fDataHome + "/icons/hicolor/32x32/apps/application-x-vnd.TamselGogoFrontend.png"));
	EXPECT_EQ(ReadFile(MimeApps()),
		"[Default Applications]\ntext/x-TamselGogoFronted-list=" + std::string(kDesktopId) + ";\n");

	// Installed twice: refused, nothing changed.
	EXPECT_EQ(InstallListType("Another description"), B_FILE_EXISTS);
	EXPECT_EQ(ReadFile(Package()), package);
	EXPECT_EQ(ReadFile(DesktopEntry()), entry);

	// Deleted.
	EXPECT_EQ(BMimeType(kListType).Delete(), B_OK);
	EXPECT_FALSE(IsInstalled());
	EXPECT_FALSE(Exists(Package()));
	EXPECT_FALSE(Exists(MimeIcon(32)));
	EXPECT_FALSE(Exists(MimeIcon(16)));
	EXPECT_FALSE(Exists(DesktopEntry()));
	EXPECT_FALSE(Exists(fDataHome + "/icons/hicolor/32x32/apps/application-x-vnd.TamselGogoFrontend.png"));
	EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(launcher)));
	EXPECT_EQ(ReadFile(MimeApps()), "[Default Applications]\n");

	// Deleted twice: there is nothing to delete.
	EXPECT_EQ(BMimeType(kListType).Delete(), B_ENTRY_NOT_FOUND);
	// And it can come back.
	EXPECT_EQ(InstallListType(), B_OK);
	EXPECT_TRUE(IsInstalled());
}

TEST_F(StorageMime, InstalledByTheSystemIsNeitherReinstalledNorDeleted)
{
	ASSERT_TRUE(WriteFile(fSystem / "mime/types", "text/plain\ntext/x-tamselgogofronted-list\n"));
	EXPECT_TRUE(IsInstalled()) << "types compare without regard to case";
	EXPECT_EQ(InstallListType(), B_FILE_EXISTS);
	EXPECT_EQ(BMimeType(kListType).Delete(), B_NOT_ALLOWED);
	EXPECT_TRUE(IsInstalled());
	EXPECT_FALSE(Exists(fDataHome)) << "nothing written in the user's directories";
	EXPECT_FALSE(Exists(fConfigHome));
}

TEST_F(StorageMime, OtherLinesOfMimeappsListAreKept)
{
	std::filesystem::create_directories(fConfigHome);
	const std::string before = "# mine\n[Default Applications]\naudio/mpeg=player.desktop;\n\n"
							   "[Added Associations]\ntext/plain=editor.desktop;\n";
	ASSERT_TRUE(WriteFile(MimeApps(), before));
	ASSERT_EQ(InstallListType(), B_OK);
	EXPECT_EQ(ReadFile(MimeApps()),
		"# mine\n[Default Applications]\naudio/mpeg=player.desktop;\n"
		"text/x-TamselGogoFronted-list=" + std::string(kDesktopId) + ";\n\n"
		"[Added Associations]\ntext/plain=editor.desktop;\n");
	ASSERT_EQ(BMimeType(kListType).Delete(), B_OK);
	EXPECT_EQ(ReadFile(MimeApps()), before);
}

TEST_F(StorageMime, OurDesktopEntryServesSeveralTypes)
{
	ASSERT_EQ(InstallListType(), B_OK);
	BMimeType other("application/x-tamsel-other");
	ASSERT_EQ(other.SetPreferredApp(kSignature), B_OK);
	ASSERT_EQ(other.Install(), B_OK);
	EXPECT_NE(ReadFile(DesktopEntry()).find(
				  "\nMimeType=text/x-TamselGogoFronted-list;application/x-tamsel-other;\n"),
		std::string::npos);
	ASSERT_EQ(BMimeType(kListType).Delete(), B_OK);
	EXPECT_NE(ReadFile(DesktopEntry()).find("\nMimeType=application/x-tamsel-other;\n"),
		std::string::npos);
	EXPECT_TRUE(BMimeType("application/x-tamsel-other").IsInstalled());
	ASSERT_EQ(BMimeType("application/x-tamsel-other").Delete(), B_OK);
	EXPECT_FALSE(Exists(DesktopEntry()));
}

TEST_F(StorageMime, TheDesktopsToolsSeeTheType)
{
	if (!CommandExists("xdg-mime"))
		GTEST_SKIP() << "xdg-mime (xdg-utils) not installed";
	ASSERT_EQ(InstallListType(), B_OK);
	EXPECT_EQ(Output("xdg-mime query default text/x-TamselGogoFronted-list"), kDesktopId);

	// Without a desktop, xdg-mime asks File::MimeInfo's mimetype, or else
	// file(1), which knows no user globs.
	if (!CommandExists("mimetype"))
		GTEST_SKIP() << "mimetype (libfile-mimeinfo-perl) not installed";
	ASSERT_TRUE(WriteFile(fHome / "some.tsq", "# list\n"));
	EXPECT_EQ(Output("xdg-mime query filetype '" + (fHome / "some.tsq") + "'"), kListType);

	ASSERT_EQ(BMimeType(kListType).Delete(), B_OK);
	EXPECT_NE(Output("xdg-mime query filetype '" + (fHome / "some.tsq") + "'"), kListType);
}

TEST_F(StorageMime, MissingHelperFailsAtOnceAndLeavesNothing)
{
	fEnvironment.Set("PATH", fSystem.Path());
	auto start = std::chrono::steady_clock::now();
	EXPECT_EQ(InstallListType(), B_ENTRY_NOT_FOUND);
	EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
	EXPECT_FALSE(Exists(Package()));
	EXPECT_FALSE(Exists(DesktopEntry()));
	EXPECT_FALSE(Exists(MimeApps()));
	EXPECT_FALSE(IsInstalled());
}

TEST_F(StorageMime, FailingHelperLeavesNothing)
{
	TempDir bin;
	ASSERT_TRUE(WriteFile(bin / "update-mime-database", "#!/bin/sh\nexit 3\n"));
	ASSERT_EQ(chmod((bin / "update-mime-database").c_str(), 0755), 0);
	fEnvironment.Set("PATH", bin.Path());
	EXPECT_EQ(InstallListType(), B_ERROR);
	EXPECT_FALSE(Exists(Package()));
	EXPECT_FALSE(Exists(MimeIcon(32)));
	EXPECT_FALSE(IsInstalled());

	// A helper that succeeds without building the database is no success.
	ASSERT_TRUE(WriteFile(bin / "update-mime-database", "#!/bin/sh\nexit 0\n"));
	EXPECT_EQ(InstallListType(), B_ERROR);
	EXPECT_FALSE(Exists(Package()));
}

TEST_F(StorageMime, UnwritableDataHomeFails)
{
	// A file where the directory should be: nothing can be created in it,
	// even by root.
	ASSERT_TRUE(WriteFile(fHome / "blocked", ""));
	fEnvironment.Set("XDG_DATA_HOME", fHome / "blocked");
	EXPECT_NE(InstallListType(), B_OK);
	EXPECT_FALSE(IsInstalled());
}

TEST_F(StorageMime, DefaultsUnderHome)
{
	fEnvironment.Unset("XDG_DATA_HOME");
	fEnvironment.Unset("XDG_CONFIG_HOME");
	ASSERT_EQ(InstallListType(), B_OK);
	EXPECT_TRUE(Exists(fHome / ".local/share/mime/packages/text-x-TamselGogoFronted-list.xml"));
	EXPECT_TRUE(Exists(fHome / ".config/mimeapps.list"));
	EXPECT_EQ(BMimeType(kListType).Delete(), B_OK);
}

TEST_F(StorageMime, DescriptionsAreEscaped)
{
	BMimeType type("application/x-tamsel-escape");
	ASSERT_EQ(type.SetShortDescription("Lists <of> \"songs\" & 'more'"), B_OK);
	ASSERT_EQ(type.Install(), B_OK);
	char text[B_MIME_TYPE_LENGTH];
	ASSERT_EQ(BMimeType("application/x-tamsel-escape").GetShortDescription(text), B_OK);
	EXPECT_STREQ(text, "Lists <of> \"songs\" & 'more'");
	EXPECT_EQ(BMimeType("application/x-tamsel-escape").Delete(), B_OK);
}

TEST_F(StorageMime, AnotherApplicationWithoutADesktopEntryIsNotReferredTo)
{
	BMimeType type("application/x-tamsel-foreign");
	ASSERT_EQ(type.SetPreferredApp("application/x-vnd.Someone-Else"), B_OK);
	ASSERT_EQ(type.Install(), B_OK);
	EXPECT_FALSE(Exists(MimeApps()));
	EXPECT_FALSE(Exists(fDataHome + "/applications"));

	// With an entry of its own name in a system directory, it is.
	std::filesystem::create_directories(fSystem / "applications");
	ASSERT_TRUE(WriteFile(fSystem / "applications/application-x-vnd.Someone-Else.desktop",
		"[Desktop Entry]\nType=Application\nName=Else\nExec=true\n"));
	BMimeType second("application/x-tamsel-foreign2");
	ASSERT_EQ(second.SetPreferredApp("application/x-vnd.Someone-Else"), B_OK);
	ASSERT_EQ(second.Install(), B_OK);
	EXPECT_EQ(ReadFile(MimeApps()),
		"[Default Applications]\napplication/x-tamsel-foreign2=application-x-vnd.Someone-Else.desktop;\n");
	EXPECT_TRUE(Exists(fSystem / "applications/application-x-vnd.Someone-Else.desktop"));
}

// mimeapps.list kept with someone's dotfiles, behind a link: the kit
// changes the file the link names, and the link stays.
TEST_F(StorageMime, ALinkedMimeappsListStaysALink)
{
	std::filesystem::create_directories(fConfigHome);
	std::filesystem::create_directories(fHome / "dotfiles");
	const std::string target = fHome / "dotfiles/mimeapps.list";
	const std::string before = "[Default Applications]\naudio/mpeg=player.desktop;\n";
	ASSERT_TRUE(WriteFile(target, before));
	ASSERT_EQ(symlink("../dotfiles/mimeapps.list", MimeApps().c_str()), 0);

	ASSERT_EQ(InstallListType(), B_OK);
	EXPECT_TRUE(std::filesystem::is_symlink(MimeApps()));
	EXPECT_EQ(ReadFile(target),
		before + "text/x-TamselGogoFronted-list=" + std::string(kDesktopId) + ";\n");
	ASSERT_EQ(BMimeType(kListType).Delete(), B_OK);
	EXPECT_TRUE(std::filesystem::is_symlink(MimeApps()));
	EXPECT_EQ(ReadFile(target), before);
	// Nothing left beside either of them.
	EXPECT_EQ(std::distance(std::filesystem::directory_iterator(fHome / "dotfiles"),
				  std::filesystem::directory_iterator()),
		1);
	EXPECT_EQ(std::distance(std::filesystem::directory_iterator(fConfigHome),
				  std::filesystem::directory_iterator()),
		1);
}

TEST_F(StorageMime, APrivateMimeappsListStaysPrivate)
{
	std::filesystem::create_directories(fConfigHome);
	ASSERT_TRUE(WriteFile(MimeApps(), "[Default Applications]\n"));
	ASSERT_EQ(chmod(MimeApps().c_str(), 0600), 0);
	ASSERT_EQ(InstallListType(), B_OK);
	EXPECT_NE(ReadFile(MimeApps()).find("text/x-TamselGogoFronted-list="), std::string::npos);
	struct stat st;
	ASSERT_EQ(stat(MimeApps().c_str(), &st), 0);
	EXPECT_EQ(st.st_mode & 07777, 0600u);
	ASSERT_EQ(BMimeType(kListType).Delete(), B_OK);
	ASSERT_EQ(stat(MimeApps().c_str(), &st), 0);
	EXPECT_EQ(st.st_mode & 07777, 0600u);
	EXPECT_EQ(ReadFile(MimeApps()), "[Default Applications]\n");
}

// A mimeapps.list the kit cannot read (here: larger than any it reads) is
// not replaced by one holding only the kit's line.
TEST_F(StorageMime, AMimeappsListThatCannotBeReadIsNotWrittenOver)
{
	std::filesystem::create_directories(fConfigHome);
	const off_t size = off_t(BPrivate::kMaxKitFileSize) + 1;
	ASSERT_TRUE(WriteFile(MimeApps(), ""));
	ASSERT_EQ(truncate(MimeApps().c_str(), size), 0);
	struct stat before;
	ASSERT_EQ(stat(MimeApps().c_str(), &before), 0);
	ASSERT_EQ(InstallListType(), B_OK);
	struct stat after;
	ASSERT_EQ(stat(MimeApps().c_str(), &after), 0);
	EXPECT_EQ(after.st_ino, before.st_ino);
	EXPECT_EQ(after.st_size, size);
	char text[B_MIME_TYPE_LENGTH];
	EXPECT_EQ(BMimeType(kListType).GetPreferredApp(text), B_ENTRY_NOT_FOUND);
}

TEST(StorageMimeType, ValidTypesAndSetters)
{
	EXPECT_TRUE(BMimeType::IsValid("text/x-TamselGogoFronted-list"));
	EXPECT_TRUE(BMimeType::IsValid("application/x-vnd.Be-elfexecutable"));
	EXPECT_TRUE(BMimeType::IsValid("text"));
	EXPECT_TRUE(BMimeType::IsValid("image/svg+xml"));
	for (const char* invalid : {"", "/plain", "text/", "a/b/c", "text/pl ain", "text/a;b",
			 "t\xe9xt/plain", "text/(x)"})
		EXPECT_FALSE(BMimeType::IsValid(invalid)) << invalid;
	EXPECT_FALSE(BMimeType::IsValid(nullptr));
	EXPECT_FALSE(BMimeType::IsValid(("text/" + std::string(260, 'x')).c_str()));

	BMimeType unset;
	EXPECT_EQ(unset.InitCheck(), B_NO_INIT);
	EXPECT_FALSE(unset.IsInstalled());
	EXPECT_EQ(unset.Install(), B_NO_INIT);
	EXPECT_EQ(unset.Delete(), B_NO_INIT);
	EXPECT_EQ(unset.SetShortDescription("x"), B_NO_INIT);
	EXPECT_EQ(BMimeType("not valid").InitCheck(), B_BAD_VALUE);

	BMimeType type(kListType);
	EXPECT_STREQ(type.Type(), kListType);
	EXPECT_EQ(type.SetShortDescription("caf\xe9"), B_BAD_VALUE) << "not UTF-8";
	EXPECT_EQ(type.SetShortDescription("caf\xc3\xa9"), B_OK);
	EXPECT_EQ(type.SetShortDescription(std::string(300, 'd').c_str()), B_BAD_VALUE);
	EXPECT_EQ(type.SetShortDescription(nullptr), B_BAD_VALUE);
	EXPECT_EQ(type.SetPreferredApp("no signature"), B_BAD_VALUE);
	EXPECT_EQ(type.SetPreferredApp(kSignature, app_verb(1)), B_BAD_VALUE);
	EXPECT_EQ(type.SetPreferredApp(nullptr), B_OK);

	BMessage extensions;
	extensions.AddString("extensions", ".tsq");
	EXPECT_EQ(type.SetFileExtensions(&extensions), B_OK) << "a leading dot is dropped";
	extensions.AddString("extensions", "*");
	EXPECT_EQ(type.SetFileExtensions(&extensions), B_BAD_VALUE);
	EXPECT_EQ(type.SetFileExtensions(nullptr), B_OK);

	BBitmap wrongSize(BRect(0, 0, 31, 31), B_CMAP8);
	EXPECT_EQ(type.SetIcon(&wrongSize, B_MINI_ICON), B_BAD_VALUE);
	BBitmap wrongSpace(BRect(0, 0, 15, 15), B_RGB32);
	EXPECT_EQ(type.SetIcon(&wrongSpace, B_MINI_ICON), B_BAD_VALUE);
	EXPECT_EQ(type.SetIcon(nullptr, B_MINI_ICON), B_OK);
	EXPECT_EQ(BMimeType("text").Install(), B_BAD_VALUE) << "a supertype has no entry of its own";
}

TEST(StorageMimeHelpers, BoundedCommands)
{
	using BPrivate::run_bounded;
	EXPECT_EQ(run_bounded({"true"}, std::chrono::seconds(5)), B_OK);
	EXPECT_EQ(run_bounded({"false"}, std::chrono::seconds(5)), B_ERROR);
	EXPECT_EQ(run_bounded({"/nonexistent/helper"}, std::chrono::seconds(5)), B_ENTRY_NOT_FOUND);
	EXPECT_EQ(run_bounded({"tamsel-no-such-helper-anywhere"}, std::chrono::seconds(5)),
		B_ENTRY_NOT_FOUND);
	EXPECT_EQ(run_bounded({}, std::chrono::seconds(5)), B_BAD_VALUE);
	// Arguments are passed as they are, never through a shell.
	EXPECT_EQ(run_bounded({"test", "a b;c", "=", "a b;c"}, std::chrono::seconds(5)), B_OK);

	auto start = std::chrono::steady_clock::now();
	EXPECT_EQ(run_bounded({"sleep", "30"}, std::chrono::milliseconds(200)), B_TIMED_OUT);
	EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

// A helper gets nothing of ours: no descriptor beyond 0-2 (here one opened
// without close-on-exec), and /dev/null for input, output and error, so its
// messages never land on the program's own.
TEST(StorageMimeHelpers, HelpersInheritNothingAndSayNothingOnOurOutput)
{
	using BPrivate::run_bounded;
	const int stray = open("/dev/null", O_RDONLY);
	ASSERT_GE(stray, 0);
	ASSERT_EQ(dup2(stray, 57), 57);
	close(stray);
	EXPECT_EQ(run_bounded({"sh", "-c", "[ ! -e /proc/$$/fd/57 ]"}, std::chrono::seconds(20)), B_OK);
	for (const char* fd : {"0", "1", "2"}) {
		EXPECT_EQ(run_bounded({"sh", "-c", std::string("[ \"$(readlink /proc/$$/fd/") + fd
			+ ")\" = /dev/null ]"}, std::chrono::seconds(20)), B_OK) << "fd " << fd;
	}
	close(57);
}

TEST(StorageMimeHelpers, MimeappsListEdits)
{
	using namespace BPrivate;
	EXPECT_EQ(mimeapps_set_default("", "a/b", "x.desktop"), "[Default Applications]\na/b=x.desktop;\n");
	EXPECT_EQ(mimeapps_set_default("[Default Applications]\na/b=y.desktop;x.desktop;\n", "a/b", "x.desktop"),
		"[Default Applications]\na/b=x.desktop;y.desktop;\n");
	EXPECT_EQ(mimeapps_set_default("[Added Associations]\nc/d=z;", "a/b", "x.desktop"),
		"[Added Associations]\nc/d=z;\n\n[Default Applications]\na/b=x.desktop;\n");
	EXPECT_EQ(mimeapps_set_default("[Default Applications]\r\nA/B = y.desktop\r\n", "a/b", "x.desktop"),
		"[Default Applications]\r\na/b=x.desktop;y.desktop;\n");
	EXPECT_EQ(mimeapps_defaults("[Default Applications]\na/b=x;y;\n[Other]\na/b=z;\n", "a/b"),
		(std::vector<std::string>{"x", "y"}));
	EXPECT_EQ(mimeapps_remove_type("[Other]\na/b=z;\n[Default Applications]\na/b=x;\nc/d=w;\n", "a/b"),
		"[Other]\na/b=z;\n[Default Applications]\nc/d=w;\n");
	EXPECT_EQ(mimeapps_remove_type("no newline at end", "a/b"), "no newline at end\n");
	// One application's default goes; the others', and other groups, stay.
	const struct {
		const char* contents;
		const char* expected;
	} removals[] = {
		{"[Default Applications]\na/b=x;y;z;\n", "[Default Applications]\na/b=x;z;\n"},
		{"[Added Associations]\na/b=y;\n[Default Applications]\nA/B = y\r\nc/d=y;\n",
			"[Added Associations]\na/b=y;\n[Default Applications]\nc/d=y;\n"},
		{"[Default Applications]\r\na/b = x;yy;\r\na/b=\n", "[Default Applications]\r\na/b = x;yy;\r\na/b=\n"},
	};
	for (const auto& removal : removals)
		EXPECT_EQ(mimeapps_remove_default(removal.contents, "a/b", "y"), removal.expected) << removal.contents;
}

TEST(StorageMimeHelpers, DesktopEntryQuoting)
{
	using namespace BPrivate;
	EXPECT_EQ(desktop_exec_argument("/usr/bin/app"), "/usr/bin/app");
	EXPECT_EQ(desktop_exec_argument("/opt/My App/app"), "\"/opt/My App/app\"");
	EXPECT_EQ(desktop_exec_argument("/opt/100%/app"), "/opt/100%%/app");
	// Inside quotes `"`, `$` and `\` are escaped, and the backslash then once
	// more as the string type of the value asks.
	EXPECT_EQ(desktop_exec_argument("/a\"b$c"), "\"/a\\\\\"b\\\\$c\"");
	EXPECT_EQ(desktop_exec_argument("/a\\b"), "\"/a\\\\\\\\b\"");
	EXPECT_EQ(desktop_escape(" lead\ttab\n"), "\\slead\\ttab\\n");
	// A trailing space would go with the blanks at the end of the line.
	EXPECT_EQ(desktop_escape("trail "), "trail\\s");
	EXPECT_EQ(desktop_escape(" "), "\\s");
	EXPECT_EQ(desktop_escape("a  b"), "a  b");
	DesktopEntryFields fields;
	fields.name = "N";
	fields.exec = "e %F";
	fields.mimeTypes = {"a/b", "c/d"};
	std::string text = desktop_entry_text(fields);
	std::string value;
	ASSERT_TRUE(desktop_entry_value(text, "MimeType", &value));
	EXPECT_EQ(value, "a/b;c/d;");
	EXPECT_EQ(split_list(value), (std::vector<std::string>{"a/b", "c/d"}));
	std::string replaced = desktop_entry_replace(text, "MimeType", "c/d;");
	ASSERT_TRUE(desktop_entry_value(replaced, "MimeType", &value));
	EXPECT_EQ(value, "c/d;");
	EXPECT_EQ(desktop_entry_replace("", "K", "v"), "[Desktop Entry]\nK=v\n");
	EXPECT_EQ(desktop_entry_replace("[Desktop Entry]\nA=1\n\n[Other]\nK=x\n", "K", "v"),
		"[Desktop Entry]\nA=1\nK=v\n\n[Other]\nK=x\n");
}

TEST(StorageMimeHelpers, TextChecksAndXml)
{
	using namespace BPrivate;
	EXPECT_TRUE(is_plain_text("plain, with tab\tand newline\n"));
	EXPECT_TRUE(is_plain_text("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb5"));
	EXPECT_FALSE(is_plain_text("caf\xe9"));
	EXPECT_FALSE(is_plain_text("\xc0\xaf")) << "overlong";
	EXPECT_FALSE(is_plain_text("\xed\xa0\x80")) << "surrogate";
	EXPECT_FALSE(is_plain_text(std::string_view("nul\0", 4)));
	EXPECT_FALSE(is_plain_text("bell\a"));
	EXPECT_EQ(xml_escape("<a href=\"x\">&'"), "&lt;a href=&quot;x&quot;&gt;&amp;&apos;");
	EXPECT_EQ(xml_unescape("&lt;&#65;&#x42;&amp;amp;&bogus;&#0;"), "<AB&amp;&bogus;&#0;");
	// References to what plain text cannot hold stay as written.
	EXPECT_EQ(xml_unescape("&#1;&#xD800;&#127;&#9;&#x10FFFF;&#xA0;"),
		"&#1;&#xD800;&#127;\t\xf4\x8f\xbf\xbf\xc2\xa0");
	EXPECT_TRUE(is_plain_text(xml_unescape("&#xdfff;&#x1f;&#x7F;")));
	std::string comment;
	EXPECT_TRUE(mime_xml_comment("<comment xml:lang=\"de\">Liste</comment><comment>List &amp; more</comment>",
		&comment));
	EXPECT_EQ(comment, "List & more");
	EXPECT_FALSE(mime_xml_comment("<comment>unterminated", &comment));
}

// The kit's own desktop entries and an installed program's Exec are read by
// one reader; the two readings differ only in how blanks count.
TEST(StorageMimeHelpers, DesktopEntryReading)
{
	using namespace BPrivate;
	std::string value;
	// Only the [Desktop Entry] group counts, wherever it stands and however
	// often; in it the first key of the name wins.
	const std::string groups = "[Desktop Action Play]\nExec=/bin/false\nK=action\n"
							   "[Desktop Entry]\nName=N\n\n[Other]\nK=other\n"
							   "[Desktop Entry]\nK=first\nExec=app %F\nK=second\n";
	ASSERT_TRUE(desktop_entry_value(groups, "K", &value));
	EXPECT_EQ(value, "first");
	ASSERT_TRUE(desktop_entry_exec(groups, &value));
	EXPECT_EQ(value, "app %F");
	EXPECT_FALSE(desktop_entry_value("K=outside\n[Desktop Entry]\n", "K", &value));
	EXPECT_FALSE(desktop_entry_exec("Exec=outside\n[Desktop Entry]\n", &value));
	// Comments, lines without '=' and localized keys are not the key.
	const std::string others = "[Desktop Entry]\n#Exec=comment\nExec\nName[de]=Liste\n"
							   "Exec[de]=lokal\n";
	EXPECT_FALSE(desktop_entry_exec(others, &value));
	EXPECT_FALSE(desktop_entry_value(others, "Name", &value));
	EXPECT_FALSE(desktop_entry_value(others, "Exec", &value));
	ASSERT_TRUE(desktop_entry_value(others, "Name[de]", &value));
	EXPECT_EQ(value, "Liste");

	// The kit's own files: blanks and CRs around everything are passed
	// over, and the value is raw.
	const std::string loose = "  [Desktop Entry] \r\n\t K \t=  v\\sa  \r\r\n";
	ASSERT_TRUE(desktop_entry_value(loose, "K", &value));
	EXPECT_EQ(value, "v\\sa");
	ASSERT_TRUE(desktop_entry_value("[Desktop Entry]\nK\r=v\n", "K", &value));
	EXPECT_EQ(value, "v");

	// An installed program's Exec: the one CR at the end goes, blanks after
	// '=' go, the rest is the value with its string escapes undone.
	ASSERT_TRUE(desktop_entry_exec("[Desktop Entry]\r\nExec \t= \tapp %F  \t\r\n", &value));
	EXPECT_EQ(value, "app %F  \t");
	ASSERT_TRUE(desktop_entry_exec("[Desktop Entry]\nExec=a\\sb\\\\c\\t\\n\\r \\$x \\\"q\\\"\\", &value));
	EXPECT_EQ(value, "a b\\c\t\n\r \\$x \\\"q\\\"\\");
	ASSERT_TRUE(desktop_entry_exec("[Desktop Entry]\nExec=a\r\r\n", &value));
	EXPECT_EQ(value, "a\r");
	// A header or key that does not start its line, a header with blanks
	// after it, or a CR before '=' is not taken.
	EXPECT_FALSE(desktop_entry_exec("[Desktop Entry]\n Exec=app\n", &value));
	EXPECT_FALSE(desktop_entry_exec(" [Desktop Entry]\nExec=app\n", &value));
	EXPECT_FALSE(desktop_entry_exec("[Desktop Entry] \nExec=app\n", &value));
	EXPECT_FALSE(desktop_entry_exec("[Desktop Entry]\nExec\r=app\n", &value));
	// Nothing found leaves the value as it was.
	value = "kept";
	EXPECT_FALSE(desktop_entry_exec("", &value));
	EXPECT_FALSE(desktop_entry_value("", "Exec", &value));
	EXPECT_EQ(value, "kept");
}

// The entry written for a program starts that very program: what the kit
// writes into Exec is what the roster reads back.
TEST(StorageMimeHelpers, WrittenExecStartsTheProgram)
{
	using namespace BPrivate;
	const std::vector<std::string> files = {"/music/a b.wav", "/music/100%.wav"};
	for (const std::string program : {"/usr/bin/app", "/opt/My App/app", "/opt/100%/app",
			"/opt/100% sure/app", "/a\"b$c`d\\e", "/tab\there"}) {
		DesktopEntryFields fields;
		fields.name = "App ";
		fields.exec = desktop_exec_argument(program) + " %F";
		std::string exec;
		ASSERT_TRUE(desktop_entry_exec(desktop_entry_text(fields), &exec)) << program;
		std::vector<ExecArgument> arguments;
		ASSERT_TRUE(SplitExec(exec, &arguments)) << program;
		std::vector<std::string> expected = {program};
		expected.insert(expected.end(), files.begin(), files.end());
		EXPECT_EQ(ExpandExec(arguments, files, &files.front()), expected) << program;
	}
	// In quotes, %% is a percent sign and other codes are kept.
	std::vector<ExecArgument> arguments;
	ASSERT_TRUE(SplitExec("\"50%% %f\" %f", &arguments));
	EXPECT_EQ(ExpandExec(arguments, {"x"}, nullptr), (std::vector<std::string>{"50% %f"}));
}
