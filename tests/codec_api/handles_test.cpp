// Handles share nothing: for every library and mode, two encoders or two
// decoders used in turn, frame by frame, and two threads coding at once give
// exactly what each gives alone.  The corpus runs of vtbench32 rely on it.
#include "codec_expectations.hpp"
#include "codec_stream.hpp"
#include "peer_expectations.hpp"
#include "test_paths.hpp"

#include <vntr/codec_binding.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <thread>
#include <vector>

namespace vntr::test {
namespace {

constexpr int kFrames = 24;

// A frame-by-frame encoder over one signal.
class Encoding {
public:
    Encoding(const CodecBinding &lib, const ModeExpectation &mode, const std::vector<uint8_t> &pcm)
        : lib_(lib), pcm_(pcm) {
        EXPECT_EQ(lib_.openEncoder(mode.format, mode.options, &format_), CODEC_OK);
        out_.resize(format_.maxCodedBytes);
    }
    // One frame, or the end-of-stream call once the signal is used up.
    bool Step() {
        uint16_t cap = format_.maxCodedBytes;
        if (at_ + format_.frameBytes <= pcm_.size()) {
            uint16_t in = format_.frameBytes;
            EXPECT_EQ(lib_.encode(format_.handle, 0, &pcm_[at_], &in, out_.data(), &cap), CODEC_OK);
            at_ += format_.frameBytes;
        } else {
            if (flushed_ || CodecNeedsFlush(format_.codecId) == 0) return false;
            uint16_t in = CODEC_END_OF_STREAM;
            EXPECT_EQ(lib_.encode(format_.handle, 0, pcm_.data(), &in, out_.data(), &cap), CODEC_OK);
            flushed_ = true;
        }
        stream.insert(stream.end(), out_.begin(), out_.begin() + cap);
        return true;
    }
    ~Encoding() { lib_.closeEncoder(format_.handle); }

    std::vector<uint8_t> stream;

private:
    const CodecBinding &lib_;
    const std::vector<uint8_t> &pcm_;
    CodecFormat format_{};
    std::vector<uint8_t> out_;
    std::size_t at_ = 0;
    bool flushed_ = false;
};

// A frame-by-frame decoder over one coded stream, offering what the
// evaluator offers (one byte beyond the largest frame for a variable rate).
class Decoding {
public:
    Decoding(const CodecBinding &lib, const ModeExpectation &mode, const std::vector<uint8_t> &stream)
        : lib_(lib), stream_(stream) {
        EXPECT_EQ(lib_.openDecoder(mode.format, mode.options, &format_), CODEC_OK);
        offer_ = format_.maxCodedBytes + (format_.minCodedBytes < format_.maxCodedBytes ? 1 : 0);
        frame_.resize(format_.frameBytes);
    }
    bool Step() {
        const std::size_t n = std::min<std::size_t>(offer_, stream_.size() - at_);
        std::vector<uint8_t> in(stream_.begin() + static_cast<std::ptrdiff_t>(at_),
                                stream_.begin() + static_cast<std::ptrdiff_t>(at_ + n));
        in.reserve(1);
        uint16_t inBytes = static_cast<uint16_t>(n);
        uint16_t cap = format_.frameBytes;
        const CodecStatus s = lib_.decode(format_.handle, 0, in.data(), &inBytes, frame_.data(), &cap);
        if (s == CODEC_ERR_NEED_DATA) return false;
        EXPECT_EQ(s, CODEC_OK);
        if (s != CODEC_OK || (inBytes == 0 && n == 0) || ++calls_ > 4 * kFrames + 8) return false;
        at_ += inBytes;
        pcm.insert(pcm.end(), frame_.begin(), frame_.begin() + cap);
        return true;
    }
    ~Decoding() { lib_.closeDecoder(format_.handle); }

    std::vector<uint8_t> pcm;

private:
    const CodecBinding &lib_;
    const std::vector<uint8_t> &stream_;
    CodecFormat format_{};
    std::size_t offer_ = 0;
    std::vector<uint8_t> frame_;
    std::size_t at_ = 0;
    int calls_ = 0;
};

// Speech-like enough for every coder: a voiced buzz whose pitch glides,
// or (second signal) a noisy hiss with a slow tremolo.
std::vector<uint8_t> Signal(const ModeExpectation &mode, int which) {
    const bool eightBit = (mode.format & CODEC_FMT_8BIT) != 0;
    const std::size_t samples = static_cast<std::size_t>(eightBit ? mode.frameBytes : mode.frameBytes / 2) * kFrames;
    std::vector<uint8_t> pcm(eightBit ? samples : 2 * samples);
    uint32_t noise = 12345;
    for (std::size_t n = 0; n < samples; ++n) {
        double x;
        if (which == 0) {
            const double phase = 2 * std::numbers::pi * (0.015 * n + 0.000002 * n * n);
            x = 0.3 * std::sin(phase) + 0.15 * std::sin(3 * phase) + 0.05 * std::sin(7 * phase);
        } else {
            noise = noise * 1664525u + 1013904223u;
            x = (static_cast<double>(noise >> 8) / (1 << 24) - 0.5) * 0.4 * (1 + std::sin(0.003 * n));
        }
        if (eightBit) {
            pcm[n] = static_cast<uint8_t>(128 + std::lround(127 * x));
        } else {
            const auto s = static_cast<int16_t>(std::lround(32767 * x));
            pcm[2 * n] = static_cast<uint8_t>(s & 0xFF);
            pcm[2 * n + 1] = static_cast<uint8_t>((s >> 8) & 0xFF);
        }
    }
    return pcm;
}

std::vector<uint8_t> EncodeAlone(const CodecBinding &lib, const ModeExpectation &mode,
                                 const std::vector<uint8_t> &pcm) {
    Encoding e(lib, mode, pcm);
    while (e.Step()) {}
    return e.stream;
}

std::vector<uint8_t> DecodeAlone(const CodecBinding &lib, const ModeExpectation &mode,
                                 const std::vector<uint8_t> &stream) {
    Decoding d(lib, mode, stream);
    while (d.Step()) {}
    return d.pcm;
}

class CodecHandles : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        for (const auto *list : {&AllLibraryExpectations(), &PeerLibraryExpectations()})
            for (const auto &e : *list)
                if (e.shortName == GetParam()) expect_ = &e;
        ASSERT_NE(expect_, nullptr) << "no expectations for " << GetParam();
        lib_ = std::make_unique<CodecBinding>(CodecLibraryPath(GetParam()));
    }
    const LibraryExpectation *expect_ = nullptr;
    std::unique_ptr<CodecBinding> lib_;
};

TEST_P(CodecHandles, TwoHandlesInTurnCodeAsEachAlone) {
    for (const ModeExpectation &mode : expect_->modes) {
        const auto a = Signal(mode, 0);
        const auto b = Signal(mode, 1);
        const auto aloneA = EncodeAlone(*lib_, mode, a);
        const auto aloneB = EncodeAlone(*lib_, mode, b);
        ASSERT_FALSE(aloneA.empty());
        {
            Encoding ea(*lib_, mode, a);
            Encoding eb(*lib_, mode, b);
            for (bool more = true; more;) {
                const bool stepA = ea.Step();
                const bool stepB = eb.Step();
                more = stepA || stepB;
            }
            EXPECT_EQ(ea.stream, aloneA) << "codec id " << mode.codecId;
            EXPECT_EQ(eb.stream, aloneB) << "codec id " << mode.codecId;
        }
        const auto decodedA = DecodeAlone(*lib_, mode, aloneA);
        const auto decodedB = DecodeAlone(*lib_, mode, aloneB);
        ASSERT_FALSE(decodedA.empty());
        Decoding da(*lib_, mode, aloneA);
        Decoding db(*lib_, mode, aloneB);
        for (bool more = true; more;) {
            const bool stepA = da.Step();
            const bool stepB = db.Step();
            more = stepA || stepB;
        }
        EXPECT_EQ(da.pcm, decodedA) << "codec id " << mode.codecId;
        EXPECT_EQ(db.pcm, decodedB) << "codec id " << mode.codecId;
    }
}

TEST_P(CodecHandles, TwoThreadsAtOnceCodeAsEachAlone) {
    const ModeExpectation &mode = expect_->modes[0];
    const std::vector<uint8_t> signals[2] = {Signal(mode, 0), Signal(mode, 1)};
    std::vector<uint8_t> coded[2];
    std::vector<uint8_t> decoded[2];
    for (int i = 0; i < 2; ++i) {
        coded[i] = EncodeAlone(*lib_, mode, signals[i]);
        decoded[i] = DecodeAlone(*lib_, mode, coded[i]);
    }
    bool same[2] = {true, true};
    std::thread threads[2];
    for (int i = 0; i < 2; ++i) {
        threads[i] = std::thread([&, i] {
            for (int round = 0; round < 8; ++round) {
                const auto stream = EncodeAlone(*lib_, mode, signals[i]);
                same[i] = same[i] && stream == coded[i] && DecodeAlone(*lib_, mode, stream) == decoded[i];
            }
        });
    }
    for (auto &t : threads) t.join();
    EXPECT_TRUE(same[0]);
    EXPECT_TRUE(same[1]);
}

// One process holds handles of several libraries at once in a corpus run:
// every library's first mode open together, an encoder and then a decoder of
// each stepped in turn, one frame of each library after the other.
TEST(EveryLibraryHandles, InterleavedAcrossLibrariesCodeAsEachAlone) {
    struct Entry {
        std::unique_ptr<CodecBinding> lib;
        const ModeExpectation *mode = nullptr;
        std::vector<uint8_t> signal, coded, decoded;
    };
    std::vector<Entry> entries;
    for (const auto &name : BuiltCodecLibraries()) {
        for (const auto *list : {&AllLibraryExpectations(), &PeerLibraryExpectations()}) {
            for (const auto &e : *list) {
                if (e.shortName != name) continue;
                Entry entry;
                entry.lib = std::make_unique<CodecBinding>(CodecLibraryPath(name));
                entry.mode = &e.modes[0];
                entry.signal = Signal(*entry.mode, static_cast<int>(entries.size() % 2));
                entry.coded = EncodeAlone(*entry.lib, *entry.mode, entry.signal);
                entry.decoded = DecodeAlone(*entry.lib, *entry.mode, entry.coded);
                entries.push_back(std::move(entry));
            }
        }
    }
    ASSERT_GE(entries.size(), 2u);
    std::vector<std::unique_ptr<Encoding>> encoders;
    for (const auto &e : entries) encoders.push_back(std::make_unique<Encoding>(*e.lib, *e.mode, e.signal));
    for (bool more = true; more;) {
        more = false;
        for (auto &enc : encoders) more = enc->Step() || more;
    }
    std::vector<std::unique_ptr<Decoding>> decoders;
    for (const auto &e : entries) decoders.push_back(std::make_unique<Decoding>(*e.lib, *e.mode, e.coded));
    for (bool more = true; more;) {
        more = false;
        for (auto &dec : decoders) more = dec->Step() || more;
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(encoders[i]->stream, entries[i].coded) << "codec id " << entries[i].mode->codecId;
        EXPECT_EQ(decoders[i]->pcm, entries[i].decoded) << "codec id " << entries[i].mode->codecId;
    }
}

INSTANTIATE_TEST_SUITE_P(AllLibraries, CodecHandles, ::testing::ValuesIn(BuiltCodecLibraries()),
                         [](const auto &param) { return TestNameOf(param.param); });

} // namespace
} // namespace vntr::test
