// The steps after an encoding: the verified movie is marked as 180-degree
// VR video when the user wants it (RunState::markVrOutput) and renamed
// over the output's name.
#pragma once

#include "app/app_state.h"
#include "app/user_interface.h"
#include "convert/export.h"

namespace tessaly {

// Marks a verified movie still under its temporary name: a marked copy is
// made beside it, checked, and becomes the movie to place. A container that
// cannot carry the marking is noted once per run in the log; a failed
// marking keeps the movie as the encoder wrote it, is logged, and its
// reason is returned (empty when marked or not wanted).
std::string MarkExportedMovie(FisheyeApp& app, UserInterface& ui, ExportResult& exported);

// Marks the verified movie (above) and renames it over the output's name;
// `written` then says it is there. A stop requested before the rename, or a
// rename that fails, removes the temporary file alone: a file that had the
// output's name keeps its bytes. An unverified result only loses its
// temporary file. A failed marking is shown as a warning once the movie is
// in place.
void PlaceExportedMovie(FisheyeApp& app, UserInterface& ui, ExportResult& exported);

}  // namespace tessaly
