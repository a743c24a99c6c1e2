#include "app/status_overlay.h"

#include "app/appearance.h"

#include <QFile>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

#include <algorithm>

namespace kavlo {

namespace {

const QColor kFailureText = QColor(255, 150, 140);
constexpr int kBottomGap = 12;
constexpr int kProgressHeight = 3;

bool sameNotice(const std::optional<StatusMessage>& a, const StatusMessage& b) {
    return a && a->kind == b.kind && a->text == b.text;
}

// The width of the longest line: a converter's message may have several.
int widestLine(const QFontMetrics& metrics, const QString& text) {
    int widest = 0;
    for (const QString& line : text.split(u'\n'))
        widest = std::max(widest, metrics.horizontalAdvance(line));
    return widest;
}

} // namespace

StatusOverlay::StatusOverlay(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
    text_ = new QLabel(this);
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
        if (pending_)
            showMessage(*std::exchange(pending_, std::nullopt));
    });
    connect(&expiry_, &QTimer::timeout, this, [this] {
        shown_.reset();
        present();
    });
    hide();
}

void StatusOverlay::setState(const QString& status, bool busy, double progress) {
    const std::optional<StatusMessage> next = statusMessage(status, busy, progress);
    if (next && sameNotice(shown_, *next)) {
        shown_->progress = next->progress; // only the bar moves
        update();
        return;
    }
    if (next && sameNotice(pending_, *next)) {
        pending_->progress = next->progress;
        return;
    }
    pending_.reset();
    delay_.stop();
    if (!next) {
        // The work has ended; an outcome or a note stays for its time.
        if (shown_ && shown_->kind == StatusMessage::Kind::working) {
            shown_.reset();
            present();
        }
        return;
    }
    if (next->delayMs > 0) {
        pending_ = next;
        delay_.start(next->delayMs);
        return;
    }
    showMessage(*next);
}

void StatusOverlay::showMessage(const StatusMessage& message) {
    shown_ = message;
    expiry_.stop();
    if (message.showForMs > 0)
        expiry_.start(message.showForMs);
    present();
}

void StatusOverlay::setSavedFile(const std::filesystem::path& file) {
    savedFile_ = file;
    present();
}

void StatusOverlay::showNote(const QString& text) {
    pending_.reset();
    delay_.stop();
    showMessage({StatusMessage::Kind::note, text, {}, 0, kSavedShowMs});
}

void StatusOverlay::setArea(const QRect& area) {
    area_ = area;
    place();
}

std::optional<StatusMessage> StatusOverlay::shownMessage() const {
    return isVisibleTo(parentWidget()) ? shown_ : std::nullopt;
}

void StatusOverlay::present() {
    if (!shown_) {
        hide();
        return;
    }
    text_->setText(shown_->text);
    QPalette palette = text_->palette();
    palette.setColor(QPalette::WindowText,
                     shown_->kind == StatusMessage::Kind::failed ? kFailureText : Qt::white);
    text_->setPalette(palette);
    const bool offerFolder =
        shown_->kind == StatusMessage::Kind::saved && !savedFile_.empty() &&
        savedFileName(shown_->text) ==
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
    const int textRoom = std::max(maxWidth - margins.left() - margins.right() - buttonWidth, 40);
    const int advance = widestLine(text_->fontMetrics(), text_->text()) + 1;
    // Wrapping labels break early; a text that fits is laid out unwrapped.
    text_->setWordWrap(advance > textRoom);
    const int textWidth = std::min(advance, textRoom);
    text_->setFixedWidth(textWidth);
    const int width = margins.left() + textWidth + buttonWidth + margins.right();
    const int height =
        std::max(text_->wordWrap() ? text_->heightForWidth(textWidth) : text_->sizeHint().height(),
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
    if (shown_ && shown_->progress) {
        painter.setClipPath(shape);
        const QRectF track(0, height() - kProgressHeight, width(), kProgressHeight);
        painter.fillRect(track, QColor(255, 255, 255, 50));
        painter.fillRect(
            QRectF(track.topLeft(), QSizeF(track.width() * *shown_->progress, track.height())),
            kAccent);
    }
}

} // namespace kavlo
