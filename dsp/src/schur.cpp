#include <vntr/dsp/schur.hpp>

namespace vntr::dsp {

float Schur(const float *r, int order, float *k, SchurWorkspace &work) {
    float *p = work.forward;
    float *q = work.backward;
    for (int i = 0; i <= order; ++i) {
        p[i] = r[i];
        q[i] = r[i];
    }
    for (int i = 0; i < order; ++i) k[i] = 0.0f;
    float error = p[0];
    for (int m = 1; m <= order; ++m) {
        if (!(p[0] > 0.0f)) break;
        const float km = -p[1] / p[0];
        const float next = p[0] + km * p[1];
        // A step that would leave no positive error (|k| >= 1) is refused with the rest.
        if (!(next > 0.0f)) break;
        k[m - 1] = km;
        p[0] = next;
        error = next;
        // Both generator rows move on by one lag.
        for (int j = 1; j <= order - m; ++j) {
            const float pj = p[j + 1] + km * q[j];
            q[j] = q[j] + km * p[j + 1];
            p[j] = pj;
        }
    }
    return error;
}

void ReflectionToPredictor(const float *k, int order, float *a) {
    float previous[kMaxSchurOrder];
    for (int m = 0; m < order; ++m) {
        for (int j = 0; j < m; ++j) previous[j] = a[j];
        for (int j = 0; j < m; ++j) a[j] = previous[j] + k[m] * previous[m - 1 - j];
        a[m] = k[m];
    }
}

} // namespace vntr::dsp
