#include "FreedesktopFormats.h"

#include <cstdint>

namespace BPrivate {

namespace {

constexpr std::string_view kDefaultGroup = "[Default Applications]";
constexpr std::string_view kDesktopGroup = "[Desktop Entry]";

std::string_view trim(std::string_view text)
{
	size_t begin = 0;
	while (begin < text.size() && (text[begin] == ' ' || text[begin] == '\t'))
		begin++;
	size_t end = text.size();
	while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r'))
		end--;
	return text.substr(begin, end - begin);
}


std::string join_lines(const std::vector<std::string>& lines)
{
	std::string text;
	for (const std::string& line : lines) {
		text += line;
		text += '\n';
	}
	return text;
}

// Desktop entries and mimeapps.list are key files: "[Group]" header lines,
// "key=value" lines, '#' comments. How a line's blanks are taken:
enum class Blanks {
	// Blanks at either end of a line and CRs at its end are passed over, and
	// CRs at the end of a key too: the kit's own entries and mimeapps.list,
	// which the kit also edits.
	kLenient,
	// A line loses only the CR that ends it, a header or a key must start
	// it (a group header matches only as written), and a value keeps the
	// blanks at its end: the Exec of an installed program's entry.
	kStrict,
};

struct KeyLine {
	enum class Kind { kOther, kGroup, kKey };
	Kind kind = Kind::kOther;
	std::string_view header; // a group's, as it is compared: "[Desktop Entry]"
	std::string_view key;
	std::string_view value; // raw: escapes are the reader's business
};

// Blanks around '=' belong to neither the key nor the value.
KeyLine parse_line(std::string_view line, Blanks blanks)
{
	KeyLine parsed;
	if (blanks == Blanks::kLenient)
		line = trim(line);
	else if (!line.empty() && line.back() == '\r')
		line.remove_suffix(1);
	if (line.empty() || line[0] == '#')
		return parsed;
	if (line[0] == '[') {
		parsed.kind = KeyLine::Kind::kGroup;
		parsed.header = line;
		return parsed;
	}
	const size_t equals = line.find('=');
	if (equals == std::string_view::npos)
		return parsed;
	std::string_view key = line.substr(0, equals);
	const std::string_view keyBlanks = blanks == Blanks::kLenient ? " \t\r" : " \t";
	while (!key.empty() && keyBlanks.find(key.back()) != std::string_view::npos)
		key.remove_suffix(1);
	std::string_view value = line.substr(equals + 1);
	while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
		value.remove_prefix(1);
	parsed.kind = KeyLine::Kind::kKey;
	parsed.key = key;
	parsed.value = value;
	return parsed;
}

bool is_group(std::string_view line)
{
	return parse_line(line, Blanks::kLenient).kind == KeyLine::Kind::kGroup;
}

// The value of the first key of the group (its header as written, say
// "[Desktop Entry]") that `matches` takes; a group may come more than once.
template <typename Matches>
bool find_value(std::string_view text, std::string_view group, Blanks blanks, Matches matches,
	std::string_view* value)
{
	bool inGroup = false;
	size_t position = 0;
	while (position < text.size()) {
		size_t end = text.find('\n', position);
		if (end == std::string_view::npos)
			end = text.size();
		const KeyLine line = parse_line(text.substr(position, end - position), blanks);
		position = end + 1;
		if (line.kind == KeyLine::Kind::kGroup) {
			inGroup = line.header == group;
		} else if (inGroup && line.kind == KeyLine::Kind::kKey && matches(line.key)) {
			*value = line.value;
			return true;
		}
	}
	return false;
}

void append_utf8(std::string* out, uint32_t code)
{
	if (code < 0x80) {
		*out += char(code);
	} else if (code < 0x800) {
		*out += char(0xc0 | (code >> 6));
		*out += char(0x80 | (code & 0x3f));
	} else if (code < 0x10000) {
		*out += char(0xe0 | (code >> 12));
		*out += char(0x80 | ((code >> 6) & 0x3f));
		*out += char(0x80 | (code & 0x3f));
	} else {
		*out += char(0xf0 | (code >> 18));
		*out += char(0x80 | ((code >> 12) & 0x3f));
		*out += char(0x80 | ((code >> 6) & 0x3f));
		*out += char(0x80 | (code & 0x3f));
	}
}

std::string join_list(const std::vector<std::string>& items)
{
	std::string value;
	for (const std::string& item : items) {
		value += item;
		value += ';';
	}
	return value;
}

} // namespace

std::vector<std::string> split_lines(std::string_view text)
{
	std::vector<std::string> lines;
	size_t position = 0;
	while (position < text.size()) {
		size_t end = text.find('\n', position);
		if (end == std::string_view::npos)
			end = text.size();
		lines.emplace_back(text.substr(position, end - position));
		position = end + 1;
	}
	return lines;
}

bool equal_ignoring_case(std::string_view a, std::string_view b)
{
	if (a.size() != b.size())
		return false;
	for (size_t i = 0; i < a.size(); i++) {
		char x = a[i];
		char y = b[i];
		if (x >= 'A' && x <= 'Z')
			x = char(x - 'A' + 'a');
		if (y >= 'A' && y <= 'Z')
			y = char(y - 'A' + 'a');
		if (x != y)
			return false;
	}
	return true;
}

bool is_plain_text(std::string_view text)
{
	size_t i = 0;
	while (i < text.size()) {
		uint8_t byte = uint8_t(text[i]);
		if (byte < 0x80) {
			if ((byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r') || byte == 0x7f)
				return false;
			i++;
			continue;
		}
		size_t length;
		uint32_t code;
		if ((byte & 0xe0) == 0xc0) {
			length = 2;
			code = byte & 0x1f;
		} else if ((byte & 0xf0) == 0xe0) {
			length = 3;
			code = byte & 0x0f;
		} else if ((byte & 0xf8) == 0xf0) {
			length = 4;
			code = byte & 0x07;
		} else {
			return false;
		}
		if (i + length > text.size())
			return false;
		for (size_t k = 1; k < length; k++) {
			uint8_t next = uint8_t(text[i + k]);
			if ((next & 0xc0) != 0x80)
				return false;
			code = (code << 6) | (next & 0x3f);
		}
		// Overlong forms, surrogates and code points past Unicode.
		static const uint32_t kMinimum[5] = {0, 0, 0x80, 0x800, 0x10000};
		if (code < kMinimum[length] || (code >= 0xd800 && code <= 0xdfff) || code > 0x10ffff)
			return false;
		i += length;
	}
	return true;
}

std::string xml_escape(std::string_view text)
{
	std::string out;
	for (char c : text) {
		switch (c) {
			case '&': out += "&amp;"; break;
			case '<': out += "&lt;"; break;
			case '>': out += "&gt;"; break;
			case '"': out += "&quot;"; break;
			case '\'': out += "&apos;"; break;
			default: out += c; break;
		}
	}
	return out;
}

std::string xml_unescape(std::string_view text)
{
	std::string out;
	size_t i = 0;
	while (i < text.size()) {
		if (text[i] != '&') {
			out += text[i++];
			continue;
		}
		size_t semicolon = text.find(';', i);
		if (semicolon == std::string_view::npos || semicolon - i > 12) {
			out += text[i++];
			continue;
		}
		std::string_view entity = text.substr(i + 1, semicolon - i - 1);
		if (entity == "amp") {
			out += '&';
		} else if (entity == "lt") {
			out += '<';
		} else if (entity == "gt") {
			out += '>';
		} else if (entity == "quot") {
			out += '"';
		} else if (entity == "apos") {
			out += '\'';
		} else if (entity.size() > 1 && entity[0] == '#') {
			bool hex = entity[1] == 'x' || entity[1] == 'X';
			uint32_t code = 0;
			bool valid = entity.size() > (hex ? 2u : 1u);
			for (size_t k = hex ? 2 : 1; k < entity.size() && valid; k++) {
				char c = entity[k];
				uint32_t digit;
				if (c >= '0' && c <= '9')
					digit = uint32_t(c - '0');
				else if (hex && c >= 'a' && c <= 'f')
					digit = uint32_t(c - 'a' + 10);
				else if (hex && c >= 'A' && c <= 'F')
					digit = uint32_t(c - 'A' + 10);
				else
					valid = false;
				if (valid)
					code = code * (hex ? 16 : 10) + digit;
				if (code > 0x10ffff)
					valid = false;
			}
			// Only characters that plain text may hold are decoded: a
			// reference to a control character (XML allows none but DEL) or
			// to a surrogate stays as it is written.
			const bool plain = code == '\t' || code == '\n' || code == '\r'
				|| (code >= 0x20 && code != 0x7f && (code < 0xd800 || code > 0xdfff));
			if (!valid || !plain) {
				out += text[i++];
				continue;
			}
			append_utf8(&out, code);
		} else {
			out += text[i++];
			continue;
		}
		i = semicolon + 1;
	}
	return out;
}

std::string mime_package_xml(std::string_view type, std::string_view comment,
	const std::vector<std::string>& extensions, std::string_view iconName)
{
	std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
					  "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n";
	xml += "  <mime-type type=\"" + xml_escape(type) + "\">\n";
	if (!comment.empty())
		xml += "    <comment>" + xml_escape(comment) + "</comment>\n";
	if (!iconName.empty())
		xml += "    <icon name=\"" + xml_escape(iconName) + "\"/>\n";
	for (const std::string& extension : extensions)
		xml += "    <glob pattern=\"*." + xml_escape(extension) + "\"/>\n";
	xml += "  </mime-type>\n</mime-info>\n";
	return xml;
}

bool mime_xml_comment(std::string_view xml, std::string* comment)
{
	constexpr std::string_view open = "<comment>";
	constexpr std::string_view close = "</comment>";
	size_t start = xml.find(open);
	if (start == std::string_view::npos)
		return false;
	start += open.size();
	size_t end = xml.find(close, start);
	if (end == std::string_view::npos)
		return false;
	*comment = xml_unescape(xml.substr(start, end - start));
	return true;
}

std::string desktop_escape(std::string_view text)
{
	std::string out;
	for (size_t i = 0; i < text.size(); i++) {
		char c = text[i];
		switch (c) {
			case '\\': out += "\\\\"; break;
			case '\n': out += "\\n"; break;
			case '\t': out += "\\t"; break;
			case '\r': out += "\\r"; break;
			case ' ':
				// Spaces at either end would be taken for the space around
				// '=' or at the end of the line.
				out += i == 0 || i + 1 == text.size() ? "\\s" : " ";
				break;
			default: out += c; break;
		}
	}
	return out;
}

std::string desktop_unescape(std::string_view value)
{
	std::string unescaped;
	for (size_t i = 0; i < value.size(); i++) {
		if (value[i] != '\\' || i + 1 == value.size()) {
			unescaped += value[i];
			continue;
		}
		const char next = value[++i];
		switch (next) {
			case 's': unescaped += ' '; break;
			case 'n': unescaped += '\n'; break;
			case 't': unescaped += '\t'; break;
			case 'r': unescaped += '\r'; break;
			case '\\': unescaped += '\\'; break;
			default: unescaped += '\\'; unescaped += next; break;
		}
	}
	return unescaped;
}

std::string desktop_exec_argument(std::string_view argument)
{
	constexpr std::string_view reserved = " \t\n\"'\\><~|&;$*?#()`";
	bool quote = argument.empty() || argument.find_first_of(reserved) != std::string_view::npos;
	std::string value;
	if (quote)
		value += '"';
	for (char c : argument) {
		if (c == '%') {
			value += "%%";
			continue;
		}
		if (quote && (c == '"' || c == '`' || c == '$' || c == '\\'))
			value += '\\';
		value += c;
	}
	if (quote)
		value += '"';
	// The Exec value is a string too: its own escapes come on top.
	std::string escaped;
	for (char c : value) {
		switch (c) {
			case '\\': escaped += "\\\\"; break;
			case '\n': escaped += "\\n"; break;
			case '\t': escaped += "\\t"; break;
			case '\r': escaped += "\\r"; break;
			default: escaped += c; break;
		}
	}
	return escaped;
}

std::string desktop_entry_text(const DesktopEntryFields& fields)
{
	std::string text = "[Desktop Entry]\nType=Application\n";
	text += "Name=" + desktop_escape(fields.name) + "\n";
	text += "Exec=" + fields.exec + "\n";
	if (!fields.icon.empty())
		text += "Icon=" + desktop_escape(fields.icon) + "\n";
	text += "MimeType=" + join_list(fields.mimeTypes) + "\n";
	text += "NoDisplay=false\nTerminal=false\n";
	if (!fields.signature.empty())
		text += "X-Tamsel-Signature=" + desktop_escape(fields.signature) + "\n";
	return text;
}

bool desktop_entry_value(std::string_view text, std::string_view key, std::string* value)
{
	std::string_view found;
	if (!find_value(text, kDesktopGroup, Blanks::kLenient,
			[key](std::string_view lineKey) { return lineKey == key; }, &found))
		return false;
	*value = std::string(found);
	return true;
}

bool desktop_entry_exec(std::string_view text, std::string* exec)
{
	std::string_view found;
	if (!find_value(text, kDesktopGroup, Blanks::kStrict,
			[](std::string_view key) { return key == "Exec"; }, &found))
		return false;
	*exec = desktop_unescape(found);
	return true;
}

std::string desktop_entry_replace(std::string_view text, std::string_view key,
	std::string_view value)
{
	std::vector<std::string> lines = split_lines(text);
	const std::string line = std::string(key) + "=" + std::string(value);
	size_t group = lines.size();
	bool inGroup = false;
	for (size_t i = 0; i < lines.size(); i++) {
		const KeyLine parsed = parse_line(lines[i], Blanks::kLenient);
		if (parsed.kind == KeyLine::Kind::kGroup) {
			inGroup = parsed.header == kDesktopGroup;
			if (inGroup && group == lines.size())
				group = i;
			continue;
		}
		if (inGroup && parsed.kind == KeyLine::Kind::kKey && parsed.key == key) {
			lines[i] = line;
			return join_lines(lines);
		}
	}
	if (group == lines.size()) {
		lines.insert(lines.begin(), line);
		lines.insert(lines.begin(), std::string(kDesktopGroup));
		return join_lines(lines);
	}
	size_t end = group + 1;
	while (end < lines.size() && !is_group(lines[end]))
		end++;
	while (end > group + 1 && trim(lines[end - 1]).empty())
		end--;
	lines.insert(lines.begin() + std::ptrdiff_t(end), line);
	return join_lines(lines);
}

std::vector<std::string> split_list(std::string_view value)
{
	std::vector<std::string> items;
	size_t position = 0;
	while (position <= value.size()) {
		size_t end = value.find(';', position);
		if (end == std::string_view::npos)
			end = value.size();
		std::string_view item = trim(value.substr(position, end - position));
		if (!item.empty())
			items.emplace_back(item);
		position = end + 1;
	}
	return items;
}

std::string mimeapps_set_default(std::string_view contents, std::string_view type,
	std::string_view desktopId)
{
	std::vector<std::string> lines = split_lines(contents);
	size_t group = lines.size();
	for (size_t i = 0; i < lines.size(); i++) {
		if (trim(lines[i]) == kDefaultGroup) {
			group = i;
			break;
		}
	}
	std::vector<std::string> ids = {std::string(desktopId)};
	if (group == lines.size()) {
		if (!lines.empty() && !trim(lines.back()).empty())
			lines.emplace_back();
		lines.emplace_back(kDefaultGroup);
		lines.push_back(std::string(type) + "=" + join_list(ids));
		return join_lines(lines);
	}
	size_t end = group + 1;
	while (end < lines.size() && !is_group(lines[end]))
		end++;
	for (size_t i = group + 1; i < end; i++) {
		const KeyLine parsed = parse_line(lines[i], Blanks::kLenient);
		if (parsed.kind == KeyLine::Kind::kKey && equal_ignoring_case(parsed.key, type)) {
			for (std::string& id : split_list(parsed.value)) {
				if (id != desktopId)
					ids.push_back(std::move(id));
			}
			lines[i] = std::string(type) + "=" + join_list(ids);
			return join_lines(lines);
		}
	}
	// After the group's last line, before the blank lines that separate it
	// from the next group.
	size_t insert = end;
	while (insert > group + 1 && trim(lines[insert - 1]).empty())
		insert--;
	lines.insert(lines.begin() + std::ptrdiff_t(insert), std::string(type) + "=" + join_list(ids));
	return join_lines(lines);
}

std::string mimeapps_remove_type(std::string_view contents, std::string_view type)
{
	std::vector<std::string> lines = split_lines(contents);
	std::vector<std::string> kept;
	bool inGroup = false;
	for (std::string& line : lines) {
		const KeyLine parsed = parse_line(line, Blanks::kLenient);
		if (parsed.kind == KeyLine::Kind::kGroup)
			inGroup = parsed.header == kDefaultGroup;
		else if (inGroup && parsed.kind == KeyLine::Kind::kKey && equal_ignoring_case(parsed.key, type))
			continue;
		kept.push_back(std::move(line));
	}
	return join_lines(kept);
}

std::string mimeapps_remove_default(std::string_view contents, std::string_view type,
	std::string_view desktopId)
{
	std::vector<std::string> lines = split_lines(contents);
	std::vector<std::string> kept;
	bool inGroup = false;
	for (std::string& line : lines) {
		const KeyLine parsed = parse_line(line, Blanks::kLenient);
		if (parsed.kind == KeyLine::Kind::kGroup) {
			inGroup = parsed.header == kDefaultGroup;
		} else if (inGroup && parsed.kind == KeyLine::Kind::kKey && equal_ignoring_case(parsed.key, type)) {
			const std::vector<std::string> ids = split_list(parsed.value);
			std::vector<std::string> others;
			for (const std::string& id : ids) {
				if (id != desktopId)
					others.push_back(id);
			}
			if (others.size() != ids.size()) {
				if (others.empty())
					continue;
				line = std::string(parsed.key) + "=" + join_list(others);
			}
		}
		kept.push_back(std::move(line));
	}
	return join_lines(kept);
}

std::vector<std::string> mimeapps_defaults(std::string_view contents, std::string_view type)
{
	std::string_view value;
	if (!find_value(contents, kDefaultGroup, Blanks::kLenient,
			[type](std::string_view key) { return equal_ignoring_case(key, type); }, &value))
		return {};
	return split_list(value);
}

} // namespace BPrivate
