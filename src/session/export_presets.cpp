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

QString analyticsPresetName(const ExportPreset& preset) {
    const ExportPreset* builtIn = findPreset(builtInPresets(), preset.name);
    return builtIn ? QString::fromStdString(builtIn->name) : QStringLiteral("custom");
}

QString presetChoiceTitle(const ExportPreset& preset) {
    return QString::fromLatin1(exportFormatTitle(preset.format)) +
           QStringLiteral(" for ") + QString::fromStdString(preset.title);
}

} // namespace kavlo
