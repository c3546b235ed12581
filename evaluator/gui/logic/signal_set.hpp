// What the signal view shows and plays: the original, and for each codec
// with results its decoded signal, the difference from the input it was
// fed (once aligned at the codec's delay), its measures frame by frame and
// the gain that matches its level to the input's over active speech.
#pragma once

#include "core/frame_quality.hpp"
#include "gui/logic/listening_stream.hpp"
#include "gui/logic/signal_analysis.hpp"

#include <map>
#include <string>
#include <vector>

namespace vntr::gui {

struct Signal {
    std::string label;
    std::vector<float> samples; // mono, 16-bit scale
    int sampleRate = 0;
    Spectrogram spectrum;

    double Seconds() const { return sampleRate > 0 ? static_cast<double>(samples.size()) / sampleRate : 0.0; }
};

// Reads a wave file for the view (with its spectrogram); false when it
// cannot be read or holds no sample.
bool LoadSignal(const std::string &path, const std::string &label, Signal &signal);

// Where a codec's files are.
struct DecodedSource {
    std::string name;
    std::string decodedPath;
    std::string inputPath; // the original, or the 8 kHz copy it was fed
    int delaySamples = 0;  // the decoded file lags its input by this much
};

struct DecodedTrace {
    std::string name;
    Signal decoded;    // at the codec's rate, as decoded
    Signal difference; // input minus aligned decoded, on the input's time line
    evaluator::FrameQuality frames;
    int delaySamples = 0;
    double gain = 1.0;    // brings it to the input's level over active speech
    bool ownRate = false; // it ran on a copy at another rate than the original's
};

struct SignalSet {
    Signal original;
    std::vector<DecodedTrace> decoded;

    bool Empty() const { return original.samples.empty(); }
    // The time line of A/B listening: the original's.
    int Rate() const { return original.sampleRate; }
    int64_t Length() const { return static_cast<int64_t>(original.samples.size()); }
    // Index of a decoded trace by codec name, -1 when absent.
    int Find(const std::string &name) const;
};

// Reads one codec's files into a trace; false when one cannot be read or
// their rates differ.  Inputs read once are kept in `inputs` by path.
bool LoadDecoded(const DecodedSource &source, int originalRate, std::map<std::string, std::vector<float>> &inputs,
                 DecodedTrace &trace);

// The tracks of A/B listening on the original's time line: the original
// first, then each decoded trace aligned, at the original's rate and, with
// `levelMatched`, at the input's level.
std::vector<ListeningStream::Track> ListeningTracks(const SignalSet &set, bool levelMatched);

} // namespace vntr::gui
