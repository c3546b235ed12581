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

int16_t ListeningStream::SampleOf(int track, int64_t at) const {
    if (track < 0 || track >= TrackCount() || !tracks_[static_cast<std::size_t>(track)]) return 0;
    const auto &pcm = *tracks_[static_cast<std::size_t>(track)];
    return at >= 0 && at < static_cast<int64_t>(pcm.size()) ? pcm[static_cast<std::size_t>(at)] : 0;
}

void ListeningStream::Read(int16_t *out, std::size_t count) {
    const int64_t span = to_ - from_;
    const int fadeLength = std::max(1, rate_ * kCrossFadeMs / 1000);
    for (std::size_t i = 0; i < count; ++i, ++handed_) {
        if (span <= 0 || (!loop_ && handed_ >= span)) {
            out[i] = 0;
            continue;
        }
        const int64_t at = from_ + (loop_ ? handed_ % span : handed_);
        int16_t v = SampleOf(selected_, at);
        if (fadeLeft_ > 0) {
            const double w = static_cast<double>(fadeLeft_) / (fadeLength + 1);
            v = static_cast<int16_t>(std::lround(w * SampleOf(fadingFrom_, at) + (1 - w) * v));
            --fadeLeft_;
        }
        out[i] = v;
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

} // namespace vntr::gui
