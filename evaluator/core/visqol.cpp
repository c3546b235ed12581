#include "visqol.hpp"

#include "quality.hpp"
#include "visqol_parts.hpp"
#include "wave_samples.hpp"

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

// The shortest original the model can score: one patch, centred as the
// voice-activity selection places it, in 80 ms frames every 20 ms.
double ShortestScoredSeconds() {
    using namespace visqol;
    return static_cast<double>(kWindow + (kPatchFrames / 2 - 1 + kPatchFrames - 1) * kHop) / kVisqolRate;
}

VisqolScore TooShort() {
    char text[96];
    std::snprintf(text, sizeof text, "too short to score (ViSQOL needs %.2f s of the original)",
                  ShortestScoredSeconds());
    return Refusal(text);
}

// Scores one stretch as the reference implementation scores a whole file,
// leaving the per-band similarities of its matched patches in `bandMeans`
// (the score's own mean and MOS are left to the caller).
VisqolScore ScoreStretch(std::span<const float> reference, std::span<const float> decoded, int sampleRate,
                         bool alignGlobally, std::vector<std::vector<double>> &bandMeans) {
    using namespace visqol;
    if (sampleRate <= 0 || reference.empty() || decoded.empty()) return Refusal("nothing to score");
    const std::vector<double> ref = ToUnitScale(reference, sampleRate);
    std::vector<double> dec = ToUnitScale(decoded, sampleRate);
    if (ref.empty() || dec.empty()) return Refusal("cannot resample to 16 kHz");
    if (static_cast<double>(ref.size()) / kVisqolRate < ShortestScoredSeconds()) return TooShort();

    VisqolScore score;
    // The decoded signal aligned to the reference and levelled to it.
    if (alignGlobally) {
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

    // The spectrograms and the patches.
    const Spectrogram refBuilt = BuildSpectrogram(ref);
    const Spectrogram decBuilt = BuildSpectrogram(dec);
    if (refBuilt.frames == 0) return TooShort();
    if (decBuilt.frames == 0) return Refusal("the decoded signal is too short to score");
    Spectrogram refSpec = refBuilt;
    Spectrogram decSpec = decBuilt;
    PrepareForComparison(refSpec, decSpec);
    const std::vector<std::size_t> starts = VoicedPatchStarts(ref, refSpec.frames);
    if (starts.empty()) return TooShort();
    const ComparedPair pair{ref, dec, &refBuilt, &decBuilt, &refSpec, &decSpec};
    score.patches = MatchPatches(pair, starts, bandMeans);
    if (score.patches.empty()) return Refusal("the decoded signal is too short or too different to score");
    score.valid = true;
    return score;
}

// The mean similarity over bands of the patches' per-band means, and its MOS.
void Conclude(VisqolScore &score, const std::vector<std::vector<double>> &bandMeans) {
    using namespace visqol;
    double nsim = 0;
    for (std::size_t b = 0; b < kBands; ++b) {
        double band = 0;
        for (const std::vector<double> &m : bandMeans) band += m[b];
        nsim += band / static_cast<double>(bandMeans.size());
    }
    score.nsim = nsim / static_cast<double>(kBands);
    score.mos = score.nsim < kUnrelatedNsim ? 1.0 : NsimToMos(score.nsim);
}

std::size_t ReadStretch(SampleSource &source, std::size_t start, std::size_t end, std::vector<float> &out) {
    out.clear();
    if (start >= end || start >= source.Size() || !source.Seek(start)) return 0;
    out.resize(std::min(end, source.Size()) - start);
    out.resize(source.Read(out));
    return out.size();
}

// A signal longer than a stretch is scored in stretches of equal length
// (each at most `stretchSeconds`), read one at a time, so that the memory a
// score takes stays that of one stretch (a whole hour's transforms and
// spectrograms would take gigabytes).  The patches of all stretches make
// one mean, as the patches of one file do; only the global alignment, the
// level and the spectrogram's floor are taken per stretch.  Once the first
// stretch has shown how late the decoded signal is, the later decoded
// stretches are read that much later, so that a coder's delay loses nothing
// at the seams.
// With a known delay the decoded stretches are read that much later from
// the start and no stretch searches its own alignment.
VisqolScore ScoreSources(SampleSource &reference, SampleSource &decoded, int sampleRate, double stretchSeconds,
                         int knownDelay) {
    const std::size_t total = reference.Size();
    if (sampleRate <= 0 || total == 0 || decoded.Size() == 0) return Refusal("nothing to score");
    const auto longest = static_cast<std::size_t>(std::max(1.0, stretchSeconds * sampleRate));
    const std::size_t count = (total + longest - 1) / longest;
    const std::size_t length = (total + count - 1) / count;
    const bool known = knownDelay >= 0;
    long shift = known ? knownDelay : 0; // how late the decoded signal is, from the first stretch scored
    const double knownLag = known ? -static_cast<double>(knownDelay) / sampleRate : 0.0;

    std::vector<float> ref;
    std::vector<float> dec;
    std::vector<std::vector<double>> bandMeans;
    VisqolScore whole;
    VisqolScore firstRefusal;
    bool anyScored = false;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t start = i * length;
        const std::size_t end = std::min(total, start + length);
        const auto moved = [&](std::size_t at) {
            return static_cast<std::size_t>(std::max(0L, static_cast<long>(at) + shift));
        };
        const std::size_t decodedEnd = i + 1 == count ? decoded.Size() : moved(end);
        ReadStretch(reference, start, end, ref);
        ReadStretch(decoded, moved(start), decodedEnd, dec);
        std::vector<std::vector<double>> stretchMeans;
        VisqolScore part = ScoreStretch(ref, dec, sampleRate, !known, stretchMeans);
        if (known) part.lagSeconds = knownLag;
        if (count == 1) {
            if (part.valid && !part.patches.empty()) Conclude(part, stretchMeans);
            return part;
        }
        if (!part.valid || part.patches.empty()) {
            // A stretch of silence has nothing to score; a stretch whose
            // decoded signal is silent scores as low as the scale goes.
            if (part.valid) {
                char text[96];
                std::snprintf(text, sizeof text, "the decoded signal is silent from %.0f s",
                              static_cast<double>(start) / sampleRate);
                part.message = text;
                return part;
            }
            if (firstRefusal.message.empty()) firstRefusal = std::move(part);
            continue;
        }
        const double offset = static_cast<double>(start) / sampleRate;
        if (!anyScored) {
            whole.lagSeconds = part.lagSeconds;
            if (!known) shift = std::lround(-part.lagSeconds * sampleRate);
        }
        anyScored = true;
        bandMeans.insert(bandMeans.end(), stretchMeans.begin(), stretchMeans.end());
        for (VisqolPatch patch : part.patches) {
            patch.referenceStart += offset;
            patch.referenceEnd += offset;
            patch.decodedStart += offset;
            patch.decodedEnd += offset;
            whole.patches.push_back(patch);
        }
    }
    if (!anyScored) return firstRefusal;
    whole.valid = true;
    Conclude(whole, bandMeans);
    return whole;
}

} // namespace

VisqolScore ScoreVisqol(std::span<const float> reference, std::span<const float> decoded, int sampleRate,
                        double stretchSeconds, int knownDelay) {
    SpanSource x(reference);
    SpanSource y(decoded);
    return ScoreSources(x, y, sampleRate, stretchSeconds, knownDelay);
}

VisqolScore MeasureVisqol(const std::string &referencePath, const std::string &decodedPath, int knownDelay) {
    WaveSampleReader reference;
    WaveSampleReader decoded;
    if (!reference.Open(referencePath)) return Refusal("cannot read " + referencePath);
    if (!decoded.Open(decodedPath)) return Refusal("cannot read " + decodedPath);
    if (reference.SampleRate() != decoded.SampleRate()) return Refusal("the two files have different sample rates");
    WaveSource x(reference);
    WaveSource y(decoded);
    return ScoreSources(x, y, reference.SampleRate(), kVisqolStretchSeconds, knownDelay);
}

} // namespace vntr::evaluator
