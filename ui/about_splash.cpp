#include "ui/about_splash.h"

#include <QDialog>
#include <QFontInfo>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include "ui/desktop_session.h"
#include "ui/guide_viewer.h"
#include "ui/image_button.h"
#include "ui/widget_style.h"

namespace tessaly {

namespace {

// A label that reports clicks (the links).
class LinkLabel : public QLabel {
public:
    LinkLabel(const QString& text, QWidget* parent, std::function<void()> onClick)
        : QLabel(text, parent), onClick_(std::move(onClick)) {
        setCursor(QCursor(ArtPixmap("autor"), 9, 2));
    }

protected:
    void mouseReleaseEvent(QMouseEvent*) override {
        if (onClick_) onClick_();
    }

private:
    std::function<void()> onClick_;
};

QFont SplashFont() {
    // Times New Roman where installed, else the nearest serif face; sized in
    // pixels so the text fits the 12-pixel rows.
    QFont f("Times New Roman");
    f.setStyleHint(QFont::Serif);
    f.setPixelSize(11);
    // DejaVu Serif, the usual stand-in, runs wider: its condensed face keeps
    // the caption inside its 120 pixels.
    if (QFontInfo(f).family() != "Times New Roman") f.setFamily("DejaVu Serif Condensed");
    return f;
}

// What the links show: the address, or the name of the offline guide.
QString LinkText(const QUrl& url) {
    return url.isLocalFile() ? QString("Tessaly user guide (Tessaly.html)") : url.toString();
}

}  // namespace

QDialog* BuildSplash(DesktopSession& session) {
    EnsureArt();
    auto* splash = new QDialog(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                            Qt::WindowCloseButtonHint);
    splash->setObjectName("Splash");
    splash->setWindowTitle("Tessaly Mono Fisheye Video Converter");
    splash->setWindowIcon(QIcon(":/icons/tessaly.png"));
    splash->setFixedSize(437, 120);
    Colour(splash, Qt::white, QColor(255, 0, 0));
    auto* title = new QLabel(splash);
    title->setPixmap(ArtPixmap("TITLE"));
    title->setGeometry(5, 5, 640, 154);  // clipped by the window
    title->lower();
    auto* more = new QLabel("See a more of free Apps at:", splash);
    more->setObjectName("id_2001");
    more->setGeometry(15, 102, 120, 12);
    // Wider than its box at 11 pixels in every face Debian has (DejaVu Serif
    // Condensed needs 137): a smaller size rather than a cut end.
    more->setFont(FitFont(SplashFont(), 11, more->text(), more->size(), 0));
    Colour(more, Qt::white, Qt::black);
    auto* link = new LinkLabel(LinkText(session.WebPage()), splash,
                               [&session, splash] { OpenLink(session, session.WebPage(), splash); });
    link->setObjectName("id_2000");
    link->setFont(SplashFont());
    link->setGeometry(138, 102, 200, 12);
    Colour(link, Qt::white, QColor(0, 0, 255));
    auto* start = new QPushButton("Start", splash);
    start->setObjectName("id_2005");
    start->setFont(SplashFont());
    start->setGeometry(360, 102, 70, 14);
    start->setCursor(QCursor(ArtPixmap("autor"), 9, 2));
    start->setStyleSheet("QPushButton { background: #e8e8e8; border: 1px solid #5a5a5a; padding: 0px; }"
                         "QPushButton:pressed { background: #b8b8b8; }");
    QObject::connect(start, &QPushButton::clicked, splash, &QDialog::accept);
    return splash;
}

void ShowSplash(DesktopSession& session) {
    QDialog* splash = BuildSplash(session);
    splash->exec();
    delete splash;
}

QDialog* BuildAbout(QWidget* owner, DesktopSession& session) {
    auto* about = new QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                         Qt::WindowCloseButtonHint);
    about->setObjectName("About");
    about->setWindowTitle("About");
    about->setWindowIcon(QIcon(":/icons/tessaly.png"));
    about->setFixedSize(210, 180);
    Colour(about, QColor(20, 50, 195), QColor(255, 0, 0));
    QFont font("DejaVu Sans");
    font.setPixelSize(11);
    about->setFont(font);
    auto* icon = new QLabel(about);
    icon->setPixmap(QPixmap(":/icons/tessaly.png").scaled(32, 32, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    icon->setGeometry(10, 5, 32, 32);
    auto* name = new QLabel("Quennet Mono Fisheye Video Converter", about);
    name->setObjectName("id_2001");
    name->setWordWrap(true);
    name->setAlignment(Qt::AlignCenter);
    name->setGeometry(30, 5, 170, 30);
    name->setContentsMargins(14, 0, 0, 0);  // clear of the icon
    Colour(name, QColor(20, 50, 195), QColor(180, 170, 95));
    icon->raise();
    auto* line = new QFrame(about);
    line->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    line->setGeometry(10, 35, 190, 2);
    auto* version = new QLabel("Tessaly v3.0 Build 051.01\n\nFisheye movies into\n180\u00b0 panoramas", about);
    version->setAlignment(Qt::AlignCenter);
    version->setGeometry(10, 50, 190, 90);
    Colour(version, QColor(20, 50, 195), QColor(220, 210, 120));
    QFont tiny("DejaVu Sans");
    tiny.setPixelSize(9);
    auto* support = new LinkLabel("support email", about, [&session, about] { OpenLink(session, session.SupportPage(), about); });
    support->setObjectName("id_2002");
    support->setFont(tiny);
    support->setAlignment(Qt::AlignCenter);
    support->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    support->setGeometry(0, 169, 70, 11);
    Colour(support, QColor(0, 0, 127), QColor(220, 210, 120));
    auto* web = new LinkLabel(session.WebPage().isLocalFile() ? QString("Tessaly user guide")
                                                              : session.WebPage().toString(),
                              about, [&session, about] { OpenLink(session, session.WebPage(), about); });
    web->setObjectName("id_2004");
    web->setFont(tiny);
    web->setAlignment(Qt::AlignCenter);
    web->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    web->setGeometry(70, 169, 141, 11);
    Colour(web, QColor(0, 0, 127), QColor(220, 210, 120));
    return about;
}

void ShowAbout(QWidget* owner, DesktopSession& session) {
    QDialog* about = BuildAbout(owner, session);
    about->exec();
    delete about;
}

}  // namespace tessaly
