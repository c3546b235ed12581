// libFuzzer target: any byte stream through the audio coders' Decode, cut
// into offers of every size the input asks for. Build with
//   cmake -DVNTR_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang
// and run build/tests/fuzz/audiocoder_decode_fuzz -max_total_time=600.
#include "test_paths.hpp"

#include <vntr/codec_binding.hpp>

#include <cstring>
#include <memory>
#include <vector>

namespace {

struct Target {
    std::unique_ptr<vntr::CodecBinding> lib;
    uint32_t format;
};

std::vector<Target> &Targets() {
    static std::vector<Target> targets = [] {
        std::vector<Target> t;
        const std::pair<const char *, uint32_t> libs[] = {{"VT180", CODEC_FMT_PCM16_MONO_8KHZ},
                                                          {"VT250f11", CODEC_FMT_PCM16_MONO | CODEC_FMT_11KHZ},
                                                          {"VT500f22", CODEC_FMT_PCM16_MONO | CODEC_FMT_22KHZ}};
        for (const auto &[name, format] : libs)
            t.push_back({std::make_unique<vntr::CodecBinding>(vntr::test::CodecLibraryPath(name)), format});
        return t;
    }();
    return targets;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    Target &t = Targets()[data[0] % Targets().size()];
    ++data;
    --size;
    CodecFormat f{};
    if (t.lib->openDecoder(t.format, 0, &f) != CODEC_OK) __builtin_trap();
    std::vector<uint8_t> pcm(f.frameBytes);
    while (size >= 2) {
        // Two bytes choose the offer; each offer sits in a buffer of exactly its size.
        const std::size_t want = (static_cast<std::size_t>(data[0]) << 8 | data[1]) % (f.maxCodedBytes + 40u);
        data += 2;
        size -= 2;
        const std::size_t offer = want < size ? want : size;
        auto buffer = std::make_unique<uint8_t[]>(offer + (offer == 0));
        std::memcpy(buffer.get(), data, offer);
        uint16_t in = static_cast<uint16_t>(offer), cap = f.frameBytes;
        const CodecStatus st = t.lib->decode(f.handle, 0, buffer.get(), &in, pcm.data(), &cap);
        if (st != CODEC_OK && st != CODEC_ERR_NEED_DATA) __builtin_trap();
        if (cap != f.frameBytes || in > offer) __builtin_trap();
        if (st == CODEC_OK) {
            data += in;
            size -= in;
        }
    }
    t.lib->closeDecoder(f.handle);
    return 0;
}
