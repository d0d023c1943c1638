// The splash window shown once before the main window, and the About box.
#pragma once

class QWidget;
class QDialog;

namespace tessaly {

class DesktopSession;

// Builds the splash window; ShowSplash runs it modally until "Start" or the
// close box.
QDialog* BuildSplash(DesktopSession& session);
void ShowSplash(DesktopSession& session);
QDialog* BuildAbout(QWidget* owner, DesktopSession& session);
void ShowAbout(QWidget* owner, DesktopSession& session);

}  // namespace tessaly
