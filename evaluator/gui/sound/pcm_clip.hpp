// A sound ready to play: the PCM data of a wave file and its format.
#pragma once

#include <QAudioFormat>
#include <QByteArray>

#include <cstdint>
#include <optional>
#include <string>

namespace vntr::gui {

struct PcmClip {
    QAudioFormat format;
    QByteArray pcm; // whole sample frames

    qint64 DurationUs() const;
    int BytesPerSample() const { return format.bytesPerSample(); }
};

// The audio format of a format word (rate, channels, 8-bit unsigned or
// 16-bit signed samples); invalid when the word lacks one of them.
QAudioFormat AudioFormatOf(uint32_t formatFlags);

// Reads the `data` chunk of a wave file in the given format; nothing when
// the file cannot be read, holds no sample or the format word is incomplete.
std::optional<PcmClip> LoadPcmClip(const std::string &path, uint32_t formatFlags);

// Peak (0..1) of the clip over `windowUs` from the position `playedUs`; a
// looping clip wraps around, a finished one has peak 0.
double ClipPeakAt(const PcmClip &clip, qint64 playedUs, qint64 windowUs, bool loop);

} // namespace vntr::gui
