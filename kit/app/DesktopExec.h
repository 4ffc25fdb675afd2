// Kit-private: the Exec key of a freedesktop desktop entry, as the roster
// uses it to start the preferred application of a type: the value (read by
// desktop_entry_exec, FreedesktopFormats.h) split into arguments, and the
// field codes (%f, %F, ...) expanded for the files being opened. Pure
// functions, so that they can be tested and fuzzed alone.
#pragma once

#include <string>
#include <vector>

namespace BPrivate {

struct ExecArgument {
	std::string text;
	bool quoted = false; // written in double quotes: field codes other than %% stay as they are
};

// Splits an Exec value into arguments: blanks separate, double quotes group,
// and inside quotes a backslash escapes ", `, $ and itself. Appends to *out;
// false for an unterminated quote or when there is no argument at all.
bool SplitExec(const std::string& exec, std::vector<ExecArgument>* out);

// Expands the field codes for one start of the program: %f/%u take `single`
// (when there is one), %F/%U take every file, %% is a percent sign, other
// codes are dropped. In a quoted argument only %% is undone.
std::vector<std::string> ExpandExec(const std::vector<ExecArgument>& exec,
	const std::vector<std::string>& files, const std::string* single);

} // namespace BPrivate
