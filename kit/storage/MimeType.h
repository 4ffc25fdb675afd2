// BMimeType: a type in the file-type database, here the freedesktop shared
// MIME database of the user ($XDG_DATA_HOME/mime), the hicolor icon theme and
// the default applications in $XDG_CONFIG_HOME/mimeapps.list. Nothing outside
// the user's own directories is ever written.
#pragma once

#include <Bitmap.h>
#include <Message.h>

#include <string>
#include <vector>

enum app_verb : int32 {
	B_OPEN = 0,
};

class BMimeType {
public:
	BMimeType() = default;
	explicit BMimeType(const char* type);
	// B_BAD_VALUE for a string that is no valid MIME type.
	status_t SetTo(const char* type);
	status_t InitCheck() const { return fInit; }
	const char* Type() const { return fType.c_str(); }

	// "supertype/subtype" or a supertype alone, shorter than
	// B_MIME_TYPE_LENGTH, of printable ASCII without the separators of
	// RFC 2045.
	static bool IsValid(const char* type);

	// True when the user's or a system database (the compiled "types" files
	// of $XDG_DATA_HOME and $XDG_DATA_DIRS) knows the type.
	bool IsInstalled() const;
	// Writes the package file, icons and desktop entry collected by the
	// setters below and updates the user's database (update-mime-database).
	// B_OK when the type was added; B_FILE_EXISTS when it was installed
	// already (nothing is changed then); another error when the package or
	// the database update failed, in which case nothing is left behind.
	// The icons and the preferred application are written as far as they
	// can be: their failure does not fail the installation.
	status_t Install();
	// Removes what Install wrote and updates the user's database. B_OK when
	// the type is gone; B_ENTRY_NOT_FOUND when it was not installed;
	// B_NOT_ALLOWED when a system database (or another package) holds it.
	status_t Delete();

	// Recorded here and written by Install. On a type that is installed
	// already they change nothing in the database.
	status_t SetShortDescription(const char* description);
	status_t SetLongDescription(const char* description);
	// The application, by signature: Install makes it the type's default
	// application. When the signature is the running application's own, a
	// desktop entry for it is written; otherwise an existing desktop entry
	// named after the signature is referred to.
	status_t SetPreferredApp(const char* signature, app_verb verb = B_OPEN);
	status_t SetFileExtensions(const BMessage* extensions); // "extensions" strings
	// A B_CMAP8 bitmap of 32x32 (B_LARGE_ICON) or 16x16 (B_MINI_ICON).
	status_t SetIcon(const BBitmap* icon, icon_size which);

	// The recorded value, else what the database holds.
	status_t GetShortDescription(char* description) const; // B_MIME_TYPE_LENGTH
	status_t GetPreferredApp(char* signature, app_verb verb = B_OPEN) const;

private:
	std::string fType;
	status_t fInit = B_NO_INIT;
	std::string fShort;
	std::string fLong;
	std::string fPreferredApp;
	std::vector<std::string> fExtensions;
	std::vector<uint8> fLargeIcon;
	std::vector<uint8> fMiniIcon;
};
