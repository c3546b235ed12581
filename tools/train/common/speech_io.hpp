// Reading and writing the speech files the training and measuring tools use:
// RIFF wave files of 16-bit mono PCM, and headerless 16-bit little-endian raw
// files (the codec2 example recordings).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vntr::train {

struct Speech {
    std::vector<int16_t> samples;
    int sampleRate = 0;
};

// Reads a .wav (16-bit PCM, mono) or, for any other extension, raw 16-bit
// little-endian samples at 8000 Hz.  Throws std::runtime_error with the
// reason on failure.
Speech ReadSpeech(const std::string &path);

// Writes a 16-bit mono wave file.
void WriteWav(const std::string &path, const std::vector<int16_t> &samples, int sampleRate);

// Lines of a list file (one path per line; blank lines skipped).
std::vector<std::string> ReadList(const std::string &path);

} // namespace vntr::train
