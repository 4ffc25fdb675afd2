// The encoder on several threads, end to end: what it writes decodes to the
// input's length, sounds like the one-thread encode in every 50 ms window
// (the joins included), carries an Info frame right for the whole stream,
// and it fails, keeps inputs and names files exactly as the one-thread
// encode does. Signals are made here: pink noise, a sine sweep, and drum
// hits and clicks over silence.
#include "GainFilter.h"
#include "GogoEncoder.h"
#include "GogoFixtures.h"
#include "GogoOptions.h"
#include "LameTag.h"
#include "Mp3Frame.h"
#include "OpenInput.h"
#include "ParallelEncoder.h"
#include "ReplayGain.h"
#include "SegmentPlan.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <lame/lame.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <thread>
#include <atomic>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using gogo_testing::ListDirectory;
using gogo_testing::OpenInput;

using testing_support::ReadFile;
using testing_support::TempDir;

constexpr int kRate = 44100;
constexpr int kSeconds = 30;
constexpr int kThreads = 4; // three segments of a 30 s input (a quarter, a half, a quarter): two joins

// ---- signals -----------------------------------------------------------------------

enum class Signal { PinkNoise, Sweep, Drums };

const char* Name(Signal signal)
{
	switch (signal) {
	case Signal::PinkNoise: return "pink";
	case Signal::Sweep: return "sweep";
	case Signal::Drums: return "drums";
	}
	return "?";
}

// Interleaved stereo, full scale 1.0.
std::vector<float> Make(Signal signal, int seconds)
{
	const size_t frames = static_cast<size_t>(seconds) * kRate;
	std::vector<float> out(frames * 2);
	std::mt19937 random(1234);
	std::uniform_real_distribution<double> white(-1.0, 1.0);
	switch (signal) {
	case Signal::PinkNoise: {
		// White noise through Paul Kellett's pinking filter.
		double b[2][7] = {};
		for (size_t i = 0; i < frames; i++) {
			for (int c = 0; c < 2; c++) {
				const double w = white(random);
				double* s = b[c];
				s[0] = 0.99886 * s[0] + w * 0.0555179;
				s[1] = 0.99332 * s[1] + w * 0.0750759;
				s[2] = 0.96900 * s[2] + w * 0.1538520;
				s[3] = 0.86650 * s[3] + w * 0.3104856;
				s[4] = 0.55000 * s[4] + w * 0.5329522;
				s[5] = -0.7616 * s[5] - w * 0.0168980;
				const double pink = s[0] + s[1] + s[2] + s[3] + s[4] + s[5] + s[6] + w * 0.5362;
				s[6] = w * 0.115926;
				out[2 * i + static_cast<size_t>(c)] = static_cast<float>(pink * 0.11);
			}
		}
		break;
	}
	case Signal::Sweep: {
		// 20 Hz to 20 kHz, exponentially, the right channel a little apart.
		const double k = std::log(1000.0), length = seconds;
		for (size_t i = 0; i < frames; i++) {
			const double t = static_cast<double>(i) / kRate;
			const double phase = 2 * M_PI * 20.0 * length / k * (std::exp(t / length * k) - 1);
			out[2 * i] = static_cast<float>(0.5 * std::sin(phase));
			out[2 * i + 1] = static_cast<float>(0.5 * std::sin(phase * 1.001));
		}
		break;
	}
	case Signal::Drums: {
		// A falling-pitch kick every half second, a noise snare on the off
		// bars, a click in every fourth bar, silence between.
		for (size_t i = 0; i < frames; i++) {
			const double t = static_cast<double>(i) / kRate;
			const double beat = std::fmod(t, 0.5);
			const int bar = static_cast<int>(t / 0.5);
			double v = 0;
			if (beat < 0.25) {
				v = std::exp(-beat * 30) * std::sin(2 * M_PI * (60 + 40 * std::exp(-beat * 50)) * beat) * 0.8;
				v += std::exp(-beat * 80) * white(random) * 0.4 * (bar % 2);
			}
			if (bar % 4 == 3 && beat >= 0.25 && beat < 0.26)
				v += white(random) * 0.6;
			v = std::clamp(v, -1.0, 1.0);
			out[2 * i] = static_cast<float>(v);
			out[2 * i + 1] = static_cast<float>(v * 0.9);
		}
		break;
	}
	}
	return out;
}

bool WriteAudio(const std::string& path, const std::vector<float>& samples, int format)
{
	SF_INFO info{};
	info.samplerate = kRate;
	info.channels = 2;
	info.format = format;
	SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
	if (file == nullptr)
		return false;
	const sf_count_t frames = static_cast<sf_count_t>(samples.size() / 2);
	const bool ok = sf_writef_float(file, samples.data(), frames) == frames;
	return sf_close(file) == 0 && ok;
}

// The input as the encoder reads it.
std::vector<short> ReadShorts(const std::string& path)
{
	SF_INFO info{};
	SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
	if (file == nullptr)
		return {};
	std::vector<short> out(static_cast<size_t>(info.frames * info.channels));
	const sf_count_t got = sf_readf_short(file, out.data(), info.frames);
	sf_close(file);
	out.resize(static_cast<size_t>(std::max<sf_count_t>(got, 0) * info.channels));
	return out;
}

// ---- decoding ------------------------------------------------------------------------

struct Pcm {
	bool ok = false;
	std::vector<short> samples; // interleaved stereo, the encoder delay and padding taken off
	int delay = -1, padding = -1;
};

// Decodes with libmp3lame's decoder and takes off what the LAME tag says
// the encoder added (and the decoder's own 529 samples of delay).
Pcm Decode(const std::string& path)
{
	Pcm pcm;
	std::vector<short> all;
	const gogo_testing::Decoded decoded = gogo_testing::Decode(path, &all);
	pcm.delay = decoded.delay;
	pcm.padding = decoded.padding;
	if (!decoded.ok || pcm.delay < 0 || pcm.padding < 0)
		return pcm;
	const size_t frames = all.size() / 2;
	const size_t skip = static_cast<size_t>(pcm.delay) + 529;
	if (skip > frames || static_cast<size_t>(pcm.delay) + static_cast<size_t>(pcm.padding) > frames)
		return pcm;
	const size_t total = frames - static_cast<size_t>(pcm.delay) - static_cast<size_t>(pcm.padding);
	// What the tag says the stream holds, from where the input starts.
	const size_t available = std::min(total, frames - skip);
	pcm.samples.assign(all.begin() + static_cast<std::ptrdiff_t>(2 * skip),
		all.begin() + static_cast<std::ptrdiff_t>(2 * (skip + available)));
	pcm.samples.resize(2 * total, 0); // the decoder's delay, as silence at the end
	pcm.ok = true;
	return pcm;
}

// Per 50 ms window where the input is above -50 dBFS: the SNR (dB) of the
// decoded output against the input; NaN for quieter windows.
std::vector<double> WindowSnr(const std::vector<short>& input, const std::vector<short>& decoded)
{
	const size_t window = kRate / 20 * 2;
	std::vector<double> snr;
	for (size_t start = 0; start + window <= std::min(input.size(), decoded.size()); start += window) {
		double signal = 0, noise = 0;
		for (size_t i = start; i < start + window; i++) {
			const double x = input[i], e = static_cast<double>(input[i]) - decoded[i];
			signal += x * x;
			noise += e * e;
		}
		const double level = 10 * std::log10(signal / static_cast<double>(window) / (32768.0 * 32768.0) + 1e-30);
		snr.push_back(level > -50 ? 10 * std::log10(signal / (noise + 1e-9)) : NAN);
	}
	return snr;
}

// ---- encoding ------------------------------------------------------------------------

struct Setting {
	const char* name;
	int bitrate;
	int vbr;
};

gogo::EncodeResult Encode(const std::string& input, const std::string& outDir, const Setting& setting,
	int threads)
{
	gogo::Options options;
	options.input = input;
	options.bitrate = setting.bitrate;
	options.vbrQuality = setting.vbr;
	options.threads = threads;
	options.silent = true;
	options.hasOutputDirectory = true;
	options.outputDirectory = outDir;
	return gogo::EncodeFile(options);
}

// The frames of a file: offsets and sizes.
std::vector<std::pair<size_t, int>> FrameOffsets(const std::string& data)
{
	std::vector<std::pair<size_t, int>> frames;
	size_t position = 0;
	gogo::FrameHeader header;
	while (position + 4 <= data.size()
			&& gogo::ParseFrameHeader(reinterpret_cast<const unsigned char*>(data.data() + position), header)) {
		frames.emplace_back(position, header.frameBytes);
		position += static_cast<size_t>(header.frameBytes);
	}
	return frames;
}

// A parallel encode's output, into written.
gogo::WriteFunction WriteInto(std::string& written)
{
	return [&written](const unsigned char* data, size_t size, int64_t offset) {
		if (offset < 0)
			offset = static_cast<int64_t>(written.size());
		if (written.size() < static_cast<size_t>(offset) + size)
			written.resize(static_cast<size_t>(offset) + size);
		std::memcpy(written.data() + offset, data, size);
		return 0;
	};
}

uint16_t Crc16Arc(const std::string& data, size_t from)
{
	uint16_t crc = 0;
	for (size_t i = from; i < data.size(); i++) {
		crc ^= static_cast<unsigned char>(data[i]);
		for (int bit = 0; bit < 8; bit++)
			crc = (crc & 1) != 0 ? static_cast<uint16_t>((crc >> 1) ^ 0xa001) : static_cast<uint16_t>(crc >> 1);
	}
	return crc;
}

// Runs a program (no shell); its exit status, and what it said on stderr.
int RunProgram(const std::vector<std::string>& command, std::string& err)
{
	const gogo_testing::RunResult run = gogo_testing::RunCommand(command);
	err = run.err;
	return run.Code();
}

// ---- the joins: SNR window by window ---------------------------------------------------

struct Case {
	Signal signal;
	Setting setting;
};

class ParallelQuality : public testing::TestWithParam<Case> {};

TEST_P(ParallelQuality, DecodesToTheInputAndSoundsAsTheOneThreadEncode)
{
	const Case c = GetParam();
	TempDir dir;
	const std::string input = dir / "in.wav";
	const std::vector<float> signal = Make(c.signal, kSeconds);
	ASSERT_TRUE(WriteAudio(input, signal, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
	const std::vector<short> pcm = ReadShorts(input);
	ASSERT_EQ(pcm.size(), signal.size());

	const gogo::EncodeResult one = Encode(input, dir / "one", c.setting, 1);
	ASSERT_TRUE(one.ok) << one.error;
	const gogo::EncodeResult many = Encode(input, dir / "many", c.setting, kThreads);
	ASSERT_TRUE(many.ok) << many.error;
	EXPECT_EQ(many.frames, one.frames);
	const std::string oneMp3 = ReadFile(one.outputPath), manyMp3 = ReadFile(many.outputPath);
	EXPECT_NE(oneMp3, manyMp3); // the segments did run

	const size_t oneFrames = FrameOffsets(oneMp3).size(), manyFrames = FrameOffsets(manyMp3).size();
	EXPECT_NEAR(static_cast<double>(manyFrames), static_cast<double>(oneFrames), 1.0);
	const Pcm a = Decode(one.outputPath), b = Decode(many.outputPath);
	ASSERT_TRUE(a.ok);
	ASSERT_TRUE(b.ok);
	EXPECT_EQ(b.samples.size(), pcm.size()); // gapless: the input's length exactly
	EXPECT_EQ(a.samples.size(), pcm.size());

	const std::vector<double> snrA = WindowSnr(pcm, a.samples), snrB = WindowSnr(pcm, b.samples);
	ASSERT_EQ(snrA.size(), snrB.size());
	double worst = 1e9, worstAt = -1, sumA = 0;
	int loud = 0;
	for (size_t w = 0; w < snrA.size(); w++) {
		if (std::isnan(snrA[w]))
			continue;
		loud++;
		sumA += snrA[w];
		const double difference = snrB[w] - snrA[w];
		if (difference < worst) {
			worst = difference;
			worstAt = static_cast<double>(w) * 0.05;
		}
		EXPECT_GE(difference, -2.0) << "window at " << w * 0.05 << " s";
	}
	ASSERT_GT(loud, 100);
	// The alignment is right: the one-thread encode itself is close.
	EXPECT_GT(sumA / loud, 10.0);
	std::printf("[ joins    ] %s %s: worst window %+.2f dB at %.2f s over %d loud windows\n",
		Name(c.signal), c.setting.name, worst, worstAt, loud);
}

const Setting kCbr128{"cbr128", 128, -1};
const Setting kCbr320{"cbr320", 320, -1};
const Setting kVbr2{"vbr2", 0, 2};

INSTANTIATE_TEST_SUITE_P(Signals, ParallelQuality,
	testing::Values(Case{Signal::PinkNoise, kCbr128}, Case{Signal::PinkNoise, kCbr320},
		Case{Signal::PinkNoise, kVbr2}, Case{Signal::Sweep, kCbr128}, Case{Signal::Sweep, kCbr320},
		Case{Signal::Sweep, kVbr2}, Case{Signal::Drums, kCbr128}, Case{Signal::Drums, kCbr320},
		Case{Signal::Drums, kVbr2}),
	[](const testing::TestParamInfo<Case>& info) {
		return std::string(Name(info.param.signal)) + "_" + info.param.setting.name;
	});

// ---- where the joins are -----------------------------------------------------------------

// The frames a segment's encoder makes: its warm-up, what it keeps, and
// (but for the last) its overlap and look-ahead.
int64_t FramesEncoded(const gogo::SegmentPlan& segment, int64_t streamFrames)
{
	const int64_t end = segment.last ? streamFrames : segment.plannedEnd + 12 + 3;
	return end - (segment.firstFrame - segment.warmUp);
}

struct Layout {
	const char* name;
	int seconds;
	int threads;
	bool replayGain;
	size_t segments; // as planned
};

class ParallelJoins : public testing::TestWithParam<Layout> {};

TEST_P(ParallelJoins, LieInTheOverlapAfterEachPlannedBoundary)
{
	const Layout layout = GetParam();
	TempDir dir;
	const std::string input = dir / "in.wav";
	ASSERT_TRUE(WriteAudio(input, Make(Signal::Drums, layout.seconds), SF_FORMAT_WAV | SF_FORMAT_PCM_16));
	SF_INFO info{};
	SNDFILE* file = sf_open(input.c_str(), SFM_READ, &info);
	ASSERT_NE(file, nullptr);
	const gogo::LameSetup setup = [&layout](lame_global_flags* gf) {
		lame_set_num_channels(gf, 2);
		lame_set_in_samplerate(gf, kRate);
		lame_set_brate(gf, 128);
		lame_set_quality(gf, 3);
		lame_set_findReplayGain(gf, layout.replayGain ? 1 : 0);
		lame_set_bWriteVbrTag(gf, 1);
		lame_set_write_id3tag_automatic(gf, 0);
	};
	lame_global_flags* gf = lame_init();
	setup(gf);
	ASSERT_GE(lame_init_params(gf), 0);
	// Read in order (no descriptor given), the segments are fed blocks; by
	// position, each has its own handle on the open file.
	const gogo::ParallelSource source{file, false, 2, kRate, info.frames, info.format, {}};
	const OpenInput opened(input);
	ASSERT_NE(opened.handle, nullptr);
	const gogo::ParallelSource byPosition = opened.Source();
	auto plan = gogo::PlanParallel(gf, source, layout.threads);
	auto planByPosition = gogo::PlanParallel(gf, byPosition, layout.threads);
	lame_close(gf);
	ASSERT_TRUE(plan && planByPosition);
	EXPECT_FALSE(plan->byPosition);
	EXPECT_TRUE(planByPosition->byPosition);
	ASSERT_EQ(plan->segments.size(), layout.segments);
	EXPECT_EQ(plan->threads, std::min(layout.threads, static_cast<int>(layout.segments)));

	std::string written;
	const gogo::ParallelResult result = gogo::EncodeParallel(source, setup, *plan, WriteInto(written), {});
	sf_close(file);
	ASSERT_EQ(result.failure, gogo::ParallelResult::Failure::None);

	// Read by position, the MP3 is the same to the byte (the same segments,
	// their ReplayGain merged the same way).
	{
		std::string same;
		const gogo::ParallelResult other =
			gogo::EncodeParallel(byPosition, setup, *planByPosition, WriteInto(same), {});
		EXPECT_EQ(other.failure, gogo::ParallelResult::Failure::None);
		EXPECT_EQ(other.joins, result.joins);
		EXPECT_TRUE(same == written) << "read by position: " << same.size() << " bytes, in order: "
									 << written.size();
	}
	EXPECT_EQ(result.framesRead, info.frames);
	EXPECT_EQ(result.enlargedFrames, 0);
	const int64_t streamFrames = info.frames / 1152;
	ASSERT_EQ(result.joins.size(), plan->segments.size() - 1);
	// Every encoder makes frames in proportion to its share (within one):
	// the ends half as many as the others, the first having no warm-up and
	// the last no overlap, so that they keep more.
	std::vector<int64_t> encoded;
	for (size_t k = 0; k < plan->segments.size(); k++) {
		const gogo::SegmentPlan& segment = plan->segments[k];
		const int share = k == 0 || segment.last ? 1 : 2;
		encoded.push_back(FramesEncoded(segment, streamFrames) * 2 / share);
	}
	const auto [fewest, most] = std::minmax_element(encoded.begin(), encoded.end());
	EXPECT_LE(*most - *fewest, 2) << "frames encoded per half share: " << testing::PrintToString(encoded);
	// In the overlap after each planned start, or (where nothing there fits)
	// among the later segment's last warm-up frames.
	for (size_t k = 1; k < plan->segments.size(); k++) {
		const int64_t planned = plan->segments[k].firstFrame;
		const int64_t join = result.joins[k - 1];
		EXPECT_GE(join, planned - 31);
		EXPECT_LT(join, planned + 12);
		std::printf("[ joins    ] drums cbr128 %s: join %zu at frame %lld (%.3f s), planned %lld\n",
			layout.name, k, static_cast<long long>(join), static_cast<double>(join) * 1152 / kRate,
			static_cast<long long>(planned));
	}
	// Written as a whole MP3: the Info frame first, then every frame.
	const auto frames = FrameOffsets(written);
	ASSERT_FALSE(frames.empty());
	EXPECT_EQ(frames.back().first + static_cast<size_t>(frames.back().second), written.size());
	// The Info frame counts the audio frames after it.
	EXPECT_EQ(frames.size() - 1, gogo::ReadInfoTag(
		reinterpret_cast<const unsigned char*>(written.data()), written.size())->frames);
}

// 20 s in two halves, 30 s and a minute in three segments, and 130 s in
// five (the plan depends on the input alone), on four threads
// and on two, with or without the ReplayGain analysis.
INSTANTIATE_TEST_SUITE_P(Layouts, ParallelJoins,
	testing::Values(Layout{"20s_2threads", 20, 2, true, 2},
		Layout{"30s_4threads", kSeconds, kThreads, true, 3},
		Layout{"60s_2threads", 60, 2, true, 3},
		Layout{"60s_2threads_noreplaygain", 60, 2, false, 3},
		Layout{"130s_4threads", 130, kThreads, true, 5}),
	[](const testing::TestParamInfo<Layout>& info) { return std::string(info.param.name); });

// Workers that take the plan's segments in order, whichever is free first,
// each segment costing the frames its encoder makes: two finish within a
// few frames of each other at every length, and so do four once the
// plan has three or more segments between its ends; none is longer than
// a minute.
TEST(ParallelPlan, WorkersTakingTheSegmentsInOrderFinishTogether)
{
	for (const int64_t streamFrames : {600, 1100, 2297, 3640, 4595, 9500, 20000, 137812}) {
		const std::vector<int> shares = gogo::SegmentShares(streamFrames, 1152, kRate);
		const std::vector<gogo::SegmentPlan> plans =
			gogo::PlanSegments(streamFrames * 1152, 1152, shares);
		ASSERT_EQ(plans.size(), shares.size());
		for (const gogo::SegmentPlan& plan : plans) {
			EXPECT_LE((plan.last ? streamFrames : plan.plannedEnd) - plan.firstFrame, 2297 + 47)
				<< streamFrames << " frames: no segment keeps more than a minute";
		}
		for (const int workers : {2, 4}) {
			if (workers == 4 && plans.size() < 5)
				continue;
			std::vector<int64_t> busyUntil(static_cast<size_t>(workers), 0);
			int64_t total = 0;
			for (const gogo::SegmentPlan& plan : plans) {
				const int64_t cost = FramesEncoded(plan, streamFrames);
				total += cost;
				*std::min_element(busyUntil.begin(), busyUntil.end()) += cost;
			}
			const auto [first, last] = std::minmax_element(busyUntil.begin(), busyUntil.end());
			EXPECT_LE(*last - *first, 4) << streamFrames << " frames on " << workers << " workers";
			EXPECT_LE(*last * workers, total + 4 * workers);
		}
	}
}

// ---- the same bytes every time -----------------------------------------------------------

TEST(ParallelDeterminism, TheSameBytesOnEveryRunAndForEveryThreadCount)
{
	// Pink noise at 320 kbps, whose joins moved with the workers' timing
	// when an idle worker took over part of a busy one's segment.
	TempDir dir;
	const std::string input = dir / "in.wav";
	ASSERT_TRUE(WriteAudio(input, Make(Signal::PinkNoise, kSeconds), SF_FORMAT_WAV | SF_FORMAT_PCM_16));
	const std::vector<short> pcm = ReadShorts(input);
	const gogo::LameSetup setup = [](lame_global_flags* gf) {
		lame_set_num_channels(gf, 2);
		lame_set_in_samplerate(gf, kRate);
		lame_set_brate(gf, 320);
		lame_set_quality(gf, 3);
		lame_set_findReplayGain(gf, 1);
		lame_set_bWriteVbrTag(gf, 1);
		lame_set_write_id3tag_automatic(gf, 0);
	};

	// One encoder over all of it, for reference.
	std::string one;
	{
		lame_global_flags* gf = lame_init();
		setup(gf);
		ASSERT_GE(lame_init_params(gf), 0);
		std::vector<unsigned char> out(pcm.size() * 5 / 8 + 7200 * 2);
		int size = lame_encode_buffer_interleaved(gf, const_cast<short*>(pcm.data()), static_cast<int>(pcm.size() / 2),
			out.data(), static_cast<int>(out.size()));
		ASSERT_GE(size, 0);
		const int flushed = lame_encode_flush(gf, out.data() + size, static_cast<int>(out.size()) - size);
		ASSERT_GE(flushed, 0);
		one.assign(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(size + flushed));
		std::vector<unsigned char> tag(lame_get_lametag_frame(gf, nullptr, 0));
		ASSERT_EQ(lame_get_lametag_frame(gf, tag.data(), tag.size()), tag.size());
		std::memcpy(one.data(), tag.data(), tag.size());
		lame_close(gf);
	}

	const OpenInput opened(input);
	ASSERT_NE(opened.handle, nullptr);
	const gogo::ParallelSource source = opened.Source();
	lame_global_flags* gf = lame_init();
	setup(gf);
	ASSERT_GE(lame_init_params(gf), 0);
	auto encode = [&](int threads) {
		std::string written;
		auto plan = gogo::PlanParallel(gf, source, threads);
		EXPECT_TRUE(plan);
		if (plan) {
			EXPECT_EQ(plan->segments.size(), 3u);
			const gogo::ParallelResult result = gogo::EncodeParallel(source, setup, *plan, WriteInto(written), {});
			EXPECT_EQ(result.failure, gogo::ParallelResult::Failure::None);
			EXPECT_EQ(result.enlargedFrames, 0);
		}
		return written;
	};
	const std::string written = encode(2);
	ASSERT_FALSE(written.empty());
	// Again and again, with a busy thread beside the workers that takes
	// their cores from them at moments of its own.
#if defined(__SANITIZE_THREAD__)
	// Each run takes seconds here: fewer, the threads' interleavings are
	// what this build is for.
	constexpr int kRuns = 2;
	const std::vector<int> threadCounts = {3, 8};
#else
	constexpr int kRuns = 10;
	const std::vector<int> threadCounts = {3, 4, 8};
#endif
	for (const int threads : threadCounts)
		EXPECT_TRUE(encode(threads) == written) << threads << " threads";
	std::atomic<bool> stop{false};
	std::thread busy([&stop] {
		volatile uint64_t sink = 0;
		while (!stop.load())
			for (int i = 0; i < 100000; i++)
				sink = sink * 6364136223846793005u + 1;
	});
	int same = 0;
	for (int run = 0; run < kRuns; run++)
		same += encode(2) == written ? 1 : 0;
	stop = true;
	busy.join();
	lame_close(gf);
	EXPECT_EQ(same, kRuns);

	// The whole stream as one encoder's: its frames, its Info frame's
	// counts and gain, its decoded length, and as good window by window.
	const auto frames = FrameOffsets(written);
	ASSERT_FALSE(frames.empty());
	EXPECT_EQ(frames.size(), FrameOffsets(one).size());
	const auto* bytes = reinterpret_cast<const unsigned char*>(written.data());
	const auto* oneBytes = reinterpret_cast<const unsigned char*>(one.data());
	const auto tag = gogo::ReadInfoTag(bytes, written.size()), oneTag = gogo::ReadInfoTag(oneBytes, one.size());
	ASSERT_TRUE(tag && oneTag);
	EXPECT_EQ(tag->frames, frames.size() - 1);
	EXPECT_EQ(tag->bytes, written.size());
	EXPECT_EQ(tag->radioGain, oneTag->radioGain);
	EXPECT_EQ(tag->musicCrc, Crc16Arc(written, static_cast<size_t>(frames.front().second)));
	ASSERT_TRUE(testing_support::WriteFile(dir / "parallel.mp3", written));
	ASSERT_TRUE(testing_support::WriteFile(dir / "one.mp3", one));
	const Pcm a = Decode(dir / "one.mp3"), b = Decode(dir / "parallel.mp3");
	ASSERT_TRUE(a.ok && b.ok);
	EXPECT_EQ(b.samples.size(), pcm.size());
	const std::vector<double> snrA = WindowSnr(pcm, a.samples), snrB = WindowSnr(pcm, b.samples);
	ASSERT_EQ(snrA.size(), snrB.size());
	for (size_t w = 0; w < snrA.size(); w++) {
		if (!std::isnan(snrA[w])) {
			EXPECT_GE(snrB[w] - snrA[w], -2.0) << "window at " << static_cast<double>(w) * 0.05 << " s";
		}
	}
}

// A constant bit rate stays constant however the joins fall: every sample
// rate LAME encodes at without resampling, mono and stereo, low to high
// bit rates, on pink noise (whose reservoir a running encoder spends and a
// fresh one saves).
TEST(ParallelCbr, NoFrameOfAnotherBitRateAtAnyRateModeOrBitRate)
{
#if defined(__SANITIZE_THREAD__)
	GTEST_SKIP() << "a sweep of 36 encodes; the parallel encode's threads are checked by the tests above";
#endif
	struct Rate {
		int hz;
		std::vector<int> kbps;
	};
	const Rate rates[] = {{32000, {64, 128, 320}}, {44100, {96, 128, 192, 320}},
		{48000, {64, 128, 256, 320}}, {16000, {32, 64, 160}}, {22050, {48, 128}},
		{24000, {64, 160}}};
	int joined = 0;
	for (const Rate& rate : rates) {
		for (const int channels : {1, 2}) {
			TempDir dir;
			const std::string input = dir / "in.wav";
			// Two segments' worth: 512 frames and a few more.
			const int frameSize = rate.hz >= 32000 ? 1152 : 576;
			const sf_count_t length = static_cast<sf_count_t>(530) * frameSize;
			{
				SF_INFO info{};
				info.samplerate = rate.hz;
				info.channels = channels;
				info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
				SNDFILE* file = sf_open(input.c_str(), SFM_WRITE, &info);
				ASSERT_NE(file, nullptr);
				// Pink-ish noise: white noise through a one-pole low-pass.
				std::vector<short> samples(static_cast<size_t>(length) * static_cast<size_t>(channels));
				uint32_t state = 12345;
				double low = 0;
				for (short& sample : samples) {
					state = state * 1664525u + 1013904223u;
					low = 0.9 * low + 0.1 * (static_cast<double>(state >> 8) / 8388608.0 - 1.0);
					sample = static_cast<short>(std::lround(std::clamp(low * 4, -1.0, 1.0) * 20000));
				}
				ASSERT_EQ(sf_writef_short(file, samples.data(), length), length);
				sf_close(file);
			}
			for (const int kbps : rate.kbps) {
				SCOPED_TRACE(std::to_string(rate.hz) + " Hz, " + std::to_string(channels) + " channels, "
					+ std::to_string(kbps) + " kbps");
				gogo::Options options;
				options.input = input;
				options.bitrate = kbps;
				options.threads = 2;
				options.silent = true;
				options.overwrite = true;
				const gogo::EncodeResult result = gogo::EncodeFile(options);
				ASSERT_TRUE(result.ok) << result.error;
				const std::vector<gogo_testing::Frame> frames =
					gogo_testing::ParseFrames(testing_support::ReadFile(result.outputPath));
				ASSERT_GT(frames.size(), 300u);
				for (size_t i = 1; i < frames.size(); i++)
					ASSERT_EQ(frames[i].bitrate, frames[1].bitrate) << "frame " << i;
				// LAME resamples some (those stay on one thread).
				joined += frames[1].samplerate == rate.hz ? 1 : 0;
			}
		}
	}
	EXPECT_GE(joined, 24) << "of 36 encodes on two threads";
	std::printf("[ cbr      ] %d of 36 encodes joined on two threads, every frame at its bit rate\n", joined);
}

// ---- the ReplayGain analysis in parts -------------------------------------------------

// The analysis of [from, to) of signal, its filters warmed up on the input
// before from (as a segment's encoder is), fed in blocks of odd size.
gogo::ReplayGainAnalysis AnalysePart(const std::vector<float>& signal, int channelsOut, size_t from,
	size_t to, size_t warmUp)
{
	gogo::ReplayGainAnalysis gain;
	EXPECT_TRUE(gain.Init(kRate, 2, channelsOut, 1, 1, 1));
	const size_t start = from > warmUp ? from - warmUp : 0;
	gain.StartAt(static_cast<int64_t>(start), static_cast<int64_t>(from));
	for (size_t at = start; at < to;) {
		const size_t count = std::min<size_t>(3001, to - at);
		gain.AddFloats(signal.data() + 2 * at, count);
		at += count;
	}
	return gain;
}

// How far the windows of a lie from those of b, in steps of the histogram
// summed over the windows (the earth mover's distance).
int64_t LevelsMoved(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b)
{
	int64_t moved = 0, carried = 0;
	for (size_t i = 0; i < std::min(a.size(), b.size()); i++) {
		carried += static_cast<int64_t>(a[i]) - static_cast<int64_t>(b[i]);
		moved += std::abs(carried);
	}
	return moved;
}

TEST(ReplayGainParts, MergedInOrderTheyGiveTheWholeInputsAnalysis)
{
	const size_t frames = 10 * kRate;
	const size_t window = kRate / 20;
	const size_t warmUp = 32 * 1152;
	// Cut where the encoder cuts (frame boundaries), inside a window, on a
	// window's edge, and with parts shorter than a window.
	const std::vector<std::vector<size_t>> cuts = {
		{1152 * 130, 1152 * 260},
		{100001, 100001 + window * 40, 250000},
		{50000, 50500, 51000, 200000},
		{window * 20, window * 20 + 100, window * 21, window * 60},
	};
	for (Signal kind : {Signal::PinkNoise, Signal::Sweep, Signal::Drums}) {
		std::vector<float> signal = Make(kind, 10);
		for (int channelsOut : {2, 1}) {
			for (float level : {1.0f, 0.05f}) {
				for (float& sample : signal)
					sample *= level;
				const gogo::ReplayGainAnalysis whole = AnalysePart(signal, channelsOut, 0, frames, 0);
				for (const std::vector<size_t>& at : cuts) {
					gogo::ReplayGainAnalysis merged = AnalysePart(signal, channelsOut, 0, at.front(), warmUp);
					for (size_t k = 0; k < at.size(); k++) {
						const size_t end = k + 1 < at.size() ? at[k + 1] : frames;
						ASSERT_TRUE(merged.Merge(AnalysePart(signal, channelsOut, at[k], end, warmUp)));
					}
					const std::string what = std::string(Name(kind)) + (channelsOut == 2 ? " stereo" : " mono")
						+ " at " + std::to_string(level) + ", cut at " + testing::PrintToString(at);
					EXPECT_EQ(merged.Windows(), frames / window) << what;
					// The filters, warmed up rather than run from the start, may
					// round a last bit otherwise: a window here and there may
					// land a hundredth of a dB from where it lands in one run,
					// never more.
					const int64_t cutsMade = static_cast<int64_t>(at.size());
					EXPECT_LE(LevelsMoved(merged.Levels(), whole.Levels()), cutsMade) << what;
					EXPECT_EQ(merged.RadioGainTenths(), whole.RadioGainTenths()) << what;
					// The filters go on from the last part's state: the flush's
					// silence lands the same.
					gogo::ReplayGainAnalysis flushedWhole = whole;
					flushedWhole.AddSilence(3000);
					merged.AddSilence(3000);
					EXPECT_LE(LevelsMoved(merged.Levels(), flushedWhole.Levels()), cutsMade) << what;
				}
				for (float& sample : signal)
					sample /= level;
			}
		}
	}
	// A part that does not start where the one before ends is not merged.
	const std::vector<float> signal = Make(Signal::PinkNoise, 1);
	gogo::ReplayGainAnalysis first = AnalysePart(signal, 2, 0, 20000, 0);
	const uint64_t windows = first.Windows();
	EXPECT_FALSE(first.Merge(AnalysePart(signal, 2, 20001, 40000, warmUp)));
	EXPECT_FALSE(first.Merge(AnalysePart(signal, 2, 19999, 40000, warmUp)));
	EXPECT_EQ(first.Windows(), windows);
}

// Two frames at a time (AVX) the filter gives the very bits it gives one
// frame at a time, for blocks of odd and even length, from any history.
TEST(ReplayGainFilter, TwoFramesAtATimeGiveTheBitsOfOne)
{
	if (!gogo::WideGainFilterAvailable())
		GTEST_SKIP() << "no AVX here";
	std::mt19937 random(7);
	std::uniform_real_distribution<float> term(-0.09f, 0.09f), sample(-30000.0f, 30000.0f);
	// Stable: the feedback terms sum to less than one.
	float yule[21], butter[5] = {0.9f, 0.6f, -1.8f, -0.3f, 0.9f};
	for (float& value : yule)
		value = term(random);
	constexpr size_t history = 2 * gogo::kGainFilterOrder;
	for (size_t frames : {1, 2, 3, 5, 64, 4097}) {
		std::vector<float> x(history + 2 * frames), y(x.size()), z(x.size());
		for (std::vector<float>* values : {&x, &y, &z})
			for (float& value : *values)
				value = sample(random);
		std::vector<float> y2 = y, z2 = z;
		gogo::RunGainFilter(x.data() + history, y.data() + history, z.data() + history, frames, yule, butter, true);
		gogo::RunGainFilter(x.data() + history, y2.data() + history, z2.data() + history, frames, yule, butter,
			false);
		EXPECT_EQ(std::memcmp(y.data(), y2.data(), y.size() * sizeof(float)), 0) << frames << " frames";
		EXPECT_EQ(std::memcmp(z.data(), z2.data(), z.size() * sizeof(float)), 0) << frames << " frames";
	}
}

// ---- the Info frame ------------------------------------------------------------------------

class ParallelInfoFrame : public testing::TestWithParam<Setting> {};

TEST_P(ParallelInfoFrame, DescribesTheWholeStreamAsTheOneThreadEncodesDoes)
{
	const Setting setting = GetParam();
	TempDir dir;
	const std::string input = dir / "in.wav";
	ASSERT_TRUE(WriteAudio(input, Make(Signal::PinkNoise, kSeconds), SF_FORMAT_WAV | SF_FORMAT_PCM_16));
	const gogo::EncodeResult one = Encode(input, dir / "one", setting, 1);
	const gogo::EncodeResult many = Encode(input, dir / "many", setting, kThreads);
	ASSERT_TRUE(one.ok && many.ok) << one.error << many.error;
	const std::string oneMp3 = ReadFile(one.outputPath), manyMp3 = ReadFile(many.outputPath);
	const auto* oneBytes = reinterpret_cast<const unsigned char*>(oneMp3.data());
	const auto* manyBytes = reinterpret_cast<const unsigned char*>(manyMp3.data());
	const auto a = gogo::ReadInfoTag(oneBytes, oneMp3.size());
	const auto b = gogo::ReadInfoTag(manyBytes, manyMp3.size());
	ASSERT_TRUE(a && b);
	ASSERT_TRUE(a->lame && b->lame);
	EXPECT_EQ(b->cbr, a->cbr);
	EXPECT_TRUE(b->tagCrcValid);

	// Counts of this stream.
	const auto manyFrames = FrameOffsets(manyMp3);
	ASSERT_GT(manyFrames.size(), 1u);
	EXPECT_EQ(b->frames, manyFrames.size() - 1);
	EXPECT_EQ(b->frames, a->frames);
	EXPECT_EQ(b->bytes, manyMp3.size());
	EXPECT_EQ(b->musicLength, manyMp3.size());
	const size_t infoBytes = static_cast<size_t>(manyFrames.front().second);
	EXPECT_EQ(b->musicCrc, Crc16Arc(manyMp3, infoBytes));
	EXPECT_EQ(a->musicCrc, Crc16Arc(oneMp3, infoBytes)); // the same CRC as LAME's

	// Gapless playback and loudness: as the one-thread encode.
	EXPECT_EQ(b->encoderDelay, a->encoderDelay);
	EXPECT_EQ(b->encoderPadding, a->encoderPadding);
	EXPECT_EQ(b->radioGain, a->radioGain);
	EXPECT_NE(b->radioGain, 0);
	EXPECT_EQ(b->peak, a->peak);

	// The seek table: the same where every frame has the same bit rate,
	// within a step where the frames' rates differ a little.
	for (size_t i = 0; i < 100; i++) {
		if (a->cbr)
			EXPECT_EQ(b->toc[i], a->toc[i]) << i;
		else
			EXPECT_NEAR(b->toc[i], a->toc[i], 2) << i;
	}
	// And it points where the frames are: entry i is the share of the
	// bytes before frame i% in, out of 256.
	for (size_t i = 10; i < 100; i += 10) {
		const size_t frame = 1 + (manyFrames.size() - 1) * i / 100;
		const double share = 256.0 * static_cast<double>(manyFrames[frame].first) / manyMp3.size();
		EXPECT_NEAR(b->toc[i], share, 4.0) << i;
	}
	// Everything else in the tag is the settings', and the same.
	const size_t mark = 4 + 32;
	for (size_t offset : {mark + 120, mark + 129, mark + 130, mark + 139, mark + 140, mark + 144,
			 mark + 145, mark + 146}) {
		EXPECT_EQ(manyMp3[offset], oneMp3[offset]) << offset;
	}
	EXPECT_EQ(manyMp3.substr(0, 4), oneMp3.substr(0, 4));
}

INSTANTIATE_TEST_SUITE_P(Settings, ParallelInfoFrame, testing::Values(kCbr128, kVbr2),
	[](const testing::TestParamInfo<Setting>& info) { return std::string(info.param.name); });

// ---- one thread, short inputs, resampling ---------------------------------------------------

// -threads 1 is what lame itself writes, byte for byte.
TEST(ParallelChoice, OneThreadIsLamesOwn)
{
	const std::string lame = "/usr/bin/lame";
	if (access(lame.c_str(), X_OK) != 0)
		GTEST_SKIP() << "no " << lame << " to compare -threads 1 with";
	TempDir dir;
	const std::string input = dir / "in.wav";
	ASSERT_TRUE(WriteAudio(input, Make(Signal::Sweep, kSeconds), SF_FORMAT_WAV | SF_FORMAT_PCM_16));
	const gogo::EncodeResult one = Encode(input, dir / "one", kCbr128, 1);
	ASSERT_TRUE(one.ok) << one.error;
	std::string err;
	ASSERT_EQ(RunProgram({lame, "--quiet", "-b", "128", input, dir / "lame.mp3"}, err), 0) << err;
	EXPECT_TRUE(ReadFile(one.outputPath) == ReadFile(dir / "lame.mp3"));
}

TEST(ParallelChoice, ShortOrResampledInputsStayOnOne)
{
	TempDir dir;
	const std::string input = dir / "in.wav";
	ASSERT_TRUE(WriteAudio(input, Make(Signal::Sweep, kSeconds), SF_FORMAT_WAV | SF_FORMAT_PCM_16));

	// At 32 kbps LAME resamples (to 22.05 kHz): frames do not line up with
	// the input, so every thread count gives the one-thread encode.
	const Setting low{"cbr32", 32, -1};
	const gogo::EncodeResult a = Encode(input, dir / "low1", low, 1);
	const gogo::EncodeResult b = Encode(input, dir / "low4", low, kThreads);
	ASSERT_TRUE(a.ok && b.ok);
	EXPECT_TRUE(ReadFile(a.outputPath) == ReadFile(b.outputPath));

	// Three seconds: not worth splitting.
	const std::string shortInput = dir / "short.wav";
	ASSERT_TRUE(WriteAudio(shortInput, Make(Signal::Drums, 3), SF_FORMAT_WAV | SF_FORMAT_PCM_16));
	const gogo::EncodeResult c = Encode(shortInput, dir / "short1", kCbr128, 1);
	const gogo::EncodeResult d = Encode(shortInput, dir / "short4", kCbr128, kThreads);
	ASSERT_TRUE(c.ok && d.ok);
	EXPECT_TRUE(ReadFile(c.outputPath) == ReadFile(d.outputPath));
}

// ---- read errors, -delete, the other decoders ---------------------------------------------

// On one thread as on several: the MP3 of what decodes, said in one line
// and with a status of its own, and the input kept, without -delete too.
TEST(ParallelInput, AFlacThatStopsDecodingGivesWhatDecodesAndIsKept)
{
	for (const int threads : {1, kThreads}) {
		for (const bool deleting : {false, true}) {
			SCOPED_TRACE(std::to_string(threads) + (deleting ? " threads, -delete" : " threads"));
			TempDir dir;
			const std::string input = dir / "in.flac";
			ASSERT_TRUE(WriteAudio(input, Make(Signal::PinkNoise, kSeconds),
				SF_FORMAT_FLAC | SF_FORMAT_PCM_16));
			std::string data = ReadFile(input);
			// Garbage over 20 kB in the middle: the frames there and after fail
			// to decode (libsndfile then stops without an error).
			for (size_t i = data.size() / 2; i < data.size() / 2 + 20000; i++)
				data[i] = static_cast<char>(data[i] * 7 + 13);
			ASSERT_TRUE(testing_support::WriteFile(input, data));

			gogo::Options options;
			options.input = input;
			options.threads = threads;
			options.silent = true;
			options.deleteInput = deleting;
			const gogo::EncodeResult result = gogo::EncodeFile(options);
			EXPECT_FALSE(result.ok);
			EXPECT_TRUE(result.truncated);
			EXPECT_TRUE(result.outputWritten);
			EXPECT_NE(result.error.find("of the 30.0 s of audio its header declares"),
				std::string::npos) << result.error;
			EXPECT_GT(result.frames, int64_t{kSeconds} * kRate / 3);
			EXPECT_LT(result.frames, int64_t{kSeconds} * kRate * 2 / 3);
			const Pcm decoded = Decode(result.outputPath);
			ASSERT_TRUE(decoded.ok);
			EXPECT_EQ(static_cast<int64_t>(decoded.samples.size() / 2), result.frames);
			EXPECT_EQ(ListDirectory(dir.Path()), (std::vector<std::string>{"in.flac", "in.mp3"}));
			EXPECT_EQ(ReadFile(input), data);

			// The same through the program: status 4, one line on stderr.
			ASSERT_EQ(unlink(result.outputPath.c_str()), 0);
			std::string err;
			EXPECT_EQ(RunProgram({TAMSEL_BINARY_DIR "/gogo", "-threads", std::to_string(threads),
				"-silent", input}, err), gogo::kExitTruncated);
			EXPECT_EQ(err.rfind("gogo: '" + input + "' holds only ", 0), 0u) << err;
			EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
			EXPECT_EQ(ListDirectory(dir.Path()), (std::vector<std::string>{"in.flac", "in.mp3"}));
		}
	}
}

TEST(ParallelInput, DeleteTakesTheFramesReadIntoAccount)
{
	TempDir dir;
	const std::string input = dir / "in.wav";
	ASSERT_TRUE(WriteAudio(input, Make(Signal::Drums, kSeconds), SF_FORMAT_WAV | SF_FORMAT_PCM_16));
	gogo::Options options;
	options.input = input;
	options.threads = kThreads;
	options.silent = true;
	options.deleteInput = true;
	gogo::EncodeResult result = gogo::EncodeFile(options);
	ASSERT_TRUE(result.ok) << result.error;
	EXPECT_EQ(result.frames, int64_t{kSeconds} * kRate);
	struct stat st;
	EXPECT_NE(stat(input.c_str(), &st), 0); // deleted

	// A WAV cut short: the header declares 30 s, 20 s are there. The
	// encode on many threads writes the MP3 of what there is and keeps
	// the input, as on one.
	ASSERT_TRUE(WriteAudio(input, Make(Signal::Drums, kSeconds), SF_FORMAT_WAV | SF_FORMAT_PCM_16));
	std::string data = ReadFile(input);
	data.resize(data.size() * 2 / 3);
	ASSERT_TRUE(testing_support::WriteFile(input, data));
	unlink(result.outputPath.c_str());
	result = gogo::EncodeFile(options);
	EXPECT_FALSE(result.ok);
	EXPECT_TRUE(result.outputWritten);
	EXPECT_TRUE(result.inputKept);
	EXPECT_TRUE(result.truncated);
	EXPECT_NE(result.error.find("of the 30.0 s of audio its header declares"), std::string::npos)
		<< result.error;
	EXPECT_EQ(ReadFile(input), data);
	const Pcm decoded = Decode(result.outputPath);
	ASSERT_TRUE(decoded.ok);
	EXPECT_EQ(static_cast<int64_t>(decoded.samples.size() / 2), result.frames);
}

TEST(ParallelInput, Mpg123AndFfmpegDecodeWithoutAWord)
{
	TempDir dir;
	const std::string input = dir / "in.wav";
	ASSERT_TRUE(WriteAudio(input, Make(Signal::Drums, kSeconds), SF_FORMAT_WAV | SF_FORMAT_PCM_16));
	int tried = 0;
	for (const Setting& setting : {kCbr128, kCbr320, kVbr2}) {
		const gogo::EncodeResult result = Encode(input, dir / setting.name, setting, kThreads);
		ASSERT_TRUE(result.ok) << result.error;
		std::string err;
		if (access("/usr/bin/mpg123", X_OK) == 0) {
			tried++;
			EXPECT_EQ(RunProgram({"/usr/bin/mpg123", "-q", "-t", result.outputPath}, err), 0);
			EXPECT_EQ(err, "") << setting.name;
		}
		if (access("/usr/bin/ffmpeg", X_OK) == 0) {
			tried++;
			EXPECT_EQ(RunProgram({"/usr/bin/ffmpeg", "-v", "warning", "-nostdin", "-i", result.outputPath,
						  "-f", "null", "-"},
						  err),
				0);
			EXPECT_EQ(err, "") << setting.name;
		}
	}
	if (tried == 0)
		GTEST_SKIP() << "neither mpg123 nor ffmpeg";
}

// ---- the option ---------------------------------------------------------------------------------

TEST(ParallelOption, ThreadsTakesOneToSixtyFour)
{
	auto parse = [](std::vector<std::string> arguments) { return gogo::ParseArguments(arguments); };
	EXPECT_EQ(parse({"x.wav"}).options.threads, 0); // every core
	for (const char* good : {"1", "2", "64"}) {
		const gogo::ParseResult r = parse({"-threads", good, "x.wav"});
		ASSERT_EQ(r.action, gogo::ParseAction::Encode) << good;
		EXPECT_EQ(r.options.threads, std::stoi(good));
	}
	for (const char* bad : {"0", "65", "-1", "two", "", "99999"}) {
		const gogo::ParseResult r = parse({"-threads", bad, "x.wav"});
		EXPECT_EQ(r.action, gogo::ParseAction::Error) << bad;
		EXPECT_NE(r.error.find("-threads"), std::string::npos) << r.error;
	}
	EXPECT_EQ(parse({"-threads", "x.wav"}).action, gogo::ParseAction::Error);
	EXPECT_NE(gogo::UsageText().find("-threads"), std::string::npos);
	EXPECT_GE(gogo::OnlineCores(), 1);
}

} // namespace
