// The timeline demo's window: the bar with its read-out row, and a row of
// panel-styled controls, laid out like the main window's control stack.
#pragma once

#include "session/selection.h"
#include "timeline/panel_button_style.h"
#include "timeline/timeline_types.h"

#include <QWidget>

#include <vector>

class QLabel;
class QTimer;

namespace kavlo {

class TimelineBar;

struct DemoOptions {
    double duration = 10;
    bool loaded = true;
    bool thumbnails = true;
};

// Thumbnails whose picture shows their own time over a colour that changes
// with it, so that a tile's choice of thumbnail can be read off a screenshot.
std::vector<TimelineThumbnail> makeDemoThumbnails(double duration, int count);

class DemoWindow : public QWidget {
  public:
    explicit DemoWindow(const DemoOptions& options);

  private:
    void pushInputs();
    void advancePlayhead();

    DemoOptions options_;
    Selection selection_;
    std::vector<TimelineThumbnail> thumbnails_;
    double playhead_ = 0;
    double playheadStep_ = 1.0 / 30;
    PanelButtonStyle panelStyle_;
    LargePanelButtonStyle largeStyle_;
    TimelineBar* bar_;
    QLabel* startLabel_;
    QLabel* endLabel_;
    QTimer* timer_;
};

} // namespace kavlo
