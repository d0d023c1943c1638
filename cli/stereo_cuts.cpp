#include "cli/stereo_cuts.h"

#include "transform/stereo_circles.h"
#include "video/luma_sampler.h"

namespace tessaly {

bool ChooseStereoCuts(const std::string& input, StereoSettings& stereo, const std::atomic<bool>* stop,
                      std::vector<std::string>& said, std::string& problem) {
    const SampledLuma sampled = SampleLumaMaximum(input, LumaSampling{}, stop);
    if (!sampled.ok) {
        problem = "cannot open " + input + ": " + sampled.error;
        return false;
    }
    const StereoCircleSearch search =
        FindStereoCircles(sampled.maximum, sampled.frameW, sampled.frameH, stereo.input, stereo.swapEyes);
    if (!search.Found()) {
        problem = search.Problem();
        return false;
    }
    const StereoPlacement placed = PlaceStereoEyes(sampled.frameW, sampled.frameH, stereo.input, stereo.swapEyes,
                                                   {search.eyes[0].circle, search.eyes[1].circle});
    if (!placed.ok) {
        problem = placed.problem;
        return false;
    }
    for (int eye = 0; eye < 2; ++eye) {
        stereo.windows[eye] = placed.windows[eye];
        stereo.cuts[eye] = placed.eyes[eye].cut;
        const FrameRegion& w = placed.windows[eye];
        said.push_back(std::string(eye == kLeftEye ? "left eye " : "right eye ") +
                       CircleCutLine(search.eyes[eye].circle, placed.eyes[eye], "cut") + " of the " +
                       std::to_string(w.w) + "x" + std::to_string(w.h) + " window at " + std::to_string(w.x) + "," +
                       std::to_string(w.y));
    }
    return true;
}

}  // namespace tessaly
