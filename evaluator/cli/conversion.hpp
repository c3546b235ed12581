// --mono and --level without --resample: a converted copy of an original,
// made once per original before it is opened (--resample makes its copies
// per codec rate, codec_rates.hpp).
#pragma once

#include "core/frontend.hpp"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace vntr::cli {

struct ConversionPlan {
    bool toMono = false; // the channels are mixed down
    // --level: the samples are scaled by gainDb, which brings the active
    // speech level activeLevelDb to targetDb (dBov).
    bool level = false;
    double activeLevelDb = 0;
    double targetDb = 0;
    double gainDb = 0;
    bool Needed() const { return toMono || level; }
};

// Measures the active speech level of an original (its channels averaged)
// and plans the gain that brings it to `targetDb`: no gain for an original
// without activity.  False when the file cannot be read.
bool PlanLevel(const std::string &path, double targetDb, ConversionPlan &plan);

// What to do with an original of `channels` channels: with `mono`, a stereo
// original is mixed down.
ConversionPlan PlanConversion(unsigned channels, bool mono);

// "mixed down to mono, active speech level -31.20 dBov scaled by +5.20 dB to
// -26.00 dBov".
std::string ConversionNote(const ConversionPlan &plan);

// What an original that the evaluator cannot take as it is holds, in words,
// when libsndfile reads it: "24-bit PCM", "32-bit float PCM", "mu-law",
// "FLAC"...  Empty for 8- and 16-bit PCM wave files (the evaluator's own
// checks judge those) and for files libsndfile cannot read either.
std::string OtherEncoding(const std::string &path);
// "File PATH is 24-bit PCM: use --resample".
std::string OtherEncodingMessage(const std::string &path, const std::string &encoding);

// Writes the converted copy of `source` to `destination`: channels averaged
// (rounded to the nearest step) when mixing down, the sample width kept when
// only mixing, 16-bit samples when scaling to a level (rounded to the
// nearest step, clipped at full scale).  False with the reason in
// `error` (a message already shown through `ui` counts as said).
bool ConvertOriginal(const std::string &source, const ConversionPlan &plan, const std::string &destination,
                     evaluator::Frontend &ui, const std::atomic<bool> &cancel, std::string &error);

} // namespace vntr::cli
