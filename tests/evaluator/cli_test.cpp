// The pieces of the batch front end's corpus runs: finding the originals,
// planning and making converted copies, the modes and the progress bar.
#include "eval_support.hpp"

#include "cli/codec_rates.hpp"
#include "cli/conversion.hpp"
#include "cli/corpus_files.hpp"
#include "cli/modes.hpp"
#include "cli/progress_line.hpp"
#include "core/wave_samples.hpp"

#include <sys/stat.h>
#include <sys/wait.h>

#include <cmath>
#include <fstream>
#include <set>
#include <sstream>

using namespace vntr::cli;
using namespace vntr::test;
using vntr::report::ModeLabel;
using vntr::report::ModeWords;

namespace {

std::vector<std::string> Names(const OriginalList &list) {
    std::vector<std::string> names;
    for (const auto &o : list.originals) names.push_back(o.name);
    return names;
}

TEST(CorpusFilesTest, FoldersAreSearchedRecursivelyInSortedOrder) {
    TempDir dir;
    fs::create_directories(dir / "corpus/sub/deeper");
    for (const char *name : {"b.wav", "A.WAV", "notes.txt", "sub/c.wav", "sub/deeper/d.Wav", "sub/e.wave"}) {
        WriteBytes(dir / ("corpus/" + std::string(name)), {1});
    }
    fs::create_symlink(dir / "corpus/b.wav", dir / "corpus/sub/link.wav");
    const OriginalList list = CollectOriginals({dir / "corpus"});
    // The link leads to b.wav, already taken.
    EXPECT_EQ(Names(list), (std::vector<std::string>{"A.WAV", "b.wav", "sub/c.wav", "sub/deeper/d.Wav"}));
    EXPECT_EQ(list.originals[2].path, dir / "corpus/sub/c.wav");
    EXPECT_EQ(list.originals[3].keepFolder, "sub_deeper_d");
    EXPECT_TRUE(list.problems.empty());
}

TEST(CorpusFilesTest, ArgumentsKeepTheirOrderAndEachFileIsTakenOnce) {
    TempDir dir;
    fs::create_directories(dir / "one");
    fs::create_directories(dir / "two");
    fs::create_directories(dir / "empty");
    WriteBytes(dir / "one/x.wav", {1});
    WriteBytes(dir / "two/x.wav", {2});
    WriteBytes(dir / "z.wav", {3});
    const OriginalList list =
        CollectOriginals({dir / "z.wav", dir / "one", dir / "two", dir / "one/x.wav", dir / "empty"});
    EXPECT_EQ(Names(list), (std::vector<std::string>{"z.wav", "x.wav", "x.wav"}));
    // Two originals of one name keep their files apart.
    EXPECT_EQ(list.originals[1].keepFolder, "x");
    EXPECT_EQ(list.originals[2].keepFolder, "x~2");
    EXPECT_EQ(list.problems, std::vector<std::string>{"no wave files in folder " + (dir / "empty")});
}

// Names that once put kept files beside --keep DIR (".." from "...wav"),
// straight into it ("." and "") or into folders of their own making.
TEST(CorpusFilesTest, KeepFoldersAreOneEntryInsideTheKeepFolderAndUnique) {
    TempDir dir;
    fs::create_directories(dir / "corpus/a");
    fs::create_directories(dir / "corpus/b");
    fs::create_directories(dir / "other");
    const std::string longName(250, 'n'); // with ".wav", near the longest name a file may have
    for (const std::string name : {"...wav", "..wav", ".wav", "a/x.wav", "a_x.wav", "b/x.wav", "x~2.wav"}) {
        WriteBytes(dir / ("corpus/" + name), {1});
    }
    WriteBytes(dir / ("other/" + longName + ".wav"), {2});
    WriteBytes(dir / "other/x.wav", {3});
    const OriginalList list = CollectOriginals({dir / "corpus", dir / "other"});
    std::vector<std::string> folders;
    for (const auto &o : list.originals) folders.push_back(o.keepFolder);
    EXPECT_EQ(folders,
              (std::vector<std::string>{"_..", "_.", "_", "a_x", "a_x~2", "b_x", "x~2", std::string(200, 'n'), "x"}));
    // Two originals called x.wav in different folders named on the command line.
    const OriginalList twice = CollectOriginals({dir / "corpus/a/x.wav", dir / "corpus/b/x.wav", dir / "other/x.wav"});
    ASSERT_EQ(twice.originals.size(), 3u);
    EXPECT_EQ(twice.originals[0].keepFolder, "x");
    EXPECT_EQ(twice.originals[1].keepFolder, "x~2");
    EXPECT_EQ(twice.originals[2].keepFolder, "x~3");
    EXPECT_EQ(KeepFolderName("a/../../b.wav"), "a_.._.._b");
    // A cut never splits a character: 199 bytes, then a two-byte one at 199..200.
    EXPECT_EQ(KeepFolderName(std::string(199, 'n') + "\xc3\xa9tail.wav"), std::string(199, 'n'));
}

// Runs `body` as an unprivileged user when the tests run as root, for whom
// no folder is unreadable; its exit status is the test's verdict.
void AsUnprivilegedUser(const std::function<bool()> &body) {
    if (geteuid() != 0) {
        EXPECT_TRUE(body());
        return;
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const bool dropped = setgid(65534) == 0 && setuid(65534) == 0;
        _exit(dropped && body() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(CorpusFilesTest, LinkedFoldersAreFollowedOnceAndUnreadableFoldersNamed) {
    TempDir dir;
    fs::permissions(dir.Path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
    fs::create_directories(dir / "corpus/real/deeper");
    fs::create_directories(dir / "corpus/locked");
    fs::create_directories(dir / "outside");
    WriteBytes(dir / "corpus/real/a.wav", {1});
    WriteBytes(dir / "corpus/real/deeper/b.wav", {2});
    WriteBytes(dir / "corpus/locked/hidden.wav", {3});
    WriteBytes(dir / "outside/c.wav", {4});
    fs::create_directory_symlink(dir / "outside", dir / "corpus/linked");
    fs::create_directory_symlink("..", dir / "corpus/real/deeper/up"); // a loop back to real
    fs::create_symlink("knot.wav", dir / "corpus/knot.wav");           // a link to itself
    fs::permissions(dir / "corpus/locked", fs::perms::none);
    const std::string corpus = dir / "corpus";
    AsUnprivilegedUser([&] {
        const OriginalList list = CollectOriginals({corpus});
        const bool names = Names(list) == std::vector<std::string>{"linked/c.wav", "real/a.wav", "real/deeper/b.wav"};
        const std::set<std::string> problems(list.problems.begin(), list.problems.end());
        const bool named =
            problems == std::set<std::string>{"cannot read " + corpus + "/knot.wav: Too many levels of symbolic links",
                                              "cannot read folder " + corpus + "/locked: Permission denied"};
        if (!names || !named) {
            for (const auto &n : Names(list)) std::fprintf(stderr, "original %s\n", n.c_str());
            for (const auto &p : list.problems) std::fprintf(stderr, "problem %s\n", p.c_str());
        }
        return names && named;
    });
    fs::permissions(dir / "corpus/locked", fs::perms::owner_all);
}

TEST(ModesTest, ModesAreNamedInWordsAndParsedOnePerComma) {
    const uint32_t rates = CODEC_OPT_4800 | CODEC_OPT_6400;
    EXPECT_EQ(ModeLabel("VT4864v6", rates, CODEC_OPT_4800), "VT4864v6 4.8k");
    EXPECT_EQ(ModeLabel("VT4864v6", rates, CODEC_OPT_6400), "VT4864v6 6.4k");
    EXPECT_EQ(ModeLabel("VT4864v6", rates, 0), "VT4864v6 4.8k-6.4k");
    EXPECT_EQ(ModeWords(rates | CODEC_OPT_VAD, CODEC_OPT_4800 | CODEC_OPT_VAD), "4.8k VAD");
    EXPECT_EQ(ModeWords(CODEC_OPT_VAD, 0), "no VAD");
    EXPECT_EQ(ModeLabel("GSM-FR", 0, 0), "GSM-FR");

    std::vector<uint32_t> modes;
    std::string error;
    ASSERT_TRUE(ParseModes("4800,6400", rates, 0, modes, error)) << error;
    EXPECT_EQ(modes, (std::vector<uint32_t>{CODEC_OPT_4800, CODEC_OPT_6400}));
    // Voice activity on and off, each on top of what the codec had (--vad).
    ASSERT_TRUE(ParseModes("vad,novad", CODEC_OPT_VAD | rates, CODEC_OPT_6400 | CODEC_OPT_VAD, modes, error)) << error;
    EXPECT_EQ(modes, (std::vector<uint32_t>{CODEC_OPT_6400 | CODEC_OPT_VAD, CODEC_OPT_6400}));
    ASSERT_TRUE(ParseModes("4800+vad,4800+vad,default", CODEC_OPT_VAD | rates, 0, modes, error)) << error;
    EXPECT_EQ(modes, (std::vector<uint32_t>{CODEC_OPT_4800 | CODEC_OPT_VAD, 0})); // the same mode once
    EXPECT_FALSE(ParseModes("4800,vad", rates, 0, modes, error));
    EXPECT_EQ(error, "the codec does not offer option 'vad'");
    EXPECT_FALSE(ParseModes(",", rates, 0, modes, error));
    EXPECT_EQ(error, "no option given");
    EXPECT_FALSE(ParseModes("9600", rates, 0, modes, error));
    EXPECT_NE(error.find("unknown option '9600'"), std::string::npos);
}

TEST(ConversionTest, EachCodecIsFedItsOwnRateOrTheNearestItTakes) {
    const uint32_t narrow = CODEC_FMT_PCM16_MONO_8KHZ, eleven = CODEC_FMT_PCM16_MONO | CODEC_FMT_11KHZ,
                   wide = CODEC_FMT_PCM16_MONO | CODEC_FMT_22KHZ, twelve = CODEC_FMT_PCM16_MONO | CODEC_FMT_12KHZ;
    EXPECT_EQ(CodecRate(narrow, 8000), 8000);
    EXPECT_EQ(CodecRate(narrow, 16000), 8000);
    EXPECT_EQ(CodecRate(narrow, 11025), 8000); // its own copy, not the 11:8 one
    EXPECT_EQ(CodecRate(eleven, 16000), 11025);
    EXPECT_EQ(CodecRate(eleven, 8000), 11025);
    EXPECT_EQ(CodecRate(wide, 44100), 22050);
    EXPECT_EQ(CodecRate(wide | eleven, 16000), 11025);
    // Equally near: the higher rate, which keeps more of the band.
    EXPECT_EQ(CodecRate(narrow | twelve, 10000), 12000);
    EXPECT_EQ(CodecRate(0x2102, 8000), 0); // no rate at all
    // Without --resample only stereo originals are mixed down, on request.
    EXPECT_TRUE(PlanConversion(2, true).Needed());
    EXPECT_FALSE(PlanConversion(1, true).Needed());
    EXPECT_FALSE(PlanConversion(2, false).Needed());
    EXPECT_EQ(ConversionNote(PlanConversion(2, true)), "mixed down to mono");
}

struct ConvertedCopy {
    int rate = 0;
    unsigned channels = 0;
    unsigned bits = 0;
    std::vector<int16_t> samples;
};

ConvertedCopy ReadCopy(const std::string &path) {
    vntr::evaluator::WaveSampleReader reader;
    EXPECT_TRUE(reader.Open(path));
    ConvertedCopy copy{reader.SampleRate(), reader.Channels(), reader.BitsPerSample(), {}};
    copy.samples.resize(static_cast<std::size_t>(reader.Frames()) * reader.Channels());
    copy.samples.resize(reader.ReadInterleaved(copy.samples) * reader.Channels());
    return copy;
}

TEST(ConversionTest, MixingDownAveragesTheChannelsAndKeepsTheWidth) {
    TempDir dir;
    RecordingFrontend ui;
    std::atomic<bool> cancel{false};
    WaveSpec stereo;
    stereo.channels = 2;
    stereo.blockAlign = 4;
    stereo.data = Pcm16({1000, 3001, -5, -6, 32767, 32767, -32768, 32767});
    WriteBytes(dir / "s.wav", MakeWave(stereo));
    ConversionPlan plan;
    plan.toMono = true;
    std::string error;
    ASSERT_TRUE(ConvertOriginal(dir / "s.wav", plan, dir / "m.wav", ui, cancel, error)) << error;
    const ConvertedCopy mono = ReadCopy(dir / "m.wav");
    EXPECT_EQ(mono.channels, 1u);
    EXPECT_EQ(mono.bits, 16u);
    EXPECT_EQ(mono.samples, (std::vector<int16_t>{2001, -6, 32767, -1})); // halves away from zero

    WaveSpec eight = stereo;
    eight.bits = 8;
    eight.blockAlign = 2;
    eight.data = {128 + 10, 128 + 20, 0, 255};
    WriteBytes(dir / "s8.wav", MakeWave(eight));
    ASSERT_TRUE(ConvertOriginal(dir / "s8.wav", plan, dir / "m8.wav", ui, cancel, error)) << error;
    const ConvertedCopy mono8 = ReadCopy(dir / "m8.wav");
    EXPECT_EQ(mono8.bits, 8u);
    EXPECT_EQ(mono8.samples, (std::vector<int16_t>{15 * 256, -256})); // -0.5 steps rounds to -1
    EXPECT_TRUE(ui.messages.empty());
}

TEST(ConversionTest, CopiesKeepLengthAndLevelAndAreTheSameEveryTime) {
    TempDir dir;
    RecordingFrontend ui;
    std::atomic<bool> cancel{false};
    std::vector<int16_t> tone(16000 * 2);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = static_cast<int16_t>(10000 * std::sin(2 * M_PI * 440 * i / 16000.0));
    WaveSpec w;
    w.rate = 16000;
    w.data = Pcm16(tone);
    WriteBytes(dir / "t.wav", MakeWave(w));
    CopyTarget target;
    target.rate = 11025;
    std::string error;
    ASSERT_TRUE(WriteCopy(dir / "t.wav", target, dir / "a.wav", ui, cancel, error)) << error;
    ASSERT_TRUE(WriteCopy(dir / "t.wav", target, dir / "b.wav", ui, cancel, error)) << error;
    EXPECT_EQ(ReadBytes(dir / "a.wav"), ReadBytes(dir / "b.wav")); // the dither repeats
    const ConvertedCopy copy = ReadCopy(dir / "a.wav");
    EXPECT_EQ(copy.rate, 11025);
    EXPECT_NEAR(static_cast<double>(copy.samples.size()), 11025.0 * 2, 2.0);
    double energy = 0;
    for (std::size_t i = 2000; i < copy.samples.size() - 2000; ++i)
        energy += static_cast<double>(copy.samples[i]) * copy.samples[i];
    EXPECT_NEAR(std::sqrt(energy / static_cast<double>(copy.samples.size() - 4000)), 10000 / std::sqrt(2.0), 50);

    // 16-bit samples at their own rate are copied as they are; anything
    // computed is dithered: within a step of the exact value, not always on it.
    target.rate = 16000;
    ASSERT_TRUE(WriteCopy(dir / "t.wav", target, dir / "same.wav", ui, cancel, error)) << error;
    EXPECT_EQ(ReadCopy(dir / "same.wav").samples, tone);
    target.gainDb = 20 * std::log10(0.5);
    ASSERT_TRUE(WriteCopy(dir / "t.wav", target, dir / "half.wav", ui, cancel, error)) << error;
    const auto half = ReadCopy(dir / "half.wav").samples;
    ASSERT_EQ(half.size(), tone.size());
    std::size_t off = 0;
    for (std::size_t i = 0; i < tone.size(); ++i) {
        EXPECT_LE(std::fabs(half[i] - tone[i] / 2.0), 1.5) << i;
        off += half[i] != std::lround(tone[i] / 2.0) ? 1 : 0;
    }
    EXPECT_GT(off, tone.size() / 10);

    // A stop request ends it with no copy worth keeping.
    cancel = true;
    target.gainDb = 0;
    EXPECT_FALSE(WriteCopy(dir / "t.wav", target, dir / "c.wav", ui, cancel, error));
    EXPECT_EQ(error, "interrupted");
    // Something libsndfile cannot read is said.
    WriteBytes(dir / "bad.wav", {'R', 'I', 'F', 'F'});
    cancel = false;
    EXPECT_FALSE(WriteCopy(dir / "bad.wav", target, dir / "d.wav", ui, cancel, error));
    EXPECT_EQ(error.rfind("cannot read " + dir / "bad.wav", 0), 0u) << error;
}

TEST(ProgressLineTest, FilesAudioAndTimeLeft) {
    CorpusProgress p;
    p.files = 9;
    p.filesDone = 3;
    p.seconds = 40;
    p.secondsDone = 10;
    p.elapsed = 5; // 2 s of audio a second: 15 s left
    EXPECT_EQ(ProgressLine(p, 8), "[##------] 3/9 files   10.0/40.0 s audio   0:15 left");
    p.secondsDone = 0;
    EXPECT_EQ(ProgressLine(p, 8), "[--------] 3/9 files   0.0/40.0 s audio   --:-- left");
    p.secondsDone = 50; // more than the total (a header that said too little)
    EXPECT_EQ(ProgressLine(p, 4), "[####] 3/9 files   50.0/40.0 s audio   0:00 left");
    p.seconds = 0;
    p.secondsDone = 1;
    p.elapsed = 7200;
    p.files = 0;
    EXPECT_EQ(ProgressLine(p, 2), "[##] 3/0 files   1.0/0.0 s audio   0:00 left");
}

} // namespace
