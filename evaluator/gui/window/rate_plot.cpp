#include "gui/window/rate_plot.hpp"

#include "gui/logic/plot_scale.hpp"

#include <QPainter>

#include <algorithm>
#include <optional>

namespace vntr::gui {
namespace {

struct MeasureInfo {
    RatePlot::Measure measure;
    const char *name;
    bool higherIsBetter;
    std::optional<double> ComparisonRow::*value;
};

const MeasureInfo kMeasures[] = {
    {RatePlot::Measure::Snr, "SNR (dB)", true, &ComparisonRow::snrDb},
    {RatePlot::Measure::SegmentalSnr, "Segmental SNR (dB)", true, &ComparisonRow::segmentalSnrDb},
    {RatePlot::Measure::Lsd, "Log-spectral distance (dB)", false, &ComparisonRow::lsdDb},
    {RatePlot::Measure::Visqol, "ViSQOL MOS (1 to 5)", true, &ComparisonRow::visqolMos},
};

const MeasureInfo &Info(RatePlot::Measure measure) {
    for (const MeasureInfo &m : kMeasures) {
        if (m.measure == measure) return m;
    }
    return kMeasures[0];
}

struct Axes {
    PlotAxis x;
    PlotAxis y;
};

Axes Fit(const std::vector<ComparisonRow> &rows, RatePlot::Measure measure) {
    std::vector<double> rates;
    std::vector<double> values;
    for (const ComparisonRow &r : rows) {
        const auto v = RatePlot::ValueOf(r, measure);
        if (!r.bitRate || !v || *r.bitRate <= 0) continue;
        rates.push_back(*r.bitRate);
        values.push_back(*v);
    }
    return {PlotAxis::Fit(rates, true), PlotAxis::Fit(values, false)};
}

} // namespace

RatePlot::RatePlot(const ComparisonModel &model, QWidget *parent) : QWidget(parent), model_(model) {
    setObjectName("ratePlot");
    connect(&model_, &QAbstractItemModel::modelReset, this, qOverload<>(&QWidget::update));
}

void RatePlot::SetMeasure(Measure measure) {
    measure_ = measure;
    update();
}

const std::vector<RatePlot::Measure> &RatePlot::Measures() {
    static const std::vector<Measure> kAll = [] {
        std::vector<Measure> all;
        for (const MeasureInfo &m : kMeasures) all.push_back(m.measure);
        return all;
    }();
    return kAll;
}

void RatePlot::SetPalette(CodecPalette palette) {
    palette_ = std::move(palette);
    update();
}

QString RatePlot::MeasureName(Measure measure) {
    return QString::fromUtf8(Info(measure).name);
}

bool RatePlot::HigherIsBetter(Measure measure) {
    return Info(measure).higherIsBetter;
}

QString RatePlot::AxisTitle(Measure measure) {
    return MeasureName(measure) + (HigherIsBetter(measure) ? QStringLiteral(", \u2191 higher is better")
                                                           : QStringLiteral(", \u2193 lower is better"));
}

std::optional<double> RatePlot::ValueOf(const ComparisonRow &row, Measure measure) {
    return row.*(Info(measure).value);
}

QRect RatePlot::Area() const {
    const int text = fontMetrics().height();
    return rect().adjusted(3 * text + 16, text + 12, -18, -(2 * text + 14));
}

std::vector<RatePlot::Point> RatePlot::Points() const {
    std::vector<Point> points;
    const Axes axes = Fit(model_.Rows(), measure_);
    const QRect area = Area();
    for (const ComparisonRow &r : model_.Rows()) {
        const auto v = ValueOf(r, measure_);
        if (!r.bitRate || !v || *r.bitRate <= 0) continue;
        const double x = area.left() + axes.x.Fraction(*r.bitRate) * area.width();
        const double y = area.bottom() - axes.y.Fraction(*v) * area.height();
        const uint32_t rgb = palette_.Rgb(r.name);
        points.push_back({r.name, QPointF(x, y),
                          QColor(static_cast<int>(rgb >> 16 & 0xFF), static_cast<int>(rgb >> 8 & 0xFF),
                                 static_cast<int>(rgb & 0xFF))});
    }
    return points;
}

void RatePlot::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const QRect area = Area();
    const Axes axes = Fit(model_.Rows(), measure_);
    const QFontMetrics metrics = p.fontMetrics();
    // Grid and ticks.
    for (const double t : axes.x.Ticks()) {
        const int x = area.left() + static_cast<int>(axes.x.Fraction(t) * area.width());
        p.setPen(QColor(0xE4, 0xE4, 0xE4));
        p.drawLine(x, area.top(), x, area.bottom());
        p.setPen(Qt::black);
        p.drawLine(x, area.bottom(), x, area.bottom() + 4);
        p.drawText(QRect(x - 30, area.bottom() + 5, 60, metrics.height()), Qt::AlignHCenter,
                   QString::fromStdString(PlotAxis::TickText(t, true)));
    }
    for (const double t : axes.y.Ticks()) {
        const int y = area.bottom() - static_cast<int>(axes.y.Fraction(t) * area.height());
        p.setPen(QColor(0xE4, 0xE4, 0xE4));
        p.drawLine(area.left(), y, area.right(), y);
        p.setPen(Qt::black);
        p.drawLine(area.left() - 4, y, area.left(), y);
        p.drawText(QRect(0, y - metrics.height() / 2, area.left() - 6, metrics.height()), Qt::AlignRight,
                   QString::fromStdString(PlotAxis::TickText(t, false)));
    }
    p.setPen(Qt::black);
    p.setBrush(Qt::NoBrush);
    p.drawRect(area);
    p.drawText(QRect(area.left(), area.bottom() + metrics.height() + 6, area.width(), metrics.height()),
               Qt::AlignHCenter, QStringLiteral("Bit rate (bit/s, logarithmic)"));
    p.drawText(QRect(area.left(), 2, area.width(), metrics.height() + 6), Qt::AlignLeft | Qt::AlignVCenter,
               AxisTitle(measure_));
    const std::vector<Point> points = Points();
    if (points.empty()) {
        p.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, QStringLiteral("No codec has results to plot yet."));
        return;
    }
    p.setRenderHint(QPainter::Antialiasing);
    // Each name beside its point where it covers no other name and no point:
    // right, left, above or below, then further away with a line to its point.
    std::vector<QRect> taken;
    for (const Point &point : points) {
        taken.emplace_back(static_cast<int>(point.at.x()) - 5, static_cast<int>(point.at.y()) - 5, 11, 11);
    }
    const int h = metrics.height();
    std::vector<std::pair<QRect, bool>> placed; // the name's box, beside its point
    for (const Point &point : points) {
        const QString name = QString::fromStdString(point.name);
        const int w = metrics.horizontalAdvance(name) + 2;
        const int x = static_cast<int>(point.at.x());
        const int y = static_cast<int>(point.at.y());
        auto free = [&](const QRect &box) {
            return rect().contains(box) &&
                   std::none_of(taken.begin(), taken.end(), [&](const QRect &r) { return r.intersects(box); });
        };
        std::optional<QRect> chosen;
        bool beside = true;
        for (int away = 0; away < 8 && !chosen; ++away) {
            const int d = away * h;
            const QRect candidates[] = {QRect(x + 7 + d, y - h / 2, w, h),     QRect(x - 7 - w - d, y - h / 2, w, h),
                                        QRect(x - w / 2, y - 6 - h - d, w, h), QRect(x - w / 2, y + 6 + d, w, h),
                                        QRect(x + 5, y - 4 - h - d, w, h),     QRect(x + 5, y + 4 + d, w, h),
                                        QRect(x - 5 - w, y - 4 - h - d, w, h), QRect(x - 5 - w, y + 4 + d, w, h)};
            for (const QRect &box : candidates) {
                if (free(box)) {
                    chosen = box;
                    beside = away == 0;
                    break;
                }
            }
        }
        // Nowhere free: beside the point all the same.
        const QRect box = chosen.value_or(QRect(x + 7, y - h / 2, w, h));
        taken.push_back(box);
        placed.emplace_back(box, beside);
    }
    // Lines under the points, names over them.
    p.setPen(QPen(QColor(0x90, 0x90, 0x90), 1));
    for (std::size_t i = 0; i < points.size(); ++i) {
        const auto &[box, beside] = placed[i];
        if (beside) continue;
        const QPointF at = points[i].at;
        p.drawLine(at, QPointF(std::clamp<double>(at.x(), box.left(), box.right()),
                               std::clamp<double>(at.y(), box.top(), box.bottom())));
    }
    for (const Point &point : points) {
        p.setPen(QPen(point.colour.darker(140), 1.5));
        p.setBrush(point.colour);
        p.drawEllipse(point.at, 4.5, 4.5);
    }
    for (std::size_t i = 0; i < points.size(); ++i) {
        p.setPen(points[i].colour.darker(130));
        p.drawText(placed[i].first, Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(points[i].name));
    }
}

} // namespace vntr::gui
