#include "ui/guide_viewer.h"

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <QWidget>

#include "ui/desktop_session.h"

namespace tessaly {

QUrl HtmlGuideFor(const QUrl& link) {
    if (!link.isLocalFile()) return {};
    const QFileInfo file(link.toLocalFile());
    const QString suffix = file.suffix().toLower();
    if (suffix != "pdf" && suffix != "html") return {};
    QUrl html = QUrl::fromLocalFile(file.dir().filePath(file.completeBaseName() + ".html"));
    html.setFragment(link.fragment());
    return html;
}

QUrl SupportLink(const QString& configured) {
    const QString text = configured.trimmed();
    if (text.isEmpty()) return {};
    if (text.contains('@') && !text.contains(':')) return QUrl("mailto:" + text);
    return QUrl(text);
}

QWidget* ShowGuideViewer(const QUrl& htmlGuide, QWidget* parent) {
    if (!htmlGuide.isLocalFile() || !QFileInfo(htmlGuide.toLocalFile()).isReadable()) return nullptr;
    // A window of its own (not a child), so it stays when the dialog that
    // opened it goes.
    auto* window = new QWidget(parent, Qt::Window);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(kGuideViewerTitle);
    window->setObjectName("GuideViewer");
    auto* browser = new QTextBrowser(window);
    browser->setOpenExternalLinks(false);
    browser->setSource(htmlGuide);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser);
    window->resize(760, 560);
    window->show();
    window->raise();
    return window;
}

void OpenLink(DesktopSession& session, const QUrl& link, QWidget* parent) {
    if (session.openUrl && session.openUrl(link)) return;
    const QUrl html = HtmlGuideFor(link);
    if (!html.isEmpty() && ShowGuideViewer(html, parent) != nullptr) return;
    const QString what = link.isLocalFile() ? link.toLocalFile() : link.toString();
    const QString text = link.scheme() == "mailto"
                             ? "No mail program could be started for " + link.path() + "."
                             : "Neither this desktop nor Tessaly could open " + what + ".";
    QMessageBox box(QMessageBox::Warning, "Tessaly", text, QMessageBox::Ok, parent);
    box.exec();
}

}  // namespace tessaly
