// The 500f22 library: the audio coder at 50 kbit/s, 22050 Hz.
#include "engine.h"

namespace vntr::audiocoder {
namespace {

struct Vt500f22 {
    static constexpr const Config &kConfig = kConfig500f22;
    static constexpr CodecInfo kInfo = {CODEC_FMT_PCM16_MONO | CODEC_FMT_22KHZ,
                                        0,
                                        0x5000F,
                                        0,
                                        {1, 1, 1, 1},
                                        0,
                                        "Veltrane(TM) 500f22 Audio Coder (50 kbps, 22 kHz)",
                                        "VT500f22"};
    static constexpr CodecFormat kMode = {nullptr, 0, 50000, 79090, 962, CODEC_ID_VT500F22, kFrameBytes, 517, 16.5f};
    static constexpr uint32_t kLibraryTag = 0x56543530u;
    VNTR_AUDIOCODER_REGISTRATION("500f22");
};

} // namespace
} // namespace vntr::audiocoder

VNTR_DEFINE_CODEC_EXPORTS(vltr500f22, vntr::audiocoder::Engine<vntr::audiocoder::Vt500f22>)
