// The library's decoder against the second decoder of reference_decoder.cpp,
// on streams from the library's own encoder: speech that stops and starts
// (digital silence after speech is where a rebuilt LSP comes closest to 0),
// at both rates and mixed.  And a damaged stream whose rebuilt LSPs leave the
// range a synthesis filter can use, which the library must still decode to
// sound of a sane level.
#include "reference_decoder.hpp"

#include "decoder.hpp"
#include "engine.hpp"
#include "lsp_quant.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace vntr::vt4864v6 {
namespace {

using Frame = frame::Frame<Engine>;
constexpr uint32_t kFormat = CODEC_FMT_PCM16_MONO_8KHZ;

std::vector<int16_t> ReadRaw(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<int16_t> pcm(bytes.size() / 2);
    std::memcpy(pcm.data(), bytes.data(), pcm.size() * 2);
    return pcm;
}

// Pieces of a recording with digital silence between them: every piece ends
// in a silence onset, at a different phase of the frame grid each time.
std::vector<int16_t> WithSilences(const std::vector<int16_t> &speech) {
    std::vector<int16_t> out;
    std::size_t at = 0;
    int piece = 0;
    while (at < speech.size() && out.size() < 8000 * 12) {
        const std::size_t talk =
            2400 + 1700 * static_cast<std::size_t>(piece % 5) + 37 * static_cast<std::size_t>(piece);
        const std::size_t end = std::min(speech.size(), at + talk);
        out.insert(out.end(), speech.begin() + static_cast<std::ptrdiff_t>(at),
                   speech.begin() + static_cast<std::ptrdiff_t>(end));
        out.insert(out.end(), 1200 + 480 * static_cast<std::size_t>(piece % 3), int16_t{0});
        at = end + 800; // what is cut out, so the next piece starts mid-word
        ++piece;
    }
    return out;
}

// Bursts of a voiced, speech-like sound (a pulse train through two
// resonances, the pitch drifting) and of loud noise, each cut off into
// digital silence, at several levels and phases of the frame grid.
std::vector<int16_t> SyntheticOnsets() {
    std::vector<int16_t> out;
    std::mt19937 rng(31);
    std::normal_distribution<double> noise(0.0, 1.0);
    for (int burst = 0; burst < 16; ++burst) {
        const std::size_t length = 1600 + 211 * static_cast<std::size_t>(burst);
        const double level = burst % 4 == 0 ? 0.05 : (burst % 4 == 1 ? 0.3 : 1.0);
        const bool voiced = burst % 2 == 0;
        double phase = 0.0, y1 = 0, y2 = 0, z1 = 0, z2 = 0;
        for (std::size_t n = 0; n < length; ++n) {
            double x;
            if (voiced) {
                phase += (100.0 + 12.0 * burst + 20.0 * std::sin(n / 900.0)) / 8000.0;
                x = phase >= 1.0 ? 6000.0 : 0.0;
                if (phase >= 1.0) phase -= 1.0;
            } else {
                x = 1500.0 * noise(rng);
            }
            const double y = x + 2 * 0.92 * std::cos(2 * std::numbers::pi * 600 / 8000.0) * y1 - 0.8464 * y2;
            y2 = y1, y1 = y;
            const double z = y + 2 * 0.88 * std::cos(2 * std::numbers::pi * 1900 / 8000.0) * z1 - 0.7744 * z2;
            z2 = z1, z1 = z;
            out.push_back(static_cast<int16_t>(std::clamp(z * 0.25 * level, -32000.0, 32000.0)));
        }
        out.insert(out.end(), 960 + 173 * static_cast<std::size_t>(burst % 5), int16_t{0});
    }
    return out;
}

// Rates by frame: fixed, or the variable mode switching every few frames.
enum class Rates { Only6400, Only4800, Mixed };

std::vector<uint8_t> Encode(const std::vector<int16_t> &pcm, Rates rates) {
    const uint32_t options =
        rates == Rates::Only6400 ? CODEC_OPT_6400 : (rates == Rates::Only4800 ? CODEC_OPT_4800 : 0);
    CodecFormat enc{};
    EXPECT_EQ(Frame::OpenEncoder(kFormat, options, &enc), CODEC_OK);
    std::vector<uint8_t> stream;
    for (std::size_t f = 0; f + 240 <= pcm.size(); f += 240) {
        const uint32_t flags = rates == Rates::Mixed && (f / 240) % 7 >= 4 ? CODEC_OPT_4800 : 0;
        uint8_t coded[24];
        uint16_t in = 480, out = 24;
        EXPECT_EQ(Frame::Encode(enc.handle, flags, &pcm[f], &in, coded, &out), CODEC_OK);
        stream.insert(stream.end(), coded, coded + out);
    }
    Frame::CloseEncoder(enc.handle);
    return stream;
}

struct Comparison {
    int frames = 0;
    int maxDifference = 0;
    int worstFrame = -1;
    int framesDiffering = 0; // frames with any sample more than 1 apart
};

// Decodes `stream` with both decoders and compares them sample by sample.
Comparison Compare(const std::vector<uint8_t> &stream) {
    CodecFormat dec{};
    EXPECT_EQ(Frame::OpenDecoder(kFormat, 0, &dec), CODEC_OK);
    auto reference = std::make_unique<reference::Decoder>();
    Comparison c;
    for (std::size_t at = 0; at < stream.size();) {
        int16_t ours[240];
        int16_t theirs[240];
        uint16_t in = static_cast<uint16_t>(std::min<std::size_t>(24, stream.size() - at)), out = 480;
        if (Frame::Decode(dec.handle, 0, &stream[at], &in, ours, &out) != CODEC_OK) break;
        const int taken = reference->Decode(&stream[at], theirs);
        EXPECT_EQ(taken, in);
        int worst = 0;
        for (int n = 0; n < 240; ++n) worst = std::max(worst, std::abs(ours[n] - theirs[n]));
        if (worst > c.maxDifference) {
            c.maxDifference = worst;
            c.worstFrame = c.frames;
        }
        if (worst > 1) ++c.framesDiffering;
        ++c.frames;
        at += in;
    }
    Frame::CloseDecoder(dec.handle);
    return c;
}

void ExpectAgreement(const std::vector<int16_t> &pcm, const char *what) {
    for (Rates rates : {Rates::Only6400, Rates::Only4800, Rates::Mixed}) {
        const Comparison c = Compare(Encode(pcm, rates));
        const char *name = rates == Rates::Only6400 ? "6.4" : (rates == Rates::Only4800 ? "4.8" : "mixed");
        EXPECT_GT(c.frames, 100) << what;
        EXPECT_LE(c.maxDifference, 1) << what << " at " << name << " kbit/s: " << c.framesDiffering << " of "
                                      << c.frames << " frames differ by more than 1, worst " << c.maxDifference
                                      << " in frame " << c.worstFrame;
    }
}

TEST(ReferenceDecoder, AgreesWithinOneStepOnSpeechCutIntoSilences) {
    int found = 0;
    for (const char *name : {"kristoff", "cq_ref", "mmt1"}) {
        const auto speech = ReadRaw(std::string("/usr/share/codec2/raw/") + name + ".raw");
        if (speech.size() < 8000 * 4) continue;
        ++found;
        ExpectAgreement(WithSilences(speech), name);
    }
    if (found == 0) GTEST_SKIP() << "codec2-examples recordings (/usr/share/codec2/raw) not installed";
}

TEST(ReferenceDecoder, AgreesWithinOneStepOnSyntheticOnsets) {
    ExpectAgreement(SyntheticOnsets(), "synthetic");
}

// Whether an LSP vector makes a synthesis filter: the filter sees each LSP
// through its cosine, and the cosines must fall strictly from below 1 to
// above -1.
bool MakesAFilter(const std::array<float, 10> &w) {
    double above = 1.0;
    for (float x : w) {
        const double c = std::cos(static_cast<double>(x));
        if (!(c < above)) return false;
        above = c;
    }
    return above > -1.0;
}

// Overwrites the three LSP indices (stream bits 2..25) of a frame.
void SetLspIndices(uint8_t *frame, const std::array<unsigned, 3> &indices) {
    const uint32_t bits = indices[0] | indices[1] << 8 | indices[2] << 16;
    for (int i = 0; i < 24; ++i) {
        const int at = 2 + i;
        const auto mask = static_cast<uint8_t>(1u << (at % 8));
        frame[at / 8] = static_cast<uint8_t>(((bits >> i) & 1u) ? frame[at / 8] | mask : frame[at / 8] & ~mask);
    }
}

// The first index triple that, sent frame after frame from `previous` on,
// drives a decoder without a safeguard to a vector that makes no filter
// within three frames.
std::array<unsigned, 3> DamagingIndices(const std::array<float, 10> &previous) {
    for (unsigned a = 0; a < 256; ++a) {
        for (unsigned c = 0; c < 256; ++c) {
            std::array<float, 10> w = previous;
            for (int f = 0; f < 3; ++f) {
                w = reference::NextLsp({a, 0, c}, w);
                if (!MakesAFilter(w)) return {a, 0, c};
            }
        }
    }
    return {256, 256, 256};
}

TEST(ReferenceDecoder, DamagedLspsThatMakeNoFilterStillDecodeToSaneSound) {
    // A clean 6.4 kbit/s stream; from frame 40 on, twelve frames in a row get
    // one LSP index triple that leads a decoder without a safeguard to
    // vectors that make no filter, then the clean stream resumes.
    std::vector<uint8_t> stream = Encode(SyntheticOnsets(), Rates::Only6400);
    const std::size_t frames = stream.size() / 24;
    ASSERT_GT(frames, 100u);
    constexpr std::size_t kFirst = 40, kDamaged = 12;

    auto literal = std::make_unique<reference::Decoder>();
    auto clean = std::make_unique<DecoderState>();
    auto ours = std::make_unique<DecoderState>();
    InitDecoder(*clean);
    InitDecoder(*ours);
    std::array<unsigned, 3> damage{};
    int noFilter = 0;
    double cleanEnergy = 0.0, damagedEnergy = 0.0;
    int clippedRun = 0, longestClippedRun = 0;
    for (std::size_t f = 0; f < frames; ++f) {
        uint8_t *frame = &stream[24 * f];
        int16_t a[240], b[240], c[240];
        DecodeFrame(*clean, frame, a);
        if (f == kFirst) {
            damage = DamagingIndices(literal->Lsp());
            ASSERT_LT(damage[0], 256u) << "no index triple leads to a vector without a filter";
        }
        const bool damaged = f >= kFirst && f < kFirst + kDamaged;
        if (damaged) SetLspIndices(frame, damage);
        const Lsp before = ours->previousLsp;
        DecodeFrame(*ours, frame, b);
        literal->Decode(frame, c);
        // Ours always holds a vector that makes a filter: the one ordering
        // and spacing gave, or where that makes none the previous frame's.
        EXPECT_TRUE(MakesAFilter(ours->previousLsp)) << "frame " << f;
        if (damaged) {
            if (!MakesAFilter(literal->Lsp())) ++noFilter;
            const std::array<float, 10> own = reference::NextLsp(damage, before);
            const std::array<float, 10> expected = MakesAFilter(own) ? own : before;
            for (int i = 0; i < 10; ++i) EXPECT_NEAR(ours->previousLsp[i], expected[i], 1e-6f) << "frame " << f;
        }
        for (int n = 0; n < 240; ++n) {
            if (f >= kFirst) {
                cleanEnergy += static_cast<double>(a[n]) * a[n];
                damagedEnergy += static_cast<double>(b[n]) * b[n];
            }
            clippedRun = (b[n] == 32767 || b[n] == -32768) ? clippedRun + 1 : 0;
            longestClippedRun = std::max(longestClippedRun, clippedRun);
        }
    }
    EXPECT_GE(noFilter, static_cast<int>(kDamaged) / 2) << "the damage must need the safeguard";
    // Bounded: no stretch of clipped samples, and from the damage on a level
    // within a few times that of the clean stream.
    EXPECT_LT(longestClippedRun, 24);
    EXPECT_LT(damagedEnergy, 16.0 * cleanEnergy);
    EXPECT_GT(damagedEnergy, cleanEnergy / 16.0);
}

} // namespace
} // namespace vntr::vt4864v6
