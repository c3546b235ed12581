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
