#include <vntr/dsp/lsp.hpp>
#include <vntr/dsp/simd.hpp>

#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <utility>

#if defined(VNTR_SIMD_SSE2)
#include <emmintrin.h>
#endif

namespace vntr::dsp {
namespace {

constexpr int kMaxHalf = kMaxLspOrder / 2;

// Coefficients (x^0 .. x^half) of sum_{i<half} p_i T_{half-i}(x) + p_half / 2,
// the Chebyshev form of a symmetric polynomial on the unit circle (halved).
void ChebyshevForm(const double *p, int half, double *c) {
    // t[k][m]: coefficient of x^m in the Chebyshev polynomial T_k.
    double t[kMaxHalf + 1][kMaxHalf + 1] = {};
    t[0][0] = 1.0;
    if (half >= 1) t[1][1] = 1.0;
    for (int k = 2; k <= half; ++k) {
        for (int m = 0; m <= k; ++m) {
            t[k][m] = (m > 0 ? 2.0 * t[k - 1][m - 1] : 0.0) - t[k - 2][m];
        }
    }
    for (int m = 0; m <= half; ++m) c[m] = 0.0;
    for (int i = 0; i < half; ++i) {
        for (int m = 0; m <= half; ++m) c[m] += p[i] * t[half - i][m];
    }
    c[0] += 0.5 * p[half];
}

double Evaluate(const double *c, int degree, double x, double *derivative) {
    double value = c[degree];
    double slope = 0.0;
    for (int m = degree - 1; m >= 0; --m) {
        slope = slope * x + value;
        value = value * x + c[m];
    }
    *derivative = slope;
    return value;
}

// Ten damped Newton steps from x towards the next root below it.  A step is
// a function of x alone, so once x comes back to a value it had (to the bit)
// the steps repeat: a step that leaves x as it is, or two that swap between
// two values, fix what the tenth step ends on, and the steps stop there.
double NewtonRoot(const double *c, int degree, double x) {
    constexpr int kSteps = 10;
    const auto same = [](double u, double v) { return std::bit_cast<uint64_t>(u) == std::bit_cast<uint64_t>(v); };
    double before = x; // x two steps back (unused before the second step)
    for (int it = 0; it < kSteps; ++it) {
        double slope;
        const double value = Evaluate(c, degree, x, &slope);
        if (slope == 0.0) break;
        const double d = -value / slope;
        const double last = x;
        x += d * (1.0 - 3.0 * d);
        if (same(x, last)) return x;
        // Steps it+1, it+3, ... end on x, the others on last.
        if (it > 0 && same(x, before)) return (kSteps - 1 - it) % 2 == 0 ? x : last;
        before = last;
    }
    return x;
}

// c <- c / (x - root), dropping the remainder; the degree falls by one.
void Deflate(double *c, int degree, double root) {
    double carry = c[degree];
    for (int m = degree - 1; m >= 0; --m) {
        const double next = c[m] + carry * root;
        c[m] = carry;
        carry = next;
    }
    c[degree] = 0.0;
}

void QuadraticRoots(const double *c, double *high, double *low) {
    if (c[2] == 0.0) {
        *high = *low = 0.0;
        return;
    }
    const double m = -c[1] / (2.0 * c[2]);
    const double d = m * m - c[0] / c[2];
    if (d < 0.0) {
        *high = *low = 0.0;
        return;
    }
    const double s = std::sqrt(d);
    *high = m + s;
    *low = m - s;
}

double SafeAcos(double x) {
    return std::acos(x > 1.0 ? 1.0 : (x < -1.0 ? -1.0 : x));
}

} // namespace

void LpcToLsp(const float *a, int order, float *lsp) {
    const int half = order / 2;
    double p[kMaxHalf + 1];
    double q[kMaxHalf + 1];
    p[0] = q[0] = 1.0;
    for (int i = 1; i <= half; ++i) {
        p[i] = a[i - 1] + a[order - i] - p[i - 1];
        q[i] = a[i - 1] - a[order - i] + q[i - 1];
    }
    double cp[kMaxHalf + 1];
    double cq[kMaxHalf + 1];
    ChebyshevForm(p, half, cp);
    ChebyshevForm(q, half, cq);

    double x[kMaxLspOrder];
    double start = 1.0;
    int degree = half;
    int found = 0;
    for (; degree > 2; --degree) {
        x[found] = NewtonRoot(cp, degree, start);
        Deflate(cp, degree, x[found]);
        start = x[found++];
        x[found] = NewtonRoot(cq, degree, start);
        Deflate(cq, degree, x[found]);
        start = x[found++];
    }
    // The last quadratics: the larger root of each comes first.
    QuadraticRoots(cp, &x[found], &x[found + 2]);
    QuadraticRoots(cq, &x[found + 1], &x[found + 3]);
    for (int i = 0; i < order; ++i) lsp[i] = static_cast<float>(SafeAcos(x[i]));
}

void LspToLpc(const float *lsp, int order, float *a) {
    const int half = order / 2;
    // Products of second-order sections, coefficients 0..order, each array
    // with two zeros in front so that every step reads the same way (the
    // terms beyond the degree so far are the zeros the arrays start with).
    double pz[kMaxLspOrder + 4] = {0.0, 0.0, 1.0};
    double qz[kMaxLspOrder + 4] = {0.0, 0.0, 1.0};
    double *p = pz + 2;
    double *q = qz + 2;
#if defined(VNTR_SIMD_SSE2)
    // P in the low lane and Q in the high one of each coefficient: the same
    // products and sums, lane by lane, for half the instructions.
    __m128d pqz[kMaxLspOrder + 4] = {};
    __m128d *pq = pqz + 2;
    pq[0] = _mm_set1_pd(1.0);
    for (int s = 0; s < half; ++s) {
        const __m128d c = _mm_set_pd(-2.0 * std::cos(static_cast<double>(lsp[2 * s + 1])),
                                     -2.0 * std::cos(static_cast<double>(lsp[2 * s])));
        for (int m = 2 * s + 2; m >= 0; --m) pq[m] = _mm_add_pd(_mm_add_pd(pq[m], _mm_mul_pd(c, pq[m - 1])), pq[m - 2]);
    }
    for (int m = 0; m <= order; ++m) {
        _mm_storel_pd(p + m, pq[m]);
        _mm_storeh_pd(q + m, pq[m]);
    }
#else
    for (int s = 0; s < half; ++s) {
        const double cp = -2.0 * std::cos(static_cast<double>(lsp[2 * s]));
        const double cq = -2.0 * std::cos(static_cast<double>(lsp[2 * s + 1]));
        for (int m = 2 * s + 2; m >= 0; --m) {
            p[m] = p[m] + cp * p[m - 1] + p[m - 2];
            q[m] = q[m] + cq * q[m - 1] + q[m - 2];
        }
    }
#endif
    for (int i = 1; i <= order; ++i) {
        const double sum = p[i] + p[i - 1];
        const double diff = q[i] - q[i - 1];
        a[i - 1] = static_cast<float>(0.5 * (sum + diff));
    }
}

void LspWeights(const float *lsp, int order, double exponent, float *w) {
    double cosine[kMaxLspOrder];
    for (int i = 0; i < order; ++i) cosine[i] = std::cos(static_cast<double>(lsp[i]));
    for (int i = 0; i < order; ++i) {
        const double c = cosine[i];
        double p = std::sin(0.5 * lsp[i]);
        double q = std::cos(0.5 * lsp[i]);
        for (int j = 1; j < order; j += 2) p *= c - cosine[j]; // LSPs 2, 4, ...
        for (int j = 0; j < order; j += 2) q *= c - cosine[j]; // LSPs 1, 3, ...
        const double power = std::fmax(p * p + q * q, 1e-30);
        w[i] = static_cast<float>(std::pow(1.0 / std::sqrt(power), exponent));
    }
    w[order - 2] *= 0.64f;
    w[order - 1] *= 0.16f;
}

void UniformLsp(int order, float *lsp) {
    for (int k = 0; k < order; ++k) lsp[k] = static_cast<float>((k + 1) * std::numbers::pi / (order + 1));
}

void OrderAndSpaceLsp(float *lsp, int order, const float *minimumGap) {
    for (int pass = 0; pass < 2; ++pass) {
        bool swapped = false;
        for (int i = 0; i + 1 < order; ++i) {
            if (lsp[i] > lsp[i + 1]) {
                std::swap(lsp[i], lsp[i + 1]);
                swapped = true;
            }
        }
        if (!swapped) break;
    }
    for (int i = 1; i < order; ++i) {
        const float t = minimumGap[i];
        const float d = lsp[i] - lsp[i - 1];
        if (d < t) lsp[i] = lsp[i - 1] + 0.5f * t + d * d / (2.0f * t);
    }
}

bool LspMakesFilter(const float *lsp, int order) {
    double above = 1.0;
    for (int i = 0; i < order; ++i) {
        const double x = std::cos(static_cast<double>(lsp[i]));
        if (!(x < above)) return false; // also a NaN
        above = x;
    }
    return above > -1.0;
}

void StabiliseLsp(float *lsp, int order, const float *minimumGap) {
    OrderAndSpaceLsp(lsp, order, minimumGap);
    if (LspMakesFilter(lsp, order)) return;
    // No filter: lift the bottom into range, then lower the top, keeping half gaps.
    if (!(lsp[0] >= kLowestLsp)) lsp[0] = kLowestLsp;
    for (int i = 1; i < order; ++i) {
        const float floor = lsp[i - 1] + 0.5f * minimumGap[i];
        if (!(lsp[i] >= floor)) lsp[i] = floor;
    }
    if (lsp[order - 1] > kHighestLsp) lsp[order - 1] = kHighestLsp;
    for (int i = order - 2; i >= 0; --i) {
        const float ceiling = lsp[i + 1] - 0.5f * minimumGap[i + 1];
        if (lsp[i] > ceiling) lsp[i] = ceiling;
    }
}

void InterpolateLspToLpc(const float *current, const float *previous, int order, int subframes, float *lpc) {
    for (int j = 0; j < subframes; ++j) {
        float mixed[kMaxLspOrder];
        if (j == subframes - 1) {
            for (int i = 0; i < order; ++i) mixed[i] = current[i];
        } else {
            const float w = static_cast<float>(j + 1) / static_cast<float>(subframes);
            for (int i = 0; i < order; ++i) mixed[i] = (1.0f - w) * previous[i] + w * current[i];
        }
        LspToLpc(mixed, order, lpc + j * order);
    }
}

} // namespace vntr::dsp
