#include "gui/window/tool_button.hpp"

#include <QPainter>
#include <QResizeEvent>

namespace vntr::gui {

ToolButton::ToolButton(int command, Glyph glyph, QWidget *parent)
    : QAbstractButton(parent), command_(command), glyph_(glyph) {
    setProperty("command", command);
    setObjectName(QStringLiteral("button%1").arg(command));
    setFocusPolicy(Qt::NoFocus);
    MakePictures();
}

void ToolButton::SetGlyph(Glyph glyph) {
    if (glyph == glyph_) return;
    glyph_ = glyph;
    MakePictures();
    update();
}

void ToolButton::MakePictures() {
    const int side = std::max(width(), 8);
    pictures_[0] = ButtonPicture(glyph_, ButtonLook::Up, side);
    pictures_[1] = ButtonPicture(glyph_, ButtonLook::Down, side);
    pictures_[2] = ButtonPicture(glyph_, ButtonLook::Disabled, side);
}

void ToolButton::resizeEvent(QResizeEvent *event) {
    QAbstractButton::resizeEvent(event);
    MakePictures();
}

void ToolButton::paintEvent(QPaintEvent *) {
    QPainter p(this);
    const std::size_t look = !isEnabled() ? 2 : isDown() ? 1 : 0;
    p.drawPixmap(rect(), pictures_[look]);
}

} // namespace vntr::gui
