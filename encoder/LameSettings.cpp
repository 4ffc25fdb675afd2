#include "LameSettings.h"

namespace gogo {

void ApplyLameSettings(lame_global_flags* flags, const Options& options, int channels, int sampleRate)
{
	lame_set_num_channels(flags, channels);
	lame_set_in_samplerate(flags, sampleRate);
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
}

} // namespace gogo
