// Output names and paths of the encoder, and paths quoted for its messages.
#pragma once

#include "GogoOptions.h"
#include "PathSplit.h"

#include <string>

namespace gogo {

// The directory part and the last component of a path (kit/support's
// split, the same for the front end): "a/b/c.wav" gives "a/b" and "c.wav";
// "c.wav" gives "" and "c.wav"; "/c.wav" gives "/" and "c.wav"; "a/" gives
// "a" and "".
using ::SplitPath;

// directory and name joined with one slash ("" and "x" give "x").
std::string JoinPath(const std::string& directory, const std::string& name);

// The output file name for an input file name: its extension replaced by
// ".mp3" ("x.wav" -> "x.mp3", "x.y.flac" -> "x.y.mp3"), or ".mp3" appended
// when it has none ("x" -> "x.mp3", ".hidden" -> ".hidden.mp3").
std::string OutputFileName(const std::string& inputName);

// The path of the MP3 that EncodeFile(options) writes.
std::string OutputPath(const Options& options);

// Quotes a path for a message: control bytes escaped as \xNN so that the
// message stays one line; other bytes (spaces, quotes, non-UTF-8) kept.
std::string QuotePath(const std::string& path);

} // namespace gogo
