// The parameter file: the user's settings as one tagged value per line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_state.h"
#include "app/control_ids.h"
#include "transform/cut_rect.h"

namespace tessaly {

// Window positions outside 0 .. the screen's width or height are saved and
// loaded as 0.
enum class PositionLimit { kNone, kWidth, kHeight };

// What the control of a parameter is: a label that shows it, a check box
// whose state it is, or a trackbar whose position it is.
enum class ControlKind { kNone, kLabel, kCheckBox, kTrackbar };

// One persisted parameter: its tag, its field of AppSettings (a number or a
// path), the value it has before any parameter file is read, the value a
// loaded 0 becomes (0: a 0 stays; it is also the value its Reset button
// sets), its screen limit, and the control of the main window that shows or
// sets it. An amount with a trackbar also has the trackbar's range (which
// the command line's options keep to as well), its page step and the Reset
// button of its row.
struct Parameter {
    const char* tag;
    int32_t AppSettings::*value = nullptr;
    std::string AppSettings::*path = nullptr;
    int32_t startValue = 0;
    int32_t resetValue = 0;
    PositionLimit limit = PositionLimit::kNone;
    int control = control::kNone;
    ControlKind kind = ControlKind::kNone;
    int32_t min = 0;
    int32_t max = 0;
    int32_t pageStep = 0;
    int resetButton = control::kNone;
};

// The 27 parameters in the order of the file's lines.
inline constexpr Parameter kParameters[] = {
    {.tag = "XL1", .value = &AppSettings::XL1, .startValue = kDefaultCut.XL1,
     .control = control::kXL1Label, .kind = ControlKind::kLabel},
    {.tag = "YL1", .value = &AppSettings::YL1, .startValue = kDefaultCut.YL1,
     .control = control::kYL1Label, .kind = ControlKind::kLabel},
    {.tag = "XL2", .value = &AppSettings::XL2, .startValue = kDefaultCut.XL2,
     .control = control::kXL2Label, .kind = ControlKind::kLabel},
    {.tag = "YL2", .value = &AppSettings::YL2, .startValue = kDefaultCut.YL2,
     .control = control::kYL2Label, .kind = ControlKind::kLabel},
    {.tag = "M_X", .value = &AppSettings::M_X, .limit = PositionLimit::kWidth},
    {.tag = "M_Y", .value = &AppSettings::M_Y, .limit = PositionLimit::kHeight},
    {.tag = "V_X", .value = &AppSettings::V_X, .limit = PositionLimit::kWidth},
    {.tag = "V_Y", .value = &AppSettings::V_Y, .limit = PositionLimit::kHeight},
    {.tag = "SHARPEN_CH", .value = &AppSettings::SHARPEN_CH, .startValue = 1,
     .control = control::kSharpenCheck, .kind = ControlKind::kCheckBox},
    {.tag = "BRIGHTNESS_CH", .value = &AppSettings::BRIGHTNESS_CH,
     .control = control::kBrightnessCheck, .kind = ControlKind::kCheckBox},
    {.tag = "CONTRAST_CH", .value = &AppSettings::CONTRAST_CH,
     .control = control::kContrastCheck, .kind = ControlKind::kCheckBox},
    {.tag = "CPU_CH", .value = &AppSettings::CPU_CH,
     .control = control::kCpuCheck, .kind = ControlKind::kCheckBox},
    {.tag = "NOISE_CH", .value = &AppSettings::NOISE_CH,
     .control = control::kNoiseCheck, .kind = ControlKind::kCheckBox},
    {.tag = "ASPECT", .value = &AppSettings::ASPECT,
     .control = control::kFixAspectCheck, .kind = ControlKind::kCheckBox},
    {.tag = "SHARPEN", .value = &AppSettings::SHARPEN, .resetValue = 1,
     .control = control::kSharpenTrackbar, .kind = ControlKind::kTrackbar,
     .min = 0, .max = 5, .pageStep = 1, .resetButton = control::kSharpenReset},
    {.tag = "RADIUS", .value = &AppSettings::RADIUS, .resetValue = 0,
     .control = control::kRadiusTrackbar, .kind = ControlKind::kTrackbar,
     .min = 0, .max = 3, .pageStep = 1, .resetButton = control::kSharpenReset},
    {.tag = "BRIGHTNESS", .value = &AppSettings::BRIGHTNESS, .resetValue = 127,
     .control = control::kBrightnessTrackbar, .kind = ControlKind::kTrackbar,
     .min = 0, .max = 255, .pageStep = 8, .resetButton = control::kBrightnessReset},
    {.tag = "CONTRAST", .value = &AppSettings::CONTRAST, .resetValue = 127,
     .control = control::kContrastTrackbar, .kind = ControlKind::kTrackbar,
     .min = 0, .max = 255, .pageStep = 8, .resetButton = control::kContrastReset},
    {.tag = "CPU", .value = &AppSettings::CPU, .resetValue = 100,
     .control = control::kCpuTrackbar, .kind = ControlKind::kTrackbar,
     .min = 50, .max = 100, .pageStep = 8, .resetButton = control::kCpuReset},
    {.tag = "NOISE", .value = &AppSettings::NOISE, .resetValue = 1,
     .control = control::kNoiseTrackbar, .kind = ControlKind::kTrackbar,
     .min = 1, .max = 5, .pageStep = 1, .resetButton = control::kNoiseReset},
    {.tag = "APATH", .path = &AppSettings::APATH, .control = control::kTempFolderLabel, .kind = ControlKind::kLabel},
    {.tag = "OPATH", .path = &AppSettings::OPATH},
    {.tag = "DSSETUP", .value = &AppSettings::DSSETUP},
    {.tag = "BITRATE", .value = &AppSettings::BITRATE},
    {.tag = "CODECMODE", .value = &AppSettings::CODECMODE},
    {.tag = "AUTOSAVE", .value = &AppSettings::AUTOSAVE, .startValue = 1,
     .control = control::kAutoSave, .kind = ControlKind::kCheckBox},
    {.tag = "FPS", .value = &AppSettings::FPS, .startValue = 1, .resetValue = 1},
};

// The parameter of a numeric field; null for a path or the lens.
const Parameter* ParameterOf(int32_t AppSettings::*field);
// The parameter a control of the main window shows or sets; null for none.
const Parameter* ParameterOfControl(int controlId);
// True when the parameter has a trackbar and `value` lies in its range.
inline bool InRange(const Parameter& p, int32_t value) {
    return p.kind == ControlKind::kTrackbar && value >= p.min && value <= p.max;
}
// The lens's tags, written after the 27 above in this order: the model's
// number, its field of view, yaw, pitch and roll (degrees, "." as decimal
// point). A loader that knows only the 27 passes over them.
inline const char* const kLensTags[] = {"LENS", "LENS_FOV", "YAW", "PITCH", "ROLL"};

// After the lens: the movie the cut was set for and its picture size
// (AppSettings::cutMovie). The path is written with "%", "<", ">", CR and LF
// as %XX. A file without them loads the cut as belonging to no movie.
inline const char* const kCutMovieTags[] = {"CUT_MOVIE", "CUT_WIDTH", "CUT_HEIGHT"};

// An amount outside its trackbar's range (the start values 0 of CPU and
// NOISE) takes its reset value, so that the trackbar shows what is stored.
void FitAmountsToTrackbars(AppSettings& settings);

// The value of the Reset button for an amount (the table's reset value).
int32_t ResetValueOf(int32_t AppSettings::*field);

// The 29 lines (CR LF) of the 27 parameters, window positions clamped to the
// screen, then one line per lens tag: what SaveParameters writes.
std::string SerializeParameters(const AppSettings& settings, const ScreenSize& screen);

// Writes the parameter file at `path` through a temporary file renamed over
// the old one, so a crash or a full disk never leaves a half-written file.
// Returns false when it could not be written (the old file is then kept).
bool SaveParameters(const AppSettings& settings, const ScreenSize& screen,
                    const std::string& path);
bool SaveParameters(FisheyeApp& app);

struct LoadResult {
    bool complete = false;      // all 27 fields were read
    std::string missingTag;     // the first missing or empty tag when not complete
    // One line per lens value that could not be used (damaged or out of
    // range) and was loaded as its default; LoadParameters logs them.
    std::vector<std::string> lensNotes;
};

// Reads settings from the text of a parameter file. Fields are looked up by
// tag in a fixed order; reading stops at the first missing or empty tag, in
// which case the cut rectangle and the frame size are reset to their start
// values and the fields not yet read keep the values they had. An amount
// read as 0 that its trackbar cannot show (CPU, NOISE) takes its reset
// value, as FPS 0 becomes 1; a 0 the trackbar can show stays. When all 27
// were read, the movie of the cut and the lens follow: a missing lens tag gives that value's
// default, as does a damaged or out-of-range value (with a note).
LoadResult LoadParametersFromText(std::string text, AppSettings& settings,
                                  const ScreenSize& screen, int32_t& frameWidth,
                                  int32_t& frameHeight);

// Reads the file at app.env.iniPath into app.settings. A file that cannot be read
// is treated like one with no tags. The lens notes go into the run log and
// into app.env.parameterNotes.
LoadResult LoadParameters(FisheyeApp& app);

}  // namespace tessaly
