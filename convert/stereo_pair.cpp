#include "convert/stereo_pair.h"

#include <cmath>
#include <cstdio>

#include "convert/job_movie.h"
#include "transform/circle_finder.h"
#include "transform/stereo_circles.h"
#include "video/luma_sampler.h"
#include "video/sound_offset.h"
#include "video/sound_samples.h"

namespace tessaly {

Result<SoundSync> SyncBySound(const std::string& left, const std::string& right, double framesPerSecond) {
    const Result<std::vector<float>> l = ReadMonoSound(left, kSyncSampleRate, kSyncSeconds);
    if (!l.ok()) return Failure{"the left movie " + left + " " + l.reason() + ": give --right-offset"};
    const Result<std::vector<float>> r = ReadMonoSound(right, kSyncSampleRate, kSyncSeconds);
    if (!r.ok()) return Failure{"the right movie " + right + " " + r.reason() + ": give --right-offset"};
    const int64_t frameSamples = std::llround(kSyncSampleRate / framesPerSecond);
    const SoundOffset found = FindSoundOffset(l.value(), r.value(), kSyncSampleRate * 30, frameSamples);
    SoundSync sync{LagInFrames(found.lagSamples, kSyncSampleRate, framesPerSecond), found.confidence};
    if (found.confidence < kSyncMinConfidence) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "the two movies' sound does not agree (confidence %.2f, at least %.1f needed): give --right-offset",
                      found.confidence, kSyncMinConfidence);
        return Failure{text};
    }
    return sync;
}

std::string SoundSyncLine(const SoundSync& sync) {
    char text[160];
    std::snprintf(text, sizeof text, "sound sync: the right movie's frame n %c %d goes with the left's frame n (confidence %.1f)",
                  sync.frames < 0 ? '-' : '+', std::abs(sync.frames), sync.confidence);
    return text;
}

namespace {

struct FoundCircle {
    SampledLuma sampled;
    LensCircle circle;
};

Result<FoundCircle> FindCircle(const std::string& path, const char* eye, const std::atomic<bool>* stop) {
    Result<SampledLuma> read = SampleLumaMaximum(path, LumaSampling{}, stop);
    if (!read.ok()) return Failure{"cannot open " + path + ": " + read.reason()};
    const CircleSearch search = FindLensCircle(read->maximum, read->frameW, read->frameH);
    if (!search.found) return Failure{std::string("no lens circle found for the ") + eye + ": " + search.reason};
    return FoundCircle{std::move(read).value(), search.circle};
}

double Rate(const JobMovie& m) { return m.rateDen > 0 ? static_cast<double>(m.rateNum) / m.rateDen : 0; }

// Both movies' pictures of one size and rate, or why not.
std::string PairProblem(const JobMovie& l, const JobMovie& r) {
    if (l.width != r.width || l.height != r.height) {
        return "the two movies' pictures differ in size (" + std::to_string(l.width) + "x" + std::to_string(l.height) +
               " and " + std::to_string(r.width) + "x" + std::to_string(r.height) + ")";
    }
    if (Rate(l) <= 0 || std::fabs(Rate(l) - Rate(r)) > Rate(l) * 1e-3) return "the two movies run at different frame rates";
    return {};
}

}  // namespace

Status ResolveStereoPair(const std::string& left, const std::string& right, std::optional<int32_t> offset,
                         JobStereo& stereo, std::vector<std::string>& said, const std::atomic<bool>* stop) {
    const JobMovie l = ReadJobMovie(left);
    stereo.right = ReadJobMovie(right);
    if (const std::string problem = PairProblem(l, stereo.right); !problem.empty()) return Failure{problem};
    const std::string paths[2] = {left, right};
    std::vector<FoundCircle> found;
    for (int eye = 0; eye < 2; ++eye) {
        Result<FoundCircle> circle = FindCircle(paths[eye], eye == kLeftEye ? "left eye" : "right eye", stop);
        if (!circle.ok()) return Failure{circle.reason()};
        found.push_back(std::move(circle).value());
    }
    // One cut for both eyes, each movie's whole frame moved over its circle
    // as the eyes of one frame are: cuts fitted one by one may differ by a
    // row, and eyes of two sizes cannot be joined.
    const StereoPlacement placed = PlaceStereoEyes(found[0].sampled.frameW, found[0].sampled.frameH, StereoLayout::kPair,
                                                   false, {found[0].circle, found[1].circle});
    if (!placed.ok) return Failure{"no cut places the left movie's lens circle"};
    for (int eye = 0; eye < 2; ++eye) {
        stereo.settings.windows[eye] = placed.windows[eye];
        stereo.settings.cuts[eye] = placed.eyes[eye].cut;
        stereo.settings.shifts[eye] = placed.shifts[eye];
        stereo.circles[eye] = found[eye].circle;
        said.push_back(std::string(eye == kLeftEye ? "left eye " : "right eye ") +
                       CircleCutLine(found[eye].circle, placed.eyes[eye], "cut") + " of " + paths[eye]);
    }
    if (!offset) {
        const Result<SoundSync> sync = SyncBySound(left, right, Rate(l));
        if (!sync.ok()) return Failure{sync.reason()};
        said.push_back(SoundSyncLine(sync.value()));
        offset = sync->frames;
    } else {
        said.push_back("sound sync: the right movie's frame n + " + std::to_string(*offset) +
                       " goes with the left's frame n (--right-offset)");
    }
    if (*offset < 0) {
        return Failure{"the right movie starts " + std::to_string(-*offset) +
                       " frames after the left one: cut those frames from the start of the left movie"};
    }
    stereo.rightOffset = *offset;
    return {};
}

}  // namespace tessaly
