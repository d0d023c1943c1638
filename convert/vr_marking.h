// The step after an encoding that marks the written movie as 180-degree VR
// video when the user wants it (FisheyeApp::markVrOutput).
#pragma once

#include "app/app_state.h"
#include "app/user_interface.h"
#include "convert/export.h"

namespace tessaly {

// Marks a written output. A container that cannot carry the marking is noted
// once per run in the log; a failed marking keeps the movie as the encoder
// wrote it, is logged and shown as a warning. Returns true when marked.
bool MarkExportedMovie(FisheyeApp& app, UserInterface& ui, const ExportResult& exported);

}  // namespace tessaly
