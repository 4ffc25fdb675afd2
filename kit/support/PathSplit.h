// A path's directory and its last component, split one way for the kit and
// the bundled encoder alike. Header-only and free of the kit's types.
//
// The leaf is everything after the last slash (empty after a trailing one).
// The directory is everything before that slash, less the slashes that
// separate it from the leaf; a directory that is only slashes is the root:
//
//   "a/b/c.wav" -> "a/b", "c.wav"      "c.wav"    -> "",  "c.wav"
//   "/c.wav"    -> "/",   "c.wav"      "a/"       -> "a", ""
//   "a//c.wav"  -> "a",   "c.wav"      "/" , "//" -> "/", ""
//
// Nothing else is cleaned: "." and ".." are components like any other.
#pragma once

#include <string>
#include <string_view>
#include <utility>

struct DirectoryAndLeaf {
	std::string_view directory;
	std::string_view leaf;
};

// Both views point into `path`; the leaf runs to its end.
constexpr DirectoryAndLeaf SplitPathView(std::string_view path) noexcept
{
	const size_t slash = path.rfind('/');
	if (slash == std::string_view::npos)
		return {std::string_view(), path};
	size_t end = slash;
	while (end > 0 && path[end - 1] == '/')
		end--;
	return {end == 0 ? path.substr(0, 1) : path.substr(0, end), path.substr(slash + 1)};
}

inline void SplitPath(const std::string& path, std::string& directory, std::string& leaf)
{
	const DirectoryAndLeaf split = SplitPathView(path);
	// Copied before either is assigned: `path` may be `directory` or `leaf`.
	std::string newDirectory(split.directory);
	std::string newLeaf(split.leaf);
	directory = std::move(newDirectory);
	leaf = std::move(newLeaf);
}
