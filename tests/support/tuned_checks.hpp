// Checks that every tuned library must pass beside the library whose streams
// it writes (codecs/tuned/): its streams decode with the described library to
// exactly the samples its own decoder gives, every frame taken as one frame
// of the format; its encoder is really another search than the described one;
// two of its handles interleaved code as each alone; and on real speech it
// scores at least the described encoder by the perceptual score and the
// log-spectral distance.
#pragma once

#include "codec_stream.hpp"
#include "recordings.hpp"
#include "test_paths.hpp"

#include "core/quality.hpp"
#include "core/visqol.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

namespace vntr::test {

// A tuned library, the described one, and a mode they share.
struct TunedPair {
    std::string tuned;
    std::string described;
    uint32_t format;  // 16-bit formats only: the checks code int16_t samples
    uint32_t options; // open options of the mode
    uint32_t flags;   // per-call flags (a variable-rate mode's rate)
};

inline std::string Describe(const TunedPair &p) {
    char text[64];
    std::snprintf(text, sizeof text, " options 0x%X flags 0x%X", p.options, p.flags);
    return p.tuned + text;
}
inline void PrintTo(const TunedPair &p, std::ostream *out) {
    *out << Describe(p);
}

// The tuned library's stream of `speech` decodes with the described library
// frame by frame (each call consumes what the frame's own size says) to the
// samples the tuned library's decoder gives, over the whole stream; and it is
// not the described encoder's stream.
inline void ExpectDescribedDecodesTunedStreams(const TunedPair &p, const std::vector<int16_t> &speech) {
    SCOPED_TRACE(Describe(p));
    const CodecBinding tuned(CodecLibraryPath(p.tuned));
    const CodecBinding described(CodecLibraryPath(p.described));
    const EncodedStream coded = EncodeAll(tuned, p.format, p.options, speech, p.flags);
    ASSERT_GT(coded.frames, 10);
    const DecodedStream byDescribed = DecodeAll(described, p.format, p.options, coded.bytes);
    const DecodedStream byTuned = DecodeAll(tuned, p.format, p.options, coded.bytes);
    CodecFormat mode{};
    ASSERT_EQ(described.getCodecData(CODEC_DIRECTION_DECODER, p.format, p.options, &mode), CODEC_OK);
    std::size_t consumed = 0;
    for (const uint16_t n : byDescribed.consumed) consumed += n;
    if (mode.minCodedBytes < 1.0f) {
        // A bit stream (VT15): frames of any bit length, so a call may take no
        // whole byte, the last byte may stay partly read, and N frames of
        // input carry N + 1 coded frames.
        EXPECT_EQ(byDescribed.frames, coded.frames + 1);
        EXPECT_LE(consumed, coded.bytes.size());
        EXPECT_GE(consumed + 1, coded.bytes.size());
    } else {
        // Every byte written belongs to a frame the described decoder took, one frame per coded frame.
        EXPECT_EQ(consumed, coded.bytes.size());
        std::vector<uint16_t> written(coded.frameSizes);
        written.erase(std::remove(written.begin(), written.end(), uint16_t{0}), written.end());
        EXPECT_EQ(byDescribed.consumed, written);
    }
    ASSERT_EQ(byDescribed.pcm.size(), byTuned.pcm.size());
    EXPECT_TRUE(byDescribed.pcm == byTuned.pcm) << "the described decoder gives other samples";
    // The tuned encoder searches otherwise: the same speech gives another stream.
    const EncodedStream plain = EncodeAll(described, p.format, p.options, speech, p.flags);
    if (mode.minCodedBytes >= 1.0f) { // a bit stream's variable rate may differ
        EXPECT_EQ(plain.bytes.size(), coded.bytes.size());
    }
    EXPECT_NE(plain.bytes, coded.bytes) << "the tuned encoder writes the described encoder's stream";
}

// Two handles of the tuned library fed two signals frame by frame in turn
// write what each writes alone: nothing of one handle reaches the other.
inline void ExpectInterleavedHandlesIndependent(const TunedPair &p, const std::vector<int16_t> &a,
                                                const std::vector<int16_t> &b) {
    SCOPED_TRACE(Describe(p));
    const CodecBinding lib(CodecLibraryPath(p.tuned));
    const EncodedStream aloneA = EncodeAll(lib, p.format, p.options, a, p.flags);
    const EncodedStream aloneB = EncodeAll(lib, p.format, p.options, b, p.flags);
    CodecFormat fa{}, fb{};
    ASSERT_EQ(lib.openEncoder(p.format, p.options, &fa), CODEC_OK);
    ASSERT_EQ(lib.openEncoder(p.format, p.options, &fb), CODEC_OK);
    const std::size_t perFrame = fa.frameBytes / 2;
    std::vector<uint8_t> codedA, codedB, out(fa.maxCodedBytes);
    for (std::size_t at = 0; at + perFrame <= std::max(a.size(), b.size()); at += perFrame) {
        for (auto [f, signal, coded] : {std::tuple{&fa, &a, &codedA}, std::tuple{&fb, &b, &codedB}}) {
            if (at + perFrame > signal->size()) continue;
            uint16_t in = f->frameBytes, cap = f->maxCodedBytes;
            ASSERT_EQ(lib.encode(f->handle, p.flags, &(*signal)[at], &in, out.data(), &cap), CODEC_OK);
            coded->insert(coded->end(), out.begin(), out.begin() + cap);
        }
    }
    for (auto [f, coded] : {std::pair{&fa, &codedA}, std::pair{&fb, &codedB}}) {
        if (CodecNeedsFlush(f->codecId) != 0) {
            uint16_t in = CODEC_END_OF_STREAM, cap = f->maxCodedBytes;
            ASSERT_EQ(lib.encode(f->handle, p.flags, a.data(), &in, out.data(), &cap), CODEC_OK);
            coded->insert(coded->end(), out.begin(), out.begin() + cap);
        }
        EXPECT_EQ(lib.closeEncoder(f->handle), CODEC_OK);
    }
    EXPECT_EQ(codedA, aloneA.bytes);
    EXPECT_EQ(codedB, aloneB.bytes);
}

struct CodedQuality {
    double visqolMos = 0;
    double lsdDb = 0;
    double snrDb = 0;
};

// `speech` through a library and back, measured as the evaluator measures
// (aligned at the delay found, ViSQOL at 16 kHz).
inline CodedQuality MeasureCoded(const std::string &library, uint32_t format, uint32_t options, uint32_t flags,
                                 const std::vector<int16_t> &speech) {
    const CodecBinding lib(CodecLibraryPath(library));
    const EncodedStream coded = EncodeAll(lib, format, options, speech, flags);
    const DecodedStream decoded = DecodeAll(lib, format, options, coded.bytes);
    const std::vector<float> reference(speech.begin(), speech.end());
    const std::vector<float> output(decoded.pcm.begin(), decoded.pcm.end());
    const evaluator::Quality q = evaluator::CompareSignals(reference, output, 8000);
    const evaluator::VisqolScore v = evaluator::ScoreVisqol(reference, output, 8000);
    EXPECT_TRUE(q.valid && v.valid) << library << ": " << v.message;
    return {v.mos, q.logSpectralDistanceDb, q.snrDb};
}

// The quality guard: the tuned encoder scores at least the described one on
// `speech`, by ViSQOL within `mosMargin` and by the log-spectral distance
// within `lsdMarginDb` (the margins are what a different but equally good
// search may lose on one recording; the tuned encoders gain more than that).
inline void ExpectTunedScoresAtLeastDescribed(const TunedPair &p, const std::vector<int16_t> &speech, double mosMargin,
                                              double lsdMarginDb) {
    SCOPED_TRACE(Describe(p));
    const CodedQuality tuned = MeasureCoded(p.tuned, p.format, p.options, p.flags, speech);
    const CodedQuality described = MeasureCoded(p.described, p.format, p.options, p.flags, speech);
    std::printf("%s on the pinned recording: ViSQOL %.4f (described %.4f), LSD %.3f dB (%.3f), SNR %.2f dB (%.2f)\n",
                Describe(p).c_str(), tuned.visqolMos, described.visqolMos, tuned.lsdDb, described.lsdDb, tuned.snrDb,
                described.snrDb);
    ::testing::Test::RecordProperty("tuned_mos", std::to_string(tuned.visqolMos));
    ::testing::Test::RecordProperty("described_mos", std::to_string(described.visqolMos));
    ::testing::Test::RecordProperty("tuned_lsd", std::to_string(tuned.lsdDb));
    ::testing::Test::RecordProperty("described_lsd", std::to_string(described.lsdDb));
    EXPECT_GE(tuned.visqolMos, described.visqolMos - mosMargin)
        << "ViSQOL " << tuned.visqolMos << " against " << described.visqolMos;
    EXPECT_LE(tuned.lsdDb, described.lsdDb + lsdMarginDb) << "LSD " << tuned.lsdDb << " against " << described.lsdDb;
}

} // namespace vntr::test
