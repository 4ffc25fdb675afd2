// Whole encoding runs: which encoder starts when, with which arguments, and
// how skip, stop and changes to the list during a run come out.

#include "prog_encoding_fake.h"

#include <Entry.h>
#include <RunReport.h>

#include <cerrno>
#include <csignal>
#include <optional>

using namespace testing_support;

namespace {

class EncodingRunTest : public ::testing::Test {
protected:
	void SetUp() override
	{
		ClearStoredSettings();
		StoreEncoderLocation(fEncoder.Path());
	}
	void TearDown() override { ClearStoredSettings(); }

	std::vector<std::string> Inputs(size_t count)
	{
		std::vector<std::string> names;
		for (size_t i = 0; i < count; i++)
			names.push_back("track" + std::to_string(i) + ".wav");
		return MakeInputs(fFiles, names);
	}

	bool WaitForStarts(size_t count)
	{
		return WaitUntil([&] { return fEncoder.Starts().size() >= count; });
	}

	TempDir fFiles;
	TempDir fTools;
	FakeEncoder fEncoder{fTools};
};

std::optional<BPrivate::HeadlessDisplay::ShownAlert> WaitForAlert(const ProgramRun& run)
{
	std::optional<BPrivate::HeadlessDisplay::ShownAlert> shown;
	run.Robot().WaitFor([&] {
		auto alerts = run.Robot().Alerts();
		if (!alerts.empty())
			shown = alerts.front();
		return shown.has_value();
	});
	return shown;
}

std::vector<std::string> LastArguments(const std::vector<std::vector<std::string>>& starts)
{
	std::vector<std::string> inputs;
	for (const auto& arguments : starts)
		inputs.push_back(arguments.empty() ? std::string() : arguments.back());
	return inputs;
}

TEST_F(EncodingRunTest, OneFileShowsItsPlaceAndHidesTheWindowAtTheEnd)
{
	const auto inputs = Inputs(1);
	FakeEncoder::Hold(inputs[0]);
	ProgramRun run;
	ASSERT_TRUE(run.Started());
	ASSERT_TRUE(AddFiles(run, inputs));
	ASSERT_TRUE(ClickEncode(run));

	ASSERT_TRUE(WaitForStarts(1));
	ASSERT_TRUE(run.Robot().WaitFor([&] { return run.Robot().IsWindowShown(kProgressTitle); }));
	EXPECT_TRUE(run.Robot().WaitFor([&] { return ShownText(run, "FileNumber") == "File 1 of 1"; }));
	EXPECT_EQ(ShownText(run, "FileName"), inputs[0]);
	EXPECT_TRUE(IsEncoding(run));

	FakeEncoder::Release(inputs[0]);
	EXPECT_TRUE(RunEnded(run));
	EXPECT_EQ(fEncoder.Starts(), (std::vector<std::vector<std::string>>{{inputs[0]}}));
	EXPECT_EQ(fEncoder.Finished(), inputs);
	// The progress window sits at the main window's corner.
	auto main = run.Robot().FindWindow(kMainTitle);
	auto progress = run.Robot().FindWindow(kProgressTitle);
	ASSERT_TRUE(main && progress);
	EXPECT_EQ(progress->frame.left, main->frame.left + 50);
	EXPECT_EQ(progress->frame.top, main->frame.top + 50);
}

TEST_F(EncodingRunTest, EveryFileOfALongListStartsOnceInOrder)
{
	const auto inputs = Inputs(500);
	ProgramRun run;
	ASSERT_TRUE(run.Started());
	ASSERT_TRUE(AddFiles(run, inputs));
	ASSERT_TRUE(ClickEncode(run));
	ASSERT_TRUE(WaitUntil([&] { return fEncoder.Finished().size() == inputs.size(); },
		std::chrono::seconds(120)));
	EXPECT_TRUE(RunEnded(run));
	EXPECT_EQ(LastArguments(fEncoder.Starts()), inputs);
	EXPECT_EQ(fEncoder.Finished(), inputs);
}

TEST_F(EncodingRunTest, SkippingAMiddleFileEndsItsEncoderAndGoesOn)
{
	const auto inputs = Inputs(3);
	for (const auto& input : inputs)
		FakeEncoder::Hold(input);
	ProgramRun run;
	ASSERT_TRUE(run.Started());
	ASSERT_TRUE(AddFiles(run, inputs));
	ASSERT_TRUE(ClickEncode(run));
	ASSERT_TRUE(WaitForStarts(1));
	FakeEncoder::Release(inputs[0]);
	ASSERT_TRUE(WaitForStarts(2));
	ASSERT_TRUE(run.Robot().WaitFor([&] { return ShownText(run, "FileNumber") == "File 2 of 3"; }));

	ASSERT_TRUE(run.Robot().Click(kProgressTitle, "SkipFile"));
	ASSERT_TRUE(WaitForStarts(3));
	EXPECT_TRUE(run.Robot().WaitFor([&] { return ShownText(run, "FileNumber") == "File 3 of 3"; }));
	// The next file gets both buttons back.
	EXPECT_TRUE(run.Robot().WaitFor([&] {
		auto skip = run.Robot().FindView(kProgressTitle, "SkipFile");
		auto stop = run.Robot().FindView(kProgressTitle, "StopEncoding");
		return skip && stop && skip->enabled && stop->enabled;
	}));
	FakeEncoder::Release(inputs[2]);
	EXPECT_TRUE(RunEnded(run));

	EXPECT_EQ(LastArguments(fEncoder.Starts()), inputs);
	EXPECT_EQ(fEncoder.Finished(), (std::vector<std::string>{inputs[0], inputs[2]}));
}

TEST_F(EncodingRunTest, SkippingTheLastFileEndsTheRun)
{
	const auto inputs = Inputs(2);
	FakeEncoder::Hold(inputs[1]);
	ProgramRun run;
	ASSERT_TRUE(run.Started());
	ASSERT_TRUE(AddFiles(run, inputs));
	ASSERT_TRUE(ClickEncode(run));
	ASSERT_TRUE(WaitForStarts(2));
	ASSERT_TRUE(run.Robot().WaitFor([&] { return ShownText(run, "FileNumber") == "File 2 of 2"; }));
	ASSERT_TRUE(run.Robot().Click(kProgressTitle, "SkipFile"));
	EXPECT_TRUE(RunEnded(run));
	EXPECT_EQ(LastArguments(fEncoder.Starts()), inputs);
	EXPECT_EQ(fEncoder.Finished(), (std::vector<std::string>{inputs[0]}));
}

TEST_F(EncodingRunTest, StopEndsTheRunAndItsNoticeNeverMovesTheNextRun)
{
	const auto inputs = Inputs(3);
	for (const auto& input : inputs)
		FakeEncoder::Hold(input);
	ProgramRun run;
	ASSERT_TRUE(run.Started());
	ASSERT_TRUE(AddFiles(run, inputs));
	ASSERT_TRUE(ClickEncode(run));
	ASSERT_TRUE(WaitForStarts(1));
	ASSERT_TRUE(run.Robot().WaitFor([&] { return ShownText(run, "FileNumber") == "File 1 of 3"; }));

	MainWindow* window = run.Window();
	ASSERT_TRUE(window->Lock());
	const team_id stoppedTeam = window->encoderTeam;
	const entry_ref encoderRef = window->encoderRef;
	window->Unlock();

	ASSERT_TRUE(run.Robot().Click(kProgressTitle, "StopEncoding"));
	ASSERT_TRUE(RunEnded(run));
	// The encoder was ended, not left to finish on its own.
	EXPECT_TRUE(WaitUntil([&] { return kill(stoppedTeam, 0) != 0 && errno == ESRCH; }));

	ASSERT_TRUE(ClickEncode(run));
	ASSERT_TRUE(WaitForStarts(2));
	ASSERT_TRUE(run.Robot().WaitFor([&] { return ShownText(run, "FileNumber") == "File 1 of 3"; }));

	// The stopped encoder's notice, arriving late, must be told apart from
	// the current one's. A directory chosen for the output afterwards tells
	// when the window has handled it.
	BMessage notice(kMsgEncoderQuit);
	notice.AddRef("be:ref", &encoderRef);
	notice.AddInt32("be:team", stoppedTeam);
	window->PostMessage(&notice);
	entry_ref marker;
	ASSERT_EQ(get_ref_for_path(fFiles.Path().c_str(), &marker), B_OK);
	BMessage chosen('ENCO');
	chosen.AddInt32("encoder_what", int32('DPNL'));
	chosen.AddRef("refs", &marker);
	window->PostMessage(&chosen);
	ASSERT_TRUE(run.Robot().WaitFor([&] {
		auto field = run.Robot().FindView(kMainTitle, "OutputDirText");
		return field && field->text == fFiles.Path();
	}));

	EXPECT_EQ(fEncoder.Starts().size(), 2u);
	EXPECT_EQ(ShownText(run, "FileNumber"), "File 1 of 3");
	EXPECT_TRUE(IsEncoding(run));

	for (const auto& input : inputs)
		FakeEncoder::Release(input);
	EXPECT_TRUE(RunEnded(run));
	EXPECT_EQ(LastArguments(fEncoder.Starts()),
		(std::vector<std::string>{inputs[0], inputs[0], inputs[1], inputs[2]}));
	EXPECT_EQ(fEncoder.Finished(), inputs);
}

TEST_F(EncodingRunTest, FilesAddedDuringARunAreEncodedToo)
{
	const auto inputs = Inputs(4);
	FakeEncoder::Hold(inputs[0]);
	FakeEncoder::Hold(inputs[1]);
	ProgramRun run;
	ASSERT_TRUE(run.Started());
	ASSERT_TRUE(AddFiles(run, {inputs[0], inputs[1]}));
	ASSERT_TRUE(ClickEncode(run));
	ASSERT_TRUE(WaitForStarts(1));
	ASSERT_TRUE(run.Robot().WaitFor([&] { return ShownText(run, "FileNumber") == "File 1 of 2"; }));

	BMessage refs(B_REFS_RECEIVED);
	for (size_t i = 2; i < inputs.size(); i++) {
		entry_ref ref;
		ASSERT_EQ(get_ref_for_path(inputs[i].c_str(), &ref), B_OK);
		refs.AddRef("refs", &ref);
	}
	run.Window()->PostMessage(&refs);
	ASSERT_TRUE(WaitUntil([&] { return run.ListItems().size() == inputs.size(); }));

	FakeEncoder::Release(inputs[0]);
	ASSERT_TRUE(WaitForStarts(2));
	EXPECT_TRUE(run.Robot().WaitFor([&] { return ShownText(run, "FileNumber") == "File 2 of 4"; }));
	FakeEncoder::Release(inputs[1]);
	EXPECT_TRUE(RunEnded(run));
	EXPECT_EQ(LastArguments(fEncoder.Starts()), inputs);
}

// Removes rows of the list behind the run's back, as nothing in the window
// can while the progress window is up.
void RemoveRows(const ProgramRun& run, int32 from)
{
	MainWindow* window = run.Window();
	ASSERT_TRUE(window->Lock());
	while (window->filesList->CountItems() > from)
		std::unique_ptr<BListItem>(window->filesList->RemoveItem(from));
	window->Unlock();
}

TEST_F(EncodingRunTest, AListShortenedToTheCurrentFileEndsTheRun)
{
	const auto inputs = Inputs(3);
	FakeEncoder::Hold(inputs[0]);
	ProgramRun run;
	ASSERT_TRUE(run.Started());
	ASSERT_TRUE(AddFiles(run, inputs));
	ASSERT_TRUE(ClickEncode(run));
	ASSERT_TRUE(WaitForStarts(1));
	RemoveRows(run, 1);
	FakeEncoder::Release(inputs[0]);
	EXPECT_TRUE(RunEnded(run));
	EXPECT_EQ(LastArguments(fEncoder.Starts()), (std::vector<std::string>{inputs[0]}));
}

TEST_F(EncodingRunTest, AListShortenedBelowTheNextFileEndsTheRun)
{
	const auto inputs = Inputs(3);
	FakeEncoder::Hold(inputs[1]);
	ProgramRun run;
	ASSERT_TRUE(run.Started());
	ASSERT_TRUE(AddFiles(run, inputs));
	ASSERT_TRUE(ClickEncode(run));
	ASSERT_TRUE(WaitForStarts(2));
	// Two files started; only one is left in the list.
	RemoveRows(run, 1);
	FakeEncoder::Release(inputs[1]);
	EXPECT_TRUE(RunEnded(run));
	EXPECT_EQ(LastArguments(fEncoder.Starts()), (std::vector<std::string>{inputs[0], inputs[1]}));
	EXPECT_TRUE(run.Robot().Alerts().empty());
}

TEST_F(EncodingRunTest, PathsReachTheEncoderAsOneArgumentEach)
{
	const auto inputs = MakeInputs(fFiles, {"two words.wav", "say \"hi\".wav", "tab\there.wav",
		"  spaced  out .wav"});
	for (const auto& input : inputs)
		FakeEncoder::Hold(input);
	ProgramRun run;
	ASSERT_TRUE(run.Started());
	ASSERT_TRUE(AddFiles(run, inputs));
	ASSERT_EQ(run.ListItems(), inputs);
	ASSERT_TRUE(ClickEncode(run));

	for (size_t i = 0; i < inputs.size(); i++) {
		ASSERT_TRUE(WaitForStarts(i + 1));
		const bool hasSpace = inputs[i].find(' ') != std::string::npos;
		const std::string shown = hasSpace ? "\"" + inputs[i] + "\"" : inputs[i];
		EXPECT_TRUE(run.Robot().WaitFor([&] { return ShownText(run, "FileName") == shown; }))
			<< ShownText(run, "FileName");
		FakeEncoder::Release(inputs[i]);
	}
	EXPECT_TRUE(RunEnded(run));
	std::vector<std::vector<std::string>> expected;
	for (const auto& input : inputs)
		expected.push_back({input});
	EXPECT_EQ(fEncoder.Starts(), expected);
}

// ---- encoders that misbehave ----------------------------------------------

// However an encoder ends, the run goes on to the next file: killed by a
// signal, failing, with its streams closed, or hanging (and deaf to the
// polite signals) until the user skips it.
TEST_F(EncodingRunTest, EveryWayAnEncoderEndsMovesTheRunOn)
{
	const std::string log = fTools / "odd.log";
	const std::string odd = fTools / "odd-gogo";
	ASSERT_TRUE(WriteFile(odd, "#!/bin/sh\n"
		"for last; do :; done\n"
		"printf '%s\\n' \"$last\" >> '" + log + "'\n"
		"case \"$last\" in\n"
		"*kill*) kill -KILL $$ ;;\n"
		"*segv*) kill -SEGV $$ ;;\n"
		"*fail*) echo 'cannot read it' >&2; exit 3 ;;\n"
		"*closed*) exec <&- >&- 2>&-; sleep 0.05; exit 0 ;;\n"
		"*hang*) trap '' TERM INT HUP QUIT; while :; do sleep 0.01; done ;;\n"
		"esac\n"));
	ASSERT_EQ(chmod(odd.c_str(), 0755), 0);
	StoreEncoderLocation(odd);

	const auto inputs = MakeInputs(fFiles, {"1-kill.wav", "2-segv.wav", "3-fail.wav",
		"4-closed.wav", "5-hang.wav", "6-fine.wav", "7-hang.wav"});
	ProgramRun run;
	ASSERT_TRUE(run.Started());
	ASSERT_TRUE(AddFiles(run, inputs));
	ASSERT_TRUE(ClickEncode(run));

	const auto lines = [&] { return SplitLines(ReadFile(log)); };
	// Each hanging file is skipped once its encoder has logged its start.
	for (size_t hanging : {5u, 7u}) {
		ASSERT_TRUE(WaitUntil([&] { return lines().size() == hanging; })) << lines().size();
		ASSERT_TRUE(run.Robot().WaitFor([&] { return run.Robot().Click(kProgressTitle, "SkipFile"); }));
	}
	// The run went through the whole list; at its end it tells which files
	// failed and why. The skipped ones are the user's choice, not failures.
	auto alert = WaitForAlert(run);
	ASSERT_TRUE(alert);
	EXPECT_EQ(alert->title, "EncodeReport");
	EXPECT_EQ(alert->icon, BPrivate::AlertIcon::Stop);
	EXPECT_EQ(alert->buttons, std::vector<std::string>{"OK"});
	EXPECT_EQ(alert->text, "3 of 7 files could not be encoded:\n"
		+ inputs[0] + ": ended by signal SIGKILL\n"
		+ inputs[1] + ": ended by signal SIGSEGV\n"
		+ inputs[2] + ": cannot read it");
	EXPECT_FALSE(run.Robot().IsWindowShown(kProgressTitle)) << "the report comes after the run";
	EXPECT_TRUE(run.Robot().AnswerAlert(0, "EncodeReport"));
	EXPECT_TRUE(RunEnded(run));
	EXPECT_EQ(lines(), inputs);
	EXPECT_EQ(run.Robot().Alerts().size(), 0u) << "said once";
	// The window takes input again and a second run starts from the top; it
	// goes on until the first hanging file, which Stop ends, and a stopped
	// run says nothing of the files that failed before.
	EXPECT_TRUE(run.Robot().Click(kMainTitle, "EncodeButton"));
	EXPECT_TRUE(WaitUntil([&] { return lines().size() == inputs.size() + 5; }));
	EXPECT_TRUE(run.Robot().WaitFor([&] { return run.Robot().Click(kProgressTitle, "StopEncoding"); }));
	EXPECT_TRUE(RunEnded(run));
	auto second = lines();
	ASSERT_GT(second.size(), inputs.size());
	second.erase(second.begin(), second.begin() + long(inputs.size()));
	EXPECT_EQ(second, std::vector<std::string>(inputs.begin(), inputs.begin() + 5));
	EXPECT_TRUE(run.Robot().Alerts().empty());
}

TEST_F(EncodingRunTest, ARunWithoutFailuresEndsSilentlyAndAllFailingIsTold)
{
	// Every file fails the same way an empty extra parameter makes gogo fail.
	const std::string failing = fTools / "failing-gogo";
	ASSERT_TRUE(WriteFile(failing, "#!/bin/sh\n"
		"for last; do :; done\n"
		"case \"$last\" in *good*) : >\"$last.done\"; exit 0 ;; esac\n"
		"printf 'progress 10%%\\rprogress 20%%\\r\\n' >&2\n"
		"printf 'gogo: unknown option \\047\\047\\t(see -help)\\n\\n  \\n' >&2\n"
		"exit 2\n"));
	ASSERT_EQ(chmod(failing.c_str(), 0755), 0);
	StoreEncoderLocation(failing);

	ProgramRun run;
	ASSERT_TRUE(run.Started());
	const auto good = MakeInputs(fFiles, {"good1.wav", "good2.wav"});
	ASSERT_TRUE(AddFiles(run, good));
	ASSERT_TRUE(ClickEncode(run));
	// The run has gone through both files before it is seen as ended.
	ASSERT_TRUE(WaitUntil([&] {
		return std::filesystem::exists(good[0] + ".done") && std::filesystem::exists(good[1] + ".done");
	}));
	EXPECT_TRUE(RunEnded(run));
	EXPECT_TRUE(run.Robot().Alerts().empty()) << "nothing failed, nothing said";

	// 25 failing files (and a name that would break the line) in a folder
	// 3.8 KB deep: 20 are named, each path shortened in the middle, the rest
	// counted, and the alert fits a 1024x768 screen.
	std::string deep = fFiles.Path();
	while (deep.size() < 3800)
		deep += "/" + std::string(200, 'f');
	ASSERT_TRUE(std::filesystem::create_directories(deep));
	std::vector<std::string> inputs{deep + "/line\nbreak.wav"};
	for (int i = 0; i < 24; i++)
		inputs.push_back(deep + "/bad" + std::to_string(i) + ".wav");
	for (const std::string& input : inputs)
		ASSERT_TRUE(WriteFile(input, ""));
	ASSERT_TRUE(AddFiles(run, inputs));
	ASSERT_TRUE(ClickEncode(run));
	auto alert = WaitForAlert(run);
	ASSERT_TRUE(alert);
	EXPECT_EQ(alert->title, "EncodeReport");
	const auto reportLines = SplitLines(alert->text);
	ASSERT_EQ(reportLines.size(), 22u) << alert->text.size();
	EXPECT_EQ(reportLines.front(), "25 of 27 files could not be encoded:");
	const std::string reason = ": gogo: unknown option ''\\x09(see -help)";
	const std::string shown = RunReport::ShortPath(inputs[0]);
	EXPECT_EQ(reportLines[1], shown + reason);
	EXPECT_EQ(shown.rfind(fFiles.Path().substr(0, 20), 0), 0u) << shown;
	EXPECT_NE(shown.find("\u2026" + std::string(10, 'f')), std::string::npos) << shown;
	EXPECT_TRUE(shown.ends_with(std::string(10, 'f') + "/line\\x0abreak.wav")) << shown;
	EXPECT_EQ(reportLines[20], RunReport::ShortPath(inputs[19]) + reason);
	EXPECT_EQ(reportLines.back(), "\u2026and 5 more.");
	EXPECT_LE(alert->width, 1024);
	EXPECT_LE(alert->height, 768);
	EXPECT_TRUE(run.Robot().AnswerAlert(0, "EncodeReport"));
	EXPECT_TRUE(RunEnded(run));
}

// The bundled encoder on a recording cut short: the MP3 has what there is,
// and the report names the file with the encoder's own line.
TEST_F(EncodingRunTest, ATruncatedRecordingIsReportedInTheEncodersWords)
{
	StoreEncoderLocation(TAMSEL_BINARY_DIR "/gogo");
	// 16-bit mono at 8 kHz whose header declares `declared` bytes.
	const auto wav = [](uint32_t declared, size_t present) {
		std::string bytes = "RIFF";
		const auto put = [&bytes](uint32_t value, int count) {
			for (int i = 0; i < count; i++)
				bytes += static_cast<char>((value >> (8 * i)) & 0xff);
		};
		put(36 + declared, 4);
		bytes += "WAVEfmt ";
		for (const auto& [value, count] : std::vector<std::pair<uint32_t, int>>{
				 {16, 4}, {1, 2}, {1, 2}, {8000, 4}, {16000, 4}, {2, 2}, {16, 2}})
			put(value, count);
		bytes += "data";
		put(declared, 4);
		for (size_t i = 0; i < present / 2; i++)
			put(static_cast<uint32_t>(static_cast<int16_t>(8000 * ((i / 10) % 2 ? 1 : -1))), 2);
		return bytes;
	};
	const std::string whole = fFiles / "whole.wav", cut = fFiles / "cut.wav";
	ASSERT_TRUE(WriteFile(whole, wav(16000, 16000)));
	ASSERT_TRUE(WriteFile(cut, wav(4 * 16000, 16000)));

	ProgramRun run;
	ASSERT_TRUE(run.Started());
	ASSERT_TRUE(AddFiles(run, {whole, cut}));
	ASSERT_TRUE(ClickEncode(run));
	auto alert = WaitForAlert(run);
	ASSERT_TRUE(alert);
	EXPECT_EQ(alert->title, "EncodeReport");
	const auto lines = SplitLines(alert->text);
	ASSERT_EQ(lines.size(), 2u) << alert->text;
	EXPECT_EQ(lines[0], "1 of 2 files could not be encoded:");
	EXPECT_EQ(lines[1].rfind(cut + ": gogo: '" + cut + "' holds only 1.0 s of the 4.0 s of audio its"
		" header declares (25%)", 0), 0u) << lines[1];
	EXPECT_TRUE(run.Robot().AnswerAlert(0, "EncodeReport"));
	EXPECT_TRUE(RunEnded(run));
	EXPECT_TRUE(std::filesystem::exists(fFiles / "whole.mp3"));
	EXPECT_TRUE(std::filesystem::exists(fFiles / "cut.mp3"));
	EXPECT_TRUE(std::filesystem::exists(cut));
}

// ---- where the encoder is -------------------------------------------------

class EncoderLocationTest : public EncodingRunTest {
protected:
	// Starts a run with the location stored and returns the program.
	std::unique_ptr<ProgramRun> StartWith(const std::string& location)
	{
		StoreEncoderLocation(location);
		auto run = std::make_unique<ProgramRun>();
		EXPECT_TRUE(run->Started());
		EXPECT_TRUE(AddFiles(*run, Inputs(2)));
		EXPECT_TRUE(ClickEncode(*run));
		return run;
	}

	static std::string NotFoundText(const std::string& location)
	{
		return location
			+ " not found. Please go to the Program options panel and make sure the "
			  "\"Gogo location:\" field points directly to Gogo, or a symlink to it (not the "
			  "directory it is in).";
	}

	static constexpr const char* kLaunchFailedText
		= "Something bad happened when tried to launch Gogo. Make sure Gogo is where it "
		  "should be, isn't running and try again.";

	void ExpectAlert(ProgramRun& run, const char* title, const std::string& text)
	{
		auto alert = WaitForAlert(run);
		ASSERT_TRUE(alert);
		EXPECT_EQ(alert->title, title);
		EXPECT_EQ(alert->text, text);
		EXPECT_EQ(alert->buttons, std::vector<std::string>{"OK"});
		EXPECT_EQ(alert->icon, BPrivate::AlertIcon::Stop);
		EXPECT_TRUE(run.Robot().AnswerAlert(0, title));
		EXPECT_TRUE(RunEnded(run));
		EXPECT_TRUE(fEncoder.Starts().empty());
	}
};

TEST_F(EncoderLocationTest, AMissingEncoderIsReportedAndNothingStarts)
{
	const std::string location = fTools / "no-such-gogo";
	auto run = StartWith(location);
	ExpectAlert(*run, "EncodeFailed", NotFoundText(location));
	// The run never began: the progress window was not shown either.
	auto progress = run->Robot().FindWindow(kProgressTitle);
	ASSERT_TRUE(progress);
	EXPECT_TRUE(progress->hidden);
}

TEST_F(EncoderLocationTest, ALinkToNothingIsAMissingEncoder)
{
	const std::string link = fTools / "dangling";
	ASSERT_EQ(symlink((fTools / "gone").c_str(), link.c_str()), 0);
	auto run = StartWith(link);
	ExpectAlert(*run, "EncodeFailed", NotFoundText(link));
}

TEST_F(EncoderLocationTest, ADirectoryCannotBeLaunched)
{
	auto run = StartWith(fTools.Path());
	ExpectAlert(*run, "LaunchFailed", kLaunchFailedText);
}

TEST_F(EncoderLocationTest, AFileThatIsNotExecutableCannotBeLaunched)
{
	chmod(fEncoder.Path().c_str(), 0644);
	auto run = StartWith(fEncoder.Path());
	ExpectAlert(*run, "LaunchFailed", kLaunchFailedText);
}

TEST_F(EncoderLocationTest, ALinkToTheEncoderWorks)
{
	const std::string link = fTools / "gogo-link";
	ASSERT_EQ(symlink(fEncoder.Path().c_str(), link.c_str()), 0);
	auto run = StartWith(link);
	ASSERT_TRUE(WaitUntil([&] { return fEncoder.Finished().size() == 2; }));
	EXPECT_TRUE(RunEnded(*run));
	EXPECT_TRUE(run->Robot().Alerts().empty());
	EXPECT_EQ(fEncoder.Starts().size(), 2u);
}

} // namespace

// ---- the report's text, from quit notices alone ------------------------------

namespace {

BMessage Notice(std::optional<int32> status, std::optional<int32> signal, bool killed,
	const std::string& errors)
{
	BMessage notice(B_SOME_APP_QUIT);
	if (status)
		notice.AddInt32("be:exit_status", *status);
	if (signal)
		notice.AddInt32("be:signal", *signal);
	notice.AddBool("be:killed", killed);
	notice.AddData("be:stderr", B_RAW_TYPE, errors.data(), static_cast<ssize_t>(errors.size()));
	return notice;
}

TEST(RunReportText, OnlyRealFailuresCountAndEachSaysWhy)
{
	RunReport report;
	const std::string longLine(500, 'e');
	struct Case {
		BMessage notice;
		bool failed;
		std::string reason;
	};
	const Case cases[] = {
		{Notice(0, {}, false, "warning: clipped\n"), false, ""},
		{Notice(143, {}, true, "gogo: stopped\n"), false, ""}, // skipped: SIGTERM became an exit
		{Notice({}, SIGKILL, true, ""), false, ""},
		{Notice(2, {}, false, ""), true, "exit status 2"},
		{Notice({}, SIGSEGV, false, ""), true, "ended by signal SIGSEGV"},
		{Notice(1, {}, false, "first\nlast\n\n \t\n"), true, "last"},
		{Notice(1, {}, false, longLine), true, std::string(RunReport::kReasonLimit, 'e')},
		// A cut never splits an escape or a character.
		{Notice(1, {}, false, std::string(198, 'a') + "\x01"), true, std::string(198, 'a')},
		{Notice(1, {}, false, std::string(199, 'a') + "\xc3\xa9"), true, std::string(199, 'a')},
		{Notice(1, {}, false, std::string("a\0b", 3)), true, "a\\x00b"},
	};
	for (const Case& c : cases) {
		report.FileStarted();
		EXPECT_EQ(report.FileEnded("/in.wav", c.notice), c.failed) << c.reason;
		if (c.failed) {
			EXPECT_EQ(RunReport::Reason(c.notice), c.reason);
		}
	}
	EXPECT_EQ(report.Failed(), 7);
	EXPECT_EQ(report.Started(), 10);
	EXPECT_EQ(SplitLines(report.Text()).front(), "7 of 10 files could not be encoded:");
}

// A path too long for a line of the report loses its middle: the directory's
// first, then the file name's, which keeps its start and end. Nothing is cut
// inside an escape or a character.
TEST(RunReportText, LongPathsLoseTheirMiddle)
{
	const auto times = [](int count, const std::string& piece) {
		std::string text;
		for (int i = 0; i < count; i++)
			text += piece;
		return text;
	};
	const std::string e = "\u2026";
	const struct {
		std::string path, shown;
	} cases[] = {
		{"/music/track 1.wav", "/music/track 1.wav"},
		{"/" + times(69, "d") + "/" + times(9, "n"), "/" + times(69, "d") + "/" + times(9, "n")},
		{"/" + times(100, "d") + "/name.wav", "/" + times(34, "d") + e + times(33, "d") + "/name.wav"},
		{"/m/" + times(100000, "n") + ".wav", "/m/" + times(37, "n") + e + times(33, "n") + ".wav"},
		{"/" + times(100000, "d") + "/" + times(100000, "n") + ".wav",
			"/" + times(11, "d") + e + times(10, "d") + "/" + times(26, "n") + e + times(21, "n") + ".wav"},
		{"/" + times(100, "\x01") + "/a.wav", "/" + times(8, "\\x01") + e + times(8, "\\x01") + "/a.wav"},
		{"/" + times(40, "d") + "/" + times(50, "\xc3\xa9"),
			"/" + times(11, "d") + e + times(11, "d") + "/" + times(13, "\xc3\xa9") + e + times(12, "\xc3\xa9")},
	};
	for (const auto& c : cases) {
		const std::string shown = RunReport::ShortPath(c.path);
		EXPECT_EQ(shown, c.shown) << c.path.size();
		EXPECT_LE(shown.size(), RunReport::kPathLimit);
		RunReport report;
		report.FileStarted();
		report.FileEnded(c.path, Notice(1, {}, false, ""));
		EXPECT_EQ(SplitLines(report.Text()).back(), c.shown + ": exit status 1");
	}
}

TEST(RunReportText, AThousandFailuresStayBoundedAndReadable)
{
	RunReport report;
	const BMessage notice = Notice(1, {}, false, std::string(100000, 'x') + "\nno such file\n");
	for (int i = 0; i < 1000; i++) {
		report.FileStarted();
		report.FileEnded("/music/" + std::to_string(i) + ".wav", notice);
	}
	const auto lines = SplitLines(report.Text());
	ASSERT_EQ(lines.size(), 22u);
	EXPECT_EQ(lines[0], "1000 of 1000 files could not be encoded:");
	EXPECT_EQ(lines[1], "/music/0.wav: no such file");
	EXPECT_EQ(lines[20], "/music/19.wav: no such file");
	EXPECT_EQ(lines[21], "\u2026and 980 more.");
	EXPECT_LT(report.Text().size(), 2000u);

	report.Clear();
	EXPECT_EQ(report.Failed(), 0);
	EXPECT_EQ(report.Started(), 0);
}

} // namespace
