// Objective quality of a decoded file against the input it was coded from.
//
// The decoded signal is first aligned to the input: the codec's delay is the
// lag (0 to 250 ms) that maximises the cross-correlation of the two.  Over
// the aligned overlap:
//  - SNR: input energy over error energy, in dB;
//  - segmental SNR: the mean over 20 ms frames of the frame SNR, each clamped
//    to -10..35 dB, over frames whose input energy is within 40 dB of the
//    loudest frame (silence would dominate it otherwise);
//  - log-spectral distance: the RMS over frequency of the difference of the
//    two log power spectra (Hann-windowed frames of about 32 ms, half
//    overlapped), averaged over the same active frames, in dB.  Both spectra
//    of a frame are floored 50 dB below the reference frame's peak: what
//    lies deeper is inaudible beside the formants, so a band that a coder
//    leaves empty costs little while a misplaced formant costs much.
//
// Everything is computed a block at a time from two sample sources (files
// are read, never held whole), in three passes: the alignment, the level of
// the loudest frame and the gain, then the measures.  The figures are those
// of the same sums taken over whole-signal copies.
#pragma once

#include "frame_quality.hpp"
#include "visqol.hpp"

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace vntr::evaluator {

// FFTW's planner is not reentrant and the corpus runs compare on several
// threads at once: every FFTW plan of the process is made and destroyed
// under this one lock.
std::mutex &FftwPlannerLock();
// libsoxr fills a process-wide cache of transform tables without a lock of
// its own: every resampler of the process is made and deleted under this one.
std::mutex &ResamplerLock();

// Objective quality of a decoded file against the input it was coded from.
struct Quality {
    bool valid = false;
    int32_t delaySamples = 0; // decoded lags the input by this many samples
    uint32_t comparedSamples = 0;
    double snrDb = 0;          // whole-file signal-to-noise ratio
    double segmentalSnrDb = 0; // mean of per-frame SNRs (20 ms frames, clamped to -10..35 dB)
    double logSpectralDistanceDb = 0;
    double gain = 1; // least-squares gain of the aligned decoded signal against the input
    // The factor that brings the aligned decoded signal to the input's energy
    // over the input's active segments (as LevelMatchGain); 1 when either is silent.
    double levelGain = 1;
    // The same measures frame by frame (as MeasureFrames), for pictures over
    // time; the spectral distance of an inactive frame is not computed (0).
    FrameQuality frames;
    // ViSQOL v3 speech mode (visqol.hpp), when it could score the pair.
    bool visqolValid = false;
    double visqolMos = 0;   // MOS-LQO, 1..5
    double visqolNsim = 0;  // mean NSIM
    std::string visqolNote; // why there is no score
    // The external scorer's (external_scorer.hpp) when one was run: its
    // name, and its score or why there is none.
    std::string scorerName;
    bool scorerValid = false;
    double scorerValue = 0;
    std::string scorerNote;
    std::vector<VisqolPatch> visqolPatches; // the score's patches, for a curve over time
};

// How to compare.  The evaluator uses the defaults; the measuring tool can
// impose a known delay or level the decoded signal first.
struct CompareOptions {
    int delay = -1;          // >= 0: the decoded signal's known lag; otherwise found
    int maxDelay = -1;       // the largest lag searched; < 0: a quarter of a second
    bool matchLevel = false; // scale the decoded signal by its least-squares gain before measuring
};

// Mono samples on the 16-bit scale, read a block at a time from a start
// that can be sought.
class SampleSource {
public:
    virtual ~SampleSource() = default;
    virtual std::size_t Size() const = 0;
    // The next samples; fewer than out.size() only at the end (or on an error).
    virtual std::size_t Read(std::span<float> out) = 0;
    virtual bool Seek(std::size_t sample) = 0;
};

class SpanSource final : public SampleSource {
public:
    explicit SpanSource(std::span<const float> samples) : samples_(samples) {}
    std::size_t Size() const override { return samples_.size(); }
    std::size_t Read(std::span<float> out) override;
    bool Seek(std::size_t sample) override;

private:
    std::span<const float> samples_;
    std::size_t at_ = 0;
};

class WaveSampleReader;

// The mono samples of an open wave file (WaveSampleReader::ReadMono).
class WaveSource final : public SampleSource {
public:
    explicit WaveSource(WaveSampleReader &reader) : reader_(reader) {}
    std::size_t Size() const override;
    std::size_t Read(std::span<float> out) override;
    bool Seek(std::size_t sample) override;

private:
    WaveSampleReader &reader_;
};

// Reads a PCM wave file as mono samples on the 16-bit scale (8-bit samples
// are centred and scaled, stereo channels averaged).  False when the file is
// not a readable PCM wave.
bool ReadWaveSamples(const std::string &path, std::vector<float> &samples, int &sampleRate);

// The transforms and block buffers that comparisons use, kept from one
// comparison to the next: an FFTW plan is made once for each transform size
// and lives as long as the workspace.  A run over many originals thus plans
// nothing after its first few comparisons, and its heap sees no churn of
// plans, twiddle tables and buffers (which left a worker's arena ever more
// fragmented).  Plans are made for powers of two only (the correlation's
// blocks and the spectral frames), so their number stays small whatever the
// lengths of the signals.  One workspace serves one thread at a time.
class CompareWorkspace {
public:
    CompareWorkspace();
    ~CompareWorkspace();
    CompareWorkspace(const CompareWorkspace &) = delete;
    CompareWorkspace &operator=(const CompareWorkspace &) = delete;

    // FFTW plans the workspace holds.
    std::size_t PlanCount() const;

    struct Correlator;
    struct Spectra;
    // The correlator of blocks of n samples, the comparer of frames of
    // `frame` samples: made on first use, then the same object.
    Correlator &CorrelatorFor(std::size_t n);
    Spectra &SpectraFor(std::size_t frame);
    // Sample buffers that keep their capacity between comparisons.
    std::vector<float> &Buffer(std::size_t which);

private:
    std::vector<std::unique_ptr<Correlator>> correlators_;
    std::vector<std::unique_ptr<Spectra>> spectra_;
    std::vector<float> buffers_[4];
};

// r[L] = sum over k of x[k] y[k + L] for L in 0..maxLag (y is zero past its
// end), from FFTs of blocks of x against the stretch of y they can reach.
std::vector<double> CrossCorrelation(SampleSource &x, SampleSource &y, int maxLag);
std::vector<double> CrossCorrelation(SampleSource &x, SampleSource &y, int maxLag, CompareWorkspace &workspace);

// The lag of `decoded` behind `reference` in 0..maxLag (and before the end
// of `decoded`) that maximises their cross-correlation; the first of equals.
int FindDelay(SampleSource &reference, SampleSource &decoded, int maxLag);
int FindDelay(SampleSource &reference, SampleSource &decoded, int maxLag, CompareWorkspace &workspace);
int FindDelay(std::span<const float> reference, std::span<const float> decoded, int maxLag);

// The log-spectral distance of one frame, in dB: the RMS over bins of the
// difference of the two log power spectra, each bin held at least 50 dB
// below the reference frame's strongest bin.
double FrameSpectralDistance(std::span<const double> referencePower, std::span<const double> decodedPower);

// Without a workspace, a comparison makes its own and lets it go.
Quality CompareSources(SampleSource &reference, SampleSource &decoded, int sampleRate,
                       const CompareOptions &options = {});
Quality CompareSources(SampleSource &reference, SampleSource &decoded, int sampleRate, const CompareOptions &options,
                       CompareWorkspace &workspace);
Quality CompareSignals(std::span<const float> reference, std::span<const float> decoded, int sampleRate,
                       const CompareOptions &options = {});

// Compares two files a block at a time; invalid when either cannot be read
// or their rates differ.
Quality MeasureQuality(const std::string &referencePath, const std::string &decodedPath);
Quality MeasureQuality(const std::string &referencePath, const std::string &decodedPath, CompareWorkspace &workspace);
Quality MeasureQuality(const std::string &referencePath, const std::string &decodedPath, const CompareOptions &options,
                       CompareWorkspace &workspace);

} // namespace vntr::evaluator
