// libFuzzer target for SplitArguments. Besides not crashing, the words must
// account for every byte of the text, and quoting each word and joining
// them with spaces must split back into the same words.
//
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined \
//     -Iencoding -Ikit -Ikit/support -Ikit/storage \
//     fuzz/fuzz_split.cpp encoding/TamselLaunch.cpp -o fuzz_split \
//     build/libtamselkit_core.a
//   ./fuzz_split fuzz/corpus/split

#include "TamselLaunch.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

void Check(bool condition)
{
	if (!condition)
		__builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	const std::string text(reinterpret_cast<const char*>(data), size);
	const std::vector<std::string> words = SplitArguments(text);

	if (text.empty()) {
		Check(words.empty());
		return 0;
	}

	// One word more than there are separating (unquoted) spaces, and the
	// words hold every other byte but the quotes, in order.
	size_t separators = 0;
	std::string kept;
	bool quoted = false;
	for (char c : text) {
		if (c == '"')
			quoted = !quoted;
		else if (c == ' ' && !quoted)
			separators++;
		else
			kept.push_back(c);
	}
	Check(words.size() == separators + 1);
	std::string joined;
	for (const std::string& word : words) {
		Check(word.find('"') == std::string::npos);
		joined += word;
	}
	Check(joined == kept);

	std::string requoted;
	for (const std::string& word : words)
		requoted += "\"" + word + "\" ";
	requoted.pop_back();
	Check(SplitArguments(requoted) == words);
	return 0;
}
