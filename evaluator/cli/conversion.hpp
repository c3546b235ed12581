// --resample and --mono: a converted copy of an original that no selected
// codec could take as it is, made once per original before it is opened.
#pragma once

#include "core/frontend.hpp"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace vntr::cli {

struct ConversionPlan {
    int32_t toRate = 0;  // 0: the rate stays
    bool toMono = false; // the channels are mixed down
    bool Needed() const { return toRate != 0 || toMono; }
};

// What to do with an original at `rate` with `channels` channels, given the
// format masks of the selected codecs.  With `resample`, a rate that no codec
// takes (an 11025 Hz original counts as taken by the 8000 Hz codecs, which
// get the down-sampled copy) becomes the nearest rate one takes, the higher
// of two equally near; with `mono`, a stereo original is mixed down.
ConversionPlan PlanConversion(int32_t rate, unsigned channels, const std::vector<uint32_t> &codecMasks, bool resample,
                              bool mono);

// "resampled from 16000 Hz to 11025 Hz, mixed down to mono".
std::string ConversionNote(int32_t fromRate, const ConversionPlan &plan);

// Writes the converted copy of `source` to `destination`: channels averaged
// (rounded to the nearest step) when mixing down, the sample width kept when
// only mixing, 16-bit samples when resampling (libsoxr, high quality, no
// dither, so that every run gives the same copy).  False with the reason in
// `error` (a message already shown through `ui` counts as said).
bool ConvertOriginal(const std::string &source, const ConversionPlan &plan, const std::string &destination,
                     evaluator::Frontend &ui, const std::atomic<bool> &cancel, std::string &error);

} // namespace vntr::cli
