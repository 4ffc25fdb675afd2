// The parallel encoder's MP3 plumbing on frames made by hand and by LAME:
// reading Layer III headers and side info, cutting a stream into frames
// with their own main data, laying frames out again over the bit reservoir,
// joining overlapping segments, and the Xing/LAME tag.
#include "LameTag.h"
#include "Mp3Frame.h"
#include "Mp3Repacker.h"
#include "SegmentJoiner.h"

#include <gtest/gtest.h>
#include <lame/lame.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using gogo::FrameHeader;
using gogo::Mp3Frame;
using gogo::Mp3Repacker;

// ---- frames made by hand ------------------------------------------------------

class BitWriter {
public:
	explicit BitWriter(unsigned char* data) : fData(data) {}
	void Put(unsigned value, int bits)
	{
		for (int i = bits - 1; i >= 0; i--) {
			// Runs of zeros are written as one wide field: past 32 bits, zeros.
			const unsigned bit = i < 32 ? (value >> i) & 1u : 0u;
			fData[fPosition >> 3] = static_cast<unsigned char>(fData[fPosition >> 3] | (bit << (7 - (fPosition & 7))));
			fPosition++;
		}
	}

private:
	unsigned char* fData;
	int fPosition = 0;
};

// An MPEG-1 Layer III joint-stereo header: 44.1 kHz unless rateIndex says.
std::vector<unsigned char> Header(int bitrateIndex, bool padding, int rateIndex = 0)
{
	return {0xff, 0xfb, static_cast<unsigned char>((bitrateIndex << 4) | (rateIndex << 2) | (padding ? 2 : 0)),
		0x64};
}

// Side info (32 bytes, MPEG-1 stereo) with main_data_begin and the four
// part2_3_lengths that add up to bits; the other fields carry a marker so
// that frames can be told apart.
std::vector<unsigned char> SideInfo(int mainDataBegin, int bits, int marker)
{
	std::vector<unsigned char> side(32, 0);
	BitWriter writer(side.data());
	writer.Put(static_cast<unsigned>(mainDataBegin), 9);
	writer.Put(0, 3);
	writer.Put(0, 8);
	for (int i = 0; i < 4; i++) {
		const int share = bits / 4 + (i < bits % 4 ? 1 : 0);
		writer.Put(static_cast<unsigned>(share), 12);
		writer.Put(static_cast<unsigned>(marker & 0x1ff), 9); // big_values
		writer.Put(0, 47 - 9);
	}
	return side;
}

struct HandFrame {
	int bitrateIndex = 9; // 128 kbps
	bool padding = false;
	int mainBytes = 0;
	int mainDataBegin = 0; // where its data starts, back from its payload
	int marker = 0;
};

// Lays the frames out as given (each main_data_begin as stated) into a
// stream; main data bytes are marker-derived so that each frame's can be
// recognised. Returns an empty stream when a frame would not fit as stated.
std::vector<unsigned char> MakeStream(const std::vector<HandFrame>& frames, int rateIndex = 0)
{
	std::vector<unsigned char> out;
	std::vector<size_t> payloadFileOffsets; // per payload byte: its offset in out
	for (const HandFrame& f : frames) {
		const std::vector<unsigned char> header = Header(f.bitrateIndex, f.padding, rateIndex);
		FrameHeader parsed;
		if (!gogo::ParseFrameHeader(header.data(), parsed))
			return {};
		const std::vector<unsigned char> side = SideInfo(f.mainDataBegin, f.mainBytes * 8, f.marker);
		const size_t start = payloadFileOffsets.size();
		out.insert(out.end(), header.begin(), header.end());
		out.insert(out.end(), side.begin(), side.end());
		for (int i = 0; i < parsed.PayloadBytes(); i++) {
			payloadFileOffsets.push_back(out.size());
			out.push_back(0);
		}
		if (static_cast<size_t>(f.mainDataBegin) > start)
			return {};
		const size_t begin = start - static_cast<size_t>(f.mainDataBegin);
		if (begin + static_cast<size_t>(f.mainBytes) > payloadFileOffsets.size())
			return {};
		for (int i = 0; i < f.mainBytes; i++)
			out[payloadFileOffsets[begin + static_cast<size_t>(i)]] = static_cast<unsigned char>(f.marker * 31 + i);
	}
	return out;
}

// Gives a frame main data of another size, its side info saying so.
void SetMainData(Mp3Frame& frame, int bytes, unsigned char fill)
{
	const std::vector<unsigned char> side = SideInfo(frame.mainDataBegin, bytes * 8, 0);
	std::memcpy(frame.prefix.data() + 4, side.data(), side.size());
	frame.mainData.assign(static_cast<size_t>(bytes), fill);
	frame.mainDataBits = bytes * 8;
}

std::vector<unsigned char> ExpectedMainData(const HandFrame& f)
{
	std::vector<unsigned char> data;
	for (int i = 0; i < f.mainBytes; i++)
		data.push_back(static_cast<unsigned char>(f.marker * 31 + i));
	return data;
}

std::vector<Mp3Frame> Split(const std::vector<unsigned char>& stream)
{
	const gogo::SplitResult split = gogo::SplitFrames(stream.data(), stream.size());
	EXPECT_TRUE(split.ok);
	return split.frames;
}

// The repacked stream of frames, and each frame's placement.
struct Repacked {
	std::vector<unsigned char> bytes;
	std::vector<Mp3Repacker::Placed> placed;
	size_t emittedBeforeFinish = 0;
};

Repacked Repack(std::vector<Mp3Frame> frames, bool mayEnlarge)
{
	Repacked result;
	Mp3Repacker repacker([&result](const unsigned char* data, size_t size) {
		result.bytes.insert(result.bytes.end(), data, data + size);
		return true;
	});
	for (Mp3Frame& frame : frames)
		result.placed.push_back(repacker.Add(frame, mayEnlarge));
	result.emittedBeforeFinish = result.bytes.size();
	EXPECT_TRUE(repacker.Finish());
	EXPECT_EQ(result.bytes.size(), repacker.Bytes());
	return result;
}

// ---- headers and side info ----------------------------------------------------

TEST(Mp3Frames, HeadersGiveSizesAndRefuseWhatIsNotLayerThree)
{
	FrameHeader h;
	ASSERT_TRUE(gogo::ParseFrameHeader(Header(9, false).data(), h));
	EXPECT_EQ(h.version, 1);
	EXPECT_EQ(h.bitrateKbps, 128);
	EXPECT_EQ(h.sampleRate, 44100);
	EXPECT_EQ(h.frameBytes, 417); // 144000 * 128 / 44100
	EXPECT_EQ(h.channels, 2);
	EXPECT_EQ(h.sideInfoBytes, 32);
	EXPECT_EQ(h.PayloadBytes(), 417 - 36);
	ASSERT_TRUE(gogo::ParseFrameHeader(Header(9, true).data(), h));
	EXPECT_EQ(h.frameBytes, 418);
	ASSERT_TRUE(gogo::ParseFrameHeader(Header(14, false, 2).data(), h));
	EXPECT_EQ(h.frameBytes, 1440); // 320 kbps at 32 kHz
	EXPECT_EQ(gogo::FrameBytesFor(h, 9), 576);

	// MPEG-2, mono, 22.05 kHz, 64 kbps, with a CRC.
	const unsigned char mpeg2[4] = {0xff, 0xf2, 0x80, 0xc0};
	ASSERT_TRUE(gogo::ParseFrameHeader(mpeg2, h));
	EXPECT_EQ(h.version, 2);
	EXPECT_TRUE(h.protection);
	EXPECT_EQ(h.bitrateKbps, 64);
	EXPECT_EQ(h.sampleRate, 22050);
	EXPECT_EQ(h.channels, 1);
	EXPECT_EQ(h.sideInfoBytes, 9);
	EXPECT_EQ(h.frameBytes, 72000 * 64 / 22050);
	EXPECT_EQ(h.PrefixBytes(), 4 + 2 + 9);
	EXPECT_EQ(h.MaxMainDataBegin(), 255);

	const unsigned char notOnes[4][4] = {
		{0xff, 0xfd, 0x90, 0x64}, // Layer II
		{0xff, 0xfb, 0xf0, 0x64}, // bit rate index 15
		{0xff, 0xfb, 0x00, 0x64}, // free format
		{0xff, 0xfb, 0x9c, 0x64}, // reserved sample rate
	};
	for (const auto& bytes : notOnes)
		EXPECT_FALSE(gogo::ParseFrameHeader(bytes, h));
}

TEST(Mp3Frames, SideInfoIsReadAndMainDataBeginRewritten)
{
	Mp3Frame frame;
	const std::vector<unsigned char> header = Header(9, false);
	ASSERT_TRUE(gogo::ParseFrameHeader(header.data(), frame.header));
	const std::vector<unsigned char> side = SideInfo(300, 4001, 77);
	std::memcpy(frame.prefix.data(), header.data(), 4);
	std::memcpy(frame.prefix.data() + 4, side.data(), side.size());
	gogo::ReadSideInfo(frame.header, frame.prefix.data() + 4, frame.mainDataBegin, frame.mainDataBits);
	EXPECT_EQ(frame.mainDataBegin, 300);
	EXPECT_EQ(frame.mainDataBits, 4001);

	const Mp3Frame before = frame;
	for (int begin : {0, 1, 256, 511}) {
		gogo::SetMainDataBegin(frame, begin);
		int read = -1, bits = -1;
		gogo::ReadSideInfo(frame.header, frame.prefix.data() + 4, read, bits);
		EXPECT_EQ(read, begin);
		EXPECT_EQ(bits, 4001);
		EXPECT_TRUE(frame.SameAudio(before)); // nothing else moved
	}
	Mp3Frame other = before;
	other.prefix[20] ^= 0x10;
	EXPECT_FALSE(other.SameAudio(before));
}

// The CRC of frames LAME protects is the one FrameCrc computes, and stays
// right when main_data_begin is rewritten.
TEST(Mp3Frames, FrameCrcIsLamesAndFollowsRewrites)
{
	lame_global_flags* gf = lame_init();
	ASSERT_NE(gf, nullptr);
	lame_set_num_channels(gf, 2);
	lame_set_in_samplerate(gf, 44100);
	lame_set_brate(gf, 128);
	lame_set_error_protection(gf, 1);
	lame_set_bWriteVbrTag(gf, 0);
	ASSERT_GE(lame_init_params(gf), 0);
	std::vector<short> pcm(2 * 44100);
	std::mt19937 random(5);
	std::uniform_int_distribution<int> noise(-8000, 8000);
	for (short& s : pcm)
		s = static_cast<short>(noise(random));
	std::vector<unsigned char> mp3(200000);
	int size = lame_encode_buffer_interleaved(gf, pcm.data(), 44100, mp3.data(), static_cast<int>(mp3.size()));
	ASSERT_GT(size, 0);
	size += lame_encode_flush(gf, mp3.data() + size, static_cast<int>(mp3.size()) - size);
	lame_close(gf);
	mp3.resize(static_cast<size_t>(size));

	const gogo::SplitResult split = gogo::SplitFrames(mp3.data(), mp3.size());
	ASSERT_TRUE(split.ok);
	ASSERT_GT(split.frames.size(), 30u);
	int reservoirUsed = 0;
	for (Mp3Frame frame : split.frames) {
		ASSERT_TRUE(frame.header.protection);
		const uint16_t stored = static_cast<uint16_t>((frame.prefix[4] << 8) | frame.prefix[5]);
		EXPECT_EQ(gogo::FrameCrc(frame.header, frame.prefix.data()), stored);
		reservoirUsed += frame.mainDataBegin > 0;
		gogo::SetMainDataBegin(frame, (frame.mainDataBegin + 7) % 512);
		int begin = -1, bits = -1;
		gogo::ReadSideInfo(frame.header, frame.prefix.data() + 6, begin, bits);
		EXPECT_EQ(begin, frame.mainDataBegin);
		const uint16_t rewritten = static_cast<uint16_t>((frame.prefix[4] << 8) | frame.prefix[5]);
		EXPECT_EQ(gogo::FrameCrc(frame.header, frame.prefix.data()), rewritten);
	}
	EXPECT_GT(reservoirUsed, 0); // the frames did reach back
}

// ---- cutting streams into frames -------------------------------------------------

TEST(Mp3Frames, SplittingFollowsMainDataAcrossSlots)
{
	// Payload 381 bytes a frame: frame 1 borrows 200 bytes of frame 0's
	// slot, frame 2 reaches back 150 bytes, frame 3 has no main data.
	const std::vector<HandFrame> frames = {
		{9, false, 181, 0, 1},
		{9, false, 500, 200, 2},
		{9, true, 300, 81, 3},
		{9, false, 0, 0, 4},
		{9, false, 381, 0, 5},
	};
	const std::vector<unsigned char> stream = MakeStream(frames);
	ASSERT_FALSE(stream.empty());
	const gogo::SplitResult split = gogo::SplitFrames(stream.data(), stream.size());
	ASSERT_TRUE(split.ok);
	ASSERT_EQ(split.frames.size(), frames.size());
	EXPECT_EQ(split.consumed, stream.size());
	for (size_t i = 0; i < frames.size(); i++) {
		EXPECT_EQ(split.frames[i].mainData, ExpectedMainData(frames[i])) << "frame " << i;
		EXPECT_EQ(split.frames[i].mainDataBegin, frames[i].mainDataBegin);
	}

	// A stream cut inside the last frame: its main data is not all there.
	const gogo::SplitResult cut = gogo::SplitFrames(stream.data(), stream.size() - 10);
	EXPECT_TRUE(cut.ok);
	EXPECT_EQ(cut.frames.size(), frames.size() - 1);
	// Cut after frame 2's data but inside its slot: frame 2 is whole.
	const gogo::SplitResult partial = gogo::SplitFrames(stream.data(), 417 * 2 + 36 + 220);
	EXPECT_EQ(partial.frames.size(), 3u);

	// Audio whose first bytes of main data spell "Info" is audio when the
	// caller knows there is no Info frame.
	std::vector<unsigned char> spelled = MakeStream({{9, false, 100, 0, 1}, {9, false, 100, 0, 2}});
	std::memcpy(spelled.data() + 36, "Info", 4);
	EXPECT_EQ(gogo::SplitFrames(spelled.data(), spelled.size(), false).frames.size(), 2u);
	const gogo::SplitResult taken = gogo::SplitFrames(spelled.data(), spelled.size(), true);
	EXPECT_EQ(taken.frames.size(), 1u);
	EXPECT_EQ(taken.infoFrameBytes, 417u);

	// Main data said to start before the stream, or garbage where a header
	// should be, is refused.
	std::vector<unsigned char> early = MakeStream({{9, false, 100, 0, 1}});
	early[4] = 0x80; // main_data_begin 256 in the first frame
	EXPECT_FALSE(gogo::SplitFrames(early.data(), early.size()).ok);
	std::vector<unsigned char> garbage = stream;
	garbage[417] = 0x00;
	const gogo::SplitResult broken = gogo::SplitFrames(garbage.data(), garbage.size());
	EXPECT_FALSE(broken.ok);
	EXPECT_EQ(broken.frames.size(), 1u);
}

// ---- laying frames out again ------------------------------------------------------

// Frames of the given main data sizes, each starting right after the one
// before but reaching back at most `reach` bytes, as an encoder with a
// smaller reservoir than the format allows would lay them out.
std::vector<HandFrame> Reaching(const std::vector<int>& sizes, int reach)
{
	std::vector<HandFrame> frames;
	int end = 0, slot = 0;
	for (size_t i = 0; i < sizes.size(); i++) {
		const int begin = std::max(end, slot - reach);
		frames.push_back({9, false, sizes[i], slot - begin, static_cast<int>(i) + 1});
		end = begin + sizes[i];
		slot += 381;
		if (end > slot)
			return {}; // does not fit
	}
	return frames;
}

TEST(Mp3Repacker, MainDataGoesAsEarlyAsTheReservoirAllows)
{
	// Small frames leave room that later big ones use; laid out again,
	// every frame's data starts right after the one before, or 511 bytes
	// back, whichever is later.
	const std::vector<HandFrame> frames
		= Reaching({100, 50, 0, 381, 500, 200, 520, 10, 381, 381, 450, 1, 0, 0, 0, 0, 381}, 150);
	ASSERT_FALSE(frames.empty());
	const std::vector<unsigned char> stream = MakeStream(frames);
	ASSERT_FALSE(stream.empty());
	const Repacked repacked = Repack(Split(stream), false);
	ASSERT_EQ(repacked.bytes.size(), stream.size()); // the slots do not change
	const std::vector<Mp3Frame> again = Split(repacked.bytes);
	ASSERT_EQ(again.size(), frames.size());
	int previousEnd = 0, slotStart = 0, earlier = 0;
	for (size_t i = 0; i < frames.size(); i++) {
		EXPECT_EQ(again[i].mainData, ExpectedMainData(frames[i])) << "frame " << i;
		const int begin = slotStart - again[i].mainDataBegin;
		EXPECT_EQ(begin, i == 0 ? 0 : std::max(previousEnd, slotStart - 511)) << "frame " << i;
		earlier += again[i].mainDataBegin > frames[i].mainDataBegin;
		previousEnd = begin + again[i].MainDataBytes();
		slotStart += again[i].header.PayloadBytes();
		EXPECT_EQ(repacked.placed[i], Mp3Repacker::Placed::AsItWas);
	}
	EXPECT_GT(earlier, 0);
}

TEST(Mp3Repacker, AFrameThatDoesNotFitGrowsOrIsRefused)
{
	// After four empty frames the reservoir is full (511 bytes): a frame
	// of 381 + 511 bytes just fits, one more byte does not at 128 kbps.
	std::vector<HandFrame> frames(4, HandFrame{9, false, 0, 0, 1});
	frames.push_back({9, false, 381, 0, 2});
	std::vector<Mp3Frame> split = Split(MakeStream(frames));
	ASSERT_EQ(split.size(), 5u);
	Mp3Frame tooBig = split.back();
	SetMainData(tooBig, 381 + 512, 0x5a);
	Mp3Frame justFits = tooBig;
	SetMainData(justFits, 381 + 511, 0x5a);

	std::vector<unsigned char> sink;
	Mp3Repacker repacker([&sink](const unsigned char* data, size_t size) {
		sink.insert(sink.end(), data, data + size);
		return true;
	});
	for (size_t i = 0; i < 4; i++)
		ASSERT_EQ(repacker.Add(split[i], false), Mp3Repacker::Placed::AsItWas);
	EXPECT_EQ(repacker.Reservoir(tooBig.header), 511);
	EXPECT_TRUE(repacker.Fits(justFits));
	EXPECT_FALSE(repacker.Fits(tooBig));
	EXPECT_EQ(repacker.Add(tooBig, false), Mp3Repacker::Placed::NoRoom);
	EXPECT_EQ(repacker.Frames(), 4);

	// Allowed to grow, it takes the next bit rate up (160 kbps) and keeps
	// its data.
	ASSERT_EQ(repacker.Add(tooBig, true), Mp3Repacker::Placed::Enlarged);
	EXPECT_EQ(tooBig.header.bitrateKbps, 160);
	ASSERT_TRUE(repacker.Finish());
	const std::vector<Mp3Frame> again = Split(sink);
	ASSERT_EQ(again.size(), 5u);
	EXPECT_EQ(again[4].header.bitrateKbps, 160);
	EXPECT_EQ(again[4].mainData, tooBig.mainData);

	// Data beyond even 320 kbps and a full reservoir cannot be placed.
	Mp3Repacker fresh([](const unsigned char*, size_t) { return true; });
	Mp3Frame huge = split.back();
	SetMainData(huge, 2000, 1);
	EXPECT_EQ(fresh.Add(huge, true), Mp3Repacker::Placed::NoRoom);
}

TEST(Mp3Repacker, TheReservoirStaysWithinLamesBufferAndBytesFlowOut)
{
	// 320 kbps at 32 kHz: 1440-byte frames leave 480 bytes of reservoir.
	std::vector<HandFrame> frames(200, HandFrame{14, false, 0, 0, 3});
	for (size_t i = 0; i < frames.size(); i++) {
		frames[i].marker = static_cast<int>(i);
		frames[i].mainBytes = static_cast<int>(i % 7) * 150;
	}
	const std::vector<unsigned char> stream = MakeStream(frames, 2);
	ASSERT_FALSE(stream.empty());
	const std::vector<Mp3Frame> split = Split(stream);
	ASSERT_EQ(split.size(), frames.size());
	const Repacked repacked = Repack(split, false);
	for (const Mp3Frame& frame : Split(repacked.bytes))
		EXPECT_LE(frame.mainDataBegin, 480);
	// All but the last frames' worth went out before the end.
	EXPECT_GE(repacked.emittedBeforeFinish + 2 * 1440, repacked.bytes.size());

	// A sink that refuses stops the repacker for good.
	int calls = 0;
	Mp3Repacker refusing([&calls](const unsigned char*, size_t) { return ++calls < 2; });
	std::vector<Mp3Frame> copy = split;
	Mp3Repacker::Placed last = Mp3Repacker::Placed::AsItWas;
	for (Mp3Frame& frame : copy) {
		last = refusing.Add(frame, false);
		if (last == Mp3Repacker::Placed::SinkFailed)
			break;
	}
	EXPECT_EQ(last, Mp3Repacker::Placed::SinkFailed);
	EXPECT_EQ(refusing.Add(copy.back(), false), Mp3Repacker::Placed::SinkFailed);
	EXPECT_FALSE(refusing.Finish());
}

// ---- joining segments ---------------------------------------------------------------

// count frames of mainBytes each in their own slots, numbered from first.
std::vector<Mp3Frame> Frames(int first, int count, int markerBase, int mainBytes)
{
	std::vector<HandFrame> hand;
	for (int i = 0; i < count; i++)
		hand.push_back({9, false, mainBytes, 0, markerBase + first + i});
	return Split(MakeStream(hand));
}

TEST(SegmentJoiner, JoinsWhereTheEncodersAgreeOrWhereTheNextFitsForGood)
{
	std::vector<unsigned char> out;
	auto sink = [&out](const unsigned char* data, size_t size) {
		out.insert(out.end(), data, data + size);
		return true;
	};
	// Segment A: frames 0..29; segment B starts at frame 20. B's frames
	// 20..23 differ from A's, from 24 on they are alike.
	std::vector<Mp3Frame> a = Frames(0, 30, 0, 200);
	std::vector<Mp3Frame> b = Frames(20, 15, 1000, 200);
	for (size_t i = 4; i < 10; i++)
		b[i] = a[20 + i];
	gogo::SegmentJoiner joiner(sink, 10, 0);
	ASSERT_TRUE(joiner.Add(0, 0, 20, a));
	ASSERT_TRUE(joiner.Add(20, 20, -1, b));
	ASSERT_TRUE(joiner.Finish());
	ASSERT_EQ(joiner.Joins().size(), 1u);
	EXPECT_EQ(joiner.Joins()[0], 24);
	EXPECT_EQ(joiner.Frames(), 35);
	const std::vector<Mp3Frame> joined = Split(out);
	ASSERT_EQ(joined.size(), 35u);
	for (size_t i = 0; i < 24; i++)
		EXPECT_EQ(joined[i].mainData, a[i].mainData) << i;
	for (size_t i = 24; i < 35; i++)
		EXPECT_EQ(joined[i].mainData, b[i - 20].mainData) << i;
	EXPECT_EQ(joiner.EnlargedFrames(), 0);
	EXPECT_EQ(joiner.MusicCrc(), gogo::LameCrc(out.data(), out.size()));
}

TEST(SegmentJoiner, FallsBackOnTheWarmUpAndGrowsFramesOnlyWhenNothingFits)
{
	std::vector<unsigned char> out;
	auto sink = [&out](const unsigned char* data, size_t size) {
		out.insert(out.end(), data, data + size);
		return true;
	};
	// A fills its slots exactly (no reservoir); B's frames each reached
	// back 100 bytes in B's own stream and fill their slots, and the one at
	// frame 15 needs more than its slot. No frame of B fits in the overlap,
	// for good or with those after it.
	std::vector<Mp3Frame> a = Frames(0, 16, 0, 381);
	auto later = [](int first) {
		std::vector<Mp3Frame> b = Frames(first, 20 - first, 500, 381);
		for (Mp3Frame& frame : b)
			frame.mainDataBegin = 100;
		SetMainData(b[static_cast<size_t>(15 - first)], 450, 0x33);
		return b;
	};
	// Without warm-up frames to fall back on, the joiner takes A's frames
	// to the overlap's end and B's frame 15 gets a higher bit rate.
	{
		const std::vector<Mp3Frame> b = later(10);
		gogo::SegmentJoiner joiner(sink, 6, 0);
		ASSERT_TRUE(joiner.Add(0, 0, 10, a));
		ASSERT_TRUE(joiner.Add(10, 10, -1, b));
		ASSERT_TRUE(joiner.Finish());
		ASSERT_EQ(joiner.Joins().size(), 1u);
		EXPECT_EQ(joiner.Joins()[0], 15);
		EXPECT_EQ(joiner.EnlargedFrames(), 1);
		const std::vector<Mp3Frame> joined = Split(out);
		ASSERT_EQ(joined.size(), 20u);
		for (size_t i = 0; i < 15; i++)
			EXPECT_EQ(joined[i].mainData, a[i].mainData) << i;
		for (size_t i = 15; i < 20; i++)
			EXPECT_EQ(joined[i].mainData, b[i - 10].mainData) << i;
		EXPECT_EQ(joined[15].header.bitrateKbps, 160);
		EXPECT_EQ(joined[16].header.bitrateKbps, 128);
	}
	// Given B's last warm-up frames (6 to 9: a fresh encoder that has just
	// started reaches back little and saves), the join falls on the latest
	// of them that fits, and no frame grows.
	{
		out.clear();
		std::vector<Mp3Frame> b = later(6);
		for (size_t i = 0; i < 4; i++) {
			b[i].mainDataBegin = 0;
			SetMainData(b[i], 300, 0x44);
		}
		gogo::SegmentJoiner joiner(sink, 6, 4);
		ASSERT_TRUE(joiner.Add(0, 0, 10, a));
		ASSERT_TRUE(joiner.Add(6, 10, -1, b));
		ASSERT_TRUE(joiner.Finish());
		ASSERT_EQ(joiner.Joins().size(), 1u);
		EXPECT_EQ(joiner.Joins()[0], 9);
		EXPECT_EQ(joiner.EnlargedFrames(), 0);
		const std::vector<Mp3Frame> joined = Split(out);
		ASSERT_EQ(joined.size(), 20u);
		for (size_t i = 0; i < 9; i++)
			EXPECT_EQ(joined[i].mainData, a[i].mainData) << i;
		for (size_t i = 9; i < 20; i++) {
			EXPECT_EQ(joined[i].mainData, b[i - 6].mainData) << i;
			EXPECT_EQ(joined[i].header.bitrateKbps, 128) << i;
		}
	}

	// A later segment that starts after the held one ends leaves a gap.
	gogo::SegmentJoiner gap(sink, 6, 0);
	ASSERT_TRUE(gap.Add(0, 0, 5, Frames(0, 5, 0, 100)));
	EXPECT_FALSE(gap.Add(8, 8, -1, Frames(8, 5, 100, 100)));
	// And one that starts before the stream does is no first segment.
	gogo::SegmentJoiner late(sink, 6, 0);
	EXPECT_FALSE(late.Add(3, 3, -1, Frames(3, 5, 0, 100)));
}

// ---- the Xing/LAME tag ---------------------------------------------------------------

TEST(LameTag, CrcsAreTheStandardOnes)
{
	const std::string check = "123456789";
	const auto* bytes = reinterpret_cast<const unsigned char*>(check.data());
	EXPECT_EQ(gogo::LameCrc(bytes, check.size()), 0xbb3d); // CRC-16/ARC
	// In pieces, as the music CRC is kept.
	EXPECT_EQ(gogo::LameCrc(bytes + 4, 5, gogo::LameCrc(bytes, 4)), 0xbb3d);
	// Bit by bit, as the polynomial defines it, for every length around the
	// steps of eight bytes and every way of cutting a buffer in two.
	std::vector<unsigned char> data(67);
	std::mt19937 random(7);
	for (unsigned char& byte : data)
		byte = static_cast<unsigned char>(random());
	auto bitwise = [](const unsigned char* p, size_t size, uint16_t crc) {
		for (size_t i = 0; i < size; i++) {
			crc ^= p[i];
			for (int bit = 0; bit < 8; bit++)
				crc = static_cast<uint16_t>((crc & 1) != 0 ? (crc >> 1) ^ 0xa001 : crc >> 1);
		}
		return crc;
	};
	for (size_t size = 0; size <= data.size(); size++) {
		const uint16_t expected = bitwise(data.data(), size, 0x1d0f);
		EXPECT_EQ(gogo::LameCrc(data.data(), size, 0x1d0f), expected) << size << " bytes";
		for (size_t cut = 0; cut <= size; cut += 3)
			EXPECT_EQ(gogo::LameCrc(data.data() + cut, size - cut, gogo::LameCrc(data.data(), cut, 0x1d0f)), expected);
	}
}

TEST(LameTag, PatchedFieldsReadBackAndTheRestStays)
{
	lame_global_flags* gf = lame_init();
	ASSERT_NE(gf, nullptr);
	lame_set_num_channels(gf, 2);
	lame_set_in_samplerate(gf, 44100);
	lame_set_brate(gf, 192);
	lame_set_findReplayGain(gf, 1);
	ASSERT_GE(lame_init_params(gf), 0);
	std::vector<short> pcm(2 * 44100 * 2, 1000);
	std::vector<unsigned char> mp3(400000);
	int size = lame_encode_buffer_interleaved(gf, pcm.data(), 44100 * 2, mp3.data(), static_cast<int>(mp3.size()));
	size += lame_encode_flush(gf, mp3.data() + size, static_cast<int>(mp3.size()) - size);
	std::vector<unsigned char> tag(lame_get_lametag_frame(gf, nullptr, 0));
	ASSERT_FALSE(tag.empty());
	ASSERT_EQ(lame_get_lametag_frame(gf, tag.data(), tag.size()), tag.size());
	const int delay = lame_get_encoder_delay(gf);
	const int padding = lame_get_encoder_padding(gf);
	lame_close(gf);

	const auto original = gogo::ReadInfoTag(tag.data(), tag.size());
	ASSERT_TRUE(original);
	EXPECT_TRUE(original->cbr);
	EXPECT_TRUE(original->lame);
	EXPECT_TRUE(original->tagCrcValid);
	EXPECT_EQ(original->encoderDelay, delay);
	EXPECT_EQ(original->encoderPadding, padding);

	gogo::StreamTotals totals;
	totals.frames = 123456;
	totals.audioBytes = 9876543;
	for (size_t i = 0; i < totals.toc.size(); i++)
		totals.toc[i] = static_cast<unsigned char>(i * 2);
	totals.musicCrc = 0x1234;
	totals.radioGain = -57;
	std::vector<unsigned char> patched = tag;
	ASSERT_TRUE(gogo::PatchInfoTag(patched, totals));
	const auto read = gogo::ReadInfoTag(patched.data(), patched.size());
	ASSERT_TRUE(read);
	EXPECT_EQ(read->frames, 123456u);
	EXPECT_EQ(read->bytes, 9876543u + tag.size());
	EXPECT_EQ(read->musicLength, read->bytes);
	EXPECT_EQ(read->toc, totals.toc);
	EXPECT_EQ(read->musicCrc, 0x1234);
	EXPECT_EQ(read->radioGain, 0x2000 | 0x0c00 | 0x0200 | 57);
	EXPECT_TRUE(read->tagCrcValid);
	EXPECT_EQ(read->encoderDelay, delay);
	EXPECT_EQ(read->encoderPadding, padding);
	// Everything but the patched fields is as LAME wrote it.
	size_t changed = 0;
	for (size_t i = 0; i < tag.size(); i++)
		changed += tag[i] != patched[i];
	EXPECT_LE(changed, 4u + 4u + 100u + 2u + 4u + 2u + 2u);
	EXPECT_EQ(std::memcmp(tag.data(), patched.data(), 40), 0);

	// Not a tag: nothing to patch.
	std::vector<unsigned char> audio(mp3.begin() + static_cast<std::ptrdiff_t>(tag.size()), mp3.begin() + size);
	EXPECT_FALSE(gogo::ReadInfoTag(audio.data(), audio.size()));
	EXPECT_FALSE(gogo::PatchInfoTag(audio, totals));
}

} // namespace
