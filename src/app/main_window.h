// MainWindow: one window of the application. Its content is ContentView;
// it owns the window's Model, WindowContourController and UpdateChecker for
// its whole life, and wires the view to the session: the session's
// published state into the view, the view's requests into the session's
// operations.
//
// When it first appears it starts the analytics session and the update
// check and opens the launch argument, once per window. Closing it while
// one of its exports runs asks first.
//
// UI thread only.
#pragma once

#include "analytics/analytics_event.h"

#include <QWidget>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

namespace kavlo {

class ContentView;
class FilePanels;
class Model;
class ExportEstimates;
class UpdateChecker;
class WindowContourController;
class WindowContourView;
enum class VideoLoadSource;

// What a window takes from the application; tests pass their own.
struct WindowServices {
    // The file passed at launch; none: nothing is opened.
    std::optional<std::filesystem::path> launchArgument;
    // The window's session, given the window's open and save panels.
    std::function<std::unique_ptr<Model>(FilePanels* panels)> makeModel;
    // The panels for a window; empty: QFileDialog over the window.
    std::function<std::unique_ptr<FilePanels>(QWidget* window)> makePanels;
    std::function<std::unique_ptr<UpdateChecker>()> makeUpdateChecker;
    std::function<void(const UsageEvent&)> track;
    std::function<void()> startAnalyticsSession;
    std::function<bool(const QUrl&)> openUrl;
    // Asked before a window whose session runs an export closes; true:
    // close. The session is passed so that the question can follow it.
    std::function<bool(QWidget* window, const Model& session)> confirmClose;
};

class MainWindow : public QWidget {
    Q_OBJECT

  public:
    explicit MainWindow(const WindowServices& services, QWidget* parent = nullptr);
    ~MainWindow() override;

    Model& model() const { return *model_; }
    ContentView& content() const { return *content_; }
    UpdateChecker& updateChecker() const { return *updateChecker_; }
    WindowContourController& contour() const { return *contour_; }

    void loadVideo(const std::filesystem::path& file, VideoLoadSource source);
    // Closes without asking (the application has asked already).
    void closeWithoutAsking();

  signals:
    // Ctrl+N and Ctrl+Q, for the application to act on.
    void newWindowRequested();
    void quitRequested();

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void bindModel();
    void bindContent();
    // The export choices' expected sizes and the preset menu.
    void bindEstimates();
    void firstAppearance();
    void chooseSpeed(double speed);
    void showInFolder(const std::filesystem::path& file);

    const WindowServices& services_;
    std::unique_ptr<FilePanels> panels_;
    std::unique_ptr<WindowContourController> contour_;
    std::unique_ptr<UpdateChecker> updateChecker_;
    ContentView* content_;
    WindowContourView* contourView_;
    std::unique_ptr<Model> model_;
    ExportEstimates* estimates_ = nullptr;
    bool loadedInitialArgument_ = false;
    bool closingWithoutAsking_ = false;
};

} // namespace kavlo
