#include "quality.hpp"

#include "wave_samples.hpp"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <memory>
#include <mutex>

namespace vntr::evaluator {

std::mutex &FftwPlannerLock() {
    static std::mutex lock;
    return lock;
}

namespace {

constexpr double kMinSegmentSnr = -10.0;
constexpr double kMaxSegmentSnr = 35.0;
constexpr double kActivityRangeDb = 40.0;
// Bins more than this far below the reference frame's peak count as at this
// level in both spectra (50 dB below the formants nobody hears a difference).
constexpr double kSpectralRangeDb = 50.0;
const double kSpectralFloor = std::pow(10.0, -kSpectralRangeDb / 10.0);

struct FftwPlanDeleter {
    void operator()(fftw_plan_s *plan) const {
        const std::lock_guard<std::mutex> hold(FftwPlannerLock());
        fftw_destroy_plan(plan);
    }
};
using Plan = std::unique_ptr<fftw_plan_s, FftwPlanDeleter>;

Plan RealToComplex(std::size_t n, double *in, fftw_complex *out) {
    const std::lock_guard<std::mutex> hold(FftwPlannerLock());
    return Plan(fftw_plan_dft_r2c_1d(static_cast<int>(n), in, out, FFTW_ESTIMATE));
}
Plan ComplexToReal(std::size_t n, fftw_complex *in, double *out) {
    const std::lock_guard<std::mutex> hold(FftwPlannerLock());
    return Plan(fftw_plan_dft_c2r_1d(static_cast<int>(n), in, out, FFTW_ESTIMATE));
}

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

// Reads exactly out.size() samples, zeros past the end of the source.
void ReadPadded(SampleSource &source, std::span<float> out) {
    const std::size_t got = source.Read(out);
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(got), out.end(), 0.0f);
}

// The two sources side by side over the aligned overlap: the reference from
// its start, the decoded signal from `delay`, levelled by `scale`.
class AlignedPair {
public:
    AlignedPair(SampleSource &x, SampleSource &y, std::size_t delay, std::size_t overlap, bool scaled, double scale)
        : x_(x), y_(y), delay_(delay), overlap_(overlap), scaled_(scaled), scale_(scale) {}

    bool Start() {
        done_ = 0;
        return x_.Seek(0) && y_.Seek(delay_);
    }
    // The next min(n, what is left) samples of each; the count.
    std::size_t Next(std::span<float> x, std::span<float> y) {
        const std::size_t n = std::min(x.size(), overlap_ - done_);
        ReadPadded(x_, x.first(n));
        ReadPadded(y_, y.first(n));
        if (scaled_) {
            for (std::size_t i = 0; i < n; ++i) y[i] = static_cast<float>(scale_ * y[i]);
        }
        done_ += n;
        return n;
    }

private:
    SampleSource &x_;
    SampleSource &y_;
    std::size_t delay_;
    std::size_t overlap_;
    bool scaled_;
    double scale_;
    std::size_t done_ = 0;
};

} // namespace

// Cross-correlation of blocks: x's block and y's stretch are transformed,
// multiplied and transformed back, all in place in these arrays.
struct CompareWorkspace::Correlator {
    explicit Correlator(std::size_t size)
        : n(size), bins(size / 2 + 1), a(FftwArray<double>(size)), b(FftwArray<double>(size)),
          fa(FftwArray<fftw_complex>(bins)), fb(FftwArray<fftw_complex>(bins)),
          forwardA(RealToComplex(size, a.get(), fa.get())), forwardB(RealToComplex(size, b.get(), fb.get())),
          inverse(ComplexToReal(size, fa.get(), a.get())) {}

    std::size_t n;
    std::size_t bins;
    std::unique_ptr<double[], FftwFree> a;
    std::unique_ptr<double[], FftwFree> b;
    std::unique_ptr<fftw_complex[], FftwFree> fa;
    std::unique_ptr<fftw_complex[], FftwFree> fb;
    Plan forwardA;
    Plan forwardB;
    Plan inverse;
};

// Log-spectral distance of frames of `frame` samples.
struct CompareWorkspace::Spectra {
    explicit Spectra(std::size_t size)
        : frame(size), bins(size / 2 + 1), in(FftwArray<double>(size)), spectrum(FftwArray<fftw_complex>(bins)),
          plan(RealToComplex(size, in.get(), spectrum.get())), window(size), reference(bins), decoded(bins) {
        for (std::size_t i = 0; i < frame; ++i) {
            window[i] = 0.5 - 0.5 * std::cos(2.0 * M_PI * static_cast<double>(i) / static_cast<double>(frame));
        }
    }
    double Distance(std::span<const float> x, std::span<const float> y) {
        PowerSpectrum(x, reference);
        PowerSpectrum(y, decoded);
        return FrameSpectralDistance(reference, decoded);
    }
    void PowerSpectrum(std::span<const float> part, std::vector<double> &power) {
        for (std::size_t i = 0; i < frame; ++i) in[i] = part[i] * window[i];
        fftw_execute(plan.get());
        for (std::size_t k = 0; k < bins; ++k) {
            power[k] = spectrum[k][0] * spectrum[k][0] + spectrum[k][1] * spectrum[k][1];
        }
    }

    std::size_t frame;
    std::size_t bins;
    std::unique_ptr<double[], FftwFree> in;
    std::unique_ptr<fftw_complex[], FftwFree> spectrum;
    Plan plan;
    std::vector<double> window;
    std::vector<double> reference;
    std::vector<double> decoded;
};

CompareWorkspace::CompareWorkspace() = default;
CompareWorkspace::~CompareWorkspace() = default;

std::size_t CompareWorkspace::PlanCount() const {
    return 3 * correlators_.size() + spectra_.size();
}

CompareWorkspace::Correlator &CompareWorkspace::CorrelatorFor(std::size_t n) {
    for (const auto &c : correlators_) {
        if (c->n == n) return *c;
    }
    correlators_.push_back(std::make_unique<Correlator>(n));
    return *correlators_.back();
}

CompareWorkspace::Spectra &CompareWorkspace::SpectraFor(std::size_t frame) {
    for (const auto &s : spectra_) {
        if (s->frame == frame) return *s;
    }
    spectra_.push_back(std::make_unique<Spectra>(frame));
    return *spectra_.back();
}

std::vector<float> &CompareWorkspace::Buffer(std::size_t which) {
    return buffers_[which];
}

std::size_t SpanSource::Read(std::span<float> out) {
    const std::size_t n = std::min(out.size(), samples_.size() - at_);
    std::copy_n(samples_.begin() + static_cast<std::ptrdiff_t>(at_), n, out.begin());
    at_ += n;
    return n;
}

bool SpanSource::Seek(std::size_t sample) {
    if (sample > samples_.size()) return false;
    at_ = sample;
    return true;
}

double FrameSpectralDistance(std::span<const double> referencePower, std::span<const double> decodedPower) {
    const std::size_t bins = std::min(referencePower.size(), decodedPower.size());
    if (bins == 0) return 0.0;
    const double peak =
        *std::max_element(referencePower.begin(), referencePower.begin() + static_cast<std::ptrdiff_t>(bins));
    // A silent reference frame has no level to measure against (such a frame
    // is never an active one).
    if (!(peak > 0)) return 0.0;
    const double floor = peak * kSpectralFloor;
    double sum = 0;
    for (std::size_t k = 0; k < bins; ++k) {
        const double d = 10.0 * std::log10(std::max(referencePower[k], floor) / std::max(decodedPower[k], floor));
        sum += d * d;
    }
    return std::sqrt(sum / static_cast<double>(bins));
}

bool ReadWaveSamples(const std::string &path, std::vector<float> &samples, int &sampleRate) {
    samples.clear();
    WaveSampleReader reader;
    if (!reader.Open(path)) return false;
    sampleRate = reader.SampleRate();
    samples.resize(static_cast<std::size_t>(reader.Frames()));
    samples.resize(reader.ReadMono(samples));
    return true;
}

std::vector<double> CrossCorrelation(SampleSource &x, SampleSource &y, int maxLag) {
    CompareWorkspace workspace;
    return CrossCorrelation(x, y, maxLag, workspace);
}

std::vector<double> CrossCorrelation(SampleSource &x, SampleSource &y, int maxLag, CompareWorkspace &workspace) {
    const std::size_t lags = static_cast<std::size_t>(std::max(maxLag, 0)) + 1;
    std::vector<double> r(lags, 0.0);
    // Blocks of `block` samples of x, each against the `n` samples of y that
    // its lags reach; n is a power of two at least four times the lag range,
    // so that most of each transform is new signal.
    const std::size_t n = NextPowerOfTwo(std::max<std::size_t>(4 * lags, 8192));
    const std::size_t block = n - (lags - 1);
    CompareWorkspace::Correlator &c = workspace.CorrelatorFor(n);
    const std::size_t bins = c.bins;
    double *const a = c.a.get();
    double *const b = c.b.get();
    fftw_complex *const fa = c.fa.get();
    fftw_complex *const fb = c.fb.get();
    if (!x.Seek(0) || !y.Seek(0)) return r;
    std::vector<float> &xs = workspace.Buffer(0);
    std::vector<float> &ys = workspace.Buffer(1);
    xs.resize(block);
    ys.resize(n);
    ReadPadded(y, ys);
    const std::size_t end = std::min(x.Size(), y.Size());
    for (std::size_t at = 0; at < end; at += block) {
        ReadPadded(x, xs);
        std::copy(xs.begin(), xs.end(), a);
        std::fill(a + block, a + n, 0.0);
        std::copy(ys.begin(), ys.end(), b);
        fftw_execute(c.forwardA.get());
        fftw_execute(c.forwardB.get());
        // r[L] = sum x[k] y[k+L]  <=>  conj(X) * Y.
        for (std::size_t k = 0; k < bins; ++k) {
            const std::complex<double> cx(fa[k][0], fa[k][1]);
            const std::complex<double> cy(fb[k][0], fb[k][1]);
            const std::complex<double> product = std::conj(cx) * cy;
            fa[k][0] = product.real();
            fa[k][1] = product.imag();
        }
        fftw_execute(c.inverse.get());
        for (std::size_t lag = 0; lag < lags; ++lag) r[lag] += a[lag] / static_cast<double>(n);
        // The next block's stretch of y starts `block` samples on.
        std::copy(ys.begin() + static_cast<std::ptrdiff_t>(block), ys.end(), ys.begin());
        ReadPadded(y, std::span<float>(ys).subspan(n - block));
    }
    return r;
}

int FindDelay(SampleSource &reference, SampleSource &decoded, int maxLag) {
    CompareWorkspace workspace;
    return FindDelay(reference, decoded, maxLag, workspace);
}

int FindDelay(SampleSource &reference, SampleSource &decoded, int maxLag, CompareWorkspace &workspace) {
    if (reference.Size() == 0 || decoded.Size() == 0 || maxLag <= 0) return 0;
    const std::vector<double> r = CrossCorrelation(reference, decoded, maxLag, workspace);
    int best = 0;
    double bestValue = -HUGE_VAL;
    const int limit = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(maxLag), decoded.Size() - 1));
    for (int lag = 0; lag <= limit; ++lag) {
        if (r[static_cast<std::size_t>(lag)] > bestValue) {
            bestValue = r[static_cast<std::size_t>(lag)];
            best = lag;
        }
    }
    return best;
}

int FindDelay(std::span<const float> reference, std::span<const float> decoded, int maxLag) {
    SpanSource x(reference);
    SpanSource y(decoded);
    return FindDelay(x, y, maxLag);
}

Quality CompareSources(SampleSource &reference, SampleSource &decoded, int sampleRate, const CompareOptions &options) {
    CompareWorkspace workspace;
    return CompareSources(reference, decoded, sampleRate, options, workspace);
}

Quality CompareSources(SampleSource &reference, SampleSource &decoded, int sampleRate, const CompareOptions &options,
                       CompareWorkspace &workspace) {
    Quality q;
    if (sampleRate <= 0 || reference.Size() == 0 || decoded.Size() == 0) return q;

    // 1. The alignment.
    const int delay =
        options.delay >= 0
            ? options.delay
            : FindDelay(reference, decoded, options.maxDelay >= 0 ? options.maxDelay : sampleRate / 4, workspace);
    if (static_cast<std::size_t>(delay) >= decoded.Size()) return q;
    const std::size_t overlap = std::min(reference.Size(), decoded.Size() - static_cast<std::size_t>(delay));
    const std::size_t segment = std::max<std::size_t>(1, static_cast<std::size_t>(sampleRate) / 50);

    // 2. The loudest 20 ms of the reference, and the decoded signal's gain.
    double loudest = 0;
    double xy = 0;
    double yy = 0;
    {
        AlignedPair pair(reference, decoded, static_cast<std::size_t>(delay), overlap, false, 1.0);
        if (!pair.Start()) return q;
        std::vector<float> &x = workspace.Buffer(0);
        std::vector<float> &y = workspace.Buffer(1);
        x.resize(segment);
        y.resize(segment);
        for (std::size_t n; (n = pair.Next(x, y)) > 0;) {
            // A short piece at the end is no segment; it counts in the gain only.
            if (n == segment) loudest = std::max(loudest, Energy(x));
            for (std::size_t i = 0; i < n; ++i) {
                xy += static_cast<double>(x[i]) * y[i];
                yy += static_cast<double>(y[i]) * y[i];
            }
        }
    }
    q.gain = yy > 0 ? xy / yy : 1.0;
    const double activity = loudest * std::pow(10.0, -kActivityRangeDb / 10.0);

    // 3. The measures, over hops of half a spectral frame.
    std::size_t frame = 1;
    while (frame * 2 <= static_cast<std::size_t>(sampleRate) * 32 / 1000) frame *= 2;
    frame = std::max<std::size_t>(frame, 16);
    const std::size_t hop = frame / 2;
    const double frameActivity = activity * static_cast<double>(frame) / static_cast<double>(segment);
    CompareWorkspace::Spectra &spectra = workspace.SpectraFor(frame);
    AlignedPair pair(reference, decoded, static_cast<std::size_t>(delay), overlap, options.matchLevel, q.gain);
    if (!pair.Start()) return q;
    // The previous hop in the first half, the current one in the second.
    std::vector<float> &x = workspace.Buffer(2);
    std::vector<float> &y = workspace.Buffer(3);
    x.assign(frame, 0.0f);
    y.assign(frame, 0.0f);
    const std::span<float> xNow = std::span<float>(x).subspan(hop);
    const std::span<float> yNow = std::span<float>(y).subspan(hop);
    double signal = 0;
    double noise = 0;
    double segmentSignal = 0;
    double segmentNoise = 0;
    double segmentDecoded = 0;
    double activeSignal = 0;
    double activeDecoded = 0;
    std::size_t inSegment = 0;
    FrameQuality &frames = q.frames;
    frames.snr.frameSeconds = frames.snr.stepSeconds = static_cast<double>(segment) / sampleRate;
    frames.snr.firstCentreSeconds = frames.snr.frameSeconds / 2;
    frames.lsd.frameSeconds = static_cast<double>(frame) / sampleRate;
    frames.lsd.stepSeconds = static_cast<double>(hop) / sampleRate;
    frames.lsd.firstCentreSeconds = frames.lsd.frameSeconds / 2;
    frames.snr.db.reserve(overlap / segment);
    frames.snr.active.reserve(overlap / segment);
    frames.lsd.db.reserve(overlap / hop);
    frames.lsd.active.reserve(overlap / hop);
    double segSum = 0;
    std::size_t active = 0;
    double lsdSum = 0;
    std::size_t lsdFrames = 0;
    for (std::size_t hops = 0;; ++hops) {
        const std::size_t n = pair.Next(xNow, yNow);
        for (std::size_t i = 0; i < n; ++i) {
            const float e = xNow[i] - yNow[i];
            const double xx = static_cast<double>(xNow[i]) * xNow[i];
            const double ee = static_cast<double>(e) * e;
            signal += xx;
            noise += ee;
            segmentSignal += xx;
            segmentNoise += ee;
            segmentDecoded += static_cast<double>(yNow[i]) * yNow[i];
            if (++inSegment == segment) {
                const bool isActive = segmentSignal > activity && segmentSignal != 0;
                const double snr =
                    std::clamp(segmentNoise > 0 ? 10.0 * std::log10(segmentSignal / segmentNoise) : kMaxSegmentSnr,
                               kMinSegmentSnr, kMaxSegmentSnr);
                if (isActive) {
                    segSum += snr;
                    ++active;
                    activeSignal += segmentSignal;
                    activeDecoded += segmentDecoded;
                }
                frames.snr.db.push_back(static_cast<float>(snr));
                frames.snr.active.push_back(isActive ? 1 : 0);
                segmentSignal = 0;
                segmentNoise = 0;
                segmentDecoded = 0;
                inSegment = 0;
            }
        }
        if (n < hop) break;
        if (hops > 0) {
            const bool isActive = Energy(x) > frameActivity;
            double distance = 0;
            if (isActive) {
                distance = spectra.Distance(x, y);
                lsdSum += distance;
                ++lsdFrames;
            }
            frames.lsd.db.push_back(static_cast<float>(distance));
            frames.lsd.active.push_back(isActive ? 1 : 0);
        }
        std::copy(xNow.begin(), xNow.end(), x.begin());
        std::copy(yNow.begin(), yNow.end(), y.begin());
    }

    q.valid = true;
    frames.valid = true;
    q.levelGain = activeSignal > 0 && activeDecoded > 0 ? std::sqrt(activeSignal / activeDecoded) : 1.0;
    q.delaySamples = delay;
    q.comparedSamples = static_cast<uint32_t>(overlap);
    q.snrDb = noise > 0 ? 10.0 * std::log10(std::max(signal, 1e-9) / noise) : kMaxSegmentSnr * 4;
    q.segmentalSnrDb = active > 0 ? segSum / static_cast<double>(active) : 0.0;
    q.logSpectralDistanceDb = lsdFrames > 0 ? lsdSum / static_cast<double>(lsdFrames) : 0.0;
    return q;
}

Quality CompareSignals(std::span<const float> reference, std::span<const float> decoded, int sampleRate,
                       const CompareOptions &options) {
    SpanSource x(reference);
    SpanSource y(decoded);
    return CompareSources(x, y, sampleRate, options);
}

std::size_t WaveSource::Size() const {
    return static_cast<std::size_t>(reader_.Frames());
}
std::size_t WaveSource::Read(std::span<float> out) {
    return reader_.ReadMono(out);
}
bool WaveSource::Seek(std::size_t sample) {
    return reader_.Seek(sample);
}

Quality MeasureQuality(const std::string &referencePath, const std::string &decodedPath) {
    CompareWorkspace workspace;
    return MeasureQuality(referencePath, decodedPath, workspace);
}

Quality MeasureQuality(const std::string &referencePath, const std::string &decodedPath, CompareWorkspace &workspace) {
    return MeasureQuality(referencePath, decodedPath, CompareOptions{}, workspace);
}

Quality MeasureQuality(const std::string &referencePath, const std::string &decodedPath, const CompareOptions &options,
                       CompareWorkspace &workspace) {
    WaveSampleReader reference;
    WaveSampleReader decoded;
    if (!reference.Open(referencePath) || !decoded.Open(decodedPath) ||
        reference.SampleRate() != decoded.SampleRate()) {
        return Quality{};
    }
    WaveSource x(reference);
    WaveSource y(decoded);
    return CompareSources(x, y, reference.SampleRate(), options, workspace);
}

} // namespace vntr::evaluator
