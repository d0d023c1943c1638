#include "convert/conversion_driver.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <thread>

#include "app/format.h"
#include "app/startup.h"
#include "convert/frame_callback.h"
#include "convert/transform_adapters.h"
#include "output/still_writer.h"
#include "video/encoder_program.h"
#include "video/media_probe.h"
#include "video/stream_text.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

// Colours as 0x00BBGGRR.
constexpr uint32_t kRed = 0x000000FF;
constexpr uint32_t kWhite = 0x00FFFFFF;
constexpr uint32_t kGrey128 = 0x00808080;
constexpr uint32_t kDarkGrey51 = 0x00333333;

constexpr int32_t kBarMaxWidth = kPositionBarMax;

void Sleep(int milliseconds) {
    if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool FileExists(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::is_regular_file(path, ec);
}

EncoderJob JobFor(const FisheyeApp& app, UserInterface& ui, const MediaInfo& info,
                  const CutGeometry& geometry, int32_t tempFormat, const std::string& path) {
    EncoderJob job;
    job.encoderProgram = FindEncoderProgram(app.programDir);
    job.tempFolder = app.settings.APATH;
    job.outputPath = path;
    // The stills of this run were written in this format, whatever the
    // format switch says now.
    job.tempFormat = tempFormat;
    job.quality = ui.CompressionLevel();
    job.resizeIndex = app.resizeChoice.load();
    job.outW = geometry.outW;
    job.outH = geometry.outH;
    job.avgTimePerFrame = info.avgTimePerFrame;
    job.durationSeconds = info.durationSeconds;
    job.hasAudio = HasUsableWav(app.settings.APATH);
    return job;
}

}  // namespace

ConversionHooks PipelineHooks(FramePipeline& pipeline, FisheyeApp& app, PaintFn paint) {
    ConversionHooks hooks;
    hooks.previewBusy = [&pipeline] { return pipeline.PreviewBusy().load(); };
    hooks.buildGeometry = [&pipeline](const AppSettings& settings, const LogFn& log) {
        return pipeline.BuildGeometry(CutOf(settings), log);
    };
    const TransformSettings settings = TransformSettingsOf(app.settings);
    const FrameSwitches switches = FrameSwitchesOf(app);
    FrameCallbacks callbacks;
    callbacks.paintPreviews = std::move(paint);
    callbacks.sleep = [](int milliseconds) { Sleep(milliseconds); };
    hooks.convertFrame = [&pipeline, &app, settings, switches, callbacks](
                             const uint8_t* data, int32_t size) -> const FrameBuffer* {
        const TransformStatus status = pipeline.ConvertFrame(
            data, static_cast<size_t>(size), settings, switches, callbacks);
        if (status == TransformStatus::kOk) return &pipeline.Output();
        app.log.WriteLogLine("Frame refused (" + std::to_string(size) + " bytes): " +
                             StatusText(status));
        return nullptr;
    };
    return hooks;
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

int32_t ConversionBarWidth(int32_t shownFrame, int32_t frameCount) {
    if (frameCount <= 0) return 0;
    double width = RoundHalfEven(static_cast<double>(kBarMaxWidth) * shownFrame / frameCount);
    return width > kBarMaxWidth ? kBarMaxWidth : static_cast<int32_t>(width);
}

ConversionResult RunConversion(FisheyeApp& app, UserInterface& ui, VideoSource& source,
                               const ConversionHooks& hooks, const std::string& outputPath,
                               const ConversionOptions& options) {
    const ConversionTimings& t = options.timings;
    RunLog& log = app.log;
    ConversionResult result;

    app.converting = 1;
    int32_t shownFrame = 0;
    app.progress = ProgressTexts{};

    // Let a running preview pass finish: the transform never runs twice at once.
    for (int turn = 0; turn < 1000 && hooks.previewBusy && hooks.previewBusy() == 1; ++turn) {
        ui.YieldStep(t.previewTurn);
    }
    Sleep(t.afterPreview);

    log.WriteLogLine("Convert Movie Begin " + TimeOfDayText());
    log.WriteLogLine("Output Folder Free Space 1:");

    const std::string videoPath = source.VideoPath();
    if (!FileExists(videoPath)) {
        ui.ShowMessage("Error Monitoring", "Video file not found!", MessageIcon::Error, true);
        app.converting = 0;
        result.status = ConversionStatus::kVideoMissing;
        result.error = "video file not found: " + videoPath;
        return result;
    }
    VideoStream& stream = source.Stream();
    if (source.videoOpen.load() != 1 || !stream.IsOpen()) {
        app.converting = 0;
        result.status = ConversionStatus::kNoStream;
        result.error = "no movie is open";
        return result;
    }
    source.positionTicks = 0;
    ui.SetPositionBar(0);
    stream.Pause();
    Sleep(t.afterPause);

    log.WriteLogLine("Set Stream to 0 position");
    Sleep(t.afterRewind);

    const MediaInfo info = source.Info();
    ui.SetLabel(control::kFrameSizeLabel,
                std::to_string(info.frameWidth) + "x" + std::to_string(info.frameHeight));
    ui.SetLabel(control::kFrameRateLabel,
                FormatMask(FrameRateOf(info.avgTimePerFrame), "00.00") + " fps");
    ui.SetLabel(control::kFrameCountLabel, std::to_string(info.frameCount));
    ui.SetLabel(control::kDurationLabel, FormatDuration(info.durationSeconds));
    log.WriteLogLine("Set MovieDuration");

    // The geometry of the run, always from all four cut values.
    const GeometryResult built =
        hooks.buildGeometry(app.settings, [&log](const std::string& line) { log.WriteLogLine(line); });
    if (!built.Ok()) {
        ui.ShowMessage("Error", built.Message(), MessageIcon::Error, true);
        app.converting = 0;
        result.status = ConversionStatus::kBadCut;
        result.error = built.Message();
        return result;
    }
    const CutGeometry& geometry = built.geometry;
    result.outW = geometry.outW;
    result.outH = geometry.outH;

    const int32_t tempFormat = app.tempFormat.load();
    StillWriter writer(app.settings.APATH, &log);
    FrameCallback callback(app, writer, hooks.convertFrame, info.frameCount, options.writerThreads);

    // The sound is extracted beside the frame conversion and awaited before
    // the first encoding.
    AudioExtractionResult audio;
    std::thread audioThread([&app, &audio, videoPath] {
        audio = ExtractAudioTrack(app.programDir, videoPath, app.settings.APATH);
    });

    ui.ClearOutputPreview(kDarkGrey51);
    ui.SetStatusLabel("     RECORD", kRed, kGrey128);
    log.WriteLogLine("OS_DIRECT_ACCESS = " + std::to_string(source.videoOpen.load()));
    log.WriteLogLine("OS_HRDWARE_SUPPORT = " + std::to_string(info.canStep));
    log.WriteLogLine("OS_DSS_SETUP = " + std::to_string(app.settings.DSSETUP));
    ui.SetLabel(control::kOutputSizeLabel,
                " " + std::to_string(geometry.outW) + "x" + std::to_string(geometry.outH));
    stream.SetVolume(kVolumeSilence);
    callback.StartClock();
    log.WriteLogLine("Begin Convert Process");

    callback.frameNo = 0;
    stream.SetFrameCallback([&callback](double time, const uint8_t* data, int32_t size) {
        callback.BufferCB(time, data, size);
    });
    stream.Run();

    // Watch the frame counter until the movie completes or stops delivering.
    int32_t blinkState = 0, blinkCounter = 0, lastSeen = 0, stallCounter = 0;
    while (app.stopRequested.load() != 1) {
        ui.YieldStep(t.monitorTurn);
        shownFrame = callback.frameNo.load();
        if (++blinkCounter > t.blinkTurns) {
            blinkState ^= 1;
            if (blinkState == 0) {
                ui.SetStatusLabel("     RECORD", kRed, kWhite);
            } else {
                ui.SetStatusLabel("     RECORD", kGrey128, kRed);
            }
            ui.SetCurrentFrame(shownFrame);
            blinkCounter = 0;
            ui.SetPositionBar(ConversionBarWidth(shownFrame, info.frameCount));
            if (shownFrame != lastSeen) {
                lastSeen = shownFrame;
                stallCounter = 0;
            } else {
                ++stallCounter;
            }
        }
        int32_t event = 0;
        const bool gotEvent = stream.GetEvent(event);
        if ((gotEvent && event == kEventComplete) || stallCounter > t.stallChecks) break;
        if (callback.Failed()) break;
        ui.YieldStep(t.monitorTurn);
    }
    // No frame may arrive once the stills are counted.
    stream.Pause();
    stream.SetFrameCallback({});
    callback.Flush();
    audioThread.join();
    result.frames = callback.frameNo.load();
    result.hadSound = audio.wavWritten;
    ui.SetCurrentFrame(result.frames);

    if (app.stopRequested.load() == 1) {
        result.status = ConversionStatus::kStopped;
        result.error = "the conversion was stopped";
    } else if (callback.Failed()) {
        result.status = ConversionStatus::kStillsFailed;
        result.error = callback.FailureMessage();
        ui.ShowMessage("Error", result.error, MessageIcon::Error, true);
    } else {
        log.WriteLogLine("END Convert Process");
        result.status = ConversionStatus::kDone;
        std::string path = outputPath;
        while (true) {
            log.WriteLogLine("ConvertRectExport Begin");
            const EncoderJob job = JobFor(app, ui, info, geometry, tempFormat, path);
            ExportResult exported = ShowExportProgress(app, ui, job);
            log.WriteLogLine("ConvertRectExport End");
            result.exports.push_back(exported);

            const std::string again = "Do you want to save it with another compression value ?";
            bool ok = exported.written
                          ? ui.AskOkCancel("Successful termination",
                                           "Movie converted successfully.\n" + again,
                                           MessageIcon::Information)
                          : ui.AskOkCancel("Error", "The movie was not saved: " + exported.error +
                                                        "\n" + again,
                                           MessageIcon::Error);
            if (!ok || app.stopRequested.load() == 1) break;
            std::string next = TrimBlanks(ui.OutputOptionsDialog(path));
            if (next.empty()) break;
            path = next;
        }
    }

    // Cleanup.
    ClearVideoInfo(ui, app);
    if (options.keepStills && result.AllWritten()) {
        // The stills of a good run stay for the user's own tools; only the
        // sound goes.
        std::error_code ec;
        fs::remove(TempWavPath(app.settings.APATH), ec);
    } else {
        writer.DeleteTemporaryFiles();
    }
    app.streamState = 0;  // ends the stream loop: the movie closes after a run
    app.stopRequested = 0;
    app.converting = 0;
    if (hooks.releaseOutput) hooks.releaseOutput();
    ui.YieldStep(t.cleanupTurn);
    Sleep(t.cleanupTurn);
    app.progress = ProgressTexts{};
    log.WriteLogLine("Convert Movie End " + TimeOfDayText());

    if (options.shutdownAtEnd) {
        Shutdown(app);
        ui.CloseMainWindow();
    }
    return result;
}

}  // namespace tessaly
