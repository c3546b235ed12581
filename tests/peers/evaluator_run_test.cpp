// The peers as the evaluator meets them: registered by their own
// DllRegisterServer in the build's system root, found by discovery, run by
// the pipeline over real speech with its carry-over buffer, marked as peers,
// and removed one at a time by vtregsvr -u.
#include "../evaluator/eval_support.hpp"

#include "peer_support.hpp"

#include "core/pipeline.hpp"

#include <vntr/platform/registry.hpp>

using namespace vntr::evaluator;

namespace vntr::test {
namespace {

using platform::Hive;
using platform::RegKey;
using platform::RegStatus;

class PeersInTheEvaluator : public ::testing::Test {
protected:
    void SetUp() override {
        // The peers the build registers (one is built for vtregsvr only).
        const auto registered = RegisteredCodecLibraries();
        for (const auto &name : BuiltAmong(AllPeerNames())) {
            if (std::find(registered.begin(), registered.end(), name) != registered.end()) peers.push_back(name);
        }
        if (peers.empty()) GTEST_SKIP() << "no peer built";
        if (SpeechRecording().empty()) GTEST_SKIP() << "codec2-examples not installed";
        for (const auto &name : registered) ASSERT_EQ(CodecBinding(CodecLibraryPath(name)).registerServer(), 0);
        config = world.Config();
        config.systemRoot = root;
        WaveSpec w;
        w.data = ReadBytes(SpeechRecording());
        WriteBytes(world.File("speech.wav"), MakeWave(w));
    }

    const std::string root = fs::path(VNTR_TEST_CODEC_DIR).parent_path().parent_path();
    EvaluatorWorld world;
    ScopedEnv windir{"VNTR_WINDIR", fs::path(VNTR_TEST_CODEC_DIR).parent_path().parent_path()};
    EvaluatorConfig config;
    RecordingFrontend ui;
    std::vector<std::string> peers;
};

TEST_F(PeersInTheEvaluator, RegistrationNamesTheFileAndTheSystemLibrary) {
    for (const auto &name : peers) {
        RegKey key;
        ASSERT_EQ(RegKey::Open(Hive::LocalMachine, "SOFTWARE\\Vantre\\QBL SDK\\" + name, key), RegStatus::Ok) << name;
        std::string engine, peer;
        EXPECT_EQ(key.QueryValue(name + " Core Engine", engine), RegStatus::Ok);
        EXPECT_EQ(engine, root + "/VNTR/QBL/" + name + ".so");
        EXPECT_TRUE(fs::exists(engine));
        ASSERT_EQ(key.QueryValue("Peer Codec", peer), RegStatus::Ok);
        EXPECT_EQ(peer.rfind("lib", 0), 0u) << peer;
    }
}

TEST_F(PeersInTheEvaluator, EveryPeerRunsMeasuredAndMarked) {
    Evaluator ev(ui, config);
    ASSERT_TRUE(ev.Startup());
    std::vector<bool> pick(ev.SlotCount());
    std::size_t found = 0;
    for (std::size_t i = 0; i < ev.SlotCount(); ++i) {
        const CodecSlot &slot = ev.Slots()[i];
        pick[i] = std::find(peers.begin(), peers.end(), slot.Name()) != peers.end();
        if (pick[i]) {
            ++found;
            EXPECT_FALSE(slot.peerLibrary.empty()) << slot.Name();
            EXPECT_EQ(slot.ShortName(), slot.Name());
        } else {
            EXPECT_TRUE(slot.peerLibrary.empty()) << slot.Name() << " is one of ours";
        }
    }
    ASSERT_EQ(found, peers.size());
    ev.ApplySelection(pick);
    ASSERT_TRUE(ev.OpenOriginalFile(world.File("speech.wav")));
    ev.ProcessSelectedCodecs();
    EXPECT_TRUE(ui.messages.empty()) << ui.messages[0].text;
    for (const auto &slot : ev.Slots()) {
        if (slot.selected == 0) continue;
        SCOPED_TRACE(slot.Name());
        EXPECT_FALSE(slot.failed);
        // The carry-over decoded the whole stream: every coded byte was read.
        EXPECT_GT(slot.codedBytes, 0u);
        EXPECT_EQ(slot.decodedCodedBytes, slot.codedBytes);
        EXPECT_EQ(slot.codedBytes % slot.format.maxCodedBytes, 0u);
        ASSERT_TRUE(slot.quality.valid);
        EXPECT_LT(slot.quality.logSpectralDistanceDb, 15.0);
        // The run's rate is the declared one, or that rate's whole bytes a frame.
        EXPECT_GE(slot.runBitRate, slot.format.bitRate * 0.99f);
        EXPECT_LE(slot.runBitRate, slot.format.bitRate * 1.08f);
    }
}

TEST_F(PeersInTheEvaluator, UnregisteringOnePeerLeavesTheOthers) {
    const std::string gone = peers.front();
    ASSERT_TRUE(RunQuietly(std::string(VNTR_TEST_VTREGSVR) + " -u " + Quoted(CodecLibraryPath(gone))));
    Evaluator ev(ui, config);
    ASSERT_TRUE(ev.Startup());
    std::vector<std::string> names;
    for (std::size_t i = 0; i < ev.SlotCount(); ++i) names.push_back(ev.Slots()[i].Name());
    EXPECT_EQ(std::count(names.begin(), names.end(), gone), 0);
    EXPECT_EQ(names.size(), RegisteredCodecLibraries().size() - 1);
    RegKey key;
    EXPECT_NE(RegKey::Open(Hive::LocalMachine, "SOFTWARE\\Vantre\\QBL SDK\\" + gone, key), RegStatus::Ok);
}

} // namespace
} // namespace vntr::test
