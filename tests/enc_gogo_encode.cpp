// The bundled encoder in-process: every format it reads, what LAME is
// given, the output's name (never over another file unless told), and
// -delete only of a complete input that did not change.
#include "GogoEncoder.h"
#include "GogoFixtures.h"
#include "GogoOptions.h"
#include "InputExtent.h"
#include "InputLength.h"

namespace {

using namespace gogo_testing;

// ---- encoding in-process -------------------------------------------------------------

struct Format {
	int subformat;
	int rate;
	int channels;
	const char* name;
};

class GogoEncodeFormats : public testing::TestWithParam<Format> {};

TEST_P(GogoEncodeFormats, DecodesToTheInputsLengthAndChannels)
{
	const Format format = GetParam();
	TempDir dir;
	const std::string input = dir / "in.wav";
	const double seconds = 1.5;
	ASSERT_TRUE(WriteSineWav(input, seconds, format.rate, format.channels, format.subformat));
	const int64_t frames = static_cast<int64_t>(seconds * format.rate);

	gogo::Options options;
	options.input = input;
	std::vector<int> percents;
	const gogo::EncodeResult result =
		gogo::EncodeFile(options, [&percents](int percent) { percents.push_back(percent); });
	ASSERT_TRUE(result.ok) << result.error;
	EXPECT_EQ(result.outputPath, dir / "in.mp3");
	EXPECT_EQ(result.frames, frames);
	EXPECT_EQ(result.channels, format.channels);
	ASSERT_FALSE(percents.empty());
	EXPECT_EQ(percents.back(), 100);
	EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
	EXPECT_EQ(ListDirectory(dir.Path()), (std::vector<std::string>{"in.mp3", "in.wav"}));

	const Decoded decoded = Decode(dir / "in.mp3");
	ASSERT_TRUE(decoded.ok);
	EXPECT_EQ(decoded.channels, format.channels);
	ASSERT_GT(decoded.samplerate, 0);
	EXPECT_GE(decoded.delay, 0) << "no LAME tag";
	// The duration, within a frame (LAME resamples some rates).
	const double expected = static_cast<double>(frames) / format.rate;
	const double got = static_cast<double>(decoded.Content()) / decoded.samplerate;
	EXPECT_NEAR(got, expected, 1152.0 / decoded.samplerate) << decoded.samples;
	if (decoded.samplerate == format.rate) {
		EXPECT_EQ(decoded.Content(), frames);
	}
}

INSTANTIATE_TEST_SUITE_P(Wav, GogoEncodeFormats,
	testing::Values(Format{SF_FORMAT_PCM_16, 44100, 2, "pcm16_44k_stereo"},
		Format{SF_FORMAT_PCM_16, 44100, 1, "pcm16_44k_mono"},
		Format{SF_FORMAT_PCM_U8, 22050, 1, "pcm8_22k_mono"},
		Format{SF_FORMAT_PCM_24, 48000, 2, "pcm24_48k_stereo"},
		Format{SF_FORMAT_PCM_32, 32000, 2, "pcm32_32k_stereo"},
		Format{SF_FORMAT_FLOAT, 48000, 1, "float_48k_mono"},
		Format{SF_FORMAT_FLOAT, 44100, 2, "float_44k_stereo"},
		Format{SF_FORMAT_DOUBLE, 16000, 2, "double_16k_stereo"},
		Format{SF_FORMAT_PCM_16, 8000, 1, "pcm16_8k_mono"},
		Format{SF_FORMAT_PCM_16, 96000, 2, "pcm16_96k_stereo"}),
	[](const testing::TestParamInfo<Format>& info) { return std::string(info.param.name); });

TEST(GogoEncode, EveryFrameHasTheChosenBitRate)
{
	TempDir dir;
	const std::string input = dir / "in.wav";
	ASSERT_TRUE(WriteSineWav(input, 2, 44100, 2));
	for (int kbps : {32, 64, 96, 128, 192, 320}) {
		gogo::Options options;
		options.input = input;
		options.bitrate = kbps;
		const gogo::EncodeResult result = gogo::EncodeFile(options);
		ASSERT_TRUE(result.ok) << result.error;
		const std::string data = ReadFile(result.outputPath);
		const std::vector<Frame> frames = ParseFrames(data);
		ASSERT_FALSE(frames.empty());
		// As lame does, LAME picks a lower sample rate for low bit rates
		// (16 kHz MPEG-2 at 32 kbps); from 112 kbps on it keeps 44.1 kHz.
		const Frame& first = frames.front();
		if (kbps >= 112) {
			EXPECT_EQ(first.version, 1);
			EXPECT_EQ(first.samplerate, 44100);
		}
		const size_t perFrame = first.version == 1 ? 1152 : 576;
		EXPECT_GE(frames.size(), 2 * first.samplerate / perFrame) << kbps;
		for (const Frame& frame : frames) {
			EXPECT_EQ(frame.bitrate, kbps);
			EXPECT_EQ(frame.samplerate, first.samplerate);
		}
		size_t length = 0;
		for (const Frame& frame : frames) {
			length += (frame.version == 1 ? 144 : 72) * frame.bitrate * 1000 / frame.samplerate;
		}
		EXPECT_GE(data.size(), length);
		EXPECT_LE(data.size(), length + frames.size()); // at most a padding byte per frame
		const Decoded decoded = Decode(result.outputPath);
		ASSERT_TRUE(decoded.ok);
		const int64_t expected = 2 * decoded.samplerate;
		if (first.version == 1) {
			// The first frame is the LAME tag ("Info" for a constant bit rate),
			// which tells the delay and padding.
			EXPECT_NE(data.substr(0, 200).find("Info"), std::string::npos);
			EXPECT_NE(data.find("LAME"), std::string::npos);
			EXPECT_NEAR(decoded.Content(), expected, perFrame);
		} else {
			// Frames of 144 bytes at 32 kbps have no room for the tag: the
			// decoder gives the delay and padding too.
			EXPECT_GE(decoded.samples, expected);
			EXPECT_LE(decoded.samples, expected + 576 + 3 * static_cast<int64_t>(perFrame));
		}
	}
}

TEST(GogoEncode, ModesSetTheChannels)
{
	TempDir dir;
	const std::string input = dir / "in.wav";
	ASSERT_TRUE(WriteSineWav(input, 2, 44100, 2));
	struct Case {
		gogo::ChannelMode mode;
		int channels;
		int headerMode;
	};
	for (const Case& c : {Case{gogo::ChannelMode::Mono, 1, 3}, Case{gogo::ChannelMode::Stereo, 2, 0},
			Case{gogo::ChannelMode::JointStereo, 2, 1}}) {
		gogo::Options options;
		options.input = input;
		options.mode = c.mode;
		const gogo::EncodeResult result = gogo::EncodeFile(options);
		ASSERT_TRUE(result.ok) << result.error;
		const Decoded decoded = Decode(result.outputPath);
		ASSERT_TRUE(decoded.ok);
		EXPECT_EQ(decoded.channels, c.channels);
		EXPECT_EQ(decoded.Content(), 88200);
		for (const Frame& frame : ParseFrames(ReadFile(result.outputPath)))
			EXPECT_EQ(frame.channelMode, c.headerMode);
	}
}

TEST(GogoEncode, VariableBitRateAndNoPsy)
{
	TempDir dir;
	const std::string input = dir / "in.wav";
	ASSERT_TRUE(WriteSineWav(input, 2, 44100, 2));
	gogo::Options options;
	options.input = input;
	options.vbrQuality = 2;
	gogo::EncodeResult result = gogo::EncodeFile(options);
	ASSERT_TRUE(result.ok) << result.error;
	EXPECT_NE(ReadFile(result.outputPath).substr(0, 200).find("Xing"), std::string::npos);
	Decoded decoded = Decode(result.outputPath);
	ASSERT_TRUE(decoded.ok);
	EXPECT_EQ(decoded.Content(), 88200);

	options.vbrQuality = -1;
	options.noPsy = true;
	options.quality = gogo::kNoPsyQuality;
	options.bitrate = 112;
	result = gogo::EncodeFile(options);
	ASSERT_TRUE(result.ok) << result.error;
	decoded = Decode(result.outputPath);
	ASSERT_TRUE(decoded.ok);
	EXPECT_EQ(decoded.Content(), 88200);
	for (const Frame& frame : ParseFrames(ReadFile(result.outputPath)))
		EXPECT_EQ(frame.bitrate, 112);
}

TEST(GogoEncode, RefusesToOverwriteTheInput)
{
	// A WAV named .mp3 would be replaced by its own MP3.
	TempDir dir;
	const std::string input = dir / "song.mp3";
	ASSERT_TRUE(WriteSineWav(input, 1, 44100, 2));
	const std::string before = ReadFile(input);
	gogo::Options options;
	options.input = input;
	options.deleteInput = true;
	const gogo::EncodeResult result = gogo::EncodeFile(options);
	EXPECT_FALSE(result.ok);
	EXPECT_NE(result.error.find("overwrite"), std::string::npos) << result.error;
	EXPECT_EQ(ReadFile(input), before);
	EXPECT_EQ(ListDirectory(dir.Path()), std::vector<std::string>{"song.mp3"});
}

TEST(GogoEncode, RefusesMoreThanTwoChannelsAndEmptyAudio)
{
	TempDir dir;
	ASSERT_TRUE(WriteSineWav(dir / "quad.wav", 1, 44100, 4));
	gogo::Options options;
	options.input = dir / "quad.wav";
	gogo::EncodeResult result = gogo::EncodeFile(options);
	EXPECT_FALSE(result.ok);
	EXPECT_NE(result.error.find("4 channels"), std::string::npos) << result.error;

	ASSERT_TRUE(WriteSineWav(dir / "silence.wav", 0, 44100, 2));
	options.input = dir / "silence.wav";
	result = gogo::EncodeFile(options);
	EXPECT_FALSE(result.ok);
	EXPECT_NE(result.error.find("no audio"), std::string::npos) << result.error;
	EXPECT_EQ(ListDirectory(dir.Path()), (std::vector<std::string>{"quad.wav", "silence.wav"}));
}

// Float files can hold what no converter should pass on: LAME aborts the
// whole process on a NaN or an infinity. Those, and samples far past full
// scale, are clipped; the encode goes through with the file's length.
TEST(GogoEncode, FloatSamplesThatAreNotNumbersOrPastFullScaleAreClipped)
{
	const float specials[] = {std::numeric_limits<float>::quiet_NaN(),
		std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(), 1e30f,
		-1e30f, 4.0f};
	for (int channels : {1, 2}) {
		TempDir dir;
		const std::string input = dir / "odd.wav";
		SF_INFO info;
		std::memset(&info, 0, sizeof(info));
		info.samplerate = 44100;
		info.channels = channels;
		info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
		SNDFILE* file = sf_open(input.c_str(), SFM_WRITE, &info);
		ASSERT_NE(file, nullptr);
		const sf_count_t frames = 44100;
		std::vector<float> samples(static_cast<size_t>(frames * channels));
		for (size_t i = 0; i < samples.size(); i++)
			samples[i] = static_cast<float>(0.3 * std::sin(0.05 * static_cast<double>(i)));
		// Runs of each kind, and single ones between good samples.
		for (size_t kind = 0; kind < std::size(specials); kind++) {
			for (size_t i = 0; i < 300; i++)
				samples[1000 + kind * 4000 + i] = specials[kind];
			samples[30000 + kind * 97] = specials[kind];
		}
		ASSERT_EQ(sf_write_float(file, samples.data(), static_cast<sf_count_t>(samples.size())),
			static_cast<sf_count_t>(samples.size()));
		ASSERT_EQ(sf_close(file), 0);

		gogo::Options options;
		options.input = input;
		const gogo::EncodeResult result = gogo::EncodeFile(options);
		ASSERT_TRUE(result.ok) << result.error;
		EXPECT_EQ(result.frames, frames);
		const Decoded decoded = Decode(result.outputPath);
		ASSERT_TRUE(decoded.ok);
		EXPECT_EQ(decoded.channels, channels);
		EXPECT_EQ(decoded.Content(), frames);
	}
}

TEST(GogoEncode, LowSampleRatesLameResamplesUpwards)
{
	// 4 kHz becomes 8 kHz: each block's MP3 is larger than its sample count
	// suggests, which the output buffer must allow for.
	TempDir dir;
	const std::string input = dir / "low.wav";
	ASSERT_TRUE(WriteSineWav(input, 40, 4000, 1));
	gogo::Options options;
	options.input = input;
	options.bitrate = 320;
	gogo::EncodeResult result = gogo::EncodeFile(options);
	ASSERT_TRUE(result.ok) << result.error;
	const Decoded decoded = Decode(result.outputPath);
	ASSERT_TRUE(decoded.ok);
	EXPECT_EQ(decoded.samplerate, 8000);
	EXPECT_NEAR(static_cast<double>(decoded.samples) / decoded.samplerate, 40.0, 0.3);

	ASSERT_TRUE(WriteSineWav(dir / "absurd.wav", 1, 500, 1));
	options.input = dir / "absurd.wav";
	result = gogo::EncodeFile(options);
	EXPECT_FALSE(result.ok);
	EXPECT_NE(result.error.find("sample rate"), std::string::npos) << result.error;
}

// ---- naming the output: never over another file ----------------------------------------

// The ways of writing and naming the MP3 that file systems leave open: the
// nameless O_TMPFILE linked in, a named temporary file renamed with
// RENAME_NOREPLACE (vfat, exfat), linked and unlinked (NFS), or renamed over
// an empty placeholder made with O_EXCL (neither flag nor links).
struct WritePath {
	bool noTmpFile;
	bool noRenameNoReplace;
	bool noHardLinks;
	const char* name;
};

class GogoNoReplace : public testing::TestWithParam<WritePath> {
protected:
	static gogo::Options OptionsFor(const std::string& input)
	{
		gogo::Options options;
		options.input = input;
		options.quality = gogo::kNoPsyQuality;
		options.fallbacks.noTmpFile = GetParam().noTmpFile;
		options.fallbacks.noRenameNoReplace = GetParam().noRenameNoReplace;
		options.fallbacks.noHardLinks = GetParam().noHardLinks;
		return options;
	}
};

TEST_P(GogoNoReplace, TakesTheFirstFreeNameAndLeavesTheOthersAlone)
{
	TempDir dir;
	const std::string input = dir / "x.wav";
	ASSERT_TRUE(WriteSineWav(input, 1, 44100, 2));
	// In use: a file, a directory, and a symbolic link to nowhere.
	ASSERT_TRUE(WriteFile(dir / "x.mp3", "mine"));
	ASSERT_EQ(mkdir((dir / "x (2).mp3").c_str(), 0755), 0);
	ASSERT_EQ(symlink("nowhere", (dir / "x (3).mp3").c_str()), 0);

	for (const char* expected : {"x (4).mp3", "x (5).mp3"}) {
		const gogo::EncodeResult result = gogo::EncodeFile(OptionsFor(input));
		ASSERT_TRUE(result.ok) << result.error;
		EXPECT_TRUE(result.nameTaken);
		EXPECT_EQ(result.outputPath, dir / expected);
		const Decoded decoded = Decode(dir / expected);
		ASSERT_TRUE(decoded.ok) << expected;
		EXPECT_EQ(decoded.Content(), 44100);
	}
	EXPECT_EQ(ReadFile(dir / "x.mp3"), "mine");
	EXPECT_TRUE(ListDirectory(dir / "x (2).mp3").empty());
	char target[16] = {};
	EXPECT_EQ(readlink((dir / "x (3).mp3").c_str(), target, sizeof(target) - 1), 7);
	EXPECT_FALSE(Exists(dir / "nowhere"));
	// Nothing else: no temporary file, no placeholder.
	EXPECT_EQ(ListDirectory(dir.Path()), (std::vector<std::string>{"x (2).mp3", "x (3).mp3",
		"x (4).mp3", "x (5).mp3", "x.mp3", "x.wav"}));

	// A free name is taken as it is.
	ASSERT_TRUE(WriteSineWav(dir / "y.wav", 1, 44100, 1));
	const gogo::EncodeResult fresh = gogo::EncodeFile(OptionsFor(dir / "y.wav"));
	ASSERT_TRUE(fresh.ok) << fresh.error;
	EXPECT_FALSE(fresh.nameTaken);
	EXPECT_EQ(fresh.outputPath, dir / "y.mp3");
}

TEST_P(GogoNoReplace, OverwriteRenamesOverTheOldFileButNeverWithDelete)
{
	TempDir dir;
	const std::string input = dir / "x.wav";
	ASSERT_TRUE(WriteSineWav(input, 1, 44100, 2));
	ASSERT_TRUE(WriteFile(dir / "x.mp3", "old"));
	// A second name of the old file: a rename leaves it the old contents,
	// writing into the old file would not.
	ASSERT_EQ(link((dir / "x.mp3").c_str(), (dir / "old.lnk").c_str()), 0);

	gogo::Options options = OptionsFor(input);
	options.overwrite = true;
	gogo::EncodeResult result = gogo::EncodeFile(options);
	ASSERT_TRUE(result.ok) << result.error;
	EXPECT_FALSE(result.nameTaken);
	EXPECT_EQ(result.outputPath, dir / "x.mp3");
	EXPECT_TRUE(Decode(dir / "x.mp3").ok);
	EXPECT_EQ(ReadFile(dir / "old.lnk"), "old");
	EXPECT_EQ(ListDirectory(dir.Path()), (std::vector<std::string>{"old.lnk", "x.mp3", "x.wav"}));

	// With -delete the request to replace is ignored: a free name again.
	const std::string first = ReadFile(dir / "x.mp3");
	options.deleteInput = true;
	result = gogo::EncodeFile(options);
	ASSERT_TRUE(result.ok) << result.error;
	EXPECT_TRUE(result.nameTaken);
	EXPECT_EQ(result.outputPath, dir / "x (2).mp3");
	EXPECT_EQ(ReadFile(dir / "x.mp3"), first);
	EXPECT_EQ(ListDirectory(dir.Path()), (std::vector<std::string>{"old.lnk", "x (2).mp3", "x.mp3"}));
}

TEST_P(GogoNoReplace, EncodesRacingForOneNameEachGetTheirOwn)
{
	// Four inputs of one name and four lengths, to one directory at once:
	// each MP3 must survive under a name of its own.
	TempDir dir;
	const std::vector<double> seconds = {1.0, 1.5, 2.0, 2.5};
	std::vector<gogo::Options> options;
	for (size_t i = 0; i < seconds.size(); i++) {
		const std::string album = dir / ("album" + std::to_string(i));
		ASSERT_EQ(mkdir(album.c_str(), 0755), 0);
		ASSERT_TRUE(WriteSineWav(album + "/song.wav", seconds[i], 44100, 1));
		options.push_back(OptionsFor(album + "/song.wav"));
		options.back().hasOutputDirectory = true;
		options.back().outputDirectory = dir / "out";
	}
	std::vector<gogo::EncodeResult> results(options.size());
	std::atomic<int> ready{0};
	std::vector<std::thread> threads;
	for (size_t i = 0; i < options.size(); i++) {
		threads.emplace_back([&, i] {
			ready++;
			while (ready.load() < static_cast<int>(options.size()))
				std::this_thread::yield();
			results[i] = gogo::EncodeFile(options[i]);
		});
	}
	for (std::thread& thread : threads)
		thread.join();

	std::set<std::string> paths;
	std::multiset<int64_t> lengths;
	for (const gogo::EncodeResult& result : results) {
		ASSERT_TRUE(result.ok) << result.error;
		paths.insert(result.outputPath);
		const Decoded decoded = Decode(result.outputPath);
		ASSERT_TRUE(decoded.ok) << result.outputPath;
		lengths.insert(decoded.Content());
	}
	EXPECT_EQ(paths, (std::set<std::string>{dir / "out/song.mp3", dir / "out/song (2).mp3",
		dir / "out/song (3).mp3", dir / "out/song (4).mp3"}));
	EXPECT_EQ(lengths, (std::multiset<int64_t>{44100, 66150, 88200, 110250}));
	EXPECT_EQ(ListDirectory(dir / "out").size(), 4u);
}

TEST_P(GogoNoReplace, ANumberedNameTooLongIsRefused)
{
	TempDir dir;
	const long nameMax = pathconf(dir.Path().c_str(), _PC_NAME_MAX);
	ASSERT_GT(nameMax, 8);
	// "nnn....mp3" is as long as a name can be: "nnn... (2).mp3" is not.
	const std::string stem(static_cast<size_t>(nameMax) - 4, 'n');
	const std::string input = dir / (stem + ".wav");
	ASSERT_TRUE(WriteSineWav(input, 1, 44100, 1));
	ASSERT_TRUE(WriteFile(dir / (stem + ".mp3"), "mine"));
	gogo::Options options = OptionsFor(input);
	options.deleteInput = true;
	const gogo::EncodeResult result = gogo::EncodeFile(options);
	EXPECT_FALSE(result.ok);
	EXPECT_FALSE(result.outputWritten);
	EXPECT_NE(result.error.find("too long"), std::string::npos) << result.error;
	EXPECT_EQ(result.error.find('\n'), std::string::npos);
	EXPECT_EQ(ReadFile(dir / (stem + ".mp3")), "mine");
	EXPECT_EQ(ListDirectory(dir.Path()), (std::vector<std::string>{stem + ".mp3", stem + ".wav"}));
}

INSTANTIATE_TEST_SUITE_P(WritePaths, GogoNoReplace,
	testing::Values(WritePath{false, false, false, "tmpfile"},
		WritePath{true, false, false, "named_rename_noreplace"},
		WritePath{true, true, false, "named_link"},
		WritePath{true, true, true, "named_placeholder"}),
	[](const testing::TestParamInfo<WritePath>& info) { return std::string(info.param.name); });

// ---- -delete: only a complete input that did not change ------------------------------------

gogo::Options DeleteOptions(const std::string& input)
{
	gogo::Options options;
	options.input = input;
	options.deleteInput = true;
	options.quality = gogo::kNoPsyQuality;
	return options;
}

// The result of an encode that wrote the MP3 and kept the input.
void ExpectKept(const gogo::EncodeResult& result, const std::string& because)
{
	EXPECT_FALSE(result.ok);
	EXPECT_TRUE(result.outputWritten);
	EXPECT_TRUE(result.inputKept);
	EXPECT_NE(result.error.find("did not delete"), std::string::npos) << result.error;
	EXPECT_NE(result.error.find(because), std::string::npos) << result.error;
	EXPECT_EQ(result.error.find('\n'), std::string::npos) << result.error;
	EXPECT_TRUE(Decode(result.outputPath).ok);
}

// Waits until the clock that stamps files has passed the file's change
// time, so that a change made now shows in its times, however coarse.
bool WaitPastChangeTime(const std::string& path)
{
	struct stat st;
	if (stat(path.c_str(), &st) != 0)
		return false;
	return testing_support::WaitUntil([&st] {
		struct timespec now;
		clock_gettime(CLOCK_REALTIME_COARSE, &now);
		return now.tv_sec > st.st_ctim.tv_sec
			|| (now.tv_sec == st.st_ctim.tv_sec && now.tv_nsec > st.st_ctim.tv_nsec);
	});
}

TEST(GogoDelete, KeepsAnInputThatChangesDuringTheEncode)
{
	struct Change {
		const char* name;
		void (*apply)(const std::string& input);
		const char* because; // nullptr: no change, the input goes
	};
	const Change changes[] = {
		{"unchanged", [](const std::string&) {}, nullptr},
		{"grows",
			[](const std::string& input) {
				const int fd = open(input.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
				ASSERT_GE(fd, 0);
				const std::string more(4096, '\0');
				EXPECT_EQ(write(fd, more.data(), more.size()), static_cast<ssize_t>(more.size()));
				close(fd);
			},
			"changed during the encode"},
		{"rewritten in place",
			[](const std::string& input) {
				ASSERT_TRUE(WaitPastChangeTime(input));
				const int fd = open(input.c_str(), O_WRONLY | O_CLOEXEC);
				ASSERT_GE(fd, 0);
				EXPECT_EQ(pwrite(fd, "\x7f\x7f", 2, 100000), 2);
				close(fd);
			},
			"modified"},
		{"status changed",
			[](const std::string& input) {
				ASSERT_TRUE(WaitPastChangeTime(input));
				EXPECT_EQ(chmod(input.c_str(), 0600), 0);
			},
			"changed during the encode"},
		{"replaced",
			[](const std::string& input) {
				EXPECT_TRUE(WriteFile(input + ".new", "another file"));
				EXPECT_EQ(rename((input + ".new").c_str(), input.c_str()), 0);
			},
			"replaced"},
		{"removed", [](const std::string& input) { EXPECT_EQ(unlink(input.c_str()), 0); },
			"removed"},
	};
	for (const Change& change : changes) {
		SCOPED_TRACE(change.name);
		TempDir dir;
		const std::string input = dir / "rec.wav";
		ASSERT_TRUE(WriteSineWav(input, 6, 44100, 2));
		const std::string contents = ReadFile(input);
		// Once the encode is under way (a block encoded, the input's state
		// taken long before).
		bool applied = false;
		const gogo::EncodeResult result = gogo::EncodeFile(DeleteOptions(input),
			[&](int percent) {
				if (percent > 0 && !applied) {
					applied = true;
					change.apply(input);
				}
			});
		ASSERT_TRUE(applied);
		if (change.because == nullptr) {
			EXPECT_TRUE(result.ok) << result.error;
			EXPECT_FALSE(result.inputKept);
			EXPECT_EQ(ListDirectory(dir.Path()), std::vector<std::string>{"rec.mp3"});
			continue;
		}
		ExpectKept(result, change.because);
		const std::string now = ReadFile(input);
		if (std::string(change.name) == "replaced")
			EXPECT_EQ(now, "another file");
		else if (std::string(change.name) == "removed")
			EXPECT_FALSE(Exists(input));
		else
			EXPECT_EQ(now.substr(0, 100000), contents.substr(0, 100000));
	}
}

struct Container {
	int format;
	const char* name;
	bool checkable;  // -delete can tell complete from truncated
};

class GogoDeleteContainers : public testing::TestWithParam<Container> {};

TEST_P(GogoDeleteContainers, DeletesCompleteInputsAndKeepsTruncatedOnes)
{
	const Container container = GetParam();
	TempDir dir;
	const std::string input = dir / "in.audio";
	ASSERT_TRUE(WriteSineFile(input, 4, 44100, 2, container.format));
	gogo::EncodeResult result = gogo::EncodeFile(DeleteOptions(input));
	if (container.checkable) {
		ASSERT_TRUE(result.ok) << result.error;
		EXPECT_FALSE(Exists(input));
	} else {
		ExpectKept(result, "can be checked as complete");
		EXPECT_TRUE(Exists(input));
	}
	ASSERT_EQ(unlink(result.outputPath.c_str()), 0);

	// Cut short, as a copy that stopped halfway: whatever libsndfile makes
	// of it, the input stays as it is.
	ASSERT_TRUE(WriteSineFile(input, 4, 44100, 2, container.format));
	ASSERT_TRUE(CutTo(input, 0.4));
	const std::string cut = ReadFile(input);
	result = gogo::EncodeFile(DeleteOptions(input));
	EXPECT_FALSE(result.ok);
	EXPECT_EQ(result.outputWritten, result.inputKept);
	EXPECT_EQ(ReadFile(input), cut);
	if (container.checkable) {
		EXPECT_TRUE(result.truncated);
		EXPECT_NE(result.error.find("of the 4.0 s of audio its header declares"), std::string::npos)
			<< result.error;
		EXPECT_NE(result.error.find("and kept the input"), std::string::npos) << result.error;
	}
}

INSTANTIATE_TEST_SUITE_P(Formats, GogoDeleteContainers,
	testing::Values(Container{SF_FORMAT_WAV | SF_FORMAT_PCM_16, "wav_pcm16", true},
		Container{SF_FORMAT_WAV | SF_FORMAT_FLOAT, "wav_float_with_peak", true},
		Container{SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, "wavex_pcm24", true},
		Container{SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, "wav_ima_adpcm", false},
		Container{SF_FORMAT_RF64 | SF_FORMAT_PCM_16, "rf64", true},
		Container{SF_FORMAT_W64 | SF_FORMAT_PCM_16, "w64", true},
		Container{SF_FORMAT_AIFF | SF_FORMAT_PCM_16, "aiff", true},
		Container{SF_FORMAT_AIFF | SF_FORMAT_FLOAT, "aifc_float", true},
		Container{SF_FORMAT_FLAC | SF_FORMAT_PCM_16, "flac", true},
		Container{SF_FORMAT_AU | SF_FORMAT_PCM_16, "au", false}),
	[](const testing::TestParamInfo<Container>& info) { return std::string(info.param.name); });

// ---- the audio the file holds, whatever its header says ------------------------------------

// The bytes with an unsigned value of `bytes` bytes written at the offset
// `after` bytes past the first `name`.
std::string Patched(std::string data, const char* name, size_t after, uint64_t value, int bytes,
	bool bigEndian = false)
{
	const size_t at = data.find(name);
	if (at == std::string::npos || at + after + static_cast<size_t>(bytes) > data.size())
		return {};
	for (int i = 0; i < bytes; i++) {
		const int shift = 8 * (bigEndian ? bytes - 1 - i : i);
		data[at + after + static_cast<size_t>(i)] = static_cast<char>((value >> shift) & 0xff);
	}
	return data;
}

// A FLAC's STREAMINFO sample count set to frames.
std::string FlacCount(std::string data, uint64_t frames)
{
	if (data.size() < 22)
		return {};
	data[21] = static_cast<char>((data[21] & 0xf0) | ((frames >> 32) & 0x0f));
	for (int i = 0; i < 4; i++)
		data[22 + static_cast<size_t>(i)] = static_cast<char>((frames >> (24 - 8 * i)) & 0xff);
	return data;
}

constexpr int64_t kHeld = 88200; // two seconds
constexpr uint32_t kBytes = kHeld * 4;

// What gogo -delete makes of inputs whose header says less, more or nothing
// of the audio there is: every case ends with an MP3 of all of it, or the
// MP3 of what there is and the input kept, never a shorter MP3 and the input
// gone.
TEST(GogoLength, EncodesWhatTheFileHoldsAndDeletesOnlyAWholeInput)
{
	const std::string pcm = PcmFrames(0, kHeld, 44100, 2);
	const std::string list = std::string("LIST\x0e\0\0\0INFOINAM\x02\0\0\0a\0", 22);
	const std::string rf64 = MadeBy(SF_FORMAT_RF64 | SF_FORMAT_PCM_16);
	const std::string w64 = MadeBy(SF_FORMAT_W64 | SF_FORMAT_PCM_16);
	const std::string aiff = MadeBy(SF_FORMAT_AIFF | SF_FORMAT_PCM_16);
	const std::string flac = MadeBy(SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
	const std::string ogg = MadeBy(SF_FORMAT_OGG | SF_FORMAT_VORBIS);
	const size_t w64Data = w64.find("data");
	const size_t ssnd = aiff.find("SSND");
	struct Case {
		const char* name;
		std::string bytes;
		int64_t frames;    // encoded; -1: fewer than kHeld, as far as the stream decodes
		bool truncated;
		bool deleted;
		const char* says;  // in the note or the error
	};
	const Case cases[] = {
		{"wav whole", WavHeader(44100, 2, kBytes) + pcm, kHeld, false, true, ""},
		{"wav half", WavHeader(44100, 2, kBytes / 2) + pcm, kHeld, false, true,
			"its header declares 1.0 s of audio but the file holds 2.0 s; all of it is encoded"},
		{"wav odd", WavHeader(44100, 2, kBytes / 2 + 1) + pcm, kHeld, false, true, "holds 2.0 s"},
		// A recorder's "not known yet": all of it, and kept (it may still be
		// being written).
		{"wav 0", WavHeader(44100, 2, 0) + pcm, kHeld, false, false, "does not give its length"},
		{"wav ffffffff", WavHeader(44100, 2, 0xffffffff) + pcm, kHeld, false, false,
			"does not give its length"},
		{"wav double", WavHeader(44100, 2, kBytes * 2) + pcm, kHeld, true, false,
			"holds only 2.0 s of the 4.0 s of audio its header declares (50%)"},
		{"wav cut", WavHeader(44100, 2, kBytes) + pcm.substr(0, kBytes / 4 + 3), kHeld / 4, true,
			false, "holds only 0.5 s of the 2.0 s"},
		// Chunks after the data: its size stands, and they are not audio.
		{"wav then LIST", WavHeader(44100, 2, kBytes) + pcm + list, kHeld, false, true, ""},
		{"wav half then LIST", WavHeader(44100, 2, kBytes / 2) + pcm.substr(0, kBytes / 2) + list
				+ pcm.substr(kBytes / 2),
			kHeld / 2, false, true, ""},
		{"rf64 half", Patched(rf64, "ds64", 16, kBytes / 2, 8), kHeld, false, true, "holds 2.0 s"},
		{"rf64 double", Patched(rf64, "ds64", 16, uint64_t{kBytes} * 2, 8), kHeld, true, false,
			"of the 4.0 s"},
		{"w64 half", Patched(w64, "data", 16, 24 + kBytes / 2, 8), kHeld, false, true, "holds 2.0 s"},
		{"w64 cut", w64.substr(0, w64Data + 24 + kBytes / 2), kHeld / 2, true, false, "of the 2.0 s"},
		{"aiff COMM half", Patched(aiff, "COMM", 10, kHeld / 2, 4, true), kHeld, false, true,
			"holds 2.0 s"},
		{"aiff SSND half", Patched(aiff, "SSND", 4, 8 + kBytes / 2, 4, true), kHeld, false, true, ""},
		{"aiff COMM double", Patched(aiff, "COMM", 10, kHeld * 2, 4, true), kHeld, true, false,
			"of the 4.0 s"},
		{"aiff cut", aiff.substr(0, ssnd + 16 + kBytes / 2), kHeld / 2, true, false, "of the 2.0 s"},
		{"flac whole", flac, kHeld, false, true, ""},
		{"flac half", FlacCount(flac, kHeld / 2), kHeld, false, true,
			"its header declares 1.0 s of audio but the stream holds 2.0 s"},
		{"flac 0", FlacCount(flac, 0), kHeld, false, true, ""},
		{"flac double", FlacCount(flac, kHeld * 2), kHeld, true, false, "of the 4.0 s"},
		{"flac cut in a frame", flac.substr(0, flac.size() / 2 + 7), -1, true, false, "of the 2.0 s"},
		{"ogg whole", ogg, kHeld, false, true, ""},
		{"ogg cut", ogg.substr(0, ogg.size() - ogg.size() / 8), -1, true, false,
			"its last page does not end its stream"},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.name);
		ASSERT_FALSE(c.bytes.empty());
		TempDir dir;
		const std::string input = dir / "rec.audio";
		ASSERT_TRUE(WriteFile(input, c.bytes));
		const gogo::EncodeResult result = gogo::EncodeFile(DeleteOptions(input));
		const std::string said = result.ok ? result.note : result.error;
		EXPECT_NE(said.find(c.says), std::string::npos) << said;
		EXPECT_EQ(said.find('\n'), std::string::npos) << said;
		EXPECT_TRUE(result.outputWritten) << said;
		EXPECT_EQ(result.truncated, c.truncated) << said;
		EXPECT_EQ(result.ok, c.deleted) << said;
		EXPECT_EQ(Exists(input), !c.deleted);
		if (!c.deleted) {
			EXPECT_EQ(ReadFile(input), c.bytes);
		}
		if (c.frames >= 0) {
			EXPECT_EQ(result.frames, c.frames);
		} else {
			EXPECT_TRUE(result.frames > 0 && result.frames < kHeld) << result.frames;
		}
		const Decoded decoded = Decode(result.outputPath);
		ASSERT_TRUE(decoded.ok);
		EXPECT_EQ(decoded.Content(), result.frames);
	}
}

TEST(GogoLength, ADataSizeWrappedPastFourGibibytesIsReadToTheFilesEnd)
{
	// The file's size is a seam: 6 h 46 min of 16-bit stereo whose 32-bit
	// size wrapped to 1000 bytes, as sox writes it.
	TempDir dir;
	const std::string input = dir / "big.wav";
	ASSERT_TRUE(WriteFile(input, WavHeader(44100, 2, 1000) + PcmFrames(0, 4410, 44100, 2)));
	const int fd = open(input.c_str(), O_RDONLY | O_CLOEXEC);
	ASSERT_GE(fd, 0);
	const uint64_t size = 44 + (uint64_t{1} << 32) + 1000;
	const gogo::InputExtent extent = gogo::ReadInputExtent(fd, size);
	close(fd);
	ASSERT_EQ(extent.kind, gogo::InputExtent::Kind::Pcm);
	EXPECT_EQ(extent.declaredFrames, 250);
	EXPECT_EQ(extent.heldFrames, static_cast<int64_t>(((uint64_t{1} << 32) + 1000) / 4));
	EXPECT_EQ(extent.layout.offset, 44u);
	EXPECT_EQ(gogo::UnderstatedNote(extent), "its header declares 0.0 s of audio but the file holds"
		" 6 h 46 min; all of it is encoded");
}

} // namespace
