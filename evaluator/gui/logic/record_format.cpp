#include "gui/logic/record_format.hpp"

#include "core/wavefile.hpp"

namespace vntr::gui {

RecordChoice ChoiceFromFormat(uint32_t format) {
    RecordChoice choice;
    choice.rate = 0;
    const int32_t hz = evaluator::RateOfFlags(format);
    for (std::size_t i = 0; i < kRecordRates.size(); ++i) {
        if (kRecordRates[i].hz == hz) choice.rate = static_cast<int>(i);
    }
    choice.channels = (format & CODEC_FMT_STEREO) != 0 ? 2 : 1;
    choice.bits = (format & CODEC_FMT_8BIT) != 0 ? 8 : 16;
    return choice;
}

uint32_t FormatFromChoice(const RecordChoice &choice) {
    const int32_t hz = choice.rate >= 0 && choice.rate < static_cast<int>(kRecordRates.size())
                           ? kRecordRates[static_cast<std::size_t>(choice.rate)].hz
                           : 8000;
    uint32_t format = CODEC_FMT_PCM | evaluator::RateFlag(hz);
    format |= choice.channels == 2 ? CODEC_FMT_STEREO : CODEC_FMT_MONO;
    format |= choice.bits == 8 ? CODEC_FMT_8BIT : CODEC_FMT_16BIT;
    return format;
}

} // namespace vntr::gui
