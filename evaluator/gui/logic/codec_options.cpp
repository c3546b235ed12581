#include "gui/logic/codec_options.hpp"

#include <vntr/codec_api.h>

namespace vntr::gui {

OptionsView InitialOptions(uint32_t optionMask, uint32_t encoderOptions) {
    OptionsView view;
    view.vadEnabled = (optionMask & CODEC_OPT_VAD) != 0;
    view.r4800Enabled = (optionMask & CODEC_OPT_4800) != 0;
    view.r6400Enabled = (optionMask & CODEC_OPT_6400) != 0;
    view.vad = (encoderOptions & CODEC_OPT_VAD) != 0;
    const uint32_t rate = encoderOptions & CODEC_OPT_RATES;
    if (rate == CODEC_OPT_4800) {
        view.rate = RateChoice::R4800;
    } else if (rate == CODEC_OPT_6400 || view.r6400Enabled) {
        view.rate = RateChoice::R6400;
    }
    return view;
}

uint32_t OptionWord(bool vad, RateChoice rate) {
    uint32_t word = vad ? CODEC_OPT_VAD : 0u;
    if (rate == RateChoice::R4800) {
        word |= CODEC_OPT_4800;
    } else if (rate == RateChoice::R6400) {
        word |= CODEC_OPT_6400;
    }
    return word;
}

} // namespace vntr::gui
