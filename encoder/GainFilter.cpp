#include "GainFilter.h"

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace gogo {

namespace {

constexpr size_t kOrder = kGainFilterOrder;

#if defined(__SSE2__)
// The coefficients, each in every lane of a register (or at least apart
// from the arrays the filter writes, which the compiler must assume they
// might alias).
struct Broadcast {
	__m128 k[2 * kOrder + 1];
	__m128 b[5];

	Broadcast(const float* yule, const float* butter)
	{
		for (size_t j = 0; j <= 2 * kOrder; j++)
			k[j] = _mm_set1_ps(yule[j]);
		for (size_t j = 0; j < 5; j++)
			b[j] = _mm_set1_ps(butter[j]);
	}
};

// One frame's two floats, in the low half of a register.
inline __m128 Pair(const float* p)
{
	return _mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(p)));
}
#endif

// Frames [from, frames) one at a time. The terms are grouped so that only
// the last product and subtraction wait for the previous output: the terms
// of the input and of the older outputs are summed while the filter waits
// for it. (LAME adds the same products in another order; the gain comes out
// the same.)
void FilterNarrow(const float* x, float* y, float* z, size_t from, size_t frames, const float* k,
	const float* b)
{
#if defined(__SSE2__)
	const Broadcast c(k, b);
	const __m128* kv = c.k;
	const __m128* bv = c.b;
	auto product = [](const float* p, __m128 v) { return _mm_cvtps_pd(_mm_mul_ps(Pair(p), v)); };
	// The last two outputs of each filter stay in registers: read back from
	// memory, each would wait for its own store.
	const size_t start = 2 * from;
	__m128 y1 = Pair(y + start - 2), y2 = Pair(y + start - 4), z1 = Pair(z + start - 2),
		   z2 = Pair(z + start - 4);
	for (size_t i = start; i < 2 * frames; i += 2) {
		// The input's terms, in two runs (the 1e-10 keeps the sum off
		// denormals, as LAME's does).
		__m128d even = _mm_add_pd(_mm_set1_pd(1e-10), product(x + i, kv[0]));
		__m128d odd = product(x + i - 2, kv[2]);
#pragma GCC unroll 8
		for (size_t j = 2; j < kOrder; j += 2) {
			even = _mm_add_pd(even, product(x + i - 2 * j, kv[2 * j]));
			odd = _mm_add_pd(odd, product(x + i - 2 * (j + 1), kv[2 * (j + 1)]));
		}
		even = _mm_add_pd(even, product(x + i - 2 * kOrder, kv[2 * kOrder]));
		// The outputs' from the oldest to the one before the last.
		__m128d older = product(y + i - 2 * kOrder, kv[2 * kOrder - 1]);
#pragma GCC unroll 8
		for (size_t j = kOrder - 1; j >= 3; j--)
			older = _mm_add_pd(older, product(y + i - 2 * j, kv[2 * j - 1]));
		older = _mm_add_pd(older, _mm_cvtps_pd(_mm_mul_ps(y2, kv[3])));
		const __m128d sum = _mm_sub_pd(_mm_sub_pd(_mm_add_pd(even, odd), older),
			_mm_cvtps_pd(_mm_mul_ps(y1, kv[1])));
		const __m128 y0 = _mm_cvtpd_ps(sum);
		_mm_store_sd(reinterpret_cast<double*>(y + i), _mm_castps_pd(y0));
		const __m128 fresh = _mm_add_ps(_mm_mul_ps(y0, bv[0]), _mm_mul_ps(y1, bv[2]));
		const __m128 old = _mm_sub_ps(_mm_mul_ps(y2, bv[4]), _mm_mul_ps(z2, bv[3]));
		const __m128 z0 = _mm_sub_ps(_mm_add_ps(fresh, old), _mm_mul_ps(z1, bv[1]));
		_mm_store_sd(reinterpret_cast<double*>(z + i), _mm_castps_pd(z0));
		y2 = y1;
		y1 = y0;
		z2 = z1;
		z1 = z0;
	}
#else
	auto product = [](float v, float c) { return static_cast<double>(v * c); };
	for (size_t i = 2 * from; i < 2 * frames; i++) {
		double even = 1e-10 + product(x[i], k[0]);
		double odd = product(x[i - 2], k[2]);
		for (size_t j = 2; j <= kOrder; j += 2) {
			even += product(x[i - 2 * j], k[2 * j]);
			if (j + 1 <= kOrder)
				odd += product(x[i - 2 * (j + 1)], k[2 * (j + 1)]);
		}
		double older = product(y[i - 2 * kOrder], k[2 * kOrder - 1]);
		for (size_t j = kOrder - 1; j >= 2; j--)
			older += product(y[i - 2 * j], k[2 * j - 1]);
		y[i] = static_cast<float>(((even + odd) - older) - product(y[i - 2], k[1]));
		const float fresh = y[i] * b[0] + y[i - 2] * b[2];
		const float old = y[i - 4] * b[4] - z[i - 4] * b[3];
		z[i] = (fresh + old) - z[i - 2] * b[1];
	}
#endif
}

#if defined(__x86_64__) && defined(__GNUC__)
#define GOGO_WIDE_GAIN_FILTER 1
#define GOGO_AVX __attribute__((target("avx")))

// Four floats (two frames) times c, in double.
GOGO_AVX inline __m256d Product4(__m128 v, __m128 c)
{
	return _mm256_cvtps_pd(_mm_mul_ps(v, c));
}

GOGO_AVX inline __m256d Product4(const float* p, __m128 c)
{
	return Product4(_mm_loadu_ps(p), c);
}

// Two frames at a time: the same products summed in the same order as
// FilterNarrow, so the same bits. The terms of the input and of the older
// outputs of both frames need no output of the pair itself (the older ones
// of the second frame reach back to the frame before the pair), so they are
// summed for both at once; then each frame's last term, its product with
// the output just before it, in turn. The pair's outputs are stored
// together, and the last three of the Yule-Walker filter kept in registers,
// so that no load waits for a store not yet done.
GOGO_AVX void FilterWide(const float* x, float* y, float* z, size_t frames, const float* k,
	const float* b)
{
	const Broadcast c(k, b);
	const __m128* kv = c.k;
	const __m128* bv = c.b;
	__m128 y1 = Pair(y - 2), y2 = Pair(y - 4), y3 = Pair(y - 6), z1 = Pair(z - 2), z2 = Pair(z - 4);
	const __m256d tiny = _mm256_set1_pd(1e-10);
	size_t n = 0;
	for (; n + 2 <= frames; n += 2) {
		const float* xp = x + 2 * n;
		const float* yp = y + 2 * n;
		__m256d even = _mm256_add_pd(tiny, Product4(xp, kv[0]));
		__m256d odd = Product4(xp - 2, kv[2]);
#pragma GCC unroll 8
		for (size_t j = 2; j < kOrder; j += 2) {
			even = _mm256_add_pd(even, Product4(xp - 2 * j, kv[2 * j]));
			odd = _mm256_add_pd(odd, Product4(xp - 2 * (j + 1), kv[2 * (j + 1)]));
		}
		even = _mm256_add_pd(even, Product4(xp - 2 * kOrder, kv[2 * kOrder]));
		__m256d older = Product4(yp - 2 * kOrder, kv[2 * kOrder - 1]);
#pragma GCC unroll 8
		for (size_t j = kOrder - 1; j >= 4; j--)
			older = _mm256_add_pd(older, Product4(yp - 2 * j, kv[2 * j - 1]));
		// Frames n - 3 and n - 2, then n - 2 and n - 1, from the registers.
		older = _mm256_add_pd(older, Product4(_mm_movelh_ps(y3, y2), kv[5]));
		older = _mm256_add_pd(older, Product4(_mm_movelh_ps(y2, y1), kv[3]));
		const __m256d part = _mm256_sub_pd(_mm256_add_pd(even, odd), older);
		const __m128 ya = _mm_cvtpd_ps(
			_mm_sub_pd(_mm256_castpd256_pd128(part), _mm_cvtps_pd(_mm_mul_ps(y1, kv[1]))));
		const __m128 yb = _mm_cvtpd_ps(
			_mm_sub_pd(_mm256_extractf128_pd(part, 1), _mm_cvtps_pd(_mm_mul_ps(ya, kv[1]))));
		_mm_storeu_ps(y + 2 * n, _mm_movelh_ps(ya, yb));
		const __m128 za = _mm_sub_ps(
			_mm_add_ps(_mm_add_ps(_mm_mul_ps(ya, bv[0]), _mm_mul_ps(y1, bv[2])),
				_mm_sub_ps(_mm_mul_ps(y2, bv[4]), _mm_mul_ps(z2, bv[3]))),
			_mm_mul_ps(z1, bv[1]));
		const __m128 zb = _mm_sub_ps(
			_mm_add_ps(_mm_add_ps(_mm_mul_ps(yb, bv[0]), _mm_mul_ps(ya, bv[2])),
				_mm_sub_ps(_mm_mul_ps(y1, bv[4]), _mm_mul_ps(z1, bv[3]))),
			_mm_mul_ps(za, bv[1]));
		_mm_storeu_ps(z + 2 * n, _mm_movelh_ps(za, zb));
		y3 = y1;
		y2 = ya;
		y1 = yb;
		z2 = za;
		z1 = zb;
	}
	if (n < frames)
		FilterNarrow(x, y, z, n, frames, k, b);
}
#endif

} // namespace

void RunGainFilter(const float* x, float* y, float* z, size_t frames, const float* yule,
	const float* butter, bool wide)
{
#if defined(GOGO_WIDE_GAIN_FILTER)
	if (wide) {
		FilterWide(x, y, z, frames, yule, butter);
		return;
	}
#else
	(void)wide;
#endif
	FilterNarrow(x, y, z, 0, frames, yule, butter);
}

bool WideGainFilterAvailable()
{
#if defined(GOGO_WIDE_GAIN_FILTER)
	static const bool wide = [] {
		__builtin_cpu_init(); // in case this runs before libgcc's own constructor
		return __builtin_cpu_supports("avx") != 0;
	}();
	return wide;
#else
	return false;
#endif
}

} // namespace gogo
