// Runs a speech file through VT120 (encoder and decoder, through the same
// codec frame the library exports) and writes the decoded result.
//   vt120_code_file INPUT OUTPUT.wav [--coded FILE] [--decode-only] [--no-postfilter]
#include "engine.hpp"
#include "speech_io.hpp"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>
#include <memory>

using Frame = vntr::frame::Frame<vntr::vt120::Engine>;
using namespace vntr::vt120;

int main(int argc, char **argv) {
    CLI::App app{"Encodes and decodes a speech file with VT120"};
    std::string input;
    std::string output;
    std::string codedPath;
    bool decodeOnly = false;
    bool noPostfilter = false;
    app.add_option("input", input, "8 kHz speech (.wav or raw 16-bit), or coded frames with --decode-only")->required();
    app.add_option("output", output, "decoded .wav")->required();
    app.add_option("--coded", codedPath, "also write the coded frames here");
    app.add_flag("--decode-only", decodeOnly, "the input is a file of coded frames");
    app.add_flag("--no-postfilter", noPostfilter, "write the synthesis without the post-filter (for measurements)");
    CLI11_PARSE(app, argc, argv);
    try {
        const uint32_t format = CODEC_FMT_PCM16_MONO_8KHZ;
        std::vector<uint8_t> coded;
        std::size_t frames = 0;
        if (decodeOnly) {
            std::ifstream in(input, std::ios::binary);
            if (!in) throw std::runtime_error(input + ": cannot open");
            coded.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        } else {
            const auto speech = vntr::train::ReadSpeech(input);
            if (speech.sampleRate != 8000) throw std::runtime_error(input + ": not 8000 Hz");
            CodecFormat enc{};
            if (Frame::OpenEncoder(format, 0, &enc) != CODEC_OK) throw std::runtime_error("cannot open the encoder");
            frames = speech.samples.size() / kFrameLength;
            for (std::size_t f = 0; f < frames; ++f) {
                uint8_t out[kCodedBytes];
                uint16_t inBytes = kFrameBytes;
                uint16_t outBytes = sizeof out;
                const CodecStatus s =
                    Frame::Encode(enc.handle, 0, &speech.samples[f * kFrameLength], &inBytes, out, &outBytes);
                if (s != CODEC_OK) throw std::runtime_error("encode failed with status " + std::to_string(s));
                coded.insert(coded.end(), out, out + outBytes);
            }
            Frame::CloseEncoder(enc.handle);
        }
        std::vector<int16_t> decoded;
        if (noPostfilter) {
            // The engine directly, for the synthesis without the post-filter.
            auto dec = std::make_unique<DecoderState>();
            InitDecoder(*dec);
            for (std::size_t pos = 0; pos + kCodedBytes <= coded.size(); pos += kCodedBytes) {
                float out[kFrameLength];
                DecodeFrame(*dec, &coded[pos], out, false);
                for (float x : out) decoded.push_back(vntr::frame::FloatToPcm16(x));
            }
        } else {
            CodecFormat dec{};
            if (Frame::OpenDecoder(format, 0, &dec) != CODEC_OK) throw std::runtime_error("cannot open the decoder");
            for (std::size_t pos = 0; pos + kCodedBytes <= coded.size(); pos += kCodedBytes) {
                int16_t pcm[kFrameLength];
                uint16_t inBytes = kCodedBytes;
                uint16_t outBytes = sizeof pcm;
                if (Frame::Decode(dec.handle, 0, &coded[pos], &inBytes, pcm, &outBytes) != CODEC_OK) break;
                decoded.insert(decoded.end(), pcm, pcm + outBytes / 2);
            }
            Frame::CloseDecoder(dec.handle);
        }
        vntr::train::WriteWav(output, decoded, 8000);
        if (!codedPath.empty()) {
            std::ofstream c(codedPath, std::ios::binary);
            c.write(reinterpret_cast<const char *>(coded.data()), static_cast<std::streamsize>(coded.size()));
        }
        std::printf("%zu frames, %zu coded bytes\n", coded.size() / kCodedBytes, coded.size());
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
