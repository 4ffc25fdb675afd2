// Settings read at start-up from attributes that another tool may have
// written with any size, type and contents, type companions included.
//
// For each of the four settings the input gives, in turn:
//   one byte for the value's size: 0xff for no value at all, below 0x80 the
//     size itself, else (byte - 0x80) * 16;
//   the value's bytes (fewer when the input ends);
//   one byte for its type companion ("user.be_type.<name>"): none (as other
//     tools write values), a type code, a companion of the wrong size, or a
//     companion left without its value.
// What is loaded must be what the stored values say by the rules of
// LoadSettings, and storing what was loaded must load back the same.

#include "SettingsStore.h"
#include "TamselApp.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

void Check(bool condition)
{
	if (!condition)
		__builtin_trap();
}

const char* const kNames[] = {"encoder_location", "dont_close_on_add", "dont_clear_on_open",
	"self_register_mime_type"};
const bool kFlagDefaults[] = {false, false, true};

// The file the attributes are put on; removed when the process exits.
class ShmFile {
public:
	ShmFile()
	{
		std::string pattern = "/dev/shm/tamsel-fuzz-XXXXXX";
		const int fd = mkstemp(pattern.data());
		if (fd < 0) {
			std::perror("mkstemp");
			std::abort();
		}
		close(fd);
		fPath = pattern;
	}
	~ShmFile() { unlink(fPath.c_str()); }
	ShmFile(const ShmFile&) = delete;
	ShmFile& operator=(const ShmFile&) = delete;
	const std::string& Path() const { return fPath; }

private:
	std::string fPath;
};

const std::string& FuzzFile()
{
	static const ShmFile file;
	return file.Path();
}

// One setting as it was stored.
struct Stored {
	bool hasValue = false;
	std::string value;
	type_code type = B_RAW_TYPE; // as GetAttrInfo reports it
};

void SetType(const std::string& path, const std::string& name, const void* code, size_t size)
{
	setxattr(path.c_str(), ("user.be_type." + name).c_str(), size > 0 ? code : "", size, 0);
}

Stored Store(const std::string& path, const std::string& name, const uint8_t* data, size_t size,
	size_t& i)
{
	const std::string valueName = "user." + name;
	const std::string typeName = "user.be_type." + name;
	removexattr(path.c_str(), valueName.c_str());
	removexattr(path.c_str(), typeName.c_str());

	Stored stored;
	if (i >= size)
		return stored;
	const uint8_t sizeByte = data[i++];
	if (sizeByte != 0xff) {
		const size_t wanted = sizeByte < 0x80 ? sizeByte : size_t(sizeByte - 0x80) * 16;
		const size_t length = std::min(wanted, size - i);
		stored.value.assign(reinterpret_cast<const char*>(data + i), length);
		i += length;
		stored.hasValue = setxattr(path.c_str(), valueName.c_str(),
			length > 0 ? data + i - length : data, length, 0) == 0;
	}
	if (i >= size)
		return stored;
	const uint8_t typeByte = data[i++];
	auto setCode = [&](type_code type) {
		const uint8_t code[4] = {uint8_t(type >> 24), uint8_t(type >> 16), uint8_t(type >> 8),
			uint8_t(type)};
		SetType(path, name, code, sizeof(code));
		stored.type = type;
	};
	switch (typeByte & 7) {
		case 0: break; // no companion: raw bytes
		case 1: setCode(B_STRING_TYPE); break;
		case 2: setCode(B_BOOL_TYPE); break;
		case 3: setCode(B_RAW_TYPE); break;
		case 4: setCode(B_INT32_TYPE); break;
		case 5: setCode(type_code(typeByte) * 0x01010101u); break;
		case 6: {
			// A companion of another size than a type code's is not one.
			size_t length = (typeByte >> 3) % 8;
			if (length == 4)
				length = 5;
			const uint8_t junk[8] = {'C', 'S', 'T', 'R', 'B', 'O', 'O', 'L'};
			SetType(path, name, junk, length);
			break;
		}
		case 7:
			// A companion left behind by a value removed by another tool.
			removexattr(path.c_str(), valueName.c_str());
			stored.hasValue = false;
			setCode(B_BOOL_TYPE);
			break;
	}
	return stored;
}

bool ExpectedFlag(const Stored& stored, bool fallback)
{
	if (!stored.hasValue || stored.value.size() != 1
		|| (stored.type != B_BOOL_TYPE && stored.type != B_RAW_TYPE))
		return fallback;
	const uint8_t byte = uint8_t(stored.value[0]);
	return byte > 1 ? fallback : byte == 1;
}

std::string ExpectedLocation(const Stored& stored)
{
	if (stored.hasValue && (stored.type == B_STRING_TYPE || stored.type == B_RAW_TYPE)) {
		// Terminated within the buffer: read up to the terminator.
		const size_t nul = stored.value.find('\0');
		if (nul != std::string::npos && nul < kEncoderLocationSize)
			return stored.value.substr(0, nul);
	}
	return kDefaultEncoderLocation;
}

// Loads into a buffer with a guard zone after it: the location is always a
// terminated string inside the buffer, and nothing beyond it is touched.
SettingsValues Load(const BNode& node, char (&location)[kEncoderLocationSize + 16])
{
	std::memset(location, 0x5a, sizeof(location));
	SettingsValues values;
	values.location = location;
	LoadSettings(node, values);
	Check(std::memchr(location, '\0', kEncoderLocationSize) != nullptr);
	for (size_t k = kEncoderLocationSize; k < sizeof(location); k++)
		Check(location[k] == 0x5a);
	return values;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	const std::string& path = FuzzFile();
	size_t i = 0;
	Stored stored[4];
	for (int k = 0; k < 4; k++)
		stored[k] = Store(path, kNames[k], data, size, i);

	BNode node(path.c_str());
	Check(node.InitCheck() == B_OK);
	char location[kEncoderLocationSize + 16];
	const SettingsValues values = Load(node, location);
	Check(location == ExpectedLocation(stored[0]));
	Check(values.dontCloseOnAdd == ExpectedFlag(stored[1], kFlagDefaults[0]));
	Check(values.dontClearOnOpen == ExpectedFlag(stored[2], kFlagDefaults[1]));
	Check(values.selfRegisterMimeType == ExpectedFlag(stored[3], kFlagDefaults[2]));

	// What was loaded, stored with its own types, loads back unchanged.
	StoreSettings(node, values);
	char reloaded[kEncoderLocationSize + 16];
	const SettingsValues again = Load(node, reloaded);
	Check(std::strcmp(location, reloaded) == 0);
	Check(again.dontCloseOnAdd == values.dontCloseOnAdd);
	Check(again.dontClearOnOpen == values.dontClearOnOpen);
	Check(again.selfRegisterMimeType == values.selfRegisterMimeType);
	attr_info info;
	Check(node.GetAttrInfo(kNames[0], &info) == B_OK && info.type == B_STRING_TYPE);
	for (int k = 1; k < 4; k++)
		Check(node.GetAttrInfo(kNames[k], &info) == B_OK && info.type == B_BOOL_TYPE && info.size == 1);
	return 0;
}
