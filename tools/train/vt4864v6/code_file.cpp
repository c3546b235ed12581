// Runs a speech file through VT4864v6 (encoder and decoder, through the same
// codec frame the library exports) and writes the decoded result.
//   vt4864v6_code_file INPUT OUTPUT.wav [--rate 4800|6400|alternate] [--coded FILE]
#include "engine.hpp"
#include "speech_io.hpp"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <fstream>

using Frame = vntr::frame::Frame<vntr::vt4864v6::Engine>;

int main(int argc, char **argv) {
    CLI::App app{"Encodes and decodes a speech file with VT4864v6"};
    std::string input;
    std::string output;
    std::string rate = "6400";
    std::string codedPath;
    app.add_option("input", input, "8 kHz speech (.wav or raw 16-bit)")->required();
    app.add_option("output", output, "decoded .wav")->required();
    app.add_option("--rate", rate, "4800, 6400 (fixed modes), variable (6.4 in the variable mode) or alternate")
        ->check(CLI::IsMember({"4800", "6400", "variable", "alternate"}));
    app.add_option("--coded", codedPath, "also write the coded frames here");
    CLI11_PARSE(app, argc, argv);
    try {
        const auto speech = vntr::train::ReadSpeech(input);
        if (speech.sampleRate != 8000) throw std::runtime_error(input + ": not 8000 Hz");
        const uint32_t format = CODEC_FMT_PCM16_MONO_8KHZ;
        const uint32_t options = rate == "4800" ? CODEC_OPT_4800 : (rate == "6400" ? CODEC_OPT_6400 : 0u);
        CodecFormat enc{};
        CodecFormat dec{};
        if (Frame::OpenEncoder(format, options, &enc) != CODEC_OK ||
            Frame::OpenDecoder(format, options, &dec) != CODEC_OK) {
            throw std::runtime_error("cannot open the codec");
        }
        std::vector<uint8_t> coded;
        const std::size_t frames = speech.samples.size() / 240;
        for (std::size_t f = 0; f < frames; ++f) {
            uint8_t out[24];
            uint16_t inBytes = 480;
            uint16_t outBytes = sizeof out;
            const uint32_t flags = rate == "alternate" ? (f % 2 ? CODEC_OPT_4800 : 0u) : 0u;
            const CodecStatus s = Frame::Encode(enc.handle, flags, &speech.samples[f * 240], &inBytes, out, &outBytes);
            if (s != CODEC_OK) throw std::runtime_error("encode failed with status " + std::to_string(s));
            coded.insert(coded.end(), out, out + outBytes);
        }
        Frame::CloseEncoder(enc.handle);
        std::vector<int16_t> decoded;
        std::size_t pos = 0;
        while (pos < coded.size()) {
            int16_t pcm[240];
            uint16_t inBytes = static_cast<uint16_t>(std::min<std::size_t>(coded.size() - pos, dec.maxCodedBytes));
            uint16_t outBytes = sizeof pcm;
            const CodecStatus s = Frame::Decode(dec.handle, 0, &coded[pos], &inBytes, pcm, &outBytes);
            if (s != CODEC_OK) break;
            decoded.insert(decoded.end(), pcm, pcm + outBytes / 2);
            pos += inBytes;
        }
        Frame::CloseDecoder(dec.handle);
        vntr::train::WriteWav(output, decoded, 8000);
        if (!codedPath.empty()) {
            std::ofstream c(codedPath, std::ios::binary);
            c.write(reinterpret_cast<const char *>(coded.data()), static_cast<std::streamsize>(coded.size()));
        }
        std::printf("%zu frames, %zu coded bytes (%.0f bit/s)\n", frames, coded.size(),
                    frames ? coded.size() * 8.0 / (frames * 0.03) : 0.0);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
