// The parallel encoder's frame handling on any bytes: cutting a stream into
// frames with their own main data, laying them out again over the bit
// reservoir, joining two overlapping runs of them, and reading and patching
// a Xing/LAME tag. Laid out again, every frame must carry exactly the main
// data it had.
#include "LameTag.h"
#include "Mp3Frame.h"
#include "Mp3Repacker.h"
#include "SegmentJoiner.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

// The frames placed, then the output cut into frames again: the same main
// data, frame for frame, and main_data_begin within the format's limit.
void CheckLaidOut(const std::vector<gogo::Mp3Frame>& placed, const std::vector<unsigned char>& out)
{
	// The output has no Info frame, whatever its first frame's bytes spell.
	const gogo::SplitResult again = gogo::SplitFrames(out.data(), out.size(), false);
	if (!again.ok || again.frames.size() != placed.size() || again.consumed != out.size())
		std::abort();
	for (size_t i = 0; i < placed.size(); i++) {
		if (again.frames[i].mainData != placed[i].mainData)
			std::abort();
		if (again.frames[i].mainDataBegin > again.frames[i].header.MaxMainDataBegin())
			std::abort();
	}
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	const gogo::SplitResult split = gogo::SplitFrames(data, size);
	if (split.consumed > size || split.infoFrameBytes > size)
		std::abort();

	// Every frame, laid out again (growing where the reservoir is short).
	std::vector<unsigned char> out;
	std::vector<gogo::Mp3Frame> placed;
	{
		gogo::Mp3Repacker repacker([&out](const unsigned char* bytes, size_t count) {
			out.insert(out.end(), bytes, bytes + count);
			return true;
		});
		for (gogo::Mp3Frame frame : split.frames) {
			const auto result = repacker.Add(frame, true);
			if (result == gogo::Mp3Repacker::Placed::NoRoom)
				break;
			if (result == gogo::Mp3Repacker::Placed::SinkFailed)
				std::abort();
			placed.push_back(frame);
		}
		if (!repacker.Finish() || repacker.Bytes() != out.size())
			std::abort();
	}
	CheckLaidOut(placed, out);

	// The first two thirds and the last two thirds as two segments, the
	// second's first frames (up to two) as its warm-up's last ones.
	const int64_t count = static_cast<int64_t>(split.frames.size());
	if (count >= 3) {
		const int64_t second = count / 3, end = count * 2 / 3;
		const int64_t back = std::min<int64_t>(2, (end - second) / 2);
		const int64_t start = second + back;
		std::vector<gogo::Mp3Frame> a(split.frames.begin(), split.frames.begin() + end);
		std::vector<gogo::Mp3Frame> b(split.frames.begin() + second, split.frames.end());
		std::vector<unsigned char> joined;
		gogo::SegmentJoiner joiner(
			[&joined](const unsigned char* bytes, size_t n) {
				joined.insert(joined.end(), bytes, bytes + n);
				return true;
			},
			static_cast<int>(end - start), static_cast<int>(back));
		if (joiner.Add(0, 0, start, a) && joiner.Add(second, start, -1, b) && joiner.Finish()) {
			// Frames alike in both: the joined stream holds them all.
			if (joiner.Frames() != count || joiner.MusicCrc() != gogo::LameCrc(joined.data(), joined.size()))
				std::abort();
		}
	}

	// A tag, read and patched.
	if (auto tag = gogo::ReadInfoTag(data, size)) {
		gogo::FrameHeader header;
		if (gogo::ParseFrameHeader(data, header) && static_cast<size_t>(header.frameBytes) <= size) {
			std::vector<unsigned char> frame(data, data + header.frameBytes);
			gogo::StreamTotals totals;
			totals.frames = 7;
			totals.radioGain = -3;
			if (gogo::PatchInfoTag(frame, totals)) {
				const auto read = gogo::ReadInfoTag(frame.data(), frame.size());
				if (!read || read->frames != 7 || !read->tagCrcValid)
					std::abort();
			}
		}
	}
	return 0;
}
