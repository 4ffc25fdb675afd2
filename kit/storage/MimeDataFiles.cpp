#include "MimeDataFiles.h"

#include "BoundedCommand.h"
#include "CMap8Png.h"
#include "XdgPaths.h"

#include <Bitmap.h>

#include <unistd.h>

namespace BPrivate {

std::string flat_name(const std::string& type)
{
	std::string name = type;
	for (char& c : name) {
		if (c == '/')
			c = '-';
	}
	return name;
}

std::string lower_case(std::string text)
{
	for (char& c : text) {
		if (c >= 'A' && c <= 'Z')
			c = char(c - 'A' + 'a');
	}
	return text;
}

std::string icon_directory(const std::string& dataHome, int32 side, const char* context)
{
	std::string size = std::to_string(side);
	return dataHome + "/icons/hicolor/" + size + "x" + size + "/" + context;
}

void update_desktop_database(const std::string& dataHome)
{
	// Only refreshes the "open with" cache; desktops that lack the helper
	// read the entries themselves.
	run_bounded({"update-desktop-database", dataHome + "/applications"}, kHelperLimit);
}

status_t write_icon(const std::string& dataHome, const char* context, const std::string& name,
	const std::vector<uint8>& pixels, int32 side)
{
	if (pixels.size() != size_t(side * side))
		return B_BAD_VALUE;
	std::string directory = icon_directory(dataHome, side, context);
	status_t status = make_directories(directory);
	if (status != B_OK)
		return status;
	return write_cmap8_png(directory + "/" + name + ".png", pixels.data(), side, side);
}

void remove_icons(const std::string& dataHome, const char* context, const std::string& name)
{
	for (int32 side : {int32(B_LARGE_ICON), int32(B_MINI_ICON)}) {
		const std::string directory = icon_directory(dataHome, side, context);
		remove_file(directory + "/" + name + ".png");
		rmdir(directory.c_str()); // only when nothing else is in it
	}
}

} // namespace BPrivate
