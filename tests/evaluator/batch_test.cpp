// vtbench32 --batch as a user runs it: the table, the JSON, sessions saved
// and rerun, kept files, exit statuses and messages on stderr.
#include "eval_support.hpp"

#include "core/instance.hpp"

#include <vntr/platform/registry.hpp>

#include <sys/wait.h>

#include <nlohmann/json.hpp>

using namespace vntr::test;

namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

class BatchTest : public ::testing::Test {
protected:
    BatchTest() : a("FAKEA"), b("FAKEB") {
        EXPECT_EQ(a.Register(), 0);
        EXPECT_EQ(b.Register(), 0);
        WriteBytes(world.File("speech.wav"), SpeechLikeWave(8000, 8000));
    }

    Outcome Vtbench(const std::string &args, const std::string &env = "") {
        const std::string err = world.File("stderr.txt");
        const std::string command = "env TMPDIR=" + world.File("tmproot") + " " + env + " " +
                                    VNTR_TEST_VTBENCH32 + " " + args + " 2>" + err;
        fs::create_directories(world.File("tmproot"));
        Outcome run;
        std::FILE *pipe = popen(command.c_str(), "r");
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) run.out += buffer;
        const int status = pclose(pipe);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        const auto bytes = ReadBytes(err);
        run.err.assign(bytes.begin(), bytes.end());
        return run;
    }
    nlohmann::json Json(const std::string &name) {
        const auto bytes = ReadBytes(world.File(name));
        return nlohmann::json::parse(std::string(bytes.begin(), bytes.end()));
    }

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

TEST_F(BatchTest, NothingInstalledIsAFailure) {
    EXPECT_EQ(a.Unregister(), 0);
    EXPECT_EQ(b.Unregister(), 0);
    const Outcome run = Vtbench("--batch " + world.File("speech.wav"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Vantre QBL Evaluator: Error: ERROR IN INITIALIZATION : no codec installed !\n"
                       "Vantre QBL Evaluator: Error: No codec selected. Before processing, select which codecs to "
                       "use in Options|Select Codecs.\n");
}

} // namespace
