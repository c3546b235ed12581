#include "gui/logic/listening_stream.hpp"

#include <algorithm>
#include <cmath>

namespace vntr::gui {

void ListeningStream::SetTracks(int sampleRate, std::vector<Track> tracks, int64_t length) {
    rate_ = std::max(sampleRate, 1);
    tracks_ = std::move(tracks);
    length_ = std::max<int64_t>(length, 0);
    selected_ = std::clamp(selected_, 0, std::max(TrackCount() - 1, 0));
    fadeLeft_ = 0;
    Begin(0, 0, false);
}

void ListeningStream::Begin(int64_t from, int64_t to, bool loop) {
    from_ = std::clamp<int64_t>(from, 0, length_);
    to_ = to <= from_ || to > length_ ? length_ : to;
    loop_ = loop && to_ > from_;
    handed_ = 0;
    fadeLeft_ = 0;
}

void ListeningStream::Select(int track) {
    if (track < 0 || track >= TrackCount() || track == selected_) return;
    fadingFrom_ = selected_;
    fadeLeft_ = std::max(1, rate_ * kCrossFadeMs / 1000);
    selected_ = track;
}

void ListeningStream::ReadTrack(int track, int64_t at, std::span<int16_t> out) {
    if (track < 0 || track >= TrackCount() || !tracks_[static_cast<std::size_t>(track)]) {
        std::fill(out.begin(), out.end(), int16_t{0});
        return;
    }
    tracks_[static_cast<std::size_t>(track)]->Read(at, out);
}

void ListeningStream::Read(int16_t *out, std::size_t count) {
    const int64_t span = to_ - from_;
    const int fadeLength = std::max(1, rate_ * kCrossFadeMs / 1000);
    std::size_t i = 0;
    while (i < count) {
        if (span <= 0 || (!loop_ && handed_ >= span)) {
            std::fill(out + i, out + count, int16_t{0});
            handed_ += static_cast<int64_t>(count - i);
            return;
        }
        // Up to the region's end (where a loop wraps) at a time.
        const int64_t offset = loop_ ? handed_ % span : handed_;
        const int64_t at = from_ + offset;
        const auto run = static_cast<std::size_t>(std::min<int64_t>(static_cast<int64_t>(count - i), span - offset));
        ReadTrack(selected_, at, std::span<int16_t>(out + i, run));
        if (fadeLeft_ > 0) {
            const std::size_t faded = std::min(run, static_cast<std::size_t>(fadeLeft_));
            fadeBuffer_.resize(faded);
            ReadTrack(fadingFrom_, at, fadeBuffer_);
            for (std::size_t k = 0; k < faded; ++k) {
                const double w = static_cast<double>(fadeLeft_) / (fadeLength + 1);
                out[i + k] = static_cast<int16_t>(std::lround(w * fadeBuffer_[k] + (1 - w) * out[i + k]));
                --fadeLeft_;
            }
        }
        i += run;
        handed_ += static_cast<int64_t>(run);
    }
}

int64_t ListeningStream::PositionAfter(int64_t played) const {
    const int64_t span = to_ - from_;
    if (span <= 0) return from_;
    played = std::max<int64_t>(played, 0);
    if (loop_) return from_ + played % span;
    return std::min(from_ + played, to_);
}

bool ListeningStream::FinishedAfter(int64_t played) const {
    return !loop_ && played >= to_ - from_;
}

namespace {

class MemorySource final : public TrackSource {
public:
    explicit MemorySource(std::vector<int16_t> samples) : samples_(std::move(samples)) {}
    void Read(int64_t from, std::span<int16_t> out) override {
        for (std::size_t i = 0; i < out.size(); ++i) {
            const int64_t at = from + static_cast<int64_t>(i);
            out[i] = at >= 0 && at < static_cast<int64_t>(samples_.size()) ? samples_[static_cast<std::size_t>(at)] : 0;
        }
    }

private:
    std::vector<int16_t> samples_;
};

} // namespace

ListeningStream::Track MemoryTrack(std::vector<int16_t> samples) {
    return std::make_shared<MemorySource>(std::move(samples));
}

} // namespace vntr::gui
