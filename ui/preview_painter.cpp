#include "ui/preview_painter.h"

#include <QFont>
#include <QPainter>

#include "app/format.h"
#include "ui/lens_rim.h"

namespace tessaly {

namespace {

// A bottom-up BGRX frame as an image that shares its memory (valid while
// the frame is); drawn flipped.
QImage WrapFrame(const FrameBuffer& frame, int width, int height) {
    if (frame.Empty() || width > frame.Width() || height > frame.Height()) return {};
    return QImage(frame.Data(), width, height, static_cast<qsizetype>(frame.Stride()),
                  QImage::Format_RGB32);
}

void DrawBottomUp(QPainter& p, const QImage& image, const QRect& target) {
    p.save();
    p.translate(target.left(), target.top() + target.height());
    p.scale(1, -1);
    p.drawImage(QRect(0, 0, target.width(), target.height()), image);
    p.restore();
}

void TextLine(QPainter& p, int x, int y, const std::string& text, QColor fg, QColor bg) {
    p.setBackgroundMode(Qt::OpaqueMode);
    p.setBackground(bg);
    p.setPen(fg);
    const QString s = QString::fromStdString(text);
    const QFontMetrics fm(p.font());
    p.fillRect(QRect(x, y, fm.horizontalAdvance(s), fm.height()), bg);
    p.drawText(QPoint(x, y + fm.ascent()), s);
    p.setBackgroundMode(Qt::TransparentMode);
}

// The lens circle in a solid line and, for a lens wider than 180 degrees, the
// circle of the output's 180-degree edge dashed; antialiased, since they are
// rarely on whole pixels.
void DrawLensRims(QPainter& p, const LensRims& rims) {
    if (!rims.valid) return;
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setBrush(Qt::NoBrush);
    QPen pen(QColor::fromRgb(kLensRimColour), 2.0);
    p.setPen(pen);
    const PreviewEllipse& e = rims.lensInPreview;
    p.drawEllipse(QPointF(e.cx, e.cy), e.rx, e.ry);
    if (rims.hemisphere) {
        pen.setWidthF(1.5);
        pen.setDashPattern({5.0, 4.0});
        p.setPen(pen);
        const PreviewEllipse& h = rims.hemisphereInPreview;
        p.drawEllipse(QPointF(h.cx, h.cy), h.rx, h.ry);
    }
    p.restore();
}

// Each eye's rim with its name ("L", "R") inside it at the upper left.
void DrawEyeRims(QPainter& p, const std::array<LensCircle, 2>& rims, int frameW, int frameH) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setBrush(Qt::NoBrush);
    for (int eye = 0; eye < 2; ++eye) {
        if (rims[eye].r <= 0.0) continue;
        const PreviewEllipse e = CircleToPreview(rims[eye], frameW, frameH);
        p.setPen(QPen(QColor::fromRgb(kLensRimColour), 2.0));
        p.drawEllipse(QPointF(e.cx, e.cy), e.rx, e.ry);
        QFont bold = p.font();
        bold.setBold(true);
        bold.setPixelSize(16);
        p.setFont(bold);
        const QPointF at(e.cx - 0.72 * e.rx, e.cy - 0.62 * e.ry);
        p.setPen(Qt::black);
        p.drawText(at + QPointF(1, 1), eye == 0 ? "L" : "R");
        p.setPen(QColor::fromRgb(kLensRimColour));
        p.drawText(at, eye == 0 ? "L" : "R");
    }
    p.restore();
}

void DrawCutFrame(QPainter& p, const InputOverlay& o, int d);

QFont PanelFont() {
    // Crisp text as on a plain device context, no blended edges.
    QFont f("DejaVu Sans");
    f.setPixelSize(12);
    f.setStyleStrategy(QFont::NoAntialias);
    return f;
}

}  // namespace

PreviewHeader MakePreviewHeader(int32_t frameWidth, int32_t frameHeight) {
    PreviewHeader h;
    h.width = frameWidth;
    h.height = frameHeight;
    return h;
}

Letterbox LetterboxFor(int frameWidth, int frameHeight) {
    Letterbox box;
    if (frameWidth <= 0 || frameHeight <= 0) return box;
    box.height = RoundHalfEvenToInt32(600.0 * frameHeight / frameWidth);
    box.top = RoundHalfEvenToInt32(0.5 * (600 - box.height));
    return box;
}

void RenderInputPreview(QImage& target, const FrameBuffer& frame, const PreviewHeader& header,
                        const InputOverlay& o) {
    if (target.size() != QSize(kInputPreviewSize, kInputPreviewSize))
        target = QImage(kInputPreviewSize, kInputPreviewSize, QImage::Format_RGB32);
    target.fill(Qt::black);
    QPainter p(&target);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setFont(PanelFont());

    const Letterbox box = LetterboxFor(header.width, header.height);
    const QImage picture = WrapFrame(frame, header.width, header.height);
    if (!picture.isNull()) DrawBottomUp(p, picture, QRect(0, box.top, 600, box.height));
    const int y0 = box.top;
    const int d = 20 + RoundHalfEvenToInt32(-0.85 * y0);

    // The bars: y0 rows above and below the picture.
    p.fillRect(QRect(0, 0, 600, y0), Qt::black);
    p.fillRect(QRect(0, 600 - y0, 600, y0), Qt::black);

    // The rim lies under every overlay below, which so keeps its pixels; a
    // circle cut off by the frame shows on into the bars.
    if (o.stereo) {
        DrawEyeRims(p, o.eyeRims, header.width, header.height);
    } else {
        DrawLensRims(p, LensRimsOf(header.width, header.height, CutRect{o.XL1, o.YL1, o.XL2, o.YL2}, o.lens));
    }

    if (o.hasFileInfo) {
        const QColor grey(0x80, 0x80, 0x80);
        TextLine(p, 10, 10, o.videoNameLine, Qt::white, grey);
        TextLine(p, 10, 30, o.videoStreamLine, Qt::white, grey);
        if (!o.secondStreamLine.empty()) TextLine(p, 10, 50, o.secondStreamLine, Qt::white, grey);
    }
    if (!o.circleLine.empty()) {
        const bool found = o.circleLine.rfind("lens circle found", 0) == 0 || o.circleLine.rfind("sound sync:", 0) == 0;
        TextLine(p, 10, o.secondStreamLine.empty() ? 50 : 70, o.circleLine, Qt::white,
                 found ? QColor(0, 110, 0) : QColor(150, 0, 0));
    }

    // The eyes' cuts are their own: the cut frame below is a single circle's.
    if (o.stereo) return;
    DrawCutFrame(p, o, d);
}

namespace {

// The cut's red frame with its corner, its two dotted circles and the
// centre cross; `d` is the frame's margin.
void DrawCutFrame(QPainter& p, const InputOverlay& o, int d) {
    const int D = o.XL2 - o.XL1;
    const int left = o.XL1 - d;
    const int top = o.YL1 - d;
    const int side = D + 2 * d;
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::red, 1));
    if (side > 1) {
        const double corner = 0.2 * side / 2.0;
        p.drawRoundedRect(QRect(left, top, side - 1, side - 1), corner, corner);
    }
    p.drawPolyline(QPolygon({QPoint(left, top + 20), QPoint(left, top), QPoint(left + 20, top)}));

    QPen dotted(Qt::red, 1, Qt::DotLine);
    const int r = RoundHalfEvenToInt32(0.25 * D);
    const double half = 0.5 * D;
    p.setPen(dotted);
    p.drawEllipse(QRectF(o.XL1 + r - 20, o.YL1 + r - 20, half + 40, half + 40));
    dotted.setColor(Qt::blue);
    p.setPen(dotted);
    p.drawEllipse(QRectF(o.XL1 + r - 15, o.YL1 + r - 15, half + 30, half + 30));

    // The symmetric centre cross: 20 pixels beyond the cut on every side.
    const int cx = RoundHalfEvenToInt32(o.XL1 + half + 1);
    const int cy = RoundHalfEvenToInt32(o.YL1 + half + 1);
    dotted.setColor(Qt::green);
    p.setPen(dotted);
    p.drawLine(cx, o.YL1 - 20, cx, o.YL1 + D + 20);
    p.drawLine(o.XL1 - 20, cy, o.XL2 + 20, cy);
}

}  // namespace

void RenderOutputPreview(QImage& target, const FrameBuffer& output, bool converting,
                         const ProgressTexts& progress, bool horizon) {
    if (target.size() != QSize(kOutputPreviewWidth, kOutputPreviewHeight))
        target = QImage(kOutputPreviewWidth, kOutputPreviewHeight, QImage::Format_RGB32);
    QPainter p(&target);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QImage picture = WrapFrame(output, output.Width(), output.Height());
    if (picture.isNull()) {
        p.fillRect(target.rect(), QColor(51, 51, 51));
    } else {
        DrawBottomUp(p, picture, QRect(0, 0, kOutputPreviewWidth, kOutputPreviewHeight));
    }
    if (horizon) {
        // The output is stretched onto the whole panel: its middle row (the
        // equator) and middle column lie on the panel's middle.
        // A dark line beside each keeps them visible on light pictures.
        const int midX = kOutputPreviewWidth / 2, midY = kOutputPreviewHeight / 2;
        const QColor colour = QColor::fromRgb(kHorizonColour), shade(0, 0, 0, 150);
        p.setPen(QPen(shade, 1));
        p.drawLine(0, midY + 1, kOutputPreviewWidth - 1, midY + 1);
        p.setPen(QPen(colour, 1));
        p.drawLine(0, midY, kOutputPreviewWidth - 1, midY);
        p.setPen(QPen(shade, 1, Qt::DashLine));
        p.drawLine(midX + 1, 0, midX + 1, kOutputPreviewHeight - 1);
        p.setPen(QPen(colour, 1, Qt::DashLine));
        p.drawLine(midX, 0, midX, kOutputPreviewHeight - 1);
    }
    if (converting) {
        p.setFont(PanelFont());
        const QColor grey(0x80, 0x80, 0x80);
        TextLine(p, 10, 10, " Estimated processing time = " + progress.estimatedTime + " ",
                 Qt::white, grey);
        TextLine(p, 10, 30, " Time passed = " + progress.timePassed + " ", Qt::white, grey);
        TextLine(p, 10, 50, " FPS = " + progress.fps, Qt::white, grey);
    }
}

bool PreviewPainter::Paint(const FrameBuffer& input, const PreviewHeader& header,
                           const InputOverlay& overlay, const FrameBuffer& output, bool showInput,
                           bool showOutput, bool converting, const ProgressTexts& progress) {
    if ((toggle_ ^= 1) == 0) return false;
    if (showOutput) {
        RenderOutputPreview(output_, output, converting, progress, HorizonShown());
        if (sinks_.showOutput) sinks_.showOutput(output_.copy());
    }
    if (showInput) {
        RenderInputPreview(input_, input, header, overlay);
        if (sinks_.showInput) sinks_.showInput(input_.copy());
    }
    ++drawn_;
    return true;
}

}  // namespace tessaly
