// The lens rim's pixels in a rendered preview.
#pragma once

#include <QImage>

#include <cmath>
#include <numbers>

#include "ui/lens_rim.h"

namespace tessaly::testing {

// The rim's cyan, also where its antialiased edge is blended with a dark picture.
inline bool IsRim(QRgb c) { return qRed(c) < 90 && qGreen(c) > 170 && qBlue(c) > 170; }

// Any rim pixel within `reach` pixels of the panel point (x, y).
inline bool RimNear(const QImage& image, double x, double y, int reach = 2) {
    const int px = static_cast<int>(std::floor(x)), py = static_cast<int>(std::floor(y));
    for (int j = py - reach; j <= py + reach; ++j)
        for (int i = px - reach; i <= px + reach; ++i)
            if (image.rect().contains(i, j) && IsRim(image.pixel(i, j))) return true;
    return false;
}

// Of 360 points spread over an ellipse, how many lie within `reach` pixels
// of rim pixels.
inline int RimPointsOn(const QImage& image, const PreviewEllipse& e, int reach) {
    int hits = 0;
    for (int k = 0; k < 360; ++k) {
        const double a = 2.0 * std::numbers::pi * k / 360;
        hits += RimNear(image, e.cx + e.rx * std::cos(a), e.cy + e.ry * std::sin(a), reach) ? 1 : 0;
    }
    return hits;
}

}  // namespace tessaly::testing
