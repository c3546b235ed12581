#include "gui/window/signal_view.hpp"

#include "gui/window/signal_canvas.hpp"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScrollArea>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace vntr::gui {
namespace {

// Decoded results stacked at first.
constexpr std::size_t kFirstShown = 3;

template <class Button>
Button *Quiet(Button *button) {
    // Keys belong to the view (Space plays, digits switch): buttons take no focus.
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

void ClearRow(QHBoxLayout *row, int keep) {
    while (row->count() > keep) {
        QLayoutItem *item = row->takeAt(row->count() - 1);
        if (item->widget() != nullptr) item->widget()->deleteLater();
        delete item;
    }
}

} // namespace

SignalView::SignalView(QWidget *parent)
    : QDialog(parent), player_(new ListeningPlayer(this)), roundSeed_(QRandomGenerator::global()->generate()) {
    setWindowTitle("Signal view");
    setObjectName("signalView");
    resize(900, 720);
    heading_ = new QLabel(this);
    heading_->setObjectName("signalHeading");
    canvas_ = new SignalCanvas(stack_, this);
    canvas_->setObjectName("signalCanvas");
    scroll_ = new QScrollArea(this);
    scroll_->setWidget(canvas_);
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    BuildControls();
    connect(canvas_, &SignalCanvas::SelectionChanged, this, [this](auto region) {
        selection_ = region;
        if (player_->Playing()) Play();
        UpdateControls();
    });
    connect(canvas_, &SignalCanvas::CursorMoved, this, [this](double seconds) {
        cursor_ = seconds;
        selection_.reset();
        if (player_->Playing()) Play();
        UpdateControls();
    });
    connect(player_, &ListeningPlayer::PositionChanged, this, &SignalView::OnPosition);
    connect(player_, &ListeningPlayer::Stopped, this, [this] {
        canvas_->SetPlayhead(std::nullopt);
        UpdateControls();
    });
    ShowNote("Open or record an original to see it here.");
}

SignalView::~SignalView() {
    player_->Stop();
    // The canvas reads the stack: it goes first.
    delete scroll_;
    canvas_ = nullptr;
}

void SignalView::BuildControls() {
    play_ = Quiet(new QPushButton("&Play", this));
    play_->setObjectName("listenPlay");
    play_->setToolTip("Play from the cursor, or the region (Space)");
    loop_ = Quiet(new QPushButton("&Loop", this));
    loop_->setObjectName("listenLoop");
    loop_->setCheckable(true);
    loop_->setToolTip("Play the region (or everything) over and over (L)");
    levels_ = Quiet(new QCheckBox("&Match levels", this));
    levels_->setChecked(true);
    levels_->setToolTip("Play every decoded result at the original's level over active speech");
    save_ = Quiet(new QPushButton("Save &decoded...", this));
    save_->setObjectName("listenSave");
    save_->setToolTip("Save the decoded result listened to as a 16-bit wave file");
    listenGroup_ = new QButtonGroup(this);
    listenGroup_->setExclusive(true);

    auto *transport = new QHBoxLayout;
    transport->addWidget(play_);
    transport->addWidget(loop_);
    transport->addWidget(levels_);
    transport->addStretch(1);
    transport->addWidget(save_);

    listenRow_ = new QHBoxLayout;
    listenRow_->addWidget(new QLabel("Listen:", this));
    showRow_ = new QHBoxLayout;
    showRow_->addWidget(new QLabel("Show:", this));

    align_ = Quiet(new QCheckBox("Take out the codec's delay", this));
    align_->setChecked(true);
    difference_ = Quiet(new QCheckBox("Difference", this));
    difference_->setChecked(true);
    difference_->setToolTip("Under each decoded signal: its input minus the aligned decoded signal");
    curves_ = Quiet(new QCheckBox("SNR, LSD and ViSQOL over time", this));
    curves_->setChecked(true);
    auto *drawing = new QHBoxLayout;
    drawing->addWidget(align_);
    drawing->addWidget(difference_);
    drawing->addWidget(curves_);
    drawing->addStretch(1);

    blindA_ = new QComboBox(this);
    blindB_ = new QComboBox(this);
    blindA_->setObjectName("blindA");
    blindB_->setObjectName("blindB");
    trials_ = new QSpinBox(this);
    trials_->setRange(1, 50);
    trials_->setValue(10);
    trials_->setSuffix(" trials");
    startRound_ = Quiet(new QPushButton("Start &blind round", this));
    startRound_->setObjectName("blindStart");
    const char *names[3] = {"A", "B", "X"};
    auto *blind = new QHBoxLayout;
    blind->addWidget(new QLabel("Blind A/B/X:  A", this));
    blind->addWidget(blindA_);
    blind->addWidget(new QLabel("B", this));
    blind->addWidget(blindB_);
    blind->addWidget(trials_);
    blind->addWidget(startRound_);
    for (int i = 0; i < 3; ++i) {
        blindButtons_[i] = Quiet(new QPushButton(names[i], this));
        blindButtons_[i]->setCheckable(true);
        blindButtons_[i]->setObjectName(QStringLiteral("blind%1").arg(names[i]));
        blindButtons_[i]->setToolTip(QStringLiteral("Hear %1 (key %1)").arg(names[i]));
        blind->addWidget(blindButtons_[i]);
        connect(blindButtons_[i], &QPushButton::clicked, this, [this, c = names[i][0]] { BlindListen(c); });
    }
    xIsA_ = Quiet(new QPushButton("X is A", this));
    xIsB_ = Quiet(new QPushButton("X is B", this));
    giveUp_ = Quiet(new QPushButton("Give up", this));
    xIsA_->setObjectName("blindXisA");
    xIsB_->setObjectName("blindXisB");
    blind->addWidget(xIsA_);
    blind->addWidget(xIsB_);
    blind->addWidget(giveUp_);
    score_ = new QLabel(this);
    score_->setObjectName("blindScore");
    blind->addWidget(score_, 1);
    trialList_ = new QListWidget(this);
    trialList_->setObjectName("blindTrials");
    trialList_->setFocusPolicy(Qt::NoFocus);
    trialList_->setMaximumHeight(5 * trialList_->fontMetrics().height() + 8);
    trialList_->setToolTip("The trials answered, the last at the bottom");
    exportTrials_ = Quiet(new QPushButton("E&xport trials...", this));
    exportTrials_->setObjectName("blindExport");
    exportTrials_->setToolTip("Save every trial answered, with the signals' names, as a CSV table");
    auto *trialsRow = new QHBoxLayout;
    trialsRow->addWidget(trialList_, 1);
    trialsRow->addWidget(exportTrials_, 0, Qt::AlignTop);

    auto *hint = new QLabel("Drag: select a region.  Click: play from there.  Shift+drag: move.  Wheel: zoom.  "
                            "Double click: show all.  Keys: Space play/stop, L loop, 0 original, 1-9 stacked results, "
                            "A B X in a blind round.",
                            this);
    hint->setWordWrap(true);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(heading_);
    layout->addLayout(transport);
    layout->addLayout(listenRow_);
    layout->addLayout(showRow_);
    layout->addLayout(drawing);
    layout->addLayout(blind);
    layout->addLayout(trialsRow);
    layout->addWidget(scroll_, 1);
    layout->addWidget(hint);

    connect(play_, &QPushButton::clicked, this, [this] {
        if (player_->Playing()) {
            StopListening();
        } else {
            Play();
        }
    });
    connect(loop_, &QPushButton::toggled, this, [this](bool) {
        if (player_->Playing()) RestartAtPosition();
    });
    connect(levels_, &QCheckBox::toggled, this, [this](bool on) { SetLevelMatch(on); });
    connect(save_, &QPushButton::clicked, this, [this] {
        if (listening_ > 0 && !round_.Running()) {
            emit SaveDecodedRequested(
                QString::fromStdString(Set().decoded[static_cast<std::size_t>(listening_ - 1)].name));
        }
    });
    connect(align_, &QCheckBox::toggled, canvas_, &SignalCanvas::SetAligned);
    connect(difference_, &QCheckBox::toggled, canvas_, &SignalCanvas::SetDifference);
    connect(curves_, &QCheckBox::toggled, canvas_, &SignalCanvas::SetCurves);
    connect(startRound_, &QPushButton::clicked, this, &SignalView::StartRoundFromControls);
    connect(xIsA_, &QPushButton::clicked, this, [this] { BlindAnswer(true); });
    connect(xIsB_, &QPushButton::clicked, this, [this] { BlindAnswer(false); });
    connect(giveUp_, &QPushButton::clicked, this, &SignalView::AbandonBlindRound);
    connect(exportTrials_, &QPushButton::clicked, this, [this] { emit ExportTrialsRequested(); });
}

void SignalView::SetOutput(SoundOutput *output, std::function<bool()> mayPlay) {
    player_->SetOutput(output, std::move(mayPlay));
}

void SignalView::SetSignals(SignalSet set, const QString &heading) {
    // What was shown and listened to is kept by name (through notes in between).
    const std::vector<std::string> wasShown = keptShown_;
    const std::string wasListening = keptListening_;
    AbandonBlindRound();
    player_->Stop();
    std::vector<int> shown;
    for (const auto &name : wasShown) {
        if (const int i = set.Find(name); i >= 0) shown.push_back(i);
    }
    // A first run: the lowest rates are stacked; the others are a click away.
    if (shown.empty()) {
        for (std::size_t i = 0; i < set.decoded.size() && i < kFirstShown; ++i) shown.push_back(static_cast<int>(i));
    }
    const int listened = set.Find(wasListening);
    stack_.Replace(std::move(set), shown);
    listening_ = listened >= 0 ? listened + 1 : 0;
    KeepChoices();
    note_.clear();
    heading_->setText(heading);
    if (selection_ && selection_->first >= Set().original.Seconds()) selection_.reset();
    cursor_ = std::min(cursor_, Set().original.Seconds());
    RebuildChoices();
    RebuildTracks();
    UpdateCanvas();
    UpdateControls();
}

void SignalView::KeepChoices() {
    keptShown_.clear();
    for (const int t : stack_.Shown()) keptShown_.push_back(Set().decoded[static_cast<std::size_t>(t)].name);
    keptListening_ = listening_ > 0 ? Set().decoded[static_cast<std::size_t>(listening_ - 1)].name : std::string();
}

void SignalView::ShowNote(const QString &note) {
    AbandonBlindRound();
    player_->Stop();
    stack_.Clear();
    listening_ = 0;
    selection_.reset();
    cursor_ = 0;
    note_ = note;
    heading_->setText(note);
    RebuildChoices();
    RebuildTracks();
    UpdateCanvas();
    UpdateControls();
}

void SignalView::Focus(const std::string &codec) {
    const int i = Set().Find(codec);
    if (i < 0) return;
    SetShown(i, true);
    if (!round_.Running()) Listen(i + 1);
}

std::pair<double, double> SignalView::VisibleRange() const {
    return canvas_->Range();
}

void SignalView::SetShown(int trace, bool shown) {
    if (!stack_.SetShown(trace, shown)) return;
    KeepChoices();
    if (trace < static_cast<int>(showBoxes_.size())) {
        const QSignalBlocker block(showBoxes_[static_cast<std::size_t>(trace)]);
        showBoxes_[static_cast<std::size_t>(trace)]->setChecked(shown);
    }
    UpdateKeyLabels();
    UpdateCanvas();
}

int SignalView::TrackOfKey(int digit) const {
    if (digit == 0) return Set().Empty() ? -1 : 0;
    const std::vector<int> &shown = Shown();
    return digit >= 1 && digit <= static_cast<int>(shown.size()) ? shown[static_cast<std::size_t>(digit - 1)] + 1 : -1;
}

void SignalView::UpdateKeyLabels() {
    for (std::size_t track = 0; track < listenButtons_.size(); ++track) {
        const QString name = track == 0 ? QString::fromStdString(Set().original.label)
                                        : QString::fromStdString(Set().decoded[track - 1].name);
        QString key;
        for (int digit = 0; digit <= 9 && key.isEmpty(); ++digit) {
            if (TrackOfKey(digit) == static_cast<int>(track)) key = QStringLiteral(" [%1]").arg(digit);
        }
        listenButtons_[track]->setText(name + key);
    }
}

void SignalView::SetDifference(bool on) {
    difference_->setChecked(on);
}

void SignalView::SetCurves(bool on) {
    curves_->setChecked(on);
}

void SignalView::RebuildChoices() {
    ClearRow(listenRow_, 1);
    ClearRow(showRow_, 1);
    for (QAbstractButton *b : listenGroup_->buttons()) listenGroup_->removeButton(b);
    listenButtons_.clear();
    showBoxes_.clear();
    const QString a = blindA_->currentText();
    const QString b = blindB_->currentText();
    blindA_->clear();
    blindB_->clear();
    if (Set().Empty()) return;
    auto addListen = [&](int track, const QString &name) {
        auto *button = Quiet(new QPushButton(name, this));
        button->setCheckable(true);
        button->setObjectName(QStringLiteral("listen%1").arg(track));
        button->setToolTip(QStringLiteral("Listen to %1 from the same point").arg(name));
        listenGroup_->addButton(button, track);
        listenRow_->addWidget(button);
        listenButtons_.push_back(button);
        connect(button, &QPushButton::clicked, this, [this, track] { Listen(track); });
        blindA_->addItem(name, track);
        blindB_->addItem(name, track);
    };
    addListen(0, QString::fromStdString(Set().original.label));
    for (std::size_t i = 0; i < Set().decoded.size(); ++i) {
        const QString name = QString::fromStdString(Set().decoded[i].name);
        addListen(static_cast<int>(i) + 1, name);
        auto *box = Quiet(new QCheckBox(name, this));
        box->setObjectName(QStringLiteral("show%1").arg(name));
        box->setChecked(stack_.IsShown(static_cast<int>(i)));
        QPalette palette = box->palette();
        palette.setColor(QPalette::WindowText, SignalCanvas::TraceColour(Set(), static_cast<int>(i)));
        box->setPalette(palette);
        showRow_->addWidget(box);
        showBoxes_.push_back(box);
        connect(box, &QCheckBox::toggled, this, [this, i](bool on) { SetShown(static_cast<int>(i), on); });
    }
    listenRow_->addStretch(1);
    showRow_->addStretch(1);
    UpdateKeyLabels();
    // The blind pair: as before when still there, else the original against the first result.
    const int ia = blindA_->findText(a);
    const int ib = blindB_->findText(b);
    blindA_->setCurrentIndex(ia >= 0 ? ia : 0);
    blindB_->setCurrentIndex(ib >= 0 ? ib : std::min(1, blindB_->count() - 1));
}

void SignalView::RebuildTracks() {
    if (Set().Empty()) {
        player_->SetTracks(8000, {}, 0);
        return;
    }
    player_->SetTracks(Set().Rate(), ListeningTracks(Set(), levelMatch_), Set().Length());
    player_->Select(round_.Running() ? BlindTrack(blindChoice_) : listening_);
}

void SignalView::UpdateCanvas() {
    canvas_->SignalsChanged();
    canvas_->SetSelection(selection_);
    canvas_->SetCursor(cursor_);
}

void SignalView::UpdateControls() {
    const bool any = !Set().Empty();
    const bool blind = round_.Running();
    play_->setEnabled(any);
    play_->setText(player_->Playing() ? "&Stop" : "&Play");
    loop_->setEnabled(any);
    levels_->setEnabled(any && !Set().decoded.empty());
    save_->setEnabled(any && listening_ > 0 && !blind);
    for (QPushButton *b : listenButtons_) b->setEnabled(!blind);
    if (!blind && listening_ < static_cast<int>(listenButtons_.size())) {
        listenButtons_[static_cast<std::size_t>(listening_)]->setChecked(true);
    }
    const bool pair = blindA_->count() >= 2;
    blindA_->setEnabled(pair && !blind);
    blindB_->setEnabled(pair && !blind);
    trials_->setEnabled(pair && !blind);
    startRound_->setEnabled(pair && !blind);
    for (int i = 0; i < 3; ++i) {
        blindButtons_[i]->setEnabled(blind);
        blindButtons_[i]->setChecked(blind && blindChoice_ == "ABX"[i]);
    }
    xIsA_->setEnabled(blind);
    xIsB_->setEnabled(blind);
    giveUp_->setEnabled(blind);
    score_->setText(RoundText());
    exportTrials_->setEnabled(!answered_.empty());
}

void SignalView::Listen(int track) {
    if (round_.Running() || track < 0 || track > static_cast<int>(Set().decoded.size())) return;
    listening_ = track;
    KeepChoices();
    player_->Select(track);
    UpdateControls();
}

bool SignalView::Play() {
    if (Set().Empty()) return false;
    const double rate = Set().Rate();
    int64_t from = static_cast<int64_t>(cursor_ * rate);
    int64_t to = 0;
    if (selection_) {
        from = static_cast<int64_t>(selection_->first * rate);
        to = std::max<int64_t>(static_cast<int64_t>(selection_->second * rate), from + 1);
    } else if (!loop_->isChecked() && from >= Set().Length()) {
        from = 0; // at the end: play from the start again
    }
    const bool started = player_->Play(from, to, loop_->isChecked());
    UpdateControls();
    return started;
}

void SignalView::StopListening() {
    player_->Stop();
    UpdateControls();
}

void SignalView::RestartAtPosition() {
    // A change of loop or level starts again where the sound is: within a
    // region from the region's start when looping stops mattering.
    const int64_t at = player_->Position();
    if (!selection_) cursor_ = static_cast<double>(at) / std::max(1, Set().Rate());
    Play();
}

void SignalView::SetLoop(bool loop) {
    loop_->setChecked(loop);
}

bool SignalView::Loop() const {
    return loop_->isChecked();
}

void SignalView::SetLevelMatch(bool on) {
    if (levels_->isChecked() != on) {
        levels_->setChecked(on); // comes back here through the check box
        return;
    }
    levelMatch_ = on;
    const bool wasPlaying = player_->Playing();
    const int64_t at = player_->Position();
    RebuildTracks();
    if (wasPlaying) {
        if (!selection_) cursor_ = static_cast<double>(at) / std::max(1, Set().Rate());
        Play();
    }
}

void SignalView::SetCursor(double seconds) {
    cursor_ = std::clamp(seconds, 0.0, Set().original.Seconds());
    canvas_->SetCursor(cursor_);
}

void SignalView::SetSelection(std::optional<std::pair<double, double>> region) {
    if (region && region->second < region->first) std::swap(region->first, region->second);
    selection_ = region;
    canvas_->SetSelection(region);
    UpdateControls();
}

void SignalView::OnPosition(qint64 sample) {
    if (!player_->Playing() || Set().Empty()) return;
    canvas_->SetPlayhead(static_cast<double>(sample) / Set().Rate());
}

int SignalView::BlindTrack(char which) const {
    switch (which) {
    case 'A':
        return round_.A();
    case 'B':
        return round_.B();
    default:
        return round_.X();
    }
}

bool SignalView::StartBlindRound(int a, int b, int trials, uint32_t seed) {
    const int tracks = static_cast<int>(Set().decoded.size()) + 1;
    if (Set().Empty() || a == b || a < 0 || b < 0 || a >= tracks || b >= tracks) return false;
    round_.Start(a, b, trials, seed);
    ++rounds_;
    roundNames_.clear();
    roundNames_.push_back(Set().original.label);
    for (const DecodedTrace &t : Set().decoded) roundNames_.push_back(t.name);
    blindChoice_ = 'A';
    player_->Select(BlindTrack('A'));
    UpdateControls();
    return true;
}

void SignalView::StartRoundFromControls() {
    StartBlindRound(blindA_->currentData().toInt(), blindB_->currentData().toInt(), trials_->value(), roundSeed_++);
    canvas_->setFocus();
}

void SignalView::BlindListen(char which) {
    if (!round_.Running()) return;
    blindChoice_ = which;
    player_->Select(BlindTrack(which));
    if (!player_->Playing()) Play();
    UpdateControls();
}

void SignalView::BlindAnswer(bool xIsA) {
    if (!round_.Answer(xIsA)) return;
    const AbxTrial t = round_.Logged(round_.Answered() - 1, rounds_, Set().originalName, roundNames_);
    answered_.push_back(t);
    trialList_->addItem(QStringLiteral("Round %1, trial %2: X was %3, answered %4 \u2014 %5")
                            .arg(t.round)
                            .arg(t.trial)
                            .arg(QString::fromStdString(t.x), QString::fromStdString(t.answer),
                                 t.Right() ? QStringLiteral("right") : QStringLiteral("wrong")));
    trialList_->scrollToBottom();
    // The next trial draws X again; whoever listens to X hears the new one.
    if (round_.Running()) {
        player_->Select(BlindTrack(blindChoice_));
    } else {
        player_->Select(listening_);
    }
    UpdateControls();
}

void SignalView::AbandonBlindRound() {
    if (!round_.Running()) return;
    round_.Abandon();
    player_->Select(listening_);
    UpdateControls();
}

QString SignalView::RoundText() const {
    return QString::fromStdString(round_.Text());
}

void SignalView::hideEvent(QHideEvent *event) {
    player_->Stop();
    QDialog::hideEvent(event);
}

void SignalView::keyPressEvent(QKeyEvent *event) {
    const int key = event->key();
    if (key == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
        if (player_->Playing()) {
            StopListening();
        } else {
            Play();
        }
    } else if (key == Qt::Key_L) {
        loop_->toggle();
    } else if (key >= Qt::Key_0 && key <= Qt::Key_9 && !round_.Running()) {
        if (const int track = TrackOfKey(key - Qt::Key_0); track >= 0) Listen(track);
    } else if (round_.Running() && (key == Qt::Key_A || key == Qt::Key_B || key == Qt::Key_X)) {
        BlindListen(static_cast<char>('A' + (key == Qt::Key_A ? 0 : key == Qt::Key_B ? 1 : 23)));
    } else if (key == Qt::Key_Escape && selection_) {
        SetSelection(std::nullopt);
        if (player_->Playing()) Play();
    } else {
        QDialog::keyPressEvent(event);
        return;
    }
    event->accept();
}

} // namespace vntr::gui
