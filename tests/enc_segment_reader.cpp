// Segments that read their own input by position: each must see exactly
// the samples a reader going through the file in order sees at the same
// place, in every format read that way, and an input cut short under a
// segment must stop it with the reason, never give it fewer samples quietly.
#include "OpenInput.h"
#include "ParallelEncoder.h"
#include "SegmentReader.h"
#include "SegmentWorkers.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using gogo_testing::OpenInput;
using testing_support::TempDir;

constexpr int kRate = 44100;
constexpr sf_count_t kFrames = 3 * kRate + 123;
constexpr sf_count_t kBlock = 4096;

// A stereo signal with a value of its own at every sample, as far as the
// format's resolution allows.
std::vector<double> Signal()
{
	std::vector<double> samples(static_cast<size_t>(kFrames) * 2);
	for (size_t i = 0; i < samples.size(); i++)
		samples[i] = 0.9 * std::sin(0.001 * static_cast<double>(i) * static_cast<double>(i % 7 + 1));
	return samples;
}

bool Write(const std::string& path, int format)
{
	SF_INFO info{};
	info.samplerate = kRate;
	info.channels = 2;
	info.format = format;
	SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
	if (file == nullptr)
		return false;
	const std::vector<double> samples = Signal();
	const bool ok = sf_writef_double(file, samples.data(), kFrames) == kFrames;
	return sf_close(file) == 0 && ok;
}

// Every sample a segment's stream gives, in order, as the worker gets them.
template <typename T>
std::vector<T> Drain(gogo::SegmentStream& stream, std::vector<T> gogo::Samples::* member)
{
	std::vector<T> out;
	gogo::BlockRange block;
	while (stream.Pop(block)) {
		const std::vector<T>& all = (*block.samples).*member;
		out.insert(out.end(), all.begin() + static_cast<std::ptrdiff_t>(block.begin),
			all.begin() + static_cast<std::ptrdiff_t>(block.end));
		block = gogo::BlockRange();
	}
	return out;
}

gogo::SegmentPlan Plan(int64_t start, int64_t end)
{
	gogo::SegmentPlan plan;
	plan.inputStart = start;
	plan.inputEnd = end < 0 ? INT64_MAX : end;
	plan.last = end < 0;
	return plan;
}

struct Format {
	const char* name;
	int format;
	bool asFloat;
};

class SegmentReading : public testing::TestWithParam<Format> {};

TEST_P(SegmentReading, GivesWhatAReaderInOrderGivesAtTheSamePlace)
{
	const Format format = GetParam();
	TempDir dir;
	const std::string path = dir / "in";
	ASSERT_TRUE(Write(path, format.format));
	OpenInput input(path);
	ASSERT_NE(input.handle, nullptr);
	const gogo::ParallelSource source = input.Source(format.asFloat);
	ASSERT_TRUE(gogo::ReadsByPosition(source));
	const gogo::SampleKind kind = gogo::KindOf(source);

	// The whole input, read in order by the caller's handle.
	gogo::Samples whole;
	whole.kind = kind;
	whole.Resize(static_cast<size_t>(kFrames) * 2);
	std::string error;
	ASSERT_EQ(whole.Read(input.handle, kFrames, error), kFrames) << error;

	// A middle segment (not a multiple of the block) and the last one, to
	// the input's end; each read on its own thread, as the workers do.
	const int64_t starts[] = {12345, 70001};
	const int64_t ends[] = {12345 + 3 * kBlock + 77, -1};
	for (int k = 0; k < 2; k++) {
		gogo::SegmentStream stream(k, Plan(starts[k], ends[k]), source, kBlock);
		const size_t from = static_cast<size_t>(starts[k]) * 2;
		const size_t to = ends[k] < 0 ? whole.Count() : static_cast<size_t>(ends[k]) * 2;
		switch (kind) {
		case gogo::SampleKind::Short: {
			const auto got = Drain(stream, &gogo::Samples::shorts);
			EXPECT_TRUE(got == std::vector<short>(whole.shorts.begin() + static_cast<std::ptrdiff_t>(from),
				whole.shorts.begin() + static_cast<std::ptrdiff_t>(to))) << format.name << " segment " << k;
			break;
		}
		case gogo::SampleKind::Int: {
			const auto got = Drain(stream, &gogo::Samples::ints);
			EXPECT_TRUE(got == std::vector<int>(whole.ints.begin() + static_cast<std::ptrdiff_t>(from),
				whole.ints.begin() + static_cast<std::ptrdiff_t>(to))) << format.name << " segment " << k;
			break;
		}
		case gogo::SampleKind::Float: {
			const auto got = Drain(stream, &gogo::Samples::floats);
			EXPECT_TRUE(got == std::vector<float>(whole.floats.begin() + static_cast<std::ptrdiff_t>(from),
				whole.floats.begin() + static_cast<std::ptrdiff_t>(to))) << format.name << " segment " << k;
			break;
		}
		}
		EXPECT_FALSE(stream.ReadFailed()) << stream.ReadError();
		EXPECT_EQ(stream.ReadPosition(), ends[k] < 0 ? kFrames : ends[k]);
	}
}

INSTANTIATE_TEST_SUITE_P(Formats, SegmentReading,
	testing::Values(Format{"wav16", SF_FORMAT_WAV | SF_FORMAT_PCM_16, false},
		Format{"wav24", SF_FORMAT_WAV | SF_FORMAT_PCM_24, false},
		Format{"wavu8", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, false},
		Format{"wavfloat", SF_FORMAT_WAV | SF_FORMAT_FLOAT, true},
		Format{"aiff16", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, false},
		Format{"w64double", SF_FORMAT_W64 | SF_FORMAT_DOUBLE, true}),
	[](const testing::TestParamInfo<Format>& info) { return std::string(info.param.name); });

TEST(SegmentReading, OnlyFormatsWithSamplesAtFixedPlacesAndAnOpenFile)
{
	TempDir dir;
	ASSERT_TRUE(Write(dir / "in.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16));
	OpenInput flac(dir / "in.flac");
	ASSERT_NE(flac.handle, nullptr);
	EXPECT_FALSE(gogo::ReadsByPosition(flac.Source(false)));

	ASSERT_TRUE(Write(dir / "in.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16));
	OpenInput wav(dir / "in.wav");
	ASSERT_NE(wav.handle, nullptr);
	gogo::ParallelSource noFile = wav.Source(false);
	noFile.view.fd = -1;
	EXPECT_FALSE(gogo::ReadsByPosition(noFile));
	// A length other than the file's (the file changed since it was
	// opened): read in order, where the end shows.
	gogo::ParallelSource otherLength = wav.Source(false);
	otherLength.frames += 1;
	EXPECT_FALSE(gogo::ReadsByPosition(otherLength));
	EXPECT_TRUE(gogo::ReadsByPosition(wav.Source(false)));
}

TEST(SegmentReading, AnInputCutShortUnderASegmentStopsItWithTheReason)
{
	TempDir dir;
	const std::string path = dir / "in.wav";
	ASSERT_TRUE(Write(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
	OpenInput input(path);
	ASSERT_NE(input.handle, nullptr);
	const gogo::ParallelSource source = input.Source(false);
	const int64_t start = 10000, end = 10000 + 20 * kBlock;
	gogo::SegmentStream middle(1, Plan(start, end), source, kBlock);
	gogo::SegmentStream last(2, Plan(start, -1), source, kBlock);
	gogo::BlockRange block;
	ASSERT_TRUE(middle.Pop(block));
	ASSERT_TRUE(last.Pop(block));
	block = gogo::BlockRange();

	// The file loses its tail while the segments read it (the header still
	// declares every frame).
	struct stat status;
	ASSERT_EQ(fstat(input.fd, &status), 0);
	const off_t cut = status.st_size - static_cast<off_t>(kFrames - start - 5 * kBlock) * 4;
	ASSERT_EQ(truncate(path.c_str(), cut), 0);

	for (gogo::SegmentStream* stream : {&middle, &last}) {
		int64_t frames = kBlock;
		while (stream->Pop(block)) {
			frames += static_cast<int64_t>(block.Count() / 2);
			block = gogo::BlockRange();
		}
		EXPECT_TRUE(stream->ReadFailed());
		EXPECT_EQ(stream->ReadPosition(), start + 5 * kBlock);
		EXPECT_EQ(frames, 5 * kBlock);
		EXPECT_EQ(stream->ReadError(), gogo::EndedEarlyText(start + 5 * kBlock, kFrames));
	}
}

} // namespace
