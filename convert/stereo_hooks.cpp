#include "convert/stereo_hooks.h"

#include <chrono>
#include <string>
#include <thread>

#include "convert/transform_adapters.h"

namespace tessaly {

TransformStatus StereoPipelines::Allocate(int frameW, int frameH, const StereoSettings& stereo) {
    frameW_ = frameW;
    frameH_ = frameH;
    for (int eye = 0; eye < 2; ++eye) {
        const FrameRegion& window = stereo.windows[eye];
        const TransformStatus status = eyes_[eye].Allocate(window.w, window.h);
        if (status != TransformStatus::kOk) return status;
        eyes_[eye].ForceGeometryRebuild();
        eyes_[eye].PlaceOutput(PixelRect{});
    }
    return TransformStatus::kOk;
}

namespace {

// The pause of the "CPU usage" control between the steps of a frame (10 ms
// for every percent below 100): the control is there to slow the run down.
void CpuUsagePause(int milliseconds) {
    if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

const char* EyeName(int eye) { return eye == kLeftEye ? "left eye" : "right eye"; }

GeometryResult BuildBothEyes(StereoPipelines& pipelines, const StereoSettings& stereo, const AppSettings& settings,
                             const LogFn& log) {
    GeometryResult eyes[2];
    for (int eye = 0; eye < 2; ++eye) {
        if (log) log(std::string("Stereo ") + EyeName(eye));
        if (eye == kRightEye) pipelines.Eye(eye).ShareTableOf(pipelines.Eye(kLeftEye));
        eyes[eye] = pipelines.Eye(eye).BuildGeometry(stereo.cuts[eye], EyeLens(settings.lens, stereo.angles[eye]),
                                                     stereo.shifts[eye], log);
        if (!eyes[eye].Ok()) return eyes[eye];
    }
    GeometryResult joined = eyes[0];
    if (eyes[0].geometry.outW != eyes[1].geometry.outW || eyes[0].geometry.outH != eyes[1].geometry.outH) {
        joined.status = TransformStatus::kEyesDiffer;
        return joined;
    }
    JoinedSize(stereo.output, eyes[0].geometry.outW, eyes[0].geometry.outH, joined.geometry.outW,
               joined.geometry.outH);
    // Zero-filled with each build, as an eye's own output frame would be.
    pipelines.Joined().Allocate(joined.geometry.outW, joined.geometry.outH);
    for (int eye = 0; eye < 2; ++eye) {
        pipelines.Eye(eye).PlaceOutput(EyePart(stereo.output, pipelines.Joined(), eye));
    }
    return joined;
}

}  // namespace

ConversionHooks StereoHooks(StereoPipelines& pipelines, FisheyeApp& app, const StereoSettings& stereo,
                            RightEyeFeed* rightEye, double framesPerSecond) {
    ConversionHooks hooks;
    hooks.previewBusy = [] { return 0; };
    hooks.buildGeometry = [&pipelines, stereo](const AppSettings& settings, const LogFn& log) {
        return BuildBothEyes(pipelines, stereo, settings, log);
    };
    const TransformSettings shared = TransformSettingsOf(app.settings.Copy());
    FrameCallbacks callbacks;
    callbacks.sleep = [](int milliseconds) { CpuUsagePause(milliseconds); };
    hooks.convertFrame = [&pipelines, &app, stereo, shared, callbacks, rightEye, framesPerSecond](
                             double time, const uint8_t* data, int32_t size) -> const FrameBuffer* {
        if (size != static_cast<int64_t>(pipelines.FrameWidth()) * pipelines.FrameHeight() * 4) {
            app.env.log.WriteLogLine("Frame refused (" + std::to_string(size) + " bytes): " +
                                     StatusText(TransformStatus::kBadSampleSize));
            return nullptr;
        }
        const uint8_t* sources[2] = {data, rightEye ? rightEye->FrameFor(time, framesPerSecond) : data};
        if (sources[kRightEye] == nullptr) {
            app.env.log.WriteLogLine("Frame refused: the right movie has ended");
            return nullptr;
        }
        for (int eye = 0; eye < 2; ++eye) {
            TransformSettings s = shared;
            s.cut = stereo.cuts[eye];
            s.lens = EyeLens(shared.lens, stereo.angles[eye]);
            const TransformStatus status =
                pipelines.Eye(eye).ConvertWindow(sources[eye], pipelines.FrameWidth(), pipelines.FrameHeight(),
                                                 stereo.windows[eye], s, FrameSwitchesOf(app.run), callbacks);
            if (status != TransformStatus::kOk) {
                app.env.log.WriteLogLine("Frame refused (" + std::to_string(size) + " bytes, " + EyeName(eye) +
                                         "): " + StatusText(status));
                return nullptr;
            }
        }
        return &pipelines.Joined();
    };
    hooks.releaseOutput = [&pipelines] {
        for (int eye = 0; eye < 2; ++eye) pipelines.Eye(eye).PlaceOutput(PixelRect{});
        pipelines.Joined().Release();
    };
    return hooks;
}

}  // namespace tessaly
