#include "wavefile.hpp"

#include "printf.hpp"
#include "replacing_file.hpp"
#include "wave_samples.hpp"

#include <vntr/platform/regular_file.hpp>

#include <sys/stat.h>

#include <array>
#include <cstring>
#include <new>
#include <vector>

namespace vntr::evaluator {
namespace {

using platform::FourCC;
using platform::RiffChunk;
using platform::RiffFile;
using platform::RiffFind;
using platform::RiffResult;

struct RateEntry {
    int32_t hz;
    uint32_t flag;
};
constexpr std::array<RateEntry, 9> kRates = {{{8000, CODEC_FMT_8KHZ},
                                              {11025, CODEC_FMT_11KHZ},
                                              {12000, CODEC_FMT_12KHZ},
                                              {16000, CODEC_FMT_16KHZ},
                                              {22050, CODEC_FMT_22KHZ},
                                              {24000, CODEC_FMT_24KHZ},
                                              {32000, CODEC_FMT_32KHZ},
                                              {44100, CODEC_FMT_44KHZ},
                                              {48000, CODEC_FMT_48KHZ}}};

uint16_t Le16(const unsigned char *p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t Le32(const unsigned char *p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

void Error(Frontend &ui, const std::string &text) {
    ui.ShowMessage(kErrorTitle, MessageIcon::Error, text);
}

std::array<unsigned char, 18> Serialize(const PcmFormat &f) {
    std::array<unsigned char, 18> b{};
    auto put16 = [&](std::size_t at, uint16_t v) {
        b[at] = static_cast<unsigned char>(v);
        b[at + 1] = static_cast<unsigned char>(v >> 8);
    };
    auto put32 = [&](std::size_t at, uint32_t v) {
        put16(at, static_cast<uint16_t>(v));
        put16(at + 2, static_cast<uint16_t>(v >> 16));
    };
    put16(0, f.formatTag);
    put16(2, f.channels);
    put32(4, f.samplesPerSec);
    put32(8, f.avgBytesPerSec);
    put16(12, f.blockAlign);
    put16(14, f.bitsPerSample);
    put16(16, f.extraSize);
    return b;
}

std::string FileNamePart(const std::string &path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

uint32_t RateFlag(int64_t hz) {
    for (const auto &rate : kRates) {
        if (rate.hz == hz) return rate.flag;
    }
    return 0;
}

int32_t RateOfFlags(uint32_t flags) {
    for (const auto &rate : kRates) {
        if ((flags & rate.flag) != 0) return rate.hz;
    }
    return 0;
}

uint16_t BlockAlignOfFlags(uint32_t flags) {
    const uint16_t channels = (flags & CODEC_FMT_MONO) != 0 ? 1 : (flags & CODEC_FMT_STEREO) != 0 ? 2 : 0;
    const uint16_t width = (flags & CODEC_FMT_8BIT) != 0 ? 1 : (flags & CODEC_FMT_16BIT) != 0 ? 2 : 0;
    return static_cast<uint16_t>(channels * width);
}

std::string FormatText(int32_t rate, uint32_t flags) {
    const char *width = (flags & CODEC_FMT_8BIT) != 0 ? "8 bit " : "16 bit ";
    const char *channels = (flags & CODEC_FMT_STEREO) != 0 ? "STEREO" : "MONO";
    return Printf("%ld Hz, %s%s", static_cast<long>(rate), (std::string("PCM ") + width).c_str(), channels);
}

bool OpenOriginal(Frontend &ui, const std::string &path, OriginalFile &original) {
    original = OriginalFile{};
    const char *p = path.c_str();
    auto file = RiffFile::Open(path, RiffFile::Mode::Read);
    if (!file) {
        Error(ui, Printf("Could not open file %s.", p));
        return false;
    }
    const uint64_t fileSize = file->FileSize();
    auto refuse = [&](const std::string &text) {
        Error(ui, text);
        file->Close();
        original = OriginalFile{};
        return false;
    };

    RiffChunk riff;
    riff.formType = FourCC("WAVE");
    if (file->Descend(riff, nullptr, RiffFind::Riff) != RiffResult::Ok) {
        return refuse(Printf("File %s is not a wave file or is corrupted.", p));
    }
    if (static_cast<uint64_t>(riff.size) + 8 != fileSize) return refuse(Printf("File %s is corrupted.", p));

    RiffChunk fmt;
    fmt.id = FourCC("fmt ");
    std::array<unsigned char, 14> head{};
    if (file->Descend(fmt, &riff, RiffFind::Chunk) != RiffResult::Ok || fmt.size < head.size() ||
        file->Read(head.data(), head.size()) != static_cast<int64_t>(head.size())) {
        return refuse(Printf("File %s is not a wave file or is corrupted.", p));
    }
    file->Ascend(fmt);

    RiffChunk data;
    data.id = FourCC("data");
    if (file->Descend(data, &riff, RiffFind::Chunk) != RiffResult::Ok) {
        return refuse(Printf("File %s is not a wave file or is corrupted.", p));
    }
    if (static_cast<int64_t>(data.size) > static_cast<int64_t>(fileSize) - 38) {
        return refuse(Printf("File %s is corrupted.", p));
    }

    const uint16_t tag = Le16(&head[0]);
    const uint16_t channels = Le16(&head[2]);
    const uint32_t rate = Le32(&head[4]);
    const uint16_t blockAlign = Le16(&head[12]);
    if (tag != 1) return refuse(Printf("File %s is not a PCM file.", p));
    if (channels != 1 && channels != 2) return refuse(Printf("File %s is not a mono or stereo file.", p));
    const unsigned bytesPerSample = SampleWidth(channels, blockAlign);
    if (bytesPerSample != 1 && bytesPerSample != 2) return refuse("QBL Evaluator requires 8 or 16 bit PCM data.");
    const uint32_t rateFlag = RateFlag(rate);
    if (rateFlag == 0) {
        return refuse(Printf("File %s has a sampling frequency of %ld Hz. QBL Evaluator only handles 8, 11, 12, 16, "
                             "22, 24, 32, 44 and 48 KHz sampling frequencies.",
                             p, static_cast<long>(rate)));
    }
    file->Close();

    original.path = path;
    original.name = FileNamePart(path);
    original.dataBytes = data.size;
    original.formatFlags = CODEC_FMT_PCM | (channels == 1 ? CODEC_FMT_MONO : CODEC_FMT_STEREO) |
                           (bytesPerSample == 1 ? CODEC_FMT_8BIT : CODEC_FMT_16BIT) | rateFlag;
    original.sampleRate = static_cast<int32_t>(rate);
    original.blockAlign = blockAlign;
    original.seconds = static_cast<float>(data.size) / (static_cast<float>(blockAlign) * static_cast<float>(rate));
    original.formatText = FormatText(original.sampleRate, original.formatFlags);
    original.durationText = Printf("%4.2f sec", static_cast<double>(original.seconds));
    return true;
}

namespace {

// The first part of a format that the codec does not take, for the reason
// shown beside it: "stereo not supported", "8 bit not supported".
std::string FormatMismatch(uint32_t mask, uint32_t flags) {
    if ((mask & flags & CODEC_FMT_TYPE_MASK) == 0) return "format not supported";
    if ((mask & flags & CODEC_FMT_CHANNEL_MASK) == 0) {
        return (flags & CODEC_FMT_STEREO) != 0 ? "stereo not supported" : "mono not supported";
    }
    if ((mask & flags & CODEC_FMT_WIDTH_MASK) == 0) {
        return (flags & CODEC_FMT_8BIT) != 0 ? "8 bit not supported" : "16 bit not supported";
    }
    return "format not supported";
}

} // namespace

void MatchCodec(Frontend &ui, CodecSlot &slot, const OriginalFile &original) {
    const uint32_t m = slot.info.formatMask;
    const uint32_t f = original.formatFlags;
    slot.notRunReason.clear();
    auto refuse = [&](const std::string &reason, const std::string &text) {
        slot.formatFlags = 0;
        slot.sampleRate = 0;
        slot.blockAlign = 0;
        slot.notRunReason = reason;
        ui.ShowCodecMismatch(text);
    };
    auto unchanged = [&] {
        slot.downsampled = 0;
        slot.sampleRate = original.sampleRate;
        slot.formatFlags = f;
        slot.blockAlign = BlockAlignOfFlags(f);
    };
    if (slot.interfaceKind == InterfaceKind::WholeFile) {
        if (f == CODEC_FMT_PCM16_MONO_8KHZ) {
            unchanged();
        } else {
            refuse("format not supported", Printf("Format is not supported by %s.", slot.Name().c_str()));
        }
        return;
    }
    const bool rate = (m & f & CODEC_FMT_RATE_MASK) != 0;
    const bool rest = (m & f & CODEC_FMT_TYPE_MASK) != 0 && (m & f & CODEC_FMT_CHANNEL_MASK) != 0 &&
                      (m & f & CODEC_FMT_WIDTH_MASK) != 0;
    if (rate && rest) {
        unchanged();
    } else if (!rate && (m & CODEC_FMT_8KHZ) != 0 && (m & CODEC_FMT_MONO) != 0 && (m & CODEC_FMT_16BIT) != 0 &&
               f == (CODEC_FMT_PCM16_MONO | CODEC_FMT_11KHZ)) {
        slot.downsampled = 1;
        slot.sampleRate = 8000;
        slot.formatFlags = CODEC_FMT_PCM16_MONO_8KHZ;
        slot.blockAlign = 2;
    } else if (!rate) {
        const auto khz = static_cast<unsigned long>(original.sampleRate / 1000);
        refuse(Printf("%lu kHz not supported", khz),
               Printf("Sampling Frequency of %lu kHz is not supported by %s.", khz, slot.Name().c_str()));
    } else {
        refuse(FormatMismatch(m, f), Printf("Format is not supported by %s.", slot.Name().c_str()));
    }
}

int64_t OpenWave::ReadData(void *buffer, std::size_t bytes) {
    const std::size_t want = std::min<std::size_t>(bytes, remaining);
    if (want == 0) return 0;
    const int64_t got = file->Read(buffer, want);
    if (got > 0) remaining -= static_cast<uint32_t>(got);
    return got;
}

std::size_t OpenWave::WriteData(const void *buffer, std::size_t bytes) {
    const int64_t put = file->Write(buffer, bytes);
    return put < 0 ? 0 : static_cast<std::size_t>(put);
}

std::optional<OpenWave> OpenWaveForReading(Frontend &ui, const std::string &path) {
    const char *p = path.c_str();
    OpenWave wave;
    wave.file = RiffFile::Open(path, RiffFile::Mode::Read);
    if (!wave.file) {
        Error(ui, Printf("Cannot open file : %s", p));
        return std::nullopt;
    }
    auto fail = [&](const std::string &text) -> std::optional<OpenWave> {
        Error(ui, text);
        if (!wave.file->Close()) Error(ui, "Cannot close file, possible loss of information !");
        return std::nullopt;
    };
    wave.riff.formType = FourCC("WAVE");
    if (wave.file->Descend(wave.riff, nullptr, RiffFind::Riff) != RiffResult::Ok) {
        return fail(Printf("%s is not a wave file.", p));
    }
    wave.sub.id = FourCC("data");
    if (wave.file->Descend(wave.sub, &wave.riff, RiffFind::Chunk) != RiffResult::Ok) {
        return fail(Printf("Can't find data chunk in %s", p));
    }
    if (wave.sub.size == 0) return fail(Printf("%s has no data.", p));
    wave.remaining = wave.sub.size;
    return wave;
}

std::optional<OpenWave> CreateWaveForWriting(Frontend &ui, const std::string &path, const PcmFormat &format) {
    const char *p = path.c_str();
    OpenWave wave;
    wave.file = RiffFile::Open(path, RiffFile::Mode::Create);
    if (!wave.file) {
        Error(ui, Printf("Cannot create file : %s", p));
        return std::nullopt;
    }
    auto fail = [&](const std::string &text) -> std::optional<OpenWave> {
        Error(ui, text);
        if (!wave.file->Close()) Error(ui, "Cannot close file, possible loss of information !");
        return std::nullopt;
    };
    wave.riff.formType = FourCC("WAVE");
    if (wave.file->CreateChunk(wave.riff, true) != RiffResult::Ok) {
        return fail(Printf("Cannot create WAVE chunk in file : %s", p));
    }
    RiffChunk fmt;
    fmt.id = FourCC("fmt ");
    fmt.size = 18;
    if (wave.file->CreateChunk(fmt) != RiffResult::Ok) return fail(Printf("Cannot create fmt chunk in file : %s", p));
    const auto bytes = Serialize(format);
    if (wave.file->Write(bytes.data(), bytes.size()) != static_cast<int64_t>(bytes.size())) {
        return fail(Printf("Cannot write fmt chunk in file : %s", p));
    }
    if (wave.file->Ascend(fmt) != RiffResult::Ok) Error(ui, Printf("Cannot ascend fmt chunk in file : %s", p));
    wave.sub.id = FourCC("data");
    if (wave.file->CreateChunk(wave.sub) != RiffResult::Ok) {
        return fail(Printf("Cannot create data chunk in file : %s", p));
    }
    return wave;
}

bool CloseWave(Frontend &ui, OpenWave &wave) {
    if (!wave.file) return false;
    bool ok = true;
    if (wave.file->Ascend(wave.sub) != RiffResult::Ok) {
        Error(ui, "Cannot ascend file.");
        ok = false;
    }
    if (wave.file->Ascend(wave.riff) != RiffResult::Ok) {
        Error(ui, "Cannot ascend file.");
        ok = false;
    }
    if (!wave.file->Close()) {
        Error(ui, "Cannot close file, possible loss of information !");
        ok = false;
    }
    wave.file.reset();
    return ok;
}

bool SameFile(const std::string &a, const std::string &b) {
    struct stat sa {};
    struct stat sb {};
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && S_ISREG(sa.st_mode) && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

bool CopyFile(Frontend &ui, const std::string &source, const std::string &destination) {
    // Creating the destination would empty the source before it is read.
    if (SameFile(source, destination)) return true;
    ui.SetBusy(true);
    struct BusyOff {
        Frontend &ui;
        ~BusyOff() { ui.SetBusy(false); }
    } busyOff{ui};

    // The copy replaces the destination only once it is whole: a copy that
    // fails or is killed leaves the previous file as it was.
    ReplacingFile out;
    if (!out.Create(destination)) {
        Error(ui, Printf("Could not write to destination file %s.", destination.c_str()));
        return false;
    }
    std::FILE *in = platform::OpenRegularFileForReading(source);
    // Only a regular file has a size to copy (a folder opens, but reads nothing).
    long size = -1;
    struct stat st {};
    if (in != nullptr && fstat(fileno(in), &st) == 0 && S_ISREG(st.st_mode)) size = static_cast<long>(st.st_size);
    std::vector<unsigned char> buffer;
    try {
        buffer.assign(size > 0 ? static_cast<std::size_t>(size) : 0, 0);
    } catch (const std::bad_alloc &) {
        Error(ui, "Could not allocate memory to rename file.");
        if (in != nullptr) std::fclose(in);
        return false;
    }
    bool ok = true;
    if (in == nullptr || size < 0) {
        Error(ui, "Could not open file to rename file.");
        ok = false;
    } else if (std::fread(buffer.data(), 1, buffer.size(), in) != buffer.size()) {
        Error(ui, "Could not read source file.");
        ok = false;
    } else if (std::fwrite(buffer.data(), 1, buffer.size(), out.File()) != buffer.size() || !out.Finish()) {
        Error(ui, "Could not write to destination file.");
        ok = false;
    } else if (!out.Replace()) {
        Error(ui, Printf("Could not write to destination file %s.", destination.c_str()));
        ok = false;
    }
    if (in != nullptr) std::fclose(in);
    return ok;
}

} // namespace vntr::evaluator
