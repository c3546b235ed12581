// "Options settings...": voice activity detection and the fixed bit rate of
// one codec, as far as the codec offers them.
#pragma once

#include "core/codec_slot.hpp"
#include "gui/logic/codec_options.hpp"

#include <QDialog>

class QCheckBox;
class QRadioButton;

namespace vntr::gui {

class CodecOptionsDialog final : public QDialog {
    Q_OBJECT
public:
    CodecOptionsDialog(const evaluator::CodecSlot &slot, QWidget *parent = nullptr);

    // The option word the controls make now.
    uint32_t OptionWord() const;
    // Stores it as the slot's encoder and decoder options (after OK); the
    // change applies from the next run.
    void ApplyTo(evaluator::CodecSlot &slot) const;

private:
    QCheckBox *vad_;
    QRadioButton *r4800_;
    QRadioButton *r6400_;
};

} // namespace vntr::gui
