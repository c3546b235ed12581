#include "gui/sound/listening_player.hpp"

#include "gui/sound/pcm_clip.hpp"

namespace vntr::gui {
namespace {
// How often the playhead moves.
constexpr int kTickMs = 30;
} // namespace

ListeningPlayer::ListeningPlayer(QObject *parent) : QObject(parent) {
    timer_.setInterval(kTickMs);
    connect(&timer_, &QTimer::timeout, this, &ListeningPlayer::Tick);
}

ListeningPlayer::~ListeningPlayer() {
    if (playing_ && output_ != nullptr) output_->Stop();
}

void ListeningPlayer::SetOutput(SoundOutput *output, std::function<bool()> mayPlay) {
    Stop();
    output_ = output;
    mayPlay_ = std::move(mayPlay);
}

void ListeningPlayer::SetTracks(int sampleRate, std::vector<ListeningStream::Track> tracks, int64_t length) {
    Stop();
    stream_.SetTracks(sampleRate, std::move(tracks), length);
    stoppedAt_ = 0;
}

bool ListeningPlayer::Play(int64_t from, int64_t to, bool loop) {
    Stop();
    if (output_ == nullptr || stream_.TrackCount() == 0 || (mayPlay_ && !mayPlay_())) return false;
    stream_.Begin(from, to, loop);
    QAudioFormat format = AudioFormatOf(0);
    format.setSampleRate(stream_.SampleRate());
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    if (!output_->StartStream(format, *this)) return false;
    playing_ = true;
    stoppedAt_ = stream_.From();
    timer_.start();
    emit PositionChanged(stream_.From());
    return true;
}

void ListeningPlayer::Stop() {
    if (!playing_) return;
    stoppedAt_ = Position();
    playing_ = false;
    timer_.stop();
    if (output_ != nullptr) output_->Stop();
    emit PositionChanged(stoppedAt_);
    emit Stopped();
}

int64_t ListeningPlayer::PlayedSamples() const {
    if (!playing_ || output_ == nullptr) return 0;
    return output_->PlayedUs() * stream_.SampleRate() / 1000000;
}

int64_t ListeningPlayer::Position() const {
    return playing_ ? stream_.PositionAfter(PlayedSamples()) : stoppedAt_;
}

void ListeningPlayer::ReadPcm(char *data, qint64 bytes) {
    const auto count = static_cast<std::size_t>(bytes / 2);
    std::vector<int16_t> samples(count);
    stream_.Read(samples.data(), count);
    for (std::size_t i = 0; i < count; ++i) {
        const auto v = static_cast<uint16_t>(samples[i]);
        data[2 * i] = static_cast<char>(v & 0xFF);
        data[2 * i + 1] = static_cast<char>(v >> 8);
    }
}

void ListeningPlayer::Tick() {
    if (!playing_) return;
    if (stream_.FinishedAfter(PlayedSamples())) {
        Stop();
        return;
    }
    emit PositionChanged(Position());
}

} // namespace vntr::gui
