// ContentView: the whole content of a main window. From top to bottom, the
// video area (the video's shape, as large as fits) and the control stack:
// the timeline with its read-outs, and the row of Select Video, the speed
// menu, Export as MP4 (with its loop counts) and Export as GIF. A welcome
// overlay covers it until a video is loaded; Ctrl+L marks a frame; a small
// notice over the video area tells what runs and how it ended.
//
// The view only shows what it is given and reports what the user asks for:
// setters in, signals out. MainWindow wires it to the session.
//
// UI thread only.
#pragma once

#include "player/pixel_size.h"
#include "session/notice.h"
#include "timeline/timeline_geometry.h"

#include <QUrl>
#include <QWidget>

#include <filesystem>
#include <memory>

class QLabel;
class QPushButton;
class QToolButton;
class QGraphicsOpacityEffect;

namespace kavlo {

class FrameSource;
class LargePanelButtonStyle;
class PanelButtonStyle;
class ShareMenu;
class StatusOverlay;
class TimelineBar;
class VideoArea;
class WelcomeOverlay;

class ContentView : public QWidget {
    Q_OBJECT

  public:
    explicit ContentView(QWidget* parent = nullptr);
    ~ContentView() override;

    // The session's published state.
    void setPictureSources(FrameSource* preview, FrameSource* scrub);
    void setLoaded(bool loaded);
    void setSelection(double duration, double start, double end);
    void setPlayhead(double playhead);
    void setThumbnails(std::vector<TimelineThumbnail> thumbnails);
    void setVideoAspect(double aspect);
    void setBusy(bool busy);
    void setExportSpeed(double speed);
    void setScrubOverlayVisible(bool visible);
    void setNotice(const Notice& notice);
    // A word of the window's own over the video, for a few seconds.
    void showNote(const QString& text);

    // Where the video area sits, in this view's coordinates.
    QRect videoAreaRect() const;
    // The parts, for tests and tools to look at and press.
    VideoArea* videoArea() const { return videoArea_; }
    TimelineBar* timeline() const { return timeline_; }
    QWidget* controlStack() const { return controls_; }
    WelcomeOverlay* welcome() const { return welcome_; }
    StatusOverlay* statusOverlay() const { return status_; }
    QPushButton* selectVideoButton() const { return selectVideo_; }
    QToolButton* speedMenu() const { return speed_; }
    QToolButton* exportMP4Menu() const { return exportMP4_; }
    QPushButton* exportGIFButton() const { return exportGIF_; }
    ShareMenu* shareMenu() const { return share_; }
    QLabel* startReadout() const { return startLabel_; }
    QLabel* endReadout() const { return endLabel_; }

  signals:
    void chooseVideoRequested();
    void loadExampleRequested();
    void trimRequested(TrimHandle handle, double time, bool dragging);
    void moveLoopRequested(double start, bool dragging);
    void speedChosen(double speed);
    void exportMP4Requested(int loops);
    void exportGIFRequested();
    void markFrameRequested();
    void openUrlRequested(const QUrl& url);
    void showInFolderRequested(const std::filesystem::path& file);
    void cancelLoadRequested();
    // The video area's size in device pixels changed.
    void videoAreaPixelSizeChanged(PixelSize size);
    // One tile of the timeline's strip in device pixels changed.
    void thumbnailPixelSizeChanged(PixelSize size);

  protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    QWidget* buildControlStack();
    QToolButton* panelMenu(const QString& text);
    void layOut();
    void pushTimeline();
    void updateEnabled();
    void reportVideoAreaPixels();
    void copyFile(const std::filesystem::path& file);

    std::unique_ptr<PanelButtonStyle> panelStyle_;
    std::unique_ptr<LargePanelButtonStyle> largeStyle_;

    VideoArea* videoArea_;
    QWidget* controls_;
    TimelineBar* timeline_;
    QLabel* startLabel_;
    QLabel* endLabel_;
    QPushButton* selectVideo_;
    QToolButton* speed_;
    QToolButton* exportMP4_;
    QPushButton* exportGIF_;
    ShareMenu* share_;
    QGraphicsOpacityEffect* controlsDim_;
    WelcomeOverlay* welcome_;
    StatusOverlay* status_;

    TimelineBarInputs inputs_;
    double videoAspect_ = 16.0 / 9.0;
    bool loaded_ = false;
    bool busy_ = false;
    double exportSpeed_ = 1.0;
    PixelSize reportedPixels_;
    PixelSize reportedTilePixels_;
};

} // namespace kavlo
