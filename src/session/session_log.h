// The session's lines in the application log (qtutil/log_categories.h):
// loads, and previews and exports with their settings, sizes and times.
// The renderer knows no Qt, so the session logs around its calls. Lines name
// the user's files; analytics events never do. Any thread may call these.
#pragma once

#include "analytics/event_catalog.h"
#include "render/render_types.h"

#include <QString>

#include <chrono>
#include <exception>
#include <filesystem>

namespace kavlo {

struct PlayableSource;
struct VideoProbe;

// An error as the log shows it: its message, then its domain and code
// ("No video track found. [Kavlo 12]").
QString logText(const std::exception& error);

void logLoadStarted(const std::filesystem::path& file, VideoLoadSource source);
void logLoadSucceeded(const std::filesystem::path& opened, const PlayableSource& playable,
                      const VideoProbe& probe);
// A Cancelled one is a debug line; anything else a warning.
void logLoadFailed(const std::filesystem::path& file, std::exception_ptr error);

// One render, from its settings to how it ended. Made when it starts.
class RenderLog {
  public:
    struct Settings {
        const char* kind = "Preview"; // "Preview", "MP4 export", "GIF export", ...
        std::filesystem::path source;
        std::filesystem::path output;
        double trimStart = 0;
        double trimEnd = 0;
        double speed = 1;
        int loops = 1;
        RenderSize fitWithin; // {0, 0}: the source's own size
    };

    explicit RenderLog(Settings settings);

    void succeeded(const RenderResult& result) const;
    // A Cancelled one is a debug line; anything else a warning.
    void failed(std::exception_ptr error) const;

  private:
    double elapsedSeconds() const;

    Settings settings_;
    std::chrono::steady_clock::time_point started_;
};

} // namespace kavlo
