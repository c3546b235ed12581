// vtbench32 --batch over a corpus: the same results for any number of
// workers, each original its own outcome, the CSV and JSON agreeing with the
// table, and an interrupted run that cleans up and reports what it finished.
#include "batch_support.hpp"

#include "test_paths.hpp"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <map>
#include <sstream>
#include <thread>

using namespace vntr::test;

namespace {

// A wave file of raw 16-bit speech, labelled with any rate (at 11025 or
// 16000 Hz the same samples sound faster, which is all a rate test needs).
std::vector<uint8_t> SpeechAt(const std::string &recording, uint32_t rate) {
    WaveSpec w;
    w.rate = rate;
    w.data = ReadBytes(SpeechRecording(recording));
    w.data.resize(w.data.size() & ~std::size_t{1});
    return MakeWave(w);
}

// The timings differ from run to run; every other figure must not.
nlohmann::json WithoutTimes(nlohmann::json files) {
    for (auto &file : files) {
        if (!file.contains("codecs")) continue;
        for (auto &codec : file["codecs"]) {
            // The times, and the window's texts and loads made of them.
            for (const char *key : {"codingMicros", "decodingMicros", "codingRealTimeFactor", "decodingRealTimeFactor",
                                    "codingMs", "decodingMs", "codingLoad", "decodingLoad", "lines"}) {
                codec.erase(key);
            }
        }
    }
    return files;
}

std::vector<std::vector<std::string>> ReadCsv(const std::string &path) {
    const auto bytes = ReadBytes(path);
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    std::string field;
    bool quoted = false;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = static_cast<char>(bytes[i]);
        if (quoted) {
            if (c == '"' && i + 1 < bytes.size() && bytes[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            row.push_back(field);
            field.clear();
        } else if (c == '\n') {
            row.push_back(field);
            field.clear();
            rows.push_back(row);
            row.clear();
        } else {
            field += c;
        }
    }
    return rows;
}

// The files below a folder, by their path inside it.
std::map<std::string, std::vector<uint8_t>> FilesBelow(const std::string &dir) {
    std::map<std::string, std::vector<uint8_t>> files;
    for (const auto &entry : fs::recursive_directory_iterator(dir)) {
        if (entry.is_regular_file()) files[fs::relative(entry.path(), dir).string()] = ReadBytes(entry.path());
    }
    return files;
}

const nlohmann::json &Codec(const nlohmann::json &list, const std::string &name) {
    for (const auto &c : list) {
        if (c["name"] == name) return c;
    }
    static const nlohmann::json none;
    ADD_FAILURE() << "no codec " << name;
    return none;
}

const nlohmann::json &Labelled(const nlohmann::json &list, const std::string &label) {
    for (const auto &c : list) {
        if (c["label"] == label) return c;
    }
    static const nlohmann::json none;
    ADD_FAILURE() << "no row " << label;
    return none;
}

const nlohmann::json &FileNamed(const nlohmann::json &doc, const std::string &name) {
    for (const auto &f : doc["files"]) {
        if (f["name"] == name) return f;
    }
    static const nlohmann::json none;
    ADD_FAILURE() << "no original " << name;
    return none;
}

// The suite's real libraries, registered in the test's own hives.
class CorpusTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto libs = BuiltCodecLibraries();
        for (const char *needed : {"VT180", "VT250f11", "VT500f22", "VT4864v6"}) {
            if (std::find(libs.begin(), libs.end(), needed) == libs.end()) GTEST_SKIP() << needed << " not built";
        }
        if (SpeechRecording().empty()) GTEST_SKIP() << "codec2-examples not installed";
        root = fs::path(VNTR_TEST_CODEC_DIR).parent_path().parent_path();
        ScopedEnv windir("VNTR_WINDIR", root);
        for (const auto &name : RegisteredCodecLibraries()) {
            void *lib = dlopen(CodecLibraryPath(name).c_str(), RTLD_NOW | RTLD_LOCAL);
            ASSERT_NE(lib, nullptr) << dlerror();
            ASSERT_EQ(reinterpret_cast<CodecRegisterFn>(dlsym(lib, "DllRegisterServer"))(), 0) << name;
            dlclose(lib);
        }
    }
    Outcome Vtbench(const std::string &args) {
        return RunVtbench(world, "--batch --codecs VT4864v6,VT180,VT250f11,VT500f22 " + args, "VNTR_WINDIR=" + root);
    }
    std::string Folder(const std::string &name) {
        fs::create_directories(world.File(name));
        return world.File(name);
    }
    // Every temporary file of the program is gone, its folder and lock with them.
    void ExpectNoTemporaryFiles() {
        const std::string folder = TempRoot(world) + "/vntr-" + std::to_string(getuid());
        std::vector<std::string> left;
        for (const auto &entry : fs::recursive_directory_iterator(folder)) left.push_back(entry.path().filename());
        EXPECT_EQ(left, std::vector<std::string>{});
    }
    // Five originals on which every codec of the suite runs at least once.
    std::string SpeechCorpus() {
        const std::string dir = Folder("speech");
        fs::create_directories(dir + "/more");
        WriteBytes(dir + "/kristoff.wav", SpeechAt("kristoff", 8000));
        WriteBytes(dir + "/cq_ref.wav", SpeechAt("cq_ref", 8000));
        WriteBytes(dir + "/more/mmt1.wav", SpeechAt("mmt1", 8000));
        WriteBytes(dir + "/more/kristoff11.wav", SpeechAt("kristoff", 11025));
        WriteBytes(dir + "/mmt1_22.wav", SpeechAt("mmt1", 22050));
        return dir;
    }
    // One original of each kind that a corpus run must tell apart.
    std::string MixedCorpus() {
        const std::string dir = Folder("mixed");
        WriteBytes(dir + "/speech.wav", SpeechAt("kristoff", 8000));
        auto damaged = SpeechAt("cq_ref", 8000);
        damaged.resize(damaged.size() / 2); // cut off: its sizes say more than is there
        WriteBytes(dir + "/damaged.wav", damaged);
        WriteBytes(dir + "/wide.wav", SpeechAt("kristoff", 16000));
        WriteBytes(dir + "/narrow.wav", SpeechAt("mmt1", 11025));
        WaveSpec eight;
        eight.bits = 8;
        eight.blockAlign = 1;
        const auto pcm = ReadBytes(SpeechRecording("kristoff"));
        for (std::size_t i = 1; i < pcm.size(); i += 2) eight.data.push_back(static_cast<uint8_t>(pcm[i] ^ 0x80));
        WriteBytes(dir + "/eight.wav", MakeWave(eight));
        return dir;
    }

    EvaluatorWorld world;
    std::string root;
};

TEST_F(CorpusTest, ResultsDoNotDependOnTheNumberOfWorkers) {
    const std::string corpus = SpeechCorpus();
    const Outcome serial = Vtbench(corpus + " -j 1 --json " + world.File("j1.json") + " --csv " + world.File("j1.csv") +
                                   " --keep " + world.File("k1"));
    ASSERT_EQ(serial.status, 0) << serial.err;
    const Outcome parallel = Vtbench(corpus + " -j 3 --json " + world.File("j3.json") + " --csv " +
                                     world.File("j3.csv") + " --keep " + world.File("k3"));
    ASSERT_EQ(parallel.status, 0) << parallel.err;
    EXPECT_EQ(serial.err, "");
    EXPECT_EQ(parallel.err, "");

    const auto one = ReadJson(world.File("j1.json"));
    const auto three = ReadJson(world.File("j3.json"));
    EXPECT_EQ(one["corpus"]["workers"], 1);
    EXPECT_EQ(three["corpus"]["workers"], 3);
    ASSERT_EQ(one["files"].size(), 5u);
    EXPECT_EQ(WithoutTimes(one["files"]), WithoutTimes(three["files"]));
    // Folders in sorted order, recursively.
    EXPECT_EQ(one["files"][0]["name"], "cq_ref.wav");
    EXPECT_EQ(one["files"][2]["name"], "mmt1_22.wav");
    EXPECT_EQ(one["files"][3]["name"], "more/kristoff11.wav");
    for (const char *name : {"VT4864v6", "VT180", "VT250f11", "VT500f22"}) {
        EXPECT_GT(Codec(one["codecs"], name)["files"].get<int>(), 0) << name;
    }
    // The coded and decoded files, byte for byte.
    const auto kept1 = FilesBelow(world.File("k1"));
    const auto kept3 = FilesBelow(world.File("k3"));
    EXPECT_EQ(kept1.size(), 2u * (3 * 2 + 3 + 1)); // 8 kHz files: two codecs, 11 kHz: three, 22 kHz: one
    EXPECT_TRUE(kept1 == kept3);
    EXPECT_TRUE(kept1.count("more_kristoff11/VT250f11.decoded.wav") == 1);
    // The CSV too, but for the last two columns (the speeds).
    auto csv1 = ReadCsv(world.File("j1.csv"));
    auto csv3 = ReadCsv(world.File("j3.csv"));
    for (auto *rows : {&csv1, &csv3}) {
        for (auto &row : *rows) row.resize(row.size() - 2);
    }
    EXPECT_EQ(csv1, csv3);
    ExpectNoTemporaryFiles();
}

TEST_F(CorpusTest, EachOriginalGetsItsOwnOutcome) {
    const std::string corpus = MixedCorpus();
    Outcome run = Vtbench(corpus + " -j 2 --json " + world.File("r.json"));
    EXPECT_EQ(run.status, 1) << "a refused original is a failure";
    const std::string damaged =
        "damaged.wav: Vantre QBL Evaluator: Error: File " + corpus + "/damaged.wav is corrupted.\n";
    // An original no codec takes is named once, with the way out.
    EXPECT_EQ(run.err, damaged + "wide.wav: vtbench32: no selected codec takes 16000 Hz: use --resample\n");
    auto doc = ReadJson(world.File("r.json"));
    EXPECT_EQ(doc["corpus"]["originals"], 5);
    EXPECT_EQ(doc["corpus"]["run"], 4);
    EXPECT_EQ(doc["corpus"]["refused"], 1);
    EXPECT_EQ(FileNamed(doc, "damaged.wav")["outcome"], "refused");
    for (const auto &c : FileNamed(doc, "wide.wav")["codecs"]) {
        EXPECT_EQ(c["outcome"], "not run");
        EXPECT_EQ(c["reason"], "16 kHz not supported");
    }
    for (const auto &c : FileNamed(doc, "eight.wav")["codecs"]) {
        EXPECT_EQ(c["outcome"], "not run") << c["name"];
    }
    EXPECT_EQ(Codec(FileNamed(doc, "eight.wav")["codecs"], "VT180")["reason"], "8 bit not supported");
    const auto &narrow = FileNamed(doc, "narrow.wav")["codecs"];
    EXPECT_EQ(Codec(narrow, "VT180")["outcome"], "ok");
    EXPECT_TRUE(Codec(narrow, "VT180")["downsampled"].get<bool>());
    EXPECT_TRUE(Codec(narrow, "VT4864v6")["downsampled"].get<bool>());
    EXPECT_EQ(Codec(narrow, "VT250f11")["outcome"], "ok");
    EXPECT_FALSE(Codec(narrow, "VT250f11")["downsampled"].get<bool>());
    EXPECT_EQ(Codec(narrow, "VT500f22")["reason"], "11 kHz not supported");
    // The aggregate: the 8 kHz coder on the 8 kHz and the 11 kHz original.
    const auto &vt180 = Codec(doc["codecs"], "VT180");
    EXPECT_EQ(vt180["files"], 2);
    EXPECT_EQ(vt180["notRun"], 2);
    EXPECT_EQ(vt180["notRunReasons"], (nlohmann::json{{"16 kHz not supported", 1}, {"8 bit not supported", 1}}));
    EXPECT_EQ(Codec(doc["codecs"], "VT250f11")["files"], 1);
    EXPECT_EQ(Codec(doc["codecs"], "VT500f22")["files"], 0);
    EXPECT_NE(run.out.find("    damaged.wav: Vantre QBL Evaluator: Error: File "), std::string::npos) << run.out;

    // Resampled on request, once, to the nearest rate a codec takes.
    run = Vtbench(corpus + " --resample --json " + world.File("resampled.json"));
    doc = ReadJson(world.File("resampled.json"));
    EXPECT_EQ(FileNamed(doc, "wide.wav")["conversion"],
              "read as 16-bit PCM; each codec at its own rate (8000 Hz, 11025 Hz and 22050 Hz)");
    EXPECT_EQ(FileNamed(doc, "wide.wav")["sampleRate"], 16000);
    EXPECT_EQ(Codec(FileNamed(doc, "wide.wav")["codecs"], "VT250f11")["sampleRate"], 11025);
    EXPECT_EQ(Codec(FileNamed(doc, "wide.wav")["codecs"], "VT4864v6")["sampleRate"], 8000);
    EXPECT_EQ(Codec(FileNamed(doc, "wide.wav")["codecs"], "VT500f22")["sampleRate"], 22050);
    // Every original is read through libsndfile, and each codec runs at its
    // own rate: the 11 kHz coder on the 8 kHz originals too (8-bit included).
    EXPECT_EQ(FileNamed(doc, "narrow.wav")["conversion"],
              "read as 16-bit PCM; each codec at its own rate (8000 Hz, 11025 Hz and 22050 Hz)");
    EXPECT_FALSE(Codec(FileNamed(doc, "narrow.wav")["codecs"], "VT180")["downsampled"].get<bool>());
    EXPECT_EQ(Codec(FileNamed(doc, "eight.wav")["codecs"], "VT180")["outcome"], "ok");
    EXPECT_GE(Codec(doc["codecs"], "VT250f11")["files"].get<int>(), 4);
    ExpectNoTemporaryFiles();
}

// A codec's delay belongs to the codec and its mode, not to the file: every
// original of a corpus is compared at the same lag, for vocoders whose
// waveform does not follow the input too, and whatever the number of workers.
TEST_F(CorpusTest, EveryOriginalOfACodecIsAlignedAtTheSameLag) {
    const auto libs = BuiltCodecLibraries();
    std::string codecs = "VT15,VT48,VT180";
    for (const char *peer : {"C2 1600", "C2 3200", "Opus 8k", "GSM-FR"}) {
        if (std::find(libs.begin(), libs.end(), peer) != libs.end()) codecs += std::string(",") + peer;
    }
    const std::string dir = Folder("aligned");
    for (const char *name : {"hts1a", "kristoff", "cq_ref", "mmt1"}) {
        if (!SpeechRecording(name).empty()) WriteBytes(dir + "/" + name + ".wav", SpeechAt(name, 8000));
    }
    std::map<std::string, int> first;
    for (const char *jobs : {"1", "2"}) {
        const std::string json = world.File(std::string("a") + jobs + ".json");
        const Outcome run =
            RunVtbench(world, "--batch --codecs \"" + codecs + "\" -j " + jobs + " " + dir + " --json " + json,
                       "VNTR_WINDIR=" + root);
        ASSERT_EQ(run.status, 0) << run.err;
        const auto doc = ReadJson(json);
        for (const auto &c : doc["codecs"]) {
            const std::string name = c["name"];
            ASSERT_EQ(c["alignedDelaySamples"].size(), 1u) << name << ": " << c["alignedDelaySamples"].dump();
            const int delay = c["alignedDelaySamples"][0];
            EXPECT_GE(c["files"].get<int>(), 3) << name;
            EXPECT_TRUE(c["declaredLatencySamples"].is_number()) << name;
            if (first.count(name) == 0) first[name] = delay;
            EXPECT_EQ(delay, first[name]) << name << " with -j " << jobs;
        }
        for (const auto &f : doc["files"]) {
            for (const auto &c : f["codecs"]) EXPECT_EQ(c["quality"]["alignment"], "codec") << c["name"];
        }
    }
    EXPECT_GE(first.size(), 3u);
}

// With --resample a codec is fed a copy at its own rate made straight from
// the original, so its figures do not depend on which other codecs run: a
// 16 kHz original gives VT48 the same input with or without an 11 kHz codec.
TEST_F(CorpusTest, UnderResampleACodecsFiguresDoNotDependOnTheOthers) {
    const std::string dir = Folder("wide");
    WriteBytes(dir + "/speech16.wav", SpeechAt("kristoff", 16000));
    auto run = [&](const std::string &codecs, const std::string &json) {
        const Outcome out = RunVtbench(
            world, "--batch --codecs " + codecs + " --resample " + dir + "/speech16.wav --json " + world.File(json),
            "VNTR_WINDIR=" + root);
        EXPECT_EQ(out.status, 0) << out.err;
        return ReadJson(world.File(json));
    };
    const auto alone = run("VT4864v6", "alone.json");
    const auto beside = run("VT4864v6,VT250f11", "beside.json");
    const auto &a = Codec(alone["files"][0]["codecs"], "VT4864v6");
    const auto &b = Codec(beside["files"][0]["codecs"], "VT4864v6");
    EXPECT_EQ(a["sampleRate"], 8000);
    EXPECT_FALSE(b["downsampled"].get<bool>());
    for (const char *key : {"inputBytes", "codedBytes", "sampleRate"}) EXPECT_EQ(a[key], b[key]) << key;
    EXPECT_EQ(a["quality"], b["quality"]);
    EXPECT_EQ(Codec(beside["files"][0]["codecs"], "VT250f11")["sampleRate"], 11025);
}

TEST_F(CorpusTest, CsvAndJsonAgreeWithTheTable) {
    const std::string corpus = MixedCorpus();
    const Outcome run =
        Vtbench(corpus + " " + SpeechCorpus() + " --json " + world.File("r.json") + " --csv " + world.File("r.csv"));
    const auto doc = ReadJson(world.File("r.json"));
    const auto csv = ReadCsv(world.File("r.csv"));
    ASSERT_GT(csv.size(), 1u);
    std::map<std::string, std::size_t> column;
    for (std::size_t i = 0; i < csv[0].size(); ++i) column[csv[0][i]] = i;
    for (const auto &row : csv) ASSERT_EQ(row.size(), csv[0].size());

    std::size_t rowsChecked = 0;
    std::istringstream table(run.out);
    for (std::string line; std::getline(table, line);) {
        // A row begins with its label, the codec and its mode ("VT4864v6 4.8k-6.4k").
        std::string name;
        for (const auto &c : doc["codecs"]) {
            const std::string label = c["label"];
            if (line.rfind(label + " ", 0) == 0) name = label;
        }
        if (name.empty()) continue;
        std::istringstream fields(line.substr(name.size()));
        std::string bps;
        double files = 0, seconds = 0, rate = 0, snr = 0, snrWorst = 0, seg = 0, segWorst = 0, lsd = 0, lsdWorst = 0;
        if (!(fields >> files >> seconds >> rate >> bps >> snr >> snrWorst >> seg >> segWorst >> lsd >> lsdWorst) ||
            bps != "bps") {
            continue;
        }
        ++rowsChecked;
        const auto &c = Labelled(doc["codecs"], name);
        EXPECT_EQ(c["files"].get<double>(), files) << name;
        EXPECT_NEAR(c["seconds"].get<double>(), seconds, 0.05) << name;
        EXPECT_NEAR(c["bitRate"].get<double>(), rate, 0.5) << name;
        EXPECT_NEAR(c["snrDb"]["mean"].get<double>(), snr, 0.005) << name;
        EXPECT_NEAR(c["snrDb"]["worst"].get<double>(), snrWorst, 0.005) << name;
        EXPECT_NEAR(c["segmentalSnrDb"]["mean"].get<double>(), seg, 0.005) << name;
        EXPECT_NEAR(c["segmentalSnrDb"]["worst"].get<double>(), segWorst, 0.005) << name;
        EXPECT_NEAR(c["logSpectralDistanceDb"]["mean"].get<double>(), lsd, 0.005) << name;
        EXPECT_NEAR(c["logSpectralDistanceDb"]["worst"].get<double>(), lsdWorst, 0.005) << name;
        // The same from the per-file rows.
        double n = 0, sumSeconds = 0, bits = 0, sumSnr = 0, minSnr = HUGE_VAL, maxLsd = -HUGE_VAL, sumLsd = 0;
        std::string worstLsdFile;
        for (std::size_t r = 1; r < csv.size(); ++r) {
            const auto &row = csv[r];
            const std::string mode = row[column["mode"]];
            if (row[column["codec"]] + (mode.empty() ? "" : " " + mode) != name || row[column["outcome"]] != "ok")
                continue;
            ++n;
            sumSeconds += std::stod(row[column["seconds"]]);
            bits += 8 * std::stod(row[column["coded_bytes"]]);
            const double s = std::stod(row[column["snr_db"]]);
            const double l = std::stod(row[column["lsd_db"]]);
            sumSnr += s;
            sumLsd += l;
            minSnr = std::min(minSnr, s);
            if (l > maxLsd) {
                maxLsd = l;
                worstLsdFile = row[column["file"]];
            }
        }
        EXPECT_EQ(n, files) << name;
        EXPECT_NEAR(sumSeconds, seconds, 0.05) << name;
        EXPECT_NEAR(bits / sumSeconds, rate, 0.5) << name;
        EXPECT_NEAR(sumSnr / n, snr, 0.005) << name;
        EXPECT_NEAR(minSnr, snrWorst, 0.005) << name;
        EXPECT_NEAR(sumLsd / n, lsd, 0.005) << name;
        EXPECT_NEAR(maxLsd, lsdWorst, 0.005) << name;
        EXPECT_EQ(c["logSpectralDistanceDb"]["worstFile"], worstLsdFile) << name;
        EXPECT_NE(run.out.find("LSD " + worstLsdFile), std::string::npos) << name;
    }
    EXPECT_EQ(rowsChecked, 4u) << run.out;
    // The original that was refused has its row, with the reason.
    bool refusedRow = false;
    for (const auto &row : csv)
        refusedRow = refusedRow || (row[column["file_outcome"]] == "refused" &&
                                    row[column["reason"]].find("is corrupted") != std::string::npos);
    EXPECT_TRUE(refusedRow);
}

// The fake libraries, slowed down so that a run can be stopped in the middle.
class InterruptTest : public ::testing::Test {
protected:
    InterruptTest() : a("FAKEA"), b("FAKEB") {
        EXPECT_EQ(a.Register(), 0);
        EXPECT_EQ(b.Register(), 0);
    }
    EvaluatorWorld world;
    FakeLibrary a;
    FakeLibrary b;
};

TEST_F(InterruptTest, AnInterruptedRunLeavesNoTemporaryFilesAndReportsWhatFinished) {
    const std::string corpus = world.File("corpus");
    fs::create_directories(corpus);
    for (const char *name : {"a.wav", "b.wav", "c.wav", "d.wav"})
        WriteBytes(corpus + "/" + name, SpeechLikeWave(8000, 8000));
    const std::string out = world.File("out.txt");
    const std::string err = world.File("err.txt");
    fs::create_directories(TempRoot(world));
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        setenv("TMPDIR", TempRoot(world).c_str(), 1);
        setenv("FAKE_FRAME_DELAY_US", "8000", 1); // 50 frames: 0.4 s a codec, 0.8 s an original
        std::freopen(out.c_str(), "w", stdout);
        std::freopen(err.c_str(), "w", stderr);
        execl(VNTR_TEST_VTBENCH32, VNTR_TEST_VTBENCH32, "--batch", corpus.c_str(), "-j", "1", "--progress", "--json",
              world.File("r.json").c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    // Once the first original is done (the bar says so), another run goes on
    // beside it in its own folder, and Ctrl+C stops the first.
    bool firstDone = false;
    for (int i = 0; i < 400 && !firstDone; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        const auto bytes = ReadBytes(err);
        firstDone = std::string(bytes.begin(), bytes.end()).find(" 1/4 files") != std::string::npos;
    }
    EXPECT_TRUE(firstDone);
    EXPECT_EQ(RunVtbench(world, "--batch " + corpus + "/a.wav").status, 0);
    ASSERT_EQ(kill(pid, SIGINT), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);

    const auto errBytes = ReadBytes(err);
    const std::string errText(errBytes.begin(), errBytes.end());
    const auto outBytes = ReadBytes(out);
    const std::string outText(outBytes.begin(), outBytes.end());
    const auto doc = ReadJson(world.File("r.json"));
    EXPECT_TRUE(doc["corpus"]["interrupted"].get<bool>());
    const int finished = doc["corpus"]["run"].get<int>();
    EXPECT_GE(finished, 1);
    EXPECT_LT(finished, 4);
    EXPECT_NE(errText.find("vtbench32: interrupted; " + std::to_string(finished) + " of 4 originals finished"),
              std::string::npos)
        << errText;
    EXPECT_NE(outText.find(std::to_string(4 - finished) + " not finished (interrupted)"), std::string::npos) << outText;
    EXPECT_EQ(Codec(doc["codecs"], "FAKEA")["files"], finished);
    EXPECT_EQ(doc["files"][0]["outcome"], "ok");
    EXPECT_EQ(doc["files"][3]["outcome"], "pending");
    const std::string folder = TempRoot(world) + "/vntr-" + std::to_string(getuid());
    std::vector<std::string> left;
    for (const auto &entry : fs::recursive_directory_iterator(folder)) left.push_back(entry.path().filename());
    EXPECT_EQ(left, std::vector<std::string>{});
}

} // namespace
