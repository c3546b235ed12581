#include "external_scorer.hpp"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

extern char **environ;

namespace vntr::evaluator {
namespace {

constexpr std::size_t kKeptOutput = 64 * 1024; // the tail of what a tool prints that is kept

bool IsSeparator(char c) {
    return std::strchr(" \t\r\n\f\v,;:=()[]{}\"'", c) != nullptr && c != '\0';
}

// Appends `bytes` to `text`, keeping its last kKeptOutput bytes.
void KeepTail(std::string &text, const char *bytes, std::size_t n) {
    text.append(bytes, n);
    if (text.size() > 2 * kKeptOutput) text.erase(0, text.size() - kKeptOutput);
}

// The last line of `text` that is not blank.
std::string LastLine(const std::string &text) {
    std::size_t end = text.find_last_not_of(" \t\r\n");
    if (end == std::string::npos) return "";
    const std::size_t start = text.find_last_of('\n', end);
    return text.substr(start == std::string::npos ? 0 : start + 1,
                       end + 1 - (start == std::string::npos ? 0 : start + 1));
}

struct Pipe {
    int fd[2] = {-1, -1};
    ~Pipe() {
        for (int f : fd) {
            if (f >= 0) close(f);
        }
    }
    bool Open() { return pipe2(fd, O_CLOEXEC) == 0; }
    void CloseEnd(int which) {
        if (fd[which] >= 0) close(fd[which]);
        fd[which] = -1;
    }
};

} // namespace

bool LastNumber(const std::string &text, double &value) {
    bool found = false;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsSeparator(text[i])) ++i;
        std::size_t end = i;
        while (end < text.size() && !IsSeparator(text[end])) ++end;
        if (end > i) {
            const std::string word = text.substr(i, end - i);
            char *stop = nullptr;
            errno = 0;
            const double v = std::strtod(word.c_str(), &stop);
            if (stop == word.c_str() + word.size() && errno == 0 && std::isfinite(v)) {
                value = v;
                found = true;
            }
        }
        i = end;
    }
    return found;
}

bool SplitCommand(const std::string &line, std::vector<std::string> &words, std::string &error) {
    words.clear();
    std::string word;
    bool inWord = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\n') {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else if (c == '\'') {
            const std::size_t close = line.find('\'', i + 1);
            if (close == std::string::npos) {
                error = "unterminated quote in the scorer command";
                return false;
            }
            word += line.substr(i + 1, close - i - 1);
            inWord = true;
            i = close;
        } else if (c == '"') {
            std::size_t j = i + 1;
            for (; j < line.size() && line[j] != '"'; ++j) {
                // Inside double quotes a backslash quotes only these.
                if (line[j] == '\\' && j + 1 < line.size() && std::strchr("\"\\$`", line[j + 1]) != nullptr) ++j;
                word += line[j];
            }
            if (j >= line.size()) {
                error = "unterminated quote in the scorer command";
                return false;
            }
            inWord = true;
            i = j;
        } else if (c == '\\') {
            if (i + 1 >= line.size()) {
                error = "the scorer command ends with a backslash";
                return false;
            }
            word += line[++i];
            inWord = true;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return true;
}

std::shared_ptr<ExternalScorer> ExternalScorer::Parse(const std::string &command, std::string &error) {
    auto scorer = std::make_shared<ExternalScorer>();
    if (!SplitCommand(command, scorer->words_, error)) return nullptr;
    if (scorer->words_.empty() || scorer->words_.front().empty()) {
        error = "no scorer command given";
        return nullptr;
    }
    bool ref = false;
    bool deg = false;
    for (std::size_t i = 1; i < scorer->words_.size(); ++i) {
        ref = ref || scorer->words_[i].find("{ref}") != std::string::npos;
        deg = deg || scorer->words_[i].find("{deg}") != std::string::npos;
    }
    if (!ref || !deg) {
        error = "the scorer command must name the reference as {ref} and the decoded file as {deg}";
        return nullptr;
    }
    scorer->command_ = command;
    const std::string &program = scorer->words_.front();
    const std::size_t slash = program.find_last_of('/');
    scorer->name_ = slash == std::string::npos ? program : program.substr(slash + 1);
    if (scorer->name_.empty()) {
        error = "the scorer command names no program";
        return nullptr;
    }
    return scorer;
}

std::vector<std::string> ExternalScorer::Arguments(const std::string &reference, const std::string &decoded) const {
    std::vector<std::string> args = words_;
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string out;
        const std::string &word = args[i];
        for (std::size_t at = 0; at < word.size();) {
            if (word.compare(at, 5, "{ref}") == 0) {
                out += reference;
                at += 5;
            } else if (word.compare(at, 5, "{deg}") == 0) {
                out += decoded;
                at += 5;
            } else {
                out += word[at++];
            }
        }
        args[i] = std::move(out);
    }
    return args;
}

ExternalScore ExternalScorer::Score(const std::string &reference, const std::string &decoded) {
    ExternalScore score;
    {
        const std::lock_guard<std::mutex> hold(lock_);
        ++tried_;
        if (!cannotStart_.empty()) {
            ++failed_;
            score.note = cannotStart_;
            return score;
        }
    }
    auto fail = [&](std::string note, bool startFailure) {
        const std::lock_guard<std::mutex> hold(lock_);
        ++failed_;
        if (firstFailure_.empty()) firstFailure_ = note;
        if (startFailure && cannotStart_.empty()) cannotStart_ = note;
        score.note = std::move(note);
        return score;
    };

    const std::vector<std::string> args = Arguments(reference, decoded);
    std::vector<char *> argv;
    for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);

    Pipe out;
    Pipe err;
    if (!out.Open() || !err.Open()) return fail(std::string("cannot make a pipe: ") + std::strerror(errno), false);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out.fd[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err.fd[1], 2);
    pid_t child = -1;
    const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return fail("cannot run " + args.front() + ": " + std::strerror(spawned), true);
    }
    out.CloseEnd(1);
    err.CloseEnd(1);

    std::string printed;
    std::string complaints;
    pollfd fds[2] = {{out.fd[0], POLLIN, 0}, {err.fd[0], POLLIN, 0}};
    int open = 2;
    char buffer[4096];
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd < 0 || fds[k].revents == 0) continue;
            const ssize_t n = read(fds[k].fd, buffer, sizeof buffer);
            if (n > 0) {
                KeepTail(k == 0 ? printed : complaints, buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                fds[k].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {}
    const std::string said = LastLine(complaints);
    if (WIFSIGNALED(status)) {
        return fail(args.front() + " was ended by signal " + std::to_string(WTERMSIG(status)) +
                        (said.empty() ? "" : ": " + said),
                    false);
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127 && printed.empty()) {
        // posix_spawnp reports a program it could not execute this way on some systems.
        return fail("cannot run " + args.front() + (said.empty() ? "" : ": " + said), true);
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return fail(args.front() + " exited with status " + std::to_string(WEXITSTATUS(status)) +
                        (said.empty() ? "" : ": " + said),
                    false);
    }
    double value = 0;
    if (!LastNumber(printed, value)) {
        return fail(args.front() + " printed no number" + (said.empty() ? "" : ": " + said), false);
    }
    score.valid = true;
    score.value = value;
    return score;
}

std::string ExternalScorer::Summary() const {
    const std::lock_guard<std::mutex> hold(lock_);
    if (failed_ == 0) return "";
    return "the scorer " + name_ + " gave no score for " + std::to_string(failed_) + " of " + std::to_string(tried_) +
           (tried_ == 1 ? " pair: " : " pairs: ") + firstFailure_;
}

} // namespace vntr::evaluator
