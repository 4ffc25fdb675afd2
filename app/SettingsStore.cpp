#include "SettingsStore.h"

#include "TamselApp.h"

#include <cstring>

const char* const kDefaultEncoderLocation = "/boot/home/config/bin/Gogo";

namespace {

const char* const kAttrEncoderLocation = "encoder_location";
const char* const kAttrDontCloseOnAdd = "dont_close_on_add";
const char* const kAttrDontClearOnOpen = "dont_clear_on_open";
const char* const kAttrSelfRegister = "self_register_mime_type";

// A stored flag is one byte, 0 or 1. Anything else (another size, another
// type, a read error) gives the default: a stray byte must never be loaded
// into a bool as it is.
bool ReadFlag(const BNode& node, const char* name, bool fallback)
{
	attr_info info;
	if (node.GetAttrInfo(name, &info) == B_OK) {
		if (info.size != 1 || (info.type != B_BOOL_TYPE && info.type != B_RAW_TYPE))
			return fallback;
	}
	uint8 byte = 0;
	const ssize_t read = node.ReadAttr(name, B_BOOL_TYPE, 0, &byte, 1);
	if (read != 1 || byte > 1)
		return fallback;
	return byte == 1;
}

void ReadLocation(const BNode& node, char* location)
{
	attr_info info;
	const bool typeOk = node.GetAttrInfo(kAttrEncoderLocation, &info) != B_OK
		|| info.type == B_STRING_TYPE || info.type == B_RAW_TYPE;
	if (typeOk) {
		const ssize_t read = node.ReadAttr(kAttrEncoderLocation, B_STRING_TYPE, 0, location,
			kEncoderLocationSize);
		if (read > 0 && read <= ssize_t(kEncoderLocationSize)
			&& std::memchr(location, '\0', size_t(read)) != nullptr)
			return;
	}
	std::strcpy(location, kDefaultEncoderLocation);
}

} // namespace

void LoadSettings(const BNode& node, SettingsValues& values)
{
	ReadLocation(node, values.location);
	values.dontCloseOnAdd = ReadFlag(node, kAttrDontCloseOnAdd, false);
	values.dontClearOnOpen = ReadFlag(node, kAttrDontClearOnOpen, false);
	values.selfRegisterMimeType = ReadFlag(node, kAttrSelfRegister, true);
}

void StoreSettings(BNode& node, const SettingsValues& values)
{
	node.WriteAttr(kAttrEncoderLocation, B_STRING_TYPE, 0, values.location,
		std::strlen(values.location) + 1);
	const uint8 closeOnAdd = values.dontCloseOnAdd ? 1 : 0;
	const uint8 clearOnOpen = values.dontClearOnOpen ? 1 : 0;
	const uint8 selfRegister = values.selfRegisterMimeType ? 1 : 0;
	node.WriteAttr(kAttrDontCloseOnAdd, B_BOOL_TYPE, 0, &closeOnAdd, 1);
	node.WriteAttr(kAttrDontClearOnOpen, B_BOOL_TYPE, 0, &clearOnOpen, 1);
	node.WriteAttr(kAttrSelfRegister, B_BOOL_TYPE, 0, &selfRegister, 1);
}
