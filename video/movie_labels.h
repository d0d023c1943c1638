// The main window's labels on the open movie, emptied between movies.
#pragma once

#include "app/user_interface.h"
#include "video/probe_report.h"

namespace tessaly {

// Empties the information labels and the status (ClearMovieFacts) and, when
// given, the probe texts; done before a new file is chosen and after a
// conversion. (The desktop's file information text goes with the labels, on
// its GUI thread.)
void ClearVideoInfo(UserInterface& ui, ProbeTexts* probeTexts = nullptr);

}  // namespace tessaly
