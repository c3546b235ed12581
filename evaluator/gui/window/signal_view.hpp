// The signal view: waveform and spectrogram of the original and of one
// codec's decoded file, one above the other on a common time axis, so that
// what a codec did to the signal can be seen where the ear hesitates.  The
// wheel zooms around the pointer, dragging moves, a double click shows all.
#pragma once

#include "gui/logic/signal_analysis.hpp"

#include <QDialog>

#include <string>
#include <vector>

class QCheckBox;
class QLabel;

namespace vntr::gui {

struct Signal {
    std::string label;
    std::vector<float> samples; // mono, 16-bit scale
    int sampleRate = 0;
    Spectrogram spectrum;

    double Seconds() const { return sampleRate > 0 ? static_cast<double>(samples.size()) / sampleRate : 0.0; }
};

// Reads a wave file for the view; false when it cannot be read.
bool LoadSignal(const std::string &path, const std::string &label, Signal &signal);

class SignalCanvas;

class SignalView final : public QDialog {
    Q_OBJECT
public:
    explicit SignalView(QWidget *parent = nullptr);

    // Shows a codec's decoded file under the original it was fed;
    // `delaySamples` is the codec's delay, which the view can take out.
    void ShowSignals(const QString &codec, Signal original, Signal decoded, int delaySamples);
    // Shows no signal, only a note.
    void ShowNote(const QString &note);

    const QString &Note() const { return note_; }
    bool HasSignals() const;
    // The part of the time axis on view, in seconds.
    std::pair<double, double> VisibleRange() const;

private:
    SignalCanvas *canvas_;
    QLabel *heading_;
    QCheckBox *align_;
    QString note_;
};

} // namespace vntr::gui
