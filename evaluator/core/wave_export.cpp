#include "wave_export.hpp"

#include "printf.hpp"
#include "wavefile.hpp"

#include <vntr/codec_api.h>

#include <vector>

namespace vntr::evaluator {

bool SaveAs16BitWave(Frontend &ui, const std::string &source, uint32_t formatFlags, const std::string &destination) {
    if ((formatFlags & CODEC_FMT_8BIT) == 0) return CopyFile(ui, source, destination);
    const uint16_t channels = (formatFlags & CODEC_FMT_STEREO) != 0 ? 2 : 1;
    const int32_t rate = RateOfFlags(formatFlags);
    auto in = OpenWaveForReading(ui, source);
    if (!in) return false;
    std::vector<unsigned char> bytes(in->remaining);
    const int64_t got = in->ReadData(bytes.data(), bytes.size());
    CloseWave(ui, *in);
    if (got < 0) {
        ui.ShowMessage(kErrorTitle, MessageIcon::Error, "Could not open file to rename file.");
        return false;
    }
    bytes.resize(static_cast<std::size_t>(got));
    // Unsigned 8-bit samples centred on 128 become signed 16-bit ones.
    std::vector<unsigned char> wide;
    wide.reserve(bytes.size() * 2);
    for (const unsigned char b : bytes) {
        const auto v = static_cast<uint16_t>(static_cast<int16_t>((b - 128) * 256));
        wide.push_back(static_cast<unsigned char>(v & 0xFF));
        wide.push_back(static_cast<unsigned char>(v >> 8));
    }
    PcmFormat format;
    format.channels = channels;
    format.samplesPerSec = static_cast<uint32_t>(rate);
    format.blockAlign = static_cast<uint16_t>(2 * channels);
    format.avgBytesPerSec = format.samplesPerSec * format.blockAlign;
    format.bitsPerSample = 16;
    auto out = CreateWaveForWriting(ui, destination, format);
    if (!out) return false;
    const bool written = out->WriteData(wide.data(), wide.size()) == wide.size();
    const bool closed = CloseWave(ui, *out);
    if (!written) {
        ui.ShowMessage(kErrorTitle, MessageIcon::Error,
                       Printf("Could not write to destination file %s.", destination.c_str()));
    }
    return written && closed;
}

} // namespace vntr::evaluator
