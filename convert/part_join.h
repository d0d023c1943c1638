// The parts of a movie (tessaly-convert --part) joined into one output
// without re-encoding the picture: each part is checked against the first
// and against the source, the parts' video is copied in order with the
// source's sound for the whole length, and the result is read back, marked
// as 180-degree video and renamed into place like any output.
#pragma once

#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/user_interface.h"
#include "convert/export.h"
#include "convert/movie_part.h"
#include "video/part_probe.h"

namespace tessaly {

// One part file as read for the join.
struct JoinPart {
    std::string path;
    PartFileFacts facts;
    PartTag tag;
};

enum class JoinStatus {
    kJoined,
    kBadParts,   // the list of parts is wrong: a part missing, repeated or out of place
    kBadPart,    // a part cannot be used: unreadable, damaged, mismatched
    kFailed,     // the encoder or the check of the output failed
    kStopped,
};

struct JoinResult {
    JoinStatus status = JoinStatus::kFailed;
    std::string error;  // one line naming the part or the output
    int64_t frames = 0;
    int32_t width = 0;
    int32_t height = 0;
    bool sound = false;
    ExportResult exported;
};

// Reads and checks every part against the others, in the order given.
// `sourceBytes`, `rateNum`/`rateDen` are the source's; `outputExt` the
// output's extension (its row decides the codec the parts must hold).
// Empty when the parts can be joined; else the reason, naming the part,
// with `status` kBadParts or kBadPart.
std::string CheckJoinParts(std::vector<JoinPart>& parts, int64_t sourceBytes, int32_t rateNum, int32_t rateDen,
                           const std::string& outputExt, JoinStatus& status);

// What a join needs besides the parts.
struct JoinRequest {
    std::string source;
    std::string output;
    std::vector<std::string> parts;
    std::string encoderProgram;
    std::string workFolder;  // the run's private folder: the concat list lives here
    int32_t quality = 0;
    int32_t encoderStallMs = 60000;
};

// The whole join. The output is written under a hidden name beside it and
// renamed into place only when complete and checked (and marked, as
// FisheyeApp::markVrOutput says, stereo when the parts hold two eyes); on
// any failure nothing is left of it.
JoinResult JoinMovieParts(FisheyeApp& app, UserInterface& ui, const JoinRequest& request);

}  // namespace tessaly
