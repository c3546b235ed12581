#include "searches.hpp"

#include "excitation.hpp"
#include "tables.hpp"

#include <vntr/dsp/vector.hpp>

#include <algorithm>

namespace vntr::vt48 {

int QuantisePitchGain(float gain) {
    if (gain <= kPitchGainThreshold[0]) return 0;
    int index = 0;
    for (float threshold : kPitchGainThreshold) index += gain >= threshold ? 1 : 0;
    return index;
}

int QuantiseCodebookGain(float gain) {
    const float magnitude = gain < 0.0f ? -gain : gain;
    int level = 0;
    for (int k = 1; k < 16; ++k) {
        if (magnitude >= kCodebookGainThreshold[k]) level = k;
    }
    return gain < 0.0f ? level + 16 : level;
}

void FilterByResponse(const float *h, const float *x, int length, float *y) {
    for (int n = 0; n < length; ++n) {
        float acc = 0.0f;
        for (int i = 0; i <= n; ++i) acc += h[i] * x[n - i];
        y[n] = acc;
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

AdaptiveResult SearchAdaptive(const float *history, const float *target, const float *h, int length, LagRange range) {
    float y[kMaxSubframeLength];
    AdaptiveResult best{range.lo, 0.0f, 0};
    float bestScore = -1.0f;
    for (int lag = range.lo; lag <= range.hi; ++lag) {
        if (lag > range.lo && lag - 1 >= length) {
            // One lag longer: the vector moves on by one sample and a new first sample enters.
            const float first = history[kHistory - lag];
            for (int n = length - 1; n >= 1; --n) y[n] = y[n - 1] + h[n] * first;
            y[0] = h[0] * first;
        } else {
            float v[kMaxSubframeLength];
            AdaptiveVector(history, lag, length, v);
            FilterByResponse(h, v, length, y);
        }
        const float c = dsp::Dot(target, y, length);
        const float energy = dsp::Dot(y, y, length);
        const float score = energy > 0.0f ? c * c / energy : 0.0f;
        if (score > bestScore) {
            bestScore = score;
            best.lag = lag;
            best.gain = energy > 0.0f ? c / energy : 0.0f;
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

float Score(float c, float energy) { return energy > 0.0f ? c * c / energy : 0.0f; }

} // namespace

FixedResult SearchFixed(const float *t2, const float *h, int length, int lag, bool quiet) {
    float d[kMaxSubframeLength];
    for (int n = 0; n < length; ++n) d[n] = dsp::Dot(t2 + n, h, length - n);

    float best = -6.9f;
    Winner winner;

    if (!quiet) {
        // The train's filtered response, and its energy over each possible tail.
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
            const float score = Score(c, energy);
            if (score > best) {
                best = score;
                winner.kind = FixedKind::PulseTrain;
                winner.position = p;
                winner.c = c;
                winner.energy = energy;
            }
        }
    }

    for (const PulseCodebook &book : kPulseCodebooks) {
        int position[kEightPulses];
        float dp[kEightPulses];
        float phi[kEightPulses][kEightPulses];
        for (int j = 0; j < book.count; ++j) {
            position[j] = book.first + j * book.spacing;
            dp[j] = d[position[j]];
        }
        for (int i = 0; i < book.count; ++i) {
            for (int j = i; j < book.count; ++j) {
                phi[i][j] = phi[j][i] = dsp::Dot(h, h + (position[j] - position[i]), length - position[j]);
            }
        }
        int8_t signs[kEightPulses];
        float c = 0.0f;
        for (int j = 0; j < book.count; ++j) {
            signs[j] = dp[j] > 0.0f ? 1 : -1;
            c += signs[j] * dp[j];
        }
        float energy = 0.0f;
        for (int i = 0; i < book.count; ++i) {
            for (int j = 0; j < book.count; ++j) energy += static_cast<float>(signs[i] * signs[j]) * phi[i][j];
        }
        auto take = [&] {
            winner.kind = book.kind;
            winner.c = c;
            winner.energy = energy;
            std::copy(signs, signs + book.count, winner.signs);
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

float SharpeningFactor(float gp) { return 0.35f * (gp > 1.0f ? 1.0f : (gp < -1.0f ? -1.0f : gp)); }

namespace {

// The quantised gain nearest in weighted error to c/E: both levels around it are tried.
struct QuantisedGain {
    int index;
    float value;
    float error; // -2 g c + g^2 E
};

QuantisedGain BestQuantisedGain(float c, float energy, float scale) {
    // Gains enter as g * scale (4 for a pulse train); the levels are +-magnitude.
    const float ideal = energy > 0.0f ? c / (energy * scale) : 0.0f;
    const int level = QuantiseCodebookGain(ideal) & 15;
    QuantisedGain best{0, 0.0f, 3.4e38f};
    for (int l = level > 0 ? level - 1 : 0; l <= (level < 15 ? level + 1 : 15); ++l) {
        for (int sign = 0; sign < 2; ++sign) {
            const int index = l + 16 * sign;
            const float g = CodebookGainValue(index) * scale;
            const float error = g * (g * energy - 2.0f * c);
            if (error < best.error) best = {index, CodebookGainValue(index), error};
        }
    }
    return best;
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
        float phi[kEightPulses][kEightPulses];
        for (int j = 0; j < count; ++j) dp[j] = d[book.first + j * book.spacing];
        for (int i = 0; i < count; ++i) {
            for (int j = i; j < count; ++j) {
                const int pi = book.first + i * book.spacing;
                const int pj = book.first + j * book.spacing;
                phi[i][j] = phi[j][i] = dsp::Dot(h, h + (pj - pi), length - pj);
            }
        }
        // All signs positive to start; then a Gray-code walk over pulses 1..K-1
        // flips one sign per step (the first pulse stays positive, the gain's
        // sign covers the rest).  w[i] = sum_j s_j phi[i][j] keeps E = s.w.
        int8_t s[kEightPulses];
        float w[kEightPulses];
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
                for (int i = 0; i < count; ++i) w[i] -= 2.0f * old * phi[i][j];
            }
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

GainChoice SearchGains(const float *t, const float *yv, const float *yc, const float *hp, int lag, int length,
                       bool sharpened) {
    GainChoice best{0, 0};
    float bestError = 3.4e38f;
    float a[kMaxSubframeLength], b[kMaxSubframeLength], c[kMaxSubframeLength];
    bool prepared = false;
    float previousBeta = 0.0f;
    float aa = 0, ab = 0, ac = 0, bb = 0, bc = 0, cc = 0;
    for (int i = 0; i < 16; ++i) {
        const float gp = PitchGainValue(i);
        const float beta = sharpened ? SharpeningFactor(gp) : 0.0f;
        if (!prepared || beta != previousBeta) {
            for (int n = 0; n < length; ++n) {
                a[n] = beta * hp[n];
                b[n] = yv[n];
                c[n] = yc[n];
            }
            if (beta != 0.0f) {
                Sharpen(beta, lag, length, a);
                Sharpen(beta, lag, length, b);
                Sharpen(beta, lag, length, c);
            }
            for (int n = 0; n < length; ++n) a[n] = t[n] - a[n];
            aa = dsp::Dot(a, a, length);
            ab = dsp::Dot(a, b, length);
            ac = dsp::Dot(a, c, length);
            bb = dsp::Dot(b, b, length);
            bc = dsp::Dot(b, c, length);
            cc = dsp::Dot(c, c, length);
            prepared = true;
            previousBeta = beta;
        }
        // With gp fixed the best gc is (ac - gp bc)/cc; its two neighbouring levels are tried.
        const float ideal = cc > 0.0f ? (ac - gp * bc) / cc : 0.0f;
        const int level = QuantiseCodebookGain(ideal) & 15;
        const int sign = ideal < 0.0f ? 16 : 0;
        for (int l = level > 0 ? level - 1 : 0; l <= (level < 15 ? level + 1 : 15); ++l) {
            const int j = l + sign;
            const float gc = CodebookGainValue(j);
            const float error = aa - 2.0f * gp * ab - 2.0f * gc * ac + gp * gp * bb + 2.0f * gp * gc * bc + gc * gc * cc;
            if (error < bestError) {
                bestError = error;
                best = {i, j};
            }
        }
    }
    return best;
}

} // namespace vntr::vt48
