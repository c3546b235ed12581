// The 250f11 library: the audio coder at 25 kbit/s, 11025 Hz.
#include "engine.h"

namespace vntr::audiocoder {
namespace {

struct Vt250f11 {
    static constexpr const Config &kConfig = kConfig250f11;
    static constexpr CodecInfo kInfo = {CODEC_FMT_PCM16_MONO | CODEC_FMT_11KHZ,
                                        0,
                                        0x5000F,
                                        0,
                                        {1, 1, 1, 1},
                                        0,
                                        "Veltrane(TM) 250f11 Audio Coder (25 kbps, 11 kHz)",
                                        "VT250f11"};
    static constexpr CodecFormat kMode = {nullptr, 0, 26000, 57800, 962, CODEC_ID_VT250F11, kFrameBytes, 755, 21.0f};
    static constexpr uint32_t kLibraryTag = 0x56543235u;
    VNTR_AUDIOCODER_REGISTRATION("250f11");
};

} // namespace
} // namespace vntr::audiocoder

VNTR_DEFINE_CODEC_EXPORTS(vltr250f11, vntr::audiocoder::Engine<vntr::audiocoder::Vt250f11>)
