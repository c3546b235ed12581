// The comparison workbench in the window, with the staged codecs, a scripted
// user and a sound card under the test's control: the comparison table and
// its exports against the batch report, the rows' context menu, A/B
// listening in the signal view, the blind round, and pictures for the notes.
#include "gui_test_support.hpp"
#include "window_bench.hpp"

#include "../support/csv.hpp"
#include "core/quality.hpp"
#include "gui/logic/comparison_table.hpp"
#include "gui/logic/timeline_track.hpp"
#include "gui/sound/quiet_frontend.hpp"
#include "gui/window/comparison_view.hpp"
#include "gui/window/signal_canvas.hpp"
#include "gui/window/signal_view.hpp"
#include "gui/window/tool_button.hpp"

#include <nlohmann/json.hpp>

#include <QAbstractItemModelTester>
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QTableView>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>

using namespace vntr::gui;
using namespace vntr::gui::test;
using vntr::evaluator::DisplayState;

namespace {

const QString kErrorTitle = "Vantre QBL Evaluator: Error";

std::vector<int16_t> Samples16(const QByteArray &pcm) {
    std::vector<int16_t> s(static_cast<std::size_t>(pcm.size() / 2));
    std::memcpy(s.data(), pcm.constData(), s.size() * 2);
    return s;
}

double RmsDb(std::span<const int16_t> x) {
    double e = 0;
    for (const int16_t v : x) e += static_cast<double>(v) * v;
    return 10 * std::log10(e / static_cast<double>(std::max<std::size_t>(x.size(), 1)) + 1e-9);
}

std::vector<std::vector<std::string>> ReadCsv(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return vntr::test::ParseCsv(file.readAll().toStdString());
}

nlohmann::json ReadJson(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return nlohmann::json::parse(file.readAll().toStdString(), nullptr, false);
}

// What two runs of the same codecs over the same original share: everything
// but the times, and the lines that print them.
nlohmann::json WithoutTimes(nlohmann::json doc) {
    for (auto &codec : doc["codecs"]) {
        for (const char *key : {"codingMs", "decodingMs", "codingLoad", "decodingLoad", "codingMicros",
                                "decodingMicros", "codingRealTimeFactor", "decodingRealTimeFactor", "lines"}) {
            codec.erase(key);
        }
    }
    return doc;
}

// The figures that depend on the lag a decoded file is compared at, and
// the row numbers, which are each front end's own.
nlohmann::json WithoutLagFigures(nlohmann::json doc) {
    for (auto &codec : doc["codecs"]) {
        codec.erase("row");
        if (!codec.contains("quality")) continue;
        for (const char *key : {"alignment", "comparedSamples", "delaySamples", "logSpectralDistanceDb",
                                "segmentalSnrDb", "snrDb", "visqolMos", "visqolNsim", "visqolNote"}) {
            codec["quality"].erase(key);
        }
    }
    return doc;
}
const std::string kLagColumns[] = {"snr_db", "segmental_snr_db", "lsd_db", "delay_samples", "visqol_mos"};

// Codecs that have results after the run.
int WithResults(Bench &b) {
    int n = 0;
    for (int r = 0; r < b.w().Rows(); ++r) n += b.w().SlotAtRow(r)->HasResults() ? 1 : 0;
    return n;
}

// The batch front end on its own temporary folder; the arguments go as they
// are (codec names hold spaces), its output is dropped.
int RunBatch(const QStringList &arguments, const QString &tempRoot) {
    QProcess batch;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TMPDIR", tempRoot);
    batch.setProcessEnvironment(env);
    batch.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    batch.setStandardOutputFile(QProcess::nullDevice());
    batch.start(VNTR_TEST_VTBENCH32, arguments);
    if (!batch.waitForFinished(300000) || batch.exitStatus() != QProcess::NormalExit) return -1;
    return batch.exitCode();
}

// The signal view after a run over the 8 kHz speech, with VT180 listened to.
struct Listening {
    Bench b;
    SignalView *view = nullptr;
    int trace = -1;

    bool Start() {
        if (!b.Open(SpeechWave())) return false;
        b.w().Command(kCmdProcess);
        b.w().Command(kCmdSignalView);
        view = b.w().Signals();
        trace = view->Signals().Find("VT180");
        return view != nullptr && trace >= 0;
    }
    std::vector<int16_t> Track(int t) const {
        return WholeTrack(ListeningTracks(view->Signals(), true)[static_cast<std::size_t>(t)],
                          view->Signals().Length());
    }
};

} // namespace

class WorkbenchTest : public QObject {
    Q_OBJECT
private slots:
    void compareCodecsOpensFromTheMenuAndTheOriginalsBar();
    void tableFollowsRunsAndSessions();
    void exportsMatchTheBatchReport();
    void exportFailureIsShown();
    void exportWritesANameThatIsNotUtf8();
    void rowButtonsCarryTheRowsMenu();
    void decodedFilesAreSavedFromTheMenuAndTheView();
    void switchingKeepsThePositionWithoutRestarting();
    void playheadFollowsThePlayedSamples();
    void regionLoopsAndClicksSeek();
    void levelsAreMatchedOverActiveSpeech();
    void oneSoundAtATime();
    void processingStopsListening();
    void blindRoundHidesXAndKeepsTheScore();
    void screenshots();
    void fifteenCodecs();
    void picturesAreTheDirectDrawings();
};

void WorkbenchTest::compareCodecsOpensFromTheMenuAndTheOriginalsBar() {
    Bench b;
    QAction *compare = b.w().Action(kCmdCompareCodecs);
    QVERIFY(compare);
    QCOMPARE(compare->text(), QString("Co&mpare codecs..."));
    QMenu *options = nullptr;
    for (QAction *top : b.w().menuBar()->actions()) {
        if (top->text() == "&Options") options = top->menu();
    }
    QVERIFY(options && options->actions().contains(compare));
    compare->trigger();
    ComparisonView *view = b.w().Comparison();
    QVERIFY(view && view->isVisible());
    QCOMPARE(view->Model().rowCount(), 0);
    QCOMPARE(view->findChild<QLabel *>("comparisonHeading")->text(), QString("No original file opened."));
    view->close();
    // A double click on the original's bar opens it again.
    QVERIFY(b.Open(SpeechWave()));
    b.w().Command(kCmdProcess);
    const QPoint bar = b.layout().OriginalBar().center();
    QTest::mouseDClick(b.w().Area(), Qt::LeftButton, {}, bar);
    QVERIFY(view->isVisible());
    QCOMPARE(view->Model().rowCount(), b.Codecs());
    QVERIFY(view->findChild<QLabel *>("comparisonHeading")->text().startsWith("mmt1.wav"));
    // A double click elsewhere (a result bar) does not.
    view->close();
    QTest::mouseDClick(b.w().Area(), Qt::LeftButton, {}, b.BarPoint(0));
    QVERIFY(!view->isVisible());
}

void WorkbenchTest::tableFollowsRunsAndSessions() {
    Bench b;
    b.w().Command(kCmdCompareCodecs);
    ComparisonView *view = b.w().Comparison();
    QAbstractItemModelTester tester(&view->Sorted(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    QVERIFY(b.Open(SpeechWave()));
    QCOMPARE(view->Model().rowCount(), 0); // nothing ran yet
    b.w().Command(kCmdProcess);
    QCOMPARE(view->Model().rowCount(), b.Codecs());
    // Shown by bit rate, the codecs that cannot take 8 kHz speech at the bottom.
    const auto &sorted = view->Sorted();
    double previous = 0;
    bool gap = false;
    for (int r = 0; r < sorted.rowCount(); ++r) {
        const QVariant rate = sorted.index(r, ComparisonModel::BitRate).data(ComparisonModel::SortRole);
        if (!rate.isValid()) {
            gap = true;
            continue;
        }
        QVERIFY2(!gap, "a codec with results below one without");
        QVERIFY(rate.toDouble() >= previous);
        previous = rate.toDouble();
        const QString name = sorted.index(r, ComparisonModel::Codec).data().toString();
        const vntr::evaluator::CodecSlot *slot = b.w().SlotAtRow(b.RowOf(name.toStdString()));
        QVERIFY(slot);
        QCOMPARE(rate.toDouble(), double(slot->runBitRate));
        QCOMPARE(sorted.index(r, ComparisonModel::Snr).data(ComparisonModel::SortRole).toDouble(), slot->quality.snrDb);
    }
    // Sorting by a header click goes through the proxy.
    view->Table()->sortByColumn(ComparisonModel::Lsd, Qt::AscendingOrder);
    QVERIFY(sorted.index(0, ComparisonModel::Lsd).data(ComparisonModel::SortRole).toDouble() <=
            sorted.index(1, ComparisonModel::Lsd).data(ComparisonModel::SortRole).toDouble());
    // A session saved and opened again: a new run, the table follows.
    const QString session = b.place.File("s.qbl");
    b.prompts.files.push_back(session);
    b.w().Command(kCmdSaveSession);
    QVERIFY(QFile::exists(session));
    b.w().Command(kCmdSelectCodecs); // cancelled: changes nothing
    QVERIFY(b.OpenSpeechAt11k());
    QCOMPARE(view->Model().rowCount(), 0);
    b.prompts.files.push_back(session);
    b.w().Command(kCmdLoadSession);
    QCOMPARE(b.w().Core().State(), DisplayState::Results);
    QCOMPARE(view->Model().rowCount(), b.w().Rows()); // the session's codecs
    QVERIFY(view->Model().Rows().front().bitRate.has_value());
}

void WorkbenchTest::exportsMatchTheBatchReport() {
    Bench b;
    QVERIFY(b.Open(SpeechWave()));
    b.w().Command(kCmdProcess);
    b.w().Command(kCmdCompareCodecs);
    ComparisonView *view = b.w().Comparison();
    const QString json = b.place.File("table.json");
    const QString csv = b.place.File("table.csv");
    const std::size_t shownBefore = b.prompts.messages.size(); // the codecs that cannot take 8 kHz
    b.prompts.files.push_back(json);
    for (QPushButton *button : view->findChildren<QPushButton *>()) {
        if (button->text() == "Export &JSON...") button->click();
    }
    b.prompts.files.push_back(csv);
    for (QPushButton *button : view->findChildren<QPushButton *>()) {
        if (button->text() == "Export &CSV...") button->click();
    }
    QCOMPARE(b.prompts.fileRequests,
             (std::vector<FilePurpose>{FilePurpose::OpenOriginal, FilePurpose::ExportJson, FilePurpose::ExportCsv}));
    QCOMPARE(b.prompts.messages.size(), shownBefore); // the exports said nothing
    // The batch over the same speech with the same codecs.
    QStringList codecs;
    for (int r = 0; r < b.w().Rows(); ++r) codecs << QString::fromStdString(b.w().SlotAtRow(r)->Name());
    const QString batchJson = b.place.File("batch.json");
    const QString batchCsv = b.place.File("batch.csv");
    QDir().mkpath(b.place.File("batchtmp"));
    RunBatch({"--batch", SpeechWave(), "--codecs", codecs.join(","), "--json", batchJson, "--csv", batchCsv},
             b.place.File("batchtmp"));
    QVERIFY(QFile::exists(batchJson) && QFile::exists(batchCsv));
    const nlohmann::json mineDoc = ReadJson(json);
    const nlohmann::json batchDoc = ReadJson(batchJson);
    QVERIFY(!mineDoc.is_discarded() && !batchDoc.is_discarded());
    // Both are a corpus of one; the original's records are compared.
    QCOMPARE(mineDoc["files"].size(), std::size_t{1});
    QCOMPARE(batchDoc["files"].size(), std::size_t{1});
    const nlohmann::json &mine = mineDoc["files"][0];
    const nlohmann::json &batch = batchDoc["files"][0];
    QCOMPARE(mine["codecs"].size(), static_cast<std::size_t>(b.Codecs()));
    // The messages are each front end's own: the window showed the 11 and
    // 22 kHz coders' refusals as boxes, the batch lists them in its table.
    // The window compares each file at its own best lag, as it always has;
    // a batch run at the codec's one alignment, and it numbers only the rows
    // it ran.  The figures that depend on the lag differ; the rest is equal.
    for (const auto &[doc, way] : {std::pair{&mine, "file"}, std::pair{&batch, "codec"}}) {
        for (const auto &codec : (*doc)["codecs"]) {
            if (codec.contains("quality")) QCOMPARE(codec["quality"]["alignment"].get<std::string>(), std::string(way));
        }
    }
    nlohmann::json mineRecords = WithoutLagFigures(WithoutTimes(mine));
    nlohmann::json batchRecords = WithoutLagFigures(WithoutTimes(batch));
    mineRecords.erase("messages");
    batchRecords.erase("messages");
    QVERIFY2(mineRecords == batchRecords,
             qPrintable(QString::fromStdString(mineRecords.dump(1) + "\n----\n" + batchRecords.dump(1))));
    QVERIFY(mine["messages"].size() > 0);
    // An open given up keeps the report's messages with the original that stays.
    b.w().Command(kCmdOpen); // the chooser is closed
    const QString again = b.place.File("again.json");
    b.prompts.files.push_back(again);
    for (QPushButton *button : view->findChildren<QPushButton *>()) {
        if (button->text() == "Export &JSON...") button->click();
    }
    QVERIFY2(ReadJson(again)["files"][0]["messages"] == mine["messages"],
             qPrintable(QString::fromStdString(ReadJson(again).dump(1))));
    // The CSV is the batch's cell by cell but for the speeds, and its rows
    // are the JSON's codecs with their figures.
    const auto table = ReadCsv(csv);
    const auto batchTable = ReadCsv(batchCsv);
    QVERIFY(!table.empty());
    QCOMPARE(table[0], batchTable[0]);
    QCOMPARE(table.size(), mine["codecs"].size() + 1);
    QCOMPARE(batchTable.size(), table.size());
    const auto column = [&](const std::string &name) {
        return static_cast<std::size_t>(std::find(table[0].begin(), table[0].end(), name) - table[0].begin());
    };
    const std::size_t codec = column("codec");
    const std::size_t snr = column("snr_db");
    QVERIFY(codec < table[0].size() && snr < table[0].size());
    for (std::size_t r = 1; r < table.size(); ++r) {
        QCOMPARE(table[r].size(), table[0].size());
        for (std::size_t c = 0; c < table[0].size(); ++c) {
            if (table[0][c] == "coding_x_realtime" || table[0][c] == "decoding_x_realtime") continue;
            if (std::find(std::begin(kLagColumns), std::end(kLagColumns), table[0][c]) != std::end(kLagColumns))
                continue;
            QVERIFY2(table[r][c] == batchTable[r][c],
                     qPrintable(QString::fromStdString(table[0][c] + ": " + table[r][c] + " / " + batchTable[r][c])));
        }
        const auto &record = mine["codecs"][r - 1];
        QCOMPARE(table[r][codec], record["name"].get<std::string>());
        if (record.contains("quality")) {
            QVERIFY(std::abs(std::stod(table[r][snr]) - record["quality"]["snrDb"].get<double>()) < 1e-5);
        }
    }
}

void WorkbenchTest::exportFailureIsShown() {
    Bench b;
    b.w().Command(kCmdCompareCodecs);
    ComparisonView *view = b.w().Comparison();
    QPushButton *json = nullptr;
    for (QPushButton *button : view->findChildren<QPushButton *>()) {
        if (button->text() == "Export &JSON...") json = button;
    }
    QVERIFY(json);
    QVERIFY(!json->isEnabled()); // nothing to export before a run
    QVERIFY(b.Open(SpeechWave()));
    b.w().Command(kCmdProcess);
    QVERIFY(json->isEnabled());
    b.prompts.Clear();
    const QString nowhere = b.place.File("none/table.json");
    b.prompts.files.push_back(nowhere);
    json->click();
    QCOMPARE(b.prompts.messages.size(), 1u);
    QCOMPARE(b.prompts.messages[0].title, kErrorTitle);
    QCOMPARE(b.prompts.messages[0].text, "Could not write to destination file " + nowhere + ".");
    // A closed chooser exports nothing and says nothing.
    json->click();
    QCOMPARE(b.prompts.messages.size(), 1u);
}

// A session stores its original's name as bytes; one that is not UTF-8
// once ended the window in the JSON writer when the table was exported.
void WorkbenchTest::exportWritesANameThatIsNotUtf8() {
    Bench b;
    QVERIFY(b.Open(SpeechWave()));
    b.w().Command(kCmdProcess);
    const QString session = b.place.File("s.qbl");
    b.prompts.files.push_back(session);
    b.w().Command(kCmdSaveSession);
    // The stored name (after the 31-byte magic and its length) made Latin-1.
    QFile file(session);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray bytes = file.readAll();
    file.close();
    uint32_t length = 0;
    std::memcpy(&length, bytes.constData() + 31, 4);
    const QByteArray name("caf\xe9.wav", 9);
    const uint32_t newLength = static_cast<uint32_t>(name.size() + 1);
    bytes.replace(31, static_cast<int>(4 + length),
                  QByteArray(reinterpret_cast<const char *>(&newLength), 4) + name + QByteArray(1, '\0'));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
    file.close();
    b.prompts.files.push_back(session);
    b.w().Command(kCmdLoadSession);
    QCOMPARE(b.w().Core().State(), DisplayState::Results);
    b.w().Command(kCmdCompareCodecs);
    const QString json = b.place.File("table.json");
    b.prompts.Clear();
    b.prompts.files.push_back(json);
    for (QPushButton *button : b.w().Comparison()->findChildren<QPushButton *>()) {
        if (button->text() == "Export &JSON...") button->click();
    }
    QCOMPARE(b.prompts.messages.size(), 0u);
    const nlohmann::json doc = ReadJson(json);
    QVERIFY(!doc.is_discarded());
    QCOMPARE(doc["files"][0]["name"].get<std::string>(), std::string("caf\xef\xbf\xbd.wav"));
    QCOMPARE(doc["files"][0]["nameBytes"].get<std::string>(), std::string("caf%E9.wav"));
}

void WorkbenchTest::rowButtonsCarryTheRowsMenu() {
    Bench b;
    QVERIFY(b.Open(SpeechWave()));
    // Before a run the buttons are disabled: no menu.
    QTest::mouseClick(b.w().Button(kBtnPlayRow0 + b.RowOf("VT180")), Qt::RightButton);
    QVERIFY(!b.w().RowMenu());
    b.w().Command(kCmdProcess);
    const int row = b.RowOf("VT180"); // rows go by bit rate after the run
    // The right click on the play button opens the row's menu...
    ToolButton *play = b.w().Button(kBtnPlayRow0 + row);
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(2, 2), play->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(play, &event);
    QMenu *menu = b.w().RowMenu();
    QVERIFY(menu);
    QTRY_VERIFY(menu->isVisible());
    QStringList texts;
    for (QAction *a : menu->actions()) {
        if (!a->isSeparator()) texts << a->text();
    }
    QCOMPARE(texts, QStringList({"Save &decoded file as...", "Save &coded file as...", "Show in the &signal view",
                                 "Co&mpare codecs..."}));
    // ...which shows the codec in the signal view.
    menu->findChild<QAction *>("rowSignalView")->trigger();
    QCOMPARE(b.w().DetailRow(), row + 1);
    QVERIFY(b.w().Signals() && b.w().Signals()->isVisible());
    QCOMPARE(b.w().Signals()->Listening(), b.w().Signals()->Signals().Find("VT180") + 1);
    menu->close();
    QTRY_VERIFY(!b.w().RowMenu());
    // The save button carries it too; the bar's right click is still the codec's options.
    ToolButton *save = b.w().Button(kBtnSaveRow0 + row);
    QContextMenuEvent onSave(QContextMenuEvent::Mouse, QPoint(2, 2), save->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(save, &onSave);
    QVERIFY(b.w().RowMenu());
    b.w().RowMenu()->close();
    b.Click(row, Qt::RightButton);
    QCOMPARE(b.prompts.dialogTitles, QStringList({"Options settings..."}));
    // The coded file's entry follows the save button: greyed once saved.
    b.prompts.files.push_back(b.place.File("coded.wav"));
    b.w().Command(kBtnSaveRow0 + row);
    QMenu again;
    b.w().BuildRowMenu(row, again);
    QVERIFY(!again.findChild<QAction *>("rowSaveCoded")->isEnabled());
    QVERIFY(again.findChild<QAction *>("rowSaveDecoded")->isEnabled());
    // A row that did not run offers neither its decoded file nor its view.
    QMenu none;
    b.w().BuildRowMenu(b.RowOf("VT500f22"), none);
    QVERIFY(!none.findChild<QAction *>("rowSaveDecoded")->isEnabled());
    QVERIFY(!none.findChild<QAction *>("rowSignalView")->isEnabled());
    QVERIFY(none.findChild<QAction *>("rowCompare")->isEnabled());
}

void WorkbenchTest::decodedFilesAreSavedFromTheMenuAndTheView() {
    Bench b;
    QVERIFY(b.Open(SpeechWave()));
    b.w().Command(kCmdProcess);
    const int row = b.RowOf("VT4864v6");
    QMenu menu;
    b.w().BuildRowMenu(row, menu);
    const QString saved = b.place.File("decoded.wav");
    b.prompts.files.push_back(saved);
    menu.findChild<QAction *>("rowSaveDecoded")->trigger();
    QCOMPARE(b.prompts.fileRequests.back(), FilePurpose::SaveDecoded);
    QCOMPARE(QString(ChoiceFor(FilePurpose::SaveDecoded).title), QString("Save decoded file as..."));
    // A plain 16-bit wave with the decoded samples.
    vntr::evaluator::OriginalFile file;
    QuietFrontend quiet;
    QVERIFY(vntr::evaluator::OpenOriginal(quiet, saved.toStdString(), file));
    QCOMPARE(file.formatText, std::string("8000 Hz, PCM 16 bit MONO"));
    std::vector<float> a;
    std::vector<float> d;
    int rate = 0;
    QVERIFY(vntr::evaluator::ReadWaveSamples(saved.toStdString(), a, rate));
    QVERIFY(vntr::evaluator::ReadWaveSamples(b.w().Core().Temp().Decoded("VT4864v6"), d, rate));
    QVERIFY(a == d && !a.empty());
    // A folder that does not exist: the file copy's message.
    const QString nowhere = b.place.File("none/decoded.wav");
    b.prompts.Clear();
    b.prompts.files.push_back(nowhere);
    menu.findChild<QAction *>("rowSaveDecoded")->trigger();
    QCOMPARE(b.prompts.messages.size(), 1u);
    QCOMPARE(b.prompts.messages[0].text, "Could not write to destination file " + nowhere + ".");
    QCOMPARE(b.prompts.messages[0].title, kErrorTitle);
    // From the signal view: the decoded result listened to.
    b.w().Command(kCmdSignalView);
    SignalView *view = b.w().Signals();
    QPushButton *save = view->findChild<QPushButton *>("listenSave");
    view->Listen(0);
    QVERIFY(!save->isEnabled()); // the original is no decoded result
    view->Listen(view->Signals().Find("VT180") + 1);
    QVERIFY(save->isEnabled());
    const QString fromView = b.place.File("fromview.wav");
    b.prompts.files.push_back(fromView);
    save->click();
    QVERIFY(vntr::evaluator::ReadWaveSamples(fromView.toStdString(), a, rate));
    QVERIFY(vntr::evaluator::ReadWaveSamples(b.w().Core().Temp().Decoded("VT180"), d, rate));
    QVERIFY(a == d);
}

void WorkbenchTest::switchingKeepsThePositionWithoutRestarting() {
    Listening l;
    QVERIFY(l.Start());
    l.view->Listen(0);
    QVERIFY(l.view->Play());
    QCOMPARE(l.b.sound.streamStarts, 1);
    QCOMPARE(l.b.sound.streamFormat.sampleRate(), 8000);
    QCOMPARE(l.b.sound.streamFormat.channelCount(), 1);
    QCOMPARE(l.b.sound.streamFormat.sampleFormat(), QAudioFormat::Int16);
    const std::vector<int16_t> original = l.Track(0);
    const std::vector<int16_t> decoded = l.Track(l.trace + 1);
    QVERIFY(original != decoded);
    const auto first = Samples16(l.b.sound.Pull(800));
    QVERIFY(std::equal(first.begin(), first.end(), original.begin()));
    // The digit keys go to the stacked results from the top: stacking the
    // decoded result gives it a key, which switches on the way.
    l.view->SetShown(l.trace, true);
    const std::vector<int> shown = l.view->Shown();
    const int digit = static_cast<int>(std::find(shown.begin(), shown.end(), l.trace) - shown.begin()) + 1;
    QVERIFY(digit >= 1 && digit <= 9);
    auto *button = l.view->findChild<QPushButton *>(QStringLiteral("listen%1").arg(l.trace + 1));
    QVERIFY(button && button->text().endsWith(QStringLiteral(" [%1]").arg(digit)));
    QTest::keyClick(l.view, Qt::Key(Qt::Key_0 + static_cast<int>(shown.size()) + 1)); // nothing stacked there
    QCOMPARE(l.view->Listening(), 0);
    QTest::keyClick(l.view, Qt::Key(Qt::Key_0 + digit));
    QCOMPARE(l.view->Listening(), l.trace + 1);
    const auto after = Samples16(l.b.sound.Pull(800));
    const int fade = 8000 * ListeningStream::kCrossFadeMs / 1000;
    QVERIFY(std::equal(after.begin() + fade, after.end(), decoded.begin() + 800 + fade));
    QCOMPARE(l.b.sound.streamStarts, 1); // no restart
    // The button of the original switches back.
    l.view->findChild<QPushButton *>("listen0")->click();
    QCOMPARE(l.view->Listening(), 0);
    const auto back = Samples16(l.b.sound.Pull(400));
    QVERIFY(std::equal(back.begin() + fade, back.end(), original.begin() + 1600 + fade));
    QCOMPARE(l.b.sound.streamStarts, 1);
    // Space stops.
    QTest::keyClick(l.view, Qt::Key_Space);
    QVERIFY(!l.view->Playing());
    QVERIFY(!l.b.sound.outputActive);
}

void WorkbenchTest::playheadFollowsThePlayedSamples() {
    Listening l;
    QVERIFY(l.Start());
    l.view->SetCursor(0.5);
    QVERIFY(l.view->Play());
    // Handed out far ahead; heard only as far as the sound card says.
    l.b.sound.Pull(8000);
    l.b.sound.playedUs = 250000;
    QCOMPARE(l.view->Player().Position(), int64_t(4000 + 2000));
    SignalCanvas *canvas = l.view->Canvas();
    QTRY_VERIFY(canvas->Playhead().has_value() && std::abs(*canvas->Playhead() - 0.75) < 1e-9);
    // A single pass ends at the end of the time line, and the playhead goes.
    l.b.sound.Pull(30000);
    l.b.sound.playedUs = 3500000;
    QTRY_VERIFY(!l.view->Playing());
    QVERIFY(!canvas->Playhead());
    QCOMPARE(l.view->Player().Position(), int64_t(32000));
}

void WorkbenchTest::regionLoopsAndClicksSeek() {
    Listening l;
    QVERIFY(l.Start());
    SignalCanvas *canvas = l.view->Canvas();
    l.view->resize(1000, 800);
    l.view->show();
    QVERIFY(QTest::qWaitForWindowExposed(l.view));
    // A drag over the canvas selects a region.
    const QRect plot = canvas->Plot();
    const int y = plot.top() + 20;
    const int x1 = canvas->XOf(1.0);
    const int x2 = canvas->XOf(1.25);
    QTest::mousePress(canvas, Qt::LeftButton, {}, QPoint(x1, y));
    QTest::mouseMove(canvas, QPoint((x1 + x2) / 2, y));
    QTest::mouseMove(canvas, QPoint(x2, y));
    QTest::mouseRelease(canvas, Qt::LeftButton, {}, QPoint(x2, y));
    QVERIFY(l.view->Selection().has_value());
    QVERIFY(std::abs(l.view->Selection()->first - canvas->SecondsAt(x1)) < 1e-9);
    QVERIFY(std::abs(l.view->Selection()->second - canvas->SecondsAt(x2)) < 1e-9);
    // Exactly 1.0 s to 1.2 s, looped: the region and then its start again.
    l.view->SetSelection(std::make_pair(1.0, 1.2));
    QTest::keyClick(l.view, Qt::Key_L);
    QVERIFY(l.view->Loop());
    l.view->Listen(0);
    QVERIFY(l.view->Play());
    const std::vector<int16_t> original = l.Track(0);
    const auto heard = Samples16(l.b.sound.Pull(1600 + 800));
    QVERIFY(std::equal(heard.begin(), heard.begin() + 1600, original.begin() + 8000));
    QVERIFY(std::equal(heard.begin() + 1600, heard.end(), original.begin() + 8000));
    l.b.sound.playedUs = 1300000; // 6.5 passes: 1.1 s
    QCOMPARE(l.view->Player().Position(), int64_t(8800));
    // A click clears the region and plays from there (a new start).
    QTest::mouseClick(canvas, Qt::LeftButton, {}, QPoint(canvas->XOf(2.0), y));
    QVERIFY(!l.view->Selection());
    QCOMPARE(l.b.sound.streamStarts, 2);
    l.b.sound.playedUs = 0;
    QVERIFY(std::abs(l.view->Player().Position() - canvas->SecondsAt(canvas->XOf(2.0)) * 8000) <= 1);
    // Escape clears a region before it closes the view.
    l.view->SetSelection(std::make_pair(0.5, 0.6));
    QTest::keyClick(l.view, Qt::Key_Escape);
    QVERIFY(!l.view->Selection());
    QVERIFY(l.view->isVisible());
}

void WorkbenchTest::levelsAreMatchedOverActiveSpeech() {
    Listening l;
    QVERIFY(l.Start());
    const auto &set = l.view->Signals();
    // Each decoded track at the original's level over the active segments.
    std::vector<float> original;
    int rate = 0;
    QVERIFY(vntr::evaluator::ReadWaveSamples(SpeechWave().toStdString(), original, rate));
    std::vector<std::vector<int16_t>> tracks;
    std::vector<std::vector<int16_t>> raw;
    for (const auto &t : ListeningTracks(set, true)) tracks.push_back(WholeTrack(t, set.Length()));
    for (const auto &t : ListeningTracks(set, false)) raw.push_back(WholeTrack(t, set.Length()));
    for (std::size_t t = 0; t < set.decoded.size(); ++t) {
        const DecodedTrace &trace = set.decoded[t];
        std::vector<float> matched(tracks[t + 1].begin(), tracks[t + 1].end());
        const double gain = vntr::evaluator::LevelMatchGain(original, matched, rate, 0);
        QVERIFY2(std::abs(20 * std::log10(gain)) < 0.1, trace.name.c_str());
        // Without the match: the codec's own level.
        QVERIFY(std::abs(RmsDb(tracks[t + 1]) - RmsDb(raw[t + 1]) - 20 * std::log10(trace.gain)) < 0.1);
    }
    // The check box plays them as decoded.
    l.view->Listen(l.trace + 1);
    QVERIFY(l.view->Play());
    l.view->SetLevelMatch(false);
    QVERIFY(l.view->Playing()); // goes on
    const auto heard = Samples16(l.b.sound.Pull(8000));
    QVERIFY(std::equal(heard.begin(), heard.end(), raw[static_cast<std::size_t>(l.trace) + 1].begin()));
}

void WorkbenchTest::oneSoundAtATime() {
    Listening l;
    QVERIFY(l.Start());
    // The window's play button stops the view's listening...
    QVERIFY(l.view->Play());
    QTest::mouseClick(l.b.w().Button(kBtnPlayOriginal), Qt::LeftButton);
    QVERIFY(!l.view->Playing());
    QCOMPARE(l.b.w().PlayingCommand(), int(kBtnPlayOriginal));
    QCOMPARE(l.b.sound.outputStarts, 1);
    // ...and the view's play stops the window's.
    QVERIFY(l.view->Play());
    QCOMPARE(l.b.w().PlayingCommand(), 0);
    QVERIFY(l.b.w().Action(kCmdOpen)->isEnabled());
    QVERIFY(l.b.sound.stream != nullptr);
    // Closing the view stops it.
    l.view->close();
    QVERIFY(!l.view->Playing());
    QVERIFY(!l.b.sound.outputActive);
    // A refusing sound card: nothing plays.
    l.b.w().Command(kCmdSignalView);
    l.b.sound.refuseOutput = true;
    QVERIFY(!l.view->Play());
    QVERIFY(!l.view->Playing());
}

void WorkbenchTest::processingStopsListening() {
    Listening l;
    QVERIFY(l.Start());
    QVERIFY(l.view->Play());
    // The run replaces the decoded files: the view stops and follows.
    l.b.w().Command(kCmdProcess);
    QVERIFY(!l.view->Playing());
    QVERIFY(l.view->HasSignals());
    QCOMPARE(l.view->Signals().decoded.size(), static_cast<std::size_t>(WithResults(l.b)));
    // A recording empties it; nothing plays while it records.
    l.b.w().Command(kCmdRecord);
    QCOMPARE(l.b.w().Core().State(), DisplayState::Recording);
    QVERIFY(!l.view->HasSignals());
    QVERIFY(!l.view->Play());
    l.b.sound.Deliver(Tone(8000, 0.5, 300, 0.3));
    l.b.w().Command(kCmdRecord);
    QVERIFY(l.view->HasSignals()); // the recording, alone
    QVERIFY(l.view->Signals().decoded.empty());
}

void WorkbenchTest::blindRoundHidesXAndKeepsTheScore() {
    Listening l;
    QVERIFY(l.Start());
    const int b = l.trace + 1;
    l.view->Listen(b);
    QVERIFY(!l.view->StartBlindRound(0, 0, 5, 1)); // A and B must differ
    QVERIFY(l.view->StartBlindRound(0, b, 5, 1234));
    QVERIFY(l.view->Round().Running());
    QVERIFY(!l.view->findChild<QPushButton *>("listen0")->isEnabled());
    QVERIFY(!l.view->findChild<QPushButton *>("listenSave")->isEnabled());
    QCOMPARE(l.view->findChild<QLabel *>("blindScore")->text(), QString("Trial 1 of 5"));
    // A click on X plays X.
    QVERIFY(!l.view->Playing());
    l.view->findChild<QPushButton *>("blindX")->click();
    QVERIFY(l.view->Playing());
    QCOMPARE(l.view->Player().Selected(), l.view->Round().X());
    const std::vector<int16_t> tracks[2] = {l.Track(0), l.Track(b)};
    l.b.sound.Pull(200);
    int64_t at = 200;
    const int fade = 8000 * ListeningStream::kCrossFadeMs / 1000;
    for (int trial = 0; trial < 5; ++trial) {
        // X sounds like the track it stands for, at the running position.
        QTest::keyClick(l.view, Qt::Key_X);
        const auto heard = Samples16(l.b.sound.Pull(400));
        const auto &x = tracks[l.view->Round().X() == 0 ? 0 : 1];
        QVERIFY(std::equal(heard.begin() + fade, heard.end(), x.begin() + at + fade));
        at += 400;
        // The digits do nothing in a round.
        QTest::keyClick(l.view, Qt::Key_0);
        QCOMPARE(l.view->Listening(), b);
        // Right three times, then wrong twice.
        const bool xIsA = l.view->Round().X() == 0;
        QPushButton *answer = l.view->findChild<QPushButton *>((trial < 3) == xIsA ? "blindXisA" : "blindXisB");
        answer->click();
    }
    QVERIFY(!l.view->Round().Running());
    QCOMPARE(l.view->Round().Correct(), 3);
    QCOMPARE(l.view->findChild<QLabel *>("blindScore")->text(), QString("3 of 5 right (by guessing: 50.0 %)"));
    // After the round the view listens to what it did before.
    QCOMPARE(l.view->Player().Selected(), b);
    QVERIFY(l.view->findChild<QPushButton *>("listen0")->isEnabled());
    // Every trial is listed and kept, and exported with the signals' names.
    auto *list = l.view->findChild<QListWidget *>("blindTrials");
    QCOMPARE(list->count(), 5);
    QVERIFY(list->item(4)->text().startsWith("Round 1, trial 5: X was "));
    QCOMPARE(l.view->Trials().size(), 5u);
    const QString csv = l.b.place.File("trials.csv");
    l.b.prompts.files.push_back(csv);
    l.view->findChild<QPushButton *>("blindExport")->click();
    QCOMPARE(l.b.prompts.fileRequests.back(), FilePurpose::ExportTrials);
    const auto table = ReadCsv(csv);
    QCOMPARE(table.size(), 6u);
    int right = 0;
    for (std::size_t r = 1; r < table.size(); ++r) {
        QCOMPARE(table[r][0], std::string("1"));
        QCOMPARE(table[r][2], std::string("mmt1.wav"));
        QCOMPARE(table[r][3], std::string("Original"));
        QCOMPARE(table[r][4], std::string("VT180"));
        QVERIFY(table[r][5] == "Original" || table[r][5] == "VT180");
        right += table[r][7] == "1" ? 1 : 0;
    }
    QCOMPARE(right, 3);
    // A second round adds to the log; a folder that is not there is said so.
    QVERIFY(l.view->StartBlindRound(0, b, 1, 99));
    l.view->BlindAnswer(true);
    QCOMPARE(l.view->Trials().size(), 6u);
    QCOMPARE(l.view->Trials().back().round, 2);
    l.b.prompts.Clear();
    l.b.prompts.files.push_back(l.b.place.File("none/trials.csv"));
    l.view->findChild<QPushButton *>("blindExport")->click();
    QCOMPARE(l.b.prompts.messages.size(), 1u);
    QCOMPARE(l.b.prompts.messages[0].text,
             "Could not write to destination file " + l.b.place.File("none/trials.csv") + ".");
}

void WorkbenchTest::screenshots() {
    const QString dir = VNTR_TEST_OUTPUT_DIR;
    Bench b;
    QVERIFY(b.Open(SpeechWave()));
    b.w().Command(kCmdSignalView);
    SignalView *view = b.w().Signals();
    view->resize(1100, 760);
    QVERIFY(QTest::qWaitForWindowExposed(view));
    QVERIFY(view->grab().save(dir + "/workbench-original-alone.png"));
    b.w().Command(kCmdProcess);
    // Two codecs stacked, a region, the playhead inside it.
    for (const int t : view->Shown()) view->SetShown(t, false);
    view->SetShown(view->Signals().Find("VT4864v6"), true);
    view->SetShown(view->Signals().Find("VT180"), true);
    view->resize(1100, 1300);
    view->SetSelection(std::make_pair(1.2, 1.8));
    view->Listen(view->Signals().Find("VT180") + 1);
    QVERIFY(view->Play());
    b.sound.playedUs = 250000;
    QTRY_VERIFY(view->Canvas()->Playhead().has_value() && std::abs(*view->Canvas()->Playhead() - 1.45) < 1e-6);
    QApplication::processEvents();
    const QImage picture = view->grab().toImage();
    QVERIFY(picture.save(dir + "/workbench-signal-view.png"));
    qInfo("screenshot: %s", qPrintable(dir + "/workbench-signal-view.png"));
    // The panes are there: waveforms, differences, spectrograms, both curves.
    SignalCanvas *canvas = view->Canvas();
    int curves = 0;
    int differences = 0;
    for (const auto &pane : canvas->Panes()) {
        curves += SignalCanvas::IsCurve(pane.kind);
        differences += pane.kind == SignalCanvas::PaneKind::Difference;
    }
    QCOMPARE(curves, 3);
    QCOMPARE(differences, 2);
    // The playhead is drawn red at 1.45 s.
    const QPoint head = canvas->mapTo(view, QPoint(canvas->XOf(1.45), canvas->Panes().front().rect.center().y()));
    const QColor red = picture.pixelColor(head);
    QVERIFY2(red.red() > 200 && red.green() < 60, qPrintable(red.name()));
    view->StopListening();
    // The comparison table beside the plot of segmental SNR.
    b.w().Command(kCmdCompareCodecs);
    ComparisonView *compare = b.w().Comparison();
    compare->MeasureChoice()->setCurrentIndex(1);
    QCOMPARE(compare->Plot()->CurrentMeasure(), RatePlot::Measure::SegmentalSnr);
    QVERIFY(QTest::qWaitForWindowExposed(compare));
    QApplication::processEvents();
    const QImage table = compare->grab().toImage();
    QVERIFY(table.save(dir + "/workbench-comparison.png"));
    qInfo("screenshot: %s", qPrintable(dir + "/workbench-comparison.png"));
    // Every codec with results is a point in its own colour where the plot says.
    const auto points = compare->Plot()->Points();
    QCOMPARE(static_cast<int>(points.size()), WithResults(b));
    for (const auto &point : points) {
        const QPoint at = compare->Plot()->mapTo(compare, point.at.toPoint());
        QColor c = table.pixelColor(at);
        // Its own colour within its marker, or that of a point drawn over it
        // (a neighbour's label can cross the marker's centre).
        bool match = false;
        for (int dy = -2; dy <= 2 && !match; ++dy) {
            for (int dx = -2; dx <= 2 && !match; ++dx) {
                const QColor here = table.pixelColor(at + QPoint(dx, dy));
                for (const auto &other : points) {
                    const QPointF d = other.at - point.at;
                    if (std::hypot(d.x(), d.y()) <= 5 && std::abs(here.red() - other.colour.red()) +
                                                                 std::abs(here.green() - other.colour.green()) +
                                                                 std::abs(here.blue() - other.colour.blue()) <
                                                             40) {
                        match = true;
                        c = here;
                    }
                }
            }
        }
        QVERIFY2(match, qPrintable(QString::fromStdString(point.name) + " " + c.name() + " " + point.colour.name()));
    }
}

void WorkbenchTest::picturesAreTheDirectDrawings() {
    // The canvas draws waveforms from summaries and spectrograms from the
    // frames it shows, read from the files; the picture is the one drawn
    // from the samples and the whole spectrograms in memory, at the whole
    // signal and zoomed in.
    Listening l;
    QVERIFY(l.Start());
    SignalView *view = l.view;
    const SignalSet &set = view->Signals();
    // Two codecs at the original's rate, with their differences.
    for (const int t : view->Shown()) view->SetShown(t, false);
    for (const char *name : {"VT180", "VT48"}) view->SetShown(set.Find(name), true);
    view->SetSelection(std::nullopt);
    view->SetCursor(set.original.Seconds()); // the cursor line beyond the panes
    view->resize(1000, 900);
    QVERIFY(QTest::qWaitForWindowExposed(view));
    SignalCanvas *canvas = view->Canvas();
    std::vector<float> original;
    int rate = 0;
    QVERIFY(vntr::evaluator::ReadWaveSamples(set.original.path, original, rate));
    // The samples of each pane, read whole.
    auto samplesOf = [&](const SignalCanvas::Pane &pane, double &offset) {
        offset = 0;
        if (pane.trace < 0) return original;
        const DecodedTrace &trace = set.decoded[static_cast<std::size_t>(pane.trace)];
        std::vector<float> decoded;
        int decodedRate = 0;
        vntr::evaluator::ReadWaveSamples(trace.decoded.path, decoded, decodedRate);
        if (pane.kind != SignalCanvas::PaneKind::Difference) {
            offset = static_cast<double>(trace.delaySamples) / decodedRate;
            return decoded;
        }
        std::vector<float> difference;
        for (std::size_t i = 0; i < original.size() && i + trace.delaySamples < decoded.size(); ++i)
            difference.push_back(original[i] - decoded[i + trace.delaySamples]);
        return difference;
    };
    double peakDb = ComputeSpectrogram(original, rate).peakDb;
    for (const int t : view->Shown()) {
        std::vector<float> decoded;
        int decodedRate = 0;
        QVERIFY(vntr::evaluator::ReadWaveSamples(set.decoded[static_cast<std::size_t>(t)].decoded.path, decoded,
                                                 decodedRate));
        QCOMPARE(decodedRate, rate);
        peakDb = std::max<double>(peakDb, ComputeSpectrogram(decoded, decodedRate).peakDb);
    }
    const double floorDb = std::ceil(peakDb / 10.0) * 10.0 - 80.0;
    QVERIFY(std::abs(canvas->FloorDb() - floorDb) < 1e-9);
    for (const auto &[t0, t1] : {std::make_pair(-1.0, -1.0), std::make_pair(1.05, 1.35)}) {
        if (t0 < 0) {
            canvas->ShowAll();
        } else {
            canvas->SetRange(t0, t1);
        }
        const auto [from, to] = canvas->Range();
        QApplication::processEvents();
        const QImage drawn = canvas->grab().toImage().convertToFormat(QImage::Format_RGB32);
        int compared = 0;
        for (const auto &pane : canvas->Panes()) {
            if (SignalCanvas::IsCurve(pane.kind)) continue;
            double offset = 0;
            const std::vector<float> x = samplesOf(pane, offset);
            QImage direct(drawn.size(), QImage::Format_RGB32);
            direct.fill(Qt::black);
            if (pane.kind == SignalCanvas::PaneKind::Spectrum) {
                const Spectrogram whole = ComputeSpectrogram(x, rate);
                QImage image(pane.rect.size(), QImage::Format_RGB32);
                image.fill(QColor(0x30, 0x30, 0x30));
                for (int px = 0; px < image.width(); ++px) {
                    const double at = from + (px + 0.5) / image.width() * (to - from) + offset;
                    if (at < 0 || at > static_cast<double>(x.size()) / rate) continue;
                    const int column = whole.ColumnAt(at);
                    SignalCanvas::PaintSpectrumColumn(image, px,
                                                      std::span<const float>(whole.db).subspan(
                                                          static_cast<std::size_t>(column) * whole.bins, whole.bins),
                                                      rate / 2.0, rate / 2.0, floorDb);
                }
                QPainter(&direct).drawImage(pane.rect.topLeft(), image);
            } else {
                QPainter p(&direct);
                const Envelope e = WaveEnvelope(x, (from + offset) * rate, (to - from) * rate, pane.rect.width());
                SignalCanvas::PaintWave(p, pane.rect, e, canvas->WaveRange(),
                                        SignalCanvas::TraceColour(set, pane.trace));
            }
            // Inside the pane's frame.
            const QRect inside = pane.rect.adjusted(1, 1, -2, -2);
            for (int y = inside.top(); y <= inside.bottom(); ++y) {
                for (int x0 = inside.left(); x0 <= inside.right(); ++x0) {
                    if (drawn.pixel(x0, y) != direct.pixel(x0, y)) {
                        QFAIL(qPrintable(QStringLiteral("pane %1 of trace %2 differs at %3,%4 (range %5..%6)")
                                             .arg(static_cast<int>(pane.kind))
                                             .arg(pane.trace)
                                             .arg(x0)
                                             .arg(y)
                                             .arg(from)
                                             .arg(to)));
                    }
                }
            }
            ++compared;
        }
        QCOMPARE(compared, 2 + 2 * 3);
    }
    // Every ViSQOL curve averages to the table's figure (the mean NSIM of
    // the score, from which its MOS comes).
    const auto rows = ComparisonRows(l.b.w().Core());
    int scored = 0;
    for (const DecodedTrace &trace : set.decoded) {
        const auto &core = l.b.w().Core();
        std::size_t slot = 0;
        while (slot < core.SlotCount() && core.Slots()[slot].Name() != trace.name) ++slot;
        QVERIFY(slot < core.SlotCount());
        const auto &quality = core.Slots()[slot].quality;
        QCOMPARE(trace.visqolValid, quality.visqolValid);
        if (!trace.visqolValid) continue;
        QVERIFY(!trace.visqol.empty());
        double sum = 0;
        for (const auto &patch : trace.visqol) {
            sum += patch.similarity;
            QVERIFY(patch.referenceStart >= 0 && patch.referenceEnd > patch.referenceStart);
            QVERIFY(patch.referenceEnd <= set.original.Seconds() + 1e-6);
        }
        QVERIFY2(std::abs(sum / static_cast<double>(trace.visqol.size()) - quality.visqolNsim) < 1e-9,
                 trace.name.c_str());
        for (const auto &r : rows) {
            if (r.name == trace.name) QVERIFY(r.visqolMos && std::abs(*r.visqolMos - quality.visqolMos) < 1e-9);
        }
        ++scored;
    }
    QVERIFY(scored >= 2);
    int visqolPanes = 0;
    for (const auto &pane : canvas->Panes()) visqolPanes += pane.kind == SignalCanvas::PaneKind::VisqolCurve;
    QCOMPARE(visqolPanes, 1);
}

void WorkbenchTest::fifteenCodecs() {
    const QString dir = QString(VNTR_TEST_OUTPUT_DIR) + "/screenshots";
    QVERIFY(QDir().mkpath(dir));
    Bench b;
    QVERIFY(b.Open(SpeechWave()));
    b.w().Command(kCmdProcess);
    // The comparison window at the size it opens with: every column whole.
    b.w().Command(kCmdCompareCodecs);
    ComparisonView *compare = b.w().Comparison();
    QVERIFY(QTest::qWaitForWindowExposed(compare));
    QApplication::processEvents();
    QTableView *table = compare->Table();
    const int viewport = table->viewport()->width();
    for (int c = 0; c < ComparisonModel::ColumnCount; ++c) {
        const int right =
            table->horizontalHeader()->sectionViewportPosition(c) + table->horizontalHeader()->sectionSize(c);
        QVERIFY2(right <= viewport,
                 qPrintable(QStringLiteral("column %1 ends at %2 of %3").arg(c).arg(right).arg(viewport)));
    }
    QVERIFY(compare->Plot()->width() >= compare->Plot()->minimumSizeHint().width());
    QVERIFY(compare->grab().save(dir + "/comparison-opening.png"));
    qInfo("screenshot: %s (%dx%d)", qPrintable(dir + "/comparison-opening.png"), compare->width(), compare->height());
    // The signal view with fifteen codecs stacked.
    b.w().Command(kCmdSignalView);
    SignalView *view = b.w().Signals();
    const int traces = static_cast<int>(view->Signals().decoded.size());
    QVERIFY2(traces >= 15, qPrintable(QString::number(traces)));
    for (int t = 0; t < 15; ++t) view->SetShown(t, true);
    view->resize(1200, 900);
    QVERIFY(QTest::qWaitForWindowExposed(view));
    QApplication::processEvents();
    SignalCanvas *canvas = view->Canvas();
    // Nothing squeezed: the canvas is taller than the view and scrolls.
    QVERIFY(canvas->height() > view->height());
    std::set<QRgb> colours;
    for (const auto &pane : canvas->Panes()) {
        QVERIFY(pane.rect.height() >= SignalCanvas::MinimumHeight(pane.kind));
        if (pane.kind == SignalCanvas::PaneKind::Wave && pane.trace >= 0) {
            colours.insert(SignalCanvas::TraceColour(view->Signals(), pane.trace).rgb());
        }
    }
    QCOMPARE(static_cast<int>(colours.size()), 15);
    QVERIFY(!colours.count(SignalCanvas::TraceColour(view->Signals(), -1).rgb()));
    QVERIFY(view->grab().save(dir + "/signal-view-15-codecs.png"));
    const QImage whole = canvas->grab().toImage();
    QVERIFY(whole.save(dir + "/signal-view-15-codecs-whole.png"));
    qInfo("screenshot: %s (%dx%d)", qPrintable(dir + "/signal-view-15-codecs-whole.png"), whole.width(),
          whole.height());
    // The curves at the bottom, on their own, and each with a curve in it.
    int curvesTop = whole.height();
    for (const auto &pane : canvas->Panes()) {
        if (!SignalCanvas::IsCurve(pane.kind)) continue;
        curvesTop = std::min(curvesTop, pane.rect.top());
        const QRect area = canvas->CurveArea(pane);
        std::set<QRgb> drawn;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); x += 3) drawn.insert(whole.pixel(x, y));
        }
        int codecs = 0;
        for (int t = 0; t < 15; ++t) codecs += drawn.count(SignalCanvas::TraceColour(view->Signals(), t).rgb()) > 0;
        QVERIFY2(codecs >= 12,
                 qPrintable(QStringLiteral("pane %1: %2 codecs").arg(static_cast<int>(pane.kind)).arg(codecs)));
    }
    QVERIFY(whole.copy(0, curvesTop - 8, whole.width(), whole.height() - curvesTop + 8)
                .save(dir + "/signal-view-15-codecs-curves.png"));
    // Each waveform is drawn in its codec's colour somewhere in its pane.
    for (const auto &pane : canvas->Panes()) {
        if (pane.kind != SignalCanvas::PaneKind::Wave) continue;
        const QColor want = SignalCanvas::TraceColour(view->Signals(), pane.trace);
        bool seen = false;
        for (int x = pane.rect.left(); x <= pane.rect.right() && !seen; x += 2) {
            seen = whole.pixelColor(x, pane.rect.center().y()) == want;
        }
        QVERIFY2(seen, qPrintable(QString::number(pane.trace)));
    }
}

QTEST_MAIN(WorkbenchTest)
#include "workbench_test.moc"
