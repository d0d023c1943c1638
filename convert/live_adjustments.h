// A desktop run reads its filters, flip and aspect afresh for every frame,
// so a slider moved during the run changes the later frames. Each change is
// written to the run's log as an adjustment of the job at the frame it
// reaches first, in the job file's tags, so that the run can be reproduced.
#pragma once

#include <cstdint>
#include <string>

#include "app/app_settings.h"
#include "app/app_state.h"
#include "convert/conversion_driver.h"

namespace tessaly {

// The settings a run reads per frame: the job-file tags whose values differ
// between `before` and `after`, as "TAG value" joined by ", " (empty: none);
// the flip switch, which the run state keeps, comes last as "FLIP".
std::string SettingsChanges(const AppSettings& before, int32_t flipBefore, const AppSettings& after,
                            int32_t flipAfter);

// The log line of one adjustment: "Adjustment at frame N: <changes>".
std::string AdjustmentLine(int64_t frame, const std::string& changes);

// A reader that copies the settings under their lock for every frame of a
// run, as the desktop's controls have them, and logs each change against the
// settings the run started with (`start`, the job's) or the last change.
SettingsReader LoggedLiveSettings(FisheyeApp& app, const AppSettings& start);

}  // namespace tessaly
