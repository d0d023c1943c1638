#include "video/movie_labels.h"

namespace tessaly {

void ClearVideoInfo(UserInterface& ui, RunState& run, ProbeTexts* probeTexts) {
    for (int id : {control::kDurationLabel, control::kOutputSizeLabel, control::kPathLabel,
                   control::kFrameSizeLabel, control::kFrameRateLabel, control::kFrameCountLabel,
                   control::kOperationLabel})
        ui.SetLabel(id, "");
    run.fileInfoText.clear();
    if (probeTexts != nullptr) *probeTexts = ProbeTexts{};
}

}  // namespace tessaly
