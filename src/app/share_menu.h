// The "Export for" menu of the control row: one choice per preset, each
// with the size its file is expected to have ("GIF for Discord · about
// 9.6 MB, 960x540") once the session has estimated it.
//
// Setters in, a signal out. UI thread only.
#pragma once

#include "render/presets.h"
#include "render/size_budget.h"

#include <QToolButton>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kavlo {

class ShareMenu : public QToolButton {
    Q_OBJECT

  public:
    // `style` draws the button and must outlive it.
    ShareMenu(QStyle* style, QWidget* parent = nullptr);

    void setPresets(const std::vector<ExportPreset>& presets);
    // By preset name; a preset missing here shows "estimating…" while
    // `estimating`, else no size.
    void setEstimates(const std::map<std::string, SizeEstimate>& estimates, bool estimating);

    // "GIF for Discord · about 9.6 MB, 960x540"; "… · about 9.5 MB" while
    // the settings for a budget are still being chosen; "… · estimating…"
    // before any size is known; "GIF for Discord" when none will be; "… ·
    // cannot fit" when the export would be refused.
    static QString choiceText(const ExportPreset& preset, const SizeEstimate* estimate,
                              bool estimating);

  signals:
    void presetChosen(const std::string& name);

  private:
    void rebuild();

    std::vector<ExportPreset> presets_;
    std::map<std::string, SizeEstimate> estimates_;
    bool estimating_ = false;
};

} // namespace kavlo
