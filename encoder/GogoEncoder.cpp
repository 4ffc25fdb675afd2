#include "GogoEncoder.h"
#include "AudioInput.h"
#include "DeleteInput.h"
#include "FileOps.h"
#include "InputTags.h"
#include "InputLength.h"
#include "LameError.h"
#include "LameHandle.h"
#include "LameSettings.h"
#include "ParallelEncoder.h"
#include "Paths.h"
#include "TempFile.h"

#include <lame/lame.h>
#include <sndfile.h>

#include <algorithm>
#include <climits>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gogo {

namespace {

// One encode, step by step. Each step returns false once the encode has
// failed, with the result saying why; what a step opens stays open for the
// ones after it and is closed in the reverse order.
class FileEncode {
public:
	FileEncode(const Options& options, const ProgressFunction& progress)
		:
		fOptions(options),
		fProgress(progress),
		fInput(options.input),
		fDeleting(options.deleteInput),
		// With -delete nothing is ever replaced.
		fReplace(options.overwrite && !options.deleteInput)
	{
		fResult.outputPath = OutputPath(options);
	}

	bool Run()
	{
		return OpenInput() && SetUpEncoder() && OpenOutput() && WriteTag() && Encode()
			&& TakeLength() && EndStream() && NameOutput() && Conclude();
	}

	EncodeResult TakeResult() { return std::move(fResult); }

private:
	bool Fail(std::string reason)
	{
		fResult.ok = false;
		fResult.error = std::move(reason);
		return false;
	}
	bool WriteFailure(int error)
	{
		return Fail("cannot write " + QuotePath(fResult.outputPath) + ": " + ErrnoText(error));
	}
	const SF_INFO& Info() const { return fIn.Info(); }
	// The input's, for messages on LAME's settings.
	std::string Settings() const
	{
		return std::to_string(Info().samplerate) + " Hz, " + std::to_string(Info().channels)
			+ " channels";
	}

	bool OpenInput();
	bool SetUpEncoder();
	bool OpenOutput();
	bool WriteTag();
	bool Encode();
	bool EncodeInParallel(const ParallelSource& source, const ParallelPlan& plan, bool& again);
	bool Rewind();
	bool EncodeOnOneThread();
	void ShowProgress(int64_t framesDone);
	bool TakeLength();
	bool EndStream();
	bool NameOutput();
	bool Conclude();

	const Options& fOptions;
	const ProgressFunction& fProgress;
	const std::string& fInput;
	const bool fDeleting;
	const bool fReplace;
	EncodeResult fResult;

	AudioInput fIn;

	// The encoder.
	std::optional<LameHandle> fLame;
	LameSetup fConfigure;

	// The output.
	std::string fOutputDirectory, fOutputName;
	UniqueFd fOutputDir;
	int fDirectorySyncError = 0; // of the directories made for -o
	std::optional<TempFile> fTemp;
	// Where the stream begins: after the ID3v2 tag, if there is one.
	off_t fStreamStart = 0;

	// The loop, and what it found.
	std::vector<unsigned char> fMp3;
	bool fEncodedInParallel = false;
	int fLastPercent = -1;
	int64_t fTotal = 0;
	std::string fDecodeError; // where a compressed stream stopped decoding
	LengthVerdict fVerdict;

	// The MP3 under its name.
	std::string fFinalName;
	bool fFileSynced = false;
	int fOutputDirSyncError = 0;
};

// The input, and what its audio is.
bool FileEncode::OpenInput()
{
	if (std::string error = fIn.Open(fInput); !error.empty())
		return Fail(std::move(error));
	fResult.note = UnderstatedNote(fIn.Extent());
	fResult.sampleRate = Info().samplerate;
	fResult.channels = Info().channels;
	return true;
}

// LAME, set up as the options say.
bool FileEncode::SetUpEncoder()
{
	lame_global_flags* gf = fLame.emplace().Get();
	if (gf == nullptr)
		return Fail("cannot initialize LAME");
	// The settings, for this encoder and the parallel path's.
	fConfigure = [this](lame_global_flags* flags) {
		ApplyLameSettings(flags, fOptions, Info().channels, Info().samplerate);
	};
	fConfigure(gf);
	if (fIn.LengthKnown() && static_cast<unsigned long long>(fIn.PlanFrames()) <= ULONG_MAX)
		lame_set_num_samples(gf, static_cast<unsigned long>(fIn.PlanFrames()));
	if (lame_init_params(gf) < 0) {
		return Fail("LAME cannot encode " + QuotePath(fInput) + " with these settings (" + Settings()
			+ ")");
	}
	return true;
}

// The output directory, checked, and the temporary file the MP3 is written to.
bool FileEncode::OpenOutput()
{
	fOutputDirectory = fOptions.hasOutputDirectory ? fOptions.outputDirectory : fIn.Directory();
	fOutputName = OutputFileName(fIn.Name());
	if (fOptions.hasOutputDirectory) {
		fOutputDir.Reset(OpenDirectory(fOutputDirectory, true, &fDirectorySyncError));
		if (fOutputDir.Get() < 0) {
			const int error = errno;
			return Fail("cannot create the output directory " + QuotePath(fOutputDirectory) + ": "
				+ ErrnoText(error));
		}
	} else {
		fOutputDir.Reset(fcntl(fIn.DirectoryFd(), F_DUPFD_CLOEXEC, 0));
		if (fOutputDir.Get() < 0) {
			const int error = errno;
			return Fail("cannot open " + QuotePath(fIn.Directory()) + ": " + ErrnoText(error));
		}
	}
	const long nameMax = fpathconf(fOutputDir.Get(), _PC_NAME_MAX);
	if (nameMax > 0 && fOutputName.size() > static_cast<size_t>(nameMax))
		return Fail("the output file name for " + QuotePath(fInput) + " is too long");
	struct stat existing;
	if (fstatat(fOutputDir.Get(), fOutputName.c_str(), &existing, 0) == 0) {
		if (existing.st_dev == fIn.AtStart().st_dev && existing.st_ino == fIn.AtStart().st_ino) {
			return Fail("the output " + QuotePath(fResult.outputPath)
				+ " would overwrite the input file");
		}
		// Without -overwrite a directory is one more name in use.
		if (fReplace && S_ISDIR(existing.st_mode))
			return Fail("the output " + QuotePath(fResult.outputPath) + " is a directory");
	}

	fTemp.emplace(fOutputDir.Get(), fOptions.fallbacks);
	// Errors name the MP3 the user will look for, never the temporary file.
	if (const int error = fTemp->Create(fOutputName, nameMax); error != 0)
		return WriteFailure(error);
	return true;
}

// The input's tags, and the options', as the ID3v2 tag the MP3 begins with.
bool FileEncode::WriteTag()
{
	InputTag tag = MakeInputTag(fIn.Fd(), static_cast<uint64_t>(fIn.AtStart().st_size), fOptions);
	fResult.tagNote = std::move(tag.note);
	int error = 0;
	if (!tag.bytes.empty() && !WriteAll(fTemp->Fd(), tag.bytes.data(), tag.bytes.size(), error))
		return WriteFailure(error);
	fStreamStart = static_cast<off_t>(tag.bytes.size());
	return true;
}

// The MP3's frames: on several threads where the input is long enough,
// else (or again, when that could not take all of it) on this one.
bool FileEncode::Encode()
{
	const SF_INFO& info = Info();
	const bool asFloat = ReadsAsFloat(info.format);
	const sf_count_t blockFrames = BlockFrames(info.samplerate);
	// LAME's bound (1.25 bytes a sample + 7200) plus room for the highest bit
	// rate over the block's duration, for inputs LAME resamples upwards.
	const size_t mp3Size = static_cast<size_t>(blockFrames) * 5 / 4 + 7200
		+ static_cast<size_t>(blockFrames) * 50000 / static_cast<size_t>(info.samplerate);
	try {
		fMp3.resize(mp3Size);
	} catch (const std::bad_alloc&) {
		return Fail("out of memory");
	}
	// Long inputs are encoded in segments on several threads; only the
	// making of the MP3's bytes differs, the file is handled as here.
	const ParallelSource source{fIn.File(), asFloat, info.channels, info.samplerate,
		fIn.PlanFrames(), info.format, fIn.View()};
	const int threads = fOptions.threads;
	const std::optional<ParallelPlan> parallel = threads == 1 ? std::nullopt
		: PlanParallel(fLame->Get(), source, threads > 1 ? threads : OnlineCores());
	if (fProgress && fIn.LengthKnown()) {
		fLastPercent = 0;
		fProgress(0);
	}
	// Read in order, an input that ends before it declares, or (a FLAC) goes
	// on past it, is encoded again on one thread, which takes what there is.
	bool again = false;
	if (parallel && !EncodeInParallel(source, *parallel, again))
		return false;
	if (again && !Rewind())
		return false;
	return fEncodedInParallel || EncodeOnOneThread();
}

bool FileEncode::EncodeInParallel(const ParallelSource& source, const ParallelPlan& plan, bool& again)
{
	const ParallelResult outcome = EncodeParallel(source, fConfigure, plan,
		[this](const unsigned char* data, size_t size, int64_t offset) {
			int error = 0;
			const off_t at = offset < 0 ? -1 : fStreamStart + static_cast<off_t>(offset);
			if (!WriteAll(fTemp->Fd(), data, size, error, at))
				return error;
			if (offset < 0)
				sync_file_range(fTemp->Fd(), 0, 0, SYNC_FILE_RANGE_WRITE);
			return 0;
		},
		[this](int64_t framesDone) { ShowProgress(framesDone); });
	switch (outcome.failure) {
	case ParallelResult::Failure::None:
		fEncodedInParallel = outcome.framesRead == fIn.PlanFrames();
		again = !fEncodedInParallel;
		fTotal = outcome.framesRead;
		return true;
	case ParallelResult::Failure::EndedEarly:
		again = true;
		return true;
	case ParallelResult::Failure::NoThreads: // nothing read: one thread, then
		return true;
	case ParallelResult::Failure::Read:
		return Fail("cannot read " + QuotePath(fInput) + ": " + OneLine(outcome.readError.c_str()));
	case ParallelResult::Failure::Encode:
		// A worker's LAME refused what this thread's took: the settings
		// named, never the bare code.
		if (outcome.lameSetup) {
			return Fail("cannot encode " + QuotePath(fInput) + ": "
				+ LameSetupErrorText(outcome.lameCode) + " (" + Settings() + ")");
		}
		return Fail("cannot encode " + QuotePath(fInput) + ": "
			+ (outcome.lameCode != 0 ? LameErrorText(outcome.lameCode)
									 : std::string("its segments could not be joined")));
	case ParallelResult::Failure::Write:
		return WriteFailure(outcome.writeError);
	case ParallelResult::Failure::Memory:
		return Fail("out of memory");
	}
	return true;
}

// From the start, into a file that holds only the tag.
bool FileEncode::Rewind()
{
	fTotal = 0;
	if (ftruncate(fTemp->Fd(), fStreamStart) != 0
			|| lseek(fTemp->Fd(), fStreamStart, SEEK_SET) != fStreamStart)
		return WriteFailure(errno);
	if (std::string error; !fIn.Rewind(error))
		return Fail("cannot read " + QuotePath(fInput) + ": " + OneLine(error.c_str()));
	return true;
}

// The input read a block ahead while LAME encodes.
bool FileEncode::EncodeOnOneThread()
{
	const SF_INFO& info = Info();
	const bool asFloat = ReadsAsFloat(info.format);
	lame_global_flags* const gf = fLame->Get();
	BlockReader reader(fIn.File(), asFloat, info.channels, BlockFrames(info.samplerate));
	if (!reader.Start())
		return Fail("out of memory");
	while (true) {
		const float* floats = nullptr;
		const int* ints = nullptr;
		const sf_count_t got = reader.Next(floats, ints);
		if (got < 0) {
			// A compressed stream that stops decoding (a FLAC cut in a frame)
			// ends there; the length's judgement says what that means. A read
			// the system refused fails.
			if (fIn.SystemRefused() || fIn.Extent().kind == InputExtent::Kind::Pcm)
				return Fail("cannot read " + QuotePath(fInput) + ": " + OneLine(reader.Error().c_str()));
			fDecodeError = OneLine(reader.Error().c_str());
			return true;
		}
		if (got == 0)
			return true;
		fTotal += got;
		const int n = static_cast<int>(got);
		const int size = static_cast<int>(fMp3.size());
		unsigned char* const mp3 = fMp3.data();
		int encoded;
		if (info.channels == 2) {
			encoded = asFloat
				? lame_encode_buffer_interleaved_ieee_float(gf, floats, n, mp3, size)
				: lame_encode_buffer_interleaved_int(gf, ints, n, mp3, size);
		} else {
			encoded = asFloat ? lame_encode_buffer_ieee_float(gf, floats, floats, n, mp3, size)
				: lame_encode_buffer_int(gf, ints, ints, n, mp3, size);
		}
		if (encoded < 0)
			return Fail("cannot encode " + QuotePath(fInput) + ": " + LameErrorText(encoded));
		int error = 0;
		if (encoded > 0) {
			if (!WriteAll(fTemp->Fd(), mp3, static_cast<size_t>(encoded), error))
				return WriteFailure(error);
			// Start the write-back now, so that the fsync at the end has little
			// left to wait for.
			sync_file_range(fTemp->Fd(), 0, 0, SYNC_FILE_RANGE_WRITE);
		}
		ShowProgress(fTotal);
	}
}

void FileEncode::ShowProgress(int64_t framesDone)
{
	if (!fProgress || !fIn.LengthKnown())
		return;
	// 100 once complete.
	const int percent = static_cast<int>(std::min<int64_t>(99, framesDone * 100 / fIn.PlanFrames()));
	if (percent > fLastPercent) {
		fLastPercent = percent;
		fProgress(percent);
	}
}

// What the encode took of the input, against what it holds.
bool FileEncode::TakeLength()
{
	if (fTotal == 0)
		return Fail(QuotePath(fInput) + " contains no audio");
	fResult.frames = fTotal;
	// A stream that holds more than it declares was read to its end.
	const int64_t declared = fIn.DeclaredFrames();
	if (fIn.Extent().kind == InputExtent::Kind::Flac && fIn.LengthKnown() && fTotal > declared)
		fResult.note = LongerStreamNote(fIn.DeclaredFrames(), fTotal, Info().samplerate);
	// Frames that fail to decode can end the reading without an error (a
	// damaged FLAC), and a file can end before its header says: the MP3 has
	// what there is, and the result says how much that is.
	EncodedLength encodedLength;
	encodedLength.frames = fTotal;
	encodedLength.declared = fIn.LengthKnown() ? fIn.DeclaredFrames() : -1;
	encodedLength.streamEnd = fDecodeError.empty();
	encodedLength.stopped = fDecodeError;
	encodedLength.sampleRate = Info().samplerate;
	fVerdict = JudgeLength(fIn.Extent(), encodedLength);
	if (fVerdict.truncated) {
		fResult.truncated = true;
		fResult.note.clear();
	}
	return true;
}

// LAME's last frames, and the LAME tag in place of the empty frame that LAME
// put first, after the ID3v2 tag (the parallel path wrote both).
bool FileEncode::EndStream()
{
	if (fEncodedInParallel)
		return true;
	lame_global_flags* const gf = fLame->Get();
	const int flushed = lame_encode_flush(gf, fMp3.data(), static_cast<int>(fMp3.size()));
	if (flushed < 0)
		return Fail("cannot encode " + QuotePath(fInput) + ": " + LameErrorText(flushed));
	int error = 0;
	if (flushed > 0 && !WriteAll(fTemp->Fd(), fMp3.data(), static_cast<size_t>(flushed), error))
		return WriteFailure(error);

	if (!lame_get_bWriteVbrTag(gf))
		return true;
	const size_t tagSize = lame_get_lametag_frame(gf, nullptr, 0);
	if (tagSize == 0)
		return true;
	std::vector<unsigned char> tag(tagSize);
	const size_t copied = lame_get_lametag_frame(gf, tag.data(), tag.size());
	if (copied > 0 && copied <= tag.size()
			&& !WriteAll(fTemp->Fd(), tag.data(), copied, error, fStreamStart))
		return WriteFailure(error);
	return true;
}

// The complete MP3, synced and given its final name.
bool FileEncode::NameOutput()
{
	if (const int error = fTemp->Finish(fFileSynced); error != 0)
		return WriteFailure(error);
	if (const int error = fTemp->Commit(fOutputName, fReplace, fIn.AtStart(), fFinalName); error != 0) {
		const std::string tried = JoinPath(fOutputDirectory, fFinalName);
		if (error == kIsTheInput) {
			return Fail("the output " + QuotePath(fResult.outputPath)
				+ " would overwrite the input file");
		}
		if (error == EEXIST) {
			return Fail("cannot write " + QuotePath(fResult.outputPath) + ": it and every name up to "
				+ QuotePath(tried) + " are in use");
		}
		if (error == ENAMETOOLONG && fFinalName != fOutputName) {
			return Fail("cannot write " + QuotePath(fResult.outputPath) + ": it is in use, and "
				+ QuotePath(tried) + " is too long a name for the file system");
		}
		return Fail("cannot name the MP3 " + QuotePath(tried) + ": " + ErrnoText(error));
	}
	fResult.nameTaken = fFinalName != fOutputName;
	fResult.outputPath = JoinPath(fOutputDirectory, fFinalName);
	fResult.outputWritten = true;
	// The rename is durable once the directory is.
	fOutputDirSyncError = fsync(fOutputDir.Get()) == 0 ? 0 : errno;
	if (fProgress && fIn.LengthKnown() && fLastPercent != 100)
		fProgress(100);
	return true;
}

// The result: a truncated input's, -delete's, or success.
bool FileEncode::Conclude()
{
	// A truncated input gives the MP3 of what there is, and stays.
	if (fResult.truncated) {
		fResult.inputKept = fDeleting;
		return Fail(QuotePath(fInput) + " " + fVerdict.truncation + "; wrote what there is to "
			+ QuotePath(fResult.outputPath) + (fDeleting ? " and kept the input" : ""));
	}

	if (fDeleting) {
		fResult.inputKept = true;
		const InputToDelete input{fInput, fIn.DirectoryFd(), fIn.Name(), fIn.Fd(), fIn.AtStart(),
			fVerdict.keepReason};
		const WrittenOutput output{fOutputDir.Get(), fFinalName, fFileSynced, fOutputDirSyncError,
			fDirectorySyncError};
		if (const std::string kept = DeleteInput(input, output); !kept.empty())
			return Fail("wrote " + QuotePath(fResult.outputPath) + " but " + kept);
		fResult.inputKept = false;
	}

	if (!fResult.note.empty())
		fResult.note = QuotePath(fInput) + ": " + fResult.note;
	if (!fResult.tagNote.empty())
		fResult.tagNote = QuotePath(fInput) + ": " + fResult.tagNote;
	fResult.ok = true;
	return true;
}

} // namespace

EncodeResult EncodeFile(const Options& options, const ProgressFunction& progress)
{
	FileEncode encode(options, progress);
	encode.Run();
	return encode.TakeResult();
}

} // namespace gogo
