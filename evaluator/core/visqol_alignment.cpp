// The alignments of the ViSQOL score: of the whole decoded signal to the
// reference, and of each matched patch's two stretches.
#include "quality.hpp"
#include "visqol_parts.hpp"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>

namespace vntr::evaluator::visqol {
namespace {

std::size_t NextPowerOfTwo(std::size_t n) {
    std::size_t p = 1;
    while (p < n) p <<= 1;
    return p;
}

struct FftwFree {
    void operator()(void *p) const { fftwf_free(p); }
};

// Real transforms of one power-of-two size, in single precision (as the
// reference implementation correlates; a whole signal's transform is as
// long as twice the signal).
struct RealTransform {
    explicit RealTransform(std::size_t size)
        : n(size), real(static_cast<float *>(fftwf_malloc(sizeof(float) * size))),
          first(static_cast<fftwf_complex *>(fftwf_malloc(sizeof(fftwf_complex) * (size / 2 + 1)))),
          second(static_cast<fftwf_complex *>(fftwf_malloc(sizeof(fftwf_complex) * (size / 2 + 1)))) {
        const std::lock_guard<std::mutex> hold(FftwPlannerLock());
        forward = fftwf_plan_dft_r2c_1d(static_cast<int>(n), real.get(), first.get(), FFTW_ESTIMATE);
        inverse = fftwf_plan_dft_c2r_1d(static_cast<int>(n), first.get(), real.get(), FFTW_ESTIMATE);
    }
    ~RealTransform() {
        const std::lock_guard<std::mutex> hold(FftwPlannerLock());
        fftwf_destroy_plan(forward);
        fftwf_destroy_plan(inverse);
    }
    RealTransform(const RealTransform &) = delete;
    RealTransform &operator=(const RealTransform &) = delete;

    std::size_t n;
    std::unique_ptr<float[], FftwFree> real;
    std::unique_ptr<fftwf_complex[], FftwFree> first;
    std::unique_ptr<fftwf_complex[], FftwFree> second;
    fftwf_plan forward = nullptr;
    fftwf_plan inverse = nullptr;
};

// The transforms are kept per thread: the patches' correlations all have
// one size, and the codecs of one original give decoded signals of about
// its length, so the whole signals' correlations of one original share
// theirs (the last such size is kept; another replaces it).
RealTransform &TransformFor(std::size_t n) {
    constexpr std::size_t kPatchTransform = 16384;
    thread_local std::unique_ptr<RealTransform> patches;
    thread_local std::unique_ptr<RealTransform> whole;
    std::unique_ptr<RealTransform> &slot = n == kPatchTransform ? patches : whole;
    if (!slot || slot->n != n) {
        slot.reset();
        slot = std::make_unique<RealTransform>(n);
    }
    return *slot;
}

// The upper envelope as the reference implementation computes it: twice the
// centred signal less what its one-sided spectrum drops of the DC and
// Nyquist bins of a power-of-two transform, as a magnitude, plus the mean.
// Written into out[0, x.size()).
void UpperEnvelope(std::span<const double> x, float *out) {
    const std::size_t n = x.size();
    if (n == 0) return;
    double mean = 0;
    for (const double v : x) mean += v;
    mean /= static_cast<double>(n);
    const std::size_t m = std::max<std::size_t>(NextPowerOfTwo(n), 32);
    double dc = 0;
    double nyquist = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double c = x[i] - mean;
        dc += c;
        nyquist += (i % 2 == 0) ? c : -c;
    }
    const double keptNyquist = (n == m) ? 1.0 : 0.0;
    const double even = (dc + (2.0 - keptNyquist) * nyquist) / static_cast<double>(m);
    const double odd = (dc - (2.0 - keptNyquist) * nyquist) / static_cast<double>(m);
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = static_cast<float>(std::abs(2.0 * (x[i] - mean) - ((i % 2 == 0) ? even : odd)) + mean);
    }
}

} // namespace

long BestLag(std::span<const double> reference, std::span<const double> decoded) {
    const std::size_t longest = std::max(reference.size(), decoded.size());
    if (longest == 0) return 0;
    const std::size_t n = NextPowerOfTwo(2 * longest);
    RealTransform &t = TransformFor(n);
    const std::size_t bins = n / 2 + 1;
    float *const real = t.real.get();
    UpperEnvelope(decoded, real);
    std::fill(real + decoded.size(), real + n, 0.0f);
    fftwf_execute(t.forward);
    std::memcpy(t.second.get(), t.first.get(), sizeof(fftwf_complex) * bins);
    UpperEnvelope(reference, real);
    std::fill(real + reference.size(), real + n, 0.0f);
    fftwf_execute(t.forward);
    // corr[L] = sum_m a[m + L] b[m]  <=>  A * conj(B).
    fftwf_complex *const fa = t.first.get();
    const fftwf_complex *const fb = t.second.get();
    for (std::size_t k = 0; k < bins; ++k) {
        const float re = fa[k][0] * fb[k][0] + fa[k][1] * fb[k][1];
        const float im = fa[k][1] * fb[k][0] - fa[k][0] * fb[k][1];
        fa[k][0] = re;
        fa[k][1] = im;
    }
    fftwf_execute(t.inverse);
    const long maxLag = static_cast<long>(longest) - 1;
    long best = -maxLag;
    float bestValue = -HUGE_VALF;
    for (long lag = -maxLag; lag <= maxLag; ++lag) {
        const float v =
            real[lag < 0 ? static_cast<std::size_t>(static_cast<long>(n) + lag) : static_cast<std::size_t>(lag)];
        if (v > bestValue) {
            bestValue = v;
            best = lag;
        }
    }
    return best;
}

long AlignGlobally(std::span<const double> reference, std::vector<double> &decoded) {
    const long lag = BestLag(reference, decoded);
    if (lag == 0 || std::abs(static_cast<double>(lag)) > static_cast<double>(reference.size()) / 2.0) return 0;
    if (lag < 0) {
        const std::size_t drop = std::min(decoded.size(), static_cast<std::size_t>(-lag));
        decoded.erase(decoded.begin(), decoded.begin() + static_cast<std::ptrdiff_t>(drop));
    } else {
        decoded.insert(decoded.begin(), static_cast<std::size_t>(lag), 0.0);
    }
    return lag;
}

double AlignAndTruncate(std::vector<double> &reference, std::vector<double> &decoded) {
    const long samples = AlignGlobally(reference, decoded);
    const double lag = static_cast<double>(samples) / kVisqolRate;
    if (reference.size() > decoded.size()) {
        reference.resize(decoded.size());
    } else if (reference.size() < decoded.size()) {
        // The lag is positive here: the reference's start now faces the zeros
        // put before the decoded stretch, and both lose it.  The count is
        // the lag in seconds back in samples, as the reference implementation
        // takes it (it can come out one short).
        const auto skip = static_cast<std::size_t>(std::max(0, static_cast<int>(lag * kVisqolRate)));
        const std::size_t end = reference.size();
        reference.erase(reference.begin(), reference.begin() + static_cast<std::ptrdiff_t>(std::min(skip, end)));
        decoded.resize(end);
        decoded.erase(decoded.begin(), decoded.begin() + static_cast<std::ptrdiff_t>(std::min(skip, end)));
    }
    return lag;
}

} // namespace vntr::evaluator::visqol
