// The freedesktop text formats the MIME database reads and writes: desktop
// entries, mimeapps.list and shared-mime-info packages.
//
// The input is NUL-separated: a file's text, then up to three short strings
// used as a key or MIME type, a value or desktop id, and another key or type.
// Every reader is run on the text; every writer is run on the strings and
// read back with the matching reader; every edit of the text is read back,
// and must leave the other keys and types as they were.

#include "FreedesktopFormats.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fd = BPrivate;

namespace {

void Check(bool condition)
{
	if (!condition)
		__builtin_trap();
}

bool IsBlank(char c)
{
	return c == ' ' || c == '\t';
}

std::string_view Trimmed(std::string_view text)
{
	while (!text.empty() && IsBlank(text.front()))
		text.remove_prefix(1);
	while (!text.empty() && (IsBlank(text.back()) || text.back() == '\r'))
		text.remove_suffix(1);
	return text;
}

// A key (or MIME type) that a "key=value" line can carry and give back.
bool UsableKey(std::string_view key)
{
	return !key.empty() && Trimmed(key) == key && key.front() != '#' && key.front() != '['
		&& key.find_first_of("=\n\r") == std::string_view::npos;
}

// A raw value that a line carries unchanged.
bool UsableValue(std::string_view value)
{
	return Trimmed(value) == value && value.find('\n') == std::string_view::npos;
}

// A desktop id that a ';' list carries unchanged.
bool UsableId(std::string_view id)
{
	return !id.empty() && UsableValue(id) && id.find(';') == std::string_view::npos;
}

// Well-formed UTF-8 by the table of well-formed byte sequences (Unicode,
// table 3-7), without the controls that no desktop file carries.
bool ReferencePlainText(std::string_view text)
{
	size_t i = 0;
	while (i < text.size()) {
		const uint8_t b = uint8_t(text[i]);
		auto in = [&](size_t k, uint8_t low, uint8_t high) {
			return i + k < text.size() && uint8_t(text[i + k]) >= low
				&& uint8_t(text[i + k]) <= high;
		};
		if (b <= 0x7f) {
			if ((b < 0x20 && b != '\t' && b != '\n' && b != '\r') || b == 0x7f)
				return false;
			i += 1;
		} else if (b >= 0xc2 && b <= 0xdf && in(1, 0x80, 0xbf)) {
			i += 2;
		} else if (b == 0xe0 && in(1, 0xa0, 0xbf) && in(2, 0x80, 0xbf)) {
			i += 3;
		} else if (((b >= 0xe1 && b <= 0xec) || b == 0xee || b == 0xef) && in(1, 0x80, 0xbf)
			&& in(2, 0x80, 0xbf)) {
			i += 3;
		} else if (b == 0xed && in(1, 0x80, 0x9f) && in(2, 0x80, 0xbf)) {
			i += 3;
		} else if (b == 0xf0 && in(1, 0x90, 0xbf) && in(2, 0x80, 0xbf) && in(3, 0x80, 0xbf)) {
			i += 4;
		} else if (b >= 0xf1 && b <= 0xf3 && in(1, 0x80, 0xbf) && in(2, 0x80, 0xbf)
			&& in(3, 0x80, 0xbf)) {
			i += 4;
		} else if (b == 0xf4 && in(1, 0x80, 0x8f) && in(2, 0x80, 0xbf) && in(3, 0x80, 0xbf)) {
			i += 4;
		} else {
			return false;
		}
	}
	return true;
}

bool ValueOf(std::string_view text, std::string_view key, std::string* value)
{
	value->clear();
	return fd::desktop_entry_value(text, key, value);
}

void CheckPlainText(const std::string& text)
{
	Check(fd::is_plain_text(text) == ReferencePlainText(text));
}

void CheckXml(const std::string& text, const std::string& type, const std::string& comment,
	const std::string& extra)
{
	const std::string escaped = fd::xml_escape(text);
	Check(escaped.find_first_of("<>\"'") == std::string::npos);
	Check(fd::xml_unescape(escaped) == text);

	// A plain file gives plain text, whatever references it holds.
	const std::string unescaped = fd::xml_unescape(text);
	// A reference never takes more bytes than the character it stands for.
	Check(unescaped.size() <= text.size());
	if (fd::is_plain_text(text))
		Check(fd::is_plain_text(unescaped));
	std::string found;
	if (fd::mime_xml_comment(text, &found) && fd::is_plain_text(text))
		Check(fd::is_plain_text(found));

	const std::vector<std::string> extensions = fd::split_list(extra);
	const std::string package = fd::mime_package_xml(type, comment, extensions, extra);
	found.clear();
	const bool hasComment = fd::mime_xml_comment(package, &found);
	Check(hasComment == !comment.empty());
	if (hasComment)
		Check(found == comment);
	if (fd::is_plain_text(type) && fd::is_plain_text(comment) && fd::is_plain_text(extra))
		Check(fd::is_plain_text(package));
}

void CheckWrittenEntry(const std::string& name, const std::string& exec, const std::string& list,
	const std::string& signature)
{
	fd::DesktopEntryFields fields;
	fields.name = name;
	// The Exec value comes escaped; a raw one that would break the line is
	// written as one argument.
	fields.exec = exec.find('\n') == std::string::npos ? exec : fd::desktop_exec_argument(exec);
	fields.icon = signature;
	fields.mimeTypes = fd::split_list(list);
	for (auto it = fields.mimeTypes.begin(); it != fields.mimeTypes.end();) {
		if (it->find('\n') != std::string::npos)
			it = fields.mimeTypes.erase(it);
		else
			++it;
	}
	fields.signature = signature;
	const std::string text = fd::desktop_entry_text(fields);

	// Escaped values hold no line end or blank at either end, and read back.
	for (const std::string* raw : {&name, &signature}) {
		const std::string escaped = fd::desktop_escape(*raw);
		Check(escaped.find_first_of("\n\r\t") == std::string::npos);
		Check(escaped.empty() || (escaped.front() != ' ' && escaped.back() != ' '));
		Check(fd::desktop_unescape(escaped) == *raw);
	}
	std::string value;
	Check(ValueOf(text, "Type", &value) && value == "Application");
	Check(ValueOf(text, "Name", &value) && value == fd::desktop_escape(name));
	Check(ValueOf(text, "Icon", &value) == !signature.empty());
	if (!signature.empty())
		Check(value == fd::desktop_escape(signature));
	Check(ValueOf(text, "X-Tamsel-Signature", &value) == !signature.empty());
	if (!signature.empty())
		Check(value == fd::desktop_escape(signature));
	Check(ValueOf(text, "MimeType", &value) && fd::split_list(value) == fields.mimeTypes);
	if (UsableValue(fields.exec))
		Check(ValueOf(text, "Exec", &value) && value == fields.exec);

	const std::string argument = fd::desktop_exec_argument(exec);
	Check(argument.find_first_of("\n\r\t") == std::string::npos);
}

void CheckEntryEdit(const std::string& text, const std::string& key, const std::string& value,
	const std::string& other)
{
	std::string found;
	if (ValueOf(text, key, &found)) {
		Check(found.find('\n') == std::string::npos);
		Check(Trimmed(found) == found);
	}
	if (!UsableKey(key) || !UsableValue(value))
		return;

	const std::string edited = fd::desktop_entry_replace(text, key, value);
	Check(ValueOf(edited, key, &found) && found == value);
	// Every line is kept: one is replaced, or one (and the group) is added.
	const size_t before = BPrivate::split_lines(text).size();
	const size_t after = BPrivate::split_lines(edited).size();
	Check(after >= before && after <= before + 2);
	// Replacing again changes nothing more.
	Check(fd::desktop_entry_replace(edited, key, value) == edited);

	bool hadGroup = false;
	for (const std::string& line : BPrivate::split_lines(text))
		hadGroup = hadGroup || Trimmed(line) == "[Desktop Entry]";
	if (hadGroup && UsableKey(other) && other != key) {
		std::string was, now;
		const bool had = ValueOf(text, other, &was);
		Check(ValueOf(edited, other, &now) == had);
		Check(now == was);
	}
}

void CheckMimeapps(const std::string& contents, const std::string& type, const std::string& id,
	const std::string& other)
{
	const std::vector<std::string> old = fd::mimeapps_defaults(contents, type);
	for (const std::string& item : old)
		Check(!item.empty() && item.find(';') == std::string::npos);

	if (!UsableKey(type))
		return;
	const bool otherUsable = UsableKey(other) && !fd::equal_ignoring_case(other, type);
	const std::vector<std::string> otherOld
		= otherUsable ? fd::mimeapps_defaults(contents, other) : std::vector<std::string>{};

	const std::string removed = fd::mimeapps_remove_type(contents, type);
	Check(fd::mimeapps_defaults(removed, type).empty());
	Check(fd::mimeapps_remove_type(removed, type) == removed);
	if (otherUsable)
		Check(fd::mimeapps_defaults(removed, other) == otherOld);

	if (!UsableId(id))
		return;
	const std::string set = fd::mimeapps_set_default(contents, type, id);
	const std::vector<std::string> now = fd::mimeapps_defaults(set, type);
	Check(!now.empty() && now.front() == id);
	// The others follow in their order (unless an earlier group named the
	// type only further down, where it is not looked at).
	std::vector<std::string> rest;
	for (const std::string& item : old) {
		if (item != id)
			rest.push_back(item);
	}
	const std::vector<std::string> following(now.begin() + 1, now.end());
	Check(following == rest || following.empty());
	Check(fd::mimeapps_set_default(set, type, id) == set);
	if (otherUsable)
		Check(fd::mimeapps_defaults(set, other) == otherOld);
}

void CheckLists(const std::string& a, const std::string& b)
{
	const std::vector<std::string> items = fd::split_list(a);
	std::string joined;
	for (const std::string& item : items) {
		Check(!item.empty() && item.find(';') == std::string::npos);
		Check(Trimmed(item) == item);
		joined += item + ";";
	}
	Check(fd::split_list(joined) == items);

	bool same = a.size() == b.size();
	for (size_t i = 0; same && i < a.size(); i++) {
		char x = a[i], y = b[i];
		if (x >= 'A' && x <= 'Z')
			x = char(x + 32);
		if (y >= 'A' && y <= 'Z')
			y = char(y + 32);
		same = x == y;
	}
	Check(fd::equal_ignoring_case(a, b) == same);
	Check(fd::equal_ignoring_case(a, a));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	const std::string_view input(reinterpret_cast<const char*>(data), size);
	std::string pieces[4];
	size_t position = 0;
	for (std::string& piece : pieces) {
		if (position > input.size())
			break;
		size_t end = input.find('\0', position);
		if (end == std::string_view::npos)
			end = input.size();
		piece = input.substr(position, end - position);
		position = end + 1;
	}
	const std::string& text = pieces[0];
	const std::string& key = pieces[1];
	const std::string& value = pieces[2];
	const std::string& other = pieces[3];

	CheckPlainText(text);
	CheckPlainText(key);
	CheckXml(text, key, value, other);
	CheckWrittenEntry(key, value, other, other);
	CheckEntryEdit(text, key, value, other);
	CheckMimeapps(text, key, value, other);
	CheckLists(text, key);
	CheckLists(value, other);
	return 0;
}
