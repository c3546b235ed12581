#include "gui/logic/level_meter.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace vntr::gui {

double PcmPeak(const unsigned char *pcm, std::size_t bytes, int bytesPerSample) {
    int peak = 0;
    if (bytesPerSample == 2) {
        for (std::size_t i = 0; i + 1 < bytes; i += 2) {
            const auto s = static_cast<int16_t>(static_cast<uint16_t>(pcm[i] | pcm[i + 1] << 8));
            peak = std::max(peak, std::abs(static_cast<int>(s)));
        }
        return peak / 32768.0;
    }
    for (std::size_t i = 0; i < bytes; ++i) peak = std::max(peak, std::abs(static_cast<int>(pcm[i]) - 128));
    return peak / 128.0;
}

int MeterLevel(double peak) {
    // Clamp before converting: a NaN or infinite peak has no integer value.
    if (!(peak > 0.0)) return 0;
    if (peak >= 1.0) return kMeterSteps;
    return static_cast<int>(peak * kMeterSteps);
}

std::array<MeterCell, kMeterSegments> MeterCells(int level) {
    level = std::clamp(level, 0, kMeterSteps);
    std::array<MeterCell, kMeterSegments> cells{};
    for (int i = 0; i < kMeterSegments; ++i) {
        const int fill = std::clamp(level - i * kStepsPerSegment, 0, kStepsPerSegment);
        cells[static_cast<std::size_t>(i)].fill = fill;
        cells[static_cast<std::size_t>(i)].saturated = i == kMeterSegments - 1 && fill >= 5;
    }
    return cells;
}

} // namespace vntr::gui
