// The desktop's own open and save panels through xdg-desktop-portal.
//
// Qt asks the portal for its file dialogs when its "xdgdesktopportal"
// platform theme is loaded, which happens by itself only inside a sandbox.
// Outside one Kavlo asks for that theme when a file-chooser portal answers
// on the session bus, and keeps Qt's own dialog otherwise: with the theme
// but no portal, every panel would close as if cancelled.
//
// Main thread, before the QApplication is made.
#pragma once

namespace kavlo {

// Unless QT_QPA_PLATFORMTHEME is already set (the user's word wins), sets it
// to "xdgdesktopportal" when Qt has that theme and the session bus has a
// file-chooser portal that answers within a second. Returns whether it set
// the variable, for the caller to unset it once the application exists
// (child processes get the environment the user gave).
bool preferPortalFilePanels();

} // namespace kavlo
