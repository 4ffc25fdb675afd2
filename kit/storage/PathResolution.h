// Kit-private: turning the paths that callers pass into the absolute,
// normalised paths that entries and paths keep. Paths are byte strings (no
// encoding assumed); only the kernel's own limits bound their length.
#pragma once

#include <SupportDefs.h>

#include <string>
#include <string_view>

namespace BPrivate {

// The path made absolute against the working directory, with empty and "."
// components and trailing slashes dropped. ".." is kept: only the file
// system can say where it leads when links are involved.
status_t make_absolute(std::string_view path, std::string* absolute);

// Joins a directory and a leaf without doubling the slash.
std::string join_path(const std::string& directory, std::string_view leaf);

// The canonical path of an existing directory or file: all links and ".."
// resolved.
status_t canonical_path(const std::string& path, std::string* canonical);

// The path of an entry: the directory part resolved through the file system
// (it must exist), the leaf kept as given unless it is "." or "..". With
// traverse, a chain of symbolic links at the leaf is followed to its end;
// the end need not exist as long as its directory does.
status_t resolve_entry_path(std::string_view path, bool traverse, std::string* resolved);

// True when the path is absolute and contains no "//", "." or ".." component
// and no trailing slash: such a path needs no normalisation.
bool is_normalized(std::string_view path);

} // namespace BPrivate
