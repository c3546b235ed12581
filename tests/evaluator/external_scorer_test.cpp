// The external scorer: how its command line is read, which number of a
// tool's output is its score, and what a tool that fails, is missing or
// prints nothing gives; file names reach the tool as they are, whatever
// they hold.
#include "eval_support.hpp"

#include "core/external_scorer.hpp"

#include <sys/stat.h>

#include <fstream>
#include <sstream>

using namespace vntr::evaluator;
using namespace vntr::test;

namespace {

// A shell script `name` in `dir` with `body`, executable.
std::string Script(const TempDir &dir, const std::string &name, const std::string &body) {
    const std::string path = dir / name;
    std::ofstream(path) << "#!/bin/sh\n" << body;
    chmod(path.c_str(), 0755);
    return path;
}

std::string ReadText(const std::string &path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

TEST(ExternalScorerTest, CommandsAreSplitAsAShellSplitsThemAndNeedBothFiles) {
    std::vector<std::string> words;
    std::string error;
    ASSERT_TRUE(SplitCommand(R"(  /opt/p\ 863/polqa  --mode 'nb  x' "say \"hi\" \q" {ref}  {deg})", words, error));
    EXPECT_EQ(words,
              (std::vector<std::string>{"/opt/p 863/polqa", "--mode", "nb  x", "say \"hi\" \\q", "{ref}", "{deg}"}));
    ASSERT_TRUE(SplitCommand("a '' b", words, error));
    EXPECT_EQ(words, (std::vector<std::string>{"a", "", "b"}));
    EXPECT_FALSE(SplitCommand("pesq '{ref} {deg}", words, error));
    EXPECT_EQ(error, "unterminated quote in the scorer command");
    EXPECT_FALSE(SplitCommand("pesq {ref} {deg} \\", words, error));

    const auto scorer = ExternalScorer::Parse("/usr/local/bin/pesq +8000 --ref={ref} {deg}", error);
    ASSERT_NE(scorer, nullptr) << error;
    EXPECT_EQ(scorer->Name(), "pesq");
    EXPECT_EQ(scorer->Arguments("a b.wav", "{ref}.wav"),
              (std::vector<std::string>{"/usr/local/bin/pesq", "+8000", "--ref=a b.wav", "{ref}.wav"}));
    EXPECT_EQ(ExternalScorer::Parse("pesq {ref}", error), nullptr);
    EXPECT_EQ(error, "the scorer command must name the reference as {ref} and the decoded file as {deg}");
    EXPECT_EQ(ExternalScorer::Parse("{ref} {deg}", error), nullptr); // the program is not a file
    EXPECT_EQ(ExternalScorer::Parse("   ", error), nullptr);
    EXPECT_EQ(error, "no scorer command given");
    EXPECT_EQ(ExternalScorer::Parse("tools/ {ref} {deg}", error), nullptr);
}

TEST(ExternalScorerTest, TheScoreIsTheLastNumberPrinted) {
    double v = 0;
    ASSERT_TRUE(LastNumber("P.862 Prediction (Raw MOS, MOS-LQO):  = 2.345\t2.100\n", v));
    EXPECT_EQ(v, 2.1);
    ASSERT_TRUE(LastNumber("MOS-LQO=3.5e0;\nsamples 16000, done\n", v));
    EXPECT_EQ(v, 16000);
    ASSERT_TRUE(LastNumber("-1.25 nan inf 4.5dB", v)); // neither non-finite values nor "4.5dB" are numbers
    EXPECT_EQ(v, -1.25);
    EXPECT_FALSE(LastNumber("no score\n", v));
    EXPECT_FALSE(LastNumber("", v));
}

TEST(ExternalScorerTest, FileNamesReachTheToolAsSeparateArgumentsUnread) {
    TempDir dir;
    const std::string tool = Script(dir, "args",
                                    "printf '%s\\n' \"$#\" \"$1\" \"$2\" > \"$(dirname \"$0\")/seen\"\n"
                                    "echo 'score: 4.25'\n");
    std::string error;
    const auto scorer = ExternalScorer::Parse("'" + tool + "' {ref} {deg}", error);
    ASSERT_NE(scorer, nullptr) << error;
    const std::string ref = dir / "a b; touch pwned; $(touch pwned2) `touch pwned3`.wav";
    const std::string deg = dir / "it's \"quoted\" && echo 9.wav";
    const ExternalScore s = scorer->Score(ref, deg);
    ASSERT_TRUE(s.valid) << s.note;
    EXPECT_EQ(s.value, 4.25);
    EXPECT_EQ(ReadText(dir / "seen"), "2\n" + ref + "\n" + deg + "\n");
    for (const char *name : {"pwned", "pwned2", "pwned3"}) EXPECT_FALSE(fs::exists(dir / name)) << name;
    EXPECT_EQ(scorer->Summary(), "");
}

TEST(ExternalScorerTest, FailingMissingAndSilentToolsGiveNoScoreAndOneSummary) {
    TempDir dir;
    std::string error;
    const auto failing = ExternalScorer::Parse(
        Script(dir, "failing", "echo 3.9\necho 'cannot read the file' >&2\nexit 3\n") + " {ref} {deg}", error);
    ASSERT_NE(failing, nullptr) << error;
    ExternalScore s = failing->Score("r.wav", "d.wav");
    EXPECT_FALSE(s.valid); // a number printed before failing is not a score
    EXPECT_EQ(s.note, dir / "failing exited with status 3: cannot read the file");
    failing->Score("r.wav", "d.wav");
    EXPECT_EQ(failing->Summary(), "the scorer failing gave no score for 2 of 2 pairs: " + s.note);

    const auto silent = ExternalScorer::Parse(Script(dir, "silent", "echo 'no MOS today'\n") + " {ref} {deg}", error);
    ASSERT_NE(silent, nullptr) << error;
    s = silent->Score("r.wav", "d.wav");
    EXPECT_FALSE(s.valid);
    EXPECT_EQ(s.note, dir / "silent printed no number");

    const auto missing = ExternalScorer::Parse(dir / "nowhere/pesq {ref} {deg}", error);
    ASSERT_NE(missing, nullptr) << error;
    EXPECT_EQ(missing->Name(), "pesq");
    for (int i = 0; i < 3; ++i) {
        s = missing->Score("r.wav", "d.wav");
        EXPECT_FALSE(s.valid);
        EXPECT_EQ(s.note, "cannot run " + (dir / "nowhere/pesq") + ": No such file or directory");
    }
    EXPECT_EQ(missing->Summary(), "the scorer pesq gave no score for 3 of 3 pairs: " + s.note);

    const auto notOnPath = ExternalScorer::Parse("vntr-no-such-scorer {ref} {deg}", error);
    ASSERT_NE(notOnPath, nullptr) << error;
    s = notOnPath->Score("r.wav", "d.wav");
    EXPECT_EQ(s.note, "cannot run vntr-no-such-scorer: No such file or directory");

    // A tool that says much on both outputs is read to the end (no pipe fills up).
    const auto chatty = ExternalScorer::Parse(
        Script(dir, "chatty",
               "i=0\nwhile [ $i -lt 20000 ]; do echo \"line $i of noise\"; echo warn >&2; i=$((i+1)); done\n"
               "echo 1.5\n") +
            " {ref} {deg}",
        error);
    ASSERT_NE(chatty, nullptr) << error;
    s = chatty->Score("r.wav", "d.wav");
    ASSERT_TRUE(s.valid) << s.note;
    EXPECT_EQ(s.value, 1.5);
}
