// The four settings stored as attributes of the program's executable.
#include "ProgramHarness.h"
#include "SettingsStore.h"
#include "TamselApp.h"
#include "MainWindow.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <filesystem>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace testing_support;

namespace {

struct Loaded {
	std::string location;
	bool closeOnAdd, clearOnOpen, selfRegister;
};

Loaded Load(const std::string& path)
{
	char buffer[kEncoderLocationSize];
	std::memset(buffer, 'x', sizeof(buffer));
	SettingsValues values;
	values.location = buffer;
	BNode node(path.c_str());
	LoadSettings(node, values);
	return {buffer, values.dontCloseOnAdd, values.dontClearOnOpen, values.selfRegisterMimeType};
}

void SetRaw(const std::string& path, const char* name, const std::string& value)
{
	ASSERT_EQ(setxattr(path.c_str(), (std::string("user.") + name).c_str(), value.data(),
				  value.size(), 0), 0);
}

ssize_t RawSize(const std::string& path, const char* name)
{
	return getxattr(path.c_str(), (std::string("user.") + name).c_str(), nullptr, 0);
}

std::string ExecutablePath()
{
	return std::filesystem::read_symlink("/proc/self/exe").string();
}

} // namespace

TEST(SettingsStore, FreshFileGivesTheDefaults)
{
	TempDir dir;
	WriteFile(dir / "exe", "binary");
	const Loaded loaded = Load(dir / "exe");
	EXPECT_EQ(loaded.location, "/boot/home/config/bin/Gogo");
	EXPECT_FALSE(loaded.closeOnAdd);
	EXPECT_FALSE(loaded.clearOnOpen);
	EXPECT_TRUE(loaded.selfRegister);
}

TEST(SettingsStore, RoundTripKeepsSpacesAndStoresTheTerminator)
{
	TempDir dir;
	const std::string exe = dir / "exe";
	WriteFile(exe, "binary");
	char location[kEncoderLocationSize] = "/opt/my encoders/gogo";
	{
		SettingsValues values{location, true, true, false};
		BNode node(exe.c_str());
		StoreSettings(node, values);
	}
	const Loaded loaded = Load(exe);
	EXPECT_EQ(loaded.location, "/opt/my encoders/gogo");
	EXPECT_TRUE(loaded.closeOnAdd);
	EXPECT_TRUE(loaded.clearOnOpen);
	EXPECT_FALSE(loaded.selfRegister);

	// Stored as the text and its NUL; flags as one byte.
	EXPECT_EQ(RawSize(exe, "encoder_location"), ssize_t(std::strlen(location) + 1));
	EXPECT_EQ(RawSize(exe, "dont_close_on_add"), 1);

	char standard[kEncoderLocationSize] = "/boot/home/config/bin/Gogo";
	SettingsValues values{standard, false, false, true};
	BNode node(exe.c_str());
	StoreSettings(node, values);
	EXPECT_EQ(RawSize(exe, "encoder_location"), 27);
}

TEST(SettingsStore, OddValuesFromOtherToolsGiveDefaults)
{
	TempDir dir;
	const std::string exe = dir / "exe";
	WriteFile(exe, "binary");

	// Not terminated within the buffer: never read past it.
	SetRaw(exe, "encoder_location", std::string(1024, 'a'));
	EXPECT_EQ(Load(exe).location, "/boot/home/config/bin/Gogo");
	SetRaw(exe, "encoder_location", std::string(3000, 'b'));
	EXPECT_EQ(Load(exe).location, "/boot/home/config/bin/Gogo");
	SetRaw(exe, "encoder_location", "");
	EXPECT_EQ(Load(exe).location, "/boot/home/config/bin/Gogo");
	// Written without the terminator, as setfattr does.
	SetRaw(exe, "encoder_location", "/usr/bin/gogo");
	EXPECT_EQ(Load(exe).location, "/boot/home/config/bin/Gogo");
	// A terminated value is taken up to its terminator.
	SetRaw(exe, "encoder_location", std::string("/usr/bin/gogo\0junk", 18));
	EXPECT_EQ(Load(exe).location, "/usr/bin/gogo");

	SetRaw(exe, "dont_close_on_add", std::string("\x01\x01", 2));
	SetRaw(exe, "dont_clear_on_open", "\x07");
	SetRaw(exe, "self_register_mime_type", std::string("\0", 1));
	const Loaded loaded = Load(exe);
	EXPECT_FALSE(loaded.closeOnAdd);
	EXPECT_FALSE(loaded.clearOnOpen);
	EXPECT_FALSE(loaded.selfRegister);

	// A value stored with another type code counts as missing.
	BNode node(exe.c_str());
	const int32 number = 1;
	node.WriteAttr("dont_clear_on_open", B_INT32_TYPE, 0, &number, sizeof(number));
	node.WriteAttr("encoder_location", B_INT32_TYPE, 0, "/x", 3);
	EXPECT_FALSE(Load(exe).clearOnOpen);
	EXPECT_EQ(Load(exe).location, "/boot/home/config/bin/Gogo");
}

TEST(SettingsStore, CopyWithoutAttributesStartsFromDefaults)
{
	TempDir dir;
	const std::string exe = dir / "exe";
	WriteFile(exe, "binary");
	char location[kEncoderLocationSize] = "/somewhere/gogo";
	SettingsValues values{location, true, true, false};
	{
		BNode node(exe.c_str());
		StoreSettings(node, values);
	}
	std::filesystem::copy_file(exe, dir / "copy");
	EXPECT_EQ(Load(dir / "copy").location, "/boot/home/config/bin/Gogo");
	EXPECT_TRUE(Load(dir / "copy").selfRegister);
}

TEST(SettingsStore, ReadOnlyVolumeKeepsWhatWasStored)
{
	if (geteuid() != 0)
		GTEST_SKIP() << "needs root to mount a read-only file system";
	TempDir dir;
	const std::string mountPoint = dir / "volume";
	std::filesystem::create_directory(mountPoint);
	if (mount("none", mountPoint.c_str(), "tmpfs", 0, "size=1m") != 0)
		GTEST_SKIP() << "cannot mount a file system here";
	const std::string exe = mountPoint + "/exe";
	WriteFile(exe, "binary");
	char stored[kEncoderLocationSize] = "/stored/gogo";
	{
		SettingsValues values{stored, true, false, true};
		BNode node(exe.c_str());
		StoreSettings(node, values);
	}
	ASSERT_EQ(mount("none", mountPoint.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
	{
		char changed[kEncoderLocationSize] = "/changed/gogo";
		SettingsValues values{changed, false, true, false};
		BNode node(exe.c_str());
		StoreSettings(node, values);
	}
	const Loaded loaded = Load(exe);
	umount(mountPoint.c_str());
	EXPECT_EQ(loaded.location, "/stored/gogo");
	EXPECT_TRUE(loaded.closeOnAdd);
	EXPECT_FALSE(loaded.clearOnOpen);
}

TEST(SettingsStore, NodeWithoutUserAttributesGivesDefaults)
{
	// procfs keeps no user attributes.
	const Loaded loaded = Load("/proc/self/status");
	EXPECT_EQ(loaded.location, "/boot/home/config/bin/Gogo");
	EXPECT_TRUE(loaded.selfRegister);
}

// The whole program: settings load at start, change in memory, and are
// stored only when the main window closes.
TEST(ProgramSettings, StoredOnCloseAndSeenAtTheNextStart)
{
	ClearStoredSettings();
	const std::string exe = ExecutablePath();
	{
		ProgramRun run;
		ASSERT_TRUE(run.Started());
		auto& robot = run.Robot();
		auto box = robot.FindView(kMainTitle, "DontClearOnOpen");
		ASSERT_TRUE(box);
		EXPECT_EQ(box->value, 0);
		auto location = robot.FindView(kMainTitle, "EncoderLocation");
		ASSERT_TRUE(location);
		EXPECT_EQ(location->text, "/boot/home/config/bin/Gogo");

		ASSERT_TRUE(robot.SelectTab(kMainTitle, "TabView", 2));
		ASSERT_TRUE(robot.WaitFor([&] {
			auto shown = robot.FindView(kMainTitle, "Program options");
			return shown && !shown->hidden;
		}));
		ASSERT_TRUE(robot.Toggle(kMainTitle, "DontClearOnOpen"));
		// The screen shows the tick before the window has handled the box's
		// message; wait for the setting itself.
		ASSERT_TRUE(robot.WaitFor([&] {
			MainWindow* window = run.Window();
			if (!window->Lock())
				return false;
			const bool on = run.App()->dontClearOnOpen;
			window->Unlock();
			return on;
		}));
		// Changed in memory only: a program killed now would lose it.
		EXPECT_LT(RawSize(exe, "dont_clear_on_open"), 0);
		ASSERT_TRUE(run.Quit());
	}
	EXPECT_EQ(RawSize(exe, "encoder_location"), 27);
	{
		ProgramRun run;
		ASSERT_TRUE(run.Started());
		auto box = run.Robot().FindView(kMainTitle, "DontClearOnOpen");
		ASSERT_TRUE(box);
		EXPECT_EQ(box->value, 1);
	}
	ClearStoredSettings();
}

namespace {

// The thread of the application that takes the quit signals, by its name.
pid_t QuitSignalThread()
{
	for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
		std::string name;
		std::getline(std::ifstream(task.path() / "comm"), name);
		if (name == "quit signals")
			return static_cast<pid_t>(std::stol(task.path().filename().string()));
	}
	return -1;
}

} // namespace

// A logout (SIGTERM or SIGHUP) or Ctrl-C (SIGINT) asks the program to quit
// as its window's close box would: the settings of this session are stored.
// The signal is aimed at the application's signal thread, since the test
// process has threads of its own that do not block it.
TEST(ProgramSettings, StoredWhenAQuitSignalArrives)
{
	const std::string exe = ExecutablePath();
	for (int signal : {SIGTERM, SIGHUP, SIGINT}) {
		SCOPED_TRACE(sigabbrev_np(signal));
		ClearStoredSettings();
		ProgramRun run;
		ASSERT_TRUE(run.Started());
		auto& robot = run.Robot();
		ASSERT_TRUE(robot.SelectTab(kMainTitle, "TabView", 2));
		ASSERT_TRUE(robot.WaitFor([&] {
			auto shown = robot.FindView(kMainTitle, "Program options");
			return shown && !shown->hidden;
		}));
		ASSERT_TRUE(robot.Toggle(kMainTitle, "DontCloseOnAdd"));
		ASSERT_TRUE(robot.WaitFor([&] {
			MainWindow* window = run.Window();
			if (!window->Lock())
				return false;
			const bool on = run.App()->dontCloseOnAdd;
			window->Unlock();
			return on;
		}));
		EXPECT_LT(RawSize(exe, "dont_close_on_add"), 0);
		const pid_t thread = QuitSignalThread();
		ASSERT_GT(thread, 0);
		ASSERT_EQ(syscall(SYS_tgkill, getpid(), thread, signal), 0);
		ASSERT_TRUE(WaitUntil([&] { return run.Ended(); })) << "the program did not quit";
		EXPECT_TRUE(Load(exe).closeOnAdd);
	}
	ClearStoredSettings();
}
