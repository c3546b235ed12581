// The gammatone spectrogram of the ViSQOL score: 21 fourth-order gammatone
// filters (each four second-order sections, Slaney's design) on
// equivalent-rectangular-bandwidth spaced centres from 50 Hz to 8 kHz, the
// RMS of each band over Hann-windowed frames of 80 ms every 20 ms.
#include "visqol_parts.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <limits>

namespace vntr::evaluator::visqol {
namespace {

// Glasberg and Moore's auditory filter parameters.
constexpr double kEarQ = 9.26449;
constexpr double kMinBandwidth = 24.7;
// Bands padded to a multiple of four so that the band loop vectorises.
constexpr std::size_t kLanes = 24;

// Band b's four sections: y = n0 x + z0, z0' = n1 x + z1 - d1 y, z1' = -d2 y
// (numerators without a z^-2 term; the first section carries the gain).
struct FilterBank {
    std::array<std::array<double, kLanes>, 4> n0{};
    std::array<std::array<double, kLanes>, 4> n1{};
    std::array<double, kLanes> d1{};
    std::array<double, kLanes> d2{};
};

// The centres, highest first, as the design computes them.
std::vector<double> DesignCentres() {
    const double a = -(kEarQ * kMinBandwidth);
    const double b = -std::log(kHighestFrequency + kEarQ * kMinBandwidth);
    const double c = std::log(kLowestFrequency + kEarQ * kMinBandwidth);
    const double d = kHighestFrequency + kEarQ * kMinBandwidth;
    const double e = (b + c) / static_cast<double>(kBands);
    std::vector<double> centres(kBands);
    for (std::size_t i = 0; i < kBands; ++i) centres[i] = a + std::exp(static_cast<double>(i + 1) * e) * d;
    return centres;
}

FilterBank DesignFilters() {
    using C = std::complex<double>;
    const std::vector<double> centres = DesignCentres();
    const double t = 1.0 / kVisqolRate;
    const C j(0.0, 1.0);
    const double p1 = std::pow(2.0, 1.5);
    const double s1 = std::sqrt(3.0 - p1);
    const double s2 = std::sqrt(3.0 + p1);
    FilterBank bank;
    for (std::size_t i = 0; i < kBands; ++i) {
        const std::size_t band = kBands - 1 - i; // lowest first
        const double cf = centres[i];
        const double erb = cf / kEarQ + kMinBandwidth;
        const double bw = 1.019 * 2.0 * M_PI * erb;
        const double expBT = std::exp(bw * t);
        const double b1 = -2.0 * std::cos(2.0 * cf * M_PI * t) / expBT;
        const double b2 = std::exp(-2.0 * bw * t);
        const double sinT = std::sin(2.0 * cf * M_PI * t) * t;
        const double bPos = sinT * 2.0 * std::sqrt(3.0 + p1);
        const double bNeg = sinT * 2.0 * std::sqrt(3.0 - p1);
        const double a = std::cos(2.0 * cf * M_PI * t) * 2.0 * t;
        const double a11 = -(a / expBT + bPos / expBT) / 2.0;
        const double a12 = -(a / expBT - bPos / expBT) / 2.0;
        const double a13 = -(a / expBT + bNeg / expBT) / 2.0;
        const double a14 = -(a / expBT - bNeg / expBT) / 2.0;
        // The gain that makes the cascade's response 1 at the centre.
        const C xExp = std::exp(4.0 * j * cf * M_PI * t);
        const C x01 = -2.0 * xExp * t;
        const C x02 = 2.0 * std::exp(-(bw * t) + 2.0 * j * cf * M_PI * t) * t;
        const double xCos = std::cos(2.0 * cf * M_PI * t);
        const double xSin = std::sin(2.0 * cf * M_PI * t);
        const C x1 = x01 + x02 * (xCos - s1 * xSin);
        const C x2 = x01 + x02 * (xCos + s1 * xSin);
        const C x3 = x01 + x02 * (xCos - s2 * xSin);
        const C x4 = x01 + x02 * (xCos + s2 * xSin);
        const C x5 = (-2.0 / std::exp(2.0 * bw * t)) - 2.0 * xExp + (2.0 * (1.0 + xExp)) / std::exp(bw * t);
        const C x5Squared = x5 * x5;
        const double gain = std::abs((x1 * x2 * x3 * x4) / (x5Squared * x5Squared));
        bank.n0[0][band] = t / gain;
        bank.n1[0][band] = a11 / gain;
        bank.n0[1][band] = t;
        bank.n1[1][band] = a12;
        bank.n0[2][band] = t;
        bank.n1[2][band] = a13;
        bank.n0[3][band] = t;
        bank.n1[3][band] = a14;
        bank.d1[band] = b1;
        bank.d2[band] = b2;
    }
    return bank;
}

const FilterBank &Bank() {
    static const FilterBank bank = DesignFilters();
    return bank;
}

const std::array<double, kWindow> &HannWindow() {
    static const std::array<double, kWindow> window = [] {
        std::array<double, kWindow> w{};
        for (std::size_t i = 0; i < kWindow; ++i) {
            w[i] = 0.5 - (0.5 * std::cos(2.0 * M_PI * static_cast<double>(i) / static_cast<double>(kWindow - 1)));
        }
        return w;
    }();
    return window;
}

// The mean square of every band's output over one windowed frame, the
// filters starting at rest.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target_clones("fma", "default")))
#endif
void FrameEnergies(const FilterBank &bank, const double *frame, double *energy) {
    alignas(32) double z0[4][kLanes] = {};
    alignas(32) double z1[4][kLanes] = {};
    alignas(32) double sum[kLanes] = {};
    alignas(32) double v[kLanes];
    for (std::size_t i = 0; i < kWindow; ++i) {
        const double x = frame[i];
        for (std::size_t b = 0; b < kLanes; ++b) v[b] = x;
        for (std::size_t s = 0; s < 4; ++s) {
            for (std::size_t b = 0; b < kLanes; ++b) {
                const double y = bank.n0[s][b] * v[b] + z0[s][b];
                z0[s][b] = bank.n1[s][b] * v[b] + z1[s][b] - bank.d1[b] * y;
                z1[s][b] = -bank.d2[b] * y;
                v[b] = y;
            }
        }
        for (std::size_t b = 0; b < kLanes; ++b) sum[b] += v[b] * v[b];
    }
    for (std::size_t b = 0; b < kBands; ++b) energy[b] = sum[b] / static_cast<double>(kWindow);
}

double ToDb(double v) {
    const double magnitude = std::abs(v) == 0 ? std::numeric_limits<double>::epsilon() : std::abs(v);
    return 10.0 * std::log10(magnitude);
}

constexpr double kAbsoluteFloorDb = -45.0;
constexpr double kRelativeFloorDb = 45.0;

} // namespace

std::vector<double> BandCentres() {
    std::vector<double> centres = DesignCentres();
    std::reverse(centres.begin(), centres.end());
    return centres;
}

Spectrogram BuildSpectrogram(std::span<const double> signal) {
    Spectrogram s;
    if (signal.size() <= kWindow) return s;
    s.frames = 1 + (signal.size() - kWindow) / kHop;
    s.data.assign(kBands * s.frames, 0.0);
    const FilterBank &bank = Bank();
    const std::array<double, kWindow> &window = HannWindow();
    std::array<double, kWindow> frame{};
    std::array<double, kBands> energy{};
    for (std::size_t f = 0; f < s.frames; ++f) {
        const double *x = signal.data() + f * kHop;
        for (std::size_t i = 0; i < kWindow; ++i) frame[i] = window[i] * x[i];
        FrameEnergies(bank, frame.data(), energy.data());
        for (std::size_t b = 0; b < kBands; ++b) s.At(b, f) = std::sqrt(energy[b]);
    }
    return s;
}

void PrepareForComparison(Spectrogram &reference, Spectrogram &decoded) {
    for (Spectrogram *s : {&reference, &decoded}) {
        for (double &v : s->data) v = std::max(kAbsoluteFloorDb, ToDb(v));
    }
    const std::size_t frames = std::min(reference.frames, decoded.frames);
    for (std::size_t f = 0; f < frames; ++f) {
        double peak = std::numeric_limits<double>::lowest();
        for (std::size_t b = 0; b < kBands; ++b) peak = std::max({peak, reference.At(b, f), decoded.At(b, f)});
        const double floor = peak - kRelativeFloorDb;
        for (std::size_t b = 0; b < kBands; ++b) {
            reference.At(b, f) = std::max(floor, reference.At(b, f));
            decoded.At(b, f) = std::max(floor, decoded.At(b, f));
        }
    }
    double lowest = std::numeric_limits<double>::max();
    for (const Spectrogram *s : {&reference, &decoded}) {
        for (const double v : s->data) lowest = std::min(lowest, v);
    }
    for (Spectrogram *s : {&reference, &decoded}) {
        for (double &v : s->data) v -= lowest;
    }
}

} // namespace vntr::evaluator::visqol
