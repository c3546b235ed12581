// A square button drawn from its three pictures: up, down while pressed,
// and disabled.  Its command identifier is kept as the property "command".
#pragma once

#include "gui/window/pictures.hpp"

#include <QAbstractButton>

#include <array>

namespace vntr::gui {

class ToolButton final : public QAbstractButton {
    Q_OBJECT
public:
    ToolButton(int command, Glyph glyph, QWidget *parent);

    int CommandId() const { return command_; }
    Glyph CurrentGlyph() const { return glyph_; }
    // Changes the picture (a play button shows the stop picture while playing).
    void SetGlyph(Glyph glyph);
    QSize sizeHint() const override { return size(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void MakePictures();

    int command_;
    Glyph glyph_;
    std::array<QPixmap, 3> pictures_; // up, down, disabled
};

} // namespace vntr::gui
