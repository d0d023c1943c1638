// Command-line options of the headless converter: the settings the main
// window would otherwise provide.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "convert/movie_job.h"
#include "transform/lens.h"
#include "transform/lens_circle.h"
#include "transform/stereo_layout.h"

namespace tessaly {

struct ConvertOptions {
    std::string input;
    std::vector<std::string> outputs;  // the first is converted, the rest re-encoded
    std::string paramsFile;            // empty: the parameter file beside the program

    std::optional<std::array<int32_t, 4>> cut;  // XL1, YL1, XL2, YL2
    bool sharpenOff = false;
    std::optional<int32_t> sharpen;  // amount 0..5
    std::optional<int32_t> radius;   // 0..3
    std::optional<int32_t> brightness;
    std::optional<int32_t> contrast;
    std::optional<int32_t> noise;
    std::optional<int32_t> cpu;
    bool flip = false;
    bool aspect = false;
    // The lens: model, field of view and levelling angles (degrees); each
    // one given replaces the parameter file's.
    std::optional<LensModel> lensModel;
    std::optional<double> fov;
    std::optional<double> yaw;
    std::optional<double> pitch;
    std::optional<double> roll;
    // A calibrated profile from the lens database (--lens-profile, --camera,
    // --crop-factor, --focal, --aperture, --lens-file); each one given
    // replaces the parameter file's.
    std::optional<std::string> lensProfile;
    std::optional<std::string> camera;
    std::optional<double> cropFactor;
    std::optional<double> focal;
    std::optional<double> aperture;
    std::string lensFile;
    // --list-lenses [WORD]: the database's lenses are listed, nothing converted.
    std::optional<std::string> listLenses;
    std::optional<StillFormat> tempFormat;
    int32_t quality = 0;                // 0..21
    int32_t resize = 0;                 // 0..5
    std::string tempDir;
    bool keepStills = false;
    bool vrMetadata = true;  // mark outputs as 180-degree VR video
    bool strict = false;     // a movie that decodes short fails the run (exit 4)
    // An encoder without progress for this long is ended (0: never).
    int32_t encoderStallSeconds = 60;

    // The lens circle in source pixels (--circle CX,CY,R): the cut is the
    // one that places it. Without it, --cut and --params the circle is found.
    std::optional<LensCircle> circle;

    // --part I/N: convert only part I (1..N) of N equal spans of the movie
    // into the part file (outputs[0]); 0/0 converts the whole movie.
    int32_t partIndex = 0;
    int32_t partCount = 0;
    // --join IN OUT PART...: the parts (in order) joined into outputs[0]
    // with the sound of `input`.
    bool join = false;
    std::vector<std::string> parts;

    // --job FILE: run the job of that file (the part, the join and the
    // temporary folder may still be given); --save-job FILE: write the job
    // these options make instead of running it.
    std::string jobFile;
    std::string saveJobFile;
    // The options given, as named ("--sharpen"), in order.
    std::vector<std::string> given;

    // Two eyes in one frame (--stereo), as asked for: the job of these
    // options gets each eye's cut from the circle search.
    StereoSettings stereo;
    // --stereo pair LEFT RIGHT OUT: the right eye's movie (`input` holds the
    // left's), and --right-offset N, its frame that goes with the left's
    // first (none: found from the sound).
    std::string rightInput;
    std::optional<int32_t> rightOffset;

    bool help = false;
    bool version = false;
};

struct ParsedOptions {
    bool ok = false;
    std::string error;  // one line, without the program name
    ConvertOptions options;
};

// Parses the arguments after the program name. "--name value" and
// "--name=value" are both accepted; "--" ends the options.
ParsedOptions ParseConvertOptions(const std::vector<std::string>& args);

// Puts the options into the application's settings and runtime state, over
// whatever the parameter file set.
void ApplyConvertOptions(const ConvertOptions& options, FisheyeApp& app);

// The job of these options over `app`, whose settings hold the parameter
// file with the options put over it (ApplyConvertOptions) and the chosen
// cut: the picture settings, the flip and the still format from `app`, the
// outputs and the run's rules from the options. The movie's facts and the
// circle are the caller's to add.
MovieJob JobFromOptions(const ConvertOptions& options, const FisheyeApp& app);

// Why the lens the settings hold (parameter file and options together, e.g.
// an orthographic lens from the file with a --fov above 180) cannot be
// used, or empty.
std::string LensSettingsProblem(const AppSettings& settings);

// The profile in use as a log line (empty without one), and the sentence
// of a found circle that does not suit it (empty when it does).
std::string LensProfileLine(const AppSettings& settings);
std::string LensCircleMismatch(const AppSettings& settings, double diameter, int frameW, int frameH);

// The lines of --list-lenses: "MAKER MODEL (projection, crop factor F)",
// fisheyes first; false with `error` when the database cannot be read or
// nothing matches.
bool ListLensLines(const ConvertOptions& options, std::vector<std::string>& lines, std::string& error);

// The text of --help.
std::string ConvertUsage();

}  // namespace tessaly
