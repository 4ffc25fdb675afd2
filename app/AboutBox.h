// The About box's text, kept apart so that it can be checked line by line.
#pragma once

#include <string>

extern const char* const kAuthorWebAddress;

// The build line: "Compiled " and the build's month, day, year and time,
// separated by single spaces.
std::string BuildLine(const char* compilerDate, const char* compilerTime);
// The whole text of the box.
std::string AboutText();
