#include "gui/window/rate_plot.hpp"

#include "gui/logic/plot_scale.hpp"

#include <QPainter>

#include <algorithm>

namespace vntr::gui {
namespace {

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
    // The distance axis starts at no distance.
    if (measure == RatePlot::Measure::Lsd) values.push_back(0.0);
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

QString RatePlot::MeasureName(Measure measure) {
    switch (measure) {
    case Measure::Snr:
        return QStringLiteral("SNR (dB)");
    case Measure::SegmentalSnr:
        return QStringLiteral("Segmental SNR (dB)");
    case Measure::Lsd:
        break;
    }
    return QStringLiteral("Log-spectral distance (dB, lower is closer)");
}

std::optional<double> RatePlot::ValueOf(const ComparisonRow &row, Measure measure) {
    switch (measure) {
    case Measure::Snr:
        return row.snrDb;
    case Measure::SegmentalSnr:
        return row.segmentalSnrDb;
    case Measure::Lsd:
        break;
    }
    return row.lsdDb;
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
        points.push_back({r.name, QPointF(x, y)});
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
               MeasureName(measure_));
    const std::vector<Point> points = Points();
    if (points.empty()) {
        p.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, QStringLiteral("No codec has results to plot yet."));
        return;
    }
    p.setRenderHint(QPainter::Antialiasing);
    std::vector<QRect> labels;
    for (const Point &point : points) {
        p.setPen(QPen(QColor(0x00, 0x00, 0xC0), 1.5));
        p.setBrush(QColor(0x40, 0x70, 0xFF));
        p.drawEllipse(point.at, 4.5, 4.5);
        // The name beside its point, moved down where it would cover another.
        const QString name = QString::fromStdString(point.name);
        QRect box(static_cast<int>(point.at.x()) + 7, static_cast<int>(point.at.y()) - metrics.height() / 2,
                  metrics.horizontalAdvance(name) + 2, metrics.height());
        if (box.right() > rect().right()) box.moveRight(static_cast<int>(point.at.x()) - 7);
        for (int tries = 0; tries < 6; ++tries) {
            const bool clash =
                std::any_of(labels.begin(), labels.end(), [&](const QRect &r) { return r.intersects(box); });
            if (!clash) break;
            box.translate(0, metrics.height());
        }
        labels.push_back(box);
        p.setPen(Qt::black);
        p.drawText(box, Qt::AlignLeft | Qt::AlignVCenter, name);
    }
}

} // namespace vntr::gui
