#include "app/status_overlay.h"

#include "app/appearance.h"
#include "app/file_handover.h"

#include <QApplication>
#include <QDrag>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

#include <algorithm>
#include <utility>

namespace kavlo {

namespace {

const QColor kFailureText = QColor(255, 150, 140);
constexpr int kBottomGap = 12;
constexpr int kProgressHeight = 3;
// How long a notice whose time ran out while the pointer was on it stays
// once the pointer leaves.
constexpr int kAfterPointerLeftMs = 1500;

bool sameNotice(const std::optional<StatusMessage>& a, const StatusMessage& b) {
    return a && a->kind == b.kind && a->subject == b.subject && a->file == b.file &&
           a->cancellable == b.cancellable;
}

QPushButton* linkButton(const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(
        QStringLiteral("QPushButton { color: %1; border: none; padding: 0; font-weight: 600; }")
            .arg(kAccent.name()));
    return button;
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
    copyButton_ = linkButton(QStringLiteral("Copy"), this);
    copyButton_->setToolTip(QStringLiteral("Copy the file (Ctrl+C), or drag this notice out"));
    folderButton_ = linkButton(QStringLiteral("Show in Folder"), this);
    cancelButton_ = linkButton(QStringLiteral("Cancel"), this);
    connect(copyButton_, &QPushButton::clicked, this, [this] { emit copyFile(offeredFile()); });
    connect(folderButton_, &QPushButton::clicked, this,
            [this] { emit showInFolder(offeredFile()); });
    connect(cancelButton_, &QPushButton::clicked, this, &StatusOverlay::cancelRequested);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 7, 12, 7 + kProgressHeight);
    layout->setSpacing(12);
    layout->addWidget(text_, 1);
    layout->addWidget(copyButton_);
    layout->addWidget(folderButton_);
    layout->addWidget(cancelButton_);

    delay_.setSingleShot(true);
    expiry_.setSingleShot(true);
    connect(&delay_, &QTimer::timeout, this, [this] {
        if (pending_)
            showMessage(*std::exchange(pending_, std::nullopt));
    });
    connect(&expiry_, &QTimer::timeout, this, [this] {
        // A notice under the pointer is being read or about to be used:
        // it goes only once the pointer has left it.
        if (pointerInside_) {
            heldByPointer_ = true;
            return;
        }
        shown_.reset();
        present();
    });
    hide();
}

void StatusOverlay::setNotice(const Notice& notice) {
    const std::optional<StatusMessage> next = statusMessage(notice);
    if (next && sameNotice(shown_, *next)) {
        // Only the bar and the percentage move.
        shown_->progress = next->progress;
        if (shown_->text != next->text) {
            shown_->text = next->text;
            text_->setText(next->text);
            place();
        }
        update();
        return;
    }
    if (next && sameNotice(pending_, *next)) {
        pending_ = next;
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
    heldByPointer_ = false;
    expiry_.stop();
    if (message.showForMs > 0)
        expiry_.start(message.showForMs);
    present();
}

std::filesystem::path StatusOverlay::offeredFile() const {
    const std::optional<StatusMessage> shown = shownMessage();
    return shown && shown->kind == StatusMessage::Kind::saved ? shown->file
                                                              : std::filesystem::path();
}

void StatusOverlay::confirmCopied() {
    copyButton_->setText(QStringLiteral("Copied"));
    place();
}

void StatusOverlay::enterEvent(QEnterEvent* event) {
    pointerInside_ = true;
    QWidget::enterEvent(event);
}

void StatusOverlay::leaveEvent(QEvent* event) {
    pointerInside_ = false;
    if (std::exchange(heldByPointer_, false))
        expiry_.start(kAfterPointerLeftMs);
    QWidget::leaveEvent(event);
}

void StatusOverlay::hideEvent(QHideEvent* event) {
    pointerInside_ = heldByPointer_ = false;
    QWidget::hideEvent(event);
}

void StatusOverlay::mousePressEvent(QMouseEvent* event) {
    pressAt_ = event->position().toPoint();
    QWidget::mousePressEvent(event);
}

void StatusOverlay::mouseMoveEvent(QMouseEvent* event) {
    const std::filesystem::path file = offeredFile();
    if (file.empty() || !(event->buttons() & Qt::LeftButton) ||
        (event->position().toPoint() - pressAt_).manhattanLength() <
            QApplication::startDragDistance())
        return QWidget::mouseMoveEvent(event);
    auto* drag = new QDrag(this);
    drag->setMimeData(fileMimeData(file).release());
    drag->exec(Qt::CopyAction);
}

void StatusOverlay::showNote(const QString& text) {
    pending_.reset();
    delay_.stop();
    StatusMessage note;
    note.kind = StatusMessage::Kind::note;
    note.text = note.subject = text;
    note.showForMs = kSavedShowMs;
    showMessage(note);
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
    const bool offerFile = shown_->kind == StatusMessage::Kind::saved && !shown_->file.empty();
    copyButton_->setText(QStringLiteral("Copy"));
    copyButton_->setVisible(offerFile);
    folderButton_->setVisible(offerFile);
    cancelButton_->setVisible(shown_->cancellable);
    // The notice is the file: it can be dragged out.
    setCursor(offerFile ? Qt::OpenHandCursor : Qt::ArrowCursor);
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
    int buttonWidth = 0;
    int buttonHeight = 0;
    for (QPushButton* button : {copyButton_, folderButton_, cancelButton_}) {
        if (!button->isVisibleTo(this))
            continue;
        buttonWidth += button->sizeHint().width() + layout()->spacing();
        buttonHeight = std::max(buttonHeight, button->sizeHint().height());
    }
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
                 buttonHeight) +
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
