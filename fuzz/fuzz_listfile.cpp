// Feeds arbitrary bytes to the list file reader. Besides not crashing, the
// reader must agree with itself: reading in pieces gives what reading the
// whole gives, and what it read, written and read again, is unchanged.

#include "ListFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	const std::string_view contents(reinterpret_cast<const char*>(data), size);
	const std::vector<std::string> paths = listfile::Parse(contents);

	for (const std::string& path : paths) {
		// A path never holds the line end or the NUL that ended it.
		if (path.find('\n') != std::string::npos || path.find('\0') != std::string::npos)
			std::abort();
	}

	// The piece size comes from the input so that every split gets tried.
	const size_t piece = size > 0 ? size_t(data[0]) % 17 + 1 : 1;
	listfile::Reader reader;
	for (size_t at = 0; at < size; at += piece)
		reader.Feed(contents.substr(at, piece));
	reader.Finish();
	if (reader.Paths() != paths)
		std::abort();

	if (listfile::Parse(listfile::Format(paths)) != paths)
		std::abort();
	return 0;
}
