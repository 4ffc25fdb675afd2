// Kit-private: runs a helper program of the desktop (update-mime-database and
// the like) with an argument vector, never through a shell, its output
// discarded, and kills it when it takes longer than allowed.
#pragma once

#include <SupportDefs.h>

#include <chrono>
#include <string>
#include <vector>

namespace BPrivate {

// Runs argv[0] (looked up in $PATH) and waits for it. B_OK when it exited
// with status 0; B_ENTRY_NOT_FOUND when the program is not there; B_TIMED_OUT
// when it was killed at the deadline; B_ERROR when it failed or died.
status_t run_bounded(const std::vector<std::string>& argv, std::chrono::milliseconds limit);

} // namespace BPrivate
