#include "session/choice_estimates.h"

#include "core/error.h"
#include "render/sample_encoder.h"

#include <utility>

namespace kavlo {

ExportRequest ExportSelection::applyTo(ExportRequest request) const {
    request.source = source;
    request.trimStart = start;
    request.trimEnd = end;
    request.speed = speed;
    return request;
}

ExportRequest ExportSelection::requestFor(ExportFormat format) const {
    ExportRequest request;
    request.format = format;
    return applyTo(std::move(request));
}

ExportRequest ExportSelection::requestFor(const ExportPreset& preset) const {
    return applyTo(kavlo::requestFor(preset));
}

SampleModel& ChoiceSamples::modelFor(ExportFormat format) const {
    return palette->serves(format) ? *palette : *video;
}

ChoiceSamples readChoiceSamples(const ExportSelection& selection, const ChoiceSamples& earlier,
                                std::stop_token stop) {
    ChoiceSamples samples;
    samples.palette = std::make_shared<SampleModel>(selection.requestFor(ExportFormat::gif), stop,
                                                    ProgressCallback{}, earlier.palette.get());
    samples.video = samples.palette;
    if (!samples.palette->serves(ExportFormat::mp4))
        samples.video = std::make_shared<SampleModel>(selection.requestFor(ExportFormat::mp4), stop,
                                                      ProgressCallback{}, earlier.video.get());
    return samples;
}

void estimateChoices(const ChoiceSamples& samples, const ExportSelection& selection,
                     const std::vector<ExportPreset>& presets, const EstimatedChoice& estimated) {
    // Hands one choice's estimate on; true when it is settled (or failed:
    // nothing more to learn for this choice).
    auto attempt = [&](const std::string& choice, const auto& estimateOf) {
        try {
            const SizeEstimate estimate = estimateOf();
            estimated(choice, estimate);
            return estimate.settled;
        } catch (const Cancelled&) {
            throw;
        } catch (...) {
            return true;
        }
    };
    for (ExportFormat format : {ExportFormat::mp4, ExportFormat::gif}) {
        const ExportRequest request = selection.requestFor(format);
        attempt(std::string(exportFormatName(format)),
                [&] { return estimateExport(samples.modelFor(format), request); });
    }
    // A first size for every preset from one sample encode, then the
    // settings for those whose budget binds (a dozen encodes each).
    std::vector<std::pair<std::string, ExportRequest>> unsettled;
    for (const ExportPreset& preset : presets) {
        ExportRequest request = selection.requestFor(preset);
        if (!attempt(preset.name,
                     [&] { return quickEstimate(samples.modelFor(preset.format), request); }))
            unsettled.emplace_back(preset.name, std::move(request));
    }
    for (const auto& entry : unsettled) {
        const ExportRequest& request = entry.second;
        attempt(entry.first,
                [&] { return estimateExport(samples.modelFor(request.format), request); });
    }
}

} // namespace kavlo
