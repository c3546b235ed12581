#include "reference_decoder.hpp"

#include "tables.hpp" // the trained tables only: LSP codebooks, predictor taps, interpolation filters

#include <cmath>
#include <cstring>

namespace vntr::vt4864v6::reference {
namespace {

// Widths of the 20 parameter words, 6.4 and 4.8 kbit/s.
constexpr int kWidths64[20] = {8, 8, 8, 0, 7, 7, 7, 7, 7, 15, 12, 7, 15, 12, 7, 15, 12, 7, 15, 12};
constexpr int kWidths48[19] = {8, 8, 8, 0, 7, 7, 5, 0, 7, 14, 12, 0, 7, 14, 12, 0, 7, 14, 12};

constexpr float kMean[10] = {0.270948f, 0.419249f, 0.659379f, 0.974895f, 1.265257f,
                             1.545740f, 1.870577f, 2.153271f, 2.494007f, 2.762369f};
constexpr float kPrediction[10] = {0.68f, 0.6f, 0.625f, 0.675f, 0.75f, 0.7f, 0.7f, 0.65f, 0.625f, 0.7f};
constexpr int kGains[32] = {2,   4,   7,   10,  14,  19,  25,   37,   50,   75,   110,  135,  160,  180,  220,  270,
                            330, 400, 480, 580, 700, 850, 1000, 1200, 1400, 1700, 2200, 3000, 4200, 6500, 9500, 13500};
// Steps of pulses 2..7, by the 2-bit field.
constexpr int kSteps48[6][4] = {{5, 25, 45, 65}, {5, 25, 45, 65}, {5, 25, 45, 65},
                                {4, 24, 44, 64}, {1, 23, 46, 68}, {1, 22, 51, 72}};
constexpr int kSteps64[6][4] = {{3, 18, 33, 48}, {3, 18, 33, 48}, {3, 18, 33, 48},
                                {3, 18, 33, 48}, {1, 18, 34, 52}, {1, 21, 38, 58}};

unsigned ReadBits(const uint8_t *bytes, int &at, int width) {
    unsigned value = 0;
    for (int b = 0; b < width; ++b, ++at) value |= ((bytes[at / 8] >> (at % 8)) & 1u) << b;
    return value;
}

int DifferentialLag(int d, int reference) {
    const int word = reference - 18;
    if (word < 8) return d + 18;
    if (word > 120) return d + 130;
    return d + word + 10;
}

} // namespace

void OrderAndSpace(float *w) {
    for (int pass = 0; pass < 2; ++pass) {
        bool swapped = false;
        for (int i = 0; i < 9; ++i) {
            if (w[i] > w[i + 1]) {
                const float t = w[i];
                w[i] = w[i + 1];
                w[i + 1] = t;
                swapped = true;
            }
        }
        if (!swapped) break;
    }
    for (int i = 1; i < 10; ++i) {
        float t, factor, offset;
        if (i <= 2) {
            t = 0.06f, factor = 8.333334f, offset = 0.03f;
        } else if (i <= 5) {
            t = 0.08f, factor = 6.25f, offset = 0.04f;
        } else {
            t = 0.1f, factor = 5.0f, offset = 0.05f;
        }
        const float d = w[i] - w[i - 1];
        if (d < t) w[i] = w[i - 1] + offset + d * d * factor;
    }
}

namespace {

// A(z) = (P(z)(1 + 1/z) + Q(z)(1 - 1/z)) / 2 with P, Q products of
// second-order sections over the odd- and even-numbered LSPs.  This one step
// runs in double precision: in single precision the five products lose about
// 4e-6 of each coefficient, which a sharp formant of loud speech turns into
// several steps of output, and far more where that tips the post-filter's
// pitch choice, so two decoders could only agree to the step if they
// multiplied in the same order.  Coefficients computed accurately and then
// rounded to single precision come out the same in any decoder.
void LspToLpc(const float *w, float *a) {
    double p[11] = {1.0};
    double q[11] = {1.0};
    for (int s = 0; s < 5; ++s) {
        const double xp = std::cos(static_cast<double>(w[2 * s]));
        const double xq = std::cos(static_cast<double>(w[2 * s + 1]));
        for (int m = 2 * s + 2; m >= 1; --m) {
            p[m] += -2.0 * xp * p[m - 1] + (m >= 2 ? p[m - 2] : 0.0);
            q[m] += -2.0 * xq * q[m - 1] + (m >= 2 ? q[m - 2] : 0.0);
        }
    }
    for (int i = 1; i <= 10; ++i) a[i - 1] = static_cast<float>(0.5 * ((p[i] + p[i - 1]) + (q[i] - q[i - 1])));
}

float Power(float x, int n) {
    float r = 1.0f;
    for (int i = 0; i < n; ++i) r *= x;
    return r;
}

} // namespace

std::array<float, 10> NextLsp(const std::array<unsigned, 3> &indices, const std::array<float, 10> &previous) {
    std::array<float, 10> w;
    int at = 0;
    for (int s = 0; s < 3; ++s) {
        const int first = s == 0 ? 0 : (s == 1 ? 3 : 6);
        const int dim = s == 2 ? 4 : 3;
        const float *c =
            kLspCodebook + 256 * first + static_cast<int>(indices[static_cast<std::size_t>(s)] % 256) * dim;
        for (int i = 0; i < dim; ++i) w[static_cast<std::size_t>(at++)] = c[i];
    }
    for (std::size_t i = 0; i < 10; ++i) w[i] = w[i] + kPrediction[i] * (previous[i] - kMean[i]) + kMean[i];
    OrderAndSpace(w.data());
    return w;
}

Decoder::Decoder() {
    for (int k = 0; k < 10; ++k) previousLsp_[k] = static_cast<float>((k + 1) * 3.14159265358979323846 / 11.0);
}

int Decoder::Decode(const uint8_t *coded, int16_t pcm[240]) {
    // Frame: rate code, then the parameter words least significant bit first.
    const bool is4800 = (coded[0] & 3) != 0;
    const int subframes = is4800 ? 3 : 4;
    const int length = is4800 ? 80 : 60;
    unsigned words[20] = {};
    int at = 2;
    for (int i = 0; i < (is4800 ? 19 : 20); ++i) words[i] = ReadBits(coded, at, is4800 ? kWidths48[i] : kWidths64[i]);

    // Lags.
    if (!is4800) {
        for (int k = 0; k < 4; ++k) lags_[k] = static_cast<int>(words[4 + k]) + 18;
    } else {
        const int a = static_cast<int>(words[4]);
        const int b = static_cast<int>(words[5]);
        const int c = static_cast<int>(words[6]);
        lags_[0] = a + 18;
        if (c & 16) {
            lags_[1] = b + 18;
            lags_[2] = DifferentialLag(c % 16, lags_[1]);
        } else {
            lags_[2] = b + 18;
            lags_[1] = DifferentialLag(c % 16, lags_[0]);
        }
    }

    // LSPs: rebuild, stabilise, interpolate, convert.
    const std::array<float, 10> current = NextLsp({words[0], words[1], words[2]}, previousLsp_);
    const float *w = current.data();
    for (int j = 0; j < subframes; ++j) {
        float mixed[10];
        if (j == subframes - 1) {
            std::memcpy(mixed, w, sizeof mixed);
        } else {
            const float f = static_cast<float>(j + 1) / static_cast<float>(subframes);
            for (int i = 0; i < 10; ++i) mixed[i] = (1.0f - f) * previousLsp_[i] + f * w[i];
        }
        LspToLpc(mixed, lpc_[j]);
    }
    previousLsp_ = current;

    // Excitation, sub-frame by sub-frame.
    float excitation[240];
    const int grid = is4800 ? 4 : 8;
    for (int k = 0; k < subframes; ++k) {
        float *e = excitation + k * length;
        const unsigned signs = words[is4800 ? 8 + 4 * k : 8 + 3 * k];
        const unsigned positions = words[is4800 ? 9 + 4 * k : 9 + 3 * k];
        const unsigned gainWord = words[is4800 ? 10 + 4 * k : 10 + 3 * k];
        const int lag = lags_[k];

        float v[84];
        v[0] = past_[145 - lag];
        v[1] = past_[146 - lag];
        for (int m = 0; m < length + 2; ++m) v[2 + m] = past_[147 - lag + m % lag];
        const double *b = kPredictorCodebook.taps[gainWord % 128];
        for (int n = 0; n < length; ++n) {
            double sum = 0.0;
            for (int j = 0; j < 5; ++j) sum += b[j] * v[n + j];
            e[n] = static_cast<float>(sum);
        }

        const float g = static_cast<float>(kGains[gainWord / 128]);
        int p = static_cast<int>(positions % static_cast<unsigned>(grid)) * length / grid;
        unsigned fields = positions >> (is4800 ? 2 : 3);
        for (int i = 1; i <= 7; ++i) {
            if (i > 1) {
                const int step = is4800 ? kSteps48[i - 2][fields & 3] : kSteps64[i - 2][fields & 3];
                fields >>= 2;
                p = (p + step) % length;
            }
            e[p] += ((signs >> (i - 1)) & 1) ? g : -g;
        }

        for (int n = 0; n < length; ++n) {
            dither_ = dither_ * 1103515245u + 12345u;
            const int r = static_cast<int>((dither_ >> 16) & 0x7FFF);
            e[n] += static_cast<float>(r - 16384) / 32768.0f * 0.3f;
        }
        std::memmove(past_, past_ + length, sizeof(float) * static_cast<std::size_t>(147 - length));
        std::memcpy(past_ + 147 - length, e, sizeof(float) * static_cast<std::size_t>(length));
    }

    Synthesise(excitation, subframes, length);
    float out[240];
    PostFilter(subframes, length, out);
    for (int n = 0; n < 240; ++n) {
        const float x = out[n];
        pcm[n] = x > 32767.0f ? int16_t{32767} : (x < -32767.0f ? int16_t{-32768} : static_cast<int16_t>(x));
    }
    return is4800 ? 18 : 24;
}

void Decoder::Synthesise(const float *excitation, int subframes, int length) {
    float y[250];
    std::memcpy(y, synthesisMemory_, sizeof synthesisMemory_);
    for (int k = 0; k < subframes; ++k) {
        for (int n = k * length; n < (k + 1) * length; ++n) {
            float sum = excitation[n];
            for (int i = 1; i <= 10; ++i) sum -= lpc_[k][i - 1] * y[10 + n - i];
            y[10 + n] = sum;
        }
    }
    std::memcpy(speech_, y + 10, sizeof speech_);
    std::memcpy(synthesisMemory_, y + 240, sizeof synthesisMemory_);
}

// The candidates' correlations and energies are summed in double: two of
// them often score within a few parts per million of each other, and sums in
// single precision taken in different orders then pick different ones.
void Decoder::PitchPostFilter(const float *r, int lag, int length, float *out) const {
    for (int n = 0; n < length; ++n) out[n] = r[n];
    double energy = 0.0;
    for (int n = 0; n < length; ++n) energy += static_cast<double>(r[n]) * r[n];
    if (energy < 0.1) return;

    int t = lag - 1;
    double best = 0.0;
    for (int d = lag - 1; d <= lag + 1; ++d) {
        double c = 0.0;
        for (int n = 0; n < length; ++n) c += static_cast<double>(r[n]) * r[n - d];
        if (d == lag - 1 || c > best) {
            best = c;
            t = d;
        }
    }
    double delayedEnergy = 0.0;
    for (int n = 0; n < length; ++n) delayedEnergy += static_cast<double>(r[n - t]) * r[n - t];
    if (best <= 0.0 || delayedEnergy < 0.1) return;

    double kBest = best;
    double eBest = delayedEnergy;
    int bestPhase = 0;
    int bestShift = 0;
    float chosen[80];
    for (int n = 0; n < length; ++n) chosen[n] = r[n - t];
    for (int f = 1; f <= 7; ++f) {
        float y[81];
        for (int n = 0; n <= length; ++n) {
            float sum = 0.0f;
            for (int j = 0; j < 4; ++j) sum += kInterp4[f - 1][j] * r[n - t + 1 - j];
            y[n] = sum;
        }
        for (int shift = 0; shift <= 1; ++shift) {
            double k = 0.0;
            double e = 0.0;
            for (int n = 0; n < length; ++n) {
                k += static_cast<double>(r[n]) * y[n + shift];
                e += static_cast<double>(y[n + shift]) * y[n + shift];
            }
            if (k < 0.0) k = 0.0;
            if (k * k * eBest > kBest * kBest * e) {
                kBest = k;
                eBest = e;
                bestPhase = f;
                bestShift = shift;
                for (int n = 0; n < length; ++n) chosen[n] = y[n + shift];
            }
        }
    }
    if (kBest == 0.0 || eBest < 0.1 || kBest * kBest <= 0.5 * energy * eBest) return;

    if (bestPhase != 0) {
        const int delay = t - bestShift + 1;
        float y[80];
        double k = 0.0;
        double e = 0.0;
        for (int n = 0; n < length; ++n) {
            float sum = 0.0f;
            for (int j = 0; j < 16; ++j) sum += kInterp16[bestPhase - 1][j] * r[n - delay + 8 - j];
            y[n] = sum;
            k += static_cast<double>(r[n]) * sum;
            e += static_cast<double>(sum) * sum;
        }
        if (k < 0.0) k = 0.0;
        if (e != 0.0 && k * k * eBest > kBest * kBest * e) {
            kBest = k;
            eBest = e;
            for (int n = 0; n < length; ++n) chosen[n] = y[n];
        }
    }

    float self;
    float delayed;
    if (kBest > eBest) {
        self = 0.6666667f;
        delayed = 1.0f - 0.6666667f;
    } else {
        const float g = static_cast<float>(kBest / eBest);
        self = 1.0f / (1.0f + 0.5f * g);
        delayed = 0.5f * g / (1.0f + 0.5f * g);
    }
    for (int n = 0; n < length; ++n) out[n] = r[n] * self + chosen[n] * delayed;
}

void Decoder::PostFilter(int subframes, int length, float *out) {
    float s[250];
    std::memcpy(s, speechHistory_, sizeof speechHistory_);
    std::memcpy(s + 10, speech_, sizeof speech_);
    for (int k = 0; k < subframes; ++k) {
        const float *a = lpc_[k];
        const float *sub = s + 10 + k * length;
        float num[10];
        float den[10];
        for (int i = 1; i <= 10; ++i) {
            num[i - 1] = a[i - 1] * Power(0.55f, i);
            den[i - 1] = a[i - 1] * Power(0.7f, i);
        }

        // Residual after the numerator, behind its history.
        float r[154 + 80];
        std::memcpy(r, residualHistory_, sizeof residualHistory_);
        for (int n = 0; n < length; ++n) {
            float sum = sub[n];
            for (int i = 1; i <= 10; ++i) sum += num[i - 1] * sub[n - i];
            r[154 + n] = sum;
        }
        float pitched[80];
        PitchPostFilter(r + 154, lags_[k], length, pitched);

        // Tilt from 30 samples of the impulse response of A(z/0.55)/A(z/0.7).
        float h[30];
        for (int n = 0; n < 30; ++n) {
            float sum = n == 0 ? 1.0f : (n <= 10 ? num[n - 1] : 0.0f);
            for (int i = 1; i <= 10 && i <= n; ++i) sum -= den[i - 1] * h[n - i];
            h[n] = sum;
        }
        float r0 = 0.0f;
        float r1 = 0.0f;
        float sumAbs = 0.0f;
        for (int n = 0; n < 30; ++n) {
            r0 += h[n] * h[n];
            sumAbs += std::fabs(h[n]);
        }
        for (int n = 0; n < 29; ++n) r1 += h[n] * h[n + 1];
        const float tilt = (r0 != 0.0f && std::fabs(r1) <= r0) ? -r1 / r0 : 0.0f;
        if (sumAbs > 1.0f) {
            for (int n = 0; n < length; ++n) pitched[n] /= sumAbs;
        }

        // Formant all-pole filter, then the tilt filter.
        float y[10 + 80];
        std::memcpy(y, formantMemory_, sizeof formantMemory_);
        for (int n = 0; n < length; ++n) {
            float sum = pitched[n];
            for (int i = 1; i <= 10; ++i) sum -= den[i - 1] * y[10 + n - i];
            y[10 + n] = sum;
        }
        const float mu = tilt <= 0.0f ? 0.9f * tilt : 0.2f * tilt;
        float *z = out + k * length;
        for (int n = 0; n < length; ++n) z[n] = (y[10 + n] + mu * y[9 + n]) / (1.0f - std::fabs(mu));
        std::memcpy(formantMemory_, y + length, sizeof formantMemory_);

        // Gain control against the unfiltered synthesis.
        float sumS = 0.0f;
        float sumZ = 0.0f;
        for (int n = 0; n < length; ++n) {
            sumS += std::fabs(sub[n]);
            sumZ += std::fabs(z[n]);
        }
        float g = 0.0f;
        bool scale = true;
        if (sumS > 0.0f && sumZ > 0.0f) {
            g = 0.0125f * sumS / sumZ;
        } else if (sumS > 0.0f) {
            agcGain_ = 0.0f;
            scale = false;
        }
        if (scale) {
            for (int n = 0; n < length; ++n) {
                agcGain_ = 0.9875f * agcGain_ + g;
                z[n] *= agcGain_;
            }
        }
        std::memcpy(residualHistory_, r + length, sizeof residualHistory_);
    }
    std::memcpy(speechHistory_, s + 240, sizeof speechHistory_);
}

} // namespace vntr::vt4864v6::reference
