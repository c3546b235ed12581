// The reports of a run: the corpus summary, the JSON written an original
// at a time, names that are not UTF-8, and reports cut short.
#include "eval_support.hpp"

#include "report/corpus_report.hpp"
#include "report/report_text.hpp"

#include <nlohmann/json.hpp>

#include <sys/resource.h>
#include <sys/wait.h>

#include <csignal>
#include <fstream>
#include <random>
#include <sstream>

using namespace vntr::report;
using namespace vntr::test;

namespace {

CodecResult Ran(const std::string &name, double seconds, uint32_t codedBytes, double snr, double lsd) {
    CodecResult c;
    c.name = name;
    c.outcome = "ok";
    c.seconds = seconds;
    c.codedBytes = codedBytes;
    c.codingMicros = static_cast<uint64_t>(seconds * 1e4); // 100x real time
    c.decodingMicros = static_cast<uint64_t>(seconds * 2e3);
    c.quality.valid = true;
    c.quality.snrDb = snr;
    c.quality.segmentalSnrDb = snr - 1;
    c.quality.logSpectralDistanceDb = lsd;
    return c;
}

TEST(CorpusReportTest, SummaryWeighsBitsBySecondsAndFindsTheWorstEachWay) {
    std::vector<FileResult> files(4);
    files[0].name = "a.wav";
    files[0].state = FileState::Done;
    files[0].codecs = {Ran("HIGH", 1.0, 2000, 20, 4), Ran("LOW", 1.0, 500, 8, 9)};
    files[1].name = "b.wav";
    files[1].state = FileState::Done;
    files[1].codecs = {Ran("HIGH", 3.0, 6000, 10, 6), Ran("LOW", 3.0, 1500, 9, 8)};
    files[1].codecs[1].outcome = "failed";
    files[2].name = "c.wav";
    files[2].state = FileState::Done;
    CodecResult notRun;
    notRun.name = "HIGH";
    notRun.outcome = "not run";
    notRun.reason = "16 kHz not supported";
    files[2].codecs = {notRun};
    files[3].name = "d.wav";
    files[3].state = FileState::Refused;
    files[3].codecs = {Ran("HIGH", 9.0, 1, 0, 99)}; // never counted
    const auto summary = Summarise(files, {"HIGH", "LOW", "NONE"});
    ASSERT_EQ(summary.size(), 3u);
    // By bit rate: LOW (4000 bps) before HIGH (16000 bps); NONE ran nowhere.
    EXPECT_EQ(summary[0].name, "LOW");
    EXPECT_EQ(summary[1].name, "HIGH");
    EXPECT_EQ(summary[2].name, "NONE");
    const CodecSummary &high = summary[1];
    EXPECT_EQ(high.files, 2u);
    EXPECT_EQ(high.notRun, 1u);
    EXPECT_EQ(high.notRunReasons.at("16 kHz not supported"), 1u);
    EXPECT_DOUBLE_EQ(high.BitRate(), 8.0 * 8000 / 4.0);
    EXPECT_DOUBLE_EQ(high.snr.Mean(), 15.0);
    EXPECT_DOUBLE_EQ(high.snr.worst, 10.0);
    EXPECT_EQ(high.snr.worstFile, "b.wav");
    EXPECT_DOUBLE_EQ(high.logSpectralDistance.worst, 6.0); // the highest distance is the worst
    EXPECT_EQ(high.logSpectralDistance.worstFile, "b.wav");
    EXPECT_NEAR(high.CodingRealTime(), 100.0, 1e-9);
    EXPECT_EQ(summary[0].failed, 1u);
    EXPECT_EQ(summary[0].files, 1u);
    const CorpusTotals totals = Totals(files);
    EXPECT_EQ(totals.run, 3u);
    EXPECT_EQ(totals.refused, 1u);
}

std::string ReadAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The JSON report is written an original at a time; its text must still be
// exactly one well-formed document as a JSON library would print it, with
// every original's rows where they belong.
TEST(CorpusReportTest, JsonWrittenPieceByPieceIsOneCanonicalDocument) {
    TempDir dir;
    CorpusOutcome outcome;
    std::string error;
    // No originals at all: the files are an empty array.
    ASSERT_TRUE(WriteCorpusJson(dir / "empty.json", outcome, {}, error)) << error;
    const std::string emptyText = ReadAll(dir / "empty.json");
    const auto empty = nlohmann::json::parse(emptyText);
    EXPECT_EQ(empty.dump(2) + "\n", emptyText);
    EXPECT_TRUE(empty.at("files").is_array() && empty.at("files").empty());
    EXPECT_TRUE(empty.at("codecs").empty());

    outcome.workers = 2;
    outcome.files.resize(3);
    outcome.files[0].name = "a \"quoted\"\nname.wav"; // escapes survive the re-indenting
    outcome.files[0].state = FileState::Done;
    outcome.files[0].seconds = 1.5;
    outcome.files[0].conversion = "resampled from 16000 Hz to 11025 Hz";
    outcome.files[0].codecs = {Ran("HIGH", 1.5, 3000, 20, 4), Ran("LOW", 1.5, 750, 8, 9)};
    outcome.files[1].name = "b.wav";
    outcome.files[1].state = FileState::Refused;
    outcome.files[1].messages = {"Wave: damaged", "second line"};
    outcome.files[2].name = "c.wav";
    outcome.files[2].state = FileState::Done; // ran, but no codec took it
    const auto codecs = Summarise(outcome.files, {"HIGH", "LOW"});
    ASSERT_TRUE(WriteCorpusJson(dir / "r.json", outcome, codecs, error)) << error;
    const std::string text = ReadAll(dir / "r.json");
    const auto doc = nlohmann::json::parse(text);
    EXPECT_EQ(doc.dump(2) + "\n", text);
    ASSERT_EQ(doc.at("files").size(), 3u);
    EXPECT_EQ(doc["files"][0]["name"], outcome.files[0].name);
    ASSERT_EQ(doc["files"][0]["codecs"].size(), 2u);
    EXPECT_EQ(doc["files"][0]["codecs"][1]["name"], "LOW");
    EXPECT_EQ(doc["files"][1]["outcome"], "refused");
    EXPECT_EQ(doc["files"][1]["messages"][1], "second line");
    EXPECT_FALSE(doc["files"][1].contains("codecs"));
    EXPECT_TRUE(doc["files"][2]["codecs"].empty());
    EXPECT_EQ(doc["corpus"]["originals"], 3);
    EXPECT_EQ(doc["corpus"]["workers"], 2);
    ASSERT_EQ(doc["codecs"].size(), 2u);
    EXPECT_EQ(doc["codecs"][0]["name"], "LOW");

    EXPECT_FALSE(WriteCorpusJson(dir / "no-such-folder/r.json", outcome, codecs, error));
    EXPECT_NE(error.find("cannot create"), std::string::npos);
}

// One original's JSON is a corpus of one: the totals, a summary row per
// codec and the original under `files`, whose rows carry every figure and
// text the window shows, as a corpus's rows do.
TEST(CorpusReportTest, OneOriginalIsWrittenAsACorpusOfOne) {
    TempDir dir;
    FileResult file;
    file.name = "a.wav";
    file.path = "/speech/a.wav";
    file.state = FileState::Done;
    file.fromSession = true;
    file.formatFlags = CODEC_FMT_PCM16_MONO_8KHZ;
    file.sampleRate = 8000;
    file.format = "8000 Hz, PCM 16 bit MONO";
    file.seconds = 2;
    file.dataBytes = 32000;
    file.messages = {"Wave: note"};
    file.codecs = {Ran("HIGH", 2.0, 4000, 20, 4), Ran("LOW", 2.0, 1000, 8, 9)};
    file.codecs[0].label = "HIGH 6.4k";
    file.codecs[0].description = "the high one";
    file.codecs[0].row = 1;
    file.codecs[0].peerLibrary = "libhigh 1.0";
    file.codecs[0].lines = {"Reduced", "Coding", "Decoding"};
    file.codecs[0].latencySamples = 400;
    file.codecs[0].sampleRate = 8000;
    file.codecs[1].outcome = "not run";
    file.codecs[1].reason = "8 kHz not supported";
    std::string error;
    ASSERT_TRUE(WriteOriginalJson(dir / "one.json", file, 1.25, error)) << error;
    const auto doc = nlohmann::json::parse(ReadAll(dir / "one.json"));
    EXPECT_EQ(doc["corpus"], nlohmann::json::parse(R"({"originals": 1, "run": 1, "refused": 0, "notFinished": 0,
        "interrupted": false, "seconds": 2.0, "workers": 1, "wallSeconds": 1.25})"));
    ASSERT_EQ(doc["codecs"].size(), 2u);
    EXPECT_EQ(doc["codecs"][0]["label"], "HIGH 6.4k");
    EXPECT_EQ(doc["codecs"][0]["files"], 1);
    EXPECT_EQ(doc["codecs"][1]["notRunReasons"]["8 kHz not supported"], 1);
    ASSERT_EQ(doc["files"].size(), 1u);
    const auto &original = doc["files"][0];
    EXPECT_EQ(original["path"], "/speech/a.wav");
    EXPECT_TRUE(original["fromSession"].get<bool>());
    EXPECT_EQ(original["formatFlags"], 0x12102);
    EXPECT_EQ(original["dataBytes"], 32000);
    EXPECT_EQ(original["messages"], nlohmann::json::parse(R"(["Wave: note"])"));
    const auto &high = original["codecs"][0];
    EXPECT_EQ(high["description"], "the high one");
    EXPECT_EQ(high["row"], 1);
    EXPECT_TRUE(high["peer"].get<bool>());
    EXPECT_EQ(high["peerLibrary"], "libhigh 1.0");
    EXPECT_EQ(high["lines"].size(), 3u);
    EXPECT_DOUBLE_EQ(high["declaredLatencyMs"].get<double>(), 50.0);
    EXPECT_EQ(high["quality"]["alignment"], "file");
    EXPECT_FALSE(original["codecs"][1]["peer"].get<bool>());
    EXPECT_EQ(original["codecs"][1]["reason"], "8 kHz not supported");

    // The same original in a corpus is written the same way; a run not timed has no wall time.
    CorpusOutcome outcome;
    outcome.files = {file};
    ASSERT_TRUE(WriteCorpusJson(dir / "corpus.json", outcome, Summarise(outcome.files, {"HIGH 6.4k", "LOW"}), error));
    EXPECT_EQ(nlohmann::json::parse(ReadAll(dir / "corpus.json"))["files"], doc["files"]);
    ASSERT_TRUE(WriteOriginalJson(dir / "window.json", file, std::nullopt, error)) << error;
    EXPECT_TRUE(nlohmann::json::parse(ReadAll(dir / "window.json"))["corpus"]["wallSeconds"].is_null());
}

// The check agrees with the JSON library's own, which refuses to write what
// it finds invalid: over hand-picked edge cases and over random bytes.
TEST(ReportTextTest, Utf8CheckAgreesWithTheJsonWriter) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"", true},
        {"plain.wav", true},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xa4", true}, // two, three and four bytes
        {"\xf4\x8f\xbf\xbf", true},                          // U+10FFFF
        {"caf\xe9.wav", false},                              // Latin-1
        {"\xc0\x80", false},                                 // overlong zero
        {"\xe0\x80\xaf", false},                             // overlong '/'
        {"\xed\xa0\x80", false},                             // a surrogate
        {"\xf4\x90\x80\x80", false},                         // beyond U+10FFFF
        {"\xe2\x82", false},                                 // cut short
        {"\x80", false},                                     // a lone continuation
        {"\xff", false}};
    auto libraryAccepts = [](const std::string &text) {
        try {
            (void)nlohmann::json(text).dump();
            return true;
        } catch (const nlohmann::json::type_error &) {
            return false;
        }
    };
    for (const auto &[text, valid] : cases) {
        EXPECT_EQ(IsUtf8(text), valid) << EscapedBytes(text);
        EXPECT_EQ(libraryAccepts(text), valid) << EscapedBytes(text);
    }
    std::mt19937 random(24);
    for (int i = 0; i < 20000; ++i) {
        std::string text(1 + random() % 6, '\0');
        for (auto &c : text) c = static_cast<char>(random() % 2 == 0 ? 0x80 + random() % 0x80 : random() % 0x100);
        ASSERT_EQ(IsUtf8(text), libraryAccepts(text)) << EscapedBytes(text);
    }
}

TEST(ReportTextTest, InvalidNamesAreReplacedAndTheirBytesKeptBeside) {
    EXPECT_EQ(EscapedBytes("caf\xe9 100%.wav\n"), "caf%E9 100%25.wav%0A");
    nlohmann::json doc = {{"name", "caf\xe9.wav"},
                          {"path", "/x/ok.wav"},
                          {"messages", {"fine", "bad \xff"}},
                          {"nested", {{{"worstFile", "\xfe.wav"}}}}};
    MarkRawBytes(doc);
    EXPECT_EQ(doc["nameBytes"], "caf%E9.wav");
    EXPECT_FALSE(doc.contains("pathBytes"));
    EXPECT_EQ(doc["messagesBytes"], nlohmann::json::parse(R"([null, "bad %FF"])"));
    EXPECT_EQ(doc["nested"][0]["worstFileBytes"], "%FE.wav");
    const auto text = ReportText(doc);
    const auto back = nlohmann::json::parse(text);
    EXPECT_EQ(back["name"], "caf\xef\xbf\xbd.wav"); // U+FFFD in place of the byte
    EXPECT_EQ(back["messages"][1], "bad \xef\xbf\xbd");
}

FileResult RefusedOriginal(const std::string &name) {
    FileResult f;
    f.name = name;
    f.path = "/corpus/" + name;
    f.state = FileState::Refused;
    f.messages = {"Wave: File /corpus/" + name + " is not a PCM file."};
    return f;
}

// A file name that is not UTF-8 once aborted the whole program in the JSON
// writer; now it is written, and the CSV keeps the bytes as they are.
TEST(CorpusReportTest, NamesThatAreNotUtf8AreWrittenWithTheirBytes) {
    TempDir dir;
    CorpusOutcome outcome;
    outcome.files = {RefusedOriginal("caf\xe9.wav"), RefusedOriginal("ok.wav")};
    outcome.files.push_back(RefusedOriginal("\xff.wav"));
    outcome.files[2].state = FileState::Done;
    outcome.files[2].codecs = {Ran("HIGH", 1.0, 2000, 20, 4)};
    const auto codecs = Summarise(outcome.files, {"HIGH"});
    std::string error;
    ASSERT_TRUE(WriteCorpusJson(dir / "r.json", outcome, codecs, error)) << error;
    const std::string text = ReadAll(dir / "r.json");
    const auto doc = nlohmann::json::parse(text);
    EXPECT_EQ(doc.dump(2) + "\n", text);
    EXPECT_EQ(doc["files"][0]["name"], "caf\xef\xbf\xbd.wav");
    EXPECT_EQ(doc["files"][0]["nameBytes"], "caf%E9.wav");
    EXPECT_EQ(doc["files"][0]["pathBytes"], "/corpus/caf%E9.wav");
    EXPECT_EQ(doc["files"][0]["messagesBytes"][0], "Wave: File /corpus/caf%E9.wav is not a PCM file.");
    EXPECT_FALSE(doc["files"][1].contains("nameBytes"));
    EXPECT_EQ(doc["codecs"][0]["snrDb"]["worstFileBytes"], "%FF.wav");
    ASSERT_TRUE(WriteCsv(dir / "r.csv", outcome.files, error)) << error;
    EXPECT_NE(ReadAll(dir / "r.csv").find("caf\xe9.wav,/corpus/caf\xe9.wav,refused"), std::string::npos);
}

// Forks a writer limited to `limit` bytes per file: a write beyond it kills
// it (SIGXFSZ) half-way, as an interrupted run would be.  Its status.
int KilledHalfWay(std::size_t limit, const std::function<void()> &write) {
    const pid_t child = fork();
    if (child == 0) {
        const rlimit small{limit, limit};
        setrlimit(RLIMIT_FSIZE, &small);
        write();
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return status;
}

std::vector<std::string> Entries(const std::string &folder) {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// A report whose writing is killed half-way, or fails, leaves the previous
// report as it was; the temporary file the killed writer left goes with
// the next report written there.
TEST(CorpusReportTest, AReportCutShortLeavesThePreviousOne) {
    TempDir dir;
    CorpusOutcome outcome;
    for (int i = 0; i < 200; ++i) outcome.files.push_back(RefusedOriginal("original" + std::to_string(i) + ".wav"));
    const auto codecs = Summarise(outcome.files, {});
    WriteBytes(dir / "r.json", {'o', 'l', 'd'});
    WriteBytes(dir / "r.csv", {'o', 'l', 'd'});
    std::string error;
    for (const char *name : {"r.json", "r.csv"}) {
        const int status = KilledHalfWay(4096, [&] {
            if (std::string(name) == "r.json") {
                WriteCorpusJson(dir / name, outcome, codecs, error);
            } else {
                WriteCsv(dir / name, outcome.files, error);
            }
        });
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << name << " " << status;
        EXPECT_EQ(ReadAll(dir / name), "old") << name;
    }
    EXPECT_EQ(Entries(dir.Path()).size(), 4u); // the reports and two unfinished files
    ASSERT_TRUE(WriteCorpusJson(dir / "r.json", outcome, codecs, error)) << error;
    ASSERT_TRUE(WriteCsv(dir / "r.csv", outcome.files, error)) << error;
    EXPECT_EQ(Entries(dir.Path()), (std::vector<std::string>{"r.csv", "r.json"}));
    EXPECT_EQ(nlohmann::json::parse(ReadAll(dir / "r.json"))["files"].size(), 200u);

    // A write that fails (here: the file grows beyond the limit, the signal
    // ignored) says so and leaves nothing behind.
    const int status = KilledHalfWay(4096, [&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const bool json =
            WriteCorpusJson(dir / "r.json", {}, {}, error) && !WriteCorpusJson(dir / "r.json", outcome, codecs, error);
        const bool said = error.find("cannot write " + (dir / "r.json")) == 0;
        _exit(json && said ? 0 : 1);
    });
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << error;
    EXPECT_EQ(nlohmann::json::parse(ReadAll(dir / "r.json"))["files"].size(), 0u);
    EXPECT_EQ(Entries(dir.Path()), (std::vector<std::string>{"r.csv", "r.json"}));
}

} // namespace
