// "Options settings...": voice activity detection and the fixed bit rate of
// one codec, as far as the codec offers them.
#pragma once

#include "gui/logic/codec_options.hpp"

#include <QDialog>

#include <cstdint>
#include <string>

class QCheckBox;
class QRadioButton;

namespace vntr::gui {

class CodecOptionsDialog final : public QDialog {
    Q_OBJECT
public:
    // For the codec `name`, which offers the options in `offered` and has
    // `options` now.
    CodecOptionsDialog(const std::string &name, uint32_t offered, uint32_t options, QWidget *parent = nullptr);

    // The option word the controls make now: the codec's options after OK.
    uint32_t OptionWord() const;

private:
    QCheckBox *vad_;
    QRadioButton *r4800_;
    QRadioButton *r6400_;
};

} // namespace vntr::gui
