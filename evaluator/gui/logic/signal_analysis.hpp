// What the signal view draws: a waveform's envelope per pixel column and a
// short-time power spectrum in dB.
#pragma once

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
// are made).  Samples on the 16-bit scale; power floored at -200 dB.
Spectrogram ComputeSpectrogram(std::span<const float> samples, int sampleRate, int maxColumns = 6000);

// Lowest and highest sample of each of `columns` equal parts of
// samples[first, first + count); parts outside the signal are 0.
struct Envelope {
    std::vector<float> low;
    std::vector<float> high;
};
Envelope WaveEnvelope(std::span<const float> samples, double first, double count, int columns);

} // namespace vntr::gui
