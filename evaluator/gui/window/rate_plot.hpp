// Rate against quality: each codec of the comparison table a labelled point,
// its bit rate on a logarithmic axis against the chosen measure.
#pragma once

#include "gui/logic/codec_colours.hpp"
#include "gui/logic/comparison_table.hpp"

#include <QWidget>

#include <optional>

namespace vntr::gui {

class RatePlot final : public QWidget {
    Q_OBJECT
public:
    // The measures the plot can show, in the order the choice lists them.
    // Another measure is one more name here and one more row of kMeasures
    // (rate_plot.cpp).
    enum class Measure { Snr, SegmentalSnr, Lsd, Visqol };
    static const std::vector<Measure> &Measures();

    RatePlot(const ComparisonModel &model, QWidget *parent);

    void SetMeasure(Measure measure);
    Measure CurrentMeasure() const { return measure_; }
    void SetPalette(CodecPalette palette);
    // "SNR (dB)"; with the axis title "SNR (dB), higher is better".
    static QString MeasureName(Measure measure);
    static QString AxisTitle(Measure measure);
    static bool HigherIsBetter(Measure measure);
    static std::optional<double> ValueOf(const ComparisonRow &row, Measure measure);

    // Where each plotted codec's point is at the present size (for tests).
    struct Point {
        std::string name;
        QPointF at;
        QColor colour; // the codec's own
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
    CodecPalette palette_;
};

} // namespace vntr::gui
