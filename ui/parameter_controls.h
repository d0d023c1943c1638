// The main window's controls of the parameters: which control shows or sets
// each one, and for an amount its slider's page step and its row's Reset
// button. A slider's range and a Reset's value are the parameter's own
// (app/parameter_table.h).
#pragma once

#include "app/parameter_table.h"
#include "ui/control_ids.h"

namespace tessaly {

// A label that shows the value, a check box whose state it is, or a slider
// whose position it is.
enum class ControlKind { kLabel, kCheckBox, kSlider };

struct ParameterControl {
    const char* tag;
    int control;
    ControlKind kind;
    int pageStep = 0;
    int resetButton = control::kNone;
};

inline constexpr ParameterControl kParameterControls[] = {
    {"XL1", control::kXL1Label, ControlKind::kLabel},
    {"YL1", control::kYL1Label, ControlKind::kLabel},
    {"XL2", control::kXL2Label, ControlKind::kLabel},
    {"YL2", control::kYL2Label, ControlKind::kLabel},
    {"SHARPEN_CH", control::kSharpenCheck, ControlKind::kCheckBox},
    {"BRIGHTNESS_CH", control::kBrightnessCheck, ControlKind::kCheckBox},
    {"CONTRAST_CH", control::kContrastCheck, ControlKind::kCheckBox},
    {"CPU_CH", control::kCpuCheck, ControlKind::kCheckBox},
    {"NOISE_CH", control::kNoiseCheck, ControlKind::kCheckBox},
    {"ASPECT", control::kFixAspectCheck, ControlKind::kCheckBox},
    {"SHARPEN", control::kSharpenSlider, ControlKind::kSlider, 1, control::kSharpenReset},
    {"RADIUS", control::kRadiusSlider, ControlKind::kSlider, 1, control::kSharpenReset},
    {"BRIGHTNESS", control::kBrightnessSlider, ControlKind::kSlider, 8, control::kBrightnessReset},
    {"CONTRAST", control::kContrastSlider, ControlKind::kSlider, 8, control::kContrastReset},
    {"CPU", control::kCpuSlider, ControlKind::kSlider, 8, control::kCpuReset},
    {"NOISE", control::kNoiseSlider, ControlKind::kSlider, 1, control::kNoiseReset},
    {"APATH", control::kTempFolderLabel, ControlKind::kLabel},
    {"AUTOSAVE", control::kAutoSave, ControlKind::kCheckBox},
};

// The control that shows the parameter of `field`; null for none.
inline const ParameterControl* ControlOf(int32_t AppSettings::*field) {
    const ParameterDescriptor* d = ParameterOf(field);
    for (const ParameterControl& c : kParameterControls) {
        if (d != nullptr && std::string_view(c.tag) == d->tag) return &c;
    }
    return nullptr;
}

// The control `id` of the parameters, if it is one of `kind`; null otherwise.
inline const ParameterControl* ParameterControlOf(int id, ControlKind kind) {
    for (const ParameterControl& c : kParameterControls) {
        if (id != control::kNone && c.control == id && c.kind == kind) return &c;
    }
    return nullptr;
}

// The field of AppSettings a control's parameter is.
inline int32_t AppSettings::*FieldOf(const ParameterControl& c) { return Parameter(c.tag).field; }

}  // namespace tessaly
