#include "visqol.hpp"

#include "quality.hpp"
#include "visqol_parts.hpp"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>

namespace vntr::evaluator {

std::mutex &ResamplerLock() {
    static std::mutex lock;
    return lock;
}

std::vector<float> ResampleTo16k(std::span<const float> samples, int sampleRate) {
    if (sampleRate == kVisqolRate || samples.empty() || sampleRate <= 0) {
        return std::vector<float>(samples.begin(), samples.end());
    }
    const double ratio = static_cast<double>(kVisqolRate) / sampleRate;
    std::vector<float> out(static_cast<std::size_t>(std::ceil(static_cast<double>(samples.size()) * ratio)) + 64);
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    std::size_t used = 0;
    std::size_t made = 0;
    soxr_error_t error = nullptr;
    {
        const std::lock_guard<std::mutex> hold(ResamplerLock());
        error = soxr_oneshot(sampleRate, kVisqolRate, 1, samples.data(), samples.size(), &used, out.data(), out.size(),
                             &made, &io, &quality, nullptr);
    }
    if (error != nullptr) return {};
    out.resize(made);
    return out;
}

namespace {

constexpr double kSplReference = 0.00002;
// Below this mean similarity the two signals are taken as unrelated.
constexpr double kUnrelatedNsim = 0.15;

double SoundPressureLevel(std::span<const double> x) {
    double sum = 0;
    for (const double v : x) sum += v * v;
    return 20.0 * std::log10(std::sqrt(sum / static_cast<double>(x.size())) / kSplReference);
}

// A signal on the -1..1 scale at 16 kHz (libsoxr writes doubles directly).
std::vector<double> ToUnitScale(std::span<const float> samples, int sampleRate) {
    std::vector<double> out;
    if (sampleRate == kVisqolRate) {
        out.assign(samples.begin(), samples.end());
    } else {
        const double ratio = static_cast<double>(kVisqolRate) / sampleRate;
        out.resize(static_cast<std::size_t>(std::ceil(static_cast<double>(samples.size()) * ratio)) + 64);
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT64_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        std::size_t used = 0;
        std::size_t made = 0;
        soxr_error_t error = nullptr;
        {
            const std::lock_guard<std::mutex> hold(ResamplerLock());
            error = soxr_oneshot(sampleRate, kVisqolRate, 1, samples.data(), samples.size(), &used, out.data(),
                                 out.size(), &made, &io, &quality, nullptr);
        }
        if (error != nullptr) return {};
        out.resize(made);
    }
    for (double &v : out) v *= 1.0 / 32768.0; // a power of two: exact
    return out;
}

VisqolScore Refusal(std::string message) {
    VisqolScore s;
    s.message = std::move(message);
    return s;
}

} // namespace

VisqolScore ScoreVisqol(std::span<const float> reference, std::span<const float> decoded, int sampleRate,
                        int knownDelay) {
    using namespace visqol;
    if (knownDelay > 0) decoded = decoded.subspan(std::min(decoded.size(), static_cast<std::size_t>(knownDelay)));
    if (sampleRate <= 0 || reference.empty() || decoded.empty()) return Refusal("nothing to score");
    const std::vector<double> ref = ToUnitScale(reference, sampleRate);
    std::vector<double> dec = ToUnitScale(decoded, sampleRate);
    if (ref.empty() || dec.empty()) return Refusal("cannot resample to 16 kHz");
    const double minimumSeconds = static_cast<double>(kWindow + (kPatchFrames / 2 - 1 + kPatchFrames - 1) * kHop) / kVisqolRate;
    const auto tooShort = [&] {
        char text[96];
        std::snprintf(text, sizeof text, "too short to score (ViSQOL needs %.2f s of the original)", minimumSeconds);
        return Refusal(text);
    };
    if (static_cast<double>(ref.size()) / kVisqolRate < minimumSeconds) return tooShort();

    VisqolScore score;
    // 1. The decoded signal aligned to the reference and levelled to it.
    if (knownDelay >= 0) {
        score.lagSeconds = -static_cast<double>(knownDelay) / sampleRate;
    } else {
        const long lag = AlignGlobally(ref, dec);
        score.lagSeconds = static_cast<double>(lag) / kVisqolRate;
    }
    if (dec.empty()) return Refusal("the decoded signal is too short to score");
    const double refLevel = SoundPressureLevel(ref);
    const double decLevel = SoundPressureLevel(dec);
    if (!std::isfinite(refLevel)) return Refusal("the original is silent: nothing to score");
    if (!std::isfinite(decLevel)) {
        score.valid = true;
        score.mos = 1.0;
        score.message = "the decoded signal is silent";
        return score;
    }
    const double gain = std::pow(10.0, (refLevel - decLevel) / 20.0);
    for (double &v : dec) v *= gain;

    // 2. The spectrograms and the patches.
    const Spectrogram refBuilt = BuildSpectrogram(ref);
    const Spectrogram decBuilt = BuildSpectrogram(dec);
    if (refBuilt.frames == 0) return tooShort();
    if (decBuilt.frames == 0) return Refusal("the decoded signal is too short to score");
    Spectrogram refSpec = refBuilt;
    Spectrogram decSpec = decBuilt;
    PrepareForComparison(refSpec, decSpec);
    const std::vector<std::size_t> starts = VoicedPatchStarts(ref, refSpec.frames);
    if (starts.empty()) return tooShort();
    std::vector<std::vector<double>> bandMeans;
    const ComparedPair pair{ref, dec, &refBuilt, &decBuilt, &refSpec, &decSpec};
    score.patches = MatchPatches(pair, starts, bandMeans);
    if (score.patches.empty()) return Refusal("the decoded signal is too short or too different to score");

    // 3. The mean similarity and its MOS.
    double nsim = 0;
    for (std::size_t b = 0; b < kBands; ++b) {
        double band = 0;
        for (const std::vector<double> &m : bandMeans) band += m[b];
        nsim += band / static_cast<double>(bandMeans.size());
    }
    score.nsim = nsim / static_cast<double>(kBands);
    score.mos = score.nsim < kUnrelatedNsim ? 1.0 : NsimToMos(score.nsim);
    score.valid = true;
    return score;
}

VisqolScore MeasureVisqol(const std::string &referencePath, const std::string &decodedPath, int knownDelay) {
    std::vector<float> reference;
    std::vector<float> decoded;
    int referenceRate = 0;
    int decodedRate = 0;
    if (!ReadWaveSamples(referencePath, reference, referenceRate)) return Refusal("cannot read " + referencePath);
    if (!ReadWaveSamples(decodedPath, decoded, decodedRate)) return Refusal("cannot read " + decodedPath);
    if (referenceRate != decodedRate) return Refusal("the two files have different sample rates");
    return ScoreVisqol(reference, decoded, referenceRate, knownDelay);
}

} // namespace vntr::evaluator
