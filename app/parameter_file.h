// The parameter file: the user's settings as one tagged value per line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_state.h"

namespace tessaly {

// Window positions outside 0 .. the screen's width or height are saved and
// loaded as 0.
enum class PositionLimit { kNone, kWidth, kHeight };

// One persisted parameter: its tag, its field of AppSettings (a number or a
// path), the value a loaded 0 becomes (0: a 0 stays; it is also the value of
// the main window's Reset button for that amount), and its screen limit.
struct Parameter {
    const char* tag;
    int32_t AppSettings::*value;
    std::string AppSettings::*path;
    int32_t resetValue;
    PositionLimit limit;
};

// The 27 parameters in the order of the file's lines.
inline const Parameter kParameters[] = {
    {"XL1", &AppSettings::XL1, nullptr, 0, PositionLimit::kNone},
    {"YL1", &AppSettings::YL1, nullptr, 0, PositionLimit::kNone},
    {"XL2", &AppSettings::XL2, nullptr, 0, PositionLimit::kNone},
    {"YL2", &AppSettings::YL2, nullptr, 0, PositionLimit::kNone},
    {"M_X", &AppSettings::M_X, nullptr, 0, PositionLimit::kWidth},
    {"M_Y", &AppSettings::M_Y, nullptr, 0, PositionLimit::kHeight},
    {"V_X", &AppSettings::V_X, nullptr, 0, PositionLimit::kWidth},
    {"V_Y", &AppSettings::V_Y, nullptr, 0, PositionLimit::kHeight},
    {"SHARPEN_CH", &AppSettings::SHARPEN_CH, nullptr, 0, PositionLimit::kNone},
    {"BRIGHTNESS_CH", &AppSettings::BRIGHTNESS_CH, nullptr, 0, PositionLimit::kNone},
    {"CONTRAST_CH", &AppSettings::CONTRAST_CH, nullptr, 0, PositionLimit::kNone},
    {"CPU_CH", &AppSettings::CPU_CH, nullptr, 0, PositionLimit::kNone},
    {"NOISE_CH", &AppSettings::NOISE_CH, nullptr, 0, PositionLimit::kNone},
    {"ASPECT", &AppSettings::ASPECT, nullptr, 0, PositionLimit::kNone},
    {"SHARPEN", &AppSettings::SHARPEN, nullptr, 1, PositionLimit::kNone},
    {"RADIUS", &AppSettings::RADIUS, nullptr, 0, PositionLimit::kNone},
    {"BRIGHTNESS", &AppSettings::BRIGHTNESS, nullptr, 127, PositionLimit::kNone},
    {"CONTRAST", &AppSettings::CONTRAST, nullptr, 127, PositionLimit::kNone},
    {"CPU", &AppSettings::CPU, nullptr, 100, PositionLimit::kNone},
    {"NOISE", &AppSettings::NOISE, nullptr, 1, PositionLimit::kNone},
    {"APATH", nullptr, &AppSettings::APATH, 0, PositionLimit::kNone},
    {"OPATH", nullptr, &AppSettings::OPATH, 0, PositionLimit::kNone},
    {"DSSETUP", &AppSettings::DSSETUP, nullptr, 0, PositionLimit::kNone},
    {"BITRATE", &AppSettings::BITRATE, nullptr, 0, PositionLimit::kNone},
    {"CODECMODE", &AppSettings::CODECMODE, nullptr, 0, PositionLimit::kNone},
    {"AUTOSAVE", &AppSettings::AUTOSAVE, nullptr, 0, PositionLimit::kNone},
    {"FPS", &AppSettings::FPS, nullptr, 1, PositionLimit::kNone},
};

// The lens's tags, written after the 27 above in this order: the model's
// number, its field of view, yaw, pitch and roll (degrees, "." as decimal
// point). A loader that knows only the 27 passes over them.
inline const char* const kLensTags[] = {"LENS", "LENS_FOV", "YAW", "PITCH", "ROLL"};

// The value of the Reset button for an amount (SHARPEN 1, RADIUS 0,
// BRIGHTNESS 127, CONTRAST 127, CPU 100, NOISE 1).
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
// values and the fields not yet read keep the values they had. When all 27
// were read, the lens follows: a missing lens tag gives that value's
// default, as does a damaged or out-of-range value (with a note).
LoadResult LoadParametersFromText(std::string text, AppSettings& settings,
                                  const ScreenSize& screen, int32_t& frameWidth,
                                  int32_t& frameHeight);

// Reads the file at app.env.iniPath into app.settings. A file that cannot be read
// is treated like one with no tags.
LoadResult LoadParameters(FisheyeApp& app);

}  // namespace tessaly
