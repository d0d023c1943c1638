// Paints every bitmap, the cursor, the icon sizes and the two click sounds of
// the desktop program from code, so the artwork can be changed and made
// again: tools/make-artwork runs this and writes into resources/.
//
//   tessaly-artwork OUTDIR
//
// One design throughout: dark slate faces, a blue accent for hover and
// pressed states, white DejaVu Sans labels, an orange highlight.

#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

const QColor kFaceTop(0x4a, 0x4f, 0x57);
const QColor kFaceBottom(0x2a, 0x2e, 0x34);
const QColor kHoverTop(0x3d, 0x7f, 0xc4);
const QColor kHoverBottom(0x23, 0x5a, 0x94);
const QColor kPressTop(0x17, 0x3f, 0x6b);
const QColor kPressBottom(0x22, 0x56, 0x8e);
const QColor kAccent(0xff, 0x9f, 0x1c);

QString gOut;

void Save(const QImage& image, const QString& name) {
    const QString path = gOut + "/" + name;
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!image.save(path, "PNG")) std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
}

QFont LabelFont(int pixels, bool bold = true) {
    QFont f("DejaVu Sans");
    f.setPixelSize(pixels);
    f.setBold(bold);
    f.setHintingPreference(QFont::PreferFullHinting);
    return f;
}

// A button face: state 1 normal, 2 pressed, 3 hover. `face` is the part the
// control shows (the bitmap is larger and clipped by its control).
QImage ButtonFace(int width, int height, QRect face, const QString& label, int state) {
    QImage img(width, height, QImage::Format_RGB32);
    img.fill(QColor(0x1e, 0x21, 0x25));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QColor top = state == 2 ? kPressTop : state == 3 ? kHoverTop : kFaceTop;
    const QColor bottom = state == 2 ? kPressBottom : state == 3 ? kHoverBottom : kFaceBottom;
    QLinearGradient g(face.topLeft(), face.bottomLeft());
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    const QRectF r = QRectF(face).adjusted(0.5, 0.5, -0.5, -0.5);
    p.setPen(QPen(state == 1 ? QColor(0x16, 0x18, 0x1b) : QColor(0x0f, 0x2c, 0x4c), 1));
    p.setBrush(g);
    p.drawRoundedRect(r, 4, 4);
    // A thin light edge on top (raised) or a dark one (pressed).
    p.setPen(QPen(state == 2 ? QColor(0, 0, 0, 90) : QColor(255, 255, 255, 60), 1));
    p.drawLine(QPointF(r.left() + 4, r.top() + 1), QPointF(r.right() - 4, r.top() + 1));
    // The orange mark at the left keeps the buttons recognisable as one set.
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawRoundedRect(QRectF(face.left() + 5, face.top() + 6, 3, face.height() - 12), 1.5, 1.5);
    p.setFont(LabelFont(12));
    p.setPen(Qt::white);
    const QRect textRect = face.adjusted(10, state == 2 ? 1 : 0, -2, state == 2 ? 1 : 0);
    p.drawText(textRect, Qt::AlignCenter, label);
    return img;
}

enum class Glyph { Left, Right, Up, Down, Stop, Bigger, Smaller };

QImage ArrowButton(Glyph glyph) {
    QImage img(20, 20, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, 20);
    g.setColorAt(0, kFaceTop);
    g.setColorAt(1, kFaceBottom);
    p.fillRect(img.rect(), g);
    p.setPen(QPen(QColor(0x16, 0x18, 0x1b), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(0.5, 0.5, 19, 19));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    QPainterPath path;
    switch (glyph) {
        case Glyph::Left: path.addPolygon(QPolygonF({{6, 10}, {13, 5}, {13, 15}})); break;
        case Glyph::Right: path.addPolygon(QPolygonF({{14, 10}, {7, 5}, {7, 15}})); break;
        case Glyph::Up: path.addPolygon(QPolygonF({{10, 6}, {5, 13}, {15, 13}})); break;
        case Glyph::Down: path.addPolygon(QPolygonF({{10, 14}, {5, 7}, {15, 7}})); break;
        case Glyph::Stop:
            p.setBrush(kAccent);
            path.addEllipse(QPointF(10, 10), 4.5, 4.5);
            break;
        case Glyph::Bigger:  // the circle grows: plus
            path.addRect(QRectF(5, 9, 10, 2));
            path.addRect(QRectF(9, 5, 2, 10));
            break;
        case Glyph::Smaller:  // the circle shrinks: minus
            path.addRect(QRectF(5, 9, 10, 2));
            break;
    }
    p.drawPath(path.simplified());
    return img;
}

// The fisheye mark of the icon (same shapes as resources/icons/tessaly.svg,
// which is drawn on a 256-unit square).
void PaintIcon(QPainter& p, double size) {
    p.save();
    p.scale(size / 256.0, size / 256.0);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient bg(0, 8, 0, 248);
    bg.setColorAt(0, QColor("#2b5c8a"));
    bg.setColorAt(1, QColor("#14283d"));
    p.setPen(Qt::NoPen);
    p.setBrush(bg);
    p.drawRoundedRect(QRectF(8, 8, 240, 240), 44, 44);
    QRadialGradient lens(QPointF(128 - 0.08 * 184, 128 - 0.12 * 184), 0.7 * 184);
    lens.setColorAt(0, QColor("#8fd3ff"));
    lens.setColorAt(1, QColor("#1f6fa8"));
    p.setBrush(lens);
    p.setPen(QPen(Qt::white, 10));
    p.drawEllipse(QPointF(128, 128), 92, 92);
    QColor grid(255, 255, 255, 191);
    p.setPen(QPen(grid, size < 40 ? 9 : 5));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(128, 128), 46, 92);
    p.drawLine(QPointF(128, 36), QPointF(128, 220));
    p.drawLine(QPointF(36, 128), QPointF(220, 128));
    if (size >= 32) p.drawEllipse(QPointF(128, 128), 92, 46);
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawEllipse(QPointF(128, 128), 14, 14);
    p.restore();
}

QImage Icon(int size) {
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    PaintIcon(p, size);
    return img;
}

QImage Logo() {
    QImage img(375, 52, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QLinearGradient g(0, 0, 375, 0);
    g.setColorAt(0, QColor(0x1b, 0x2a, 0x3a));
    g.setColorAt(1, QColor(0x2a, 0x2e, 0x34));
    p.fillRect(img.rect(), g);
    p.save();
    p.translate(8, 4);
    PaintIcon(p, 44);
    p.restore();
    p.setPen(Qt::white);
    p.setFont(LabelFont(24));
    p.drawText(QRect(62, 2, 200, 30), Qt::AlignLeft | Qt::AlignVCenter, "Tessaly");
    p.setPen(QColor(0xc8, 0xd2, 0xdc));
    p.setFont(LabelFont(11, false));
    p.drawText(QRect(63, 31, 310, 16), Qt::AlignLeft | Qt::AlignVCenter,
               QString::fromUtf8("Fisheye movies to 180\u00b0 panoramas"));
    p.setPen(QPen(kAccent, 2));
    p.drawLine(QPointF(180, 17), QPointF(362, 17));
    return img;
}

QImage Title() {
    // 640 x 154, of which the splash window shows about 427 x 110 from the
    // top left: everything that matters lies there.
    QImage img(640, 154, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    // A dark banner over a white foot: the splash's links sit on the white.
    img.fill(Qt::white);
    QLinearGradient g(0, 0, 0, 92);
    g.setColorAt(0, QColor(0x24, 0x4d, 0x75));
    g.setColorAt(1, QColor(0x12, 0x22, 0x33));
    p.fillRect(QRect(0, 0, 640, 92), g);
    p.fillRect(QRect(0, 92, 640, 2), kAccent);
    p.save();
    p.translate(14, 10);
    PaintIcon(p, 76);
    p.restore();
    p.setPen(Qt::white);
    p.setFont(LabelFont(34));
    p.drawText(QRect(104, 8, 320, 44), Qt::AlignLeft | Qt::AlignVCenter, "Tessaly");
    p.setFont(LabelFont(13, false));
    p.setPen(QColor(0xd6, 0xe2, 0xee));
    p.drawText(QRect(106, 52, 320, 20), Qt::AlignLeft | Qt::AlignVCenter,
               "Mono Fisheye Video Converter");
    return img;
}

QImage PositionLine() {
    QImage img(50, 18, QImage::Format_RGB32);
    QPainter p(&img);
    QLinearGradient g(0, 0, 0, 18);
    g.setColorAt(0, QColor(0xff, 0xc0, 0x5c));
    g.setColorAt(1, QColor(0xe0, 0x7b, 0x00));
    p.fillRect(img.rect(), g);
    return img;
}

// Four frames of a turning ring for the "Please wait..." window.
QImage LoadFrame(int index) {
    QImage img(32, 32, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    for (int k = 0; k < 8; ++k) {
        const double a = (k * 45 + index * 90) * M_PI / 180.0;
        const int age = (k + 8 - 2 * index) % 8;
        QColor c = kHoverTop;
        c.setAlpha(70 + 185 * age / 7);
        p.setPen(Qt::NoPen);
        p.setBrush(c);
        p.drawEllipse(QPointF(16 + 11 * std::cos(a), 16 + 11 * std::sin(a)), 3.2, 3.2);
    }
    return img;
}

QImage HandCursor() {
    QImage img(32, 32, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath hand;
    hand.addRoundedRect(QRectF(9, 2, 5, 16), 2.5, 2.5);     // index finger
    hand.addRoundedRect(QRectF(14, 9, 4.5, 10), 2.2, 2.2);  // middle
    hand.addRoundedRect(QRectF(18.5, 10, 4.5, 9), 2.2, 2.2);
    hand.addRoundedRect(QRectF(23, 11.5, 4, 8), 2, 2);
    hand.addRoundedRect(QRectF(4, 12, 6, 5), 2.5, 2.5);     // thumb
    hand.addRoundedRect(QRectF(7, 14, 20, 14), 5, 5);       // palm
    p.setPen(QPen(Qt::black, 1.4));
    p.setBrush(Qt::white);
    p.drawPath(hand.simplified());
    return img;
}

// A 16-bit mono WAV of a short decaying tone.
void Click(const QString& name, double frequency, double milliseconds) {
    const int rate = 44100;
    const int n = static_cast<int>(rate * milliseconds / 1000.0);
    std::vector<int16_t> samples(n);
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double envelope = std::exp(-t * 6000.0 / milliseconds) * std::min(1.0, i / 40.0);
        samples[i] = static_cast<int16_t>(std::lround(12000.0 * envelope *
                                                      std::sin(2 * M_PI * frequency * t)));
    }
    QByteArray wav;
    auto u32 = [&](uint32_t v) { for (int k = 0; k < 4; ++k) wav.append(char((v >> (8 * k)) & 0xff)); };
    auto u16 = [&](uint16_t v) { for (int k = 0; k < 2; ++k) wav.append(char((v >> (8 * k)) & 0xff)); };
    const uint32_t dataBytes = static_cast<uint32_t>(n * 2);
    wav.append("RIFF");
    u32(36 + dataBytes);
    wav.append("WAVEfmt ");
    u32(16);
    u16(1);
    u16(1);
    u32(rate);
    u32(rate * 2);
    u16(2);
    u16(16);
    wav.append("data");
    u32(dataBytes);
    wav.append(reinterpret_cast<const char*>(samples.data()), static_cast<int>(dataBytes));
    QFile f(gOut + "/" + name);
    if (!f.open(QIODevice::WriteOnly) || f.write(wav) != wav.size())
        std::fprintf(stderr, "cannot write %s\n", qPrintable(f.fileName()));
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: tessaly-artwork OUTDIR\n");
        return 2;
    }
    gOut = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(gOut);

    const struct { const char* name; const char* label; } buttons[] = {
        {"b_load", "Load Video"},   {"b_pause", "Play / Pause"}, {"b_save", "Save Parameters"},
        {"b_about", "About"},       {"b_convert", "Convert"},
    };
    for (const auto& b : buttons)
        for (int state = 1; state <= 3; ++state)
            Save(ButtonFace(195, 24, QRect(0, 0, 140, 23), b.label, state),
                 QString("art/%1%2.png").arg(b.name).arg(state));
    for (int state = 1; state <= 3; ++state)
        Save(ButtonFace(97, 24, QRect(0, 0, 97, 22), "Help", state), QString("art/help%1.png").arg(state));

    const struct { const char* name; Glyph glyph; } arrows[] = {
        {"left", Glyph::Left}, {"right", Glyph::Right}, {"up", Glyph::Up},     {"down", Glyph::Down},
        {"stop", Glyph::Stop}, {"lup", Glyph::Bigger},  {"rup", Glyph::Smaller},
    };
    for (const auto& a : arrows) Save(ArrowButton(a.glyph), QString("art/%1.png").arg(a.name));

    Save(Logo(), "art/logo.png");
    Save(PositionLine(), "art/tomline.png");
    Save(Title(), "art/TITLE.png");
    for (int i = 1; i <= 4; ++i) Save(LoadFrame(i - 1), QString("art/load%1.png").arg(i));
    Save(HandCursor(), "art/autor.png");
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        Save(Icon(size), QString("icons/hicolor/%1x%1/apps/tessaly.png").arg(size));
    Click("art/TICK.wav", 1800, 25);
    Click("art/TICKB.wav", 700, 45);
    return 0;
}
