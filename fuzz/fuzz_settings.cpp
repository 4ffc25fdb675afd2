// Settings read at start-up from attributes that another tool may have
// written with any size, type and contents.
#include "SettingsStore.h"
#include "TamselApp.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

const char* const kNames[] = {"encoder_location", "dont_close_on_add", "dont_clear_on_open",
	"self_register_mime_type"};

std::string FuzzFile()
{
	static const std::string path = [] {
		std::string pattern = "/dev/shm/tamsel-fuzz-XXXXXX";
		const int fd = mkstemp(pattern.data());
		if (fd >= 0)
			close(fd);
		return pattern;
	}();
	return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	const std::string path = FuzzFile();
	size_t i = 0;
	for (const char* name : kNames) {
		const std::string attr = std::string("user.") + name;
		removexattr(path.c_str(), attr.c_str());
		removexattr(path.c_str(), (std::string("user.be_type.") + name).c_str());
		if (i >= size)
			continue;
		const size_t wanted = size_t(data[i]) * 8u;
		i++;
		const size_t length = std::min<size_t>(wanted, size - i);
		if (length > 0 && data[i] != 0xff)
			setxattr(path.c_str(), attr.c_str(), data + i, length, 0);
		i += length;
	}
	char location[kEncoderLocationSize + 16];
	std::memset(location, 0x5a, sizeof(location));
	SettingsValues values;
	values.location = location;
	BNode node(path.c_str());
	LoadSettings(node, values);
	// Always a terminated string inside the buffer, and nothing beyond it touched.
	if (std::memchr(location, '\0', kEncoderLocationSize) == nullptr)
		std::abort();
	for (size_t k = kEncoderLocationSize; k < sizeof(location); k++) {
		if (location[k] != 0x5a)
			std::abort();
	}
	return 0;
}
