// The codec options dialog's rules: which options a codec offers, what the
// dialog shows first, and the option word it stores.
#pragma once

#include <cstdint>

namespace vntr::gui {

enum class RateChoice { None, R4800, R6400 };

struct OptionsView {
    bool vadEnabled = false;   // the codec offers voice activity detection (0x1)
    bool r4800Enabled = false; // it offers the fixed 4.8 kbit/s mode (0x10000)
    bool r6400Enabled = false; // it offers the fixed 6.4 kbit/s mode (0x20000)
    bool vad = false;
    RateChoice rate = RateChoice::None;
};

// VAD is checked when the options have 0x1.  4800 is chosen when the rate
// bits are 0x10000; otherwise 6400 when they are 0x20000 or the codec offers
// 6400; otherwise neither.
OptionsView InitialOptions(uint32_t optionMask, uint32_t encoderOptions);

// 0x1 for VAD, plus 0x10000 for 4800 or 0x20000 for 6400.
uint32_t OptionWord(bool vad, RateChoice rate);

} // namespace vntr::gui
