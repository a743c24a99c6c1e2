// The small notice at the bottom of the video area: the running work with
// its progress ("Cancel" for a conversion), and for a while the outcome.
// After a save it offers "Copy" and "Show in Folder", and the notice itself
// can be dragged out of the window as the file. It floats over the video
// and never changes the layout's sizes. An outcome stays while the pointer
// is on it.
//
// UI thread only; the widget only draws what statusMessage() decides.
#pragma once

#include "app/status_message.h"

#include <QTimer>
#include <QWidget>

#include <filesystem>

class QLabel;
class QEnterEvent;
class QHideEvent;
class QMouseEvent;
class QPushButton;

namespace kavlo {

class StatusOverlay : public QWidget {
    Q_OBJECT

  public:
    explicit StatusOverlay(QWidget* parent);

    void setNotice(const Notice& notice);
    // Shows `text` as a note in place of what is shown, until the session
    // says something new or its time is up.
    void showNote(const QString& text);
    // The rectangle (in the parent) to sit at the bottom of.
    void setArea(const QRect& area);

    // What is on screen now; none when hidden.
    std::optional<StatusMessage> shownMessage() const;

    // The saved file while its notice shows; empty otherwise.
    std::filesystem::path offeredFile() const;
    // Tells, on the Copy button, that the file is on the clipboard.
    void confirmCopied();

  signals:
    void showInFolder(const std::filesystem::path& file);
    void copyFile(const std::filesystem::path& file);
    void cancelRequested();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    void showMessage(const StatusMessage& message);
    void present();
    void place();

    QLabel* text_;
    QPushButton* copyButton_;
    QPushButton* folderButton_;
    QPushButton* cancelButton_;
    QPoint pressAt_;
    // On screen now, and waiting for its delay: a quick piece of work
    // never replaces what is shown.
    std::optional<StatusMessage> shown_;
    std::optional<StatusMessage> pending_;
    QRect area_;
    QTimer delay_;
    QTimer expiry_;
    bool pointerInside_ = false;
    // Its time ran out with the pointer on it.
    bool heldByPointer_ = false;
};

} // namespace kavlo
