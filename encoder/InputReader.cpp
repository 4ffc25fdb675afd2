#include "InputReader.h"

#include <algorithm>

namespace gogo {

std::string OneLine(const char* text)
{
	std::string line = text != nullptr ? text : "";
	for (char& c : line) {
		if (c == '\n' || c == '\r' || c == '\t')
			c = ' ';
	}
	while (!line.empty() && (line.back() == ' ' || line.back() == '.'))
		line.pop_back();
	return line;
}

std::string ReadErrorText(SNDFILE* file)
{
	const char* text = sf_strerror(file);
	return text != nullptr && *text != '\0' ? text : "read error";
}

bool ReadsAsFloat(int format)
{
	switch (format & SF_FORMAT_SUBMASK) {
	case SF_FORMAT_FLOAT:
	case SF_FORMAT_DOUBLE:
	case SF_FORMAT_VORBIS:
	case SF_FORMAT_OPUS:
	case SF_FORMAT_MPEG_LAYER_I:
	case SF_FORMAT_MPEG_LAYER_II:
	case SF_FORMAT_MPEG_LAYER_III:
		return true;
	default:
		return false;
	}
}

sf_count_t BlockFrames(int sampleRate)
{
	constexpr sf_count_t kMaxBlock = 65536, kMinBlock = 1024;
	if (sampleRate >= 32000)
		return kMaxBlock;
	return std::max<sf_count_t>(kMinBlock, sampleRate);
}

void ClipFloatSamples(float* samples, size_t count)
{
	for (size_t i = 0; i < count; i++) {
		const float sample = samples[i];
		samples[i] = sample != sample ? 0.0f : std::clamp(sample, -1.0f, 1.0f);
	}
}

} // namespace gogo
