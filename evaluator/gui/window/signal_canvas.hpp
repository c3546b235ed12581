// The pictures of the signal view on one time axis: the original's
// waveform and spectrogram, and under it, for each codec shown, its decoded
// waveform, the difference from its input and its spectrogram, then the
// SNR and log-spectral distance of every shown codec frame by frame and its
// ViSQOL similarity patch by patch (all as the run measured them).  The
// spectrograms share one dB colour scale.  Waveforms are drawn from each
// signal's summary and spectrograms from the frames their pixel columns
// show, both read from the files, so that a long run costs no more memory
// than a short one.  A playhead follows the sound, a
// dragged region is shaded.  The wheel zooms around the pointer, a drag
// with Shift (or the middle button) moves, a double click shows all.
#pragma once

#include "gui/logic/plot_scale.hpp"
#include "gui/logic/signal_set.hpp"

#include <QImage>
#include <QWidget>

#include <map>
#include <optional>
#include <span>
#include <tuple>
#include <utility>
#include <vector>

namespace vntr::gui {

class SignalCanvas final : public QWidget {
    Q_OBJECT
public:
    enum class PaneKind { Wave, Difference, Spectrum, SnrCurve, LsdCurve, VisqolCurve };
    static bool IsCurve(PaneKind kind) {
        return kind == PaneKind::SnrCurve || kind == PaneKind::LsdCurve || kind == PaneKind::VisqolCurve;
    }
    struct Pane {
        PaneKind kind;
        int trace; // -1 for the original, else the decoded trace
        QRect rect;
    };

    // Draws what `stack` holds, read afresh at every drawing; the stack's
    // owner outlives the canvas.
    SignalCanvas(const SignalStack &stack, QWidget *parent);

    // The stack changed (a new set, or other traces stacked): a new set of
    // another length is shown whole, else the time range stays.
    void SignalsChanged();
    void SetAligned(bool aligned);
    void SetDifference(bool on);
    void SetCurves(bool on);
    bool HasSignals() const { return !stack_.Set().Empty(); }

    std::pair<double, double> Range() const { return {t0_, t1_}; }
    void SetRange(double t0, double t1);
    void ShowAll();

    // The playhead (while playing), the start cursor and the region, in seconds.
    void SetPlayhead(std::optional<double> seconds);
    void SetCursor(double seconds);
    void SetSelection(std::optional<std::pair<double, double>> region);
    std::optional<double> Playhead() const { return playhead_; }
    std::optional<std::pair<double, double>> Selection() const { return selection_; }

    // Where the panes are at the present size (for tests and pictures).
    std::vector<Pane> Panes() const;
    QRect Plot() const;
    int XOf(double seconds) const;
    double SecondsAt(double x) const;
    // The colour of a trace's waveform and curves (-1: the original): each
    // codec's own, from the set's palette.
    static QColor TraceColour(const SignalSet &set, int trace);
    // The waveforms' vertical scale: the part of full scale from the middle
    // of a pane to its edge (1, 1/2, 1/4 ... fitted to the loudest trace shown).
    double WaveRange() const;
    // Where a curve pane's values are drawn, below its legend.
    QRect CurveArea(const Pane &pane) const;
    // Heights below which no pane is squeezed: the view scrolls instead.
    static int MinimumHeight(PaneKind kind);

    QSize minimumSizeHint() const override;

    // The painters of a waveform pane (an envelope per pixel column, `range`
    // as WaveRange) and of one pixel column of a spectrogram (one frame in
    // dB, bins from 0 Hz to `nyquist`, the pane showing up to `topHz`).
    static void PaintWave(QPainter &p, const QRect &pane, const Envelope &e, double range, const QColor &colour);
    static void PaintSpectrumColumn(QImage &image, int x, std::span<const float> db, double nyquist, double topHz,
                                    double floorDb);
    // The value axis of a curve pane fitted to `values` (the values of the traces shown).
    static PlotAxis CurveAxis(PaneKind kind, std::vector<double> values);
    // The spectrograms' colour scale: its lowest dB (its top is 80 dB above).
    double FloorDb() const;
    void SummariseShown() const;

signals:
    // A click without a drag: no region any more, play from here.
    void CursorMoved(double seconds);
    // A drag over the time axis made a region (or a click cleared it).
    void SelectionChanged(std::optional<std::pair<double, double>> region);

protected:
    void paintEvent(QPaintEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    double Length() const;
    double TopHz() const;
    const Signal &SignalOf(const Pane &pane) const;
    double OffsetSeconds(const Pane &pane) const;
    void DrawWave(QPainter &p, const QRect &pane, const Signal &s, double offset, const QColor &colour) const;
    void DrawSpectrum(QPainter &p, const Pane &pane, const Signal &s, double offset) const;
    void DrawFrequencyTicks(QPainter &p, const QRect &pane) const;
    void DrawColourScale(QPainter &p, const QRect &pane) const;
    void DrawCurves(QPainter &p, const Pane &pane) const;
    void DrawLabel(QPainter &p, const Pane &pane) const;
    void DrawWaveScale(QPainter &p, const QRect &pane) const;
    int LegendHeight(int width) const;
    void DrawAxis(QPainter &p, const QRect &plot) const;

    const SignalSet &Set() const { return stack_.Set(); }
    const std::vector<int> &Shown() const { return stack_.Shown(); }

    const SignalStack &stack_;
    // Each spectrogram pane's picture and what it was drawn for.
    struct SpectrumPicture {
        std::tuple<double, double, double, int, int, double, double> key;
        QImage image;
    };
    mutable std::map<std::pair<int, int>, SpectrumPicture> spectra_;
    uint64_t generation_ = 0; // of the set the time range was made for
    double setLength_ = -1;   // that set's original, in seconds
    bool aligned_ = true;
    bool difference_ = true;
    bool curves_ = true;
    double t0_ = 0;
    double t1_ = 1;
    std::optional<double> playhead_;
    double cursor_ = 0;
    std::optional<std::pair<double, double>> selection_;
    // Mouse: a drag selects, a drag with Shift or the middle button moves.
    enum class Drag { None, Select, Move } drag_ = Drag::None;
    double pressX_ = 0;
    double lastX_ = 0;
    bool moved_ = false;
};

} // namespace vntr::gui
