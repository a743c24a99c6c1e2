#include "app/welcome_overlay.h"

#include "app/appearance.h"
#include "app/infinity_mark.h"
#include "timeline/panel_button_style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace kavlo {

namespace {

class MarkView : public QWidget {
  public:
    explicit MarkView(QWidget* parent) : QWidget(parent) { setFixedSize(46, 24); }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        paintInfinityMark(painter, QRectF(rect()));
    }
};

} // namespace

WelcomeOverlay::WelcomeOverlay(LargePanelButtonStyle* style, QWidget* parent) : QWidget(parent) {
    auto* title = new QLabel(QStringLiteral("Welcome to Kavlo"), this);
    title->setFont(titleFont(title->font()));
    QPalette palette = title->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    title->setPalette(palette);

    const QUrl site(QString::fromLatin1(kVendorSite));
    link_ = new QLabel(this);
    link_->setTextFormat(Qt::RichText);
    link_->setText(
        QStringLiteral("<a href=\"%1\" style=\"color: %2; text-decoration: none;\">%3</a>")
            .arg(site.toString(), kSecondaryText.name(QColor::HexArgb), site.host()));
    link_->setFont(captionFont(link_->font()));
    link_->setCursor(Qt::PointingHandCursor);
    connect(link_, &QLabel::linkActivated, this,
            [this](const QString& url) { emit linkActivated(QUrl(url)); });

    selectVideo_ = new QPushButton(QStringLiteral("Select Video"), this);
    example_ = new QPushButton(QStringLiteral("Load Example Video"), this);
    for (QPushButton* button : {selectVideo_, example_}) {
        button->setStyle(style);
        button->setCursor(Qt::PointingHandCursor);
    }
    connect(selectVideo_, &QPushButton::clicked, this, &WelcomeOverlay::selectVideoClicked);
    connect(example_, &QPushButton::clicked, this, &WelcomeOverlay::loadExampleClicked);

    auto* heading = new QVBoxLayout;
    heading->setSpacing(4);
    heading->setContentsMargins(0, 0, 0, 8);
    heading->addWidget(title, 0, Qt::AlignHCenter);
    heading->addWidget(link_, 0, Qt::AlignHCenter);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(12);
    buttons->addWidget(selectVideo_);
    buttons->addWidget(example_);

    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(12);
    stack->addStretch();
    stack->addWidget(new MarkView(this), 0, Qt::AlignHCenter);
    stack->addLayout(heading);
    stack->addLayout(buttons);
    stack->setAlignment(buttons, Qt::AlignHCenter);
    stack->addStretch();
}

} // namespace kavlo
