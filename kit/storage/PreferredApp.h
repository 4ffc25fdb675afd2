// Kit-private: the desktop entry and mimeapps.list default that make the
// running application open a type (and their removal), written when a type
// with a preferred application is installed.
#pragma once

#include <SupportDefs.h>

#include <string>
#include <vector>

namespace BPrivate {

// Makes the application of `signature` open the type: a desktop entry for
// the running application, and the default in mimeapps.list.
void install_preferred_app(const std::string& dataHome, const std::string& type,
	const std::string& signature);

// Takes the type out of our desktop entries (removing those left with no
// type) and out of the default applications.
void remove_preferred_app(const std::string& dataHome, const std::string& type);

// An application's uninstall: its desktop entry desktopId leaves the type's
// default applications in mimeapps.list; other applications' defaults stay.
// Sets *left to the type's defaults that remain.
status_t remove_default_application(const std::string& type, const std::string& desktopId,
	std::vector<std::string>* left);

} // namespace BPrivate
