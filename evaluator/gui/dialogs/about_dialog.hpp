// "About Vantre Quibell Evaluator...": the logo, the product line and a
// sample result bar that shrinks every half second.
#pragma once

#include <QDialog>
#include <QTimer>

namespace vntr::gui {

class AboutBar;

class AboutDialog final : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget *parent = nullptr);

    int BarValue() const;
    bool Animating() const { return timer_.isActive(); }

private:
    AboutBar *bar_;
    QTimer timer_;
};

} // namespace vntr::gui
