#include "gui/logic/timeline_track.hpp"

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

} // namespace vntr::gui
