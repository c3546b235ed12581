#include "gui/logic/abx_round.hpp"

#include "report/corpus_report.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vntr::gui {

void AbxRound::Start(int a, int b, int trials, uint32_t seed) {
    a_ = a;
    b_ = b;
    answers_.clear();
    xIsA_.clear();
    std::mt19937 random(seed);
    std::bernoulli_distribution coin(0.5);
    for (int i = 0; i < std::max(trials, 1); ++i) xIsA_.push_back(coin(random));
    running_ = true;
}

void AbxRound::Abandon() {
    running_ = false;
    answers_.clear();
    xIsA_.clear();
}

int AbxRound::Correct() const {
    int right = 0;
    for (std::size_t i = 0; i < answers_.size(); ++i) right += answers_[i] == xIsA_[i] ? 1 : 0;
    return right;
}

int AbxRound::X() const {
    if (!running_) return -1;
    return xIsA_[answers_.size()] ? a_ : b_;
}

bool AbxRound::Answer(bool xIsA) {
    if (!running_) return false;
    answers_.push_back(xIsA);
    if (answers_.size() == xIsA_.size()) running_ = false;
    return true;
}

AbxTrial AbxRound::Logged(int index, int round, const std::string &original,
                          const std::vector<std::string> &names) const {
    AbxTrial t;
    if (index < 0 || index >= Answered()) return t;
    const auto name = [&](int signal) {
        return signal >= 0 && signal < static_cast<int>(names.size()) ? names[static_cast<std::size_t>(signal)]
                                                                      : std::to_string(signal);
    };
    const auto i = static_cast<std::size_t>(index);
    t.round = round;
    t.trial = index + 1;
    t.original = original;
    t.a = name(a_);
    t.b = name(b_);
    t.x = name(xIsA_[i] ? a_ : b_);
    t.answer = name(answers_[i] ? a_ : b_);
    return t;
}

std::string AbxCsv(const std::vector<AbxTrial> &trials) {
    using report::CsvField;
    std::string text = "round,trial,original,a,b,x,answer,right\n";
    for (const AbxTrial &t : trials) {
        text += std::to_string(t.round) + "," + std::to_string(t.trial) + "," + CsvField(t.original) + "," +
                CsvField(t.a) + "," + CsvField(t.b) + "," + CsvField(t.x) + "," + CsvField(t.answer) + "," +
                (t.Right() ? "1" : "0") + "\n";
    }
    return text;
}

std::vector<bool> AbxRound::History() const {
    std::vector<bool> right;
    for (std::size_t i = 0; i < answers_.size(); ++i) right.push_back(answers_[i] == xIsA_[i]);
    return right;
}

double AbxRound::GuessingChance() const {
    const int n = Answered();
    const int k = Correct();
    if (n == 0) return 1.0;
    // Sum over j >= k of C(n, j) / 2^n, in logarithms to stay finite.
    double chance = 0;
    for (int j = k; j <= n; ++j) {
        const double logTerm =
            std::lgamma(n + 1.0) - std::lgamma(j + 1.0) - std::lgamma(n - j + 1.0) - n * std::log(2.0);
        chance += std::exp(logTerm);
    }
    return std::min(chance, 1.0);
}

std::string AbxRound::Text() const {
    char text[96];
    if (running_) {
        std::snprintf(text, sizeof text, "Trial %d of %d", Answered() + 1, Trials());
    } else if (Answered() > 0) {
        std::snprintf(text, sizeof text, "%d of %d right (by guessing: %.1f %%)", Correct(), Answered(),
                      100.0 * GuessingChance());
    } else {
        return {};
    }
    return text;
}

} // namespace vntr::gui
