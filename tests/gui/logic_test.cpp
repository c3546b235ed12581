// The window's rules without a window: geometry, command enabling, status
// texts, the level meter, the recording format, codec options, the codec
// selection lists, the About bar and the signal maths.
#include "gui/commands.hpp"
#include "gui/logic/about_bar.hpp"
#include "gui/logic/codec_options.hpp"
#include "gui/logic/codec_selection.hpp"
#include "gui/logic/command_rules.hpp"
#include "gui/logic/file_choices.hpp"
#include "gui/logic/layout.hpp"
#include "gui/logic/level_meter.hpp"
#include "gui/logic/record_format.hpp"
#include "gui/logic/signal_analysis.hpp"
#include "gui/logic/status_text.hpp"

#include <QTest>

#include <cmath>
#include <numbers>

using namespace vntr::gui;
using vntr::evaluator::CodecSlot;
using vntr::evaluator::DisplayState;

namespace {

const int kMenuCommands[] = {kCmdOpen,           kCmdRecord,      kCmdSaveRecording, kCmdProcess,
                             kCmdLoadSession,    kCmdSaveSession, kCmdExit,          kCmdSelectCodecs,
                             kCmdRecordSettings, kCmdLoopPlay,    kCmdExternalScorer};

CodecSlot SlotWithResults() {
    CodecSlot slot;
    std::snprintf(slot.info.description, sizeof slot.info.description, "Test coder (8 kbps)");
    slot.inputBytes = 64000;
    slot.codedBytes = 4000;
    slot.sampleRate = 8000;
    slot.blockAlign = 2;
    slot.runBitRate = 8000;
    slot.ratio = 16;
    slot.codingTime = 120;
    slot.codingLoad = 3.0f;
    slot.decodingTime = 40;
    slot.decodingLoad = 1.0f;
    return slot;
}

} // namespace

class LogicTest : public QObject {
    Q_OBJECT
private slots:
    void windowSizeFollowsTheRows_data();
    void windowSizeFollowsTheRows();
    void unitsRoundToWholePixels();
    void clickBands();
    void bluePartShrinksWithTheRatio();
    void commandsWhileIdle();
    void commandsWithResultsAndUnsavedWork();
    void commandsWhileProcessing();
    void commandsWhileRecording();
    void commandsWhilePlaying();
    void rowButtons();
    void statusTexts();
    void detailLinesNeedResults();
    void qualityLine();
    void recordingLines();
    void meterLevels();
    void meterSegments();
    void pcmPeaks();
    void recordFormatWords();
    void recordFormatShownInTheDialog();
    void codecOptionChoices();
    void optionWords();
    void selectionStartsWithTheRightHighlight();
    void selectionMovesKeepSlotOrder();
    void selectionWithoutCodecs();
    void aboutBarSequence();
    void fileChoices();
    void spectrogramFindsATone();
    void spectrogramOfShortAndLongSignals();
    void waveEnvelope();
};

void LogicTest::windowSizeFollowsTheRows_data() {
    QTest::addColumn<int>("fontHeight");
    QTest::addColumn<int>("rows");
    for (const int font : {11, 13, 16, 21}) {
        for (const int rows : {0, 1, 5, 20}) {
            QTest::addRow("font %d, %d rows", font, rows) << font << rows;
        }
    }
}

void LogicTest::windowSizeFollowsTheRows() {
    QFETCH(int, fontHeight);
    QFETCH(int, rows);
    const Layout layout(fontHeight);
    const double u = (fontHeight + 4) / 5.0;
    const QSize size = layout.WindowSize(rows);
    QCOMPARE(size.width(), static_cast<int>(std::lround(163 * u)));
    QCOMPARE(size.height(), static_cast<int>(std::lround((5 * rows + 47) * u)) + 140);
    // The status area, the break button and the logo stay inside the window.
    QVERIFY(layout.StatusArea(rows).bottom() < layout.LogoTop(rows));
    QVERIFY(layout.StatusArea(rows).contains(layout.BreakButton(rows)));
    QVERIFY(layout.LogoTop(rows) + 93 <= size.height() - 20); // leaves room for a menu bar
    QVERIFY(layout.RowBar(rows - 1).bottom() < layout.StatusArea(rows).top() || rows == 0);
}

void LogicTest::unitsRoundToWholePixels() {
    // A 16-pixel font gives u = 4: the five-row example is 652 x 428 pixels.
    const Layout four(16);
    QCOMPARE(four.Unit(), 4.0f);
    QCOMPARE(four.WindowSize(5), QSize(652, 72 * 4 + 140));
    // u = 3.4: positions round, they do not truncate.
    const Layout odd(13);
    QCOMPARE(odd.Px(13), 44); // 44.2
    QCOMPARE(odd.Px(155), 527);
    QCOMPARE(odd.RowTop(1), 61); // 18u = 61.2
    QCOMPARE(odd.ToolButton(30), QRect(102, 7, 17, 17));
}

void LogicTest::clickBands() {
    const Layout layout(16); // u = 4: rows at y = 52, 72, 92, ...
    const int n = 3;
    QCOMPARE(layout.RowAt({300, 52}, n), 1);
    QCOMPARE(layout.RowAt({300, 71}, n), 1);
    QCOMPARE(layout.RowAt({300, 72}, n), 2);
    QCOMPARE(layout.RowAt({300, 111}, n), 3);
    QCOMPARE(layout.RowAt({300, 112}, n), 0); // below the last row
    // Just above the first row: the floor of a negative quotient, not row 1.
    QCOMPARE(layout.RowAt({300, 51}, n), 0);
    QCOMPARE(layout.RowAt({300, 33}, n), 0);
    // The band is the bars' width, 40u to 155u.
    QCOMPARE(layout.RowAt({159, 60}, n), 0);
    QCOMPARE(layout.RowAt({160, 60}, n), 1);
    QCOMPARE(layout.RowAt({620, 60}, n), 1);
    QCOMPARE(layout.RowAt({621, 60}, n), 0);
    QCOMPARE(layout.RowAt({300, 60}, 0), 0);
}

void LogicTest::bluePartShrinksWithTheRatio() {
    const Layout layout(16);
    QCOMPARE(layout.BluePartPx(1.0f), 115 * 4);
    QCOMPARE(layout.BluePartPx(5.0f), 23 * 4);
    QCOMPARE(layout.BluePartPx(16.0f), 29); // 28.75
    // Coded larger than the input: the bar is full, not longer.
    QCOMPARE(layout.BluePartPx(0.5f), 115 * 4);
    // No ratio: no blue part, even for NaN.
    QCOMPARE(layout.BluePartPx(0.0f), 0);
    QCOMPARE(layout.BluePartPx(std::nanf("")), 0);
    // A huge ratio still shows a sliver.
    QCOMPARE(layout.BluePartPx(1e9f), 1);
}

void LogicTest::commandsWhileIdle() {
    WindowFlags idle; // no original, nothing unsaved
    for (const int id : {kCmdOpen, kCmdRecord, kCmdLoadSession, kCmdExit, kCmdSelectCodecs, kCmdRecordSettings,
                         kCmdLoopPlay, kBtnOpen, kBtnRecord, kCmdHelpContents, kCmdHelpOnHelp, kCmdAbout}) {
        QVERIFY2(CommandEnabled(id, idle), qPrintable(QString::number(id)));
    }
    for (const int id : {kCmdSaveRecording, kCmdSaveSession, kCmdProcess, kBtnProcess, kBtnPlayOriginal,
                         kBtnSaveRecording, kBtnBreak}) {
        QVERIFY2(!CommandEnabled(id, idle), qPrintable(QString::number(id)));
    }
    idle.originalExists = true;
    QVERIFY(CommandEnabled(kCmdProcess, idle));
    QVERIFY(CommandEnabled(kBtnProcess, idle));
    QVERIFY(CommandEnabled(kBtnPlayOriginal, idle));
    QVERIFY(!CommandEnabled(12345, idle));
    QVERIFY(MayClose(idle));
}

void LogicTest::commandsWithResultsAndUnsavedWork() {
    WindowFlags f;
    f.state = DisplayState::Results;
    f.originalExists = true;
    QVERIFY(!CommandEnabled(kCmdSaveSession, f));
    f.unsavedSession = true;
    QVERIFY(CommandEnabled(kCmdSaveSession, f));
    QVERIFY(!CommandEnabled(kCmdSaveRecording, f));
    QVERIFY(!CommandEnabled(kBtnSaveRecording, f));
    f.unsavedRecording = true;
    QVERIFY(CommandEnabled(kCmdSaveRecording, f));
    QVERIFY(CommandEnabled(kBtnSaveRecording, f));
    QVERIFY(!CommandEnabled(kBtnBreak, f));
    QVERIFY(CommandEnabled(kCmdSignalView, f));
}

void LogicTest::commandsWhileProcessing() {
    WindowFlags f;
    f.state = DisplayState::Processing;
    f.originalExists = true;
    f.unsavedRecording = true;
    f.unsavedSession = true;
    for (const int id : kMenuCommands) QVERIFY2(!CommandEnabled(id, f), qPrintable(QString::number(id)));
    for (const int id : {kBtnRecord, kBtnOpen, kBtnProcess, kBtnPlayOriginal, kBtnSaveRecording, kCmdSignalView}) {
        QVERIFY2(!CommandEnabled(id, f), qPrintable(QString::number(id)));
    }
    QVERIFY(CommandEnabled(kBtnBreak, f));
    QVERIFY(CommandEnabled(kCmdAbout, f));
    QVERIFY(!MayClose(f));
}

void LogicTest::commandsWhileRecording() {
    WindowFlags f;
    f.state = DisplayState::Recording;
    f.originalExists = true;
    f.unsavedSession = true;
    // Only the record command (now "Stop recording") and its button stay.
    for (const int id : kMenuCommands) {
        QCOMPARE(CommandEnabled(id, f), id == kCmdRecord);
    }
    QVERIFY(CommandEnabled(kBtnRecord, f));
    for (const int id : {kBtnOpen, kBtnProcess, kBtnPlayOriginal, kBtnSaveRecording, kBtnBreak}) {
        QVERIFY2(!CommandEnabled(id, f), qPrintable(QString::number(id)));
    }
    QVERIFY(!MayClose(f));
}

void LogicTest::commandsWhilePlaying() {
    WindowFlags f;
    f.state = DisplayState::Results;
    f.originalExists = true;
    f.playing = true;
    f.unsavedSession = true;
    for (const int id : kMenuCommands) QVERIFY2(!CommandEnabled(id, f), qPrintable(QString::number(id)));
    for (const int id : {kBtnRecord, kBtnOpen, kBtnProcess, kBtnSaveRecording}) QVERIFY(!CommandEnabled(id, f));
    // The play button of the original stops what plays, even a decoded file.
    QVERIFY(CommandEnabled(kBtnPlayOriginal, f));
    f.originalExists = false;
    QVERIFY(CommandEnabled(kBtnPlayOriginal, f));
    QVERIFY(MayClose(f));
}

void LogicTest::rowButtons() {
    WindowFlags f;
    f.state = DisplayState::Results;
    QVERIFY(RowPlayEnabled(true, f));
    QVERIFY(!RowPlayEnabled(false, f));
    QVERIFY(RowSaveEnabled(true, false, f));
    QVERIFY(!RowSaveEnabled(true, true, f)); // saved once: disabled
    QVERIFY(!RowSaveEnabled(false, false, f));
    f.playing = true;
    QVERIFY(RowPlayEnabled(true, f)); // switches or stops the sound
    QVERIFY(!RowSaveEnabled(true, false, f));
    f.playing = false;
    f.state = DisplayState::Processing;
    QVERIFY(!RowPlayEnabled(true, f));
    QVERIFY(!RowSaveEnabled(true, false, f));
    f.state = DisplayState::Recording;
    QVERIFY(!RowPlayEnabled(true, f));
}

void LogicTest::statusTexts() {
    const vntr::evaluator::ProgressLines progress{"Processing algorithm VT180:", "Processing coding : 100 bytes (3 %)",
                                                  "Processing decoding : 0 bytes (0 %)"};
    const StatusLines idle = ComposeStatus(DisplayState::Idle, nullptr, progress, {});
    QCOMPARE(idle.size(), 4u);
    QCOMPARE(idle[0], std::string("To start a processing :"));
    QCOMPARE(idle[1], std::string("Choose the codecs to use with the Options | Select Codecs menu"));
    QCOMPARE(idle[2], std::string("Open or record an original PCM file"));
    QCOMPARE(idle[3], std::string("Press the process button to start the processing"));
    const StatusLines results = ComposeStatus(DisplayState::Results, nullptr, progress, {});
    QCOMPARE(results[0], std::string("Processing terminated :"));
    QCOMPARE(results[1], std::string("To play any file, click on the corresponding 'play' button"));
    QCOMPARE(results[2], std::string("To save any coded file, click on the corresponding 'save' button"));
    QCOMPARE(results[3], std::string("Click on the file size bars to show details"));
    const StatusLines running = ComposeStatus(DisplayState::Processing, nullptr, progress, {});
    QCOMPARE(running, (StatusLines{progress.status, progress.coding, progress.decoding}));
    // Before a codec starts there is only the status line.
    QCOMPARE(ComposeStatus(DisplayState::Processing, nullptr, {"Processing algorithm VT180:", "", ""}, {}).size(), 1u);
    const StatusLines recording{"Recording a new original file :"};
    QCOMPARE(ComposeStatus(DisplayState::Recording, nullptr, progress, recording), recording);
}

void LogicTest::detailLinesNeedResults() {
    CodecSlot slot = SlotWithResults();
    slot.downsampled = 1;
    const StatusLines detail = ComposeStatus(DisplayState::Results, &slot, {}, {});
    QCOMPARE(detail.size(), 5u);
    QCOMPARE(detail[0], std::string("Test coder (8 kbps)"));
    QCOMPARE(detail[1], std::string("Reduced 64000 bytes to 4000 (bit rate = 8000 bps)[! 8 kHz SF !]"));
    QCOMPARE(detail[2], std::string("Coding in 0.12 seconds (3.0% CPU)"));
    QCOMPARE(detail[3], std::string("Decoding in 0.04 seconds (1.0% CPU)"));
    // A row without input bytes, coded bytes or a rate shows the idle text.
    for (auto clear : {+[](CodecSlot &s) { s.inputBytes = 0; }, +[](CodecSlot &s) { s.codedBytes = 0; },
                       +[](CodecSlot &s) { s.sampleRate = 0; }}) {
        CodecSlot partial = SlotWithResults();
        clear(partial);
        QCOMPARE(ComposeStatus(DisplayState::Results, &partial, {}, {}), IdleStatus());
    }
    // Details show only in the results state.
    QCOMPARE(ComposeStatus(DisplayState::Idle, &slot, {}, {}), IdleStatus());
}

void LogicTest::qualityLine() {
    vntr::evaluator::Quality q;
    QCOMPARE(QualityText(q), std::string("Quality : not measured"));
    q.valid = true;
    q.snrDb = 17.04;
    q.segmentalSnrDb = 13.33;
    q.logSpectralDistanceDb = 9.274;
    QCOMPARE(QualityText(q), std::string("SNR 17.0 dB, segmental SNR 13.3 dB, log-spectral distance 9.27 dB"));
    q.snrDb = -3.25;
    QVERIFY(QualityText(q).starts_with("SNR -3.2 dB") || QualityText(q).starts_with("SNR -3.3 dB"));
    // The perceptual score and the external scorer's, or why there is none.
    q.snrDb = 17.04;
    q.visqolValid = true;
    q.visqolMos = 4.123;
    q.scorerName = "pesq";
    q.scorerNote = "pesq exited with status 1: bad file";
    QCOMPARE(QualityText(q), std::string("SNR 17.0 dB, segmental SNR 13.3 dB, log-spectral distance 9.27 dB, "
                                         "ViSQOL MOS 4.12, pesq: pesq exited with status 1: bad file"));
    q.scorerValid = true;
    q.scorerValue = 3.21;
    q.visqolValid = false;
    q.visqolNote = "too short to score";
    QCOMPARE(QualityText(q), std::string("SNR 17.0 dB, segmental SNR 13.3 dB, log-spectral distance 9.27 dB, "
                                         "ViSQOL: too short to score, pesq 3.210"));
}

void LogicTest::recordingLines() {
    // 8000 Hz, 16 bit, mono: 16 bytes a millisecond.
    StatusLines lines = RecordingStatus(8000, 2, 1500);
    QCOMPARE(lines, (StatusLines{"Recording a new original file :", "Sampling frequency : 8000 Hz",
                                 "Time already recorded : 1.50 seconds (24000 bytes)"}));
    // Stereo 16 bit counts four bytes a sample frame, 8-bit mono one.
    QCOMPARE(RecordingStatus(44100, 4, 2000)[2], std::string("Time already recorded : 2.00 seconds (352800 bytes)"));
    QCOMPARE(RecordingStatus(11025, 1, 100)[2], std::string("Time already recorded : 0.10 seconds (1102 bytes)"));
    // Long recordings do not overflow.
    QCOMPARE(RecordingStatus(48000, 4, 3'600'000)[2],
             std::string("Time already recorded : 3600.00 seconds (691200000 bytes)"));
}

void LogicTest::meterLevels() {
    QCOMPARE(MeterLevel(0.0), 0);
    QCOMPARE(MeterLevel(0.5), 20);
    QCOMPARE(MeterLevel(0.999), 39);
    QCOMPARE(MeterLevel(1.0), 40);
    QCOMPARE(MeterLevel(7.5), 40);
    QCOMPARE(MeterLevel(-0.3), 0);
    QCOMPARE(MeterLevel(std::numeric_limits<double>::infinity()), 40);
    QCOMPARE(MeterLevel(std::nan("")), 0);
}

void LogicTest::meterSegments() {
    auto fills = [](int level) {
        QList<int> f;
        for (const auto &c : MeterCells(level)) f << c.fill;
        return f;
    };
    QCOMPARE(fills(0), (QList<int>{0, 0, 0, 0, 0}));
    QCOMPARE(fills(3), (QList<int>{3, 0, 0, 0, 0}));
    QCOMPARE(fills(8), (QList<int>{8, 0, 0, 0, 0}));
    QCOMPARE(fills(19), (QList<int>{8, 8, 3, 0, 0}));
    QCOMPARE(fills(40), (QList<int>{8, 8, 8, 8, 8}));
    QCOMPARE(fills(55), fills(40));
    QCOMPARE(fills(-4), fills(0));
    // Saturated pictures only in the top segment, from its fifth step.
    for (int level = 0; level <= 40; ++level) {
        const auto cells = MeterCells(level);
        for (std::size_t i = 0; i < 4; ++i) QVERIFY(!cells[i].saturated);
        QCOMPARE(cells[4].saturated, level >= 37);
    }
}

void LogicTest::pcmPeaks() {
    const unsigned char loud16[] = {0x00, 0x80, 0x10, 0x00}; // -32768, 16
    QCOMPARE(PcmPeak(loud16, 4, 2), 1.0);
    const unsigned char quiet16[] = {0x00, 0x40, 0x00, 0xC0}; // 16384, -16384
    QCOMPARE(PcmPeak(quiet16, 4, 2), 0.5);
    // An odd trailing byte of 16-bit data is no sample.
    const unsigned char odd[] = {0x00, 0x00, 0xFF};
    QCOMPARE(PcmPeak(odd, 3, 2), 0.0);
    // 8-bit samples are unsigned around 128.
    const unsigned char eight[] = {128, 192, 0};
    QCOMPARE(PcmPeak(eight, 2, 1), 0.5);
    QCOMPARE(PcmPeak(eight, 3, 1), 1.0);
    QCOMPARE(PcmPeak(eight, 0, 1), 0.0);
}

void LogicTest::recordFormatWords() {
    const auto word = [](int rate, int channels, int bits) { return FormatFromChoice({rate, channels, bits}); };
    QCOMPARE(word(0, 1, 16), 0x12102u);
    QCOMPARE(word(1, 1, 16), 0x22102u); // 11 kHz, 16 bit, mono
    QCOMPARE(word(8, 2, 8), 0x1000000u | 0x200u | 0x1000u | 0x2u);
    QCOMPARE(word(7, 2, 16), 0x800000u | 0x200u | 0x2000u | 0x2u);
    // Nothing chosen: 8000 Hz, mono, 16 bit.
    QCOMPARE(word(-1, 0, 0), 0x12102u);
    QCOMPARE(word(42, 0, 0), 0x12102u);
    QCOMPARE(kDefaultRecordFormat, 0x12102u);
}

void LogicTest::recordFormatShownInTheDialog() {
    const RecordChoice standard = ChoiceFromFormat(CODEC_FMT_PCM16_MONO_8KHZ);
    QCOMPARE(standard.rate, 0);
    QCOMPARE(standard.channels, 1);
    QCOMPARE(standard.bits, 16);
    const RecordChoice cd = ChoiceFromFormat(0x800000 | 0x200 | 0x1000 | 0x2);
    QCOMPARE(cd.rate, 7);
    QCOMPARE(cd.channels, 2);
    QCOMPARE(cd.bits, 8);
    // No rate bit, no channel bit, no width bit: 8 kHz, mono, 16 bit.
    const RecordChoice empty = ChoiceFromFormat(0x2);
    QCOMPARE(empty.rate, 0);
    QCOMPARE(empty.channels, 1);
    QCOMPARE(empty.bits, 16);
    // Every format the dialog can make comes back unchanged.
    for (int rate = 0; rate < 9; ++rate) {
        for (const int channels : {1, 2}) {
            for (const int bits : {8, 16}) {
                const uint32_t format = FormatFromChoice({rate, channels, bits});
                QCOMPARE(FormatFromChoice(ChoiceFromFormat(format)), format);
            }
        }
    }
}

void LogicTest::codecOptionChoices() {
    // The dual-rate coder offers both rates: with options 0, 6400 is chosen.
    OptionsView dual = InitialOptions(0x30000, 0);
    QVERIFY(!dual.vadEnabled);
    QVERIFY(dual.r4800Enabled && dual.r6400Enabled);
    QCOMPARE(dual.rate, RateChoice::R6400);
    QCOMPARE(OptionWord(dual.vad, dual.rate), 0x20000u);
    QCOMPARE(InitialOptions(0x30000, 0x10000).rate, RateChoice::R4800);
    QCOMPARE(InitialOptions(0x30000, 0x20000).rate, RateChoice::R6400);
    // Both rate bits at once are no 4800 choice.
    QCOMPARE(InitialOptions(0x30000, 0x30000).rate, RateChoice::R6400);
    // Voice activity detection only: the rates stay disabled and unchosen.
    OptionsView vadOnly = InitialOptions(CODEC_OPT_VAD, CODEC_OPT_VAD);
    QVERIFY(vadOnly.vadEnabled && vadOnly.vad);
    QVERIFY(!vadOnly.r4800Enabled && !vadOnly.r6400Enabled);
    QCOMPARE(vadOnly.rate, RateChoice::None);
    QCOMPARE(OptionWord(vadOnly.vad, vadOnly.rate), 0x1u);
    // A stored 6400 shows even where the codec no longer offers it; 4800 as well.
    QCOMPARE(InitialOptions(0x0, 0x20000).rate, RateChoice::R6400);
    QCOMPARE(InitialOptions(0x0, 0x10000).rate, RateChoice::R4800);
    // Only 4800 offered, nothing stored: neither.
    QCOMPARE(InitialOptions(0x10000, 0).rate, RateChoice::None);
    QVERIFY(!InitialOptions(0x10001, 0x10000).vad);
}

void LogicTest::optionWords() {
    QCOMPARE(OptionWord(false, RateChoice::None), 0u);
    QCOMPARE(OptionWord(true, RateChoice::None), 0x1u);
    QCOMPARE(OptionWord(true, RateChoice::R4800), 0x10001u);
    QCOMPARE(OptionWord(false, RateChoice::R6400), 0x20000u);
}

void LogicTest::selectionStartsWithTheRightHighlight() {
    using List = CodecSelection::List;
    CodecSelection some({true, false, true, false});
    QCOMPARE(some.Entries(List::Unselected), (std::vector<int>{1, 3}));
    QCOMPARE(some.Entries(List::Selected), (std::vector<int>{0, 2}));
    QVERIFY(some.Current().has_value());
    QCOMPARE(some.Current()->list, List::Unselected);
    QCOMPARE(some.Current()->row, 0);
    QVERIFY(some.SelectEnabled());
    QVERIFY(!some.DeselectEnabled());

    CodecSelection all({true, true, true});
    QCOMPARE(all.Current()->list, List::Selected);
    QCOMPARE(all.Current()->row, 0);
    QVERIFY(!all.SelectEnabled());
    QVERIFY(all.DeselectEnabled());
}

void LogicTest::selectionMovesKeepSlotOrder() {
    using List = CodecSelection::List;
    CodecSelection s({false, true, false, true, false});
    // Highlighting in one list takes it away from the other.
    s.HighlightEntry(List::Selected, 1);
    QCOMPARE(s.Current()->list, List::Selected);
    QVERIFY(s.DeselectEnabled() && !s.SelectEnabled());
    s.HighlightEntry(List::Unselected, 7); // no such entry: nothing changes
    QCOMPARE(s.Current()->list, List::Selected);
    // Slot 3 goes back between slots 2 and 4, and stays highlighted there.
    s.MoveHighlighted();
    QCOMPARE(s.Entries(List::Unselected), (std::vector<int>{0, 2, 3, 4}));
    QCOMPARE(s.Entries(List::Selected), (std::vector<int>{1}));
    QCOMPARE(s.Current()->list, List::Unselected);
    QCOMPARE(s.Current()->row, 2);
    QVERIFY(s.SelectEnabled() && !s.DeselectEnabled());
    // Slot 4 moves ahead of nothing, slot 0 in front of slot 1.
    s.HighlightEntry(List::Unselected, 3);
    s.MoveHighlighted();
    s.HighlightEntry(List::Unselected, 0);
    s.MoveHighlighted();
    QCOMPARE(s.Entries(List::Selected), (std::vector<int>{0, 1, 4}));
    QCOMPARE(s.Current()->row, 0);
    QCOMPARE(s.Result(5), (std::vector<bool>{true, true, false, false, true}));
    QCOMPARE(s.Result(2), (std::vector<bool>{true, true}));
    // Emptying a list leaves the highlight on the moved entry.
    s.HighlightEntry(List::Unselected, 0);
    s.MoveHighlighted();
    s.HighlightEntry(List::Unselected, 0);
    s.MoveHighlighted();
    QVERIFY(s.Entries(List::Unselected).empty());
    QCOMPARE(s.Current()->list, List::Selected);
    QCOMPARE(s.Entries(List::Selected), (std::vector<int>{0, 1, 2, 3, 4}));
}

void LogicTest::selectionWithoutCodecs() {
    CodecSelection none({});
    QVERIFY(!none.Current().has_value());
    QVERIFY(!none.SelectEnabled());
    QVERIFY(!none.DeselectEnabled());
    none.MoveHighlighted(); // harmless
    QVERIFY(none.Result(0).empty());
}

void LogicTest::aboutBarSequence() {
    QList<int> seen{kAboutStart};
    for (int i = 0; i < 8; ++i) seen << NextAboutValue(seen.back());
    QCOMPARE(seen, (QList<int>{70, 35, 17, 8, 4, 2, 1, 70, 35}));
    QCOMPARE(AboutBluePartUnits(70), 95.0);
    QCOMPARE(AboutBluePartUnits(1), 8.75);
    // The number alone, without a unit.
    QCOMPARE(AboutRateLabel(70), std::string("17500"));
    QCOMPARE(AboutRateLabel(1), std::string("250"));
    QCOMPARE(AboutRatioLabel(70), std::string("1:1"));
    QCOMPARE(AboutRatioLabel(17), std::string("5:1")); // 4.7
    QCOMPARE(AboutRatioLabel(35), std::string("2:1")); // 2.29
    QCOMPARE(AboutRatioLabel(1), std::string("80:1"));
}

void LogicTest::fileChoices() {
    const auto &open = ChoiceFor(FilePurpose::OpenOriginal);
    QCOMPARE(QString(open.title), QString("Open original file..."));
    QVERIFY(open.open && open.mustExist && !open.confirmOverwrite);
    QVERIFY(QString(open.filter).startsWith("Wave files (*.wav);;All Files"));
    QCOMPARE(QString(ChoiceFor(FilePurpose::SaveCoded).title), QString("Save coded file as..."));
    QVERIFY(QString(ChoiceFor(FilePurpose::SaveCoded).filter).startsWith("Coded files (*.wav)"));
    QCOMPARE(QString(ChoiceFor(FilePurpose::SaveRecording).title), QString("Save recorded file as..."));
    QCOMPARE(QString(ChoiceFor(FilePurpose::OpenSession).title), QString("Open session..."));
    QCOMPARE(QString(ChoiceFor(FilePurpose::SaveSession).title), QString("Save session as..."));
    for (const auto purpose : {FilePurpose::SaveCoded, FilePurpose::SaveRecording, FilePurpose::SaveSession}) {
        QVERIFY(!ChoiceFor(purpose).open && ChoiceFor(purpose).confirmOverwrite && !ChoiceFor(purpose).mustExist);
    }
    QCOMPARE(QString(ChoiceFor(FilePurpose::SaveSession).suffix), QString("qbl"));
    // Every chooser ends with the same last filter, as shown.
    const struct {
        FilePurpose purpose;
        const char *filter;
    } kFilters[] = {{FilePurpose::OpenOriginal, "Wave files (*.wav);;All Files (*.*)"},
                    {FilePurpose::SaveCoded, "Coded files (*.wav);;All Files (*.*)"},
                    {FilePurpose::SaveRecording, "Wave files (*.wav);;All Files (*.*)"},
                    {FilePurpose::OpenSession, "Session files (*.qbl);;All Files (*.*)"},
                    {FilePurpose::SaveSession, "Session files (*.qbl);;All Files (*.*)"}};
    for (const auto &[purpose, filter] : kFilters) QCOMPARE(QString(ChoiceFor(purpose).filter), QString(filter));
}

void LogicTest::spectrogramFindsATone() {
    const int rate = 8000;
    std::vector<float> x(rate);
    for (int i = 0; i < rate; ++i)
        x[static_cast<std::size_t>(i)] = 16384.0f * std::sin(2 * std::numbers::pi_v<float> * 1000.0f * i / rate);
    const Spectrogram s = ComputeSpectrogram(x, rate);
    QCOMPARE(s.fftSize, 256); // 32 ms at 8 kHz
    QCOMPARE(s.bins, 129);
    QCOMPARE(s.hop, 64);
    const int column = s.ColumnAt(0.5);
    int loudest = 0;
    for (int b = 1; b < s.bins; ++b) {
        if (s.At(column, b) > s.At(column, loudest)) loudest = b;
    }
    QCOMPARE(loudest, 32); // 1000 Hz / (8000 / 256)
    // A half-scale sine is 6 dB below full scale.
    QVERIFY(std::abs(s.At(column, loudest) + 6.02f) < 0.3f);
    QVERIFY(std::abs(s.peakDb + 6.02f) < 0.3f);
    // Far from the tone the Hann window's sidelobes are low.
    QVERIFY(s.At(column, 100) < -70.0f);
}

void LogicTest::spectrogramOfShortAndLongSignals() {
    QCOMPARE(ComputeSpectrogram({}, 8000).columns, 0);
    QCOMPARE(ComputeSpectrogram(std::vector<float>(10, 1.0f), 0).columns, 0);
    const Spectrogram tiny = ComputeSpectrogram(std::vector<float>(5, 100.0f), 8000);
    QCOMPARE(tiny.columns, 1);
    QCOMPARE(static_cast<int>(tiny.db.size()), tiny.bins);
    // Silence is floored, not minus infinity.
    const Spectrogram silent = ComputeSpectrogram(std::vector<float>(4000, 0.0f), 8000);
    for (const float v : silent.db) QVERIFY(std::isfinite(v));
    // A long signal gets a wider hop, not more than the column limit.
    const Spectrogram longOne = ComputeSpectrogram(std::vector<float>(48000 * 60, 1.0f), 48000, 3000);
    QCOMPARE(longOne.fftSize, 2048);
    QVERIFY(longOne.columns <= 3000);
    QVERIFY(longOne.columns >= 2990);
    QCOMPARE(longOne.ColumnAt(-5.0), 0);
    QCOMPARE(longOne.ColumnAt(1e6), longOne.columns - 1);
}

void LogicTest::waveEnvelope() {
    const std::vector<float> x{1, -2, 3, -4, 5, -6, 7, -8};
    const Envelope e = WaveEnvelope(x, 0, 8, 4);
    QCOMPARE(e.low, (std::vector<float>{-2, -4, -6, -8}));
    QCOMPARE(e.high, (std::vector<float>{1, 3, 5, 7}));
    // Zoomed in beyond one sample a column: each column still shows a sample.
    const Envelope zoomed = WaveEnvelope(x, 2, 2, 4);
    QCOMPARE(zoomed.high, (std::vector<float>{3, 3, -4, -4}));
    // Outside the signal: zero.
    const Envelope outside = WaveEnvelope(x, -4, 4, 2);
    QCOMPARE(outside.low, (std::vector<float>{0, 0}));
    const Envelope after = WaveEnvelope(x, 6, 4, 2);
    QCOMPARE(after.high, (std::vector<float>{7, 0}));
    QVERIFY(WaveEnvelope(x, 0, 8, 0).low.empty());
}

QTEST_GUILESS_MAIN(LogicTest)
#include "logic_test.moc"
