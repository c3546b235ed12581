#include <vntr/dsp/filters.hpp>
#include <vntr/dsp/lpc.hpp>
#include <vntr/dsp/postfilter.hpp>
#include <vntr/dsp/vector.hpp>

#include <cmath>
#include <cstring>

#if defined(VNTR_SIMD_SSE2)
#include <emmintrin.h>
#endif
#if defined(VNTR_SIMD_AVX2)
#include <immintrin.h>
#endif

namespace vntr::dsp {

void ResetPostFilter(PostFilterState &state) {
    std::memset(&state, 0, sizeof state);
    state.residualEnd = kPostResidualHistory;
    state.gain = 1.0f;
    state.simd = DetectSimd();
}

namespace {

// Four partial sums of a double-precision dot product, term n going to sum
// n mod 4 and the sums combined as ((s0 + s2) + (s1 + s3)): the order of
// DotDouble, so that a sum made here equals DotDouble's of the same terms.
// Several of them side by side let one pass over the data make several sums.
struct PartialSums {
#if defined(VNTR_SIMD_SSE2)
    __m128d low = _mm_setzero_pd();
    __m128d high = _mm_setzero_pd();
    void Add(const double *x, const double *y) {
        low = _mm_add_pd(low, _mm_mul_pd(_mm_loadu_pd(x), _mm_loadu_pd(y)));
        high = _mm_add_pd(high, _mm_mul_pd(_mm_loadu_pd(x + 2), _mm_loadu_pd(y + 2)));
    }
    // x times the floats y, and the floats y squared, widened in registers.
    void AddWidened(const double *x, const float *y) {
        const __m128 yf = _mm_loadu_ps(y);
        low = _mm_add_pd(low, _mm_mul_pd(_mm_loadu_pd(x), _mm_cvtps_pd(yf)));
        high = _mm_add_pd(high, _mm_mul_pd(_mm_loadu_pd(x + 2), _mm_cvtps_pd(_mm_movehl_ps(yf, yf))));
    }
    void AddSquares(const float *y) {
        const __m128 yf = _mm_loadu_ps(y);
        const __m128d l = _mm_cvtps_pd(yf);
        const __m128d h = _mm_cvtps_pd(_mm_movehl_ps(yf, yf));
        low = _mm_add_pd(low, _mm_mul_pd(l, l));
        high = _mm_add_pd(high, _mm_mul_pd(h, h));
    }
    double Total() const {
        const __m128d pairs = _mm_add_pd(low, high);
        return _mm_cvtsd_f64(pairs) + _mm_cvtsd_f64(_mm_unpackhi_pd(pairs, pairs));
    }
#else
    double s[4] = {};
    void Add(const double *x, const double *y) {
        for (int k = 0; k < 4; ++k) s[k] += x[k] * y[k];
    }
    void AddWidened(const double *x, const float *y) {
        for (int k = 0; k < 4; ++k) s[k] += x[k] * static_cast<double>(y[k]);
    }
    void AddSquares(const float *y) {
        for (int k = 0; k < 4; ++k) s[k] += static_cast<double>(y[k]) * static_cast<double>(y[k]);
    }
    double Total() const {
        return (s[0] + s[2]) + (s[1] + s[3]);
    }
#endif
};

// The terms from `from` on that do not fill a group of four, summed in turn.
double Tail(const double *x, const double *y, int from, int length) {
    double tail = 0.0;
    for (int n = from; n < length; ++n) tail += x[n] * y[n];
    return tail;
}

double TailWidened(const double *x, const float *y, int from, int length) {
    double tail = 0.0;
    for (int n = from; n < length; ++n) tail += x[n] * static_cast<double>(y[n]);
    return tail;
}

double TailSquares(const float *y, int from, int length) {
    double tail = 0.0;
    for (int n = from; n < length; ++n) tail += static_cast<double>(y[n]) * static_cast<double>(y[n]);
    return tail;
}

int WholeGroups(int length) {
    return length & ~3;
}

double Dot(const double *x, const double *y, int length) {
    PartialSums sums;
    const int groups = WholeGroups(length);
    for (int n = 0; n < groups; n += 4) sums.Add(x + n, y + n);
    return sums.Total() + Tail(x, y, groups, length);
}

using Candidate = PitchCandidate; // k: correlation with the sub-frame, e: energy of the delayed signal

// a replaces b when its normalised correlation K^2/E is larger.
bool Better(const Candidate &a, const Candidate &b) {
    return a.k * a.k * b.e > b.k * b.k * a.e;
}

Candidate Clipped(double k, double e) {
    return {k > 0.0 ? k : 0.0, e};
}

// Correlations and energies are summed and compared in double: two candidates
// often score within a few parts per million of each other, and single
// precision summed in another order would choose the other one (a step or two
// of output, tens where the filtered speech is loud).  In double even a
// damaged stream's levels cannot overflow.  Every product of two floats is
// exact in double, so the samples are widened once and the sums made from
// the widened copies.
Candidate Score(const float *r, const float *y, int length) {
    return Clipped(DotDouble(r, y, length), DotDouble(y, y, length));
}

// y(n) = sum_j c(j) r(n - t + 1 - j), n = 0..count-1, each sum in single
// precision from j = 0 up.
void FourTapDelay(const float *r, int t, const float *c, int count, float *y) {
    int n = 0;
#if defined(VNTR_SIMD_SSE2)
    const __m128 c0 = _mm_set1_ps(c[0]);
    const __m128 c1 = _mm_set1_ps(c[1]);
    const __m128 c2 = _mm_set1_ps(c[2]);
    const __m128 c3 = _mm_set1_ps(c[3]);
    for (; n + 4 <= count; n += 4) {
        const float *x = r + n - t + 1;
        __m128 acc = _mm_add_ps(_mm_mul_ps(c0, _mm_loadu_ps(x)), _mm_mul_ps(c1, _mm_loadu_ps(x - 1)));
        acc = _mm_add_ps(acc, _mm_mul_ps(c2, _mm_loadu_ps(x - 2)));
        _mm_storeu_ps(y + n, _mm_add_ps(acc, _mm_mul_ps(c3, _mm_loadu_ps(x - 3))));
    }
#endif
    for (; n < count; ++n) {
        const float *x = r + n - t + 1;
        y[n] = c[0] * x[0] + c[1] * x[-1] + c[2] * x[-2] + c[3] * x[-3];
    }
}

// y(n) = sum_j h(j) r(n - lag + 8 - j), n = 0..length-1, each sum in single
// precision from j = 0 up.
void SixteenTapDelay(const float *r, int lag, const float *h, int length, float *y) {
    int n = 0;
#if defined(VNTR_SIMD_SSE2)
    for (; n + 4 <= length; n += 4) {
        const float *x = r + n - lag + 8;
        __m128 acc = _mm_setzero_ps();
        for (int j = 0; j < 16; ++j) acc = _mm_add_ps(acc, _mm_mul_ps(_mm_set1_ps(h[j]), _mm_loadu_ps(x - j)));
        _mm_storeu_ps(y + n, acc);
    }
#endif
    for (; n < length; ++n) {
        const float *x = r + n - lag + 8;
        float acc = 0.0f;
        for (int j = 0; j < 16; ++j) acc += h[j] * x[-j];
        y[n] = acc;
    }
}

constexpr int kPhases = 7;

// The 4-tap candidates of every phase, each delay's correlation with the
// sub-frame and energy (negative correlations clipped to 0):
// out[p - 1][0] of delay t + 1 - p/8, out[p - 1][1] of t - p/8.
//   in  r [-kPostResidualHistory .. length], rw the sub-frame widened
void FractionalCandidates(const float *r, const double *rw, int t, int length, const FractionalDelayFilters &delays,
                          Candidate (*out)[2]) {
    const int groups = WholeGroups(length);
    for (int phase = 1; phase <= kPhases; ++phase) {
        float y[kPostMaxSubframe + 1];
        FourTapDelay(r, t, delays.four[phase - 1], length + 1, y);
        // The sums read y as floats and widen them in registers (exactly).
        PartialSums k0, e0, k1, e1;
        for (int n = 0; n < groups; n += 4) {
            k0.AddWidened(rw + n, y + n);
            e0.AddSquares(y + n);
            k1.AddWidened(rw + n, y + 1 + n);
            e1.AddSquares(y + 1 + n);
        }
        out[phase - 1][0] =
            Clipped(k0.Total() + TailWidened(rw, y, groups, length), e0.Total() + TailSquares(y, groups, length));
        out[phase - 1][1] = Clipped(k1.Total() + TailWidened(rw, y + 1, groups, length),
                                    e1.Total() + TailSquares(y + 1, groups, length));
    }
}

void Widen(const float *x, int length, double *out) {
    for (int n = 0; n < length; ++n) out[n] = x[n];
}

bool PassesGate(const Candidate &best, double energy, PitchGateEdges edges) {
    if (best.k == 0.0) return false;
    if (edges == PitchGateEdges::EnergyInclusive) return !(best.e < 0.1) && best.k * best.k > 0.5 * energy * best.e;
    return best.e > 0.1 && best.k * best.k >= 0.5 * energy * best.e;
}

// The integer lag among lag-1, lag, lag+1 with the largest correlation (a
// later one only when strictly larger), the sub-frame's energy and the
// correlations, made in one pass.
struct IntegerChoice {
    int t;
    double correlation;
    double energy;
};

IntegerChoice ChooseIntegerLag(const double *r, int lag, int length) {
    PartialSums energy;
    PartialSums c[3];
    const double *d0 = r - (lag - 1);
    const double *d1 = r - lag;
    const double *d2 = r - (lag + 1);
    const int groups = WholeGroups(length);
    for (int n = 0; n < groups; n += 4) {
        energy.Add(r + n, r + n);
        c[0].Add(r + n, d0 + n);
        c[1].Add(r + n, d1 + n);
        c[2].Add(r + n, d2 + n);
    }
    IntegerChoice choice{lag - 1, -1e300, energy.Total() + Tail(r, r, groups, length)};
    const double *delayed[3] = {d0, d1, d2};
    for (int i = 0; i < 3; ++i) {
        const double value = c[i].Total() + Tail(r, delayed[i], groups, length);
        if (value > choice.correlation) {
            choice.correlation = value;
            choice.t = lag - 1 + i;
        }
    }
    return choice;
}

#if defined(VNTR_SIMD_AVX2)
// The same with AVX2: eight outputs of the 4-tap filter a register, and the
// four partial sums of each double-precision sum in one register (lane k the
// terms n mod 4 = k, combined as ((s0 + s2) + (s1 + s3)) as PartialSums
// does).  Products and sums round one at a time (no fused multiply-add is
// asked for), so every candidate is the same to the last bit.
VNTR_TARGET_AVX2 double Total(__m256d sums) {
    const __m128d pairs = _mm_add_pd(_mm256_castpd256_pd128(sums), _mm256_extractf128_pd(sums, 1));
    return _mm_cvtsd_f64(pairs) + _mm_cvtsd_f64(_mm_unpackhi_pd(pairs, pairs));
}

VNTR_TARGET_AVX2 void FractionalCandidatesWide(const float *r, const double *rw, int t, int length,
                                               const FractionalDelayFilters &delays, Candidate (*out)[2]) {
    const int groups = WholeGroups(length);
    const int count = length + 1;
    for (int phase = 1; phase <= kPhases; ++phase) {
        const float *c = delays.four[phase - 1];
        float y[kPostMaxSubframe + 8];
        const __m256 c0 = _mm256_set1_ps(c[0]);
        const __m256 c1 = _mm256_set1_ps(c[1]);
        const __m256 c2 = _mm256_set1_ps(c[2]);
        const __m256 c3 = _mm256_set1_ps(c[3]);
        int n = 0;
        for (; n + 8 <= count; n += 8) {
            const float *x = r + n - t + 1;
            __m256 acc =
                _mm256_add_ps(_mm256_mul_ps(c0, _mm256_loadu_ps(x)), _mm256_mul_ps(c1, _mm256_loadu_ps(x - 1)));
            acc = _mm256_add_ps(acc, _mm256_mul_ps(c2, _mm256_loadu_ps(x - 2)));
            _mm256_storeu_ps(y + n, _mm256_add_ps(acc, _mm256_mul_ps(c3, _mm256_loadu_ps(x - 3))));
        }
        for (; n < count; ++n) {
            const float *x = r + n - t + 1;
            y[n] = c[0] * x[0] + c[1] * x[-1] + c[2] * x[-2] + c[3] * x[-3];
        }
        __m256d k0 = _mm256_setzero_pd(), e0 = _mm256_setzero_pd();
        __m256d k1 = _mm256_setzero_pd(), e1 = _mm256_setzero_pd();
        for (int m = 0; m < groups; m += 4) {
            const __m256d s = _mm256_loadu_pd(rw + m);
            const __m256d a = _mm256_cvtps_pd(_mm_loadu_ps(y + m));
            const __m256d b = _mm256_cvtps_pd(_mm_loadu_ps(y + 1 + m));
            k0 = _mm256_add_pd(k0, _mm256_mul_pd(s, a));
            e0 = _mm256_add_pd(e0, _mm256_mul_pd(a, a));
            k1 = _mm256_add_pd(k1, _mm256_mul_pd(s, b));
            e1 = _mm256_add_pd(e1, _mm256_mul_pd(b, b));
        }
        out[phase - 1][0] =
            Clipped(Total(k0) + TailWidened(rw, y, groups, length), Total(e0) + TailSquares(y, groups, length));
        out[phase - 1][1] =
            Clipped(Total(k1) + TailWidened(rw, y + 1, groups, length), Total(e1) + TailSquares(y + 1, groups, length));
    }
}
// ChooseIntegerLag and Dot with each sum's four partial sums in one register.
VNTR_TARGET_AVX2 IntegerChoice ChooseIntegerLagWide(const double *r, int lag, int length) {
    __m256d energy = _mm256_setzero_pd();
    __m256d c[3] = {_mm256_setzero_pd(), _mm256_setzero_pd(), _mm256_setzero_pd()};
    const double *delayed[3] = {r - (lag - 1), r - lag, r - (lag + 1)};
    const int groups = WholeGroups(length);
    for (int n = 0; n < groups; n += 4) {
        const __m256d x = _mm256_loadu_pd(r + n);
        energy = _mm256_add_pd(energy, _mm256_mul_pd(x, x));
        for (int i = 0; i < 3; ++i) c[i] = _mm256_add_pd(c[i], _mm256_mul_pd(x, _mm256_loadu_pd(delayed[i] + n)));
    }
    IntegerChoice choice{lag - 1, -1e300, Total(energy) + Tail(r, r, groups, length)};
    for (int i = 0; i < 3; ++i) {
        const double value = Total(c[i]) + Tail(r, delayed[i], groups, length);
        if (value > choice.correlation) {
            choice.correlation = value;
            choice.t = lag - 1 + i;
        }
    }
    return choice;
}

// SixteenTapDelay eight outputs a register, each sum from +0 with tap 0 first.
VNTR_TARGET_AVX2 void SixteenTapDelayWide(const float *r, int lag, const float *h, int length, float *y) {
    int n = 0;
    for (; n + 8 <= length; n += 8) {
        const float *x = r + n - lag + 8;
        __m256 acc = _mm256_setzero_ps();
        for (int j = 0; j < 16; ++j)
            acc = _mm256_add_ps(acc, _mm256_mul_ps(_mm256_set1_ps(h[j]), _mm256_loadu_ps(x - j)));
        _mm256_storeu_ps(y + n, acc);
    }
    SixteenTapDelay(r + n, lag, h, length - n, y + n);
}

VNTR_TARGET_AVX2 void WidenWide(const float *x, int length, double *out) {
    int n = 0;
    for (; n + 4 <= length; n += 4) _mm256_storeu_pd(out + n, _mm256_cvtps_pd(_mm_loadu_ps(x + n)));
    for (; n < length; ++n) out[n] = x[n];
}

VNTR_TARGET_AVX2 double DotWide(const double *x, const double *y, int length) {
    __m256d sums = _mm256_setzero_pd();
    const int groups = WholeGroups(length);
    for (int n = 0; n < groups; n += 4)
        sums = _mm256_add_pd(sums, _mm256_mul_pd(_mm256_loadu_pd(x + n), _mm256_loadu_pd(y + n)));
    return Total(sums) + Tail(x, y, groups, length);
}
#else
void FractionalCandidatesWide(const float *r, const double *rw, int t, int length, const FractionalDelayFilters &delays,
                              Candidate (*out)[2]) {
    FractionalCandidates(r, rw, t, length, delays, out);
}
IntegerChoice ChooseIntegerLagWide(const double *r, int lag, int length) {
    return ChooseIntegerLag(r, lag, length);
}
double DotWide(const double *x, const double *y, int length) {
    return Dot(x, y, length);
}
void SixteenTapDelayWide(const float *r, int lag, const float *h, int length, float *y) {
    SixteenTapDelay(r, lag, h, length, y);
}
void WidenWide(const float *x, int length, double *out) {
    Widen(x, length, out);
}
#endif

// The residual through A(z/0.55): y[n] = x[n] + sum_i b[i-1] x[n-i], each
// sum from i = 1 up (four outputs at a time, each in its own lane).
void Residual(const float *x, const float *b, float *y, int length) {
    int n = 0;
#if defined(VNTR_SIMD_SSE2)
    for (; n + 4 <= length; n += 4) {
        __m128 acc = _mm_loadu_ps(x + n);
        for (int i = 1; i <= kPostOrder; ++i)
            acc = _mm_add_ps(acc, _mm_mul_ps(_mm_set1_ps(b[i - 1]), _mm_loadu_ps(x + n - i)));
        _mm_storeu_ps(y + n, acc);
    }
#endif
    for (; n < length; ++n) {
        float acc = x[n];
        for (int i = 1; i <= kPostOrder; ++i) acc += b[i - 1] * x[n - i];
        y[n] = acc;
    }
}

// Impulse response of num(z)/den(z) from rest: the impulse through num gives
// 1, num[0..order-1], then zeros, which go through the all-pole filter.
void FormantImpulseResponse(const float *num, const float *den, float *h, int length) {
    float x[kPostMaxTiltResponse];
    for (int n = 0; n < length; ++n) x[n] = n == 0 ? 1.0f : (n <= kPostOrder ? num[n - 1] : 0.0f);
    float y[kPostOrder + kPostMaxTiltResponse];
    std::memset(y, 0, sizeof(float) * kPostOrder); // rest: only the history needs clearing
    AllPoleFilter(x, den, kPostOrder, y + kPostOrder, length);
    std::memcpy(h, y + kPostOrder, sizeof(float) * length);
}

} // namespace

namespace {

// The pitch post-filter, its fractional candidates scored four or eight lanes wide.
void PitchPostFilterOn(Simd simd, const float *r, int lag, int length, const PostFilterConfig &config, float *out) {
    // The residual from lag + 1 samples back, widened to double.
    double wide[kPostResidualHistory + kPostMaxSubframe];
    double *rw = wide + kPostResidualHistory;
    const bool avx2 = simd == Simd::Avx2;
    if (avx2)
        WidenWide(r - (lag + 1), lag + 1 + length, rw - (lag + 1));
    else
        Widen(r - (lag + 1), lag + 1 + length, rw - (lag + 1));

    IntegerChoice integer = avx2 ? ChooseIntegerLagWide(rw, lag, length) : ChooseIntegerLag(rw, lag, length);
    std::memcpy(out, r, sizeof(float) * length);
    if (integer.energy < 0.1) return;
    const int t = integer.t;
    const double delayedEnergy = avx2 ? DotWide(rw - t, rw - t, length) : Dot(rw - t, rw - t, length);
    if (integer.correlation <= 0.0 || delayedEnergy < 0.1) return;

    // Fractional candidates: for each phase the 4-tap version of delay
    // t + 1 - p/8 (y from 0) and of t - p/8 (y from 1), in that order.
    Candidate best{integer.correlation, delayedEnergy};
    int bestPhase = 0;
    int bestShift = 0;
    Candidate fractional[kPhases][2];
    if (avx2)
        FractionalCandidatesWide(r, rw, t, length, config.delays, fractional);
    else
        FractionalCandidates(r, rw, t, length, config.delays, fractional);
    for (int phase = 1; phase <= kPhases; ++phase) {
        for (int shift = 0; shift < 2; ++shift) {
            if (Better(fractional[phase - 1][shift], best)) {
                best = fractional[phase - 1][shift];
                bestPhase = phase;
                bestShift = shift;
            }
        }
    }
    if (!PassesGate(best, integer.energy, config.gate)) return;

    float chosen[kPostMaxSubframe + 1];
    const float *delayed = chosen;
    if (bestPhase == 0) {
        delayed = r - t;
    } else {
        FourTapDelay(r, t, config.delays.four[bestPhase - 1], length + 1, chosen);
        delayed = chosen + bestShift;
        // The longer filter replaces the 4-tap version when it matches better.
        float fine[kPostMaxSubframe];
        if (avx2)
            SixteenTapDelayWide(r, t - bestShift + 1, config.delays.sixteen[bestPhase - 1], length, fine);
        else
            SixteenTapDelay(r, t - bestShift + 1, config.delays.sixteen[bestPhase - 1], length, fine);
        const Candidate c = Score(r, fine, length);
        if (c.e != 0.0 && Better(c, best)) {
            best = c;
            std::memcpy(chosen, fine, sizeof(float) * length);
            delayed = chosen;
        }
    }

    float weightSelf;
    float weightDelayed;
    if (best.k > best.e) {
        weightSelf = 0.6666667f;
        weightDelayed = 1.0f - 0.6666667f;
    } else {
        const float g = static_cast<float>(best.k / best.e);
        weightSelf = 1.0f / (1.0f + 0.5f * g);
        weightDelayed = 0.5f * g / (1.0f + 0.5f * g);
    }
    for (int n = 0; n < length; ++n) out[n] = r[n] * weightSelf + delayed[n] * weightDelayed;
}

} // namespace

void PitchPostFilter(const float *r, int lag, int length, const PostFilterConfig &config, float *out) {
    PitchPostFilterOn(Simd::Plain, r, lag, length, config, out);
}

void FractionalPitchCandidates(Simd simd, const float *r, int t, int length, const FractionalDelayFilters &delays,
                               PitchCandidate (*out)[2]) {
    double rw[kPostMaxSubframe];
    Widen(r, length, rw);
    if (simd == Simd::Avx2)
        FractionalCandidatesWide(r, rw, t, length, delays, out);
    else
        FractionalCandidates(r, rw, t, length, delays, out);
}

namespace {

float TiltOf(float r0, float r1) {
    return (r0 != 0.0f && std::fabs(r1) <= r0) ? -r1 / r0 : 0.0f;
}

// The formant post-filter A(z/0.55) / A(z/0.7): the residual filter's
// bandwidth expansion widens the zeros more than the synthesis filter's
// widens the poles, so the formants stand out from the valleys between them.
constexpr float kResidualExpansion = 0.55f;
constexpr float kFormantExpansion = 0.7f;

void FormantShapeOf(const float *lpc, PostFilterShape &shape) {
    BandwidthExpand(lpc, kPostOrder, kResidualExpansion, shape.num);
    BandwidthExpand(lpc, kPostOrder, kFormantExpansion, shape.den);
}

} // namespace

void PostFilterShapeOf(const float *lpc, const PostFilterConfig &config, PostFilterShape &shape) {
    FormantShapeOf(lpc, shape);
    const int responseLength = config.tiltResponseLength;
    float h[kPostMaxTiltResponse];
    FormantImpulseResponse(shape.num, shape.den, h, responseLength);
    float r0 = 0.0f;
    float r1 = 0.0f;
    float sumAbs = 0.0f;
    for (int n = 0; n < responseLength; ++n) {
        r0 += h[n] * h[n];
        sumAbs += std::fabs(h[n]);
        if (n + 1 < responseLength) r1 += h[n] * h[n + 1];
    }
    shape.tilt = TiltOf(r0, r1);
    shape.sumAbs = sumAbs;
}

void PostFilterShapePair(const float *lpc0, const float *lpc1, const PostFilterConfig &config, PostFilterShape &shape0,
                         PostFilterShape &shape1) {
#if defined(VNTR_SIMD_SSE2)
    FormantShapeOf(lpc0, shape0);
    FormantShapeOf(lpc1, shape1);
    // The two impulse responses in the low lanes, each lane with its own set:
    // AllPoleFilter's products and differences in its order, from rest.
    const int length = config.tiltResponseLength;
    __m128 coefficient[kPostOrder];
    for (int i = 0; i < kPostOrder; ++i)
        coefficient[i] = _mm_unpacklo_ps(_mm_load_ss(shape0.den + i), _mm_load_ss(shape1.den + i));
    __m128 r[kPostOrder];
    for (int k = 0; k < kPostOrder; ++k) r[k] = _mm_setzero_ps();
    __m128 h[kPostMaxTiltResponse];
    for (int n = 0; n < length; ++n) {
        __m128 even = n == 0 ? _mm_set_ps(0.0f, 0.0f, 1.0f, 1.0f)
                             : (n <= kPostOrder
                                    ? _mm_unpacklo_ps(_mm_load_ss(shape0.num + n - 1), _mm_load_ss(shape1.num + n - 1))
                                    : _mm_setzero_ps());
        __m128 odd = _mm_setzero_ps();
        int i = 2;
        for (; i + 1 <= kPostOrder; i += 2) {
            even = _mm_sub_ps(even, _mm_mul_ps(coefficient[i - 1], r[i - 1]));
            odd = _mm_sub_ps(odd, _mm_mul_ps(coefficient[i], r[i]));
        }
        if (i <= kPostOrder) even = _mm_sub_ps(even, _mm_mul_ps(coefficient[i - 1], r[i - 1]));
        const __m128 y = _mm_sub_ps(_mm_add_ps(even, odd), _mm_mul_ps(coefficient[0], r[0]));
        for (int k = kPostOrder - 1; k > 0; --k) r[k] = r[k - 1];
        r[0] = y;
        h[n] = y;
    }
    // The sums in the filter's order, lane by lane.
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
    __m128 r0 = _mm_setzero_ps(), r1 = _mm_setzero_ps(), sumAbs = _mm_setzero_ps();
    for (int n = 0; n < length; ++n) {
        r0 = _mm_add_ps(r0, _mm_mul_ps(h[n], h[n]));
        sumAbs = _mm_add_ps(sumAbs, _mm_and_ps(h[n], magnitude));
        if (n + 1 < length) r1 = _mm_add_ps(r1, _mm_mul_ps(h[n], h[n + 1]));
    }
    alignas(16) float a0[4], a1[4], s[4];
    _mm_store_ps(a0, r0);
    _mm_store_ps(a1, r1);
    _mm_store_ps(s, sumAbs);
    shape0.tilt = TiltOf(a0[0], a1[0]);
    shape1.tilt = TiltOf(a0[1], a1[1]);
    shape0.sumAbs = s[0];
    shape1.sumAbs = s[1];
#else
    PostFilterShapeOf(lpc0, config, shape0);
    PostFilterShapeOf(lpc1, config, shape1);
#endif
}

void PostFilterSubframe(PostFilterState &state, const float *speech, int lag, const float *lpc, int length,
                        const PostFilterConfig &config, float *out) {
    PostFilterShape shape;
    PostFilterShapeOf(lpc, config, shape);
    PostFilterSubframe(state, speech, lag, shape, length, config, out);
}

void PostFilterSubframe(PostFilterState &state, const float *speech, int lag, const PostFilterShape &shape, int length,
                        const PostFilterConfig &config, float *out) {
    const float *num = shape.num;
    const float *den = shape.den;
    const float tilt = shape.tilt;
    const float sumAbs = shape.sumAbs;

    float s[kPostOrder + kPostMaxSubframe];
    std::memcpy(s, state.speech, sizeof state.speech);
    std::memcpy(s + kPostOrder, speech, sizeof(float) * length);
    const float *sub = s + kPostOrder;
    if (state.residualEnd + length > kPostResidualBuffer) {
        std::memmove(state.residual, state.residual + state.residualEnd - kPostResidualHistory,
                     sizeof(float) * kPostResidualHistory);
        state.residualEnd = kPostResidualHistory;
    }
    float *residual = state.residual + state.residualEnd;
    Residual(sub, num, residual, length);

    float pitched[kPostMaxSubframe];
    PitchPostFilterOn(state.simd, residual, lag, length, config, pitched);
    state.residualEnd += length;

    if (sumAbs > 1.0f) {
        for (int n = 0; n < length; ++n) pitched[n] /= sumAbs;
    }

    float y[kPostOrder + kPostMaxSubframe];
    std::memcpy(y, state.formant, sizeof state.formant);
    float *formant = y + kPostOrder;
    AllPoleFilter(pitched, den, kPostOrder, formant, length);

    const float mu = tilt <= 0.0f ? 0.9f * tilt : 0.2f * tilt;
    const float scale = 1.0f / (1.0f - std::fabs(mu));
    for (int n = 0; n < length; ++n) out[n] = (formant[n] + mu * formant[n - 1]) * scale;

    // Automatic gain control against the unfiltered synthesis: silence lets
    // the gain decay, an output silenced by the filters resets it.
    float sumS = 0.0f;
    float sumZ = 0.0f;
    for (int n = 0; n < length; ++n) {
        sumS += std::fabs(sub[n]);
        sumZ += std::fabs(out[n]);
    }
    float g = 0.0f;
    bool scaleSubframe = true;
    float gain = state.gain;
    if (sumS > 0.0f && sumZ > 0.0f) {
        g = 0.0125f * sumS / sumZ;
    } else if (sumS > 0.0f) {
        gain = 0.0f;
        scaleSubframe = false;
    }
    if (scaleSubframe) {
        for (int n = 0; n < length; ++n) {
            gain = 0.9875f * gain + g;
            out[n] *= gain;
        }
    }
    state.gain = gain;

    std::memcpy(state.formant, y + length, sizeof state.formant);
    std::memcpy(state.speech, s + length, sizeof state.speech);
}

} // namespace vntr::dsp
