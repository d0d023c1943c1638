// One conversion, described once: the movie, the geometry made for it, the
// lens, the filters and the outputs. A front end builds the job (from the
// parameter file and the command line, or read back from a job file) and
// the conversion runs it; the same job gives the same pictures wherever and
// in how many parts it runs.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/parameter_table.h"
#include "app/still_format.h"
#include "transform/cut_rect.h"
#include "transform/lens.h"
#include "transform/lens_circle.h"
#include "transform/stereo_layout.h"

namespace tessaly {

// The movie as it was when the job was made: a run refuses a movie that has
// changed since (another size or file size), since its cut would miss.
struct JobMovie {
    std::string path;
    int32_t stream = -1;  // the decoded video stream (av_find_best_stream)
    int32_t width = 0;    // the picture as decoded, turned upright (0: unknown)
    int32_t height = 0;
    int32_t rateNum = 0;  // frame rate as a fraction (0/0: unknown)
    int32_t rateDen = 0;
    int64_t bytes = 0;    // the file's size

    bool operator==(const JobMovie&) const = default;
};

// The cut, the lens circle it places (when one was found or given) and the
// movie and picture size it was made for.
struct JobGeometry {
    CutRect cut = kDefaultCut;
    std::optional<LensCircle> circle;
    std::string moviePath;
    int32_t frameW = 0;
    int32_t frameH = 0;

    bool operator==(const JobGeometry&) const = default;
};

// The picture filters as the parameter file holds them: a switch (0 or 1)
// and an amount each.
struct JobFilters {
    int32_t sharpenOn = Parameter("SHARPEN_CH").start;
    int32_t sharpen = 0;
    int32_t radius = 0;
    int32_t brightnessOn = 0;
    int32_t brightness = 0;
    int32_t contrastOn = 0;
    int32_t contrast = 0;
    int32_t noiseOn = 0;
    int32_t noise = 0;
    int32_t cpuOn = 0;
    int32_t cpu = 0;

    bool operator==(const JobFilters&) const = default;
};

struct JobOutputs {
    std::vector<std::string> paths;  // the first is converted, the rest encoded from the same frames
    int32_t quality = 0;             // 0..21
    int32_t resize = 0;              // 0..5
    std::optional<StillFormat> stills;  // none: the frames stream into the encoder
    bool keepStills = false;
    bool vrMetadata = true;

    bool operator==(const JobOutputs&) const = default;
};

// How this machine runs the job: the temporary folder, the failure rules
// and, given on the command line only, the part or the join.
struct JobRunOptions {
    std::string tempDir;  // the folder the run makes its private folder in
    bool strict = false;  // a movie that decodes short fails the run
    int32_t encoderStallSeconds = Parameter("ENCODER_STALL").start;
    int32_t partIndex = 0;  // 1..partCount, 0: the whole movie
    int32_t partCount = 0;
    bool join = false;               // join `parts` into the first output
    std::vector<std::string> parts;

    bool operator==(const JobRunOptions&) const = default;
};

// The right eye's view against the left's, in degrees of the lens's pitch
// and roll.
struct EyeOffset {
    double pitch = 0.0;
    double roll = 0.0;

    bool operator==(const EyeOffset&) const = default;
};

// Two eyes in one frame, resolved when the job is built: each eye's window,
// cut and angles as the run converts them (StereoSettings; the alignment
// already in the angles), the circles the cuts place and what the alignment
// measured. Every part of the job converts with these very numbers.
struct JobStereo {
    StereoSettings settings;  // input kMono: one picture, the geometry's cut
    std::array<std::optional<LensCircle>, 2> circles;  // left eye, right eye
    // How far the eyes were apart before the alignment took it out; none
    // when they were not aligned (--no-align-eyes, or nothing to measure).
    std::optional<EyeOffset> measured;
    // Two movies (settings.input kPair): the left eye's is the job's movie,
    // the right eye's this one, as it was when the job was made; its frame
    // n + rightOffset goes with the left's frame n (the offset their sound
    // showed, or the one given), resolved once.
    JobMovie right;
    int32_t rightOffset = 0;

    bool IsPair() const { return settings.input == StereoLayout::kPair; }
    bool IsStereo() const { return settings.IsStereo(); }
    bool operator==(const JobStereo&) const = default;
};

struct MovieJob {
    JobMovie movie;
    JobGeometry geometry;
    JobStereo stereo;
    LensSettings lens;
    JobFilters filters;
    bool flip = false;
    bool aspect = false;
    JobOutputs outputs;
    JobRunOptions run;

    bool operator==(const MovieJob&) const = default;
};

// One filter field: the parameter file's field and the job's; its tag,
// kind and range are the parameter's (ParameterOf).
struct JobFilterField {
    int32_t AppSettings::*setting;
    int32_t JobFilters::*field;
};
inline constexpr JobFilterField kJobFilterFields[] = {
    {&AppSettings::SHARPEN_CH, &JobFilters::sharpenOn},   {&AppSettings::SHARPEN, &JobFilters::sharpen},
    {&AppSettings::RADIUS, &JobFilters::radius},          {&AppSettings::BRIGHTNESS_CH, &JobFilters::brightnessOn},
    {&AppSettings::BRIGHTNESS, &JobFilters::brightness},  {&AppSettings::CONTRAST_CH, &JobFilters::contrastOn},
    {&AppSettings::CONTRAST, &JobFilters::contrast},      {&AppSettings::NOISE_CH, &JobFilters::noiseOn},
    {&AppSettings::NOISE, &JobFilters::noise},            {&AppSettings::CPU_CH, &JobFilters::cpuOn},
    {&AppSettings::CPU, &JobFilters::cpu},
};

// The picture part of a job (cut, lens, filters, aspect, temporary folder)
// from the settings a front end holds; movie, geometry's movie, flip and
// outputs are the caller's.
MovieJob JobFromSettings(const AppSettings& settings);

// The job of a front end's state for the movie at `moviePath` into
// `outputs`: JobFromSettings, the movie's path (also the geometry's), and
// the run's flip, size choice and VR marking. The movie's facts, the circle,
// the quality, the still format and the run's rules are the caller's.
MovieJob JobFromState(const AppSettings& settings, const RunState& run, const std::string& moviePath,
                      std::vector<std::string> outputs);

// The settings the conversion reads, `base` with every value the job
// decides replaced: whatever else `base` holds (a node's parameter file)
// cannot change a picture.
AppSettings JobSettings(const MovieJob& job, AppSettings base);

// Puts the job into the application the engine runs on: its settings and
// the run's switches (flip, still format, size, VR marking).
void ApplyJob(const MovieJob& job, FisheyeApp& app);

// Why the job cannot be run as it stands (a geometry made for another movie
// or picture size, a lens or an amount out of range), or empty.
std::string JobProblem(const MovieJob& job);

}  // namespace tessaly
