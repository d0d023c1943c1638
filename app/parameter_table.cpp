#include "app/parameter_table.h"

namespace tessaly {

const ParameterDescriptor* ParameterOf(int32_t AppSettings::*field) {
    for (const ParameterDescriptor& d : kParameterTable) {
        if (field != nullptr && d.field == field) return &d;
    }
    return nullptr;
}

std::string RangeProblem(const ParameterDescriptor& d, int32_t value) {
    if (d.kind == ValueKind::kSwitch) return value == 0 || value == 1 ? std::string() : "needs 0 or 1";
    if (InRange(d, value) || (d.kind == ValueKind::kAmount && value == 0)) return {};
    return "needs a whole number from " + std::to_string(d.min) + " to " + std::to_string(d.max);
}

void FitAmountsToRanges(AppSettings& settings) {
    for (const ParameterDescriptor& d : kParameterTable) {
        if (d.kind == ValueKind::kAmount && !InRange(d, settings.*d.field)) settings.*d.field = d.reset;
    }
}

}  // namespace tessaly
