// Every setting a conversion or the desktop keeps, described once: its tag in
// the parameter file and the job file, the tessaly-convert option that sets
// it, the kind and range of its value, its start value and its help text.
// The parameter file, the job file, tessaly-convert's options (parser,
// --help, completion and manual checks) and the desktop's controls all read
// this table; OptionVocabulary (ctest) fails when one of them drifts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/app_settings.h"
#include "app/value_form.h"
#include "transform/cut_rect.h"

namespace tessaly {

// What a value is: a whole number in min..max; an amount (in min..max, or
// 0 for "never set"); a switch (0 or 1); degrees of the lens; a path; or a
// text of its own form (a lens model, a size, a rate, a circle).
enum class ValueKind : uint8_t { kWhole, kAmount, kSwitch, kDegrees, kPath, kText };

// Window positions outside 0 .. the screen's width or height are saved and
// loaded as 0.
enum class PositionLimit : uint8_t { kNone, kWidth, kHeight };

// The files a tag is written to.
inline constexpr uint8_t kInParameterFile = 1;
inline constexpr uint8_t kInJobFile = 2;

struct ParameterDescriptor {
    const char* tag;
    ValueKind kind = ValueKind::kWhole;
    uint8_t files = kInParameterFile;
    // A whole number's, an amount's or a switch's range: what the job file
    // and the command line accept (the parameter file reads leniently).
    int32_t min = 0;
    int32_t max = 0;
    int32_t start = 0;  // the value before any file is read
    // An amount's Reset value, which a loaded 0 outside its range (and FPS 0) becomes.
    int32_t reset = 0;
    const char* flag = nullptr;       // the tessaly-convert option that sets it
    const char* valueName = nullptr;  // the option's value in --help ("{range}": the range)
    const char* help = nullptr;       // the option's --help text, lines joined by '\n'
    int32_t AppSettings::*field = nullptr;     // the setting it is: a number ...
    std::string AppSettings::*path = nullptr;  // ... or a path
    PositionLimit limit = PositionLimit::kNone;
    ValueForm form{};  // a value of several parts: their form
};

inline constexpr int32_t kCutLimit = 1000000;  // far beyond any preview coordinate
inline constexpr int32_t kMaxEncoderStall = 604800;  // a week
inline constexpr int32_t kCircleLimit = 1000000;   // source pixels, far beyond any movie's

// A lens circle "CX,CY,R" in source pixels.
inline constexpr ValueForm kCircleForm{.parts = 3, .decimals = true, .min = -kCircleLimit, .max = kCircleLimit,
                                       .positive = 1,
                                       .needs = "the centre and radius CX,CY,R in source pixels (R above 0)"};

inline constexpr uint8_t kInBoth = kInParameterFile | kInJobFile;

// The parameter file's 27 lines first, in their order, then its lens and
// cut-movie tags, then the settings only a job holds.
inline constexpr ParameterDescriptor kParameterTable[] = {
    {.tag = "XL1", .files = kInBoth, .min = -kCutLimit, .max = kCutLimit, .start = kDefaultCut.XL1,
     .field = &AppSettings::XL1},
    {.tag = "YL1", .files = kInBoth, .min = -kCutLimit, .max = kCutLimit, .start = kDefaultCut.YL1,
     .field = &AppSettings::YL1},
    {.tag = "XL2", .files = kInBoth, .min = -kCutLimit, .max = kCutLimit, .start = kDefaultCut.XL2,
     .field = &AppSettings::XL2},
    {.tag = "YL2", .files = kInBoth, .min = -kCutLimit, .max = kCutLimit, .start = kDefaultCut.YL2,
     .field = &AppSettings::YL2},
    {.tag = "M_X", .field = &AppSettings::M_X, .limit = PositionLimit::kWidth},
    {.tag = "M_Y", .field = &AppSettings::M_Y, .limit = PositionLimit::kHeight},
    {.tag = "V_X", .field = &AppSettings::V_X, .limit = PositionLimit::kWidth},
    {.tag = "V_Y", .field = &AppSettings::V_Y, .limit = PositionLimit::kHeight},
    {.tag = "SHARPEN_CH", .kind = ValueKind::kSwitch, .files = kInBoth, .max = 1, .start = 1, .field = &AppSettings::SHARPEN_CH},
    {.tag = "BRIGHTNESS_CH", .kind = ValueKind::kSwitch, .files = kInBoth, .max = 1, .field = &AppSettings::BRIGHTNESS_CH},
    {.tag = "CONTRAST_CH", .kind = ValueKind::kSwitch, .files = kInBoth, .max = 1, .field = &AppSettings::CONTRAST_CH},
    {.tag = "CPU_CH", .kind = ValueKind::kSwitch, .files = kInBoth, .max = 1, .field = &AppSettings::CPU_CH},
    {.tag = "NOISE_CH", .kind = ValueKind::kSwitch, .files = kInBoth, .max = 1, .field = &AppSettings::NOISE_CH},
    {.tag = "ASPECT", .kind = ValueKind::kSwitch, .files = kInBoth, .max = 1, .flag = "--aspect",
     .help = "fix the pixel aspect ratio (PARxDAR)", .field = &AppSettings::ASPECT},
    {.tag = "SHARPEN", .kind = ValueKind::kAmount, .files = kInBoth, .min = 0, .max = 5, .reset = 1, .flag = "--sharpen",
     .valueName = "AMOUNT[,RADIUS]", .help = "sharpen {SHARPEN}, radius {RADIUS}; --sharpen off disables",
     .field = &AppSettings::SHARPEN},
    {.tag = "RADIUS", .kind = ValueKind::kAmount, .files = kInBoth, .min = 0, .max = 3, .field = &AppSettings::RADIUS},
    {.tag = "BRIGHTNESS", .kind = ValueKind::kAmount, .files = kInBoth, .min = 0, .max = 255, .reset = 127,
     .flag = "--brightness", .valueName = "N", .help = "brightness {range}", .field = &AppSettings::BRIGHTNESS},
    {.tag = "CONTRAST", .kind = ValueKind::kAmount, .files = kInBoth, .min = 0, .max = 255, .reset = 127, .flag = "--contrast",
     .valueName = "N", .help = "contrast {range}", .field = &AppSettings::CONTRAST},
    {.tag = "CPU", .kind = ValueKind::kAmount, .files = kInBoth, .min = 50, .max = 100, .reset = 100, .flag = "--cpu",
     .valueName = "N", .help = "CPU usage limit {range} percent", .field = &AppSettings::CPU},
    {.tag = "NOISE", .kind = ValueKind::kAmount, .files = kInBoth, .min = 1, .max = 5, .reset = 1, .flag = "--noise",
     .valueName = "N", .help = "noise filter {range}", .field = &AppSettings::NOISE},
    {.tag = "APATH", .kind = ValueKind::kPath, .path = &AppSettings::APATH},
    {.tag = "OPATH", .kind = ValueKind::kPath, .path = &AppSettings::OPATH},
    {.tag = "DSSETUP", .field = &AppSettings::DSSETUP},
    {.tag = "BITRATE", .field = &AppSettings::BITRATE},
    {.tag = "CODECMODE", .field = &AppSettings::CODECMODE},
    {.tag = "AUTOSAVE", .kind = ValueKind::kSwitch, .max = 1, .start = 1, .field = &AppSettings::AUTOSAVE},
    {.tag = "FPS", .start = 1, .reset = 1, .field = &AppSettings::FPS},

    // The lens: the model (its number in the parameter file, its name in a
    // job), the field of view and the angles in degrees.
    {.tag = "LENS", .kind = ValueKind::kText, .files = kInBoth, .flag = "--lens", .valueName = "MODEL",
     .help = "the lens's projection: equidistant (default),\n"
             "equisolid, stereographic or orthographic"},
    {.tag = "LENS_FOV", .kind = ValueKind::kDegrees, .files = kInBoth, .flag = "--fov", .valueName = "DEGREES",
     .help = "the lens's field of view across its circle, 90..280\n"
             "(default 180; orthographic at most 180); directions\n"
             "the lens does not see come out black"},
    {.tag = "YAW", .kind = ValueKind::kDegrees, .files = kInBoth, .flag = "--yaw", .valueName = "DEGREES",
     .help = "turn the view to the right (negative: left)"},
    {.tag = "PITCH", .kind = ValueKind::kDegrees, .files = kInBoth, .flag = "--pitch", .valueName = "DEGREES",
     .help = "tilt the view up (negative: down)"},
    {.tag = "ROLL", .kind = ValueKind::kDegrees, .files = kInBoth, .flag = "--roll", .valueName = "DEGREES",
     .help = "turn the view about its axis; the three angles lie\n"
             "within -180..180 and mean what they mean to ffmpeg's\n"
             "v360 filter (applied as yaw, then pitch, then roll)"},
    // "LENS|CAMERA|CROP FACTOR|FOCAL MM|F-NUMBER"; the parameter file has it
    // only when a profile is chosen.
    {.tag = "LENS_PROFILE", .kind = ValueKind::kText, .files = kInBoth, .flag = "--lens-profile",
     .valueName = "\"MAKER MODEL\"",
     .help = "a calibrated lens from the lens database\n"
             "(lensfun): its projection, distortion, vignetting\n"
             "and lateral colour are corrected; names are matched\n"
             "as the database matches them",
     .form = {.parts = 5, .separator = '|', .texts = 2, .decimals = true, .min = 0, .max = 1000, .mayBeEmpty = true,
              .needs = "LENS|CAMERA|CROP|FOCAL|APERTURE (numbers from 0 to 1000) or nothing"}},
    // The movie the cut was set for and its picture size.
    {.tag = "CUT_MOVIE", .kind = ValueKind::kPath, .path = &AppSettings::cutMovie},
    {.tag = "CUT_WIDTH", .min = 0, .max = 1000000, .field = &AppSettings::cutMovieWidth},
    {.tag = "CUT_HEIGHT", .min = 0, .max = 1000000, .field = &AppSettings::cutMovieHeight},
    // The desktop's stereo choice: layouts as StereoLayout numbers, and the
    // eyes' own angles "LEFT_YAW,LEFT_PITCH,LEFT_ROLL,RIGHT_YAW,..." with
    // an empty field for an angle the eye takes from the lens.
    {.tag = "STEREO", .min = 0, .max = 2, .field = &AppSettings::STEREO},
    {.tag = "STEREO_OUT", .min = 1, .max = 2, .start = 1, .field = &AppSettings::STEREO_OUT},
    {.tag = "SWAP_EYES", .kind = ValueKind::kSwitch, .max = 1, .field = &AppSettings::SWAP_EYES},
    {.tag = "ALIGN_EYES", .kind = ValueKind::kSwitch, .max = 1, .start = 1, .field = &AppSettings::ALIGN_EYES},
    {.tag = "EYE_ANGLES", .kind = ValueKind::kText},

    // Only in a job: the movie and its facts, the lens circle, the outputs
    // and the run's rules.
    {.tag = "MOVIE", .kind = ValueKind::kPath, .files = kInJobFile},
    {.tag = "STREAM", .files = kInJobFile, .min = -1, .max = 65535, .start = -1},
    {.tag = "SIZE", .kind = ValueKind::kText, .files = kInJobFile,
     .form = {.parts = 2, .separator = 'x', .min = 0, .max = 65536, .needs = "the picture's WIDTHxHEIGHT"}},
    {.tag = "RATE", .kind = ValueKind::kText, .files = kInJobFile,
     .form = {.parts = 2, .separator = '/', .min = 0, .max = INT32_MAX, .needs = "the frame rate as NUM/DEN"}},
    {.tag = "BYTES", .kind = ValueKind::kText, .files = kInJobFile},
    {.tag = "CIRCLE", .kind = ValueKind::kText, .files = kInJobFile, .flag = "--circle", .valueName = "CX,CY,R",
     .help = "the lens circle's centre and radius in source pixels\n"
             "(x right, y down, 0,0 the top-left pixel's centre):\n"
             "the cut that places it. Without --circle, --cut and\n"
             "--params the circle is found in frames sampled\n"
             "across INPUT (not with --aspect); if there is\n"
             "none, the cut of the parameter file (or the start\n"
             "cut) is used",
     .form = kCircleForm},
    {.tag = "LENS_FILE", .kind = ValueKind::kPath, .files = kInJobFile, .flag = "--lens-file", .valueName = "FILE",
     .help = "more profiles in the database's XML format (the\n"
             "user's own ~/.local/share/lensfun is always read)"},
    {.tag = "FLIP", .kind = ValueKind::kSwitch, .files = kInJobFile, .max = 1, .flag = "--flip",
     .help = "mirror the picture horizontally"},
    {.tag = "STILLS", .kind = ValueKind::kText, .files = kInJobFile, .flag = "--stills", .valueName = "jpg|bmp",
     .help = "take the still path with stills of this format"},
    {.tag = "KEEP_STILLS", .kind = ValueKind::kSwitch, .files = kInJobFile, .max = 1, .flag = "--keep-stills",
     .help = "keep the numbered stills, in DIR/tessaly-stills-*\n"
             "(the still path)"},
    {.tag = "QUALITY", .files = kInJobFile, .min = 0, .max = 21, .flag = "--quality", .valueName = "{range}",
     .help = "0 = encoder default, 1 = largest file .. 21 = smallest"},
    {.tag = "RESIZE", .files = kInJobFile, .min = 0, .max = 5, .flag = "--resize", .valueName = "{range}",
     .help = "0 = natural size, 1..5 = 90% .. 50%"},
    {.tag = "VR_METADATA", .kind = ValueKind::kSwitch, .files = kInJobFile, .max = 1, .start = 1, .flag = "--no-vr-metadata",
     .help = "do not mark the outputs as 180-degree VR video; by\n"
             "default .mp4 .m4v .mov .webm outputs are marked as\n"
             "mono 180x180 equirectangular (Spherical Video V2,\n"
             "Matroska Projection) so VR players show them as\n"
             "180-degree video; .flv .avi .mpg .mpeg .ogg .ogv\n"
             "cannot carry it"},
    {.tag = "STRICT", .kind = ValueKind::kSwitch, .files = kInJobFile, .max = 1, .flag = "--strict",
     .help = "fail (exit status 4) when the movie decodes fewer\n"
             "frames than it declares (a damaged file); without\n"
             "it such a run converts what can be decoded, says\n"
             "\"converted N of the M frames the file declares\"\n"
             "and succeeds"},
    {.tag = "ENCODER_STALL", .files = kInJobFile, .min = 0, .max = kMaxEncoderStall, .start = 60,
     .flag = "--encoder-stall", .valueName = "SECONDS",
     .help = "end an encoder that shows no progress (no output,\n"
             "no progress line) for this long; default 60, 0 waits\n"
             "for ever. A slow encoder that progresses is waited for"},
    {.tag = "TEMP", .kind = ValueKind::kPath, .files = kInJobFile, .flag = "--temp", .valueName = "DIR",
     .help = "the run works in a private folder made inside DIR\n"
             "(removed at the end), so runs may share DIR"},
    {.tag = "OUTPUT", .kind = ValueKind::kPath, .files = kInJobFile},
};

// The parameter file's first lines: the 27 tags every file has.
inline constexpr int kParameterFileLines = 27;

// The descriptor of `tag`; a tag the table does not hold is a programming
// error (a constant expression fails to compile, a run aborts).
constexpr const ParameterDescriptor& Parameter(std::string_view tag) {
    for (const ParameterDescriptor& d : kParameterTable) {
        if (tag == d.tag) return d;
    }
    throw "no such parameter";
}

// The descriptor of a numeric field of AppSettings; null for none.
const ParameterDescriptor* ParameterOf(int32_t AppSettings::*field);

// True when `value` lies in the parameter's range.
constexpr bool InRange(const ParameterDescriptor& d, int32_t value) { return value >= d.min && value <= d.max; }

// Why `value` cannot be the whole number, amount or switch `d` ("needs a
// whole number from 0 to 5", "needs 0 or 1"), or empty. An amount may also
// be 0, its value before any parameter file.
std::string RangeProblem(const ParameterDescriptor& d, int32_t value);

// An amount outside its range (the start values 0 of CPU and NOISE) takes
// its reset value, so that what shows it shows what is stored.
void FitAmountsToRanges(AppSettings& settings);

}  // namespace tessaly
