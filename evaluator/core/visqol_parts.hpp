// The stages of the ViSQOL score (visqol.hpp), one file each: the global and
// per-patch alignment (visqol_alignment.cpp), the gammatone spectrogram
// (visqol_gammatone.cpp), the patches, their matching and the similarity
// index (visqol_patches.cpp).  Signals here are at 16 kHz on the -1..1
// scale, spectrograms band-major (band b, frame t at [b * frames + t]).
#pragma once

#include "visqol.hpp"

#include <cstddef>
#include <span>
#include <vector>

namespace vntr::evaluator::visqol {

constexpr std::size_t kBands = 21;
constexpr double kLowestFrequency = 50.0;
constexpr double kHighestFrequency = 8000.0;
constexpr std::size_t kWindow = 1280; // 80 ms frames
constexpr std::size_t kHop = 320;     // every 20 ms
constexpr std::size_t kPatchFrames = 20;
constexpr int kSearchRadiusPatches = 60; // the matching looks this many patches either way
constexpr double kFrameSeconds = static_cast<double>(kHop) / kVisqolRate;

// ---- alignment ----

// The lag (samples) that best lines `decoded` up with `reference`: the
// maximum over lags L of sum_m env_ref[m + L] env_dec[m] of their envelopes,
// the first of equals.  A negative lag means the decoded signal is late.
long BestLag(std::span<const double> reference, std::span<const double> decoded);

// The decoded signal moved by the best lag (leading samples dropped, or
// zeros put before it), unless that lag is 0 or over half the reference's
// length.  Returns the lag applied, in samples.
long AlignGlobally(std::span<const double> reference, std::vector<double> &decoded);

// Aligns a patch's two stretches and cuts them to a common length; the lag
// in seconds (positive: the decoded stretch was moved later).
double AlignAndTruncate(std::vector<double> &reference, std::vector<double> &decoded);

// ---- gammatone spectrogram ----

// A spectrogram: kBands rows of `frames` columns, band 0 the lowest.
struct Spectrogram {
    std::size_t frames = 0;
    std::vector<double> data;
    double &At(std::size_t band, std::size_t frame) { return data[band * frames + frame]; }
    double At(std::size_t band, std::size_t frame) const { return data[band * frames + frame]; }
};

// The centre frequencies of the bands, lowest first.
std::vector<double> BandCentres();

// RMS of each band over each Hann-windowed 80 ms frame (filters started
// afresh for each frame); no frames when the signal is not longer than one.
Spectrogram BuildSpectrogram(std::span<const double> signal);

// In dB, floored at -45 dB and 45 dB below the louder of the two frames'
// peaks, then shifted so that the lower of the two floors is 0.
void PrepareForComparison(Spectrogram &reference, Spectrogram &decoded);

// ---- patches and similarity ----

// The first frames of the reference's patches that hold voice activity.
std::vector<std::size_t> VoicedPatchStarts(std::span<const double> reference, std::size_t frames);

// NSIM of two patches of the same size (kBands rows, `columns` frames): the
// per-band means of the similarity map.
std::vector<double> PatchBandSimilarity(std::span<const double> reference, std::span<const double> decoded,
                                        std::size_t columns);

// The two signals being compared and their spectrograms: as built (the
// band RMS, which the patches' realignment reuses where a realigned stretch
// starts on a frame of the whole signal) and prepared for comparison.
struct ComparedPair {
    std::span<const double> referenceSignal;
    std::span<const double> decodedSignal;
    const Spectrogram *referenceBuilt = nullptr;
    const Spectrogram *decodedBuilt = nullptr;
    const Spectrogram *reference = nullptr;
    const Spectrogram *decoded = nullptr;
};

// Matches the patches, realigns them and measures them.  Empty when no
// patch can be matched.
std::vector<VisqolPatch> MatchPatches(const ComparedPair &pair, std::span<const std::size_t> patchStarts,
                                      std::vector<std::vector<double>> &bandMeans);

// The exponential fit of mean NSIM to MOS-LQO (scaled so that the fit's top
// is 5, clamped to 1..5).
double NsimToMos(double nsim);

} // namespace vntr::evaluator::visqol
