// The bundled encoder's command line: every option, every way to get one
// wrong, and the names and paths it derives from the input.
#include "GogoEncoder.h"
#include "GogoFixtures.h"
#include "GogoOptions.h"

#include <algorithm>

namespace {

using namespace gogo_testing;

// ---- the argument parser ---------------------------------------------------------

gogo::ParseResult Parse(const std::vector<std::string>& arguments)
{
	return gogo::ParseArguments(arguments);
}

TEST(GogoOptions, InputAloneGivesTheDefaults)
{
	const gogo::ParseResult result = Parse({"song.wav"});
	ASSERT_EQ(result.action, gogo::ParseAction::Encode) << result.error;
	const gogo::Options& options = result.options;
	EXPECT_EQ(options.input, "song.wav");
	EXPECT_EQ(options.bitrate, 0);
	EXPECT_EQ(options.EffectiveBitrate(), 128);
	EXPECT_EQ(options.mode, gogo::ChannelMode::Default);
	EXPECT_FALSE(options.noPsy);
	EXPECT_EQ(options.EffectiveQuality(), 3);
	EXPECT_EQ(options.vbrQuality, -1);
	EXPECT_FALSE(options.deleteInput);
	EXPECT_FALSE(options.overwrite);
	EXPECT_FALSE(options.hasOutputDirectory);
	EXPECT_FALSE(options.silent);
	EXPECT_TRUE(options.replayGain);
}

TEST(GogoOptions, TheFrontEndsFullCommandLine)
{
	// Empty words (a trailing space in "Extra parameters") are left out.
	const gogo::ParseResult result = Parse({"-b", "192", "", "-m", "j", "-nopsy", "-delete", "-o",
		"/music/out dir", "-silent", "", "/music/in put.wav", ""});
	ASSERT_EQ(result.action, gogo::ParseAction::Encode) << result.error;
	const gogo::Options& options = result.options;
	EXPECT_EQ(options.bitrate, 192);
	EXPECT_EQ(options.mode, gogo::ChannelMode::JointStereo);
	EXPECT_TRUE(options.noPsy);
	EXPECT_EQ(options.EffectiveQuality(), 9);
	EXPECT_TRUE(options.deleteInput);
	EXPECT_TRUE(options.hasOutputDirectory);
	EXPECT_EQ(options.outputDirectory, "/music/out dir");
	EXPECT_TRUE(options.silent);
	EXPECT_EQ(options.input, "/music/in put.wav");
}

TEST(GogoOptions, EveryBitRateAndMode)
{
	for (int kbps : gogo::kBitrates) {
		const gogo::ParseResult result = Parse({"-b", std::to_string(kbps), "x.wav"});
		ASSERT_EQ(result.action, gogo::ParseAction::Encode) << kbps;
		EXPECT_EQ(result.options.bitrate, kbps);
	}
	EXPECT_EQ(Parse({"-m", "m", "x"}).options.mode, gogo::ChannelMode::Mono);
	EXPECT_EQ(Parse({"-m", "s", "x"}).options.mode, gogo::ChannelMode::Stereo);
	EXPECT_EQ(Parse({"-m", "j", "x"}).options.mode, gogo::ChannelMode::JointStereo);
}

TEST(GogoOptions, TheLaterOfQualityAndNoPsyWins)
{
	EXPECT_EQ(Parse({"-nopsy", "-q", "2", "x"}).options.EffectiveQuality(), 2);
	EXPECT_EQ(Parse({"-q", "2", "-nopsy", "x"}).options.EffectiveQuality(), 9);
	EXPECT_EQ(Parse({"-q", "0", "x"}).options.EffectiveQuality(), 0);
	const gogo::ParseResult vbr = Parse({"-v", "4", "-b", "64", "x"});
	ASSERT_EQ(vbr.action, gogo::ParseAction::Encode);
	EXPECT_EQ(vbr.options.vbrQuality, 4);
	EXPECT_EQ(vbr.options.bitrate, 64);
	EXPECT_FALSE(Parse({"-noreplaygain", "x"}).options.replayGain);
	// Repeated options: the last one counts.
	EXPECT_EQ(Parse({"-b", "64", "-b", "256", "x"}).options.bitrate, 256);
}

TEST(GogoOptions, OverwriteButNeverWithDelete)
{
	const gogo::ParseResult overwrite = Parse({"-overwrite", "-o", "out", "x.wav"});
	ASSERT_EQ(overwrite.action, gogo::ParseAction::Encode) << overwrite.error;
	EXPECT_TRUE(overwrite.options.overwrite);
	EXPECT_FALSE(overwrite.options.deleteInput);
	// -delete is handed the only copy of a recording: nothing is replaced
	// then, and asking for it is an error in either order.
	for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
			{"-overwrite", "-delete", "x.wav"}, {"-delete", "-b", "64", "-overwrite", "x.wav"}}) {
		const gogo::ParseResult both = Parse(arguments);
		EXPECT_EQ(both.action, gogo::ParseAction::Error);
		EXPECT_NE(both.error.find("-overwrite"), std::string::npos) << both.error;
		EXPECT_NE(both.error.find("-delete"), std::string::npos) << both.error;
		EXPECT_EQ(both.error.find('\n'), std::string::npos);
	}
	EXPECT_NE(gogo::UsageText().find("-overwrite"), std::string::npos);
}

TEST(GogoOptions, BadBitRates)
{
	for (const char* bad : {"100", "0", "-128", "128k", "abc", " 128", "128 ", "99999999999",
			"1e2", "320.0", "8"}) {
		const gogo::ParseResult result = Parse({"-b", bad, "x.wav"});
		EXPECT_EQ(result.action, gogo::ParseAction::Error) << bad;
		EXPECT_NE(result.error.find("bit rate"), std::string::npos) << result.error;
	}
}

TEST(GogoOptions, BadModesAndQualities)
{
	for (const char* bad : {"x", "mono", "", "M", "j ", "d"})
		EXPECT_EQ(Parse({"-m", bad, "x.wav"}).action, gogo::ParseAction::Error) << bad;
	for (const char* bad : {"10", "-1", "a", "", "3.5"}) {
		EXPECT_EQ(Parse({"-q", bad, "x.wav"}).action, gogo::ParseAction::Error) << bad;
		EXPECT_EQ(Parse({"-v", bad, "x.wav"}).action, gogo::ParseAction::Error) << bad;
	}
	EXPECT_EQ(Parse({"-o", "", "x.wav"}).action, gogo::ParseAction::Error);
}

TEST(GogoOptions, TagFieldsAndNoTag)
{
	const gogo::ParseResult set = Parse({"-title", "A \xe9 song", "-track", "3/12", "-year",
		"2024-05-01", "-title", "Later", "-notag", "x.wav"});
	ASSERT_EQ(set.action, gogo::ParseAction::Encode) << set.error;
	EXPECT_EQ(set.options.tags[static_cast<size_t>(gogo::TagField::Title)], "Later");
	EXPECT_EQ(set.options.tags[static_cast<size_t>(gogo::TagField::Track)], "3/12");
	EXPECT_EQ(set.options.tags[static_cast<size_t>(gogo::TagField::Year)], "2024-05-01");
	EXPECT_TRUE(set.options.noTag);
	for (const auto& [option, bad] : std::vector<std::pair<const char*, const char*>>{
			{"-year", "May 2024"}, {"-year", "24"}, {"-year", "2024-5-1"}, {"-track", "0"},
			{"-track", "3/"}, {"-track", "/12"}, {"-track", "three"}, {"-track", "12345"}}) {
		const gogo::ParseResult result = Parse({option, bad, "x.wav"});
		EXPECT_EQ(result.action, gogo::ParseAction::Error) << option << " " << bad;
		EXPECT_NE(result.error.find(option), std::string::npos) << result.error;
	}
}

TEST(GogoOptions, MissingValues)
{
	// The value would be the input, which is always last.
	for (const char* option : {"-b", "-m", "-o", "-q", "-v"}) {
		const gogo::ParseResult result = Parse({option, "x.wav"});
		EXPECT_EQ(result.action, gogo::ParseAction::Error) << option;
		EXPECT_NE(result.error.find("needs a value"), std::string::npos) << result.error;
		EXPECT_EQ(Parse({"x.wav", option}).action, gogo::ParseAction::Error) << option;
		EXPECT_EQ(Parse({option}).action, gogo::ParseAction::Error) << option;
	}
}

TEST(GogoOptions, TheInputMustBeLast)
{
	const gogo::ParseResult stray = Parse({"x.wav", "-b", "128", "y.wav"});
	EXPECT_EQ(stray.action, gogo::ParseAction::Error);
	EXPECT_NE(stray.error.find("last argument"), std::string::npos) << stray.error;
	EXPECT_EQ(Parse({"a.wav", "b.wav"}).action, gogo::ParseAction::Error);
	EXPECT_EQ(Parse({"-b", "128", "-delete"}).action, gogo::ParseAction::Error);
	EXPECT_EQ(Parse({}).action, gogo::ParseAction::Error);
	EXPECT_EQ(Parse({""}).action, gogo::ParseAction::Error);
	// A name that starts with '-' needs "--" (or ./).
	EXPECT_EQ(Parse({"-weird.wav"}).action, gogo::ParseAction::Error);
	const gogo::ParseResult dashed = Parse({"-b", "64", "--", "-weird.wav"});
	ASSERT_EQ(dashed.action, gogo::ParseAction::Encode) << dashed.error;
	EXPECT_EQ(dashed.options.input, "-weird.wav");
	EXPECT_EQ(Parse({"--", "a", "b"}).action, gogo::ParseAction::Error);
	// An option's value may look like anything, "-h" included.
	const gogo::ParseResult odd = Parse({"-o", "-h", "x.wav"});
	ASSERT_EQ(odd.action, gogo::ParseAction::Encode) << odd.error;
	EXPECT_EQ(odd.options.outputDirectory, "-h");
}

TEST(GogoOptions, UnknownOptionsAreErrors)
{
	for (const char* unknown : {"-x", "--bitrate", "-B", "-deletee", "-", "-b128", "-nopsy=1"}) {
		const gogo::ParseResult result = Parse({unknown, "x.wav"});
		EXPECT_EQ(result.action, gogo::ParseAction::Error) << unknown;
		EXPECT_EQ(result.error.find('\n'), std::string::npos);
	}
	const gogo::ParseResult result = Parse({"-frobnicate", "x.wav"});
	EXPECT_NE(result.error.find("-frobnicate"), std::string::npos) << result.error;
	// Control bytes in the offending argument do not break the line.
	for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
			{"-a\nb\rc", "x.wav"}, {"-\nx"}, {"-b", "1\n", "x"}, {"-m", "\r", "x"},
			{"x\ny", "x"}, {"--", "a\n", "b"}}) {
		const gogo::ParseResult control = Parse(arguments);
		EXPECT_EQ(control.action, gogo::ParseAction::Error);
		EXPECT_EQ(control.error.find('\n'), std::string::npos) << control.error;
		EXPECT_EQ(control.error.find('\r'), std::string::npos) << control.error;
	}
}

TEST(GogoOptions, HelpAndVersion)
{
	EXPECT_EQ(Parse({"-h"}).action, gogo::ParseAction::Help);
	EXPECT_EQ(Parse({"--help"}).action, gogo::ParseAction::Help);
	EXPECT_EQ(Parse({"-b", "128", "--help", "x.wav"}).action, gogo::ParseAction::Help);
	EXPECT_EQ(Parse({"--version"}).action, gogo::ParseAction::Version);
	EXPECT_NE(gogo::UsageText().find("usage: gogo"), std::string::npos);
	EXPECT_NE(gogo::UsageText().find("-nopsy"), std::string::npos);
}

TEST(GogoOptions, ArgvWithNullEntries)
{
	const char* argv[] = {"gogo", "-b", nullptr, "x.wav", nullptr};
	EXPECT_EQ(gogo::ParseArguments(4, argv).action, gogo::ParseAction::Error);
	const char* good[] = {"gogo", "-m", "m", "x.wav", nullptr};
	const gogo::ParseResult result = gogo::ParseArguments(4, good);
	ASSERT_EQ(result.action, gogo::ParseAction::Encode);
	EXPECT_EQ(result.options.mode, gogo::ChannelMode::Mono);
	EXPECT_EQ(gogo::ParseArguments(0, nullptr).action, gogo::ParseAction::Error);
	EXPECT_EQ(gogo::ParseArguments(1, argv).action, gogo::ParseAction::Error);
}

TEST(GogoOptions, SurvivesRandomArguments)
{
	const std::vector<std::string> words = {"-b", "-m", "-o", "-q", "-v", "-nopsy", "-delete",
		"-overwrite", "-silent", "-noreplaygain", "-h", "--help", "--version", "--", "-", "", "128", "320", "m",
		"s", "j", "9", "x.wav", std::string("a\0b", 3), "\xff\xfe", "-b128", "/tmp/x y"};
	std::mt19937 random(12345);
	for (int round = 0; round < 20000; round++) {
		std::vector<std::string> arguments(random() % 8);
		for (std::string& argument : arguments) {
			if (random() % 4 == 0) {
				argument.resize(random() % 12);
				for (char& c : argument)
					c = static_cast<char>(random() % 256);
				if (!argument.empty() && random() % 2 == 0)
					argument[0] = '-';
			} else {
				argument = words[random() % words.size()];
			}
		}
		const gogo::ParseResult result = Parse(arguments);
		if (result.action == gogo::ParseAction::Error) {
			ASSERT_FALSE(result.error.empty());
			ASSERT_EQ(result.error.find('\n'), std::string::npos);
		} else if (result.action == gogo::ParseAction::Encode) {
			ASSERT_FALSE(result.options.input.empty());
			const auto last = std::find_if(arguments.rbegin(), arguments.rend(),
				[](const std::string& argument) { return !argument.empty(); });
			ASSERT_EQ(result.options.input, *last);
			ASSERT_EQ(result.options.input.find('\0'), std::string::npos);
			ASSERT_FALSE(result.options.overwrite && result.options.deleteInput);
		}
	}
}

// ---- naming ------------------------------------------------------------------------

TEST(GogoNaming, OutputFileNames)
{
	EXPECT_EQ(gogo::OutputFileName("song.wav"), "song.mp3");
	EXPECT_EQ(gogo::OutputFileName("song.WAV"), "song.mp3");
	EXPECT_EQ(gogo::OutputFileName("a.b.flac"), "a.b.mp3");
	EXPECT_EQ(gogo::OutputFileName("noext"), "noext.mp3");
	EXPECT_EQ(gogo::OutputFileName(".hidden"), ".hidden.mp3");
	EXPECT_EQ(gogo::OutputFileName("trailing."), "trailing.mp3");
	EXPECT_EQ(gogo::OutputFileName("with space.aiff"), "with space.mp3");
}

TEST(GogoNaming, PathsSplitAndJoin)
{
	std::string directory, name;
	gogo::SplitPath("a/b/c.wav", directory, name);
	EXPECT_EQ(directory, "a/b");
	EXPECT_EQ(name, "c.wav");
	gogo::SplitPath("c.wav", directory, name);
	EXPECT_EQ(directory, "");
	EXPECT_EQ(name, "c.wav");
	gogo::SplitPath("/c.wav", directory, name);
	EXPECT_EQ(directory, "/");
	EXPECT_EQ(name, "c.wav");
	gogo::SplitPath("a//c.wav", directory, name);
	EXPECT_EQ(directory, "a");
	gogo::SplitPath("a/", directory, name);
	EXPECT_EQ(directory, "a");
	EXPECT_EQ(name, "");

	gogo::Options options;
	options.input = "/music/in/song.wav";
	EXPECT_EQ(gogo::OutputPath(options), "/music/in/song.mp3");
	options.hasOutputDirectory = true;
	options.outputDirectory = "/music/out dir";
	EXPECT_EQ(gogo::OutputPath(options), "/music/out dir/song.mp3");
	options.outputDirectory = "/music/out/";
	EXPECT_EQ(gogo::OutputPath(options), "/music/out/song.mp3");
	options.hasOutputDirectory = false;
	options.input = "song";
	EXPECT_EQ(gogo::OutputPath(options), "song.mp3");
}

TEST(GogoNaming, QuotePathKeepsOneLine)
{
	EXPECT_EQ(gogo::QuotePath("a b\"c;d"), "'a b\"c;d'");
	EXPECT_EQ(gogo::QuotePath("a\nb\tc"), "'a\\x0ab\\x09c'");
	EXPECT_EQ(gogo::QuotePath("\xff"), "'\xff'");
}

} // namespace
