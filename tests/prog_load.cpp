// The program under load: a run over ten thousand files, and a list of a
// million entries opened, gone through and saved again.

#include "prog_encoding_fake.h"

#include <ListFile.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

using namespace testing_support;

namespace {

// The sanitizers slow everything down many times over and multiply the
// memory used; there the loads are a tenth, and memory is not measured.
#ifdef TAMSEL_SANITIZED
constexpr int32 kRunFiles = 1000;
constexpr int32 kListEntries = 100000;
#else
constexpr int32 kRunFiles = 10000;
constexpr int32 kListEntries = 1000000;
#endif

std::string EntryPath(int32 i)
{
	return "/home/user/music/album " + std::to_string(i / 12) + "/track " + std::to_string(i % 12)
		+ ".wav";
}

// Writes a list file of `count` entries as the program saves it, without
// holding all of it in memory.
bool WriteList(const std::string& path, int32 count)
{
	std::ofstream out(path, std::ios::binary);
	out << listfile::kHeader;
	for (int32 i = 0; i < count; i++)
		out << "0;" << EntryPath(i) << '\n';
	return bool(out.flush());
}

int32 CountItems(const ProgramRun& run)
{
	MainWindow* window = run.Window();
	if (window == nullptr || !window->Lock())
		return -1;
	const int32 count = window->filesList->CountItems();
	window->Unlock();
	return count;
}

std::string ItemAt(const ProgramRun& run, int32 index)
{
	MainWindow* window = run.Window();
	std::string text;
	if (window != nullptr && window->Lock()) {
		if (auto* item = static_cast<BStringItem*>(window->filesList->ItemAt(index)))
			text = item->Text();
		window->Unlock();
	}
	return text;
}

// The most memory this process has held, in MiB.
long PeakMemoryMiB()
{
	std::ifstream status("/proc/self/status");
	std::string line;
	while (std::getline(status, line)) {
		if (line.rfind("VmHWM:", 0) == 0)
			return std::strtol(line.c_str() + 6, nullptr, 10) / 1024;
	}
	return -1;
}

bool SameFiles(const std::string& a, const std::string& b)
{
	std::ifstream first(a, std::ios::binary), second(b, std::ios::binary);
	std::string left(1 << 16, '\0'), right(1 << 16, '\0');
	while (first && second) {
		first.read(left.data(), std::streamsize(left.size()));
		second.read(right.data(), std::streamsize(right.size()));
		if (first.gcount() != second.gcount()
			|| left.compare(0, size_t(first.gcount()), right, 0, size_t(second.gcount())) != 0)
			return false;
	}
	return first.eof() && second.eof();
}

class LoadTest : public ::testing::Test {
protected:
	void SetUp() override { ClearStoredSettings(); }
	void TearDown() override { ClearStoredSettings(); }
	TempDir fFiles;
};

TEST_F(LoadTest, ARunOverTenThousandFilesStartsEachOnceInOrder)
{
	const std::string log = fFiles / "encoder.log";
	setenv("TAMSEL_ENCODER_LOG", log.c_str(), 1);
	StoreEncoderLocation(TAMSEL_BINARY_DIR "/tests/logging_encoder");
	const std::string list = fFiles / "run.tsq";
	ASSERT_TRUE(WriteList(list, kRunFiles));

	ProgramRun run({list});
	ASSERT_TRUE(run.Started());
	ASSERT_TRUE(WaitUntil([&] { return CountItems(run) == kRunFiles; }, std::chrono::seconds(60)));
	ASSERT_TRUE(ClickEncode(run));
	const auto logged = [&] {
		const std::string text = ReadFile(log);
		return std::count(text.begin(), text.end(), '\n');
	};
	EXPECT_TRUE(WaitUntil([&] { return logged() == kRunFiles; }, std::chrono::seconds(240)))
		<< logged() << " of " << kRunFiles;
	EXPECT_TRUE(RunEnded(run));
	unsetenv("TAMSEL_ENCODER_LOG");

	const std::vector<std::string> lines = SplitLines(ReadFile(log));
	ASSERT_EQ(lines.size(), size_t(kRunFiles));
	for (int32 i = 0; i < kRunFiles; i++)
		ASSERT_EQ(lines[size_t(i)], EntryPath(i)) << "at " << i;
	EXPECT_TRUE(run.Robot().Alerts().empty());
}

TEST_F(LoadTest, AMillionEntryListOpensIsGoneThroughAndSavesAsItWas)
{
	const std::string list = fFiles / "huge.tsq";
	ASSERT_TRUE(WriteList(list, kListEntries));

	ProgramRun run({list});
	ASSERT_TRUE(run.Started());
	ASSERT_TRUE(WaitUntil([&] { return CountItems(run) == kListEntries; }, std::chrono::seconds(120)))
		<< CountItems(run);
	EXPECT_TRUE(run.Robot().WaitFor(
		[&] { return run.Robot().CountListItems(kMainTitle, "FilesList") == kListEntries; }));
	EXPECT_EQ(ItemAt(run, 0), EntryPath(0));
	EXPECT_EQ(ItemAt(run, kListEntries - 1), EntryPath(kListEntries - 1));

	// Down to the end and back, as the user would with the keyboard; the
	// screen follows.
	for (int32 row : {kListEntries - 1, kListEntries / 2, 0}) {
		ASSERT_TRUE(run.Robot().SelectRows(kMainTitle, "FilesList", {row}));
		EXPECT_TRUE(run.Robot().WaitFor([&] {
			return run.Robot().ListSelection(kMainTitle, "FilesList") == std::vector<int32>{row};
		})) << row;
	}

	const std::string copy = fFiles / "copy.tsq";
	ASSERT_TRUE(run.Robot().ChooseMenuItem(kMainTitle, "MenuBar", "List", "Save..."));
	ASSERT_TRUE(run.Robot().WaitFor(
		[&] { return run.Robot().AnswerSavePanel("Save list", fFiles.Path(), "copy.tsq"); }));
	ASSERT_TRUE(WaitUntil([&] { return SameFiles(list, copy); }, std::chrono::seconds(60)));
	EXPECT_TRUE(run.Robot().Alerts().empty());
	// The whole process: the program, its screen's copy of the list, and the
	// test around them. A sanitizer's own bookkeeping is not ours to bound.
	const long peak = PeakMemoryMiB();
	std::printf("peak memory: %ld MiB\n", peak);
#ifndef TAMSEL_SANITIZED
	EXPECT_LT(peak, 300);
#endif
}

} // namespace
