// The presets the window offers, and how their exports are named to the
// rest of the session.
#pragma once

#include "analytics/event_catalog.h"
#include "render/presets.h"

#include <QString>

#include <string>

namespace kavlo {

// The built-in table with the user's presets.json, read once a process
// (any thread).
const PresetTable& sessionPresets();
// Why the user's file was not used, the first time this is asked; empty
// afterwards, so that a broken file is reported once.
std::string takePresetsProblem();

// The name analytics carry: a built-in preset's own name, "custom" for one
// the user added (a name the user chose is theirs).
QString analyticsPresetName(const ExportPreset& preset);
// "GIF for Discord".
QString presetChoiceTitle(const ExportPreset& preset);

} // namespace kavlo
