// The questions the desktop asks once a conversion job has returned, in the
// words the user reads, and which of them comes next. The engine asks
// nothing: its result says what may be asked.
#pragma once

#include <string>

#include "app/user_interface.h"
#include "convert/conversion_driver.h"

namespace tessaly {

// An OK/Cancel message box.
struct RunQuestion {
    std::string caption;
    std::string text;
    MessageIcon icon = MessageIcon::Information;

    bool operator==(const RunQuestion&) const = default;
};

// What follows a returned conversion job.
enum class AfterJob {
    kNothing,          // the run was refused before its frames: nothing to end
    kEnded,            // the run ended itself (stopped or failed), the program with it
    kAskWithoutSound,  // frames converted, the sound lost, the stills kept
    kAskEncodeAgain,   // an export ended, written or not
    kEnd,              // stopped or failed: the run ends
};
AfterJob NextAfterJob(const ConversionResult& result);

// OK exports the kept frames without sound; Cancel ends the run.
RunQuestion WithoutSoundQuestion(const std::string& reason);
// After each export: OK opens the output options dialog for another one.
RunQuestion EncodeAgainQuestion(const ExportResult& exported);

}  // namespace tessaly
