// Small vector kernels written so that the compiler can keep several sums in
// flight (and in SIMD registers) without reassociating floating point itself.
#pragma once

namespace vntr::dsp {

// sum_{n<length} x[n] y[n], accumulated in eight interleaved partial sums.
inline float Dot(const float *x, const float *y, int length) {
    float acc[8] = {};
    int n = 0;
    for (; n + 8 <= length; n += 8) {
        for (int k = 0; k < 8; ++k) acc[k] += x[n + k] * y[n + k];
    }
    float tail = 0.0f;
    for (; n < length; ++n) tail += x[n] * y[n];
    return ((acc[0] + acc[4]) + (acc[1] + acc[5])) + ((acc[2] + acc[6]) + (acc[3] + acc[7])) + tail;
}

// sum_{n<length} x[n] y[n] in double precision, where every product of two
// single-precision values is exact: for choices between candidates whose
// scores may lie a few parts per million apart, which then come out the same
// whatever order the terms are added in.
inline double DotDouble(const float *x, const float *y, int length) {
    double acc[4] = {};
    int n = 0;
    for (; n + 4 <= length; n += 4) {
        for (int k = 0; k < 4; ++k) acc[k] += static_cast<double>(x[n + k]) * y[n + k];
    }
    double tail = 0.0;
    for (; n < length; ++n) tail += static_cast<double>(x[n]) * y[n];
    return ((acc[0] + acc[2]) + (acc[1] + acc[3])) + tail;
}

// y[n] += a x[n].
inline void Axpy(float a, const float *x, float *y, int length) {
    for (int n = 0; n < length; ++n) y[n] += a * x[n];
}

} // namespace vntr::dsp
