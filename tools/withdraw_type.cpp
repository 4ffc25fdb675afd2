// Uninstall step: withdraws a type that an installed application put into
// the user's home for itself, as its desktop entry goes.
//   withdraw_type TYPE DESKTOP_ID
// The entry leaves the type's default applications in mimeapps.list, and
// every other application's defaults stay. The type itself (its MIME
// package and icons, the database updated) goes as the application deletes
// it, unless another application is still a default of it: then the type is
// that one's too and stays.
#include <MimeType.h>

#include "PreferredApp.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
	if (argc != 3) {
		std::fprintf(stderr, "usage: withdraw_type TYPE DESKTOP_ID\n");
		return 2;
	}
	BMimeType type(argv[1]);
	if (type.InitCheck() != B_OK) {
		std::fprintf(stderr, "withdraw_type: %s is not a MIME type\n", argv[1]);
		return 2;
	}
	std::vector<std::string> others;
	if (BPrivate::remove_default_application(argv[1], argv[2], &others) != B_OK) {
		std::fprintf(stderr, "withdraw_type: could not take %s out of mimeapps.list\n", argv[2]);
		return 1;
	}
	if (!others.empty()) {
		std::printf("%s stays: %s opens it too.\n", argv[1], others.front().c_str());
		return 0;
	}
	switch (type.Delete()) {
		case B_OK:
		case B_ENTRY_NOT_FOUND: // not in the user's home: nothing to do
			return 0;
		case B_NOT_ALLOWED:
			std::printf("%s stays: it is installed for every user.\n", argv[1]);
			return 0;
		default:
			std::fprintf(stderr, "withdraw_type: could not remove %s\n", argv[1]);
			return 1;
	}
}
