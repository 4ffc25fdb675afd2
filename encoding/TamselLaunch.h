// Starting the encoder: the options text split into words, the input path
// appended as one word of its own.
#pragma once

#include <Entry.h>

#include <string>
#include <vector>

// Splits an options text at spaces; a double quote switches grouping on and
// off and is removed. Two spaces in a row give an empty word, as does a
// trailing unquoted space; an empty text gives no words.
std::vector<std::string> SplitArguments(const std::string& text);

// Launches the encoder with the words and then the path, byte for byte.
status_t TamselLaunch(const entry_ref* executable, const std::vector<std::string>& words,
	const std::string& path, team_id* team);
// The same, with words that go after the path (the after-options).
status_t TamselLaunch(const entry_ref* executable, const std::vector<std::string>& words,
	const std::string& path, const std::vector<std::string>& wordsAfter, team_id* team);
