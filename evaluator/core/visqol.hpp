// ViSQOL v3 in speech mode: a perceptual quality score (MOS-LQO, 1 to 5) of
// a decoded signal against the input it was coded from.
//
// Both signals are brought to 16 kHz (libsoxr), the decoded one aligned to
// the input by the cross-correlation of their envelopes and levelled to the
// input's sound pressure level.  A gammatone filter bank of 21 bands (50 Hz
// to 8 kHz) turns each into a spectrogram of 80 ms frames every 20 ms, in dB
// above a common floor.  The input's voiced stretches are cut into patches of
// 20 frames (0.4 s); each is matched to the decoded stretch most like it (a
// dynamic programme that keeps the matches in order), finely realigned, and
// compared by the neurogram similarity index (NSIM: local intensity and
// structure, a 3x3 window).  The mean NSIM over bands and patches maps to the
// score by the exponential fit of the reference implementation
// (google/visqol, speech mode without the lattice model).
//
// The score is a model of 16 kHz listening tests: narrowband speech (8 kHz
// codecs, empty above 4 kHz in both signals) scores towards the top of the
// scale, and the fit was made on waveform codecs and network impairments,
// not on parametric vocoders.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>

namespace vntr::evaluator {

// One reference patch and the decoded stretch matched to it (seconds on the
// 16 kHz time line of each signal, the decoded one after the global alignment).
struct VisqolPatch {
    double similarity = 0; // NSIM, the mean over bands; 0 for a patch left unmatched
    double referenceStart = 0;
    double referenceEnd = 0;
    double decodedStart = 0;
    double decodedEnd = 0;
};

struct VisqolScore {
    bool valid = false;
    std::string message;   // why there is no score ("too short to score ...")
    double mos = 0;        // MOS-LQO, 1..5
    double nsim = 0;       // mean NSIM over bands and patches (the mean of the patches' similarities)
    double lagSeconds = 0; // the global alignment: the decoded signal was moved later by this much
    std::vector<VisqolPatch> patches;
};

// The sample rate the model works at.
constexpr int kVisqolRate = 16000;

// Originals longer than this are scored in stretches of at most this long,
// read one at a time, whose patches make one mean (a whole file's transforms
// would take gigabytes for an hour).  Shorter ones are scored whole, as the
// reference implementation scores a file.
constexpr double kVisqolStretchSeconds = 60.0;

// Scores `decoded` against `reference`, both at `sampleRate` on the 16-bit
// scale (as SampleSource gives them).  Signals at another rate than 16 kHz
// are resampled first.  With `knownDelay` >= 0 the decoded signal is taken
// to lag the reference by that many samples (at `sampleRate`): they are
// dropped and no global alignment is searched, so that the score compares
// the pair the other measures compared.
VisqolScore ScoreVisqol(std::span<const float> reference, std::span<const float> decoded, int sampleRate,
                        int knownDelay = -1, double stretchSeconds = kVisqolStretchSeconds);

// Scores two wave files (mono or mixed down, any one rate for both), read a
// stretch at a time.
VisqolScore MeasureVisqol(const std::string &referencePath, const std::string &decodedPath, int knownDelay = -1);

// A signal at `sampleRate` on the 16-bit scale brought to 16 kHz (libsoxr,
// high quality, same scale); the signal itself when it is at 16 kHz.
std::vector<float> ResampleTo16k(std::span<const float> samples, int sampleRate);

} // namespace vntr::evaluator
