#include "session/export_presets.h"

#include <atomic>

namespace kavlo {

const PresetTable& sessionPresets() {
    static const PresetTable table = loadPresets(presetsFilePath());
    return table;
}

std::string takePresetsProblem() {
    static std::atomic<bool> reported{false};
    const std::string& problem = sessionPresets().problem;
    if (problem.empty() || reported.exchange(true))
        return {};
    return problem;
}

ExportFormat exportFormatOf(OutputFormat format) {
    switch (format) {
    case OutputFormat::mp4:
        break;
    case OutputFormat::gif:
        return ExportFormat::gif;
    case OutputFormat::webp:
        return ExportFormat::webp;
    case OutputFormat::webm:
        return ExportFormat::webm;
    }
    return ExportFormat::mp4;
}

QString analyticsPresetName(const ExportPreset& preset) {
    const ExportPreset* builtIn = findPreset(builtInPresets(), preset.name);
    return builtIn ? QString::fromStdString(builtIn->name) : QStringLiteral("custom");
}

QString presetChoiceTitle(const ExportPreset& preset) {
    return QString::fromUtf8(formatTitle(preset.format).data(),
                             qsizetype(formatTitle(preset.format).size())) +
           QStringLiteral(" for ") + QString::fromStdString(preset.title);
}

} // namespace kavlo
