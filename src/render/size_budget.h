// Exports that fit where they are going: a byte budget, the limits of a
// preset, and the size a file will have before it is written.
//
// A budget is met by choosing settings in a fixed order: quality is given up
// first, then frame rate, then picture size, never beyond what the limits
// allow and never above the source. The choice is made on a model learnt
// from a few short runs of pictures spread over the cycle and encoded the
// way the export encodes them; the model is corrected by every full encode,
// so most exports need one and a few two. Two that fall either side of the
// budget at one frame rate and size give a third between them. A file is
// never kept over its budget.
//
// Runs on the calling thread; throws Error on failure and Cancelled when
// `stop` is requested. Never Qt.
#pragma once

#include "core/export_format.h"
#include "render/presets.h"
#include "render/render_export.h"
#include "render/render_types.h"

#include <cstdint>
#include <filesystem>
#include <stop_token>
#include <string>
#include <vector>

namespace kavlo {

// How one file is encoded, beyond what the session hands every export.
struct BudgetSettings {
    ExportFormat format = ExportFormat::mp4;
    // 0: the export's own quality; 1: the lowest a budget may bring it to
    // (x264's CRF 18 to 34; for GIF fewer colours, less dithering and more
    // of the unchanged area kept).
    double quality = 0;
    // At most this many pictures a second; 0: as the source and speed give.
    double maxFrameRate = 0;
    // The picture fits inside this box; {0, 0}: the source's own size.
    RenderSize fitWithin;
    // The file's size with the picture centred in it and transparent
    // margins; {0, 0}: the picture's size.
    RenderSize canvas;
    bool sound = true;
};

// What a preset (or nothing) limits, and what it lets a budget take away.
struct ExportLimits {
    RenderSize maxSize;
    bool squareCanvas = false;
    bool fixedSize = false;
    double maxFrameRate = 0;
    double minFrameRate = 10;
    int minLongSide = 240;
    double maxCycleSeconds = 0;
    bool sound = true;
    // "Telegram Sticker": who sets the limits, for sentences; empty: none.
    std::string destination;
};
ExportLimits limitsOf(const ExportPreset& preset);

struct ExportRequest {
    std::filesystem::path source;
    double trimStart = 0;
    double trimEnd = 0;
    double speed = 1;
    int loops = 1; // MP4 and WebM
    ExportFormat format = ExportFormat::mp4;
    uint64_t maxBytes = 0; // 0: no budget
    ExportLimits limits;
};
ExportRequest requestFor(const ExportPreset& preset);

// The export settings that write the request's file with `settings`, for
// renderExport (render_export.h).
ExportSettings exportSettingsFor(const ExportRequest& request, const BudgetSettings& settings);

struct BudgetOutcome {
    BudgetSettings settings; // of the file written
    RenderSize size;         // of its pictures
    double frameRate = 0;    // pictures a second shown
    uint64_t bytes = 0;      // the file's size
    uint64_t estimate = 0;   // what the model expected of the first full encode
    int fullEncodes = 0;
    RenderResult result;
    // Every full encode: what the model expected and what it weighed.
    struct Attempt {
        uint64_t predicted = 0;
        uint64_t bytes = 0;
        BudgetSettings settings;
    };
    std::vector<Attempt> attempts;
};

// Writes the export to `output` within the request's budget and limits.
// When no settings the limits allow can bring the loop under the budget, it
// says so before encoding the whole where the samples show it (code
// kBudgetUnreachable, "This loop cannot be made smaller than 14.2 MB as a
// GIF. Choose a shorter selection or another format."), and after the
// smallest full encode otherwise; a cycle longer than the limits allow fails
// first of all (code kCycleTooLong). Either way `output` is left as it was.
BudgetOutcome renderWithinBudget(const ExportRequest& request, const std::filesystem::path& output,
                                 const ProgressCallback& progress, std::stop_token stop = {});

struct SizeEstimate {
    uint64_t bytes = 0; // expected size of the file
    RenderSize size;    // of its pictures (inside the canvas, if any)
    double frameRate = 0;
    // Empty when the export can be made; else the sentence that
    // renderWithinBudget would fail with.
    std::string refusal;
    // False for a first guess (quickEstimate) where the budget binds: the
    // bytes are what the budget's search aims at, the settings are not
    // chosen yet (size and frame rate 0).
    bool settled = true;
};

// The size the export would have, from sample encodes alone (no full
// encode): the file renderWithinBudget would write.
SizeEstimate estimateExport(const ExportRequest& request, std::stop_token stop = {});
// The same on samples already read (see SampleModel::fullChroma for which
// requests a model serves).
class SampleModel;
SizeEstimate estimateExport(SampleModel& model, const ExportRequest& request);
// From one sample encode, at the request's best settings: the estimate
// itself where those fit the budget (or there is none), else an unsettled
// first guess. The search for a budget costs a dozen sample encodes; this
// shows a size while they run.
SizeEstimate quickEstimate(SampleModel& model, const ExportRequest& request);

} // namespace kavlo
