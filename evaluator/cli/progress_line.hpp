// The progress bar of a corpus run on a terminal.
#pragma once

#include <cstddef>
#include <string>

namespace vntr::cli {

struct CorpusProgress {
    std::size_t filesDone = 0;
    std::size_t files = 0;
    double secondsDone = 0; // audio seconds processed, the originals in progress in part
    double seconds = 0;     // audio seconds of the whole corpus
    double elapsed = 0;     // wall seconds since the start
};

// "[#########-----------]  3/9 files   12.3/45.6 s audio   0:21 left", the
// bar `barWidth` characters wide; the time left from the audio rate so far
// ("--:--" before any audio is done).
std::string ProgressLine(const CorpusProgress &progress, std::size_t barWidth = 24);

} // namespace vntr::cli
