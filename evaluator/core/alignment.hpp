// One alignment per codec mode: the lag at which a codec's decoded signal
// follows its input, found once by coding a calibration signal rather than
// from each original.  For a codec whose waveform does not follow the input
// (synthetic phase, noise shaping) the highest cross-correlation of the
// waveforms lands anywhere from file to file; the envelopes of the two
// signals still line up, so the lag is found on them first and then refined
// on the waveform only where the waveform clearly agrees.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vntr::evaluator {

// The calibration signal at `sampleRate`, on the 16-bit scale: about four
// seconds of speech-like syllables (a glottal pulse train of gliding pitch
// through three formant resonators) of irregular lengths, levels and gaps,
// the gaps filled with faint noise.  The same samples on every call.
std::vector<float> CalibrationSignal(int sampleRate);

// The lag (0..maxLag) of `decoded` behind `reference` found on their
// envelopes, then refined on the waveform within five milliseconds where the
// waveforms' normalised correlation there exceeds one half.
int FindAlignment(std::span<const float> reference, std::span<const float> decoded, int sampleRate, int maxLag);

// Alignments found so far, shared by the workers of a run: the key names
// the codec, its options and the processing format.  Any worker may find a
// missing one; all find the same, so the first stored is kept.
class AlignmentTable {
public:
    std::optional<int> Find(const std::string &key) const;
    // Stores `delay` unless the key has one; returns the one stored.
    int Store(const std::string &key, int delay);
    std::map<std::string, int> All() const;

private:
    mutable std::mutex lock_;
    std::map<std::string, int> delays_;
};

} // namespace vntr::evaluator
