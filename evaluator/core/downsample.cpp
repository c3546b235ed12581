#include "downsample.hpp"

#include "wavefile.hpp"

#include <algorithm>

namespace vntr::evaluator {
namespace {

// Output j of a block (j = 1..7): centre input m and the Q13 weights of
// x[m-1], x[m], x[m+1] -- the quadratic Lagrange weights at t = 11j/8.
struct Row {
    int centre;
    int32_t previous, middle, next;
};
constexpr std::array<Row, 7> kRows = {{{1, -960, 7040, 2112},
                                       {2, -768, 3584, 5376},
                                       {4, -448, 8064, 576},
                                       {5, -1024, 6144, 3072},
                                       {6, -448, 1920, 6720},
                                       {8, -768, 7680, 1280},
                                       {9, -960, 4992, 4160}}};

int16_t LoadLe16(const unsigned char *p) {
    return static_cast<int16_t>(p[0] | p[1] << 8);
}

} // namespace

std::array<int16_t, kDownsampleBlockOut> DownsampleBlock(std::span<const int16_t, kDownsampleBlockIn> x) {
    std::array<int16_t, kDownsampleBlockOut> y{};
    y[0] = x[0];
    for (std::size_t j = 1; j < kDownsampleBlockOut; ++j) {
        const Row &row = kRows[j - 1];
        const int32_t sum =
            row.previous * x[row.centre - 1] + row.middle * x[row.centre] + row.next * x[row.centre + 1];
        y[j] = static_cast<int16_t>(std::clamp<int32_t>(sum >> 13, -32768, 32767));
    }
    return y;
}

bool DownsampleOriginal(Frontend &ui, const std::string &originalPath, const std::string &outputPath) {
    auto in = OpenWaveForReading(ui, originalPath);
    if (!in) return false;
    const PcmFormat format{1, 1, 8000, 16000, 2, 16, 0};
    auto out = CreateWaveForWriting(ui, outputPath, format);
    if (!out) {
        if (!in->file->Close())
            ui.ShowMessage(kErrorTitle, MessageIcon::Error, "Cannot close file, possible loss of information !");
        return false;
    }
    std::array<unsigned char, kDownsampleChunkSamples * 2> inBytes{};
    std::array<unsigned char, kDownsampleChunkSamples / kDownsampleBlockIn * kDownsampleBlockOut * 2> outBytes{};
    while (true) {
        if (in->ReadData(inBytes.data(), inBytes.size()) != static_cast<int64_t>(inBytes.size())) break;
        std::size_t o = 0;
        for (std::size_t b = 0; b < kDownsampleChunkSamples; b += kDownsampleBlockIn) {
            std::array<int16_t, kDownsampleBlockIn> x{};
            for (std::size_t i = 0; i < kDownsampleBlockIn; ++i) x[i] = LoadLe16(&inBytes[2 * (b + i)]);
            for (const int16_t s : DownsampleBlock(x)) {
                outBytes[o++] = static_cast<unsigned char>(s & 0xFF);
                outBytes[o++] = static_cast<unsigned char>((s >> 8) & 0xFF);
            }
        }
        if (out->WriteData(outBytes.data(), outBytes.size()) != outBytes.size()) {
            ui.ShowMessage(kErrorTitle, MessageIcon::Error, "Cannot write into downsampled file !");
            // The files are of no further use; close them without more messages.
            in->file->Close();
            out->file->Close();
            return false;
        }
    }
    const bool inClosed = CloseWave(ui, *in);
    const bool outClosed = CloseWave(ui, *out);
    return inClosed && outClosed;
}

} // namespace vntr::evaluator
