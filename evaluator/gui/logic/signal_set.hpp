// What the signal view shows and plays: the original, and for each codec
// with results its decoded signal, the difference from the input it was
// fed (once aligned at the codec's delay), its measures frame by frame and
// the gain that matches its level to the input's over active speech.
#pragma once

#include "core/frame_quality.hpp"
#include "core/quality.hpp"
#include "core/visqol.hpp"
#include "core/wave_samples.hpp"
#include "gui/logic/codec_colours.hpp"
#include "gui/logic/listening_stream.hpp"
#include "gui/logic/signal_analysis.hpp"
#include "gui/logic/wave_summary.hpp"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace vntr::gui {

// The samples of a wave file (mono, 16-bit scale) read at any position, a
// block at a time: nothing of the file is held but the block last read.
class WaveFileSamples {
public:
    static constexpr int64_t kBlock = 1024;
    bool Open(const std::string &path);
    int Rate() const { return reader_.SampleRate(); }
    int64_t Length() const { return static_cast<int64_t>(reader_.Frames()); }
    // Samples [from, from + out.size()); how many there were (fewer at the end).
    std::size_t Read(int64_t from, std::span<float> out);

private:
    evaluator::WaveSampleReader reader_;
    int64_t position_ = 0;    // of the reader
    int64_t blockStart_ = -1; // of the block held
    std::vector<float> block_;
};

// A signal the view draws: where its samples come from (a file, or the
// difference of two), never the samples themselves.  What the pictures need
// of the whole signal (the waveform summary, the largest sample, the loudest
// bin of its spectrogram) is read once, when first asked for; copies share it.
class Signal {
public:
    std::string label;
    std::string path; // the file, when it is one
    int sampleRate = 0;
    int64_t length = 0; // samples
    WaveSummary::Reader read;
    bool spectrum = true; // drawn as a spectrogram too (a difference is not)

    double Seconds() const { return sampleRate > 0 ? static_cast<double>(length) / sampleRate : 0.0; }
    const WaveSummary &Summary() const;
    float Peak() const; // the largest |sample|
    // The loudest bin of any frame of its spectrogram (SpectrogramFrames), in
    // dB rounded up to a multiple of kSpectrumStepDb: the top of its colour scale.
    static constexpr double kSpectrumStepDb = 10.0;
    double SpectrumTopDb() const;
    // Whether the summary has been read (the signal was drawn or asked for).
    bool Summarised() const { return lazy_->built; }
    // Whether `other` is a copy of this signal (they share what is read once).
    bool SharesReadingsWith(const Signal &other) const { return lazy_ == other.lazy_; }

private:
    struct Lazy {
        bool built = false;
        bool topDbKnown = false;
        WaveSummary summary;
        float peak = 0;
        double topDb = -200;
        std::vector<double> hopEnergy; // per spectrogram hop, until the top is known
    };
    std::shared_ptr<Lazy> lazy_ = std::make_shared<Lazy>();
};

// Reads what the pictures need of each signal wanted (its summary and, for a
// spectrogram, its top) that has not been read yet, on up to `threads`
// threads: each signal reads its own files, so none waits for another.
void Summarise(std::span<const Signal *const> wanted, int threads);

// A signal over one wave file; false when it cannot be read or holds no sample.
bool LoadSignal(const std::string &path, const std::string &label, Signal &signal);

// Where a codec's files are, and what the run measured of them.
struct DecodedSource {
    std::string name;
    std::string decodedPath;
    std::string inputPath; // the original, or the 8 kHz copy it was fed
    int delaySamples = 0;  // the decoded file lags its input by this much
    // The run's measures; when not valid, they are measured from the files.
    evaluator::Quality quality;
};

struct DecodedTrace {
    std::string name;
    Signal decoded;    // at the codec's rate, as decoded
    Signal difference; // input minus aligned decoded, on the input's time line
    evaluator::FrameQuality frames;
    // The ViSQOL patches (reference times on the input's time line), when scored.
    bool visqolValid = false;
    double visqolNsim = 0;
    std::vector<evaluator::VisqolPatch> visqol;
    int delaySamples = 0;
    double gain = 1.0;    // brings it to the input's level over active speech
    bool ownRate = false; // it ran on a copy at another rate than the original's
};

struct SignalSet {
    Signal original;
    std::string originalName; // the file's name as the window shows it
    std::vector<DecodedTrace> decoded;
    CodecPalette palette; // the colour of every codec installed

    bool Empty() const { return original.length == 0; }
    // The time line of A/B listening: the original's.
    int Rate() const { return original.sampleRate; }
    int64_t Length() const { return original.length; }
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

// One codec's files as a trace; false when one cannot be read or their
// rates differ.  Nothing is read whole.
bool LoadDecoded(const DecodedSource &source, int originalRate, DecodedTrace &trace);

// Reads the original and every codec's files into `set` (its palette and
// name are left as they are); false when the original cannot be read.  The
// codecs whose files cannot be read are left out and named in `unreadable`.
bool LoadSignalSet(const std::string &originalPath, const std::string &label, const std::vector<DecodedSource> &sources,
                   SignalSet &set, std::vector<std::string> &unreadable);

// The tracks of A/B listening on the original's time line: the original
// first, then each decoded trace aligned, at the original's rate and, with
// `levelMatched`, at the input's level.  Each reads its file as it plays.
std::vector<ListeningStream::Track> ListeningTracks(const SignalSet &set, bool levelMatched);

} // namespace vntr::gui
