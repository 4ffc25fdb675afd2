#include "ChunkBytes.h"

#include <cerrno>
#include <limits>

#include <sys/types.h>
#include <unistd.h>

namespace gogo {

bool ReadAt(int fd, uint64_t offset, unsigned char* data, size_t size)
{
	while (size > 0) {
		if (offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max()))
			return false;
		const ssize_t got = pread(fd, data, size, static_cast<off_t>(offset));
		if (got < 0 && errno == EINTR)
			continue;
		if (got <= 0)
			return false;
		data += got;
		size -= static_cast<size_t>(got);
		offset += static_cast<uint64_t>(got);
	}
	return true;
}

uint64_t Unsigned(const unsigned char* bytes, int count, bool bigEndian)
{
	uint64_t value = 0;
	for (int i = 0; i < count; i++) {
		const int index = bigEndian ? i : count - 1 - i;
		value = (value << 8) | bytes[index];
	}
	return value;
}

bool PlausibleName(const unsigned char* name)
{
	for (int i = 0; i < 4; i++) {
		if (name[i] < 0x20 || name[i] > 0x7e)
			return false;
	}
	return name[0] != ' ';
}

uint64_t Id3v2TagSize(const unsigned char* head)
{
	if (head[0] != 'I' || head[1] != 'D' || head[2] != '3')
		return 0;
	const uint64_t frames = uint64_t{head[6] & 0x7fu} << 21 | uint64_t{head[7] & 0x7fu} << 14
		| uint64_t{head[8] & 0x7fu} << 7 | (head[9] & 0x7fu);
	return 10 + frames + ((head[5] & 0x10) != 0 ? 10 : 0);
}

} // namespace gogo
