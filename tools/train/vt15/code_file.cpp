// Runs a speech file through VT15 (the engine the library ships) and writes
// the decoded result; prints the average bit rate and the class histogram,
// and with --frames one line per coded frame (class, activity, voicing
// pattern, pitch, gains) for checking the voice-activity decisions.
//   vt15_code_file INPUT OUTPUT.wav [--coded FILE] [--frames FILE]
#include "decoder.hpp"
#include "encoder.hpp"
#include "engine.hpp"
#include "speech_io.hpp"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <fstream>
#include <memory>

int main(int argc, char **argv) {
    using namespace vntr::vt15;
    CLI::App app{"Encodes and decodes a speech file with VT15"};
    std::string input;
    std::string output;
    std::string codedPath;
    std::string framesPath;
    app.add_option("input", input, "8 kHz speech (.wav or raw 16-bit)")->required();
    app.add_option("output", output, "decoded .wav")->required();
    app.add_option("--coded", codedPath, "also write the coded bit stream here");
    app.add_option("--frames", framesPath, "write one line per coded frame here");
    CLI11_PARSE(app, argc, argv);
    try {
        const auto speech = vntr::train::ReadSpeech(input);
        if (speech.sampleRate != 8000) throw std::runtime_error(input + ": not 8000 Hz");
        auto enc = std::make_unique<EncoderState>();
        InitEncoder(*enc);
        std::vector<uint8_t> coded;
        int histogram[kClassCount] = {};
        std::FILE *log = framesPath.empty() ? nullptr : std::fopen(framesPath.c_str(), "w");
        if (log) std::fprintf(log, "frame time_s class active pattern pitch_index gain1 gain2_index\n");
        const std::size_t frames = speech.samples.size() / kFrameLength;
        auto note = [&](std::size_t index) {
            // After each call the record just coded is `previous`.
            const FrameRecord &r = enc->previous;
            ++histogram[r.frameClass];
            if (log) {
                // Coded frame k describes the input analysed around (k - 1) * 180 + 60.
                const double t = (static_cast<double>(index) * kFrameLength - 120.0) / 8000.0;
                std::fprintf(log, "%zu %.4f %d %d %d %d %d %d\n", index, t, r.frameClass, r.active ? 1 : 0, r.pattern,
                             r.pitchIndex, r.gain1Index, r.gain2Index);
            }
        };
        for (std::size_t f = 0; f < frames; ++f) {
            float pcm[kFrameLength];
            for (int n = 0; n < kFrameLength; ++n) pcm[n] = speech.samples[f * kFrameLength + n];
            uint8_t out[kMaxCodedBytes];
            const int written = EncodeFrame(*enc, pcm, out);
            note(f);
            coded.insert(coded.end(), out, out + written);
        }
        uint8_t out[kMaxCodedBytes];
        const int written = FlushEncoder(*enc, out);
        note(frames);
        coded.insert(coded.end(), out, out + written);
        if (log) std::fclose(log);

        auto dec = std::make_unique<DecoderState>();
        InitDecoder(*dec);
        std::vector<int16_t> decoded;
        std::size_t pos = 0;
        int decodedFrames = 0;
        for (;;) {
            float pcm[kFrameLength];
            int consumed = 0;
            const int offered = static_cast<int>(std::min<std::size_t>(coded.size() - pos, kMaxCodedBytes));
            if (DecodeFrame(*dec, coded.data() + pos, offered, &consumed, pcm) != DecodeResult::Decoded) break;
            for (float x : pcm) decoded.push_back(vntr::frame::FloatToPcm16(x));
            pos += static_cast<std::size_t>(consumed);
            ++decodedFrames;
        }
        vntr::train::WriteWav(output, decoded, 8000);
        if (!codedPath.empty()) {
            std::ofstream c(codedPath, std::ios::binary);
            c.write(reinterpret_cast<const char *>(coded.data()), static_cast<std::streamsize>(coded.size()));
        }
        const double seconds = static_cast<double>(frames) * kFrameLength / 8000.0;
        std::printf("%zu frames in, %d decoded, %zu coded bytes, %.1f bit/s; classes", frames, decodedFrames,
                    coded.size(), seconds > 0 ? coded.size() * 8.0 / seconds : 0.0);
        for (int c = 0; c < kClassCount; ++c) std::printf(" %d:%d", c, histogram[c]);
        std::printf("\n");
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
