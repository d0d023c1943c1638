#include "convert/live_adjustments.h"

#include <memory>

#include "app/parameter_table.h"
#include "convert/transform_adapters.h"

namespace tessaly {

namespace {

// What the frames read of the settings: the filters and the aspect. The cut
// and the lens are locked while a run lasts.
bool ReadPerFrame(const ParameterDescriptor& d) {
    const bool cut = d.min == -kCutLimit;
    return d.field != nullptr && (d.files & kInJobFile) != 0 && !cut;
}

}  // namespace

std::string SettingsChanges(const AppSettings& before, int32_t flipBefore, const AppSettings& after,
                            int32_t flipAfter) {
    std::string text;
    const auto add = [&text](const char* tag, int32_t value) {
        text += (text.empty() ? "" : ", ") + std::string(tag) + " " + std::to_string(value);
    };
    for (const ParameterDescriptor& d : kParameterTable) {
        if (ReadPerFrame(d) && before.*d.field != after.*d.field) add(d.tag, after.*d.field);
    }
    if (flipBefore != flipAfter) add("FLIP", flipAfter);
    return text;
}

std::string AdjustmentLine(int64_t frame, const std::string& changes) {
    return "Adjustment at frame " + std::to_string(frame) + ": " + changes;
}

SettingsReader LoggedLiveSettings(FisheyeApp& app, const AppSettings& start) {
    // Only the decoding thread calls the reader, one frame after another:
    // the state it keeps is its own.
    struct Last {
        AppSettings settings;
        int32_t flip = 0;
        int64_t frame = 0;
    };
    auto last = std::make_shared<Last>(Last{start, app.run.horizontalFlip.load() ? 1 : 0, 0});
    return [&app, last] {
        const AppSettings now = app.settings.Copy();
        const int32_t flip = app.run.horizontalFlip.load() ? 1 : 0;
        ++last->frame;
        const std::string changes = SettingsChanges(last->settings, last->flip, now, flip);
        if (!changes.empty()) {
            app.env.log.WriteLogLine(AdjustmentLine(last->frame, changes));
            last->settings = now;
            last->flip = flip;
        }
        return TransformSettingsOf(now);
    };
}

}  // namespace tessaly
