// What the signal view draws: a waveform's envelope per pixel column and a
// short-time power spectrum in dB.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace vntr::gui {

struct Spectrogram {
    int sampleRate = 0;
    int fftSize = 0;
    int hop = 0;     // samples between frame starts
    int columns = 0; // frames
    int bins = 0;    // fftSize / 2 + 1, from 0 Hz to half the rate
    float peakDb = -200.0f;
    std::vector<float> db; // columns x bins, frame by frame

    float At(int column, int bin) const { return db[static_cast<std::size_t>(column) * bins + bin]; }
    // Frame whose centre is nearest to `seconds`, clamped to the frames.
    int ColumnAt(double seconds) const;
};

// Hann-windowed frames of about 32 ms (a power of two), a quarter frame
// apart (wider for long signals, so that no more than `maxColumns` frames
// are made; 0: no limit).  Samples on the 16-bit scale; power floored at -200 dB.
Spectrogram ComputeSpectrogram(std::span<const float> samples, int sampleRate, int maxColumns = 6000);

// Fills `out` with a signal's samples from `from` on; returns how many it
// gave (fewer only at the end of the signal).
using SampleReader = std::function<std::size_t(int64_t from, std::span<float> out)>;

// The frames of a signal's spectrogram computed one at a time, where a
// picture needs them: the frames of ComputeSpectrogram without a limit on
// their number (a quarter frame apart from sample 0, read through a reader,
// zeros past the end), so that a picture of any length costs the frames it
// shows.
class SpectrogramFrames {
public:
    SpectrogramFrames(int sampleRate, int64_t length);
    ~SpectrogramFrames();
    SpectrogramFrames(const SpectrogramFrames &) = delete;
    SpectrogramFrames &operator=(const SpectrogramFrames &) = delete;

    // Rate, frame size, hop, frames and bins (`db` stays empty).
    const Spectrogram &Layout() const { return layout_; }
    // Frame `column` in dB, bins from 0 Hz up.
    void Frame(int column, const SampleReader &read, std::span<float> out);
    // The power of the frame's strongest bin, as a fraction of the full-scale reference.
    double PeakPower(int column, const SampleReader &read);
    // The most power any bin of a frame of `energy` (sum of squared samples) can have.
    double PowerBound(double energy) const;

private:
    void Transform(int column, const SampleReader &read);

    struct Fft;
    Spectrogram layout_;
    int64_t length_ = 0;
    std::vector<double> window_;
    double reference_ = 1;
    double windowSquares_ = 0;
    std::vector<float> samples_;
    std::unique_ptr<Fft> fft_;
};

// The loudest bin over every frame of a signal's spectrogram (SpectrogramFrames),
// in dB as ComputeSpectrogram gives it (-200 for silence), from the energies
// of its hops (sum of squared samples of each stretch of Layout().hop samples
// from 0): only the frames whose energy could hold a louder bin than the
// loudest found are transformed, loudest first.
double SpectrumPeakDb(int sampleRate, int64_t length, std::span<const double> hopEnergy, const SampleReader &read);
// SpectrumPeakDb rounded up to a multiple of `stepDb` (a colour scale's top):
// only frames that could reach above the step of the loudest found are
// transformed, far fewer than for the exact peak.
double SpectrumCeilingDb(int sampleRate, int64_t length, std::span<const double> hopEnergy, const SampleReader &read,
                         double stepDb);

// Lowest and highest sample of each of `columns` equal parts of
// samples[first, first + count); parts outside the signal are 0.
struct Envelope {
    std::vector<float> low;
    std::vector<float> high;
};
Envelope WaveEnvelope(std::span<const float> samples, double first, double count, int columns);

} // namespace vntr::gui
