#include "convert/vr_marking.h"

#include <unistd.h>

#include <atomic>
#include <thread>

#include "video/vr_metadata.h"

namespace tessaly {

std::string MarkExportedMovie(FisheyeApp& app, UserInterface& ui, ExportResult& exported) {
    if (!exported.verified || exported.pending.tempPath.empty() || !app.run.markVrOutput.load()) return {};
    if (VrMuxerFor(exported.videoExt).empty()) {
        if (!app.run.vrNoteLogged.exchange(true)) {
            app.env.log.WriteLogLine("VR metadata: .flv, .avi, .mpg, .mpeg, .ogg and .ogv movies cannot carry the "
                                 "180-degree VR marking; " +
                                 exported.outputPath + " is left as the encoder wrote it");
        }
        return {};
    }
    std::string copy, error;
    if (!CreateSiblingFile(exported.pending, copy, error)) {
        app.env.log.WriteLogLine("VR metadata: " + exported.outputPath + " left unmarked: " + error);
        return error;
    }
    // A large movie takes seconds to copy: the window stays responsive.
    VrMarkResult result;
    std::atomic<int32_t> done{0};
    std::thread marker([&] {
        result = MarkCopyAs180Video(exported.pending.tempPath, copy, exported.outputPath,
                                    [&app](const std::string& line) { app.env.log.WriteLogLine(line); },
                                    app.run.vrStereo.load());
        done = 1;
    });
    while (done.load() == 0) ui.YieldStep(32);
    marker.join();
    if (result.status != VrMarkStatus::kMarked) {
        ::unlink(copy.c_str());
        return result.reason;
    }
    // The marked copy is the movie from now on.
    ::unlink(exported.pending.tempPath.c_str());
    exported.pending.tempPath = copy;
    return {};
}

void PlaceExportedMovie(FisheyeApp& app, UserInterface& ui, ExportResult& exported) {
    if (!exported.verified) {
        DiscardPendingFile(exported.pending);
        return;
    }
    const std::string unmarked = MarkExportedMovie(app, ui, exported);
    if (app.run.stopRequested.load()) {
        DiscardPendingFile(exported.pending);
        exported.stopped = true;
        exported.error = "cannot write " + exported.outputPath + ": stopped before it was put in place";
        app.env.log.WriteLogLine("FFMPEG failed: " + exported.error);
        return;
    }
    std::string error;
    if (!PlacePendingFile(exported.pending, error)) {
        exported.error = "cannot write " + exported.outputPath + ": " + error;
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

}  // namespace tessaly
