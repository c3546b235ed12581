// The frame classes and the continuous bit stream.
#include "bitstream.hpp"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace vntr::vt15 {
namespace {

FrameFields RandomFrame(std::mt19937 &rng, int frameClass) {
    FrameFields f;
    f.frameClass = frameClass;
    for (int i = 1; i < kFieldCount; ++i) {
        const int width = kFieldWidths[frameClass][i];
        f.value[i] = width ? static_cast<uint16_t>(rng() & ((1u << width) - 1u)) : 0;
    }
    return f;
}

TEST(FrameClasses, SizesAndHeaders) {
    const int bits[kClassCount] = {46, 32, 31, 22, 16, 2};
    for (int c = 0; c < kClassCount; ++c) EXPECT_EQ(FrameBits(c), bits[c]) << c;
    EXPECT_EQ(ClassFromHeader(0, 3), 0);
    EXPECT_EQ(ClassFromHeader(1, 0), 2);
    EXPECT_EQ(ClassFromHeader(2, 1), 4);
    // Header 3 continues an even class and repeats an odd one.
    EXPECT_EQ(ClassFromHeader(3, 0), 1);
    EXPECT_EQ(ClassFromHeader(3, 1), 1);
    EXPECT_EQ(ClassFromHeader(3, 2), 3);
    EXPECT_EQ(ClassFromHeader(3, 3), 3);
    EXPECT_EQ(ClassFromHeader(3, 4), 5);
    EXPECT_EQ(ClassFromHeader(3, kInitialPreviousClass), 5);
    EXPECT_TRUE(ClassCanFollow(5, 4));
    EXPECT_FALSE(ClassCanFollow(1, 2));
    EXPECT_FALSE(ClassCanFollow(3, 5));
    EXPECT_TRUE(ClassCanFollow(0, 5));
}

TEST(Bitstream, AClassFiveFrameAfterAClassFourCostsTwoBits) {
    BitRemainder r{};
    uint8_t out[8];
    FrameFields low;
    low.frameClass = kClassLowLevel;
    low.value[kFieldGain2] = 31;
    EXPECT_EQ(PackFrame(r, low, out), 2); // 16 bits: two whole bytes, nothing left
    EXPECT_EQ(r.count, 0);
    EXPECT_EQ(out[0] & 3, 2); // header 2
    FrameFields repeat;
    repeat.frameClass = kClassRepeat;
    EXPECT_EQ(PackFrame(r, repeat, out), 0);
    EXPECT_EQ(r.count, 2);
    EXPECT_EQ(r.bits, 3); // header 3
    EXPECT_EQ(FlushRemainder(r, out), 1);
    EXPECT_EQ(out[0], 3);
    EXPECT_EQ(FlushRemainder(r, out), 0);
}

TEST(Bitstream, FieldsGoLeastSignificantBitFirstFromTheLowestBit) {
    BitRemainder r{};
    uint8_t out[8] = {};
    FrameFields f;
    f.frameClass = kClassLowLevel;
    f.value[kFieldGain2] = 0x15; // 10101
    f.value[kFieldLsf] = 0x03;
    f.value[kFieldLsf + 1] = 0x9;
    ASSERT_EQ(PackFrame(r, f, out), 2);
    // bits 0-1 header 2, 2-6 gain, 7-11 stage 1, 12-15 stage 2.
    const uint16_t word = static_cast<uint16_t>(out[0] | out[1] << 8);
    EXPECT_EQ(word & 3, 2);
    EXPECT_EQ((word >> 2) & 0x1F, 0x15);
    EXPECT_EQ((word >> 7) & 0x1F, 0x03);
    EXPECT_EQ((word >> 12) & 0xF, 0x9);
}

TEST(Bitstream, AFrameStartingAtBitSevenReadsItsHeaderAcrossTheByteBoundary) {
    // Bit 7 of byte 0 is the header's low bit, bit 0 of byte 1 its high bit:
    // header 1 + 2 = 3 after class 2 gives class 3 (22 bits, ending at bit 29).
    uint8_t in[5] = {0x80, 0x01, 0, 0, 0};
    FrameFields f;
    const UnpackResult r = UnpackFrame(in, 5, 7, kClassUnvoiced, f);
    ASSERT_TRUE(r.complete);
    EXPECT_EQ(f.frameClass, kClassUnvoicedContinued);
    EXPECT_EQ(r.bytesConsumed, 3);
    EXPECT_EQ(r.bitOffset, 5);
    // The same bytes from bit 7 with only byte 0 offered: the header itself is incomplete.
    EXPECT_FALSE(UnpackFrame(in, 1, 7, kClassUnvoiced, f).complete);
}

TEST(Bitstream, AFrameThatRunsPastTheOfferIsNotRead) {
    uint8_t in[7] = {0}; // header 0: class 0, 46 bits
    FrameFields f;
    f.frameClass = kClassLowLevel;
    f.value[kFieldGain2] = 7;
    for (int size = 0; size <= 5; ++size) {
        const UnpackResult r = UnpackFrame(in, size, 0, kClassRepeat, f);
        EXPECT_FALSE(r.complete) << size;
        EXPECT_EQ(r.bitOffset, 0);
    }
    EXPECT_EQ(f.frameClass, kClassLowLevel); // untouched
    EXPECT_EQ(f.value[kFieldGain2], 7);
    ASSERT_TRUE(UnpackFrame(in, 6, 0, kClassRepeat, f).complete);
    // From bit 3, 46 bits end at bit 49: seven bytes are needed, and found.
    EXPECT_FALSE(UnpackFrame(in, 6, 3, kClassRepeat, f).complete);
    const UnpackResult r = UnpackFrame(in, 7, 3, kClassRepeat, f);
    ASSERT_TRUE(r.complete);
    EXPECT_EQ(r.bytesConsumed, 6);
    EXPECT_EQ(r.bitOffset, 1);
}

TEST(Bitstream, NoMoreThanSevenBytesAreLookedAt) {
    // A stream whose eighth byte would matter if it were read: it is not.
    std::vector<uint8_t> in(16, 0xFF);
    in[0] = 0x00; // header 0 from bit 7: class 0, bits 7..52
    in[1] = 0xFE;
    FrameFields a, b;
    const UnpackResult ra = UnpackFrame(in.data(), 16, 7, kClassRepeat, a);
    in[7] = 0x00;
    in[8] = 0x00;
    const UnpackResult rb = UnpackFrame(in.data(), 16, 7, kClassRepeat, b);
    ASSERT_TRUE(ra.complete && rb.complete);
    EXPECT_EQ(ra.bytesConsumed, 6);
    for (int i = 0; i < kFieldCount; ++i) EXPECT_EQ(a.value[i], b.value[i]);
}

TEST(Bitstream, RandomClassAndFieldSequencesComeBackExactlyInEverySplit) {
    std::mt19937 rng(7);
    for (int trial = 0; trial < 50; ++trial) {
        // A legal class sequence: odd classes only after their partner.
        std::vector<FrameFields> frames;
        int previous = kInitialPreviousClass;
        for (int i = 0; i < 60; ++i) {
            int c = static_cast<int>(rng() % kClassCount);
            if (!ClassCanFollow(c, previous)) c -= 1;
            frames.push_back(RandomFrame(rng, c));
            previous = c;
        }
        BitRemainder r{};
        std::vector<uint8_t> stream;
        std::size_t bits = 0;
        for (const FrameFields &f : frames) {
            uint8_t out[8];
            const int n = PackFrame(r, f, out);
            ASSERT_LE(n, 6);
            stream.insert(stream.end(), out, out + n);
            bits += static_cast<std::size_t>(FrameBits(f.frameClass));
            ASSERT_EQ(stream.size() * 8 + r.count, bits);
        }
        uint8_t last[1];
        stream.insert(stream.end(), last, last + FlushRemainder(r, last));
        ASSERT_EQ(stream.size(), (bits + 7) / 8);

        // Read back with offers of random sizes, carrying the tail as a caller does.
        std::size_t pos = 0;
        int offset = 0;
        previous = kInitialPreviousClass;
        for (const FrameFields &expected : frames) {
            FrameFields got;
            UnpackResult u{};
            for (;;) {
                const int offer = std::min<int>(static_cast<int>(stream.size() - pos), 1 + static_cast<int>(rng() % 9));
                u = UnpackFrame(stream.data() + pos, offer, offset, previous, got);
                if (u.complete) break;
                ASSERT_LT(offer, 7) << "a 7-byte offer always holds a frame";
            }
            ASSERT_EQ(got.frameClass, expected.frameClass);
            for (int i = 1; i < kFieldCount; ++i) ASSERT_EQ(got.value[i], expected.value[i]);
            pos += static_cast<std::size_t>(u.bytesConsumed);
            offset = u.bitOffset;
            previous = got.frameClass;
        }
        EXPECT_EQ(pos * 8 + static_cast<std::size_t>(offset), bits);
    }
}

} // namespace
} // namespace vntr::vt15
