#include "video/movie_labels.h"

namespace tessaly {

void ClearVideoInfo(UserInterface& ui, ProbeTexts* probeTexts) {
    ui.ClearMovieFacts();
    if (probeTexts != nullptr) *probeTexts = ProbeTexts{};
}

}  // namespace tessaly
