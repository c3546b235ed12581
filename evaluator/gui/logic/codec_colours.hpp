// Each codec's colour in the window's pictures: derived from its name, so
// that a codec keeps its colour from run to run and from session to
// session, and distinct for every codec installed (up to 24 of them).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vntr::gui {

class CodecPalette {
public:
    // Distinct colours, 0xRRGGBB, every one readable on white and far from
    // the original's dark blue (at least 30 CIE76 units from each other).
    static constexpr std::size_t kColours = 24;
    static const uint32_t kRgb[kColours];
    // The original's colour, outside the palette.
    static constexpr uint32_t kOriginalRgb = 0x102090;

    // The palette place a name prefers (FNV-1a of its bytes).
    static std::size_t PreferredPlace(const std::string &name);

    CodecPalette() = default;
    // Colours for `codecs` (every installed codec, in any order): in the
    // order of their names, each takes its preferred place, or the next
    // free one when an earlier name holds it, so the result depends only on
    // the set of names.
    explicit CodecPalette(std::vector<std::string> codecs);

    // The colour of a codec; one not given to the constructor takes its
    // preferred place among those left free (its preferred place when none is).
    uint32_t Rgb(const std::string &codec) const;
    std::size_t Place(const std::string &codec) const;

private:
    std::map<std::string, std::size_t> places_;
};

} // namespace vntr::gui
