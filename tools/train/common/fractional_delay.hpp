// The fractional-delay interpolators of the pitch post-filters: each row
// delays by p/8 sample (p = 1..7); tap j of an N-tap filter sits at distance
// d = j - N/2 + p/8 from the wanted delay and takes the ideal interpolator
// sinc(d) shaped by a Hamming window spanning the filter,
// 0.54 + 0.46 cos(pi d / (N/2)).  The rows are not renormalised.
#pragma once

#include <string>
#include <vector>

namespace vntr::train {

std::vector<double> DesignFractionalDelayRow(int taps, int phase);

// True when `designed` rounds to `published` at the number of decimals
// `published` is written with (0.631 is matched at three, 0.63099 at five).
bool MatchesToItsDecimals(double designed, double published);

// A row whose values the coded format fixes (some of its taps, rounded to a
// few decimals), which the design must reproduce.
struct PublishedRow {
    int taps;
    int phase;
    std::vector<double> values;
};

// Checks every published row against the design; prints the first mismatch
// to stderr and returns false on one.
bool ReproducesPublished(const std::vector<PublishedRow> &rows);

// Writes rows 1..7 of a `taps`-tap design as a C initialiser list, with a
// header naming the tool and the command.
bool WriteFractionalDelayTable(const std::string &path, int taps, const std::string &tool, const std::string &command);

} // namespace vntr::train
