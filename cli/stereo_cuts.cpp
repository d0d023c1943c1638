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
    const StereoCuts cuts =
        CutsForStereoCircles(sampled.frameW, sampled.frameH, {search.eyes[0].circle, search.eyes[1].circle});
    if (!cuts.ok) {
        problem = cuts.problem;
        return false;
    }
    for (int eye = 0; eye < 2; ++eye) {
        stereo.cuts[eye] = cuts.eyes[eye].cut;
        said.push_back(std::string(eye == kLeftEye ? "left eye " : "right eye ") +
                       CircleCutLine(search.eyes[eye].circle, cuts.eyes[eye], "cut"));
    }
    return true;
}

}  // namespace tessaly
