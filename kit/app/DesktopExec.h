// Kit-private: the Exec key of a freedesktop desktop entry, as the roster
// reads it to start the preferred application of a type: the raw value read
// from the entry, split into arguments, and the field codes (%f, %F, ...)
// expanded for the files being opened. Pure functions apart from the file
// read, so that they can be tested and fuzzed alone.
#pragma once

#include <istream>
#include <string>
#include <vector>

namespace BPrivate {

// The raw value of Exec in the [Desktop Entry] group, string escapes undone.
// False when the file cannot be read or has no Exec there.
bool ReadExecLine(const std::string& path, std::string* exec);
// The same, from the entry's text.
bool ReadExecLine(std::istream& entry, std::string* exec);

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
