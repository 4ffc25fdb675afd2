// ReplayGain analysis of the input as LAME makes it for its tag (the radio
// gain): each channel through the equal-loudness filter (a 10th-order
// Yule-Walker and a 2nd-order Butterworth high-pass), the mean square of
// every whole 50 ms window into a histogram of 0.01 dB steps, and the level
// that 5% of the windows reach, against the 64.82 dB pink-noise reference.
// The arithmetic is done in the same precision as LAME's, so that the gain
// comes out the same to the tenth of a dB the tag holds.
//
// The parallel encoder's workers each analyse the part of the input they
// keep, the filters warmed up on the input before it, and the parts are
// merged in order: the windows lie where they lie in the whole input, and a
// window that two parts share is summed from both.
#pragma once

#include "GainFilter.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace gogo {

class ReplayGainAnalysis {
public:
	// The input's channels, the encoder's (2 to 1 is LAME's downmix) and
	// LAME's scale factors (lame_get_scale, _left, _right): the samples are
	// analysed as LAME turns them into its own, through the same matrix.
	// false for a sample rate the analysis has no filter for.
	bool Init(int sampleRate, int channelsIn, int channelsOut, float scale, float scaleLeft,
		float scaleRight);

	// Interleaved samples as libsndfile reads them: shorts and ints of full
	// 16 and 32-bit scale, or floats of full scale 1.0.
	void AddShorts(const short* samples, size_t frames);
	void AddInts(const int* samples, size_t frames);
	void AddFloats(const float* samples, size_t frames);
	// Silence, as LAME's flush feeds after the input.
	void AddSilence(size_t frames);

	// For a part of the input: the samples added from now on start at
	// sample frame from of the input, and those before countFrom only bring
	// the filters into the state they have there. (Without a call: from 0.)
	void StartAt(int64_t from, int64_t countFrom);
	// The next part, which starts counting where this one's samples end:
	// this becomes the analysis of both, with the next's filter state.
	// false (and nothing merged) if next does not start there.
	bool Merge(const ReplayGainAnalysis& next);
	// The whole windows analysed, and how many lie at each level (in
	// hundredths of a dB).
	uint64_t Windows() const;
	const std::vector<uint32_t>& Levels() const { return fHistogram; }

	// The gain in tenths of a dB, rounded as LAME rounds it; 0 without a
	// single whole window (as LAME leaves it).
	int RadioGainTenths() const;

private:
	static constexpr size_t kOrder = kGainFilterOrder;
	template<typename Sample>
	void Add(const Sample* samples, size_t frames, float norm);
	void Filter(size_t count);
	void Analyse(size_t count);
	void Bin(double left, double right, size_t count);

	int fRate = 0;
	const float* fYule = nullptr;
	const float* fButter = nullptr;
	size_t fWindow = 0;
	size_t fInWindow = 0;
	// The signal through the filters, both channels interleaved (a mono
	// encode's in the left places), a block at a time; each array starts
	// with the last kOrder frames of the block before.
	std::vector<float> fInput, fYule2, fButter2;
	double fSum[2] = {0, 0}; // of the window so far
	// Where the next sample frame lies in the input, and where counting
	// starts. Until counting reaches a window's end, the window is this
	// part's head: it began in the part before, and Merge sums it there.
	int64_t fPosition = 0;
	int64_t fCountFrom = 0;
	bool fInHead = false;
	double fHead[2] = {0, 0};
	size_t fHeadFrames = 0;
	int fChannelsIn = 2;
	int fChannelsOut = 2;
	float fTransform[2][2] = {{1, 0}, {0, 1}};
	std::vector<uint32_t> fHistogram;
};

} // namespace gogo
