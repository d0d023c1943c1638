// The lens the fisheye picture was taken with: its projection model, the
// field of view across its image circle, and the levelling angles applied to
// the view before the lens is looked up (yaw, pitch and roll as in ffmpeg's
// v360 filter). The defaults describe the equidistant 180-degree lens that
// the cut geometry assumes, and give exactly its remap table.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tessaly {

enum class LensModel : int32_t {
    kEquidistant = 0,    // r = f * theta
    kEquisolid = 1,      // r = 2 f sin(theta / 2)
    kStereographic = 2,  // r = 2 f tan(theta / 2)
    kOrthographic = 3,   // r = f sin(theta)
};

// The field of view a lens may be given, in degrees across the circle's
// diameter; an orthographic lens sees at most 180.
inline constexpr double kMinLensFov = 90.0;
inline constexpr double kMaxLensFov = 280.0;
inline constexpr double kMaxOrthographicFov = 180.0;
// Levelling angles are taken within [-180, 180] degrees.
inline constexpr double kMaxLensAngle = 180.0;

// A calibrated profile from the lens database: the lens named as the
// database names it ("MAKER MODEL"; empty: none, the ideal model alone), the
// camera or the crop factor it is used on, and the focal length, aperture and
// focus distance the corrections are interpolated for (0: the database's or
// the lens's own default, said in the log).
struct LensProfileSettings {
    std::string lens;
    std::string camera;       // "MAKER MODEL" of the camera; empty: cropFactor or the calibration's
    double cropFactor = 0.0;  // the camera's sensor diagonal against 43.27 mm
    double focal = 0.0;       // mm
    double aperture = 0.0;    // f-number
    double distance = 0.0;    // m
    std::string lensFile;     // a further database file in the database's XML format
    bool lateralColour = true;  // per-channel coordinates where the profile has them

    bool operator==(const LensProfileSettings&) const = default;
    bool Empty() const { return lens.empty(); }
};

struct LensSettings {
    LensModel model = LensModel::kEquidistant;
    double fov = 180.0;   // degrees across the lens circle's diameter
    double yaw = 0.0;     // degrees, positive turns the view to the right
    double pitch = 0.0;   // degrees, positive tilts the view upward
    double roll = 0.0;    // degrees, about the view's axis
    LensProfileSettings profile{};  // with a lens named, its projection replaces `model`

    bool operator==(const LensSettings&) const = default;
    // True for the lens the cut geometry was made for: its remap table is
    // the one computed without any lens arithmetic.
    bool IsDefault() const { return *this == LensSettings{}; }
};

// "equidistant", "equisolid", "stereographic", "orthographic".
const char* LensModelName(LensModel model);
std::optional<LensModel> LensModelFromName(std::string_view name);
// The model stored under a number (parameter file), if it is one.
std::optional<LensModel> LensModelFromNumber(int64_t number);

// Why these settings cannot be used ("the field of view ... "), or empty.
std::string LensProblem(const LensSettings& lens);

// The distance from the image centre of a ray theta radians off the optical
// axis, in units of the focal length.
double LensRadius(LensModel model, double theta);

// The same distance as a fraction of the lens circle's radius, the circle
// being where the rays at fov / 2 land. 1 at fov / 2; the angle may exceed it.
double LensRadiusFraction(const LensSettings& lens, double theta);

}  // namespace tessaly
