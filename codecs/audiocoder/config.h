// The three configurations of the subband audio coder: the allocation table
// (field width and the quantiser of each allocation value per subband), the
// encoder's level thresholds and its per-library clean-up of an allocation.
#pragma once

#include <array>
#include <cstdint>
#include <limits>

namespace vntr::audiocoder {

constexpr int kSubbands = 32;
constexpr int kParts = 3;
constexpr int kGranulesPerPart = 4;
constexpr int kSamplesPerGranule = 3;
constexpr int kBlocks = kParts * kGranulesPerPart * kSamplesPerGranule; // 36 blocks of 32 subband samples
constexpr int kFrameSamples = kBlocks * kSubbands;                      // 1152
constexpr int kFrameBytes = 2 * kFrameSamples;                          // 2304

// One quantiser of the Layer II family.
struct Quantiser {
    uint16_t levels;    // 3, 5, 7, 9, 15, 31 or 63
    uint8_t bits;       // codeword width: per sample, or per granule when grouped
    bool grouped;       // three samples in one codeword s0 + L*s1 + L^2*s2
    uint8_t quantClass; // index into the class table (A, B, D)
    uint8_t sampleBits; // N = ceil(log2 levels): the width a code is requantised with
};

constexpr Quantiser kQ3{3, 5, true, 0, 2};
constexpr Quantiser kQ5{5, 7, true, 1, 3};
constexpr Quantiser kQ7{7, 3, false, 2, 3};
constexpr Quantiser kQ9{9, 10, true, 3, 4};
constexpr Quantiser kQ15{15, 4, false, 4, 4};
constexpr Quantiser kQ31{31, 5, false, 5, 5};
constexpr Quantiser kQ63{63, 6, false, 6, 6};
constexpr Quantiser kNone{0, 0, false, 0, 0};

// A subband's row of the allocation table: the width of its allocation field
// and the quantisers of allocation values 1, 2, 3.
struct BandRow {
    uint8_t nbal;
    std::array<Quantiser, 3> quantiser;
    constexpr int choices() const { return (1 << nbal) - 1; }
};

constexpr float kNever = std::numeric_limits<float>::infinity();

// Allocation = the first of these levels (dB) that the subband's level exceeds.
struct Thresholds {
    float alloc3;
    float alloc2;
    float alloc1;
};

enum class CleanUp : uint8_t {
    None,
    FillHoles,     // a gap with at least three allocated neighbours gets allocation 1
    PruneHighBand, // a quiet middle band drops the lone allocations of the high band
};

struct Config {
    std::array<BandRow, kSubbands> rows;
    std::array<Thresholds, kSubbands> thresholds;
    CleanUp cleanUp;
};

namespace detail {
template <class T>
constexpr std::array<T, kSubbands> Bands(std::initializer_list<std::pair<int, T>> runs) {
    // Each run gives the value for subbands from its start up to the next run's start.
    std::array<T, kSubbands> out{};
    const std::pair<int, T> *items = runs.begin();
    const int count = static_cast<int>(runs.size());
    for (int r = 0; r < count; ++r) {
        const int end = r + 1 < count ? items[r + 1].first : kSubbands;
        for (int sb = items[r].first; sb < end; ++sb) out[sb] = items[r].second;
    }
    return out;
}
} // namespace detail

// 25 kbit/s at 11025 Hz.
constexpr Config kConfig250f11{
    detail::Bands<BandRow>({{0, BandRow{2, {kQ7, kQ15, kQ63}}},
                            {12, BandRow{2, {kQ7, kQ15, kQ31}}},
                            {24, BandRow{1, {kQ3, kNone, kNone}}}}),
    detail::Bands<Thresholds>(
        {{0, Thresholds{65, 45, 8}}, {12, Thresholds{65, 35, 8}}, {24, Thresholds{kNever, kNever, 4}}}),
    CleanUp::FillHoles,
};

// 18 kbit/s at 8000 Hz.
constexpr Config kConfig180{
    detail::Bands<BandRow>({{0, BandRow{2, {kQ3, kQ5, kQ15}}}, {16, BandRow{2, {kQ3, kQ5, kQ9}}}}),
    detail::Bands<Thresholds>(
        {{0, Thresholds{40, 30, 15}}, {8, Thresholds{50, 30, 15}}, {16, Thresholds{kNever, 30, 15}}}),
    CleanUp::PruneHighBand,
};

// 50 kbit/s at 22050 Hz.
constexpr Config kConfig500f22{
    detail::Bands<BandRow>(
        {{0, BandRow{2, {kQ7, kQ15, kQ63}}}, {6, BandRow{2, {kQ3, kQ5, kQ15}}}, {12, BandRow{1, {kQ3, kNone, kNone}}}}),
    detail::Bands<Thresholds>({{0, Thresholds{50, 45, 14}},
                               {6, Thresholds{kNever, 35, 8}},
                               {12, Thresholds{kNever, kNever, 4}},
                               {22, Thresholds{kNever, kNever, -6}}}),
    CleanUp::None,
};

// Bits of a frame whose every allocation is 0: the allocation fields alone.
constexpr int MinFrameBits(const Config &c) {
    int bits = 0;
    for (const BandRow &row : c.rows) bits += kParts * row.nbal;
    return bits;
}

// Bits of the largest frame the format can carry: every subband allocated with
// its largest quantiser in every part, with three scale factors each.
constexpr int MaxFrameBits(const Config &c) {
    int bits = MinFrameBits(c);
    for (const BandRow &row : c.rows) {
        const Quantiser &q = row.quantiser[row.choices() - 1];
        const int perGranule = q.grouped ? q.bits : 3 * q.bits;
        bits += 2 + kParts * 6 + kParts * kGranulesPerPart * perGranule;
    }
    return bits;
}

static_assert(MinFrameBits(kConfig250f11) == 168 && MinFrameBits(kConfig180) == 192 &&
              MinFrameBits(kConfig500f22) == 132);
static_assert(MaxFrameBits(kConfig250f11) == 6040 && MaxFrameBits(kConfig180) == 5056 &&
              MaxFrameBits(kConfig500f22) == 4132);

} // namespace vntr::audiocoder
