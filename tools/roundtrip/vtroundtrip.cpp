// vtroundtrip: runs a raw 16-bit mono recording through codec libraries, frame
// by frame through their exported interface, and prints for each the bit
// rate, the SNR and segmental SNR of the decoded signal (aligned at the
// codec's delay), and the encoding and decoding speed in multiples of real time.
#include <vntr/codec_binding.hpp>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Result {
    int frames = 0;
    double bitRate = 0, snr = 0, segSnr = 0, encodeRealTime = 0, decodeRealTime = 0;
    int delay = 0;
};

uint32_t RateFlag(int rate) {
    switch (rate) {
    case 8000:
        return CODEC_FMT_8KHZ;
    case 11025:
        return CODEC_FMT_11KHZ;
    case 22050:
        return CODEC_FMT_22KHZ;
    default:
        return 0;
    }
}

// The delay (0..maxDelay) that best aligns `out` with `ref`, by cross-correlation.
int BestDelay(const std::vector<int16_t> &ref, const std::vector<int16_t> &out, int maxDelay) {
    double best = -1e300;
    int bestDelay = 0;
    for (int d = 0; d <= maxDelay; ++d) {
        double c = 0;
        for (std::size_t n = static_cast<std::size_t>(d); n < out.size() && n - d < ref.size(); ++n)
            c += static_cast<double>(out[n]) * ref[n - static_cast<std::size_t>(d)];
        if (c > best) {
            best = c;
            bestDelay = d;
        }
    }
    return bestDelay;
}

void Quality(const std::vector<int16_t> &ref, const std::vector<int16_t> &out, int delay, int rate, Result &r) {
    double s = 0, e = 0, segSum = 0;
    int segments = 0;
    const std::size_t seg = static_cast<std::size_t>(rate / 50); // 20 ms
    double ss = 0, se = 0;
    std::size_t inSeg = 0;
    for (std::size_t n = static_cast<std::size_t>(delay); n < out.size() && n - delay < ref.size(); ++n) {
        const double x = ref[n - static_cast<std::size_t>(delay)], err = out[n] - x;
        s += x * x;
        e += err * err;
        ss += x * x;
        se += err * err;
        if (++inSeg == seg) {
            if (ss > seg * 100.0) { // skip near-silent segments
                segSum += std::clamp(10 * std::log10(ss / std::max(se, 1e-9)), -10.0, 35.0);
                ++segments;
            }
            ss = se = 0;
            inSeg = 0;
        }
    }
    r.snr = 10 * std::log10(s / std::max(e, 1e-9));
    r.segSnr = segments > 0 ? segSum / segments : 0;
}

Result Run(const std::string &path, const std::vector<int16_t> &pcm, int rate, uint32_t options) {
    vntr::CodecBinding lib(path);
    const uint32_t format = CODEC_FMT_PCM16_MONO | RateFlag(rate);
    Result r;
    CodecFormat enc{};
    if (CodecStatus st = lib.openEncoder(format, options, &enc); st != CODEC_OK)
        throw std::runtime_error(std::string("OpenEncoder:") + lib.getErrorString(st));
    std::vector<uint8_t> coded, out(enc.maxCodedBytes);
    const std::size_t perFrame = enc.frameBytes / 2;
    auto t0 = Clock::now();
    for (std::size_t at = 0; at + perFrame <= pcm.size(); at += perFrame, ++r.frames) {
        uint16_t in = enc.frameBytes, cap = enc.maxCodedBytes;
        if (CodecStatus st = lib.encode(enc.handle, 0, &pcm[at], &in, out.data(), &cap); st != CODEC_OK)
            throw std::runtime_error(std::string("Encode:") + lib.getErrorString(st));
        coded.insert(coded.end(), out.begin(), out.begin() + cap);
    }
    if (CodecNeedsFlush(enc.codecId) != 0) {
        uint16_t in = CODEC_END_OF_STREAM, cap = enc.maxCodedBytes;
        lib.encode(enc.handle, 0, pcm.data(), &in, out.data(), &cap);
        coded.insert(coded.end(), out.begin(), out.begin() + cap);
    }
    const double encodeSeconds = std::chrono::duration<double>(Clock::now() - t0).count();
    lib.closeEncoder(enc.handle);

    CodecFormat dec{};
    lib.openDecoder(format, options, &dec);
    std::vector<int16_t> decoded;
    std::vector<uint8_t> frame(dec.frameBytes);
    std::size_t pos = 0;
    t0 = Clock::now();
    while (pos < coded.size()) {
        uint16_t in = static_cast<uint16_t>(std::min<std::size_t>(coded.size() - pos, dec.maxCodedBytes + 1u));
        uint16_t cap = dec.frameBytes;
        if (lib.decode(dec.handle, 0, coded.data() + pos, &in, frame.data(), &cap) != CODEC_OK) break;
        pos += in;
        const std::size_t old = decoded.size();
        decoded.resize(old + cap / 2);
        std::memcpy(&decoded[old], frame.data(), cap);
    }
    const double decodeSeconds = std::chrono::duration<double>(Clock::now() - t0).count();
    lib.closeDecoder(dec.handle);

    const double audioSeconds = static_cast<double>(r.frames * perFrame) / rate;
    r.bitRate = coded.size() * 8.0 / audioSeconds;
    r.encodeRealTime = audioSeconds / std::max(encodeSeconds, 1e-9);
    r.decodeRealTime = audioSeconds / std::max(decodeSeconds, 1e-9);
    r.delay = BestDelay(pcm, decoded, 1200);
    Quality(pcm, decoded, r.delay, rate, r);
    return r;
}

} // namespace

int main(int argc, char **argv) {
    CLI::App app{"Runs a raw 16-bit mono recording through codec libraries and back"};
    std::string library, input;
    int rate = 8000;
    uint32_t options = 0;
    app.add_option("library", library, "codec library file (.so)")->required()->check(CLI::ExistingFile);
    app.add_option("input", input, "raw 16-bit little-endian mono recording")->required()->check(CLI::ExistingFile);
    app.add_option("--rate", rate, "sample rate of the recording")->check(CLI::IsMember({8000, 11025, 22050}));
    app.add_option("--options", options, "open options (e.g. 65536 for the 4.8 kbit/s mode)");
    CLI11_PARSE(app, argc, argv);

    std::ifstream f(input, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::vector<int16_t> pcm(bytes.size() / 2);
    std::memcpy(pcm.data(), bytes.data(), pcm.size() * 2);
    try {
        const Result r = Run(library, pcm, rate, options);
        const std::string name = library.substr(library.find_last_of('/') + 1);
        std::printf("%-14s %6d frames  %8.0f bit/s  SNR %5.1f dB  segSNR %5.1f dB  delay %4d  "
                    "encode %6.0fx  decode %6.0fx real time\n",
                    name.c_str(), r.frames, r.bitRate, r.snr, r.segSnr, r.delay, r.encodeRealTime, r.decodeRealTime);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "vtroundtrip: %s\n", e.what());
        return 1;
    }
    return 0;
}
