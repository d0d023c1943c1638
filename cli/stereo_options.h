// The headless converter's stereo options: two eyes in one frame
// (--stereo sbs|tb), the output's layout, swapped eyes and each eye's own
// levelling angles, as the option table reads them. They fill a
// StereoSettings; the eyes' cuts come from the circle search before the run.
#pragma once

#include <string>

#include "transform/stereo_layout.h"

namespace tessaly {

// Applies one stereo option with its value; false with `error` set when the
// value is not valid.
bool ApplyStereoOption(const std::string& name, const std::string& value, StereoSettings& stereo,
                       std::string& error);

// Applies a stereo switch without value (--swap-eyes, --align-eyes,
// --no-align-eyes); false for any other argument.
bool ApplyStereoSwitch(const std::string& arg, StereoSettings& stereo);

// Why the stereo options given cannot be used together with the rest
// (`otherCut`: --cut or --circle given, `flip`: --flip, `join`: --join,
// which takes the layout from its parts), or empty.
std::string StereoOptionsProblem(const StereoSettings& stereo, bool stereoOnlyGiven, bool otherCut, bool flip,
                                 bool join);

// True when the settings differ from the mono defaults in anything but the
// input layout: an option that needs --stereo was given.
bool StereoOnlyOptionsGiven(const StereoSettings& stereo);

}  // namespace tessaly
