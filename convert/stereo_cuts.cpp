#include "convert/stereo_cuts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "convert/right_eye_feed.h"
#include "transform/stereo_alignment.h"
#include "transform/stereo_circles.h"
#include "video/luma_sampler.h"

namespace tessaly {

bool ChooseStereoCuts(const std::string& input, JobStereo& eyes, const std::atomic<bool>* stop,
                      std::vector<std::string>& said, std::string& problem) {
    StereoSettings& stereo = eyes.settings;
    const Result<SampledLuma> read = SampleLumaMaximum(input, LumaSampling{}, stop);
    if (!read.ok()) {
        problem = "cannot open " + input + ": " + read.reason();
        return false;
    }
    const SampledLuma& sampled = read.value();
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
        stereo.shifts[eye] = placed.shifts[eye];
        eyes.circles[eye] = search.eyes[eye].circle;
        const FrameRegion& w = placed.windows[eye];
        said.push_back(std::string(eye == kLeftEye ? "left eye " : "right eye ") +
                       CircleCutLine(search.eyes[eye].circle, placed.eyes[eye], "cut") + " of the " +
                       std::to_string(w.w) + "x" + std::to_string(w.h) + " window at " + std::to_string(w.x) + "," +
                       std::to_string(w.y));
    }
    return true;
}

namespace {

// "+1.50": degrees with two decimals, '.' whatever the locale.
std::string Degrees(double value) {
    const long long hundredths = std::llround(value * 100.0);
    const long long magnitude = hundredths < 0 ? -hundredths : hundredths;
    char text[48];
    std::snprintf(text, sizeof text, "%c%lld.%02lld", hundredths < 0 ? '-' : '+', magnitude / 100, magnitude % 100);
    return text;
}

using EyeFrames = std::array<const uint8_t*, 2>;

// The eyes of their frames (bottom-up BGRX of w x h), converted and measured.
EyeMisalignment Measure(const EyeFrames& frames, int32_t w, int32_t h, const StereoSettings& stereo,
                        const LensSettings& shared) {
    std::array<FrameBuffer, 2> eyes;
    if (!ConvertStereoEyes(frames, w, h, stereo, shared, eyes)) return {};
    return MeasureEyeMisalignment(eyes[kLeftEye], eyes[kRightEye]);
}

// Measures the eyes on their frames and moves each eye's pitch and roll by
// half of what they disagree; says the measure and what is left.
void AlignOnFrames(const EyeFrames& frames, int32_t w, int32_t h, const LensSettings& shared, JobStereo& eyes,
                   std::vector<std::string>& said) {
    StereoSettings& stereo = eyes.settings;
    const EyeMisalignment before = Measure(frames, w, h, stereo, shared);
    if (!before.ok) {
        // Nothing to go by is no reason to refuse the movie.
        said.push_back("eyes not aligned: too little detail along the horizon to compare them; the angles are "
                       "used as given");
        return;
    }
    // The measure is linear only near zero: a second round takes out what
    // the first left.
    eyes.measured = EyeOffset{before.pitch, before.roll};
    stereo = AlignedEyes(stereo, shared, before);
    EyeMisalignment after = Measure(frames, w, h, stereo, shared);
    if (after.ok) {
        stereo = AlignedEyes(stereo, shared, after);
        after = Measure(frames, w, h, stereo, shared);
    }
    std::string line = "eyes aligned: the right eye was " + Degrees(before.pitch) + " deg pitch and " +
                       Degrees(before.roll) + " deg roll off the left; left eye pitch " +
                       Degrees(*stereo.angles[kLeftEye].pitch) + " roll " + Degrees(*stereo.angles[kLeftEye].roll) +
                       ", right eye pitch " + Degrees(*stereo.angles[kRightEye].pitch) + " roll " +
                       Degrees(*stereo.angles[kRightEye].roll) + " deg";
    if (after.ok) line += "; left after: " + Degrees(after.pitch) + " pitch, " + Degrees(after.roll) + " roll";
    said.push_back(line);
}

}  // namespace

bool AlignStereoEyes(const std::string& input, const LensSettings& shared, JobStereo& eyes,
                     std::vector<std::string>& said, std::string& problem) {
    const Result<SampledLuma> read = SampleLumaMaximum(input, LumaSampling{1, 1 << 16});
    if (!read.ok() || read->maximum.width != read->frameW || read->maximum.height != read->frameH) {
        problem = "cannot read a frame of " + input + " to align the eyes: " + read.reason();
        return false;
    }
    const SampledLuma& sampled = read.value();
    const int32_t w = sampled.frameW, h = sampled.frameH;
    std::vector<uint8_t> frame(static_cast<size_t>(w) * h * 4);
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* src = sampled.maximum.pixels.data() + static_cast<size_t>(y) * w;
        uint8_t* dst = frame.data() + static_cast<size_t>(h - 1 - y) * w * 4;  // bottom-up
        for (int32_t x = 0; x < w; ++x) std::fill_n(dst + 4 * x, 3, src[x]);
    }
    AlignOnFrames({frame.data(), frame.data()}, w, h, shared, eyes, said);
    return true;
}

bool AlignPairEyes(const std::string& left, const LensSettings& shared, JobStereo& eyes,
                   std::vector<std::string>& said, std::string& problem) {
    // Each movie's frame as a run decodes it: left frame 0, right frame
    // 0 + offset, both at the movies' one size and rate.
    const std::string paths[2] = {left, eyes.right.path};
    const int32_t offsets[2] = {0, eyes.rightOffset};
    std::array<RightEyeFeed, 2> feeds;
    EyeFrames frames{};
    for (int eye = 0; eye < 2; ++eye) {
        std::string why = feeds[eye].Open(paths[eye], offsets[eye]);
        const MediaInfo info = feeds[eye].Info();
        const double rate = info.timePerFrame.count() > 0 ? kMediaTimePerSecond / double(info.timePerFrame.count()) : 0;
        if (why.empty()) frames[eye] = feeds[eye].FrameFor(0.0, rate);
        if (why.empty() && frames[eye] == nullptr) why = "the movie ends before frame " + std::to_string(offsets[eye]);
        if (!why.empty()) {
            problem = "cannot read a frame of " + paths[eye] + " to align the eyes: " + why;
            return false;
        }
    }
    const MediaInfo info = feeds[kLeftEye].Info();
    AlignOnFrames(frames, info.frameWidth, info.frameHeight, shared, eyes, said);
    return true;
}

}  // namespace tessaly
