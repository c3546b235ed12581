// Real speech for the tests: a codec2-examples recording as 16-bit samples.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace vntr::test {

// The first `maxSamples` of /usr/share/codec2/raw/<name>.raw (8000 Hz, 16-bit
// little-endian); empty when codec2-examples is not installed.
inline std::vector<int16_t> RecordingSamples(const std::string &name, std::size_t maxSamples = SIZE_MAX) {
    const std::string path = "/usr/share/codec2/raw/" + name + ".raw";
    if (!std::filesystem::exists(path)) return {};
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<int16_t> pcm(std::min(bytes.size() / 2, maxSamples));
    for (std::size_t i = 0; i < pcm.size(); ++i) {
        pcm[i] =
            static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) | (static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
    }
    return pcm;
}

} // namespace vntr::test
