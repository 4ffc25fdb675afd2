// Encodes one audio file to MP3: libsndfile reads, libmp3lame encodes.
//
// The MP3 is written without a name (O_TMPFILE) where the file system can,
// else under a hidden temporary name in the output directory
// (".<name>.mp3.XXXXXX"). Only once it is complete (LAME tag written,
// synced) does it get its final name, and that step never replaces a file:
// it links or renames with no-replace semantics (linkat, renameat2 with
// RENAME_NOREPLACE, or link and unlink where that flag is missing, or last
// an empty placeholder claimed with O_EXCL and renamed over), taking
// "<name> (2).mp3", "<name> (3).mp3"... when the name is in use. Only
// Options::overwrite renames over an existing file. The directory is synced
// after the rename. On failure the temporary file is removed; with
// InstallSignalCleanup() it is removed on SIGTERM, SIGINT and SIGHUP too, in
// either way of writing and while the final name is being taken. The front
// end sends SIGTERM to skip a file or stop a run, and SIGKILL 2 s later if
// gogo is still there: a nameless file goes with the process even then, a
// named temporary file (or, with neither RENAME_NOREPLACE nor hard links, an
// empty placeholder) is left behind by SIGKILL.
//
// The audio is what the file holds, not what its header declares: a WAV,
// RF64, W64 or AIFF whose data chunk is its last is read to the end of the
// file (a size that wrapped past 4 GiB, or was left at 0, hides the rest
// from libsndfile), and a FLAC to the end of its stream (AudioInput.h,
// InputExtent.h, InputView.h). An input that ends before its header says is
// encoded as far as it goes, and the result says so (truncated).
//
// -delete removes the input only when the MP3 is durable under its final
// name, the input is the same file with the same size, modification and
// change times as when the encode began (both through the open descriptor
// and by its path), and every sample frame it holds was encoded: up to the
// end of the file for uncompressed WAV, RF64, W64 and AIFF, to the end of a
// whole stream for FLAC and Ogg. Otherwise the input stays and the result
// says why (DeleteInput.h).
//
// Paths are arbitrary bytes of any length: directories are walked one
// component at a time (openat), never through a fixed-size buffer.
//
// On one thread (-threads 1, inputs too short to gain, and inputs LAME
// resamples) the input is read (64k frames at a time, or about a second's
// worth at low sample rates) on a second thread while LAME encodes: integer
// PCM as int samples, float and lossy formats as floats (clipped to full
// scale). The MP3 is then byte for byte what `lame` makes with the same
// settings. Longer inputs are cut into segments, each encoded by its own
// LAME, as many at once as there are cores or -threads says (at most 16),
// and joined into one stream (ParallelEncoder.h; docs/encoder.md says how);
// an input read in order that ends before it declares, or goes on past it,
// is encoded again on one thread. Mono and stereo only; more channels are
// refused rather than downmixed.
// Nothing here throws.
#pragma once

#include "GogoOptions.h"
#include "Paths.h"

#include <cstdint>
#include <functional>
#include <string>

namespace gogo {

struct EncodeResult {
	bool ok = false;
	std::string error;      // when !ok: one line, without the "gogo: " prefix
	// The final MP3's path (as the input's or -o's path, joined): OutputPath()
	// until the MP3 has its name, then the name it took.
	std::string outputPath;
	bool nameTaken = false;     // OutputPath() was in use: outputPath is "<name> (n).mp3"
	bool outputWritten = false; // the final MP3 exists (also set when only -delete failed)
	bool inputKept = false;     // -delete was asked, the MP3 written, the input not deleted
	// The input ends before its header says: the MP3 (outputWritten) has
	// what there is, error says how much, and the input is never deleted.
	bool truncated = false;
	// On success, one line on what was found of the input's length (its
	// header understated it: all of it was encoded); empty when nothing was.
	std::string note;
	// On success, one line when some of the input's tags were left out of
	// the MP3's ID3v2 tag (too big, or cut short); empty otherwise.
	std::string tagNote;
	int64_t frames = 0;     // sample frames encoded
	int sampleRate = 0;     // of the input
	int channels = 0;       // of the input
};

// Called with 0..100 whenever the percentage changes (not at all when the
// input's length is unknown).
using ProgressFunction = std::function<void(int percent)>;

// Encodes options.input as the options say.
EncodeResult EncodeFile(const Options& options, const ProgressFunction& progress = {});

// Installs the handlers of SIGTERM, SIGINT and SIGHUP, which remove the
// temporary file of an encode in progress and _exit(128 + signal), and
// ignores SIGPIPE. For the gogo program; tests encoding in-process need not.
// An MP3 that already has its final name is complete and stays.
void InstallSignalCleanup();

} // namespace gogo
