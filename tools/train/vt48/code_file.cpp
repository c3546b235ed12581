// Runs a speech file through VT48 (encoder and decoder, through the same
// codec frame the library exports) and writes the decoded result.
//   vt48_code_file INPUT OUTPUT.wav [--width 16|8] [--coded FILE] [--refinements MASK]
//                  [--reference FILE.wav]
// With --width 8 the input goes in as 8-bit unsigned samples (the high byte
// plus 128) and the output comes back the same way, widened to 16 bits.
// The library codes with the plain searches; --refinements codes with any
// set of the encoder's refinements (a bit mask, see encoder.hpp; 29 is the
// waveform set).
// --reference writes the input through the encoder's input filter and the
// decoder's output filter alone, the ceiling of waveform measures.
#include "analysis.hpp"
#include "engine.hpp"
#include "speech_io.hpp"
#include "tables.hpp"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <fstream>

using Frame = vntr::frame::Frame<vntr::vt48::Engine>;
using vntr::vt48::kFrameLength;

int main(int argc, char **argv) {
    CLI::App app{"Encodes and decodes a speech file with VT48"};
    std::string input;
    std::string output;
    int width = 16;
    std::string codedPath;
    std::string referencePath;
    int refinements = -1;
    std::vector<float> weighting;
    app.add_option("input", input, "8 kHz speech (.wav or raw 16-bit)")->required();
    app.add_option("output", output, "decoded .wav")->required();
    app.add_option("--width", width, "sample width at the interface, 16 or 8")->check(CLI::IsMember({8, 16}));
    app.add_option("--coded", codedPath, "also write the coded frames here");
    app.add_option("--refinements", refinements, "bit mask of the encoder refinements to use (see encoder.hpp)");
    app.add_option("--weighting", weighting, "g1 g2 of the refined error weighting A(z/g1)/A(z/g2)")->expected(2);
    app.add_option("--reference", referencePath, "write the input through the input and output filters here");
    CLI11_PARSE(app, argc, argv);
    try {
        const auto speech = vntr::train::ReadSpeech(input);
        if (speech.sampleRate != 8000) throw std::runtime_error(input + ": not 8000 Hz");
        const uint32_t format =
            CODEC_FMT_PCM | CODEC_FMT_MONO | CODEC_FMT_8KHZ | (width == 8 ? CODEC_FMT_8BIT : CODEC_FMT_16BIT);
        CodecFormat enc{};
        CodecFormat dec{};
        if (Frame::OpenEncoder(format, 0, &enc) != CODEC_OK || Frame::OpenDecoder(format, 0, &dec) != CODEC_OK) {
            throw std::runtime_error("cannot open the codec");
        }
        if (refinements >= 0) {
            auto *block = static_cast<vntr::frame::HandleBlock<vntr::vt48::Engine::EncoderState, 1> *>(enc.handle);
            block->state.coder.refinements = static_cast<uint32_t>(refinements);
        }
        if (weighting.size() == 2) {
            auto *block = static_cast<vntr::frame::HandleBlock<vntr::vt48::Engine::EncoderState, 1> *>(enc.handle);
            block->state.coder.weightNumerator = weighting[0];
            block->state.coder.weightDenominator = weighting[1];
        }
        std::vector<uint8_t> coded;
        const std::size_t frames = speech.samples.size() / kFrameLength;
        std::vector<uint8_t> pcm(enc.frameBytes);
        for (std::size_t f = 0; f < frames; ++f) {
            for (int n = 0; n < kFrameLength; ++n) {
                const int16_t s = speech.samples[f * kFrameLength + static_cast<std::size_t>(n)];
                if (width == 8) {
                    pcm[static_cast<std::size_t>(n)] = vntr::vt48::ToPcm8(s);
                } else {
                    pcm[2 * static_cast<std::size_t>(n)] = static_cast<uint8_t>(s & 0xFF);
                    pcm[2 * static_cast<std::size_t>(n) + 1] = static_cast<uint8_t>((s >> 8) & 0xFF);
                }
            }
            uint8_t out[12];
            uint16_t inBytes = enc.frameBytes;
            uint16_t outBytes = sizeof out;
            const CodecStatus s = Frame::Encode(enc.handle, 0, pcm.data(), &inBytes, out, &outBytes);
            if (s != CODEC_OK) throw std::runtime_error("encode failed with status " + std::to_string(s));
            coded.insert(coded.end(), out, out + outBytes);
        }
        Frame::CloseEncoder(enc.handle);
        std::vector<int16_t> decoded;
        for (std::size_t pos = 0; pos + 12 <= coded.size(); pos += 12) {
            uint8_t out[2 * kFrameLength];
            uint16_t inBytes = 12;
            uint16_t outBytes = sizeof out;
            if (Frame::Decode(dec.handle, 0, &coded[pos], &inBytes, out, &outBytes) != CODEC_OK) break;
            for (int n = 0; n < kFrameLength; ++n) {
                decoded.push_back(width == 8 ? static_cast<int16_t>((out[n] - 128) * 256)
                                             : static_cast<int16_t>(out[2 * n] | (out[2 * n + 1] << 8)));
            }
        }
        Frame::CloseDecoder(dec.handle);
        vntr::train::WriteWav(output, decoded, 8000);
        if (!referencePath.empty()) {
            std::vector<float> x(speech.samples.begin(), speech.samples.end());
            vntr::vt48::HighPassState hp{};
            vntr::vt48::HighPass(hp, x.data(), static_cast<int>(x.size()));
            std::vector<int16_t> reference(x.size());
            float in[4] = {}, outs[4] = {};
            for (std::size_t n = 0; n < x.size(); ++n) {
                using vntr::vt48::kOutputA;
                using vntr::vt48::kOutputB;
                const float z =
                    kOutputB[0] * x[n] + kOutputB[1] * in[0] + kOutputB[2] * in[1] + kOutputB[3] * in[2] +
                    kOutputB[4] * in[3] -
                    (kOutputA[0] * outs[0] + kOutputA[1] * outs[1] + kOutputA[2] * outs[2] + kOutputA[3] * outs[3]);
                in[3] = in[2], in[2] = in[1], in[1] = in[0], in[0] = x[n];
                outs[3] = outs[2], outs[2] = outs[1], outs[1] = outs[0], outs[0] = z;
                reference[n] = vntr::vt48::ToPcm16(z);
            }
            vntr::train::WriteWav(referencePath, reference, 8000);
        }
        if (!codedPath.empty()) {
            std::ofstream c(codedPath, std::ios::binary);
            c.write(reinterpret_cast<const char *>(coded.data()), static_cast<std::streamsize>(coded.size()));
        }
        std::printf("%zu frames, %zu coded bytes (%.0f bit/s)\n", frames, coded.size(),
                    frames ? static_cast<double>(coded.size()) * 8.0 / (static_cast<double>(frames) * 0.02) : 0.0);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
