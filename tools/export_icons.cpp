// Install step: writes a program's two icons (from its resources) as PNG
// files of the hicolor icon theme, so that a desktop entry can name them.
//   export_icons PROGRAM ICON_THEME_DIR NAME
// writes ICON_THEME_DIR/32x32/apps/NAME.png and 16x16/apps/NAME.png.
#include <AppFileInfo.h>
#include <Bitmap.h>
#include <File.h>

#include "CMap8Png.h"
#include "XdgPaths.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
	if (argc != 4) {
		std::fprintf(stderr, "usage: export_icons PROGRAM ICON_THEME_DIR NAME\n");
		return 2;
	}
	BFile file(argv[1], B_READ_ONLY);
	BAppFileInfo info(&file);
	if (file.InitCheck() != B_OK || info.InitCheck() != B_OK) {
		std::fprintf(stderr, "export_icons: %s has no resources to read\n", argv[1]);
		return 1;
	}
	int status = 0;
	for (icon_size which : {B_LARGE_ICON, B_MINI_ICON}) {
		const int32 side = int32(which);
		BBitmap icon(BRect(0, 0, float(side) - 1, float(side) - 1), B_CMAP8);
		const std::string directory = std::string(argv[2]) + "/" + std::to_string(side) + "x"
			+ std::to_string(side) + "/apps";
		const std::string path = directory + "/" + argv[3] + ".png";
		if (info.GetIcon(&icon, which) != B_OK || BPrivate::make_directories(directory) != B_OK
			|| BPrivate::write_cmap8_png(path, static_cast<const uint8*>(icon.Bits()), side,
				   icon.BytesPerRow()) != B_OK) {
			std::fprintf(stderr, "export_icons: could not write %s\n", path.c_str());
			status = 1;
		}
	}
	return status;
}
