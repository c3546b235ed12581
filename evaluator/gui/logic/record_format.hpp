// The recording format: a format word (PCM, channel, width and rate flags)
// and the choices of the record settings dialog that make it.
#pragma once

#include <vntr/codec_api.h>

#include <array>
#include <cstdint>

namespace vntr::gui {

// 8000 Hz, 16 bit, mono, PCM: the format at start-up.
constexpr uint32_t kDefaultRecordFormat = CODEC_FMT_PCM16_MONO_8KHZ;

struct RecordRate {
    int32_t hz;
    const char *label; // the dialog's radio button
};
constexpr std::array<RecordRate, 9> kRecordRates = {{{8000, "8 kHz"},
                                                     {11025, "11 kHz"},
                                                     {12000, "12 kHz"},
                                                     {16000, "16 kHz"},
                                                     {22050, "22 kHz"},
                                                     {24000, "24 kHz"},
                                                     {32000, "32 kHz"},
                                                     {44100, "44 kHz"},
                                                     {48000, "48 kHz"}}};

struct RecordChoice {
    int rate = -1;    // index into kRecordRates, -1 for none
    int channels = 0; // 1, 2, or 0 for none
    int bits = 0;     // 8, 16, or 0 for none
};

// The buttons that show a format: its rate (8 kHz when it has none of the
// nine), stereo when its channel flag says so, else mono, 8 bit when its
// width flag says so, else 16 bit.
RecordChoice ChoiceFromFormat(uint32_t format);
// The format of the chosen buttons: PCM, the rate (8000 Hz when none),
// mono unless stereo is chosen, 16 bit unless 8 bit is chosen.
uint32_t FormatFromChoice(const RecordChoice &choice);

} // namespace vntr::gui
