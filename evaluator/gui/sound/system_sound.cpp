// Playback and recording with Qt Multimedia on raw PCM.
//
// The played device never reports its end: after the clip it yields silence
// (or the clip again when looping) until the window stops the sink.  A sink
// whose source ends starts a drain on the sound server's thread, and a sink
// destroyed before the drain completes can be called back after it is gone;
// a source that never ends avoids the drain altogether.
#include "gui/sound/sound_devices.hpp"

#include <QAudioDevice>
#include <QAudioSink>
#include <QAudioSource>
#include <QIODevice>
#include <QMediaDevices>

#include <algorithm>
#include <cstring>

namespace vntr::gui {
namespace {

class ClipDevice final : public QIODevice {
public:
    ClipDevice(QByteArray pcm, bool loop) : pcm_(std::move(pcm)), loop_(loop) { open(QIODevice::ReadOnly); }
    bool isSequential() const override { return true; }
    bool atEnd() const override { return false; }
    qint64 bytesAvailable() const override { return 1 << 16; }

protected:
    qint64 readData(char *data, qint64 max) override {
        qint64 done = 0;
        while (done < max) {
            const qint64 left = pcm_.size() - pos_;
            if (left <= 0) {
                if (loop_ && !pcm_.isEmpty()) {
                    pos_ = 0;
                    continue;
                }
                std::memset(data + done, 0, static_cast<std::size_t>(max - done));
                return max;
            }
            const qint64 n = std::min(left, max - done);
            std::memcpy(data + done, pcm_.constData() + pos_, static_cast<std::size_t>(n));
            pos_ += n;
            done += n;
        }
        return done;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray pcm_;
    bool loop_;
    qint64 pos_ = 0;
};

// A source that is asked for its bytes as the sink pulls them.
class StreamDevice final : public QIODevice {
public:
    // Unbuffered: a buffered device reads 16 KiB ahead (a second at 8 kHz),
    // and a switch of track would be heard that late.
    StreamDevice(PcmSource &source, int frameBytes) : source_(source), frame_(std::max(frameBytes, 1)) {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }
    bool atEnd() const override { return false; }
    qint64 bytesAvailable() const override { return 1 << 16; }

protected:
    qint64 readData(char *data, qint64 max) override {
        const qint64 n = max / frame_ * frame_;
        if (n > 0) source_.ReadPcm(data, n);
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    PcmSource &source_;
    int frame_;
};

// What the sound server holds of a stream before it is heard: a switch of
// the listened track is heard about this late.
constexpr qint64 kStreamBufferUs = 120000;

class SystemOutput final : public SoundOutput {
public:
    ~SystemOutput() override { Stop(); }

    bool Start(const PcmClip &clip, bool loop) override {
        Stop();
        const QAudioDevice device = QMediaDevices::defaultAudioOutput();
        if (device.isNull() || !clip.format.isValid() || !device.isFormatSupported(clip.format)) return false;
        source_ = std::make_unique<ClipDevice>(clip.pcm, loop);
        return StartSink(device, clip.format, 0);
    }

    bool StartStream(const QAudioFormat &format, PcmSource &source) override {
        Stop();
        const QAudioDevice device = QMediaDevices::defaultAudioOutput();
        if (device.isNull() || !format.isValid() || !device.isFormatSupported(format)) return false;
        source_ = std::make_unique<StreamDevice>(source, format.bytesPerFrame());
        return StartSink(device, format, format.bytesForDuration(kStreamBufferUs));
    }

    void Stop() override {
        if (sink_) {
            sink_->stop();
            sink_.reset();
        }
        source_.reset();
    }

    qint64 PlayedUs() const override { return sink_ ? sink_->processedUSecs() : 0; }

private:
    bool StartSink(const QAudioDevice &device, const QAudioFormat &format, qint64 bufferBytes) {
        sink_ = std::make_unique<QAudioSink>(device, format);
        if (bufferBytes > 0) sink_->setBufferSize(bufferBytes);
        sink_->start(source_.get());
        // Without a server start() returns at once, stopped, with no signal.
        if (sink_->error() != QAudio::NoError || sink_->state() == QAudio::StoppedState) {
            Stop();
            return false;
        }
        return true;
    }

    std::unique_ptr<QIODevice> source_;
    std::unique_ptr<QAudioSink> sink_;
};

class SystemInput final : public SoundInput {
public:
    ~SystemInput() override { Stop(); }

    bool Start(const QAudioFormat &format, Sink sink) override {
        Stop();
        const QAudioDevice device = QMediaDevices::defaultAudioInput();
        if (device.isNull() || !format.isValid() || !device.isFormatSupported(format)) return false;
        source_ = std::make_unique<QAudioSource>(device, format);
        QIODevice *io = source_->start();
        if (io == nullptr || source_->error() != QAudio::NoError || source_->state() == QAudio::StoppedState) {
            Stop();
            return false;
        }
        QObject::connect(io, &QIODevice::readyRead, io, [io, sink = std::move(sink)] {
            const QByteArray data = io->readAll();
            if (!data.isEmpty()) sink(data.constData(), data.size());
        });
        return true;
    }

    void Stop() override {
        if (source_) {
            source_->stop();
            source_.reset();
        }
    }

private:
    std::unique_ptr<QAudioSource> source_;
};

} // namespace

SoundDevices MakeSystemSoundDevices() {
    return {std::make_unique<SystemOutput>(), std::make_unique<SystemInput>()};
}

bool SoundServerAvailable() {
    return !QMediaDevices::defaultAudioOutput().isNull() && !QMediaDevices::defaultAudioInput().isNull();
}

} // namespace vntr::gui
