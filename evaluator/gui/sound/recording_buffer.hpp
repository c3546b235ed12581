// The samples of a recording as they arrive, their peak for the level
// meter, and the wave file they make when the recording stops.
#pragma once

#include <QByteArray>

#include <cstdint>
#include <string>

namespace vntr::gui {

class RecordingBuffer {
public:
    // Empties the buffer for a recording in `formatFlags`.
    void Start(uint32_t formatFlags);
    void Append(const char *data, qint64 bytes);
    // Peak (0..1) of what arrived since the last call.
    double TakePeak();
    qint64 Bytes() const { return pcm_.size(); }
    uint32_t Format() const { return format_; }
    // Writes a PCM wave file of what was recorded (whole sample frames);
    // false when the file cannot be written.
    bool Save(const std::string &path) const;

private:
    uint32_t format_ = 0;
    QByteArray pcm_;
    double peak_ = 0.0;
};

} // namespace vntr::gui
