// The codec options dialog's rules: which options a codec offers, what the
// dialog shows first, and the option word it stores.
#pragma once

#include <cstdint>

namespace vntr::gui {

enum class RateChoice { None, R4800, R6400 };

struct OptionsView {
    bool vadEnabled = false;   // the codec offers voice activity detection (CODEC_OPT_VAD)
    bool r4800Enabled = false; // it offers the fixed 4.8 kbit/s mode (CODEC_OPT_4800)
    bool r6400Enabled = false; // it offers the fixed 6.4 kbit/s mode (CODEC_OPT_6400)
    bool vad = false;
    RateChoice rate = RateChoice::None;
};

// VAD is checked when the options have CODEC_OPT_VAD.  4800 is chosen when
// the rate bits are CODEC_OPT_4800; otherwise 6400 when they are
// CODEC_OPT_6400 or the codec offers 6400; otherwise neither.
OptionsView InitialOptions(uint32_t optionMask, uint32_t encoderOptions);

// CODEC_OPT_VAD for VAD, plus CODEC_OPT_4800 for 4800 or CODEC_OPT_6400 for 6400.
uint32_t OptionWord(bool vad, RateChoice rate);

} // namespace vntr::gui
