// The options as LAME's settings, the same for every encoder of a file
// (the one-thread encode's and each segment's).
#pragma once

#include "GogoOptions.h"

#include <lame/lame.h>

namespace gogo {

// Sets up flags for an input of channels and sampleRate as options say,
// short of lame_init_params: channel mode, quality, bit rate or VBR,
// ReplayGain, the LAME tag on and ID3 tags off.
void ApplyLameSettings(lame_global_flags* flags, const Options& options, int channels, int sampleRate);

} // namespace gogo
