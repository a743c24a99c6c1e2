// KavloApp: the application's windows. It opens the first one, another on
// Ctrl+N, hands a file the desktop asks to open (a later launch, over the
// single-instance socket) to the most recently active window, and asks
// before quitting or closing a window while an export runs.
//
// UI thread only.
#pragma once

#include "app/main_window.h"

#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>

namespace kavlo {

// The application's own services: the real players, QFileDialog panels,
// the update endpoint of the information dictionary, the shared analytics,
// and questions asked with message boxes.
WindowServices applicationServices(std::optional<std::filesystem::path> launchArgument);

// A modal warning whose confirmation stops running work: true when the user
// confirms, and also when `stillRunning` turns false while it is open, since
// nothing is lost then and what the user asked for may go ahead.
bool askToStopWork(QWidget* parent, const QString& title, const QString& text,
                   const QString& confirm, const std::function<bool()>& stillRunning);

class KavloApp : public QObject {
    Q_OBJECT

  public:
    explicit KavloApp(WindowServices services, QObject* parent = nullptr);
    ~KavloApp() override;

    // Opens and shows a new window.
    MainWindow* newWindow();
    // Loads `file` as "open_with" in the most recently active window, or in
    // a new one when none is open.
    void openWith(const std::filesystem::path& file);
    // Quits, after asking when exports run.
    void quit();

    // The open windows, the most recently active first.
    QList<MainWindow*> windows() const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    WindowServices services_;
    // Most recently active first; closed windows leave null entries behind.
    // Held as widgets: a window that is being destroyed is no MainWindow any
    // more.
    QList<QPointer<QWidget>> windows_;
};

} // namespace kavlo
