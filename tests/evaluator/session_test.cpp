// Session files: the round trip, the codec search by codecId with the
// option-bit trial and the name rule, every message, and damaged files.
#include "eval_support.hpp"

#include "core/session.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <csignal>
#include <random>

using namespace vntr::evaluator;
using namespace vntr::test;

namespace {

std::vector<uint8_t> SessionBytes(const std::string &name, const std::vector<uint8_t> &original,
                                  const std::vector<std::pair<uint16_t, std::string>> &codecs) {
    std::vector<uint8_t> b(kSessionMagic, kSessionMagic + sizeof kSessionMagic);
    PutLe32(b, static_cast<uint32_t>(name.size() + 1));
    b.insert(b.end(), name.begin(), name.end());
    b.push_back(0);
    PutLe32(b, static_cast<uint32_t>(original.size()));
    b.insert(b.end(), original.begin(), original.end());
    PutLe16(b, static_cast<uint16_t>(codecs.size()));
    for (const auto &[id, codec] : codecs) {
        PutLe16(b, id);
        PutLe32(b, static_cast<uint32_t>(codec.size() + 1));
        b.insert(b.end(), codec.begin(), codec.end());
        b.push_back(0);
    }
    return b;
}

class SessionTest : public ::testing::Test {
protected:
    SessionTest() : a("FAKEA"), b("FAKEB"), v("VT4864v6") {}

    void Start() {
        ASSERT_EQ(a.Register(), 0);
        ASSERT_EQ(b.Register(), 0);
        ASSERT_EQ(v.Register(), 0);
        ev = std::make_unique<Evaluator>(ui, world.Config());
        ASSERT_TRUE(ev->Startup());
        ASSERT_EQ(ev->SlotCount(), 3);
    }
    CodecSlot &Slot(const std::string &name) {
        for (auto &slot : ev->Slots()) {
            if (slot.Name() == name) return slot;
        }
        throw std::runtime_error("no slot " + name);
    }
    std::vector<std::string> Selected() {
        std::vector<std::string> names;
        for (std::size_t i = 0; i < ev->SlotCount(); ++i) {
            if (ev->Slots()[i].selected != 0) names.push_back(ev->Slots()[i].Name());
        }
        return names;
    }
    bool Open(const std::vector<uint8_t> &bytes) {
        WriteBytes(world.File("s.qbl"), bytes);
        ui.messages.clear();
        return ev->OpenSession(world.File("s.qbl"));
    }

    EvaluatorWorld world;
    FakeLibrary a;
    FakeLibrary b;
    FakeLibrary v;
    RecordingFrontend ui;
    std::unique_ptr<Evaluator> ev;
    std::vector<uint8_t> original = SpeechLikeWave(8000, 1600);
};

TEST_F(SessionTest, SavedSessionReopensAndReruns) {
    Start();
    WriteBytes(world.File("speech.wav"), original);
    ev->ApplySelection({true, false, true}); // FAKEA, VT4864v6
    ASSERT_TRUE(ev->OpenOriginalFile(world.File("speech.wav")));
    ev->ProcessSelectedCodecs();
    ASSERT_TRUE(ev->UnsavedSession());
    const uint32_t codedA = Slot("FAKEA").codedBytes;
    ASSERT_TRUE(ev->SaveSession(world.File("saved.qbl")));
    EXPECT_FALSE(ev->UnsavedSession());
    EXPECT_EQ(ReadBytes(world.File("saved.qbl")),
              SessionBytes("speech.wav", original, {{2041, "FAKEA"}, {2041, "VT4864v6"}}));

    ev->ApplySelection({false, true, false});
    a.control->encoderOpens = 0;
    ui.messages.clear();
    ASSERT_TRUE(ev->OpenSession(world.File("saved.qbl")));
    EXPECT_TRUE(ui.messages.empty()) << ui.messages[0].text;
    EXPECT_EQ(Selected(), (std::vector<std::string>{"FAKEA", "VT4864v6"}));
    EXPECT_EQ(a.control->encoderOpens, 1);
    EXPECT_EQ(Slot("FAKEA").codedBytes, codedA);
    EXPECT_EQ(ev->State(), DisplayState::Results);
    EXPECT_TRUE(ev->OriginalFromSession());
    EXPECT_EQ(ev->OriginalDisplayName(), "speech.wav");
    EXPECT_EQ(ev->Original().path, world.TempFolder() + "~t_ori.wav");
    EXPECT_EQ(ReadBytes(ev->Original().path), original);

    // Saving right after stores the temporary file's name.
    ASSERT_TRUE(ev->SaveSession(world.File("again.qbl")));
    const auto again = ReadBytes(world.File("again.qbl"));
    EXPECT_EQ(std::string(again.begin() + 35, again.begin() + 45), "~t_ori.wav");
}

TEST_F(SessionTest, DefaultSelectionOnAnEightKilohertzOriginalReopensCleanly) {
    b.control->formatMask = CODEC_FMT_PCM16_MONO | CODEC_FMT_11KHZ; // FAKEB takes only 11025 Hz
    Start();
    WriteBytes(world.File("speech.wav"), original);
    ASSERT_TRUE(ev->OpenOriginalFile(world.File("speech.wav")));
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Sampling Frequency of 8 kHz is not supported by FAKEB."});
    ev->ProcessSelectedCodecs();
    ASSERT_TRUE(ev->SaveSession(world.File("all.qbl")));
    // Only the codecs that ran are stored.
    EXPECT_EQ(ReadBytes(world.File("all.qbl")),
              SessionBytes("speech.wav", original, {{2041, "FAKEA"}, {2041, "VT4864v6"}}));
    ui.messages.clear();
    ASSERT_TRUE(ev->OpenSession(world.File("all.qbl")));
    EXPECT_TRUE(ui.messages.empty()) << ui.messages[0].text;
    EXPECT_EQ(Selected(), (std::vector<std::string>{"FAKEA", "VT4864v6"}));
    EXPECT_TRUE(Slot("FAKEA").HasResults());
    EXPECT_TRUE(Slot("VT4864v6").HasResults());
}

TEST_F(SessionTest, EntriesWithoutACodecIdArePassedOverSilently) {
    Start();
    // As files saved with a codec that could not take the original were.
    ASSERT_TRUE(Open(SessionBytes("o.wav", original, {{0, "FAKEB"}, {2041, "FAKEA"}, {0, "VT500f22"}})));
    EXPECT_TRUE(ui.messages.empty()) << ui.messages[0].text;
    EXPECT_EQ(Selected(), std::vector<std::string>{"FAKEA"});
    EXPECT_TRUE(Slot("FAKEA").HasResults());
    // A codec id of 0 is passed over even where a slot would take it.
    a.control->codecId = 0;
    ASSERT_TRUE(Open(SessionBytes("o.wav", original, {{0, "FAKEA"}})));
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_TRUE(Selected().empty());
}

TEST_F(SessionTest, SixPointFourKbpsModeIsFoundByTryingOptionBits) {
    v.control->codecId = 2026; // options 0 -> 2026, 0x10000 -> 2027, 0x20000 -> 2028
    v.control->infoOptionMask = 0x30000;
    Start();
    ASSERT_TRUE(Open(SessionBytes("o.wav", original, {{2028, "VT4864v6"}})));
    EXPECT_TRUE(ui.messages.empty()) << ui.messages[0].text;
    EXPECT_EQ(Selected(), std::vector<std::string>{"VT4864v6"});
    EXPECT_EQ(Slot("VT4864v6").encoderOptions, 0x20000u);
    EXPECT_EQ(Slot("VT4864v6").decoderOptions, 0x20000u);
    EXPECT_EQ(v.control->openedOptions, 0x20000u);
    EXPECT_EQ(Slot("VT4864v6").format.codecId, 2028);
    // The round trip keeps the mode.
    ASSERT_TRUE(ev->SaveSession(world.File("mode.qbl")));
    ev->ApplySelection({true, true, false});
    ASSERT_TRUE(ev->OpenSession(world.File("mode.qbl")));
    EXPECT_EQ(Slot("VT4864v6").encoderOptions, 0x20000u);
}

TEST_F(SessionTest, NameRuleAllowsOneCharacterMoreOrLess) {
    Start();
    ASSERT_TRUE(Open(SessionBytes("o.wav", original, {{2041, "FAKE"}, {2041, "FAKEBX"}, {2041, "FAK"}})));
    EXPECT_EQ(Selected(), (std::vector<std::string>{"FAKEA", "FAKEB"}));
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Codec FAK not found."});
}

TEST_F(SessionTest, MissingCodecIsReportedOnceAndTheOthersRun) {
    Start();
    ASSERT_TRUE(Open(SessionBytes("o.wav", original, {{2041, "VT120"}, {2041, "FAKEB"}})));
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Codec VT120 not found."});
    EXPECT_EQ(ui.messages[0].title, "Vantre QBL Evaluator: Error");
    EXPECT_EQ(Selected(), std::vector<std::string>{"FAKEB"});
    EXPECT_GT(Slot("FAKEB").codedBytes, 0u);
}

TEST_F(SessionTest, SameNameTwiceNeedsTwoSlots) {
    Start();
    ASSERT_TRUE(Open(SessionBytes("o.wav", original, {{2041, "FAKEA"}, {2041, "FAKEA"}})));
    EXPECT_EQ(Selected(), std::vector<std::string>{"FAKEA"});
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Codec FAKEA not found."});
}

TEST_F(SessionTest, WrongCodecIdDoesNotMatch) {
    Start();
    ASSERT_TRUE(Open(SessionBytes("o.wav", original, {{2020, "FAKEA"}})));
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Codec FAKEA not found."});
    EXPECT_TRUE(Selected().empty());
}

TEST_F(SessionTest, NoCodecsKeepsTheSelectionAndMatchesItToTheOriginal) {
    Start();
    ev->ApplySelection({false, true, false});
    ASSERT_TRUE(Open(SessionBytes("o.wav", original, {})));
    EXPECT_EQ(Selected(), std::vector<std::string>{"FAKEB"});
    EXPECT_GT(Slot("FAKEB").codedBytes, 0u);
}

TEST_F(SessionTest, MessagesForFilesThatAreNotSessions) {
    Start();
    ui.messages.clear();
    EXPECT_FALSE(ev->OpenSession(world.File("none.qbl")));
    EXPECT_FALSE(ev->OpenSession(world.TempFolder())); // a folder opens for reading, but is no file
    EXPECT_EQ(ui.Texts(), (std::vector<std::string>{"Could not open session file.", "Could not open session file."}));

    auto bytes = SessionBytes("o.wav", original, {{2041, "FAKEA"}});
    std::vector<uint8_t> noZero = bytes;
    noZero[30] = '!'; // the magic text followed by another byte than zero
    EXPECT_FALSE(Open(noZero));
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"File is not a session file."});

    EXPECT_FALSE(Open({'V', 'N', 'T'}));
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Could not read session file."});

    std::vector<uint8_t> badOriginal = SessionBytes("o.wav", {'R', 'I', 'F', 'F', 0, 0, 0, 0}, {});
    EXPECT_FALSE(Open(badOriginal));
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(ui.messages[1].text, "Could not get original file properties.");
    EXPECT_FALSE(ev->Original().Exists());
}

TEST_F(SessionTest, TemporaryOriginalThatCannotBeWritten) {
    Start();
    fs::create_directories(world.TempFolder() + "~t_ori.wav");
    EXPECT_FALSE(Open(SessionBytes("o.wav", original, {{2041, "FAKEA"}})));
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Could not create original file."});
    EXPECT_FALSE(ev->Original().Exists());
}

TEST_F(SessionTest, LengthsAreCheckedAgainstTheFile) {
    Start();
    auto bytes = SessionBytes("o.wav", original, {{2041, "FAKEA"}});
    // An original size far beyond the file: refused before any allocation.
    auto huge = bytes;
    const uint32_t big = 0xFFFFFFF0u;
    std::memcpy(&huge[31 + 4 + 6], &big, 4);
    EXPECT_FALSE(Open(huge));
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Could not read session file."});

    // A name longer than the 260-byte buffer.
    auto longName = SessionBytes(std::string(300, 'n'), original, {});
    EXPECT_FALSE(Open(longName));
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Could not read session file."});

    // A name without its zero.
    auto unterminated = bytes;
    unterminated[31 + 4 + 5] = 'x';
    EXPECT_FALSE(Open(unterminated));
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Could not read session file."});

    // A codec name of length 0 or without its zero: the original is restored, nothing runs.
    auto badEntry = SessionBytes("o.wav", original, {{2041, "FAKEA"}});
    badEntry.back() = 'A';
    EXPECT_FALSE(Open(badEntry));
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Could not read session file."});
    EXPECT_TRUE(ev->Original().Exists());
    EXPECT_EQ(a.control->encoderOpens, 0);
}

TEST_F(SessionTest, EveryTruncationGivesAMessageAndNeverAResult) {
    Start();
    const auto bytes = SessionBytes("o.wav", original, {{2041, "FAKEA"}, {2041, "FAKEB"}});
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        if (cut > 60 && cut < bytes.size() - 40 && cut % 97 != 0) continue; // through the original: a sample
        SCOPED_TRACE(cut);
        EXPECT_FALSE(Open(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(cut))));
        ASSERT_FALSE(ui.messages.empty());
        const std::string last = ui.messages.back().text;
        EXPECT_TRUE(last == "Could not read session file." || last == "Could not get original file properties.")
            << last;
    }
    EXPECT_EQ(a.control->encoderOpens, 0);
}

TEST_F(SessionTest, RandomDamageNeverCrashes) {
    Start();
    const auto bytes = SessionBytes("o.wav", SpeechLikeWave(8000, 64), {{2041, "FAKEA"}, {2026, "VT4864v6"}});
    std::mt19937 random(1234);
    for (int round = 0; round < 300; ++round) {
        auto damaged = bytes;
        const int flips = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < flips; ++i) damaged[random() % damaged.size()] = static_cast<uint8_t>(random());
        // Any outcome but a crash, an oversized allocation or a silent failure.
        const bool opened = Open(damaged);
        EXPECT_TRUE(opened || !ui.messages.empty()) << round;
    }
}

TEST_F(SessionTest, SessionOverItsOwnOriginalIsRefusedAndTheOriginalStays) {
    Start();
    WriteBytes(world.File("speech.wav"), original);
    fs::create_hard_link(world.File("speech.wav"), world.File("hard.wav"));
    fs::create_symlink(world.File("speech.wav"), world.File("soft.wav"));
    ASSERT_TRUE(ev->OpenOriginalFile(world.File("speech.wav")));
    ev->ProcessSelectedCodecs();
    for (const char *name : {"speech.wav", "./speech.wav", "hard.wav", "soft.wav"}) {
        SCOPED_TRACE(name);
        ui.messages.clear();
        EXPECT_FALSE(ev->SaveSession(world.File(name)));
        EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Could not create session file."});
        EXPECT_EQ(ReadBytes(world.File("speech.wav")), original);
        EXPECT_TRUE(ev->UnsavedSession());
    }
    // A copy of the original is another file: the session may replace it.
    WriteBytes(world.File("copy.wav"), original);
    EXPECT_TRUE(ev->SaveSession(world.File("copy.wav")));
    EXPECT_EQ(ReadBytes(world.File("speech.wav")), original);
}

// Files of a folder whose names begin with a dot: what a save left behind.
std::vector<std::string> HiddenFiles(const std::string &folder) {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string().front() == '.') names.push_back(entry.path().filename());
    }
    return names;
}

// Files may grow to `bytes` only; writing beyond fails instead of signalling.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        old_ = signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, old_);
    }

private:
    rlimit saved_{};
    sighandler_t old_ = SIG_DFL;
};

TEST_F(SessionTest, AFailedSaveLeavesTheDestinationAsItWas) {
    Start();
    const std::vector<uint8_t> before{'e', 'a', 'r', 'l', 'i', 'e', 'r'};
    WriteBytes(world.File("kept.qbl"), before);
    // No original to embed: no new file, the old one untouched.
    ui.messages.clear();
    EXPECT_FALSE(ev->SaveSession(world.File("new.qbl")));
    EXPECT_FALSE(ev->SaveSession(world.File("kept.qbl")));
    EXPECT_EQ(ui.Texts(), (std::vector<std::string>{"Could not open original file to write session file.",
                                                    "Could not open original file to write session file."}));
    EXPECT_FALSE(fs::exists(world.File("new.qbl")));
    EXPECT_EQ(ReadBytes(world.File("kept.qbl")), before);
    // Writing fails half-way through the original.
    WriteBytes(world.File("speech.wav"), original);
    ASSERT_TRUE(ev->OpenOriginalFile(world.File("speech.wav")));
    ev->ProcessSelectedCodecs();
    ui.messages.clear();
    {
        FileSizeLimit limit(1000);
        EXPECT_FALSE(ev->SaveSession(world.File("kept.qbl")));
        EXPECT_FALSE(ev->SaveSession(world.File("new.qbl")));
    }
    EXPECT_EQ(ui.Texts(),
              (std::vector<std::string>{"Could not write to session file.", "Could not write to session file."}));
    EXPECT_EQ(ReadBytes(world.File("kept.qbl")), before);
    EXPECT_FALSE(fs::exists(world.File("new.qbl")));
    EXPECT_TRUE(ev->UnsavedSession());
    EXPECT_EQ(HiddenFiles(world.File("")), std::vector<std::string>{});
}

TEST_F(SessionTest, SavingReplacesTheFileWithItsPermissionsAndLinks) {
    Start();
    WriteBytes(world.File("speech.wav"), original);
    ASSERT_TRUE(ev->OpenOriginalFile(world.File("speech.wav")));
    ev->ProcessSelectedCodecs();
    WriteBytes(world.File("old.qbl"), {'x'});
    fs::permissions(world.File("old.qbl"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink(world.File("old.qbl"), world.File("link.qbl"));
    ui.messages.clear();
    ASSERT_TRUE(ev->SaveSession(world.File("link.qbl")));
    ASSERT_TRUE(ev->SaveSession(world.File("fresh.qbl")));
    EXPECT_TRUE(ui.messages.empty());
    // The link stays a link; the file it points to holds the session.
    EXPECT_TRUE(fs::is_symlink(world.File("link.qbl")));
    const auto session = SessionBytes("speech.wav", original, {{2041, "FAKEA"}, {2041, "FAKEB"}, {2041, "VT4864v6"}});
    EXPECT_EQ(ReadBytes(world.File("old.qbl")), session);
    EXPECT_EQ(ReadBytes(world.File("fresh.qbl")), session);
    EXPECT_EQ(fs::status(world.File("old.qbl")).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    // A new file gets what the user's mask allows.
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(static_cast<mode_t>(fs::status(world.File("fresh.qbl")).permissions()), 0666 & ~mask);
    EXPECT_EQ(HiddenFiles(world.File("")), std::vector<std::string>{});
}

// A process number that no process has (the child ran and was reaped).
pid_t GonePid() {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    return child;
}

// A save killed half-way leaves its hidden file; the next save beside it
// removes that one and other stale ones of the same name, and nothing else.
TEST_F(SessionTest, TheNextSaveRemovesWhatKilledSavesLeft) {
    Start();
    WriteBytes(world.File("speech.wav"), original);
    ASSERT_TRUE(ev->OpenOriginalFile(world.File("speech.wav")));
    ev->ProcessSelectedCodecs();
    const std::vector<uint8_t> before{'e', 'a', 'r', 'l', 'i', 'e', 'r'};
    WriteBytes(world.File("s.qbl"), before);
    const pid_t child = fork();
    if (child == 0) {
        const rlimit small{1000, 1000};
        setrlimit(RLIMIT_FSIZE, &small);
        ev->SaveSession(world.File("s.qbl")); // SIGXFSZ ends it here
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    const std::string killed = ".s.qbl." + std::to_string(child) + ".0.tmp";
    EXPECT_EQ(HiddenFiles(world.File("")), std::vector<std::string>{killed});
    EXPECT_EQ(ReadBytes(world.File("s.qbl")), before);

    const std::string gone = std::to_string(GonePid());
    const std::string mine = std::to_string(getpid());
    for (const std::string &name :
         std::vector<std::string>{".s.qbl." + gone + ".3.tmp", // its writer is gone
                                  ".s.qbl.1.0.tmp",            // process 1 started after it was written
                                  ".s.qbl." + mine + ".7.tmp", // being written by this process
                                  ".t.qbl." + gone + ".0.tmp", // another file's
                                  ".s.qbl.x.0.tmp", ".s.qbl." + gone + ".tmp", "s.qbl." + gone + ".0.tmp"}) {
        WriteBytes(world.File(name), {1});
    }
    const timespec epoch[2] = {{0, 0}, {0, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, world.File(".s.qbl.1.0.tmp").c_str(), epoch, 0), 0);
    fs::create_directory(world.File(".s.qbl." + gone + ".9.tmp")); // not a file
    ASSERT_TRUE(ev->SaveSession(world.File("s.qbl")));
    std::vector<std::string> left = HiddenFiles(world.File(""));
    std::sort(left.begin(), left.end());
    std::vector<std::string> expected{".s.qbl." + mine + ".7.tmp", ".s.qbl." + gone + ".9.tmp",
                                      ".s.qbl." + gone + ".tmp", ".s.qbl.x.0.tmp", ".t.qbl." + gone + ".0.tmp"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(left, expected);
    EXPECT_TRUE(fs::exists(world.File("s.qbl." + gone + ".0.tmp")));
    EXPECT_EQ(ReadBytes(world.File("s.qbl")),
              SessionBytes("speech.wav", original, {{2041, "FAKEA"}, {2041, "FAKEB"}, {2041, "VT4864v6"}}));
}

TEST_F(SessionTest, SaveFailures) {
    Start();
    WriteBytes(world.File("speech.wav"), original);
    ASSERT_TRUE(ev->OpenOriginalFile(world.File("speech.wav")));
    ui.messages.clear();
    EXPECT_FALSE(ev->SaveSession("/nonexistent-folder/s.qbl"));
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Could not create session file."});
    ui.messages.clear();
    EXPECT_FALSE(ev->SaveSession("/dev/full")); // a device is written directly, never replaced
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Could not write to session file."});
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
    fs::remove(world.File("speech.wav"));
    ui.messages.clear();
    EXPECT_FALSE(ev->SaveSession(world.File("s.qbl")));
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Could not open original file to write session file."});
}

} // namespace
