#include "SegmentReader.h"

#include "InputReader.h"
#include "SegmentWorkers.h"

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace gogo {

namespace {

bool FixedPlaces(int format)
{
	switch (format & SF_FORMAT_TYPEMASK) {
	case SF_FORMAT_WAV:
	case SF_FORMAT_WAVEX:
	case SF_FORMAT_W64:
	case SF_FORMAT_RF64:
	case SF_FORMAT_AIFF:
	case SF_FORMAT_AU:
	case SF_FORMAT_CAF:
		break;
	default:
		return false;
	}
	switch (format & SF_FORMAT_SUBMASK) {
	case SF_FORMAT_PCM_S8:
	case SF_FORMAT_PCM_U8:
	case SF_FORMAT_PCM_16:
	case SF_FORMAT_PCM_24:
	case SF_FORMAT_PCM_32:
	case SF_FORMAT_FLOAT:
	case SF_FORMAT_DOUBLE:
		return true;
	default:
		return false;
	}
}

} // namespace

bool ReadsByPosition(const ParallelSource& source)
{
	if (source.fd < 0 || source.frames <= 0 || !FixedPlaces(source.format))
		return false;
	SegmentReader probe;
	return probe.Open(source, 0);
}

SegmentReader::~SegmentReader()
{
	if (fFile != nullptr)
		sf_close(fFile);
}

bool SegmentReader::Open(const ParallelSource& source, int64_t start)
{
	struct stat status;
	if (fstat(source.fd, &status) != 0) {
		fError = std::strerror(errno);
		return false;
	}
	fPlace.fd = source.fd;
	fPlace.position = 0;
	fPlace.length = status.st_size;
	SF_VIRTUAL_IO io{};
	io.get_filelen = &SegmentReader::Length;
	io.seek = &SegmentReader::Seek;
	io.read = &SegmentReader::ReadBytes;
	io.write = &SegmentReader::Write;
	io.tell = &SegmentReader::Tell;
	fInfo = SF_INFO{};
	fFile = sf_open_virtual(&io, SFM_READ, &fInfo, &fPlace);
	if (fFile == nullptr) {
		fError = ReadErrorText(nullptr);
		return false;
	}
	// The same file as the caller's handle sees, or nothing: a file changed
	// under us is read in order instead, where its end shows.
	if (fInfo.format != source.format || fInfo.channels != source.channels
			|| fInfo.samplerate != source.sampleRate || fInfo.frames != source.frames) {
		fError = "the input changed while it was being read";
		return false;
	}
	if (sf_seek(fFile, start, SEEK_SET) != start) {
		fError = ReadErrorText(fFile);
		return false;
	}
	return true;
}

sf_count_t SegmentReader::Read(Samples& samples, sf_count_t frames)
{
	const sf_count_t got = samples.Read(fFile, frames, fError);
	// What the system said of a read comes first: libsndfile sees it only
	// as a short read.
	if (fPlace.error != 0) {
		fError = std::strerror(fPlace.error);
		return -1;
	}
	return got;
}

sf_count_t SegmentReader::Length(void* place)
{
	return static_cast<Place*>(place)->length;
}

sf_count_t SegmentReader::Seek(sf_count_t offset, int whence, void* place)
{
	Place& at = *static_cast<Place*>(place);
	sf_count_t base = 0;
	switch (whence) {
	case SEEK_SET: base = 0; break;
	case SEEK_CUR: base = at.position; break;
	case SEEK_END: base = at.length; break;
	default: return -1;
	}
	if ((offset < 0 && base + offset < 0) || (offset > 0 && base > INT64_MAX - offset))
		return -1;
	at.position = base + offset;
	return at.position;
}

sf_count_t SegmentReader::ReadBytes(void* into, sf_count_t count, void* place)
{
	Place& at = *static_cast<Place*>(place);
	auto* bytes = static_cast<unsigned char*>(into);
	sf_count_t done = 0;
	while (done < count) {
		const ssize_t got = pread(at.fd, bytes + done, static_cast<size_t>(count - done),
			static_cast<off_t>(at.position));
		if (got < 0 && errno == EINTR)
			continue;
		if (got < 0 && at.error == 0)
			at.error = errno;
		if (got <= 0)
			break;
		done += got;
		at.position += got;
	}
	return done;
}

sf_count_t SegmentReader::Write(const void*, sf_count_t, void*)
{
	return 0;
}

sf_count_t SegmentReader::Tell(void* place)
{
	return static_cast<Place*>(place)->position;
}

} // namespace gogo
