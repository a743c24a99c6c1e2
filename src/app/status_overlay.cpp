#include "app/status_overlay.h"

#include "app/appearance.h"

#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

namespace kavlo {

namespace {

const QColor kFailureText = QColor(255, 150, 140);
constexpr int kBottomGap = 12;
constexpr int kProgressHeight = 3;

} // namespace

StatusOverlay::StatusOverlay(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
    text_ = new QLabel(this);
    text_->setWordWrap(true);
    text_->setTextFormat(Qt::PlainText);
    folderButton_ = new QPushButton(QStringLiteral("Show in Folder"), this);
    folderButton_->setFlat(true);
    folderButton_->setCursor(Qt::PointingHandCursor);
    folderButton_->setStyleSheet(
        QStringLiteral("QPushButton { color: %1; border: none; padding: 0; font-weight: 600; }")
            .arg(kAccent.name()));
    connect(folderButton_, &QPushButton::clicked, this, [this] { emit showInFolder(savedFile_); });

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 7, 12, 7 + kProgressHeight);
    layout->setSpacing(12);
    layout->addWidget(text_, 1);
    layout->addWidget(folderButton_);

    delay_.setSingleShot(true);
    expiry_.setSingleShot(true);
    connect(&delay_, &QTimer::timeout, this, [this] {
        due_ = true;
        present();
    });
    connect(&expiry_, &QTimer::timeout, this, [this] {
        expired_ = true;
        present();
    });
    hide();
}

void StatusOverlay::setState(const QString& status, bool busy, double progress) {
    const std::optional<StatusMessage> next = statusMessage(status, busy, progress);
    const bool sameNotice =
        next && message_ && next->kind == message_->kind && next->text == message_->text;
    if (sameNotice) {
        message_->progress = next->progress; // only the bar moves
        update();
        return;
    }
    message_ = next;
    due_ = !message_ || message_->delayMs == 0;
    expired_ = false;
    delay_.stop();
    expiry_.stop();
    if (message_ && message_->delayMs > 0)
        delay_.start(message_->delayMs);
    if (message_ && message_->showForMs > 0)
        expiry_.start(message_->delayMs + message_->showForMs);
    present();
}

void StatusOverlay::setSavedFile(const std::filesystem::path& file) {
    savedFile_ = file;
    present();
}

void StatusOverlay::setArea(const QRect& area) {
    area_ = area;
    place();
}

std::optional<StatusMessage> StatusOverlay::shownMessage() const {
    return isVisibleTo(parentWidget()) ? message_ : std::nullopt;
}

void StatusOverlay::present() {
    if (!message_ || !due_ || expired_) {
        hide();
        return;
    }
    text_->setText(message_->text);
    QPalette palette = text_->palette();
    palette.setColor(QPalette::WindowText,
                     message_->kind == StatusMessage::Kind::failed ? kFailureText : Qt::white);
    text_->setPalette(palette);
    const bool offerFolder =
        message_->kind == StatusMessage::Kind::saved && !savedFile_.empty() &&
        savedFileName(message_->text) ==
            QFile::decodeName(QByteArray::fromStdString(savedFile_.filename().string()));
    folderButton_->setVisible(offerFolder);
    place();
    show();
    raise();
    update();
}

void StatusOverlay::place() {
    if (area_.isEmpty())
        return;
    const int maxWidth = std::max(area_.width() - 2 * kBottomGap, 120);
    const QMargins margins = layout()->contentsMargins();
    const int buttonWidth = folderButton_->isVisibleTo(this)
                                ? folderButton_->sizeHint().width() + layout()->spacing()
                                : 0;
    // One line when it fits; wrapped within the video area when not.
    const int textRoom = maxWidth - margins.left() - margins.right() - buttonWidth;
    const int textWidth =
        std::min(text_->fontMetrics().horizontalAdvance(text_->text()) + 1, std::max(textRoom, 40));
    text_->setFixedWidth(textWidth);
    const int width = margins.left() + textWidth + buttonWidth + margins.right();
    const int height =
        std::max(text_->heightForWidth(textWidth),
                 folderButton_->isVisibleTo(this) ? folderButton_->sizeHint().height() : 0) +
        margins.top() + margins.bottom();
    setGeometry(area_.x() + (area_.width() - width) / 2, area_.bottom() - kBottomGap - height,
                width, height);
}

void StatusOverlay::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 8, 8);
    painter.fillPath(shape, QColor(0, 0, 0, 190));
    painter.setPen(QColor(255, 255, 255, 40));
    painter.drawPath(shape);
    if (message_ && message_->progress) {
        painter.setClipPath(shape);
        const QRectF track(0, height() - kProgressHeight, width(), kProgressHeight);
        painter.fillRect(track, QColor(255, 255, 255, 50));
        painter.fillRect(
            QRectF(track.topLeft(), QSizeF(track.width() * *message_->progress, track.height())),
            kAccent);
    }
}

} // namespace kavlo
