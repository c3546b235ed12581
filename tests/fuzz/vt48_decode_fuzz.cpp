// libFuzzer target: any byte stream through VT48's Decode, at either sample
// width, cut into offers of every size the input asks for: a whole frame is
// taken and gives a whole frame of samples, a short offer asks for more. Build with
//   cmake -DVNTR_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang
// and run build/tests/fuzz/vt48_decode_fuzz -max_total_time=600.
#include "test_paths.hpp"

#include <vntr/codec_binding.hpp>

#include <cstring>
#include <memory>
#include <vector>

namespace {

vntr::CodecBinding &Library() {
    static vntr::CodecBinding lib(vntr::test::CodecLibraryPath("VT48"));
    return lib;
}

constexpr uint32_t kFormat16 = CODEC_FMT_PCM | CODEC_FMT_MONO | CODEC_FMT_8KHZ | CODEC_FMT_16BIT;
constexpr uint32_t kFormat8 = CODEC_FMT_PCM | CODEC_FMT_MONO | CODEC_FMT_8KHZ | CODEC_FMT_8BIT;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const bool eightBit = (data[0] & 1) != 0;
    ++data;
    --size;
    vntr::CodecBinding &lib = Library();
    CodecFormat f{};
    if (lib.openDecoder(eightBit ? kFormat8 : kFormat16, 0, &f) != CODEC_OK) __builtin_trap();
    std::vector<uint8_t> pcm(f.frameBytes);
    while (size >= 1) {
        // One byte chooses the offer; each offer sits in a buffer of exactly its size.
        const std::size_t want = data[0] % (f.maxCodedBytes + 8u);
        ++data;
        --size;
        const std::size_t offer = want < size ? want : size;
        auto buffer = std::make_unique<uint8_t[]>(offer + (offer == 0));
        std::memcpy(buffer.get(), data, offer);
        uint16_t in = static_cast<uint16_t>(offer), cap = f.frameBytes;
        const CodecStatus st = lib.decode(f.handle, 0, buffer.get(), &in, pcm.data(), &cap);
        if (st != CODEC_OK && st != CODEC_ERR_NEED_DATA) __builtin_trap();
        if (cap != f.frameBytes || in > offer) __builtin_trap();
        if ((st == CODEC_OK) != (offer >= f.maxCodedBytes)) __builtin_trap();
        if (st == CODEC_OK && in != f.maxCodedBytes) __builtin_trap();
        if (st == CODEC_OK) {
            data += in;
            size -= in;
        }
    }
    lib.closeDecoder(f.handle);
    return 0;
}
