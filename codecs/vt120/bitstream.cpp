#include "bitstream.hpp"

#include "tables.hpp"

#include <vntr/dsp/bit_io.hpp>

#include <cassert>

namespace vntr::vt120 {
namespace {

constexpr int kTypeBits = 5;
constexpr int kLspBits = 6;
constexpr int kPitchBits[kSubframes] = {14, 9};
constexpr int kAmplitudeBits = 6;
constexpr int kPositionBits = 12;
constexpr int kSignBits = 4;

uint32_t Field(int value, int width) {
    return static_cast<uint32_t>(value) & ((1u << width) - 1u);
}

} // namespace

void PackFrame(const FrameFields &f, uint8_t *out) {
    dsp::BitWriter w(out, kCodedBytes);
    w.Write(Field(f.type, kTypeBits), kTypeBits);
    for (int s = 0; s < kLspStages; ++s) w.Write(Field(f.lsp[s], kLspBits), kLspBits);
    for (int k = 0; k < kSubframes; ++k) w.Write(Field(f.pitch[k], kPitchBits[k]), kPitchBits[k]);
    for (int k = 0; k < kSubframes; ++k) {
        w.Write(Field(f.amplitude[k], kAmplitudeBits), kAmplitudeBits);
        w.Write(Field(f.positions[k], kPositionBits), kPositionBits);
        w.Write(Field(f.signs[k], kSignBits), kSignBits);
    }
    assert(w.BitsWritten() == kCodedBits);
}

FrameFields UnpackFrame(const uint8_t *in) {
    dsp::BitReader r(in, kCodedBytes);
    FrameFields f{};
    f.type = static_cast<int>(r.Read(kTypeBits));
    for (int s = 0; s < kLspStages; ++s) f.lsp[s] = static_cast<int>(r.Read(kLspBits));
    for (int k = 0; k < kSubframes; ++k) f.pitch[k] = static_cast<int>(r.Read(kPitchBits[k]));
    for (int k = 0; k < kSubframes; ++k) {
        f.amplitude[k] = static_cast<int>(r.Read(kAmplitudeBits));
        f.positions[k] = static_cast<int>(r.Read(kPositionBits));
        f.signs[k] = static_cast<int>(r.Read(kSignBits));
    }
    assert(r.BitsRead() == kCodedBits && !r.Exhausted());
    return f;
}

int ComfortNoiseLevel(const uint8_t *in) {
    dsp::BitReader r(in, kCodedBytes);
    r.Read(kTypeBits + kLspStages * kLspBits);
    return static_cast<int>(r.Read(kComfortNoiseLevelBits));
}

void DecodeLags(int word0, int word1, int lags[kSubframes]) {
    const int lag0 = (word0 >> 7) + kMinLag;
    const int d1 = (word1 >> 7) & 3;
    lags[0] = lag0;
    if (lag0 <= kMinLag + 1)
        lags[1] = kMinLag + d1;
    else if (lag0 == kMaxLag)
        lags[1] = kMaxLag + 1 - d1;
    else
        lags[1] = lag0 - 2 + d1;
}

int LagDifferenceCode(int lag0, int lag1) {
    if (lag0 <= kMinLag + 1) return lag1 - kMinLag;
    if (lag0 == kMaxLag) return kMaxLag + 1 - lag1;
    return lag1 - lag0 + 2;
}

void PulsePositions(int positionWord, int positions[kPulses]) {
    const auto word = static_cast<unsigned>(positionWord);
    int p = 4 * static_cast<int>(word & 7u);
    positions[0] = p;
    for (int j = 1; j < kPulses; ++j) {
        p = (p + kPulseOffset[(word >> (3 * j)) & 7u]) & (kSubframeLength - 1);
        positions[j] = p;
    }
}

} // namespace vntr::vt120
