// The VT15 frame: 180 samples, twelve coded fields, six classes of 2 to 46
// bits told apart by a 2-bit header whose value 3 continues the previous
// frame's class.
#pragma once

#include <cstdint>

namespace vntr::vt15 {

constexpr int kFrameLength = 180; // samples, 22.5 ms at 8000 Hz
constexpr int kOrder = 10;        // LPC order, LSF per frame
constexpr int kBands = 5;         // voicing bands
constexpr int kFieldCount = 12;
constexpr int kClassCount = 6;
constexpr int kMaxFrameBits = 46;
constexpr int kMaxCodedBytes = 7; // 46 bits from any bit offset fit in 7 bytes
constexpr int kLsfStages = 6;

// Field numbers.
enum FieldIndex : int {
    kFieldHeader = 0,
    kFieldPitch = 1,   // 6-bit index, or 3-bit difference
    kFieldJitter = 2,  // 1 bit
    kFieldPattern = 3, // 4-bit voicing pattern, or 3 bits for patterns 8..15
    kFieldGain1 = 4,   // 3 bits
    kFieldGain2 = 5,   // 5-bit index, or 3- / 4-bit difference
    kFieldLsf = 6,     // fields 6..11: LSF stages 1..6
};

// Frame classes.
enum FrameClass : int {
    kClassVoiced = 0,            // everything absolute, LSF by six stages
    kClassVoicedContinued = 1,   // differences from a voiced frame, LSF stages 2..6 on the previous vector
    kClassUnvoiced = 2,          // two gains, LSF by five stages
    kClassUnvoicedContinued = 3, // gain difference, LSF stages 3..6 on the previous vector
    kClassLowLevel = 4,          // second gain, LSF by two stages
    kClassRepeat = 5,            // nothing but the header
};

// Bits of each field, per class.
inline constexpr uint8_t kFieldWidths[kClassCount][kFieldCount] = {
    {2, 6, 1, 4, 3, 5, 5, 4, 4, 4, 4, 4}, {2, 3, 1, 3, 0, 3, 0, 4, 4, 4, 4, 4}, {2, 0, 0, 0, 3, 5, 5, 4, 4, 4, 4, 0},
    {2, 0, 0, 0, 0, 4, 0, 0, 4, 4, 4, 4}, {2, 0, 0, 0, 0, 5, 5, 4, 0, 0, 0, 0}, {2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
};

constexpr int FrameBits(int frameClass) {
    int bits = 0;
    for (int f = 0; f < kFieldCount; ++f) bits += kFieldWidths[frameClass][f];
    return bits;
}

// Header 0, 1, 2 name classes 0, 2, 4; header 3 continues an even class c
// with c + 1 and repeats an odd one.
constexpr int ClassFromHeader(int header, int previousClass) {
    if (header < 3) return 2 * header;
    return (previousClass % 2 == 0) ? previousClass + 1 : previousClass;
}

constexpr int HeaderForClass(int frameClass) {
    return frameClass % 2 == 0 ? frameClass / 2 : 3;
}

// An odd class can only follow its even partner or itself.
constexpr bool ClassCanFollow(int frameClass, int previousClass) {
    return ClassFromHeader(HeaderForClass(frameClass), previousClass) == frameClass;
}

// The class both sides assume before the first frame.
constexpr int kInitialPreviousClass = kClassRepeat;

// One frame's coded fields; fields a class does not send are 0.
struct FrameFields {
    int frameClass = kClassRepeat;
    uint16_t value[kFieldCount] = {};
};

} // namespace vntr::vt15
