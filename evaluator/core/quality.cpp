#include "quality.hpp"

#include <vntr/platform/riff.hpp>

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <memory>

namespace vntr::evaluator {
namespace {

using platform::FourCC;
using platform::RiffChunk;
using platform::RiffFile;
using platform::RiffFind;
using platform::RiffResult;

constexpr double kMinSegmentSnr = -10.0;
constexpr double kMaxSegmentSnr = 35.0;
constexpr double kActivityRangeDb = 40.0;

struct FftwPlanDeleter {
    void operator()(fftw_plan_s *plan) const { fftw_destroy_plan(plan); }
};
using Plan = std::unique_ptr<fftw_plan_s, FftwPlanDeleter>;

struct FftwFree {
    void operator()(void *p) const { fftw_free(p); }
};
template <class T>
std::unique_ptr<T[], FftwFree> FftwArray(std::size_t n) {
    return std::unique_ptr<T[], FftwFree>(static_cast<T *>(fftw_malloc(sizeof(T) * n)));
}

std::size_t NextPowerOfTwo(std::size_t n) {
    std::size_t p = 1;
    while (p < n) p <<= 1;
    return p;
}

double Energy(std::span<const float> x) {
    double e = 0;
    for (const float v : x) e += static_cast<double>(v) * v;
    return e;
}

} // namespace

bool ReadWaveSamples(const std::string &path, std::vector<float> &samples, int &sampleRate) {
    samples.clear();
    auto file = RiffFile::Open(path, RiffFile::Mode::Read);
    if (!file) return false;
    RiffChunk riff;
    riff.formType = FourCC("WAVE");
    if (file->Descend(riff, nullptr, RiffFind::Riff) != RiffResult::Ok) return false;
    RiffChunk fmt;
    fmt.id = FourCC("fmt ");
    unsigned char head[16] = {};
    if (file->Descend(fmt, &riff, RiffFind::Chunk) != RiffResult::Ok || fmt.size < 16 ||
        file->Read(head, sizeof head) != static_cast<int64_t>(sizeof head)) {
        return false;
    }
    file->Ascend(fmt);
    const unsigned tag = head[0] | head[1] << 8;
    const unsigned channels = head[2] | head[3] << 8;
    sampleRate = static_cast<int>(head[4] | head[5] << 8 | head[6] << 16 | static_cast<unsigned>(head[7]) << 24);
    const unsigned bits = head[14] | head[15] << 8;
    if (tag != 1 || (channels != 1 && channels != 2) || (bits != 8 && bits != 16) || sampleRate <= 0) return false;
    RiffChunk data;
    data.id = FourCC("data");
    if (file->Descend(data, &riff, RiffFind::Chunk) != RiffResult::Ok) return false;
    const uint64_t available = std::min<uint64_t>(data.size, file->FileSize() - std::min(file->FileSize(), data.dataOffset));
    std::vector<unsigned char> bytes(static_cast<std::size_t>(available));
    const int64_t got = file->Read(bytes.data(), bytes.size());
    if (got < 0) return false;
    bytes.resize(static_cast<std::size_t>(got));
    const std::size_t width = bits / 8;
    const std::size_t frame = width * channels;
    samples.reserve(bytes.size() / frame);
    for (std::size_t at = 0; at + frame <= bytes.size(); at += frame) {
        double sum = 0;
        for (std::size_t c = 0; c < channels; ++c) {
            const unsigned char *p = &bytes[at + c * width];
            sum += width == 2 ? static_cast<int16_t>(p[0] | p[1] << 8) : (static_cast<int>(p[0]) - 128) * 256;
        }
        samples.push_back(static_cast<float>(sum / channels));
    }
    return true;
}

int FindDelay(std::span<const float> reference, std::span<const float> decoded, int maxLag) {
    if (reference.empty() || decoded.empty() || maxLag <= 0) return 0;
    // Circular correlation through the FFT, padded so that no lag wraps.
    const std::size_t n = NextPowerOfTwo(std::max(reference.size(), decoded.size()) + static_cast<std::size_t>(maxLag));
    const std::size_t bins = n / 2 + 1;
    auto a = FftwArray<double>(n);
    auto b = FftwArray<double>(n);
    auto fa = FftwArray<fftw_complex>(bins);
    auto fb = FftwArray<fftw_complex>(bins);
    std::fill_n(a.get(), n, 0.0);
    std::fill_n(b.get(), n, 0.0);
    std::copy(reference.begin(), reference.end(), a.get());
    std::copy(decoded.begin(), decoded.end(), b.get());
    Plan forwardA(fftw_plan_dft_r2c_1d(static_cast<int>(n), a.get(), fa.get(), FFTW_ESTIMATE));
    Plan forwardB(fftw_plan_dft_r2c_1d(static_cast<int>(n), b.get(), fb.get(), FFTW_ESTIMATE));
    fftw_execute(forwardA.get());
    fftw_execute(forwardB.get());
    // r[L] = sum x[k] y[k+L]  <=>  conj(X) * Y.
    for (std::size_t k = 0; k < bins; ++k) {
        const std::complex<double> x(fa[k][0], fa[k][1]);
        const std::complex<double> y(fb[k][0], fb[k][1]);
        const std::complex<double> r = std::conj(x) * y;
        fa[k][0] = r.real();
        fa[k][1] = r.imag();
    }
    Plan inverse(fftw_plan_dft_c2r_1d(static_cast<int>(n), fa.get(), a.get(), FFTW_ESTIMATE));
    fftw_execute(inverse.get());
    int best = 0;
    double bestValue = -HUGE_VAL;
    const int limit = std::min<int>(maxLag, static_cast<int>(decoded.size()) - 1);
    for (int lag = 0; lag <= limit; ++lag) {
        if (a[static_cast<std::size_t>(lag)] > bestValue) {
            bestValue = a[static_cast<std::size_t>(lag)];
            best = lag;
        }
    }
    return best;
}

Quality CompareSignals(std::span<const float> reference, std::span<const float> decoded, int sampleRate) {
    Quality q;
    if (sampleRate <= 0 || reference.empty() || decoded.empty()) return q;
    const int delay = FindDelay(reference, decoded, sampleRate / 4);
    const std::size_t overlap = std::min(reference.size(), decoded.size() - static_cast<std::size_t>(delay));
    if (overlap == 0) return q;
    const std::span<const float> x = reference.first(overlap);
    const std::span<const float> y = decoded.subspan(static_cast<std::size_t>(delay), overlap);
    std::vector<float> error(overlap);
    for (std::size_t i = 0; i < overlap; ++i) error[i] = x[i] - y[i];

    q.valid = true;
    q.delaySamples = delay;
    q.comparedSamples = static_cast<uint32_t>(overlap);
    const double signal = Energy(x);
    const double noise = Energy(error);
    q.snrDb = noise > 0 ? 10.0 * std::log10(std::max(signal, 1e-9) / noise) : kMaxSegmentSnr * 4;

    // Segmental SNR over active 20 ms frames.
    const std::size_t segment = std::max<std::size_t>(1, static_cast<std::size_t>(sampleRate) / 50);
    const std::size_t segments = overlap / segment;
    double loudest = 0;
    for (std::size_t s = 0; s < segments; ++s) loudest = std::max(loudest, Energy(x.subspan(s * segment, segment)));
    const double activity = loudest * std::pow(10.0, -kActivityRangeDb / 10.0);
    double segSum = 0;
    std::size_t active = 0;
    for (std::size_t s = 0; s < segments; ++s) {
        const double e = Energy(x.subspan(s * segment, segment));
        if (e <= activity || e == 0) continue;
        const double n = Energy(std::span<const float>(error).subspan(s * segment, segment));
        const double snr = n > 0 ? 10.0 * std::log10(e / n) : kMaxSegmentSnr;
        segSum += std::clamp(snr, kMinSegmentSnr, kMaxSegmentSnr);
        ++active;
    }
    q.segmentalSnrDb = active > 0 ? segSum / static_cast<double>(active) : 0.0;

    // Log-spectral distance over active frames.
    std::size_t frame = 1;
    while (frame * 2 <= static_cast<std::size_t>(sampleRate) * 32 / 1000) frame *= 2;
    frame = std::max<std::size_t>(frame, 16);
    const std::size_t hop = frame / 2;
    const std::size_t bins = frame / 2 + 1;
    auto in = FftwArray<double>(frame);
    auto spectrum = FftwArray<fftw_complex>(bins);
    Plan plan(fftw_plan_dft_r2c_1d(static_cast<int>(frame), in.get(), spectrum.get(), FFTW_ESTIMATE));
    std::vector<double> window(frame);
    double windowEnergy = 0;
    for (std::size_t i = 0; i < frame; ++i) {
        window[i] = 0.5 - 0.5 * std::cos(2.0 * M_PI * static_cast<double>(i) / static_cast<double>(frame));
        windowEnergy += window[i] * window[i];
    }
    // The power of 16-bit quantisation noise in one bin.
    const double floorPower = windowEnergy / 12.0;
    std::vector<double> power(bins);
    auto powerSpectrum = [&](std::span<const float> part) {
        for (std::size_t i = 0; i < frame; ++i) in[i] = part[i] * window[i];
        fftw_execute(plan.get());
        for (std::size_t k = 0; k < bins; ++k) {
            power[k] = spectrum[k][0] * spectrum[k][0] + spectrum[k][1] * spectrum[k][1] + floorPower;
        }
    };
    const double frameActivity = activity * static_cast<double>(frame) / static_cast<double>(segment);
    double lsdSum = 0;
    std::size_t lsdFrames = 0;
    std::vector<double> reference_db(bins);
    for (std::size_t at = 0; at + frame <= overlap; at += hop) {
        if (Energy(x.subspan(at, frame)) <= frameActivity) continue;
        powerSpectrum(x.subspan(at, frame));
        for (std::size_t k = 0; k < bins; ++k) reference_db[k] = 10.0 * std::log10(power[k]);
        powerSpectrum(y.subspan(at, frame));
        double sum = 0;
        for (std::size_t k = 0; k < bins; ++k) {
            const double d = reference_db[k] - 10.0 * std::log10(power[k]);
            sum += d * d;
        }
        lsdSum += std::sqrt(sum / static_cast<double>(bins));
        ++lsdFrames;
    }
    q.logSpectralDistanceDb = lsdFrames > 0 ? lsdSum / static_cast<double>(lsdFrames) : 0.0;
    return q;
}

Quality MeasureQuality(const std::string &referencePath, const std::string &decodedPath) {
    std::vector<float> reference;
    std::vector<float> decoded;
    int referenceRate = 0;
    int decodedRate = 0;
    if (!ReadWaveSamples(referencePath, reference, referenceRate) ||
        !ReadWaveSamples(decodedPath, decoded, decodedRate) || referenceRate != decodedRate) {
        return Quality{};
    }
    return CompareSignals(reference, decoded, referenceRate);
}

} // namespace vntr::evaluator
