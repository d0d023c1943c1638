// Calibrated lens profiles from the lens database photographers use
// (lensfun): a lens found by its name, the database's fisheyes listed, and
// one profile's numbers interpolated for a focal length, aperture and focus
// distance. The numbers are read through the library; the arithmetic that
// uses them is in lens_profile_map.h.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "transform/lens.h"

namespace tessaly {

// How the database describes the departure from the ideal projection, with
// r_u the ideal and r_d the recorded radius (normalised: 1 = half the short
// side of the calibration picture):
enum class DistortionModel {
    kNone,
    kPoly3,   // r_d = r_u (1 - k1 + k1 r_u^2)
    kPoly5,   // r_d = r_u (1 + k1 r_u^2 + k2 r_u^4)
    kPtLens,  // r_d = r_u (a r_u^3 + b r_u^2 + c r_u + 1 - a - b - c)
};
// Lateral colour: red and blue land at other radii than green.
enum class TcaModel {
    kNone,
    kLinear,  // r_R = kr r, r_B = kb r
    kPoly3,   // r_R = r (br r^2 + cr r + vr), the same for blue
};

// One lens on one camera, its corrections interpolated for one setting.
struct LensCorrection {
    std::string maker;
    std::string model;
    std::string name;  // "MAKER MODEL" as the lens list names it
    LensModel projection = LensModel::kEquidistant;
    double focal = 0.0;           // mm, nominal: what the corrections are for
    double projectionFocal = 0.0; // mm: the projection's focal length
    double cropFactor = 1.0;      // of the camera the movie was filmed with
    double calibrationCropFactor = 1.0;
    double calibrationAspect = 1.5;  // long side over short side of the calibration pictures
    DistortionModel distortion = DistortionModel::kNone;
    double distortionTerms[3] = {0, 0, 0};
    TcaModel tca = TcaModel::kNone;
    double tcaTerms[6] = {0, 0, 0, 0, 0, 0};  // linear: kr, kb; poly3: vr, vb, cr, cb, br, bb
    bool vignetting = false;
    double vignettingTerms[3] = {0, 0, 0};    // k1, k2, k3 of 1 + k1 r^2 + k2 r^4 + k3 r^6
    std::vector<std::string> notes;           // what was taken for values not given, for the log
};

struct LensProfileLookup {
    std::optional<LensCorrection> correction;
    std::string error;                    // why there is none
    std::vector<std::string> candidates;  // "MAKER MODEL" the name may have meant
};

// Finds settings.lens in the database (the system's, the user's own
// ~/.local/share/lensfun, and settings.lensFile) and interpolates its
// corrections. The database is read once per process and lens file.
LensProfileLookup LookUpLensProfile(const LensProfileSettings& settings);

struct LensListing {
    std::string maker;
    std::string model;
    std::string projection;  // "equisolid", ..., or the database's word for a lens that is no fisheye
    bool fisheye = false;
    double cropFactor = 0.0;
    double minFocal = 0.0;   // mm; a zoom's maxFocal is larger
    double maxFocal = 0.0;
    bool vignetting = false;  // calibrated for vignetting (the aperture then matters)
};

// The database's lenses whose maker, model or projection contains `word`
// (any case; empty: all), fisheyes first. error receives why the database
// could not be read.
std::vector<LensListing> ListLenses(const std::string& word, const std::string& lensFile, std::string& error);

// "MAKER MODEL" of every camera the database knows, sorted, each once.
std::vector<std::string> ListCameras(const std::string& lensFile, std::string& error);

// The diameter in pixels of the circle a profile's lens draws for a field of
// view (degrees) on a frame of that size: the sanity check of a found circle.
double ExpectedCircleDiameter(const LensCorrection& c, double fov, int frameW, int frameH);

// The circle check: when the lens circle found in the movie (its diameter
// in pixels) differs from the one the profile's lens draws on a frame of that
// size by more than 5%, the sentence that says so; else empty.
std::string CircleMismatch(const LensCorrection& c, double fov, double foundDiameter, int frameW, int frameH);

// One line naming the profile in use and what it corrects, for the log.
std::string ProfileSummary(const LensCorrection& c);
// Its parts: "equisolid, focal length 8 mm, crop factor 1" and
// "distortion ptlens, vignetting corrected, lateral colour poly3".
std::string ProfileSetting(const LensCorrection& c);
std::string ProfileCorrections(const LensCorrection& c);

}  // namespace tessaly
