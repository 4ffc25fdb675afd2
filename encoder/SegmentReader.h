// A segment's own reading of the input, for inputs whose samples can be
// found by position (PCM and float in WAV, AIFF and their kin): each worker
// opens a libsndfile handle of its own on the same open file and reads its
// segment from its first sample frame, so that no worker waits for the
// reader to get there through the segments before it, and nothing is held
// in memory for it meanwhile.
//
// The handles read with pread on the one descriptor (InputView), each at
// its own position: the caller's handle and those of the other workers are
// not disturbed.
#pragma once

#include "InputView.h"
#include "ParallelEncoder.h"

#include <sndfile.h>

#include <cstdint>
#include <string>

namespace gogo {

struct Samples;

// Whether source can be read by position: a format whose sample frames
// have fixed places, and a handle opened over source.view that declares what
// source.file declares.
bool ReadsByPosition(const ParallelSource& source);

class SegmentReader {
public:
	SegmentReader() = default;
	~SegmentReader() = default;
	SegmentReader(const SegmentReader&) = delete;
	SegmentReader& operator=(const SegmentReader&) = delete;

	// Opens a handle of its own on source and goes to sample frame start;
	// false (with Error()) when it cannot.
	bool Open(const ParallelSource& source, int64_t start);

	// Reads up to frames sample frames into samples (sized for them), as
	// Samples::Read does; 0 at the end, < 0 on an error.
	sf_count_t Read(Samples& samples, sf_count_t frames);

	const std::string& Error() const { return fError; }

private:
	ViewFile fView;
	std::string fError;
};

} // namespace gogo
