// Links of the program (help, web page, support mail) opened with the
// desktop's handlers, and the program's own viewer of the HTML guide for a
// desktop that has no handler for them.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QUrl>

class QWidget;

namespace tessaly {

class DesktopSession;

// The title of the program's own guide viewer.
inline constexpr const char* kGuideViewerTitle = "Tessaly user guide";

// The HTML guide beside a guide document: Tessaly.pdf gives Tessaly.html,
// with the same section; any other link gives an empty URL.
QUrl HtmlGuideFor(const QUrl& link);

// A configured support address as a link: a bare e-mail address becomes a
// new mail ("mailto:"), anything else is taken as the address it is.
QUrl SupportLink(const QString& configured);

// Where the guide window goes: beside the program's main window (right, else
// left) when the screen has room, else below the main window's menu bar
// (`menuBottom`, global), inside the screen's available area.
QPoint GuideViewerPosition(const QRect& mainFrame, int menuBottom, const QSize& size, const QRect& screen);

// Shows the HTML guide in a window of the program's own (deleted when
// closed; a Close button and Esc close it), placed by GuideViewerPosition
// against the main window; nullptr when the file cannot be read.
QWidget* ShowGuideViewer(const QUrl& htmlGuide, QWidget* parent);

// Opens `link` with the desktop's handler. When no handler opens it, a
// guide is shown in the program's own viewer; anything else, or a guide that
// is missing too, is said in a message box.
void OpenLink(DesktopSession& session, const QUrl& link, QWidget* parent);

}  // namespace tessaly
