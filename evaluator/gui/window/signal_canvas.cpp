#include "gui/window/signal_canvas.hpp"

#include "core/quality_measures.hpp"
#include "gui/logic/plot_scale.hpp"

#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <thread>

namespace vntr::gui {
namespace {

constexpr double kDbRange = 80.0;
constexpr int kLabelWidth = 132;
constexpr int kScaleWidth = 62;
constexpr int kAxisHeight = 22;
constexpr int kGap = 6;
constexpr int kMinUnit = 60;     // pixels of a pane unit at the least
constexpr int kCurvePadding = 9; // above and below a curve's values, for the end ticks' text
const QColor kPlayhead(0xE0, 0x10, 0x10);

QColor Rgb(uint32_t rgb) {
    return QColor(static_cast<int>(rgb >> 16 & 0xFF), static_cast<int>(rgb >> 8 & 0xFF), static_cast<int>(rgb & 0xFF));
}

// Heights of the panes in units.
double Units(SignalCanvas::PaneKind kind) {
    switch (kind) {
    case SignalCanvas::PaneKind::Wave:
        return 1.0;
    case SignalCanvas::PaneKind::Difference:
        return 0.6;
    case SignalCanvas::PaneKind::Spectrum:
        return 1.8;
    default:
        return 2.6;
    }
}

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

// The kinds of panes in order from the top.
std::vector<std::pair<SignalCanvas::PaneKind, int>> Stack(const std::vector<int> &shown, bool difference, bool curves) {
    using K = SignalCanvas::PaneKind;
    std::vector<std::pair<K, int>> stack = {{K::Wave, -1}, {K::Spectrum, -1}};
    for (const int t : shown) {
        stack.emplace_back(K::Wave, t);
        if (difference) stack.emplace_back(K::Difference, t);
        stack.emplace_back(K::Spectrum, t);
    }
    if (curves && !shown.empty()) {
        stack.emplace_back(K::SnrCurve, -1);
        stack.emplace_back(K::LsdCurve, -1);
        stack.emplace_back(K::VisqolCurve, -1);
    }
    return stack;
}

double TotalUnits(const std::vector<std::pair<SignalCanvas::PaneKind, int>> &stack) {
    double units = 0;
    for (const auto &[kind, trace] : stack) units += Units(kind);
    return units;
}

} // namespace

SignalCanvas::SignalCanvas(const SignalStack &stack, QWidget *parent) : QWidget(parent), stack_(stack) {
    setMinimumWidth(640);
    setFocusPolicy(Qt::StrongFocus);
}

QColor SignalCanvas::TraceColour(const SignalSet &set, int trace) {
    if (trace < 0 || trace >= static_cast<int>(set.decoded.size())) return Rgb(CodecPalette::kOriginalRgb);
    return Rgb(set.palette.Rgb(set.decoded[static_cast<std::size_t>(trace)].name));
}

int SignalCanvas::MinimumHeight(PaneKind kind) {
    return static_cast<int>(Units(kind) * kMinUnit);
}

double SignalCanvas::WaveRange() const {
    double peak = Set().original.Peak();
    for (const int t : Shown()) {
        const DecodedTrace &trace = Set().decoded[static_cast<std::size_t>(t)];
        peak = std::max<double>({peak, trace.decoded.Peak(), difference_ ? trace.difference.Peak() : 0.0f});
    }
    double range = 1.0;
    while (range > 1.0 / 64 && peak / 32768.0 <= range / 2) range /= 2;
    return range;
}

int SignalCanvas::LegendHeight(int width) const {
    const QFontMetrics metrics = fontMetrics();
    int rows = 1;
    int x = 0;
    for (const int t : Shown()) {
        const int w =
            metrics.horizontalAdvance(QString::fromStdString(Set().decoded[static_cast<std::size_t>(t)].name)) + 26;
        if (x > 0 && x + w > width) {
            ++rows;
            x = 0;
        }
        x += w;
    }
    return rows * (metrics.height() + 2) + 4;
}

QRect SignalCanvas::CurveArea(const Pane &pane) const {
    return pane.rect.adjusted(0, LegendHeight(pane.rect.width()) + kCurvePadding, 0, -kCurvePadding);
}

void SignalCanvas::SignalsChanged() {
    const bool newSet = generation_ != stack_.Generation();
    generation_ = stack_.Generation();
    const double length = Set().original.Seconds();
    const bool newLength = newSet && std::abs(length - setLength_) > 1e-9;
    if (newSet) setLength_ = length;
    spectra_.clear();
    updateGeometry();
    if (newLength) {
        ShowAll();
    } else {
        SetRange(t0_, t1_);
    }
}

void SignalCanvas::SetAligned(bool aligned) {
    aligned_ = aligned;
    update();
}

void SignalCanvas::SetDifference(bool on) {
    difference_ = on;
    updateGeometry();
    update();
}

void SignalCanvas::SetCurves(bool on) {
    curves_ = on;
    updateGeometry();
    update();
}

QSize SignalCanvas::minimumSizeHint() const {
    const auto stack = Stack(Shown(), difference_, curves_);
    int height = kGap * static_cast<int>(stack.size()) + kAxisHeight + 8;
    for (const auto &[kind, trace] : stack) height += MinimumHeight(kind);
    return {640 + kLabelWidth, height};
}

double SignalCanvas::Length() const {
    double length = std::max(0.001, Set().original.Seconds());
    for (const int t : Shown()) length = std::max(length, Set().decoded[static_cast<std::size_t>(t)].decoded.Seconds());
    return length;
}

void SignalCanvas::ShowAll() {
    t0_ = 0.0;
    t1_ = Length();
    update();
}

void SignalCanvas::SetRange(double t0, double t1) {
    const double length = Length();
    const double span = std::clamp(t1 - t0, 0.005, length);
    t0 = std::clamp(t0, 0.0, length - span);
    t0_ = t0;
    t1_ = t0 + span;
    update();
}

void SignalCanvas::SetPlayhead(std::optional<double> seconds) {
    playhead_ = seconds;
    update();
}

void SignalCanvas::SetCursor(double seconds) {
    cursor_ = seconds;
    update();
}

void SignalCanvas::SetSelection(std::optional<std::pair<double, double>> region) {
    selection_ = region;
    update();
}

QRect SignalCanvas::Plot() const {
    return rect().adjusted(kLabelWidth, 4, -kScaleWidth, -kAxisHeight);
}

int SignalCanvas::XOf(double seconds) const {
    const QRect plot = Plot();
    return plot.left() + static_cast<int>(std::lround((seconds - t0_) / (t1_ - t0_) * plot.width()));
}

double SignalCanvas::SecondsAt(double x) const {
    const QRect plot = Plot();
    const double at = std::clamp((x - plot.left()) / std::max(1, plot.width()), 0.0, 1.0);
    return t0_ + at * (t1_ - t0_);
}

std::vector<SignalCanvas::Pane> SignalCanvas::Panes() const {
    std::vector<Pane> panes;
    if (!HasSignals()) return panes;
    const auto stack = Stack(Shown(), difference_, curves_);
    const QRect plot = Plot();
    const int gaps = kGap * static_cast<int>(stack.size() - 1);
    const double unit = std::max<double>(kMinUnit, (plot.height() - gaps) / TotalUnits(stack));
    double y = plot.top();
    for (const auto &[kind, trace] : stack) {
        const int h = std::max(MinimumHeight(kind), static_cast<int>(Units(kind) * unit));
        panes.push_back({kind, trace, QRect(plot.left(), static_cast<int>(y), plot.width(), h)});
        y += h + kGap;
    }
    return panes;
}

const Signal &SignalCanvas::SignalOf(const Pane &pane) const {
    if (pane.trace < 0) return Set().original;
    const DecodedTrace &t = Set().decoded[static_cast<std::size_t>(pane.trace)];
    return pane.kind == PaneKind::Difference ? t.difference : t.decoded;
}

double SignalCanvas::OffsetSeconds(const Pane &pane) const {
    if (pane.trace < 0 || pane.kind == PaneKind::Difference || !aligned_) return 0;
    const DecodedTrace &t = Set().decoded[static_cast<std::size_t>(pane.trace)];
    return t.decoded.sampleRate > 0 ? static_cast<double>(t.delaySamples) / t.decoded.sampleRate : 0;
}

double SignalCanvas::TopHz() const {
    int rate = Set().original.sampleRate;
    for (const int t : Shown()) rate = std::max(rate, Set().decoded[static_cast<std::size_t>(t)].decoded.sampleRate);
    return rate / 2.0;
}

void SignalCanvas::SummariseShown() const {
    // Every signal the scales depend on, read side by side on the first drawing.
    std::vector<const Signal *> wanted{&Set().original};
    for (const int t : Shown()) {
        const DecodedTrace &trace = Set().decoded[static_cast<std::size_t>(t)];
        wanted.push_back(&trace.decoded);
        if (difference_) wanted.push_back(&trace.difference);
    }
    Summarise(wanted, static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
}

double SignalCanvas::FloorDb() const {
    // One colour scale for every spectrogram: from the loudest of them down.
    double top = Set().original.SpectrumTopDb();
    for (const int t : Shown()) top = std::max(top, Set().decoded[static_cast<std::size_t>(t)].decoded.SpectrumTopDb());
    return top - kDbRange;
}

void SignalCanvas::wheelEvent(QWheelEvent *event) {
    const QRect plot = Plot();
    const double at = std::clamp((event->position().x() - plot.left()) / std::max(1, plot.width()), 0.0, 1.0);
    const double pivot = t0_ + at * (t1_ - t0_);
    const double factor = std::pow(0.8, event->angleDelta().y() / 120.0);
    const double span = (t1_ - t0_) * factor;
    SetRange(pivot - at * span, pivot + (1 - at) * span);
}

void SignalCanvas::mousePressEvent(QMouseEvent *event) {
    pressX_ = lastX_ = event->position().x();
    moved_ = false;
    if (event->button() == Qt::MiddleButton ||
        (event->button() == Qt::LeftButton && (event->modifiers() & Qt::ShiftModifier))) {
        drag_ = Drag::Move;
    } else if (event->button() == Qt::LeftButton) {
        drag_ = Drag::Select;
    } else {
        drag_ = Drag::None;
    }
}

void SignalCanvas::mouseMoveEvent(QMouseEvent *event) {
    const double x = event->position().x();
    if (std::abs(x - pressX_) > 3) moved_ = true;
    if (drag_ == Drag::Move) {
        const double shift = -(x - lastX_) / std::max(1, Plot().width()) * (t1_ - t0_);
        SetRange(t0_ + shift, t1_ + shift);
    } else if (drag_ == Drag::Select && moved_) {
        const double a = SecondsAt(pressX_);
        const double b = SecondsAt(x);
        selection_ = std::make_pair(std::min(a, b), std::max(a, b));
        update();
    }
    lastX_ = x;
}

void SignalCanvas::mouseReleaseEvent(QMouseEvent *event) {
    if (drag_ == Drag::Select) {
        if (moved_) {
            const double a = SecondsAt(pressX_);
            const double b = SecondsAt(event->position().x());
            selection_ = std::make_pair(std::min(a, b), std::max(a, b));
            emit SelectionChanged(selection_);
        } else {
            // A click: no region, and playing starts here (one signal for both).
            selection_.reset();
            cursor_ = SecondsAt(event->position().x());
            emit CursorMoved(cursor_);
        }
        update();
    }
    drag_ = Drag::None;
}

void SignalCanvas::mouseDoubleClickEvent(QMouseEvent *) {
    ShowAll();
}

void SignalCanvas::PaintWave(QPainter &p, const QRect &pane, const Envelope &e, double range, const QColor &colour) {
    p.fillRect(pane, Qt::white);
    p.setPen(QColor(0xD0, 0xD0, 0xD0));
    p.drawLine(pane.left(), pane.center().y(), pane.right(), pane.center().y());
    if (e.low.size() < static_cast<std::size_t>(pane.width())) return;
    const double half = pane.height() / 2.0 / range;
    p.setPen(colour);
    for (int x = 0; x < pane.width(); ++x) {
        const double centre = pane.top() + pane.height() / 2.0;
        const int top = static_cast<int>(std::clamp(centre - e.high[static_cast<std::size_t>(x)] / 32768.0 * half,
                                                    double(pane.top()), double(pane.bottom())));
        const int bottom = static_cast<int>(std::clamp(centre - e.low[static_cast<std::size_t>(x)] / 32768.0 * half,
                                                       double(pane.top()), double(pane.bottom())));
        p.drawLine(pane.left() + x, top, pane.left() + x, bottom);
    }
}

void SignalCanvas::PaintSpectrumColumn(QImage &image, int x, std::span<const float> db, double nyquist, double topHz,
                                       double floorDb) {
    const int bins = static_cast<int>(db.size());
    if (bins < 2) return;
    for (int y = 0; y < image.height(); ++y) {
        const double hz = (1.0 - (y + 0.5) / image.height()) * topHz;
        if (hz > nyquist) continue;
        const int bin = std::clamp(static_cast<int>(hz / nyquist * (bins - 1) + 0.5), 0, bins - 1);
        image.setPixel(x, y, Heat((db[static_cast<std::size_t>(bin)] - floorDb) / kDbRange));
    }
}

void SignalCanvas::DrawWave(QPainter &p, const QRect &pane, const Signal &s, double offset,
                            const QColor &colour) const {
    Envelope e;
    if (s.length > 0 && s.sampleRate > 0) {
        const double first = (t0_ + offset) * s.sampleRate;
        e = s.Summary().EnvelopeOf(first, (t1_ - t0_) * s.sampleRate, pane.width(), s.read);
    }
    PaintWave(p, pane, e, WaveRange(), colour);
}

void SignalCanvas::DrawSpectrum(QPainter &p, const Pane &pane, const Signal &s, double offset) const {
    const double topHz = TopHz();
    const double floorDb = FloorDb();
    // Drawn again only when what it shows changes (not for a playhead).
    SpectrumPicture &cached = spectra_[{pane.trace, static_cast<int>(pane.kind)}];
    const std::tuple key(t0_, t1_, offset, pane.rect.width(), pane.rect.height(), topHz, floorDb);
    if (cached.key != key || cached.image.isNull()) {
        cached.key = key;
        QImage image(pane.rect.size(), QImage::Format_RGB32);
        image.fill(QColor(0x30, 0x30, 0x30));
        if (s.length > 0 && s.sampleRate > 0) {
            // Only the frames the columns show, each once.
            SpectrogramFrames frames(s.sampleRate, s.length);
            const Spectrogram &layout = frames.Layout();
            std::vector<float> db(static_cast<std::size_t>(layout.bins));
            int computed = -1;
            for (int x = 0; x < image.width(); ++x) {
                const double t = t0_ + (x + 0.5) / image.width() * (t1_ - t0_) + offset;
                if (t < 0 || t > s.Seconds()) continue;
                const int column = layout.ColumnAt(t);
                if (column != computed) {
                    frames.Frame(column, s.read, db);
                    computed = column;
                }
                PaintSpectrumColumn(image, x, db, layout.sampleRate / 2.0, topHz, floorDb);
            }
        }
        cached.image = std::move(image);
    }
    p.drawImage(pane.rect.topLeft(), cached.image);
}

void SignalCanvas::DrawWaveScale(QPainter &p, const QRect &pane) const {
    // Full-scale fractions at the edges and the middle.
    const double range = WaveRange();
    const QString edge = range >= 1 ? QStringLiteral("1") : QStringLiteral("1/%1").arg(std::lround(1 / range));
    p.setPen(Qt::black);
    for (const int y : {pane.top(), pane.top() + pane.height() / 2, pane.bottom()})
        p.drawLine(pane.left() - 5, y, pane.left() - 1, y);
    const int line = p.fontMetrics().height();
    if (pane.height() < 3 * line + 4) {
        // Too low for three lines of text: one, at the middle, says both edges.
        p.drawText(QRect(pane.left() - 60, pane.top(), 52, pane.height()), Qt::AlignRight | Qt::AlignVCenter,
                   QStringLiteral("\u00B1") + edge + " FS");
        return;
    }
    p.drawText(QRect(pane.left() - 60, pane.top(), 52, line), Qt::AlignRight | Qt::AlignTop, edge + " FS");
    p.drawText(QRect(pane.left() - 60, pane.top() + pane.height() / 2 - line / 2, 52, line),
               Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("0"));
    p.drawText(QRect(pane.left() - 60, pane.bottom() - line + 1, 52, line), Qt::AlignRight | Qt::AlignBottom,
               "-" + edge);
}

void SignalCanvas::DrawFrequencyTicks(QPainter &p, const QRect &pane) const {
    const double topHz = TopHz();
    const double step = topHz <= 5600 ? 1000 : topHz <= 12000 ? 2000 : 5000;
    p.setPen(Qt::black);
    for (double hz = 0; hz <= topHz + 1; hz += step) {
        const int y = pane.bottom() - static_cast<int>(hz / topHz * pane.height());
        p.drawLine(pane.left() - 5, y, pane.left() - 1, y);
        const QString text = hz == 0 ? QStringLiteral("0 Hz") : QStringLiteral("%1k").arg(hz / 1000.0);
        p.drawText(QRect(pane.left() - kLabelWidth, y - 8, kLabelWidth - 8, 16), Qt::AlignRight | Qt::AlignVCenter,
                   text);
    }
}

void SignalCanvas::DrawColourScale(QPainter &p, const QRect &pane) const {
    const QRect bar(pane.right() + 6, pane.top(), 12, pane.height());
    const double floorDb = FloorDb();
    for (int y = 0; y < bar.height(); ++y) {
        p.setPen(QColor(Heat(1.0 - (y + 0.5) / bar.height())));
        p.drawLine(bar.left(), bar.top() + y, bar.right(), bar.top() + y);
    }
    p.setPen(Qt::black);
    p.setBrush(Qt::NoBrush);
    p.drawRect(bar.adjusted(0, 0, -1, -1));
    // Ticks every 20 dB of full scale (0 dB: the peak of a full-scale sine).
    for (double db = std::ceil(floorDb / 20.0) * 20.0; db <= floorDb + kDbRange + 1e-9; db += 20.0) {
        const int y = bar.bottom() - static_cast<int>((db - floorDb) / kDbRange * bar.height());
        p.drawLine(bar.right() + 1, y, bar.right() + 4, y);
        p.drawText(QRect(bar.right() + 5, y - 8, kScaleWidth - 24, 16), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::number(db, 'f', 0));
    }
    p.drawText(QRect(bar.right() + 5, bar.bottom() - 2, kScaleWidth - 24, 14), Qt::AlignLeft | Qt::AlignTop,
               QStringLiteral("dB"));
}

namespace {

// One point of a curve over time; inactive ones break the line.
struct CurvePoint {
    double seconds;
    double value;
    bool active;
};

// The path of a curve's points (in time order) over [t0, t1] in `r`, values
// held within the axis.  Where points are denser than the pixel columns,
// each column's lowest and highest value stand for its points, so that the
// path has at most two points per column whatever the length shown.
template <class PointAt>
QPainterPath CurvePath(std::size_t count, PointAt pointAt, double t0, double t1, double margin, const QRectF &r,
                       const PlotAxis &axis, bool dense) {
    QPainterPath path;
    const auto yOf = [&](double v) {
        return r.bottom() -
               (std::clamp(v, axis.Low(), axis.High()) - axis.Low()) / (axis.High() - axis.Low()) * r.height();
    };
    const auto xOf = [&](double t) { return r.left() + (t - t0) / (t1 - t0) * r.width(); };
    bool open = false;
    bool pending = false;
    int column = 0;
    double low = 0;
    double high = 0;
    const auto add = [&](QPointF point) {
        if (open) {
            path.lineTo(point);
        } else {
            path.moveTo(point);
            open = true;
        }
    };
    const auto flush = [&] {
        if (!pending) return;
        add(QPointF(column + 0.5, yOf(low)));
        if (high != low) add(QPointF(column + 0.5, yOf(high)));
        pending = false;
    };
    for (std::size_t i = 0; i < count; ++i) {
        const CurvePoint point = pointAt(i);
        if (!point.active || point.seconds < t0 - margin || point.seconds > t1 + margin) {
            flush();
            open = false;
            continue;
        }
        const double x = xOf(point.seconds);
        if (!dense) {
            add(QPointF(x, yOf(point.value)));
            continue;
        }
        const int c = static_cast<int>(std::floor(x));
        if (pending && c == column) {
            low = std::min(low, point.value);
            high = std::max(high, point.value);
            continue;
        }
        flush();
        pending = true;
        column = c;
        low = high = point.value;
    }
    flush();
    return path;
}

} // namespace

void SignalCanvas::DrawCurves(QPainter &p, const Pane &pane) const {
    p.fillRect(pane.rect, Qt::white);
    const QRect r = CurveArea(pane);
    const PaneKind kind = pane.kind;
    // The axis fits the middle of the values of the traces shown (active
    // frames; every ViSQOL patch), never beyond what the measure can be.
    std::vector<double> values;
    for (const int t : Shown()) {
        const DecodedTrace &trace = Set().decoded[static_cast<std::size_t>(t)];
        if (kind == PaneKind::VisqolCurve) {
            for (const auto &patch : trace.visqol) values.push_back(patch.similarity);
            continue;
        }
        const evaluator::FrameCurve &curve = kind == PaneKind::SnrCurve ? trace.frames.snr : trace.frames.lsd;
        for (std::size_t i = 0; i < curve.Size(); ++i) {
            if (curve.active[i] != 0) values.push_back(curve.db[i]);
        }
    }
    const PlotAxis axis = CurveAxis(kind, std::move(values));
    const double low = axis.Low();
    const double high = axis.High();
    auto yOf = [&](double v) { return r.bottom() - (std::clamp(v, low, high) - low) / (high - low) * r.height(); };
    p.setPen(QColor(0xE0, 0xE0, 0xE0));
    for (const double t : axis.Ticks()) {
        const int y = static_cast<int>(std::lround(yOf(t)));
        p.drawLine(r.left(), y, r.right(), y);
    }
    p.setPen(Qt::black);
    for (const double t : axis.Ticks()) {
        const int y = static_cast<int>(std::lround(yOf(t)));
        p.drawLine(r.left() - 5, y, r.left() - 1, y);
        p.drawText(QRect(r.left() - 40, y - 8, 34, 16), Qt::AlignRight | Qt::AlignVCenter,
                   QString::fromStdString(PlotAxis::TickText(t, false)));
    }
    // The legend above the values, each name in its trace's colour.
    const QFontMetrics metrics = p.fontMetrics();
    int legendX = pane.rect.left() + 6;
    int legendY = pane.rect.top() + 2;
    for (const int t : Shown()) {
        const QString name = QString::fromStdString(Set().decoded[static_cast<std::size_t>(t)].name);
        const int w = metrics.horizontalAdvance(name) + 26;
        if (legendX > pane.rect.left() + 6 && legendX + w > pane.rect.right()) {
            legendX = pane.rect.left() + 6;
            legendY += metrics.height() + 2;
        }
        const QColor colour = TraceColour(Set(), t);
        const int mid = legendY + metrics.height() / 2;
        p.setPen(QPen(colour, 2));
        p.drawLine(legendX, mid, legendX + 14, mid);
        p.setPen(colour);
        p.drawText(QRect(legendX + 18, legendY, w - 18, metrics.height()), Qt::AlignLeft | Qt::AlignVCenter, name);
        legendX += w;
    }
    p.setPen(QColor(0xC0, 0xC0, 0xC0));
    p.drawLine(pane.rect.left(), r.top() - kCurvePadding, pane.rect.right(), r.top() - kCurvePadding);
    p.save();
    p.setClipRect(pane.rect.adjusted(0, r.top() - kCurvePadding - pane.rect.top(), 0, 0));
    p.setRenderHint(QPainter::Antialiasing);
    const double span = t1_ - t0_;
    for (const int t : Shown()) {
        const DecodedTrace &trace = Set().decoded[static_cast<std::size_t>(t)];
        const QColor colour = TraceColour(Set(), t);
        QPainterPath path;
        double mean = 0;
        bool dense = false;
        if (kind == PaneKind::VisqolCurve) {
            // Each patch a level stretch over the input's time it covers,
            // the line broken where the score skipped a stretch (a pause).
            if (!trace.visqolValid) continue;
            const auto &patches = trace.visqol;
            const auto pointAt = [&](std::size_t i) {
                const auto &patch = patches[i / 3];
                if (i % 3 == 0) return CurvePoint{patch.referenceStart, patch.similarity, true};
                const bool joined =
                    i / 3 + 1 < patches.size() && patches[i / 3 + 1].referenceStart <= patch.referenceEnd + 1e-3;
                return CurvePoint{patch.referenceEnd, patch.similarity, i % 3 == 1 || joined};
            };
            const double patchSeconds =
                patches.empty() ? 1.0 : patches.front().referenceEnd - patches.front().referenceStart;
            dense = span / std::max(patchSeconds, 1e-3) > r.width() / 2.0;
            path = CurvePath(3 * patches.size(), pointAt, t0_, t1_, patchSeconds, r, axis, dense);
            mean = trace.visqolNsim;
        } else {
            const evaluator::FrameCurve &curve = kind == PaneKind::SnrCurve ? trace.frames.snr : trace.frames.lsd;
            const auto pointAt = [&](std::size_t i) {
                return CurvePoint{curve.CentreSeconds(i), curve.db[i], curve.active[i] != 0};
            };
            dense = curve.stepSeconds > 0 && span / curve.stepSeconds > r.width();
            path = CurvePath(curve.Size(), pointAt, t0_, t1_, curve.stepSeconds, r, axis, dense);
            mean = curve.ActiveMean();
        }
        // A dense curve (a column's range per pixel) with a thin pen and no
        // smoothing: the stroker would spend seconds on its turns.
        p.setRenderHint(QPainter::Antialiasing, !dense);
        p.setPen(dense ? QPen(colour, 0) : QPen(colour, 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawPath(path);
        p.setRenderHint(QPainter::Antialiasing);
        // The whole-file figure, dashed.
        p.setPen(QPen(colour, 1, Qt::DashLine));
        p.drawLine(QPointF(r.left(), yOf(mean)), QPointF(r.right(), yOf(mean)));
    }
    p.restore();
}

PlotAxis SignalCanvas::CurveAxis(PaneKind kind, std::vector<double> values) {
    switch (kind) {
    case PaneKind::SnrCurve:
        // Segment SNRs are clamped to -10..35 dB.
        return PlotAxis::FitMiddle(std::move(values), 0.98, -10, 35, 5);
    case PaneKind::LsdCurve:
        // No distance is below 0; the few worst frames go to the top edge.
        return PlotAxis::FitMiddle(std::move(values), 0.98, 0, 1e9, 2);
    default:
        // Similarity 0 (nothing alike) to 1 (the same).
        return PlotAxis::FitMiddle(std::move(values), 1.0, 0, 1, 0.1);
    }
}

void SignalCanvas::DrawLabel(QPainter &p, const Pane &pane) const {
    QString text;
    QColor colour = Qt::black;
    switch (pane.kind) {
    case PaneKind::Wave:
        text = QString::fromStdString(SignalOf(pane).label);
        colour = TraceColour(Set(), pane.trace);
        break;
    case PaneKind::Difference:
        text = QStringLiteral("difference");
        colour = TraceColour(Set(), pane.trace);
        break;
    case PaneKind::SnrCurve:
        text = QStringLiteral("SNR dB\n\u2191 higher is better");
        break;
    case PaneKind::LsdCurve:
        text = QStringLiteral("LSD dB\n\u2193 lower is better");
        break;
    case PaneKind::VisqolCurve:
        text = QStringLiteral("ViSQOL similarity per patch (NSIM)\n\u2191 higher is better");
        break;
    case PaneKind::Spectrum:
        return;
    }
    p.setPen(colour);
    const bool curve = IsCurve(pane.kind);
    // Left of the pane's scale: the waveforms' 60 pixels, the curves' 40.
    const QRect box(4, pane.rect.top(), kLabelWidth - (curve ? 46 : 66), pane.rect.height());
    p.drawText(box, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, text);
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
        const int x = XOf(t);
        p.drawLine(x, plot.bottom() + 1, x, plot.bottom() + 5);
        p.drawText(QRect(x - 40, plot.bottom() + 5, 80, 16), Qt::AlignHCenter | Qt::AlignTop,
                   QString::number(t, 'f', decimals) + " s");
    }
}

void SignalCanvas::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.fillRect(rect(), palette().window());
    if (!HasSignals()) return;
    SummariseShown();
    const std::vector<Pane> panes = Panes();
    for (const Pane &pane : panes) {
        const Signal &s = IsCurve(pane.kind) ? Set().original : SignalOf(pane);
        switch (pane.kind) {
        case PaneKind::Wave:
        case PaneKind::Difference:
            DrawWave(p, pane.rect, s, OffsetSeconds(pane), TraceColour(Set(), pane.trace));
            DrawWaveScale(p, pane.rect);
            break;
        case PaneKind::Spectrum:
            DrawSpectrum(p, pane, s, OffsetSeconds(pane));
            DrawFrequencyTicks(p, pane.rect);
            DrawColourScale(p, pane.rect);
            break;
        case PaneKind::SnrCurve:
        case PaneKind::LsdCurve:
        case PaneKind::VisqolCurve:
            DrawCurves(p, pane);
            break;
        }
        DrawLabel(p, pane);
        p.setPen(Qt::black);
        p.setBrush(Qt::NoBrush);
        p.drawRect(pane.rect.adjusted(-1, -1, 0, 0));
    }
    const int top = panes.front().rect.top();
    const int bottom = panes.back().rect.bottom();
    if (selection_) {
        const int a = std::max(XOf(selection_->first), Plot().left());
        const int b = std::min(XOf(selection_->second), Plot().right());
        if (b >= a) {
            // Shaded over waveforms and curves; over a spectrogram only a band
            // along its top and bottom edges, so that what lies under it shows.
            for (const Pane &pane : panes) {
                const QRect span(a, pane.rect.top(), b - a + 1, pane.rect.height());
                if (pane.kind == PaneKind::Spectrum) {
                    p.fillRect(QRect(a, pane.rect.top(), b - a + 1, 4), QColor(0x30, 0x90, 0xFF, 0xC0));
                    p.fillRect(QRect(a, pane.rect.bottom() - 3, b - a + 1, 4), QColor(0x30, 0x90, 0xFF, 0xC0));
                } else {
                    p.fillRect(span, QColor(0x30, 0x90, 0xFF, 0x40));
                }
            }
            p.setPen(QColor(0x10, 0x50, 0xC0));
            p.drawLine(a, top, a, bottom);
            p.drawLine(b, top, b, bottom);
        }
    }
    if (cursor_ >= t0_ && cursor_ <= t1_ && !selection_) {
        p.setPen(QPen(QColor(0x40, 0x40, 0x40), 1, Qt::DashLine));
        p.drawLine(XOf(cursor_), top, XOf(cursor_), bottom);
    }
    if (playhead_ && *playhead_ >= t0_ && *playhead_ <= t1_) {
        p.setPen(QPen(kPlayhead, 2));
        p.drawLine(XOf(*playhead_), top, XOf(*playhead_), bottom);
    }
    DrawAxis(p, Plot());
}

} // namespace vntr::gui
