#include "gui/logic/wave_summary.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vntr::gui {

namespace {

constexpr auto kBaseSize = static_cast<std::size_t>(WaveSummary::kBase);

// Lowest and highest of a non-empty block, in lanes that the compiler keeps
// in vector registers (a running minimum of one value at a time does not
// vectorise: it would have to be reordered).
std::pair<float, float> BlockRange(std::span<const float> x) {
    constexpr std::size_t kLanes = 8;
    float low[kLanes];
    float high[kLanes];
    std::fill_n(low, kLanes, x[0]);
    std::fill_n(high, kLanes, x[0]);
    std::size_t i = 0;
    for (; i + kLanes <= x.size(); i += kLanes) {
        for (std::size_t l = 0; l < kLanes; ++l) {
            low[l] = std::min(low[l], x[i + l]);
            high[l] = std::max(high[l], x[i + l]);
        }
    }
    for (; i < x.size(); ++i) {
        low[0] = std::min(low[0], x[i]);
        high[0] = std::max(high[0], x[i]);
    }
    return {*std::min_element(low, low + kLanes), *std::max_element(high, high + kLanes)};
}

} // namespace

void WaveSummary::Build(int64_t length, const Reader &read) {
    length_ = std::max<int64_t>(length, 0);
    levels_.clear();
    if (length_ == 0) return;
    // Level 0 from the samples, read a block at a time.
    Level base;
    base.block = kBase;
    const auto blocks = static_cast<std::size_t>((length_ + kBase - 1) / kBase);
    base.low.reserve(blocks);
    base.high.reserve(blocks);
    std::vector<float> buffer(static_cast<std::size_t>(kReadBlock));
    for (int64_t at = 0; at < length_; at += kReadBlock) {
        const auto want = static_cast<std::size_t>(std::min(kReadBlock, length_ - at));
        std::size_t got = read(at, std::span<float>(buffer.data(), want));
        got = std::min(got, want);
        // A source shorter than it said reads as silence.
        std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(got), buffer.begin() + static_cast<std::ptrdiff_t>(want),
                  0.0f);
        for (std::size_t i = 0; i < want; i += kBase) {
            const auto [lo, hi] = BlockRange(std::span<const float>(buffer).subspan(i, std::min(want - i, kBaseSize)));
            base.low.push_back(lo);
            base.high.push_back(hi);
        }
    }
    levels_.push_back(std::move(base));
    // Each next level from the one below, until one block covers everything.
    while (levels_.back().low.size() > 1) {
        const Level &below = levels_.back();
        Level next;
        next.block = below.block * kFactor;
        for (std::size_t i = 0; i < below.low.size(); i += kFactor) {
            const auto end = std::min(below.low.size(), i + static_cast<std::size_t>(kFactor));
            next.low.push_back(*std::min_element(below.low.begin() + static_cast<std::ptrdiff_t>(i),
                                                 below.low.begin() + static_cast<std::ptrdiff_t>(end)));
            next.high.push_back(*std::max_element(below.high.begin() + static_cast<std::ptrdiff_t>(i),
                                                  below.high.begin() + static_cast<std::ptrdiff_t>(end)));
        }
        levels_.push_back(std::move(next));
    }
}

std::size_t WaveSummary::Bytes() const {
    std::size_t bytes = 0;
    for (const Level &l : levels_) bytes += (l.low.capacity() + l.high.capacity()) * sizeof(float);
    return bytes;
}

void WaveSummary::RangeAt(int level, int64_t from, int64_t to, const Reader &read, float &low, float &high) const {
    if (from >= to) return;
    if (level < 0) {
        // Below the finest blocks: the samples themselves, fewer than two
        // blocks (a range that holds no whole block of level 0).
        float buffer[2 * kBase];
        const auto n = std::min(static_cast<std::size_t>(to - from), static_cast<std::size_t>(2 * kBase));
        const std::size_t got = std::min(read(from, std::span<float>(buffer, n)), n);
        for (std::size_t i = 0; i < got; ++i) {
            low = std::min(low, buffer[i]);
            high = std::max(high, buffer[i]);
        }
        if (got < n) {
            low = std::min(low, 0.0f);
            high = std::max(high, 0.0f);
        }
        return;
    }
    const Level &l = levels_[static_cast<std::size_t>(level)];
    // Whole blocks of this level inside [from, to); a block that ends the
    // signal early is whole when `to` is the signal's end.
    const int64_t first = (from + l.block - 1) / l.block;
    const int64_t last = to == length_ ? (to + l.block - 1) / l.block : to / l.block;
    if (first >= last) {
        RangeAt(level - 1, from, to, read, low, high);
        return;
    }
    for (int64_t b = first; b < last; ++b) {
        low = std::min(low, l.low[static_cast<std::size_t>(b)]);
        high = std::max(high, l.high[static_cast<std::size_t>(b)]);
    }
    RangeAt(level - 1, from, first * l.block, read, low, high);
    RangeAt(level - 1, std::min(last * l.block, to), to, read, low, high);
}

std::pair<float, float> WaveSummary::Range(int64_t from, int64_t to, const Reader &read) const {
    from = std::max<int64_t>(from, 0);
    to = std::min(to, length_);
    if (from >= to || levels_.empty()) return {0.0f, 0.0f};
    float low = std::numeric_limits<float>::infinity();
    float high = -std::numeric_limits<float>::infinity();
    // The coarsest level whose blocks fit in the range.
    int level = 0;
    while (level + 1 < Levels() && levels_[static_cast<std::size_t>(level + 1)].block <= to - from) ++level;
    RangeAt(level, from, to, read, low, high);
    return {low, high};
}

Envelope WaveSummary::EnvelopeOf(double first, double count, int columns, const Reader &read) const {
    Envelope e;
    if (columns <= 0) return e;
    e.low.assign(static_cast<std::size_t>(columns), 0.0f);
    e.high.assign(static_cast<std::size_t>(columns), 0.0f);
    const double step = count / columns;
    for (int c = 0; c < columns; ++c) {
        // The same parts as WaveEnvelope takes.
        auto from = static_cast<int64_t>(std::floor(first + c * step));
        auto to = static_cast<int64_t>(std::floor(first + (c + 1) * step));
        if (to <= from) to = from + 1;
        from = std::max<int64_t>(from, 0);
        to = std::min(to, length_);
        if (from >= to) continue;
        const auto [lo, hi] = Range(from, to, read);
        e.low[static_cast<std::size_t>(c)] = lo;
        e.high[static_cast<std::size_t>(c)] = hi;
    }
    return e;
}

WaveSummary::Reader MemoryReader(std::span<const float> samples) {
    return [samples](int64_t from, std::span<float> out) -> std::size_t {
        if (from < 0 || from >= static_cast<int64_t>(samples.size())) return 0;
        const std::size_t n = std::min(out.size(), samples.size() - static_cast<std::size_t>(from));
        std::copy_n(samples.begin() + from, n, out.begin());
        return n;
    };
}

} // namespace vntr::gui
