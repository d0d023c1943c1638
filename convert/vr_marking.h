// The steps after an encoding: the verified movie is marked as 180-degree
// VR video when the user wants it (RunState::markVrOutput) and renamed
// over the output's name.
#pragma once

#include <vector>

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

// The outputs of one run, placed together: every verified movie is marked,
// and only when all of them were verified and no stop was requested are
// they renamed into place, one after the other. Otherwise none is: each
// loses its temporary file alone, and a verified one says why it was not
// placed. Files that had the outputs' names keep their bytes then.
void PlaceExportedMovies(FisheyeApp& app, UserInterface& ui, std::vector<ExportResult>& exports);

}  // namespace tessaly
