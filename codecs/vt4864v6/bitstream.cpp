#include "bitstream.hpp"

#include <vntr/dsp/bit_io.hpp>

#include <cassert>

namespace vntr::vt4864v6 {

void PackFrame(const VocoderParams &params, const RateMode &mode, uint8_t *out) {
    dsp::BitWriter writer(out, static_cast<std::size_t>(mode.codedBytes));
    writer.Write(mode.rateCode, 2);
    for (int i = 0; i < mode.paramCount; ++i) {
        const int width = mode.widths[i];
        writer.Write(params[i] & ((1u << width) - 1u), width);
    }
    assert(static_cast<int>(writer.BitsWritten()) == mode.usedBits);
}

VocoderParams UnpackFrame(const uint8_t *in, const RateMode &mode) {
    dsp::BitReader reader(in, static_cast<std::size_t>(mode.codedBytes));
    VocoderParams params{};
    reader.Read(2); // the rate code, already known
    for (int i = 0; i < mode.paramCount; ++i) params[i] = static_cast<uint16_t>(reader.Read(mode.widths[i]));
    assert(static_cast<int>(reader.BitsRead()) == mode.usedBits && !reader.Exhausted());
    return params;
}

int DifferentialCentre(int reference) {
    return reference < 26 ? 26 : (reference > 138 ? 138 : reference);
}

int DifferentialCode(int lag, int reference) {
    const int word = reference - kMinLag;
    if (word < 8) return lag - 18;
    if (word > 120) return lag - 130;
    return lag - reference + 8;
}

int DifferentialLag(int code, int reference) {
    const int word = reference - kMinLag;
    if (word < 8) return code + 18;
    if (word > 120) return code + 130;
    return code + word + 10; // reference - 8 + code
}

void RebuildLags(const VocoderParams &params, const RateMode &mode, int lags[kMaxSubframes]) {
    if (!mode.is4800) {
        for (int k = 0; k < 4; ++k) lags[k] = (params[4 + k] & 0x7F) + kMinLag;
        return;
    }
    const int a = params[4] & 0x7F;
    const int b = params[5] & 0x7F;
    const int c = params[6] & 0x1F;
    const int d = c & 15;
    lags[0] = a + kMinLag;
    if (c & 16) { // sub-frame 2 against sub-frame 1
        lags[1] = b + kMinLag;
        lags[2] = DifferentialLag(d, lags[1]);
    } else { // sub-frame 1 against sub-frame 0
        lags[2] = b + kMinLag;
        lags[1] = DifferentialLag(d, lags[0]);
    }
    lags[3] = 0;
}

} // namespace vntr::vt4864v6
