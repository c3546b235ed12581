#include <vntr/dsp/lpc.hpp>
#include <vntr/dsp/vector.hpp>

#include <cmath>

namespace vntr::dsp {

void Autocorrelation(const float *x, int length, int order, float *r) {
    for (int k = 0; k <= order; ++k) r[k] = k < length ? Dot(x, x + k, length - k) : 0.0f;
}

float Levinson(const float *r, int order, float *a) {
    constexpr int kMaxOrder = 32;
    for (int i = 0; i < order; ++i) a[i] = 0.0f;
    float err = r[0];
    float previous[kMaxOrder];
    for (int i = 1; i <= order; ++i) {
        float v = r[i];
        for (int j = 1; j < i; ++j) v += a[j - 1] * r[i - j];
        v = -v;
        // A reflection coefficient of magnitude 1 or more would make the
        // filter unstable (and at r[0] = 0 every step is refused).
        if (std::fabs(v) >= err) break;
        const float k = v / err;
        for (int j = 1; j < i; ++j) previous[j - 1] = a[j - 1];
        a[i - 1] = k;
        for (int j = 1; j < i; ++j) a[j - 1] = previous[j - 1] + k * previous[i - j - 1];
        err -= k * k * err;
    }
    return err;
}

float AnalyseBlock(const float *x, int length, const float *halfWindow, const float *lagWindow, float noiseFactor,
                   int order, float *a) {
    constexpr int kMaxOrder = 32;
    float w[kMaxAnalysisBlock];
    for (int n = 0; n < length / 2; ++n) {
        w[n] = x[n] * halfWindow[n];
        w[length - 1 - n] = x[length - 1 - n] * halfWindow[n];
    }
    float r[kMaxOrder + 1];
    Autocorrelation(w, length, order, r);
    if (r[0] != 0.0f) {
        const float scale = static_cast<float>(length * length);
        r[0] *= noiseFactor;
        for (int k = 1; k <= order; ++k) r[k] *= lagWindow[k - 1];
        for (int k = 0; k <= order; ++k) r[k] /= scale;
    } else {
        for (int k = 1; k <= order; ++k) r[k] = 0.0f;
    }
    return Levinson(r, order, a);
}

void BandwidthExpand(const float *a, int order, float gamma, float *out) {
    float g = gamma;
    for (int i = 0; i < order; ++i) {
        out[i] = a[i] * g;
        g *= gamma;
    }
}

} // namespace vntr::dsp
