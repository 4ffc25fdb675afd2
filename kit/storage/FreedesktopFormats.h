// Kit-private: the text formats of the freedesktop desktop that the MIME
// database writes and reads: shared-mime-info packages, desktop entries and
// mimeapps.list. Pure functions on strings, so that each can be tested and
// fuzzed alone.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace BPrivate {

// Valid UTF-8 without control characters other than tab, LF and CR: what
// an XML file or a desktop entry can carry.
bool is_plain_text(std::string_view text);

// The lines of a text file, without their '\n' (a last line without one
// counts; nothing after a final '\n' does).
std::vector<std::string> split_lines(std::string_view text);

std::string xml_escape(std::string_view text);
std::string xml_unescape(std::string_view text);

// The shared-mime-info package that declares one type.
std::string mime_package_xml(std::string_view type, std::string_view comment,
	const std::vector<std::string>& extensions, std::string_view iconName);
// The untranslated <comment> of a type's XML (a package or the database's
// own per-type file); false when there is none.
bool mime_xml_comment(std::string_view xml, std::string* comment);

// A value of a desktop entry, escaped as its string type asks.
std::string desktop_escape(std::string_view text);
// The escapes of the string type undone: \s, \n, \t, \r and \\. Any other
// backslash stays, for the Exec quoting rules to read.
std::string desktop_unescape(std::string_view value);
// One argument of an Exec key: quoted only when it holds a reserved
// character (helpers such as xdg-mime read the program as the first word),
// with '%' doubled.
std::string desktop_exec_argument(std::string_view argument);

struct DesktopEntryFields {
	std::string name;
	std::string exec;       // the whole Exec value, already escaped
	std::string icon;
	std::vector<std::string> mimeTypes;
	std::string signature;  // marks the entry as one the kit wrote
};
std::string desktop_entry_text(const DesktopEntryFields& fields);
// Reading a desktop entry: the first key of that name in the [Desktop Entry]
// group counts (keys of other groups, and localized keys such as Name[de],
// are other keys).
//
// The raw value of a key, as the kit reads its own entries: blanks around
// the line, the header, the key and the value are passed over.
bool desktop_entry_value(std::string_view text, std::string_view key, std::string* value);
// The value of Exec with its string escapes undone (other backslashes stay
// for the Exec quoting rules), as the roster reads an installed program's
// entry: a line loses only its CR, the header and the key must start their
// lines, and the value keeps blanks at its end. False when there is none.
bool desktop_entry_exec(std::string_view text, std::string* exec);
// The entry with the key of the [Desktop Entry] group set to a raw value;
// every other line is kept.
std::string desktop_entry_replace(std::string_view text, std::string_view key,
	std::string_view value);
// The items of a ';'-separated list, empty ones dropped.
std::vector<std::string> split_list(std::string_view value);

// mimeapps.list: makes desktopId the first default application of the type
// under [Default Applications], keeping every other line as it was.
std::string mimeapps_set_default(std::string_view contents, std::string_view type,
	std::string_view desktopId);
// Removes the type's line from [Default Applications].
std::string mimeapps_remove_type(std::string_view contents, std::string_view type);
// Takes desktopId out of the type's default applications, keeping the
// others in their order; a line left with none goes. Every other line is
// kept as it was.
std::string mimeapps_remove_default(std::string_view contents, std::string_view type,
	std::string_view desktopId);
// The default applications of the type, in order.
std::vector<std::string> mimeapps_defaults(std::string_view contents, std::string_view type);

// ASCII case-insensitive equality (MIME types compare that way).
bool equal_ignoring_case(std::string_view a, std::string_view b);

} // namespace BPrivate
