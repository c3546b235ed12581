// Opening and checking originals, format flags, matching codecs, and the
// RIFF services for wave files.
#include "eval_support.hpp"

#include "core/wavefile.hpp"

#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <csignal>
#include <random>

using namespace vntr::evaluator;
using namespace vntr::test;

namespace {

constexpr const char *kNotWave = "File %s is not a wave file or is corrupted.";

std::string With(const char *format, const std::string &path) {
    std::string text(format);
    text.replace(text.find("%s"), 2, path);
    return text;
}

class OpenOriginalTest : public ::testing::Test {
protected:
    // Writes the file, opens it, and returns the one message shown (or "").
    std::string Open(const std::vector<uint8_t> &bytes) {
        WriteBytes(path, bytes);
        ui.messages.clear();
        ok = OpenOriginal(ui, path, original);
        EXPECT_LE(ui.messages.size(), 1u);
        return ui.messages.empty() ? std::string() : ui.messages[0].text;
    }
    WaveSpec Valid() const {
        WaveSpec w;
        w.data = Pcm16(std::vector<int16_t>(800, 100));
        return w;
    }

    TempDir dir;
    std::string path = dir / "orig.wav";
    RecordingFrontend ui;
    OriginalFile original;
    bool ok = false;
};

TEST_F(OpenOriginalTest, AcceptsAndDescribesA16BitMonoFile) {
    EXPECT_EQ(Open(MakeWave(Valid())), "");
    ASSERT_TRUE(ok);
    EXPECT_EQ(original.formatFlags, 0x12102u);
    EXPECT_EQ(original.dataBytes, 1600u);
    EXPECT_EQ(original.sampleRate, 8000);
    EXPECT_EQ(original.name, "orig.wav");
    EXPECT_EQ(original.formatText, "8000 Hz, PCM 16 bit MONO");
    EXPECT_EQ(original.durationText, "0.10 sec");
}

TEST_F(OpenOriginalTest, DescribesEightBitStereoAt44kHz) {
    WaveSpec w = Valid();
    w.channels = 2;
    w.rate = 44100;
    w.bits = 8;
    EXPECT_EQ(Open(MakeWave(w)), "");
    EXPECT_EQ(original.formatFlags, 0x800000u | 0x1000u | 0x200u | 0x2u);
    EXPECT_EQ(original.formatText, "44100 Hz, PCM 8 bit STEREO");
}

TEST_F(OpenOriginalTest, TenChecksInOrderWithTheirMessages) {
    // 1: cannot be opened.
    ok = OpenOriginal(ui, dir / "missing.wav", original);
    EXPECT_FALSE(ok);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].title, "Vantre QBL Evaluator: Error");
    EXPECT_EQ(ui.messages[0].text, With("Could not open file %s.", dir / "missing.wav"));

    // 2: no RIFF WAVE.
    WaveSpec avi = Valid();
    avi.form = "AVI ";
    EXPECT_EQ(Open(MakeWave(avi)), With(kNotWave, path));
    EXPECT_EQ(Open({'R', 'I', 'F'}), With(kNotWave, path));

    // 3: RIFF size differs from the file size minus 8, even with readable chunks.
    WaveSpec sized = Valid();
    sized.riffSizeDelta = -2;
    EXPECT_EQ(Open(MakeWave(sized)), With("File %s is corrupted.", path));

    // 4: no fmt chunk, or one too short to hold its first 14 bytes.
    WaveSpec noFmt = Valid();
    noFmt.withFmt = false;
    EXPECT_EQ(Open(MakeWave(noFmt)), With(kNotWave, path));
    WaveSpec shortFmt = Valid();
    shortFmt.fmtSize = 12;
    EXPECT_EQ(Open(MakeWave(shortFmt)), With(kNotWave, path));

    // 5: no data chunk.
    WaveSpec noData = Valid();
    noData.withData = false;
    EXPECT_EQ(Open(MakeWave(noData)), With(kNotWave, path));

    // 6: data chunk larger than the file size minus 38.
    WaveSpec bigData = Valid();
    bigData.dataSizeDelta = 7; // 44 + 1600 bytes; the limit is 1606
    bigData.riffSizeDelta = 0;
    EXPECT_EQ(Open(MakeWave(bigData)), With("File %s is corrupted.", path));

    // 7: not PCM.
    WaveSpec adpcm = Valid();
    adpcm.tag = 2;
    EXPECT_EQ(Open(MakeWave(adpcm)), With("File %s is not a PCM file.", path));

    // 8: neither mono nor stereo.
    WaveSpec surround = Valid();
    surround.channels = 3;
    EXPECT_EQ(Open(MakeWave(surround)), With("File %s is not a mono or stereo file.", path));

    // 9: bytes per sample other than 1 or 2; block align 3 fails in mono...
    WaveSpec wide = Valid();
    wide.blockAlign = 3;
    EXPECT_EQ(Open(MakeWave(wide)), "QBL Evaluator requires 8 or 16 bit PCM data.");
    // ... and passes as 8 bit in stereo (3 / 2 is 1).
    WaveSpec wideStereo = Valid();
    wideStereo.blockAlign = 3;
    wideStereo.channels = 2;
    EXPECT_EQ(Open(MakeWave(wideStereo)), "");
    EXPECT_EQ(original.formatFlags & 0x3000u, 0x1000u);

    // 10: a rate that is not one of the nine, by one hertz.
    WaveSpec odd = Valid();
    odd.rate = 8001;
    EXPECT_EQ(Open(MakeWave(odd)),
              With("File %s has a sampling frequency of 8001 Hz. QBL Evaluator only handles 8, 11, 12, 16, 22, 24, "
                   "32, 44 and 48 KHz sampling frequencies.",
                   path));
}

TEST_F(OpenOriginalTest, FailureForgetsThePreviousOriginal) {
    ASSERT_EQ(Open(MakeWave(Valid())), "");
    WaveSpec bad = Valid();
    bad.tag = 3;
    Open(MakeWave(bad));
    EXPECT_FALSE(ok);
    EXPECT_FALSE(original.Exists());
    EXPECT_EQ(original.formatFlags, 0u);
    EXPECT_EQ(original.dataBytes, 0u);
}

TEST_F(OpenOriginalTest, EveryOneOfTheNineRatesIsAccepted) {
    for (const uint32_t rate : {8000u, 11025u, 12000u, 16000u, 22050u, 24000u, 32000u, 44100u, 48000u}) {
        WaveSpec w = Valid();
        w.rate = rate;
        EXPECT_EQ(Open(MakeWave(w)), "") << rate;
        EXPECT_EQ(RateOfFlags(original.formatFlags), static_cast<int32_t>(rate));
    }
}

CodecSlot SlotWith(uint32_t mask, const char *name) {
    CodecSlot slot;
    slot.info.formatMask = mask;
    std::strcpy(slot.name.data(), name);
    slot.selected = 1;
    return slot;
}

OriginalFile OriginalWith(uint32_t flags, int32_t rate) {
    OriginalFile original;
    original.path = "/x/orig.wav";
    original.formatFlags = flags;
    original.sampleRate = rate;
    return original;
}

TEST(MatchCodecTest, UnchangedWhenAllFourGroupsMatch) {
    RecordingFrontend ui;
    CodecSlot slot = SlotWith(0x13102, "VT48");
    MatchCodec(ui, slot, OriginalWith(0x11102, 8000));
    EXPECT_EQ(slot.formatFlags, 0x11102u);
    EXPECT_EQ(slot.blockAlign, 1);
    EXPECT_EQ(slot.sampleRate, 8000);
    EXPECT_EQ(slot.downsampled, 0);
    EXPECT_TRUE(ui.messages.empty());
}

TEST(MatchCodecTest, ElevenKilohertzSixteenBitMonoIsDownsampledFor8kCodecs) {
    RecordingFrontend ui;
    CodecSlot slot = SlotWith(CODEC_FMT_PCM16_MONO_8KHZ, "VT180");
    MatchCodec(ui, slot, OriginalWith(CODEC_FMT_PCM16_MONO | CODEC_FMT_11KHZ, 11025));
    EXPECT_EQ(slot.downsampled, 1);
    EXPECT_EQ(slot.formatFlags, 0x12102u);
    EXPECT_EQ(slot.sampleRate, 8000);
    EXPECT_EQ(slot.blockAlign, 2);
    EXPECT_TRUE(ui.messages.empty());
}

TEST(MatchCodecTest, UnsupportedRateNamesTheRateInKilohertz) {
    RecordingFrontend ui;
    CodecSlot slot = SlotWith(CODEC_FMT_PCM16_MONO_8KHZ, "VT180");
    slot.formatFlags = CODEC_FMT_PCM16_MONO_8KHZ;
    MatchCodec(ui, slot, OriginalWith(0x22202, 11025)); // stereo 11 kHz is not down-sampled
    EXPECT_EQ(slot.formatFlags, 0u);
    EXPECT_EQ(slot.sampleRate, 0);
    EXPECT_EQ(slot.notRunReason, "11 kHz not supported");
    MatchCodec(ui, slot, OriginalWith(CODEC_FMT_PCM16_MONO | CODEC_FMT_22KHZ, 22050));
    EXPECT_EQ(ui.Texts(), (std::vector<std::string>{"Sampling Frequency of 11 kHz is not supported by VT180.",
                                                    "Sampling Frequency of 22 kHz is not supported by VT180."}));
    EXPECT_EQ(slot.notRunReason, "22 kHz not supported");
    // A later original that fits leaves no reason behind.
    MatchCodec(ui, slot, OriginalWith(CODEC_FMT_PCM16_MONO_8KHZ, 8000));
    EXPECT_EQ(slot.notRunReason, "");
}

TEST(MatchCodecTest, MismatchesGoThroughTheFrontendsOwnCall) {
    // The batch table lists such codecs with the reason; the window shows
    // the message as an error.
    struct Listing final : RecordingFrontend {
        void ShowCodecMismatch(const std::string &text) override { mismatches.push_back(text); }
        std::vector<std::string> mismatches;
    } ui;
    CodecSlot slot = SlotWith(CODEC_FMT_PCM16_MONO_8KHZ, "VT180");
    MatchCodec(ui, slot, OriginalWith(CODEC_FMT_PCM16_MONO | CODEC_FMT_22KHZ, 22050));
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(ui.mismatches, std::vector<std::string>{"Sampling Frequency of 22 kHz is not supported by VT180."});
}

TEST(MatchCodecTest, SameRateOtherGroupIsAnUnsupportedFormat) {
    RecordingFrontend ui;
    CodecSlot slot = SlotWith(CODEC_FMT_PCM16_MONO_8KHZ, "VT120");
    MatchCodec(ui, slot, OriginalWith(0x11102, 8000)); // 8-bit
    EXPECT_EQ(slot.formatFlags, 0u);
    EXPECT_EQ(slot.notRunReason, "8 bit not supported");
    MatchCodec(ui, slot, OriginalWith(0x12202, 8000)); // stereo
    EXPECT_EQ(slot.notRunReason, "stereo not supported");
    EXPECT_EQ(ui.Texts(),
              (std::vector<std::string>{"Format is not supported by VT120.", "Format is not supported by VT120."}));
}

TEST(MatchCodecTest, WholeFileInterfaceTakesOnly8kHz16BitMono) {
    RecordingFrontend ui;
    CodecSlot slot = SlotWith(0, "OLD");
    slot.interfaceKind = InterfaceKind::WholeFile;
    MatchCodec(ui, slot, OriginalWith(CODEC_FMT_PCM16_MONO_8KHZ, 8000));
    EXPECT_EQ(slot.formatFlags, 0x12102u);
    MatchCodec(ui, slot, OriginalWith(CODEC_FMT_PCM16_MONO | CODEC_FMT_11KHZ, 11025));
    EXPECT_EQ(slot.formatFlags, 0u);
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Format is not supported by OLD."});
}

TEST(WaveServicesTest, WrittenWaveReadsBackWithFixedSizes) {
    TempDir dir;
    RecordingFrontend ui;
    const std::string path = dir / "out.wav";
    auto out = CreateWaveForWriting(ui, path, PcmFormat{1, 1, 8000, 16000, 2, 16, 0});
    ASSERT_TRUE(out);
    const std::vector<uint8_t> payload = {1, 2, 3, 4, 5};
    EXPECT_EQ(out->WriteData(payload.data(), payload.size()), payload.size());
    EXPECT_TRUE(CloseWave(ui, *out));
    const auto bytes = ReadBytes(path);
    // RIFF header, 18-byte fmt, data of 5 bytes and its pad byte.
    ASSERT_EQ(bytes.size(), 12u + 8 + 18 + 8 + 6);
    EXPECT_EQ(bytes[4] | bytes[5] << 8, static_cast<int>(bytes.size() - 8));
    EXPECT_EQ(bytes[16], 18);
    EXPECT_EQ(bytes[46 - 4], 5); // data size field

    auto in = OpenWaveForReading(ui, path);
    ASSERT_TRUE(in);
    EXPECT_EQ(in->sub.size, 5u);
    std::vector<uint8_t> back(16);
    EXPECT_EQ(in->ReadData(back.data(), back.size()), 5); // never past the data chunk
    EXPECT_TRUE(ui.messages.empty());
}

TEST(WaveServicesTest, ReadingMessages) {
    TempDir dir;
    RecordingFrontend ui;
    EXPECT_FALSE(OpenWaveForReading(ui, dir / "none.wav"));
    WriteBytes(dir / "text.wav", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!'});
    EXPECT_FALSE(OpenWaveForReading(ui, dir / "text.wav"));
    WaveSpec noData;
    noData.withData = false;
    WriteBytes(dir / "nodata.wav", MakeWave(noData));
    EXPECT_FALSE(OpenWaveForReading(ui, dir / "nodata.wav"));
    WaveSpec empty;
    WriteBytes(dir / "empty.wav", MakeWave(empty));
    EXPECT_FALSE(OpenWaveForReading(ui, dir / "empty.wav"));
    EXPECT_EQ(ui.Texts(), (std::vector<std::string>{"Cannot open file : " + (dir / "none.wav"),
                                                    (dir / "text.wav") + " is not a wave file.",
                                                    "Can't find data chunk in " + (dir / "nodata.wav"),
                                                    (dir / "empty.wav") + " has no data."}));
}

TEST(WaveServicesTest, CreatingInAMissingFolderFails) {
    RecordingFrontend ui;
    EXPECT_FALSE(CreateWaveForWriting(ui, "/nonexistent-folder/x.wav", PcmFormat{}));
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Cannot create file : /nonexistent-folder/x.wav"});
}

TEST(CopyFileTest, CopiesAndReportsEachFailure) {
    TempDir dir;
    RecordingFrontend ui;
    const std::vector<uint8_t> content = {9, 8, 7, 6, 5};
    WriteBytes(dir / "a", content);
    EXPECT_TRUE(CopyFile(ui, dir / "a", dir / "b"));
    EXPECT_EQ(ReadBytes(dir / "b"), content);
    EXPECT_FALSE(CopyFile(ui, dir / "a", "/nonexistent-folder/b"));
    EXPECT_FALSE(CopyFile(ui, dir / "missing", dir / "c"));
    EXPECT_FALSE(CopyFile(ui, dir / "a", "/dev/full"));
    EXPECT_FALSE(CopyFile(ui, dir.Path(), dir / "d")); // a folder is not a file to copy
    EXPECT_EQ(ui.Texts(),
              (std::vector<std::string>{"Could not write to destination file /nonexistent-folder/b.",
                                        "Could not open file to rename file.", "Could not write to destination file.",
                                        "Could not open file to rename file."}));
    // A failed copy makes no file.
    EXPECT_FALSE(fs::exists(dir / "c"));
    EXPECT_FALSE(fs::exists(dir / "d"));
}

// The destination is replaced only by a whole copy: a copy killed half-way
// (the file size limit's signal) or failing leaves the previous file, and a
// failed one nothing else.
TEST(CopyFileTest, ACopyCutShortLeavesThePreviousFile) {
    TempDir dir;
    RecordingFrontend ui;
    std::vector<uint8_t> content(100000);
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<uint8_t>(i * 7);
    const std::vector<uint8_t> previous = {'o', 'l', 'd'};
    WriteBytes(dir / "source", content);
    WriteBytes(dir / "kept", previous);
    const pid_t child = fork();
    if (child == 0) {
        const rlimit small{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &small);
        CopyFile(ui, dir / "source", dir / "kept");
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
    EXPECT_EQ(ReadBytes(dir / "kept"), previous);
    const std::string left = ".kept." + std::to_string(child) + ".0.tmp";
    EXPECT_EQ(fs::file_size(dir / left), 4096u);
    // The next copy there takes the killed one's file away.
    EXPECT_TRUE(CopyFile(ui, dir / "source", dir / "kept"));
    EXPECT_EQ(ReadBytes(dir / "kept"), content);
    EXPECT_FALSE(fs::exists(dir / left));
    // Failing without a signal: the same.
    WriteBytes(dir / "kept", previous);
    {
        const sighandler_t old = signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit small = saved;
        small.rlim_cur = 4096;
        setrlimit(RLIMIT_FSIZE, &small);
        EXPECT_FALSE(CopyFile(ui, dir / "source", dir / "kept"));
        setrlimit(RLIMIT_FSIZE, &saved);
        signal(SIGXFSZ, old);
    }
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Could not write to destination file."});
    EXPECT_EQ(ReadBytes(dir / "kept"), previous);
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir.Path())) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"kept", "source"}));
}

TEST(CopyFileTest, OntoItselfLeavesTheFileAsItIsAndSucceeds) {
    TempDir dir;
    RecordingFrontend ui;
    const std::vector<uint8_t> content = {1, 2, 3, 4, 5, 6};
    WriteBytes(dir / "a", content);
    fs::create_directories(dir / "sub");
    fs::create_hard_link(dir / "a", dir / "hard");
    fs::create_symlink(dir / "a", dir / "soft");
    // The same file under every spelling: the path itself, with "./" or
    // "sub/..", a hard link, a symbolic link, and the link as the source.
    const std::vector<std::pair<std::string, std::string>> pairs{
        {dir / "a", dir / "a"},    {dir / "a", dir / "./a"},  {dir / "a", dir / "sub/../a"},
        {dir / "a", dir / "hard"}, {dir / "a", dir / "soft"}, {dir / "soft", dir / "a"}};
    for (const auto &[from, to] : pairs) {
        SCOPED_TRACE(to);
        EXPECT_TRUE(CopyFile(ui, from, to));
        EXPECT_EQ(ReadBytes(dir / "a"), content);
    }
    EXPECT_TRUE(ui.messages.empty());
    // A copy of equal content is still another file and is written.
    WriteBytes(dir / "twin", {0});
    EXPECT_TRUE(CopyFile(ui, dir / "a", dir / "twin"));
    EXPECT_EQ(ReadBytes(dir / "twin"), content);
    EXPECT_FALSE(SameFile(dir / "a", dir / "twin"));
    EXPECT_FALSE(SameFile(dir.Path(), dir / "sub/..")); // folders are no files to copy
    EXPECT_FALSE(SameFile(dir / "missing", dir / "missing"));
}

} // namespace

namespace {

TEST(WaveFuzzTest, RandomDamageGivesAnOriginalOrAMessage) {
    TempDir dir;
    RecordingFrontend ui;
    WaveSpec w;
    w.data = Pcm16(std::vector<int16_t>(64, 1000));
    const auto valid = MakeWave(w);
    std::mt19937 random(99);
    int refused = 0;
    for (int round = 0; round < 500; ++round) {
        auto damaged = valid;
        const int flips = 1 + static_cast<int>(random() % 3);
        for (int i = 0; i < flips; ++i) damaged[random() % damaged.size()] = static_cast<uint8_t>(random());
        if (random() % 4 == 0) damaged.resize(random() % damaged.size());
        WriteBytes(dir / "f.wav", damaged);
        ui.messages.clear();
        OriginalFile original;
        const bool ok = OpenOriginal(ui, dir / "f.wav", original);
        // Either a described original within the file, or exactly one message.
        if (ok) {
            EXPECT_TRUE(ui.messages.empty());
            EXPECT_LE(original.dataBytes + 38u, damaged.size());
            EXPECT_NE(original.formatFlags, 0u);
            auto wave = OpenWaveForReading(ui, dir / "f.wav");
            if (wave) {
                std::vector<uint8_t> buffer(256);
                int64_t total = 0;
                for (int64_t n; (n = wave->ReadData(buffer.data(), buffer.size())) > 0;) total += n;
                EXPECT_LE(total, static_cast<int64_t>(damaged.size()));
                CloseWave(ui, *wave);
            }
        } else {
            ++refused;
            EXPECT_EQ(ui.messages.size(), 1u);
        }
    }
    EXPECT_GT(refused, 0);
}

} // namespace
