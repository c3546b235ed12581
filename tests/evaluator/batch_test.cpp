// vtbench32 --batch as a user runs it: the table, the JSON, sessions saved
// and rerun, kept files, exit statuses and messages on stderr.
#include "batch_support.hpp"

#include "core/instance.hpp"

#include <vntr/platform/registry.hpp>

#include <sys/wait.h>

#include <nlohmann/json.hpp>

#include <algorithm>

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

    EvaluatorWorld world;
    FakeLibrary a;
    FakeLibrary b;
};

TEST_F(BatchTest, PrintsTheComparisonAndWritesJson) {
    const Outcome run = Vtbench("--batch " + world.File("speech.wav") + " --json " + world.File("r.json"));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find("Original: speech.wav  8000 Hz, PCM 16 bit MONO  1.00 sec  16000 bytes"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("Reduced 16000 bytes to"), std::string::npos);
    EXPECT_NE(run.out.find("Coding in "), std::string::npos);
    EXPECT_NE(run.out.find("Decoding in "), std::string::npos);
    const auto json = Json("r.json");
    ASSERT_EQ(json["codecs"].size(), 2u);
    EXPECT_EQ(json["codecs"][0]["outcome"], "ok");
    EXPECT_EQ(json["codecs"][0]["inputBytes"], 16000);
    EXPECT_TRUE(json["codecs"][0].contains("quality"));
    EXPECT_EQ(json["codecs"][0]["lines"].size(), 3u);
    EXPECT_EQ(json["original"]["sampleRate"], 8000);
    // The perceptual score beside the waveform measures, in the table and the JSON.
    EXPECT_NE(run.out.find("Delay ViSQOL\n"), std::string::npos) << run.out;
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
    const auto json = Json("r.json");
    for (const auto &c : json["codecs"]) EXPECT_FALSE(c.contains("quality"));
    const auto csv = ReadBytes(world.File("r.csv"));
    const std::string text(csv.begin(), csv.end());
    EXPECT_NE(text.find(",delay_samples,visqol_mos,coding_x_realtime,"), std::string::npos) << text;
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
    const auto json = Json("r.json");
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
    const auto first = Json("first.json");
    const auto second = Json("second.json");
    ASSERT_EQ(second["codecs"].size(), 1u);
    EXPECT_EQ(second["codecs"][0]["name"], "FAKEB");
    EXPECT_EQ(second["codecs"][0]["codedBytes"], first["codecs"][0]["codedBytes"]);
    EXPECT_EQ(second["original"]["name"], "speech.wav");
    EXPECT_TRUE(second["original"]["fromSession"].get<bool>());
}

TEST_F(BatchTest, KeepCopiesTheCodedAndDecodedFiles) {
    const Outcome run = Vtbench("--batch " + world.File("speech.wav") + " --codecs FAKEA --keep " + world.File("kept"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::exists(world.File("kept/FAKEA.coded.wav")));
    EXPECT_TRUE(fs::exists(world.File("kept/FAKEA.decoded.wav")));
    EXPECT_FALSE(fs::exists(world.File("kept/FAKEB.coded.wav")));
}

TEST_F(BatchTest, KeepCopiesEveryCodecsFilesWhenAnotherFails) {
    const Outcome run = Vtbench("--batch " + world.File("speech.wav") + " --keep " + world.File("kept"),
                                "FAKE_FAIL_ENCODER=FAKEA");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(fs::exists(world.File("kept/FAKEB.coded.wav")));
    EXPECT_TRUE(fs::exists(world.File("kept/FAKEB.decoded.wav")));
    EXPECT_EQ(ReadBytes(world.File("kept/FAKEB.decoded.wav")).size(), 46u + 16000u); // whole, header and all
    EXPECT_FALSE(fs::exists(world.File("kept/FAKEA.coded.wav"))); // its encoder never opened
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
    Outcome run = Vtbench("--batch " + world.File("kept/FAKEA.decoded.wav") + " --codecs FAKEA --keep " +
                          world.File("kept"));
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
    const Outcome run = Vtbench("--batch " + world.File("corpus") + " --codecs FAKEA -j 2 --quiet --keep " +
                                world.File("out/kept"));
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
    auto json = Json("r.json");
    EXPECT_EQ(json["original"]["name"], "caf\xef\xbf\xbd.wav");
    EXPECT_EQ(json["original"]["nameBytes"], "caf%E9.wav");
    EXPECT_EQ(json["original"]["pathBytes"], world.File("caf%E9.wav"));
    EXPECT_EQ(json["codecs"][0]["outcome"], "ok");
    const auto csv = ReadBytes(world.File("r.csv"));
    EXPECT_NE(std::string(csv.begin(), csv.end()).find(name + "," + world.File(name) + ",ok,,FAKEA,ok,"),
              std::string::npos);
    // The session stores the name as it is; reopened, it is reported the same way.
    run = Vtbench("--batch --session " + world.File("s.qbl") + " --json " + world.File("s.json") + " --csv " +
                  world.File("s.csv"));
    EXPECT_EQ(run.status, 0) << run.err;
    json = Json("s.json");
    EXPECT_EQ(json["original"]["nameBytes"], "caf%E9.wav");
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
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find("FAKEA      not run: 22 kHz not supported\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("FAKEB      not run: 22 kHz not supported\n"), std::string::npos) << run.out;
    const auto json = Json("r.json");
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
    EXPECT_NE(run.out.find("Original: wide.wav  8000 Hz, PCM 16 bit MONO  1.00 sec  16000 bytes  (resampled from "
                           "16000 Hz to 8000 Hz)"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(Json("r.json")["original"]["conversion"], "resampled from 16000 Hz to 8000 Hz");
    const auto csv = ReadBytes(world.File("r.csv"));
    const std::string text(csv.begin(), csv.end());
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3) << text; // the header and one row per codec
    EXPECT_NE(text.find("wide.wav," + world.File("wide.wav") + ",ok,resampled from 16000 Hz to 8000 Hz,FAKEA,ok,"),
              std::string::npos)
        << text;
    // The converted copy is gone with the other temporary files.
    const std::string folder = world.File("tmproot") + "/vntr-" + std::to_string(getuid());
    EXPECT_FALSE(fs::exists(folder + "/~t_conv.wav"));
    // A session stores an original as it is.
    EXPECT_EQ(Vtbench("--batch " + world.File("wide.wav") + " --resample --save-session " + world.File("s.qbl")).status,
              2);
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
    EXPECT_EQ(run.err, "Vantre QBL Evaluator: Error: File " + world.File("bad.wav") +
                           " is not a wave file or is corrupted.\n");
    run = Vtbench("--batch --session " + world.File("bad.wav"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Vantre QBL Evaluator: Error: Could not read session file.\n");
}

TEST_F(BatchTest, CommandLineChoicesDoNotChangeTheSavedPreferences) {
    ASSERT_EQ(Vtbench("--batch " + world.File("speech.wav") + " --codecs FAKEA").status, 0);
    vntr::platform::RegKey key;
    ASSERT_EQ(vntr::platform::RegKey::Open(vntr::platform::Hive::CurrentUser, "SOFTWARE\\Vantre\\QBL SDK\\FAKEB", key),
              vntr::platform::RegStatus::Ok);
    std::string selected;
    EXPECT_EQ(key.QueryValue("Selected", selected), vntr::platform::RegStatus::Ok);
    EXPECT_EQ(selected, "YES");
}

TEST_F(BatchTest, ASecondInstanceOnTheSameTemporaryFolderIsRefused) {
    fs::create_directories(world.File("tmproot"));
    const std::string folder = world.File("tmproot") + "/vntr-" + std::to_string(getuid());
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::owner_all);
    const auto held = vntr::evaluator::InstanceLock::Acquire(folder);
    ASSERT_TRUE(held);
    const Outcome run = Vtbench("--batch " + world.File("speech.wav"));
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.err.find("another vtbench32 is running"), std::string::npos);
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
    Outcome run = Vtbench("--batch " + world.File("speech.wav"));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "Vantre QBL Evaluator: Error: PROBLEM IN REGISTRY : can't save preferences !\n" + user + why);
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
    // The user hive: the run goes on without the preferences, and says at the end why none were saved.
    const std::string user = getenv("VNTR_USER_HIVE");
    const std::string userLine = cutInTheMiddle(user);
    Outcome run = Vtbench("--batch " + world.File("speech.wav"));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "Vantre QBL Evaluator: Error: PROBLEM IN REGISTRY : can't save preferences !\n" + user +
                           ": registry hive is damaged: " + userLine + ": last line is cut short\n");
    // The machine hive: no codec, the hive named after the message.
    const std::string machine = getenv("VNTR_MACHINE_HIVE");
    const std::string machineLine = cutInTheMiddle(machine);
    run = Vtbench("--batch " + world.File("speech.wav"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.substr(0, run.err.find("Vantre QBL Evaluator: Error: No codec selected")),
              "Vantre QBL Evaluator: Error: ERROR IN INITIALIZATION : no codec installed !\n" + machine +
                  ": registry hive is damaged: " + machineLine + ": last line is cut short\n");
}

} // namespace
