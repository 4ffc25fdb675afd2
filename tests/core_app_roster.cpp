// BRoster with real child processes: launching, the quit notices, exact
// arguments, kill_team through the pidfd, refused executables, the desktop's
// preferred application and opener, and no zombies left behind.
#include <AppDefs.h>
#include <Entry.h>
#include <Looper.h>
#include <Messenger.h>
#include <Roster.h>

#include <TestSupport.h>

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WaitUntil;
using testing_support::WriteFile;

namespace {

// Collects the roster's notices on a looper thread of its own.
class NoticeLooper : public BLooper {
public:
	NoticeLooper()
		: BLooper("notices")
	{
	}

	void MessageReceived(BMessage* message) override
	{
		std::lock_guard<std::mutex> guard(fLock);
		fNotices.push_back(*message);
	}

	// The quit notice of the team, once it has arrived.
	bool FindQuit(team_id team, BMessage* out)
	{
		std::lock_guard<std::mutex> guard(fLock);
		for (const BMessage& notice : fNotices) {
			int32 noticeTeam = -1;
			if (notice.what == B_SOME_APP_QUIT && notice.FindInt32("be:team", &noticeTeam) == B_OK
				&& noticeTeam == team) {
				if (out != nullptr)
					*out = notice;
				return true;
			}
		}
		return false;
	}

	int32 Count(uint32 what)
	{
		std::lock_guard<std::mutex> guard(fLock);
		int32 count = 0;
		for (const BMessage& notice : fNotices)
			count += notice.what == what ? 1 : 0;
		return count;
	}

	bool HasMarker()
	{
		return Count('MARK') > 0;
	}

private:
	std::mutex fLock;
	std::vector<BMessage> fNotices;
};

struct Child {
	pid_t pid;
	char state;
};

// Our children as the kernel lists them, zombies included.
std::vector<Child> Children()
{
	std::vector<Child> children;
	DIR* proc = opendir("/proc");
	if (proc == nullptr)
		return children;
	while (dirent* entry = readdir(proc)) {
		char* end = nullptr;
		long pid = strtol(entry->d_name, &end, 10);
		if (pid <= 0 || *end != '\0')
			continue;
		std::string stat = ReadFile(std::string("/proc/") + entry->d_name + "/stat");
		size_t paren = stat.rfind(')');
		if (paren == std::string::npos || paren + 4 >= stat.size())
			continue;
		char state = stat[paren + 2];
		long ppid = strtol(stat.c_str() + paren + 4, nullptr, 10);
		if (ppid == getpid())
			children.push_back(Child{static_cast<pid_t>(pid), state});
	}
	closedir(proc);
	return children;
}

entry_ref RefFor(const std::string& path)
{
	char* resolved = realpath(path.c_str(), nullptr);
	entry_ref ref;
	if (resolved != nullptr) {
		EXPECT_EQ(get_ref_for_path(resolved, &ref), B_OK);
		free(resolved);
	}
	return ref;
}

// A script that writes its $0 and arguments, each followed by a NUL, to a file.
std::string MakeRecorder(const TempDir& dir, const std::string& name, const std::string& output)
{
	std::string path = dir / name;
	EXPECT_TRUE(WriteFile(path, "#!/bin/sh\nprintf '%s\\0' \"$0\" \"$@\" > '" + output + "'\n"));
	chmod(path.c_str(), 0755);
	return path;
}

std::vector<std::string> SplitNul(const std::string& contents)
{
	return testing_support::SplitAt(contents, '\0');
}

// Sets an environment variable for the length of a test.
class ScopedEnv {
public:
	ScopedEnv(const char* name, const std::string& value)
		: fName(name)
	{
		if (const char* old = getenv(name)) {
			fHad = true;
			fOld = old;
		}
		setenv(name, value.c_str(), 1);
	}
	~ScopedEnv()
	{
		if (fHad)
			setenv(fName.c_str(), fOld.c_str(), 1);
		else
			unsetenv(fName.c_str());
	}

private:
	std::string fName;
	std::string fOld;
	bool fHad = false;
};

class Roster : public ::testing::Test {
protected:
	void SetUp() override
	{
		fNotices = new NoticeLooper;
		fNotices->Run();
		fMessenger = BMessenger(nullptr, fNotices);
		ASSERT_EQ(be_roster->StartWatching(fMessenger, B_REQUEST_QUIT | B_REQUEST_LAUNCHED), B_OK);
	}

	void TearDown() override
	{
		be_roster->StopWatching(fMessenger);
		fNotices->Lock();
		fNotices->Quit();
		BPrivate::SetDesktopOpener(nullptr);
		// Every team we started has been reaped by now.
		EXPECT_TRUE(WaitUntil([] {
			for (const Child& child : Children()) {
				if (child.state == 'Z')
					return false;
			}
			return true;
		})) << "a zombie was left behind";
	}

	BMessage WaitForQuit(team_id team)
	{
		BMessage notice;
		EXPECT_TRUE(WaitUntil([&] { return fNotices->FindQuit(team, &notice); }))
			<< "no quit notice for team " << team;
		return notice;
	}

	NoticeLooper* fNotices = nullptr;
	BMessenger fMessenger;
	TempDir fDir;
};

TEST_F(Roster, QuitNoticeNamesTheExecutableAndTheTeam)
{
	entry_ref trueRef;
	ASSERT_EQ(get_ref_for_path("/bin/true", &trueRef), B_OK);
	team_id team = -1;
	ASSERT_EQ(be_roster->Launch(&trueRef, 0, nullptr, &team), B_OK);
	ASSERT_GT(team, 0);
	BMessage notice = WaitForQuit(team);
	entry_ref ref;
	ASSERT_EQ(notice.FindRef("be:ref", &ref), B_OK);
	EXPECT_EQ(ref, RefFor("/bin/true")) << "links resolved: " << ref.Path();
	EXPECT_EQ(fNotices->Count(B_SOME_APP_LAUNCHED), 1);

	// A script is launched the same way, by its own path.
	std::string script = fDir / "quick.sh";
	ASSERT_TRUE(WriteFile(script, "#!/bin/sh\nexit 3\n"));
	chmod(script.c_str(), 0755);
	std::string link = fDir / "link-to-quick";
	ASSERT_EQ(symlink(script.c_str(), link.c_str()), 0);
	entry_ref linkRef;
	ASSERT_EQ(get_ref_for_path(link.c_str(), &linkRef), B_OK);
	team_id scriptTeam = -1;
	ASSERT_EQ(be_roster->Launch(&linkRef, 0, nullptr, &scriptTeam), B_OK);
	notice = WaitForQuit(scriptTeam);
	ASSERT_EQ(notice.FindRef("be:ref", &ref), B_OK);
	EXPECT_EQ(ref, RefFor(script));
	int32 reported = -1;
	EXPECT_EQ(notice.FindInt32("be:team", &reported), B_OK);
	EXPECT_EQ(reported, scriptTeam);
}

TEST_F(Roster, ArgumentsReachTheChildByteForByte)
{
	std::string output = fDir / "args";
	std::string recorder = MakeRecorder(fDir, "recorder", output);
	const std::vector<std::string> arguments = {
		"plain",
		"with space",
		"",
		"quote\" and 'single'",
		"tab\there",
		"new\nline",
		"\xff\xfe not utf-8 \x80",
		"$HOME `id` $(id) *",
		"-n",
		"back\\slash",
	};
	std::vector<const char*> argv;
	for (const std::string& argument : arguments)
		argv.push_back(argument.c_str());
	entry_ref ref;
	ASSERT_EQ(get_ref_for_path(recorder.c_str(), &ref), B_OK);
	team_id team = -1;
	ASSERT_EQ(be_roster->Launch(&ref, static_cast<int>(argv.size()), argv.data(), &team), B_OK);
	WaitForQuit(team);

	std::vector<std::string> received = SplitNul(ReadFile(output));
	ASSERT_EQ(received.size(), arguments.size() + 1);
	EXPECT_EQ(received[0], recorder) << "argv[0] is the executable's path";
	for (size_t i = 0; i < arguments.size(); i++)
		EXPECT_EQ(received[i + 1], arguments[i]) << "argument " << i;
}

TEST_F(Roster, KillTeamEndsARunningTeamAndNeverAReapedOne)
{
	entry_ref sleepRef;
	ASSERT_EQ(get_ref_for_path("/bin/sleep", &sleepRef), B_OK);
	const char* args[] = {"100"};
	team_id team = -1;
	ASSERT_EQ(be_roster->Launch(&sleepRef, 1, args, &team), B_OK);
	EXPECT_FALSE(fNotices->FindQuit(team, nullptr));
	ASSERT_EQ(kill_team(team), B_OK);
	BMessage notice = WaitForQuit(team);
	entry_ref ref;
	ASSERT_EQ(notice.FindRef("be:ref", &ref), B_OK);
	EXPECT_EQ(ref, RefFor("/bin/sleep"));
	// Reaped: the pid may belong to anyone now.
	EXPECT_EQ(kill_team(team), B_BAD_TEAM_ID);
	EXPECT_EQ(kill_team(-1), B_BAD_TEAM_ID);
	EXPECT_EQ(kill_team(0), B_BAD_TEAM_ID);
	EXPECT_EQ(kill_team(getpid()), B_BAD_TEAM_ID) << "only teams the roster started";
}

// A script launched through the roster, with its quit notice once it ends.
team_id LaunchScript(const TempDir& dir, const std::string& name, const std::string& body)
{
	const std::string path = dir / name;
	EXPECT_TRUE(WriteFile(path, "#!/bin/sh\n" + body));
	chmod(path.c_str(), 0755);
	entry_ref ref;
	EXPECT_EQ(get_ref_for_path(path.c_str(), &ref), B_OK);
	team_id team = -1;
	EXPECT_EQ(be_roster->Launch(&ref, 0, nullptr, &team), B_OK);
	return team;
}

std::string ErrorTail(const BMessage& notice)
{
	const void* data = nullptr;
	ssize_t size = 0;
	if (notice.FindData("be:stderr", B_RAW_TYPE, 0, &data, &size) != B_OK || size < 0)
		return "<none>";
	return std::string(static_cast<const char*>(data), static_cast<size_t>(size));
}

// Gone, or a zombie waiting for a parent that is not us.
bool ProcessGone(pid_t pid)
{
	const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
	const size_t paren = stat.rfind(')');
	return stat.empty() || (paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] == 'Z');
}

pid_t ReadPid(const std::string& path)
{
	return static_cast<pid_t>(atol(ReadFile(path).c_str()));
}

TEST_F(Roster, QuitNoticeTellsHowTheTeamEndedAndWhatItSaid)
{
	struct Case {
		const char* name;
		const char* body;
		int32 exitStatus; // -1: ended by a signal
		int32 signal;
		std::string tail;
	};
	const Case cases[] = {
		{"exits", "echo not shown\necho first >&2\necho 'last words' >&2\nexit 3\n", 3, 0,
			"first\nlast words\n"},
		{"silent", "exit 0\n", 0, 0, ""},
		{"closes-stderr", "exec 2>&-\nexit 0\n", 0, 0, ""},
		{"crashes", "echo dying >&2\nkill -SEGV $$\n", -1, SIGSEGV, "dying\n"},
		{"binary", "printf 'a\\000b\\001\\n' >&2\nexit 1\n", 1, 0, std::string("a\0b\x01\n", 5)},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.name);
		const team_id team = LaunchScript(fDir, c.name, c.body);
		const BMessage notice = WaitForQuit(team);
		int32 status = -1;
		int32 signal = 0;
		const bool exited = notice.FindInt32("be:exit_status", &status) == B_OK;
		const bool signalled = notice.FindInt32("be:signal", &signal) == B_OK;
		if (c.exitStatus >= 0) {
			EXPECT_TRUE(exited && !signalled);
			EXPECT_EQ(status, c.exitStatus);
		} else {
			EXPECT_TRUE(signalled && !exited);
			EXPECT_EQ(signal, c.signal);
		}
		bool killed = true;
		EXPECT_EQ(notice.FindBool("be:killed", &killed), B_OK);
		EXPECT_FALSE(killed);
		EXPECT_EQ(ErrorTail(notice), c.tail);
	}
}

TEST_F(Roster, AFloodOnStandardErrorKeepsOnlyItsTail)
{
	// 8 MB, then a last line: the notice keeps a bounded tail that ends with it.
	const team_id team = LaunchScript(fDir, "flood",
		"head -c 8000000 /dev/zero | tr '\\000' x >&2\necho >&2\necho 'the end' >&2\nexit 2\n");
	const BMessage notice = WaitForQuit(team);
	const std::string tail = ErrorTail(notice);
	EXPECT_LE(tail.size(), 4096u);
	EXPECT_GT(tail.size(), 100u);
	EXPECT_EQ(tail.substr(tail.size() - 8), "the end\n");
	EXPECT_EQ(tail.find_first_not_of('x'), tail.size() - 9) << "only the flood's last bytes before it";
}

TEST_F(Roster, KillTeamEndsEverythingTheTeamStarted)
{
	// A wrapper whose child ignores SIGTERM, as an encoder behind a script
	// might: the whole group goes, the stubborn child after the grace period.
	const std::string childPid = fDir / "child.pid";
	const std::string stubbornPid = fDir / "stubborn.pid";
	const team_id team = LaunchScript(fDir, "wrapper",
		"sleep 100 &\necho $! > '" + childPid + ".new' && mv '" + childPid + ".new' '" + childPid + "'\n"
		"sh -c 'trap \"\" TERM; echo $$ > \"$0.new\" && mv \"$0.new\" \"$0\"; while :; do sleep 1; done' '"
			+ stubbornPid + "' &\n"
		"wait\n");
	ASSERT_TRUE(WaitUntil([&] { return ReadPid(childPid) > 0 && ReadPid(stubbornPid) > 0; }));
	const pid_t child = ReadPid(childPid);
	const pid_t stubborn = ReadPid(stubbornPid);
	EXPECT_EQ(getpgid(child), team) << "the team leads a process group of its own";
	EXPECT_NE(getpgid(0), team);

	ASSERT_EQ(kill_team(team), B_OK);
	const BMessage notice = WaitForQuit(team);
	bool killed = false;
	EXPECT_EQ(notice.FindBool("be:killed", &killed), B_OK);
	EXPECT_TRUE(killed);
	EXPECT_TRUE(WaitUntil([&] { return ProcessGone(child); })) << "the child went with SIGTERM";
	EXPECT_TRUE(WaitUntil([&] { return ProcessGone(stubborn); })) << "SIGKILL after the grace period";
}

TEST_F(Roster, UnstartableExecutablesStartNothing)
{
	std::string plain = fDir / "not-executable";
	ASSERT_TRUE(WriteFile(plain, "#!/bin/sh\nexit 0\n"));
	chmod(plain.c_str(), 0644);
	std::string garbage = fDir / "garbage";
	ASSERT_TRUE(WriteFile(garbage, "\x01\x02\x03 not a program\n"));
	chmod(garbage.c_str(), 0755);
	std::string badInterpreter = fDir / "bad-interpreter";
	ASSERT_TRUE(WriteFile(badInterpreter, "#!/nonexistent/interpreter\n"));
	chmod(badInterpreter.c_str(), 0755);

	struct Case {
		std::string path;
		status_t expected;
	};
	const Case cases[] = {
		{plain, B_LAUNCH_FAILED_EXECUTABLE},
		{garbage, B_LAUNCH_FAILED_EXECUTABLE},
		{fDir.Path(), B_LAUNCH_FAILED_EXECUTABLE},
		{fDir / "missing", B_ENTRY_NOT_FOUND},
		{badInterpreter, B_ENTRY_NOT_FOUND},
	};
	for (const Case& c : cases) {
		entry_ref ref;
		ASSERT_EQ(get_ref_for_path(c.path.c_str(), &ref), B_OK) << c.path;
		team_id team = -12345;
		EXPECT_EQ(be_roster->Launch(&ref, 0, nullptr, &team), c.expected) << c.path;
		EXPECT_EQ(team, -12345) << c.path;
	}
	EXPECT_EQ(be_roster->Launch(static_cast<const entry_ref*>(nullptr), 0, nullptr), B_BAD_VALUE);
	entry_ref trueRef;
	ASSERT_EQ(get_ref_for_path("/bin/true", &trueRef), B_OK);
	EXPECT_EQ(be_roster->Launch(&trueRef, 2, nullptr), B_BAD_VALUE);

	EXPECT_TRUE(Children().empty()) << "a failed launch leaves no child, not even a zombie";
	EXPECT_EQ(fNotices->Count(B_SOME_APP_LAUNCHED), 0);
}

TEST_F(Roster, StopWatchingStopsNotices)
{
	auto* second = new NoticeLooper;
	second->Run();
	BMessenger secondMessenger(nullptr, second);
	ASSERT_EQ(be_roster->StartWatching(secondMessenger), B_OK);
	ASSERT_EQ(be_roster->StopWatching(fMessenger), B_OK);
	EXPECT_EQ(be_roster->StopWatching(fMessenger), B_BAD_VALUE);
	EXPECT_EQ(be_roster->StartWatching(BMessenger()), B_BAD_VALUE);

	entry_ref trueRef;
	ASSERT_EQ(get_ref_for_path("/bin/true", &trueRef), B_OK);
	team_id team = -1;
	ASSERT_EQ(be_roster->Launch(&trueRef, 0, nullptr, &team), B_OK);
	ASSERT_TRUE(WaitUntil([&] { return second->FindQuit(team, nullptr); }));
	fMessenger.SendMessage('MARK');
	ASSERT_TRUE(WaitUntil([&] { return fNotices->HasMarker(); }));
	EXPECT_FALSE(fNotices->FindQuit(team, nullptr));
	EXPECT_EQ(second->Count(B_SOME_APP_LAUNCHED), 0) << "watching for quits only";

	// A watcher that has gone is dropped, not posted to.
	be_roster->StopWatching(secondMessenger);
	ASSERT_EQ(be_roster->StartWatching(secondMessenger), B_OK);
	second->Lock();
	second->Quit();
	ASSERT_EQ(be_roster->StartWatching(fMessenger), B_OK);
	ASSERT_EQ(be_roster->Launch(&trueRef, 0, nullptr, &team), B_OK);
	WaitForQuit(team);
	EXPECT_EQ(be_roster->StopWatching(secondMessenger), B_BAD_VALUE);
}

TEST_F(Roster, LaunchesFromManyThreadsAreAllFollowed)
{
	entry_ref trueRef;
	ASSERT_EQ(get_ref_for_path("/bin/true", &trueRef), B_OK);
	std::mutex lock;
	std::vector<team_id> teams;
	std::vector<std::thread> threads;
	for (int i = 0; i < 4; i++) {
		threads.emplace_back([&] {
			for (int j = 0; j < 4; j++) {
				team_id team = -1;
				EXPECT_EQ(be_roster->Launch(&trueRef, 0, nullptr, &team), B_OK);
				std::lock_guard<std::mutex> guard(lock);
				teams.push_back(team);
			}
		});
	}
	for (std::thread& thread : threads)
		thread.join();
	ASSERT_EQ(teams.size(), 16u);
	for (team_id team : teams)
		WaitForQuit(team);
	EXPECT_EQ(fNotices->Count(B_SOME_APP_QUIT), 16);
}

TEST_F(Roster, MimeTypeStartsThePreferredApplication)
{
	std::string output = fDir / "mime-args";
	std::string recorder = MakeRecorder(fDir, "player", output);
	ASSERT_EQ(mkdir((fDir / "bin").c_str(), 0755), 0);
	ASSERT_TRUE(WriteFile(fDir / "bin/xdg-mime",
		"#!/bin/sh\n[ \"$1 $2 $3\" = 'query default audio/x-tamsel-test' ] && echo tamsel-player.desktop\n"));
	chmod((fDir / "bin/xdg-mime").c_str(), 0755);
	ASSERT_EQ(mkdir((fDir / "data").c_str(), 0755), 0);
	ASSERT_EQ(mkdir((fDir / "data/applications").c_str(), 0755), 0);
	ASSERT_TRUE(WriteFile(fDir / "data/applications/tamsel-player.desktop",
		"[Desktop Action Other]\nExec=/bin/false\n\n"
		"[Desktop Entry]\nType=Application\nName=Player\n"
		"Exec = " + recorder + " --icon-less %i \"with \\\\\"escaped\\\\\" quote\" 100%% %U\n"));

	ScopedEnv path("PATH", fDir / "bin" + ":" + (getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin"));
	ScopedEnv dataHome("XDG_DATA_HOME", fDir / "data");
	ScopedEnv dataDirs("XDG_DATA_DIRS", fDir / "nowhere");

	const char* files[] = {"/tmp/first file.mp3", "/tmp/second"};
	team_id team = -1;
	ASSERT_EQ(be_roster->Launch("audio/x-tamsel-test", 2, files, &team), B_OK);
	BMessage notice = WaitForQuit(team);
	entry_ref ref;
	ASSERT_EQ(notice.FindRef("be:ref", &ref), B_OK);
	EXPECT_EQ(ref, RefFor(recorder));
	const std::vector<std::string> expected = {
		recorder, "--icon-less", "with \"escaped\" quote", "100%", files[0], files[1]};
	EXPECT_EQ(SplitNul(ReadFile(output)), expected);

	// A type without a preferred application goes to the desktop's opener
	// with the first argument.
	std::string openerOutput = fDir / "opener-args";
	std::string opener = MakeRecorder(fDir, "opener", openerOutput);
	BPrivate::SetDesktopOpener(opener.c_str());
	ASSERT_EQ(be_roster->Launch("audio/x-unknown", 2, files, &team), B_OK);
	WaitForQuit(team);
	EXPECT_EQ(SplitNul(ReadFile(openerOutput)), (std::vector<std::string>{opener, files[0]}));
	EXPECT_EQ(be_roster->Launch("audio/x-unknown", 0, nullptr, &team), B_LAUNCH_FAILED_APP_NOT_FOUND);
	EXPECT_EQ(be_roster->Launch(static_cast<const char*>(nullptr), 0, nullptr), B_BAD_VALUE);

	// Nothing can be started at all: an error.
	BPrivate::SetDesktopOpener((fDir / "no-such-opener").c_str());
	EXPECT_NE(be_roster->Launch("audio/x-unknown", 1, files, &team), B_OK);
}

TEST_F(Roster, DocumentsOpenWithTheDesktopOpener)
{
	std::string output = fDir / "opened";
	std::string opener = MakeRecorder(fDir, "opener", output);
	BPrivate::SetDesktopOpener(opener.c_str());
	std::string document = fDir / "a document.txt";
	ASSERT_TRUE(WriteFile(document, "text"));
	entry_ref ref;
	ASSERT_EQ(get_ref_for_path(document.c_str(), &ref), B_OK);
	team_id team = -1;
	ASSERT_EQ(be_roster->Launch(&ref, static_cast<const BMessage*>(nullptr), &team), B_OK);
	WaitForQuit(team);
	EXPECT_EQ(SplitNul(ReadFile(output)), (std::vector<std::string>{opener, document}));

	entry_ref missing;
	ASSERT_EQ(get_ref_for_path((fDir / "missing.txt").c_str(), &missing), B_OK);
	EXPECT_EQ(be_roster->Launch(&missing, static_cast<const BMessage*>(nullptr)), B_ENTRY_NOT_FOUND);
}

} // namespace
