// The gogo program as the front end runs it: progress and messages, exit
// statuses, strange paths and standard streams, signals midway, output
// names, and the same bytes as lame.
#include "GogoEncoder.h"
#include "GogoFixtures.h"
#include "GogoOptions.h"

namespace {

using namespace gogo_testing;

// ---- the gogo program ------------------------------------------------------------------

class GogoProgram : public testing::Test {
protected:
	void SetUp() override
	{
		if (access(kGogo.c_str(), X_OK) != 0)
			FAIL() << kGogo << " is missing: build the gogo target";
	}
};

TEST_F(GogoProgram, EncodesBesideTheInputWithProgress)
{
	TempDir dir;
	const std::string input = dir / "track.wav";
	ASSERT_TRUE(WriteSineWav(input, 2, 44100, 2));
	const RunResult run = RunGogo({"-b", "160", input});
	ASSERT_EQ(run.Code(), 0) << run.err;
	EXPECT_TRUE(run.err.empty()) << run.err;
	EXPECT_NE(run.out.find('%'), std::string::npos) << run.out;
	EXPECT_EQ(run.out.back(), '\n');
	EXPECT_NE(run.out.find("track.mp3"), std::string::npos) << run.out;
	EXPECT_EQ(ListDirectory(dir.Path()), (std::vector<std::string>{"track.mp3", "track.wav"}));
	for (const Frame& frame : ParseFrames(ReadFile(dir / "track.mp3")))
		EXPECT_EQ(frame.bitrate, 160);
	const Decoded decoded = Decode(dir / "track.mp3");
	ASSERT_TRUE(decoded.ok);
	EXPECT_EQ(decoded.channels, 2);
	EXPECT_EQ(decoded.Content(), 88200);
}

// What a music player's reader that no one here wrote (mutagen) makes of
// the tag: the input's INFO, and the options over it.
TEST_F(GogoProgram, AMusicPlayersReaderShowsTheTags)
{
	const char* const inspect = "/usr/bin/mutagen-inspect";
	if (access(inspect, X_OK) != 0)
		GTEST_SKIP() << "no " << inspect << " (Debian's python3-mutagen)";
	TempDir dir;
	const std::string input = dir / "take.wav";
	ASSERT_TRUE(WriteSineWav(input, 2, 44100, 2));
	std::string wav = ReadFile(input);
	wav += std::string("LIST\x1e\0\0\0INFOIART\x06\0\0\0Band\0\0INAM\x04\0\0\0Old\0", 38);
	ASSERT_TRUE(WriteFile(input, wav));
	const RunResult run = RunGogo({"-title", "Take \xc3\xa9", "-album", "Live", "-track", "2/9",
		input});
	ASSERT_EQ(run.Code(), 0) << run.err;
	const RunResult shown = RunCommand({inspect, dir / "take.mp3"});
	ASSERT_EQ(shown.Code(), 0) << shown.err;
	for (const char* line : {"\nTIT2=Take \xc3\xa9\n", "\nTPE1=Band\n", "\nTALB=Live\n",
			"\nTRCK=2/9\n"}) {
		EXPECT_NE(shown.out.find(line), std::string::npos) << line << shown.out;
	}
}

TEST_F(GogoProgram, MonoModeGivesOneChannel)
{
	TempDir dir;
	const std::string input = dir / "stereo.wav";
	ASSERT_TRUE(WriteSineWav(input, 2, 48000, 2, SF_FORMAT_FLOAT));
	const RunResult run = RunGogo({"-b", "64", "-m", "m", input});
	ASSERT_EQ(run.Code(), 0) << run.err;
	const Decoded decoded = Decode(dir / "stereo.mp3");
	ASSERT_TRUE(decoded.ok);
	EXPECT_EQ(decoded.channels, 1);
	EXPECT_EQ(decoded.samplerate, 48000);
	EXPECT_EQ(decoded.Content(), 96000);
}

TEST_F(GogoProgram, DeleteRemovesTheInputOnlyOnSuccess)
{
	TempDir dir;
	const std::string input = dir / "gone.wav";
	ASSERT_TRUE(WriteSineWav(input, 1, 44100, 2));
	RunResult run = RunGogo({"-delete", input});
	ASSERT_EQ(run.Code(), 0) << run.err;
	EXPECT_EQ(ListDirectory(dir.Path()), std::vector<std::string>{"gone.mp3"});
	EXPECT_TRUE(Decode(dir / "gone.mp3").ok);

	// The output directory cannot be made (a file is in the way): the input stays.
	const std::string kept = dir / "kept.wav";
	ASSERT_TRUE(WriteSineWav(kept, 1, 44100, 2));
	const std::string before = ReadFile(kept);
	ASSERT_TRUE(WriteFile(dir / "blocker", "not a directory"));
	run = RunGogo({"-delete", "-o", dir / "blocker/out", kept});
	EXPECT_EQ(run.Code(), 1);
	ExpectOneErrorLine(run);
	EXPECT_EQ(ReadFile(kept), before);

	// Not audio: the input stays too.
	const std::string text = dir / "text.wav";
	ASSERT_TRUE(WriteFile(text, "just some words\n"));
	run = RunGogo({"-delete", text});
	EXPECT_EQ(run.Code(), 1);
	ExpectOneErrorLine(run);
	EXPECT_EQ(ReadFile(text), "just some words\n");
	EXPECT_EQ(ListDirectory(dir.Path()),
		(std::vector<std::string>{"blocker", "gone.mp3", "kept.wav", "text.wav"}));
}

TEST_F(GogoProgram, OutputDirectoryWithSpacesIsCreated)
{
	TempDir dir;
	const std::string input = dir / "in.wav";
	ASSERT_TRUE(WriteSineWav(input, 1, 44100, 1));
	const std::string output = dir / "out dir/with spaces/deeper one";
	const RunResult run = RunGogo({"-o", output, input});
	ASSERT_EQ(run.Code(), 0) << run.err;
	EXPECT_EQ(ListDirectory(output), std::vector<std::string>{"in.mp3"});
	EXPECT_EQ(ListDirectory(dir.Path()), (std::vector<std::string>{"in.wav", "out dir"}));
	const Decoded decoded = Decode(output + "/in.mp3");
	ASSERT_TRUE(decoded.ok);
	EXPECT_EQ(decoded.channels, 1);

	// An existing directory, given with a trailing slash, works as well (and
	// the MP3 already there is kept).
	const RunResult again = RunGogo({"-o", output + "/", input});
	ASSERT_EQ(again.Code(), 0) << again.err;
	EXPECT_EQ(ListDirectory(output), (std::vector<std::string>{"in (2).mp3", "in.mp3"}));
}

TEST_F(GogoProgram, NonAudioInputFailsCleanly)
{
	TempDir dir;
	const std::string input = dir / "notes.wav";
	const std::string contents = "RIFF? no, this is plain text.\n";
	ASSERT_TRUE(WriteFile(input, contents));
	const RunResult run = RunGogo({"-b", "128", "-o", dir / "out", input});
	EXPECT_EQ(run.Code(), 1);
	ExpectOneErrorLine(run);
	EXPECT_NE(run.err.find("notes.wav"), std::string::npos) << run.err;
	EXPECT_EQ(ReadFile(input), contents);
	// No MP3, no temporary file, not even the output directory.
	EXPECT_EQ(ListDirectory(dir.Path()), std::vector<std::string>{"notes.wav"});

	const RunResult beside = RunGogo({input});
	EXPECT_EQ(beside.Code(), 1);
	EXPECT_EQ(ListDirectory(dir.Path()), std::vector<std::string>{"notes.wav"});
}

TEST_F(GogoProgram, EmptyMissingAndDirectoryInputsFail)
{
	TempDir dir;
	ASSERT_TRUE(WriteFile(dir / "empty.wav", ""));
	ASSERT_EQ(mkdir((dir / "folder.wav").c_str(), 0755), 0);
	struct Case {
		std::string path;
		const char* reason;
	};
	for (const Case& c : {Case{dir / "empty.wav", "empty"}, Case{dir / "missing.wav", "No such"},
			Case{dir / "folder.wav", "directory"}, Case{dir / "folder.wav/", "directory"}}) {
		const RunResult run = RunGogo({"-delete", c.path});
		EXPECT_EQ(run.Code(), 1) << c.path;
		ExpectOneErrorLine(run);
		EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
	}
	EXPECT_EQ(ListDirectory(dir.Path()), (std::vector<std::string>{"empty.wav", "folder.wav"}));
	EXPECT_TRUE(ListDirectory(dir / "folder.wav").empty());
}

TEST_F(GogoProgram, CommandLineErrorsAndHelp)
{
	RunResult run = RunGogo({"-b", "129", "x.wav"});
	EXPECT_EQ(run.Code(), 2);
	ExpectOneErrorLine(run);
	run = RunGogo({"-frob", "x.wav"});
	EXPECT_EQ(run.Code(), 2);
	ExpectOneErrorLine(run);
	run = RunGogo({});
	EXPECT_EQ(run.Code(), 2);
	ExpectOneErrorLine(run);
	run = RunGogo({"--help"});
	EXPECT_EQ(run.Code(), 0);
	EXPECT_NE(run.out.find("usage: gogo"), std::string::npos);
	run = RunGogo({"--version"});
	EXPECT_EQ(run.Code(), 0);
	EXPECT_NE(run.out.find("gogo"), std::string::npos);
}

TEST_F(GogoProgram, StrangeBytesInPaths)
{
	TempDir dir;
	const std::string weirdDir = dir / "dir with \"double quotes\"\tand a tab; semi;colons \xff\xfe";
	ASSERT_EQ(mkdir(weirdDir.c_str(), 0755), 0);
	const std::string name = "my \"song\"\t;x; \xe9t\xe9 'single'";
	const std::string input = weirdDir + "/" + name + ".wav";
	ASSERT_TRUE(WriteSineWav(input, 1, 44100, 2));
	RunResult run = RunGogo({"-b", "96", input});
	ASSERT_EQ(run.Code(), 0) << run.err;
	EXPECT_EQ(ListDirectory(weirdDir), (std::vector<std::string>{name + ".mp3", name + ".wav"}));
	EXPECT_TRUE(Decode(weirdDir + "/" + name + ".mp3").ok);

	// And as the output directory, with -delete.
	const std::string outDir = weirdDir + "/out;\"x\"\t\x80";
	run = RunGogo({"-delete", "-o", outDir, input});
	ASSERT_EQ(run.Code(), 0) << run.err;
	EXPECT_EQ(ListDirectory(outDir), std::vector<std::string>{name + ".mp3"});
	EXPECT_FALSE(Exists(input));

	// A name starting with '-', after "--"; a name without an extension.
	const std::string dashed = dir / "-dash";
	ASSERT_TRUE(WriteSineWav(dashed, 1, 22050, 1));
	run = RunGogo({"--", "-dash"}); // relative to gogo's working directory: missing
	EXPECT_EQ(run.Code(), 1);
	run = RunGogo({"--", dashed});
	ASSERT_EQ(run.Code(), 0) << run.err;
	EXPECT_TRUE(Exists(dir / "-dash.mp3"));
}

// Creates a directory chain longer than PATH_MAX under base (components of
// 200 bytes) and returns the path; walks with openat as nothing else can.
std::string MakeLongDirectory(const std::string& base, int levels)
{
	std::string path = base;
	int fd = open(base.c_str(), O_RDONLY | O_DIRECTORY);
	const std::string component(200, 'd');
	for (int i = 0; i < levels && fd >= 0; i++) {
		const std::string name = component + std::to_string(i);
		mkdirat(fd, name.c_str(), 0755);
		const int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
		close(fd);
		fd = next;
		path += "/" + name;
	}
	if (fd < 0)
		return "";
	close(fd);
	return path;
}

int OpenLongDirectory(const std::string& path)
{
	int fd = open("/", O_RDONLY | O_DIRECTORY);
	size_t position = 1;
	while (fd >= 0 && position < path.size()) {
		size_t end = path.find('/', position);
		if (end == std::string::npos)
			end = path.size();
		const std::string name = path.substr(position, end - position);
		position = end + 1;
		const int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
		close(fd);
		fd = next;
	}
	return fd;
}

// Removes a tree of any depth.
void RemoveTree(int parent, const std::string& name)
{
	const int fd = openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
	if (fd >= 0) {
		DIR* dir = fdopendir(fd);
		std::vector<std::string> children;
		while (dirent* entry = readdir(dir)) {
			const std::string child = entry->d_name;
			if (child != "." && child != "..")
				children.push_back(child);
		}
		for (const std::string& child : children) {
			if (unlinkat(fd, child.c_str(), 0) != 0)
				RemoveTree(fd, child);
		}
		closedir(dir);
	}
	unlinkat(parent, name.c_str(), AT_REMOVEDIR);
}

TEST_F(GogoProgram, PathsLongerThanPathMax)
{
	TempDir dir;
	const std::string deep = MakeLongDirectory(dir.Path(), 24);
	ASSERT_FALSE(deep.empty());
	ASSERT_GT(deep.size(), 4096u);
	{
		const int fd = OpenLongDirectory(deep);
		ASSERT_GE(fd, 0);
		const int wav = openat(fd, "long.wav", O_RDWR | O_CREAT | O_TRUNC, 0644);
		ASSERT_GE(wav, 0);
		ASSERT_TRUE(WriteSineWavFd(wav, 1, 44100, 2, SF_FORMAT_PCM_16));
		close(fd);
	}
	const std::string outDir = deep + "/" + std::string(200, 'o') + "/" + std::string(200, 'p');
	const RunResult run = RunGogo({"-delete", "-o", outDir, deep + "/long.wav"});
	EXPECT_EQ(run.Code(), 0) << run.err;
	const int out = OpenLongDirectory(outDir);
	EXPECT_GE(out, 0);
	if (out >= 0) {
		struct stat st;
		EXPECT_EQ(fstatat(out, "long.mp3", &st, 0), 0);
		EXPECT_GT(st.st_size, 10000);
		close(out);
	}
	const int in = OpenLongDirectory(deep);
	ASSERT_GE(in, 0);
	struct stat st;
	EXPECT_NE(fstatat(in, "long.wav", &st, 0), 0); // deleted
	close(in);
	const int base = open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY);
	RemoveTree(base, std::string(200, 'd') + "0");
	close(base);
}

TEST_F(GogoProgram, SurvivesClosedAndBrokenStdio)
{
	TempDir dir;
	const std::string input = dir / "in.wav";
	ASSERT_TRUE(WriteSineWav(input, 2, 44100, 2));
	RunResult run = RunGogo({input}, Stdio::Closed);
	EXPECT_EQ(run.Code(), 0);
	Decoded decoded = Decode(dir / "in.mp3");
	EXPECT_TRUE(decoded.ok);
	EXPECT_EQ(decoded.Content(), 88200);
	ASSERT_EQ(unlink((dir / "in.mp3").c_str()), 0);

	run = RunGogo({input}, Stdio::BrokenPipe);
	EXPECT_TRUE(run.Exited()) << "killed by signal " << WTERMSIG(run.status);
	EXPECT_EQ(run.Code(), 0);
	decoded = Decode(dir / "in.mp3");
	EXPECT_TRUE(decoded.ok);
	EXPECT_EQ(decoded.Content(), 88200);

	// A failure with stderr broken still exits non-zero and cleans up.
	ASSERT_TRUE(WriteFile(dir / "bad.wav", "nope"));
	run = RunGogo({dir / "bad.wav"}, Stdio::BrokenPipe);
	EXPECT_EQ(run.Code(), 1);
	EXPECT_EQ(ListDirectory(dir.Path()), (std::vector<std::string>{"bad.wav", "in.mp3", "in.wav"}));
}

// The last percentage of gogo's progress output; -1 before the first.
int LastPercent(const std::string& out)
{
	const size_t sign = out.rfind('%');
	if (sign == std::string::npos)
		return -1;
	size_t start = sign;
	while (start > 0 && out[start - 1] >= '0' && out[start - 1] <= '9')
		start--;
	return start < sign ? std::stoi(out.substr(start, sign - start)) : -1;
}

// The hidden temporary files of the named way of writing in a directory.
std::vector<std::string> TemporaryFiles(const std::string& dir, const std::string& outputName)
{
	std::vector<std::string> found;
	for (const std::string& name : ListDirectory(dir)) {
		if (name.rfind("." + outputName + ".", 0) == 0)
			found.push_back(name);
	}
	return found;
}

TEST_F(GogoProgram, SignalsMidwayLeaveNoFile)
{
	TempDir dir;
	const std::string input = dir / "long.wav";
	ASSERT_TRUE(WriteSineWav(input, 120, 48000, 2));
	const std::string before = ReadFile(input);
	struct Path {
		const char* name;
		std::vector<std::string> environment;
		bool named; // a hidden temporary file is there to see
	};
	// The front end sends SIGTERM to skip a file or stop a run, SIGKILL when
	// gogo is still there 2 s later: only a nameless file goes even then.
	for (const Path& path : {Path{"tmpfile", {}, false}, Path{"named", {"GOGO_NO_TMPFILE=1"}, true}}) {
		std::vector<int> signalNumbers = {SIGTERM, SIGINT, SIGHUP};
		if (!path.named)
			signalNumbers.push_back(SIGKILL);
		for (int signalNumber : signalNumbers) {
			SCOPED_TRACE(std::string(path.name) + ", signal " + std::to_string(signalNumber));
			TempDir capture;
			const pid_t pid = Spawn({"-delete", "-q", "2", input}, Stdio::Capture, capture / "out",
				capture / "err", -1, path.environment);
			ASSERT_GT(pid, 0);
			// Well into the encode: a few percent done, and in the named way
			// the temporary file there with MP3 data in it.
			const bool underWay = testing_support::WaitUntil(
				[&] {
					if (LastPercent(ReadFile(capture / "out")) < 3)
						return false;
					if (!path.named)
						return true;
					for (const std::string& name : TemporaryFiles(dir.Path(), "long.mp3")) {
						struct stat st;
						if (stat((dir / name).c_str(), &st) == 0 && st.st_size > 0)
							return true;
					}
					return false;
				},
				std::chrono::seconds(60));
			EXPECT_TRUE(underWay) << ReadFile(capture / "out") << " " << ListDirectory(dir.Path()).size();
			ASSERT_EQ(kill(pid, signalNumber), 0);
			const int status = Wait(pid);
			if (signalNumber == SIGKILL) {
				EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
			} else {
				ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
				EXPECT_EQ(WEXITSTATUS(status), 128 + signalNumber);
			}
			EXPECT_EQ(ListDirectory(dir.Path()), std::vector<std::string>{"long.wav"});
		}
	}
	EXPECT_EQ(ReadFile(input), before);
}

// ---- the gogo program: output names ---------------------------------------------------

class GogoProgramNames : public GogoProgram {};

TEST_F(GogoProgramNames, SameNameFromTwoAlbumsToOneDirectory)
{
	for (const bool deleting : {false, true}) {
		SCOPED_TRACE(deleting ? "with -delete" : "without -delete");
		TempDir dir;
		ASSERT_EQ(mkdir((dir / "albumA").c_str(), 0755), 0);
		ASSERT_EQ(mkdir((dir / "albumB").c_str(), 0755), 0);
		ASSERT_TRUE(WriteSineWav(dir / "albumA/track01.wav", 1, 44100, 2));
		ASSERT_TRUE(WriteSineWav(dir / "albumB/track01.wav", 2, 44100, 2));
		const std::string out = dir / "out";
		std::vector<std::string> options = {"-o", out};
		if (deleting)
			options.insert(options.begin(), "-delete");

		std::vector<std::string> arguments = options;
		arguments.push_back(dir / "albumA/track01.wav");
		RunResult run = RunGogo(arguments);
		ASSERT_EQ(run.Code(), 0) << run.err;
		EXPECT_EQ(run.out.find("instead"), std::string::npos) << run.out;
		const std::string first = ReadFile(out + "/track01.mp3");

		arguments = options;
		arguments.push_back(dir / "albumB/track01.wav");
		run = RunGogo(arguments);
		ASSERT_EQ(run.Code(), 0) << run.err;
		EXPECT_TRUE(run.err.empty()) << run.err;
		// The line that reports the encode names the file it made.
		EXPECT_NE(run.out.find("wrote '" + out + "/track01 (2).mp3' instead of '" + out
			+ "/track01.mp3', which exists"), std::string::npos) << run.out;

		EXPECT_EQ(ListDirectory(out), (std::vector<std::string>{"track01 (2).mp3", "track01.mp3"}));
		EXPECT_EQ(ReadFile(out + "/track01.mp3"), first);
		EXPECT_EQ(Decode(out + "/track01.mp3").Content(), 44100);
		EXPECT_EQ(Decode(out + "/track01 (2).mp3").Content(), 88200);
		EXPECT_EQ(Exists(dir / "albumA/track01.wav"), !deleting);
		EXPECT_EQ(Exists(dir / "albumB/track01.wav"), !deleting);
	}
}

TEST_F(GogoProgramNames, WavAndFlacSideBySide)
{
	for (const bool deleting : {false, true}) {
		SCOPED_TRACE(deleting ? "with -delete" : "without -delete");
		TempDir dir;
		ASSERT_TRUE(WriteSineWav(dir / "x.wav", 1, 44100, 2));
		ASSERT_TRUE(WriteSineFile(dir / "x.flac", 2, 44100, 1, SF_FORMAT_FLAC | SF_FORMAT_PCM_16));
		std::vector<std::string> arguments = {"-silent", dir / "x.wav"};
		if (deleting)
			arguments.insert(arguments.begin(), "-delete");
		RunResult run = RunGogo(arguments);
		ASSERT_EQ(run.Code(), 0) << run.err;
		EXPECT_TRUE(run.out.empty()) << run.out;
		arguments.back() = dir / "x.flac";
		run = RunGogo(arguments);
		ASSERT_EQ(run.Code(), 0) << run.err;
		// -silent still says where the MP3 went, on one line.
		EXPECT_EQ(run.out, "wrote '" + dir / "x (2).mp3' instead of '" + dir / "x.mp3', which exists\n");
		const std::vector<std::string> expected = deleting
			? std::vector<std::string>{"x (2).mp3", "x.mp3"}
			: std::vector<std::string>{"x (2).mp3", "x.flac", "x.mp3", "x.wav"};
		EXPECT_EQ(ListDirectory(dir.Path()), expected);
		const Decoded wav = Decode(dir / "x.mp3");
		const Decoded flac = Decode(dir / "x (2).mp3");
		EXPECT_EQ(wav.channels, 2);
		EXPECT_EQ(wav.Content(), 44100);
		EXPECT_EQ(flac.channels, 1);
		EXPECT_EQ(flac.Content(), 88200);
	}
}

TEST_F(GogoProgramNames, OverwriteReplacesAtomicallyButNotWithDelete)
{
	TempDir dir;
	const std::string input = dir / "x.wav";
	ASSERT_TRUE(WriteSineWav(input, 1, 44100, 2));
	ASSERT_TRUE(WriteFile(dir / "x.mp3", "old"));
	ASSERT_EQ(link((dir / "x.mp3").c_str(), (dir / "old.lnk").c_str()), 0);

	// With -delete: refused before anything is touched.
	RunResult run = RunGogo({"-overwrite", "-delete", input});
	EXPECT_EQ(run.Code(), 2);
	ExpectOneErrorLine(run);
	EXPECT_NE(run.err.find("-overwrite cannot be used with -delete"), std::string::npos) << run.err;
	EXPECT_EQ(ReadFile(dir / "x.mp3"), "old");
	EXPECT_EQ(ListDirectory(dir.Path()), (std::vector<std::string>{"old.lnk", "x.mp3", "x.wav"}));

	// Alone: renamed over the old file, whose other name keeps it whole.
	run = RunGogo({"-overwrite", input});
	ASSERT_EQ(run.Code(), 0) << run.err;
	EXPECT_EQ(run.out.find("instead"), std::string::npos) << run.out;
	EXPECT_EQ(Decode(dir / "x.mp3").Content(), 44100);
	EXPECT_EQ(ReadFile(dir / "old.lnk"), "old");
	EXPECT_EQ(ListDirectory(dir.Path()), (std::vector<std::string>{"old.lnk", "x.mp3", "x.wav"}));

	// And in the named way of writing, as on vfat.
	ASSERT_EQ(unlink((dir / "old.lnk").c_str()), 0);
	ASSERT_EQ(link((dir / "x.mp3").c_str(), (dir / "previous.lnk").c_str()), 0);
	const std::string previous = ReadFile(dir / "x.mp3");
	TempDir capture;
	const pid_t pid = Spawn({"-overwrite", "-b", "64", input}, Stdio::Capture, capture / "out",
		capture / "err", -1, {"GOGO_NO_TMPFILE=1"});
	ASSERT_GT(pid, 0);
	const int status = Wait(pid);
	ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadFile(capture / "err");
	for (const Frame& frame : ParseFrames(ReadFile(dir / "x.mp3")))
		EXPECT_EQ(frame.bitrate, 64);
	EXPECT_EQ(ReadFile(dir / "previous.lnk"), previous);
	EXPECT_EQ(ListDirectory(dir.Path()), (std::vector<std::string>{"previous.lnk", "x.mp3", "x.wav"}));
}

// ---- the gogo program: -delete of an incomplete input ---------------------------------------

class GogoProgramDelete : public GogoProgram {};

TEST_F(GogoProgramDelete, TruncatedWavIsKept)
{
	TempDir dir;
	const std::string input = dir / "cut.wav";
	// The header declares 20 s; 3 s are there.
	const uint32_t declared = 20 * 44100 * 4;
	ASSERT_TRUE(WriteFile(input, WavHeader(44100, 2, declared) + PcmFrames(0, 3 * 44100, 44100, 2)));
	const std::string contents = ReadFile(input);

	RunResult run = RunGogo({"-delete", input});
	EXPECT_EQ(run.Code(), gogo::kExitTruncated);
	ExpectOneErrorLine(run);
	const std::string said = "gogo: '" + input + "' holds only 3.0 s of the 20.0 s of audio its"
		" header declares (15%): it was cut short or damaged, or is still being written; wrote what"
		" there is to '" + dir / "cut";
	EXPECT_EQ(run.err, said + ".mp3' and kept the input\n");
	EXPECT_EQ(ReadFile(input), contents);
	EXPECT_EQ(Decode(dir / "cut.mp3").Content(), 3 * 44100);

	// Without -delete the same: what there is, and a status of its own.
	run = RunGogo({"-silent", input});
	EXPECT_EQ(run.Code(), gogo::kExitTruncated) << run.err;
	EXPECT_EQ(run.err, said + " (2).mp3'\n");
	EXPECT_EQ(ListDirectory(dir.Path()), (std::vector<std::string>{"cut (2).mp3", "cut.mp3", "cut.wav"}));
}

TEST_F(GogoProgramDelete, WavStillBeingRecordedIsKept)
{
	// A recorder appends to a WAV whose header already declares ten minutes;
	// gogo runs on it with -delete meanwhile.
	TempDir dir;
	const std::string input = dir / "live.wav";
	constexpr int kRate = 44100;
	const uint32_t declared = 600u * kRate * 4;
	const int64_t present = 3 * kRate;
	const std::string start = WavHeader(kRate, 2, declared) + PcmFrames(0, present, kRate, 2);
	ASSERT_TRUE(WriteFile(input, start));

	std::mutex lock;
	std::condition_variable changed;
	bool stop = false;
	int64_t written = present;
	std::thread recorder([&] {
		const int fd = open(input.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
		if (fd < 0)
			return;
		// A twentieth of a second at a time, up to two minutes in all: far
		// from the ten minutes declared, whenever gogo looks.
		const int64_t chunk = kRate / 20;
		std::unique_lock<std::mutex> guard(lock);
		while (!stop && written + chunk <= 120 * kRate) {
			const std::string data = PcmFrames(written, chunk, kRate, 2);
			if (write(fd, data.data(), data.size()) != static_cast<ssize_t>(data.size()))
				break;
			written += chunk;
			changed.wait_for(guard, std::chrono::milliseconds(5), [&] { return stop; });
		}
		close(fd);
	});
	const RunResult run = RunGogo({"-delete", "-nopsy", input});
	{
		std::lock_guard<std::mutex> guard(lock);
		stop = true;
	}
	changed.notify_all();
	recorder.join();

	EXPECT_EQ(run.Code(), gogo::kExitTruncated) << run.err;
	ExpectOneErrorLine(run);
	EXPECT_NE(run.err.find("and kept the input"), std::string::npos) << run.err;
	// The recording is whole: what was there, and all that came after.
	const std::string now = ReadFile(input);
	EXPECT_EQ(now.size(), 44 + static_cast<size_t>(written) * 4);
	EXPECT_EQ(now.substr(0, start.size()), start);
	EXPECT_TRUE(Decode(dir / "live.mp3").ok);
}

TEST_F(GogoProgram, SameBytesAsLame)
{
	// The defaults do lame's work: lame -b 128 and gogo -b 128 write the same file.
	const std::string lame = "/usr/bin/lame";
	if (access(lame.c_str(), X_OK) != 0)
		GTEST_SKIP() << "no " << lame;
	TempDir dir;
	const std::string input = dir / "in.wav";
	ASSERT_TRUE(WriteSineWav(input, 3, 44100, 2));
	const RunResult run = RunGogo({"-b", "128", input});
	ASSERT_EQ(run.Code(), 0) << run.err;

	std::vector<std::string> strings = {lame, "--quiet", "-b", "128", input, dir / "lame.mp3"};
	std::vector<char*> argv;
	for (std::string& s : strings)
		argv.push_back(s.data());
	argv.push_back(nullptr);
	pid_t pid = -1;
	ASSERT_EQ(posix_spawn(&pid, lame.c_str(), nullptr, nullptr, argv.data(), environ), 0);
	ASSERT_EQ(Wait(pid), 0);
	const std::string ours = ReadFile(dir / "in.mp3");
	ASSERT_FALSE(ours.empty());
	EXPECT_TRUE(ours == ReadFile(dir / "lame.mp3"));
}

} // namespace
