// The "Gogo options" tab: its controls, and what each choice puts on the
// encoder's command line.

#include "prog_encoding_fake.h"

#include <functional>

using namespace testing_support;

namespace {

constexpr const char* kTab = "TabView";

// Brings the "Gogo options" page up and waits until the screen shows it, so
// that the robot can reach its controls.
bool ShowOptionsTab(const ProgramRun& run)
{
	return run.Robot().SelectTab(kMainTitle, kTab, 1) && run.Robot().WaitFor([&] {
		auto page = run.Robot().FindView(kMainTitle, "Gogo options");
		return page && !page->hidden;
	});
}

struct RunResult {
	std::string optionsBefore;
	std::string optionsAfter;
	std::vector<std::string> arguments; // without the input path
	std::string input;                  // the last argument
};

class EncoderOptionsTest : public ::testing::Test {
protected:
	void SetUp() override
	{
		ClearStoredSettings();
		StoreEncoderLocation(fEncoder.Path());
		fInput = MakeInputs(fFiles, {"song.wav"}).front();
	}
	void TearDown() override { ClearStoredSettings(); }

	// Starts the program, sets the options through the robot, encodes one
	// file and returns what the run captured and what the encoder got.
	RunResult Encode(const std::function<void(BPrivate::HeadlessDisplay&)>& choose)
	{
		RunResult result;
		ProgramRun run;
		EXPECT_TRUE(run.Started());
		EXPECT_TRUE(AddFiles(run, {fInput}));
		EXPECT_TRUE(ShowOptionsTab(run));
		choose(run.Robot());
		const size_t before = fEncoder.Starts().size();
		EXPECT_TRUE(ClickEncode(run));
		EXPECT_TRUE(WaitUntil([&] { return fEncoder.Finished().size() > before; }));
		EXPECT_TRUE(RunEnded(run));
		MainWindow* window = run.Window();
		if (window->Lock()) {
			result.optionsBefore = window->optionsBefore;
			result.optionsAfter = window->optionsAfter;
			window->Unlock();
		}
		const auto starts = fEncoder.Starts();
		if (starts.size() == before + 1 && !starts.back().empty()) {
			result.arguments = starts.back();
			result.input = result.arguments.back();
			result.arguments.pop_back();
		}
		return result;
	}

	TempDir fFiles;
	TempDir fTools;
	FakeEncoder fEncoder{fTools};
	std::string fInput;
};

using Words = std::vector<std::string>;

TEST_F(EncoderOptionsTest, AllDefaultsGiveNoOptions)
{
	const RunResult result = Encode([](auto&) {});
	EXPECT_EQ(result.optionsBefore, "");
	EXPECT_EQ(result.optionsAfter, "");
	EXPECT_EQ(result.arguments, Words{});
	EXPECT_EQ(result.input, fInput);
}

TEST_F(EncoderOptionsTest, TheUsualChoicesGiveEightArguments)
{
	const std::string directory = fFiles / "mp3";
	const RunResult result = Encode([&](BPrivate::HeadlessDisplay& robot) {
		EXPECT_TRUE(robot.ChooseMenuItem(kMainTitle, "BitRateField", "", "192 kbps"));
		EXPECT_TRUE(robot.ChooseMenuItem(kMainTitle, "OutputModeField", "", "Joint stereo"));
		EXPECT_TRUE(robot.Toggle(kMainTitle, "DisablePsycho"));
		EXPECT_TRUE(robot.SetText(kMainTitle, "OutputDirText", directory));
	});
	EXPECT_EQ(result.optionsBefore, "-b 192 -m j -nopsy -o " + directory);
	EXPECT_EQ(result.arguments, (Words{"-b", "192", "-m", "j", "-nopsy", "-o", directory}));
	EXPECT_EQ(result.input, fInput);
}

TEST_F(EncoderOptionsTest, EachOptionAlone)
{
	struct Case {
		const char* what;
		std::function<void(BPrivate::HeadlessDisplay&)> choose;
		std::string text;
		Words words;
	};
	const std::string directory = fFiles.Path();
	const std::vector<Case> cases = {
		{"lowest bit rate",
			[](auto& robot) { EXPECT_TRUE(robot.ChooseMenuItem(kMainTitle, "BitRateField", "", "32 kbps")); },
			"-b 32", {"-b", "32"}},
		{"highest bit rate",
			[](auto& robot) { EXPECT_TRUE(robot.ChooseMenuItem(kMainTitle, "BitRateField", "", "320 kbps")); },
			"-b 320", {"-b", "320"}},
		{"bit rate chosen, then back to the default",
			[](auto& robot) {
				EXPECT_TRUE(robot.ChooseMenuItem(kMainTitle, "BitRateField", "", "128 kbps"));
				EXPECT_TRUE(robot.ChooseMenuItem(kMainTitle, "BitRateField", "", "Default"));
			},
			"", {}},
		{"mono",
			[](auto& robot) { EXPECT_TRUE(robot.ChooseMenuItem(kMainTitle, "OutputModeField", "", "Monoaural")); },
			"-m m", {"-m", "m"}},
		{"stereo",
			[](auto& robot) { EXPECT_TRUE(robot.ChooseMenuItem(kMainTitle, "OutputModeField", "", "Stereo")); },
			"-m s", {"-m", "s"}},
		{"joint stereo",
			[](auto& robot) { EXPECT_TRUE(robot.ChooseMenuItem(kMainTitle, "OutputModeField", "", "Joint stereo")); },
			"-m j", {"-m", "j"}},
		{"no psycho-acoustics",
			[](auto& robot) { EXPECT_TRUE(robot.Toggle(kMainTitle, "DisablePsycho")); },
			"-nopsy", {"-nopsy"}},
		{"psycho-acoustics toggled twice",
			[](auto& robot) {
				EXPECT_TRUE(robot.Toggle(kMainTitle, "DisablePsycho"));
				EXPECT_TRUE(robot.Toggle(kMainTitle, "DisablePsycho"));
			},
			"", {}},
		{"delete the wave file",
			[](auto& robot) { EXPECT_TRUE(robot.Toggle(kMainTitle, "DeleteWave")); },
			"-delete", {"-delete"}},
		{"output directory",
			[&](auto& robot) { EXPECT_TRUE(robot.SetText(kMainTitle, "OutputDirText", directory)); },
			"-o " + directory, {"-o", directory}},
		{"extra parameters",
			[](auto& robot) { EXPECT_TRUE(robot.SetText(kMainTitle, "ExtraParam", "-q 2")); },
			"-q 2", {"-q", "2"}},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.what);
		const RunResult result = Encode(c.choose);
		EXPECT_EQ(result.optionsBefore, c.text);
		EXPECT_EQ(result.arguments, c.words);
		EXPECT_EQ(result.input, fInput);
	}
}

TEST_F(EncoderOptionsTest, EveryOptionAtOnceKeepsItsOrder)
{
	const RunResult result = Encode([](BPrivate::HeadlessDisplay& robot) {
		// Chosen in a different order from the one they go out in.
		EXPECT_TRUE(robot.SetText(kMainTitle, "ExtraParam", "-v"));
		EXPECT_TRUE(robot.Toggle(kMainTitle, "DeleteWave"));
		EXPECT_TRUE(robot.SetText(kMainTitle, "OutputDirText", "/out"));
		EXPECT_TRUE(robot.Toggle(kMainTitle, "DisablePsycho"));
		EXPECT_TRUE(robot.ChooseMenuItem(kMainTitle, "OutputModeField", "", "Stereo"));
		EXPECT_TRUE(robot.ChooseMenuItem(kMainTitle, "BitRateField", "", "40 kbps"));
	});
	EXPECT_EQ(result.optionsBefore, "-b 40 -m s -nopsy -delete -o /out -v");
	EXPECT_EQ(result.arguments, (Words{"-b", "40", "-m", "s", "-nopsy", "-delete", "-o", "/out", "-v"}));
}

TEST_F(EncoderOptionsTest, ExtraParametersKeepTheSpacesAtTheirEnds)
{
	const RunResult result = Encode([](BPrivate::HeadlessDisplay& robot) {
		EXPECT_TRUE(robot.Toggle(kMainTitle, "DisablePsycho"));
		EXPECT_TRUE(robot.SetText(kMainTitle, "ExtraParam", "  -q 2 "));
	});
	// The text goes out as typed, then its separator, of which only the last
	// of the whole options text is dropped.
	EXPECT_EQ(result.optionsBefore, "-nopsy   -q 2 ");
	// Each space ends a word, so the spaces at the ends make empty ones.
	EXPECT_EQ(result.arguments, (Words{"-nopsy", "", "", "-q", "2", ""}));
	EXPECT_EQ(result.input, fInput);
}

TEST_F(EncoderOptionsTest, ExtraParametersMayQuoteAWord)
{
	const RunResult result = Encode([](BPrivate::HeadlessDisplay& robot) {
		EXPECT_TRUE(robot.SetText(kMainTitle, "ExtraParam", "--tt \"A Song\" -x"));
	});
	EXPECT_EQ(result.optionsBefore, "--tt \"A Song\" -x");
	EXPECT_EQ(result.arguments, (Words{"--tt", "A Song", "-x"}));
}

TEST_F(EncoderOptionsTest, AnUnclosedQuoteInTheExtrasNeverSwallowsThePath)
{
	const RunResult result = Encode([](BPrivate::HeadlessDisplay& robot) {
		EXPECT_TRUE(robot.SetText(kMainTitle, "ExtraParam", "--tt \"open"));
	});
	EXPECT_EQ(result.arguments, (Words{"--tt", "open"}));
	EXPECT_EQ(result.input, fInput);
}

TEST_F(EncoderOptionsTest, OutputDirectoryWithSpacesIsQuotedInTheTextAndWholeOnTheLine)
{
	const std::string directory = fFiles / "my  mp3 files";
	const RunResult result = Encode([&](BPrivate::HeadlessDisplay& robot) {
		EXPECT_TRUE(robot.ChooseMenuItem(kMainTitle, "BitRateField", "", "64 kbps"));
		EXPECT_TRUE(robot.SetText(kMainTitle, "OutputDirText", directory));
		EXPECT_TRUE(robot.SetText(kMainTitle, "ExtraParam", "-v"));
	});
	EXPECT_EQ(result.optionsBefore, "-b 64 -o \"" + directory + "\" -v");
	EXPECT_EQ(result.arguments, (Words{"-b", "64", "-o", directory, "-v"}));
}

TEST_F(EncoderOptionsTest, OutputDirectoryWithQuotesReachesTheEncoderWhole)
{
	for (const std::string& directory :
			std::vector<std::string>{fFiles / "say \"hi\" there", fFiles / "\"x\"", fFiles / "tab\tdir"}) {
		SCOPED_TRACE(directory);
		const RunResult result = Encode([&](BPrivate::HeadlessDisplay& robot) {
			EXPECT_TRUE(robot.SetText(kMainTitle, "OutputDirText", directory));
		});
		EXPECT_EQ(result.arguments, (Words{"-o", directory}));
		EXPECT_EQ(result.input, fInput);
	}
}

TEST_F(EncoderOptionsTest, LongOptionsArriveComplete)
{
	// The longest texts the two fields take.
	const std::string directory = "/" + std::string(1023, 'd');
	std::string extras;
	while (extras.size() + 3 <= 128)
		extras += "-x ";
	extras.pop_back();
	const RunResult result = Encode([&](BPrivate::HeadlessDisplay& robot) {
		EXPECT_TRUE(robot.ChooseMenuItem(kMainTitle, "BitRateField", "", "256 kbps"));
		EXPECT_TRUE(robot.SetText(kMainTitle, "OutputDirText", directory));
		EXPECT_TRUE(robot.SetText(kMainTitle, "ExtraParam", extras));
	});
	EXPECT_EQ(result.optionsBefore, "-b 256 -o " + directory + " " + extras);
	Words expected{"-b", "256", "-o", directory};
	for (size_t i = 0; i < extras.size(); i += 3)
		expected.push_back("-x");
	EXPECT_EQ(result.arguments, expected);
}

// ---- the tab itself ---------------------------------------------------------

class EncoderViewTest : public ::testing::Test {
protected:
	void SetUp() override { ClearStoredSettings(); }
	void TearDown() override { ClearStoredSettings(); }

	BPrivate::ViewState View(const ProgramRun& run, const char* name)
	{
		auto state = run.Robot().FindView(kMainTitle, name);
		EXPECT_TRUE(state) << name;
		return state.value_or(BPrivate::ViewState{});
	}

	static std::vector<std::string> Labels(const BPrivate::ViewState& field)
	{
		std::vector<std::string> labels;
		// A field shows one menu, whose items are the choices.
		if (field.menu.size() != 1)
			return labels;
		for (const auto& item : field.menu.front().items)
			labels.push_back(item.separator ? "-" : item.label);
		return labels;
	}
};

TEST_F(EncoderViewTest, ControlsSitBelowEachOtherAsLaidOut)
{
	ProgramRun run;
	ASSERT_TRUE(run.Started());
	const auto page = View(run, "Gogo options");
	// The right edge of the page's own bounds.
	const float width = page.frame.Width();
	ASSERT_GT(width, 203);
	EXPECT_EQ(page.flags, 0u);
	EXPECT_EQ(page.resizingMode, uint32(B_FOLLOW_NONE));

	const auto bitRate = View(run, "BitRateField");
	const auto mode = View(run, "OutputModeField");
	const auto psycho = View(run, "DisablePsycho");
	const auto wave = View(run, "DeleteWave");
	const auto browse = View(run, "OutputDirButton");
	const auto directory = View(run, "OutputDirText");
	const auto extra = View(run, "ExtraParam");

	EXPECT_EQ(bitRate.label, "Bit rate:");
	EXPECT_EQ(mode.label, "Output mode:");
	EXPECT_EQ(bitRate.divider, 117);
	EXPECT_EQ(mode.divider, 117);
	EXPECT_EQ(bitRate.frame.left, 0);
	EXPECT_EQ(bitRate.frame.top, 0);
	EXPECT_EQ(mode.frame.top, 24);

	EXPECT_EQ(psycho.label, "Disable psycho-acoustic");
	EXPECT_EQ(psycho.frame.left, 0);
	EXPECT_EQ(psycho.frame.top, mode.frame.bottom + 6);
	EXPECT_EQ(wave.label, "Delete wave file after encoding");
	EXPECT_EQ(wave.frame.top, psycho.frame.bottom + 6);
	EXPECT_EQ(psycho.value, B_CONTROL_OFF);
	EXPECT_EQ(wave.value, B_CONTROL_OFF);

	EXPECT_EQ(browse.label, "Browse...");
	EXPECT_EQ(browse.frame.left, width - 74);
	EXPECT_EQ(browse.frame.top, wave.frame.bottom + 4);
	EXPECT_EQ(browse.frame.Height(), 20);
	EXPECT_LE(browse.frame.right, width);
	EXPECT_EQ(browse.resizingMode, uint32(B_FOLLOW_RIGHT | B_FOLLOW_TOP));

	EXPECT_EQ(directory.label, "Output directory:");
	EXPECT_EQ(directory.frame.left, 0);
	EXPECT_EQ(directory.frame.top, wave.frame.bottom + 5);
	EXPECT_EQ(directory.frame.right, width - 79);
	EXPECT_EQ(directory.divider, 115);
	EXPECT_EQ(directory.textViewFrame.Width(), width - 203);
	EXPECT_EQ(directory.maxBytes, 1024);
	EXPECT_EQ(directory.text, "");
	EXPECT_EQ(directory.resizingMode, uint32(B_FOLLOW_LEFT_RIGHT | B_FOLLOW_TOP));

	EXPECT_EQ(extra.label, "Extra parameters:");
	EXPECT_EQ(extra.frame.top, directory.frame.bottom + 5);
	EXPECT_EQ(extra.frame.right, width);
	EXPECT_EQ(extra.divider, 115);
	EXPECT_EQ(extra.textViewFrame.Width(), width - 124);
	EXPECT_EQ(extra.maxBytes, 128);
	EXPECT_EQ(extra.text, "");

	for (const auto& control : {bitRate, mode, psycho, wave, browse, directory, extra})
		EXPECT_EQ(control.flags, uint32(B_WILL_DRAW | B_NAVIGABLE)) << control.name;
	for (const auto& control : {bitRate, mode, psycho, wave})
		EXPECT_EQ(control.resizingMode, uint32(B_FOLLOW_LEFT | B_FOLLOW_TOP)) << control.name;
}

TEST_F(EncoderViewTest, MenusOfferDefaultThenTheChoices)
{
	ProgramRun run;
	ASSERT_TRUE(run.Started());
	std::vector<std::string> rates{"Default", "-"};
	for (int rate : {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320})
		rates.push_back(std::to_string(rate) + " kbps");
	EXPECT_EQ(Labels(View(run, "BitRateField")), rates);
	EXPECT_EQ(Labels(View(run, "OutputModeField")),
		(std::vector<std::string>{"Default", "-", "Monoaural", "Stereo", "Joint stereo"}));
	EXPECT_EQ(run.Robot().MarkedLabel(kMainTitle, "BitRateField"), "Default");
	EXPECT_EQ(run.Robot().MarkedLabel(kMainTitle, "OutputModeField"), "Default");

	ASSERT_TRUE(ShowOptionsTab(run));
	ASSERT_TRUE(run.Robot().ChooseMenuItem(kMainTitle, "BitRateField", "", "224 kbps"));
	EXPECT_TRUE(run.Robot().WaitFor(
		[&] { return run.Robot().MarkedLabel(kMainTitle, "BitRateField") == "224 kbps"; }));
	// One choice at a time.
	int marked = 0;
	const auto field = View(run, "BitRateField");
	ASSERT_EQ(field.menu.size(), 1u);
	for (const auto& item : field.menu.front().items)
		marked += item.marked ? 1 : 0;
	EXPECT_EQ(marked, 1);
}

TEST_F(EncoderViewTest, BrowseChoosesTheOutputDirectoryThroughLinks)
{
	TempDir dirs;
	const std::string real = dirs / "real";
	const std::string link = dirs / "link";
	std::filesystem::create_directory(real);
	ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);

	ProgramRun run;
	ASSERT_TRUE(run.Started());
	ASSERT_TRUE(ShowOptionsTab(run));
	ASSERT_TRUE(run.Robot().Click(kMainTitle, "OutputDirButton"));

	std::optional<BPrivate::HeadlessDisplay::ShownPanel> panel;
	ASSERT_TRUE(run.Robot().WaitFor([&] {
		for (const auto& shown : run.Robot().Panels()) {
			if (shown.request.title == "Select output directory")
				panel = shown;
		}
		return panel.has_value();
	}));
	EXPECT_EQ(panel->request.mode, BPrivate::PanelMode::Open);
	EXPECT_EQ(panel->request.nodeFlavors, uint32(B_DIRECTORY_NODE));
	EXPECT_FALSE(panel->request.multipleSelection);
	EXPECT_TRUE(panel->request.modal);
	EXPECT_TRUE(panel->request.hideWhenDone);
	EXPECT_EQ(panel->request.defaultLabel, "Select");
	EXPECT_EQ(panel->request.cancelLabel, "Cancel");

	ASSERT_TRUE(run.Robot().AnswerOpenPanel("Select output directory", {link}));
	EXPECT_TRUE(run.Robot().WaitFor([&] { return View(run, "OutputDirText").text == real; }))
		<< View(run, "OutputDirText").text;
}

TEST_F(EncoderViewTest, CancellingTheDirectoryPanelLeavesTheField)
{
	ProgramRun run;
	ASSERT_TRUE(run.Started());
	ASSERT_TRUE(ShowOptionsTab(run));
	ASSERT_TRUE(run.Robot().SetText(kMainTitle, "OutputDirText", "/kept"));
	ASSERT_TRUE(run.Robot().Click(kMainTitle, "OutputDirButton"));
	ASSERT_TRUE(run.Robot().WaitFor([&] { return !run.Robot().Panels().empty(); }));
	ASSERT_TRUE(run.Robot().CancelPanel("Select output directory"));
	// A choice made afterwards still lands, so the cancel was handled first.
	MainWindow* window = run.Window();
	BMessage empty('ENCO');
	empty.AddInt32("encoder_what", int32('DPNL'));
	window->PostMessage(&empty);
	BMessage unknown('ENCO');
	unknown.AddInt32("encoder_what", int32('XXXX'));
	window->PostMessage(&unknown);
	ASSERT_TRUE(run.Robot().SetText(kMainTitle, "ExtraParam", "-done"));
	EXPECT_TRUE(run.Robot().WaitFor([&] { return View(run, "ExtraParam").text == "-done"; }));
	EXPECT_EQ(View(run, "OutputDirText").text, "/kept");
}

} // namespace
