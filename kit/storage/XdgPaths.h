// Kit-private: the freedesktop base directories of the user and small file
// helpers for what the kit writes there.
#pragma once

#include <SupportDefs.h>

#include <string>
#include <sys/types.h>
#include <vector>

namespace BPrivate {

// $XDG_DATA_HOME, or ~/.local/share. Empty when no home can be found.
std::string xdg_data_home();
// $XDG_CONFIG_HOME, or ~/.config.
std::string xdg_config_home();
// $XDG_DATA_DIRS, or /usr/local/share and /usr/share; relative entries are
// dropped, as the XDG base directory rules ask.
std::vector<std::string> xdg_data_dirs();

// Creates a directory and its missing parents.
status_t make_directories(const std::string& path, mode_t mode = 0755);
// Replaces a file's contents through a temporary file and a rename, so that
// a reader never sees half of it.
status_t write_file_atomically(const std::string& path, const std::string& contents,
	mode_t mode = 0644);
// The whole file; false when it cannot be read.
bool read_whole_file(const std::string& path, std::string* contents);
// Removes a file; a missing file is not an error.
status_t remove_file(const std::string& path);
bool file_exists(const std::string& path);

} // namespace BPrivate
