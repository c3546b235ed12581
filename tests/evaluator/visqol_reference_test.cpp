// The ViSQOL score against the reference implementation: recordings from
// codec2-examples coded through our libraries and the peers, both signals
// brought to 16 kHz and 16 bits as the score does it, and the MOS-LQO that
// google/visqol (speech mode, --use_lattice_model=false) gives the same two
// files.  With VNTR_VISQOL_PAIRS_DIR set, the test writes each pair there as
// `<recording>_<codec>_ref.wav` and `_deg.wav`, to be scored again by the
// reference implementation.
#include "eval_support.hpp"

#include "codec_stream.hpp"
#include "core/visqol.hpp"
#include "test_paths.hpp"

#include <cmath>
#include <cstdlib>

using namespace vntr::evaluator;
using namespace vntr::test;

namespace {

constexpr uint32_t kSpeech8k = CODEC_FMT_PCM16_MONO_8KHZ;

struct Pinned {
    const char *recording;
    const char *codec;
    double referenceMos;
};

// The reference implementation's scores of the pairs.
const Pinned kPinned[] = {
    {"hts1a", "VT4864v6", 4.140557},    {"hts1a", "VT120", 4.341575},       {"hts1a", "Opus 6k", 4.102672},
    {"hts1a", "Speex 8k", 4.314228},    {"hts1a", "C2 1300", 3.844689},     {"hts1a", "GSM-FR", 4.476486},
    {"kristoff", "VT48", 3.433836},     {"kristoff", "VT15", 3.464202},     {"kristoff", "VT180", 4.555860},
    {"kristoff", "Opus 12k", 4.574409}, {"kristoff", "Speex 6k", 3.774297}, {"kristoff", "C2 3200", 3.347385},
    {"cq_ref", "VT4864v6", 4.014422},   {"cq_ref", "VT48", 3.906971},       {"cq_ref", "VT180", 4.765880},
    {"cq_ref", "Opus 8k", 4.560278},    {"cq_ref", "Speex 11k", 4.530032},  {"cq_ref", "C2 1600", 3.604866},
    {"mmt1", "VT120", 3.948666},        {"mmt1", "VT15", 3.108706},         {"mmt1", "GSM-FR", 4.055088},
    {"mmt1", "Opus 6k", 3.313015},      {"mmt1", "Speex 8k", 3.696356},     {"mmt1", "C2 1300", 3.174678},
};

std::vector<int16_t> Raw(const std::string &path) {
    const std::vector<uint8_t> bytes = ReadBytes(path);
    std::vector<int16_t> pcm(bytes.size() / 2);
    for (std::size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return pcm;
}

// An 8 kHz signal at 16 kHz in 16 bits, as a 16 kHz wave file holds it.
std::vector<float> At16kIn16Bits(const std::vector<int16_t> &pcm) {
    const std::vector<float> x(pcm.begin(), pcm.end());
    std::vector<float> y = ResampleTo16k(x, 8000);
    for (float &v : y) v = static_cast<float>(std::clamp(std::lround(v), -32768L, 32767L));
    return y;
}

void WriteWave16k(const std::string &path, const std::vector<float> &x) {
    WaveSpec w;
    w.rate = 16000;
    for (const float v : x) {
        const auto s = static_cast<int16_t>(v);
        w.data.push_back(static_cast<uint8_t>(s & 0xFF));
        w.data.push_back(static_cast<uint8_t>((s >> 8) & 0xFF));
    }
    WriteBytes(path, MakeWave(w));
}

class VisqolAgainstReference : public ::testing::TestWithParam<Pinned> {};

} // namespace

TEST_P(VisqolAgainstReference, ScoresThePairAsTheReferenceDoes) {
    const Pinned &pin = GetParam();
    const auto libs = BuiltCodecLibraries();
    if (std::find(libs.begin(), libs.end(), pin.codec) == libs.end()) GTEST_SKIP() << pin.codec << " not built";
    if (SpeechRecording(pin.recording).empty()) GTEST_SKIP() << "codec2-examples not installed";
    const std::vector<int16_t> original = Raw(SpeechRecording(pin.recording));
    const vntr::CodecBinding lib(CodecLibraryPath(pin.codec));
    const EncodedStream coded = EncodeAll(lib, kSpeech8k, 0, original);
    const DecodedStream decoded = DecodeAll(lib, kSpeech8k, 0, coded.bytes);
    ASSERT_GT(decoded.pcm.size(), original.size() / 2);

    const std::vector<float> reference = At16kIn16Bits(original);
    const std::vector<float> degraded = At16kIn16Bits(decoded.pcm);
    if (const char *dir = std::getenv("VNTR_VISQOL_PAIRS_DIR")) {
        const std::string stem = std::string(dir) + "/" + pin.recording + "_" + TestNameOf(pin.codec);
        WriteWave16k(stem + "_ref.wav", reference);
        WriteWave16k(stem + "_deg.wav", degraded);
    }
    const VisqolScore score = ScoreVisqol(reference, degraded, kVisqolRate);
    ASSERT_TRUE(score.valid) << score.message;
    RecordProperty("mos", std::to_string(score.mos));
    EXPECT_NEAR(score.mos, pin.referenceMos, 0.005) << pin.recording << " through " << pin.codec;
}

INSTANTIATE_TEST_SUITE_P(CodedRecordings, VisqolAgainstReference, ::testing::ValuesIn(kPinned),
                         [](const ::testing::TestParamInfo<Pinned> &info) {
                             return std::string(info.param.recording) + "_" + TestNameOf(info.param.codec);
                         });
