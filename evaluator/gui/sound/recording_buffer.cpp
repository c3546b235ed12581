#include "gui/sound/recording_buffer.hpp"

#include "core/wavefile.hpp"
#include "gui/logic/level_meter.hpp"
#include "gui/sound/quiet_frontend.hpp"

#include <algorithm>

namespace vntr::gui {

void RecordingBuffer::Start(uint32_t formatFlags) {
    format_ = formatFlags;
    pcm_.clear();
    peak_ = 0.0;
}

void RecordingBuffer::Append(const char *data, qint64 bytes) {
    if (bytes <= 0) return;
    pcm_.append(data, static_cast<qsizetype>(bytes));
    const int width = (format_ & CODEC_FMT_8BIT) != 0 ? 1 : 2;
    peak_ =
        std::max(peak_, PcmPeak(reinterpret_cast<const unsigned char *>(data), static_cast<std::size_t>(bytes), width));
}

double RecordingBuffer::TakePeak() {
    const double peak = peak_;
    peak_ = 0.0;
    return peak;
}

bool RecordingBuffer::Save(const std::string &path) const {
    const uint16_t align = evaluator::BlockAlignOfFlags(format_);
    const int32_t rate = evaluator::RateOfFlags(format_);
    if (align == 0 || rate == 0) return false;
    evaluator::PcmFormat format;
    format.channels = (format_ & CODEC_FMT_STEREO) != 0 ? 2 : 1;
    format.bitsPerSample = (format_ & CODEC_FMT_8BIT) != 0 ? 8 : 16;
    format.samplesPerSec = static_cast<uint32_t>(rate);
    format.avgBytesPerSec = static_cast<uint32_t>(rate) * align;
    format.blockAlign = align;
    QuietFrontend quiet;
    auto wave = evaluator::CreateWaveForWriting(quiet, path, format);
    if (!wave) return false;
    const auto whole = static_cast<std::size_t>(pcm_.size() / align * align);
    const bool written = wave->WriteData(pcm_.constData(), whole) == whole;
    return evaluator::CloseWave(quiet, *wave) && written;
}

} // namespace vntr::gui
