// What the window tests share: prompts answered by the test, a sound card
// played by the test, a private temporary folder and user hive, and wave
// files made on the spot.
#pragma once

#include "core/frontend.hpp"
#include "gui/logic/listening_stream.hpp"
#include "gui/sound/sound_devices.hpp"
#include "gui/window/prompts.hpp"

#include <QAudioDevice>
#include <QByteArray>
#include <QDialog>
#include <QMediaDevices>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <cstdint>
#include <deque>
#include <functional>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

namespace vntr::gui::test {

// The first `length` samples of a listening track.
inline std::vector<int16_t> WholeTrack(const ListeningStream::Track &track, int64_t length) {
    std::vector<int16_t> out(static_cast<std::size_t>(length));
    track->Read(0, out);
    return out;
}

// Answers in place of the user and remembers what was asked.
class ScriptedPrompts final : public Prompts {
public:
    struct Shown {
        QString title;
        evaluator::MessageIcon icon;
        QString text;
    };
    std::vector<Shown> messages;
    QStringList questions;
    std::deque<evaluator::Answer> answers; // No when the script has run out
    std::vector<FilePurpose> fileRequests;
    std::deque<std::optional<QString>> files; // nothing when the script has run out
    std::function<int(QDialog &)> onDialog;   // rejects when unset
    QStringList dialogTitles;
    std::vector<QUrl> urls;
    bool browserStarts = true;

    void Message(QWidget *, const QString &title, evaluator::MessageIcon icon, const QString &text) override {
        messages.push_back({title, icon, text});
    }
    evaluator::Answer Question(QWidget *, const QString &, const QString &text, evaluator::QuestionButtons) override {
        questions.push_back(text);
        if (answers.empty()) return evaluator::Answer::No;
        const auto answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::optional<QString> ChooseFile(QWidget *, FilePurpose purpose) override {
        fileRequests.push_back(purpose);
        if (files.empty()) return std::nullopt;
        auto file = files.front();
        files.pop_front();
        return file;
    }
    int RunDialog(QDialog &dialog) override {
        dialogTitles.push_back(dialog.windowTitle());
        return onDialog ? onDialog(dialog) : QDialog::Rejected;
    }
    bool OpenUrl(const QUrl &url) override {
        urls.push_back(url);
        return browserStarts;
    }

    QStringList MessageTexts() const {
        QStringList texts;
        for (const auto &m : messages) texts << m.text;
        return texts;
    }
    void Clear() {
        messages.clear();
        questions.clear();
        fileRequests.clear();
        dialogTitles.clear();
    }
};

// A sound card under the test's control.
struct FakeSound {
    bool refuseOutput = false;
    bool refuseInput = false;
    int outputStarts = 0;
    bool outputActive = false;
    bool lastLoop = false;
    PcmClip lastClip;
    qint64 playedUs = 0;
    PcmSource *stream = nullptr; // what a started stream pulls from
    QAudioFormat streamFormat;
    int streamStarts = 0;
    bool inputActive = false;
    QAudioFormat inputFormat;
    SoundInput::Sink sink;

    SoundDevices Devices();
    // Pulls `frames` sample frames of the playing stream, as the sound card would.
    QByteArray Pull(int frames) {
        QByteArray bytes(frames * streamFormat.bytesPerFrame(), '\0');
        if (outputActive && stream != nullptr) stream->ReadPcm(bytes.data(), bytes.size());
        return bytes;
    }
    // Delivers samples as the sound card would while recording.
    void Deliver(const QByteArray &pcm) {
        if (inputActive && sink) sink(pcm.constData(), pcm.size());
    }
};

class FakeOutput final : public SoundOutput {
public:
    explicit FakeOutput(FakeSound &s) : s_(s) {}
    bool Start(const PcmClip &clip, bool loop) override {
        if (s_.refuseOutput) return false;
        ++s_.outputStarts;
        s_.outputActive = true;
        s_.lastLoop = loop;
        s_.lastClip = clip;
        s_.stream = nullptr;
        return true;
    }
    bool StartStream(const QAudioFormat &format, PcmSource &source) override {
        if (s_.refuseOutput) return false;
        ++s_.streamStarts;
        s_.outputActive = true;
        s_.stream = &source;
        s_.streamFormat = format;
        return true;
    }
    void Stop() override {
        s_.outputActive = false;
        s_.stream = nullptr;
    }
    qint64 PlayedUs() const override { return s_.playedUs; }

private:
    FakeSound &s_;
};

class FakeInput final : public SoundInput {
public:
    explicit FakeInput(FakeSound &s) : s_(s) {}
    bool Start(const QAudioFormat &format, Sink sink) override {
        if (s_.refuseInput) return false;
        s_.inputActive = true;
        s_.inputFormat = format;
        s_.sink = std::move(sink);
        return true;
    }
    void Stop() override {
        s_.inputActive = false;
        s_.sink = nullptr;
    }

private:
    FakeSound &s_;
};

inline SoundDevices FakeSound::Devices() {
    return {std::make_unique<FakeOutput>(*this), std::make_unique<FakeInput>(*this)};
}

// 16-bit samples of a sine of `amplitude` (0..1 of full scale).
inline QByteArray Tone(int rate, double seconds, double hz, double amplitude, int channels = 1) {
    const int frames = static_cast<int>(rate * seconds);
    QByteArray pcm(frames * channels * 2, '\0');
    auto *out = reinterpret_cast<unsigned char *>(pcm.data());
    for (int i = 0; i < frames; ++i) {
        const auto v =
            static_cast<int16_t>(std::lround(amplitude * 32767 * std::sin(2 * std::numbers::pi * hz * i / rate)));
        for (int c = 0; c < channels; ++c) {
            out[(i * channels + c) * 2] = static_cast<unsigned char>(v & 0xFF);
            out[(i * channels + c) * 2 + 1] = static_cast<unsigned char>((v >> 8) & 0xFF);
        }
    }
    return pcm;
}

// Writes a PCM wave file (16-byte fmt chunk, as most tools write them).
bool WriteWave(const QString &path, int rate, int channels, int bits, const QByteArray &pcm);

// Speech from codec2-examples: 4 s at 8000 Hz, 16 bit, mono.
inline QString SpeechWave() {
    return QStringLiteral("/usr/share/codec2/wav/mmt1.wav");
}

// The 8 kHz speech made 11025 Hz by linear interpolation, for the codecs
// that take 11 kHz (and the 8 kHz ones fed a down-sampled copy).
bool WriteSpeechAt11k(const QString &path);

// A private temporary folder and user hive, and the staged codecs of the
// build tree.  The user hive is set for this process.
class TestPlace {
public:
    TestPlace();
    QString Temp() const { return temp_.path() + "/tmp"; }
    QString Files() const { return temp_.path() + "/files"; }
    QString File(const QString &name) const { return Files() + "/" + name; }
    QString UserHive() const { return temp_.path() + "/user.hive"; }
    std::string StageRoot() const { return VNTR_TEST_STAGE_ROOT; }

private:
    QTemporaryDir temp_;
};

// Device tests need a sound server: they skip without one, unless
// VNTR_REQUIRE_SOUND is set (CI starts a server and sets it), when they fail.
#define VNTR_NEED_SOUND()                                                                                              \
    do {                                                                                                               \
        if (QMediaDevices::defaultAudioOutput().isNull() || QMediaDevices::defaultAudioInput().isNull()) {             \
            if (qEnvironmentVariableIsSet("VNTR_REQUIRE_SOUND"))                                                       \
                QFAIL("VNTR_REQUIRE_SOUND is set but there is no sound server with an output and an input");           \
            QSKIP("no sound server");                                                                                  \
        }                                                                                                              \
    } while (0)

} // namespace vntr::gui::test
