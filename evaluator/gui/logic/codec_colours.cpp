#include "gui/logic/codec_colours.hpp"

#include <algorithm>
#include <array>

namespace vntr::gui {

const uint32_t CodecPalette::kRgb[kColours] = {
    0x1F77B4, 0xD62728, 0x2CA02C, 0xFF7F0E, 0xFF00FF, 0xEE77BB, 0x0000FF, 0x665500,
    0x22AA99, 0x772233, 0xBB77FF, 0xAAAA00, 0x998888, 0x005522, 0xFF0077, 0xEE8877,
    0x770066, 0x0055FF, 0x99AA66, 0x2277EE, 0xFF22BB, 0x8800CC, 0x225555, 0x994400,
};

std::size_t CodecPalette::PreferredPlace(const std::string &name) {
    uint32_t hash = 2166136261u;
    for (const char c : name) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 16777619u;
    }
    return hash % kColours;
}

namespace {

// The first free place from `start` on, going round; `start` when none is free.
std::size_t FreePlace(const std::array<bool, CodecPalette::kColours> &taken, std::size_t start) {
    for (std::size_t step = 0; step < CodecPalette::kColours; ++step) {
        const std::size_t place = (start + step) % CodecPalette::kColours;
        if (!taken[place]) return place;
    }
    return start;
}

} // namespace

CodecPalette::CodecPalette(std::vector<std::string> codecs) {
    std::sort(codecs.begin(), codecs.end());
    codecs.erase(std::unique(codecs.begin(), codecs.end()), codecs.end());
    std::array<bool, kColours> taken{};
    for (const std::string &name : codecs) {
        const std::size_t place = FreePlace(taken, PreferredPlace(name));
        taken[place] = true;
        places_[name] = place;
    }
}

std::size_t CodecPalette::Place(const std::string &codec) const {
    if (const auto known = places_.find(codec); known != places_.end()) return known->second;
    std::array<bool, kColours> taken{};
    for (const auto &[name, place] : places_) taken[place] = true;
    return FreePlace(taken, PreferredPlace(codec));
}

uint32_t CodecPalette::Rgb(const std::string &codec) const {
    return kRgb[Place(codec)];
}

} // namespace vntr::gui
