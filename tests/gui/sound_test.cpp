// Sound files and the sound card: clips read from wave files, recordings
// written as wave files, and, with a sound server, real playback and
// recording through the server's default devices.
#include "gui_test_support.hpp"

#include "core/wavefile.hpp"
#include "gui/commands.hpp"
#include "gui/sound/listening_player.hpp"
#include "gui/sound/pcm_clip.hpp"
#include "gui/sound/quiet_frontend.hpp"
#include "gui/sound/recording_buffer.hpp"
#include "gui/window/main_window.hpp"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

using namespace vntr::gui;
using namespace vntr::gui::test;

class SoundTest : public QObject {
    Q_OBJECT
private slots:
    void audioFormatsOfFormatWords();
    void clipsFromWaveFiles();
    void clipPeaksFollowThePosition();
    void recordingsBecomeWaveFiles();
    void recordingPeakIsTakenOnce();
    void devicePlaysAClip();
    void deviceRecordsInTheChosenFormat();
    void deviceHearsWhatIsPlayed();
    void windowRecordsAndPlaysThroughTheServer();
    void listeningPlayheadFollowsTheDevice();
    void listeningSinglePassEndsOnTheDevice();
};

void SoundTest::audioFormatsOfFormatWords() {
    const QAudioFormat standard = AudioFormatOf(CODEC_FMT_PCM16_MONO_8KHZ);
    QCOMPARE(standard.sampleRate(), 8000);
    QCOMPARE(standard.channelCount(), 1);
    QCOMPARE(standard.sampleFormat(), QAudioFormat::Int16);
    const QAudioFormat stereo8 = AudioFormatOf(0x1000000 | 0x200 | 0x1000 | 0x2);
    QCOMPARE(stereo8.sampleRate(), 48000);
    QCOMPARE(stereo8.channelCount(), 2);
    QCOMPARE(stereo8.sampleFormat(), QAudioFormat::UInt8);
    // A word without a rate, a channel or a width flag makes no format.
    QVERIFY(!AudioFormatOf(0x2102).isValid());
    QVERIFY(!AudioFormatOf(0x12002).isValid());
    QVERIFY(!AudioFormatOf(0x10102).isValid());
    QVERIFY(!AudioFormatOf(0).isValid());
}

void SoundTest::clipsFromWaveFiles() {
    const auto speech = LoadPcmClip(SpeechWave().toStdString(), CODEC_FMT_PCM16_MONO_8KHZ);
    QVERIFY(speech.has_value());
    QCOMPARE(speech->pcm.size(), 64000);
    QCOMPARE(speech->DurationUs(), 4'000'000);
    TestPlace place;
    // A stereo file's odd trailing bytes are no sample frame.
    const QString odd = place.File("odd.wav");
    QVERIFY(WriteWave(odd, 8000, 2, 16, Tone(8000, 0.01, 100, 0.5, 2) + QByteArray(3, '\x01')));
    const auto stereo = LoadPcmClip(odd.toStdString(), 0x12202);
    QVERIFY(stereo.has_value());
    QCOMPARE(stereo->pcm.size(), 320);
    // What cannot be played gives nothing: no file, no wave, no samples, no format.
    QVERIFY(!LoadPcmClip(place.File("missing.wav").toStdString(), CODEC_FMT_PCM16_MONO_8KHZ));
    QFile text(place.File("text.wav"));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("RIFF but not really");
    text.close();
    QVERIFY(!LoadPcmClip(text.fileName().toStdString(), CODEC_FMT_PCM16_MONO_8KHZ));
    const QString empty = place.File("empty.wav");
    QVERIFY(WriteWave(empty, 8000, 1, 16, {}));
    QVERIFY(!LoadPcmClip(empty.toStdString(), CODEC_FMT_PCM16_MONO_8KHZ));
    QVERIFY(!LoadPcmClip(SpeechWave().toStdString(), 0x2));
}

void SoundTest::clipPeaksFollowThePosition() {
    PcmClip clip;
    clip.format = AudioFormatOf(CODEC_FMT_PCM16_MONO_8KHZ);
    clip.pcm = QByteArray(8000, '\0') + Tone(8000, 0.5, 500, 0.5); // 0.5 s silence, 0.5 s tone
    QCOMPARE(ClipPeakAt(clip, 0, 40000, false), 0.0);
    QCOMPARE(ClipPeakAt(clip, 480000, 40000, false), 0.5); // the window reaches the tone
    QCOMPARE(ClipPeakAt(clip, 600000, 40000, false), 0.5);
    QCOMPARE(ClipPeakAt(clip, 1000000, 40000, false), 0.0); // finished
    QCOMPARE(ClipPeakAt(clip, 1600000, 40000, true), 0.5);  // looping
    QCOMPARE(ClipPeakAt(clip, 1100000, 40000, true), 0.0);
    // Across the loop's seam the start is included.
    PcmClip seam = clip;
    seam.pcm = Tone(8000, 0.5, 500, 0.25) + QByteArray(8000, '\0');
    QCOMPARE(ClipPeakAt(seam, 990000, 40000, true), 0.25);
    QCOMPARE(ClipPeakAt(seam, 990000, 40000, false), 0.0);
    QCOMPARE(ClipPeakAt(PcmClip{}, 0, 40000, true), 0.0);
    QCOMPARE(ClipPeakAt(clip, -5, 40000, false), 0.0);
}

void SoundTest::recordingsBecomeWaveFiles() {
    TestPlace place;
    RecordingBuffer recording;
    recording.Start(CODEC_FMT_PCM16_MONO | CODEC_FMT_11KHZ);
    const QByteArray tone = Tone(11025, 0.5, 440, 0.3);
    recording.Append(tone.constData(), tone.size());
    recording.Append("\x01", 1); // half a sample: not written
    QCOMPARE(recording.Bytes(), tone.size() + 1);
    const std::string path = place.File("rec.wav").toStdString();
    QVERIFY(recording.Save(path));
    QuietFrontend quiet;
    vntr::evaluator::OriginalFile original;
    QVERIFY(vntr::evaluator::OpenOriginal(quiet, path, original));
    QCOMPARE(original.formatFlags, 0x22102u);
    QCOMPARE(original.dataBytes, static_cast<uint32_t>(tone.size()));
    QCOMPARE(original.durationText, std::string("0.50 sec"));
    // An 8-bit stereo recording of an odd number of bytes.
    recording.Start(0x11202); // 8 kHz, 8 bit, stereo
    QCOMPARE(recording.Bytes(), 0);
    recording.Append(QByteArray(2001, char(128)).constData(), 2001);
    const std::string eight = place.File("rec8.wav").toStdString();
    QVERIFY(recording.Save(eight));
    QVERIFY(vntr::evaluator::OpenOriginal(quiet, eight, original));
    QCOMPARE(original.formatText, std::string("8000 Hz, PCM 8 bit STEREO"));
    QCOMPARE(original.dataBytes, 2000u);
    // A folder that does not exist.
    QVERIFY(!recording.Save(place.File("none/rec.wav").toStdString()));
    QVERIFY(quiet.first.empty()); // the core's messages stay quiet
}

void SoundTest::recordingPeakIsTakenOnce() {
    RecordingBuffer recording;
    recording.Start(CODEC_FMT_PCM16_MONO_8KHZ);
    const QByteArray loud = Tone(8000, 0.05, 200, 0.75);
    recording.Append(loud.constData(), loud.size());
    QVERIFY(std::abs(recording.TakePeak() - 0.75) < 0.001);
    QCOMPARE(recording.TakePeak(), 0.0);
    const QByteArray silence(400, '\0');
    recording.Append(silence.constData(), silence.size());
    QCOMPARE(recording.TakePeak(), 0.0);
}

void SoundTest::devicePlaysAClip() {
    VNTR_NEED_SOUND();
    SoundDevices devices = MakeSystemSoundDevices();
    PcmClip clip;
    clip.format = AudioFormatOf(CODEC_FMT_PCM16_MONO_8KHZ);
    clip.pcm = Tone(8000, 0.3, 440, 0.5);
    QVERIFY(devices.output->Start(clip, false));
    QTRY_VERIFY_WITH_TIMEOUT(devices.output->PlayedUs() >= 250000, 3000);
    devices.output->Stop();
    QCOMPARE(devices.output->PlayedUs(), 0);
    // Looping plays beyond the clip; other formats play as well.
    clip.format = AudioFormatOf(0x20000 | 0x200 | 0x1000 | 0x2);
    clip.pcm = QByteArray(11025 * 2 / 10, char(128));
    QVERIFY(devices.output->Start(clip, true));
    QTRY_VERIFY_WITH_TIMEOUT(devices.output->PlayedUs() >= 300000, 3000);
    devices.output->Stop();
}

void SoundTest::deviceRecordsInTheChosenFormat() {
    VNTR_NEED_SOUND();
    SoundDevices devices = MakeSystemSoundDevices();
    qint64 received = 0;
    QVERIFY(devices.input->Start(AudioFormatOf(CODEC_FMT_PCM16_MONO_8KHZ),
                                 [&](const char *, qint64 bytes) { received += bytes; }));
    QElapsedTimer clock;
    clock.start();
    QTRY_VERIFY_WITH_TIMEOUT(received >= 8000, 3000); // half a second at 16000 bytes a second
    devices.input->Stop();
    const qint64 after = received;
    QTest::qWait(200);
    QCOMPARE(received, after); // nothing arrives once stopped
    // Bytes arrive at the rate of the format, not faster.
    QVERIFY(received <= 16 * clock.elapsed() + 8000);
}

void SoundTest::deviceHearsWhatIsPlayed() {
    VNTR_NEED_SOUND();
    SoundDevices devices = MakeSystemSoundDevices();
    RecordingBuffer heard;
    heard.Start(CODEC_FMT_PCM16_MONO_8KHZ);
    QVERIFY(devices.input->Start(AudioFormatOf(CODEC_FMT_PCM16_MONO_8KHZ),
                                 [&](const char *data, qint64 bytes) { heard.Append(data, bytes); }));
    PcmClip clip;
    clip.format = AudioFormatOf(CODEC_FMT_PCM16_MONO_8KHZ);
    clip.pcm = Tone(8000, 1.0, 440, 0.5);
    QVERIFY(devices.output->Start(clip, true));
    QTest::qWait(300);
    heard.TakePeak();
    QTest::qWait(500);
    const double peak = heard.TakePeak();
    devices.output->Stop();
    devices.input->Stop();
    // The server's resampling moves the peak a little.
    QVERIFY2(peak > 0.35 && peak < 0.65, qPrintable(QString::number(peak)));
}

void SoundTest::windowRecordsAndPlaysThroughTheServer() {
    VNTR_NEED_SOUND();
    TestPlace place;
    ScriptedPrompts prompts;
    MainWindow::Setup setup;
    setup.config.systemRoot = place.StageRoot();
    setup.config.tempDir = place.Temp().toStdString();
    setup.prompts = &prompts;
    MainWindow w(std::move(setup));
    QVERIFY(w.Start());
    w.Command(kCmdRecord);
    QCOMPARE(w.Core().State(), vntr::evaluator::DisplayState::Recording);
    QTest::qWait(700);
    w.Command(kCmdRecord);
    QCOMPARE(w.Core().State(), vntr::evaluator::DisplayState::Idle);
    QVERIFY(w.UnsavedRecording());
    const auto &original = w.Core().Original();
    QVERIFY(original.Exists());
    QVERIFY2(original.seconds > 0.3f && original.seconds < 1.5f, qPrintable(QString::number(original.seconds)));
    // Now play it back to its end.
    w.Command(kBtnPlayOriginal);
    QCOMPARE(w.PlayingCommand(), int(kBtnPlayOriginal));
    QTRY_COMPARE_WITH_TIMEOUT(w.PlayingCommand(), 0, 5000);
    // Only the unsupported-rate messages of the two 11 and 22 kHz codecs.
    for (const auto &m : prompts.messages) QVERIFY2(m.text.startsWith("Sampling Frequency"), qPrintable(m.text));
}

namespace {

// Three seconds of a ramp of tones, at 8 kHz.
ListeningStream::Track ThreeSeconds() {
    const QByteArray pcm = Tone(8000, 3.0, 300, 0.3);
    std::vector<int16_t> track(static_cast<std::size_t>(pcm.size() / 2));
    std::memcpy(track.data(), pcm.constData(), static_cast<std::size_t>(pcm.size()));
    return MemoryTrack(std::move(track));
}

} // namespace

void SoundTest::listeningPlayheadFollowsTheDevice() {
    VNTR_NEED_SOUND();
    SoundDevices devices = MakeSystemSoundDevices();
    ListeningPlayer player;
    player.SetOutput(devices.output.get());
    player.SetTracks(8000, {ThreeSeconds(), ThreeSeconds()}, 24000);
    // A loop from 1.0 s to 1.3 s.
    QElapsedTimer clock;
    clock.start();
    QVERIFY(player.Play(8000, 10400, true));
    QTRY_VERIFY_WITH_TIMEOUT(devices.output->PlayedUs() >= 700000, 4000);
    for (int i = 0; i < 5; ++i) {
        // The playhead is where the device's played time puts it in the loop.
        const qint64 before = devices.output->PlayedUs();
        const int64_t position = player.Position();
        const qint64 after = devices.output->PlayedUs();
        const int64_t low = 8000 + (before * 8 / 1000) % 2400;
        const int64_t high = 8000 + (after * 8 / 1000) % 2400;
        const bool inside = low <= high ? position >= low && position <= high : position >= low || position <= high;
        QVERIFY2(inside, qPrintable(QStringLiteral("%1 not in %2..%3").arg(position).arg(low).arg(high)));
        QVERIFY(position >= 8000 && position < 10400);
        // More was handed to the server than it has played: the handed count is no playhead.
        QVERIFY(player.Stream().Handed() > after * 8 / 1000);
        QTest::qWait(37);
    }
    // The played time keeps up with the clock (the null sink plays in real time).
    const double played = devices.output->PlayedUs() / 1e6;
    const double wall = clock.elapsed() / 1e3;
    QVERIFY2(played <= wall + 0.02 && played > wall - 0.4,
             qPrintable(QStringLiteral("%1 s in %2 s").arg(played).arg(wall)));
    // A switch keeps the stream: the device is not started again.
    const qint64 beforeSwitch = devices.output->PlayedUs();
    player.Select(1);
    QTest::qWait(100);
    QVERIFY(devices.output->PlayedUs() > beforeSwitch);
    // A switch is heard as soon as what was handed ahead has played: a
    // fraction of a second, not the second a buffered device would hold.
    const double aheadMs = static_cast<double>(player.Stream().Handed() - player.PlayedSamples()) / 8.0;
    qInfo("handed ahead of played: %.0f ms", aheadMs);
    QVERIFY2(aheadMs < 400, qPrintable(QString::number(aheadMs)));
    player.Stop();
    QCOMPARE(devices.output->PlayedUs(), 0);
}

void SoundTest::listeningSinglePassEndsOnTheDevice() {
    VNTR_NEED_SOUND();
    SoundDevices devices = MakeSystemSoundDevices();
    ListeningPlayer player;
    player.SetOutput(devices.output.get());
    player.SetTracks(8000, {ThreeSeconds()}, 24000);
    QSignalSpy stopped(&player, &ListeningPlayer::Stopped);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(player.Play(4000, 6000, false)); // 0.25 s
    QTRY_VERIFY_WITH_TIMEOUT(!stopped.isEmpty(), 3000);
    // It stops when the device has played it all, not when it was handed over.
    QVERIFY2(clock.elapsed() >= 230, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!player.Playing());
    QCOMPARE(player.Position(), int64_t(6000));
    // May not play: nothing starts.
    player.SetOutput(devices.output.get(), [] { return false; });
    QVERIFY(!player.Play(0, 0, false));
}

QTEST_MAIN(SoundTest)
#include "sound_test.moc"
