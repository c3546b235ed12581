// The main window with the staged codecs, a scripted user and a sound card
// under the test's control: commands and their enabling, the result rows and
// the status area, the save questions, sessions, recording and playback.
#include "gui_test_support.hpp"
#include "window_bench.hpp"

#include "core/pipeline.hpp"
#include "core/session.hpp"
#include "gui/commands.hpp"
#include "gui/dialogs/codec_options_dialog.hpp"
#include "gui/dialogs/control_ids.hpp"
#include "gui/dialogs/record_settings_dialog.hpp"
#include "gui/dialogs/select_codecs_dialog.hpp"
#include "gui/window/main_window.hpp"
#include "gui/window/signal_view.hpp"
#include "gui/window/tool_button.hpp"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QInputDialog>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>

#include <memory>

using namespace vntr::gui;
using namespace vntr::gui::test;
using vntr::evaluator::Answer;
using vntr::evaluator::DisplayState;
using vntr::evaluator::MessageIcon;

namespace {

const QString kErrorTitle = "Vantre QBL Evaluator: Error";

} // namespace

class WindowTest : public QObject {
    Q_OBJECT
private slots:
    void startUpShowsTheEmptyWindow();
    void menuHoldsEveryCommand();
    void startsWithoutCodecs();
    void openingAnOriginalMatchesTheCodecs();
    void aFailedOpenKeepsTheWindowAsItWas();
    void processingShowsResultsSortedByBitRate();
    void clicksOnTheBars();
    void rightClickSetsCodecOptions();
    void externalScorerIsSetCheckedAndKept();
    void dualRateCoderKeepsItsModeThroughASession();
    void saveQuestions_data();
    void saveQuestions();
    void selectCodecsChangesRowsAndSize();
    void savingACodedFileDisablesItsButton();
    void sessionSavedAndReopenedFromTheCommandLine();
    void sessionOfAnEightKilohertzOriginalReopensCleanly();
    void breakCancelsTheRun();
    void closingIsRefusedWhileWorking();
    void closingAsksSavesPreferencesAndCleansUp();
    void damagedHivesAreNamedAfterTheirMessages();
    void recordingMakesAnUntitledOriginal();
    void recordingAt11kFeedsTheDownsampledCopy();
    void recordingRefusedChangesNothing();
    void recordingThatCannotBeSavedKeepsTheOriginal();
    void playButtonsToggleAndSwitch();
    void endOfPlayStopsTheSound();
    void loopPlayKeepsPlayingUntilPressed();
    void playRefusedShowsTheMessage();
    void meterFollowsThePlayedSamples();
    void helpOpensThePage();
    void recordSettingsCommandSetsTheFormat();
    void signalViewShowsTheDetailRow();
    void screenshotAfterResults();
};

void WindowTest::startUpShowsTheEmptyWindow() {
    Bench b;
    QVERIFY(b.started);
    MainWindow &w = b.w();
    QCOMPARE(w.windowTitle(), QString("Vantre Quibell Evaluator V5.00"));
    QVERIFY(!w.windowIcon().isNull());
    QCOMPARE(b.prompts.messages.size(), 0u);
    // Every codec library the build registers (at most 20; the staged ones
    // beyond are for vtregsvr), at least the three audio coders, each with a row.
    const int n = b.Codecs();
    QCOMPARE(n, VNTR_TEST_REGISTERED_CODEC_COUNT);
    QVERIFY(n <= static_cast<int>(QDir(QString(VNTR_TEST_STAGE_ROOT) + "/VNTR/QBL").entryList({"*.so"}).size()));
    QVERIFY(n <= 20);
    QVERIFY(n >= 3);
    QCOMPARE(w.Rows(), n);
    // Not resizable, and sized by the rule.
    QCOMPARE(w.minimumSize(), w.maximumSize());
    QCOMPARE(w.size(), b.layout().WindowSize(n));
    const float u = (w.fontMetrics().height() + 4) / 5.0f;
    QCOMPARE(b.layout().Unit(), u);
    QCOMPARE(w.size().height(), static_cast<int>(std::lround((5 * n + 47) * u)) + 140);
    // Greyed at start: save recording, save session, process; and the buttons.
    QVERIFY(!w.Action(kCmdSaveRecording)->isEnabled());
    QVERIFY(!w.Action(kCmdSaveSession)->isEnabled());
    QVERIFY(!w.Action(kCmdProcess)->isEnabled());
    QVERIFY(!w.Button(kBtnProcess)->isEnabled());
    QVERIFY(!w.Button(kBtnPlayOriginal)->isEnabled());
    QVERIFY(!w.Button(kBtnSaveRecording)->isEnabled());
    QVERIFY(w.Button(kBtnOpen)->isEnabled());
    QVERIFY(w.Button(kBtnRecord)->isEnabled());
    // The tool buttons: 5u square at y = 2u.
    QCOMPARE(w.Button(kBtnOpen)->geometry(), b.layout().ToolButton(5));
    QCOMPARE(w.Button(kBtnRecord)->geometry(), b.layout().ToolButton(10));
    QCOMPARE(w.Button(kBtnProcess)->geometry(), b.layout().ToolButton(15));
    QCOMPARE(w.Button(kBtnPlayOriginal)->geometry(), b.layout().ToolButton(30));
    QCOMPARE(w.Button(kBtnSaveRecording)->geometry(), b.layout().ToolButton(35));
    // One row per codec, nothing to play or save yet.
    for (int r = 0; r < n; ++r) {
        QVERIFY(!w.Button(kBtnPlayRow0 + r)->isEnabled());
        QVERIFY(!w.Button(kBtnSaveRow0 + r)->isEnabled());
        QCOMPARE(w.Button(kBtnPlayRow0 + r)->geometry(), b.layout().RowPlayButton(r));
        QVERIFY(!w.Area()->Model().rows[static_cast<std::size_t>(r)].hasResults);
    }
    QVERIFY(w.Button(kBtnPlayRow0 + n) == nullptr);
    QCOMPARE(b.Status().first(), QString("To start a processing :"));
    QVERIFY(!w.Area()->Model().originalExists);
    QVERIFY(w.BreakButton() == nullptr);
    QVERIFY(!w.ProgressBar()->isVisible());
    // Commands that are not offered do nothing.
    w.Command(kCmdProcess);
    QCOMPARE(b.prompts.messages.size(), 0u);
    QCOMPARE(w.Core().State(), DisplayState::Idle);
}

void WindowTest::menuHoldsEveryCommand() {
    Bench b;
    const QMenuBar *bar = b.w().menuBar();
    QCOMPARE(bar->objectName(), QString("VTBENCHMENU"));
    const struct {
        int id;
        const char *text;
    } kItems[] = {{256, "&Open..."},   {257, "&Record..."},        {258, "&Save Recorded File"},
                  {259, "&Process!"},  {260, "&Load Session"},     {261, "Save Session &Output"},
                  {262, "E&xit"},      {263, "Select &Codecs..."}, {264, "&Record settings..."},
                  {265, "&Loop Play"}, {272, "&Contents"},         {274, "&How to Use Help"},
                  {275, "&About..."}};
    QList<QAction *> reachable;
    for (QAction *top : bar->actions()) {
        reachable << top;
        if (top->menu()) reachable << top->menu()->actions();
    }
    for (const auto &item : kItems) {
        QAction *action = b.w().Action(item.id);
        QVERIFY2(action, item.text);
        QCOMPARE(action->text(), QString(item.text));
        QCOMPARE(action->property("command").toInt(), item.id);
        QVERIFY2(reachable.contains(action), item.text);
    }
    // "&Process!" is an item of the menu bar itself.
    QVERIFY(bar->actions().contains(b.w().Action(kCmdProcess)));
    QAction *loop = b.w().Action(kCmdLoopPlay);
    QVERIFY(loop->isCheckable());
    QVERIFY(!loop->isChecked());
    loop->trigger();
    QVERIFY(loop->isChecked());
    QVERIFY(b.w().LoopPlay());
    b.w().Command(kCmdLoopPlay);
    QVERIFY(!loop->isChecked());
    QVERIFY(!b.w().LoopPlay());
}

void WindowTest::startsWithoutCodecs() {
    QTemporaryDir empty; // a system root without the codec libraries
    Bench b(empty.path().toStdString());
    QVERIFY(b.started);
    // One message per registered library, then the summary.
    const QStringList texts = b.prompts.MessageTexts();
    QVERIFY(texts.size() >= 4);
    for (int i = 0; i + 1 < texts.size(); ++i) {
        QVERIFY2(texts[i].startsWith("ERROR IN INITIALIZATION : Failed to load library "), qPrintable(texts[i]));
    }
    QVERIFY(texts.contains(QString("ERROR IN INITIALIZATION : Failed to load library VT180")));
    QCOMPARE(texts.last(), QString("ERROR IN INITIALIZATION : missing SDK or Evaluator !"));
    QCOMPARE(b.w().Rows(), 0);
    QCOMPARE(b.w().size(), b.layout().WindowSize(0));
    QVERIFY(b.Open(SpeechWave()));
    b.prompts.Clear();
    b.w().Command(kCmdProcess);
    QCOMPARE(b.prompts.MessageTexts(), QStringList{"No codec selected. Before processing, select which codecs to use "
                                                   "in Options|Select Codecs."});
    QCOMPARE(b.w().Core().State(), DisplayState::Idle);
}

void WindowTest::openingAnOriginalMatchesTheCodecs() {
    Bench b;
    QVERIFY(b.Open(SpeechWave()));
    QCOMPARE(b.prompts.fileRequests, (std::vector<FilePurpose>{FilePurpose::OpenOriginal}));
    // Two codecs cannot take 8 kHz: one message each, with the error title and icon.
    QCOMPARE(b.prompts.messages.size(), 2u);
    for (const auto &m : b.prompts.messages) {
        QCOMPARE(m.title, kErrorTitle);
        QCOMPARE(m.icon, MessageIcon::Error);
    }
    QCOMPARE(b.prompts.MessageTexts(), (QStringList{"Sampling Frequency of 8 kHz is not supported by VT250f11.",
                                                    "Sampling Frequency of 8 kHz is not supported by VT500f22."}));
    const DisplayModel &m = b.w().Area()->Model();
    QVERIFY(m.originalExists);
    QCOMPARE(m.originalName, std::string("mmt1.wav"));
    QCOMPARE(m.formatText, std::string("8000 Hz, PCM 16 bit MONO"));
    QCOMPARE(m.durationText, std::string("4.00 sec"));
    QCOMPARE(m.originalBytes, 64000u);
    QVERIFY(b.w().Action(kCmdProcess)->isEnabled());
    QVERIFY(b.w().Button(kBtnProcess)->isEnabled());
    QVERIFY(b.w().Button(kBtnPlayOriginal)->isEnabled());
    QCOMPARE(b.w().Core().State(), DisplayState::Idle);
    // Closing the chooser changes nothing.
    b.prompts.Clear();
    b.w().Command(kCmdOpen);
    QCOMPARE(b.prompts.fileRequests.size(), 1u);
    QVERIFY(b.w().Core().Original().Exists());
}

void WindowTest::aFailedOpenKeepsTheWindowAsItWas() {
    Bench b;
    QVERIFY(b.Open(SpeechWave()));
    QFile junk(b.place.File("junk.wav"));
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write("not a wave file at all");
    junk.close();
    const auto refuse = [&] {
        b.prompts.Clear();
        b.prompts.files.push_back(junk.fileName());
        b.w().Command(kCmdOpen);
        QCOMPARE(b.prompts.MessageTexts(),
                 QStringList{QString("File %1 is not a wave file or is corrupted.").arg(junk.fileName())});
        QCOMPARE(b.w().Area()->Model().originalName, std::string("mmt1.wav"));
        QVERIFY(b.w().Action(kCmdProcess)->isEnabled());
        QVERIFY(b.w().Button(kBtnPlayOriginal)->isEnabled());
    };
    // Before a run: the original stays, ready to process.
    refuse();
    QCOMPARE(b.w().Core().State(), DisplayState::Idle);
    // After a run: the bars, the details shown, and the play and save buttons stay usable.
    b.w().Command(kCmdProcess);
    const int vt180 = b.RowOf("VT180");
    b.Click(vt180);
    const QStringList detail = b.Status();
    QCOMPARE(detail[0], QString("Veltrane(TM) 180 Audio Coder (18 kbps, 8 kHz)"));
    refuse();
    QCOMPARE(b.w().Core().State(), DisplayState::Results);
    QCOMPARE(b.w().DetailRow(), vt180 + 1);
    QCOMPARE(b.Status(), detail);
    QVERIFY(b.w().Area()->Model().rows[static_cast<std::size_t>(vt180)].hasResults);
    QVERIFY(b.w().Button(kBtnPlayRow0 + vt180)->isEnabled());
    QVERIFY(b.w().Button(kBtnSaveRow0 + vt180)->isEnabled());
    QVERIFY(b.w().Action(kCmdSaveSession)->isEnabled());
    // Playing that codec's decoded file still works.
    b.w().Command(kBtnPlayRow0 + vt180);
    QVERIFY(b.sound.outputActive);
    b.w().Command(kBtnPlayRow0 + vt180);
}

void WindowTest::processingShowsResultsSortedByBitRate() {
    Bench b;
    QVERIFY(b.OpenSpeechAt11k());
    QCOMPARE(b.prompts.MessageTexts(), QStringList{"Sampling Frequency of 11 kHz is not supported by VT500f22."});
    b.prompts.Clear();
    b.w().Command(kBtnProcess);
    QCOMPARE(b.prompts.messages.size(), 0u);
    QCOMPARE(b.w().Core().State(), DisplayState::Results);
    // Sorted by bit rate: VT500f22 has none (0 bit/s) and comes first; every
    // other codec ran (the 8 kHz ones on the down-sampled copy), in
    // ascending bit rate, VT180 (about 21 kbit/s) before VT250f11.
    const int n = b.Codecs();
    QCOMPARE(b.RowOf("VT500f22"), 0);
    QVERIFY(b.RowOf("VT180") < b.RowOf("VT250f11"));
    const auto &rows = b.w().Area()->Model().rows;
    QCOMPARE(static_cast<int>(rows.size()), n);
    QVERIFY(!rows[0].hasResults);
    QVERIFY(!b.w().Button(kBtnPlayRow0)->isEnabled());
    QVERIFY(!b.w().Button(kBtnSaveRow0)->isEnabled());
    for (int r = 1; r < n; ++r) {
        QVERIFY(rows[static_cast<std::size_t>(r)].hasResults);
        if (r > 1) QVERIFY(b.w().SlotAtRow(r - 1)->runBitRate <= b.w().SlotAtRow(r)->runBitRate);
        QCOMPARE(rows[static_cast<std::size_t>(r)].ratioText, vntr::evaluator::RatioText(*b.w().SlotAtRow(r)));
        QCOMPARE(rows[static_cast<std::size_t>(r)].bitRateText, vntr::evaluator::BitRateText(*b.w().SlotAtRow(r)));
        QVERIFY(b.w().Button(kBtnPlayRow0 + r)->isEnabled());
        QVERIFY(b.w().Button(kBtnSaveRow0 + r)->isEnabled());
    }
    const float vt180Ratio = rows[static_cast<std::size_t>(b.RowOf("VT180"))].ratio;
    QVERIFY(vt180Ratio > 4 && vt180Ratio < 8);
    QCOMPARE(b.Status().first(), QString("Processing terminated :"));
    QCOMPARE(b.w().DetailRow(), 0);
    QVERIFY(b.w().Action(kCmdSaveSession)->isEnabled());
    QVERIFY(!b.w().Action(kCmdSaveRecording)->isEnabled());
    QVERIFY(b.w().BreakButton() == nullptr);
    QVERIFY(!b.w().ProgressBar()->isVisible());
    QCOMPARE(b.w().size(), b.layout().WindowSize(n));
}

void WindowTest::clicksOnTheBars() {
    Bench b;
    QVERIFY(b.OpenSpeechAt11k());
    // Left clicks do nothing before there are results.
    b.Click(0);
    QCOMPARE(b.w().DetailRow(), 0);
    b.w().Command(kCmdProcess);
    const int vt180 = b.RowOf("VT180");
    b.Click(vt180);
    QCOMPARE(b.w().DetailRow(), vt180 + 1);
    const QStringList detail = b.Status();
    QCOMPARE(detail.size(), 5);
    QCOMPARE(detail[0], QString("Veltrane(TM) 180 Audio Coder (18 kbps, 8 kHz)"));
    QVERIFY2(detail[1].startsWith("Reduced ") && detail[1].endsWith("[! 8 kHz SF !]"), qPrintable(detail[1]));
    QVERIFY(detail[2].startsWith("Coding in "));
    QVERIFY(detail[3].startsWith("Decoding in "));
    QVERIFY2(detail[4].startsWith("SNR "), qPrintable(detail[4]));
    QVERIFY(b.w().Area()->Model().bracket);
    QVERIFY(b.w().Area()->Model().greenBullets);
    // The row without results shows the idle text, without a bracket.
    b.Click(b.RowOf("VT500f22"));
    QCOMPARE(b.Status().first(), QString("To start a processing :"));
    QVERIFY(!b.w().Area()->Model().bracket);
    // Outside the bars' band nothing changes.
    b.Click(vt180);
    QTest::mouseClick(b.w().Area(), Qt::LeftButton, {}, QPoint(b.layout().Px(39), b.BarPoint(vt180).y()));
    QTest::mouseClick(b.w().Area(), Qt::LeftButton, {}, QPoint(b.layout().Px(100), b.layout().Px(12)));
    QTest::mouseClick(b.w().Area(), Qt::LeftButton, {}, QPoint(b.layout().Px(100), b.layout().RowTop(b.Codecs()) + 2));
    QCOMPARE(b.w().DetailRow(), vt180 + 1);
    // A new run forgets the detail row.
    b.w().Command(kCmdProcess);
    QCOMPARE(b.w().DetailRow(), 0);
    QCOMPARE(b.Status().first(), QString("Processing terminated :"));
}

void WindowTest::externalScorerIsSetCheckedAndKept() {
    Bench b;
    auto answer = [&](const QString &text) {
        b.prompts.onDialog = [text](QDialog &dialog) {
            auto *input = qobject_cast<QInputDialog *>(&dialog);
            if (input == nullptr) return int(QDialog::Rejected);
            input->setTextValue(text);
            return int(QDialog::Accepted);
        };
    };
    QAction *action = b.w().Action(kCmdExternalScorer);
    QVERIFY(action && action->isEnabled());
    QCOMPARE(action->text(), QString("External &scorer..."));
    QCOMPARE(b.w().Core().ScorerCommand(), std::string());
    answer("  pesq +8000 {ref} {deg} ");
    b.w().Command(kCmdExternalScorer);
    QCOMPARE(b.w().Core().ScorerCommand(), std::string("pesq +8000 {ref} {deg}"));
    QVERIFY(b.w().Core().Config().scorer);
    QCOMPARE(b.w().Core().Config().scorer->Name(), std::string("pesq"));
    QVERIFY(b.prompts.messages.empty());
    // A command without the decoded file is refused, the one set kept.
    answer("pesq {ref}");
    b.w().Command(kCmdExternalScorer);
    QCOMPARE(b.prompts.MessageTexts(),
             QStringList{"The external scorer cannot be used: the scorer command must name the reference as {ref} "
                         "and the decoded file as {deg}."});
    QCOMPARE(b.w().Core().ScorerCommand(), std::string("pesq +8000 {ref} {deg}"));
    // Kept with the preferences: the next window starts with it.
    b.window.reset();
    QFile hive(b.place.UserHive());
    QVERIFY(hive.open(QIODevice::ReadOnly));
    QVERIFY(hive.readAll().contains("pesq +8000 {ref} {deg}"));
    MainWindow::Setup setup;
    setup.config.systemRoot = VNTR_TEST_STAGE_ROOT;
    setup.config.tempDir = b.place.Temp().toStdString();
    setup.prompts = &b.prompts;
    setup.sound = b.sound.Devices();
    setup.helpFile = VNTR_TEST_HELP_FILE;
    b.window = std::make_unique<MainWindow>(std::move(setup));
    QVERIFY(b.window->Start());
    QCOMPARE(b.w().Core().ScorerCommand(), std::string("pesq +8000 {ref} {deg}"));
    // Emptied, none.
    answer("");
    b.w().Command(kCmdExternalScorer);
    QCOMPARE(b.w().Core().ScorerCommand(), std::string());
    QVERIFY(!b.w().Core().Config().scorer);
}

void WindowTest::rightClickSetsCodecOptions() {
    Bench b;
    QString shownName;
    bool vadEnabled = true;
    b.prompts.onDialog = [&](QDialog &dialog) {
        auto *options = qobject_cast<CodecOptionsDialog *>(&dialog);
        if (!options) return int(QDialog::Rejected);
        shownName = dialog.findChild<QLabel *>(ControlName(kIdCodecName))->text();
        vadEnabled = dialog.findChild<QCheckBox *>(ControlName(kIdVad))->isEnabled();
        return int(QDialog::Accepted);
    };
    // In the idle state a right click opens the options of the row's codec.
    b.Click(1, Qt::RightButton);
    QCOMPARE(b.prompts.dialogTitles, QStringList{"Options settings..."});
    QCOMPARE(shownName, QString::fromStdString(b.w().SlotAtRow(1)->Name()));
    QVERIFY(!vadEnabled); // the audio coders offer no option
    QCOMPARE(b.w().SlotAtRow(1)->encoderOptions, 0u);
    // OK stores what the controls show, for the encoder and the decoder alike.
    b.w().SlotAtRow(1)->encoderOptions = 0x10001;
    b.w().SlotAtRow(1)->decoderOptions = 0;
    b.Click(1, Qt::RightButton);
    QCOMPARE(b.w().SlotAtRow(1)->encoderOptions, 0x10001u);
    QCOMPARE(b.w().SlotAtRow(1)->decoderOptions, 0x10001u);
    // Not while recording, and not outside the band.
    b.prompts.Clear();
    QTest::mouseClick(b.w().Area(), Qt::RightButton, {}, QPoint(b.layout().Px(20), b.BarPoint(1).y()));
    QVERIFY(b.prompts.dialogTitles.isEmpty());
    b.w().Command(kCmdRecord);
    QCOMPARE(b.w().Core().State(), DisplayState::Recording);
    b.Click(1, Qt::RightButton);
    QVERIFY(b.prompts.dialogTitles.isEmpty());
}

void WindowTest::dualRateCoderKeepsItsModeThroughASession() {
    Bench b;
    QVERIFY(b.Installed("VT4864v6"));
    const int row = b.RowOf("VT4864v6");
    // The options dialog offers both rates and shows 6400 first; choose 4800.
    bool bothOffered = false;
    bool showed6400 = false;
    b.prompts.onDialog = [&](QDialog &dialog) {
        auto *r4800 = dialog.findChild<QRadioButton *>(ControlName(kId4800));
        auto *r6400 = dialog.findChild<QRadioButton *>(ControlName(kId6400));
        bothOffered = r4800->isEnabled() && r6400->isEnabled();
        showed6400 = r6400->isChecked();
        r4800->setChecked(true);
        return int(QDialog::Accepted);
    };
    b.Click(row, Qt::RightButton);
    QVERIFY(bothOffered);
    QVERIFY(showed6400);
    QCOMPARE(b.w().SlotAtRow(row)->encoderOptions, 0x10000u);
    QVERIFY(b.Open(SpeechWave()));
    b.w().Command(kCmdProcess);
    const vntr::evaluator::CodecSlot *dual = nullptr;
    for (int r = 0; r < b.Codecs(); ++r) {
        if (b.w().SlotAtRow(r)->Name() == "VT4864v6") dual = b.w().SlotAtRow(r);
    }
    QVERIFY(dual && dual->HasResults());
    QVERIFY2(dual->runBitRate > 4500 && dual->runBitRate < 5000, qPrintable(QString::number(dual->runBitRate)));
    QCOMPARE(dual->format.codecId, int16_t(2027));
    // The session stores the 4.8 kbit/s mode; a new window restores it from the mode alone.
    const QString session = b.place.File("dual.qbl");
    b.prompts.files.push_back(session);
    b.w().Command(kCmdSaveSession);
    Bench fresh;
    QCOMPARE(fresh.w().Core().Slots()[static_cast<std::size_t>(fresh.RowOf("VT4864v6"))].encoderOptions, 0u);
    fresh.prompts.files.push_back(session);
    fresh.w().Command(kCmdLoadSession);
    QCOMPARE(fresh.w().Core().State(), DisplayState::Results);
    QCOMPARE(fresh.w().SlotAtRow(fresh.RowOf("VT4864v6"))->encoderOptions, 0x10000u);
    QCOMPARE(fresh.w().SlotAtRow(fresh.RowOf("VT4864v6"))->decoderOptions, 0x10000u);
    QVERIFY(fresh.w().SlotAtRow(fresh.RowOf("VT4864v6"))->runBitRate < 5000);
}

void WindowTest::saveQuestions_data() {
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("nameGiven");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<bool>("sessionSaved");
    QTest::newRow("cancel") << int(Answer::Cancel) << false << false << false;
    QTest::newRow("no") << int(Answer::No) << false << true << false;
    QTest::newRow("yes, chooser closed") << int(Answer::Yes) << false << false << false;
    QTest::newRow("yes, named") << int(Answer::Yes) << true << true << true;
}

void WindowTest::saveQuestions() {
    QFETCH(int, answer);
    QFETCH(bool, nameGiven);
    QFETCH(bool, opens);
    QFETCH(bool, sessionSaved);
    Bench b;
    QVERIFY(b.Open(SpeechWave()));
    b.w().Command(kCmdProcess);
    QVERIFY(b.w().Core().UnsavedSession());
    b.prompts.Clear();
    const QString session = b.place.File("asked.qbl");
    b.prompts.answers.push_back(static_cast<Answer>(answer));
    if (nameGiven) b.prompts.files.push_back(session);
    b.prompts.files.push_back(SpeechWave());
    if (!nameGiven && answer == int(Answer::Yes)) b.prompts.files.push_front(std::nullopt);
    b.w().Command(kCmdOpen);
    QCOMPARE(b.prompts.questions, QStringList{"Do you want to save the current session?"});
    QCOMPARE(QFile::exists(session), sessionSaved);
    const bool askedForOriginal = std::find(b.prompts.fileRequests.begin(), b.prompts.fileRequests.end(),
                                            FilePurpose::OpenOriginal) != b.prompts.fileRequests.end();
    QCOMPARE(askedForOriginal, opens);
    // The original opened again clears the results; an abandoned command keeps them.
    QCOMPARE(b.w().Core().State(), opens ? DisplayState::Idle : DisplayState::Results);
    if (sessionSaved) {
        QFile file(session);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.read(31), QByteArray(vntr::evaluator::kSessionMagic, 31));
    }
}

void WindowTest::selectCodecsChangesRowsAndSize() {
    Bench b;
    QVERIFY(b.OpenSpeechAt11k());
    b.w().Command(kCmdProcess);
    QVERIFY(b.w().Core().UnsavedSession());
    b.prompts.answers.push_back(Answer::No); // the unsaved-session question
    // Deselect VT250f11 by a double click in the selected list.
    b.prompts.onDialog = [](QDialog &dialog) {
        auto *selected = dialog.findChild<QListWidget *>(ControlName(kIdSelectedList));
        QListWidgetItem *item = selected->findItems("Veltrane(TM) 250f11", Qt::MatchStartsWith).value(0);
        if (!item) return int(QDialog::Rejected);
        emit selected->itemDoubleClicked(item);
        return int(QDialog::Accepted);
    };
    b.w().Command(kCmdSelectCodecs);
    QCOMPARE(b.prompts.questions, QStringList{"Do you want to save the current session?"});
    QCOMPARE(b.prompts.dialogTitles, QStringList{"Select preferred algorithms..."});
    const int n = b.Codecs();
    QCOMPARE(b.w().Rows(), n - 1);
    QCOMPARE(int(b.w().Core().SelectedCount()), n - 1);
    QCOMPARE(b.w().size(), b.layout().WindowSize(n - 1));
    QVERIFY(b.w().Button(kBtnPlayRow0 + n - 1) == nullptr);
    QVERIFY(!b.w().Core().UnsavedSession());
    QVERIFY(!b.w().Action(kCmdSaveSession)->isEnabled());
    // The kept codec keeps its results, the other one lost them.
    const auto &table = b.w().Core().Slots();
    const auto dropped = std::find_if(table.begin(), table.end(),
                                      [](const auto &s) { return std::string(s.name.data()) == "VT250f11"; });
    QVERIFY(dropped != table.end());
    QCOMPARE(dropped->selected, 0);
    QCOMPARE(dropped->codedBytes, 0u);
    QVERIFY(b.w().SlotAtRow(b.RowOf("VT180"))->HasResults());
    // Cancel changes nothing but still forgets the unsaved session.
    b.w().Command(kCmdProcess);
    QVERIFY(b.w().Core().UnsavedSession());
    b.prompts.answers.push_back(Answer::No);
    b.prompts.onDialog = nullptr;
    b.w().Command(kCmdSelectCodecs);
    QCOMPARE(b.w().Rows(), n - 1);
    QVERIFY(!b.w().Core().UnsavedSession());
    // Deselecting everything: no rows, the smallest window, and processing says so.
    b.prompts.onDialog = [](QDialog &dialog) {
        auto *selected = dialog.findChild<QListWidget *>(ControlName(kIdSelectedList));
        while (selected->count() > 0) emit selected->itemDoubleClicked(selected->item(0));
        return int(QDialog::Accepted);
    };
    b.w().Command(kCmdSelectCodecs);
    QCOMPARE(b.w().Rows(), 0);
    QCOMPARE(b.w().size(), b.layout().WindowSize(0));
    b.prompts.Clear();
    b.w().Command(kCmdProcess);
    QCOMPARE(b.prompts.MessageTexts(),
             QStringList{"No codec selected. Before processing, select which codecs to use in Options|Select Codecs."});
}

void WindowTest::savingACodedFileDisablesItsButton() {
    Bench b;
    QVERIFY(b.Open(SpeechWave()));
    b.w().Command(kCmdProcess);
    const int row = b.RowOf("VT180");
    const QString target = b.place.File("saved-coded.wav");
    // Closing the chooser saves nothing.
    b.w().Command(kBtnSaveRow0 + row);
    QVERIFY(!QFile::exists(target));
    QVERIFY(b.w().Button(kBtnSaveRow0 + row)->isEnabled());
    b.prompts.files.push_back(target);
    QTest::mouseClick(b.w().Button(kBtnSaveRow0 + row), Qt::LeftButton);
    QCOMPARE(b.prompts.fileRequests.back(), FilePurpose::SaveCoded);
    QFile saved(target);
    QFile coded(QString::fromStdString(b.w().Core().Temp().Coded("VT180")));
    QVERIFY(saved.open(QIODevice::ReadOnly) && coded.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), coded.readAll());
    QVERIFY(!b.w().Button(kBtnSaveRow0 + row)->isEnabled());
    QVERIFY(b.w().Button(kBtnPlayRow0 + row)->isEnabled());
    // A failed copy leaves the button as it was.
    b.w().Command(kCmdProcess);
    QVERIFY(b.w().Button(kBtnSaveRow0 + row)->isEnabled());
    b.prompts.Clear();
    b.prompts.files.push_back(b.place.File("no/such/folder/x.wav"));
    b.w().Command(kBtnSaveRow0 + row);
    QCOMPARE(b.prompts.messages.size(), 1u);
    QVERIFY(b.prompts.messages[0].text.startsWith("Could not write to destination file"));
    QVERIFY(b.w().Button(kBtnSaveRow0 + row)->isEnabled());
}

void WindowTest::sessionSavedAndReopenedFromTheCommandLine() {
    const QString session = [] {
        static QTemporaryDir keep;
        return keep.path() + "/comparison.qbl";
    }();
    {
        Bench b;
        QVERIFY(b.OpenSpeechAt11k());
        b.w().Command(kCmdProcess);
        b.prompts.files.push_back(session);
        b.w().Action(kCmdSaveSession)->trigger();
        QCOMPARE(b.prompts.fileRequests.back(), FilePurpose::SaveSession);
        QVERIFY(QFile::exists(session));
        QVERIFY(!b.w().Action(kCmdSaveSession)->isEnabled());
        // Load Session reruns it in the same window.
        b.prompts.Clear();
        b.prompts.files.push_back(session);
        b.w().Command(kCmdLoadSession);
        QCOMPARE(b.prompts.fileRequests, (std::vector<FilePurpose>{FilePurpose::OpenSession}));
        QCOMPARE(b.w().Core().State(), DisplayState::Results);
        QVERIFY(b.w().Core().OriginalFromSession());
        QCOMPARE(b.w().Area()->Model().originalName, std::string("speech11k.wav"));
    }
    // A fresh start with the session on the command line.
    TestPlace place;
    ScriptedPrompts prompts;
    FakeSound sound;
    MainWindow::Setup setup;
    setup.config.systemRoot = place.StageRoot();
    setup.config.tempDir = place.Temp().toStdString();
    setup.prompts = &prompts;
    setup.sound = sound.Devices();
    MainWindow w(std::move(setup));
    QVERIFY(w.Start(session));
    QTRY_COMPARE(w.Core().State(), DisplayState::Results);
    QCOMPARE(w.Area()->Model().originalName, std::string("speech11k.wav"));
    // Every codec that ran, those fed the 8 kHz copy too; the codec that
    // could not take the original was not stored and is not asked for.
    const int ran = static_cast<int>(w.Core().SlotCount()) - 1;
    QCOMPARE(int(w.Core().SelectedCount()), ran);
    QCOMPARE(w.Rows(), ran);
    QCOMPARE(w.size(), w.Geometry().WindowSize(ran));
    for (int r = 0; r < ran; ++r) QVERIFY(w.SlotAtRow(r)->HasResults());
    const auto vt180 = std::find_if(w.Core().Slots().begin(), w.Core().Slots().end(),
                                    [](const auto &slot) { return slot.Name() == "VT180"; });
    QVERIFY(vt180->selected && vt180->HasResults());
    QCOMPARE(vt180->downsampled, 1);
    QCOMPARE(prompts.MessageTexts(), QStringList{});
    QVERIFY(!w.Action(kCmdSaveSession)->isEnabled());
    QVERIFY(!w.Action(kCmdSaveRecording)->isEnabled());
    QVERIFY(w.Button(kBtnSaveRow0)->isEnabled());
}

void WindowTest::sessionOfAnEightKilohertzOriginalReopensCleanly() {
    Bench b;
    const int n = b.Codecs();
    QVERIFY(b.Open(SpeechWave())); // every codec selected, two of them cannot take 8 kHz
    QCOMPARE(b.prompts.messages.size(), 2u);
    b.w().Command(kCmdProcess);
    const QString session = b.place.File("eight.qbl");
    b.prompts.files.push_back(session);
    b.w().Command(kCmdSaveSession);
    QVERIFY(QFile::exists(session));
    b.prompts.Clear();
    b.prompts.files.push_back(session);
    b.w().Command(kCmdLoadSession);
    QCOMPARE(b.prompts.MessageTexts(), QStringList{});
    QCOMPARE(b.w().Core().State(), DisplayState::Results);
    QCOMPARE(int(b.w().Core().SelectedCount()), n - 2);
    QCOMPARE(b.w().Rows(), n - 2);
    for (int r = 0; r < n - 2; ++r) QVERIFY(b.w().SlotAtRow(r)->HasResults());
    QVERIFY(!b.Installed("VT250f11") && !b.Installed("VT500f22"));
}

void WindowTest::breakCancelsTheRun() {
    Bench b;
    QVERIFY(b.OpenSpeechAt11k());
    b.prompts.answers.push_back(Answer::Yes);
    QRect breakGeometry;
    bool progressShown = false;
    bool greyed = false;
    QTimer::singleShot(0, &b.w(), [&] {
        QPushButton *stop = b.w().BreakButton();
        if (!stop) return;
        breakGeometry = stop->geometry();
        progressShown = b.w().ProgressBar()->isVisible();
        greyed = !b.w().Action(kCmdOpen)->isEnabled() && !b.w().Button(kBtnProcess)->isEnabled() &&
                 !b.w().Action(kCmdExit)->isEnabled();
        QCOMPARE(stop->text(), QString("&Break"));
        b.w().grab().save(QString(VNTR_TEST_OUTPUT_DIR) + "/vtbench32-processing.png");
        QTest::mouseClick(stop, Qt::LeftButton);
    });
    b.w().Command(kCmdProcess);
    QCOMPARE(b.prompts.questions, QStringList{"Are you sure you want to cancel the processing?"});
    QCOMPARE(breakGeometry, b.layout().BreakButton(b.Codecs()));
    QVERIFY(progressShown);
    QVERIFY(greyed);
    QCOMPARE(b.w().Core().State(), DisplayState::Idle);
    for (const auto &row : b.w().Area()->Model().rows) QVERIFY(!row.hasResults);
    QVERIFY(b.TempFiles().filter(".~c0").isEmpty());
    QVERIFY(b.TempFiles().filter(".~d0").isEmpty());
    QVERIFY(b.w().BreakButton() == nullptr);
    QVERIFY(b.w().Action(kCmdOpen)->isEnabled());
    // The original is still there and can be processed again.
    b.w().Command(kCmdProcess);
    QCOMPARE(b.w().Core().State(), DisplayState::Results);
}

void WindowTest::closingIsRefusedWhileWorking() {
    Bench b;
    QVERIFY(b.Open(SpeechWave()));
    bool closedWhileProcessing = true;
    QTimer::singleShot(0, &b.w(), [&] {
        if (b.w().Core().State() == DisplayState::Processing) closedWhileProcessing = b.w().close();
    });
    b.w().Command(kCmdProcess);
    QVERIFY(!closedWhileProcessing);
    QVERIFY(b.w().isVisible());
    b.w().Command(kCmdRecord);
    QCOMPARE(b.w().Core().State(), DisplayState::Recording);
    QVERIFY(!b.w().close());
    QVERIFY(b.w().isVisible());
    // The only question was the record command's; the refused closes asked none.
    QCOMPARE(b.prompts.questions, QStringList{"Do you want to save the current session?"});
}

void WindowTest::closingAsksSavesPreferencesAndCleansUp() {
    Bench b;
    QVERIFY(b.Open(SpeechWave()));
    b.w().Command(kCmdProcess);
    QVERIFY(!b.TempFiles().filter(".~c0").isEmpty());
    b.prompts.answers.push_back(Answer::Cancel);
    QVERIFY(!b.w().close());
    QCOMPARE(b.prompts.questions, QStringList{"Do you want to save the current session?"});
    QVERIFY(b.w().isVisible());
    // Deselect a codec, then leave with E&xit.
    b.w().Core().ApplySelection({true, false, true});
    b.prompts.Clear();
    b.w().Command(kCmdExit);
    QVERIFY(!b.w().isVisible());
    QVERIFY(b.TempFiles().filter(".~").isEmpty());
    QFile hive(b.place.UserHive());
    QVERIFY(hive.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(hive.readAll());
    QVERIFY2(text.contains("VT250f11") && text.contains("Selected=NO"), qPrintable(text));
    QVERIFY(text.contains("Selected=YES"));
}

void WindowTest::damagedHivesAreNamedAfterTheirMessages() {
    const auto start = [](TestPlace &place, ScriptedPrompts &prompts, FakeSound &sound) {
        MainWindow::Setup setup;
        setup.config.systemRoot = place.StageRoot();
        setup.config.tempDir = place.Temp().toStdString();
        setup.prompts = &prompts;
        setup.sound = sound.Devices();
        auto w = std::make_unique<MainWindow>(std::move(setup));
        w->Start();
        return w;
    };
    {
        // A user hive cut off in its third line: the codecs come up without
        // the preferences; leaving says why none could be saved, and where.
        TestPlace place;
        QFile hive(place.UserHive());
        QVERIFY(hive.open(QIODevice::WriteOnly));
        hive.write("VNTR-REGISTRY-HIVE 1\nkey SOFTWARE\\Vantre\\QBL SDK\\VT180\nvalue Sel");
        hive.close();
        ScriptedPrompts prompts;
        FakeSound sound;
        auto w = start(place, prompts, sound);
        QVERIFY(w->Rows() >= 3);
        QCOMPARE(prompts.messages.size(), 0u);
        w->Command(kCmdExit);
        QCOMPARE(prompts.MessageTexts(),
                 QStringList{"PROBLEM IN REGISTRY : can't save preferences !\n" + place.UserHive() +
                             ": registry hive is damaged: line 3: last line is cut short"});
    }
    {
        // The machine hive of the installed codecs, cut off in the middle.
        TestPlace place;
        QFile staged(QString(VNTR_TEST_STAGE_ROOT) + "/VNTR/registry/machine.hive");
        QVERIFY(staged.open(QIODevice::ReadOnly));
        QByteArray cut = staged.readAll();
        cut.truncate(cut.size() / 2);
        if (cut.endsWith('\n')) cut.chop(1);
        const QString machine = place.File("machine.hive");
        QFile hive(machine);
        QVERIFY(hive.open(QIODevice::WriteOnly));
        hive.write(cut);
        hive.close();
        qputenv("VNTR_MACHINE_HIVE", machine.toUtf8());
        ScriptedPrompts prompts;
        FakeSound sound;
        auto w = start(place, prompts, sound);
        qputenv("VNTR_MACHINE_HIVE", VNTR_TEST_STAGE_ROOT "/VNTR/registry/machine.hive");
        QCOMPARE(w->Rows(), 0);
        QCOMPARE(prompts.MessageTexts(),
                 QStringList{QString("ERROR IN INITIALIZATION : no codec installed !\n%1: registry hive is damaged: "
                                     "line %2: last line is cut short")
                                 .arg(machine)
                                 .arg(cut.count('\n') + 1)});
    }
}

void WindowTest::recordingMakesAnUntitledOriginal() {
    Bench b;
    QVERIFY(b.Open(SpeechWave()));
    b.w().Command(kCmdProcess);
    b.prompts.Clear();
    b.prompts.answers.push_back(Answer::No); // do not save the session
    QTest::mouseClick(b.w().Button(kBtnRecord), Qt::LeftButton);
    QCOMPARE(b.prompts.questions, QStringList{"Do you want to save the current session?"});
    QVERIFY(b.sound.inputActive);
    QCOMPARE(b.sound.inputFormat.sampleRate(), 8000);
    QCOMPARE(b.sound.inputFormat.channelCount(), 1);
    QCOMPARE(b.sound.inputFormat.sampleFormat(), QAudioFormat::Int16);
    QCOMPARE(b.w().Core().State(), DisplayState::Recording);
    QCOMPARE(b.w().Action(kCmdRecord)->text(), QString("Stop &recording"));
    QCOMPARE(b.w().Button(kBtnRecord)->CurrentGlyph(), Glyph::Stop);
    // Every command but the record command is greyed; the results are gone.
    QVERIFY(b.w().Action(kCmdRecord)->isEnabled());
    QVERIFY(b.w().Button(kBtnRecord)->isEnabled());
    for (const int id : {kCmdOpen, kCmdProcess, kCmdLoadSession, kCmdExit, kCmdSelectCodecs, kCmdLoopPlay}) {
        QVERIFY(!b.w().Action(id)->isEnabled());
    }
    QVERIFY(!b.w().Button(kBtnPlayOriginal)->isEnabled());
    QVERIFY(!b.w().Button(kBtnPlayRow0)->isEnabled());
    QVERIFY(b.TempFiles().filter(".~c0").isEmpty());
    QCOMPARE(b.Status().mid(0, 2), (QStringList{"Recording a new original file :", "Sampling frequency : 8000 Hz"}));
    const QRegularExpression timeLine(R"(^Time already recorded : (\d+\.\d\d) seconds \((\d+) bytes\)$)");
    QTRY_VERIFY(timeLine.match(b.Status().value(2)).hasMatch() &&
                timeLine.match(b.Status().value(2)).captured(2).toLong() > 0);
    // A second of a loud tone, then stop.
    // The meter shows the peak since its last tick and the next tick without
    // new sound takes it back to 0: every state it passes through is watched,
    // so a slow machine that lets two ticks go by between checks still sees it.
    int highest = 0;
    QTimer watch;
    watch.setInterval(0);
    QObject::connect(&watch, &QTimer::timeout, [&] { highest = std::max(highest, b.w().Area()->Model().meterLevel); });
    watch.start();
    b.sound.Deliver(Tone(8000, 1.0, 440, 0.9));
    QTRY_VERIFY(highest >= 30);
    watch.stop();
    b.w().grab().save(QString(VNTR_TEST_OUTPUT_DIR) + "/vtbench32-recording.png");
    b.w().Command(kCmdRecord);
    QVERIFY(!b.sound.inputActive);
    QCOMPARE(b.w().Core().State(), DisplayState::Idle);
    QCOMPARE(b.w().Action(kCmdRecord)->text(), QString("&Record..."));
    QCOMPARE(b.w().Area()->Model().meterLevel, 0);
    QVERIFY(b.w().UnsavedRecording());
    const auto &original = b.w().Core().Original();
    QCOMPARE(QString::fromStdString(original.path), b.place.Temp() + "/~t_ori.wav");
    QCOMPARE(original.dataBytes, 16000u);
    QCOMPARE(original.formatFlags, 0x12102u);
    QCOMPARE(b.w().Area()->Model().originalName, std::string("[Untitled]"));
    QCOMPARE(b.w().Area()->Model().durationText, std::string("1.00 sec"));
    QVERIFY(b.w().Action(kCmdSaveRecording)->isEnabled());
    QVERIFY(b.w().Button(kBtnSaveRecording)->isEnabled());
    // Recording again asks about this recording first; Cancel keeps everything.
    b.prompts.Clear();
    b.prompts.answers.push_back(Answer::Cancel);
    b.w().Command(kCmdRecord);
    QCOMPARE(b.prompts.questions, QStringList{"Do you want to save the recorded file?"});
    QVERIFY(!b.sound.inputActive);
    // Saving it: the copy becomes the original's path and name.
    const QString kept = b.place.File("my-recording.wav");
    b.prompts.files.push_back(kept);
    QTest::mouseClick(b.w().Button(kBtnSaveRecording), Qt::LeftButton);
    QCOMPARE(b.prompts.fileRequests.back(), FilePurpose::SaveRecording);
    QCOMPARE(QString::fromStdString(b.w().Core().Original().path), kept);
    QCOMPARE(b.w().Area()->Model().originalName, std::string("my-recording.wav"));
    QVERIFY(!b.w().UnsavedRecording());
    QVERIFY(!b.w().Action(kCmdSaveRecording)->isEnabled());
    QVERIFY(!b.w().Button(kBtnSaveRecording)->isEnabled());
    QCOMPARE(QFileInfo(kept).size(), 16000 + 46);
}

void WindowTest::recordingAt11kFeedsTheDownsampledCopy() {
    Bench b;
    b.prompts.onDialog = [](QDialog &dialog) {
        dialog.findChild<QRadioButton *>(ControlName(kIdRate8k + 1))->setChecked(true);
        return int(QDialog::Accepted);
    };
    b.w().Command(kCmdRecordSettings);
    QCOMPARE(b.w().RecordFormat(), 0x22102u);
    b.w().Command(kBtnRecord);
    QCOMPARE(b.sound.inputFormat.sampleRate(), 11025);
    QCOMPARE(b.Status().value(1), QString("Sampling frequency : 11025 Hz"));
    QFile speech(b.place.File("s.wav"));
    QVERIFY(WriteSpeechAt11k(speech.fileName()) && speech.open(QIODevice::ReadOnly));
    b.sound.Deliver(speech.readAll().mid(44));
    b.w().Command(kBtnRecord);
    QCOMPARE(b.w().Core().Original().formatFlags, 0x22102u);
    QCOMPARE(b.w().Core().Slots()[0].downsampled, 1);
    b.w().Command(kBtnProcess);
    b.Click(b.RowOf("VT180"));
    QVERIFY(b.Status().value(1).endsWith("[! 8 kHz SF !]"));
    QVERIFY(QFile::exists(b.place.Temp() + "/~t_down.wav"));
    // An unsaved recording that is processed shows "[Untitled]" and is offered for saving.
    QCOMPARE(b.w().Area()->Model().originalName, std::string("[Untitled]"));
    QVERIFY(b.w().Action(kCmdSaveRecording)->isEnabled());
}

void WindowTest::recordingRefusedChangesNothing() {
    Bench b;
    QVERIFY(b.Open(SpeechWave()));
    b.w().Command(kCmdProcess);
    b.prompts.Clear();
    b.prompts.answers.push_back(Answer::No);
    b.sound.refuseInput = true;
    b.w().Command(kCmdRecord);
    QCOMPARE(b.prompts.messages.size(), 1u);
    QCOMPARE(b.prompts.messages[0].title, kErrorTitle);
    QCOMPARE(b.prompts.messages[0].icon, MessageIcon::Error);
    QCOMPARE(b.prompts.messages[0].text, QString("Could not start recording.\nWave driver might be busy."));
    QCOMPARE(b.w().Core().State(), DisplayState::Results);
    QVERIFY(b.w().SlotAtRow(b.RowOf("VT180"))->HasResults());
    QVERIFY(!b.TempFiles().filter(".~c0").isEmpty());
    QCOMPARE(b.w().Action(kCmdRecord)->text(), QString("&Record..."));
}

void WindowTest::recordingThatCannotBeSavedKeepsTheOriginal() {
    Bench b;
    QVERIFY(b.Open(SpeechWave()));
    b.w().Command(kCmdRecord);
    b.sound.Deliver(Tone(8000, 0.5, 440, 0.5));
    // Something in the way of the recorded file: a folder of its name.
    QVERIFY(QDir().mkpath(b.place.Temp() + "/~t_ori.wav"));
    b.prompts.Clear();
    b.w().Command(kCmdRecord);
    QCOMPARE(b.prompts.MessageTexts(), QStringList{"Could not stop recording."});
    QCOMPARE(b.w().Core().State(), DisplayState::Idle);
    QVERIFY(!b.w().UnsavedRecording());
    QCOMPARE(b.w().Area()->Model().originalName, std::string("mmt1.wav"));
    QCOMPARE(b.w().Action(kCmdRecord)->text(), QString("&Record..."));
    // The codecs are matched to that original again and run.
    b.w().Command(kCmdProcess);
    QVERIFY(b.w().SlotAtRow(b.RowOf("VT180"))->HasResults());
}

void WindowTest::playButtonsToggleAndSwitch() {
    Bench b;
    QVERIFY(b.Open(SpeechWave()));
    b.w().Command(kCmdProcess);
    const int row = b.RowOf("VT180");
    // The original.
    QTest::mouseClick(b.w().Button(kBtnPlayOriginal), Qt::LeftButton);
    QCOMPARE(b.sound.outputStarts, 1);
    QVERIFY(b.sound.outputActive);
    QVERIFY(!b.sound.lastLoop);
    QCOMPARE(b.sound.lastClip.pcm.size(), 64000);
    QCOMPARE(b.sound.lastClip.format.sampleRate(), 8000);
    QCOMPARE(b.w().PlayingCommand(), int(kBtnPlayOriginal));
    QCOMPARE(b.w().Button(kBtnPlayOriginal)->CurrentGlyph(), Glyph::Stop);
    // Playing greys the commands but leaves the play buttons.
    QVERIFY(!b.w().Action(kCmdOpen)->isEnabled());
    QVERIFY(!b.w().Action(kCmdProcess)->isEnabled());
    QVERIFY(!b.w().Button(kBtnRecord)->isEnabled());
    QVERIFY(!b.w().Button(kBtnSaveRow0 + row)->isEnabled());
    QVERIFY(b.w().Button(kBtnPlayOriginal)->isEnabled());
    QVERIFY(b.w().Button(kBtnPlayRow0 + row)->isEnabled());
    // The same button again stops it, without playing again.
    QTest::mouseClick(b.w().Button(kBtnPlayOriginal), Qt::LeftButton);
    QVERIFY(!b.sound.outputActive);
    QCOMPARE(b.sound.outputStarts, 1);
    QCOMPARE(b.w().PlayingCommand(), 0);
    QCOMPARE(b.w().Button(kBtnPlayOriginal)->CurrentGlyph(), Glyph::Play);
    QVERIFY(b.w().Action(kCmdOpen)->isEnabled());
    // A decoded file: its details show, as after a click on its bar.
    QTest::mouseClick(b.w().Button(kBtnPlayRow0 + row), Qt::LeftButton);
    QCOMPARE(b.w().PlayingCommand(), kBtnPlayRow0 + row);
    QCOMPARE(b.w().DetailRow(), row + 1);
    QVERIFY(b.Status().value(1).startsWith("Reduced "));
    QCOMPARE(b.w().SlotAtRow(row)->playing, 1);
    QCOMPARE(b.w().Button(kBtnPlayRow0 + row)->CurrentGlyph(), Glyph::Stop);
    QVERIFY(b.sound.lastClip.pcm.size() > 60000);
    // The original's button switches to the original: one sound at a time.
    QTest::mouseClick(b.w().Button(kBtnPlayOriginal), Qt::LeftButton);
    QCOMPARE(b.sound.outputStarts, 3);
    QCOMPARE(b.w().PlayingCommand(), int(kBtnPlayOriginal));
    QCOMPARE(b.w().SlotAtRow(row)->playing, 0);
    QCOMPARE(b.w().Button(kBtnPlayRow0 + row)->CurrentGlyph(), Glyph::Play);
    QCOMPARE(b.sound.lastClip.pcm.size(), 64000);
    // Closing the window while it plays stops the sound first.
    b.prompts.answers.push_back(Answer::No);
    QVERIFY(b.w().close());
    QVERIFY(!b.sound.outputActive);
}

void WindowTest::endOfPlayStopsTheSound() {
    Bench b;
    const QString shortWave = b.place.File("blip.wav");
    QVERIFY(WriteWave(shortWave, 8000, 1, 16, Tone(8000, 0.15, 300, 0.5)));
    QVERIFY(b.Open(shortWave));
    b.sound.playedUs = 150000; // the card has played it all
    b.w().Command(kBtnPlayOriginal);
    QVERIFY(b.sound.outputActive);
    QTRY_COMPARE_WITH_TIMEOUT(b.w().PlayingCommand(), 0, 2000);
    QVERIFY(!b.sound.outputActive);
    QVERIFY(b.w().Action(kCmdOpen)->isEnabled());
    // A card that lags is given the rest of the sound before it is cut.
    b.sound.playedUs = 0;
    b.w().Command(kBtnPlayOriginal);
    QTest::qWait(400);
    QCOMPARE(b.w().PlayingCommand(), int(kBtnPlayOriginal));
    b.sound.playedUs = 150000;
    QTRY_COMPARE_WITH_TIMEOUT(b.w().PlayingCommand(), 0, 1000);
}

void WindowTest::loopPlayKeepsPlayingUntilPressed() {
    Bench b;
    const QString shortWave = b.place.File("blip.wav");
    QVERIFY(WriteWave(shortWave, 8000, 1, 16, Tone(8000, 0.1, 300, 0.5)));
    QVERIFY(b.Open(shortWave));
    b.w().Action(kCmdLoopPlay)->trigger();
    b.sound.playedUs = 10'000'000;
    b.w().Command(kBtnPlayOriginal);
    QVERIFY(b.sound.lastLoop);
    QTest::qWait(400);
    QCOMPARE(b.w().PlayingCommand(), int(kBtnPlayOriginal));
    QVERIFY(b.sound.outputActive);
    b.w().Command(kBtnPlayOriginal);
    QCOMPARE(b.w().PlayingCommand(), 0);
    QVERIFY(!b.sound.outputActive);
}

void WindowTest::playRefusedShowsTheMessage() {
    Bench b;
    QVERIFY(b.Open(SpeechWave()));
    b.w().Command(kCmdProcess);
    b.prompts.Clear();
    b.sound.refuseOutput = true;
    b.w().Command(kBtnPlayOriginal);
    QCOMPARE(b.prompts.MessageTexts(), QStringList{"Could not play file mmt1.wav. Your sound driver could be in use"});
    QCOMPARE(b.prompts.messages[0].title, kErrorTitle);
    QCOMPARE(b.w().PlayingCommand(), 0);
    QVERIFY(b.w().Action(kCmdOpen)->isEnabled());
    // A decoded file names its path.
    b.prompts.Clear();
    const int row = b.RowOf("VT180");
    b.w().Command(kBtnPlayRow0 + row);
    QCOMPARE(b.prompts.MessageTexts(),
             QStringList{
                 QString("Could not play file %1/VT180.~d0. Your sound driver could be in use").arg(b.place.Temp())});
    QCOMPARE(b.w().SlotAtRow(row)->playing, 0);
    // A decoded file that has gone cannot be played either.
    b.sound.refuseOutput = false;
    QFile::remove(b.place.Temp() + "/VT180.~d0");
    b.prompts.Clear();
    b.w().Command(kBtnPlayRow0 + row);
    QCOMPARE(b.prompts.messages.size(), 1u);
    QCOMPARE(b.sound.outputStarts, 0);
}

void WindowTest::meterFollowsThePlayedSamples() {
    Bench b;
    // Half a second of silence, then half a second at half scale.
    QByteArray pcm(8000, '\0');
    pcm += Tone(8000, 0.5, 500, 0.5);
    const QString wave = b.place.File("steps.wav");
    QVERIFY(WriteWave(wave, 8000, 1, 16, pcm));
    QVERIFY(b.Open(wave));
    b.w().Action(kCmdLoopPlay)->trigger();
    b.w().Command(kBtnPlayOriginal);
    b.sound.playedUs = 100000;
    QTest::qWait(150);
    QCOMPARE(b.w().Area()->Model().meterLevel, 0);
    b.sound.playedUs = 700000;
    QTRY_COMPARE(b.w().Area()->Model().meterLevel, 20);
    // Looping wraps around: 1.7 s is 0.7 s into the clip.
    b.sound.playedUs = 1100000;
    QTRY_COMPARE(b.w().Area()->Model().meterLevel, 0);
    b.sound.playedUs = 1700000;
    QTRY_COMPARE(b.w().Area()->Model().meterLevel, 20);
    b.w().Command(kBtnPlayOriginal);
    QCOMPARE(b.w().Area()->Model().meterLevel, 0);
}

void WindowTest::helpOpensThePage() {
    Bench b;
    b.w().Command(kCmdHelpContents);
    b.w().Command(kCmdHelpOnHelp);
    QCOMPARE(b.prompts.urls.size(), 2u);
    QVERIFY(b.prompts.urls[0].isLocalFile());
    QCOMPARE(QFileInfo(b.prompts.urls[0].toLocalFile()).fileName(), QString("qbleval.html"));
    QVERIFY(!b.prompts.urls[0].hasFragment());
    QCOMPARE(b.prompts.urls[1].fragment(), QString("using-help"));
    // The page has the section the second command opens, and an index.
    QFile page(b.prompts.urls[0].toLocalFile());
    QVERIFY(page.open(QIODevice::ReadOnly));
    const QByteArray html = page.readAll();
    QVERIFY(html.contains("id=\"using-help\""));
    QVERIFY(html.contains("id=\"index\""));
    // Without a browser the user is told.
    b.prompts.browserStarts = false;
    b.w().Command(kCmdHelpContents);
    QCOMPARE(b.prompts.messages.size(), 1u);
    QVERIFY(b.prompts.messages[0].text.startsWith("Could not open the help file"));
    // About runs its dialog.
    b.w().Command(kCmdAbout);
    QCOMPARE(b.prompts.dialogTitles, QStringList{"About Vantre Quibell Evaluator..."});
}

void WindowTest::recordSettingsCommandSetsTheFormat() {
    Bench b;
    QCOMPARE(b.w().RecordFormat(), 0x12102u);
    uint32_t shownFirst = 0;
    b.prompts.onDialog = [&](QDialog &dialog) {
        shownFirst = static_cast<RecordSettingsDialog &>(dialog).Format();
        dialog.findChild<QRadioButton *>(ControlName(kIdRate8k + 8))->setChecked(true);
        dialog.findChild<QRadioButton *>(ControlName(kIdStereo))->setChecked(true);
        return int(QDialog::Rejected);
    };
    b.w().Command(kCmdRecordSettings);
    QCOMPARE(shownFirst, 0x12102u);
    QCOMPARE(b.w().RecordFormat(), 0x12102u); // cancelled
    b.prompts.onDialog = [](QDialog &dialog) {
        dialog.findChild<QRadioButton *>(ControlName(kIdRate8k + 8))->setChecked(true);
        dialog.findChild<QRadioButton *>(ControlName(kIdStereo))->setChecked(true);
        dialog.findChild<QRadioButton *>(ControlName(kId8Bit))->setChecked(true);
        return int(QDialog::Accepted);
    };
    b.w().Command(kCmdRecordSettings);
    QCOMPARE(b.w().RecordFormat(), 0x1000000u | 0x200u | 0x1000u | 0x2u);
    b.w().Command(kCmdRecord);
    QCOMPARE(b.sound.inputFormat.sampleRate(), 48000);
    QCOMPARE(b.sound.inputFormat.channelCount(), 2);
    QCOMPARE(b.sound.inputFormat.sampleFormat(), QAudioFormat::UInt8);
    // 8-bit stereo at 48 kHz: 96 bytes a millisecond.
    b.sound.Deliver(QByteArray(96000, char(128)));
    b.w().Command(kCmdRecord);
    QCOMPARE(b.w().Core().Original().formatText, std::string("48000 Hz, PCM 8 bit STEREO"));
    QCOMPARE(b.w().Core().Original().dataBytes, 96000u);
}

void WindowTest::signalViewShowsTheDetailRow() {
    Bench b;
    b.w().Command(kCmdSignalView);
    QVERIFY(b.w().Signals() && b.w().Signals()->isVisible());
    QVERIFY(!b.w().Signals()->HasSignals());
    QVERIFY(!b.w().Signals()->Note().isEmpty());
    // Before any run the original is shown alone.
    QVERIFY(b.OpenSpeechAt11k());
    QVERIFY(b.w().Signals()->HasSignals());
    QCOMPARE(b.w().Signals()->Signals().Rate(), 11025);
    QVERIFY(b.w().Signals()->Signals().decoded.empty());
    b.w().Command(kCmdProcess);
    QVERIFY(b.w().Signals()->HasSignals());
    QVERIFY(b.w().Signals()->Note().isEmpty());
    // A double click on a bar stacks that codec and listens to it.
    QTest::mouseDClick(b.w().Area(), Qt::LeftButton, {}, b.BarPoint(b.RowOf("VT250f11")));
    QCOMPARE(b.w().DetailRow(), b.RowOf("VT250f11") + 1);
    const int trace = b.w().Signals()->Signals().Find("VT250f11");
    QVERIFY(trace >= 0);
    const std::vector<int> shown = b.w().Signals()->Shown();
    QVERIFY(std::find(shown.begin(), shown.end(), trace) != shown.end());
    QCOMPARE(b.w().Signals()->Listening(), trace + 1);
    const auto all = b.w().Signals()->VisibleRange();
    QCOMPARE(all.first, 0.0);
    QVERIFY(std::abs(all.second - 4.0) < 0.05);
    // The wheel zooms in around the pointer.
    QWidget *canvas = b.w().Signals()->findChild<QWidget *>("signalCanvas");
    QVERIFY(canvas);
    QWheelEvent wheel(QPointF(canvas->width() / 2.0, 50), canvas->mapToGlobal(QPointF(canvas->width() / 2.0, 50)), {},
                      {0, 240}, Qt::NoButton, {}, Qt::NoScrollPhase, false);
    QApplication::sendEvent(canvas, &wheel);
    const auto zoomed = b.w().Signals()->VisibleRange();
    QVERIFY(zoomed.second - zoomed.first < 3.0);
    QVERIFY(zoomed.first > 0.0);
    // A row without results leaves the view as it is.
    b.Click(b.RowOf("VT500f22"));
    QVERIFY(b.w().Signals()->HasSignals());
    QCOMPARE(b.w().Signals()->Shown(), shown);
    QVERIFY(b.w().Signals()->Signals().Find("VT500f22") < 0);
}

void WindowTest::screenshotAfterResults() {
    // Text must be drawn with real glyphs, not boxes of one width.
    const QFontMetrics metrics(QApplication::font());
    QVERIFY(metrics.horizontalAdvance("iiiiiiii") < metrics.horizontalAdvance("WWWWWWWW"));
    Bench b;
    QVERIFY(b.OpenSpeechAt11k());
    b.w().Command(kCmdProcess);
    b.Click(b.RowOf("VT180"));
    QVERIFY(QTest::qWaitForWindowExposed(&b.w()));
    const QImage shot = b.w().grab().toImage();
    QCOMPARE(shot.size(), b.layout().WindowSize(b.Codecs()));
    const QString path = QString(VNTR_TEST_OUTPUT_DIR) + "/vtbench32-window.png";
    QVERIFY(shot.save(path));
    qInfo("screenshot: %s", qPrintable(path));
    // Where the blue part of the first bar is, the picture is blue; an empty bar is cyan.
    const QPoint offset = b.w().Area()->mapTo(&b.w(), QPoint(0, 0));
    const QRect bar = b.layout().RowBar(b.RowOf("VT180")).translated(offset);
    QCOMPARE(shot.pixelColor(bar.left() + 3, bar.center().y() + 2), QColor(0, 0, 255));
    const QRect empty = b.layout().RowBar(b.RowOf("VT500f22")).translated(offset);
    QCOMPARE(shot.pixelColor(empty.left() + 3, empty.center().y()), QColor(0, 255, 255));
    const QRect status = b.layout().StatusArea(b.Codecs()).translated(offset);
    QCOMPARE(shot.pixelColor(status.right() - 3, status.bottom() - 3), QColor(255, 255, 255));
}

QTEST_MAIN(WindowTest)
#include "window_test.moc"
