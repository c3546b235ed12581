// Without a sound server (this test runs with a server address that leads
// nowhere): recording and playing give their messages, and nothing hangs.
#include "gui_test_support.hpp"

#include "gui/commands.hpp"
#include "gui/window/main_window.hpp"
#include "gui/window/tool_button.hpp"

#include <QMediaDevices>
#include <QTest>

using namespace vntr::gui;
using namespace vntr::gui::test;

class NoSoundTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void devicesRefuse();
    void windowGivesItsMessages();
};

void NoSoundTest::initTestCase() {
    // Run outside ctest this test still needs a server that does not answer.
    if (!qEnvironmentVariable("PULSE_SERVER").contains("nowhere")) QSKIP("run with PULSE_SERVER=unix:/nowhere");
}

void NoSoundTest::devicesRefuse() {
    QVERIFY(QMediaDevices::defaultAudioOutput().isNull());
    QVERIFY(!SoundServerAvailable());
    SoundDevices devices = MakeSystemSoundDevices();
    PcmClip clip;
    clip.format = AudioFormatOf(CODEC_FMT_PCM16_MONO_8KHZ);
    clip.pcm = Tone(8000, 0.1, 440, 0.5);
    QVERIFY(!devices.output->Start(clip, false));
    QVERIFY(!devices.input->Start(clip.format, [](const char *, qint64) {}));
    devices.output->Stop();
    devices.input->Stop();
    QCOMPARE(devices.output->PlayedUs(), 0);
}

void NoSoundTest::windowGivesItsMessages() {
    TestPlace place;
    ScriptedPrompts prompts;
    MainWindow::Setup setup;
    setup.config.systemRoot = place.StageRoot();
    setup.config.tempDir = place.Temp().toStdString();
    setup.prompts = &prompts;
    MainWindow w(std::move(setup));
    QVERIFY(w.Start());
    w.Command(kCmdRecord);
    QCOMPARE(prompts.MessageTexts(), QStringList{"Could not start recording.\nWave driver might be busy."});
    QCOMPARE(prompts.messages[0].title, QString("Vantre QBL Evaluator: Error"));
    QCOMPARE(w.Core().State(), vntr::evaluator::DisplayState::Idle);
    QVERIFY(w.Action(kCmdOpen)->isEnabled());
    prompts.Clear();
    prompts.files.push_back(SpeechWave());
    w.Command(kCmdOpen);
    prompts.Clear();
    w.Command(kBtnPlayOriginal);
    QCOMPARE(prompts.MessageTexts(), QStringList{"Could not play file mmt1.wav. Your sound driver could be in use"});
    QCOMPARE(w.PlayingCommand(), 0);
    QVERIFY(w.Action(kCmdProcess)->isEnabled());
    // The rest of the program works: process and play a decoded file.
    w.Command(kCmdProcess);
    QCOMPARE(w.Core().State(), vntr::evaluator::DisplayState::Results);
    prompts.Clear();
    int row = 0;
    while (row < w.Rows() && w.SlotAtRow(row)->Name() != "VT180") ++row;
    QVERIFY(w.Button(kBtnPlayRow0 + row)->isEnabled());
    w.Command(kBtnPlayRow0 + row);
    QCOMPARE(prompts.messages.size(), 1u);
    QVERIFY(prompts.messages[0].text.endsWith(". Your sound driver could be in use"));
}

QTEST_MAIN(NoSoundTest)
#include "nosound_test.moc"
