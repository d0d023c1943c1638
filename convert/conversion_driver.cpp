#include "convert/conversion_driver.h"

#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <new>
#include <thread>

#include "app/format.h"
#include "app/startup.h"
#include "convert/frame_callback.h"
#include "convert/frame_slots.h"
#include "convert/movie_part.h"
#include "convert/movie_part_seal.h"
#include "convert/transform_adapters.h"
#include "convert/vr_marking.h"
#include "output/still_writer.h"
#include "video/encoder_program.h"
#include "video/media_probe.h"
#include "video/movie_check.h"
#include "video/movie_labels.h"
#include "video/stream_text.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

// The fastest rate the still path encodes: its encoder limit counts
// microseconds (see EncoderDuration).
constexpr double kMaxStillRate = 1.0e6;

// The pause of the "CPU usage" control between the steps of a frame (10 ms
// for every percent below 100): the control is there to slow the run down.
void CpuUsagePause(int milliseconds) {
    if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool FileExists(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::is_regular_file(path, ec);
}

// The state one run hands from phase to phase.
struct Run {
    FisheyeApp& app;
    UserInterface& ui;
    OpenMovie& movie;
    const ConversionHooks& hooks;
    const ConversionOptions& options;
    // The settings as the run found them: other threads may change the
    // application's copy meanwhile (the filters, under their own lock).
    AppSettings settings;
    ConversionResult result;
    std::string videoPath;
    MediaInfo info;
    CutGeometry geometry;
    StillFormat tempFormat = StillFormat::Bmp;
    bool sourceHasSound = false;
    int32_t rateNum = 0;  // the source's exact frame rate (0: unknown)
    int32_t rateDen = 0;
};

// An encoding of the kept stills into `path`, with the quality and size as
// they are chosen when it starts.
EncoderJob JobFor(const FisheyeApp& app, UserInterface& ui, const ConversionResult& result, const std::string& path) {
    const KeptStills& stills = result.stills;
    EncoderJob job;
    job.encoderProgram = FindEncoderProgram(app.env.programDir);
    job.programDir = app.env.programDir;
    job.tempFolder = stills.folder;
    job.outputPath = path;
    // The stills of this run were written in this format, whatever the
    // format switch says now.
    job.tempFormat = stills.format;
    job.quality = ui.CompressionLevel();
    job.resizeIndex = app.run.resizeChoice.load();
    job.outW = result.outW;
    job.outH = result.outH;
    job.timePerFrame = stills.timePerFrame;
    job.durationSeconds =
        ConvertedSeconds(stills.durationSeconds, result.frames, StillInputRate(stills.timePerFrame));
    job.hasAudio = result.hadSound;
    job.frameCount = result.frames;
    job.encoderStallMs = stills.encoderStallMs;
    return job;
}

// A rate the encoder refuses would fail only after the whole frame phase;
// so would one the stills' encoder limit cannot bound: above a million
// frames a second its microsecond holds several frames, and the encoder
// drops or repeats them to fill it.
std::string RateProblem(const Run& run) {
    const MediaTime perFrame = run.info.timePerFrame;
    const bool refused = !EncoderRateUsable(perFrame);
    const bool tooFastForStills = run.options.streamOutputs.empty() && StillInputRate(perFrame) > kMaxStillRate;
    if (!refused && !tooFastForStills) return {};
    char rate[48];
    std::snprintf(rate, sizeof rate, "%.10g", 1.0e7 / static_cast<double>(perFrame.count()));
    const std::string named = std::string("the movie's frame rate (") + rate + " fps)";
    if (refused) return named + " cannot be encoded";
    return named + " is above the 1000000 fps stills can be encoded at; streaming (tessaly-convert without --stills) "
                   "converts it";
}

// Ends the run before the frame phase with a message for the user.
bool Refuse(Run& run, ConversionStatus status, const std::string& error, bool showMessage = true) {
    if (showMessage) run.ui.ShowMessage("Error", error, MessageIcon::Error, true);
    run.app.run.converting = false;
    run.result.status = status;
    run.result.error = error;
    return false;
}

std::string MegaBytes(double bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f MB", std::ceil(bytes / 1e6));
    return text;
}

// Stills the run will write, by the frame count announced: BMP exactly, a
// JPEG by the lower bound of one byte per pixel at quality 98.
double ExpectedStillBytes(const Run& run) {
    const double pixels = static_cast<double>(run.geometry.outW) * run.geometry.outH;
    const double still = run.tempFormat == StillFormat::Bmp ? 54 + pixels * 4 : pixels;
    return still * run.info.frameCount;
}

// The constant rate the frames are spaced at: the source's exact rate, as
// the encoder is given it.
double KeepRate(const Run& run) {
    if (run.rateNum > 0 && run.rateDen > 0) return static_cast<double>(run.rateNum) / run.rateDen;
    return run.info.timePerFrame.count() > 0 ? 1.0e7 / static_cast<double>(run.info.timePerFrame.count()) : 0;
}

// Shows the movie's size, rate, count and length, and refuses a frame rate
// the encoder would refuse. False when the run ends here.
bool ShowMovieFactsOf(Run& run) {
    RunLog& log = run.app.env.log;
    run.info = run.movie.Info();
    const MediaInfo& info = run.info;
    MovieFacts facts;
    facts.frameSize = std::to_string(info.frameWidth) + "x" + std::to_string(info.frameHeight);
    facts.frameRate = FormatMask(FrameRateOf(info.timePerFrame), "00.00") + " fps";
    facts.frameCount = std::to_string(info.frameCount);
    facts.duration = FormatDuration(info.durationSeconds);
    run.ui.ShowMovieFacts(facts);
    log.WriteLogLine("Set MovieDuration");

    const std::string rateProblem = RateProblem(run);
    if (!rateProblem.empty()) return Refuse(run, ConversionStatus::kBadRate, rateProblem);
    return true;
}

// The geometry of the cut and the facts of the source file (its sound, its
// exact rate). False when the run ends here.
bool BuildRunGeometry(Run& run) {
    FisheyeApp& app = run.app;
    RunLog& log = app.env.log;
    // The geometry of the run, always from all four cut values.
    const GeometryResult built = run.hooks.buildGeometry(
        run.settings, [&log](const std::string& line) { log.WriteLogLine(line); });
    if (!built.Ok()) return Refuse(run, ConversionStatus::kBadCut, built.Message());
    run.geometry = built.geometry;
    run.result.outW = run.geometry.outW;
    run.result.outH = run.geometry.outH;
    run.tempFormat = app.run.tempFormat.load();
    const SourceFacts source = ReadSourceFacts(run.videoPath);
    run.sourceHasSound = source.hasAudio;
    if (!source.soundProblem.empty()) {
        // The encoder would fail on it and blame the output: the movie is
        // converted without sound, and the user is told why.
        run.result.soundLeftOut = source.soundProblem;
        log.WriteLogLine("Sound left out: " + source.soundProblem);
    }
    run.rateNum = source.rateNum;
    run.rateDen = source.rateDen;
    return true;
}

// What can be checked before any frame: a movie long enough for its parts,
// room for the stills. False when the run ends here.
bool CheckPartsAndSpace(Run& run) {
    const MediaInfo& info = run.info;
    if (run.options.partCount > 0) {
        // Parts are spans of the timeline at the constant output rate.
        const double rate = KeepRate(run);
        const int64_t slots = SlotsForDuration(info.durationSeconds, rate);
        if (slots <= 0) {
            return Refuse(run, ConversionStatus::kCannotSplit,
                          "the movie's length or frame rate is unknown, so it cannot be split into parts", false);
        }
        if (slots < run.options.partCount) {
            return Refuse(run, ConversionStatus::kCannotSplit,
                          "the movie's " + std::to_string(slots) + " frames cannot be split into " +
                              std::to_string(run.options.partCount) + " parts",
                          false);
        }
    }
    if (run.options.checkTempSpace) {
        const std::string& temp = run.settings.APATH;
        std::error_code ec;
        const fs::space_info space = fs::space(temp, ec);
        const double need = ExpectedStillBytes(run);
        if (!ec && need > static_cast<double>(space.available)) {
            return Refuse(run, ConversionStatus::kNoSpace,
                          "not enough free space in the temporary folder " + temp + ": the stills need about " +
                              MegaBytes(need) + ", " + MegaBytes(static_cast<double>(space.available)) +
                              " free");
        }
    }
    return true;
}

// Steps before the first frame: wait for the preview, check the movie, fill
// the labels, build the geometry and check what can be checked before any
// frame is converted. False when the run ends here.
bool PrepareRun(Run& run) {
    const ConversionTimings& t = run.options.timings;
    FisheyeApp& app = run.app;
    RunLog& log = app.env.log;

    app.run.converting = true;
    app.run.progress.Set(ProgressTexts{});

    // Let a running preview pass finish (its end wakes this wait): the
    // transform never runs twice at once.
    if (run.hooks.previewBusy) {
        app.run.events.WaitUntil([&run] { return run.hooks.previewBusy() != 1 || run.app.run.stopRequested.load(); },
                                 t.previewLimit);
    }

    log.WriteLogLine("Convert Movie Begin " + TimeOfDayText());
    log.WriteLogLine("Output Folder Free Space 1:");

    run.videoPath = run.movie.VideoPath();
    if (!FileExists(run.videoPath)) {
        run.ui.ShowMessage("Error Monitoring", "Video file not found!", MessageIcon::Error, true);
        return Refuse(run, ConversionStatus::kVideoMissing, "video file not found: " + run.videoPath,
                      false);
    }
    VideoStream& stream = run.movie.Stream();
    if (run.movie.OpenFlag() != 1 || !stream.IsOpen()) {
        return Refuse(run, ConversionStatus::kNoStream, "no movie is open", false);
    }
    run.movie.RewindPosition();
    run.ui.ShowMoviePosition(kMovieStart);
    stream.Hold();
    log.WriteLogLine("Set Stream to 0 position");

    if (!ShowMovieFactsOf(run)) return false;
    if (!BuildRunGeometry(run)) return false;
    return CheckPartsAndSpace(run);
}

// The sound of a movie that has some must arrive; its loss is a failure.
std::string SoundFailure(const AudioExtractionResult& audio, const std::string& programDir) {
    if (audio.outcome.stalled) {
        return "the sound could not be extracted (the extractor made no progress for " +
               std::to_string((audio.outcome.stallLimitMs + 999) / 1000) + " s and was ended)";
    }
    if (audio.outcome.signal != 0) {
        return "the sound could not be extracted (the extractor was killed by signal " +
               std::to_string(audio.outcome.signal) + ")";
    }
    if (audio.outcome.status == kCannotStart) {
        return EncoderMissing(FindEncoderProgram(programDir), programDir) + ", so the sound could not be extracted";
    }
    if (audio.outcome.exitCode != 0) {
        return "the sound could not be extracted (exit status " + std::to_string(audio.outcome.exitCode) + ")";
    }
    return "the sound could not be extracted (the extracted sound holds no samples)";
}

// The sound extraction on its own thread, writing into `audio`.
std::thread StartSoundExtraction(Run& run, AudioExtractionResult& audio) {
    FisheyeApp& app = run.app;
    return std::thread([&app, &audio, path = run.videoPath, temp = run.settings.APATH,
                        stall = run.options.encoderStallMs] {
        try {
            audio = ExtractAudioTrack(app.env.programDir, path, temp, {}, &app.run.stopRequested, stall);
        } catch (const std::bad_alloc&) {
            // Memory ran out around the extractor: no sound, which the
            // run reports like any other failed extraction.
            audio.wavWritten = false;
        }
    });
}

// Frames keep their times: a movie whose frames come at varying intervals is
// repeated and dropped into the constant rate the encoder is given, so
// picture and sound stay together. A part keeps its own span of slots.
// A pair of movies ends with the shorter one (the movie's facts say how
// long both run together): no slot past it, whatever the left movie holds.
SlotWindow PairWindow(const Run& run, SlotWindow window, double rate) {
    if (run.options.stereo.input != StereoLayout::kPair) return window;
    window.end = std::min(window.end, SlotsForDuration(run.info.durationSeconds, rate));
    return window;
}

void PlaceFrameSlots(Run& run, FrameCallback& callback, double rate) {
    const MediaInfo& info = run.info;
    VideoStream& stream = run.movie.Stream();
    callback.KeepFrameTimes(rate, SlotsForDuration(info.durationSeconds, rate));
    if (run.options.partCount == 0 && run.options.stereo.input == StereoLayout::kPair) {
        callback.KeepSlots(PairWindow(run, SlotWindow{}, rate));
    } else if (run.options.partCount > 0) {
        const SlotWindow window =
            PartWindow(SlotsForDuration(info.durationSeconds, rate), run.options.partIndex, run.options.partCount);
        callback.KeepSlots(PairWindow(run, window, rate));
        // A later part reads the movie from the key frame before its span:
        // two slots early, so the frame that shows in its first slot (the
        // last one due before it) is decoded too.
        if (window.first > 2 && rate > 0) {
            stream.SeekToKeyFrameBefore(MediaTime{static_cast<int64_t>(static_cast<double>(window.first - 2) / rate * 1e7)});
        }
    }
}

// The part's span and how many of its frames were decoded, for the log.
void LogPartReach(Run& run, const FrameCallback& callback, double rate) {
    const SlotWindow window = PartWindow(SlotsForDuration(run.info.durationSeconds, rate), run.options.partIndex,
                                         run.options.partCount);
    run.app.env.log.WriteLogLine("Part " + std::to_string(run.options.partIndex) + "/" +
                                 std::to_string(run.options.partCount) + ": slots from " +
                                 std::to_string(window.first) + ", " + std::to_string(callback.frameNo.load()) +
                                 " frames of " + std::to_string(callback.deliveredFrames.load()) + " decoded");
}

// The frame phase's outcome: stopped, failed stills, no frame, lost sound
// or done.
void SettleFramePhase(Run& run, const FrameCallback& callback, const AudioExtractionResult& audio,
                      bool extractSound) {
    FisheyeApp& app = run.app;
    UserInterface& ui = run.ui;
    RunLog& log = app.env.log;
    if (app.run.stopRequested.load()) {
        run.result.status = ConversionStatus::kStopped;
        run.result.error = "the conversion was stopped";
    } else if (callback.Failed()) {
        run.result.status = ConversionStatus::kStillsFailed;
        run.result.error = callback.FailureMessage();
        ui.ShowMessage("Error", run.result.error, MessageIcon::Error, true);
    } else if (run.result.frames == 0) {
        run.result.status = ConversionStatus::kStillsFailed;
        run.result.error = "the movie delivered no frame";
        ui.ShowMessage("Error", run.result.error, MessageIcon::Error, true);
    } else if (extractSound && run.sourceHasSound && !audio.wavWritten) {
        // A run left open keeps the frames: its caller may export them
        // without sound (ExportKeptStills).
        run.result.status = ConversionStatus::kSoundFailed;
        run.result.error = SoundFailure(audio, app.env.programDir);
        log.WriteLogLine("Sound extraction failed: " + run.result.error);
    } else {
        log.WriteLogLine("END Convert Process");
        run.result.status = ConversionStatus::kDone;
    }
}

// The recording look, the run's facts in the log and on screen, a silent
// stream and the clock started: the frames may come.
void AnnounceFramePhase(Run& run, FrameCallback& callback) {
    UserInterface& ui = run.ui;
    RunLog& log = run.app.env.log;
    const MediaInfo& info = run.info;
    VideoStream& stream = run.movie.Stream();
    ui.BlankOutputPreview();
    ui.SetRecording(RecordingLook::kStart);
    log.WriteLogLine("OS_DIRECT_ACCESS = " + std::to_string(run.movie.OpenFlag()));
    log.WriteLogLine("OS_HRDWARE_SUPPORT = " + std::to_string(info.seekable ? 1 : 0));
    log.WriteLogLine("OS_DSS_SETUP = " + std::to_string(run.settings.DSSETUP));
    ui.ShowOutputSize(" " + std::to_string(run.geometry.outW) + "x" + std::to_string(run.geometry.outH));
    stream.SetSoundMuted(true);
    callback.StartClock();
    log.WriteLogLine("Begin Convert Process");
}

// Watches the frames of the run until the movie completes (or a part's last
// slot is filled), a frame fails, a stop is requested or no new frame came
// for the stall limit; true when it completed. Every blink interval the
// recording light changes and the frame counter and bar show the progress.
// While `sinkBusy` reads 1 the frames wait for their taker: no stall then.
bool WatchFrames(Run& run, FrameCallback& callback, const std::atomic<int32_t>* sinkBusy) {
    using Clock = std::chrono::steady_clock;
    const ConversionTimings& t = run.options.timings;
    RunState& state = run.app.run;
    VideoStream& stream = run.movie.Stream();
    const int32_t frameCount = run.info.frameCount;
    int32_t lastSeen = 0;
    bool dimmed = false;
    Clock::time_point lastProgress = Clock::now();
    Clock::time_point nextBlink = lastProgress + t.blink;
    for (;;) {
        const uint64_t seen = state.events.Count();
        if (state.stopRequested.load() || callback.Failed()) return false;
        if (stream.TakeMovieEnd() || callback.WindowDone()) return true;
        const Clock::time_point now = Clock::now();
        const int32_t shownFrame = callback.frameNo.load();
        if (shownFrame != lastSeen || (sinkBusy != nullptr && sinkBusy->load() == 1)) {
            lastSeen = shownFrame;
            lastProgress = now;
        } else if (now - lastProgress >= t.stallLimit) {
            return false;
        }
        if (now >= nextBlink) {
            dimmed = !dimmed;
            run.ui.SetRecording(dimmed ? RecordingLook::kDimmed : RecordingLook::kLit);
            run.ui.SetCurrentFrame(shownFrame);
            run.ui.ShowMoviePosition(ConversionPosition(shownFrame, frameCount));
            nextBlink = now + t.blink;
        }
        // A stop set by a signal handler cannot wake: it is seen at the next blink.
        state.events.WaitAfter(seen, std::min(nextBlink, lastProgress + t.stallLimit) - now);
    }
}

// The frame phase: every frame through the callback into a still while the
// sound is extracted beside it; ends when the movie completes, stalls, a
// still fails or a stop is requested.
// `onLoopEnd` (optional) is told whether the movie completed, before the
// stream is paused. While `sinkBusy` (optional) reads 1 the frames wait for
// their taker (an encoder's full pipe), not for the decoder: no stall then.
void ConvertFrames(Run& run, FrameCallback& callback, bool extractSound,
                   const std::function<void(bool completed)>& onLoopEnd = {},
                   const std::atomic<int32_t>* sinkBusy = nullptr) {
    FisheyeApp& app = run.app;
    UserInterface& ui = run.ui;
    RunLog& log = app.env.log;
    VideoStream& stream = run.movie.Stream();
    const MediaInfo& info = run.info;

    // The sound is extracted beside the frame conversion and awaited before
    // the first encoding; a stop request ends it too.
    AudioExtractionResult audio;
    std::thread audioThread;
    if (extractSound) audioThread = StartSoundExtraction(run, audio);

    AnnounceFramePhase(run, callback);

    callback.frameNo = 0;
    const double rate = KeepRate(run);
    PlaceFrameSlots(run, callback, rate);
    // A frame or the end of the movie wakes the watch below.
    stream.SetFrameCallback([&callback, &app](double time, const uint8_t* data, int32_t size) {
        callback.OnFrame(time, data, size);
        app.run.events.Wake();
    });
    stream.SetMovieEndListener([&app] { app.run.events.Wake(); });
    stream.Play();
    const bool completed = WatchFrames(run, callback, sinkBusy);
    stream.SetMovieEndListener({});
    if (onLoopEnd) onLoopEnd(completed);
    // No frame may arrive once the stills are counted.
    stream.Hold();
    stream.SetFrameCallback({});
    if (run.options.partCount > 0) LogPartReach(run, callback, rate);
    const DecodeReach reach = ReachOfRun(callback, info.declaredFrames, info.declaredExactly, run.options.partCount > 0);
    run.result.decodedFrames = reach.decoded;
    run.result.declaredFrames = reach.declared;
    run.result.declaredExactly = reach.exactly;
    const std::string shortDecode = run.result.ShortDecodeText();
    // A damaged movie that ends early is not stretched over its length.
    if (completed && shortDecode.empty()) callback.FillTo(info.durationSeconds);
    callback.Flush();
    if (audioThread.joinable()) audioThread.join();
    run.result.frames = callback.frameNo.load();
    if (!shortDecode.empty() && !app.run.stopRequested.load()) {
        log.WriteLogLine("The movie decoded short: " + shortDecode);
    }
    run.result.hadSound = extractSound ? audio.wavWritten : run.sourceHasSound && run.options.partCount == 0;
    ui.SetCurrentFrame(run.result.frames);

    SettleFramePhase(run, callback, audio, extractSound);
}

// The run's outputs go into place together, or none does.
void PlaceTogether(FisheyeApp& app, UserInterface& ui, ConversionResult& result) {
    PlaceExportedMovies(app, ui, result.exports);
    for (const ExportResult& e : result.exports) {
        // A good movie not placed because a stop came first.
        if (e.verified && !e.written && e.stopped && result.status == ConversionStatus::kDone) {
            result.status = ConversionStatus::kStopped;
            result.error = "the conversion was stopped";
        }
    }
}

// One encoding of the kept stills into `path`, placed at once unless the
// run's outputs go into place together; a stop ends the run.
void ExportOne(FisheyeApp& app, UserInterface& ui, ConversionResult& result, const std::string& path) {
    RunLog& log = app.env.log;
    log.WriteLogLine("ConvertRectExport Begin");
    ExportResult exported = ShowExportProgress(app, ui, JobFor(app, ui, result, path));
    if (!result.stills.placeTogether) PlaceExportedMovie(app, ui, exported);
    log.WriteLogLine("ConvertRectExport End");
    result.exports.push_back(exported);
    if (exported.stopped || app.run.stopRequested.load()) {
        result.status = ConversionStatus::kStopped;
        result.error = "the conversion was stopped";
    }
}

// Encodes the stills into each output in turn, until a stop.
void ExportEach(Run& run, const std::vector<std::string>& outputs) {
    for (const std::string& path : outputs) {
        ExportOne(run.app, run.ui, run.result, path);
        if (run.result.status == ConversionStatus::kStopped) break;
    }
    if (run.result.stills.placeTogether) PlaceTogether(run.app, run.ui, run.result);
}

// The run's temporary files go (the stills stay after a good run when asked
// to), the stream loop ends and the flags return to rest.
void CleanUp(FisheyeApp& app, UserInterface& ui, const ConversionResult& result, bool keepStills,
             const std::function<void()>& releaseOutput) {
    ClearVideoInfo(ui);
    if (result.stills.folder.empty()) {
        // A streaming run or one refused before its frames: no still.
    } else if (keepStills && result.AllWritten()) {
        // The stills of a good run stay for the user's own tools; only the
        // sound goes.
        std::error_code ec;
        fs::remove(TempWavPath(result.stills.folder), ec);
    } else if (!result.stills.folder.empty()) {
        StillWriter(result.stills.folder, &app.env.log).DeleteTemporaryFiles();
    }
    app.run.streamState = StreamState::Stopped;  // ends the stream loop: the movie closes after a run
    app.run.stopRequested = false;
    app.run.converting = false;
    app.run.events.Wake();  // the stream loop waits for the run's end
    if (releaseOutput) releaseOutput();
    app.run.progress.Set(ProgressTexts{});
    app.env.log.WriteLogLine("Convert Movie End " + TimeOfDayText());
}

// A run left open stays so while the user may go on with it (a movie
// without its lost sound, another export); a stopped or failed one ends
// here, before it returns, so its stills never outlive a program that ends
// meanwhile.
void EndUnlessOpen(FisheyeApp& app, UserInterface& ui, ConversionResult& result, const ConversionOptions& options,
                   const std::function<void()>& releaseOutput = {}) {
    result.leftOpen = options.leaveOpen && (result.status == ConversionStatus::kSoundFailed ||
                                            result.status == ConversionStatus::kDone);
    if (!result.leftOpen) EndConversion(app, ui, result, options, releaseOutput);
}

// What the frames' side of an encoder's pipe shows its stall watch: 1 while
// a write waits for the encoder (and once the pipe is closed), and the bytes
// the encoder has taken.
struct PipeProgress {
    std::atomic<int32_t> writing{0};
    std::atomic<int64_t> taken{0};
};

// Writes a bottom-up frame into the encoder's pipe as top-down rows.
StillResult WriteFrameToPipe(int fd, const uint8_t* bgrx, int32_t width, int32_t height,
                             PipeProgress& progress) {
    struct Writing {
        PipeProgress& p;
        explicit Writing(PipeProgress& progress) : p(progress) { p.writing = 1; }
        ~Writing() { p.writing = 0; }
    } writing(progress);
    const size_t row = static_cast<size_t>(width) * 4;
    std::vector<iovec> rows;
    rows.reserve(std::min<int32_t>(height, IOV_MAX));
    for (int32_t y = height - 1; y >= 0;) {
        rows.clear();
        for (; y >= 0 && rows.size() < IOV_MAX; --y) {
            rows.push_back({const_cast<uint8_t*>(bgrx) + static_cast<size_t>(y) * row, row});
        }
        size_t first = 0;
        while (first < rows.size()) {
            const ssize_t n = ::writev(fd, rows.data() + first, static_cast<int>(rows.size() - first));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                StillResult failed;
                failed.ok = false;
                failed.message = std::string("the encoder stopped taking frames (") +
                                 std::strerror(n < 0 ? errno : EIO) + ")";
                return failed;
            }
            progress.taken += n;
            // Skip what was written, keeping a partly written row's rest.
            size_t done = static_cast<size_t>(n);
            while (first < rows.size() && done >= rows[first].iov_len) done -= rows[first++].iov_len;
            if (first < rows.size()) {
                rows[first].iov_base = static_cast<uint8_t*>(rows[first].iov_base) + done;
                rows[first].iov_len -= done;
            }
        }
    }
    return {};
}

StreamJob StreamJobFor(const Run& run, const std::vector<std::string>& outputs) {
    StreamJob job;
    job.encoderProgram = FindEncoderProgram(run.app.env.programDir);
    job.sourcePath = run.videoPath;
    job.sound = run.sourceHasSound;
    // The encoder takes the first sound track ("-map 1:a:0").
    job.monoSound = job.sound && ReadSoundChannels(run.videoPath).first == 1;
    job.width = run.geometry.outW;
    job.height = run.geometry.outH;
    if (run.rateNum > 0 && run.rateDen > 0) {
        job.rateNum = run.rateNum;
        job.rateDen = run.rateDen;
    } else if (run.info.timePerFrame.count() > 0) {
        job.rateNum = 10000000;
        job.rateDen = static_cast<int32_t>(std::min<int64_t>(run.info.timePerFrame.count(), INT32_MAX));
    }
    job.durationSeconds = run.info.durationSeconds;
    job.quality = run.ui.CompressionLevel();
    job.resizeIndex = run.app.run.resizeChoice.load();
    job.outputs = outputs;
    if (run.options.partCount > 0) {
        // A part has no sound and no length limit: its frames are its span.
        job.sound = false;
        job.durationSeconds = 0;
        PartTag tag;
        tag.index = run.options.partIndex;
        tag.count = run.options.partCount;
        tag.slots = SlotsForDuration(run.info.durationSeconds, KeepRate(run));
        const SlotWindow window = PartWindow(tag.slots, tag.index, tag.count);
        tag.first = window.first;
        tag.end = std::min(window.end, tag.slots);
        std::error_code ec;
        const auto bytes = fs::file_size(run.videoPath, ec);
        tag.sourceBytes = ec ? 0 : static_cast<int64_t>(bytes);
        tag.rateNum = job.rateNum;
        tag.rateDen = job.rateDen;
        tag.settings = run.options.partSettings;
        job.partTag = PartTagText(tag);
    }
    return job;
}

// After the encoder has ended: one result per output, each movie read back
// and checked under its temporary name, then marked and renamed into place;
// a failed one loses its temporary file alone.
void FinishStreamOutputs(Run& run, const StreamJob& job, const ChildOutcome& outcome,
                         const std::string& encoderError, std::vector<PendingFile>& pending) {
    for (size_t i = 0; i < job.outputs.size(); ++i) {
        ExportResult e;
        e.outputPath = job.outputs[i];
        e.videoExt = OutputExtension(e.outputPath);
        e.started = outcome.status != kCannotStart;
        e.exitStatus = outcome.status;
        e.stopped = outcome.stopped;
        if (i < pending.size()) e.pending = pending[i];
        std::string problem;
        if (run.result.status != ConversionStatus::kDone) {
            problem = run.result.error;
        } else if (!encoderError.empty()) {
            problem = encoderError;
        } else {
            OutputExpectation want;
            want.width = ResizedDimension(job.width, job.resizeIndex);
            want.height = ResizedDimension(job.height, job.resizeIndex);
            want.frames = run.result.frames;
            want.frameRate = static_cast<double>(job.rateNum) / job.rateDen;
            // MPEG-2 video is written at the standard rate the command chose
            // for it (frames repeated); every other row keeps the source's.
            if (IsMpegExtension(e.videoExt)) {
                want.outputRate = ChooseMpegRate(want.frameRate).value;
                if (want.outputRate == want.frameRate) want.outputRate = 0;
            }
            want.sound = job.sound;
            Status checked = VerifyOutputMovie(e.pending.tempPath, want);
            if (!checked.ok()) problem = "the encoded movie is not right: " + checked.reason();
            if (checked.ok() && !job.partTag.empty()) checked = SealPartFile(e.pending, job.partTag);
            if (problem.empty() && !checked.ok()) problem = checked.reason();
        }
        e.verified = problem.empty();
        if (!e.verified) {
            e.error = "cannot write " + e.outputPath + ": " + problem;
            run.app.env.log.WriteLogLine("FFMPEG failed: " + e.error);
        }
        run.result.exports.push_back(e);
    }
    pending.clear();
    PlaceTogether(run.app, run.ui, run.result);
}

// A hidden file beside each output, its name among the job's write paths;
// the first file that cannot be made ends the list with its reason.
std::string HideOutputs(const std::vector<std::string>& outputs, std::vector<PendingFile>& pending,
                        StreamJob& hidden) {
    std::string pendingError;
    for (const std::string& output : outputs) {
        Result<PendingFile> file = CreatePendingFile(output);
        if (!file.ok()) {
            pendingError = file.reason();
            break;
        }
        pending.push_back(file.value());
        hidden.writePaths.push_back(file->tempPath);
    }
    return pendingError;
}

// What the encoder's end says about the run, from its outcome and its report
// (removed after reading): empty when the encoder did its part. A stop sets
// the run's status; an encoder failure replaces a broken pipe's.
std::string EncoderErrorOfRun(Run& run, const ChildOutcome& outcome, bool stalled, const std::string& reportPath,
                              const std::vector<std::string>& outputs, const std::vector<PendingFile>& pending) {
    FisheyeApp& app = run.app;
    RunLog& log = app.env.log;
    const std::deque<std::string> errors = LastReportLines(reportPath);
    std::string diskLine;
    const int diskError = DiskErrorInReport(reportPath, &diskLine);
    std::error_code ec;
    fs::remove(reportPath, ec);
    std::string encoderError;
    if (app.run.stopRequested.load()) {
        run.result.status = ConversionStatus::kStopped;
        run.result.error = "the conversion was stopped";
    } else if (outcome.stalled || (outcome.status != 0 && !(stalled && outcome.stopped))) {
        // (A stalled movie's encoder was ended on purpose; its files are
        // checked below like any others.)
        encoderError = EncoderFailure(outcome, errors, outputs.front());
        // The frames' own failure (a broken pipe) follows from this one.
        if (run.result.status == ConversionStatus::kStillsFailed) run.result.status = ConversionStatus::kDone;
        for (const std::string& line : errors) log.WriteLogLine("FFMPEG error: " + line);
    }
    // A write that failed for want of room is the reason, whatever followed
    // (ffmpeg may even end with status 0 after it).
    if (diskError != 0 && !outcome.stopped && run.result.status == ConversionStatus::kDone) {
        // The output whose file the failed write names, else the first.
        std::string full = outputs.front();
        for (size_t i = 0; i < pending.size(); ++i) {
            if (diskLine.find(pending[i].tempPath) != std::string::npos) full = outputs[i];
        }
        encoderError = DiskFullReason(diskError, full);
    }
    return encoderError;
}

// How the streaming encoder is run: its report file, the stop request, and
// a stall counted only while frames wait for it (and after the last one): an
// encoder waiting for a slow decoder is not stuck; the hidden files it
// writes growing are signs of life.
RunOptions EncoderRunOptions(Run& run, const std::vector<std::string>& written, PipeProgress& pipeProgress) {
    RunOptions runOptions;
    runOptions.stderrPath = run.settings.APATH + "/encoder_report.txt";
    runOptions.stop = &run.app.run.stopRequested;
    runOptions.stallLimitMs = run.options.encoderStallMs;
    runOptions.progressFiles = written;
    runOptions.progressCount = &pipeProgress.taken;
    runOptions.awaited = &pipeProgress.writing;
    return runOptions;
}

// The streaming run: one encoder takes the frames through a pipe as they are
// converted and the sound from the movie itself, into every output at once.
void StreamFrames(Run& run, const std::vector<std::string>& outputs) {
    FisheyeApp& app = run.app;
    RunLog& log = app.env.log;
    const StreamJob job = StreamJobFor(run, outputs);
    const EncoderCommand command = BuildStreamCommand(job);
    log.WriteLogLine("ConvertRectFFMPEG aVideoEXT " + command.videoExt);
    // Every output is written under a hidden name beside it.
    std::vector<PendingFile> pending;
    StreamJob hidden = job;
    const std::string pendingError = HideOutputs(outputs, pending, hidden);
    const EncoderCommand running = pendingError.empty() ? BuildStreamCommand(hidden) : command;
    log.WriteLogLine("FFMPEG : " + running.text);
    if (!pendingError.empty()) {
        run.result.status = ConversionStatus::kStillsFailed;
        run.result.error = "cannot write " + outputs[pending.size()] + ": " + pendingError;
        for (PendingFile& file : pending) DiscardPendingFile(file);
        FinishStreamOutputs(run, job, ChildOutcome{}, run.result.error, pending);
        return;
    }

    PipeProgress pipeProgress;
    const RunOptions runOptions = EncoderRunOptions(run, hidden.writePaths, pipeProgress);
    RunningChild encoder = StartChildWithInput(running.argv, runOptions);
    if (encoder.pid < 0) {
        run.result.status = ConversionStatus::kStillsFailed;
        run.result.error = EncoderMissing(job.encoderProgram, app.env.programDir);
        FinishStreamOutputs(run, job, ChildOutcome{}, run.result.error, pending);
        return;
    }
    // The encoder is awaited beside the frames: a stop request ends it at
    // once, and its end (stopped or died) fails a write blocked on its pipe.
    const int pipe = encoder.input;
    std::atomic<bool> endEncoder{false};
    RunOptions waitOptions = runOptions;
    waitOptions.stop = &endEncoder;
    // A stop request at any moment, also after the last frame, ends it too.
    waitOptions.alsoStop = &app.run.stopRequested;
    ChildOutcome outcome;
    std::thread waiter;
    bool stalled = false;
    // No thread or memory to be had: the encoder ends and its waiter with it
    // before the failure goes on.
    try {
        waiter = std::thread([&] { outcome = WaitForChildExit(encoder, waitOptions); });
        {
            FrameCallback callback(
                app.run,
                [pipe, &pipeProgress](int32_t, const uint8_t* bgrx, int32_t width, int32_t height) {
                    return WriteFrameToPipe(pipe, bgrx, width, height, pipeProgress);
                },
                run.hooks.convertFrame, run.info.frameCount, 1);
            // Anything but the movie's end (a stop, a stall, a broken pipe) ends
            // the encoder: SIGTERM lets it finish the files with the frames it
            // has, SIGKILL follows when it hangs, and a write blocked on its pipe
            // then fails instead of waiting for ever.
            ConvertFrames(run, callback, false, [&](bool completed) {
                stalled = !completed && !app.run.stopRequested.load() && !callback.Failed();
                if (!completed) endEncoder = true;
            }, &pipeProgress.writing);
        }
    } catch (...) {
        endEncoder = true;
        ::close(pipe);
        if (waiter.joinable()) {
            waiter.join();
        } else {
            WaitForChildExit(encoder, waitOptions);
        }
        throw;
    }
    // The end of the pipe is the end of the movie for the encoder, which now
    // has everything: from here on only it can be late.
    ::close(pipe);
    pipeProgress.writing = 1;
    waiter.join();
    const std::string encoderError =
        EncoderErrorOfRun(run, outcome, stalled, runOptions.stderrPath, outputs, pending);
    FinishStreamOutputs(run, job, outcome, encoderError, pending);
    log.WriteLogLine("ConvertRectExport End");
}

}  // namespace

ConversionHooks PipelineHooks(FramePipeline& pipeline, FisheyeApp& app, PaintFn paint,
                              SettingsReader readSettings) {
    ConversionHooks hooks;
    hooks.previewBusy = [&pipeline] { return pipeline.PreviewBusy().load(); };
    hooks.buildGeometry = [&pipeline](const AppSettings& settings, const LogFn& log) {
        return pipeline.BuildGeometry(CutOf(settings), settings.lens, log);
    };
    if (!readSettings) {
        readSettings = [fixed = TransformSettingsOf(app.settings.Copy())] { return fixed; };
    }
    FrameCallbacks callbacks;
    callbacks.paintPreviews = std::move(paint);
    callbacks.sleep = [](int milliseconds) { CpuUsagePause(milliseconds); };
    hooks.convertFrame = [&pipeline, &app, readSettings, callbacks](
                             double, const uint8_t* data, int32_t size) -> const FrameBuffer* {
        // The cut is locked during a run and the geometry was built from it;
        // filters, flip and aspect are read afresh for every frame.
        const TransformStatus status = pipeline.ConvertFrame(
            data, static_cast<size_t>(size), readSettings(), FrameSwitchesOf(app.run), callbacks);
        if (status == TransformStatus::kOk) return &pipeline.Output();
        app.env.log.WriteLogLine("Frame refused (" + std::to_string(size) + " bytes): " +
                             StatusText(status));
        return nullptr;
    };
    return hooks;
}

int StillWriterThreads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(cores == 0 ? 1u : cores, 1u, 8u));
}

std::string ConversionResult::ShortDecodeText() const {
    if (!DecodedShort(decodedFrames, declaredFrames, declaredExactly)) return {};
    return "converted " + std::to_string(decodedFrames) + " of the " + std::to_string(declaredFrames) +
           " frames the file declares";
}

bool ConversionResult::AllWritten() const {
    if (status != ConversionStatus::kDone || exports.empty()) return false;
    for (const ExportResult& e : exports) {
        if (!e.written) return false;
    }
    return true;
}

std::string TimeOfDayText() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

MoviePosition ConversionPosition(int32_t shownFrame, int32_t frameCount) {
    return frameCount > 0 ? MoviePosition{shownFrame, frameCount} : kMovieStart;
}

ConversionResult RunConversion(FisheyeApp& app, UserInterface& ui, OpenMovie& movie,
                               const ConversionHooks& hooks, const std::vector<std::string>& outputs,
                               const ConversionOptions& options) {
    const AppSettings settings = options.settings ? *options.settings : app.settings.Copy();
    Run run{app, ui, movie, hooks, options, settings, {}, {}, {}, {}, StillFormat::Bmp, false};
    // A run refused before its frames has nothing to end.
    if (!PrepareRun(run)) return run.result;
    run.result.stills = {run.settings.APATH, run.tempFormat, run.info.timePerFrame, run.info.durationSeconds,
                         options.encoderStallMs, options.placeTogether};
    {
        StillWriter writer(run.settings.APATH, &app.env.log);
        FrameCallback callback(app.run, writer, hooks.convertFrame, run.info.frameCount, options.writerThreads);
        ConvertFrames(run, callback, true);
    }
    if (run.result.status == ConversionStatus::kDone) ExportEach(run, outputs);
    EndUnlessOpen(app, ui, run.result, options, hooks.releaseOutput);
    return run.result;
}

void ExportKeptStills(FisheyeApp& app, UserInterface& ui, ConversionResult& result, const std::string& outputPath,
                      const ConversionOptions& options) {
    RunLog& log = app.env.log;
    if (result.status == ConversionStatus::kSoundFailed) {
        log.WriteLogLine("Exported without sound");
        result.soundLeftOut = result.error;
        result.error.clear();
        log.WriteLogLine("END Convert Process");
        result.status = ConversionStatus::kDone;
    }
    if (result.status == ConversionStatus::kDone && !result.stills.folder.empty()) {
        ExportOne(app, ui, result, outputPath);
        if (result.stills.placeTogether) PlaceTogether(app, ui, result);
    }
    EndUnlessOpen(app, ui, result, options);
}

void EndConversion(FisheyeApp& app, UserInterface& ui, ConversionResult& result, const ConversionOptions& options,
                   const std::function<void()>& releaseOutput) {
    result.leftOpen = false;
    CleanUp(app, ui, result, options.keepStills, releaseOutput);
    if (options.shutdownAtEnd) Shutdown(app);
}

ConversionResult RunStreamingConversion(FisheyeApp& app, UserInterface& ui, OpenMovie& movie,
                                        const ConversionHooks& hooks,
                                        const std::vector<std::string>& outputs,
                                        const ConversionOptions& options) {
    const AppSettings settings = options.settings ? *options.settings : app.settings.Copy();
    Run run{app, ui, movie, hooks, options, settings, {}, {}, {}, {}, StillFormat::Bmp, false};
    if (!PrepareRun(run)) return run.result;
    StreamFrames(run, outputs);
    EndConversion(app, ui, run.result, options, hooks.releaseOutput);
    return run.result;
}

}  // namespace tessaly
