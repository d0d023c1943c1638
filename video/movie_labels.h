// The main window's labels on the open movie, emptied between movies.
#pragma once

#include "app/run_state.h"
#include "app/user_interface.h"
#include "video/probe_report.h"

namespace tessaly {

// Empties the information labels (409, 309, 303, 304, 305, 306, 307), the
// application's fileInfoText and, when given, the probe texts; done before
// a new file is chosen and after a conversion.
void ClearVideoInfo(UserInterface& ui, RunState& run, ProbeTexts* probeTexts = nullptr);

}  // namespace tessaly
