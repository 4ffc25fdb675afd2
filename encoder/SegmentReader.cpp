#include "SegmentReader.h"

#include "InputReader.h"
#include "SegmentWorkers.h"

#include <cerrno>
#include <cstring>

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
	case SF_FORMAT_RAW: // the samples of a WAV or AIFF whose header understates them
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
	if (!source.view.Valid() || source.frames <= 0 || !FixedPlaces(source.format))
		return false;
	SegmentReader probe;
	return probe.Open(source, 0);
}

bool SegmentReader::Open(const ParallelSource& source, int64_t start)
{
	if (!fView.Open(source.view)) {
		fError = fView.Error();
		return false;
	}
	// The same file as the caller's handle sees, or nothing: a file changed
	// under us is read in order instead, where its end shows.
	const SF_INFO& info = fView.Info();
	if (info.format != source.format || info.channels != source.channels
			|| info.samplerate != source.sampleRate || info.frames != source.frames) {
		fError = "the input changed while it was being read";
		return false;
	}
	if (sf_seek(fView.Get(), start, SEEK_SET) != start) {
		fError = ReadErrorText(fView.Get());
		return false;
	}
	return true;
}

sf_count_t SegmentReader::Read(Samples& samples, sf_count_t frames)
{
	const sf_count_t got = samples.Read(fView.Get(), frames, fError);
	// What the system said of a read comes first: libsndfile sees it only
	// as a short read.
	if (fView.ReadErrno() != 0) {
		fError = std::strerror(fView.ReadErrno());
		return -1;
	}
	return got;
}

} // namespace gogo
