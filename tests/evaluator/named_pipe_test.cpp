// A named pipe where a file is expected (the original, a session, one of
// several originals, the source of a copy) is refused at once with the
// message for a file that cannot be opened: nothing waits for a writer.
#include "batch_support.hpp"

#include "core/evaluator.hpp"
#include "core/wave_samples.hpp"
#include "core/wavefile.hpp"

#include <vntr/platform/regular_file.hpp>
#include <vntr/platform/riff.hpp>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

using namespace vntr::evaluator;
using namespace vntr::test;

namespace {

// Runs `body` in a child that is killed if it has not finished within ten
// seconds: its exit status, or -1 when it hung or crashed.
template <class Body>
int WithinTenSeconds(Body body) {
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(10);
        _exit(body() ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class NamedPipeTest : public ::testing::Test {
protected:
    NamedPipeTest() : a("FAKEA") {
        EXPECT_EQ(a.Register(), 0);
        EXPECT_EQ(mkfifo(pipe.c_str(), 0600), 0);
        WriteBytes(world.File("speech.wav"), SpeechLikeWave(8000, 8000));
    }
    EvaluatorWorld world;
    FakeLibrary a;
    std::string pipe = world.File("pipe.wav");
};

TEST_F(NamedPipeTest, ThePlatformRefusesAPipeWithoutWaiting) {
    EXPECT_EQ(WithinTenSeconds([&] {
                  errno = 0;
                  const bool refused = vntr::platform::OpenRegularFile(pipe, O_RDONLY) < 0 && errno == EINVAL &&
                                       vntr::platform::OpenRegularFileForReading(pipe) == nullptr;
                  return refused && !vntr::platform::RiffFile::Open(pipe, vntr::platform::RiffFile::Mode::Read) &&
                         !vntr::platform::RiffFile::Open(pipe, vntr::platform::RiffFile::Mode::Create);
              }),
              0);
    // A folder and a missing file are refused too; a regular file opens, and
    // is truncated only when asked to.
    errno = 0;
    EXPECT_LT(vntr::platform::OpenRegularFile(world.TempFolder(), O_RDONLY), 0);
    EXPECT_EQ(errno, EISDIR);
    EXPECT_LT(vntr::platform::OpenRegularFile(world.File("missing"), O_RDONLY), 0);
    EXPECT_EQ(errno, ENOENT);
    const int fd = vntr::platform::OpenRegularFile(world.File("speech.wav"), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0); // reads block again as usual
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    close(fd);
    EXPECT_EQ(ReadBytes(world.File("speech.wav")).size(), 16044u);
    const int created = vntr::platform::OpenRegularFile(world.File("speech.wav"), O_WRONLY | O_TRUNC);
    ASSERT_GE(created, 0);
    close(created);
    EXPECT_EQ(ReadBytes(world.File("speech.wav")).size(), 0u);
}

TEST_F(NamedPipeTest, OriginalsSessionsAndCopiesRefuseAPipe) {
    EXPECT_EQ(WithinTenSeconds([&] {
                  RecordingFrontend ui;
                  OriginalFile original;
                  WaveSampleReader reader;
                  return !OpenOriginal(ui, pipe, original) && !OpenWaveForReading(ui, pipe) && !reader.Open(pipe) &&
                         ui.Texts() == std::vector<std::string>{"Could not open file " + pipe + ".",
                                                                "Cannot open file : " + pipe};
              }),
              0);
    EXPECT_EQ(WithinTenSeconds([&] {
                  RecordingFrontend ui;
                  Evaluator ev(ui, world.Config());
                  return ev.Startup() && !ev.OpenSession(pipe) &&
                         ui.Texts() == std::vector<std::string>{"Could not open session file."};
              }),
              0);
    EXPECT_EQ(WithinTenSeconds([&] {
                  RecordingFrontend ui;
                  return !CopyFile(ui, pipe, world.File("copy.wav")) &&
                         ui.Texts() == std::vector<std::string>{"Could not open file to rename file."};
              }),
              0);
}

TEST_F(NamedPipeTest, TheBatchRefusesAPipeAsOriginalSessionOrOneOfSeveral) {
    // `env` runs what follows its settings: the program under a time limit,
    // killed (and the test failed) if it waits for a writer.
    const std::string limit = "timeout -s KILL 60";
    Outcome run = RunVtbench(world, "--batch " + pipe, limit);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Could not open file " + pipe + "."), std::string::npos) << run.err;
    run = RunVtbench(world, "--batch --session " + pipe, limit);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Could not open session file."), std::string::npos) << run.err;
    run = RunVtbench(world, "--batch " + world.File("speech.wav") + " " + pipe + " -j 1", limit);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Could not open file " + pipe + "."), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("2 originals, 1 run, 1 refused"), std::string::npos) << run.out;
    // Read through libsndfile (--resample), alone or in a corpus.
    run = RunVtbench(world, "--batch " + pipe + " --resample", limit);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("cannot read " + pipe + ": not a regular file"), std::string::npos) << run.err;
    run = RunVtbench(world, "--batch " + world.File("speech.wav") + " " + pipe + " --resample -j 1", limit);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("cannot read " + pipe + ": not a regular file"), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("2 originals, 1 run, 1 refused"), std::string::npos) << run.out;
}

} // namespace
