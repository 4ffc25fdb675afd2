// The ReplayGain analysis's equal-loudness filter over one block: a
// 10th-order Yule-Walker filter and a 2nd-order Butterworth high-pass, in
// LAME's precision (the Yule-Walker part sums float products in double,
// the Butterworth part is all float), both channels of a frame at once.
//
// Two ways to run it give the same bits: two frames at a time in 256-bit
// registers where the processor has AVX (the terms of the input and of the
// older outputs of both frames summed together, so that only the last
// product and subtraction of each frame wait for the output before), and
// one frame at a time in SSE2 (or plain C++) elsewhere.
#pragma once

#include <cstddef>

namespace gogo {

// Frames of history before a block: each array holds the last ones of the
// block before.
constexpr size_t kGainFilterOrder = 10;

// x, y and z point at the block's first frame of interleaved (left, right)
// floats, with kGainFilterOrder frames of history before each: the input,
// the Yule-Walker outputs and the Butterworth outputs; frames frames of y
// and z are written. yule holds b0, a1, b1, a2, b2... (21 values; the a
// terms subtracted), butter the same 5 of the high-pass.
void RunGainFilter(const float* x, float* y, float* z, size_t frames, const float* yule,
	const float* butter, bool wide);

// Whether this processor runs the two-frame way.
bool WideGainFilterAvailable();

} // namespace gogo
