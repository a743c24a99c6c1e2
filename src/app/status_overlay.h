// The small notice at the bottom of the video area: the running work with
// its progress, and for a while the outcome, with "Show in Folder" after a
// save. It floats over the video and never changes the layout's sizes.
//
// UI thread only; the widget only draws what statusMessage() decides.
#pragma once

#include "app/status_message.h"

#include <QTimer>
#include <QWidget>

#include <filesystem>

class QLabel;
class QPushButton;

namespace kavlo {

class StatusOverlay : public QWidget {
    Q_OBJECT

  public:
    explicit StatusOverlay(QWidget* parent);

    void setState(const QString& status, bool busy, double progress);
    // A finished save; "Show in Folder" is offered while its "Saved" notice shows.
    void setSavedFile(const std::filesystem::path& file);
    // Shows `text` as a note in place of what is shown, until the session
    // says something new or its time is up.
    void showNote(const QString& text);
    // The rectangle (in the parent) to sit at the bottom of.
    void setArea(const QRect& area);

    // What is on screen now; none when hidden.
    std::optional<StatusMessage> shownMessage() const;

  signals:
    void showInFolder(const std::filesystem::path& file);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void showMessage(const StatusMessage& message);
    void present();
    void place();

    QLabel* text_;
    QPushButton* folderButton_;
    // On screen now, and waiting for its delay: a quick piece of work
    // never replaces what is shown.
    std::optional<StatusMessage> shown_;
    std::optional<StatusMessage> pending_;
    std::filesystem::path savedFile_;
    QRect area_;
    QTimer delay_;
    QTimer expiry_;
};

} // namespace kavlo
