// Builds the user guide from its Markdown source: a PDF for F1 and the Help
// button, and an HTML page for the web links (it works offline).
//
//   tessaly-guide SOURCE.md OUT.pdf OUT.html

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>
#include <QTextStream>

#include <cstdio>

namespace {

const char* kStyle =
    "body { font-family: 'DejaVu Sans'; font-size: 10pt; color: #1e2126; }"
    "h1 { font-size: 20pt; color: #1d3f66; }"
    "h2 { font-size: 14pt; color: #1d3f66; margin-top: 14px; }"
    "h3 { font-size: 11pt; color: #2a2e34; }"
    "code { font-family: 'DejaVu Sans Mono'; background-color: #eef1f4; }"
    "pre { font-family: 'DejaVu Sans Mono'; font-size: 9pt; background-color: #eef1f4; }"
    "td, th { padding: 3px; }";

// The HTML page stands alone (it is installed without the pictures): each
// picture the source names by a relative path is embedded as data.
QString EmbedPictures(QString html, const QDir& base) {
    static const QRegularExpression src(R"re(src="([^":]+\.png)")re");
    QRegularExpressionMatch m;
    qsizetype from = 0;
    while ((m = src.match(html, from)).hasMatch()) {
        QFile picture(base.filePath(m.captured(1)));
        QString replacement = m.captured(0);
        if (picture.open(QIODevice::ReadOnly)) {
            replacement = "src=\"data:image/png;base64," + QString::fromLatin1(picture.readAll().toBase64()) + "\"";
        }
        html.replace(m.capturedStart(0), m.capturedLength(0), replacement);
        from = m.capturedStart(0) + replacement.size();
    }
    return html;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: tessaly-guide SOURCE.md OUT.pdf OUT.html\n");
        return 2;
    }
    QFile source(QString::fromLocal8Bit(argv[1]));
    if (!source.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "tessaly-guide: cannot read %s\n", argv[1]);
        return 1;
    }
    const QString markdown = QString::fromUtf8(source.readAll());

    // Pictures are named relative to the source's folder.
    const QDir base = QFileInfo(source.fileName()).absoluteDir();
    QTextDocument doc;
    doc.setBaseUrl(QUrl::fromLocalFile(base.absolutePath() + "/"));
    doc.setDefaultStyleSheet(kStyle);
    doc.setMarkdown(markdown);
    // Headings get anchors so links can point into the page (#troubleshooting).
    QString html = doc.toHtml();
    for (const char* section : {"Troubleshooting", "Loading a movie", "Converting"}) {
        const QString name = QString(section).toLower().replace(' ', '-');
        html.replace(QString(">%1<").arg(section), QString("><a name=\"%1\"></a>%2<").arg(name, section));
    }
    html.replace("<head>", QString("<head><title>Tessaly user guide</title><style>%1</style>").arg(kStyle));
    doc.setHtml(html);

    QPdfWriter pdf(QString::fromLocal8Bit(argv[2]));
    pdf.setTitle("Tessaly user guide");
    pdf.setCreator("Tessaly");
    pdf.setPageSize(QPageSize(QPageSize::A4));
    pdf.setPageMargins(QMarginsF(18, 18, 18, 18), QPageLayout::Millimeter);
    pdf.setResolution(300);
    doc.print(&pdf);

    QFile out(QString::fromLocal8Bit(argv[3]));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "tessaly-guide: cannot write %s\n", argv[3]);
        return 1;
    }
    out.write(EmbedPictures(html, base).toUtf8());
    return 0;
}
