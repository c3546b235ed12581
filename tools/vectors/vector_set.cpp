#include "vector_set.hpp"

#include <vntr/codec_api.h>
#include <vntr/codec_binding.hpp>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <stdexcept>

namespace vntr::vectors {
namespace {

using nlohmann::json;

constexpr std::size_t kExcerptSamples = 512;
constexpr std::size_t kExcerptStep = 64;

// A number in the table: a JSON integer, or a string in C notation ("0x12102").
uint32_t Word(const json &value, const std::string &what) {
    if (value.is_number_unsigned() && value.get<uint64_t>() <= 0xFFFFFFFFu) return value.get<uint32_t>();
    if (value.is_string()) {
        const std::string text = value.get<std::string>();
        std::size_t used = 0;
        unsigned long parsed = 0;
        try {
            parsed = std::stoul(text, &used, 0);
        } catch (const std::exception &) {
            used = 0;
        }
        if (used == text.size() && !text.empty() && parsed <= 0xFFFFFFFFul) return static_cast<uint32_t>(parsed);
    }
    throw std::runtime_error(what + " is not a 32-bit number: " + value.dump());
}

std::string Hex64(uint64_t v) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(v));
    return text;
}

// --- Integer signal generators ---

// atan(2^-i) in units of a full turn / 2^32, and the CORDIC gain in Q30.
constexpr int32_t kAtan[24] = {536870912, 316933406, 167458907, 85004756, 42667331, 21354465, 10679838, 5340245,
                               2670163,   1335087,   667544,    333772,   166886,   83443,    41722,    20861,
                               10430,     5215,      2608,      1304,     652,      326,      163,      81};
constexpr int64_t kCordicGainQ30 = 652032874;

// amplitude * sin(phase), phase a fraction of a full turn in 32 bits; exact
// integer rotation, so the same on every machine.
int32_t Sine(uint32_t phase, int32_t amplitude) {
    auto z = static_cast<int64_t>(static_cast<int32_t>(phase)); // -half .. half a turn
    bool negate = false;
    constexpr int64_t kQuarter = int64_t{1} << 30;
    if (z > kQuarter) {
        z -= 2 * kQuarter;
        negate = true;
    } else if (z < -kQuarter) {
        z += 2 * kQuarter;
        negate = true;
    }
    int64_t x = (static_cast<int64_t>(amplitude) << 14) * kCordicGainQ30 >> 30;
    int64_t y = 0;
    for (int i = 0; i < 24; ++i) {
        const int64_t dx = y >> i;
        const int64_t dy = x >> i;
        if (z >= 0) {
            x -= dx, y += dy, z -= kAtan[i];
        } else {
            x += dx, y -= dy, z += kAtan[i];
        }
    }
    const auto s = static_cast<int32_t>((y + (1 << 13)) >> 14);
    return negate ? -s : s;
}

uint32_t PhaseStep(int64_t frequencyMilliHz, int rate) {
    return static_cast<uint32_t>((frequencyMilliHz << 32) / (int64_t{1000} * rate));
}

int16_t Clamp16(int64_t v) {
    return static_cast<int16_t>(std::clamp<int64_t>(v, -32768, 32767));
}

// An 8000 Hz recording at `rate`, by linear interpolation in integers (an
// input only: what matters is that it is the same everywhere).
std::vector<int16_t> FromEightKilohertz(const std::vector<int16_t> &x, int rate) {
    if (rate == 8000 || x.empty()) return x;
    const std::size_t n = (x.size() - 1) * static_cast<std::size_t>(rate) / 8000;
    std::vector<int16_t> y(n);
    for (std::size_t i = 0; i < n; ++i) {
        const uint64_t position = static_cast<uint64_t>(i) * 8000;
        const std::size_t k = position / static_cast<uint64_t>(rate);
        const auto fraction = static_cast<int64_t>(position % static_cast<uint64_t>(rate));
        y[i] = Clamp16(x[k] + (static_cast<int64_t>(x[k + 1]) - x[k]) * fraction / rate);
    }
    return y;
}

std::vector<int16_t> ReadRaw(const std::string &path, std::size_t samples) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes(samples * 2);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::vector<int16_t> x(static_cast<std::size_t>(in.gcount()) / 2);
    for (std::size_t i = 0; i < x.size(); ++i) {
        const auto lo = static_cast<uint8_t>(bytes[2 * i]);
        const auto hi = static_cast<uint8_t>(bytes[2 * i + 1]);
        x[i] = static_cast<int16_t>(static_cast<uint16_t>(lo | hi << 8));
    }
    return x;
}

// --- Damage ---

// Flips about one bit in 300 at positions from a fixed generator.
void Damage(std::vector<uint8_t> &stream) {
    uint32_t state = 0x5EED1234u;
    const std::size_t bits = stream.size() * 8;
    for (std::size_t at = 17; at < bits;) {
        stream[at / 8] ^= static_cast<uint8_t>(1u << (at % 8));
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        at += 1 + state % 600;
    }
}

std::string Status(const CodecBinding &lib, CodecStatus st) {
    const char *text = lib.getErrorString(st);
    return std::to_string(st) + (text ? std::string(" (") + (text[0] == ' ' ? text + 1 : text) + ")" : "");
}

// --- JSON of the stored vectors ---

std::string Base64(const std::vector<int16_t> &samples) {
    static const char *kDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::vector<uint8_t> bytes;
    for (int16_t s : samples) {
        bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s) & 0xFF));
        bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8));
    }
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const uint32_t b0 = bytes[i];
        const uint32_t b1 = i + 1 < bytes.size() ? bytes[i + 1] : 0;
        const uint32_t b2 = i + 2 < bytes.size() ? bytes[i + 2] : 0;
        const uint32_t v = b0 << 16 | b1 << 8 | b2;
        out += kDigits[v >> 18 & 63];
        out += kDigits[v >> 12 & 63];
        out += i + 1 < bytes.size() ? kDigits[v >> 6 & 63] : '=';
        out += i + 2 < bytes.size() ? kDigits[v & 63] : '=';
    }
    return out;
}

std::vector<int16_t> FromBase64(const std::string &text) {
    auto value = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    };
    std::vector<uint8_t> bytes;
    uint32_t acc = 0;
    int bits = 0;
    for (char c : text) {
        if (c == '=') break;
        const int v = value(c);
        if (v < 0) throw std::runtime_error("bad excerpt text");
        acc = acc << 6 | static_cast<uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes.push_back(static_cast<uint8_t>(acc >> bits & 0xFF));
        }
    }
    std::vector<int16_t> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(static_cast<uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8));
    return samples;
}

json SideJson(const Side &side, bool decoded) {
    json j{{decoded ? "samples" : "bytes", side.count}, {"fnv1a64", side.checksum}};
    if (decoded) j["endStatus"] = side.endStatus;
    if (side.excerpt) j["excerpt"] = json{{"at", side.excerpt->at}, {"samples", Base64(side.excerpt->samples)}};
    return j;
}

Side SideFromJson(const json &j, bool decoded) {
    Side side;
    side.count = j.at(decoded ? "samples" : "bytes").get<std::size_t>();
    side.checksum = j.at("fnv1a64").get<std::string>();
    if (decoded) side.endStatus = j.at("endStatus").get<int>();
    if (j.contains("excerpt")) {
        Excerpt e;
        e.at = j.at("excerpt").at("at").get<std::size_t>();
        e.samples = FromBase64(j.at("excerpt").at("samples").get<std::string>());
        side.excerpt = std::move(e);
    }
    return side;
}

} // namespace

// --- The table ---

std::vector<Library> LoadLibraries(const std::string &path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path);
    json table;
    try {
        table = json::parse(in, nullptr, true, true);
    } catch (const json::exception &e) {
        throw std::runtime_error(path + ": " + e.what());
    }
    std::vector<Library> libraries;
    for (const json &entry : table.at("libraries")) {
        Library lib;
        lib.name = entry.at("name").get<std::string>();
        const std::string arithmetic = entry.value("arithmetic", std::string("float"));
        if (arithmetic != "float" && arithmetic != "exact")
            throw std::runtime_error(lib.name + ": arithmetic is \"float\" or \"exact\", not \"" + arithmetic + "\"");
        lib.floatArithmetic = arithmetic == "float";
        lib.systemLibrary = entry.value("systemLibrary", false);
        if (entry.contains("tolerance")) {
            lib.tolerance.maxDifference = entry["tolerance"].value("maxDifference", lib.tolerance.maxDifference);
            lib.tolerance.minSnrDb = entry["tolerance"].value("minSnrDb", lib.tolerance.minSnrDb);
        }
        for (const json &m : entry.at("modes")) {
            Mode mode;
            mode.label = m.at("label").get<std::string>();
            const std::string where = lib.name + " mode " + mode.label;
            mode.format = Word(m.at("format"), where + " format");
            mode.options = m.contains("options") ? Word(m["options"], where + " options") : 0;
            if (m.contains("encodeFlags")) {
                mode.encodeFlags.clear();
                for (const json &f : m["encodeFlags"]) mode.encodeFlags.push_back(Word(f, where + " encodeFlags"));
                if (mode.encodeFlags.empty()) throw std::runtime_error(where + ": encodeFlags is empty");
            }
            if (m.contains("flush")) mode.flush = m["flush"].get<bool>();
            if (SampleRate(mode.format) == 0) throw std::runtime_error(where + ": the format word has no sample rate");
            lib.modes.push_back(mode);
        }
        if (lib.modes.empty()) throw std::runtime_error(lib.name + " has no modes");
        libraries.push_back(std::move(lib));
    }
    return libraries;
}

// --- Inputs ---

const std::vector<Input> &Inputs() {
    static const std::vector<Input> inputs = {
        {"kristoff", "/usr/share/codec2/raw/kristoff.raw", false},
        {"mmt1", "/usr/share/codec2/raw/mmt1.raw", false},
        {"silence", "", false},
        {"tone", "", false},
        {"sweep", "", false},
        {"noise", "", false},
        {"step", "", false},
        {"damaged", "", true},
    };
    return inputs;
}

int SampleRate(uint32_t format) {
    switch (format & CODEC_FMT_RATE_MASK) {
    case CODEC_FMT_8KHZ:
        return 8000;
    case CODEC_FMT_11KHZ:
        return 11025;
    case CODEC_FMT_12KHZ:
        return 12000;
    case CODEC_FMT_16KHZ:
        return 16000;
    case CODEC_FMT_22KHZ:
        return 22050;
    case CODEC_FMT_24KHZ:
        return 24000;
    case CODEC_FMT_32KHZ:
        return 32000;
    case CODEC_FMT_44KHZ:
        return 44100;
    case CODEC_FMT_48KHZ:
        return 48000;
    default:
        return 0;
    }
}

bool EightBit(uint32_t format) {
    return (format & CODEC_FMT_8BIT) != 0;
}

std::vector<int16_t> MakeInput(const Input &input, int rate) {
    const auto second = static_cast<std::size_t>(rate);
    if (!input.recording.empty()) {
        // The first three seconds of the recording.
        if (!std::filesystem::exists(input.recording)) return {};
        return FromEightKilohertz(ReadRaw(input.recording, 3 * 8000 + 1), rate);
    }
    std::vector<int16_t> x(second);
    if (input.name == "tone") {
        // 1 kHz at half of full scale.
        const uint32_t step = PhaseStep(1000000, rate);
        for (std::size_t n = 0; n < x.size(); ++n) x[n] = Clamp16(Sine(static_cast<uint32_t>(n) * step, 16384));
    } else if (input.name == "sweep" || input.damaged) {
        // 100 Hz to 0.45 of the sampling rate, linearly in frequency, 3 dB below full scale.
        const int64_t from = PhaseStep(100000, rate);
        const int64_t to = PhaseStep(static_cast<int64_t>(rate) * 450, rate);
        uint32_t phase = 0;
        for (std::size_t n = 0; n < x.size(); ++n) {
            x[n] = Clamp16(Sine(phase, 23170));
            phase +=
                static_cast<uint32_t>(from + (to - from) * static_cast<int64_t>(n) / static_cast<int64_t>(x.size()));
        }
    } else if (input.name == "noise") {
        // White, uniform over the whole 16-bit range.
        uint32_t state = 0x9E3779B9u;
        for (int16_t &s : x) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            s = static_cast<int16_t>(static_cast<uint16_t>(state >> 16));
        }
    } else if (input.name == "step") {
        // Silence, then a step to 20000 after 0.3 s.
        for (std::size_t n = second * 3 / 10; n < x.size(); ++n) x[n] = 20000;
    } else if (input.name != "silence") {
        throw std::runtime_error("unknown input " + input.name);
    }
    return x;
}

// --- Running a library ---

std::string Description(const std::string &path) {
    const CodecBinding lib(path);
    CodecInfo info{};
    const CodecStatus st = lib.getCodecInfo(&info);
    if (st != CODEC_OK) throw std::runtime_error(path + ": GetCodecInfo gave " + Status(lib, st));
    return std::string(info.description, strnlen(info.description, sizeof info.description));
}

std::string Key(const Library &library, const Mode &mode, const Input &input) {
    return library.name + "/" + mode.label + "/" + input.name;
}

Vector Run(const std::string &path, const Library &library, const Mode &mode, const Input &input,
           const std::vector<int16_t> &samples, std::vector<int16_t> *pcm) {
    const CodecBinding lib(path);
    const bool eightBit = EightBit(mode.format);
    const std::string where = Key(library, mode, input) + ": ";

    // Encode whole frames, then the end-of-stream call where the codec holds samples back.
    CodecFormat enc{};
    CodecStatus st = lib.openEncoder(mode.format, mode.options, &enc);
    if (st != CODEC_OK) throw std::runtime_error(where + "OpenEncoder gave " + Status(lib, st));
    const std::size_t perFrame = eightBit ? enc.frameBytes : enc.frameBytes / 2u;
    std::vector<uint8_t> stream;
    std::vector<uint8_t> frame(enc.frameBytes);
    std::vector<uint8_t> out(enc.maxCodedBytes);
    std::size_t call = 0;
    for (std::size_t at = 0; perFrame > 0 && at + perFrame <= samples.size(); at += perFrame, ++call) {
        for (std::size_t i = 0; i < perFrame; ++i) {
            const int16_t s = samples[at + i];
            if (eightBit) {
                frame[i] = static_cast<uint8_t>((s >> 8) + 128);
            } else {
                frame[2 * i] = static_cast<uint8_t>(static_cast<uint16_t>(s) & 0xFF);
                frame[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8);
            }
        }
        uint16_t in = enc.frameBytes;
        uint16_t cap = enc.maxCodedBytes;
        const uint32_t flags = mode.encodeFlags[call % mode.encodeFlags.size()];
        st = lib.encode(enc.handle, flags, frame.data(), &in, out.data(), &cap);
        if (st != CODEC_OK) {
            lib.closeEncoder(enc.handle);
            throw std::runtime_error(where + "Encode of frame " + std::to_string(call) + " gave " + Status(lib, st));
        }
        stream.insert(stream.end(), out.begin(), out.begin() + cap);
    }
    if (mode.flush.value_or(CodecNeedsFlush(enc.codecId) != 0)) {
        uint16_t in = CODEC_END_OF_STREAM;
        uint16_t cap = enc.maxCodedBytes;
        st = lib.encode(enc.handle, 0, frame.data(), &in, out.data(), &cap);
        if (st != CODEC_OK) {
            lib.closeEncoder(enc.handle);
            throw std::runtime_error(where + "the end-of-stream call gave " + Status(lib, st));
        }
        stream.insert(stream.end(), out.begin(), out.begin() + cap);
    }
    lib.closeEncoder(enc.handle);
    if (input.damaged) Damage(stream);

    Vector v;
    v.coded.count = stream.size();
    v.coded.checksum = Fnv1a64(stream.data(), stream.size());

    // Decode as a caller does: offer up to maxCodedBytes, carry the rest over,
    // stop when the decoder asks for more than is left or refuses the stream.
    CodecFormat dec{};
    st = lib.openDecoder(mode.format, mode.options, &dec);
    if (st != CODEC_OK) throw std::runtime_error(where + "OpenDecoder gave " + Status(lib, st));
    std::vector<uint8_t> decodedBytes;
    std::vector<uint8_t> block(dec.frameBytes);
    std::size_t pos = 0;
    const std::size_t maxCalls = 8 * stream.size() + 64; // no decoder takes less than a bit per call
    for (std::size_t calls = 0;; ++calls) {
        const std::size_t offer = std::min<std::size_t>(stream.size() - pos, dec.maxCodedBytes);
        if (offer == 0) break;
        if (calls == maxCalls) throw std::runtime_error(where + "the decoder does not get through its stream");
        // A buffer of exactly the offered size, so that reading past it is caught.
        std::vector<uint8_t> offered(stream.begin() + static_cast<std::ptrdiff_t>(pos),
                                     stream.begin() + static_cast<std::ptrdiff_t>(pos + offer));
        uint16_t in = static_cast<uint16_t>(offer);
        uint16_t cap = dec.frameBytes;
        st = lib.decode(dec.handle, 0, offered.data(), &in, block.data(), &cap);
        if (st != CODEC_OK) {
            v.decoded.endStatus = st;
            break;
        }
        if (in > offer || cap > dec.frameBytes) {
            lib.closeDecoder(dec.handle);
            throw std::runtime_error(where + "Decode reports more bytes than it was given room for");
        }
        if (in == 0 && cap == 0) {
            v.decoded.endStatus = -1; // took nothing, gave nothing
            break;
        }
        pos += in;
        decodedBytes.insert(decodedBytes.end(), block.begin(), block.begin() + cap);
    }
    lib.closeDecoder(dec.handle);

    std::vector<int16_t> decoded(eightBit ? decodedBytes.size() : decodedBytes.size() / 2);
    for (std::size_t i = 0; i < decoded.size(); ++i) {
        decoded[i] =
            eightBit ? static_cast<int16_t>(decodedBytes[i] - 128)
                     : static_cast<int16_t>(static_cast<uint16_t>(decodedBytes[2 * i] | decodedBytes[2 * i + 1] << 8));
    }
    v.decoded.count = decoded.size();
    v.decoded.checksum = Fnv1a64(decodedBytes.data(), decodedBytes.size());
    if (library.floatArithmetic) {
        // The loudest window, where a drift shows best against the signal.
        Excerpt e;
        const std::size_t length = std::min(kExcerptSamples, decoded.size());
        double best = -1.0;
        for (std::size_t at = 0; at + length <= decoded.size(); at += kExcerptStep) {
            double energy = 0.0;
            for (std::size_t i = at; i < at + length; ++i) energy += static_cast<double>(decoded[i]) * decoded[i];
            if (energy > best) best = energy, e.at = at;
        }
        e.samples.assign(decoded.begin() + static_cast<std::ptrdiff_t>(e.at),
                         decoded.begin() + static_cast<std::ptrdiff_t>(e.at + length));
        v.decoded.excerpt = std::move(e);
    }
    if (pcm) *pcm = std::move(decoded);
    return v;
}

// --- Stored vectors ---

VectorFile LoadVectors(const std::string &path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path);
    VectorFile file;
    try {
        const json j = json::parse(in);
        file.toolchain = j.at("toolchain").get<std::string>();
        if (j.contains("libraries"))
            for (const auto &[name, l] : j.at("libraries").items())
                file.descriptions[name] = l.at("description").get<std::string>();
        for (const auto &[key, v] : j.at("vectors").items())
            file.vectors[key] = Vector{SideFromJson(v.at("coded"), false), SideFromJson(v.at("decoded"), true)};
    } catch (const json::exception &e) {
        throw std::runtime_error(path + ": " + e.what());
    }
    return file;
}

void SaveVectors(const VectorFile &file, const std::string &path) {
    json vectors = json::object();
    for (const auto &[key, v] : file.vectors)
        vectors[key] = json{{"coded", SideJson(v.coded, false)}, {"decoded", SideJson(v.decoded, true)}};
    json libraries = json::object();
    for (const auto &[name, description] : file.descriptions) libraries[name] = json{{"description", description}};
    const json j{{"toolchain", file.toolchain}, {"libraries", libraries}, {"vectors", vectors}};
    const std::string temporary = path + ".new";
    {
        std::ofstream out(temporary);
        out << j.dump(1) << "\n";
        if (!out) throw std::runtime_error("cannot write " + temporary);
    }
    std::filesystem::rename(temporary, path);
}

std::string Toolchain() {
    std::string t;
#if defined(__clang__)
    t = "Clang " + std::to_string(__clang_major__) + "." + std::to_string(__clang_minor__) + "." +
        std::to_string(__clang_patchlevel__);
#elif defined(__GNUC__)
    t = "GNU " + std::to_string(__GNUC__) + "." + std::to_string(__GNUC_MINOR__) + "." +
        std::to_string(__GNUC_PATCHLEVEL__);
#else
    t = "unknown compiler";
#endif
#if defined(__x86_64__)
    t += " x86_64";
#elif defined(__aarch64__)
    t += " aarch64";
#else
    t += " other target";
#endif
#if defined(__FMA__)
    t += " fma"; // fused multiply-adds round differently
#endif
    return t;
}

// --- Comparison ---

std::string Fnv1a64(const void *data, std::size_t bytes) {
    uint64_t h = 0xcbf29ce484222325ull;
    const auto *p = static_cast<const uint8_t *>(data);
    for (std::size_t i = 0; i < bytes; ++i) {
        h ^= p[i];
        h *= 0x100000001b3ull;
    }
    return Hex64(h);
}

std::optional<Drift> Measure(const std::vector<int16_t> &decoded, const Excerpt &excerpt) {
    if (excerpt.at + excerpt.samples.size() > decoded.size()) return std::nullopt;
    Drift d;
    double signal = 0.0, noise = 0.0;
    for (std::size_t i = 0; i < excerpt.samples.size(); ++i) {
        const int ref = excerpt.samples[i];
        const int diff = decoded[excerpt.at + i] - ref;
        d.maxDifference = std::max(d.maxDifference, std::abs(diff));
        signal += static_cast<double>(ref) * ref;
        noise += static_cast<double>(diff) * diff;
    }
    d.snrDb = noise == 0.0
                  ? std::numeric_limits<double>::infinity()
                  : (signal == 0.0 ? -std::numeric_limits<double>::infinity() : 10.0 * std::log10(signal / noise));
    return d;
}

namespace {

std::string Describe(const Side &side, const char *unit) {
    return std::to_string(side.count) + " " + unit + ", FNV-1a 64 " + side.checksum;
}

bool Same(const Side &a, const Side &b) {
    return a.count == b.count && a.checksum == b.checksum && a.endStatus == b.endStatus;
}

} // namespace

Judgement Judge(const Library &library, const Mode &mode, const Input &input, bool exact, const Vector &got,
                const std::vector<int16_t> &pcm, const Vector &stored) {
    const std::string who = library.name + " mode " + mode.label + " input '" + input.name + "': ";
    const char *stream = input.damaged ? "damaged coded stream" : "coded stream";
    const char *decoded = input.damaged ? "PCM decoded from the damaged stream" : "decoded PCM";
    exact = exact || !library.floatArithmetic;
    Judgement j;
    if (!Same(got.coded, stored.coded)) {
        j.message = who + "the " + stream + " differs: " + Describe(got.coded, "bytes") + "; stored " +
                    Describe(stored.coded, "bytes");
        if (!exact) {
            // An encoder whose choice tipped codes another stream; what that
            // decodes to says nothing about the decoder.
            j.outcome = Outcome::NotJudged;
            j.message += "; its PCM is not compared";
            return j;
        }
        j.outcome = Outcome::Differs;
    }
    if (Same(got.decoded, stored.decoded)) return j;

    std::ostringstream what;
    what << who << "the " << decoded << " differs: " << Describe(got.decoded, "samples") << ", ending with status "
         << got.decoded.endStatus << "; stored " << Describe(stored.decoded, "samples") << ", ending with status "
         << stored.decoded.endStatus;
    std::optional<Drift> drift;
    if (stored.decoded.excerpt) {
        const Excerpt &e = *stored.decoded.excerpt;
        drift = Measure(pcm, e);
        if (drift)
            what << "; at the stored excerpt (samples " << e.at << ".." << e.at + e.samples.size() - 1
                 << ") largest difference " << drift->maxDifference << ", SNR " << drift->snrDb << " dB";
        else
            what << "; too short to reach the stored excerpt";
    }
    const Tolerance &t = library.tolerance;
    const bool within = !exact && got.decoded.count == stored.decoded.count &&
                        got.decoded.endStatus == stored.decoded.endStatus && drift &&
                        drift->maxDifference <= t.maxDifference && drift->snrDb >= t.minSnrDb;
    if (!exact)
        what << (within ? "; within" : "; beyond") << " the tolerance of " << t.maxDifference << " and " << t.minSnrDb
             << " dB";
    if (!j.message.empty()) j.message += '\n';
    j.message += what.str();
    j.outcome = within ? Outcome::WithinTolerance : Outcome::Differs;
    return j;
}

} // namespace vntr::vectors
