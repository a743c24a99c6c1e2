// What the window's notice over the video says, published by the Model
// beside its status text: what runs or how it ended, its progress, and the
// file it concerns. The view draws it as it is; it never reads the status.
#pragma once

#include <QString>

#include <filesystem>
#include <optional>

namespace kavlo {

struct Notice {
    enum class Kind {
        none,       // nothing to say
        opening,    // a load reads the file
        converting, // ffmpeg converts it; the user may cancel
        previewing, // the smooth preview renders (shown only when it takes a while)
        exporting,  // one or more exports run
        saved,      // an export wrote `file`
        failed,     // a load, a preview or an export failed
        marked,     // Ctrl+L marked a frame or restored the selection
    };

    Kind kind = Kind::none;
    QString text;
    std::optional<double> progress;            // 0...1, when known
    std::optional<std::filesystem::path> file; // the file it concerns

    bool operator==(const Notice&) const = default;
};

} // namespace kavlo
