// Reference vectors: every built library, in every mode its table entry
// lists, over every input, through its exported interface.  The coded stream
// and the decoded PCM (also of a deliberately damaged stream) must give the
// checksums stored in expected.json.
//
// Why a tolerance at all: the libraries compute in single-precision floating
// point.  The same compiler and target give the same results bit for bit
// (both CI builds, normal and sanitizer, use one toolchain and must match the
// stored checksums exactly).  Another compiler or target may round an
// operation differently - a fused multiply-add, a library function folded at
// compile time - and then a sample may move by a step, and in a decoder with
// feedback a near-equal choice may tip and move more.  So a build of another
// toolchain than the one that made the vectors holds a float library's
// decoded PCM to the entry's tolerance instead: the largest sample
// difference and the SNR against a stored excerpt of the PCM (its loudest
// 512 samples).  A coded stream that differs there is reported as a skip:
// the PCM of another stream cannot be judged against the stored one.
#include "test_paths.hpp"
#include "vector_set.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <numbers>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace vntr::vectors {
namespace {

const std::string kTablePath = VNTR_VECTORS_DIR "/libraries.json";
const std::string kVectorsPath = VNTR_VECTORS_DIR "/expected.json";

struct Loaded {
    std::vector<Library> libraries;
    VectorFile stored;
    std::string error; // what could not be read
};

const Loaded &Load() {
    static const Loaded loaded = [] {
        Loaded l;
        try {
            l.libraries = LoadLibraries(kTablePath);
            l.stored = LoadVectors(kVectorsPath);
        } catch (const std::exception &e) {
            l.error = e.what();
        }
        return l;
    }();
    return loaded;
}

bool Built(const std::string &name) {
    const auto built = test::BuiltCodecLibraries();
    return std::find(built.begin(), built.end(), name) != built.end();
}

// Bit-for-bit checking applies to the toolchain that made the vectors;
// VNTR_VECTORS_AS_OTHER_TOOLCHAIN=1 makes this build judge as another would.
bool Exact() {
    const char *other = std::getenv("VNTR_VECTORS_AS_OTHER_TOOLCHAIN");
    return Load().stored.toolchain == Toolchain() && !(other && std::string(other) == "1");
}

struct Case {
    const Library *library;
    const Mode *mode;
    const Input *input;
};

std::vector<Case> Cases() {
    std::vector<Case> cases;
    for (const Library &lib : Load().libraries) {
        if (!Built(lib.name)) continue;
        for (const Mode &mode : lib.modes)
            for (const Input &input : Inputs()) cases.push_back({&lib, &mode, &input});
    }
    return cases;
}

void PrintTo(const Case &c, std::ostream *os) {
    *os << Key(*c.library, *c.mode, *c.input);
}

std::string CaseName(const ::testing::TestParamInfo<Case> &info) {
    std::string name = info.param.library->name + "_" + info.param.mode->label + "_" + info.param.input->name;
    for (char &c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

class Vectors : public ::testing::TestWithParam<Case> {};

TEST_P(Vectors, MatchTheStoredChecksums) {
    const Case &c = GetParam();
    const std::string key = Key(*c.library, *c.mode, *c.input);
    const std::string who = c.library->name + " mode " + c.mode->label + " input '" + c.input->name + "'";
    const auto samples = MakeInput(*c.input, SampleRate(c.mode->format));
    if (samples.empty()) GTEST_SKIP() << who << ": " << c.input->recording << " is not installed (codec2-examples)";
    const auto stored = Load().stored.vectors.find(key);
    ASSERT_NE(stored, Load().stored.vectors.end())
        << who << ": no stored vector; run tools/vectors/regenerate and commit expected.json";
    const Vector &want = stored->second;
    if (c.library->systemLibrary) {
        // A peer codes with a Debian system library: deterministic for one
        // version of it, which its description names.  Another version may
        // code otherwise, and that is no fault of the wrapper.
        const auto made = Load().stored.descriptions.find(c.library->name);
        ASSERT_NE(made, Load().stored.descriptions.end())
            << who << ": no stored description of the system library; run tools/vectors/regenerate";
        const std::string here = Description(test::CodecLibraryPath(c.library->name));
        if (here != made->second)
            GTEST_SKIP() << who << ": the vectors pin \"" << made->second << "\", this build's library is \"" << here
                         << "\" (another system library version); not compared. Regenerate on this version to "
                            "pin it.";
    }

    std::vector<int16_t> pcm;
    const Vector got =
        vectors::Run(test::CodecLibraryPath(c.library->name), *c.library, *c.mode, *c.input, samples, &pcm);
    const Judgement j = Judge(*c.library, *c.mode, *c.input, Exact(), got, pcm, want);
    switch (j.outcome) {
    case Outcome::Same:
        break;
    case Outcome::WithinTolerance:
        std::printf("note (%s, vectors made with %s): %s\n", Toolchain().c_str(), Load().stored.toolchain.c_str(),
                    j.message.c_str());
        break;
    case Outcome::NotJudged:
        GTEST_SKIP() << "under " << Toolchain() << " (vectors made with " << Load().stored.toolchain
                     << "): " << j.message;
    case Outcome::Differs:
        ADD_FAILURE() << j.message;
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(Built, Vectors, ::testing::ValuesIn(Cases()), CaseName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Vectors);

TEST(VectorFiles, LoadAndCoverEveryBuiltLibrary) {
    ASSERT_EQ(Load().error, "");
    std::set<std::string> inTable;
    for (const Library &lib : Load().libraries) {
        inTable.insert(lib.name);
        if (!Built(lib.name)) std::printf("note: %s is in the table but not built here\n", lib.name.c_str());
    }
    for (const std::string &name : test::BuiltCodecLibraries()) {
        EXPECT_TRUE(inTable.count(name)) << name << " is built but has no reference vectors: add its entry to "
                                         << kTablePath << ", run tools/vectors/regenerate and commit both files";
    }
    // Every stored vector belongs to an entry, mode and input of the table.
    std::set<std::string> keys;
    for (const Library &lib : Load().libraries)
        for (const Mode &mode : lib.modes)
            for (const Input &input : Inputs()) keys.insert(Key(lib, mode, input));
    for (const auto &[key, v] : Load().stored.vectors)
        EXPECT_TRUE(keys.count(key)) << key << " is stored but not in the table: run tools/vectors/regenerate";
    // System-library wrappers, and only they, carry the description their vectors were made with.
    for (const Library &lib : Load().libraries) {
        const bool described = Load().stored.descriptions.count(lib.name) != 0;
        const bool stored = Load().stored.vectors.count(Key(lib, lib.modes.front(), Inputs().back())) != 0;
        if (lib.systemLibrary && stored) {
            EXPECT_TRUE(described) << lib.name
                                   << " has vectors but no stored description: run tools/vectors/regenerate";
        }
        if (!lib.systemLibrary) {
            EXPECT_FALSE(described) << lib.name << " is not a system library's wrapper but has a stored description";
        }
    }
}

// The table is the one place a library joins the vectors: what it says must
// be read as meant, and a mistake in it must be named, not guessed around.
class TableFile : public ::testing::Test {
protected:
    std::string Write(const std::string &text) {
        std::ofstream(path_) << text;
        return path_;
    }
    void TearDown() override { std::filesystem::remove(path_); }

private:
    std::string path_ =
        (std::filesystem::temp_directory_path() / ("vntr_vectors_table_" + std::to_string(::getpid()) + ".json"))
            .string();
};

TEST_F(TableFile, ReadsCommentsNumbersInCNotationAndDefaults) {
    const auto libs = LoadLibraries(Write(R"(// a comment
{"libraries": [
  {"name": "VTa", "modes": [{"label": "1", "format": "0x22102", "options": 65536,
                            "encodeFlags": ["0", "0x20000"], "flush": false}],
   "arithmetic": "exact", "systemLibrary": true},
  {"name": "VTb", "modes": [{"label": "2", "format": "0x11102"}],
   "tolerance": {"minSnrDb": 45}}
]})"));
    ASSERT_EQ(libs.size(), 2u);
    const Mode &a = libs[0].modes.at(0);
    EXPECT_EQ(a.format, 0x22102u);
    EXPECT_EQ(SampleRate(a.format), 11025);
    EXPECT_EQ(a.options, 0x10000u);
    EXPECT_EQ(a.encodeFlags, (std::vector<uint32_t>{0, 0x20000}));
    EXPECT_EQ(a.flush, false);
    EXPECT_FALSE(libs[0].floatArithmetic);
    EXPECT_TRUE(libs[0].systemLibrary);
    const Library &b = libs[1];
    EXPECT_TRUE(b.floatArithmetic);
    EXPECT_FALSE(b.systemLibrary);
    EXPECT_EQ(b.modes.at(0).encodeFlags, std::vector<uint32_t>{0});
    EXPECT_FALSE(b.modes.at(0).flush.has_value());
    EXPECT_TRUE(EightBit(b.modes.at(0).format));
    EXPECT_EQ(b.tolerance.maxDifference, 2);
    EXPECT_EQ(b.tolerance.minSnrDb, 45.0);
}

TEST_F(TableFile, NamesWhatIsWrong) {
    auto error = [&](const std::string &entry) {
        try {
            LoadLibraries(Write(R"({"libraries": [)" + entry + "]}"));
        } catch (const std::runtime_error &e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_NE(error(R"({"name": "VTa", "modes": [{"label": "m", "format": "0x12x02"}]})").find("VTa mode m format"),
              std::string::npos);
    EXPECT_NE(error(R"({"name": "VTa", "modes": [{"label": "m", "format": "0x2102"}]})").find("no sample rate"),
              std::string::npos);
    EXPECT_NE(error(R"({"name": "VTa", "modes": [{"label": "m", "format": "0x12102", "encodeFlags": []}]})")
                  .find("encodeFlags is empty"),
              std::string::npos);
    EXPECT_NE(error(R"({"name": "VTa", "modes": []})").find("VTa has no modes"), std::string::npos);
    EXPECT_NE(error(R"({"name": "VTa", "modes": [{"label": "m", "format": "0x12102"}], "arithmetic": "fixed"})")
                  .find("\"fixed\""),
              std::string::npos);
    EXPECT_NE(error(R"({"name": "VTa", "modes": [{"label": "m", "format": 4294967296}]})").find("32-bit"),
              std::string::npos);
}

// What the regeneration writes, the test reads back unchanged: descriptions,
// end statuses and excerpts of every length (the text packs bytes by threes).
TEST(VectorFiles, SurviveARoundTrip) {
    VectorFile file;
    file.toolchain = "GNU 1.2.3 x86_64";
    file.descriptions["Peer 1"] = "Peer 1.0 (libpeer), 20 ms";
    for (std::size_t n : {0u, 1u, 2u, 3u, 512u}) {
        Vector v;
        v.coded = {n * 3, Fnv1a64("abc", 3), 0, std::nullopt};
        std::vector<int16_t> samples(n);
        for (std::size_t i = 0; i < n; ++i) samples[i] = static_cast<int16_t>(i * 7919 - 32768);
        v.decoded = {n + 10, "0123456789abcdef", 11, Excerpt{n, samples}};
        file.vectors["VTx/m/" + std::to_string(n)] = v;
    }
    file.vectors["VTx/m/plain"] = Vector{{5, "1", 0, std::nullopt}, {6, "2", -1, std::nullopt}};
    const std::string path =
        (std::filesystem::temp_directory_path() / ("vntr_vectors_" + std::to_string(::getpid()) + ".json")).string();
    SaveVectors(file, path);
    const VectorFile back = LoadVectors(path);
    std::filesystem::remove(path);
    EXPECT_EQ(back.toolchain, file.toolchain);
    EXPECT_EQ(back.descriptions, file.descriptions);
    ASSERT_EQ(back.vectors.size(), file.vectors.size());
    for (const auto &[key, v] : file.vectors) {
        const Vector &w = back.vectors.at(key);
        EXPECT_EQ(w.coded.count, v.coded.count) << key;
        EXPECT_EQ(w.coded.checksum, v.coded.checksum) << key;
        EXPECT_EQ(w.decoded.endStatus, v.decoded.endStatus) << key;
        EXPECT_EQ(w.decoded.excerpt.has_value(), v.decoded.excerpt.has_value()) << key;
        if (v.decoded.excerpt) {
            EXPECT_EQ(w.decoded.excerpt->at, v.decoded.excerpt->at) << key;
            EXPECT_EQ(w.decoded.excerpt->samples, v.decoded.excerpt->samples) << key;
        }
    }
}

// The measure of the tolerance, and the inputs it is all built on.
TEST(VectorTools, DriftIsTheLargestDifferenceAndTheSnrAtTheExcerpt) {
    const Excerpt e{2, {1000, -1000, 1000, -1000}};
    std::vector<int16_t> pcm = {7, 7, 1000, -1000, 1000, -1000, 7};
    auto d = Measure(pcm, e);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->maxDifference, 0);
    EXPECT_TRUE(std::isinf(d->snrDb) && d->snrDb > 0);
    pcm[3] = -990; // one sample 10 off: signal 4e6, noise 100
    d = Measure(pcm, e);
    EXPECT_EQ(d->maxDifference, 10);
    EXPECT_NEAR(d->snrDb, 10.0 * std::log10(4e6 / 100.0), 1e-9);
    pcm.resize(5); // ends inside the excerpt
    EXPECT_FALSE(Measure(pcm, e));
}

TEST(VectorTools, JudgementIsExactOnTheToolchainThatMadeTheVectorsAndTolerantElsewhere) {
    Library lib;
    lib.name = "VTx";
    lib.tolerance = {4, 40.0};
    Mode mode;
    mode.label = "m1";
    const Input input{"tone", "", false};
    const std::vector<int16_t> reference = {0, 3000, -3000, 3000, -3000, 0};
    auto vectorOf = [](const std::string &stream, const std::vector<int16_t> &pcm) {
        Vector v;
        v.coded = {stream.size(), Fnv1a64(stream.data(), stream.size()), 0, std::nullopt};
        v.decoded = {pcm.size(), Fnv1a64(pcm.data(), pcm.size() * 2), 0, Excerpt{1, {pcm.begin() + 1, pcm.end() - 1}}};
        return v;
    };
    const Vector stored = vectorOf("abc", reference);
    std::vector<int16_t> drifted = reference;
    drifted[2] += 3; // SNR about 63 dB, within 4 steps
    std::vector<int16_t> broken = reference;
    broken[3] = 1000;

    EXPECT_EQ(Judge(lib, mode, input, true, stored, reference, stored).outcome, Outcome::Same);
    // On the same toolchain any difference is a fault, named by library, mode, input and side.
    Judgement j = Judge(lib, mode, input, true, vectorOf("abc", drifted), drifted, stored);
    EXPECT_EQ(j.outcome, Outcome::Differs);
    EXPECT_NE(j.message.find("VTx mode m1 input 'tone': the decoded PCM differs"), std::string::npos) << j.message;
    EXPECT_NE(j.message.find("largest difference 3"), std::string::npos) << j.message;
    j = Judge(lib, mode, input, true, vectorOf("abd", reference), reference, stored);
    EXPECT_EQ(j.outcome, Outcome::Differs);
    EXPECT_NE(j.message.find("the coded stream differs"), std::string::npos) << j.message;
    // Elsewhere a float library's PCM may drift within its tolerance, not beyond.
    EXPECT_EQ(Judge(lib, mode, input, false, vectorOf("abc", drifted), drifted, stored).outcome,
              Outcome::WithinTolerance);
    j = Judge(lib, mode, input, false, vectorOf("abc", broken), broken, stored);
    EXPECT_EQ(j.outcome, Outcome::Differs);
    EXPECT_NE(j.message.find("beyond the tolerance"), std::string::npos) << j.message;
    std::vector<int16_t> longer = drifted;
    longer.push_back(0);
    EXPECT_EQ(Judge(lib, mode, input, false, vectorOf("abc", longer), longer, stored).outcome, Outcome::Differs);
    // Another stream there leaves nothing to judge; a damaged one says so.
    j = Judge(lib, mode, Input{"damaged", "", true}, false, vectorOf("abd", broken), broken, stored);
    EXPECT_EQ(j.outcome, Outcome::NotJudged);
    EXPECT_NE(j.message.find("damaged coded stream differs"), std::string::npos) << j.message;
    // A library declared exact is exact everywhere.
    lib.floatArithmetic = false;
    EXPECT_EQ(Judge(lib, mode, input, false, vectorOf("abc", drifted), drifted, stored).outcome, Outcome::Differs);
}

TEST(VectorTools, SyntheticInputsAreWhatTheirNamesSay) {
    std::map<std::string, std::vector<int16_t>> x;
    for (const Input &input : Inputs())
        if (input.recording.empty()) x[input.name] = MakeInput(input, 8000);
    for (const auto &[name, s] : x) EXPECT_EQ(s.size(), 8000u) << name;
    EXPECT_TRUE(std::all_of(x["silence"].begin(), x["silence"].end(), [](int16_t v) { return v == 0; }));
    // The integer sine is a 1 kHz sine of amplitude 16384 to within a step.
    for (std::size_t n = 0; n < 8000; ++n)
        ASSERT_NEAR(x["tone"][n], 16384.0 * std::sin(2.0 * std::numbers::pi * 1000.0 * n / 8000.0), 1.5) << n;
    // The sweep rises: zero crossings come closer and closer together.
    auto crossings = [&](std::size_t from, std::size_t to) {
        int count = 0;
        for (std::size_t n = from + 1; n < to; ++n) count += (x["sweep"][n - 1] < 0) != (x["sweep"][n] < 0);
        return count;
    };
    EXPECT_NEAR(crossings(0, 1000), 80, 8);      // 100..540 Hz: 319 Hz for 1/8 s, two crossings a period
    EXPECT_NEAR(crossings(7000, 8000), 845, 20); // 3160..3600 Hz
    EXPECT_EQ(*std::max_element(x["sweep"].begin(), x["sweep"].end()), 23170);
    // Full-scale noise reaches both ends of the range and has no offset.
    const auto [lo, hi] = std::minmax_element(x["noise"].begin(), x["noise"].end());
    EXPECT_LT(*lo, -32000);
    EXPECT_GT(*hi, 32000);
    double mean = 0;
    for (int16_t v : x["noise"]) mean += v;
    EXPECT_LT(std::fabs(mean / 8000.0), 1000.0);
    EXPECT_EQ(x["step"][2399], 0);
    EXPECT_EQ(x["step"][2400], 20000);
    EXPECT_EQ(x["step"][7999], 20000);
    // Real recordings follow the rate by integer interpolation.
    const Input &real = Inputs().front();
    const auto at8 = MakeInput(real, 8000), at22 = MakeInput(real, 22050);
    if (at8.empty()) GTEST_SKIP() << real.recording << " is not installed";
    EXPECT_EQ(at8.size(), 24001u);
    EXPECT_EQ(at22.size(), 24000u * 22050u / 8000u);
    for (std::size_t n = 0; n + 160 < at8.size(); n += 160)
        EXPECT_EQ(at22[n * 441 / 160], at8[n]) << n; // shared instants
}

} // namespace
} // namespace vntr::vectors
