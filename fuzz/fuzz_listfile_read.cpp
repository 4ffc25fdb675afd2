// The list reader on a real file, through the entry point the program opens
// a saved list with (listfile::Read on a path), directly and through a
// symbolic link. What it reads must be what the in-memory parser makes of the
// same bytes, within the bounds a list has; saving those paths (which also
// sets the list's MIME type) and reading the saved file again must give them
// back.

#include "FuzzTempDir.h"
#include "ListFile.h"

#include <MimeType.h>
#include <Node.h>
#include <NodeInfo.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace {

void Check(bool condition)
{
	if (!condition)
		__builtin_trap();
}

struct Files {
	std::string list;
	std::string link;
	std::string saved;
	bool attributes = false; // the file system keeps user attributes
};

const Files& TheFiles()
{
	static const Files files = [] {
		const std::string& dir = fuzzing::ProcessTempDir().Path();
		Files made;
		made.list = dir + "/input.tamsel-list";
		made.link = dir + "/link";
		made.saved = dir + "/saved.tamsel-list";
		Check(fuzzing::WriteFile(made.list, ""));
		Check(::symlink("input.tamsel-list", made.link.c_str()) == 0);
		made.attributes = ::setxattr(made.list.c_str(), "user.probe", "1", 1, 0) == 0;
		::removexattr(made.list.c_str(), "user.probe");

		// Neither a directory nor a FIFO is read (nor waited on).
		std::vector<std::string> none;
		Check(listfile::Read(dir.c_str(), &none) == listfile::ReadResult::kOpenError);
		const std::string fifo = dir + "/fifo";
		if (::mkfifo(fifo.c_str(), 0600) == 0) {
			Check(listfile::Read(fifo.c_str(), &none) == listfile::ReadResult::kOpenError);
			::unlink(fifo.c_str());
		}
		Check(listfile::Read((dir + "/missing").c_str(), &none)
			== listfile::ReadResult::kOpenError);
		return made;
	}();
	return files;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	const Files& files = TheFiles();
	const std::string_view input(reinterpret_cast<const char*>(data), size);
	// An input starting with '@' stands for itself repeated past the longest
	// line a list may hold, so that the bounds on lines and paths are met too.
	std::string contents(input);
	if (!input.empty() && input.front() == '@') {
		while (contents.size() <= listfile::kMaxLineLength + 1)
			contents += input;
	}
	Check(fuzzing::WriteFile(files.list, contents));
	const std::vector<std::string> expected = listfile::Parse(contents);

	std::vector<std::string> paths = {"left over from before"};
	Check(listfile::Read(files.list.c_str(), &paths) == listfile::ReadResult::kOk);
	Check(paths == expected);

	// As the Files tab reads it: each path handed over as it is found.
	std::vector<std::string> handed;
	Check(listfile::Read(files.link.c_str(), [&](std::string_view path) {
		Check(path.find('\n') == std::string_view::npos);
		Check(path.find('\0') == std::string_view::npos);
		Check(path.size() <= listfile::kMaxPathLength);
		handed.emplace_back(path);
	}) == listfile::ReadResult::kOk);
	Check(handed == expected);

	// Saved and opened again: the same paths, and the list's own type.
	Check(listfile::Write(files.saved.c_str(), paths) == listfile::WriteResult::kOk);
	std::vector<std::string> again;
	Check(listfile::Read(files.saved.c_str(), &again) == listfile::ReadResult::kOk);
	Check(again == paths);
	if (files.attributes) {
		BNode node(files.saved.c_str());
		BNodeInfo info(&node);
		char type[B_MIME_TYPE_LENGTH];
		Check(info.GetType(type) == B_OK && std::strcmp(type, listfile::kMimeType) == 0);
	}
	::unlink(files.saved.c_str());
	return 0;
}
