#include "Mp3Frame.h"

#include <algorithm>
#include <cstring>

namespace gogo {

namespace {

constexpr int kBitratesMpeg1[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256,
	320, 0};
constexpr int kBitratesMpeg2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
constexpr int kSampleRates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000},
	{11025, 12000, 8000}};

int BitrateKbps(int version, int index)
{
	return version == 1 ? kBitratesMpeg1[index] : kBitratesMpeg2[index];
}

int FrameBytes(int version, int kbps, int sampleRate, bool padding)
{
	const int factor = version == 1 ? 144000 : 72000;
	return factor * kbps / sampleRate + (padding ? 1 : 0);
}

// Reads big-endian bit fields, never past the end it was given.
class BitReader {
public:
	BitReader(const unsigned char* data, int bytes) : fData(data), fBits(bytes * 8) {}
	unsigned Read(int count)
	{
		unsigned value = 0;
		for (int i = 0; i < count; i++) {
			unsigned bit = 0;
			if (fPosition < fBits)
				bit = (fData[fPosition >> 3] >> (7 - (fPosition & 7))) & 1u;
			value = (value << 1) | bit;
			fPosition++;
		}
		return value;
	}
	void Skip(int count) { fPosition += count; }

private:
	const unsigned char* fData;
	int fBits;
	int fPosition = 0;
};

void UpdateCrc(uint16_t& crc, unsigned char byte)
{
	for (int bit = 7; bit >= 0; bit--) {
		const bool in = ((byte >> bit) & 1) != 0;
		const bool top = (crc & 0x8000) != 0;
		crc = static_cast<uint16_t>(crc << 1);
		if (in != top)
			crc ^= 0x8005;
	}
}

void RewriteCrc(Mp3Frame& frame)
{
	if (!frame.header.protection)
		return;
	const uint16_t crc = FrameCrc(frame.header, frame.prefix.data());
	frame.prefix[4] = static_cast<unsigned char>(crc >> 8);
	frame.prefix[5] = static_cast<unsigned char>(crc & 0xff);
}

} // namespace

bool ParseFrameHeader(const unsigned char* bytes, FrameHeader& header)
{
	if (bytes[0] != 0xff || (bytes[1] & 0xe0) != 0xe0)
		return false;
	const int versionBits = (bytes[1] >> 3) & 3;
	const int layerBits = (bytes[1] >> 1) & 3;
	if (versionBits == 1 || layerBits != 1)
		return false;
	const int bitrateIndex = bytes[2] >> 4;
	const int sampleRateIndex = (bytes[2] >> 2) & 3;
	if (bitrateIndex == 0 || bitrateIndex == 15 || sampleRateIndex == 3)
		return false;
	FrameHeader h;
	h.version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 25;
	h.protection = (bytes[1] & 1) == 0;
	h.bitrateIndex = bitrateIndex;
	h.sampleRateIndex = sampleRateIndex;
	h.padding = ((bytes[2] >> 1) & 1) != 0;
	h.mode = bytes[3] >> 6;
	h.channels = h.mode == 3 ? 1 : 2;
	h.bitrateKbps = BitrateKbps(h.version, bitrateIndex);
	const int table = h.version == 1 ? 0 : h.version == 2 ? 1 : 2;
	h.sampleRate = kSampleRates[table][sampleRateIndex];
	h.frameBytes = FrameBytes(h.version, h.bitrateKbps, h.sampleRate, h.padding);
	if (h.version == 1)
		h.sideInfoBytes = h.channels == 1 ? 17 : 32;
	else
		h.sideInfoBytes = h.channels == 1 ? 9 : 17;
	h.granules = h.version == 1 ? 2 : 1;
	if (h.frameBytes < h.PrefixBytes())
		return false;
	header = h;
	return true;
}

int FrameBytesFor(const FrameHeader& header, int bitrateIndex)
{
	if (bitrateIndex < 1 || bitrateIndex > 14)
		return 0;
	return FrameBytes(header.version, BitrateKbps(header.version, bitrateIndex), header.sampleRate,
		header.padding);
}

bool Mp3Frame::SameAudio(const Mp3Frame& other) const
{
	if (header.version != other.header.version || header.channels != other.header.channels
			|| header.protection != other.header.protection || prefix[3] != other.prefix[3]
			|| mainDataBits != other.mainDataBits || mainData != other.mainData) {
		return false;
	}
	// The side info past main_data_begin (9 bits in MPEG-1, 8 in MPEG-2).
	const int start = 4 + (header.protection ? 2 : 0);
	const int end = header.PrefixBytes();
	int from = start + 1;
	if (header.version == 1) {
		if ((prefix[from] & 0x7f) != (other.prefix[from] & 0x7f))
			return false;
		from++;
	}
	return std::equal(prefix.begin() + from, prefix.begin() + end, other.prefix.begin() + from);
}

void ReadSideInfo(const FrameHeader& header, const unsigned char* sideInfo, int& mainDataBegin,
	int& mainDataBits)
{
	BitReader bits(sideInfo, header.sideInfoBytes);
	const int channels = header.channels;
	int total = 0;
	if (header.version == 1) {
		mainDataBegin = static_cast<int>(bits.Read(9));
		bits.Skip(channels == 1 ? 5 : 3); // private bits
		bits.Skip(4 * channels);          // scfsi
		for (int granule = 0; granule < 2; granule++) {
			for (int channel = 0; channel < channels; channel++) {
				total += static_cast<int>(bits.Read(12));
				bits.Skip(59 - 12);
			}
		}
	} else {
		mainDataBegin = static_cast<int>(bits.Read(8));
		bits.Skip(channels == 1 ? 1 : 2);
		for (int channel = 0; channel < channels; channel++) {
			total += static_cast<int>(bits.Read(12));
			bits.Skip(63 - 12);
		}
	}
	mainDataBits = total;
}

uint16_t FrameCrc(const FrameHeader& header, const unsigned char* prefix)
{
	uint16_t crc = 0xffff;
	UpdateCrc(crc, prefix[2]);
	UpdateCrc(crc, prefix[3]);
	const int start = 4 + (header.protection ? 2 : 0);
	for (int i = 0; i < header.sideInfoBytes; i++)
		UpdateCrc(crc, prefix[start + i]);
	return crc;
}

void SetMainDataBegin(Mp3Frame& frame, int mainDataBegin)
{
	const int start = 4 + (frame.header.protection ? 2 : 0);
	unsigned char* side = frame.prefix.data() + start;
	if (frame.header.version == 1) {
		side[0] = static_cast<unsigned char>((mainDataBegin >> 1) & 0xff);
		side[1] = static_cast<unsigned char>((side[1] & 0x7f) | ((mainDataBegin & 1) << 7));
	} else {
		side[0] = static_cast<unsigned char>(mainDataBegin & 0xff);
	}
	frame.mainDataBegin = mainDataBegin;
	RewriteCrc(frame);
}

void SetBitrateIndex(Mp3Frame& frame, int bitrateIndex)
{
	const int bytes = FrameBytesFor(frame.header, bitrateIndex);
	if (bytes == 0)
		return;
	frame.prefix[2] = static_cast<unsigned char>((frame.prefix[2] & 0x0f) | (bitrateIndex << 4));
	frame.header.bitrateIndex = bitrateIndex;
	frame.header.bitrateKbps = BitrateKbps(frame.header.version, bitrateIndex);
	frame.header.frameBytes = bytes;
	RewriteCrc(frame);
}

bool IsInfoFrame(const FrameHeader& header, const unsigned char* frame, size_t size)
{
	const size_t offset = 4 + static_cast<size_t>(header.sideInfoBytes);
	if (size < offset + 4)
		return false;
	return std::memcmp(frame + offset, "Xing", 4) == 0 || std::memcmp(frame + offset, "Info", 4) == 0;
}

SplitResult SplitFrames(const unsigned char* data, size_t size, bool infoFirst)
{
	SplitResult result;
	// The payloads of the audio frames one after another: the space main
	// data is counted in.
	std::vector<unsigned char> stream;
	stream.reserve(size); // never more than the frames' bytes: no copies as it grows
	size_t position = 0;
	bool first = true;
	FrameHeader shape; // version, rate and channels of the first frame
	while (position + 4 <= size) {
		FrameHeader header;
		if (!ParseFrameHeader(data + position, header)) {
			result.ok = false;
			break;
		}
		if (first) {
			shape = header;
		} else if (header.version != shape.version || header.sampleRateIndex != shape.sampleRateIndex
				|| header.channels != shape.channels) {
			result.ok = false;
			break;
		}
		const size_t frameBytes = static_cast<size_t>(header.frameBytes);
		const size_t available = std::min(frameBytes, size - position);
		if (first && infoFirst && IsInfoFrame(header, data + position, available)) {
			first = false;
			if (available < frameBytes)
				break;
			result.infoFrameBytes = frameBytes;
			position += frameBytes;
			result.consumed = position;
			continue;
		}
		first = false;
		const size_t prefixBytes = static_cast<size_t>(header.PrefixBytes());
		if (available < prefixBytes)
			break;
		Mp3Frame frame;
		frame.header = header;
		std::memcpy(frame.prefix.data(), data + position, prefixBytes);
		ReadSideInfo(header, data + position + 4 + (header.protection ? 2 : 0), frame.mainDataBegin,
			frame.mainDataBits);
		const size_t payloadStart = stream.size();
		stream.insert(stream.end(), data + position + prefixBytes, data + position + available);
		const size_t mainBytes = (static_cast<size_t>(frame.mainDataBits) + 7) / 8;
		const size_t begin = static_cast<size_t>(frame.mainDataBegin);
		if (begin > payloadStart || payloadStart - begin + mainBytes > payloadStart
				+ static_cast<size_t>(header.PayloadBytes())) {
			// Main data before the first frame, or running into the next one.
			result.ok = false;
			break;
		}
		const size_t start = payloadStart - begin;
		if (start + mainBytes > stream.size())
			break; // not all there yet
		frame.mainData.assign(stream.begin() + static_cast<std::ptrdiff_t>(start),
			stream.begin() + static_cast<std::ptrdiff_t>(start + mainBytes));
		result.frames.push_back(std::move(frame));
		if (available < frameBytes)
			break;
		position += frameBytes;
		result.consumed = position;
	}
	return result;
}

} // namespace gogo
