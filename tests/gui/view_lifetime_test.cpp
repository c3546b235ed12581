// The signal view and the comparison table stay open while the original
// under them changes: a shorter or a longer original opened after a run, a
// session loaded, a recording made, an open that fails.  Each time both
// follow the new state and draw it, and nothing they show refers to the
// traces of the set before.
#include "gui_test_support.hpp"
#include "window_bench.hpp"

#include "core/quality.hpp"
#include "gui/window/comparison_view.hpp"
#include "gui/window/signal_canvas.hpp"
#include "gui/window/signal_view.hpp"

#include <QFile>
#include <QLabel>

using namespace vntr::gui;
using namespace vntr::gui::test;
using vntr::evaluator::Answer;
using vntr::evaluator::DisplayState;

namespace {

// Codecs enough for stacked traces at two rates, few enough to run quickly.
const std::vector<std::string> kCodecs = {"VT4864v6", "VT180", "GSM-FR", "C2 1300", "Opus 8k"};

int64_t SamplesOf(const QString &path) {
    std::vector<float> samples;
    int rate = 0;
    return vntr::evaluator::ReadWaveSamples(path.toStdString(), samples, rate) ? static_cast<int64_t>(samples.size())
                                                                               : -1;
}

// A window with both views open, run over `original`.
struct Open {
    Bench b;
    SignalView *view = nullptr;
    ComparisonView *table = nullptr;

    bool Start() {
        std::vector<bool> selection(b.w().Core().SlotCount(), false);
        for (const auto &name : kCodecs) {
            for (std::size_t i = 0; i < selection.size(); ++i) {
                if (b.w().Core().Slots()[i].Name() == name) selection[i] = true;
            }
        }
        b.w().Core().ApplySelection(selection);
        b.w().Command(kCmdSignalView);
        b.w().Command(kCmdCompareCodecs);
        view = b.w().Signals();
        table = b.w().Comparison();
        return view != nullptr && table != nullptr && view->isVisible() && table->isVisible();
    }
    bool Run(const QString &original) {
        if (!b.Open(original)) return false;
        b.w().Command(kCmdProcess);
        return b.w().Core().State() == DisplayState::Results && view->Signals().decoded.size() >= 3 &&
               view->Shown().size() >= 3;
    }
    // Drawn as it stands: the grab paints every pane of the canvas.
    bool Draw() {
        view->resize(1000, 900);
        table->resize(table->sizeHint());
        return !view->grab().isNull() && !table->grab().isNull();
    }
};

// What the view shows is whole: the stacked traces are traces of its set,
// the panes are those of the stack, the time range lies within the original.
void CheckConsistent(const SignalView &view) {
    const SignalSet &set = view.Signals();
    for (const int t : view.Shown()) {
        QVERIFY(t >= 0 && t < static_cast<int>(set.decoded.size()));
    }
    QVERIFY(view.Listening() >= 0 && view.Listening() <= static_cast<int>(set.decoded.size()));
    const SignalCanvas *canvas = view.Canvas();
    int waves = 0;
    for (const auto &pane : canvas->Panes()) {
        QVERIFY(pane.trace < static_cast<int>(set.decoded.size()));
        waves += pane.kind == SignalCanvas::PaneKind::Wave ? 1 : 0;
    }
    QCOMPARE(waves, set.Empty() ? 0 : 1 + static_cast<int>(view.Shown().size()));
    const auto [t0, t1] = canvas->Range();
    QVERIFY(t0 >= 0 && t1 > t0);
    if (!set.Empty()) {
        double longest = set.original.Seconds();
        for (const int t : view.Shown())
            longest = std::max(longest, set.decoded[static_cast<std::size_t>(t)].decoded.Seconds());
        QVERIFY2(t1 <= longest + 1e-9, qPrintable(QStringLiteral("%1 > %2").arg(t1).arg(longest)));
    }
}

// After an original was opened (no run yet): the original alone, in whole.
void CheckOriginalAlone(Open &o, const QString &path) {
    QCOMPARE(o.b.w().Core().State(), DisplayState::Idle);
    QVERIFY(o.view->HasSignals());
    QCOMPARE(static_cast<int64_t>(o.view->Signals().original.length), SamplesOf(path));
    QVERIFY(o.view->Signals().decoded.empty());
    QVERIFY(o.view->Shown().empty());
    CheckConsistent(*o.view);
    QVERIFY(std::abs(o.view->Canvas()->Range().second - o.view->Signals().original.Seconds()) < 1e-9);
    QCOMPARE(o.table->Model().rowCount(), 0);
}

} // namespace

class ViewLifetimeTest : public QObject {
    Q_OBJECT
private slots:
    void shorterOriginalAfterARun();
    void longerOriginalAfterARun();
    void sessionLoadedAfterARun();
    void recordingAfterARun();
    void failedOpensKeepTheRun();
    void stackedTracesFollowTheirNames();
};

void ViewLifetimeTest::shorterOriginalAfterARun() {
    Open o;
    QVERIFY(o.Start());
    QVERIFY(o.Run(SpeechWave())); // 4 s
    QVERIFY(o.Draw());
    const QString shorter = "/usr/share/codec2/wav/hts1a.wav"; // 3 s
    QVERIFY(o.b.Open(shorter));
    CheckOriginalAlone(o, shorter);
    QVERIFY(o.Draw());
    // And its own run.
    o.b.w().Command(kCmdProcess);
    QCOMPARE(o.view->Signals().decoded.size(), kCodecs.size());
    CheckConsistent(*o.view);
    QVERIFY(o.Draw());
}

void ViewLifetimeTest::longerOriginalAfterARun() {
    Open o;
    QVERIFY(o.Start());
    QVERIFY(o.Run("/usr/share/codec2/wav/big_dog.wav")); // 2.5 s
    // Zoomed in and a region chosen near the end of the short one.
    o.view->Canvas()->SetRange(1.0, 1.5);
    o.view->SetSelection(std::make_pair(2.0, 2.4));
    QVERIFY(o.Draw());
    QVERIFY(o.b.Open(SpeechWave()));
    CheckOriginalAlone(o, SpeechWave());
    QVERIFY(o.Draw());
}

void ViewLifetimeTest::sessionLoadedAfterARun() {
    Open o;
    QVERIFY(o.Start());
    QVERIFY(o.Run("/usr/share/codec2/wav/hts1a.wav"));
    const QString session = o.b.place.File("hts1a.qbl");
    o.b.prompts.files.push_back(session);
    o.b.w().Command(kCmdSaveSession);
    QVERIFY(QFile::exists(session));
    o.view->Canvas()->SetRange(0.5, 1.0);
    QVERIFY(o.Draw());
    // Loaded over its own results, then over another original's.
    for (const QString &before : {QString(), SpeechWave()}) {
        if (!before.isEmpty()) QVERIFY(o.Run(before));
        o.b.prompts.files.push_back(session);
        o.b.w().Command(kCmdLoadSession);
        QCOMPARE(o.b.w().Core().State(), DisplayState::Results);
        QCOMPARE(static_cast<int64_t>(o.view->Signals().original.length), SamplesOf("/usr/share/codec2/wav/hts1a.wav"));
        QCOMPARE(o.view->Signals().decoded.size(), kCodecs.size());
        CheckConsistent(*o.view);
        QCOMPARE(o.table->Model().rowCount(), static_cast<int>(kCodecs.size()));
        QVERIFY(o.Draw());
    }
}

void ViewLifetimeTest::recordingAfterARun() {
    Open o;
    QVERIFY(o.Start());
    QVERIFY(o.Run(SpeechWave()));
    QVERIFY(o.Draw());
    o.b.prompts.answers.push_back(Answer::No); // do not save the session
    o.b.w().Command(kCmdRecord);
    QCOMPARE(o.b.w().Core().State(), DisplayState::Recording);
    QVERIFY(!o.view->HasSignals());
    CheckConsistent(*o.view);
    QVERIFY(o.Draw());
    o.b.sound.Deliver(Tone(8000, 1.5, 300, 0.3));
    o.b.w().Command(kCmdRecord);
    QVERIFY(o.b.w().UnsavedRecording());
    CheckOriginalAlone(o, QString::fromStdString(o.b.w().Core().Temp().Original()));
    QVERIFY(o.Draw());
    // The recording runs, then a longer original replaces it, unsaved.
    o.b.w().Command(kCmdProcess);
    QCOMPARE(o.view->Signals().decoded.size(), kCodecs.size());
    QVERIFY(o.Draw());
    o.b.prompts.answers.push_back(Answer::No); // the recording
    o.b.prompts.answers.push_back(Answer::No); // the session
    QVERIFY(o.b.Open(SpeechWave()));
    CheckOriginalAlone(o, SpeechWave());
    QVERIFY(o.Draw());
}

void ViewLifetimeTest::failedOpensKeepTheRun() {
    Open o;
    QVERIFY(o.Start());
    QVERIFY(o.Run(SpeechWave()));
    const std::vector<int> shown = o.view->Shown();
    const std::size_t traces = o.view->Signals().decoded.size();
    const int rows = o.table->Model().rowCount();
    // A file that is no PCM, then one that is not there.
    for (const QString &path : {QStringLiteral("/usr/share/codec2/wav/cross.wav"), o.b.place.File("missing.wav")}) {
        o.b.prompts.Clear();
        o.b.prompts.files.push_back(path);
        o.b.w().Command(kCmdOpen);
        QCOMPARE(o.b.prompts.messages.size(), 1u);
        QCOMPARE(o.b.w().Core().State(), DisplayState::Results);
        QCOMPARE(o.view->Signals().decoded.size(), traces);
        QCOMPARE(o.view->Shown(), shown);
        CheckConsistent(*o.view);
        QCOMPARE(o.table->Model().rowCount(), rows);
        QVERIFY(o.Draw());
    }
    // Then a good one.
    QVERIFY(o.b.Open("/usr/share/codec2/wav/hts1a.wav"));
    CheckOriginalAlone(o, "/usr/share/codec2/wav/hts1a.wav");
    QVERIFY(o.Draw());
}

void ViewLifetimeTest::stackedTracesFollowTheirNames() {
    // A run with other codecs: the traces stacked before stay stacked by
    // name where they are still there, at their new places.
    Open o;
    QVERIFY(o.Start());
    QVERIFY(o.Run(SpeechWave()));
    for (const int t : o.view->Shown()) o.view->SetShown(t, false);
    const int gsm = o.view->Signals().Find("GSM-FR");
    QVERIFY(gsm >= 0);
    o.view->SetShown(gsm, true);
    o.view->Listen(gsm + 1);
    std::vector<bool> selection(o.b.w().Core().SlotCount(), false);
    for (std::size_t i = 0; i < selection.size(); ++i) {
        const std::string name = o.b.w().Core().Slots()[i].Name();
        selection[i] = name == "GSM-FR" || name == "VT180";
    }
    o.b.w().Core().ApplySelection(selection);
    o.b.w().Command(kCmdProcess);
    const int now = o.view->Signals().Find("GSM-FR");
    QCOMPARE(o.view->Signals().decoded.size(), 2u);
    QCOMPARE(o.view->Shown(), std::vector<int>{now});
    QCOMPARE(o.view->Listening(), now + 1);
    CheckConsistent(*o.view);
    QVERIFY(o.Draw());
}

QTEST_MAIN(ViewLifetimeTest)
#include "view_lifetime_test.moc"
