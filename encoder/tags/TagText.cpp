#include "TagText.h"

#include <cstddef>

namespace gogo {

bool IsUtf8(std::string_view bytes)
{
	size_t i = 0;
	while (i < bytes.size()) {
		const unsigned char lead = static_cast<unsigned char>(bytes[i]);
		int more = 0;
		unsigned min = 0;
		unsigned code = 0;
		if (lead < 0x80) {
			i++;
			continue;
		} else if ((lead & 0xe0) == 0xc0) {
			more = 1, min = 0x80, code = lead & 0x1fu;
		} else if ((lead & 0xf0) == 0xe0) {
			more = 2, min = 0x800, code = lead & 0x0fu;
		} else if ((lead & 0xf8) == 0xf0) {
			more = 3, min = 0x10000, code = lead & 0x07u;
		} else {
			return false;
		}
		if (bytes.size() - i - 1 < static_cast<size_t>(more))
			return false;
		for (int k = 1; k <= more; k++) {
			const unsigned char next = static_cast<unsigned char>(bytes[i + static_cast<size_t>(k)]);
			if ((next & 0xc0) != 0x80)
				return false;
			code = code << 6 | (next & 0x3fu);
		}
		if (code < min || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
			return false;
		i += static_cast<size_t>(more) + 1;
	}
	return true;
}

std::string TextFromBytes(std::string_view bytes)
{
	if (const size_t nul = bytes.find('\0'); nul != std::string_view::npos)
		bytes = bytes.substr(0, nul);
	while (!bytes.empty()) {
		const char last = bytes.back();
		if (last != ' ' && last != '\t' && last != '\r' && last != '\n')
			break;
		bytes.remove_suffix(1);
	}
	if (IsUtf8(bytes))
		return std::string(bytes);
	// Latin-1: each byte is the code point of the same value.
	std::string text;
	text.reserve(bytes.size() * 2);
	for (const char c : bytes) {
		const unsigned char byte = static_cast<unsigned char>(c);
		if (byte < 0x80) {
			text += c;
		} else {
			text += static_cast<char>(0xc0 | byte >> 6);
			text += static_cast<char>(0x80 | (byte & 0x3f));
		}
	}
	return text;
}

bool IsTimestamp(std::string_view text)
{
	// Digits where the pattern has 'd', the separators as they stand.
	static constexpr std::string_view kPattern = "dddd-dd-ddTdd:dd:dd";
	static constexpr size_t kLengths[] = {4, 7, 10, 13, 16, 19};
	bool lengthFits = false;
	for (const size_t length : kLengths)
		lengthFits = lengthFits || text.size() == length;
	if (!lengthFits)
		return false;
	for (size_t i = 0; i < text.size(); i++) {
		const bool digit = text[i] >= '0' && text[i] <= '9';
		if (kPattern[i] == 'd' ? !digit : text[i] != kPattern[i])
			return false;
	}
	return true;
}

} // namespace gogo
