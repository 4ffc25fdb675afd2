// Kit-private: the freedesktop base directories of the user and small file
// helpers for what the kit keeps there (files are written with
// write_file_atomically, AtomicFile.h).
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

// The kit's own files (mimeapps.list, desktop entries, the MIME database's
// files) are small; one larger than this is not read, so that a broken or
// hostile one cannot take the memory.
inline constexpr size_t kMaxKitFileSize = 16 * 1024 * 1024;

// Creates a directory and its missing parents.
status_t make_directories(const std::string& path, mode_t mode = 0755);
// The whole file, up to `limit` bytes: B_ENTRY_NOT_FOUND when there is none,
// B_BUFFER_OVERFLOW when it is longer. A file that is there but cannot be
// read is not to be written over as if it were empty.
status_t read_file(const std::string& path, std::string* contents,
	size_t limit = kMaxKitFileSize);
// The same, true only for a file read whole.
bool read_whole_file(const std::string& path, std::string* contents);
// Removes a file; a missing file is not an error.
status_t remove_file(const std::string& path);
bool file_exists(const std::string& path);

} // namespace BPrivate
