#include "ReplayGain.h"

#include "GainFilter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace gogo {

namespace {

// The equal-loudness filter's coefficients for each sample rate, as the
// ReplayGain proposal gives them: b0, a1, b1, a2, b2... (the a terms are
// subtracted).
struct RateFilter {
	int rate;
	float yule[21];
	float butter[5];
};

const RateFilter kFilters[] = {
	{48000,
		{0.03857599435200f, -3.84664617118067f, -0.02160367184185f, 7.81501653005538f,
			-0.00123395316851f, -11.34170355132042f, -0.00009291677959f, 13.05504219327545f,
			-0.01655260341619f, -12.28759895145294f, 0.02161526843274f, 9.48293806319790f,
			-0.02074045215285f, -5.87257861775999f, 0.00594298065125f, 2.75465861874613f,
			0.00306428023191f, -0.86984376593551f, 0.00012025322027f, 0.13919314567432f,
			0.00288463683916f},
		{0.98621192462708f, -1.97223372919527f, -1.97242384925416f, 0.97261396931306f,
			0.98621192462708f}},
	{44100,
		{0.05418656406430f, -3.47845948550071f, -0.02911007808948f, 6.36317777566148f,
			-0.00848709379851f, -8.54751527471874f, -0.00851165645469f, 9.47693607801280f,
			-0.00834990904936f, -8.81498681370155f, 0.02245293253339f, 6.85401540936998f,
			-0.02596338512915f, -4.39470996079559f, 0.01624864962975f, 2.19611684890774f,
			-0.00240879051584f, -0.75104302451432f, 0.00674613682247f, 0.13149317958808f,
			-0.00187763777362f},
		{0.98500175787242f, -1.96977855582618f, -1.97000351574484f, 0.97022847566350f,
			0.98500175787242f}},
	{32000,
		{0.15457299681924f, -2.37898834973084f, -0.09331049056315f, 2.84868151156327f,
			-0.06247880153653f, -2.64577170229825f, 0.02163541888798f, 2.23697657451713f,
			-0.05588393329856f, -1.67148153367602f, 0.04781476674921f, 1.00595954808547f,
			0.00222312597743f, -0.45953458054983f, 0.03174092540049f, 0.16378164858596f,
			-0.01390589421898f, -0.05032077717131f, 0.00651420667831f, 0.02347897407020f,
			-0.00881362733839f},
		{0.97938932735214f, -1.95835380975398f, -1.95877865470428f, 0.95920349965459f,
			0.97938932735214f}},
	{24000,
		{0.30296907319327f, -1.61273165137247f, -0.22613988682123f, 1.07977492259970f,
			-0.08587323730772f, -0.25656257754070f, 0.03282930172664f, -0.16276719120440f,
			-0.00915702933434f, -0.22638893773906f, -0.02364141202522f, 0.39120800788284f,
			-0.00584456039913f, -0.22138138954925f, 0.06276101321749f, 0.04500235387352f,
			-0.00000828086748f, 0.02005851806501f, 0.00205861885564f, 0.00302439095741f,
			-0.02950134983287f},
		{0.97531843204928f, -1.95002759149878f, -1.95063686409857f, 0.95124613669835f,
			0.97531843204928f}},
	{22050,
		{0.33642304856132f, -1.49858979367799f, -0.25572241425570f, 0.87350271418188f,
			-0.11828570177555f, 0.12205022308084f, 0.11921148675203f, -0.80774944671438f,
			-0.07834489609479f, 0.47854794562326f, -0.00469977914380f, -0.12453458140019f,
			-0.00589500224440f, -0.04067510197014f, 0.05724228140351f, 0.08333755284107f,
			0.00832043980773f, -0.04237348025746f, -0.01635381384540f, 0.02977207319925f,
			-0.01760176568150f},
		{0.97316523498161f, -1.94561023566527f, -1.94633046996323f, 0.94705070426118f,
			0.97316523498161f}},
	{16000,
		{0.44915256608450f, -0.62820619233671f, -0.14351757464547f, 0.29661783706366f,
			-0.22784394429749f, -0.37256372942400f, -0.01419140100551f, 0.00213767857124f,
			0.04078262797139f, -0.42029820170918f, -0.12398163381748f, 0.22199650564824f,
			0.04097565135648f, 0.00613424350682f, 0.10478503600251f, 0.06747620744683f,
			-0.01863887810927f, 0.05784820375801f, -0.03193428438915f, 0.03222754072173f,
			0.00541907748707f},
		{0.96454515552826f, -1.92783286977036f, -1.92909031105652f, 0.93034775234268f,
			0.96454515552826f}},
	{12000,
		{0.56619470757641f, -1.04800335126349f, -0.75464456939302f, 0.29156311971249f,
			0.16242137742230f, -0.26806001042947f, 0.16744243493672f, 0.00819999645858f,
			-0.18901604199609f, 0.45054734505008f, 0.30931782841830f, -0.33032403314006f,
			-0.27562961986224f, 0.06739368333110f, 0.00647310677246f, -0.04784254229033f,
			0.08647503780351f, 0.01639907836189f, -0.03788984554840f, 0.01807364323573f,
			-0.00588215443421f},
		{0.96009142950541f, -1.91858953033784f, -1.92018285901082f, 0.92177618768381f,
			0.96009142950541f}},
	{11025,
		{0.58100494960553f, -0.51035327095184f, -0.53174909058578f, -0.31863563325245f,
			-0.14289799034253f, -0.20256413484477f, 0.17520704835522f, 0.14728154134330f,
			0.02377945217615f, 0.38952639978999f, 0.15558449135573f, -0.23313271880868f,
			-0.25344790059353f, -0.05246019024463f, 0.01628462406333f, -0.02505961724053f,
			0.06920467763959f, 0.02442357316099f, -0.03721611395801f, 0.01818801111503f,
			-0.00749618797172f},
		{0.95856916599601f, -1.91542108074780f, -1.91713833199203f, 0.91885558323625f,
			0.95856916599601f}},
	{8000,
		{0.53648789255105f, -0.25049871956020f, -0.42163034350696f, -0.43193942311114f,
			-0.00275953611929f, -0.03424681017675f, 0.04267842219415f, -0.04678328784242f,
			-0.10214864179676f, 0.26408300200955f, 0.14590772289388f, 0.15113130533216f,
			-0.02459864859345f, -0.17556493366449f, -0.11202315195388f, -0.18823009262115f,
			-0.04060034127000f, 0.05477720428674f, 0.04788665548180f, 0.04704409688120f,
			-0.02217936801134f},
		{0.94597685600279f, -1.88903307939452f, -1.89195371200558f, 0.89487434461664f,
			0.94597685600279f}},
};

constexpr int kStepsPerDb = 100;
constexpr int kMaxDb = 120;
constexpr double kPercentile = 0.95;
constexpr float kPinkReference = 64.82f;

} // namespace

bool ReplayGainAnalysis::Init(int sampleRate, int channelsIn, int channelsOut, float scale,
	float scaleLeft, float scaleRight)
{
	fChannelsIn = channelsIn == 2 ? 2 : 1;
	fChannelsOut = channelsOut == 2 && fChannelsIn == 2 ? 2 : 1;
	// LAME's input matrix, in its float arithmetic.
	float m[2][2] = {{1.0f, 0.0f}, {0.0f, 1.0f}};
	for (auto& row : m) {
		row[0] *= scale;
		row[1] *= scale;
	}
	m[0][0] *= scaleLeft;
	m[0][1] *= scaleLeft;
	m[1][0] *= scaleRight;
	m[1][1] *= scaleRight;
	if (fChannelsIn == 2 && fChannelsOut == 1) {
		m[0][0] = 0.5f * (m[0][0] + m[1][0]);
		m[0][1] = 0.5f * (m[0][1] + m[1][1]);
		m[1][0] = 0;
		m[1][1] = 0;
	}
	std::memcpy(fTransform, m, sizeof(m));
	for (const RateFilter& filter : kFilters) {
		if (filter.rate == sampleRate) {
			fRate = sampleRate;
			fYule = filter.yule;
			fButter = filter.butter;
			fWindow = static_cast<size_t>((sampleRate + 19) / 20);
			fInWindow = 0;
			fInput.assign(2 * kOrder, 0.0f);
			fYule2.assign(2 * kOrder, 0.0f);
			fButter2.assign(2 * kOrder, 0.0f);
			fSum[0] = fSum[1] = 0;
			StartAt(0, 0);
			fHistogram.assign(static_cast<size_t>(kStepsPerDb * kMaxDb), 0);
			return true;
		}
	}
	return false;
}

void ReplayGainAnalysis::Filter(size_t count)
{
	// The arrays only grow: filling the new part with zeros block after
	// block would cost more than the filter's arithmetic on it.
	if (fYule2.size() < 2 * (kOrder + count)) {
		fYule2.resize(2 * (kOrder + count));
		fButter2.resize(2 * (kOrder + count));
	}
	RunGainFilter(fInput.data() + 2 * kOrder, fYule2.data() + 2 * kOrder, fButter2.data() + 2 * kOrder,
		count, fYule, fButter, WideGainFilterAvailable());
}

void ReplayGainAnalysis::Analyse(size_t count)
{
	Filter(count);
	const float* z = fButter2.data() + 2 * kOrder;
	// The samples before counting starts only warm the filters up.
	size_t i = fCountFrom <= fPosition ? 0
		: static_cast<size_t>(std::min<int64_t>(fCountFrom - fPosition, static_cast<int64_t>(count)));
	while (i < count) {
		// Up to the end of the window, the squares summed in order as LAME
		// sums them, both channels at once.
		const size_t start = i;
		const size_t end = std::min(count, i + (fWindow - fInWindow));
#if defined(__SSE2__)
		__m128d sum = _mm_set_pd(fSum[1], fSum[0]);
		for (; i < end; i++) {
			const __m128d v = _mm_cvtps_pd(_mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(z + 2 * i))));
			sum = _mm_add_pd(sum, _mm_mul_pd(v, v));
		}
		_mm_storel_pd(&fSum[0], sum);
		_mm_storeh_pd(&fSum[1], sum);
#else
		for (; i < end; i++) {
			const double l = z[2 * i], r = z[2 * i + 1];
			fSum[0] += l * l;
			fSum[1] += r * r;
		}
#endif
		fInWindow += end - start;
		if (fInWindow < fWindow)
			continue;
		if (fInHead) {
			fHead[0] = fSum[0];
			fHead[1] = fSum[1];
			fHeadFrames = fWindow - static_cast<size_t>(fCountFrom % static_cast<int64_t>(fWindow));
			fInHead = false;
		} else {
			Bin(fSum[0], fSum[1], fInWindow);
		}
		fSum[0] = fSum[1] = 0;
		fInWindow = 0;
	}
	fPosition += static_cast<int64_t>(count);
	// Keep the last kOrder frames of each array for the next block.
	const auto from = static_cast<std::ptrdiff_t>(2 * count);
	const auto history = static_cast<std::ptrdiff_t>(2 * kOrder);
	for (std::vector<float>* values : {&fInput, &fYule2, &fButter2})
		std::copy(values->begin() + from, values->begin() + from + history, values->begin());
}

void ReplayGainAnalysis::Bin(double left, double right, size_t count)
{
	// LAME analyses a mono encode's one channel as both.
	if (fChannelsOut != 2)
		right = left;
	const double level = kStepsPerDb * 10.
		* std::log10((left + right) / static_cast<double>(count) * 0.5 + 1.e-37);
	size_t index = level <= 0 ? 0 : static_cast<size_t>(level);
	if (index >= fHistogram.size())
		index = fHistogram.size() - 1;
	fHistogram[index]++;
}

void ReplayGainAnalysis::StartAt(int64_t from, int64_t countFrom)
{
	fPosition = from;
	fCountFrom = std::max(from, countFrom);
	fSum[0] = fSum[1] = 0;
	fHead[0] = fHead[1] = 0;
	fHeadFrames = 0;
	// Counting starts that far into its window.
	fInWindow = fWindow == 0 ? 0 : static_cast<size_t>(fCountFrom % static_cast<int64_t>(fWindow));
	fInHead = fInWindow != 0;
}

bool ReplayGainAnalysis::Merge(const ReplayGainAnalysis& next)
{
	if (fRate == 0 || next.fRate != fRate || next.fCountFrom != fPosition
			|| next.fHistogram.size() != fHistogram.size())
		return false;
	if (next.fInHead) {
		// The next part lies within this one's last window.
		fSum[0] += next.fSum[0];
		fSum[1] += next.fSum[1];
	} else {
		if (fInWindow + next.fHeadFrames == fWindow)
			Bin(fSum[0] + next.fHead[0], fSum[1] + next.fHead[1], fWindow);
		for (size_t i = 0; i < fHistogram.size(); i++)
			fHistogram[i] += next.fHistogram[i];
		fSum[0] = next.fSum[0];
		fSum[1] = next.fSum[1];
	}
	fInWindow = next.fInWindow;
	fPosition = next.fPosition;
	// The filters go on from where the next part left them.
	const auto history = static_cast<std::ptrdiff_t>(2 * kOrder);
	std::copy(next.fInput.begin(), next.fInput.begin() + history, fInput.begin());
	std::copy(next.fYule2.begin(), next.fYule2.begin() + history, fYule2.begin());
	std::copy(next.fButter2.begin(), next.fButter2.begin() + history, fButter2.begin());
	return true;
}

uint64_t ReplayGainAnalysis::Windows() const
{
	uint64_t windows = 0;
	for (uint32_t count : fHistogram)
		windows += count;
	return windows;
}

template<typename Sample>
void ReplayGainAnalysis::Add(const Sample* samples, size_t frames, float norm)
{
	if (fRate == 0 || frames == 0)
		return;
	float m[2][2];
	for (int i = 0; i < 2; i++) {
		for (int j = 0; j < 2; j++)
			m[i][j] = norm * fTransform[i][j];
	}
	const size_t step = static_cast<size_t>(fChannelsIn);
	if (fInput.size() < 2 * (kOrder + frames))
		fInput.resize(2 * (kOrder + frames));
	float* in = fInput.data() + 2 * kOrder;
	for (size_t i = 0; i < frames; i++) {
		const float xl = static_cast<float>(samples[i * step]);
		const float xr = static_cast<float>(samples[i * step + step - 1]);
		in[2 * i] = xl * m[0][0] + xr * m[0][1];
		in[2 * i + 1] = xl * m[1][0] + xr * m[1][1];
	}
	Analyse(frames);
}

void ReplayGainAnalysis::AddShorts(const short* samples, size_t frames)
{
	Add(samples, frames, 1.0f);
}

void ReplayGainAnalysis::AddInts(const int* samples, size_t frames)
{
	Add(samples, frames, static_cast<float>(1.0 / 65536.0));
}

void ReplayGainAnalysis::AddFloats(const float* samples, size_t frames)
{
	Add(samples, frames, 32767.0f);
}

void ReplayGainAnalysis::AddSilence(size_t frames)
{
	const std::vector<short> zeros(std::min<size_t>(frames, 4096) * static_cast<size_t>(fChannelsIn), 0);
	while (frames > 0) {
		const size_t count = std::min<size_t>(frames, 4096);
		AddShorts(zeros.data(), count);
		frames -= count;
	}
}

int ReplayGainAnalysis::RadioGainTenths() const
{
	const uint64_t windows = Windows();
	if (windows == 0)
		return 0;
	int64_t upper = static_cast<int64_t>(std::ceil(static_cast<double>(windows) * (1. - kPercentile)));
	size_t i = fHistogram.size();
	while (i-- > 0) {
		upper -= fHistogram[i];
		if (upper <= 0)
			break;
	}
	const float gain = kPinkReference - static_cast<float>(i) / static_cast<float>(kStepsPerDb);
	return static_cast<int>(std::floor(gain * 10.0 + 0.5));
}

} // namespace gogo
