// The moving parts of the "Please wait..." window as plain numbers: five box
// levels that fill one after the other, and the spinner picture that turns
// every second step. The window calls Turn() on every tick of its timer.
#pragma once

#include <array>
#include <cstdint>

namespace tessaly {

struct ExportAnimation {
    static constexpr int kBoxes = 5;
    static constexpr int kStartLevel = 20;
    static constexpr int kTopLevel = 255;
    static constexpr int kStep = 5;
    static constexpr int kImages = 4;  // load1 .. load4

    std::array<int, kBoxes> levels{kStartLevel, kStartLevel, kStartLevel, kStartLevel, kStartLevel};
    int turns = 0;
    int image = 0;  // 0 shows load1

    // One step: the first box rises; a box that passes the top stays full
    // and hands the rise on to the next; when the last one passes, all start
    // again. Every second step the picture moves on.
    void Turn() {
        bool rising = true;
        for (int& level : levels) {
            if (!rising) break;
            level += kStep;
            rising = level > kTopLevel;
            if (rising) level = kTopLevel;
        }
        if (rising) levels.fill(kStartLevel);
        ++turns;
        if (turns % 2 == 0) image = (image + 1) % kImages;
    }

    // The picture's resource name: "load1" .. "load4".
    const char* ImageName() const {
        static const char* const kNames[kImages] = {"load1", "load2", "load3", "load4"};
        return kNames[image];
    }

    // Box colour as red, green, blue: (20, level, 195).
    static std::array<int, 3> BoxRgb(int level) { return {20, level, 195}; }
};

}  // namespace tessaly
