// Kit-private: the desktop entry and mimeapps.list default that make the
// running application open a type (and their removal), written when a type
// with a preferred application is installed.
#pragma once

#include <string>

namespace BPrivate {

// Makes the application of `signature` open the type: a desktop entry for
// the running application, and the default in mimeapps.list.
void install_preferred_app(const std::string& dataHome, const std::string& type,
	const std::string& signature);

// Takes the type out of our desktop entries (removing those left with no
// type) and out of the default applications.
void remove_preferred_app(const std::string& dataHome, const std::string& type);

} // namespace BPrivate
