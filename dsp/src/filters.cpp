#include <vntr/dsp/filters.hpp>

namespace vntr::dsp {

void PoleZeroImpulseResponse(const float *b, const float *a, int order, float *h, int length) {
    // Through B(z) the impulse becomes 1, b1, ..., b_order, then 0; through 1/A(z) from rest.
    constexpr int kMaxOrder = 32;
    constexpr int kChunk = 64;
    float y[kMaxOrder + kChunk] = {};
    int done = 0;
    while (done < length) {
        const int n = length - done < kChunk ? length - done : kChunk;
        float x[kChunk];
        for (int i = 0; i < n; ++i) {
            const int at = done + i;
            x[i] = at == 0 ? 1.0f : (at <= order ? b[at - 1] : 0.0f);
        }
        AllPoleFilter(x, a, order, y + order, n);
        for (int i = 0; i < n; ++i) h[done + i] = y[order + i];
        for (int i = 0; i < order; ++i) y[i] = y[n + i];
        done += n;
    }
}

} // namespace vntr::dsp
