// Identifiers of the dialogs' controls.  Each control carries its number as
// its object name "id<number>", so that code and tests find it by number.
#pragma once

#include <QString>
#include <QWidget>

namespace vntr::gui {

enum ControlId : int {
    kIdOk = 1,
    kIdCancel = 2,
    // Select Codecs
    kIdUnselectedList = 518,
    kIdSelectedList = 519,
    kIdSelect = 528,
    kIdDeselect = 529,
    // Codec options
    kIdCodecName = 1703,
    kIdGeneralGroup = 107,
    kIdRateGroup = 108,
    kIdVad = 530,
    kId4800 = 1360,
    kId6400 = 1361,
    // Record settings
    kIdRateBox = 100,
    kIdChannelBox = 101,
    kIdBitsBox = 102,
    kIdRate8k = 1280, // ... to 1288 for 48 kHz
    kIdMono = 1328,
    kIdStereo = 1329,
    kId8Bit = 1344,
    kId16Bit = 1345,
    // About
    kIdAboutOk = 514,
};

inline QString ControlName(int id) {
    return QStringLiteral("id%1").arg(id);
}

template <class W>
W *Tag(W *widget, int id) {
    widget->setObjectName(ControlName(id));
    return widget;
}

} // namespace vntr::gui
