// The parameter file: the user's settings as one tagged value per line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_state.h"
#include "app/parameter_table.h"
#include "transform/cut_rect.h"

namespace tessaly {

// The tags and their order come from kParameterTable (app/parameter_table.h).
// After the 27 parameters: the lens (the model's number, its field of view,
// yaw, pitch and roll in degrees, "." as decimal point; a loader that knows
// only the 27 passes over them), the calibrated profile only when one is
// chosen ("LENS|CAMERA|CROP FACTOR|FOCAL MM|F-NUMBER", empty or 0: not
// given), then the movie the cut was set for and its picture size
// (AppSettings::cutMovie; the path with "%", "<", ">", CR and LF as %XX; a
// file without them loads the cut as belonging to no movie).

// The lines (CR LF) of the parameter table's tags of the parameter file, in
// its order: the 27 parameters (window positions clamped to the screen),
// the lens, the profile when one is chosen, the movie of the cut. What
// SaveParameters writes.
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
// read as 0 outside its range (CPU, NOISE) takes its reset
// value, as FPS 0 becomes 1; a 0 within the range stays. When all 27
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
