// The "Update Available" alert: shown over `host` whenever `checker` has an
// update to announce. "Download" opens the update's address, "Not Now" (also
// Escape) declines it; either way the notice is closed.
//
// UI thread only.
#pragma once

class QMessageBox;
class QWidget;

namespace kavlo {

class UpdateChecker;

void attachUpdateAlert(QWidget* host, UpdateChecker* checker);

// The alert on screen for `host`, if any (for tests and tools).
QMessageBox* shownUpdateAlert(QWidget* host);

} // namespace kavlo
