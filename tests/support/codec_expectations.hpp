// What every library of the suite must report about itself: the constants of
// its CodecInfo and of the CodecFormat of each of its modes.
#pragma once

#include <vntr/codec_api.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vntr::test {

struct ModeExpectation {
    uint32_t format;  // a complete format word for the mode
    uint32_t options; // open options selecting it
    int16_t codecId;
    uint16_t frameBytes;
    uint16_t maxCodedBytes;
    float minCodedBytes;
    uint32_t bitRate;
    uint32_t peakBitRate;
    uint32_t delaySamples;
    uint32_t optionMask;
};

struct LibraryExpectation {
    std::string shortName;
    std::string prefix; // export prefix, e.g. "vltr180"
    uint32_t formatMask;
    uint32_t optionMask;
    uint32_t version;
    uint32_t capabilityFlags[4];
    std::string description;
    bool variableRate;
    bool oneCloseForBoth;
    std::vector<ModeExpectation> modes; // modes[0] is the default mode
};

inline const std::vector<LibraryExpectation> &AllLibraryExpectations() {
    static const std::vector<LibraryExpectation> all = {
        {"VT4864v6",
         "vltr4864v6",
         0x12102,
         0x30000,
         0x50014,
         {1, 1, 1, 1},
         "Veltrane(TM) 4864v6 Dual Bitrate Vocoder (4.8/6.4 kbps, 8 kHz)",
         true,
         false,
         {{0x12102, 0, 2026, 480, 24, 18.0f, 6400, 6400, 0, 0x30000},
          {0x12102, CODEC_OPT_4800, 2027, 480, 18, 18.0f, 4800, 4800, 0, 0},
          {0x12102, CODEC_OPT_6400, 2028, 480, 24, 24.0f, 6400, 6400, 0, 0}}},
        {"VT120",
         "vltr120",
         0x12102,
         0,
         0x5000F,
         {0, 1, 1, 1},
         "Veltrane(TM) 120 Vocoder (12 kbps, 8 kHz)",
         false,
         false,
         {{0x12102, 0, 2041, 128, 12, 12.0f, 12000, 12000, 0, 0}}},
        {"VT15",
         "vltr15",
         0x12102,
         0,
         0x50005,
         {1, 1, 1, 1},
         "Veltrane(TM) 15 Vocoder (1.5 kbps, 8 kHz)",
         true,
         false,
         {{0x12102, 0, 2034, 360, 7, 0.25f, 1500, 2134, 756, 0}}},
        {"VT48",
         "vltr48",
         0x13102,
         0,
         0x50005,
         {0, 1, 1, 1},
         "Veltrane(TM) 48 Vocoder (4.8 kbps, 8 kHz)",
         false,
         true,
         {{0x12102, 0, 2020, 320, 12, 12.0f, 4800, 4800, 0, 0}, {0x11102, 0, 2020, 160, 12, 12.0f, 4800, 4800, 0, 0}}},
        // The tuned libraries (codecs/tuned/): the described library's constants, their own names and ids.
        {"VT48 HQ",
         "vltr48hq",
         0x13102,
         0,
         0x50005,
         {0, 1, 1, 1},
         "VT48 HQ tuned encoder; streams compatible with VT48 (4.8 kbps, 8 kHz)",
         false,
         true,
         {{0x12102, 0, 2220, 320, 12, 12.0f, 4800, 4800, 0, 0}, {0x11102, 0, 2220, 160, 12, 12.0f, 4800, 4800, 0, 0}}},
        {"VT4864 HQ",
         "vltr4864hq",
         0x12102,
         0x30000,
         0x50014,
         {1, 1, 1, 1},
         "VT4864 HQ tuned encoder; streams compatible with VT4864v6 (4.8/6.4 kbps, 8 kHz)",
         true,
         false,
         {{0x12102, 0, 2226, 480, 24, 18.0f, 6400, 6400, 0, 0x30000},
          {0x12102, CODEC_OPT_4800, 2227, 480, 18, 18.0f, 4800, 4800, 0, 0},
          {0x12102, CODEC_OPT_6400, 2228, 480, 24, 24.0f, 6400, 6400, 0, 0}}},
        {"VT120 HQ",
         "vltr120hq",
         0x12102,
         0,
         0x5000F,
         {0, 1, 1, 1},
         "VT120 HQ tuned encoder; streams compatible with VT120 (12 kbps, 8 kHz)",
         false,
         false,
         {{0x12102, 0, 2241, 128, 12, 12.0f, 12000, 12000, 0, 0}}},
        {"VT15 HQ",
         "vltr15hq",
         0x12102,
         0,
         0x50005,
         {1, 1, 1, 1},
         "VT15 HQ tuned encoder; streams compatible with VT15 (1.5 kbps, 8 kHz)",
         true,
         false,
         {{0x12102, 0, 2234, 360, 7, 0.25f, 1500, 2134, 756, 0}}},
        {"VT250f11",
         "vltr250f11",
         0x22102,
         0,
         0x5000F,
         {1, 1, 1, 1},
         "Veltrane(TM) 250f11 Audio Coder (25 kbps, 11 kHz)",
         true,
         false,
         {{0x22102, 0, 2039, 2304, 755, 21.0f, 26000, 57800, 962, 0}}},
        {"VT180",
         "vltr180",
         0x12102,
         0,
         0x5000F,
         {1, 1, 1, 1},
         "Veltrane(TM) 180 Audio Coder (18 kbps, 8 kHz)",
         true,
         false,
         {{0x12102, 0, 2038, 2304, 632, 24.0f, 18000, 35110, 962, 0}}},
        {"VT500f22",
         "vltr500f22",
         0x102102,
         0,
         0x5000F,
         {1, 1, 1, 1},
         "Veltrane(TM) 500f22 Audio Coder (50 kbps, 22 kHz)",
         true,
         false,
         {{0x102102, 0, 2040, 2304, 517, 16.5f, 50000, 79090, 962, 0}}},
    };
    return all;
}

} // namespace vntr::test
