// A quality tool the user has installed (a licensed P.862 or P.863 program,
// for example), run on each reference/decoded pair of a run: `--scorer` in
// batch runs, the "External scorer" setting of the window.
//
// The command is a line such as `pesq +8000 {ref} {deg}`.  It is split into
// words as a POSIX shell splits them (blanks; single quotes, double quotes
// and backslashes quote), but no shell ever runs it: the program named by
// the first word is started with the words as its arguments, `{ref}` and
// `{deg}` replaced inside them by the two files' paths, so that no file name
// can add an argument or a command.  The tool's score is the last number it
// prints on its standard output.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vntr::evaluator {

struct ExternalScore {
    bool valid = false;
    double value = 0;
    std::string note; // why there is no score ("exited with status 2: ...")
};

// The last number in `text` (a word that reads whole as a finite number,
// words being separated by blanks and by , ; : = ( ) [ ] { } and quotes);
// false when there is none.
bool LastNumber(const std::string &text, double &value);

// `line` split into words as a shell splits them; false with the reason
// ("unterminated quote") when it cannot be.
bool SplitCommand(const std::string &line, std::vector<std::string> &words, std::string &error);

class ExternalScorer {
public:
    // The scorer of a command line, or null with the reason in `error`: an
    // empty command, a quote left open, or no `{ref}` or no `{deg}`.
    static std::shared_ptr<ExternalScorer> Parse(const std::string &command, std::string &error);

    const std::string &Command() const { return command_; }
    // The base name of the command's first word ("pesq"): the column's name.
    const std::string &Name() const { return name_; }
    // The arguments the tool is started with for one pair.
    std::vector<std::string> Arguments(const std::string &reference, const std::string &decoded) const;

    // Runs the tool on two 16-bit wave files and waits for it; any thread.
    // A tool that cannot be started (missing, not executable) is not tried
    // again in the same run: every later pair gets the same note at once.
    ExternalScore Score(const std::string &reference, const std::string &decoded);

    // What the run saw: the pairs tried and those that gave no score, and
    // the first reason.  Empty when every pair was scored: otherwise the one
    // message of the run ("the scorer pesq gave no score for 3 of 30 pairs:
    // exited with status 1: ...").
    std::string Summary() const;

private:
    std::string command_;
    std::string name_;
    std::vector<std::string> words_;
    mutable std::mutex lock_;
    std::size_t tried_ = 0;
    std::size_t failed_ = 0;
    std::string firstFailure_;
    std::string cannotStart_; // set once the tool could not be started
};

} // namespace vntr::evaluator
