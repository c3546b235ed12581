#include "gui/dialogs/record_settings_dialog.hpp"

#include "gui/dialogs/control_ids.hpp"
#include "gui/logic/record_format.hpp"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace vntr::gui {

RecordSettingsDialog::RecordSettingsDialog(uint32_t format, QWidget *parent) : QDialog(parent) {
    setWindowTitle("Record settings...");
    const RecordChoice shown = ChoiceFromFormat(format);

    auto *rateBox = Tag(new QGroupBox("Sampling frequency:", this), kIdRateBox);
    auto *rateGrid = new QGridLayout(rateBox);
    auto *rateGroup = new QButtonGroup(this);
    for (std::size_t i = 0; i < rates_.size(); ++i) {
        rates_[i] = Tag(new QRadioButton(kRecordRates[i].label, rateBox), kIdRate8k + static_cast<int>(i));
        rates_[i]->setChecked(static_cast<int>(i) == shown.rate);
        rateGroup->addButton(rates_[i]);
        rateGrid->addWidget(rates_[i], static_cast<int>(i % 3), static_cast<int>(i / 3));
    }

    auto *channelBox = Tag(new QGroupBox("Number of channels", this), kIdChannelBox);
    mono_ = Tag(new QRadioButton("MONO", channelBox), kIdMono);
    stereo_ = Tag(new QRadioButton("STEREO", channelBox), kIdStereo);
    mono_->setChecked(shown.channels == 1);
    stereo_->setChecked(shown.channels == 2);
    auto *channelLayout = new QVBoxLayout(channelBox);
    channelLayout->addWidget(mono_);
    channelLayout->addWidget(stereo_);

    auto *bitsBox = Tag(new QGroupBox("Number of bits per sample", this), kIdBitsBox);
    bits8_ = Tag(new QRadioButton("8 BIT", bitsBox), kId8Bit);
    bits16_ = Tag(new QRadioButton("16 BIT", bitsBox), kId16Bit);
    bits8_->setChecked(shown.bits == 8);
    bits16_->setChecked(shown.bits == 16);
    auto *bitsLayout = new QVBoxLayout(bitsBox);
    bitsLayout->addWidget(bits8_);
    bitsLayout->addWidget(bits16_);

    auto *buttons = new QDialogButtonBox(this);
    Tag(buttons->addButton("&OK", QDialogButtonBox::AcceptRole), kIdOk)->setDefault(true);
    Tag(buttons->addButton("&Cancel", QDialogButtonBox::RejectRole), kIdCancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *lower = new QHBoxLayout;
    lower->addWidget(channelBox);
    lower->addWidget(bitsBox);
    auto *outer = new QVBoxLayout(this);
    outer->addWidget(rateBox);
    outer->addLayout(lower);
    outer->addWidget(buttons);
}

uint32_t RecordSettingsDialog::Format() const {
    RecordChoice choice;
    for (std::size_t i = 0; i < rates_.size(); ++i) {
        if (rates_[i]->isChecked()) choice.rate = static_cast<int>(i);
    }
    choice.channels = stereo_->isChecked() ? 2 : mono_->isChecked() ? 1 : 0;
    choice.bits = bits8_->isChecked() ? 8 : bits16_->isChecked() ? 16 : 0;
    return FormatFromChoice(choice);
}

} // namespace vntr::gui
