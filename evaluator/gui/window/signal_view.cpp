#include "gui/window/signal_view.hpp"

#include "core/quality.hpp"

#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace vntr::gui {
namespace {

constexpr double kDbRange = 80.0;

// Dark blue through violet and orange to pale yellow.
QRgb Heat(double v) {
    v = std::clamp(v, 0.0, 1.0);
    struct Stop {
        double at;
        int r, g, b;
    };
    static constexpr Stop kStops[] = {
        {0.0, 0x00, 0x00, 0x10}, {0.3, 0x30, 0x10, 0x80}, {0.55, 0xB0, 0x20, 0x70},
        {0.8, 0xF8, 0x80, 0x20}, {1.0, 0xFF, 0xF8, 0xC0},
    };
    for (std::size_t i = 1; i < std::size(kStops); ++i) {
        if (v <= kStops[i].at) {
            const Stop &a = kStops[i - 1];
            const Stop &b = kStops[i];
            const double t = (v - a.at) / (b.at - a.at);
            return qRgb(static_cast<int>(a.r + t * (b.r - a.r)), static_cast<int>(a.g + t * (b.g - a.g)),
                        static_cast<int>(a.b + t * (b.b - a.b)));
        }
    }
    return qRgb(0xFF, 0xF8, 0xC0);
}

} // namespace

bool LoadSignal(const std::string &path, const std::string &label, Signal &signal) {
    signal = Signal{};
    signal.label = label;
    if (!evaluator::ReadWaveSamples(path, signal.samples, signal.sampleRate) || signal.samples.empty()) return false;
    signal.spectrum = ComputeSpectrogram(signal.samples, signal.sampleRate);
    return true;
}

class SignalCanvas final : public QWidget {
public:
    explicit SignalCanvas(QWidget *parent) : QWidget(parent) {
        setMinimumSize(640, 440);
        setMouseTracking(false);
    }

    void SetSignals(Signal original, Signal decoded, int delay) {
        original_ = std::move(original);
        decoded_ = std::move(decoded);
        delay_ = delay;
        ShowAll();
    }
    void Clear() {
        original_ = Signal{};
        decoded_ = Signal{};
        update();
    }
    void SetAligned(bool aligned) {
        aligned_ = aligned;
        update();
    }
    bool HasSignals() const { return !original_.samples.empty() || !decoded_.samples.empty(); }
    std::pair<double, double> Range() const { return {t0_, t1_}; }

protected:
    void paintEvent(QPaintEvent *) override;
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override { dragX_ = event->position().x(); }
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *) override { ShowAll(); }

private:
    static constexpr int kLabelWidth = 70;
    QRect Plot() const { return rect().adjusted(kLabelWidth, 4, -6, -22); }
    double Length() const { return std::max({original_.Seconds(), decoded_.Seconds(), 0.001}); }
    void ShowAll() {
        t0_ = 0.0;
        t1_ = Length();
        update();
    }
    void SetRange(double t0, double t1);
    double Offset(const Signal &s) const { return &s == &decoded_ && aligned_ ? delay_ : 0; }
    void DrawWave(QPainter &p, const QRect &pane, const Signal &s, const QColor &colour) const;
    void DrawSpectrum(QPainter &p, const QRect &pane, const Signal &s, double topHz) const;
    void DrawAxis(QPainter &p, const QRect &plot) const;

    Signal original_;
    Signal decoded_;
    int delay_ = 0;
    bool aligned_ = true;
    double t0_ = 0;
    double t1_ = 1;
    double dragX_ = 0;
};

void SignalCanvas::SetRange(double t0, double t1) {
    const double length = Length();
    const double span = std::clamp(t1 - t0, 0.005, length);
    t0 = std::clamp(t0, 0.0, length - span);
    t0_ = t0;
    t1_ = t0 + span;
    update();
}

void SignalCanvas::wheelEvent(QWheelEvent *event) {
    const QRect plot = Plot();
    const double at = std::clamp((event->position().x() - plot.left()) / std::max(1, plot.width()), 0.0, 1.0);
    const double pivot = t0_ + at * (t1_ - t0_);
    const double factor = std::pow(0.8, event->angleDelta().y() / 120.0);
    const double span = (t1_ - t0_) * factor;
    SetRange(pivot - at * span, pivot + (1 - at) * span);
}

void SignalCanvas::mouseMoveEvent(QMouseEvent *event) {
    if (!(event->buttons() & Qt::LeftButton)) return;
    const double dx = event->position().x() - dragX_;
    dragX_ = event->position().x();
    const double shift = -dx / std::max(1, Plot().width()) * (t1_ - t0_);
    SetRange(t0_ + shift, t1_ + shift);
}

void SignalCanvas::DrawWave(QPainter &p, const QRect &pane, const Signal &s, const QColor &colour) const {
    p.fillRect(pane, Qt::white);
    p.setPen(QColor(0xD0, 0xD0, 0xD0));
    p.drawLine(pane.left(), pane.center().y(), pane.right(), pane.center().y());
    if (s.samples.empty()) return;
    const double first = t0_ * s.sampleRate + Offset(s);
    const Envelope e = WaveEnvelope(s.samples, first, (t1_ - t0_) * s.sampleRate, pane.width());
    const double half = pane.height() / 2.0;
    p.setPen(colour);
    for (int x = 0; x < pane.width(); ++x) {
        const int top = static_cast<int>(pane.center().y() - e.high[static_cast<std::size_t>(x)] / 32768.0 * half);
        const int bottom = static_cast<int>(pane.center().y() - e.low[static_cast<std::size_t>(x)] / 32768.0 * half);
        p.drawLine(pane.left() + x, top, pane.left() + x, bottom);
    }
}

void SignalCanvas::DrawSpectrum(QPainter &p, const QRect &pane, const Signal &s, double topHz) const {
    QImage image(pane.size(), QImage::Format_RGB32);
    image.fill(QColor(0x30, 0x30, 0x30));
    const Spectrogram &sp = s.spectrum;
    if (sp.columns > 0 && sp.bins > 1) {
        const double nyquist = sp.sampleRate / 2.0;
        const double floorDb = sp.peakDb - kDbRange;
        for (int x = 0; x < image.width(); ++x) {
            const double t = t0_ + (x + 0.5) / image.width() * (t1_ - t0_) + Offset(s) / sp.sampleRate;
            if (t < 0 || t > s.Seconds()) continue;
            const int column = sp.ColumnAt(t);
            for (int y = 0; y < image.height(); ++y) {
                const double hz = (1.0 - (y + 0.5) / image.height()) * topHz;
                if (hz > nyquist) continue;
                const int bin = std::clamp(static_cast<int>(hz / nyquist * (sp.bins - 1) + 0.5), 0, sp.bins - 1);
                image.setPixel(x, y, Heat((sp.At(column, bin) - floorDb) / kDbRange));
            }
        }
    }
    p.drawImage(pane.topLeft(), image);
}

void SignalCanvas::DrawAxis(QPainter &p, const QRect &plot) const {
    p.setPen(Qt::black);
    const double span = t1_ - t0_;
    double step = 0.001;
    for (const double candidate :
         {0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1.0, 2.0, 5.0, 10.0, 30.0, 60.0}) {
        step = candidate;
        if (span / candidate <= 10) break;
    }
    const int decimals = step >= 1 ? 0 : step >= 0.1 ? 1 : step >= 0.01 ? 2 : 3;
    for (double t = std::ceil(t0_ / step) * step; t <= t1_ + 1e-9; t += step) {
        const int x = plot.left() + static_cast<int>((t - t0_) / span * plot.width());
        p.drawLine(x, plot.bottom() + 1, x, plot.bottom() + 5);
        p.drawText(QRect(x - 40, plot.bottom() + 5, 80, 16), Qt::AlignHCenter | Qt::AlignTop,
                   QString::number(t, 'f', decimals) + " s");
    }
}

void SignalCanvas::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.fillRect(rect(), palette().window());
    const QRect plot = Plot();
    if (!HasSignals()) return;
    // Waveform, spectrum, waveform, spectrum: the spectra twice as tall.
    const int gap = 6;
    const int unit = (plot.height() - 3 * gap) / 6;
    const QRect waves[2] = {QRect(plot.left(), plot.top(), plot.width(), unit),
                            QRect(plot.left(), plot.top() + 3 * unit + 2 * gap, plot.width(), unit)};
    const QRect spectra[2] = {QRect(plot.left(), plot.top() + unit + gap, plot.width(), 2 * unit),
                              QRect(plot.left(), plot.top() + 4 * unit + 3 * gap, plot.width(), 2 * unit)};
    const double topHz = std::max(original_.sampleRate, decoded_.sampleRate) / 2.0;
    const Signal *signals_[2] = {&original_, &decoded_};
    const QColor colours[2] = {QColor(0x10, 0x20, 0x90), QColor(0x00, 0x70, 0x20)};
    for (int i = 0; i < 2; ++i) {
        DrawWave(p, waves[i], *signals_[i], colours[i]);
        DrawSpectrum(p, spectra[i], *signals_[i], topHz);
        p.setPen(Qt::black);
        p.drawText(QRect(0, waves[i].top(), kLabelWidth - 6, waves[i].height()),
                   Qt::AlignRight | Qt::AlignVCenter | Qt::TextWordWrap, QString::fromStdString(signals_[i]->label));
        p.drawText(QRect(0, spectra[i].top(), kLabelWidth - 6, 16), Qt::AlignRight | Qt::AlignTop,
                   QString("%1 kHz").arg(topHz / 1000.0, 0, 'f', 1));
        p.drawText(QRect(0, spectra[i].bottom() - 16, kLabelWidth - 6, 16), Qt::AlignRight | Qt::AlignBottom, "0 Hz");
        p.setBrush(Qt::NoBrush);
        p.drawRect(waves[i].adjusted(-1, -1, 0, 0));
        p.drawRect(spectra[i].adjusted(-1, -1, 0, 0));
    }
    DrawAxis(p, plot);
}

SignalView::SignalView(QWidget *parent) : QDialog(parent) {
    setWindowTitle("Signal view");
    setObjectName("signalView");
    heading_ = new QLabel(this);
    align_ = new QCheckBox("Take out the codec's delay", this);
    align_->setChecked(true);
    canvas_ = new SignalCanvas(this);
    canvas_->setObjectName("signalCanvas");
    auto *hint = new QLabel("Wheel: zoom around the pointer.  Drag: move.  Double click: show all.", this);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(heading_);
    layout->addWidget(align_);
    layout->addWidget(canvas_, 1);
    layout->addWidget(hint);
    connect(align_, &QCheckBox::toggled, this, [this](bool on) { canvas_->SetAligned(on); });
    ShowNote("Click on a result bar to see that codec's decoded file here.");
}

void SignalView::ShowSignals(const QString &codec, Signal original, Signal decoded, int delaySamples) {
    note_.clear();
    heading_->setText(QString("%1: the original above, the decoded file below").arg(codec));
    align_->setText(QString("Take out the codec's delay (%1 samples)").arg(delaySamples));
    align_->setEnabled(delaySamples != 0);
    canvas_->SetSignals(std::move(original), std::move(decoded), delaySamples);
}

void SignalView::ShowNote(const QString &note) {
    note_ = note;
    heading_->setText(note);
    align_->setEnabled(false);
    canvas_->Clear();
}

bool SignalView::HasSignals() const {
    return canvas_->HasSignals();
}

std::pair<double, double> SignalView::VisibleRange() const {
    return canvas_->Range();
}

} // namespace vntr::gui
