// Helpers of the evaluator's tests: temporary folders and hives, a front end
// that records what the core shows, wave files made to order, and the fake
// codec library.
#pragma once

#include "fake/fake_control.h"

#include "core/evaluator.hpp"
#include "core/frontend.hpp"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vntr::test {

namespace fs = std::filesystem;

class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "vntr-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &Path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

class ScopedEnv {
public:
    ScopedEnv(const char *name, const std::string &value) : name_(name) {
        if (const char *old = getenv(name)) old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    const char *name_;
    std::optional<std::string> old_;
};

struct Shown {
    std::string title;
    std::string text;
};

// Records every message; answers questions as told; can ask to stop a run
// after a number of pumped frames.
class RecordingFrontend : public evaluator::Frontend {
public:
    void ShowMessage(const std::string &title, evaluator::MessageIcon, const std::string &text) override {
        messages.push_back({title, text});
    }
    evaluator::Answer AskQuestion(const std::string &title, const std::string &text,
                                  evaluator::QuestionButtons) override {
        questions.push_back({title, text});
        return answer;
    }
    void ShowProgress(const evaluator::ProgressLines &lines) override { progress.push_back(lines); }
    void PumpEvents() override {
        ++pumps;
        if (onPump) onPump(pumps);
    }
    bool CancelRequested() override { return cancelAfterPumps >= 0 && pumps >= cancelAfterPumps; }

    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const auto &m : messages) texts.push_back(m.text);
        return texts;
    }
    bool Saw(const std::string &text) const {
        for (const auto &m : messages) {
            if (m.text == text) return true;
        }
        return false;
    }

    std::vector<Shown> messages;
    std::vector<Shown> questions;
    std::vector<evaluator::ProgressLines> progress;
    evaluator::Answer answer = evaluator::Answer::No;
    int pumps = 0;
    int cancelAfterPumps = -1;
    std::function<void(int)> onPump;
};

inline void PutLe16(std::vector<uint8_t> &b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void PutLe32(std::vector<uint8_t> &b, uint32_t v) {
    PutLe16(b, static_cast<uint16_t>(v));
    PutLe16(b, static_cast<uint16_t>(v >> 16));
}
inline void PutId(std::vector<uint8_t> &b, const char *id) {
    b.insert(b.end(), id, id + 4);
}

// A wave file's parts, each of which a test may spoil.
struct WaveSpec {
    uint16_t tag = 1;
    uint16_t channels = 1;
    uint32_t rate = 8000;
    uint16_t blockAlign = 2;
    uint16_t bits = 16;
    std::vector<uint8_t> data;
    int32_t riffSizeDelta = 0; // added to the correct RIFF size
    int32_t dataSizeDelta = 0; // added to the data chunk's size field
    bool withFmt = true;
    bool withData = true;
    uint32_t fmtSize = 16;
    const char *form = "WAVE";
};

inline std::vector<uint8_t> MakeWave(const WaveSpec &w) {
    std::vector<uint8_t> b;
    PutId(b, "RIFF");
    PutLe32(b, 0);
    PutId(b, w.form);
    if (w.withFmt) {
        PutId(b, "fmt ");
        PutLe32(b, w.fmtSize);
        std::vector<uint8_t> fmt;
        PutLe16(fmt, w.tag);
        PutLe16(fmt, w.channels);
        PutLe32(fmt, w.rate);
        PutLe32(fmt, w.rate * w.blockAlign);
        PutLe16(fmt, w.blockAlign);
        PutLe16(fmt, w.bits);
        fmt.resize(w.fmtSize, 0);
        b.insert(b.end(), fmt.begin(), fmt.end());
    }
    if (w.withData) {
        PutId(b, "data");
        PutLe32(b, static_cast<uint32_t>(static_cast<int64_t>(w.data.size()) + w.dataSizeDelta));
        b.insert(b.end(), w.data.begin(), w.data.end());
        if ((w.data.size() & 1) != 0) b.push_back(0);
    }
    const uint32_t riff = static_cast<uint32_t>(static_cast<int64_t>(b.size()) - 8 + w.riffSizeDelta);
    std::memcpy(&b[4], &riff, 4);
    return b;
}

inline void WriteBytes(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> ReadBytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::vector<uint8_t> Pcm16(const std::vector<int16_t> &samples) {
    std::vector<uint8_t> b;
    for (const int16_t s : samples) PutLe16(b, static_cast<uint16_t>(s));
    return b;
}

// A 16-bit mono wave of `samples` samples of a slow ramp.
inline std::vector<uint8_t> SpeechLikeWave(uint32_t rate, std::size_t samples) {
    std::vector<int16_t> s(samples);
    for (std::size_t i = 0; i < samples; ++i) s[i] = static_cast<int16_t>((i * 37) % 20000 - 10000);
    WaveSpec w;
    w.rate = rate;
    w.data = Pcm16(s);
    return MakeWave(w);
}

inline std::string FakeRoot() {
    return VNTR_TEST_FAKE_ROOT;
}
inline std::string FakePath(const std::string &name) {
    return FakeRoot() + "/VNTR/QBL/" + name + ".so";
}

// One fake library, opened by the test so that its control block outlives
// the evaluator's own load of it.
class FakeLibrary {
public:
    explicit FakeLibrary(const std::string &name) {
        handle_ = dlopen(FakePath(name).c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) throw std::runtime_error(dlerror());
        control = static_cast<FakeControl *>(dlsym(handle_, "fake_control"));
        table = static_cast<CodecOrdinalTable *>(dlsym(handle_, CODEC_ORDINAL_TABLE_SYMBOL));
        reinterpret_cast<void (*)()>(dlsym(handle_, "fake_reset"))();
        saved_ = *table;
    }
    ~FakeLibrary() {
        *table = saved_;
        dlclose(handle_);
    }
    FakeLibrary(const FakeLibrary &) = delete;
    FakeLibrary &operator=(const FakeLibrary &) = delete;
    int32_t Register() const { return reinterpret_cast<CodecRegisterFn>(dlsym(handle_, "DllRegisterServer"))(); }
    int32_t Unregister() const { return reinterpret_cast<CodecRegisterFn>(dlsym(handle_, "DllUnregisterServer"))(); }

    FakeControl *control = nullptr;
    CodecOrdinalTable *table = nullptr;

private:
    void *handle_ = nullptr;
    CodecOrdinalTable saved_{};
};

// A private world for one test: hives, system root of the fake libraries
// and a temporary folder.
class EvaluatorWorld {
public:
    EvaluatorWorld()
        : machine_("VNTR_MACHINE_HIVE", dir_ / "machine.hive"), user_("VNTR_USER_HIVE", dir_ / "user.hive"),
          root_("VNTR_WINDIR", FakeRoot()) {
        fs::create_directories(dir_ / "tmp");
    }
    evaluator::EvaluatorConfig Config() const {
        evaluator::EvaluatorConfig config;
        config.systemRoot = FakeRoot();
        config.tempDir = dir_ / "tmp";
        return config;
    }
    std::string TempFolder() const { return dir_ / "tmp/"; }
    std::string File(const std::string &name) const { return dir_ / name; }
    std::vector<std::string> TempFiles() const {
        std::vector<std::string> names;
        for (const auto &entry : fs::directory_iterator(dir_ / "tmp")) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    TempDir dir_;
    ScopedEnv machine_;
    ScopedEnv user_;
    ScopedEnv root_;
};

} // namespace vntr::test
