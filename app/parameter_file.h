// The parameter file: the user's settings as one tagged value per line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/app_state.h"

namespace tessaly {

// The 29 lines (CR LF) that SaveParameters writes, window positions clamped
// to the screen.
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
};

// Reads settings from the text of a parameter file. Fields are looked up by
// tag in a fixed order; reading stops at the first missing or empty tag, in
// which case the cut rectangle and the frame size are reset to their start
// values and the fields not yet read keep the values they had.
LoadResult LoadParametersFromText(std::string text, AppSettings& settings,
                                  const ScreenSize& screen, int32_t& frameWidth,
                                  int32_t& frameHeight);

// Reads the file at app.iniPath into app.settings. A file that cannot be read
// is treated like one with no tags.
LoadResult LoadParameters(FisheyeApp& app);

}  // namespace tessaly
