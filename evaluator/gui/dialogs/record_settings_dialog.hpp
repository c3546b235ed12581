// "Record settings...": the rate, channels and sample width of recordings.
#pragma once

#include <QDialog>

#include <array>
#include <cstdint>

class QRadioButton;

namespace vntr::gui {

class RecordSettingsDialog final : public QDialog {
    Q_OBJECT
public:
    RecordSettingsDialog(uint32_t format, QWidget *parent = nullptr);

    // The format word the buttons make now.
    uint32_t Format() const;

private:
    std::array<QRadioButton *, 9> rates_{};
    QRadioButton *mono_;
    QRadioButton *stereo_;
    QRadioButton *bits8_;
    QRadioButton *bits16_;
};

} // namespace vntr::gui
