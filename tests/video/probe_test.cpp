// Probe report parsing, the encoder runner, the probe and the sound
// extraction, checked with the real ffmpeg.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/video/test_clips.h"
#include "video/encoder_program.h"
#include "video/media_probe.h"
#include "video/probe_report.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;
using testing::FisheyeClip;
using testing::ReadFile;
using testing::TempFolder;


std::string ExeFolder() { return fs::read_symlink("/proc/self/exe").parent_path().string() + "/"; }

TEST(ProbeReportTest, ReadsTheOldAndTheCurrentStreamNumberingAndEdgeCases) {
    ProbeTexts old = InitialProbeTexts("/films/Clip One.MP4");
    AddProbeReport(old,
                   "Input #0, mov,mp4, from 'x':\r\n"
                   "    Stream #0.0(und): Video: h264 (High), yuv420p, 1920x1080, 29.97 fps\r\n"
                   "    Stream #0.1(eng): Audio: AAC, 44100 Hz, stereo\r\n");
    EXPECT_EQ(old.videoNameLine, " Video file: Clip One.MP4 ");
    EXPECT_EQ(old.videoStreamLine, " video: h264 (high), yuv420p, 1920x1080, 29.97 fps ");
    EXPECT_EQ(old.secondStreamLine, " audio: aac, 44100 hz, stereo ");
    EXPECT_EQ(old.fileInfoText,
              " Video file: Clip One.MP4\r\n"
              "\r\nvideo: h264 (high), yuv420p, 1920x1080, 29.97 fps"
              "\r\naudio: aac, 44100 hz, stereo");

    ProbeTexts current = InitialProbeTexts("/films/Clip One.MP4");
    AddProbeReport(current,
                   "  Stream #0:0(und): Video: h264 (High), yuv420p, 1920x1080, 29.97 fps\n"
                   "  Stream #0:1[0x1100]: Audio: AAC, 44100 Hz, stereo\n");
    EXPECT_EQ(current, old);

    // Edge cases of the stream lines.
    ProbeTexts t = InitialProbeTexts("clip.mp4");
    // "#0.10" compares as "#0.1" (eleven characters).
    AddProbeReportLine(t, "Stream #0.10: Subtitle: mov_text");
    EXPECT_EQ(t.secondStreamLine, " subtitle: mov_text ");
    // A stream listed twice: both appended, the second wins the line.
    AddProbeReportLine(t, "Stream #0.0: Video: first");
    AddProbeReportLine(t, "Stream #0.0: Video: second");
    EXPECT_EQ(t.videoStreamLine, " video: second ");
    // No ":" after the number: an empty description.
    AddProbeReportLine(t, "\tSTREAM #0.0 without colon  ");
    EXPECT_EQ(t.videoStreamLine, "  ");
    EXPECT_EQ(t.fileInfoText,
              " Video file: clip.mp4\r\n\r\nsubtitle: mov_text\r\nvideo: first\r\nvideo: second\r\n");
    const ProbeTexts before = t;
    for (const char* skipped : {"Stream #0.2: Data: bin_data", "Stream #1.0: Video: other input",
                                "Duration: 00:00:01.00, start: 0.000000", "stream #0"})
        AddProbeReportLine(t, skipped);
    EXPECT_EQ(t, before);
}

TEST(EncoderProgramTest, RunsAnArgumentVectorWithoutAShell) {
    const std::string dir = TempFolder("runner");
    const std::string out = dir + "/out.txt", err = dir + "/err.txt";
    const std::string tricky = "a b \"c\" $(touch " + dir + "/injected) ; `x` 'q'";
    EXPECT_EQ(RunEncoderProgram({"/usr/bin/printf", "%s|", tricky, "second"}, {out, err}), 0);
    EXPECT_EQ(ReadFile(out), tricky + "|second|");
    EXPECT_FALSE(fs::exists(dir + "/injected"));
    EXPECT_EQ(RunEncoderProgram({"/bin/sh", "-c", "echo oops >&2; exit 3"}, {out, err}), 3);
    EXPECT_EQ(ReadFile(err), "oops\n");
    EXPECT_EQ(ReadFile(out), "");  // truncated, not appended
    EXPECT_EQ(RunEncoderProgram({"/bin/sh", "-c", "kill -9 $$"}), 128 + 9);
    EXPECT_EQ(RunEncoderProgram({dir + "/no-such-program"}), kCannotStart);
    EXPECT_EQ(RunEncoderProgram({"/bin/true"}, {dir + "/missing/out.txt", {}}), kCannotStart);
    EXPECT_EQ(FindEncoderProgram(ExeFolder()), ExeFolder() + "PLUG-IN/ffmpeg_III");
    fs::remove_all(dir);
}

// A stop request (either flag) ends a child: SIGTERM first, SIGKILL for one
// that ignores it; the outcome says which signal ended it.
TEST(EncoderProgramTest, AStopRequestEndsTheChild) {
    struct Case {
        const char* script;
        int signal;
        bool secondFlag;  // raise alsoStop instead of stop
    };
    for (const Case& c : {Case{"sleep 30", SIGTERM, false}, Case{"sleep 30", SIGTERM, true},
                          Case{"trap '' TERM; while :; do sleep 0.05; done", SIGKILL, false}}) {
        SCOPED_TRACE(std::string(c.script) + (c.secondFlag ? " (alsoStop)" : ""));
        std::atomic<bool> stop{false};
        std::atomic<bool> alsoStop{false};
        std::thread raise([&stop, &alsoStop, &c] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            (c.secondFlag ? alsoStop : stop) = true;
        });
        const RunOptions options{
            .stdoutPath = {}, .stderrPath = {}, .stop = &stop, .graceMs = 200, .alsoStop = &alsoStop};
        const auto start = std::chrono::steady_clock::now();
        const ChildOutcome outcome = RunChild({"/bin/sh", "-c", c.script}, options);
        raise.join();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_TRUE(outcome.stopped);
        EXPECT_EQ(outcome.signal, c.signal);
        EXPECT_EQ(DescribeOutcome(outcome), "killed by signal " + std::to_string(c.signal));
    }
    EXPECT_EQ(DescribeOutcome(RunChild({"/bin/sh", "-c", "exit 4"})), "exit status 4");
}

// A child that shows no progress for the stall limit is ended (SIGKILL
// after the grace when it ignores SIGTERM); one that writes its report,
// grows a file or is waiting for this process is left alone, however slow.
TEST(EncoderProgramTest, AStalledChildIsEndedASlowOneIsNot) {
    const std::string dir = TempFolder("stall");
    struct Case {
        const char* name;
        std::string script;
        bool awaitedFlag;  // the child waits for this process: no stall counted
        bool stalled;
        int signal;
    };
    const std::string grows = dir + "/grows.bin";
    const Case cases[] = {
        {"report lines", "for i in 1 2 3 4 5 6 7 8 9 10; do echo line $i >&2; sleep 0.1; done", false, false, 0},
        {"growing output", "for i in 1 2 3 4 5 6 7 8 9 10; do echo x >> " + grows + "; sleep 0.1; done", false, false, 0},
        {"waiting for this process", "sleep 1", true, false, 0},
        {"silent", "echo started >&2; exec sleep 30", false, true, SIGTERM},
        {"silent, deaf to SIGTERM", "trap '' TERM; while :; do sleep 0.05; done", false, true, SIGKILL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<bool> stop{false};
        std::atomic<int32_t> awaited{c.awaitedFlag ? 0 : 1};
        const RunOptions options{.stdoutPath = {}, .stderrPath = dir + "/report.txt", .stop = &stop, .graceMs = 200,
                                 .stallLimitMs = 500, .progressFiles = {grows}, .awaited = &awaited};
        const ChildOutcome outcome = RunChild({"/bin/sh", "-c", c.script}, options);
        EXPECT_EQ(outcome.stalled, c.stalled);
        EXPECT_FALSE(outcome.stopped);
        EXPECT_EQ(outcome.signal, c.signal);
        if (c.stalled) {
            EXPECT_EQ(StallText(outcome), "the encoder made no progress for 1 s (no output, no progress line) and was ended");
        } else {
            EXPECT_EQ(outcome.exitCode, 0);
        }
    }
    // Without a limit nothing is a stall.
    EXPECT_FALSE(RunChild({"/bin/sh", "-c", "sleep 0.7"}, RunOptions{}).stalled);
}

// The last resort of a process that must end now: every child it still
// runs is killed; one that ended and was reaped is not confused with another.
TEST(EncoderProgramTest, KillRunningChildrenEndsEveryChild) {
    const RunningChild first = StartChildWithInput({"/bin/sh", "-c", "exec sleep 30"});
    const RunningChild second = StartChildWithInput({"/bin/sh", "-c", "trap '' TERM; exec sleep 30"});
    ASSERT_GT(first.pid, 0);
    ASSERT_GT(second.pid, 0);
    EXPECT_EQ(RunChild({"/bin/sh", "-c", "exit 0"}).status, 0);  // reaped: no longer known
    KillRunningChildren();
    EXPECT_EQ(WaitForChildExit(first).signal, SIGKILL);
    EXPECT_EQ(WaitForChildExit(second).signal, SIGKILL);
    ::close(first.input);
    ::close(second.input);
}

// Only a WAV whose data chunk holds a sample counts as extracted sound.
TEST(EncoderProgramTest, WavHasSamplesOnlyWithData) {
    auto le32 = [](uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
    const std::string fmt = "fmt " + le32(16) + std::string("\x01\x00\x02\x00\x44\xac\x00\x00\x10\xb1\x02\x00\x04\x00\x10\x00", 16);
    const std::string list = "LIST" + le32(22) + std::string(22, 'i');  // 78 bytes with the header below
    const std::string dir = TempFolder("wavcheck");
    struct Case { const char* what; std::string bytes; bool samples; };
    const Case cases[] = {
        {"header only, as a dead extractor leaves it", "RIFF" + le32(70) + "WAVE" + fmt + list + "data" + le32(0), false},
        {"one sample", "RIFF" + le32(74) + "WAVE" + fmt + "data" + le32(4) + "abcd", true},
        {"data size unwritten, samples there", "RIFF" + le32(0) + "WAVE" + fmt + list + "data" + le32(0) + std::string(400, 'x'), true},
        {"not a WAV", std::string(200, 'x'), false},
    };
    for (const Case& c : cases) {
        std::ofstream(dir + "/t.wav", std::ios::binary) << c.bytes;
        EXPECT_EQ(WavHasSamples(dir + "/t.wav"), c.samples) << c.what;
    }
    EXPECT_FALSE(WavHasSamples(dir + "/missing.wav"));
    fs::remove_all(dir);
}

TEST(MediaProbeTest, DescribesTheStreamsAndRemovesTheReport) {
    const std::string clip = FisheyeClip("fish-h264.mp4");
    const std::string dir = TempFolder("probe") + "/";
    ProbeTexts texts;
    ProbeVideoFile(dir, clip, texts);
    EXPECT_EQ(texts.videoNameLine, " Video file: fish-h264.mp4 ");
    EXPECT_NE(texts.videoStreamLine.find("video: h264"), std::string::npos) << texts.videoStreamLine;
    EXPECT_NE(texts.videoStreamLine.find("192x144"), std::string::npos);
    EXPECT_NE(texts.secondStreamLine.find("audio: aac"), std::string::npos) << texts.secondStreamLine;
    EXPECT_EQ(texts.fileInfoText.rfind(" Video file: fish-h264.mp4\r\n\r\nvideo: h264", 0), 0u);
    EXPECT_FALSE(fs::exists(dir + kProbeReportName));

    // Nothing runs for a missing file, a blank path, a folder, or the name
    // with blanks around it (another name: paths are used as given).
    const ProbeTexts before = texts;
    for (const std::string& path : {dir + "gone.mp4", std::string("   "), dir, " " + clip + " "})
        ProbeVideoFile(dir, path, texts);
    EXPECT_EQ(texts, before);

    // A report an earlier probe left never describes another file, even
    // without an encoder to write a new one.
    std::ofstream(dir + kProbeReportName) << "  Stream #0.0: Video: stale\r\n";
    const std::string path = std::getenv("PATH");
    ::setenv("PATH", "", 1);
    ProbeTexts missing;
    ProbeVideoFile(dir, clip, missing);
    ::setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(missing.videoStreamLine, "");
    EXPECT_FALSE(fs::exists(dir + kProbeReportName));

    fs::remove_all(dir);
}

TEST(AudioExtractionTest, WritesAWavOfTheClipsLength) {
    const std::string clip = FisheyeClip("fish-h264.mp4");
    const std::string dir = TempFolder("wav");
    std::vector<std::string> logged;
    const AudioExtractionResult r =
        ExtractAudioTrack(ExeFolder(), clip, dir, [&](const std::string& l) { logged.push_back(l); });
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_TRUE(r.wavWritten);
    const std::vector<std::string> expected = {
        ExeFolder() + "PLUG-IN/ffmpeg_III -i \"file:" + clip +
        "\" -f wav -ar 44100 -ac 2 -acodec pcm_s16le -y \"file:" + dir + "/temp.wav\""};
    EXPECT_EQ(logged, expected);
    const std::string wav = dir + "/temp.wav";
    EXPECT_EQ(testing::ProbeVideoEntry(wav, "format=format_name"), "wav");
    EXPECT_NEAR(std::atof(testing::ProbeVideoEntry(wav, "format=duration").c_str()), 1.0, 0.05);
    EXPECT_EQ(ReadFile(wav).substr(20, 16),  // PCM, stereo, 44100 Hz, 176400 B/s, 4, 16 bits
              std::string("\x01\x00\x02\x00\x44\xac\x00\x00\x10\xb1\x02\x00\x04\x00\x10\x00", 16));

    // A clip without sound leaves no WAV, not even an old one.
    const std::string silent = FisheyeClip("fish-mjpeg.avi");
    std::ofstream(wav) << std::string(1000, 'x');
    const AudioExtractionResult none = ExtractAudioTrack(ExeFolder(), silent, dir);
    EXPECT_NE(none.exitStatus, 0);
    EXPECT_FALSE(none.wavWritten);
    EXPECT_TRUE(!fs::exists(wav) || fs::file_size(wav) <= 44);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace tessaly
