// The sizes the window shows beside its export choices, estimated from one
// set of samples: the sequence the estimating thread runs, apart from the
// thread, so that what a benchmark times is what the window waits for.
// Runs on the calling thread; never touches Qt.
#pragma once

#include "render/presets.h"
#include "render/size_budget.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

namespace kavlo {

class SampleModel;

// A stretch of a source at a speed: what every choice is estimated for.
struct ExportSelection {
    std::filesystem::path source;
    double start = 0, end = 0, speed = 1;

    // The export of the selection in `format`, without a budget or limits.
    ExportRequest requestFor(ExportFormat format) const;
    // The export of the selection with the preset's format, budget and limits.
    ExportRequest requestFor(const ExportPreset& preset) const;

  private:
    // `request` for this stretch and speed.
    ExportRequest applyTo(ExportRequest request) const;
};

// One set of samples serves every choice, unless the source has full
// colour resolution: GIF keeps it, the others take 4:2:0 pictures of their
// own (`video`; the same model as `palette` otherwise).
struct ChoiceSamples {
    std::shared_ptr<SampleModel> palette, video;
    SampleModel& modelFor(ExportFormat format) const;
};

// Reads the selection's samples, taking the pictures `earlier` (the samples
// of the selection before, or empty) holds instead of decoding them again.
// Throws Cancelled when `stop` is requested, Error when the source cannot
// be read.
ChoiceSamples readChoiceSamples(const ExportSelection& selection, const ChoiceSamples& earlier,
                                std::stop_token stop);

// Estimates the choices the window shows and hands each result to
// `estimated` as soon as it is known: the plain MP4 (one loop) and GIF
// under their format names, then a first size for every preset under its
// name, then, for the presets whose budget binds, the settled size. A
// choice whose estimate fails is left out (its export says what is wrong).
// Throws Cancelled when the samples' `stop` is requested.
using EstimatedChoice = std::function<void(const std::string& choice, const SizeEstimate&)>;
void estimateChoices(const ChoiceSamples& samples, const ExportSelection& selection,
                     const std::vector<ExportPreset>& presets, const EstimatedChoice& estimated);

} // namespace kavlo
