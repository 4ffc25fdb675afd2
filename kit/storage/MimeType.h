// BMimeType: a type in the file-type database, here the freedesktop shared
// MIME database of the user ($XDG_DATA_HOME/mime), the hicolor icon theme and
// the default applications in $XDG_CONFIG_HOME/mimeapps.list.
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
	status_t SetTo(const char* type);
	status_t InitCheck() const { return fInit; }
	const char* Type() const { return fType.c_str(); }

	// True when the user's or the system's database knows the type.
	bool IsInstalled() const;
	// Writes the package file, icons and desktop entry collected by the
	// setters below and updates the user's database.
	status_t Install();
	// Removes what Install wrote; a type that only the system holds cannot
	// be deleted (an error).
	status_t Delete();

	// Recorded and written by Install (or at once, for an installed type).
	status_t SetShortDescription(const char* description);
	status_t SetLongDescription(const char* description);
	status_t SetPreferredApp(const char* signature, app_verb verb = B_OPEN);
	status_t SetFileExtensions(const BMessage* extensions); // "extensions" strings
	status_t SetIcon(const BBitmap* icon, icon_size which);

	status_t GetShortDescription(char* description) const;
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
