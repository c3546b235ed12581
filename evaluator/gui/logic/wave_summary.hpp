// The lowest and highest sample of a signal per block, at several
// resolutions, so that a waveform of any length is drawn at any zoom without
// the signal in memory.  Level 0 holds blocks of kBase samples, each next
// level blocks kFactor times longer, up to one block for the whole signal.
// It is built once, reading the signal block by block; a column's range is
// then read from the coarsest whole blocks inside it, its ragged ends from
// finer levels and, below the finest, from fewer than 2 kBase samples at
// each end, so that it is the range of the samples themselves at every zoom.
#pragma once

#include "gui/logic/signal_analysis.hpp"

#include <cstdint>
#include <functional>
#include <span>
#include <utility>
#include <vector>

namespace vntr::gui {

class WaveSummary {
public:
    static constexpr int64_t kBase = 64;
    static constexpr int64_t kFactor = 4;
    // Samples of one build read at a time.
    static constexpr int64_t kReadBlock = kBase * 1024;

    // Fills `out` with the samples from `from` on; returns how many it gave
    // (fewer only at the end of the signal).
    using Reader = SampleReader;

    // Reads the `length` samples of a signal in blocks of kReadBlock.
    void Build(int64_t length, const Reader &read);
    int64_t Length() const { return length_; }
    int Levels() const { return static_cast<int>(levels_.size()); }
    // Bytes held.
    std::size_t Bytes() const;

    // Lowest and highest of samples [from, to) (clamped to the signal;
    // {0, 0} when nothing is left), reading only the ragged ends through `read`.
    std::pair<float, float> Range(int64_t from, int64_t to, const Reader &read) const;
    // As WaveEnvelope over the whole signal: `columns` equal parts of
    // samples [first, first + count).
    Envelope EnvelopeOf(double first, double count, int columns, const Reader &read) const;

private:
    struct Level {
        int64_t block = 0;
        std::vector<float> low;
        std::vector<float> high;
    };
    void RangeAt(int level, int64_t from, int64_t to, const Reader &read, float &low, float &high) const;

    int64_t length_ = 0;
    std::vector<Level> levels_;
};

// A reader over samples in memory.
WaveSummary::Reader MemoryReader(std::span<const float> samples);

} // namespace vntr::gui
