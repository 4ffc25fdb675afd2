// The text of a tag field, from bytes that declare no encoding (RIFF INFO,
// AIFF text chunks, bext, the command line): valid UTF-8 is taken as UTF-8,
// anything else as Latin-1. The result is always valid UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace gogo {

// What a C string holds ends at its first NUL; trailing spaces and line
// ends are dropped too.
std::string TextFromBytes(std::string_view bytes);

// Whether bytes are well-formed UTF-8 (no overlong forms, no surrogates,
// nothing past U+10FFFF).
bool IsUtf8(std::string_view bytes);

// A date and time as ID3v2.4 takes it: yyyy, yyyy-MM, yyyy-MM-dd,
// yyyy-MM-ddTHH, yyyy-MM-ddTHH:mm or yyyy-MM-ddTHH:mm:ss.
bool IsTimestamp(std::string_view text);

} // namespace gogo
