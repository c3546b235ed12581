// The signal view: the original alone before any run, then every codec's
// decoded signal stacked under it on one time axis, with the difference
// from its input and its SNR and log-spectral distance frame by frame, so
// that what a codec did to the signal can be seen where the ear hesitates.
//
// It is also where one listens A against B: play from a point or loop a
// dragged region, and switch between the original and any decoded result at
// the same position while it plays (buttons, or the keys 0 to 9), the
// decoded results aligned and matched in level to the original over active
// speech.  A blind A/B/X round hides which is which and keeps the score.
#pragma once

#include "gui/logic/abx_round.hpp"
#include "gui/logic/signal_set.hpp"
#include "gui/sound/listening_player.hpp"

#include <QDialog>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QHBoxLayout;
class QLabel;
class QListWidget;
class QPushButton;
class QScrollArea;
class QSpinBox;

namespace vntr::gui {

class SignalCanvas;

class SignalView final : public QDialog {
    Q_OBJECT
public:
    explicit SignalView(QWidget *parent = nullptr);
    ~SignalView() override;

    // Plays through `output`; `mayPlay` is asked before every start (the
    // window stops its own sound there, or refuses while it works).
    void SetOutput(SoundOutput *output, std::function<bool()> mayPlay);

    // New signals: the original and every codec's results.  The codecs shown
    // and listened to stay as they were when they are still there.
    void SetSignals(SignalSet set, const QString &heading);
    // No signal, only a note.
    void ShowNote(const QString &note);
    // Stacks that codec's traces and listens to it.
    void Focus(const std::string &codec);

    const QString &Note() const { return note_; }
    bool HasSignals() const { return !stack_.Set().Empty(); }
    const SignalSet &Signals() const { return stack_.Set(); }
    std::pair<double, double> VisibleRange() const;
    SignalCanvas *Canvas() const { return canvas_; }

    // The decoded traces stacked under the original (indices into Signals().decoded).
    std::vector<int> Shown() const { return stack_.Shown(); }
    void SetShown(int trace, bool shown);
    void SetDifference(bool on);
    void SetCurves(bool on);

    // ---- Listening ---------------------------------------------------------------
    ListeningPlayer &Player() { return *player_; }
    // 0 the original, 1 + n the decoded trace n.
    int Listening() const { return listening_; }
    void Listen(int track);
    // The track key `digit` listens to: 0 the original, 1 to 9 the stacked
    // results from the top (-1: none), so that the keys follow what is seen.
    int TrackOfKey(int digit) const;
    bool Play();
    void StopListening();
    bool Playing() const { return player_->Playing(); }
    void SetLoop(bool loop);
    bool Loop() const;
    void SetLevelMatch(bool on);
    void SetCursor(double seconds);
    void SetSelection(std::optional<std::pair<double, double>> region);
    std::optional<std::pair<double, double>> Selection() const { return selection_; }

    // ---- Blind A/B/X -----------------------------------------------------------
    // A round of `trials` between tracks a and b (as Listen numbers them).
    bool StartBlindRound(int a, int b, int trials, uint32_t seed);
    // 'A', 'B' or 'X': what to hear of the round; it plays from the cursor
    // (or the region) when nothing plays yet.
    void BlindListen(char which);
    void BlindAnswer(bool xIsA);
    void AbandonBlindRound();
    const AbxRound &Round() const { return round_; }
    QString RoundText() const;
    // Every trial answered since the window opened, with the signals' names.
    const std::vector<AbxTrial> &Trials() const { return answered_; }

signals:
    // "Save decoded file as...": the window asks for the name and saves.
    void SaveDecodedRequested(const QString &codec);
    // "Export trials...": the window asks for the name and writes Trials() as CSV.
    void ExportTrialsRequested();

protected:
    void hideEvent(QHideEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void BuildControls();
    void RebuildChoices();
    // Remembers the stacked traces and the one listened to by name.
    void KeepChoices();
    void UpdateKeyLabels();
    void RebuildTracks();
    void UpdateCanvas();
    void UpdateControls();
    void OnPosition(qint64 sample);
    int BlindTrack(char which) const;
    void StartRoundFromControls();
    void RestartAtPosition();

    const SignalSet &Set() const { return stack_.Set(); }

    // The one owner of the signals; the canvas reads them from here.
    SignalStack stack_;
    std::vector<std::string> keptShown_;
    std::string keptListening_;
    QString note_;
    int listening_ = 0;
    char blindChoice_ = 'A';
    bool levelMatch_ = true;
    std::optional<std::pair<double, double>> selection_;
    double cursor_ = 0;
    ListeningPlayer *player_;
    AbxRound round_;
    uint32_t roundSeed_;
    int rounds_ = 0;
    std::vector<std::string> roundNames_; // the names of the tracks of the round under way
    std::vector<AbxTrial> answered_;

    QLabel *heading_;
    SignalCanvas *canvas_;
    QScrollArea *scroll_;
    QPushButton *play_;
    QPushButton *loop_;
    QCheckBox *levels_;
    QPushButton *save_;
    QHBoxLayout *listenRow_;
    QButtonGroup *listenGroup_;
    std::vector<QPushButton *> listenButtons_;
    QHBoxLayout *showRow_;
    std::vector<QCheckBox *> showBoxes_;
    QCheckBox *align_;
    QCheckBox *difference_;
    QCheckBox *curves_;
    QComboBox *blindA_;
    QComboBox *blindB_;
    QSpinBox *trials_;
    QPushButton *startRound_;
    QPushButton *blindButtons_[3];
    QPushButton *xIsA_;
    QPushButton *xIsB_;
    QPushButton *giveUp_;
    QLabel *score_;
    QListWidget *trialList_;
    QPushButton *exportTrials_;
};

} // namespace vntr::gui
