#include "InputLength.h"

#include <cinttypes>
#include <cstdio>
#include <utility>

namespace gogo {

std::string Duration(int64_t frames, int sampleRate)
{
	if (sampleRate <= 0)
		return "?";
	const double seconds = static_cast<double>(frames) / sampleRate;
	char text[64];
	if (seconds < 59.95) {
		snprintf(text, sizeof(text), "%.1f s", seconds);
	} else if (seconds < 3600) {
		const int64_t whole = static_cast<int64_t>(seconds + 0.5);
		snprintf(text, sizeof(text), "%" PRId64 " min %" PRId64 " s", whole / 60, whole % 60);
	} else {
		const int64_t minutes = static_cast<int64_t>(seconds / 60 + 0.5);
		snprintf(text, sizeof(text), "%" PRId64 " h %" PRId64 " min", minutes / 60, minutes % 60);
	}
	return text;
}

std::string UnderstatedNote(const InputExtent& extent)
{
	if (extent.kind != InputExtent::Kind::Pcm || extent.heldFrames == 0)
		return {};
	const int rate = extent.layout.sampleRate;
	if (!extent.declaredKnown) {
		return "its header does not give the audio's length (a recording never finished?); the"
			" file holds " + Duration(extent.heldFrames, rate) + ", all of it is encoded";
	}
	if (!extent.HoldsMore())
		return {};
	return "its header declares " + Duration(extent.declaredFrames, rate) + " of audio but the file"
		" holds " + Duration(extent.heldFrames, rate) + "; all of it is encoded";
}

std::string LongerStreamNote(int64_t declared, int64_t held, int sampleRate)
{
	return "its header declares " + Duration(declared, sampleRate) + " of audio but the stream"
		" holds " + Duration(held, sampleRate) + "; all of it is encoded";
}

namespace {

std::string Truncation(int64_t had, int64_t declared, int sampleRate)
{
	const int64_t percent = declared > 0 ? had * 100 / declared : 0;
	return "holds only " + Duration(had, sampleRate) + " of the " + Duration(declared, sampleRate)
		+ " of audio its header declares (" + std::to_string(percent) + "%): it was cut short or"
		" damaged, or is still being written";
}

} // namespace

LengthVerdict JudgeLength(const InputExtent& extent, const EncodedLength& encoded)
{
	LengthVerdict verdict;
	const int rate = encoded.sampleRate;
	auto incomplete = [&verdict](std::string text) {
		verdict.truncated = true;
		verdict.truncation = std::move(text);
		verdict.keepReason = "it is incomplete";
		return verdict;
	};
	auto cut = [&](int64_t declared) {
		return incomplete(Truncation(encoded.frames, declared, rate));
	};
	switch (extent.kind) {
	case InputExtent::Kind::Pcm:
		// The file's size says what is there; the header what should be.
		if (extent.HoldsLess())
			return cut(extent.declaredFrames);
		if (encoded.frames < extent.heldFrames)
			return cut(extent.heldFrames); // it shrank while it was read
		// A recorder's mark for a length not known yet: it may still be
		// writing.
		if (!extent.declaredKnown) {
			verdict.keepReason = "its header does not give its length (it may still be being"
				" recorded), so the encode cannot be checked as complete";
		}
		return verdict;
	default:
		break;
	}
	// A compressed stream: as long as it decodes.
	if (encoded.declared > 0 && encoded.frames < encoded.declared)
		return cut(encoded.declared);
	if (!encoded.streamEnd) {
		return incomplete("could be decoded only as far as " + Duration(encoded.frames, rate) + " ("
			+ encoded.stopped + "): the rest of it is damaged or missing");
	}
	switch (extent.kind) {
	case InputExtent::Kind::Flac:
		return verdict;
	case InputExtent::Kind::Ogg:
		if (!extent.streamEnded) {
			return incomplete("is cut short: its last page does not end its stream, so some of its"
				" audio is missing (" + Duration(encoded.frames, rate) + " could be read)");
		}
		return verdict;
	default:
		verdict.keepReason = "only inputs of uncompressed WAV, RF64 or W64, AIFF, FLAC or Ogg can be"
			" checked as complete";
		return verdict;
	}
	return verdict;
}

} // namespace gogo
