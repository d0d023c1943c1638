#include "cli/stereo_options.h"

#include "cli/convert_option_table.h"

#include <optional>

namespace tessaly {
namespace {

struct EyeAngleOption {
    const char* name;
    int eye;
    std::optional<double> EyeAngles::*angle;
    double LensSettings::*field;
};

const EyeAngleOption kEyeAngles[] = {
    {"--left-yaw", kLeftEye, &EyeAngles::yaw, &LensSettings::yaw},
    {"--left-pitch", kLeftEye, &EyeAngles::pitch, &LensSettings::pitch},
    {"--left-roll", kLeftEye, &EyeAngles::roll, &LensSettings::roll},
    {"--right-yaw", kRightEye, &EyeAngles::yaw, &LensSettings::yaw},
    {"--right-pitch", kRightEye, &EyeAngles::pitch, &LensSettings::pitch},
    {"--right-roll", kRightEye, &EyeAngles::roll, &LensSettings::roll},
};

}  // namespace

bool ApplyStereoOption(const std::string& name, const std::string& value, StereoSettings& stereo,
                       std::string& error) {
    if (name == "--stereo" || name == "--stereo-out") {
        const std::optional<StereoLayout> layout = StereoLayoutFromName(value);
        if (!layout) {
            error = name + (name == "--stereo" ? " needs sbs (side by side), tb (top-bottom) or pair (two movies)"
                                               : " needs sbs (side by side) or tb (top-bottom)") +
                    ", got '" + value + "'";
            return false;
        }
        if (name == "--stereo-out" && layout == StereoLayout::kPair) {
            error = "--stereo-out needs sbs (side by side) or tb (top-bottom), got 'pair'";
            return false;
        }
        (name == "--stereo" ? stereo.input : stereo.output) = *layout;
        return true;
    }
    for (const EyeAngleOption& o : kEyeAngles) {
        if (name != o.name) continue;
        const std::optional<double> v = ParseDecimal(value);
        if (!v) {
            error = name + " needs a number of degrees, got '" + value + "'";
            return false;
        }
        LensSettings probe;
        probe.*o.field = *v;
        const std::string problem = LensProblem(probe);
        if (!problem.empty()) {
            error = name + ": " + problem;
            return false;
        }
        stereo.angles[o.eye].*o.angle = *v;
        return true;
    }
    error = "unknown option " + name;
    return false;
}

bool ApplyStereoSwitch(const std::string& arg, StereoSettings& stereo) {
    if (arg == "--swap-eyes") {
        stereo.swapEyes = true;
    } else if (arg == "--align-eyes" || arg == "--no-align-eyes") {
        stereo.alignEyes = arg == "--align-eyes";
    } else {
        return false;
    }
    return true;
}

bool StereoOnlyOptionsGiven(const StereoSettings& stereo) {
    StereoSettings plain;
    plain.input = stereo.input;
    plain.cuts = stereo.cuts;
    return !(stereo == plain);
}

std::string StereoOptionsProblem(const StereoSettings& stereo, bool stereoOnlyGiven, bool otherCut, bool flip,
                                 bool join) {
    if (!stereo.IsStereo()) {
        return stereoOnlyGiven ? "--stereo-out, --swap-eyes, --no-align-eyes and the --left-/--right- angles need "
                                 "--stereo sbs|tb"
                               : std::string();
    }
    if (otherCut) return "--stereo finds each eye's lens circle itself: --cut and --circle cannot be used with it";
    if (flip) return "--flip would swap the eyes' sides: it cannot be used with --stereo";
    if (join) return "--join takes the eyes' layout from its parts: --stereo cannot be given with it";
    return {};
}

}  // namespace tessaly
