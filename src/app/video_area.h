// The video area of the main window: black, with rounded corners, showing
// the looping preview and, stacked on top while the user scrubs or drags a
// handle, the scrub player's frame. Plain black while no video is loaded.
//
// UI thread only.
#pragma once

#include <QWidget>

namespace kavlo {

class FrameSource;
class VideoView;

inline constexpr double kVideoCornerRadius = 8;

class VideoArea : public QWidget {
    Q_OBJECT

  public:
    explicit VideoArea(QWidget* parent = nullptr);

    void setSources(FrameSource* preview, FrameSource* scrub);
    // Without a video the area is plain black.
    void setLoaded(bool loaded);
    // The scrub surface at full opacity above the preview, or not shown.
    void setScrubVisible(bool visible);

    VideoView* previewView() const { return preview_; }
    VideoView* scrubView() const { return scrub_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    VideoView* preview_;
    VideoView* scrub_;
    QWidget* corners_; // paints the rounded corners over the pictures
    bool loaded_ = false;
    bool scrubVisible_ = false;
};

} // namespace kavlo
