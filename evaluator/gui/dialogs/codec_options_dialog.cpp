#include "gui/dialogs/codec_options_dialog.hpp"

#include "gui/dialogs/control_ids.hpp"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace vntr::gui {

CodecOptionsDialog::CodecOptionsDialog(const std::string &codec, uint32_t offered, uint32_t options, QWidget *parent)
    : QDialog(parent) {
    setWindowTitle("Options settings...");
    const OptionsView view = InitialOptions(offered, options);

    auto *name = Tag(new QLabel(QString::fromStdString(codec), this), kIdCodecName);
    QFont bold = name->font();
    bold.setBold(true);
    name->setFont(bold);

    auto *general = Tag(new QGroupBox("General Options :", this), kIdGeneralGroup);
    vad_ = Tag(new QCheckBox("VAD", general), kIdVad);
    vad_->setEnabled(view.vadEnabled);
    vad_->setChecked(view.vad);
    auto *generalLayout = new QVBoxLayout(general);
    generalLayout->addWidget(vad_);

    auto *rates = Tag(new QGroupBox(this), kIdRateGroup);
    r4800_ = Tag(new QRadioButton("4800", rates), kId4800);
    r6400_ = Tag(new QRadioButton("6400", rates), kId6400);
    r4800_->setEnabled(view.r4800Enabled);
    r6400_->setEnabled(view.r6400Enabled);
    r4800_->setChecked(view.rate == RateChoice::R4800);
    r6400_->setChecked(view.rate == RateChoice::R6400);
    auto *exclusive = new QButtonGroup(this);
    exclusive->addButton(r4800_);
    exclusive->addButton(r6400_);
    auto *ratesLayout = new QHBoxLayout(rates);
    ratesLayout->addWidget(r4800_);
    ratesLayout->addWidget(r6400_);

    auto *buttons = new QDialogButtonBox(this);
    Tag(buttons->addButton("&OK", QDialogButtonBox::AcceptRole), kIdOk)->setDefault(true);
    Tag(buttons->addButton("&Cancel", QDialogButtonBox::RejectRole), kIdCancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *outer = new QVBoxLayout(this);
    outer->addWidget(name);
    outer->addWidget(general);
    outer->addWidget(rates);
    outer->addWidget(buttons);
    setMinimumWidth(fontMetrics().averageCharWidth() * 36);
}

uint32_t CodecOptionsDialog::OptionWord() const {
    const RateChoice rate = r4800_->isChecked()   ? RateChoice::R4800
                            : r6400_->isChecked() ? RateChoice::R6400
                                                  : RateChoice::None;
    return gui::OptionWord(vad_->isChecked(), rate);
}

} // namespace vntr::gui
