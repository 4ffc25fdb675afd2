#include "GogoEncoder.h"
#include "FileOps.h"
#include "InputExtent.h"
#include "InputLength.h"
#include "InputReader.h"
#include "InputView.h"
#include "LameHandle.h"
#include "ParallelEncoder.h"
#include "Paths.h"
#include "TempFile.h"

#include <lame/lame.h>
#include <sndfile.h>

#include <climits>
#include <cstdio>
#include <new>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gogo {

namespace {

std::string LameError(int code)
{
	switch (code) {
	case -1: return "LAME's output buffer was too small";
	case -2: return "LAME ran out of memory";
	case -3: return "LAME was not initialized";
	case -4: return "LAME's psychoacoustic model failed";
	default: return "LAME failed (error " + std::to_string(code) + ")";
	}
}

} // namespace

EncodeResult EncodeFile(const Options& options, const ProgressFunction& progress)
{
	EncodeResult result;
	const std::string& input = options.input;
	result.outputPath = OutputPath(options);
	auto fail = [&result](std::string reason) {
		result.ok = false;
		result.error = std::move(reason);
		return result;
	};

	if (input.empty())
		return fail("no input file");
	if (input.find('\0') != std::string::npos)
		return fail("input file name contains a NUL byte");

	// The input.
	std::string inputDirectory, inputName;
	SplitPath(input, inputDirectory, inputName);
	UniqueFd inputDir(OpenDirectory(inputDirectory, false));
	if (inputDir.Get() < 0) {
		const int error = errno;
		return fail("cannot open " + QuotePath(input) + ": " + ErrnoText(error));
	}
	if (inputName.empty())
		return fail(QuotePath(input) + " is a directory");
	UniqueFd inputFd(openat(inputDir.Get(), inputName.c_str(),
		O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
	if (inputFd.Get() < 0) {
		const int error = errno;
		return fail("cannot open " + QuotePath(input) + ": " + ErrnoText(error));
	}
	struct stat inputStat;
	if (fstat(inputFd.Get(), &inputStat) != 0) {
		const int error = errno;
		return fail("cannot read " + QuotePath(input) + ": " + ErrnoText(error));
	}
	if (S_ISDIR(inputStat.st_mode))
		return fail(QuotePath(input) + " is a directory");
	if (!S_ISREG(inputStat.st_mode))
		return fail(QuotePath(input) + " is not a regular file");
	if (inputStat.st_size == 0)
		return fail(QuotePath(input) + " is empty");
	// What the file holds, from its container and its size: the encode
	// reads all of it, and -delete holds what was read against it.
	const bool deleting = options.deleteInput;
	const InputExtent extent = ReadInputExtent(inputFd.Get(), static_cast<uint64_t>(inputStat.st_size));
	// With -delete nothing is ever replaced.
	const bool replace = options.overwrite && !deleting;
	{
		const int flags = fcntl(inputFd.Get(), F_GETFL);
		if (flags >= 0)
			fcntl(inputFd.Get(), F_SETFL, flags & ~O_NONBLOCK);
	}

	SoundFile sound;
	const bool opened = sound.Open(inputFd.Get());
	const std::string openError = opened ? std::string() : OneLine(sf_strerror(nullptr));
	// Where libsndfile would stop short of what the file holds (or cannot
	// open it for its header's sizes), the samples are read as they lie; a
	// FLAC is decoded to the end of its stream, past what STREAMINFO says.
	InputView view = WholeFile(inputFd.Get(), static_cast<uint64_t>(inputStat.st_size));
	bool ownView = false;
	if (extent.kind == InputExtent::Kind::Pcm
			&& (!opened || sound.Info().frames != extent.heldFrames
				|| sound.Info().channels != extent.layout.channels)) {
		view.offset = extent.layout.offset;
		view.length = extent.layout.bytes;
		view.raw.samplerate = extent.layout.sampleRate;
		view.raw.channels = extent.layout.channels;
		view.raw.format = extent.layout.format;
		ownView = true;
	} else if (extent.kind == InputExtent::Kind::Flac && extent.flacCountAt >= 0 && opened) {
		view.hiddenCountAt = extent.flacCountAt;
		ownView = true;
	}
	ViewFile viewFile;
	if (ownView && !viewFile.Open(view)) {
		return fail(QuotePath(input) + " is not an audio file libsndfile can read ("
			+ OneLine(viewFile.Error().c_str()) + ")");
	}
	if (!ownView && !opened) {
		return fail(QuotePath(input) + " is not an audio file libsndfile can read (" + openError
			+ ")");
	}
	SNDFILE* const file = ownView ? viewFile.Get() : sound.Get();
	const SF_INFO& info = ownView ? viewFile.Info() : sound.Info();
	if (info.channels != 1 && info.channels != 2) {
		return fail(QuotePath(input) + " has " + std::to_string(info.channels)
			+ " channels; only mono and stereo are supported");
	}
	if (info.samplerate < kMinSampleRate) {
		return fail(QuotePath(input) + " has a sample rate of " + std::to_string(info.samplerate)
			+ " Hz; at least " + std::to_string(kMinSampleRate) + " is needed");
	}
	if (info.frames == 0)
		return fail(QuotePath(input) + " contains no audio");
	// The length the input declares (a FLAC's STREAMINFO, though it is read
	// to its end): the plan's, and the progress's.
	const int64_t declaredFrames =
		extent.kind == InputExtent::Kind::Flac && opened ? sound.Info().frames : info.frames;
	const bool lengthKnown = declaredFrames > 0 && declaredFrames != SF_COUNT_MAX;
	const int64_t planFrames = lengthKnown ? declaredFrames : 0;
	result.note = UnderstatedNote(extent);
	result.sampleRate = info.samplerate;
	result.channels = info.channels;

	// The encoder.
	LameHandle lame;
	lame_global_flags* gf = lame.Get();
	if (gf == nullptr)
		return fail("cannot initialize LAME");
	// The settings, for this encoder and the parallel path's.
	const LameSetup configure = [&options, &info](lame_global_flags* flags) {
		lame_set_num_channels(flags, info.channels);
		lame_set_in_samplerate(flags, info.samplerate);
		switch (options.mode) {
		case ChannelMode::Mono: lame_set_mode(flags, MONO); break;
		case ChannelMode::Stereo: lame_set_mode(flags, STEREO); break;
		case ChannelMode::JointStereo: lame_set_mode(flags, JOINT_STEREO); break;
		case ChannelMode::Default: break;
		}
		lame_set_quality(flags, options.EffectiveQuality());
		if (options.vbrQuality >= 0) {
			lame_set_VBR(flags, vbr_default);
			lame_set_VBR_quality(flags, static_cast<float>(options.vbrQuality));
			if (options.bitrate > 0)
				lame_set_VBR_min_bitrate_kbps(flags, options.bitrate);
		} else {
			lame_set_VBR(flags, vbr_off);
			lame_set_brate(flags, options.EffectiveBitrate());
		}
		lame_set_findReplayGain(flags, options.replayGain ? 1 : 0);
		lame_set_bWriteVbrTag(flags, 1);
		lame_set_write_id3tag_automatic(flags, 0);
	};
	configure(gf);
	if (lengthKnown && static_cast<unsigned long long>(planFrames) <= ULONG_MAX)
		lame_set_num_samples(gf, static_cast<unsigned long>(planFrames));
	if (lame_init_params(gf) < 0) {
		return fail("LAME cannot encode " + QuotePath(input) + " with these settings ("
			+ std::to_string(info.samplerate) + " Hz, " + std::to_string(info.channels)
			+ " channels)");
	}

	// The output.
	std::string outputDirectory = inputDirectory;
	if (options.hasOutputDirectory)
		outputDirectory = options.outputDirectory;
	const std::string outputName = OutputFileName(inputName);
	UniqueFd outputDir;
	int directorySyncError = 0; // of the directories made for -o
	if (options.hasOutputDirectory) {
		outputDir.Reset(OpenDirectory(outputDirectory, true, &directorySyncError));
		if (outputDir.Get() < 0) {
			const int error = errno;
			return fail("cannot create the output directory " + QuotePath(outputDirectory) + ": "
				+ ErrnoText(error));
		}
	} else {
		outputDir.Reset(fcntl(inputDir.Get(), F_DUPFD_CLOEXEC, 0));
		if (outputDir.Get() < 0) {
			const int error = errno;
			return fail("cannot open " + QuotePath(inputDirectory) + ": " + ErrnoText(error));
		}
	}
	const long nameMax = fpathconf(outputDir.Get(), _PC_NAME_MAX);
	if (nameMax > 0 && outputName.size() > static_cast<size_t>(nameMax))
		return fail("the output file name for " + QuotePath(input) + " is too long");
	{
		struct stat existing;
		if (fstatat(outputDir.Get(), outputName.c_str(), &existing, 0) == 0) {
			if (existing.st_dev == inputStat.st_dev && existing.st_ino == inputStat.st_ino) {
				return fail("the output " + QuotePath(result.outputPath)
					+ " would overwrite the input file");
			}
			// Without -overwrite a directory is one more name in use.
			if (replace && S_ISDIR(existing.st_mode))
				return fail("the output " + QuotePath(result.outputPath) + " is a directory");
		}
	}

	TempFile temp(outputDir.Get(), options.fallbacks);
	// Errors name the MP3 the user will look for, never the temporary file.
	if (const int error = temp.Create(outputName, nameMax); error != 0)
		return fail("cannot write " + QuotePath(result.outputPath) + ": " + ErrnoText(error));
	auto writeFailure = [&](int error) {
		return fail("cannot write " + QuotePath(result.outputPath) + ": " + ErrnoText(error));
	};

	// The loop.
	const bool asFloat = ReadsAsFloat(info.format);
	const sf_count_t blockFrames = BlockFrames(info.samplerate);
	// LAME's bound (1.25 bytes a sample + 7200) plus room for the highest bit
	// rate over the block's duration, for inputs LAME resamples upwards.
	const size_t mp3Size = static_cast<size_t>(blockFrames) * 5 / 4 + 7200
		+ static_cast<size_t>(blockFrames) * 50000 / static_cast<size_t>(info.samplerate);
	std::vector<unsigned char> mp3;
	try {
		mp3.resize(mp3Size);
	} catch (const std::bad_alloc&) {
		return fail("out of memory");
	}
	// Long inputs are encoded in segments on several threads; only the
	// making of the MP3's bytes differs, the file is handled as here.
	const ParallelSource source{file, asFloat, info.channels, info.samplerate, planFrames,
		info.format, view};
	const std::optional<ParallelPlan> parallel = options.threads == 1 ? std::nullopt
		: PlanParallel(gf, source, options.threads > 1 ? options.threads : OnlineCores());
	bool encodedInParallel = false;

	int lastPercent = -1;
	if (progress && lengthKnown) {
		lastPercent = 0;
		progress(0);
	}
	auto showProgress = [&](int64_t framesDone) {
		if (!progress || !lengthKnown)
			return;
		// 100 once complete.
		const int percent = static_cast<int>(std::min<int64_t>(99, framesDone * 100 / planFrames));
		if (percent > lastPercent) {
			lastPercent = percent;
			progress(percent);
		}
	};
	int64_t total = 0;
	// Read in order, an input that ends before it declares, or (a FLAC) goes
	// on past it, is encoded again on one thread, which takes what there is.
	bool again = false;
	if (parallel) {
		const ParallelResult outcome = EncodeParallel(source, configure, *parallel,
			[&temp](const unsigned char* data, size_t size, int64_t offset) {
				int error = 0;
				if (!WriteAll(temp.Fd(), data, size, error, static_cast<off_t>(offset)))
					return error;
				if (offset < 0)
					sync_file_range(temp.Fd(), 0, 0, SYNC_FILE_RANGE_WRITE);
				return 0;
			},
			showProgress);
		switch (outcome.failure) {
		case ParallelResult::Failure::None:
			encodedInParallel = outcome.framesRead == planFrames;
			again = !encodedInParallel;
			total = outcome.framesRead;
			break;
		case ParallelResult::Failure::EndedEarly:
			again = true;
			break;
		case ParallelResult::Failure::NoThreads: // nothing read: one thread, then
			break;
		case ParallelResult::Failure::Read:
			return fail("cannot read " + QuotePath(input) + ": " + OneLine(outcome.readError.c_str()));
		case ParallelResult::Failure::Encode:
			return fail("cannot encode " + QuotePath(input) + ": "
				+ (outcome.lameCode != 0 ? LameError(outcome.lameCode)
										 : std::string("its segments could not be joined")));
		case ParallelResult::Failure::Write:
			return writeFailure(outcome.writeError);
		case ParallelResult::Failure::Memory:
			return fail("out of memory");
		}
	}
	if (again) {
		// From the start, into an empty file.
		total = 0;
		if (ftruncate(temp.Fd(), 0) != 0 || lseek(temp.Fd(), 0, SEEK_SET) != 0)
			return writeFailure(errno);
		if (ownView ? !viewFile.Open(view) : sf_seek(file, 0, SEEK_SET) != 0)
			return fail("cannot read " + QuotePath(input) + ": " + OneLine(ReadErrorText(file).c_str()));
	}
	SNDFILE* const reading = ownView ? viewFile.Get() : file;
	std::optional<BlockReader> reader;
	std::string decodeError; // where a compressed stream stopped decoding
	if (!encodedInParallel) {
		reader.emplace(reading, asFloat, info.channels, blockFrames);
		if (!reader->Start())
			return fail("out of memory");
	}
	while (!encodedInParallel) {
		const float* floats = nullptr;
		const int* ints = nullptr;
		const sf_count_t got = reader->Next(floats, ints);
		if (got < 0) {
			// A compressed stream that stops decoding (a FLAC cut in a frame)
			// ends there; the length's judgement says what that means. A read
			// the system refused fails.
			const bool ioError = sf_error(reading) == SF_ERR_SYSTEM
				|| (ownView && viewFile.ReadErrno() != 0);
			if (ioError || extent.kind == InputExtent::Kind::Pcm)
				return fail("cannot read " + QuotePath(input) + ": " + OneLine(reader->Error().c_str()));
			decodeError = OneLine(reader->Error().c_str());
			break;
		}
		if (got == 0)
			break;
		total += got;
		const int n = static_cast<int>(got);
		const int size = static_cast<int>(mp3.size());
		int encoded;
		if (info.channels == 2) {
			encoded = asFloat
				? lame_encode_buffer_interleaved_ieee_float(gf, floats, n, mp3.data(), size)
				: lame_encode_buffer_interleaved_int(gf, ints, n, mp3.data(), size);
		} else {
			encoded = asFloat ? lame_encode_buffer_ieee_float(gf, floats, floats, n, mp3.data(), size)
				: lame_encode_buffer_int(gf, ints, ints, n, mp3.data(), size);
		}
		if (encoded < 0)
			return fail("cannot encode " + QuotePath(input) + ": " + LameError(encoded));
		int error = 0;
		if (encoded > 0) {
			if (!WriteAll(temp.Fd(), mp3.data(), static_cast<size_t>(encoded), error))
				return writeFailure(error);
			// Start the write-back now, so that the fsync at the end has little
			// left to wait for.
			sync_file_range(temp.Fd(), 0, 0, SYNC_FILE_RANGE_WRITE);
		}
		showProgress(total);
	}
	reader.reset();
	if (total == 0)
		return fail(QuotePath(input) + " contains no audio");
	result.frames = total;
	// A stream that holds more than it declares was read to its end.
	if (extent.kind == InputExtent::Kind::Flac && lengthKnown && total > declaredFrames)
		result.note = LongerStreamNote(declaredFrames, total, info.samplerate);
	// Frames that fail to decode can end the reading without an error (a
	// damaged FLAC), and a file can end before its header says: the MP3 has
	// what there is, and the result says how much that is.
	EncodedLength encodedLength;
	encodedLength.frames = total;
	encodedLength.declared = lengthKnown ? declaredFrames : -1;
	encodedLength.streamEnd = decodeError.empty();
	encodedLength.stopped = decodeError;
	encodedLength.sampleRate = info.samplerate;
	const LengthVerdict verdict = JudgeLength(extent, encodedLength);
	if (verdict.truncated) {
		result.truncated = true;
		result.note.clear();
	}

	const int flushed = encodedInParallel ? 0
		: lame_encode_flush(gf, mp3.data(), static_cast<int>(mp3.size()));
	if (flushed < 0)
		return fail("cannot encode " + QuotePath(input) + ": " + LameError(flushed));
	{
		int error = 0;
		if (flushed > 0 && !WriteAll(temp.Fd(), mp3.data(), static_cast<size_t>(flushed), error))
			return writeFailure(error);
	}

	// The LAME tag replaces the empty frame that LAME put first.
	if (!encodedInParallel && lame_get_bWriteVbrTag(gf)) {
		const size_t tagSize = lame_get_lametag_frame(gf, nullptr, 0);
		if (tagSize > 0) {
			std::vector<unsigned char> tag(tagSize);
			const size_t copied = lame_get_lametag_frame(gf, tag.data(), tag.size());
			int error = 0;
			if (copied > 0 && copied <= tag.size()
					&& !WriteAll(temp.Fd(), tag.data(), copied, error, 0)) {
				return writeFailure(error);
			}
		}
	}

	bool fileSynced = false;
	if (const int error = temp.Finish(fileSynced); error != 0)
		return writeFailure(error);
	std::string finalName;
	if (const int error = temp.Commit(outputName, replace, inputStat, finalName); error != 0) {
		const std::string tried = JoinPath(outputDirectory, finalName);
		if (error == kIsTheInput) {
			return fail("the output " + QuotePath(result.outputPath)
				+ " would overwrite the input file");
		}
		if (error == EEXIST) {
			return fail("cannot write " + QuotePath(result.outputPath) + ": it and every name up to "
				+ QuotePath(tried) + " are in use");
		}
		if (error == ENAMETOOLONG && finalName != outputName) {
			return fail("cannot write " + QuotePath(result.outputPath) + ": it is in use, and "
				+ QuotePath(tried) + " is too long a name for the file system");
		}
		return fail("cannot name the MP3 " + QuotePath(tried) + ": " + ErrnoText(error));
	}
	result.nameTaken = finalName != outputName;
	result.outputPath = JoinPath(outputDirectory, finalName);
	result.outputWritten = true;
	// The rename is durable once the directory is.
	const int outputDirSyncError = fsync(outputDir.Get()) == 0 ? 0 : errno;
	if (progress && lengthKnown && lastPercent != 100)
		progress(100);

	// A truncated input gives the MP3 of what there is, and stays.
	if (result.truncated) {
		result.inputKept = deleting;
		result.ok = false;
		result.error = QuotePath(input) + " " + verdict.truncation + "; wrote what there is to "
			+ QuotePath(result.outputPath) + (deleting ? " and kept the input" : "");
		return result;
	}

	if (deleting) {
		result.inputKept = true;
		const std::string wrote = "wrote " + QuotePath(result.outputPath) + " but ";
		auto keep = [&](const std::string& reason) {
			return fail(wrote + "did not delete " + QuotePath(input) + ": " + reason);
		};

		// The MP3 must outlive a crash before its source may go.
		if (!fileSynced)
			return keep("the MP3 could not be synced to disk");
		if (outputDirSyncError != 0) {
			return keep("the output directory could not be synced to disk ("
				+ ErrnoText(outputDirSyncError) + ")");
		}
		if (directorySyncError != 0) {
			return keep("the new output directory could not be synced to disk ("
				+ ErrnoText(directorySyncError) + ")");
		}

		// Delete only what was encoded, as it was: the same file, by the
		// open descriptor and by its name, unchanged since the encode began.
		struct stat held, now, output;
		if (fstat(inputFd.Get(), &held) != 0) {
			const int error = errno;
			return keep("cannot check it: " + ErrnoText(error));
		}
		if (fstatat(inputDir.Get(), inputName.c_str(), &now, 0) != 0) {
			const int error = errno;
			if (error == ENOENT)
				return keep("it was moved or removed during the encode");
			return keep("cannot check it: " + ErrnoText(error));
		}
		if (fstatat(outputDir.Get(), finalName.c_str(), &output, 0) == 0 && SameFile(output, now))
			return keep("it is the output file");
		if (!SameFile(now, inputStat) || !SameFile(held, inputStat))
			return keep("it was replaced during the encode");
		for (const struct stat* seen : {&held, &now}) {
			if (seen->st_size != inputStat.st_size) {
				return keep("it changed during the encode (from " + std::to_string(inputStat.st_size)
					+ " to " + std::to_string(seen->st_size) + " bytes)");
			}
			if (seen->st_mtim.tv_sec != inputStat.st_mtim.tv_sec
					|| seen->st_mtim.tv_nsec != inputStat.st_mtim.tv_nsec) {
				return keep("it was modified during the encode");
			}
			if (seen->st_ctim.tv_sec != inputStat.st_ctim.tv_sec
					|| seen->st_ctim.tv_nsec != inputStat.st_ctim.tv_nsec) {
				return keep("it changed during the encode (its status change time moved)");
			}
		}

		// Every sample frame the file holds was encoded: not a file cut
		// short, nor one a recorder is still writing, nor one whose length
		// cannot be told.
		if (!verdict.keepReason.empty())
			return keep(verdict.keepReason);

		if (unlinkat(inputDir.Get(), inputName.c_str(), 0) != 0) {
			const int error = errno;
			return fail(wrote + "cannot delete " + QuotePath(input) + ": " + ErrnoText(error));
		}
		result.inputKept = false;
	}

	if (!result.note.empty())
		result.note = QuotePath(input) + ": " + result.note;
	result.ok = true;
	return result;
}

} // namespace gogo
