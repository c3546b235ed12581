// What the signal view shows and plays: the original, and for each codec
// with results its decoded signal, the difference from the input it was
// fed (once aligned at the codec's delay), its measures frame by frame and
// the gain that matches its level to the input's over active speech.
#pragma once

#include "core/frame_quality.hpp"
#include "gui/logic/codec_colours.hpp"
#include "gui/logic/listening_stream.hpp"
#include "gui/logic/signal_analysis.hpp"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vntr::gui {

struct Signal {
    std::string label;
    std::vector<float> samples; // mono, 16-bit scale
    int sampleRate = 0;
    float peak = 0; // the largest |sample|
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
    std::string originalName; // the file's name as the window shows it
    std::vector<DecodedTrace> decoded;
    CodecPalette palette; // the colour of every codec installed

    bool Empty() const { return original.samples.empty(); }
    // The time line of A/B listening: the original's.
    int Rate() const { return original.sampleRate; }
    int64_t Length() const { return static_cast<int64_t>(original.samples.size()); }
    // Index of a decoded trace by codec name, -1 when absent.
    int Find(const std::string &name) const;
};

// The one owner of what the signal view shows: the signal set and which of
// its decoded traces are stacked under the original.  They are replaced
// together, so that a list of stacked traces never names the traces of
// another set; whatever draws them reads both from here when it draws and
// keeps no index of its own.
class SignalStack {
public:
    const SignalSet &Set() const { return set_; }
    // Indices into Set().decoded in trace order (the order from the top); always valid.
    const std::vector<int> &Shown() const { return shown_; }
    bool IsShown(int trace) const;
    // Counts the sets held: a new number for every Replace and Clear.
    uint64_t Generation() const { return generation_; }

    // A new set with the traces to stack (indices into it; those out of
    // range are dropped).
    void Replace(SignalSet set, const std::vector<int> &shown);
    void Clear();
    // Stacks or unstacks one trace; false when there is no such trace.
    bool SetShown(int trace, bool shown);

private:
    SignalSet set_;
    std::vector<int> shown_;
    uint64_t generation_ = 0;
};

// Reads one codec's files into a trace; false when one cannot be read or
// their rates differ.  Inputs read once are kept in `inputs` by path.
bool LoadDecoded(const DecodedSource &source, int originalRate, std::map<std::string, std::vector<float>> &inputs,
                 DecodedTrace &trace);

// Reads the original and every codec's files into `set` (its palette and
// name are left as they are); false when the original cannot be read.  The
// codecs whose files cannot be read are left out and named in `unreadable`.
bool LoadSignalSet(const std::string &originalPath, const std::string &label, const std::vector<DecodedSource> &sources,
                   SignalSet &set, std::vector<std::string> &unreadable);

// The tracks of A/B listening on the original's time line: the original
// first, then each decoded trace aligned, at the original's rate and, with
// `levelMatched`, at the input's level.
std::vector<ListeningStream::Track> ListeningTracks(const SignalSet &set, bool levelMatched);

} // namespace vntr::gui
