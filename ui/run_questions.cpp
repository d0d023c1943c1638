#include "ui/run_questions.h"

namespace tessaly {

AfterJob NextAfterJob(const ConversionResult& result) {
    if (result.stills.folder.empty()) return AfterJob::kNothing;
    if (!result.leftOpen) return AfterJob::kEnded;
    if (result.status == ConversionStatus::kSoundFailed) return AfterJob::kAskWithoutSound;
    if (result.status == ConversionStatus::kDone && !result.exports.empty()) return AfterJob::kAskEncodeAgain;
    return AfterJob::kEnd;
}

RunQuestion WithoutSoundQuestion(const std::string& reason) {
    return {"Error", "The sound could not be extracted: " + reason + ".\nSave the converted movie without sound?",
            MessageIcon::Warning};
}

RunQuestion EncodeAgainQuestion(const ExportResult& exported) {
    const std::string again = "Do you want to save it with another compression value ?";
    if (exported.written) {
        return {"Successful termination", "Movie converted successfully.\n" + again, MessageIcon::Information};
    }
    return {"Error", "The movie was not saved: " + exported.error + "\n" + again, MessageIcon::Error};
}

}  // namespace tessaly
