// Lists that cannot be opened or saved whole, as the user meets them in the
// program: huge, endless and special files given to List > Open or at
// launch, and a save on a disk with neither an inode for a temporary file nor
// room for the new list. Each tells the user so and leaves the list, and the
// file, as they were.

#include "AtomicFile.h"
#include "ListFile.h"
#include "MainWindow.h"
#include "ProgramHarness.h"
#include "TamselApp.h"

#include <gtest/gtest.h>

#include <Entry.h>
#include <Message.h>
#include <Node.h>
#include <NodeInfo.h>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using namespace testing_support;
using BPrivate::HeadlessDisplay;

namespace {

constexpr const char* kList = "FilesList";
constexpr const char* kOpenOpenError = "Can't open input file. Please make sure you have access to the file.";
constexpr const char* kSaveWriteError = "Can't write to output file. Disk full?";

std::string Records(const std::vector<std::string>& paths)
{
	std::string out(listfile::kHeader);
	for (const std::string& path : paths)
		out += "0;" + path + "\n";
	return out;
}

bool MakeSparseFile(const std::string& path, off_t size)
{
	const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
	if (fd < 0)
		return false;
	const bool made = ftruncate(fd, size) == 0;
	close(fd);
	return made;
}

// While it lives, no temporary file can be created beside a list, and
// (when asked) no room reserved for it.
class FullDisk {
public:
	explicit FullDisk(bool roomForTheList)
		: fCreate(BPrivate::gAtomicFileCalls.create.exchange(&NoInode)),
		  fReserve(BPrivate::gAtomicFileCalls.reserve.exchange(roomForTheList ? &fallocate : &NoRoom))
	{
	}
	~FullDisk()
	{
		BPrivate::gAtomicFileCalls.create = fCreate;
		BPrivate::gAtomicFileCalls.reserve = fReserve;
	}
	FullDisk(const FullDisk&) = delete;
	FullDisk& operator=(const FullDisk&) = delete;

private:
	static int NoInode(int, const char*, int, mode_t)
	{
		errno = ENOSPC;
		return -1;
	}
	static int NoRoom(int, int, off_t, off_t)
	{
		errno = ENOSPC;
		return -1;
	}
	BPrivate::AtomicFileCalls::CreateFunction fCreate;
	BPrivate::AtomicFileCalls::ReserveFunction fReserve;
};

class ListFiles : public ::testing::Test {
protected:
	void SetUp() override
	{
		ClearStoredSettings();
		fRun = std::make_unique<ProgramRun>();
		ASSERT_TRUE(fRun->Started());
	}
	void TearDown() override { fRun.reset(); }

	HeadlessDisplay& Robot() { return fRun->Robot(); }
	bool Shows(const std::vector<std::string>& items)
	{
		return Robot().WaitFor([&] {
			return Robot().ListItems(kMainTitle, kList) == items && fRun->ListItems() == items;
		});
	}
	std::vector<std::string> Populate(int count)
	{
		std::vector<std::string> paths;
		for (int i = 0; i < count; i++) {
			paths.push_back(fFiles / ("track " + std::to_string(i) + ".wav"));
			EXPECT_TRUE(WriteFile(paths.back(), "RIFF"));
		}
		EXPECT_TRUE(Robot().Click(kMainTitle, "AddFiles"));
		EXPECT_TRUE(Robot().WaitFor([&] { return Robot().AnswerOpenPanel("Add files", paths); }));
		EXPECT_TRUE(Shows(paths));
		return paths;
	}
	// What the application hands the window for a list chosen in the panel.
	void PostOpen(const std::string& path)
	{
		entry_ref ref;
		ASSERT_EQ(get_ref_for_path(path.c_str(), &ref), B_OK);
		BMessage message('OLPM');
		message.AddRef("refs", &ref);
		ASSERT_EQ(fRun->Window()->PostMessage(&message), B_OK);
	}
	void SaveAs(const std::string& directory, const std::string& name)
	{
		ASSERT_TRUE(Robot().ChooseMenuItem(kMainTitle, "MenuBar", "List", "Save..."));
		ASSERT_TRUE(Robot().WaitFor([&] { return Robot().AnswerSavePanel("Save list", directory, name); }));
	}
	// Waits for the alert, checks its text, and presses "OK".
	void ExpectAlert(const std::string& title, const std::string& text)
	{
		std::optional<HeadlessDisplay::ShownAlert> shown;
		ASSERT_TRUE(Robot().WaitFor([&] {
			for (const auto& alert : Robot().Alerts()) {
				if (alert.title == title)
					shown = alert;
			}
			return shown.has_value();
		})) << title;
		EXPECT_EQ(shown->text, text);
		ASSERT_TRUE(Robot().AnswerAlert(0, title));
		ASSERT_TRUE(Robot().WaitFor([&] { return Robot().Alerts().empty(); }));
	}

	std::unique_ptr<ProgramRun> fRun;
	TempDir fFiles;
};

} // namespace

TEST_F(ListFiles, WhatCannotBeReadWithinTheBoundsIsAnOpenErrorAndChangesNothing)
{
	const std::vector<std::string> files = Populate(2);
	TempDir lists;
	std::vector<std::string> paths;
	if (MakeSparseFile(lists / "8 TB.list", off_t(8) << 40))
		paths.push_back(lists / "8 TB.list");
	ASSERT_TRUE(MakeSparseFile(lists / "2 GB of one line.list", off_t(2) << 30));
	paths.push_back(lists / "2 GB of one line.list");
	ASSERT_TRUE(MakeSparseFile(lists / "over the bound.list", off_t(listfile::kMaxFileSize) + 1));
	paths.push_back(lists / "over the bound.list");
	ASSERT_EQ(symlink("/dev/zero", (lists / "zero.list").c_str()), 0);
	paths.push_back(lists / "zero.list");
	// A FIFO with a writer and lines waiting.
	const std::string fifo = lists / "fifo.list";
	ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
	const int writer = open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
	ASSERT_GE(writer, 0);
	const std::string lines = Records({"/from the fifo"});
	ASSERT_GT(write(writer, lines.data(), lines.size()), 0);
	paths.push_back(fifo);

	for (const std::string& path : paths) {
		SCOPED_TRACE(path);
		ASSERT_NO_FATAL_FAILURE(PostOpen(path));
		ASSERT_NO_FATAL_FAILURE(ExpectAlert("OpenOpenError", kOpenOpenError));
		EXPECT_TRUE(Shows(files));
	}
	close(writer);
}

// A list file that is too large, handed over by its type from the desktop:
// at launch (the window opens it before it is first shown), and to the
// running program. The user is told each time, and the program carries on.
TEST_F(ListFiles, AHugeListFromTheDesktopIsAnOpenErrorAndTheProgramCarriesOn)
{
	const std::string huge = fFiles / "huge.list";
	ASSERT_TRUE(MakeSparseFile(huge, off_t(listfile::kMaxFileSize) * 4));
	BNode node(huge.c_str());
	ASSERT_EQ(BNodeInfo(&node).SetType(kListMimeType), B_OK);

	const std::vector<std::string> files = Populate(1);
	entry_ref ref;
	ASSERT_EQ(get_ref_for_path(huge.c_str(), &ref), B_OK);
	BMessage refs(B_REFS_RECEIVED);
	refs.AddRef("refs", &ref);
	ASSERT_EQ(be_app->PostMessage(&refs), B_OK);
	ASSERT_NO_FATAL_FAILURE(ExpectAlert("OpenOpenError", kOpenOpenError));
	EXPECT_TRUE(Shows(files));

	// At launch the alert comes while the window is being made: it shows
	// once the alert is answered.
	fRun.reset();
	fRun = std::make_unique<ProgramRun>(std::vector<std::string>{huge});
	ASSERT_NO_FATAL_FAILURE(ExpectAlert("OpenOpenError", kOpenOpenError));
	ASSERT_TRUE(Robot().WaitFor([&] { return Robot().IsWindowShown(kMainTitle); }));
	EXPECT_TRUE(Shows({}));
	EXPECT_TRUE(Shows(Populate(1)));
}

// No inode for a temporary file, and no room: "Disk full?", and the old
// list byte for byte. With room, the new list is written whole.
TEST_F(ListFiles, ASaveWithoutAnInodeKeepsTheOldListOrWritesTheNewOneWhole)
{
	const std::vector<std::string> files = Populate(3);
	TempDir out;
	const std::string old = Records({"/the old list", "/which was longer than one line"});
	ASSERT_TRUE(WriteFile(out / "list", old));
	{
		FullDisk full(false);
		ASSERT_NO_FATAL_FAILURE(SaveAs(out.Path(), "list"));
		ASSERT_NO_FATAL_FAILURE(ExpectAlert("SaveWriteError", kSaveWriteError));
	}
	EXPECT_EQ(ReadFile(out / "list"), old);
	{
		FullDisk noInode(true);
		ASSERT_NO_FATAL_FAILURE(SaveAs(out.Path(), "list"));
		EXPECT_TRUE(Robot().WaitFor([&] { return ReadFile(out / "list") == Records(files); }));
	}
	EXPECT_TRUE(Robot().Alerts().empty());
}
