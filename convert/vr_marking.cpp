#include "convert/vr_marking.h"

#include <atomic>
#include <thread>

#include "video/vr_metadata.h"

namespace tessaly {

bool MarkExportedMovie(FisheyeApp& app, UserInterface& ui, const ExportResult& exported) {
    if (!exported.written || app.markVrOutput.load() != 1) return false;
    if (VrMuxerFor(exported.videoExt).empty()) {
        if (app.vrNoteLogged.exchange(1) == 0) {
            app.log.WriteLogLine("VR metadata: .flv, .avi, .mpg, .mpeg, .ogg and .ogv movies cannot carry the "
                                 "180-degree VR marking; " +
                                 exported.outputPath + " is left as the encoder wrote it");
        }
        return false;
    }
    // A large movie takes seconds to copy: the window stays responsive.
    VrMarkResult result;
    std::atomic<int32_t> done{0};
    std::thread marker([&] {
        result = MarkAs180Video(exported.outputPath,
                                [&app](const std::string& line) { app.log.WriteLogLine(line); });
        done = 1;
    });
    while (done.load() == 0) ui.YieldStep(32);
    marker.join();
    if (result.status == VrMarkStatus::kMarked) return true;
    ui.ShowMessage("Warning",
                   "The movie " + exported.outputPath +
                       " was saved, but without the 180° VR marking:\n" + result.reason,
                   MessageIcon::Warning, true);
    return false;
}

}  // namespace tessaly
