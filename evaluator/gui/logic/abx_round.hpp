// A blind A/B/X round: the listener knows A and B; X is one of them, drawn
// at random for every trial, and the listener says which.  The round keeps
// the score and the chance of doing as well by guessing.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace vntr::gui {

// One answered trial, with the names of the signals, as the log keeps it.
struct AbxTrial {
    int round = 0; // counted from 1 over the rounds logged
    int trial = 0; // counted from 1 within the round
    std::string original;
    std::string a;
    std::string b;
    std::string x;      // the name X stood for
    std::string answer; // the name the listener said X was
    bool Right() const { return x == answer; }
};

// The log as CSV: a header line, then one line per trial (RFC 4180 quoting):
// round,trial,original,a,b,x,answer,right
std::string AbxCsv(const std::vector<AbxTrial> &trials);

class AbxRound {
public:
    // Starts a round of `trials` (at least 1) between the signals `a` and
    // `b`; a given seed makes the draw repeatable.
    void Start(int a, int b, int trials, uint32_t seed);
    void Abandon();

    bool Running() const { return running_; }
    bool Finished() const { return !running_ && Answered() > 0 && Answered() == Trials(); }
    int A() const { return a_; }
    int B() const { return b_; }
    int Trials() const { return static_cast<int>(xIsA_.size()); }
    int Answered() const { return static_cast<int>(answers_.size()); }
    int Correct() const;

    // The signal X stands for in the trial under way (only while running).
    int X() const;
    // The listener's answer for the trial under way; false when no round is
    // running.  The next trial starts, or the round ends after the last.
    bool Answer(bool xIsA);
    // Answered trial `index` (0-based) as the log keeps it; `names` are the
    // signals' names by the numbers A() and B() use.
    AbxTrial Logged(int index, int round, const std::string &original, const std::vector<std::string> &names) const;
    // Whether each answered trial was right, in order.
    std::vector<bool> History() const;

    // The chance of at least Correct() right answers in Answered() trials by
    // guessing (one-sided binomial, p = 1/2); 1 before any answer.
    double GuessingChance() const;
    // "Trial 3 of 10" while running; "7 of 10 right (by guessing: 17.2 %)" after.
    std::string Text() const;

private:
    bool running_ = false;
    int a_ = -1;
    int b_ = -1;
    std::vector<bool> xIsA_;
    std::vector<bool> answers_; // the listener's "X is A" per answered trial
};

} // namespace vntr::gui
