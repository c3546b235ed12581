// The 180 library: the audio coder at 18 kbit/s, 8000 Hz.
#include "engine.h"

namespace vntr::audiocoder {
namespace {

struct Vt180 {
    static constexpr const Config &kConfig = kConfig180;
    static constexpr CodecInfo kInfo = {CODEC_FMT_PCM16_MONO_8KHZ,
                                        0,
                                        0x5000F,
                                        0,
                                        {1, 1, 1, 1},
                                        0,
                                        "Veltrane(TM) 180 Audio Coder (18 kbps, 8 kHz)",
                                        "VT180"};
    static constexpr CodecFormat kMode = {nullptr, 0, 18000, 35110, 962, CODEC_ID_VT180, kFrameBytes, 632, 24.0f};
    static constexpr uint32_t kLibraryTag = 0x56543138u;
    VNTR_AUDIOCODER_REGISTRATION("180");
};

} // namespace
} // namespace vntr::audiocoder

VNTR_DEFINE_CODEC_EXPORTS(vltr180, vntr::audiocoder::Engine<vntr::audiocoder::Vt180>)
