// Test and benchmark helper: writes a 16-bit PCM WAV of a sine tone.
//   make_wav PATH SECONDS [CHANNELS [RATE]]
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <vector>

int main(int argc, char** argv)
{
	if (argc < 3) {
		std::fprintf(stderr, "usage: make_wav PATH SECONDS [CHANNELS [RATE]]\n");
		return 2;
	}
	const double seconds = std::atof(argv[2]);
	const int channels = argc > 3 ? std::atoi(argv[3]) : 2;
	const int rate = argc > 4 ? std::atoi(argv[4]) : 44100;
	if (seconds <= 0 || channels < 1 || channels > 2 || rate < 8000) {
		std::fprintf(stderr, "make_wav: bad arguments\n");
		return 2;
	}
	SF_INFO info{};
	info.samplerate = rate;
	info.channels = channels;
	info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
	SNDFILE* file = sf_open(argv[1], SFM_WRITE, &info);
	if (file == nullptr) {
		std::fprintf(stderr, "make_wav: %s\n", sf_strerror(nullptr));
		return 1;
	}
	const sf_count_t frames = sf_count_t(seconds * rate);
	std::vector<short> block(size_t(4096) * size_t(channels));
	sf_count_t done = 0;
	while (done < frames) {
		const sf_count_t count = std::min<sf_count_t>(4096, frames - done);
		for (sf_count_t i = 0; i < count; i++) {
			const double t = double(done + i) / rate;
			for (int c = 0; c < channels; c++) {
				const double tone = std::sin(2 * std::numbers::pi * (440.0 + 110.0 * c) * t);
				block[size_t(i) * size_t(channels) + size_t(c)] = short(tone * 12000);
			}
		}
		sf_writef_short(file, block.data(), count);
		done += count;
	}
	return sf_close(file) == 0 ? 0 : 1;
}
