// The arithmetic of a calibrated profile on one frame size: where a view
// direction lands in the fisheye picture once the lens's distortion and
// lateral colour are added to its ideal projection, and how much its
// vignetting darkens that spot. The database's conventions: distortion and
// lateral colour work on radii normalised to half the short side of the
// calibration picture, vignetting on radii normalised to its half diagonal,
// and the picture is taken to fill the camera's sensor (its diagonal is
// 43.27 mm over the crop factor).
#pragma once

#include "transform/cut_geometry.h"
#include "transform/lens_profile.h"
#include "transform/lens_projection.h"

namespace tessaly {

struct ProfileMap {
    LensProjection view;       // levelling turn and rim (scale unused)
    double focalNorm = 0.0;    // projection focal length, normalised units
    double pixelsPerNorm = 0.0;
    double vignettingPerNorm = 0.0;  // vignetting radius per normalised unit
    DistortionModel distortion = DistortionModel::kNone;
    double d[3] = {0, 0, 0};
    TcaModel tca = TcaModel::kNone;
    double t[6] = {0, 0, 0, 0, 0, 0};
    bool vignetting = false;
    double k[3] = {0, 0, 0};
};

ProfileMap MakeProfileMap(const CutGeometry& g, const LensSettings& lens, const LensCorrection& c);

// The recorded radius of an ideal normalised radius.
double DistortedRadius(const ProfileMap& m, double ru);

// Red (channel 0) or blue (1) radius of the green radius r.
double ChannelRadius(const ProfileMap& m, int channel, double r);

// The gain that undoes the vignetting at a source offset (pixels from the
// lens centre): 1 / (1 + k1 r^2 + k2 r^4 + k3 r^6).
double VignettingGain(const ProfileMap& m, double u, double v);

struct ProfileSample {
    SourcePair green;
    SourcePair red;
    SourcePair blue;
    float gain = 1.0f;
};

// The offsets and gain of view direction (a right, b up, c along the axis;
// unit length) before levelling. Uncovered directions get kUncoveredOffset
// and gain 1.
ProfileSample ProfileOffsets(const ProfileMap& m, double a, double b, double c);

// A whole output row (lonTerms from FillLongitudeTerms): 2 * outW floats of
// green offsets; red and blue (null: not wanted) likewise; gains (null: not
// wanted) one float per pixel.
struct ProfileRow {
    float* green = nullptr;
    float* red = nullptr;
    float* blue = nullptr;
    float* gains = nullptr;
};
void ProfileOffsetRow(const CutGeometry& g, const ProfileMap& m, const float* lonTerms, int y, const ProfileRow& row);

// Source radius in pixels of a ray theta radians off the axis (green).
double ProfileRadiusPixels(const ProfileMap& m, double theta);

}  // namespace tessaly
