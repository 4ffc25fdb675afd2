// The application's resources: its identity and icons, in the executable's
// ".tamsel_rsrc" section, where BAppFileInfo finds them.
#include <AppDefs.h>
#include <AppFileInfo.h>
#include <GraphicsDefs.h>
#include <ResourceFormat.h>

#include <array>
#include <string_view>

namespace {

// The icon is drawn below as text, one character per pixel: a sound wave
// that runs into a musical note.
constexpr uint8 art_colour(char c)
{
	switch (c) {
		case '.': return B_TRANSPARENT_MAGIC_CMAP8;
		case 'K': return cmap8_cube_index(0, 0, 0); // outline
		case 'B': return cmap8_cube_index(0, 1, 4); // the note's stem and flag
		case 'b': return cmap8_cube_index(1, 3, 5); // the wave
		case 'O': return cmap8_cube_index(5, 2, 0); // the note's head
		case 'Y': return cmap8_cube_index(5, 4, 0); // its highlight
	}
	throw "unknown colour in the icon art";
}

template <size_t Side>
constexpr std::array<uint8, Side * Side> icon_from_art(const std::array<std::string_view, Side>& rows)
{
	std::array<uint8, Side * Side> pixels{};
	for (size_t y = 0; y < Side; y++) {
		if (rows[y].size() != Side)
			throw "icon art row of the wrong width";
		for (size_t x = 0; x < Side; x++)
			pixels[y * Side + x] = art_colour(rows[y][x]);
	}
	return pixels;
}

constexpr std::array<std::string_view, 32> kLargeArt = {
	"................................",
	"................................",
	".......................KKK......",
	"......................KBBBK.....",
	".....................KBBBBBK....",
	".....................KBBBBBK....",
	".....................KBBBBBBK...",
	"..KKK................KBBBBBBK...",
	".KbbbK...............KBBBKBBBK..",
	"KbbbbbK..............KBBBKBBBK..",
	"bbbbbbbK.............KBBBKKBBBK.",
	"bbbKKbbbK............KBBBKKBBBK.",
	"bbK..KbbK............KBBBKKBBBK.",
	"bbK..KbbbK...........KBBBK.KBBK.",
	"KK....KbbK...........KBBBK..KK..",
	"......KbbbK.....K....KBBBK......",
	".......KbbK....KbK...KBBBK......",
	".......KbbbK..KbbK...KBBBK......",
	"........KbbbKKbbbK...KBBBK......",
	".........KbbbbbbKKKK.KBBBK......",
	"..........KbbbbKOOOOKKBBBK......",
	"...........KKKOOYYYOOOBBBK......",
	".............KOOYYYOOOOBBK......",
	".............KOOYYYOOOOOK.......",
	".............KOOOOOOOOOOK.......",
	"..............KOOOOOOOOOK.......",
	"...............KOOOOOOOOK.......",
	"................KKOOOOKK........",
	"..................KKKK..........",
	"................................",
	"................................",
	"................................",
};

constexpr std::array<std::string_view, 16> kMiniArt = {
	"................",
	"..........KK....",
	".........KBBK...",
	".........KBBBK..",
	".........KBKBBK.",
	".KK......KBKKBK.",
	"KbbK.....KBK.KK.",
	"bKKbK....KBK....",
	"K..KbK...KBK....",
	"....KbK..KBK....",
	".....KbKKKBK....",
	"....KKOYOOBK....",
	"...KOYYOOOBK....",
	"...KOOOOOOK.....",
	"....KOOOOK......",
	".....KKKK.......",
};

constexpr auto kLargeIcon = icon_from_art<32>(kLargeArt);
constexpr auto kMiniIcon = icon_from_art<16>(kMiniArt);

constexpr auto kBuild = [](auto& writer) {
	writer.Signature("application/x-vnd.TamselGogoFrontend");
	writer.AppFlags(B_MULTIPLE_LAUNCH);
	writer.AppVersion(1, 2, 97, B_FINAL_VERSION, 0, "Tamsel Gogo Frontend",
		"Simple GUI frontend for Gogo, the open source MP3 encoder.");
	writer.Type("application/x-vnd.Be-elfexecutable");
	writer.SupportedType("text/x-TamselGogoFronted-list");
	writer.LargeIcon(kLargeIcon);
	writer.MiniIcon(kMiniIcon);
};

TAMSEL_RESOURCE_SECTION(kAppResources, kBuild);

} // namespace
