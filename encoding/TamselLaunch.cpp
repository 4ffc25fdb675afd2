#include "TamselLaunch.h"

#include <Roster.h>

std::vector<std::string> SplitArguments(const std::string& text)
{
	std::vector<std::string> words;
	if (text.empty())
		return words;

	std::string word;
	bool quoted = false;
	for (char c : text) {
		if (c == '"') {
			quoted = !quoted;
		} else if (c == ' ' && !quoted) {
			// Every separator ends a word, even an empty one: the encoder
			// sees exactly what the user typed between the spaces.
			words.push_back(std::move(word));
			word.clear();
		} else {
			word.push_back(c);
		}
	}
	words.push_back(std::move(word));
	return words;
}

status_t TamselLaunch(const entry_ref* executable, const std::vector<std::string>& words,
	const std::string& path, team_id* team)
{
	return TamselLaunch(executable, words, path, {}, team);
}

status_t TamselLaunch(const entry_ref* executable, const std::vector<std::string>& words,
	const std::string& path, const std::vector<std::string>& wordsAfter, team_id* team)
{
	if (executable == nullptr)
		return B_BAD_VALUE;

	// The pointers borrow from the callers' strings, which outlive Launch.
	std::vector<const char*> argv;
	argv.reserve(words.size() + 1 + wordsAfter.size() + 1);
	for (const std::string& word : words)
		argv.push_back(word.c_str());
	argv.push_back(path.c_str());
	for (const std::string& word : wordsAfter)
		argv.push_back(word.c_str());
	int argc = int(argv.size());
	argv.push_back(nullptr);

	return be_roster->Launch(executable, argc, argv.data(), team);
}
