#include "searches.hpp"

#include "excitation.hpp"
#include "kernels.hpp"
#include "tables.hpp"

#include <vntr/dsp/vector.hpp>

#include <algorithm>

#if defined(VNTR_SIMD_SSE2)
#include <emmintrin.h>
#endif

namespace vntr::vt48 {

namespace {
// The starting best of the fixed-codebook search (any negative value serves).
constexpr float kBelowAnyScore = -6.9f;
} // namespace

int QuantisePitchGain(float gain) {
    if (gain <= kPitchGainThreshold[0]) return 0;
    int index = 0;
    for (float threshold : kPitchGainThreshold) index += gain >= threshold ? 1 : 0;
    return index;
}

int QuantiseCodebookGain(float gain) {
    const float magnitude = gain < 0.0f ? -gain : gain;
    // The last level whose threshold is reached: the thresholds rise, so the
    // ones reached are the first ones, and their count is that level.
    int level = 0;
    for (int k = 1; k < 16; ++k) level += magnitude >= kCodebookGainThreshold[k] ? 1 : 0;
    return gain < 0.0f ? level + 16 : level;
}

namespace {

// y[n] += a x[n] for buffers that do not overlap (so that it vectorises).
inline void AddScaled(float a, const float *__restrict x, float *__restrict y, int length) {
    for (int n = 0; n < length; ++n) y[n] += a * x[n];
}

} // namespace

void FilterByResponse(const float *h, const float *x, int length, float *y, Simd simd) {
    // Each output adds its terms in the order of i from 0, as the column form
    // (FilterSparseByResponse) does; h is read as zero before its start and
    // after its end, and a zero term leaves a sum from +0 as it is.
    constexpr int kPad = 8;
    float padded[kPad + kMaxSubframeLength + kPad];
    for (int k = 0; k < kPad; ++k) padded[k] = 0.0f;
    std::copy(h, h + length, padded + kPad);
    for (int k = 0; k < kPad; ++k) padded[kPad + length + k] = 0.0f;
    FilterPadded(padded + kPad, x, length, y, simd);
}

void FilterSparseByResponse(const float *h, const float *x, int length, float *y) {
    // Column by column, only where x is not zero: y[i..] += x[i] h[0..].
    for (int n = 0; n < length; ++n) y[n] = 0.0f;
    for (int i = 0; i < length; ++i) {
        if (x[i] != 0.0f) AddScaled(x[i], h, y + i, length - i);
    }
}

LagRange FirstSubframeLags(int openLoopLag) {
    const int lo = std::max(openLoopLag - 5, kMinCodedLag);
    const int hi = std::min(openLoopLag + 5, kMaxLag);
    // An open-loop lag below 15 (a third of a short lag) leaves only the shortest lag.
    return {lo, std::max(hi, lo)};
}

LagRange LaterSubframeLags(int previousLag) {
    return {std::max(previousLag - kLagDeltaOffset, kMinCodedLag),
            std::min(previousLag + 15 - kLagDeltaOffset, kMaxLag)};
}

AdaptiveResult SearchAdaptive(const float *history, const float *target, const float *h, int length, LagRange range,
                              float *filtered, Simd simd) {
    // z is h * w, w the history from 148 - lag on, cut after `lag` samples (so
    // for a short lag one period).  One lag longer, w moves on by one sample and
    // a new first sample enters: z moves one place down its buffer and gains h
    // times that sample.  A short lag's vector repeats w every lag samples, so
    // its filtered form is z plus z delayed by the lag, twice the lag, ...
    constexpr int kSlide = kMaxLag - kMinCodedLag + 1;
    float buffer[kSlide + kMaxSubframeLength];
    float *z = buffer + kSlide;
    {
        float w[kMaxSubframeLength] = {};
        const int span = range.lo < length ? range.lo : length;
        for (int n = 0; n < span; ++n) w[n] = history[kHistory - range.lo + n];
        FilterByResponse(h, w, length, z, simd);
    }
    AdaptiveResult best{range.lo, 0.0f, 0};
    float bestScore = -1.0f;
    float repeated[kMaxSubframeLength];
    for (int lag = range.lo; lag <= range.hi; ++lag) {
        if (lag > range.lo) {
            --z;
            z[0] = 0.0f;
            AddScaled(history[kHistory - lag], h, z, length);
        }
        const float *y = z;
        if (lag < length) {
            std::copy(z, z + length, repeated);
            for (int shift = lag; shift < length; shift += lag) AddScaled(1.0f, z, repeated + shift, length - shift);
            y = repeated;
        }
        // c = y.target and the energy y.y in one pass.
        const float *const left[2] = {target, y};
        const float *const right[2] = {y, y};
        float products[2];
        PairDots(left, right, 2, length, products, simd);
        const float c = products[0];
        const float energy = products[1];
        const float score = energy > 0.0f ? c * c / energy : 0.0f;
        if (score > bestScore) {
            bestScore = score;
            best.lag = lag;
            best.gain = energy > 0.0f ? c / energy : 0.0f;
            if (filtered != nullptr) std::copy(y, y + length, filtered);
        }
    }
    best.gainIndex = QuantisePitchGain(best.gain);
    return best;
}

namespace {

struct PulseCodebook {
    FixedKind kind;
    int count;
    int first;
    int spacing;
    int base;
};
constexpr PulseCodebook kPulseCodebooks[2] = {
    {FixedKind::EightPulses, kEightPulses, kEightPulseFirst, kEightPulseSpacing, kEightPulseBase},
    {FixedKind::SevenPulses, kSevenPulses, kSevenPulseFirst, kSevenPulseSpacing, kSevenPulseBase},
};

struct Winner {
    FixedKind kind = FixedKind::PulseTrain;
    int position = 0;
    float c = 0.0f;
    float energy = 0.0f;
    int8_t signs[kEightPulses] = {};
};

float Score(float c, float energy) {
    return energy > 0.0f ? c * c / energy : 0.0f;
}

// phi[i][j] = sum_n h[n - p_i] h[n - p_j] over the subframe, p_i = first + i spacing.
// Along a diagonal (fixed j - i) each step drops `spacing` products from the end.
// The diagonals are independent, so they step down together, each with its
// own sum in its own order (a long chain of subtractions per diagonal would
// otherwise wait on itself).
void PulseCorrelations(const float *h, int length, const PulseCodebook &book, float phi[kEightPulses][kEightPulses]) {
    float value[kEightPulses];
    for (int diagonal = 0; diagonal < book.count; ++diagonal) {
        const int span = length - (book.first + diagonal * book.spacing);
        value[diagonal] = dsp::Dot(h, h + diagonal * book.spacing, span);
        phi[0][diagonal] = phi[diagonal][0] = value[diagonal];
    }
    for (int i = 1; i < book.count; ++i) {
        // Step i drops the products at m in [span - spacing, span) of each diagonal.
        for (int diagonal = 0; i + diagonal < book.count; ++diagonal) {
            const int shift = diagonal * book.spacing;
            const int span = length - (book.first + diagonal * book.spacing) - (i - 1) * book.spacing;
            float v = value[diagonal];
            for (int m = span - book.spacing; m < span; ++m) v -= h[m] * h[m + shift];
            value[diagonal] = v;
            phi[i][i + diagonal] = phi[i + diagonal][i] = v;
        }
    }
}

} // namespace

FixedResult SearchFixed(const float *t2, const float *h, int length, int lag, bool quiet, Simd simd) {
    // d[n] = sum_m h[m] t2[n + m], the target filtered backwards, several n at a time.
    float d[kMaxSubframeLength];
    CrossCorrelations(h, t2, length, length, d, simd);

    // What the pulse codebooks start from does not depend on the search: both
    // are set up first, so that the long chains of additions of their starting
    // energies run side by side.
    struct PulseStart {
        float dp[kEightPulses];
        float phi[kEightPulses][kEightPulses];
        int8_t signs[kEightPulses] = {};
        float c = 0.0f;
        float energy = 0.0f;
    };
    PulseStart start[2];
    for (int b = 0; b < 2; ++b) {
        const PulseCodebook &book = kPulseCodebooks[b];
        PulseStart &from = start[b];
        for (int j = 0; j < book.count; ++j) from.dp[j] = d[book.first + j * book.spacing];
        PulseCorrelations(h, length, book, from.phi);
        for (int j = 0; j < book.count; ++j) {
            from.signs[j] = from.dp[j] > 0.0f ? 1 : -1;
            from.c += from.signs[j] * from.dp[j];
        }
    }
    static_assert(kPulseCodebooks[0].count == kEightPulses && kPulseCodebooks[1].count == kSevenPulses);
    {
        // Each energy sums its terms in the order of i, then j.
        float e0 = 0.0f, e1 = 0.0f;
        for (int i = 0; i < kEightPulses; ++i) {
            for (int j = 0; j < kEightPulses; ++j) {
                e0 += static_cast<float>(start[0].signs[i] * start[0].signs[j]) * start[0].phi[i][j];
                if (i < kSevenPulses && j < kSevenPulses) {
                    e1 += static_cast<float>(start[1].signs[i] * start[1].signs[j]) * start[1].phi[i][j];
                }
            }
        }
        start[0].energy = e0;
        start[1].energy = e1;
    }

    // Below any score (c^2 / E is never negative), so that the first
    // candidate tried always becomes the winner.
    float best = kBelowAnyScore;
    Winner winner;

    if (!quiet) {
        // The train's filtered response z[n] = h[n] + h[n - lag] + ..., and its
        // energy over each possible tail; then every position's correlation
        // c[p] = d[p] + d[p + lag] + ... and score.  The positions are
        // independent (each its own sum in its own order), so they are computed
        // side by side over zero-padded copies (a sum from +0 is left as it is
        // by a zero term), and the best is picked in order of position.
        // Copy k of the pulse sits k lag <= length - 1 samples on.
        constexpr int kPad = kMaxSubframeLength;
        const int repeats = (length - 1) / lag + 1;
        float hz[kPad + kMaxSubframeLength] = {};
        std::copy(h, h + length, hz + kPad);
        float z[kMaxSubframeLength];
        for (int n = 0; n < length; ++n) z[n] = 0.0f;
        for (int k = 0; k < repeats; ++k) {
            const float *from = hz + kPad - k * lag;
            for (int n = 0; n < length; ++n) z[n] += from[n];
        }
        float tailEnergy[kMaxSubframeLength + 1];
        tailEnergy[0] = 0.0f;
        for (int n = 0; n < length; ++n) tailEnergy[n + 1] = tailEnergy[n] + z[n] * z[n];
        float dz[kMaxSubframeLength + kPad] = {};
        std::copy(d, d + length, dz);
        float c[kMaxSubframeLength], energy[kMaxSubframeLength];
        for (int p = 0; p < length; ++p) c[p] = 0.0f;
        for (int k = 0; k < repeats; ++k) {
            const float *from = dz + k * lag;
            for (int p = 0; p < length; ++p) c[p] += from[p];
        }
        for (int p = 0; p < length; ++p) energy[p] = tailEnergy[length - p];
        // The position a scan in order of p keeping each strictly better score ends on.
        const int p = FirstBestScore<kMaxSubframeLength>(c, energy, length, best, &best);
        if (p >= 0) {
            winner.kind = FixedKind::PulseTrain;
            winner.position = p;
            winner.c = c[p];
            winner.energy = energy[p];
        }
    }

    for (int b = 0; b < 2; ++b) {
        const PulseCodebook &book = kPulseCodebooks[b];
        const float *dp = start[b].dp;
        const float(*phi)[kEightPulses] = start[b].phi;
        int8_t *signs = start[b].signs;
        float c = start[b].c;
        float energy = start[b].energy;
        auto take = [&] {
            winner.kind = book.kind;
            winner.c = c;
            winner.energy = energy;
            std::copy(signs, signs + kEightPulses, winner.signs); // entries past the count stay 0
        };
        float score = Score(c, energy);
        if (score > best) {
            best = score;
            take();
        }
        for (int j = 0; j < book.count; ++j) {
            const float old = signs[j];
            float cross = 0.0f;
            for (int i = 0; i < book.count; ++i) {
                if (i != j) cross += static_cast<float>(signs[i]) * phi[i][j];
            }
            const float flippedC = c - 2.0f * old * dp[j];
            const float flippedEnergy = energy - 4.0f * old * cross;
            score = Score(flippedC, flippedEnergy);
            if (score > best) {
                best = score;
                signs[j] = static_cast<int8_t>(-signs[j]);
                c = flippedC;
                energy = flippedEnergy;
                take();
            }
        }
    }

    FixedResult result{};
    result.kind = winner.kind;
    result.score = best;
    float gain = winner.energy > 0.0f ? winner.c / winner.energy : 0.0f;
    if (winner.kind == FixedKind::PulseTrain) {
        result.code = winner.position;
        gain /= kPulseTrainScale;
    } else {
        const PulseCodebook &book = kPulseCodebooks[winner.kind == FixedKind::EightPulses ? 0 : 1];
        // The first pulse is always positive: a pattern that starts negative is sent negated.
        if (winner.signs[0] < 0) {
            for (int j = 0; j < book.count; ++j) winner.signs[j] = static_cast<int8_t>(-winner.signs[j]);
            gain = -gain;
        }
        int code = book.base;
        for (int j = 1; j < book.count; ++j) {
            if (winner.signs[j] > 0) code += 1 << (book.count - 1 - j);
        }
        result.code = code;
    }
    if (gain == 0.0f) {
        result.code = kSevenPulseBase + 1; // +, -, -, -, -, -, +
        result.kind = FixedKind::SevenPulses;
        gain = 0.0f;
    }
    result.gain = gain;
    result.gainIndex = QuantiseCodebookGain(gain);
    return result;
}

} // namespace vntr::vt48

namespace vntr::vt48 {

void Sharpen(float beta, int lag, int length, float *y) {
    for (int n = lag; n < length; ++n) y[n] += beta * y[n - lag];
}

float SharpeningFactor(float gp) {
    return 0.35f * (gp > 1.0f ? 1.0f : (gp < -1.0f ? -1.0f : gp));
}

namespace {

// The quantised gain nearest in weighted error to c/E: both levels around it are tried.
struct QuantisedGain {
    int index;
    float value;
    float error; // -2 g c + g^2 E
};

// Midpoints between neighbouring codebook gain magnitudes.
constexpr float kMagnitudeMidpoint[15] = {2.0f,   8.0f,   24.0f,  49.5f,  81.0f,  117.0f, 157.0f, 201.0f,
                                          251.0f, 309.0f, 379.0f, 469.0f, 590.0f, 765.0f, 1100.0f};

// The level whose gain leaves the least error -2 g c + g^2 E: the error is a
// parabola around c/E, so it is the magnitude nearest to it, with the sign of c.
QuantisedGain BestQuantisedGain(float c, float energy, float scale) {
    const float ideal = energy > 0.0f ? c / (energy * scale) : 0.0f;
    const float magnitude = ideal < 0.0f ? -ideal : ideal;
    int level = 0;
    while (level < 15 && magnitude >= kMagnitudeMidpoint[level]) ++level;
    const int index = ideal < 0.0f ? level + 16 : level;
    const float value = CodebookGainValue(index);
    const float g = value * scale;
    return {index, value, g * (g * energy - 2.0f * c)};
}

} // namespace

FixedResult SearchFixedFull(const float *t2, const float *h, int length, int lag, bool quiet) {
    float d[kMaxSubframeLength];
    for (int n = 0; n < length; ++n) d[n] = dsp::Dot(t2 + n, h, length - n);

    FixedResult best{kSevenPulseBase + 1, 0.0f, 0, FixedKind::SevenPulses, 0.0f};
    float bestError = 3.4e38f;

    if (!quiet) {
        float z[kMaxSubframeLength];
        for (int n = 0; n < length; ++n) {
            float acc = 0.0f;
            for (int at = n; at >= 0; at -= lag) acc += h[at];
            z[n] = acc;
        }
        float tailEnergy[kMaxSubframeLength + 1];
        tailEnergy[0] = 0.0f;
        for (int n = 0; n < length; ++n) tailEnergy[n + 1] = tailEnergy[n] + z[n] * z[n];
        for (int p = 0; p < length; ++p) {
            float c = 0.0f;
            for (int n = p; n < length; n += lag) c += d[n];
            const float energy = tailEnergy[length - p];
            // No quantised gain does better than the ideal one: -c^2/E.
            if (energy <= 0.0f || -c * c / energy >= bestError) continue;
            const QuantisedGain g = BestQuantisedGain(c, energy, kPulseTrainScale);
            if (g.error < bestError) {
                bestError = g.error;
                best = {p, g.value, g.index, FixedKind::PulseTrain, Score(c, energy)};
            }
        }
    }

    for (const PulseCodebook &book : kPulseCodebooks) {
        const int count = book.count;
        float dp[kEightPulses];
        float phi[kEightPulses][kEightPulses] = {};
        for (int j = 0; j < count; ++j) dp[j] = d[book.first + j * book.spacing];
        PulseCorrelations(h, length, book, phi);
        // All signs positive to start; then a Gray-code walk over pulses 1..K-1
        // flips one sign per step (the first pulse stays positive, the gain's
        // sign covers the rest).  w[i] = sum_j s_j phi[i][j] keeps E = s.w.
        int8_t s[kEightPulses];
        float w[kEightPulses] = {};
        float c = 0.0f;
        for (int j = 0; j < count; ++j) {
            s[j] = 1;
            c += dp[j];
        }
        float energy = 0.0f;
        for (int i = 0; i < count; ++i) {
            w[i] = 0.0f;
            for (int j = 0; j < count; ++j) w[i] += phi[i][j];
            energy += w[i];
        }
        const int patterns = 1 << (count - 1);
        for (int step = 0; step < patterns; ++step) {
            if (step > 0) {
                // Flip the pulse of the lowest set bit of step: bit b is pulse K-1-b.
                const int bit = __builtin_ctz(static_cast<unsigned>(step));
                const int j = count - 1 - bit;
                const float old = s[j];
                c -= 2.0f * old * dp[j];
                energy -= 4.0f * old * (w[j] - old * phi[j][j]);
                s[j] = static_cast<int8_t>(-s[j]);
                // phi is symmetric: row j is column j, read contiguously (unused entries are 0).
                const float change = 2.0f * old;
                for (int i = 0; i < kEightPulses; ++i) w[i] -= change * phi[j][i];
            }
            if (energy <= 0.0f || -c * c / energy >= bestError) continue;
            const QuantisedGain g = BestQuantisedGain(c, energy, 1.0f);
            if (g.error < bestError) {
                bestError = g.error;
                int code = book.base;
                for (int j = 1; j < count; ++j) {
                    if (s[j] > 0) code += 1 << (count - 1 - j);
                }
                best = {code, g.value, g.index, book.kind, Score(c, energy)};
            }
        }
    }
    return best;
}

namespace {

constexpr int kCopies = 3;
constexpr int kVectors = 1 + 3 * kCopies;

// The search over the gain levels once the products are known, for a fixed
// number of shifted copies (so that every form below has fixed bounds and its
// independent sums can run side by side).
template <int Copies>
GainChoice SearchGainLevels(const float (&gram)[kVectors][kVectors], bool sharpened, int pitchIndex, int reach) {
    GainChoice best{pitchIndex, 0};
    float bestError = 3.4e38f;
    const int first = std::max(pitchIndex - reach, 0);
    const int last = std::min(pitchIndex + reach, 15);
    for (int i = first; i <= last; ++i) {
        const float gp = PitchGainValue(i);
        const float beta = sharpened ? SharpeningFactor(gp) : 0.0f;
        // Coefficients of A = t - beta S(hp), B = S(yv), C = S(yc) on the vectors.
        float wa[kVectors] = {}, wb[kVectors] = {}, wc[kVectors] = {};
        wa[0] = 1.0f;
        float power = 1.0f;
        for (int k = 0; k < Copies; ++k) {
            wa[1 + k] = -beta * power;
            wb[1 + kCopies + k] = power;
            wc[1 + 2 * kCopies + k] = power;
            power *= beta;
        }
        // Each of A, B, C lives on its own block of vectors: t and hp_k, yv_k, yc_k.
        auto form = [&](const float *u, int uFrom, int uTo, const float *w, int wFrom, int wTo) {
            float sum = 0.0f;
            for (int x = uFrom; x < uTo; ++x) {
                float row = 0.0f;
                for (int y = wFrom; y < wTo; ++y) row += w[y] * gram[x][y];
                sum += u[x] * row;
            }
            return sum;
        };
        constexpr int a0 = 0, a1 = 1 + Copies, b0 = 1 + kCopies, b1 = b0 + Copies, c0 = 1 + 2 * kCopies,
                      c1 = c0 + Copies;
        const float aa = form(wa, a0, a1, wa, a0, a1), ab = form(wa, a0, a1, wb, b0, b1);
        const float ac = form(wa, a0, a1, wc, c0, c1), bb = form(wb, b0, b1, wb, b0, b1);
        const float bc = form(wb, b0, b1, wc, c0, c1), cc = form(wc, c0, c1, wc, c0, c1);
        // With gp fixed the best gc is (ac - gp bc)/cc; its two neighbouring levels are tried.
        const float ideal = cc > 0.0f ? (ac - gp * bc) / cc : 0.0f;
        const int level = QuantiseCodebookGain(ideal) & 15;
        const int sign = ideal < 0.0f ? 16 : 0;
        // The levels below, at and above, held within 0..15: a level met twice
        // at an end cannot beat itself, so the choice is that of trying each once.
        const int tried[3] = {level > 0 ? level - 1 : 0, level, level < 15 ? level + 1 : 15};
        for (int l : tried) {
            const int j = l + sign;
            const float gc = CodebookGainValue(j);
            const float error =
                aa - 2.0f * gp * ab - 2.0f * gc * ac + gp * gp * bb + 2.0f * gp * gc * bc + gc * gc * cc;
            const bool better = error < bestError;
            bestError = better ? error : bestError;
            best = better ? GainChoice{i, j} : best;
        }
    }
    return best;
}

} // namespace

GainChoice SearchGains(const float *t, const float *yv, const float *yc, const float *hp, int lag, int length,
                       bool sharpened, int pitchIndex, int reach, Simd simd) {
    // With lags of at least 20 in subframes of at most 54 samples the
    // sharpening S(y) = y + beta y[n - lag] + beta^2 y[n - 2 lag] has three
    // terms, so every product the error needs is a polynomial in beta over the
    // products of the shifted copies of t, hp, yv and yc, computed once.
    const int copies = sharpened ? std::min(kCopies, (length - 1) / lag + 1) : 1;
    // Copy 0 is the vector itself; the later copies are delayed into buffers.
    float shifted[3][kCopies][kMaxSubframeLength];
    const float *source[3] = {hp, yv, yc};
    for (int v = 0; v < 3; ++v) {
        for (int k = 1; k < copies; ++k) {
            const int delay = std::min(k * lag, length);
            for (int n = 0; n < delay; ++n) shifted[v][k][n] = 0.0f;
            for (int n = delay; n < length; ++n) shifted[v][k][n] = source[v][n - delay];
        }
    }
    // gram[x][y] over the vectors t, hp_k, yv_k, yc_k (copies past `copies` stay 0).
    const float *vector[kVectors];
    bool used[kVectors];
    vector[0] = t;
    used[0] = true;
    for (int v = 0; v < 3; ++v) {
        for (int k = 0; k < kCopies; ++k) {
            vector[1 + v * kCopies + k] = k == 0 ? source[v] : shifted[v][k];
            used[1 + v * kCopies + k] = k < copies;
        }
    }
    // The products needed, listed first and then summed several at a time.
    constexpr int kMostPairs = kVectors * (kVectors + 1) / 2;
    const float *left[kMostPairs], *right[kMostPairs];
    int row[kMostPairs], column[kMostPairs];
    float gram[kVectors][kVectors] = {};
    int pairs = 0;
    for (int x = 0; x < kVectors; ++x) {
        if (!used[x]) continue;
        for (int y = x; y < kVectors; ++y) {
            if (!used[y]) continue;
            left[pairs] = vector[x];
            right[pairs] = vector[y];
            row[pairs] = x;
            column[pairs] = y;
            ++pairs;
        }
    }
    float product[kMostPairs];
    PairDots(left, right, pairs, length, product, simd);
    for (int p = 0; p < pairs; ++p) gram[row[p]][column[p]] = gram[column[p]][row[p]] = product[p];
    switch (copies) {
    case 3:
        return SearchGainLevels<3>(gram, sharpened, pitchIndex, reach);
    case 2:
        return SearchGainLevels<2>(gram, sharpened, pitchIndex, reach);
    default:
        return SearchGainLevels<1>(gram, sharpened, pitchIndex, reach);
    }
}

} // namespace vntr::vt48
