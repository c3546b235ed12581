// Rate against quality: each codec of the comparison table a labelled point,
// its bit rate on a logarithmic axis against the chosen measure.
#pragma once

#include "gui/logic/comparison_table.hpp"

#include <QWidget>

#include <optional>

namespace vntr::gui {

class RatePlot final : public QWidget {
    Q_OBJECT
public:
    enum class Measure { Snr, SegmentalSnr, Lsd, Visqol };

    RatePlot(const ComparisonModel &model, QWidget *parent);

    void SetMeasure(Measure measure);
    Measure CurrentMeasure() const { return measure_; }
    static QString MeasureName(Measure measure);
    static std::optional<double> ValueOf(const ComparisonRow &row, Measure measure);

    // Where each plotted codec's point is at the present size (for tests).
    struct Point {
        std::string name;
        QPointF at;
    };
    std::vector<Point> Points() const;
    QRect Area() const;

    QSize sizeHint() const override { return {420, 360}; }
    QSize minimumSizeHint() const override { return {300, 240}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    const ComparisonModel &model_;
    Measure measure_ = Measure::Visqol; // the perceptual score ranks codecs as listeners do
};

} // namespace vntr::gui
