#include "gui/sound/pcm_clip.hpp"

#include "core/wavefile.hpp"
#include "gui/logic/level_meter.hpp"
#include "gui/sound/quiet_frontend.hpp"

#include <algorithm>

namespace vntr::gui {

qint64 PcmClip::DurationUs() const {
    return format.isValid() ? format.durationForBytes(pcm.size()) : 0;
}

QAudioFormat AudioFormatOf(uint32_t flags) {
    QAudioFormat format;
    const int32_t rate = evaluator::RateOfFlags(flags);
    const int channels = (flags & CODEC_FMT_MONO) != 0 ? 1 : (flags & CODEC_FMT_STEREO) != 0 ? 2 : 0;
    const QAudioFormat::SampleFormat sample = (flags & CODEC_FMT_8BIT) != 0    ? QAudioFormat::UInt8
                                              : (flags & CODEC_FMT_16BIT) != 0 ? QAudioFormat::Int16
                                                                               : QAudioFormat::Unknown;
    if (rate == 0 || channels == 0 || sample == QAudioFormat::Unknown) return {};
    format.setSampleRate(rate);
    format.setChannelCount(channels);
    format.setSampleFormat(sample);
    return format;
}

std::optional<PcmClip> LoadPcmClip(const std::string &path, uint32_t formatFlags) {
    PcmClip clip;
    clip.format = AudioFormatOf(formatFlags);
    if (!clip.format.isValid()) return std::nullopt;
    QuietFrontend quiet;
    auto wave = evaluator::OpenWaveForReading(quiet, path);
    if (!wave) return std::nullopt;
    clip.pcm.resize(static_cast<qsizetype>(wave->remaining));
    const int64_t got = wave->ReadData(clip.pcm.data(), static_cast<std::size_t>(clip.pcm.size()));
    evaluator::CloseWave(quiet, *wave);
    if (got <= 0) return std::nullopt;
    const int frame = clip.format.bytesPerFrame();
    clip.pcm.truncate(static_cast<qsizetype>(got / frame * frame));
    if (clip.pcm.isEmpty()) return std::nullopt;
    return clip;
}

double ClipPeakAt(const PcmClip &clip, qint64 playedUs, qint64 windowUs, bool loop) {
    const qint64 size = clip.pcm.size();
    if (size == 0 || !clip.format.isValid()) return 0.0;
    qint64 from = clip.format.bytesForDuration(std::max<qint64>(playedUs, 0));
    const qint64 length = std::max<qint64>(clip.format.bytesForDuration(windowUs), clip.format.bytesPerFrame());
    if (loop) {
        from %= size;
    } else if (from >= size) {
        return 0.0;
    }
    const auto *data = reinterpret_cast<const unsigned char *>(clip.pcm.constData());
    const qint64 first = std::min(length, size - from);
    double peak = PcmPeak(data + from, static_cast<std::size_t>(first), clip.BytesPerSample());
    if (loop && first < length) {
        peak = std::max(peak,
                        PcmPeak(data, static_cast<std::size_t>(std::min(length - first, size)), clip.BytesPerSample()));
    }
    return peak;
}

} // namespace vntr::gui
