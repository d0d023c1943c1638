#include "transform/lens.h"

#include <cmath>
#include <numbers>
#include <utility>

namespace tessaly {

const char* LensModelName(LensModel model) {
    switch (model) {
        case LensModel::kEquidistant: return "equidistant";
        case LensModel::kEquisolid: return "equisolid";
        case LensModel::kStereographic: return "stereographic";
        case LensModel::kOrthographic: return "orthographic";
    }
    return "equidistant";
}

std::optional<LensModel> LensModelFromName(std::string_view name) {
    for (const LensModel m : {LensModel::kEquidistant, LensModel::kEquisolid, LensModel::kStereographic,
                              LensModel::kOrthographic}) {
        if (name == LensModelName(m)) return m;
    }
    return std::nullopt;
}

std::optional<LensModel> LensModelFromNumber(int64_t number) {
    if (number < 0 || number > static_cast<int64_t>(LensModel::kOrthographic)) return std::nullopt;
    return static_cast<LensModel>(number);
}

std::string LensProblem(const LensSettings& lens) {
    auto number = [](double v) {
        std::string s = std::to_string(v);  // only for messages; "." is kept below
        for (char& c : s) {
            if (c == ',') c = '.';
        }
        while (!s.empty() && s.back() == '0') s.pop_back();
        if (!s.empty() && s.back() == '.') s.pop_back();
        return s;
    };
    if (!std::isfinite(lens.fov) || lens.fov < kMinLensFov || lens.fov > kMaxLensFov) {
        return "the lens's field of view must lie between " + number(kMinLensFov) + " and " +
               number(kMaxLensFov) + " degrees (not " + number(lens.fov) + ")";
    }
    if (lens.model == LensModel::kOrthographic && lens.fov > kMaxOrthographicFov) {
        return "an orthographic lens sees at most " + number(kMaxOrthographicFov) + " degrees (not " +
               number(lens.fov) + ")";
    }
    for (const auto& [name, value] : {std::pair{"yaw", lens.yaw}, {"pitch", lens.pitch}, {"roll", lens.roll}}) {
        if (!std::isfinite(value) || std::fabs(value) > kMaxLensAngle) {
            return std::string("the ") + name + " must lie between -" + number(kMaxLensAngle) + " and " +
                   number(kMaxLensAngle) + " degrees (not " + number(value) + ")";
        }
    }
    return {};
}

double LensRadius(LensModel model, double theta) {
    switch (model) {
        case LensModel::kEquidistant: return theta;
        case LensModel::kEquisolid: return 2.0 * std::sin(0.5 * theta);
        case LensModel::kStereographic: return 2.0 * std::tan(0.5 * theta);
        case LensModel::kOrthographic: return std::sin(theta);
    }
    return theta;
}

double LensRadiusFraction(const LensSettings& lens, double theta) {
    const double rim = 0.5 * lens.fov * std::numbers::pi / 180.0;
    return LensRadius(lens.model, theta) / LensRadius(lens.model, rim);
}

}  // namespace tessaly
