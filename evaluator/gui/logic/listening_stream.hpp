// What the A/B listening hands to the sound card: one time line shared by
// the original and every decoded result (each prepared as a track of the
// same rate, aligned and level-matched), played from a position or over a
// region, looped or once.  Switching the track keeps the position: the next
// samples come from the other track at the same point, after a short
// cross-fade so that the switch does not click.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace vntr::gui {

// One track of the time line: its samples read where the stream plays.
class TrackSource {
public:
    virtual ~TrackSource() = default;
    // Samples [from, from + out.size()) of the time line; silence past the track's end.
    virtual void Read(int64_t from, std::span<int16_t> out) = 0;
};

class ListeningStream {
public:
    using Track = std::shared_ptr<TrackSource>;
    // Samples over which a switch fades from one track to the other (4 ms at 8 kHz).
    static constexpr int kCrossFadeMs = 4;

    // The tracks (mono, 16 bit, `sampleRate`) and the time line's length in
    // samples; a track shorter than the time line is silent beyond its end.
    void SetTracks(int sampleRate, std::vector<Track> tracks, int64_t length);
    int SampleRate() const { return rate_; }
    int64_t Length() const { return length_; }
    int TrackCount() const { return static_cast<int>(tracks_.size()); }

    // Starts over at `from` and runs to `to` (samples on the time line; a
    // `to` at or before `from`, or beyond the end, means the end), then
    // wraps to `from` with `loop` or is silent without.
    void Begin(int64_t from, int64_t to, bool loop);
    int64_t From() const { return from_; }
    int64_t To() const { return to_; }
    bool Looping() const { return loop_; }

    // The track handed out from the next sample on; out of range is ignored.
    void Select(int track);
    int Selected() const { return selected_; }

    // The next `count` samples.
    void Read(int16_t *out, std::size_t count);
    int64_t Handed() const { return handed_; }

    // The time line's sample heard once the sound card has played `played`
    // samples since Begin; the region's end once a single pass is over.
    int64_t PositionAfter(int64_t played) const;
    // A single pass has been played whole.
    bool FinishedAfter(int64_t played) const;

private:
    void ReadTrack(int track, int64_t at, std::span<int16_t> out);

    int rate_ = 8000;
    std::vector<Track> tracks_;
    int64_t length_ = 0;
    int64_t from_ = 0;
    int64_t to_ = 0;
    bool loop_ = false;
    int selected_ = 0;
    int fadingFrom_ = -1; // the track faded out after a switch
    int fadeLeft_ = 0;
    int64_t handed_ = 0;
    std::vector<int16_t> fadeBuffer_;
};

// A track held in memory.
ListeningStream::Track MemoryTrack(std::vector<int16_t> samples);

} // namespace vntr::gui
