#include "convert/vr_marking.h"

#include <unistd.h>


#include "video/vr_metadata.h"

namespace tessaly {

std::string MarkExportedMovie(FisheyeApp& app, ExportResult& exported) {
    if (!exported.verified || exported.pending.tempPath.empty() || !app.run.markVrOutput.load()) return {};
    if (VrMuxerFor(exported.videoExt).empty()) {
        if (!app.run.vrNoteLogged.exchange(true)) {
            app.env.log.WriteLogLine("VR metadata: .flv, .avi, .mpg, .mpeg, .ogg and .ogv movies cannot carry the "
                                 "180-degree VR marking; " +
                                 exported.outputPath + " is left as the encoder wrote it");
        }
        return {};
    }
    const Result<std::string> sibling = CreateSiblingFile(exported.pending);
    if (!sibling.ok()) {
        app.env.log.WriteLogLine("VR metadata: " + exported.outputPath + " left unmarked: " + sibling.reason());
        return sibling.reason();
    }
    const std::string& copy = sibling.value();
    // The run's own thread copies: the window is never the one that waits.
    const VrMarkResult result = MarkCopyAs180Video(exported.pending.tempPath, copy, exported.outputPath,
                                                   [&app](const std::string& line) { app.env.log.WriteLogLine(line); },
                                                   app.run.vrStereo.load());
    if (result.status != VrMarkStatus::kMarked) {
        ::unlink(copy.c_str());
        return result.reason;
    }
    // The marked copy is the movie from now on.
    ::unlink(exported.pending.tempPath.c_str());
    exported.pending.tempPath = copy;
    return {};
}

namespace {

void NotPlaced(FisheyeApp& app, ExportResult& exported, const std::string& why) {
    DiscardPendingFile(exported.pending);
    exported.error = "cannot write " + exported.outputPath + ": " + why;
    app.env.log.WriteLogLine("FFMPEG failed: " + exported.error);
}

// Renames a marked, verified movie into place; a failed marking is shown as
// a warning once the movie is there.
void RenameIntoPlace(FisheyeApp& app, UserInterface& ui, ExportResult& exported, const std::string& unmarked) {
    if (const Status placed = PlacePendingFile(exported.pending); !placed.ok()) {
        exported.error = "cannot write " + exported.outputPath + ": " + placed.reason();
        app.env.log.WriteLogLine("FFMPEG failed: " + exported.error);
        return;
    }
    exported.written = true;
    if (!unmarked.empty()) {
        ui.ShowMessage("Warning",
                       "The movie " + exported.outputPath + " was saved, but without the 180° VR marking:\n" +
                           unmarked,
                       MessageIcon::Warning, true);
    }
}

}  // namespace

void PlaceExportedMovie(FisheyeApp& app, UserInterface& ui, ExportResult& exported) {
    if (!exported.verified) {
        DiscardPendingFile(exported.pending);
        return;
    }
    const std::string unmarked = MarkExportedMovie(app, exported);
    if (app.run.stopRequested.load()) {
        exported.stopped = true;
        NotPlaced(app, exported, "stopped before it was put in place");
        return;
    }
    RenameIntoPlace(app, ui, exported, unmarked);
}

void PlaceExportedMovies(FisheyeApp& app, UserInterface& ui, std::vector<ExportResult>& exports) {
    std::string failed;  // the first output that could not be written
    std::vector<std::string> unmarked(exports.size());
    for (size_t i = 0; i < exports.size(); ++i) {
        if (!exports[i].verified) {
            DiscardPendingFile(exports[i].pending);
            if (failed.empty()) failed = exports[i].outputPath;
        } else if (failed.empty()) {
            unmarked[i] = MarkExportedMovie(app, exports[i]);
        }
    }
    const bool stop = app.run.stopRequested.load();
    for (size_t i = 0; i < exports.size(); ++i) {
        ExportResult& e = exports[i];
        if (!e.verified) continue;
        if (stop) {
            e.stopped = true;
            NotPlaced(app, e, "stopped before it was put in place");
        } else if (!failed.empty()) {
            NotPlaced(app, e, "not put in place, since " + failed + " could not be written");
        } else {
            RenameIntoPlace(app, ui, e, unmarked[i]);
        }
    }
}

}  // namespace tessaly
