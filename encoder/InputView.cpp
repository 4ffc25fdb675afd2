#include "InputView.h"

#include "InputReader.h"

#include <cerrno>
#include <cstdint>

#include <unistd.h>

namespace gogo {

InputView WholeFile(int fd, uint64_t length)
{
	InputView view;
	view.fd = fd;
	view.length = length;
	return view;
}

ViewFile::~ViewFile()
{
	if (fFile != nullptr)
		sf_close(fFile);
}

bool ViewFile::Open(const InputView& view)
{
	if (fFile != nullptr) {
		sf_close(fFile);
		fFile = nullptr;
	}
	fPlace = Place{view, 0, 0};
	SF_VIRTUAL_IO io{};
	io.get_filelen = &ViewFile::Length;
	io.seek = &ViewFile::Seek;
	io.read = &ViewFile::ReadBytes;
	io.write = &ViewFile::Write;
	io.tell = &ViewFile::Tell;
	fInfo = view.raw;
	fFile = sf_open_virtual(&io, SFM_READ, &fInfo, &fPlace);
	if (fFile == nullptr) {
		fError = ReadErrorText(nullptr);
		return false;
	}
	return true;
}

sf_count_t ViewFile::Length(void* place)
{
	return static_cast<sf_count_t>(static_cast<Place*>(place)->view.length);
}

sf_count_t ViewFile::Seek(sf_count_t offset, int whence, void* place)
{
	Place& at = *static_cast<Place*>(place);
	sf_count_t base = 0;
	switch (whence) {
	case SEEK_SET: base = 0; break;
	case SEEK_CUR: base = at.position; break;
	case SEEK_END: base = static_cast<sf_count_t>(at.view.length); break;
	default: return -1;
	}
	if ((offset < 0 && base + offset < 0) || (offset > 0 && base > INT64_MAX - offset))
		return -1;
	at.position = base + offset;
	return at.position;
}

sf_count_t ViewFile::ReadBytes(void* into, sf_count_t count, void* place)
{
	Place& at = *static_cast<Place*>(place);
	const uint64_t length = at.view.length;
	if (count <= 0 || static_cast<uint64_t>(at.position) >= length)
		return 0;
	if (static_cast<uint64_t>(count) > length - static_cast<uint64_t>(at.position))
		count = static_cast<sf_count_t>(length - static_cast<uint64_t>(at.position));
	auto* bytes = static_cast<unsigned char*>(into);
	const sf_count_t first = at.position;
	sf_count_t done = 0;
	while (done < count) {
		const uint64_t where = at.view.offset + static_cast<uint64_t>(at.position);
		if (where > static_cast<uint64_t>(INT64_MAX))
			break;
		const ssize_t got = pread(at.view.fd, bytes + done, static_cast<size_t>(count - done),
			static_cast<off_t>(where));
		if (got < 0 && errno == EINTR)
			continue;
		if (got < 0 && at.error == 0)
			at.error = errno;
		if (got <= 0)
			break;
		done += got;
		at.position += got;
	}
	// The hidden count: the low 4 bits of its first byte and the 4 after it.
	if (at.view.hiddenCountAt >= 0) {
		for (sf_count_t i = 0; i < 5; i++) {
			const sf_count_t index = at.view.hiddenCountAt + i - first;
			if (index >= 0 && index < done)
				bytes[index] = i == 0 ? static_cast<unsigned char>(bytes[index] & 0xf0) : 0;
		}
	}
	return done;
}

sf_count_t ViewFile::Write(const void*, sf_count_t, void*)
{
	return 0;
}

sf_count_t ViewFile::Tell(void* place)
{
	return static_cast<Place*>(place)->position;
}

} // namespace gogo
