#include "speech_io.hpp"

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace vntr::train {
namespace {

uint32_t Le32(const unsigned char *p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t Le16(const unsigned char *p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

std::vector<unsigned char> ReadAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error(path + ": cannot open");
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool EndsWith(const std::string &s, const std::string &suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

} // namespace

Speech ReadSpeech(const std::string &path) {
    const std::vector<unsigned char> bytes = ReadAll(path);
    Speech speech;
    if (!EndsWith(path, ".wav")) {
        speech.sampleRate = 8000;
        speech.samples.resize(bytes.size() / 2);
        for (std::size_t i = 0; i < speech.samples.size(); ++i) {
            speech.samples[i] = static_cast<int16_t>(Le16(&bytes[2 * i]));
        }
        return speech;
    }
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 || std::memcmp(&bytes[8], "WAVE", 4) != 0) {
        throw std::runtime_error(path + ": not a RIFF WAVE file");
    }
    std::size_t pos = 12;
    bool haveFormat = false;
    while (pos + 8 <= bytes.size()) {
        const uint32_t size = Le32(&bytes[pos + 4]);
        const std::size_t body = pos + 8;
        if (body + size > bytes.size() && std::memcmp(&bytes[pos], "data", 4) != 0) break;
        if (std::memcmp(&bytes[pos], "fmt ", 4) == 0 && size >= 16) {
            const uint16_t tag = Le16(&bytes[body]);
            const uint16_t channels = Le16(&bytes[body + 2]);
            speech.sampleRate = static_cast<int>(Le32(&bytes[body + 4]));
            const uint16_t bits = Le16(&bytes[body + 14]);
            if ((tag != 1 && tag != 0xFFFE) || channels != 1 || bits != 16) {
                throw std::runtime_error(path + ": not 16-bit mono PCM");
            }
            haveFormat = true;
        } else if (std::memcmp(&bytes[pos], "data", 4) == 0) {
            if (!haveFormat) throw std::runtime_error(path + ": data before format");
            const std::size_t available = std::min<std::size_t>(size, bytes.size() - body);
            speech.samples.resize(available / 2);
            for (std::size_t i = 0; i < speech.samples.size(); ++i) {
                speech.samples[i] = static_cast<int16_t>(Le16(&bytes[body + 2 * i]));
            }
            return speech;
        }
        pos = body + size + (size & 1u);
    }
    throw std::runtime_error(path + ": no data chunk");
}

void WriteWav(const std::string &path, const std::vector<int16_t> &samples, int sampleRate) {
    std::ofstream out(path, std::ios::binary);
    if (!out) throw std::runtime_error(path + ": cannot create");
    auto put32 = [&](uint32_t v) {
        const unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                                    static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
        out.write(reinterpret_cast<const char *>(b), 4);
    };
    auto put16 = [&](uint16_t v) {
        const unsigned char b[2] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8)};
        out.write(reinterpret_cast<const char *>(b), 2);
    };
    const auto dataBytes = static_cast<uint32_t>(samples.size() * 2);
    out.write("RIFF", 4);
    put32(36 + dataBytes);
    out.write("WAVEfmt ", 8);
    put32(16);
    put16(1);
    put16(1);
    put32(static_cast<uint32_t>(sampleRate));
    put32(static_cast<uint32_t>(sampleRate) * 2);
    put16(2);
    put16(16);
    out.write("data", 4);
    put32(dataBytes);
    for (int16_t s : samples) put16(static_cast<uint16_t>(s));
    if (!out) throw std::runtime_error(path + ": write failed");
}

std::vector<std::string> ReadList(const std::string &path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error(path + ": cannot open");
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

} // namespace vntr::train
