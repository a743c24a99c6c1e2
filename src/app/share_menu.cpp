#include "app/share_menu.h"

#include "session/export_presets.h"

#include <QMenu>

namespace kavlo {

ShareMenu::ShareMenu(QStyle* style, QWidget* parent) : QToolButton(parent) {
    setText(QStringLiteral("Export for"));
    setToolButtonStyle(Qt::ToolButtonTextOnly);
    setPopupMode(QToolButton::InstantPopup);
    setStyle(style);
    setMenu(new QMenu(this));
}

QString ShareMenu::choiceText(const ExportPreset& preset, const SizeEstimate* estimate,
                              bool estimating) {
    QString text = presetChoiceTitle(preset);
    if (!estimate)
        return estimating ? text + QStringLiteral(" · estimating…") : text;
    if (!estimate->refusal.empty())
        return text + QStringLiteral(" · cannot fit");
    text += QStringLiteral(" · about ") +
            QString::fromStdString(formatFileSize(double(estimate->bytes)));
    if (!estimate->settled)
        return text;
    const RenderSize shown = preset.squareCanvas ? preset.maxSize : estimate->size;
    return text + QStringLiteral(", ") + QString::number(shown.width) + u'x' +
           QString::number(shown.height);
}

void ShareMenu::setPresets(const std::vector<ExportPreset>& presets) {
    presets_ = presets;
    rebuild();
}

void ShareMenu::setEstimates(const std::map<std::string, SizeEstimate>& estimates,
                             bool estimating) {
    estimates_ = estimates;
    estimating_ = estimating;
    rebuild();
}

void ShareMenu::rebuild() {
    QMenu* items = menu();
    items->clear();
    for (const ExportPreset& preset : presets_) {
        const auto found = estimates_.find(preset.name);
        const SizeEstimate* estimate = found == estimates_.end() ? nullptr : &found->second;
        QAction* item = items->addAction(choiceText(preset, estimate, estimating_));
        QString tip = QString::fromStdString(preset.reason);
        if (estimate && !estimate->refusal.empty())
            tip = QString::fromStdString(estimate->refusal);
        item->setToolTip(tip);
        connect(item, &QAction::triggered, this,
                [this, name = preset.name] { emit presetChosen(name); });
    }
    items->setToolTipsVisible(true);
}

} // namespace kavlo
