// Kit-private: what the MIME database and the preferred-application entries
// both write under the data home: file names of types, icons, and the
// desktop database refresh.
#pragma once

#include <SupportDefs.h>

#include <chrono>
#include <string>
#include <vector>

namespace BPrivate {

// update-mime-database takes milliseconds on a user's database; a helper
// that hangs must not hang the caller with it.
constexpr std::chrono::milliseconds kHelperLimit = std::chrono::seconds(20);

// The key by which the kit's own desktop entries say which application
// signature they stand for.
constexpr char kSignatureKey[] = "X-Tamsel-Signature";

// The freedesktop name of a type or signature: "/" becomes "-"
// ("text/x-list" is the package "text-x-list.xml" and the icon "text-x-list").
std::string flat_name(const std::string& type);
std::string lower_case(std::string text);

std::string icon_directory(const std::string& dataHome, int32 side, const char* context);
// A CMAP8 icon of side x side pixels as a PNG in the hicolor theme.
status_t write_icon(const std::string& dataHome, const char* context, const std::string& name,
	const std::vector<uint8>& pixels, int32 side);
// Removes both sizes of an icon, and a size's context folder that it leaves
// empty.
void remove_icons(const std::string& dataHome, const char* context, const std::string& name);

// Only refreshes the "open with" cache; desktops that lack the helper read
// the entries themselves.
void update_desktop_database(const std::string& dataHome);

} // namespace BPrivate
