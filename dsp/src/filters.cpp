#include <vntr/dsp/filters.hpp>

namespace vntr::dsp {

void PoleZeroImpulseResponse(const float *b, const float *a, int order, float *h, int length) {
    // Through B(z) the impulse becomes 1, b1, ..., b_order, then 0; through 1/A(z) from rest.
    for (int n = 0; n < length; ++n) {
        float acc = n == 0 ? 1.0f : (n <= order ? b[n - 1] : 0.0f);
        for (int i = 1; i <= order && i <= n; ++i) acc -= a[i - 1] * h[n - i];
        h[n] = acc;
    }
}

} // namespace vntr::dsp
