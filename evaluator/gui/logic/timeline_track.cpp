#include "gui/logic/timeline_track.hpp"

#include "core/quality.hpp"
#include "gui/logic/signal_set.hpp"

#include <soxr.h>

#include <algorithm>
#include <cmath>

namespace vntr::gui {

std::vector<int16_t> TimelineTrack(std::span<const float> samples, int rate, int delay, double gain, int targetRate,
                                   int64_t length) {
    std::vector<int16_t> track(static_cast<std::size_t>(std::max<int64_t>(length, 0)), 0);
    if (rate <= 0 || targetRate <= 0 || delay < 0 || static_cast<std::size_t>(delay) >= samples.size()) return track;
    const std::span<const float> aligned = samples.subspan(static_cast<std::size_t>(delay));
    std::vector<float> resampled;
    std::span<const float> source = aligned;
    if (rate != targetRate) {
        resampled.resize(static_cast<std::size_t>(std::ceil(static_cast<double>(aligned.size()) * targetRate / rate)) +
                         16);
        std::size_t done = 0;
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        const soxr_error_t error = soxr_oneshot(rate, targetRate, 1, aligned.data(), aligned.size(), nullptr,
                                                resampled.data(), resampled.size(), &done, &io, &quality, nullptr);
        if (error != nullptr) return track;
        resampled.resize(done);
        source = resampled;
    }
    const std::size_t n = std::min(track.size(), source.size());
    for (std::size_t i = 0; i < n; ++i) {
        const double v = std::round(source[i] * gain);
        track[i] = static_cast<int16_t>(std::clamp(v, -32768.0, 32767.0));
    }
    return track;
}

namespace {

int16_t Scaled(float v, double gain) {
    return static_cast<int16_t>(std::clamp(std::round(v * gain), -32768.0, 32767.0));
}

class FileSource final : public TrackSource {
public:
    FileSource(const std::string &path, int delay, double gain) : delay_(std::max(delay, 0)), gain_(gain) {
        open_ = file_.Open(path);
    }
    void Read(int64_t from, std::span<int16_t> out) override {
        buffer_.resize(out.size());
        const std::size_t got = open_ && from >= 0 ? file_.Read(from + delay_, buffer_) : 0;
        for (std::size_t i = 0; i < got; ++i) out[i] = Scaled(buffer_[i], gain_);
        std::fill(out.begin() + static_cast<std::ptrdiff_t>(got), out.end(), int16_t{0});
    }

private:
    WaveFileSamples file_;
    bool open_ = false;
    int delay_;
    double gain_;
    std::vector<float> buffer_;
};

class ResampledSource final : public TrackSource {
public:
    ResampledSource(std::string path, int delay, double gain, int targetRate, int64_t length)
        : path_(std::move(path)), delay_(delay), gain_(gain), targetRate_(targetRate), length_(length) {}
    void Read(int64_t from, std::span<int16_t> out) override {
        if (!made_) {
            made_ = true;
            std::vector<float> samples;
            int rate = 0;
            if (evaluator::ReadWaveSamples(path_, samples, rate)) {
                track_ = TimelineTrack(samples, rate, delay_, gain_, targetRate_, length_);
            }
        }
        for (std::size_t i = 0; i < out.size(); ++i) {
            const int64_t at = from + static_cast<int64_t>(i);
            out[i] = at >= 0 && at < static_cast<int64_t>(track_.size()) ? track_[static_cast<std::size_t>(at)] : 0;
        }
    }

private:
    std::string path_;
    int delay_;
    double gain_;
    int targetRate_;
    int64_t length_;
    bool made_ = false;
    std::vector<int16_t> track_;
};

} // namespace

ListeningStream::Track FileTrack(const std::string &path, int delay, double gain) {
    return std::make_shared<FileSource>(path, delay, gain);
}

ListeningStream::Track ResampledTrack(const std::string &path, int delay, double gain, int targetRate, int64_t length) {
    return std::make_shared<ResampledSource>(path, delay, gain, targetRate, length);
}

} // namespace vntr::gui
