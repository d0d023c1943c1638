// Calibrated lens profiles against the lens database's own modifier: for
// fisheyes of every projection type and distortion model in the database,
// the source points of a grid of output pixels (green, and red and blue
// where the lens has lateral colour) and the vignetting gains.
//
// The library's fisheye-to-equirectangular conversion draws its panorama at
// the fisheye's own scale: one radian of longitude or latitude is the
// projection's focal length in pixels, about the frame centre, latitude
// counted downward. Each output pixel's view direction is therefore placed
// in the library's panorama at (centre + longitude * f, centre - latitude *
// f), f in pixels, and the library's source point for that spot is compared
// with ours. A wrong focal length would move both the angle and the radius.
#include <lensfun.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "transform/cut_geometry.h"
#include "transform/frame_pipeline.h"
#include "transform/lens_profile.h"
#include "transform/lens_profile_map.h"

namespace tessaly {
namespace {

constexpr int kFrame = 1200;  // square, so the library's centre is the crop's

struct Profile { const char* lens; double crop; double focal; LensModel projection; };

const Profile kProfiles[] = {
    {"Sigma 8mm f/3.5 EX DG Circular", 1.0, 8.0, LensModel::kEquisolid},                 // ptlens, vignetting, poly3 colour
    {"Sigma 8mm f/3.5 EX DG Circular", 1.523, 8.0, LensModel::kEquisolid},               // linear colour
    {"Olympus M.Zuiko Digital ED 8mm f/1.8 Fisheye Pro", 2.0, 8.0, LensModel::kEquisolid},  // poly3
    {"Canon EF 8-15mm f/4L Fisheye USM", 1.0, 12.0, LensModel::kEquisolid},             // zoom, interpolated
    {"Sigma 4.5mm f/2.8 EX DC HSM circular fisheye", 1.534, 4.5, LensModel::kEquidistant},  // real focal length
    {"Zenitar MC 16mm f/2.8", 1.529, 16.0, LensModel::kEquidistant},                    // poly3
    {"Samyang 7.5mm f/3.5 UMC Fish-eye MFT", 2.0, 7.5, LensModel::kEquidistant},        // vignetting
    {"Samyang 8mm f/2.8 UMC Fish-eye", 1.534, 8.0, LensModel::kStereographic},          // ptlens, real focal, vignetting
    {"Olympus 9mm Body Cap Lens Fisheye", 2.0, 9.0, LensModel::kStereographic},         // poly3
};

const lfLens* DatabaseLens(const lfDatabase& db, const std::string& model, double crop) {
    for (const lfLens* const* l = db.GetLenses(); *l != nullptr; ++l) {
        if (model == (*l)->Model && std::fabs((*l)->CropFactor - crop) < 0.02) return *l;
    }
    for (const lfLens* const* l = db.GetLenses(); *l != nullptr; ++l) {
        if (model == (*l)->Model && (*l)->CropFactor <= crop + 0.01) return *l;
    }
    return nullptr;
}

struct Agreement {
    int points = 0;
    double green = 0.0;   // largest distance, pixels
    double colour = 0.0;  // red and blue
    double gain = 0.0;    // largest relative difference
    double strongest = 1.0;  // largest gain, ours
};

Agreement Compare(const Profile& p, const LensCorrection& c, const lfDatabase& db) {
    Agreement a;
    const GeometryResult built = BuildCutGeometry(kFrame, kFrame, CutRect{0, 0, 600, 600});
    CutGeometry g = built.geometry;
    ComputeProjection(g);
    EXPECT_EQ(g.cropW, kFrame);
    const ProfileMap m = MakeProfileMap(g, LensSettings{}, c);
    const lfLens* lens = DatabaseLens(db, c.model, p.crop);
    if (lens == nullptr) {
        ADD_FAILURE() << p.lens << " is not in the database";
        return a;
    }
    lfModifier mod(lens, static_cast<float>(p.crop), kFrame, kFrame);
    mod.Initialize(lens, LF_PF_F32, static_cast<float>(c.focal), lens->MinAperture, 1000.0f, 1.0f,
                   LF_EQUIRECTANGULAR, LF_MODIFY_DISTORTION | LF_MODIFY_GEOMETRY | LF_MODIFY_TCA | LF_MODIFY_VIGNETTING,
                   false);
    const double centre = 0.5 * kFrame - 0.5;
    const double f = m.focalNorm * m.pixelsPerNorm;
    for (int y = 3; y < g.outH; y += 41) {
        for (int x = 3; x < g.outW; x += 41) {
            float sinLon = 0, cosLon = 0, sinLat = 0, cosLat = 0;
            LongitudeTerms(g, x, sinLon, cosLon);
            LatitudeTerms(g, y, sinLat, cosLat);
            const double da = double(sinLon) * sinLat, db2 = cosLat, dc = double(cosLon) * sinLat;
            const ProfileSample ours = ProfileOffsets(m, da, db2, dc);
            if (IsUncovered(ours.green.u) || dc < 0.02) continue;
            const double gx = centre + ours.green.u, gy = centre - ours.green.v;
            if (std::hypot(gx - centre, gy - centre) > centre - 2) continue;  // inside the circle and the frame
            float theirs[6];
            const float ex = static_cast<float>(centre + std::atan2(da, dc) * f);
            const float ey = static_cast<float>(centre + std::asin(-db2) * f);
            if (!mod.ApplySubpixelGeometryDistortion(ex, ey, 1, 1, theirs)) continue;
            ++a.points;
            a.green = std::max(a.green, std::hypot(theirs[2] - gx, theirs[3] - gy));
            a.colour = std::max({a.colour, std::hypot(theirs[0] - (centre + ours.red.u), theirs[1] - (centre - ours.red.v)),
                                 std::hypot(theirs[4] - (centre + ours.blue.u), theirs[5] - (centre - ours.blue.v))});
            // Vignetting at the nearest pixel centre, ours and the library's.
            const float px = std::round(static_cast<float>(gx)), py = std::round(static_cast<float>(gy));
            float rgb[3] = {1.0f, 1.0f, 1.0f};
            mod.ApplyColorModification(rgb, px, py, 1, 1, LF_CR_3(RED, GREEN, BLUE), 3 * sizeof(float));
            const double gain = VignettingGain(m, px - centre, centre - py);
            a.gain = std::max(a.gain, std::fabs(rgb[1] / gain - 1.0));
            a.strongest = std::max(a.strongest, gain);
        }
    }
    return a;
}

TEST(LensProfile, SourcePointsAndGainsAgreeWithTheDatabasesModifier) {
    lfDatabase db;
    ASSERT_EQ(db.Load(), LF_NO_ERROR);
    for (const Profile& p : kProfiles) {
        LensProfileSettings s;
        s.lens = p.lens;
        s.cropFactor = p.crop;
        s.focal = p.focal;
        const LensProfileLookup found = LookUpLensProfile(s);
        ASSERT_TRUE(found.correction) << p.lens << ": " << found.error;
        EXPECT_EQ(found.correction->projection, p.projection) << p.lens;
        const Agreement a = Compare(p, *found.correction, db);
        std::printf("%-50s crop %5.3f %-13s %-6s colour %-6s vign %-3s points %4d  green %.4f px  red/blue %.4f px  gain %.4f%% (up to %.3f)\n",
                    p.lens, p.crop, LensModelName(p.projection),
                    found.correction->distortion == DistortionModel::kPoly3 ? "poly3" : "ptlens",
                    found.correction->tca == TcaModel::kNone ? "-" : found.correction->tca == TcaModel::kLinear ? "linear" : "poly3",
                    found.correction->vignetting ? "yes" : "-", a.points, a.green, a.colour, 100.0 * a.gain, a.strongest);
        EXPECT_GT(a.points, 100) << p.lens;
        EXPECT_LT(a.green, 0.05) << p.lens;
        EXPECT_LT(a.colour, 0.05) << p.lens;
        EXPECT_LT(a.gain, 0.005) << p.lens;
    }
}

// The circle check: a found circle within 5% of the one the lens draws on
// this camera passes; one further off is named with both sizes.
TEST(LensProfile, ACircleThatDoesNotSuitTheLensIsSaid) {
    LensProfileSettings s;
    s.lens = "Sigma 8mm f/3.5 EX DG Circular";
    s.cropFactor = 1.0;
    const LensProfileLookup found = LookUpLensProfile(s);
    ASSERT_TRUE(found.correction) << found.error;
    const double drawn = ExpectedCircleDiameter(*found.correction, 180.0, 3840, 2160);
    // The rim ray's radius through the same map the modifier agrees with
    // above (real focal length, ptlens distortion) on a 4406 px diagonal.
    EXPECT_NEAR(drawn, 2327.5, 1.0);
    EXPECT_EQ(CircleMismatch(*found.correction, 180.0, drawn * 1.04, 3840, 2160), "");
    EXPECT_EQ(CircleMismatch(*found.correction, 180.0, drawn * 0.96, 3840, 2160), "");
    const std::string said = CircleMismatch(*found.correction, 180.0, 2 * 1705.0, 3840, 2160);
    EXPECT_EQ(said.rfind("this lens on this camera draws a circle of about 2,330", 0), 0u) << said;
    EXPECT_NE(said.find(" px; the movie's is 3,410 px: another camera, a speed booster, or another lens?"), std::string::npos)
        << said;
}

// A smooth scene: a colour for every view direction (a right, b up, c ahead).
double Scene(int channel, double a, double b, double c) {
    switch (channel) {
        case 0: return 128 + 70 * std::sin(1.8 * a + 2.1 * b);                     // blue
        case 1: return 128 + 70 * std::cos(2.0 * b - 0.5) * std::sin(1.5 * c + 0.3);  // green
        default: return 128 + 70 * std::sin(2.5 * a + 1.0) * std::cos(1.7 * b);    // red
    }
}

uint8_t Byte(double v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

// The scene photographed through the lens: every fisheye pixel's colour
// channels taken where the library's modifier, run in reverse (from the
// equirectangular panorama to the lens), says they come from, and darkened
// by the library's vignetting. Bottom-up BGRX, as the pipeline takes frames.
std::vector<uint8_t> Photograph(const lfLens* lens, const LensCorrection& c, double f) {
    lfModifier mod(lens, static_cast<float>(c.cropFactor), kFrame, kFrame);
    mod.Initialize(lens, LF_PF_F32, static_cast<float>(c.focal), lens->MinAperture, 1000.0f, 1.0f, LF_EQUIRECTANGULAR,
                   LF_MODIFY_DISTORTION | LF_MODIFY_GEOMETRY | LF_MODIFY_TCA | LF_MODIFY_VIGNETTING, true);
    const double centre = 0.5 * kFrame - 0.5;
    std::vector<uint8_t> frame(4 * kFrame * kFrame, 0);
    std::vector<float> where(6 * kFrame), colour(3 * kFrame);
    for (int y = 0; y < kFrame; ++y) {
        mod.ApplySubpixelGeometryDistortion(0, static_cast<float>(y), kFrame, 1, where.data());
        for (int x = 0; x < kFrame; ++x) {
            for (int ch = 0; ch < 3; ++ch) {  // red, green, blue
                const double lon = (where[6 * x + 2 * ch] - centre) / f;
                const double down = (where[6 * x + 2 * ch + 1] - centre) / f;
                colour[3 * x + ch] = static_cast<float>(
                    Scene(2 - ch, std::cos(down) * std::sin(lon), -std::sin(down), std::cos(down) * std::cos(lon)));
            }
        }
        mod.ApplyColorModification(colour.data(), 0, static_cast<float>(y), kFrame, 1, LF_CR_3(RED, GREEN, BLUE),
                                   static_cast<int>(3 * sizeof(float) * kFrame));
        uint8_t* row = frame.data() + 4 * static_cast<size_t>(kFrame) * (kFrame - 1 - y);
        for (int x = 0; x < kFrame; ++x) {
            for (int ch = 0; ch < 3; ++ch) row[4 * x + 2 - ch] = Byte(colour[3 * x + ch]);
        }
    }
    return frame;
}

// PSNR of a conversion against the scene itself, over the output pixels
// looking less than 80 degrees off the axis.
double PsnrAgainstScene(const std::vector<uint8_t>& frame, const TransformSettings& s) {
    FramePipeline p(1);
    EXPECT_EQ(p.Allocate(kFrame, kFrame), TransformStatus::kOk);
    EXPECT_TRUE(p.BuildGeometry(s.cut, s.lens).Ok());
    EXPECT_EQ(p.ConvertFrame(frame.data(), frame.size(), s, {}, {}), TransformStatus::kOk);
    const CutGeometry& g = p.Geometry();
    double squares = 0.0;
    long count = 0;
    for (int y = 0; y < g.outH; ++y) {
        for (int x = 0; x < g.outW; ++x) {
            float sinLon = 0, cosLon = 0, sinLat = 0, cosLat = 0;
            LongitudeTerms(g, x, sinLon, cosLon);
            LatitudeTerms(g, y, sinLat, cosLat);
            const double a = double(sinLon) * sinLat, b = cosLat, c = double(cosLon) * sinLat;
            if (c < std::cos(80.0 * std::numbers::pi / 180.0)) continue;
            const uint8_t* px = p.OutputPixels() + 4 * (static_cast<size_t>(y) * g.outW + x);
            for (int ch = 0; ch < 3; ++ch) {
                const double d = px[ch] - double(Byte(Scene(ch, a, b, c)));
                squares += d * d;
                ++count;
            }
        }
    }
    return 10.0 * std::log10(255.0 * 255.0 / std::max(squares / double(count), 1e-9));
}

// A scene photographed through a real lens: converted with its profile it
// comes back close to the scene; converted with the ideal model alone (the
// cut on the circle the lens draws) it does not.
TEST(LensProfile, APhotographedSceneComesBackWithTheProfile) {
    lfDatabase db;
    ASSERT_EQ(db.Load(), LF_NO_ERROR);
    LensSettings lens;
    lens.profile.lens = "Sigma 8mm f/3.5 EX DG Circular";
    lens.profile.cropFactor = 1.0;
    lens.profile.focal = 8.0;
    const LensProfileLookup found = LookUpLensProfile(lens.profile);
    ASSERT_TRUE(found.correction) << found.error;
    const lfLens* dbLens = DatabaseLens(db, found.correction->model, 1.0);
    ASSERT_NE(dbLens, nullptr);
    CutGeometry g;
    g.frameW = g.frameH = kFrame;
    const ProfileMap m = MakeProfileMap(g, LensSettings{}, *found.correction);
    const std::vector<uint8_t> frame = Photograph(dbLens, *found.correction, m.focalNorm * m.pixelsPerNorm);

    TransformSettings with;
    with.sharpenOn = 0;
    with.cut = CutRect{0, 0, 600, 600};
    with.lens = lens;
    TransformSettings without = with;
    without.lens = LensSettings{};
    without.lens.model = found.correction->projection;
    // The ideal model's circle is the cut: the one the lens draws.
    const double quarter = ExpectedCircleDiameter(*found.correction, 180.0, kFrame, kFrame) / 4.0;
    const int lo = static_cast<int>(std::lround(300 - quarter)), hi = static_cast<int>(std::lround(300 + quarter));
    without.cut = CutRect{lo, lo, hi, hi};
    const double psnrWith = PsnrAgainstScene(frame, with);
    const double psnrWithout = PsnrAgainstScene(frame, without);
    std::printf("scene through %s: %.2f dB with the profile, %.2f dB with the ideal equisolid model\n",
                lens.profile.lens.c_str(), psnrWith, psnrWithout);
    EXPECT_GE(psnrWith, 32.0);
    EXPECT_LT(psnrWithout, psnrWith - 6.0);
}

}  // namespace
}  // namespace tessaly
