// Kit-private: which desktop entry the desktop prefers for a MIME type, as
// `xdg-mime query default` tells, and where that entry lies.
#pragma once

#include <string>

namespace BPrivate {

// The desktop entry id for the type, or empty. Gives up after a while, so
// that a hung helper cannot hang the caller.
std::string QueryDefaultApplication(const std::string& mimeType);

// The path of the desktop entry with the id in the XDG data directories, or
// empty.
std::string FindDesktopFile(const std::string& id);

} // namespace BPrivate
