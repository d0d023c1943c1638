#include "ui/guide_viewer.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>

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

QPoint GuideViewerPosition(const QRect& mainFrame, int menuBottom, const QSize& size, const QRect& screen) {
    constexpr int kGap = 8;
    const int top = std::max(screen.top(), mainFrame.top());
    for (const QPoint p : {QPoint(mainFrame.right() + 1 + kGap, top), QPoint(mainFrame.left() - kGap - size.width(), top)}) {
        if (screen.contains(QRect(p, size))) return p;
    }
    const int right = std::max(screen.left(), screen.right() + 1 - size.width());
    const int bottom = std::max(screen.top(), screen.bottom() + 1 - size.height());
    return {std::clamp(mainFrame.left() + 40, screen.left(), right), std::clamp(menuBottom + kGap, screen.top(), bottom)};
}

namespace {

// The viewer's window: Esc closes it, as it does a dialog.
class GuideWindow : public QWidget {
public:
    explicit GuideWindow(QWidget* parent) : QWidget(parent, Qt::Window) {}

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Escape) {
            close();
            return;
        }
        QWidget::keyPressEvent(event);
    }
};

// The program's main window: the parent's window, or the owner of a dialog.
QMainWindow* MainWindowOf(QWidget* widget) {
    for (QWidget* w = widget != nullptr ? widget->window() : nullptr; w != nullptr;
         w = w->parentWidget() != nullptr ? w->parentWidget()->window() : nullptr) {
        if (auto* main = qobject_cast<QMainWindow*>(w)) return main;
    }
    return nullptr;
}

void PlaceGuideViewer(QWidget* viewer, QWidget* parent) {
    QMainWindow* main = MainWindowOf(parent);
    if (main == nullptr || !main->isVisible()) return;
    QScreen* screen = main->screen();
    const QRect area = screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1920, 1080);
    const QWidget* menu = main->menuWidget();
    const int menuBottom = menu != nullptr ? menu->mapToGlobal(QPoint(0, menu->height())).y()
                                           : main->geometry().top();
    // The frame the window manager adds is not known before showing: the
    // client's size with a margin for it.
    const QSize frame = viewer->size() + QSize(16, 40);
    viewer->move(GuideViewerPosition(main->frameGeometry(), menuBottom, frame, area));
}

}  // namespace

QWidget* ShowGuideViewer(const QUrl& htmlGuide, QWidget* parent) {
    if (!htmlGuide.isLocalFile() || !QFileInfo(htmlGuide.toLocalFile()).isReadable()) return nullptr;
    // A window of its own (not a child), so it stays when the dialog that
    // opened it goes.
    auto* window = new GuideWindow(parent);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(kGuideViewerTitle);
    window->setObjectName("GuideViewer");
    auto* browser = new QTextBrowser(window);
    browser->setOpenExternalLinks(false);
    browser->setSource(htmlGuide);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, window);
    QObject::connect(buttons, &QDialogButtonBox::rejected, window, &QWidget::close);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 6);
    layout->addWidget(browser);
    layout->addWidget(buttons);
    window->resize(760, 560);
    PlaceGuideViewer(window, parent);
    window->show();
    window->raise();
    window->activateWindow();  // Esc reaches it at once
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
