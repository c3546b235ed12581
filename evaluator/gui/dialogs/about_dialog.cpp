#include "gui/dialogs/about_dialog.hpp"

#include "gui/dialogs/control_ids.hpp"
#include "gui/logic/about_bar.hpp"
#include "gui/logic/layout.hpp"
#include "gui/window/pictures.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace vntr::gui {

// The sample bar: blue up to (5a + 30) / 4 units, white to 115 units,
// labelled like a result bar.
class AboutBar final : public QWidget {
public:
    explicit AboutBar(QWidget *parent) : QWidget(parent), layout_(fontMetrics().height()) {
        setFixedSize(layout_.Px(117), layout_.Px(5));
    }
    int Value() const { return a_; }
    void Step() {
        a_ = NextAboutValue(a_);
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter p(this);
        const QRect bar = rect().adjusted(layout_.Px(1), 1, -layout_.Px(1) - 1, -2);
        p.setPen(Qt::black);
        p.setBrush(Qt::white);
        p.drawRect(bar);
        const int blue = std::min(layout_.Px(AboutBluePartUnits(a_)), bar.width());
        p.fillRect(QRect(bar.left(), bar.top(), blue, bar.height() + 1), kBarBlue);
        const int pad = layout_.Px(1);
        p.drawText(bar.adjusted(0, 0, -pad, 0), Qt::AlignRight | Qt::AlignVCenter,
                   QString::fromStdString(AboutRatioLabel(a_)));
        p.drawText(QRect(bar.left() + blue + pad, bar.top(), bar.width(), bar.height() + 1),
                   Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(AboutRateLabel(a_)));
    }

private:
    Layout layout_;
    int a_ = kAboutStart;
};

AboutDialog::AboutDialog(QWidget *parent) : QDialog(parent) {
    setWindowTitle("About Vantre Quibell Evaluator...");
    auto *logo = new QLabel(this);
    logo->setPixmap(LogoPicture());
    logo->setAlignment(Qt::AlignCenter);
    auto *product = new QLabel("Vantre Quibell Evaluator", this);
    QFont bold = product->font();
    bold.setBold(true);
    product->setFont(bold);
    product->setAlignment(Qt::AlignCenter);
    auto *version = new QLabel("Version 5.00 for WIN32", this);
    version->setAlignment(Qt::AlignCenter);
    bar_ = new AboutBar(this);
    auto *ok = Tag(new QPushButton("&OK", this), kIdAboutOk);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, [this] {
        timer_.stop();
        accept();
    });
    connect(&timer_, &QTimer::timeout, this, [this] { bar_->Step(); });
    timer_.start(kAboutPeriodMs);

    auto *outer = new QVBoxLayout(this);
    outer->addWidget(logo);
    outer->addWidget(product);
    outer->addWidget(version);
    outer->addSpacing(fontMetrics().height() / 2);
    outer->addWidget(bar_, 0, Qt::AlignHCenter);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addStretch();
    outer->addLayout(buttons);
    setFixedSize(sizeHint());
}

int AboutDialog::BarValue() const {
    return bar_->Value();
}

} // namespace vntr::gui
