// The "Program options" tab as a user works it: its layout, the switches,
// the encoder's location, and installing and deleting the list file type.

#include "MainWindow.h"
#include "ProgramHarness.h"
#include "TamselApp.h"

#include <gtest/gtest.h>

#include <MimeType.h>
#include <Node.h>

#include <cstdlib>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace testing_support;
using BPrivate::AlertIcon;
using BPrivate::HeadlessDisplay;

namespace {

constexpr const char* kPage = "Program options";
constexpr const char* kListType = "text/x-TamselGogoFronted-list";

// Sets an environment variable for as long as it lives.
class ScopedEnv {
public:
	ScopedEnv(const char* name, const std::string& value)
		:
		fName(name)
	{
		if (const char* old = getenv(name))
			fOld = old;
		setenv(name, value.c_str(), 1);
	}
	~ScopedEnv()
	{
		if (fOld)
			setenv(fName, fOld->c_str(), 1);
		else
			unsetenv(fName);
	}

private:
	const char* fName;
	std::optional<std::string> fOld;
};

void StoreSelfRegister(bool on)
{
	BNode node("/proc/self/exe");
	const uint8 value = on ? 1 : 0;
	node.WriteAttr("self_register_mime_type", B_BOOL_TYPE, 0, &value, 1);
}

// What xdg-mime answers, first line; nullopt when it cannot be run.
std::optional<std::string> XdgMime(const std::vector<std::string>& arguments)
{
	const char* program = "/usr/bin/xdg-mime";
	if (access(program, X_OK) != 0)
		return std::nullopt;
	int fds[2];
	if (pipe(fds) != 0)
		return std::nullopt;
	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
	posix_spawn_file_actions_addclose(&actions, fds[0]);
	std::vector<std::string> words = {program};
	words.insert(words.end(), arguments.begin(), arguments.end());
	std::vector<char*> argv;
	for (std::string& word : words)
		argv.push_back(word.data());
	argv.push_back(nullptr);
	pid_t pid = -1;
	const int spawned = posix_spawn(&pid, program, &actions, nullptr, argv.data(), environ);
	posix_spawn_file_actions_destroy(&actions);
	close(fds[1]);
	std::string output;
	char buffer[512];
	for (ssize_t got; spawned == 0 && (got = read(fds[0], buffer, sizeof(buffer))) > 0;)
		output.append(buffer, size_t(got));
	close(fds[0]);
	if (spawned != 0)
		return std::nullopt;
	waitpid(pid, nullptr, 0);
	return output.substr(0, output.find('\n'));
}

class OptionsTab : public ::testing::Test {
protected:
	void SetUp() override { ClearStoredSettings(); }
	void TearDown() override
	{
		fRun.reset();
		ClearStoredSettings();
	}

	void Start()
	{
		fRun = std::make_unique<ProgramRun>();
		ASSERT_TRUE(fRun->Started());
		ASSERT_TRUE(Robot().SelectTab(kMainTitle, "TabView", 2));
		ASSERT_TRUE(Robot().WaitFor([&] {
			auto page = Robot().FindView(kMainTitle, kPage);
			return page && !page->hidden;
		}));
	}
	HeadlessDisplay& Robot() { return fRun->Robot(); }
	BPrivate::ViewState View(const char* name)
	{
		auto state = Robot().FindView(kMainTitle, name);
		EXPECT_TRUE(state) << name;
		return state ? *state : BPrivate::ViewState{};
	}
	// A value of the application object, read as the main window sees it.
	template <typename Read>
	auto Setting(Read read)
	{
		MainWindow* window = fRun->Window();
		EXPECT_TRUE(window->Lock());
		auto value = read(*fRun->App());
		window->Unlock();
		return value;
	}
	std::string Location()
	{
		return Setting([](TamselApp& app) { return std::string(app.encoderLocation.get()); });
	}
	bool LocationBecomes(const std::string& text)
	{
		return Robot().WaitFor([&] { return Location() == text; });
	}

	// Presses a button and returns the alert's text after checking its looks.
	std::string Answer(const char* button, const std::string& title)
	{
		EXPECT_TRUE(Robot().Click(kMainTitle, button));
		std::optional<HeadlessDisplay::ShownAlert> shown;
		EXPECT_TRUE(Robot().WaitFor([&] {
			for (const auto& alert : Robot().Alerts()) {
				if (alert.title == title)
					shown = alert;
			}
			return shown.has_value();
		}, std::chrono::seconds(30))) << title;
		if (!shown)
			return {};
		EXPECT_EQ(shown->icon, AlertIcon::Info);
		EXPECT_EQ(shown->buttons, std::vector<std::string>{"OK"});
		EXPECT_TRUE(Robot().AnswerAlert(0, title));
		EXPECT_TRUE(Robot().WaitFor([&] { return Robot().Alerts().empty(); }));
		return shown->text;
	}
	std::string Install() { return Answer("RegisterMIMETypeNow", "MimeInstalled"); }
	std::string Delete() { return Answer("UnregisterMIMETypeNow", "MimeDeleted"); }
	static bool Installed() { return BMimeType(kListType).IsInstalled(); }

	std::unique_ptr<ProgramRun> fRun;
	TempDir fFiles;
};

} // namespace

// ---- what the tab shows ------------------------------------------------------

TEST_F(OptionsTab, ControlsAreLaidOutBelowEachOther)
{
	ASSERT_NO_FATAL_FAILURE(Start());
	const float W = View(kPage).frame.Width();
	ASSERT_GT(W, 250);

	const auto browse = View("SetEncoderLocation");
	EXPECT_EQ(browse.label, "Browse...");
	EXPECT_EQ(browse.frame.left, W - 74);
	EXPECT_EQ(browse.frame.top, 0);
	EXPECT_EQ(browse.frame.Height(), 20);
	// Even where buttons are wider by nature, it is not cut off by the tab.
	EXPECT_LE(browse.frame.right, W);

	const auto field = View("EncoderLocation");
	EXPECT_EQ(field.label, "Gogo location:");
	EXPECT_EQ(field.frame.left, 0);
	EXPECT_EQ(field.frame.top, 1);
	EXPECT_EQ(field.frame.Width(), W - 79);
	EXPECT_EQ(field.divider, 115);
	EXPECT_EQ(field.textViewFrame.Width(), W - 203);
	EXPECT_EQ(field.maxBytes, 1023);

	const std::vector<std::pair<const char*, const char*>> boxes = {
		{"DontCloseOnAdd", "Do not close \"Add files\" panel on adding files"},
		{"DontClearOnOpen", "Do not clear current list when opening another list"},
		{"SelfRegisterMIMEType", "Self-install MIME type on startup"},
	};
	BRect above = field.frame;
	for (const auto& [name, label] : boxes) {
		const auto box = View(name);
		EXPECT_EQ(box.label, label);
		EXPECT_EQ(box.frame.left, 0) << name;
		EXPECT_EQ(box.frame.top, above.bottom + 5) << name;
		above = box.frame;
	}
	const auto install = View("RegisterMIMETypeNow");
	const auto remove = View("UnregisterMIMETypeNow");
	EXPECT_EQ(install.label, "Install MIME type now");
	EXPECT_EQ(remove.label, "Delete MIME type now");
	EXPECT_EQ(install.frame.left, 19);
	EXPECT_EQ(install.frame.top, above.bottom + 5);
	EXPECT_EQ(remove.frame.left, install.frame.right + 4);
	EXPECT_EQ(remove.frame.top, install.frame.top);
}

// ---- the switches and the location ------------------------------------------

TEST_F(OptionsTab, SwitchesTakeEffectAtOnceAndSurviveARestart)
{
	ASSERT_NO_FATAL_FAILURE(Start());
	using Flag = bool TamselApp::*;
	const std::vector<std::tuple<const char*, Flag, bool>> boxes = {
		{"DontCloseOnAdd", &TamselApp::dontCloseOnAdd, false},
		{"DontClearOnOpen", &TamselApp::dontClearOnOpen, false},
		{"SelfRegisterMIMEType", &TamselApp::selfRegisterMimeType, true},
	};
	for (const auto& [name, flag, initial] : boxes) {
		EXPECT_EQ(View(name).value, initial ? 1 : 0) << name;
		EXPECT_EQ(Setting([flag](TamselApp& app) { return app.*flag; }), initial) << name;
		ASSERT_TRUE(Robot().Toggle(kMainTitle, name));
		EXPECT_TRUE(Robot().WaitFor([&] {
			return Setting([flag](TamselApp& app) { return app.*flag; }) == !initial;
		})) << name;
	}
	ASSERT_TRUE(Robot().Click(kMainTitle, "CloseButton"));
	ASSERT_TRUE(WaitUntil([&] { return fRun->Ended(); }));
	fRun.reset();

	ASSERT_NO_FATAL_FAILURE(Start());
	for (const auto& [name, flag, initial] : boxes) {
		EXPECT_EQ(View(name).value, initial ? 0 : 1) << name;
		EXPECT_EQ(Setting([flag](TamselApp& app) { return app.*flag; }), !initial) << name;
	}
	// The type was not installed at this start.
	EXPECT_FALSE(Installed());
}

TEST_F(OptionsTab, LocationFollowsEveryKeystrokeUpToItsLimit)
{
	ASSERT_NO_FATAL_FAILURE(Start());
	EXPECT_EQ(Location(), View("EncoderLocation").text);

	ASSERT_TRUE(Robot().SetText(kMainTitle, "EncoderLocation", ""));
	EXPECT_TRUE(LocationBecomes(""));
	std::string typed;
	for (char c : std::string("/opt/my gogo")) {
		ASSERT_TRUE(Robot().Type(kMainTitle, "EncoderLocation", std::string(1, c)));
		typed += c;
		ASSERT_TRUE(LocationBecomes(typed)) << typed;
	}

	const std::string longest = "/" + std::string(1022, 'g');
	ASSERT_TRUE(Robot().SetText(kMainTitle, "EncoderLocation", longest + "xyz"));
	EXPECT_TRUE(LocationBecomes(longest));
	Robot().Type(kMainTitle, "EncoderLocation", "q");
	// Input is handled in order: once the box's flag changed, so was the key.
	ASSERT_TRUE(Robot().Toggle(kMainTitle, "DontCloseOnAdd"));
	ASSERT_TRUE(Robot().WaitFor([&] {
		return Setting([](TamselApp& app) { return app.dontCloseOnAdd; });
	}));
	EXPECT_EQ(View("EncoderLocation").text, longest);
	EXPECT_EQ(Location(), longest);

	// Stored whole, and read back whole.
	ASSERT_TRUE(fRun->Quit());
	fRun.reset();
	ASSERT_NO_FATAL_FAILURE(Start());
	EXPECT_EQ(View("EncoderLocation").text, longest);
	EXPECT_EQ(Location(), longest);
}

TEST_F(OptionsTab, BrowsingForTheEncoderKeepsALinkAsChosen)
{
	ASSERT_NO_FATAL_FAILURE(Start());
	const std::string target = fFiles / "gogo-3.13";
	const std::string link = fFiles / "gogo";
	ASSERT_TRUE(WriteFile(target, "#!/bin/sh\n"));
	std::filesystem::create_symlink(target, link);

	ASSERT_TRUE(Robot().Click(kMainTitle, "SetEncoderLocation"));
	std::optional<HeadlessDisplay::ShownPanel> panel;
	ASSERT_TRUE(Robot().WaitFor([&] {
		for (const auto& shown : Robot().Panels()) {
			if (shown.request.title == "Locate Gogo")
				panel = shown;
		}
		return panel.has_value();
	}));
	EXPECT_EQ(panel->request.mode, BPrivate::PanelMode::Open);
	EXPECT_EQ(panel->request.defaultLabel, "Select");
	EXPECT_EQ(panel->request.cancelLabel, "Cancel");
	EXPECT_EQ(panel->request.nodeFlavors, uint32(B_FILE_NODE | B_SYMLINK_NODE));
	EXPECT_FALSE(panel->request.multipleSelection);

	ASSERT_TRUE(Robot().AnswerOpenPanel("Locate Gogo", {link}));
	EXPECT_TRUE(LocationBecomes(link));
	EXPECT_TRUE(Robot().WaitFor([&] { return View("EncoderLocation").text == link; }));
}

// ---- the list file type ------------------------------------------------------

TEST_F(OptionsTab, InstallingAndDeletingTheTypeFollowItsState)
{
	ASSERT_NO_FATAL_FAILURE(Start());
	// Installed at start, without a word.
	EXPECT_TRUE(Installed());
	EXPECT_TRUE(Robot().Alerts().empty());

	const std::string dataHome = getenv("XDG_DATA_HOME");
	const std::string package = dataHome + "/mime/packages/text-x-TamselGogoFronted-list.xml";
	ASSERT_TRUE(std::filesystem::exists(package));
	const std::string sample = fFiles / "some.tsq";
	ASSERT_TRUE(WriteFile(sample, "# Generated by Tamsel Gogo Frontend 1.2a\n"));
	const auto filetype = XdgMime({"query", "filetype", sample});
	const auto preferred = XdgMime({"query", "default", kListType});
	ASSERT_TRUE(filetype.has_value() || access("/usr/bin/xdg-mime", X_OK) != 0);
	if (filetype) {
		EXPECT_EQ(*filetype, kListType);
		EXPECT_EQ(*preferred, "application-x-vnd.TamselGogoFrontend.desktop");
	}

	// Installing again leaves the type as it is, even as edited since.
	const std::string edited = ReadFile(package) + "<!-- edited -->\n";
	ASSERT_TRUE(WriteFile(package, edited));
	EXPECT_EQ(Install(), "MIME type was already installed.");
	EXPECT_EQ(ReadFile(package), edited);

	EXPECT_EQ(Delete(), "MIME type successfully deleted.");
	EXPECT_FALSE(Installed());
	if (filetype) {
		EXPECT_NE(XdgMime({"query", "filetype", sample}), kListType);
		EXPECT_NE(XdgMime({"query", "default", kListType}),
			"application-x-vnd.TamselGogoFrontend.desktop");
	}
	EXPECT_EQ(Delete(), "Can't delete MIME type; it was not installed.");
	EXPECT_EQ(Install(), "MIME type successfully installed.");
	EXPECT_TRUE(Installed());
	EXPECT_EQ(Install(), "MIME type was already installed.");
	if (!filetype)
		GTEST_SKIP() << "xdg-mime (xdg-utils) not installed: the desktop's view of the type was not checked";
	EXPECT_EQ(XdgMime({"query", "filetype", sample}), kListType);
}

TEST_F(OptionsTab, TypeOfTheSystemIsNotOursToDelete)
{
	TempDir system;
	std::filesystem::create_directories(system / "mime");
	ASSERT_TRUE(WriteFile(system / "mime/types", std::string(kListType) + "\n"));
	ScopedEnv dirs("XDG_DATA_DIRS", system.Path());
	StoreSelfRegister(false);
	ASSERT_NO_FATAL_FAILURE(Start());
	EXPECT_EQ(Delete(), "Error deleting MIME type.");
	EXPECT_EQ(Install(), "MIME type was already installed.");
	EXPECT_TRUE(Installed());
	fRun.reset();
}

TEST_F(OptionsTab, InstallWithoutTheDatabaseToolFailsAndLeavesNothing)
{
	TempDir emptyPath;
	StoreSelfRegister(false);
	ScopedEnv path("PATH", emptyPath.Path());
	ASSERT_NO_FATAL_FAILURE(Start());
	EXPECT_FALSE(Installed());
	EXPECT_EQ(Install(), "Error installing MIME type.");
	EXPECT_FALSE(Installed());
	const std::string dataHome = getenv("XDG_DATA_HOME");
	EXPECT_FALSE(
		std::filesystem::exists(dataHome + "/mime/packages/text-x-TamselGogoFronted-list.xml"));
	fRun.reset();
}

TEST_F(OptionsTab, DeletedTypeComesBackAtTheNextStartOnlyWhenAsked)
{
	ASSERT_NO_FATAL_FAILURE(Start());
	EXPECT_EQ(Delete(), "MIME type successfully deleted.");
	ASSERT_TRUE(fRun->Quit());
	fRun.reset();
	ASSERT_NO_FATAL_FAILURE(Start());
	EXPECT_TRUE(Installed());
	EXPECT_TRUE(Robot().Alerts().empty());

	ASSERT_TRUE(Robot().Toggle(kMainTitle, "SelfRegisterMIMEType"));
	ASSERT_TRUE(Robot().WaitFor([&] {
		return !Setting([](TamselApp& app) { return app.selfRegisterMimeType; });
	}));
	ASSERT_TRUE(fRun->Quit());
	fRun.reset();
	ASSERT_NO_FATAL_FAILURE(Start());
	EXPECT_FALSE(Installed());
	EXPECT_TRUE(Robot().Alerts().empty());
}
