// The file operations the encoder is built from: descriptors, directories
// walked one component at a time, complete writes, temporary names.
#pragma once

#include "UniqueFd.h"

#include <cerrno>
#include <cstddef>
#include <string>

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace gogo {

std::string ErrnoText(int error);


// Opens a directory by walking its path one component at a time, so that
// any length works; with create, missing components are made (mkdir -p),
// each new one's entry synced in its parent, and syncError gets the first
// error of those syncs (or stays 0). Returns the descriptor, or -1 with
// errno set.
int OpenDirectory(const std::string& path, bool create, int* syncError = nullptr);

// Writes all of data, at the file's position or, with an offset, there.
bool WriteAll(int fd, const unsigned char* data, size_t size, int& error, off_t offset = -1);

// Six characters for a temporary name, different in each call.
std::string RandomSuffix();

bool SameFile(const struct stat& a, const struct stat& b);

// The errors of a call that the file system does not support, as opposed
// to one that failed.
bool RenameFlagsUnsupported(int error);
bool HardLinksUnsupported(int error);

} // namespace gogo
