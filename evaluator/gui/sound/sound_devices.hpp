// The sound card as the window sees it: something that plays a clip and
// something that records in a format.  The real ones talk to the sound
// server; tests put in their own.
#pragma once

#include "gui/sound/pcm_clip.hpp"

#include <QAudioFormat>

#include <functional>
#include <memory>

namespace vntr::gui {

// Samples made while they are played: asked for the next bytes whenever the
// sound card wants more, so that what it hands out can change on the way.
class PcmSource {
public:
    virtual ~PcmSource() = default;
    // Fills exactly `bytes` (whole sample frames of the stream's format).
    virtual void ReadPcm(char *data, qint64 bytes) = 0;
};

class SoundOutput {
public:
    virtual ~SoundOutput() = default;
    // Starts playing the clip, over and over with `loop`; false when the
    // sound system refuses (no device, format not supported, busy).
    virtual bool Start(const PcmClip &clip, bool loop) = 0;
    // Starts playing what `source` makes, in `format`, until stopped, with
    // a short buffer so that a change in the source is heard soon.  The
    // source must outlive the playing.
    virtual bool StartStream(const QAudioFormat &format, PcmSource &source) = 0;
    virtual void Stop() = 0;
    // Microseconds played since Start or StartStream (beyond the clip's
    // length while looping).
    virtual qint64 PlayedUs() const = 0;
};

class SoundInput {
public:
    using Sink = std::function<void(const char *data, qint64 bytes)>;
    virtual ~SoundInput() = default;
    // Starts recording; the samples go to `sink` as they come.  False when
    // the sound system refuses.
    virtual bool Start(const QAudioFormat &format, Sink sink) = 0;
    virtual void Stop() = 0;
};

struct SoundDevices {
    std::unique_ptr<SoundOutput> output;
    std::unique_ptr<SoundInput> input;
};

// Playback and recording through the default devices of the sound server.
SoundDevices MakeSystemSoundDevices();

// True when the sound server offers an output and an input device.
bool SoundServerAvailable();

} // namespace vntr::gui
