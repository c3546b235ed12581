// vtbench32 --batch as a user runs it: the table, the JSON, sessions saved
// and rerun, kept files, exit statuses and messages on stderr.
#include "batch_support.hpp"

#include "core/instance.hpp"

#include <vntr/platform/registry.hpp>

#include <sys/wait.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>

using namespace vntr::test;

namespace {

class BatchTest : public ::testing::Test {
protected:
    BatchTest() : a("FAKEA"), b("FAKEB") {
        EXPECT_EQ(a.Register(), 0);
        EXPECT_EQ(b.Register(), 0);
        WriteBytes(world.File("speech.wav"), SpeechLikeWave(8000, 8000));
    }

    Outcome Vtbench(const std::string &args, const std::string &env = "") { return RunVtbench(world, args, env); }
    nlohmann::json Json(const std::string &name) { return ReadJson(world.File(name)); }
    // The one original of a run's JSON, which is that of a corpus of one.
    nlohmann::json Original(const std::string &name) {
        const auto doc = Json(name);
        EXPECT_EQ(doc["corpus"]["originals"], 1) << name;
        EXPECT_EQ(doc["files"].size(), 1u) << name;
        return doc["files"][0];
    }

    EvaluatorWorld world;
    FakeLibrary a;
    FakeLibrary b;
};

TEST_F(BatchTest, PrintsTheComparisonAndWritesJson) {
    const Outcome run = Vtbench("--batch " + world.File("speech.wav") + " --json " + world.File("r.json"));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find("Original: speech.wav  8000 Hz, PCM 16 bit MONO  1.00 sec  16000 bytes"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("Reduced 16000 bytes to"), std::string::npos);
    EXPECT_NE(run.out.find("Coding in "), std::string::npos);
    EXPECT_NE(run.out.find("Decoding in "), std::string::npos);
    const auto json = Original("r.json");
    ASSERT_EQ(json["codecs"].size(), 2u);
    EXPECT_EQ(json["codecs"][0]["outcome"], "ok");
    EXPECT_EQ(json["codecs"][0]["inputBytes"], 16000);
    EXPECT_TRUE(json["codecs"][0].contains("quality"));
    EXPECT_EQ(json["codecs"][0]["lines"].size(), 3u);
    EXPECT_EQ(json["sampleRate"], 8000);
    EXPECT_EQ(json["dataBytes"], 16000);
    EXPECT_EQ(json["format"], "8000 Hz, PCM 16 bit MONO");
    EXPECT_FALSE(json["fromSession"].get<bool>());
    // One original is a corpus of one: its totals and a summary row per codec.
    const auto doc = Json("r.json");
    EXPECT_EQ(doc["corpus"]["run"], 1);
    EXPECT_EQ(doc["corpus"]["workers"], 1);
    EXPECT_TRUE(doc["corpus"]["wallSeconds"].is_number());
    ASSERT_EQ(doc["codecs"].size(), 2u);
    for (const auto &c : doc["codecs"]) EXPECT_EQ(c["files"], 1) << c["label"];
    // The perceptual score beside the waveform measures, in the table and the JSON.
    EXPECT_NE(run.out.find("Latency ViSQOL\n"), std::string::npos) << run.out;
    for (const auto &c : json["codecs"]) {
        const auto &q = c["quality"];
        ASSERT_TRUE(q["visqolMos"].is_number()) << q.dump();
        EXPECT_GE(q["visqolMos"].get<double>(), 1.0);
        EXPECT_LE(q["visqolMos"].get<double>(), 5.0);
        EXPECT_GT(q["visqolNsim"].get<double>(), 0.0);
    }
}

TEST_F(BatchTest, NoQualitySkipsTheScoreWithTheOtherMeasures) {
    const Outcome run = Vtbench("--batch " + world.File("speech.wav") + " --no-quality --json " + world.File("r.json") +
                                " --csv " + world.File("r.csv"));
    EXPECT_EQ(run.status, 0) << run.err;
    const auto json = Original("r.json");
    for (const auto &c : json["codecs"]) EXPECT_FALSE(c.contains("quality"));
    const auto csv = ReadBytes(world.File("r.csv"));
    const std::string text(csv.begin(), csv.end());
    EXPECT_NE(text.find(",delay_samples,visqol_mos,declared_latency_samples,coding_x_realtime,"), std::string::npos)
        << text;
    EXPECT_NE(text.find(",-,-,-,-,-,"), std::string::npos) << text; // the four measures and the delay unmeasured
}

// A library that names a system library under "Peer Codec" in its machine key
// is a peer; its row in the report says so, the others' say they are not.
TEST_F(BatchTest, JsonMarksThePeerRowsFromTheirRegistration) {
    vntr::platform::RegKey key;
    ASSERT_EQ(vntr::platform::RegKey::Open(vntr::platform::Hive::LocalMachine, "SOFTWARE\\Vantre\\QBL SDK\\FAKEB", key),
              vntr::platform::RegStatus::Ok);
    ASSERT_EQ(key.SetValue("Peer Codec", "libfake 1.2"), vntr::platform::RegStatus::Ok);
    ASSERT_EQ(key.Close(), vntr::platform::RegStatus::Ok);
    const Outcome run = Vtbench("--batch " + world.File("speech.wav") + " --json " + world.File("r.json"));
    EXPECT_EQ(run.status, 0) << run.err;
    const auto json = Original("r.json");
    ASSERT_EQ(json["codecs"].size(), 2u);
    int peers = 0;
    for (const auto &c : json["codecs"]) {
        const bool isB = c["name"] == "FAKEB";
        EXPECT_EQ(c["peer"], isB) << c["name"];
        EXPECT_EQ(c.contains("peerLibrary"), isB);
        if (isB) {
            EXPECT_EQ(c["peerLibrary"], "libfake 1.2");
            ++peers;
        }
    }
    EXPECT_EQ(peers, 1);
}

TEST_F(BatchTest, SavedSessionReopensAndReruns) {
    Outcome run = Vtbench("--batch " + world.File("speech.wav") + " --codecs FAKEB --save-session " +
                          world.File("s.qbl") + " --json " + world.File("first.json"));
    ASSERT_EQ(run.status, 0) << run.err;
    run = Vtbench("--batch --session " + world.File("s.qbl") + " --json " + world.File("second.json"));
    ASSERT_EQ(run.status, 0) << run.err;
    const auto first = Original("first.json");
    const auto second = Original("second.json");
    ASSERT_EQ(second["codecs"].size(), 1u);
    EXPECT_EQ(second["codecs"][0]["name"], "FAKEB");
    EXPECT_EQ(second["codecs"][0]["codedBytes"], first["codecs"][0]["codedBytes"]);
    EXPECT_EQ(second["name"], "speech.wav");
    EXPECT_TRUE(second["fromSession"].get<bool>());
}

TEST_F(BatchTest, KeepCopiesTheCodedAndDecodedFiles) {
    const Outcome run = Vtbench("--batch " + world.File("speech.wav") + " --codecs FAKEA --keep " + world.File("kept"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::exists(world.File("kept/FAKEA.coded.wav")));
    EXPECT_TRUE(fs::exists(world.File("kept/FAKEA.decoded.wav")));
    EXPECT_FALSE(fs::exists(world.File("kept/FAKEB.coded.wav")));
}

TEST_F(BatchTest, KeepCopiesEveryCodecsFilesWhenAnotherFails) {
    const Outcome run =
        Vtbench("--batch " + world.File("speech.wav") + " --keep " + world.File("kept"), "FAKE_FAIL_ENCODER=FAKEA");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(fs::exists(world.File("kept/FAKEB.coded.wav")));
    EXPECT_TRUE(fs::exists(world.File("kept/FAKEB.decoded.wav")));
    EXPECT_EQ(ReadBytes(world.File("kept/FAKEB.decoded.wav")).size(), 46u + 16000u); // whole, header and all
    EXPECT_FALSE(fs::exists(world.File("kept/FAKEA.coded.wav")));                    // its encoder never opened
}

TEST_F(BatchTest, KeepReportsACopyThatFailsAndMakesTheOthers) {
    fs::create_directories(world.File("kept/FAKEA.coded.wav")); // a folder where the file should go
    const Outcome run = Vtbench("--batch " + world.File("speech.wav") + " --keep " + world.File("kept"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Could not write to destination file " + world.File("kept") + "/FAKEA.coded.wav."),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("vtbench32: could not keep " + world.File("kept") + "/FAKEA.coded.wav"), std::string::npos);
    EXPECT_TRUE(fs::exists(world.File("kept/FAKEA.decoded.wav")));
    EXPECT_TRUE(fs::exists(world.File("kept/FAKEB.coded.wav")));
    EXPECT_TRUE(fs::exists(world.File("kept/FAKEB.decoded.wav")));
}

// The files of a folder, by name, hidden ones included.
std::vector<std::string> Entries(const std::string &folder) {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// An original inside the keep folder, named as a kept file would be: the
// copy is refused and the original stays, alone or in a corpus.
TEST_F(BatchTest, KeepNeverReplacesAnOriginalOfTheRun) {
    const auto original = ReadBytes(world.File("speech.wav"));
    fs::create_directories(world.File("kept"));
    WriteBytes(world.File("kept/FAKEA.decoded.wav"), original);
    Outcome run =
        Vtbench("--batch " + world.File("kept/FAKEA.decoded.wav") + " --codecs FAKEA --keep " + world.File("kept"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("vtbench32: will not keep " + world.File("kept") +
                           "/FAKEA.decoded.wav: it is an original of this run\n"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(ReadBytes(world.File("kept/FAKEA.decoded.wav")), original);
    EXPECT_TRUE(fs::exists(world.File("kept/FAKEA.coded.wav")));
    // Through a symbolic link to the original the same.
    fs::create_symlink(world.File("speech.wav"), world.File("kept/FAKEB.coded.wav"));
    run = Vtbench("--batch " + world.File("speech.wav") + " --codecs FAKEB --keep " + world.File("kept"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("will not keep " + world.File("kept") + "/FAKEB.coded.wav"), std::string::npos) << run.err;
    EXPECT_EQ(ReadBytes(world.File("speech.wav")), original);
    // In a corpus, a.wav's files go to corpus/a/, where another original is.
    fs::create_directories(world.File("corpus/a"));
    WriteBytes(world.File("corpus/a.wav"), original);
    WriteBytes(world.File("corpus/a/FAKEA.decoded.wav"), original);
    run = Vtbench("--batch " + world.File("corpus") + " --codecs FAKEA -j 1 --quiet --keep " + world.File("corpus"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("a.wav: vtbench32: will not keep " + world.File("corpus") + "/a/FAKEA.decoded.wav"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(ReadBytes(world.File("corpus/a/FAKEA.decoded.wav")), original);
    EXPECT_TRUE(fs::exists(world.File("corpus/a/FAKEA.coded.wav")));
}

// Originals whose names once sent kept files beside the keep folder
// ("...wav" kept into "DIR/.."), into it ("..wav", ".wav") or into folders
// of their own: each gets one folder of its own inside.
TEST_F(BatchTest, KeptFilesStayInsideTheKeepFolderWhateverTheOriginalsAreCalled) {
    fs::create_directories(world.File("corpus/sub"));
    fs::create_directories(world.File("out"));
    int n = 0;
    for (const char *name : {"...wav", "..wav", ".wav", "sub/x.wav", "sub_x.wav"}) {
        WriteBytes(world.File("corpus/" + std::string(name)), SpeechLikeWave(8000, 800 * ++n));
    }
    const Outcome run =
        Vtbench("--batch " + world.File("corpus") + " --codecs FAKEA -j 2 --quiet --keep " + world.File("out/kept"));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Entries(world.File("out")), std::vector<std::string>{"kept"});
    EXPECT_EQ(Entries(world.File("out/kept")), (std::vector<std::string>{"_", "_.", "_..", "sub_x", "sub_x~2"}));
    for (const auto &folder : Entries(world.File("out/kept"))) {
        EXPECT_EQ(Entries(world.File("out/kept/" + folder)),
                  (std::vector<std::string>{"FAKEA.coded.wav", "FAKEA.decoded.wav"}))
            << folder;
    }
    // Each folder holds its own original's files: "...wav" was the first and shortest.
    EXPECT_EQ(ReadBytes(world.File("out/kept/_../FAKEA.decoded.wav")).size(), 46u + 1600u);
}

// File names are bytes: one that is not UTF-8 once aborted the program in
// the JSON writer, leaving an empty JSON and no CSV.
TEST_F(BatchTest, NamesThatAreNotUtf8AreReportedWithTheirBytes) {
    const std::string name = "caf\xe9.wav";
    WriteBytes(world.File(name), SpeechLikeWave(8000, 8000));
    Outcome run = Vtbench("--batch " + world.File(name) + " --codecs FAKEA --json " + world.File("r.json") + " --csv " +
                          world.File("r.csv") + " --save-session " + world.File("s.qbl"));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    auto json = Original("r.json");
    EXPECT_EQ(json["name"], "caf\xef\xbf\xbd.wav");
    EXPECT_EQ(json["nameBytes"], "caf%E9.wav");
    EXPECT_EQ(json["pathBytes"], world.File("caf%E9.wav"));
    EXPECT_EQ(json["codecs"][0]["outcome"], "ok");
    const auto csv = ReadBytes(world.File("r.csv"));
    EXPECT_NE(std::string(csv.begin(), csv.end()).find(name + "," + world.File(name) + ",ok,,FAKEA,,ok,"),
              std::string::npos);
    // The session stores the name as it is; reopened, it is reported the same way.
    run = Vtbench("--batch --session " + world.File("s.qbl") + " --json " + world.File("s.json") + " --csv " +
                  world.File("s.csv"));
    EXPECT_EQ(run.status, 0) << run.err;
    json = Original("s.json");
    EXPECT_EQ(json["nameBytes"], "caf%E9.wav");
    EXPECT_TRUE(fs::exists(world.File("s.csv")));
    // Over a corpus, with a message naming the file.
    fs::create_directories(world.File("corpus"));
    WriteBytes(world.File("corpus/" + name), SpeechLikeWave(8000, 8000));
    WriteBytes(world.File("corpus/\xff.wav"), {'R', 'I', 'F', 'F'});
    run = Vtbench("--batch " + world.File("corpus") + " --codecs FAKEA --quiet --json " + world.File("c.json") +
                  " --csv " + world.File("c.csv"));
    EXPECT_EQ(run.status, 1); // the damaged one
    json = Json("c.json");
    ASSERT_EQ(json["files"].size(), 2u);
    EXPECT_EQ(json["files"][0]["nameBytes"], "caf%E9.wav");
    EXPECT_EQ(json["files"][1]["nameBytes"], "%FF.wav");
    EXPECT_EQ(json["files"][1]["messagesBytes"][0], "Vantre QBL Evaluator: Error: File " + world.File("corpus") +
                                                        "/%FF.wav is not a wave file or is corrupted.");
    EXPECT_TRUE(fs::exists(world.File("c.csv")));
    for (const auto &entry : Entries(world.File(""))) EXPECT_NE(entry.front(), '.') << entry;
}

// Linked folders are searched, a loop ends, and what cannot be read is
// named and makes the exit status say so while the others run.
TEST_F(BatchTest, CorpusFollowsLinkedFoldersAndNamesWhatItCannotRead) {
    fs::create_directories(world.File("corpus"));
    fs::create_directories(world.File("outside"));
    WriteBytes(world.File("corpus/a.wav"), SpeechLikeWave(8000, 8000));
    WriteBytes(world.File("outside/b.wav"), SpeechLikeWave(8000, 4000));
    fs::create_directory_symlink(world.File("outside"), world.File("corpus/linked"));
    fs::create_directory_symlink(world.File("corpus"), world.File("outside/back"));
    Outcome run = Vtbench("--batch " + world.File("corpus") + " --codecs FAKEA --quiet --csv " + world.File("r.csv"));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("Corpus: 2 originals, 2 run, 0 refused"), std::string::npos) << run.out;
    auto csv = ReadBytes(world.File("r.csv"));
    EXPECT_NE(std::string(csv.begin(), csv.end()).find("linked/b.wav,"), std::string::npos);
    fs::create_symlink("knot.wav", world.File("corpus/knot.wav"));
    run = Vtbench("--batch " + world.File("corpus") + " --codecs FAKEA --quiet");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("vtbench32: cannot read " + world.File("corpus") +
                           "/knot.wav: Too many levels of symbolic links\n"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.out.find("Corpus: 2 originals, 2 run, 0 refused"), std::string::npos) << run.out;
}

TEST_F(BatchTest, CodecsThatCannotTakeTheOriginalAreListedOnceWithTheReason) {
    WriteBytes(world.File("wide.wav"), SpeechLikeWave(22050, 22050));
    Outcome run = Vtbench("--batch " + world.File("wide.wav") + " --json " + world.File("r.json"));
    // No codec takes the rate: the original is named once with the way out, and the run failed.
    EXPECT_EQ(run.err, "vtbench32: wide.wav: no selected codec takes 22050 Hz: use --resample\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("FAKEA      not run: 22 kHz not supported\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("FAKEB      not run: 22 kHz not supported\n"), std::string::npos) << run.out;
    const auto json = Original("r.json");
    EXPECT_EQ(json["codecs"][0]["outcome"], "not run");
    EXPECT_EQ(json["codecs"][0]["reason"], "22 kHz not supported");
    EXPECT_TRUE(json["messages"].empty());

    WaveSpec narrow;
    narrow.bits = 8;
    narrow.blockAlign = 1;
    narrow.data.assign(8000, 128);
    WriteBytes(world.File("narrow.wav"), MakeWave(narrow));
    run = Vtbench("--batch " + world.File("narrow.wav") + " --codecs FAKEB");
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find("FAKEB      not run: 8 bit not supported\n"), std::string::npos) << run.out;
    // A real error is still said on stderr.
    run = Vtbench("--batch " + world.File("speech.wav") + " --codecs FAKEB", "FAKE_FAIL_ENCODER=FAKEB");
    EXPECT_NE(run.err.find("FAKEB : Cannot initialize encoding engine."), std::string::npos);
}

TEST_F(BatchTest, OneOriginalResampledOnRequestKeepsItsNameAndWritesCsv) {
    WriteBytes(world.File("wide.wav"), SpeechLikeWave(16000, 16000));
    Outcome run = Vtbench("--batch " + world.File("wide.wav"));
    EXPECT_NE(run.out.find("FAKEA      not run: 16 kHz not supported"), std::string::npos) << run.out;
    run = Vtbench("--batch " + world.File("wide.wav") + " --resample --csv " + world.File("r.csv") + " --json " +
                  world.File("r.json"));
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string note = "read as 16-bit PCM; each codec at its own rate (8000 Hz)";
    EXPECT_NE(run.out.find("Original: wide.wav  16000 Hz, 16-bit PCM, mono  1.00 sec  (" + note + ")"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(Original("r.json")["conversion"], note);
    const auto csv = ReadBytes(world.File("r.csv"));
    const std::string text(csv.begin(), csv.end());
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3) << text; // the header and one row per codec
    EXPECT_NE(text.find("wide.wav," + world.File("wide.wav") + ",ok," + note + ",FAKEA,,ok,"), std::string::npos)
        << text;
    // The copies are gone with the run's temporary folder.
    const std::string folder = world.File("tmproot") + "/vntr-" + std::to_string(getuid());
    EXPECT_TRUE(fs::is_empty(folder));
    // A session stores an original as it is.
    EXPECT_EQ(Vtbench("--batch " + world.File("wide.wav") + " --resample --save-session " + world.File("s.qbl")).status,
              2);
}

// Files people have: wider samples and floats are named as what they are,
// with the option that takes them.
TEST_F(BatchTest, WideAndFloatSamplesAreNamedForWhatTheyAre) {
    WaveSpec wide;
    wide.bits = 24;
    wide.blockAlign = 3;
    wide.data.assign(3 * 8000, 0x11);
    WriteBytes(world.File("wide24.wav"), MakeWave(wide));
    WaveSpec floats;
    floats.tag = 3;
    floats.bits = 32;
    floats.blockAlign = 4;
    floats.data.assign(4 * 8000, 0);
    WriteBytes(world.File("float.wav"), MakeWave(floats));
    Outcome run = Vtbench("--batch " + world.File("wide24.wav"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "vtbench32: File " + world.File("wide24.wav") + " is 24-bit PCM: use --resample\n");
    run = Vtbench("--batch " + world.File("float.wav"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "vtbench32: File " + world.File("float.wav") + " is 32-bit float PCM: use --resample\n");
    // In a corpus the original is refused with the same words and the others run.
    fs::create_directories(world.File("corpus"));
    fs::copy_file(world.File("wide24.wav"), world.File("corpus/a.wav"));
    fs::copy_file(world.File("speech.wav"), world.File("corpus/b.wav"));
    run = Vtbench("--batch " + world.File("corpus") + " --json " + world.File("c.json"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("a.wav: vtbench32: File " + world.File("corpus/a.wav") + " is 24-bit PCM: use --resample"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(Json("c.json")["corpus"]["run"], 1);
}

// An original shorter than one frame of a codec is not run on that codec;
// the run itself has not failed.
TEST_F(BatchTest, AnOriginalShorterThanAFrameIsNotRun) {
    WriteBytes(world.File("short.wav"), SpeechLikeWave(8000, 100)); // the fakes' frames are 160 samples
    const Outcome run = Vtbench("--batch " + world.File("short.wav") + " --json " + world.File("r.json"));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find("FAKEA      not run: shorter than one frame\n"), std::string::npos) << run.out;
    const auto json = Original("r.json");
    for (const auto &c : json["codecs"]) {
        EXPECT_EQ(c["outcome"], "not run");
        EXPECT_EQ(c["reason"], "shorter than one frame");
    }
}

// --level: the original is scaled before the codecs see it, and the level
// found and the gain applied are reported with it.
TEST_F(BatchTest, LevelScalesTheOriginalAndSaysByHowMuch) {
    std::vector<int16_t> tone(16000);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = static_cast<int16_t>(std::lround(1000 * std::sin(2 * M_PI * i / 8.0)));
    WaveSpec w;
    w.data = Pcm16(tone);
    WriteBytes(world.File("tone.wav"), MakeWave(w));
    const Outcome run = Vtbench("--batch " + world.File("tone.wav") + " --level -26 --json " + world.File("r.json") +
                                " --keep " + world.File("kept"));
    ASSERT_EQ(run.status, 0) << run.err;
    // A sine of amplitude 1000 is at -33.3 dBov: raised by 7.3 dB.
    const std::string note = Original("r.json")["conversion"];
    double level = 0, gain = 0, target = 0;
    ASSERT_EQ(
        std::sscanf(note.c_str(), "active speech level %lf dBov scaled by %lf dB to %lf dBov", &level, &gain, &target),
        3)
        << note;
    EXPECT_NEAR(level, 20 * std::log10(1000 / std::sqrt(2.0) / 32768), 0.1);
    EXPECT_NEAR(gain, -26 - level, 0.006);
    EXPECT_EQ(target, -26.0);
    EXPECT_NE(run.out.find("(" + note + ")"), std::string::npos) << run.out;
    EXPECT_EQ(Vtbench("--batch " + world.File("tone.wav") + " --level 3").status, 2); // above full scale
}

// --resample reads what libsndfile reads: 24-bit, float, a RIFF header that
// streamed its sizes as unknown; the copy each codec is fed is kept.
TEST_F(BatchTest, ResampleReadsWideFloatAndStreamedOriginals) {
    std::vector<double> signal(16000);
    for (std::size_t i = 0; i < signal.size(); ++i) signal[i] = 0.3 * std::sin(2 * M_PI * 440.0 * i / 16000.0);
    WaveSpec wide;
    wide.rate = 16000;
    wide.bits = 24;
    wide.blockAlign = 3;
    WaveSpec floats;
    floats.rate = 16000;
    floats.tag = 3;
    floats.bits = 32;
    floats.blockAlign = 4;
    WaveSpec streamed;
    streamed.rate = 8000;
    for (std::size_t i = 0; i < signal.size(); ++i) {
        const auto v24 = static_cast<int32_t>(std::lround(signal[i] * 8388607));
        for (int b = 0; b < 3; ++b) wide.data.push_back(static_cast<uint8_t>(v24 >> (8 * b)));
        const float f = static_cast<float>(signal[i]);
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        PutLe32(floats.data, bits);
        if (i % 2 == 0)
            PutLe16(streamed.data, static_cast<uint16_t>(static_cast<int16_t>(std::lround(signal[i] * 32767))));
    }
    WriteBytes(world.File("wide24.wav"), MakeWave(wide));
    WriteBytes(world.File("float.wav"), MakeWave(floats));
    auto bytes = MakeWave(streamed);
    for (const std::size_t at : {std::size_t{4}, bytes.size() - streamed.data.size() - 4}) {
        for (int b = 0; b < 4; ++b) bytes[at + b] = 0xFF; // sizes not known when the header was written
    }
    WriteBytes(world.File("streamed.wav"), bytes);
    for (const char *name : {"wide24.wav", "float.wav", "streamed.wav"}) {
        const Outcome run = Vtbench("--batch " + world.File(name) + " --resample --json " + world.File("r.json") +
                                    " --keep " + world.File(std::string("kept-") + name));
        ASSERT_EQ(run.status, 0) << name << ": " << run.err;
        const auto json = Original("r.json");
        ASSERT_EQ(json["codecs"].size(), 2u) << name;
        for (const auto &c : json["codecs"]) {
            EXPECT_EQ(c["outcome"], "ok") << name;
            EXPECT_EQ(c["sampleRate"], 8000) << name;
            EXPECT_EQ(c["inputBytes"], 16000) << name; // one second at 8000 Hz, whatever the original's rate
        }
        EXPECT_NE(json["conversion"].get<std::string>().find("each codec at its own rate (8000 Hz)"), std::string::npos)
            << json;
        EXPECT_TRUE(fs::exists(world.File(std::string("kept-") + name + "/reference 8000 Hz.wav"))) << name;
    }
    EXPECT_EQ(Original("r.json")["conversion"].get<std::string>().substr(0, 21), "read as 16-bit PCM; e");
}

TEST_F(BatchTest, FailedCodecMakesTheExitStatusNonZero) {
    const Outcome run = Vtbench("--batch " + world.File("speech.wav"), "FAKE_FAIL_ENCODER=FAKEA");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "Vantre QBL Evaluator: Error: FAKEA : Cannot initialize encoding engine.  Format not supported.\n");
    EXPECT_NE(run.out.find("FAKEA      failed"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Reduced 16000 bytes to"), std::string::npos); // FAKEB ran
}

TEST_F(BatchTest, BadCommandLines) {
    EXPECT_EQ(Vtbench("--batch " + world.File("speech.wav") + " --codecs NOPE").status, 2);
    const Outcome option = Vtbench("--batch " + world.File("speech.wav") + " --option FAKEA=4800");
    EXPECT_EQ(option.status, 2);
    EXPECT_NE(option.err.find("does not offer option '4800'"), std::string::npos) << option.err;
    EXPECT_EQ(Vtbench("--batch --session " + world.File("speech.wav") + " " + world.File("speech.wav")).status, 2);
#ifndef VNTR_TEST_WITH_GUI // with the window built in, no arguments open it (tests/gui)
    const Outcome window = Vtbench("");
    EXPECT_EQ(window.status, 2);
    EXPECT_NE(window.err.find("usage: vtbench32 --batch"), std::string::npos);
#endif
}

TEST_F(BatchTest, DamagedOriginalAndSessionAreReported) {
    WriteBytes(world.File("bad.wav"), {'R', 'I', 'F', 'F'});
    Outcome run = Vtbench("--batch " + world.File("bad.wav"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "Vantre QBL Evaluator: Error: File " + world.File("bad.wav") + " is not a wave file or is corrupted.\n");
    run = Vtbench("--batch --session " + world.File("bad.wav"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Vantre QBL Evaluator: Error: Could not read session file.\n");
}

// The window's last choices (FAKEB deselected, FAKEA's modes) are its own: a
// batch run uses every codec in its default mode unless asked for them, and
// leaves the user's hive as it found it, to the byte and the time stamp.
TEST_F(BatchTest, ABatchRunUsesEveryCodecAndNeverWritesThePreferences) {
    using vntr::platform::Hive;
    using vntr::platform::RegKey;
    using vntr::platform::RegStatus;
    for (const char *name : {"FAKEA", "FAKEB"}) {
        RegKey key;
        ASSERT_EQ(RegKey::Create(Hive::CurrentUser, std::string("SOFTWARE\\Vantre\\QBL SDK\\") + name, key),
                  RegStatus::Ok);
        ASSERT_EQ(key.SetValue("Selected", name == std::string("FAKEB") ? "NO" : "YES"), RegStatus::Ok);
        ASSERT_EQ(key.SetValue("Selected bitrate", "4800"), RegStatus::Ok);
        ASSERT_EQ(key.Close(), RegStatus::Ok);
    }
    const std::string hive = getenv("VNTR_USER_HIVE");
    const auto bytes = ReadBytes(hive);
    const auto stamp = fs::last_write_time(hive);
    const std::string env = "FAKE_OPTION_MASK=0x30000";

    Outcome run = Vtbench("--batch " + world.File("speech.wav") + " --json " + world.File("r.json"), env);
    ASSERT_EQ(run.status, 0) << run.err;
    auto json = Original("r.json");
    ASSERT_EQ(json["codecs"].size(), 2u);
    for (const auto &c : json["codecs"]) {
        EXPECT_EQ(c["encoderOptions"], 0) << c["name"];
        EXPECT_EQ(c["mode"], "4.8k-6.4k");
    }
    // One codec named: that codec, still in its default mode.
    run = Vtbench("--batch " + world.File("speech.wav") + " --codecs FAKEA --json " + world.File("r.json"), env);
    ASSERT_EQ(run.status, 0) << run.err;
    json = Original("r.json");
    ASSERT_EQ(json["codecs"].size(), 1u);
    EXPECT_EQ(json["codecs"][0]["encoderOptions"], 0);
    // Asked for: the window's choices.
    run = Vtbench("--batch " + world.File("speech.wav") + " --saved-selection --json " + world.File("r.json"), env);
    ASSERT_EQ(run.status, 0) << run.err;
    json = Original("r.json");
    ASSERT_EQ(json["codecs"].size(), 1u);
    EXPECT_EQ(json["codecs"][0]["label"], "FAKEA 4.8k");
    EXPECT_EQ(json["codecs"][0]["encoderOptions"], CODEC_OPT_4800);

    EXPECT_EQ(ReadBytes(hive), bytes);
    EXPECT_EQ(fs::last_write_time(hive), stamp);
}

// While the window holds the lock of the temporary folder, a batch run goes
// on in a folder of its own, which it removes at the end; a folder that a
// killed run left behind goes too.
TEST_F(BatchTest, ABatchRunWorksBesideTheWindow) {
    const std::string folder = TempRoot(world) + "/vntr-" + std::to_string(getuid());
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::owner_all);
    const auto window = vntr::evaluator::InstanceLock::Acquire(folder);
    ASSERT_TRUE(window);
    const std::string killed = folder + "/~batch-dead00";
    fs::create_directories(killed);
    WriteBytes(killed + "/FAKEA.~c0", {1, 2, 3});
    WriteBytes(killed + "/vtbench32.lock", {});
    fs::last_write_time(killed + "/vtbench32.lock", fs::file_time_type::clock::now() - std::chrono::minutes(5));
    // One that is still being made (its lock file is new) is left to its run.
    const std::string young = folder + "/~batch-young0";
    fs::create_directories(young);
    WriteBytes(young + "/vtbench32.lock", {});

    const Outcome run = Vtbench("--batch " + world.File("speech.wav"));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("Reduced 16000 bytes to"), std::string::npos) << run.out;
    std::vector<std::string> left;
    for (const auto &entry : fs::directory_iterator(folder)) left.push_back(entry.path().filename());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"vtbench32.lock", "~batch-young0"}));
}

// Several modes of one codec: a row each, named by its mode in words in the
// table, the JSON and the CSV, with their files kept apart.
TEST_F(BatchTest, TwoModesGiveTwoRows) {
    const Outcome run =
        Vtbench("--batch " + world.File("speech.wav") + " --option FAKEA=4800,6400 --json " + world.File("r.json") +
                    " --csv " + world.File("r.csv") + " --keep " + world.File("kept"),
                "FAKE_OPTION_MASK=0x30000");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("\nFAKEA 4.8k "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\nFAKEA 6.4k "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\nFAKEB 4.8k-6.4k "), std::string::npos) << run.out;
    const auto json = Original("r.json");
    ASSERT_EQ(json["codecs"].size(), 3u);
    std::map<std::string, int> ids;
    for (const auto &c : json["codecs"]) {
        EXPECT_EQ(c["outcome"], "ok");
        ids[c["label"].get<std::string>()] = c["codecId"].get<int>();
    }
    EXPECT_EQ(ids, (std::map<std::string, int>{{"FAKEA 4.8k", 2042}, {"FAKEA 6.4k", 2043}, {"FAKEB 4.8k-6.4k", 2041}}));
    const auto csv = ReadBytes(world.File("r.csv"));
    const std::string text(csv.begin(), csv.end());
    EXPECT_NE(text.find(",FAKEA,4.8k,ok,"), std::string::npos) << text;
    EXPECT_NE(text.find(",FAKEA,6.4k,ok,"), std::string::npos) << text;
    for (const char *file : {"FAKEA 4.8k.coded.wav", "FAKEA 6.4k.decoded.wav", "FAKEB 4.8k-6.4k.coded.wav"}) {
        EXPECT_TRUE(fs::exists(world.File("kept") + "/" + file)) << file;
    }
    // The same modes over a corpus: a table row each.
    fs::create_directories(world.File("corpus"));
    fs::copy_file(world.File("speech.wav"), world.File("corpus/a.wav"));
    fs::copy_file(world.File("speech.wav"), world.File("corpus/b.wav"));
    const Outcome corpus = Vtbench("--batch " + world.File("corpus") +
                                       " --codecs FAKEA --option FAKEA=6400,4800 -j 2 "
                                       "--json " +
                                       world.File("c.json"),
                                   "FAKE_OPTION_MASK=0x30000");
    ASSERT_EQ(corpus.status, 0) << corpus.err;
    const auto doc = Json("c.json");
    ASSERT_EQ(doc["codecs"].size(), 2u);
    for (const auto &c : doc["codecs"]) EXPECT_EQ(c["files"], 2) << c["label"];
    EXPECT_NE(corpus.out.find("\nFAKEA 6.4k "), std::string::npos) << corpus.out;
    EXPECT_NE(corpus.out.find("\nFAKEA 4.8k "), std::string::npos) << corpus.out;
    // A session stores one mode per codec.
    EXPECT_EQ(Vtbench("--batch " + world.File("speech.wav") + " --option FAKEA=4800,6400 --save-session " +
                          world.File("s.qbl"),
                      "FAKE_OPTION_MASK=0x30000")
                  .status,
              2);
}

TEST_F(BatchTest, AKeyTooDeepIsNamedAndItsHiveKept) {
    // One key 300 000 levels deep, in the user hive and then in the machine
    // hive: named with its line, never rewritten.
    std::string text = "VNTR-REGISTRY-HIVE 1\nkey ";
    for (int i = 0; i < 300000; ++i) text += i == 0 ? "k" : "\\k";
    text += "\nend 1 0\n";
    const std::vector<uint8_t> deep(text.begin(), text.end());
    const std::string why = ": registry hive is damaged: line 2: key nested deeper than 512 levels\n";
    const std::string user = getenv("VNTR_USER_HIVE");
    WriteBytes(user, deep);
    // A batch run neither reads the user hive nor writes it.
    Outcome run = Vtbench("--batch " + world.File("speech.wav"));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(ReadBytes(user), deep);
    const std::string machine = getenv("VNTR_MACHINE_HIVE");
    WriteBytes(machine, deep);
    run = Vtbench("--batch " + world.File("speech.wav"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.substr(0, run.err.find("Vantre QBL Evaluator: Error: No codec selected")),
              "Vantre QBL Evaluator: Error: ERROR IN INITIALIZATION : no codec installed !\n" + machine + why);
    EXPECT_EQ(ReadBytes(machine), deep);
}

TEST_F(BatchTest, NothingInstalledIsAFailure) {
    EXPECT_EQ(a.Unregister(), 0);
    EXPECT_EQ(b.Unregister(), 0);
    const Outcome run = Vtbench("--batch " + world.File("speech.wav"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Vantre QBL Evaluator: Error: ERROR IN INITIALIZATION : no codec installed !\n"
                       "Vantre QBL Evaluator: Error: No codec selected. Before processing, select which codecs to "
                       "use in Options|Select Codecs.\n");
}

TEST_F(BatchTest, DamagedHivesAreNamedWithTheLineToMend) {
    const auto cutInTheMiddle = [](const std::string &file) {
        auto bytes = ReadBytes(file);
        bytes.resize(bytes.size() / 2);
        if (!bytes.empty() && bytes.back() == '\n') bytes.pop_back();
        WriteBytes(file, bytes);
        return "line " + std::to_string(1 + std::count(bytes.begin(), bytes.end(), '\n'));
    };
    // The user hive: a batch run neither reads nor writes it.
    const std::string user = getenv("VNTR_USER_HIVE");
    cutInTheMiddle(user);
    Outcome run = Vtbench("--batch " + world.File("speech.wav"));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    // The machine hive: no codec, the hive named after the message.
    const std::string machine = getenv("VNTR_MACHINE_HIVE");
    const std::string machineLine = cutInTheMiddle(machine);
    run = Vtbench("--batch " + world.File("speech.wav"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.substr(0, run.err.find("Vantre QBL Evaluator: Error: No codec selected")),
              "Vantre QBL Evaluator: Error: ERROR IN INITIALIZATION : no codec installed !\n" + machine +
                  ": registry hive is damaged: " + machineLine + ": last line is cut short\n");
}

// --scorer: a tool of the user's, here a script, run on each pair.
class ScorerTest : public BatchTest {
protected:
    std::string Tool(const std::string &name, const std::string &body) {
        const std::string path = world.File(name);
        std::ofstream(path) << "#!/bin/sh\n" << body;
        fs::permissions(path, fs::perms::owner_all);
        return path;
    }
};

TEST_F(ScorerTest, TheToolsLastNumberIsOneMoreColumnNamedAfterIt) {
    // It is given two 16-bit mono wave files, and says so by its score.
    const std::string tool = Tool("my-mos", "for f in \"$1\" \"$2\"; do\n"
                                            "  case \"$f\" in *.wav) ;; *) exit 3 ;; esac\n"
                                            "  [ \"$(od -An -tu2 -j22 -N2 \"$f\" | tr -d ' ')\" = 1 ] || exit 4\n"
                                            "  [ \"$(od -An -tu2 -j34 -N2 \"$f\" | tr -d ' ')\" = 16 ] || exit 5\n"
                                            "done\n"
                                            "echo 'P.862 Prediction (Raw MOS, MOS-LQO):  = 3.100   3.750'\n");
    const Outcome run = Vtbench("--batch " + world.File("speech.wav") + " --scorer '" + tool + " {ref} {deg}' --json " +
                                world.File("r.json") + " --csv " + world.File("r.csv"));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find("Latency ViSQOL my-mos\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(" 3.750\n"), std::string::npos) << run.out;
    const auto json = Original("r.json");
    ASSERT_EQ(json["codecs"].size(), 2u);
    for (const auto &c : json["codecs"]) {
        EXPECT_EQ(c["quality"]["my-mos"], 3.75) << c.dump();
        EXPECT_FALSE(c["quality"].contains("my-mosNote"));
    }
    const auto csv = ReadBytes(world.File("r.csv"));
    const std::string text(csv.begin(), csv.end());
    EXPECT_NE(text.find(",decoding_x_realtime,my-mos\n"), std::string::npos) << text;
    EXPECT_NE(text.find(",3.750000\n"), std::string::npos) << text;
}

TEST_F(ScorerTest, AFailingMissingOrSilentToolIsNamedOncePerRunWhichGoesOn) {
    const struct {
        std::string command;
        std::string reason;
    } kTools[] = {
        {Tool("failing", "echo 4.5\necho 'no licence found' >&2\nexit 1\n") + " {ref} {deg}",
         world.File("failing") + " exited with status 1: no licence found"},
        {world.File("nowhere/pesq") + " {ref} {deg}",
         "cannot run " + world.File("nowhere/pesq") + ": No such file or directory"},
        {Tool("silent", "echo 'MOS: n/a'\n") + " {ref} {deg}", world.File("silent") + " printed no number"},
    };
    for (const auto &tool : kTools) {
        const std::string name = fs::path(tool.command.substr(0, tool.command.find(' '))).filename();
        const Outcome run = Vtbench("--batch " + world.File("speech.wav") + " --scorer '" + tool.command + "' --json " +
                                    world.File("r.json"));
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "vtbench32: the scorer " + name + " gave no score for 2 of 2 pairs: " + tool.reason + "\n");
        const auto json = Original("r.json");
        for (const auto &c : json["codecs"]) {
            EXPECT_TRUE(c["quality"][name].is_null()) << c.dump();
            EXPECT_EQ(c["quality"][name + "Note"], tool.reason);
            EXPECT_TRUE(c["quality"]["visqolMos"].is_number()); // the other measures stand
        }
    }
    // A corpus on two workers: still one message, counting every pair.
    fs::create_directories(world.File("corpus"));
    for (const char *name : {"a.wav", "b.wav", "c.wav"}) {
        WriteBytes(world.File(std::string("corpus/") + name), SpeechLikeWave(8000, 8000));
    }
    const Outcome corpus = Vtbench("--batch " + world.File("corpus") + " -j 2 --quiet --scorer '" + kTools[0].command +
                                   "' --csv " + world.File("c.csv"));
    EXPECT_EQ(corpus.status, 0) << corpus.err;
    EXPECT_EQ(corpus.err, "vtbench32: the scorer failing gave no score for 6 of 6 pairs: " + kTools[0].reason + "\n");
    EXPECT_NE(corpus.out.find("failing"), std::string::npos) << corpus.out; // its column, empty
    const auto csv = ReadBytes(world.File("c.csv"));
    EXPECT_NE(std::string(csv.begin(), csv.end()).find(",decoding_x_realtime,failing\n"), std::string::npos);
}

TEST_F(ScorerTest, ACommandWithoutBothFilesIsABadCommandLine) {
    Outcome run = Vtbench("--batch " + world.File("speech.wav") + " --scorer 'pesq {ref}'");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(
        run.err,
        "vtbench32: --scorer: the scorer command must name the reference as {ref} and the decoded file as {deg}\n");
    run = Vtbench("--batch " + world.File("speech.wav") + " --scorer \"pesq '{ref} {deg}\"");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "vtbench32: --scorer: unterminated quote in the scorer command\n");
    run = Vtbench("--batch " + world.File("speech.wav") + " --no-quality --scorer 'pesq {ref} {deg}'");
    EXPECT_EQ(run.status, 2) << run.err;
}

// --no-visqol: the waveform measures without the perceptual score.
TEST_F(BatchTest, NoVisqolKeepsTheOtherMeasures) {
    const Outcome run = Vtbench("--batch " + world.File("speech.wav") + " --no-visqol --json " + world.File("r.json"));
    EXPECT_EQ(run.status, 0) << run.err;
    const auto json = Original("r.json");
    for (const auto &c : json["codecs"]) {
        EXPECT_TRUE(c["quality"]["snrDb"].is_number()) << c.dump();
        EXPECT_TRUE(c["quality"]["visqolMos"].is_null()) << c.dump();
    }
}

} // namespace
