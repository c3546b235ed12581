// A/B listening on the sound card: plays the listening stream's time line
// through the window's sound output, reports the position heard (from the
// samples the sound card has played, not those handed to it), switches the
// listened track on the way and stops after a single pass.
#pragma once

#include "gui/logic/listening_stream.hpp"
#include "gui/sound/sound_devices.hpp"

#include <QObject>
#include <QTimer>

#include <functional>

namespace vntr::gui {

class ListeningPlayer final : public QObject, public PcmSource {
    Q_OBJECT
public:
    explicit ListeningPlayer(QObject *parent = nullptr);
    ~ListeningPlayer() override;

    // The sound output to play through (null: none); asked before every
    // start whether playing may begin now.
    void SetOutput(SoundOutput *output, std::function<bool()> mayPlay = {});

    // New tracks: playing stops, the position goes back to the start.
    void SetTracks(int sampleRate, std::vector<ListeningStream::Track> tracks, int64_t length);
    const ListeningStream &Stream() const { return stream_; }

    // Plays samples [from, to) of the time line (to <= from: to the end),
    // looped or once; false when the output refuses or may not play.
    bool Play(int64_t from, int64_t to, bool loop);
    void Stop();
    bool Playing() const { return playing_; }

    void Select(int track) { stream_.Select(track); }
    int Selected() const { return stream_.Selected(); }

    // The time line's sample heard now; where playing stopped when stopped.
    int64_t Position() const;
    // Samples the sound card has played since the start.
    int64_t PlayedSamples() const;

    void ReadPcm(char *data, qint64 bytes) override;

signals:
    void PositionChanged(qint64 sample);
    // Playing ended: a single pass was heard, or Stop() was called.
    void Stopped();

private:
    void Tick();

    SoundOutput *output_ = nullptr;
    std::function<bool()> mayPlay_;
    ListeningStream stream_;
    bool playing_ = false;
    int64_t stoppedAt_ = 0;
    QTimer timer_;
};

} // namespace vntr::gui
