// Saving a decoded file for use elsewhere: a plain 16-bit PCM wave file.
#pragma once

#include "frontend.hpp"

#include <cstdint>
#include <string>

namespace vntr::evaluator {

// Writes the decoded wave file `source`, whose samples are in the format word
// `formatFlags`, to `destination` as 16-bit PCM of the same rate and
// channels: a 16-bit file is copied as it stands, 8-bit samples are widened.
// The failures are shown with the file copy's and the wave writer's messages.
bool SaveAs16BitWave(Frontend &ui, const std::string &source, uint32_t formatFlags, const std::string &destination);

} // namespace vntr::evaluator
