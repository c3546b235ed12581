#include "cli/progress_line.hpp"

#include "core/printf.hpp"

#include <algorithm>
#include <cmath>

namespace vntr::cli {
namespace {

std::string Clock(double seconds) {
    const long s = std::lround(std::max(seconds, 0.0));
    if (s >= 3600) return evaluator::Printf("%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    return evaluator::Printf("%ld:%02ld", s / 60, s % 60);
}

} // namespace

std::string ProgressLine(const CorpusProgress &p, std::size_t barWidth) {
    const double fraction = p.seconds > 0 ? std::clamp(p.secondsDone / p.seconds, 0.0, 1.0)
                            : p.files > 0 ? static_cast<double>(p.filesDone) / static_cast<double>(p.files)
                                          : 1.0;
    const auto filled = static_cast<std::size_t>(std::floor(fraction * static_cast<double>(barWidth)));
    std::string bar(barWidth + 2, '-');
    bar.front() = '[';
    bar.back() = ']';
    std::fill_n(bar.begin() + 1, std::min(filled, barWidth), '#');
    const std::string left =
        p.secondsDone > 0 ? Clock(p.elapsed * std::max(p.seconds - p.secondsDone, 0.0) / p.secondsDone) : "--:--";
    return bar + evaluator::Printf(" %zu/%zu files   %.1f/%.1f s audio   %s left", p.filesDone, p.files, p.secondsDone,
                                   p.seconds, left.c_str());
}

} // namespace vntr::cli
