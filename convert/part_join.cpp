#include "convert/part_join.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>

#include "convert/encoder_command.h"
#include "convert/movie_part_seal.h"
#include "convert/vr_marking.h"
#include "output/pending_file.h"
#include "video/encoder_program.h"
#include "video/media_probe.h"
#include "video/movie_check.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

std::string RateText(int32_t num, int32_t den) { return std::to_string(num) + "/" + std::to_string(den); }

std::string PartName(const JoinPart& part) {
    return "part " + std::to_string(part.tag.index) + "/" + std::to_string(part.tag.count) + ", given before as " +
           part.path;
}

// Two rates as one fraction each: 50/2 is 25/1.
bool SameRate(int64_t aNum, int64_t aDen, int64_t bNum, int64_t bDen) {
    return aDen > 0 && bDen > 0 && aNum * bDen == bNum * aDen;
}

// One part on its own and against the first (`ref`), the source and the
// output: why it cannot be used, or empty.
std::string CheckOnePart(const JoinPart& part, const JoinPart& ref, int64_t sourceBytes, int32_t rateNum,
                         int32_t rateDen, const std::string& outputExt) {
    const PartTag& t = part.tag;
    if (t.count != ref.tag.count) {
        return "it is part " + std::to_string(t.index) + " of " + std::to_string(t.count) + ", " + ref.path +
               " one of " + std::to_string(ref.tag.count);
    }
    if (t.sourceBytes != sourceBytes || !SameRate(t.rateNum, t.rateDen, rateNum, rateDen) || t.slots != ref.tag.slots) {
        return "it was made from another movie than the source";
    }
    const std::string difference = SettingsDifference(t.settings, ref.tag.settings);
    if (!difference.empty()) return "it was made with other settings than " + ref.path + ": " + difference;
    const PartFileFacts& f = part.facts;
    if (f.width != ref.facts.width || f.height != ref.facts.height) {
        return "it is " + std::to_string(f.width) + "x" + std::to_string(f.height) + ", " + ref.path + " is " +
               std::to_string(ref.facts.width) + "x" + std::to_string(ref.facts.height);
    }
    if (!SameRate(f.rateNum, f.rateDen, ref.facts.rateNum, ref.facts.rateDen) ||
        !SameRate(f.rateNum, f.rateDen, rateNum, rateDen)) {
        return "it runs at " + RateText(f.rateNum, f.rateDen) + " fps, the source at " + RateText(rateNum, rateDen);
    }
    if (f.codec != ref.facts.codec) return "it holds " + f.codec + " video, " + ref.path + " " + ref.facts.codec;
    const std::string wanted = JoinableVideoCodec(outputExt);
    if (!wanted.empty() && f.codec != wanted) {
        return "it holds " + f.codec + " video; a " + outputExt + " output needs " + wanted + " (make the parts as " +
               (wanted == "h264" ? std::string(".mkv") : outputExt) + ")";
    }
    if (f.hasAudio) return "it has a sound track: it is no part made by tessaly-convert --part";
    if (f.packets == 0) return "it holds no frame";
    if (!f.startsWithKey) return "it is damaged: it does not start with a key frame";
    // Every part but the last fills its span exactly; the last one runs to
    // the movie's end.
    const int64_t span = t.end - t.first;
    if (t.index < t.count && f.packets != span) {
        return "it is damaged: it holds " + std::to_string(f.packets) + " frames, its span " + std::to_string(span);
    }
    // The last one ends early only when the movie did: its frames fall short.
    if (t.index == t.count && f.packets + 1 < span) {
        return "its frames fall short of its slots: it holds " + std::to_string(f.packets) + " frames, its span " +
               std::to_string(span) + " (the movie could not be decoded to its end)";
    }
    return {};
}

// The concat demuxer's list of the parts, each by its whole path.
Status WriteConcatList(const std::vector<JoinPart>& parts, const std::string& listPath) {
    std::ofstream list(listPath, std::ios::binary | std::ios::trunc);
    list << "ffconcat version 1.0\n";
    for (const JoinPart& part : parts) {
        std::error_code ec;
        const std::string path = fs::absolute(part.path, ec).lexically_normal().string();
        if (ec || path.find_first_of("\n\r") != std::string::npos) {
            return Failure{"cannot name " + part.path + " in a list"};
        }
        // In single quotes; a quote inside as '\''. "file:" keeps any
        // name a file.
        std::string quoted = "'file:";
        for (char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        list << "file " << quoted << "'\n";
    }
    list.close();
    if (!list) return Failure{"cannot write the list of parts " + listPath};
    return {};
}

}  // namespace

std::string CheckJoinParts(std::vector<JoinPart>& parts, int64_t sourceBytes, int32_t rateNum, int32_t rateDen,
                           const std::string& outputExt, JoinStatus& status) {
    status = JoinStatus::kBadPart;
    for (JoinPart& part : parts) {
        std::error_code ec;
        if (fs::is_directory(part.path, ec)) return "cannot use the part " + part.path + ": is a directory";
        // Damage first: a damaged part's tag says nothing about its settings.
        const Status whole = PartDamage(part.path, part.facts, part.tag);
        if (!whole.ok()) return "cannot use the part " + part.path + ": " + whole.reason();
    }
    for (const JoinPart& part : parts) {
        const std::string problem = CheckOnePart(part, parts.front(), sourceBytes, rateNum, rateDen, outputExt);
        if (!problem.empty()) return "cannot use the part " + part.path + ": " + problem;
    }
    // The list: parts 1..N, each once, in order.
    status = JoinStatus::kBadParts;
    std::map<int32_t, const JoinPart*> seen;
    for (const JoinPart& part : parts) {
        const auto [at, added] = seen.emplace(part.tag.index, &part);
        if (!added) return part.path + " repeats " + PartName(*at->second);
    }
    const int32_t count = parts.front().tag.count;
    for (int32_t index = 1; index <= count; ++index) {
        if (seen.count(index) == 0) {
            return "part " + std::to_string(index) + "/" + std::to_string(count) +
                   " is missing: give every part from 1 to " + std::to_string(count) + ", in order";
        }
    }
    for (size_t i = 0; i < parts.size(); ++i) {
        if (parts[i].tag.index != static_cast<int32_t>(i) + 1) {
            return parts[i].path + " is part " + std::to_string(parts[i].tag.index) + "/" + std::to_string(count) +
                   " but stands in place " + std::to_string(i + 1) + ": give the parts in order";
        }
        if (i > 0 && parts[i].tag.first != parts[i - 1].tag.end) {
            return parts[i].path + " does not follow " + parts[i - 1].path + " (slots " +
                   std::to_string(parts[i - 1].tag.end) + " and " + std::to_string(parts[i].tag.first) + ")";
        }
    }
    // Together the frames of the whole movie, within one frame.
    int64_t frames = 0;
    for (const JoinPart& part : parts) frames += part.facts.packets;
    const int64_t slots = parts.front().tag.slots;
    if (std::llabs(frames - slots) > 1) {
        status = JoinStatus::kBadPart;
        return "cannot use the part " + parts.back().path + ": the parts hold " + std::to_string(frames) +
               " frames, the movie " + std::to_string(slots);
    }
    status = JoinStatus::kJoined;
    return {};
}

namespace {

// The joined movie on exact frame times: the concat copies the parts'
// times, which Matroska parts hold in milliseconds (33 and 34 ms apart at
// 30 fps); an MP4 or QuickTime output can hold each frame's own time, so
// its frames are moved onto the source's rate.
Status RetimeJoined(ExportResult& e, int32_t rateNum, int32_t rateDen) {
    if (e.videoExt != ".mp4" && e.videoExt != ".m4v" && e.videoExt != ".mov") return {};
    Result<std::string> sibling = CreateSiblingFile(e.pending);
    if (!sibling.ok()) return Failure{sibling.reason()};
    const std::string retimed = std::move(sibling).value();
    MovieCopy how;
    how.rateNum = rateNum;
    how.rateDen = rateDen;
    if (const Status copied = CopyMovie(e.pending.tempPath, retimed, how); !copied.ok()) {
        ::unlink(retimed.c_str());
        return Failure{"its frame times cannot be set: " + copied.reason()};
    }
    ::unlink(e.pending.tempPath.c_str());
    e.pending.tempPath = retimed;
    return {};
}

// Runs the concat into the pending file and checks what it wrote; the
// reason it failed, or empty.
std::string RunJoin(FisheyeApp& app, const JoinRequest& request, const JoinJob& job, const OutputExpectation& want,
                    const SourceFacts& source, JoinResult& result) {
    RunLog& log = app.env.log;
    ExportResult& e = result.exported;
    const EncoderCommand command = BuildJoinCommand(job);
    log.WriteLogLine("FFMPEG : " + command.text);
    RunOptions options;
    options.stderrPath = request.workFolder + "/join_report.txt";
    options.stop = &app.run.stopRequested;
    options.stallLimitMs = request.encoderStallMs;
    options.progressFiles = {e.pending.tempPath};
    const ChildOutcome outcome = command.problem.empty() ? RunChild(command.argv, options) : ChildOutcome{};
    e.started = outcome.status != kCannotStart;
    e.exitStatus = outcome.status;
    e.stopped = outcome.stopped;
    std::string failure;
    if (!command.problem.empty()) {
        failure = command.problem;
    } else if (outcome.stopped || app.run.stopRequested.load()) {
        result.status = JoinStatus::kStopped;
        failure = "the join was stopped";
    } else if (outcome.status != 0) {
        const std::deque<std::string> errors = LastReportLines(options.stderrPath);
        for (const std::string& line : errors) log.WriteLogLine("FFMPEG error: " + line);
        failure = e.started ? EncoderFailure(outcome, errors, request.output)
                            : EncoderMissing(request.encoderProgram, app.env.programDir);
    } else {
        Status joined = RetimeJoined(e, source.rateNum, source.rateDen);
        if (joined.ok()) joined = VerifyOutputMovie(e.pending.tempPath, want);
        if (!joined.ok()) failure = "the joined movie is not right: " + joined.reason();
    }
    std::error_code ec;
    fs::remove(options.stderrPath, ec);
    return failure;
}

}  // namespace

JoinResult JoinMovieParts(FisheyeApp& app, UserInterface& ui, const JoinRequest& request) {
    JoinResult result;
    RunLog& log = app.env.log;
    log.WriteLogLine("Join Parts Begin");
    const SourceFacts source = ReadSourceFacts(request.source);
    std::error_code ec;
    const auto bytes = fs::file_size(request.source, ec);
    std::vector<JoinPart> parts;
    for (const std::string& path : request.parts) parts.push_back(JoinPart{path, {}, {}});
    const std::string videoExt = OutputExtension(request.output);
    JoinStatus checked = JoinStatus::kBadPart;
    const std::string problem = CheckJoinParts(parts, ec ? -1 : static_cast<int64_t>(bytes), source.rateNum,
                                               source.rateDen, videoExt, checked);
    if (!problem.empty()) {
        result.status = checked;
        result.error = problem;
        log.WriteLogLine("Join refused: " + problem);
        return result;
    }
    for (const JoinPart& part : parts) result.frames += part.facts.packets;
    result.width = parts.front().facts.width;
    result.height = parts.front().facts.height;
    result.sound = source.hasAudio;

    JoinJob job;
    job.encoderProgram = request.encoderProgram;
    job.listPath = request.workFolder + "/parts.ffconcat";
    job.sourcePath = request.source;
    job.sound = source.hasAudio;
    job.monoSound = job.sound && ReadSoundChannels(request.source).first == 1;
    const double rate = static_cast<double>(source.rateNum) / source.rateDen;
    job.durationSeconds = static_cast<double>(result.frames) / rate;
    job.quality = request.quality;
    job.outputPath = request.output;

    ExportResult& e = result.exported;
    e.outputPath = request.output;
    e.videoExt = videoExt;
    std::string failure = WriteConcatList(parts, job.listPath).reason();
    if (failure.empty()) {
        Result<PendingFile> pending = CreatePendingFile(request.output);
        if (pending.ok()) e.pending = std::move(pending).value();
        if (!pending.ok()) failure = "cannot write " + request.output + ": " + pending.reason();
    }
    if (!failure.empty()) {
        result.error = failure;
        return result;
    }
    job.writePath = e.pending.tempPath;
    OutputExpectation want;
    want.width = result.width;
    want.height = result.height;
    want.frames = static_cast<int32_t>(result.frames);
    want.frameRate = rate;
    want.sound = source.hasAudio;
    failure = RunJoin(app, request, job, want, source, result);
    fs::remove(job.listPath, ec);
    e.verified = failure.empty();
    if (!e.verified) e.error = "cannot write " + request.output + ": " + failure;
    // The parts say how their frames hold the eyes (checked alike above).
    app.run.vrStereo = PartStereoLayout(parts.front().tag.settings);
    PlaceExportedMovie(app, ui, e);
    if (e.written) {
        result.status = JoinStatus::kJoined;
        log.WriteLogLine("Join Parts End: " + std::to_string(result.frames) + " frames from " +
                         std::to_string(parts.size()) + " parts into " + request.output);
        return result;
    }
    if (e.stopped) result.status = JoinStatus::kStopped;
    result.error = e.error.empty() ? "cannot write " + request.output + ": " + failure : e.error;
    log.WriteLogLine("Join failed: " + result.error);
    return result;
}

}  // namespace tessaly
