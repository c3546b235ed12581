// The comparison workbench without widgets: the comparison table's rows,
// model and sorting, the plot's axes, the blind A/B/X round, the listening
// stream's regions, loops and switches, and level-matched tracks.
#include "gui_test_support.hpp"

#include "../support/csv.hpp"

#include "core/evaluator.hpp"
#include "core/frame_quality.hpp"
#include "core/quality.hpp"
#include "gui/commands.hpp"
#include "gui/logic/abx_round.hpp"
#include "gui/logic/codec_colours.hpp"
#include "gui/logic/command_rules.hpp"
#include "gui/logic/comparison_table.hpp"
#include "gui/logic/file_choices.hpp"
#include "gui/logic/listening_stream.hpp"
#include "gui/logic/plot_scale.hpp"
#include "gui/logic/signal_set.hpp"
#include "gui/logic/timeline_track.hpp"
#include "gui/logic/wave_summary.hpp"
#include "gui/sound/quiet_frontend.hpp"
#include "gui/window/signal_canvas.hpp"

#include <QAbstractItemModelTester>
#include <QTemporaryDir>
#include <QTest>

#include <random>

#include <array>
#include <cmath>
#include <numeric>
#include <set>

using namespace vntr::gui;
using namespace vntr::gui::test;
using vntr::evaluator::CodecSlot;
using vntr::evaluator::DisplayState;

namespace {

ComparisonRow Row(const std::string &name, std::optional<double> bitRate, std::optional<double> lsd) {
    ComparisonRow r;
    r.name = name;
    r.mode = "standard";
    r.outcome = bitRate ? "ok" : "not run";
    r.sampleRate = 8000;
    r.bitRate = bitRate;
    r.lsdDb = lsd;
    if (bitRate) r.ratio = 128000 / *bitRate;
    return r;
}

QStringList Names(const QAbstractItemModel &model) {
    QStringList names;
    for (int r = 0; r < model.rowCount(); ++r) names << model.index(r, ComparisonModel::Codec).data().toString();
    return names;
}

std::vector<float> SpeechSamples() {
    std::vector<float> x;
    int rate = 0;
    vntr::evaluator::ReadWaveSamples(SpeechWave().toStdString(), x, rate);
    return x;
}

double Rms(std::span<const int16_t> x) {
    double e = 0;
    for (const int16_t v : x) e += static_cast<double>(v) * v;
    return std::sqrt(e / std::max<std::size_t>(x.size(), 1));
}

QByteArray Pcm16(const std::vector<float> &x) {
    QByteArray pcm(static_cast<qsizetype>(x.size() * 2), '\0');
    for (std::size_t i = 0; i < x.size(); ++i) {
        const auto v = static_cast<uint16_t>(static_cast<int16_t>(x[i]));
        pcm[static_cast<qsizetype>(2 * i)] = static_cast<char>(v & 0xFF);
        pcm[static_cast<qsizetype>(2 * i + 1)] = static_cast<char>(v >> 8);
    }
    return pcm;
}

// The speech, and a "decoded" copy `delay` samples late, quieter, with noise.
std::vector<float> DecodedCopy(const std::vector<float> &x, int delay) {
    std::mt19937 random(3);
    std::normal_distribution<float> noise(0.0f, 200.0f);
    std::vector<float> y(static_cast<std::size_t>(delay), 0.0f);
    for (const float v : x) y.push_back(std::round(std::clamp(0.5f * v + noise(random), -32768.0f, 32767.0f)));
    return y;
}

// The energy of each stretch of `hop` samples.
std::vector<double> HopEnergies(const std::vector<float> &x, int hop) {
    std::vector<double> e((x.size() + static_cast<std::size_t>(hop) - 1) / static_cast<std::size_t>(hop), 0.0);
    for (std::size_t i = 0; i < x.size(); ++i) e[i / static_cast<std::size_t>(hop)] += static_cast<double>(x[i]) * x[i];
    return e;
}

// A track whose every sample tells its position: 1000 + index.
ListeningStream::Track Ramp(int64_t n, int offset) {
    std::vector<int16_t> t(static_cast<std::size_t>(n));
    std::iota(t.begin(), t.end(), static_cast<int16_t>(offset));
    return MemoryTrack(std::move(t));
}

std::vector<int16_t> ReadStream(ListeningStream &s, std::size_t n) {
    std::vector<int16_t> out(n, -1);
    s.Read(out.data(), n);
    return out;
}

} // namespace

class WorkbenchLogicTest : public QObject {
    Q_OBJECT
private slots:
    void rowsComeFromTheLastRun();
    void modeTexts();
    void modelPassesTheModelTester();
    void sortingIsNumericWithMissingValuesLast();
    void cellsShowUnitsAndOutcomes();
    void logAxisFitsTheBitRates();
    void linearAxisHasRoundSteps();
    void blindRoundKeepsTheScore();
    void blindRoundDrawsFairly();
    void regionLoopsAtItsBoundaries();
    void singlePassEndsInSilence();
    void regionsAreClampedToTheTimeLine();
    void switchingKeepsThePosition();
    void decodedAtMinus6dBPlaysAtTheOriginalsLevel();
    void tracksAtAnotherRateFollowTheOriginal();
    void fileChoicesOfTheWorkbench();
    void paletteColoursAreDistinct();
    void everyCodecKeepsItsColour();
    void colourCollisionsAreResolvedByName();
    void blindTrialsAreLoggedWithNames();
    void summaryMatchesTheSignalAtEveryZoom();
    void signalsReadFromTheirFilesMatchTheSamples();
    void spectrogramFramesAreThoseOfTheWholeSpectrogram();
    void fileTracksPlayAsTimelineTracks();
    void curveAxesFitTheirValues();
    void compareCodecsIsAlwaysOffered();
};

void WorkbenchLogicTest::rowsComeFromTheLastRun() {
    TestPlace place;
    QuietFrontend quiet;
    vntr::evaluator::EvaluatorConfig config;
    config.systemRoot = place.StageRoot();
    config.tempDir = place.Temp().toStdString();
    vntr::evaluator::Evaluator ev(quiet, config);
    QVERIFY(ev.Startup());
    std::vector<bool> selection(ev.SlotCount(), false);
    int wanted = 0;
    for (std::size_t i = 0; i < ev.SlotCount(); ++i) {
        const std::string name = ev.Slots()[i].Name();
        if (name == "VT180" || name == "VT4864v6" || name == "VT500f22") {
            selection[i] = true;
            ++wanted;
        }
    }
    if (wanted < 3) QSKIP("the audio coders and the dual-rate vocoder are not all installed");
    ev.ApplySelection(selection);
    QVERIFY(ev.OpenOriginalFile(SpeechWave().toStdString()));
    ev.ProcessSelectedCodecs();
    const auto rows = ComparisonRows(ev);
    QCOMPARE(rows.size(), 3u);
    // By bit rate; the 22 kHz coder cannot take 8 kHz speech and comes last.
    QCOMPARE(rows[0].name, std::string("VT4864v6"));
    QCOMPARE(rows[1].name, std::string("VT180"));
    QCOMPARE(rows[2].name, std::string("VT500f22"));
    QCOMPARE(rows[2].outcome, std::string("not run"));
    QVERIFY(!rows[2].bitRate && !rows[2].snrDb && !rows[2].codingSpeed);
    for (int i = 0; i < 2; ++i) {
        const ComparisonRow &r = rows[static_cast<std::size_t>(i)];
        const CodecSlot *slot = nullptr;
        for (std::size_t s = 0; s < ev.SlotCount(); ++s) {
            if (ev.Slots()[s].Name() == r.name) slot = &ev.Slots()[s];
        }
        QVERIFY(slot);
        QCOMPARE(r.outcome, std::string("ok"));
        QCOMPARE(*r.bitRate, double(slot->runBitRate));
        // 4 s of speech coded in codingMicros: 4e6 / micros times real time.
        QVERIFY(r.codingSpeed && r.decodingSpeed);
        QVERIFY(std::abs(*r.codingSpeed - 4e6 / double(slot->codingMicros)) < 1e-6 * *r.codingSpeed);
        QVERIFY(std::abs(*r.decodingSpeed - 4e6 / double(slot->decodingMicros)) < 1e-6 * *r.decodingSpeed);
        QCOMPARE(*r.snrDb, slot->quality.snrDb);
        QCOMPARE(*r.lsdDb, slot->quality.logSpectralDistanceDb);
        QCOMPARE(*r.DelayMs(), slot->quality.delaySamples / 8.0);
    }
    // A pass too fast for the clock has no speed; a failed codec no values.
    for (std::size_t s = 0; s < ev.SlotCount(); ++s) {
        CodecSlot &slot = ev.Slots()[s];
        if (slot.Name() == "VT180") slot.decodingMicros = 0;
        if (slot.Name() == "VT4864v6") slot.failed = true;
    }
    const auto changed = ComparisonRows(ev);
    QCOMPARE(changed[0].name, std::string("VT180"));
    QVERIFY(changed[0].codingSpeed && !changed[0].decodingSpeed);
    const auto failed =
        std::find_if(changed.begin(), changed.end(), [](const auto &r) { return r.name == "VT4864v6"; });
    QCOMPARE(failed->outcome, std::string("failed"));
    QVERIFY(!failed->bitRate && !failed->snrDb);
    ev.Shutdown();
}

void WorkbenchLogicTest::modeTexts() {
    CodecSlot slot;
    QCOMPARE(ModeText(slot), std::string("standard"));
    slot.info.optionMask = 0x1 | 0x10000 | 0x20000;
    slot.encoderOptions = CODEC_OPT_6400 | CODEC_OPT_VAD;
    QCOMPARE(ModeText(slot), std::string("6400 bit/s, VAD"));
    slot.encoderOptions = 0x10000;
    slot.downsampled = 1;
    QCOMPARE(ModeText(slot), std::string("4800 bit/s, 8 kHz copy"));
    slot.encoderOptions = 0;
    slot.downsampled = 0;
    QCOMPARE(ModeText(slot), std::string("default rate"));
    // Options the codec does not offer did not take effect.
    slot.info.optionMask = 0;
    slot.encoderOptions = 0x10001;
    slot.downsampled = 0;
    QCOMPARE(ModeText(slot), std::string("standard"));
}

void WorkbenchLogicTest::modelPassesTheModelTester() {
    ComparisonModel model;
    ComparisonSortModel sorted;
    sorted.setSourceModel(&model);
    QAbstractItemModelTester sourceTester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QAbstractItemModelTester sortedTester(&sorted, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.columnCount(), int(ComparisonModel::ColumnCount));
    model.SetRows({Row("VT180", 21146, 9.3), Row("VT4864v6", 6384, 11.4), Row("VT500f22", std::nullopt, std::nullopt)});
    for (int c = 0; c < ComparisonModel::ColumnCount; ++c) {
        sorted.sort(c, Qt::AscendingOrder);
        sorted.sort(c, Qt::DescendingOrder);
    }
    model.SetRows({Row("VT48", 4800, 10.0)});
    QCOMPARE(sorted.rowCount(), 1);
    model.SetRows({});
    QCOMPARE(sorted.rowCount(), 0);
    // Children and cells beyond the table are empty.
    model.SetRows({Row("VT48", 4800, 10.0)});
    QCOMPARE(model.rowCount(model.index(0, 0)), 0);
    QVERIFY(!model.data(model.index(5, 0)).isValid());
}

void WorkbenchLogicTest::sortingIsNumericWithMissingValuesLast() {
    ComparisonModel model;
    ComparisonSortModel sorted;
    sorted.setSourceModel(&model);
    model.SetRows({Row("vt180", 21146, 9.3), Row("VT4864v6", 6384, 11.4), Row("VT500f22", std::nullopt, std::nullopt),
                   Row("VT15", 1500, std::nullopt), Row("VT120", 12000, 8.1)});
    // "21146" < "6384" as text: the numbers must be compared as numbers.
    sorted.sort(ComparisonModel::BitRate, Qt::AscendingOrder);
    QCOMPARE(Names(sorted), QStringList({"VT15", "VT4864v6", "VT120", "vt180", "VT500f22"}));
    sorted.sort(ComparisonModel::BitRate, Qt::DescendingOrder);
    QCOMPARE(Names(sorted), QStringList({"vt180", "VT120", "VT4864v6", "VT15", "VT500f22"}));
    // Codecs without a measure stay at the bottom both ways.
    sorted.sort(ComparisonModel::Lsd, Qt::AscendingOrder);
    QCOMPARE(Names(sorted).mid(0, 3), QStringList({"VT120", "vt180", "VT4864v6"}));
    const QStringList missingUp = Names(sorted).mid(3);
    QCOMPARE(QSet<QString>(missingUp.begin(), missingUp.end()), QSet<QString>({"VT500f22", "VT15"}));
    sorted.sort(ComparisonModel::Lsd, Qt::DescendingOrder);
    QCOMPARE(Names(sorted).mid(0, 3), QStringList({"VT4864v6", "vt180", "VT120"}));
    const QStringList missing = Names(sorted).mid(3);
    QCOMPARE(QSet<QString>(missing.begin(), missing.end()), QSet<QString>({"VT500f22", "VT15"}));
    // Names without regard to case.
    sorted.sort(ComparisonModel::Codec, Qt::AscendingOrder);
    QCOMPARE(Names(sorted), QStringList({"VT120", "VT15", "vt180", "VT4864v6", "VT500f22"}));
    // A new run replaces the rows and keeps the chosen order.
    model.SetRows({Row("A", 9000, 1), Row("B", 3000, 2)});
    sorted.sort(ComparisonModel::BitRate, Qt::AscendingOrder);
    QCOMPARE(Names(sorted), QStringList({"B", "A"}));
    model.SetRows({Row("C", 5000, 1), Row("D", 400, 2), Row("E", 70000, 3)});
    QCOMPARE(Names(sorted), QStringList({"D", "C", "E"}));
}

void WorkbenchLogicTest::cellsShowUnitsAndOutcomes() {
    ComparisonModel model;
    ComparisonRow r = Row("VT180", 21146, 9.26);
    r.codingSpeed = 1463.6;
    r.decodingSpeed = 8.25;
    r.snrDb = 17.04;
    r.delaySamples = 481;
    r.description = "Audio coder";
    model.SetRows({r, Row("VT500f22", std::nullopt, std::nullopt)});
    auto cell = [&](int row, int column, int role = Qt::DisplayRole) { return model.index(row, column).data(role); };
    QCOMPARE(cell(0, ComparisonModel::BitRate).toString(), QString("21146"));
    QCOMPARE(cell(0, ComparisonModel::Ratio).toString(), QString("6.1:1"));
    QCOMPARE(cell(0, ComparisonModel::CodingSpeed).toString(), QString::fromUtf8("1464 \u00d7"));
    QCOMPARE(cell(0, ComparisonModel::DecodingSpeed).toString(), QString::fromUtf8("8.25 \u00d7"));
    QCOMPARE(cell(0, ComparisonModel::Snr).toString(), QString("17.04"));
    QCOMPARE(cell(0, ComparisonModel::Delay).toString(), QString("60.1"));
    QCOMPARE(cell(0, ComparisonModel::Delay, ComparisonModel::SortRole).toDouble(), 60.125);
    QCOMPARE(cell(0, ComparisonModel::Delay, Qt::ToolTipRole).toString(), QString("481 samples"));
    QCOMPARE(cell(0, ComparisonModel::Codec, Qt::ToolTipRole).toString(), QString("Audio coder"));
    QVERIFY(!cell(0, ComparisonModel::SegmentalSnr).toString().size());
    // A codec that did not run says so where its bit rate would be.
    QCOMPARE(cell(1, ComparisonModel::BitRate).toString(), QString("not run"));
    QVERIFY(!cell(1, ComparisonModel::BitRate, ComparisonModel::SortRole).isValid());
    QVERIFY(model.headerData(ComparisonModel::CodingSpeed, Qt::Horizontal, Qt::ToolTipRole)
                .toString()
                .contains("real time"));
}

void WorkbenchLogicTest::logAxisFitsTheBitRates() {
    const double rates[] = {2400, 4800, 64000, 0, -5};
    const PlotAxis axis = PlotAxis::Fit(rates, true);
    QCOMPARE(axis.Low(), 2000.0);
    QCOMPARE(axis.High(), 100000.0);
    const std::vector<double> ticks = axis.Ticks();
    QCOMPARE(ticks, (std::vector<double>{2000, 5000, 10000, 20000, 50000, 100000}));
    QCOMPARE(axis.Fraction(2000), 0.0);
    QCOMPARE(axis.Fraction(100000), 1.0);
    QVERIFY(std::abs(axis.Fraction(std::sqrt(2000.0 * 100000.0)) - 0.5) < 1e-12);
    QVERIFY(axis.Fraction(0) < -1e9);
    // One rate: a range around it; none: a default range.
    const double one[] = {6400};
    const PlotAxis single = PlotAxis::Fit(one, true);
    QVERIFY(single.Low() <= 6400 && single.High() > 6400);
    const PlotAxis none = PlotAxis::Fit({}, true);
    QVERIFY(none.Low() > 0 && none.High() > none.Low());
    QCOMPARE(PlotAxis::TickText(2000, true), std::string("2k"));
    QCOMPARE(PlotAxis::TickText(500, true), std::string("500"));
    QCOMPARE(PlotAxis::TickText(2500, true), std::string("2.5k"));
}

void WorkbenchLogicTest::linearAxisHasRoundSteps() {
    const double snr[] = {3.2, 17.5};
    const PlotAxis axis = PlotAxis::Fit(snr, false);
    QCOMPARE(axis.Ticks(), (std::vector<double>{0, 5, 10, 15, 20}));
    const double negative[] = {-7.5, 2.0};
    const PlotAxis below = PlotAxis::Fit(negative, false);
    QCOMPARE(below.Ticks().front(), -8.0);
    QCOMPARE(below.Ticks().back(), 2.0);
    QVERIFY(below.Low() <= -7.5 && below.High() >= 2.0);
    // Equal values, NaN and no value at all still give a usable span.
    const double same[] = {11.4, 11.4, NAN};
    const PlotAxis flat = PlotAxis::Fit(same, false);
    QVERIFY(flat.Low() < 11.4 && flat.High() > 11.4);
    QVERIFY(flat.Ticks().size() >= 2);
    QCOMPARE(PlotAxis::Fit({}, false).Ticks().size(), 6u);
    QCOMPARE(PlotAxis::TickText(-10, false), std::string("-10"));
}

void WorkbenchLogicTest::blindRoundKeepsTheScore() {
    AbxRound round;
    QVERIFY(!round.Running() && !round.Finished());
    QVERIFY(!round.Answer(true)); // no round: no answer taken
    QCOMPARE(round.X(), -1);
    round.Start(0, 2, 10, 42);
    QVERIFY(round.Running());
    QCOMPARE(round.Trials(), 10);
    QCOMPARE(round.Text(), std::string("Trial 1 of 10"));
    // A listener who always hears it.
    while (round.Running()) {
        const int x = round.X();
        QVERIFY(x == 0 || x == 2);
        QVERIFY(round.Answer(x == round.A()));
    }
    QVERIFY(round.Finished());
    QCOMPARE(round.Correct(), 10);
    QCOMPARE(round.GuessingChance(), 1.0 / 1024);
    QCOMPARE(round.Text(), std::string("10 of 10 right (by guessing: 0.1 %)"));
    QVERIFY(!round.Answer(true)); // the round is over
    QCOMPARE(round.Answered(), 10);
    // One who always hears it wrong, and one who says A every time.
    round.Start(1, 3, 10, 42);
    while (round.Running()) round.Answer(round.X() != round.A());
    QCOMPARE(round.Correct(), 0);
    QCOMPARE(round.GuessingChance(), 1.0);
    round.Start(1, 3, 10, 42);
    int xWasA = 0;
    while (round.Running()) {
        xWasA += round.X() == 1 ? 1 : 0;
        round.Answer(true);
    }
    QCOMPARE(round.Correct(), xWasA);
    const std::vector<bool> history = round.History();
    QCOMPARE(history.size(), 10u);
    QCOMPARE(static_cast<int>(std::count(history.begin(), history.end(), true)), xWasA);
    // Five of ten: C(10,5..10) / 1024 = 638 / 1024.
    AbxRound half;
    half.Start(0, 1, 10, 7);
    for (int i = 0; i < 10; ++i) half.Answer((half.X() == 0) == (i < 5));
    QCOMPARE(half.Correct(), 5);
    QCOMPARE(half.GuessingChance(), 638.0 / 1024);
    // Abandoning forgets the round; at least one trial is played.
    half.Abandon();
    QVERIFY(!half.Running() && !half.Finished());
    QCOMPARE(half.Text(), std::string());
    half.Start(0, 1, 0, 1);
    QCOMPARE(half.Trials(), 1);
}

void WorkbenchLogicTest::blindRoundDrawsFairly() {
    // The same seed draws the same round; over many rounds X is A about half the time.
    AbxRound a;
    AbxRound b;
    std::vector<int> first;
    std::vector<int> second;
    a.Start(0, 1, 20, 99);
    b.Start(0, 1, 20, 99);
    while (a.Running()) {
        first.push_back(a.X());
        second.push_back(b.X());
        a.Answer(true);
        b.Answer(true);
    }
    QCOMPARE(first, second);
    int xIsA = 0;
    int total = 0;
    for (uint32_t seed = 1; seed <= 100; ++seed) {
        a.Start(0, 1, 10, seed);
        while (a.Running()) {
            xIsA += a.X() == 0 ? 1 : 0;
            ++total;
            a.Answer(true);
        }
    }
    QVERIFY2(xIsA > total * 0.42 && xIsA < total * 0.58, qPrintable(QString::number(xIsA)));
}

void WorkbenchLogicTest::regionLoopsAtItsBoundaries() {
    ListeningStream s;
    s.SetTracks(8000, {Ramp(1000, 1000)}, 1000);
    s.Begin(100, 200, true);
    const auto out = ReadStream(s, 250);
    for (int i = 0; i < 250; ++i) QCOMPARE(out[static_cast<std::size_t>(i)], int16_t(1000 + 100 + i % 100));
    // The playhead follows what was played, not what was handed out.
    QCOMPARE(s.Handed(), 250);
    QCOMPARE(s.PositionAfter(0), 100);
    QCOMPARE(s.PositionAfter(99), 199);
    QCOMPARE(s.PositionAfter(100), 100);
    QCOMPARE(s.PositionAfter(1234), 134);
    QVERIFY(!s.FinishedAfter(1000000));
    // A loop of one sample.
    s.Begin(500, 501, true);
    const auto one = ReadStream(s, 3);
    QCOMPARE(one, (std::vector<int16_t>{1500, 1500, 1500}));
}

void WorkbenchLogicTest::singlePassEndsInSilence() {
    ListeningStream s;
    s.SetTracks(8000, {Ramp(1000, 1000)}, 1000);
    s.Begin(900, 0, false); // to the end of the time line
    const auto out = ReadStream(s, 150);
    QCOMPARE(out[0], int16_t(1900));
    QCOMPARE(out[99], int16_t(1999));
    for (std::size_t i = 100; i < 150; ++i) QCOMPARE(out[i], int16_t(0));
    QVERIFY(!s.FinishedAfter(99));
    QVERIFY(s.FinishedAfter(100));
    QCOMPARE(s.PositionAfter(60), 960);
    QCOMPARE(s.PositionAfter(5000), 1000);
    // A track shorter than the time line is silent beyond its end.
    s.SetTracks(8000, {Ramp(300, 1000)}, 1000);
    s.Begin(290, 310, false);
    const auto tail = ReadStream(s, 20);
    QCOMPARE(tail[9], int16_t(1299));
    QCOMPARE(tail[10], int16_t(0));
}

void WorkbenchLogicTest::regionsAreClampedToTheTimeLine() {
    ListeningStream s;
    s.SetTracks(8000, {Ramp(1000, 1000)}, 1000);
    s.Begin(-50, 5000, true);
    QCOMPARE(s.From(), 0);
    QCOMPARE(s.To(), 1000);
    s.Begin(400, 300, true); // an end before the start: to the end
    QCOMPARE(s.To(), 1000);
    QCOMPARE(ReadStream(s, 601)[600], int16_t(1400));
    // Starting at the very end plays nothing and is over at once.
    s.Begin(1000, 0, false);
    QCOMPARE(ReadStream(s, 4), (std::vector<int16_t>{0, 0, 0, 0}));
    QVERIFY(s.FinishedAfter(0));
    QVERIFY(!s.Looping());
    s.Begin(1000, 0, true);
    QVERIFY(!s.Looping()); // nothing to loop
    // No track at all: silence.
    ListeningStream empty;
    empty.SetTracks(8000, {}, 100);
    empty.Begin(0, 0, true);
    QCOMPARE(ReadStream(empty, 2), (std::vector<int16_t>{0, 0}));
}

void WorkbenchLogicTest::switchingKeepsThePosition() {
    ListeningStream s;
    s.SetTracks(8000, {Ramp(1000, 1000), Ramp(1000, 5000)}, 1000);
    s.Begin(0, 0, false);
    QCOMPARE(ReadStream(s, 50)[49], int16_t(1049));
    s.Select(1);
    QCOMPARE(s.Selected(), 1);
    const auto after = ReadStream(s, 100);
    const int fade = 8000 * ListeningStream::kCrossFadeMs / 1000;
    // The fade goes from the old track to the new one at the same positions...
    for (int i = 0; i < fade; ++i) {
        const int at = 50 + i;
        QVERIFY(after[static_cast<std::size_t>(i)] > 1000 + at && after[static_cast<std::size_t>(i)] < 5000 + at);
        if (i > 0) QVERIFY(after[static_cast<std::size_t>(i)] > after[static_cast<std::size_t>(i - 1)]);
    }
    // ...and the new track goes on where the old one was.
    for (int i = fade; i < 100; ++i) QCOMPARE(after[static_cast<std::size_t>(i)], int16_t(5000 + 50 + i));
    QCOMPARE(s.Handed(), 150);
    // Switching to what plays already, or to no track, changes nothing.
    s.Select(1);
    s.Select(7);
    s.Select(-1);
    QCOMPARE(s.Selected(), 1);
    QCOMPARE(ReadStream(s, 1)[0], int16_t(5150));
    // Across a loop's seam the switch keeps the loop.
    s.Begin(10, 20, true);
    ReadStream(s, 15);
    s.Select(0);
    const auto seam = ReadStream(s, static_cast<std::size_t>(fade) + 10);
    for (int i = fade; i < fade + 10; ++i)
        QCOMPARE(seam[static_cast<std::size_t>(i)], int16_t(1000 + 10 + (15 + i) % 10));
}

void WorkbenchLogicTest::decodedAtMinus6dBPlaysAtTheOriginalsLevel() {
    // A decoded file 6 dB down and 40 samples late, read back from disk.
    const std::vector<float> original = SpeechSamples();
    QVERIFY(!original.empty());
    TestPlace place;
    QByteArray pcm(static_cast<qsizetype>((original.size() + 40) * 2), '\0');
    auto *p = reinterpret_cast<unsigned char *>(pcm.data());
    for (std::size_t i = 0; i < original.size(); ++i) {
        const auto v = static_cast<int16_t>(std::lround(original[i] * 0.5));
        p[(i + 40) * 2] = static_cast<unsigned char>(v & 0xFF);
        p[(i + 40) * 2 + 1] = static_cast<unsigned char>((v >> 8) & 0xFF);
    }
    const QString path = place.File("quiet.wav");
    QVERIFY(WriteWave(path, 8000, 1, 16, pcm));
    std::vector<float> decoded;
    int rate = 0;
    QVERIFY(vntr::evaluator::ReadWaveSamples(path.toStdString(), decoded, rate));
    const auto quality = vntr::evaluator::CompareSignals(original, decoded, rate);
    QCOMPARE(quality.delaySamples, 40);
    const double gain = vntr::evaluator::LevelMatchGain(original, decoded, rate, quality.delaySamples);
    QVERIFY(std::abs(20 * std::log10(gain) - 6.02) < 0.05);
    const auto length = static_cast<int64_t>(original.size());
    auto a = MemoryTrack(TimelineTrack(original, 8000, 0, 1.0, 8000, length));
    auto b = MemoryTrack(TimelineTrack(decoded, 8000, 40, gain, 8000, length));
    // What the sound card gets: the same level, sample for sample within rounding.
    ListeningStream s;
    s.SetTracks(8000, {a, b}, length);
    s.Begin(0, 0, false);
    const auto heardA = ReadStream(s, static_cast<std::size_t>(length));
    s.Begin(0, 0, false);
    s.Select(1);
    const auto heardB = ReadStream(s, static_cast<std::size_t>(length));
    QVERIFY(std::abs(20 * std::log10(Rms(heardB) / Rms(heardA))) < 0.05);
    int worst = 0;
    for (std::size_t i = 0; i < heardA.size(); ++i) worst = std::max(worst, std::abs(heardA[i] - heardB[i]));
    QVERIFY2(worst <= 2, qPrintable(QString::number(worst)));
    // Without the match it would be 6 dB down.
    const auto unmatched = TimelineTrack(decoded, 8000, 40, 1.0, 8000, length);
    QVERIFY(std::abs(20 * std::log10(Rms(unmatched) / Rms(heardA)) + 6.02) < 0.05);
}

void WorkbenchLogicTest::tracksAtAnotherRateFollowTheOriginal() {
    // A decoded 8 kHz tone of the 8 kHz copy of an 11025 Hz original.
    const int n8 = 8000;
    std::vector<float> tone8(n8 + 25);
    for (int i = 0; i < n8 + 25; ++i)
        tone8[static_cast<std::size_t>(i)] = i < 25 ? 0.0f : float(8000 * std::sin(2 * M_PI * 440 * (i - 25) / 8000.0));
    const auto track = TimelineTrack(tone8, 8000, 25, 1.0, 11025, 11025);
    QCOMPARE(track.size(), 11025u);
    // Compared with the tone made at 11025 Hz: the same phase and level once the filter has settled.
    double error = 0;
    double signal = 0;
    for (int i = 200; i < 10800; ++i) {
        const double want = 8000 * std::sin(2 * M_PI * 440 * i / 11025.0);
        error += (track[static_cast<std::size_t>(i)] - want) * (track[static_cast<std::size_t>(i)] - want);
        signal += want * want;
    }
    QVERIFY2(10 * std::log10(signal / error) > 40, qPrintable(QString::number(10 * std::log10(signal / error))));
    // A gain beyond full scale clips; a delay past the end leaves silence.
    const auto loud = TimelineTrack(tone8, 8000, 25, 10.0, 8000, 4000);
    QCOMPARE(*std::max_element(loud.begin(), loud.end()), int16_t(32767));
    QCOMPARE(*std::min_element(loud.begin(), loud.end()), int16_t(-32768));
    const auto none = TimelineTrack(tone8, 8000, n8 + 25, 1.0, 8000, 100);
    QCOMPARE(std::count(none.begin(), none.end(), 0), 100);
}

void WorkbenchLogicTest::fileChoicesOfTheWorkbench() {
    const QString everyFile = QString(ChoiceFor(FilePurpose::SaveRecording).filter).section(";;", 1);
    const struct {
        FilePurpose purpose;
        const char *title;
        const char *filter;
        const char *suffix;
    } kChoices[] = {{FilePurpose::SaveDecoded, "Save decoded file as...", "Wave files (*.wav)", "wav"},
                    {FilePurpose::ExportCsv, "Export comparison as CSV...", "CSV tables (*.csv)", "csv"},
                    {FilePurpose::ExportJson, "Export comparison as JSON...", "JSON files (*.json)", "json"},
                    {FilePurpose::ExportTrials, "Export blind trials as CSV...", "CSV tables (*.csv)", "csv"}};
    for (const auto &c : kChoices) {
        const FileChoice &choice = ChoiceFor(c.purpose);
        QCOMPARE(QString(choice.title), QString(c.title));
        QCOMPARE(QString(choice.filter), QString(c.filter) + ";;" + everyFile);
        QCOMPARE(QString(choice.suffix), QString(c.suffix));
        QVERIFY(!choice.open && !choice.mustExist && choice.confirmOverwrite);
    }
    // The window's own choices are untouched.
    QCOMPARE(QString(ChoiceFor(FilePurpose::SaveSession).title), QString("Save session as..."));
}

namespace {

// CIE L*a*b* of an sRGB colour (D65), for the distances between colours.
std::array<double, 3> Lab(uint32_t rgb) {
    auto linear = [](int c) {
        const double v = c / 255.0;
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    const double r = linear(static_cast<int>(rgb >> 16 & 0xFF));
    const double g = linear(static_cast<int>(rgb >> 8 & 0xFF));
    const double b = linear(static_cast<int>(rgb & 0xFF));
    const double x = (0.4124 * r + 0.3576 * g + 0.1805 * b) / 0.95047;
    const double y = 0.2126 * r + 0.7152 * g + 0.0722 * b;
    const double z = (0.0193 * r + 0.1192 * g + 0.9505 * b) / 1.08883;
    auto f = [](double t) { return t > 0.008856 ? std::cbrt(t) : 7.787 * t + 16.0 / 116; };
    return {116 * f(y) - 16, 500 * (f(x) - f(y)), 200 * (f(y) - f(z))};
}

double Distance(uint32_t a, uint32_t b) {
    const auto p = Lab(a);
    const auto q = Lab(b);
    return std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]);
}

// Every library of the suite and the peers.
const std::vector<std::string> kInstalled = {"VT4864v6",  "VT120",   "VT48",    "VT15",     "VT180",    "VT250f11",
                                             "VT500f22",  "Opus 6k", "Opus 8k", "Opus 12k", "Speex 6k", "Speex 8k",
                                             "Speex 11k", "C2 3200", "C2 1600", "C2 1300",  "GSM-FR"};

} // namespace

void WorkbenchLogicTest::paletteColoursAreDistinct() {
    QVERIFY(CodecPalette::kColours >= 20);
    for (std::size_t i = 0; i < CodecPalette::kColours; ++i) {
        const uint32_t c = CodecPalette::kRgb[i];
        // Far from each other, from the original's blue, and dark enough to read on white.
        QVERIFY2(Distance(c, CodecPalette::kOriginalRgb) >= 30, qPrintable(QString::number(c, 16)));
        QVERIFY2(Lab(c)[0] <= 70, qPrintable(QString::number(c, 16)));
        for (std::size_t j = i + 1; j < CodecPalette::kColours; ++j) {
            QVERIFY2(Distance(c, CodecPalette::kRgb[j]) >= 30,
                     qPrintable(QString::number(c, 16) + " " + QString::number(CodecPalette::kRgb[j], 16)));
        }
    }
}

void WorkbenchLogicTest::everyCodecKeepsItsColour() {
    const CodecPalette palette(kInstalled);
    std::set<uint32_t> used;
    for (const auto &name : kInstalled) used.insert(palette.Rgb(name));
    QCOMPARE(used.size(), kInstalled.size()); // one colour each
    QVERIFY(palette.Rgb("C2 1300") != palette.Rgb("Opus 8k"));
    // Another run or session lists them in another order, or selects a few:
    // the colours depend on the names installed only.
    std::vector<std::string> reversed(kInstalled.rbegin(), kInstalled.rend());
    const CodecPalette again(reversed);
    for (const auto &name : kInstalled) QCOMPARE(again.Rgb(name), palette.Rgb(name));
    // Twenty codecs, the most the evaluator holds: still all distinct.
    std::vector<std::string> twenty = kInstalled;
    for (const char *extra : {"Extra 1", "Extra 2", "Extra 3"}) twenty.emplace_back(extra);
    const CodecPalette full(twenty);
    used.clear();
    for (const auto &name : twenty) used.insert(full.Rgb(name));
    QCOMPARE(used.size(), twenty.size());
    // A codec not installed takes a colour none of them has.
    const CodecPalette some(kInstalled);
    used.clear();
    for (const auto &name : kInstalled) used.insert(some.Rgb(name));
    QVERIFY(!used.count(some.Rgb("Not installed")));
    QCOMPARE(some.Rgb("Not installed"), some.Rgb("Not installed"));
}

void WorkbenchLogicTest::colourCollisionsAreResolvedByName() {
    // Two names that prefer the same place: the first in name order keeps
    // it, the other takes the next free place, whatever the order given.
    std::string first;
    std::string second;
    for (int i = 0; i < 1000 && second.empty(); ++i) {
        for (int j = i + 1; j < 1000; ++j) {
            const std::string a = "codec" + std::to_string(i);
            const std::string b = "codec" + std::to_string(j);
            if (CodecPalette::PreferredPlace(a) == CodecPalette::PreferredPlace(b)) {
                first = std::min(a, b);
                second = std::max(a, b);
                break;
            }
        }
    }
    QVERIFY(!second.empty());
    const std::size_t place = CodecPalette::PreferredPlace(first);
    for (const auto &names : {std::vector<std::string>{first, second}, std::vector<std::string>{second, first}}) {
        const CodecPalette palette(names);
        QCOMPARE(palette.Place(first), place);
        QCOMPARE(palette.Place(second), (place + 1) % CodecPalette::kColours);
    }
    // The preferred place is a fixed function of the bytes of the name.
    QCOMPARE(CodecPalette::PreferredPlace(""), std::size_t(2166136261u % CodecPalette::kColours));
    QCOMPARE(CodecPalette::PreferredPlace("VT48"), CodecPalette::PreferredPlace(std::string("VT48")));
}

void WorkbenchLogicTest::blindTrialsAreLoggedWithNames() {
    const std::vector<std::string> names = {"Original", "VT180", "Opus 8k", "Odd, \"quoted\""};
    AbxRound round;
    round.Start(1, 3, 4, 7);
    std::vector<AbxTrial> log;
    std::vector<int> xs;
    for (int trial = 0; round.Running(); ++trial) {
        xs.push_back(round.X());
        round.Answer(trial % 2 == 0); // A, B, A, B
        log.push_back(round.Logged(round.Answered() - 1, 2, "speech.wav", names));
    }
    QCOMPARE(log.size(), 4u);
    for (std::size_t i = 0; i < log.size(); ++i) {
        QCOMPARE(log[i].round, 2);
        QCOMPARE(log[i].trial, static_cast<int>(i) + 1);
        QCOMPARE(log[i].original, std::string("speech.wav"));
        QCOMPARE(log[i].a, std::string("VT180"));
        QCOMPARE(log[i].b, names[3]);
        QCOMPARE(log[i].x, names[static_cast<std::size_t>(xs[i])]);
        QCOMPARE(log[i].answer, i % 2 == 0 ? std::string("VT180") : names[3]);
        QCOMPARE(log[i].Right(), (xs[i] == 1) == (i % 2 == 0));
    }
    // Trials out of range are empty records.
    QCOMPARE(round.Logged(4, 2, "speech.wav", names).trial, 0);
    const std::vector<std::vector<std::string>> table = vntr::test::ParseCsv(AbxCsv(log));
    QCOMPARE(table.size(), 5u);
    QCOMPARE(table[0], (std::vector<std::string>{"round", "trial", "original", "a", "b", "x", "answer", "right"}));
    for (std::size_t i = 0; i < log.size(); ++i) {
        const auto &row = table[i + 1];
        QCOMPARE(row.size(), 8u);
        QCOMPARE(row[1], std::to_string(i + 1));
        QCOMPARE(row[4], names[3]); // the comma and the quotes survive
        QCOMPARE(row[5], log[i].x);
        QCOMPARE(row[7], std::string(log[i].Right() ? "1" : "0"));
    }
    QCOMPARE(AbxCsv({}), std::string("round,trial,original,a,b,x,answer,right\n"));
}

void WorkbenchLogicTest::summaryMatchesTheSignalAtEveryZoom() {
    // Noise with a few spikes, of a length that is no multiple of any block.
    const int64_t n = 3 * WaveSummary::kReadBlock + 12345;
    std::vector<float> x(static_cast<std::size_t>(n));
    uint32_t seed = 12345;
    for (auto &v : x) {
        seed = seed * 1664525u + 1013904223u;
        v = static_cast<float>(static_cast<int>(seed >> 16) - 32768) / 4.0f;
    }
    x[0] = 32000;
    x[static_cast<std::size_t>(n / 3)] = -32768;
    x[static_cast<std::size_t>(n - 1)] = 31000;
    // Built block by block: no read longer than a block.
    std::size_t longest = 0;
    const WaveSummary::Reader memory = MemoryReader(x);
    const WaveSummary::Reader counting = [&](int64_t from, std::span<float> out) {
        longest = std::max(longest, out.size());
        return memory(from, out);
    };
    WaveSummary summary;
    summary.Build(n, counting);
    QCOMPARE(summary.Length(), n);
    QCOMPARE(longest, static_cast<std::size_t>(WaveSummary::kReadBlock));
    QVERIFY(summary.Levels() >= 5);
    QVERIFY(summary.Bytes() < static_cast<std::size_t>(n) * sizeof(float) / 20);
    // Every zoom, from the whole signal and more to a few samples a column,
    // at whole and fractional starts, against the samples themselves.
    longest = 0;
    std::size_t reads = 0;
    const WaveSummary::Reader ends = [&](int64_t from, std::span<float> out) {
        longest = std::max(longest, out.size());
        ++reads;
        return memory(from, out);
    };
    for (const int columns : {1, 7, 640, 1000}) {
        for (double count = 1.5 * n; count >= 2; count /= 2.7) {
            for (const double first : {0.0, 0.37 * n, n - count / 2, -count / 3, 1234.5}) {
                const Envelope want = WaveEnvelope(x, first, count, columns);
                reads = 0;
                const Envelope got = summary.EnvelopeOf(first, count, columns, ends);
                QVERIFY2(got.low == want.low && got.high == want.high,
                         qPrintable(QStringLiteral("columns %1 count %2 first %3").arg(columns).arg(count).arg(first)));
                QVERIFY(reads <= static_cast<std::size_t>(4 * columns));
            }
        }
    }
    // Only the ragged ends are read: less than two blocks of level 0 at a time.
    QVERIFY(longest < static_cast<std::size_t>(2 * WaveSummary::kBase));
    // Ranges of the edges and outside.
    QCOMPARE(summary.Range(n - 1, n + 5, memory), std::make_pair(31000.0f, 31000.0f));
    QCOMPARE(summary.Range(-10, 1, memory), std::make_pair(32000.0f, 32000.0f));
    QCOMPARE(summary.Range(n, n + 10, memory), std::make_pair(0.0f, 0.0f));
    QCOMPARE(summary.Range(0, n, memory), std::make_pair(-32768.0f, 32000.0f));
    // A source that ends early reads as silence beyond its end; an empty one is empty.
    WaveSummary shortened;
    shortened.Build(n + 100, memory);
    QCOMPARE(shortened.Range(n, n + 100, memory), std::make_pair(0.0f, 0.0f));
    WaveSummary empty;
    empty.Build(0, memory);
    QCOMPARE(empty.Levels(), 0);
    QCOMPARE(empty.EnvelopeOf(0, 100, 4, memory).high, std::vector<float>(4, 0.0f));
}

void WorkbenchLogicTest::signalsReadFromTheirFilesMatchTheSamples() {
    // The view holds no sample: a signal read from its file, and a
    // difference read from two, draw what the samples in memory would.
    const std::vector<float> x = SpeechSamples();
    QVERIFY(x.size() > 30000);
    const int delay = 37;
    const std::vector<float> y = DecodedCopy(x, delay);
    QTemporaryDir dir;
    const QString decodedPath = dir.filePath("decoded.wav");
    QVERIFY(WriteWave(decodedPath, 8000, 1, 16, Pcm16(y)));
    Signal original;
    QVERIFY(LoadSignal(SpeechWave().toStdString(), "Original", original));
    QCOMPARE(original.length, static_cast<int64_t>(x.size()));
    QVERIFY(!original.Summarised());
    DecodedSource source{"Test", decodedPath.toStdString(), SpeechWave().toStdString(), delay, {}};
    DecodedTrace trace;
    QVERIFY(LoadDecoded(source, 8000, trace));
    std::vector<float> difference(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) difference[i] = x[i] - y[i + delay];
    QCOMPARE(trace.difference.length, static_cast<int64_t>(x.size()));
    // The same signals read side by side on several threads (a copy of one
    // among them, read once) read what each reads alone.
    Signal original2;
    DecodedTrace trace2;
    QVERIFY(LoadSignal(SpeechWave().toStdString(), "Original", original2));
    QVERIFY(LoadDecoded(source, 8000, trace2));
    const Signal copy = original2;
    const Signal *together[] = {&original2, &trace2.decoded, &copy, &trace2.difference, nullptr};
    Summarise(together, 3);
    QVERIFY(original2.Summarised() && trace2.decoded.Summarised() && trace2.difference.Summarised());
    QVERIFY(copy.SharesReadingsWith(original2) && !trace2.decoded.SharesReadingsWith(original2));
    const std::pair<const Signal &, const Signal &> pairs[] = {
        {original2, original}, {trace2.decoded, trace.decoded}, {trace2.difference, trace.difference}};
    for (const auto &[parallel, alone] : pairs) {
        QCOMPARE(parallel.Peak(), alone.Peak());
        QCOMPARE(parallel.SpectrumTopDb(), alone.SpectrumTopDb());
        const Envelope a = parallel.Summary().EnvelopeOf(0, 20000, 300, parallel.read);
        const Envelope b = alone.Summary().EnvelopeOf(0, 20000, 300, alone.read);
        QVERIFY(a.low == b.low && a.high == b.high);
    }
    const struct {
        const Signal &signal;
        const std::vector<float> &samples;
    } cases[] = {{original, x}, {trace.decoded, y}, {trace.difference, difference}};
    for (const auto &c : cases) {
        const auto n = static_cast<double>(c.samples.size());
        for (const double count : {1.2 * n, n / 3, 5000.0, 333.3, 40.0}) {
            for (const double first : {0.0, n / 2, n - count / 3, 99.5}) {
                const Envelope want = WaveEnvelope(c.samples, first, count, 700);
                const Envelope got = c.signal.Summary().EnvelopeOf(first, count, 700, c.signal.read);
                QVERIFY2(got.low == want.low && got.high == want.high,
                         qPrintable(
                             QStringLiteral("%1 count %2 first %3").arg(c.signal.label.c_str()).arg(count).arg(first)));
            }
        }
        float peak = 0;
        for (const float v : c.samples) peak = std::max(peak, std::abs(v));
        QCOMPARE(c.signal.Peak(), peak);
        QVERIFY(c.signal.Summary().Bytes() < c.samples.size() * sizeof(float) / 20);
    }
    // Without the run's measures, the trace measures its files: the curves
    // and the gain of the whole-signal measures.
    const vntr::evaluator::FrameQuality frames = vntr::evaluator::MeasureFrames(x, y, 8000, delay);
    QCOMPARE(trace.frames.snr.Size(), frames.snr.Size());
    QCOMPARE(trace.frames.lsd.Size(), frames.lsd.Size());
    QVERIFY(std::abs(trace.frames.lsd.ActiveMean() - frames.lsd.ActiveMean()) < 1e-4);
    QVERIFY(std::abs(trace.gain - vntr::evaluator::LevelMatchGain(x, y, 8000, delay)) < 1e-9);
    // Files that cannot be read, or rates that differ, give no trace.
    DecodedSource missing = source;
    missing.decodedPath = dir.filePath("none.wav").toStdString();
    QVERIFY(!LoadDecoded(missing, 8000, trace));
    const QString other = dir.filePath("other.wav");
    QVERIFY(WriteWave(other, 11025, 1, 16, Pcm16(y)));
    DecodedSource otherRate = source;
    otherRate.decodedPath = other.toStdString();
    QVERIFY(!LoadDecoded(otherRate, 8000, trace));
}

void WorkbenchLogicTest::spectrogramFramesAreThoseOfTheWholeSpectrogram() {
    // Frames made one at a time are the frames of the whole spectrogram,
    // and its loudest bin found from the hop energies is the whole one's.
    std::vector<float> tone(11025);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] =
            static_cast<float>(std::round(12000 * std::sin(0.21 * static_cast<double>(i)) * (i > 6000 ? 1.0 : 0.1)));
    const struct {
        std::vector<float> x;
        int rate;
    } cases[] = {{SpeechSamples(), 8000},
                 {tone, 11025},
                 {std::vector<float>(5, 300.0f), 8000},
                 {std::vector<float>(4000, 0.0f), 8000},
                 {std::vector<float>(1000, -32768.0f), 16000}};
    for (const auto &c : cases) {
        const Spectrogram whole = ComputeSpectrogram(c.x, c.rate, 0);
        SpectrogramFrames frames(c.rate, static_cast<int64_t>(c.x.size()));
        const Spectrogram &layout = frames.Layout();
        QCOMPARE(layout.columns, whole.columns);
        QCOMPARE(layout.bins, whole.bins);
        QCOMPARE(layout.hop, whole.hop);
        const SampleReader read = MemoryReader(c.x);
        std::vector<float> db(static_cast<std::size_t>(layout.bins));
        for (int col = 0; col < layout.columns; col += std::max(1, layout.columns / 17)) {
            frames.Frame(col, read, db);
            for (int b = 0; b < layout.bins; ++b) QCOMPARE(db[static_cast<std::size_t>(b)], whole.At(col, b));
        }
        frames.Frame(layout.columns - 1, read, db);
        QCOMPARE(db.back(), whole.At(layout.columns - 1, layout.bins - 1));
        const double peak =
            SpectrumPeakDb(c.rate, static_cast<int64_t>(c.x.size()), HopEnergies(c.x, layout.hop), read);
        QVERIFY2(std::abs(peak - whole.peakDb) < 1e-4, qPrintable(QStringLiteral("%1 %2").arg(peak).arg(whole.peakDb)));
        // Rounded up to a step, from far fewer frames, but the same step
        // (fine steps leave almost no frame out).
        for (const double step : {10.0, 3.0, 0.5, 0.01}) {
            const double top =
                SpectrumCeilingDb(c.rate, static_cast<int64_t>(c.x.size()), HopEnergies(c.x, layout.hop), read, step);
            QCOMPARE(top, std::ceil(peak / step) * step);
        }
    }
    // Through a signal read from its file.
    Signal speech;
    QVERIFY(LoadSignal(SpeechWave().toStdString(), "Original", speech));
    QVERIFY(std::abs(speech.SpectrumTopDb() -
                     std::ceil(ComputeSpectrogram(SpeechSamples(), 8000, 0).peakDb / 10) * 10) < 1e-9);
}

void WorkbenchLogicTest::fileTracksPlayAsTimelineTracks() {
    // A track read from its file as it plays is the track made whole.
    const std::vector<float> x = SpeechSamples();
    std::vector<float> y = DecodedCopy(x, 25);
    y[3000] = 32767; // clipped once multiplied
    QTemporaryDir dir;
    const QString path = dir.filePath("decoded.wav");
    QVERIFY(WriteWave(path, 8000, 1, 16, Pcm16(y)));
    const auto length = static_cast<int64_t>(x.size()) + 500; // beyond the file: silence
    const std::vector<int16_t> want = TimelineTrack(y, 8000, 25, 2.0, 8000, length);
    const ListeningStream::Track track = FileTrack(path.toStdString(), 25, 2.0);
    QVERIFY(WholeTrack(track, length) == want);
    QCOMPARE(want[2975], int16_t{32767});
    // In pieces, out of order, as loops and switches read it.
    for (const int64_t from : {int64_t{17000}, int64_t{3}, length - 700, int64_t{9000}}) {
        std::vector<int16_t> piece(1000);
        track->Read(from, piece);
        for (std::size_t i = 0; i < piece.size(); ++i) {
            const int64_t at = from + static_cast<int64_t>(i);
            QCOMPARE(piece[i], at < length ? want[static_cast<std::size_t>(at)] : int16_t{0});
        }
    }
    // At another rate: resampled whole when first read, as TimelineTrack does.
    const ListeningStream::Track resampled = ResampledTrack(path.toStdString(), 25, 1.0, 11025, 11025);
    QVERIFY(WholeTrack(resampled, 11025) == TimelineTrack(y, 8000, 25, 1.0, 11025, 11025));
    // A file that cannot be read plays silence.
    QVERIFY(WholeTrack(FileTrack(dir.filePath("none.wav").toStdString(), 0, 1.0), 100) == std::vector<int16_t>(100, 0));
}

void WorkbenchLogicTest::curveAxesFitTheirValues() {
    // LSD between 3 and 7 dB with a few frames far worse: the axis spans the
    // values, not 0 to the worst frame.
    std::vector<double> lsd;
    for (int i = 0; i < 1000; ++i) lsd.push_back(3.0 + 4.0 * i / 999.0);
    for (int i = 0; i < 5; ++i) lsd.push_back(19.0);
    const PlotAxis a = SignalCanvas::CurveAxis(SignalCanvas::PaneKind::LsdCurve, lsd);
    QVERIFY2(a.Low() >= 2 && a.Low() <= 3 && a.High() >= 7 && a.High() <= 8,
             qPrintable(QStringLiteral("%1 %2").arg(a.Low()).arg(a.High())));
    // Never below 0, however close to it the values are; at least 2 dB wide.
    const PlotAxis near0 = SignalCanvas::CurveAxis(SignalCanvas::PaneKind::LsdCurve, {0.1, 0.2, 0.3});
    QCOMPARE(near0.Low(), 0.0);
    QVERIFY(near0.High() >= 2);
    // SNR within its clamps; the patch similarity within 0..1, at least 0.1 wide.
    const PlotAxis snr = SignalCanvas::CurveAxis(SignalCanvas::PaneKind::SnrCurve, {-10, -10, 35, 35});
    QVERIFY(snr.Low() >= -10 && snr.High() <= 35);
    const PlotAxis nsim = SignalCanvas::CurveAxis(SignalCanvas::PaneKind::VisqolCurve, {0.97, 0.97, 0.99});
    QVERIFY(nsim.High() <= 1.0 && nsim.High() >= 0.99 && nsim.High() - nsim.Low() >= 0.1 - 1e-9);
    QVERIFY(nsim.Low() <= 0.97);
    // No value: a default span from the floor.
    const PlotAxis none = SignalCanvas::CurveAxis(SignalCanvas::PaneKind::LsdCurve, {});
    QCOMPARE(none.Low(), 0.0);
    QVERIFY(none.High() > 0);
}

void WorkbenchLogicTest::compareCodecsIsAlwaysOffered() {
    // The table only shows; it follows a run or a recording as they go.
    WindowFlags f;
    for (const auto state :
         {DisplayState::Idle, DisplayState::Results, DisplayState::Processing, DisplayState::Recording}) {
        f.state = state;
        for (const bool playing : {false, true}) {
            f.playing = playing;
            QVERIFY(CommandEnabled(kCmdCompareCodecs, f));
        }
    }
    f.state = DisplayState::Processing;
    QVERIFY(!CommandEnabled(kCmdSignalView, f));
}

QTEST_GUILESS_MAIN(WorkbenchLogicTest)
#include "workbench_logic_test.moc"
