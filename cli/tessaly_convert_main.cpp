// tessaly-convert: the conversion of the desktop program, without a window,
// for scripts and servers. By default the converted frames stream through a
// pipe into one encoder that writes every output; --stills takes the still
// path of the desktop program. Several may run at once: each works in a
// private folder inside the temporary folder (see cli/run_workspace.h).
//
// Exit status: 0 every output movie was written and checked; 1 the
// conversion or an encoding failed (also an encoder that stalled, a file
// size limit, memory or threads running out); 2 a bad option or output name
// (two names of one file included); 3 the input movie cannot be used; 4 with
// --strict: the movie decoded fewer frames than it declares; 128 + N
// stopped by signal N (SIGHUP 129, SIGINT 130, SIGTERM 143), within 2 s of
// the signal, with the unfinished output and every temporary file removed
// (cli/stop_signals.h). An output is renamed into place only once complete
// and checked, so a file that already had its name keeps its bytes when a
// run fails or stops.

#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/app_paths.h"
#include "app/app_state.h"
#include "app/format.h"
#include "app/startup.h"
#include "cli/convert_options.h"
#include "cli/run_workspace.h"
#include "convert/stereo_cuts.h"
#include "cli/stop_signals.h"
#include "cli/terminal_ui.h"
#include "convert/conversion_driver.h"
#include "convert/movie_job.h"
#include "convert/movie_job_file.h"
#include "convert/encoder_command.h"
#include "convert/job_movie.h"
#include "convert/job_run.h"
#include "convert/movie_conversion.h"
#include "convert/movie_part.h"
#include "convert/part_join.h"
#include "convert/stereo_pair.h"
#include "convert/transform_adapters.h"
#include "output/pending_file.h"
#include "transform/circle_finder.h"
#include "transform/cut_geometry.h"
#include "transform/frame_pipeline.h"
#include "video/encoder_program.h"
#include "video/luma_sampler.h"
#include "video/media_versions.h"
#include "video/movie_check.h"

#ifndef TESSALY_VERSION
#define TESSALY_VERSION "unknown"
#endif

namespace tessaly {
namespace {

namespace fs = std::filesystem;

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInput = 3;
constexpr int kExitShortDecode = 4;
constexpr int kExitSignalBase = 128;

// A failed run: its exit status and what standard error is told.
Status Fail(int code, const std::string& message) { return Failure{message, code}; }

// A failure as one line on standard error; nothing for a success.
void Say(const Status& end) {
    if (!end.ok()) std::fprintf(stderr, "tessaly-convert: %s\n", end.reason().c_str());
}

Status Stopped(const std::vector<ExportResult>& exports = {}) {
    const int signo = StopSignal();
    std::vector<std::string> written;
    for (const ExportResult& e : exports) {
        if (e.written) written.push_back(e.outputPath);
    }
    return Fail(kExitSignalBase + signo, StopReport(SignalName(signo), written));
}

// Two names of one file among the input and the outputs: refused before any
// work, or one encoding would overwrite another (or the movie being read).
std::string SameFileProblem(const std::string& input, const std::vector<std::string>& outputs) {
    std::vector<std::string> paths{input};
    paths.insert(paths.end(), outputs.begin(), outputs.end());
    const std::vector<size_t> pair = SameFilePair(paths);
    if (pair.empty()) return {};
    if (pair[0] == 0) return "the output movie " + paths[pair[1]] + " is the input movie";
    return "the outputs " + paths[pair[0]] + " and " + paths[pair[1]] + " are the same file";
}

std::string ErrnoReason(int error) {
    switch (error) {
        case EACCES:
        case EPERM: return "permission denied";
        case ENAMETOOLONG: return "file name too long";
        case EROFS: return "read-only file system";
        default: return std::strerror(error);
    }
}

bool NameTooLong(const std::string& path) {
    if (path.size() >= PATH_MAX) return true;
    for (const fs::path& part : fs::path(path)) {
        if (part.native().size() > NAME_MAX) return true;
    }
    return false;
}

std::string ParentFolder(const std::string& path) {
    fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

// The input as the user named it: a readable movie with a picture.
std::string CheckInput(const std::string& input) {
    if (NameTooLong(input)) return "file name too long";
    std::error_code ec;
    if (fs::is_directory(input, ec)) return "is a directory";
    if (!fs::exists(fs::symlink_status(input, ec)) || !fs::exists(input, ec)) return "no such file";
    if (::access(input.c_str(), R_OK) != 0) return ErrnoReason(errno);
    const SourceFacts facts = ReadSourceFacts(input);
    return facts.usable ? std::string() : facts.error;
}

// Checks an output before any frame is converted, so that a typing error
// (or a container that cannot take the movie's frame rate) costs no
// conversion time. Paths are used exactly as typed.
std::string CheckOutput(const std::string& output, const std::string& input, double sourceRate,
                        bool part = false) {
    const std::string what = "cannot write " + output + ": ";
    if (NameTooLong(output)) return what + "file name too long";
    std::error_code ec;
    if (fs::is_directory(output, ec)) return what + "is a directory";
    const std::string ext = OutputExtension(output);
    EncoderJob probe;
    probe.outputPath = output;
    if (part) {
        const std::string problem = PartExtensionProblem(output);
        if (!problem.empty()) return what + problem;
    } else if (!BuildEncoderCommand(probe).known) {
        return what + "unsupported extension '" + ext + "' (use " + KnownExtensionList() + ")";
    }
    const std::string rateProblem = OutputRateProblem(output, sourceRate);
    if (!rateProblem.empty()) return what + rateProblem;
    const std::string folder = ParentFolder(output);
    if (!fs::is_directory(folder, ec)) return what + "no folder " + folder;
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        return what + "folder " + folder + " is not writable (" + ErrnoReason(errno) + ")";
    }
    if (fs::exists(output, ec) && ::access(output.c_str(), W_OK) != 0) {
        return what + ErrnoReason(errno);
    }
    if (fs::equivalent(output, input, ec)) return "the output movie " + output + " is the input movie";
    return {};
}

// Settings from the parameter file, then the options over them. The shared
// run log and the temporary folder stay untouched until the run has its own.
void PrepareApp(FisheyeApp& app, const ConvertOptions& options, const char* argv0) {
    StartUpOptions startUp;
    startUp.programDir = ProgramFolder(argv0);
    startUp.iniPathOverride = options.paramsFile;
    startUp.privateRun = true;
    StartUpCore(app, startUp);
    ApplyConvertOptions(options, app);
    // The run's log starts later (StartRunLog writes them there too).
    for (const std::string& note : app.env.parameterNotes) {
        std::fprintf(stderr, "tessaly-convert: warning: %s\n", note.c_str());
    }
}

// The cut of the run. --cut and --params keep exact control; --circle places
// the cut on the given circle; otherwise the lens circle is looked for in
// frames sampled across the movie, and without one the cut stays as the
// parameter file (or the start) had it. What was decided goes into `said`,
// for the terminal and the run log, the circle the cut places into `placed`.
Status ChooseCut(FisheyeApp& app, ConvertOptions& options, std::vector<std::string>& said,
                 std::optional<LensCircle>& placed) {
    if (options.cut || (!options.circle && !options.paramsFile.empty())) return {};
    const AppSettings& s = *app.settings;
    const CutRect before{s.XL1, s.YL1, s.XL2, s.YL2};
    std::error_code ec;
    const std::string keptCut =
        (before == kDefaultCut ? std::string("the start cut ")
                               : (fs::exists(app.env.iniPath, ec) ? "the cut of " + app.env.iniPath + " " : "the cut ")) +
        std::to_string(before.XL1) + "," + std::to_string(before.YL1) + "," + std::to_string(before.XL2) + "," +
        std::to_string(before.YL2);
    LensCircle circle;
    Result<SampledLuma> read = Failure{};
    if (options.circle) {
        circle = *options.circle;
        read = SampleLumaMaximum(options.input, LumaSampling{1, 64});
        if (!read.ok()) return Fail(kExitInput, "cannot open " + options.input + ": " + read.reason());
    } else if (s.ASPECT != 0) {
        // The stretched picture is not the one the frames show.
        said.push_back("the lens circle is not looked for with the aspect fix on; using " + keptCut);
        return {};
    } else {
        SetStopFlag(&app.run.stopRequested);
        if (StopSignal() != 0) app.run.stopRequested = true;
        read = SampleLumaMaximum(options.input, LumaSampling{}, &app.run.stopRequested);
        SetStopFlag(nullptr);
        if (StopSignal() != 0) return {};  // the caller reports the stop
        // A movie whose frames cannot be read is refused by the run itself,
        // with the reason; the cut is of no account then.
        if (!read.ok()) return {};
        const CircleSearch search = FindLensCircle(read->maximum, read->frameW, read->frameH);
        if (!search.found) {
            said.push_back(NoCircleMessage(search) + "; using " + keptCut);
            return {};
        }
        circle = search.circle;
    }
    const SampledLuma& sampled = read.value();
    const CutForCircleResult fit = CutForCircle(sampled.frameW, sampled.frameH, circle);
    if (!fit.ok) {
        const std::string what = "no cut places the lens circle centre " + OneDecimal(circle.cx) + "," +
                                 OneDecimal(circle.cy) + " radius " + OneDecimal(circle.r) + " px on a " +
                                 std::to_string(sampled.frameW) + "x" + std::to_string(sampled.frameH) + " frame";
        if (options.circle) return Fail(kExitUsage, "--circle: " + what);
        said.push_back(what + "; using " + keptCut);
        return {};
    }
    app.settings.Change([&fit](AppSettings& changed) {
        changed.XL1 = fit.cut.XL1;
        changed.YL1 = fit.cut.YL1;
        changed.XL2 = fit.cut.XL2;
        changed.YL2 = fit.cut.YL2;
    });
    said.push_back(CircleCutLine(circle, fit, "--cut"));
    const std::string mismatch = LensCircleMismatch(app.settings.Copy(), 2.0 * circle.r, sampled.frameW, sampled.frameH);
    if (!mismatch.empty()) said.push_back(mismatch);
    placed = circle;
    return {};
}

// The eyes of a stereo job: each eye's circle found and cut and, unless
// --no-align-eyes, the eyes aligned, once, here: a saved job and every part
// of it convert with these numbers.
Status ResolveStereoEyes(FisheyeApp& app, const std::string& input, JobStereo& stereo,
                         std::vector<std::string>& said) {
    std::string problem;
    SetStopFlag(&app.run.stopRequested);
    bool found = ChooseStereoCuts(input, stereo, &app.run.stopRequested, said, problem);
    SetStopFlag(nullptr);
    if (found && stereo.settings.alignEyes && StopSignal() == 0) {
        found = AlignStereoEyes(input, app.settings->lens, stereo, said, problem);
    }
    if (found || StopSignal() != 0) return {};
    return Fail(kExitInput, problem);
}

// The eyes of a pair of movies: each movie's circle and cut, the right
// movie's offset (given, or found from the sound: said on standard output
// too) and, unless --no-align-eyes, the eyes aligned on the frames that go
// together, once, here.
Status ResolvePairEyes(FisheyeApp& app, const ConvertOptions& options, JobStereo& stereo,
                       std::vector<std::string>& said) {
    if (const std::string right = CheckInput(options.rightInput); !right.empty()) {
        return Fail(kExitInput, "cannot open " + options.rightInput + ": " + right);
    }
    SetStopFlag(&app.run.stopRequested);
    Status resolved =
        ResolveStereoPair(options.input, options.rightInput, options.rightOffset, stereo, said, &app.run.stopRequested);
    SetStopFlag(nullptr);
    std::string problem;
    if (resolved.ok() && stereo.settings.alignEyes && StopSignal() == 0 &&
        !AlignPairEyes(options.input, app.settings->lens, stereo, said, problem)) {
        resolved = Failure{problem};
    }
    if (StopSignal() != 0) return {};
    if (!resolved.ok()) return Fail(kExitInput, resolved.reason());
    for (const std::string& line : said) {
        if (line.rfind("sound sync:", 0) == 0) std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
    return {};
}

// The run's log lives in its folder while it runs and joins the shared log
// beside the program as one block at the end.
void StartRunLog(FisheyeApp& app, const RunWorkspace& workspace);

// Opens the run's own folder inside the temporary folder, makes it the
// run's temporary folder, tells the early end about it and starts the run's
// log there; a folder that cannot be made fails the run.
Status OpenRunWorkspace(FisheyeApp& app, RunWorkspace& workspace) {
    const std::string sharedLog = app.env.logPath;
    std::string error;
    if (!workspace.Open(app.settings->APATH, sharedLog, error)) return Fail(kExitFailed, error);
    app.settings.Change([&](AppSettings& s) { s.APATH = workspace.Folder(); });
    SetEmergencyWorkspace(workspace.Folder(), workspace.RunLogPath(), sharedLog);
    StartRunLog(app, workspace);
    return {};
}

void StartRunLog(FisheyeApp& app, const RunWorkspace& workspace) {
    app.env.log.SetPath(workspace.RunLogPath());
    app.env.log.StartNew(std::time(nullptr));
    for (const std::string& line : AppPathsLogLines(DecideAppPaths(app.env.programDir))) {
        app.env.log.WriteLogLine(line);
    }
    LogTemporaryFolder(app.env.log, app.settings->APATH);
    for (const std::string& note : app.env.parameterNotes) app.env.log.WriteLogLine(note);
}

// A message box text as one line: its line breaks become blanks.
std::string OneLine(const std::string& text) {
    std::string line;
    for (char c : text) {
        if (c == '\r' || c == '\n') {
            if (!line.empty() && line.back() != ' ') line += ' ';
        } else {
            line += c;
        }
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

std::string CutText(const CutRect& cut) {
    return std::to_string(cut.XL1) + "," + std::to_string(cut.YL1) + "," + std::to_string(cut.XL2) + "," +
           std::to_string(cut.YL2);
}

// "the eyes' cuts 66,-21,532,637 and 66,-21,532,637" (left, right).
std::string EyeCutsText(const JobStereo& stereo) {
    return "the eyes' cuts " + CutText(stereo.settings.cuts[kLeftEye]) + " and " +
           CutText(stereo.settings.cuts[kRightEye]);
}

// Where the run's cut came from, for a message about it: "--cut 0,0,0,0",
// "the cut 5,5,1,1 of mine.ini" (a parameter or job file); empty for the
// start cut (the user gave none).
std::string CutOrigin(const std::string& source, bool givenCut, const CutRect& chosen, bool placedOnCircle) {
    if (givenCut) return "--cut " + CutText(chosen);
    if (placedOnCircle) return "the cut " + CutText(chosen) + " placed on the lens circle";
    if (chosen == kDefaultCut) return {};
    return "the cut " + CutText(chosen) + " of " + source;
}

// A cut that gives no panorama. A picture too small for any cut inside it
// makes the movie unusable (exit 3); otherwise the cut the user gave is
// refused (exit 2), named with where it came from. The start cut, which the
// user did not choose, is never what they are told to change.
Status BadCut(const MovieConversion& conversion, const std::string& input, const CutRect& cut,
           const std::string& origin) {
    const int w = conversion.info.frameWidth, h = conversion.info.frameHeight;
    const std::string picture = std::to_string(w) + "x" + std::to_string(h);
    if (BuildCutGeometry(w, h, CutRect{0, 0, 600, 600}).status == TransformStatus::kCropEmpty) {
        return Fail(kExitInput, "cannot use " + input + ": its picture of " + picture +
                                    " pixels is too small for a panorama (at least 2 rows are needed)");
    }
    const GeometryResult built = BuildCutGeometry(w, h, cut);
    const CutGeometry& g = built.geometry;
    std::string why;
    switch (built.status) {
        case TransformStatus::kCropEmpty:
            if (cut.XL2 <= cut.XL1 || cut.YL2 <= cut.YL1) {
                why = "is empty or inverted (XL2 must be larger than XL1, and YL2 than YL1)";
                break;
            }
            why = "gives a crop of " + std::to_string(g.cropW) + " x " + std::to_string(g.cropH) + " pixels of the " +
                  picture + " picture, and at least 1 x 2 are needed";
            break;
        case TransformStatus::kOutputTooLarge:
            why = "gives a panorama of " + std::to_string(g.outW) + " x " + std::to_string(g.outH) +
                  " pixels, more than the 6000 x 6000 the remap table holds";
            break;
        case TransformStatus::kCropTooLarge:
            why = "lies too far outside the " + picture + " picture or is too wide to be held in memory";
            break;
        default: why = "cannot be used: " + OneLine(conversion.result.error); break;
    }
    if (origin.empty()) {
        return Fail(kExitInput, "cannot use " + input + ": the start cut " + CutText(cut) + " " + why +
                                    "; give a cut (--cut or --circle)");
    }
    return Fail(kExitUsage, origin + " " + why);
}

Status ReportConversion(const MovieConversion& conversion, const MovieJob& job,
                     const TerminalUserInterface& ui, const std::string& keptFolder,
                     const std::string& cutOrigin) {
    const ConversionResult& result = conversion.result;
    if (!conversion.opened) {
        return Fail(kExitInput, "cannot open " + job.movie.path + ": " + OneLine(conversion.openError));
    }
    if (result.status == ConversionStatus::kBadCut) {
        // An eye's cut that gives no panorama: a job file's (hand-made) or,
        // barely possible, the search's.
        if (job.stereo.IsStereo()) return Fail(kExitUsage, cutOrigin + " cannot be used: " + OneLine(result.error));
        return BadCut(conversion, job.movie.path, job.geometry.cut, cutOrigin);
    }
    // Frames the decoder gave but the colour conversion refused got no still:
    // say so, whatever the outcome, so the output's gaps are not a mystery.
    if (conversion.unconvertibleFrames > 0) {
        std::fprintf(stderr, "tessaly-convert: %lld decoded frames could not be colour-converted and got no still\n",
                     static_cast<long long>(conversion.unconvertibleFrames));
    }
    if (result.status != ConversionStatus::kDone) {
        // A frame rate no encoder takes (a damaged header's too) is the movie's.
        const bool input = result.status == ConversionStatus::kVideoMissing ||
                           result.status == ConversionStatus::kCannotSplit ||
                           result.status == ConversionStatus::kBadRate;
        return Fail(input ? kExitInput : kExitFailed,
                    OneLine(result.error));
    }
    Status failed;
    for (const ExportResult& e : result.exports) {
        if (e.written) continue;
        Say(failed);  // an earlier output's failure
        failed = Fail(kExitFailed, e.error);
    }
    if (!failed.ok()) return failed;
    // A damaged movie that decoded only in part: said in any case, a failure
    // when asked for.
    const std::string shortDecode = result.ShortDecodeText();
    const double seconds = ui.ConversionSeconds();
    std::string written;
    for (const ExportResult& e : result.exports) {
        written += (written.empty() ? "" : ", ") + e.outputPath;
    }
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.1f", seconds > 0 ? result.frames / seconds : 0.0);
    std::fprintf(stderr,
                 "tessaly-convert: %d frames converted to %dx%d in %s (%s fps), %s; wrote %s\n",
                 result.frames, result.outW, result.outH, FormatDuration(seconds).c_str(), rate,
                 result.hadSound ? "with sound"
                 : result.soundLeftOut.empty()
                     ? "no sound"
                     : ("no sound (" + job.movie.path + ": " + result.soundLeftOut + ")").c_str(),
                 written.c_str());
    if (!keptFolder.empty()) std::fprintf(stderr, "tessaly-convert: stills kept in %s\n", keptFolder.c_str());
    if (!shortDecode.empty()) {
        if (job.run.strict) {
            return Fail(kExitShortDecode, shortDecode + "; the rest could not be decoded (--strict)");
        }
        std::fprintf(stderr, "tessaly-convert: warning: %s; the rest could not be decoded\n", shortDecode.c_str());
    }
    return {};
}

// --join IN OUT PART...: the parts checked and joined into OUT with IN's
// sound, with the guarantees of any output.
Status RunJoin(const MovieJob& job, FisheyeApp& app) {
    const std::string& input = job.movie.path;
    const std::string& output = job.outputs.paths.front();
    const std::string inputProblem = CheckInput(input);
    if (!inputProblem.empty()) return Fail(kExitInput, "cannot open " + input + ": " + inputProblem);
    const SourceFacts source = ReadSourceFacts(input);
    const double sourceRate = source.rateDen > 0 ? static_cast<double>(source.rateNum) / source.rateDen : 0;
    const std::string outputProblem = CheckOutput(output, input, sourceRate);
    if (!outputProblem.empty()) return Fail(kExitUsage, outputProblem);
    if (IsMpegExtension(OutputExtension(output))) {
        return Fail(kExitUsage, "cannot write " + output + ": MPEG-2 program streams cannot be joined from parts "
                                "without re-encoding (another container, such as .mp4)");
    }
    std::vector<std::string> paths{input, output};
    paths.insert(paths.end(), job.run.parts.begin(), job.run.parts.end());
    const std::vector<size_t> pair = SameFilePair(paths);
    if (!pair.empty() && pair[0] <= 1) {
        return Fail(kExitUsage, pair[0] == 0 && pair[1] == 1
                                    ? "the output movie " + output + " is the input movie"
                                    : "the part " + paths[pair[1]] + " is the " +
                                          (pair[0] == 0 ? std::string("source movie") : "output"));
    }
    if (StopSignal() != 0) return Stopped();
    const std::string encoder = FindEncoderProgram(app.env.programDir);
    if (encoder.empty()) {
        return Fail(kExitFailed, EncoderMissing("", app.env.programDir) + ": install ffmpeg or put it at " +
                                     app.env.programDir + kEncoderRelativePath);
    }
    RunWorkspace workspace;
    if (const Status opened = OpenRunWorkspace(app, workspace); !opened.ok()) return opened;
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(output, ec))) SetEmergencyOutputs({output});
    SetStopFlag(&app.run.stopRequested);
    TerminalUserInterface ui(stderr, ::isatty(STDERR_FILENO) == 1, job.outputs.quality, job.outputs.paths);
    JoinRequest request;
    request.source = input;
    request.output = output;
    request.parts = job.run.parts;
    request.encoderProgram = encoder;
    request.workFolder = workspace.Folder();
    request.quality = job.outputs.quality;
    request.encoderStallMs = job.run.encoderStallSeconds * 1000;
    const auto started = std::chrono::steady_clock::now();
    JoinResult joined;
    if (!app.run.stopRequested.load()) joined = JoinMovieParts(app, ui, request);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    SetStopFlag(nullptr);
    BeginNormalFinish();
    workspace.Close(app.env.logPath, false);
    ClearEmergencyFiles();
    if (StopSignal() != 0) return Stopped({joined.exported});
    switch (joined.status) {
        case JoinStatus::kJoined: break;
        case JoinStatus::kBadParts: return Fail(kExitUsage, joined.error);
        case JoinStatus::kBadPart: return Fail(kExitInput, joined.error);
        case JoinStatus::kFailed:
        case JoinStatus::kStopped: return Fail(kExitFailed, joined.error);
    }
    std::fprintf(stderr, "tessaly-convert: %lld frames of %zu parts joined into %dx%d in %s, %s; wrote %s\n",
                 static_cast<long long>(joined.frames), job.run.parts.size(), joined.width, joined.height,
                 FormatDuration(seconds).c_str(), joined.sound ? "with sound" : "no sound", output.c_str());
    return {};
}

// The checks of a run's files before any work: an input that cannot be
// used (exit 3), an output that cannot be written or names the input (2).
Status CheckRunFiles(const std::string& input, const std::vector<std::string>& outputs, bool part, bool stills) {
    if (part && stills) {
        return Fail(kExitUsage, "--part streams its frames into the part file: --stills and "
                                "--keep-stills cannot be used with it\nTry 'tessaly-convert --help'.");
    }
    const std::string inputProblem = CheckInput(input);
    if (!inputProblem.empty()) return Fail(kExitInput, "cannot open " + input + ": " + inputProblem);
    const SourceFacts source = ReadSourceFacts(input);
    const double sourceRate = source.rateDen > 0 ? static_cast<double>(source.rateNum) / source.rateDen : 0;
    for (const std::string& output : outputs) {
        const std::string problem = CheckOutput(output, input, sourceRate, part);
        if (!problem.empty()) return Fail(kExitUsage, problem);
    }
    const std::string sameFile = SameFileProblem(input, outputs);
    if (!sameFile.empty()) return Fail(kExitUsage, sameFile);
    return StopSignal() != 0 ? Stopped() : Status{};
}

// What building a job says besides the job: the lines about its cut (for
// the run's log) and where the cut came from (for a message about it).
struct JobNotes {
    std::vector<std::string> cutLines;
    std::string cutOrigin;
};

// The job of the options: the parameter file, the options over it, the cut
// chosen (the lens circle found or given) and the movie's facts; `app` is
// left prepared for it.
Status BuildJob(ConvertOptions& options, const char* argv0, FisheyeApp& app, MovieJob& job,
                JobNotes& notes, bool needEncoder) {
    std::vector<std::string>& cutLines = notes.cutLines;
    if (!options.join) {
        const bool stills = options.tempFormat.has_value() || options.keepStills;
        const Status files = CheckRunFiles(options.input, options.outputs, options.partCount > 0, stills);
        if (!files.ok()) return files;
    }
    PrepareApp(app, options, argv0);
    if (options.join) {
        job = JobFromOptions(options, app);
        return {};
    }
    const std::string lensProblem = LensSettingsProblem(*app.settings);
    if (!lensProblem.empty()) return Fail(kExitUsage, lensProblem);
    if (needEncoder && FindEncoderProgram(app.env.programDir).empty()) {
        return Fail(kExitFailed, EncoderMissing("", app.env.programDir) + ": install ffmpeg or put it at " +
                                     app.env.programDir + kEncoderRelativePath);
    }
    std::optional<LensCircle> circle;
    const CutRect before = CutOf(*app.settings);
    JobStereo stereo;
    stereo.settings = options.stereo;
    const Status chosen = stereo.IsPair()     ? ResolvePairEyes(app, options, stereo, cutLines)
                          : stereo.IsStereo() ? ResolveStereoEyes(app, options.input, stereo, cutLines)
                                              : ChooseCut(app, options, cutLines, circle);
    if (!chosen.ok()) return chosen;
    const CutRect cut = CutOf(*app.settings);
    notes.cutOrigin = stereo.IsStereo() ? EyeCutsText(stereo) + " placed on the eyes' lens circles"
                                        : CutOrigin(app.env.iniPath, options.cut.has_value(), cut,
                                                    options.circle.has_value() || !(cut == before));
    if (StopSignal() != 0) return Stopped();
    const std::string profile = LensProfileLine(*app.settings);
    if (!profile.empty()) cutLines.insert(cutLines.begin(), profile);
    for (const std::string& line : cutLines) std::fprintf(stderr, "tessaly-convert: %s\n", line.c_str());
    job = JobFromOptions(options, app);
    job.movie = ReadJobMovie(options.input);
    job.geometry.circle = circle;
    job.stereo = stereo;
    job.geometry.frameW = job.movie.width;
    job.geometry.frameH = job.movie.height;
    ApplyJob(job, app);
    return {};
}

// The job of --job FILE with this machine's part, join and temporary
// folder; refused when the file is damaged (exit 2) or the movie is not the
// one the job was made for (3).
Status ReadJob(const ConvertOptions& options, const char* argv0, FisheyeApp& app, MovieJob& job, JobNotes& notes) {
    Result<MovieJob> read = ReadJobFile(options.jobFile);
    if (!read.ok()) return Fail(kExitUsage, read.reason());
    job = std::move(read).value();
    notes.cutOrigin = (job.stereo.IsStereo() ? EyeCutsText(job.stereo) : "the cut " + CutText(job.geometry.cut)) +
                      " of the job " + options.jobFile;
    job.run.partIndex = options.partIndex;
    job.run.partCount = options.partCount;
    job.run.join = options.join;
    job.run.parts = options.parts;
    if (options.partCount > 0) job.outputs.paths = options.outputs;
    if (!options.tempDir.empty()) job.run.tempDir = options.tempDir;
    const bool stills = job.outputs.stills.has_value() || job.outputs.keepStills;
    const std::vector<std::string> outputs = job.run.join ? std::vector<std::string>{} : job.outputs.paths;
    const Status files = CheckRunFiles(job.movie.path, outputs, job.run.partCount > 0, stills);
    if (!files.ok()) return files;
    JobMovie now = ReadJobMovie(job.movie.path);
    if (now != job.movie) {
        return Fail(kExitInput, "the movie " + job.movie.path + " is not the one the job " + options.jobFile +
                                    " was made for (" + std::to_string(job.movie.width) + "x" +
                                    std::to_string(job.movie.height) + ", " + std::to_string(job.movie.bytes) +
                                    " bytes; now " + std::to_string(now.width) + "x" + std::to_string(now.height) +
                                    ", " + std::to_string(now.bytes) + " bytes)");
    }
    if (job.stereo.IsPair() && ReadJobMovie(job.stereo.right.path) != job.stereo.right) {
        return Fail(kExitInput, "the right movie " + job.stereo.right.path + " is not the one the job " +
                                    options.jobFile + " was made for");
    }
    StartUpOptions startUp;
    startUp.programDir = ProgramFolder(argv0);
    startUp.privateRun = true;
    StartUpCore(app, startUp);
    ApplyJob(job, app);
    // The profile is looked up in this machine's lens database.
    const std::string lensProblem = LensSettingsProblem(*app.settings);
    if (!lensProblem.empty()) return Fail(kExitUsage, lensProblem);
    const std::string profile = LensProfileLine(*app.settings);
    if (!profile.empty()) notes.cutLines.push_back(profile);
    return {};
}

// --save-job FILE: the job written, nothing converted, with whole paths.
// The file may not be the movie or an output.
Status SaveJob(const MovieJob& job, const std::string& path) {
    std::vector<std::string> paths{job.movie.path};
    if (job.stereo.IsPair()) paths.push_back(job.stereo.right.path);
    paths.insert(paths.end(), job.outputs.paths.begin(), job.outputs.paths.end());
    for (const std::string& other : paths) {
        std::error_code ec;
        if (path == other || fs::equivalent(path, other, ec)) {
            return Fail(kExitUsage, "the job file " + path + " is also named as the movie or an output");
        }
    }
    // Whole paths, so that the job means the same files from any folder.
    const auto whole = [](const std::string& p) {
        std::error_code ec;
        const fs::path absolute = fs::absolute(p, ec);
        return ec ? p : absolute.string();
    };
    MovieJob saved = job;
    saved.movie.path = saved.geometry.moviePath = whole(job.movie.path);
    if (saved.stereo.IsPair()) saved.stereo.right.path = whole(job.stereo.right.path);
    for (std::string& output : saved.outputs.paths) output = whole(output);
    if (!saved.run.tempDir.empty()) saved.run.tempDir = whole(saved.run.tempDir);
    if (const Status written = WriteJobFile(saved, path); !written.ok()) return Fail(kExitFailed, written.reason());
    std::fprintf(stderr, "tessaly-convert: wrote the job %s; run it with tessaly-convert --job\n", path.c_str());
    return {};
}

Status RunJob(const MovieJob& job, FisheyeApp& app, const JobNotes& notes) {
    if (FindEncoderProgram(app.env.programDir).empty()) {
        return Fail(kExitFailed, EncoderMissing("", app.env.programDir) + ": install ffmpeg or put it at " +
                                     app.env.programDir + kEncoderRelativePath);
    }
    RunWorkspace workspace;
    if (const Status opened = OpenRunWorkspace(app, workspace); !opened.ok()) return opened;
    for (const std::string& line : notes.cutLines) app.env.log.WriteLogLine(line);

    // Outputs that are not there yet are the run's own: an early end
    // removes them.
    std::vector<std::string> newOutputs;
    for (const std::string& output : job.outputs.paths) {
        std::error_code ec;
        if (!fs::exists(fs::symlink_status(output, ec))) newOutputs.push_back(output);
    }
    SetEmergencyOutputs(newOutputs);
    SetStopFlag(&app.run.stopRequested);
    const bool interactive = ::isatty(STDERR_FILENO) == 1;
    TerminalUserInterface ui(stderr, interactive, job.outputs.quality, job.outputs.paths);
    FramePipeline pipeline;
    MovieConversion conversion;
    ConversionOptions run = JobConversionOptions(job);
    if (job.run.partCount > 0) {
        // The join marks the whole movie; a part is only its frames.
        app.run.markVrOutput = false;
        run.partSettings = PartSettingsText(*app.settings, app.run.horizontalFlip.load(), job.outputs.quality,
                                            app.run.resizeChoice.load(), job.stereo.settings);
    }
    if (!app.run.stopRequested.load()) {
        conversion = ConvertMovieFile(app, ui, pipeline, job.movie.path, job.outputs.paths, run,
                                      [&ui, &job](const MediaInfo& info) {
                                          // A part shows its own share of the frames.
                                          const int32_t parts = std::max(job.run.partCount, 1);
                                          ui.SetTotalFrames((info.frameCount + parts - 1) / parts);
                                      });
    }
    SetStopFlag(nullptr);

    BeginNormalFinish();
    const bool keep = job.outputs.keepStills && conversion.result.AllWritten() && StopSignal() == 0;
    const std::string kept = workspace.Close(app.env.logPath, keep);
    ClearEmergencyFiles();
    if (StopSignal() != 0) return Stopped(conversion.result.exports);
    return ReportConversion(conversion, job, ui, kept, notes.cutOrigin);
}

// The run of the command line: its end, a success or a failure with its
// exit status.
Status Convert(int argc, char** argv) {
    InstallStopSignals();
    std::vector<std::string> args(argv + 1, argv + argc);
    // --check-options first: the run's checks before its first frame (the
    // options, files, parameter file, lens and the cut with its circle
    // search), said as a run says them; nothing is converted. Schedulers
    // check a command line with it before they hand it to other machines.
    const bool checkOnly = !args.empty() && args.front() == "--check-options";
    if (checkOnly) args.erase(args.begin());
    const ParsedOptions parsed = ParseConvertOptions(args);
    if (!parsed.ok) return Fail(kExitUsage, parsed.error + "\nTry 'tessaly-convert --help'.");
    ConvertOptions options = parsed.options;
    if (options.help) {
        std::fputs(ConvertUsage().c_str(), stdout);
        std::fputs("\nExit status:\n"
                   "  0        every output movie written and checked\n"
                   "  1        the conversion or an encoding failed (also: an encoder without\n"
                   "           progress for the --encoder-stall time, a file size limit met\n"
                   "           (\"file too large\"), memory or threads running out)\n"
                   "  2        a bad option or output (also two names of one file, a cut from\n"
                   "           --cut or a parameter file that gives no panorama)\n"
                   "           --join: a part missing, repeated or out of order\n"
                   "  3        the input movie cannot be used (also: a frame rate no encoder\n"
                   "           takes, a picture too small for a panorama)\n"
                   "           --part: it cannot be split into that many parts; --join: a part\n"
                   "           cannot be used (unreadable, damaged, from another movie, other\n"
                   "           settings, size, rate or codec)\n"
                   "  4        with --strict: the movie decoded fewer frames than it declares\n"
                   "           (the outputs hold the frames that were decoded)\n"
                   "  128 + N  stopped by signal N (129 SIGHUP, 130 SIGINT, 143 SIGTERM)\n"
                   "Each output is written under a hidden temporary name beside it and renamed\n"
                   "over its own name only once complete and checked: a failed or stopped run\n"
                   "removes that temporary file and the run's temporary folder, and a file that\n"
                   "already had the output's name keeps its bytes.\n"
                   "A stopped run ends within 2 s of the signal, in every phase, and removes its\n"
                   "partial output and its temporary files; a second signal ends it at once,\n"
                   "with the same clean-up. A signal ignored when the program starts (SIGHUP\n"
                   "under nohup, SIGINT for a background job of a script) stays ignored.\n"
                   "The shared log Tessaly_mono.log is rotated at 10 MB: the older part is kept\n"
                   "as Tessaly_mono.log.1.\n",
                   stdout);
        std::fputs(("\n" + AppPathsHelp(DecideAppPaths(ProgramFolder(argv[0])))).c_str(), stdout);
        return {};
    }
    if (options.version) {
        std::fputs(VersionReport("tessaly-convert " TESSALY_VERSION, ProgramFolder(argv[0])).c_str(),
                   stdout);
        return {};
    }
    if (options.listLenses) {
        std::vector<std::string> lines;
        std::string error;
        if (!ListLensLines(options, lines, error)) return Fail(kExitUsage, error);
        for (const std::string& line : lines) std::printf("%s\n", line.c_str());
        return {};
    }
    if (!options.paramsFile.empty()) {
        std::error_code ec;
        if (!fs::is_regular_file(options.paramsFile, ec)) {
            return Fail(kExitUsage, "cannot read the parameter file " + options.paramsFile);
        }
    }
    FisheyeApp app;
    MovieJob job;
    JobNotes notes;
    // A check or a saved job converts nothing here: the encoder is the
    // converting machine's.
    const bool needEncoder = !checkOnly && options.saveJobFile.empty();
    const Status built = options.jobFile.empty() ? BuildJob(options, argv[0], app, job, notes, needEncoder)
                                                 : ReadJob(options, argv[0], app, job, notes);
    if (!built.ok() || checkOnly) return built;
    if (!options.saveJobFile.empty()) return SaveJob(job, options.saveJobFile);
    if (job.run.join) return RunJoin(job, app);
    return RunJob(job, app, notes);
}

int Run(int argc, char** argv) {
    const Status end = Convert(argc, argv);
    Say(end);
    return end.code();
}

}  // namespace
}  // namespace tessaly

namespace {

// Runs before every library's start-up code, long before main: a stop
// signal in the first moments of the program is a stop like any other, and
// the pipe the handlers use never takes a closed standard stream's number.
void StartEarly() {
    tessaly::OpenClosedStandardStreams();
    tessaly::InstallStopHandlers();
}
__attribute__((section(".preinit_array"), used)) void (*const kStartEarly)() = StartEarly;

}  // namespace

int main(int argc, char** argv) {
    StartEarly();  // done already, unless the loader skipped the early list
    // No exception leaves main: it ends the run with one line and a clean-up.
    try {
        return tessaly::Run(argc, argv);
    } catch (...) {
        tessaly::EndNow(tessaly::kExitUnhandled, tessaly::UnhandledFailureText());
    }
}
