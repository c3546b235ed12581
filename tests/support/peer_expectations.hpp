// What every peer library (a standard codec of the field behind our
// interface) must report about itself, as codec_expectations.hpp has it for
// the suite's own libraries. The descriptions name the system libraries'
// versions, which the build passes in.
#pragma once

#include "codec_expectations.hpp"

#include <cstdio>

#ifndef VNTR_TEST_VERSION_opus
#define VNTR_TEST_VERSION_opus ""
#define VNTR_TEST_VERSION_speex ""
#define VNTR_TEST_VERSION_codec2 ""
#define VNTR_TEST_VERSION_gsm ""
#endif

namespace vntr::test {

// "1.3.1" -> 0x10003
inline uint32_t VersionWordOf(const char *version) {
    unsigned major = 0, minor = 0;
    std::sscanf(version, "%u.%u", &major, &minor);
    return major << 16 | minor;
}

inline const std::vector<LibraryExpectation> &PeerLibraryExpectations() {
    constexpr uint32_t kFormat = CODEC_FMT_PCM16_MONO_8KHZ;
    auto peer = [](const char *name, const char *prefix, const char *version, std::string description,
                   ModeExpectation mode) {
        return LibraryExpectation{name,         prefix,      kFormat, 0,     VersionWordOf(version),
                                  {0, 1, 1, 1}, description, false,   false, {mode}};
    };
    const std::string opus = std::string("Opus ") + VNTR_TEST_VERSION_opus + " (libopus) narrowband, ";
    const std::string speex = std::string("Speex ") + VNTR_TEST_VERSION_speex + " (libspeex) narrowband, quality ";
    const std::string codec2 = std::string("Codec2 ") + VNTR_TEST_VERSION_codec2 + " (libcodec2) mode ";
    static const std::vector<LibraryExpectation> all = {
        peer("Opus 6k", "vltropus6k", VNTR_TEST_VERSION_opus, opus + "6 kbit/s CBR, 20 ms, complexity 10",
             {kFormat, 0, 3101, 320, 15, 15.0f, 6000, 6000, 52, 0}),
        peer("Opus 8k", "vltropus8k", VNTR_TEST_VERSION_opus, opus + "8 kbit/s CBR, 20 ms, complexity 10",
             {kFormat, 0, 3102, 320, 20, 20.0f, 8000, 8000, 52, 0}),
        peer("Opus 12k", "vltropus12k", VNTR_TEST_VERSION_opus, opus + "12 kbit/s CBR, 20 ms, complexity 10",
             {kFormat, 0, 3103, 320, 30, 30.0f, 12000, 12000, 52, 0}),
        peer("Speex 6k", "vltrspeex6k", VNTR_TEST_VERSION_speex, speex + "2, 5.95 kbit/s, 20 ms",
             {kFormat, 0, 3201, 320, 15, 15.0f, 5950, 5950, 80, 0}),
        peer("Speex 8k", "vltrspeex8k", VNTR_TEST_VERSION_speex, speex + "4, 8 kbit/s, 20 ms",
             {kFormat, 0, 3202, 320, 20, 20.0f, 8000, 8000, 80, 0}),
        peer("Speex 11k", "vltrspeex11k", VNTR_TEST_VERSION_speex, speex + "6, 11 kbit/s, 20 ms",
             {kFormat, 0, 3203, 320, 28, 28.0f, 11000, 11000, 80, 0}),
        peer("C2 3200", "vltrc2_3200", VNTR_TEST_VERSION_codec2, codec2 + "3200, 3.2 kbit/s, 20 ms",
             {kFormat, 0, 3301, 320, 8, 8.0f, 3200, 3200, 160, 0}),
        peer("C2 1600", "vltrc2_1600", VNTR_TEST_VERSION_codec2, codec2 + "1600, 1.6 kbit/s, 40 ms",
             {kFormat, 0, 3302, 640, 8, 8.0f, 1600, 1600, 160, 0}),
        peer("C2 1300", "vltrc2_1300", VNTR_TEST_VERSION_codec2, codec2 + "1300, 1.3 kbit/s, 40 ms",
             {kFormat, 0, 3303, 640, 7, 7.0f, 1300, 1300, 160, 0}),
        peer("GSM-FR", "vltrgsmfr", VNTR_TEST_VERSION_gsm,
             std::string("GSM 06.10 full rate, libgsm ") + VNTR_TEST_VERSION_gsm + ", 13.2 kbit/s, 20 ms",
             {kFormat, 0, 3401, 320, 33, 33.0f, 13200, 13200, 0, 0}),
    };
    return all;
}

} // namespace vntr::test
