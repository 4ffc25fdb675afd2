// How an options text becomes the encoder's words, and the launch that
// puts the input path after them.

#include "ProgramHarness.h"

#include <TamselLaunch.h>

#include <Roster.h>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace testing_support;

namespace {

using Words = std::vector<std::string>;

TEST(SplitArguments, SpacesSeparateWords)
{
	EXPECT_EQ(SplitArguments(""), Words{});
	EXPECT_EQ(SplitArguments("-b"), Words{"-b"});
	EXPECT_EQ(SplitArguments("-b 192 -m j"), (Words{"-b", "192", "-m", "j"}));
}

TEST(SplitArguments, EverySpaceEndsAWordEvenAnEmptyOne)
{
	EXPECT_EQ(SplitArguments("a  b"), (Words{"a", "", "b"}));
	EXPECT_EQ(SplitArguments("a "), (Words{"a", ""}));
	EXPECT_EQ(SplitArguments(" a"), (Words{"", "a"}));
	EXPECT_EQ(SplitArguments(" "), (Words{"", ""}));
	EXPECT_EQ(SplitArguments("  -q 2 "), (Words{"", "", "-q", "2", ""}));
}

TEST(SplitArguments, OnlyTheSpaceByteSeparates)
{
	EXPECT_EQ(SplitArguments("a\tb"), Words{"a\tb"});
	EXPECT_EQ(SplitArguments("a\nb c"), (Words{"a\nb", "c"}));
	EXPECT_EQ(SplitArguments("caf\xc3\xa9 x"), (Words{"caf\xc3\xa9", "x"}));
}

TEST(SplitArguments, QuotesGroupAndAreRemoved)
{
	EXPECT_EQ(SplitArguments("-o \"/my dir\""), (Words{"-o", "/my dir"}));
	EXPECT_EQ(SplitArguments("a\"b c\"d e"), (Words{"ab cd", "e"}));
	EXPECT_EQ(SplitArguments("\"\""), Words{""});
	EXPECT_EQ(SplitArguments("\"\" x"), (Words{"", "x"}));
	EXPECT_EQ(SplitArguments("\"a\"\" b\""), Words{"a b"});
	EXPECT_EQ(SplitArguments("\"  \""), Words{"  "});
}

TEST(SplitArguments, AnUnclosedQuoteLastsToTheEnd)
{
	EXPECT_EQ(SplitArguments("x \"a b  "), (Words{"x", "a b  "}));
	EXPECT_EQ(SplitArguments("\""), Words{""});
}

TEST(SplitArguments, LongTextsAndManyWords)
{
	std::string text;
	Words expected;
	for (int i = 0; i < 5000; i++) {
		expected.push_back(std::string(size_t(i % 300), char('a' + i % 26)));
		text += expected.back() + " ";
	}
	text.pop_back();
	EXPECT_EQ(SplitArguments(text), expected);
}

// ---- the launch -------------------------------------------------------------

class TamselLaunchTest : public ::testing::Test {
protected:
	void SetUp() override
	{
		// Writes each argument followed by a NUL.
		ASSERT_TRUE(WriteFile(fScript,
			"#!/bin/sh\nfor a; do printf '%s\\0' \"$a\"; done > '" + fLog + ".part' && mv '"
			+ fLog + ".part' '" + fLog + "'\n"));
		chmod(fScript.c_str(), 0755);
		ASSERT_EQ(get_ref_for_path(fScript.c_str(), &fRef), B_OK);
	}

	Words Received()
	{
		Words words;
		const std::string log = ReadFile(fLog);
		size_t start = 0;
		for (size_t end; (end = log.find('\0', start)) != std::string::npos; start = end + 1)
			words.push_back(log.substr(start, end - start));
		return words;
	}

	bool WaitForLog()
	{
		return WaitUntil([&] { return !ReadFile(fLog).empty(); });
	}

	TempDir fDir;
	std::string fScript = fDir / "encoder";
	std::string fLog = fDir / "log";
	entry_ref fRef;
};

TEST_F(TamselLaunchTest, ThePathFollowsTheWordsByteForByte)
{
	const std::string path = "/a dir/\"quoted\"\t name .wav";
	team_id team = -1;
	ASSERT_EQ(TamselLaunch(&fRef, {"-b", "", "two words"}, path, &team), B_OK);
	EXPECT_GT(team, 0);
	ASSERT_TRUE(WaitForLog());
	EXPECT_EQ(Received(), (Words{"-b", "", "two words", path}));
}

TEST_F(TamselLaunchTest, WordsAfterThePathComeLast)
{
	ASSERT_EQ(TamselLaunch(&fRef, {}, "in.wav", {"-after", "x y"}, nullptr), B_OK);
	ASSERT_TRUE(WaitForLog());
	EXPECT_EQ(Received(), (Words{"in.wav", "-after", "x y"}));
}

TEST_F(TamselLaunchTest, ManyWordsGoThrough)
{
	Words words;
	for (int i = 0; i < 3000; i++)
		words.push_back("w" + std::to_string(i));
	ASSERT_EQ(TamselLaunch(&fRef, words, "last", nullptr), B_OK);
	ASSERT_TRUE(WaitForLog());
	words.push_back("last");
	EXPECT_EQ(Received(), words);
}

TEST_F(TamselLaunchTest, AnExecutableThatCannotStartIsAnError)
{
	chmod(fScript.c_str(), 0644);
	team_id team = -1;
	EXPECT_NE(TamselLaunch(&fRef, {"x"}, "in.wav", &team), B_OK);
	EXPECT_NE(TamselLaunch(nullptr, {"x"}, "in.wav", &team), B_OK);
}

} // namespace
