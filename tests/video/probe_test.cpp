// Probe report parsing, the encoder runner, the probe and the sound
// extraction, checked with the real ffmpeg.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/video/test_clips.h"
#include "video/encoder_program.h"
#include "video/media_probe.h"
#include "video/probe_report.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;
using testing::FisheyeClip;
using testing::TempFolder;

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), {});
}

std::string ExeFolder() {
    return fs::read_symlink("/proc/self/exe").parent_path().string() + "/";
}

// ---------------------------------------------------------------- parsing

TEST(ProbeReportTest, ReadsTheOldAndTheCurrentStreamNumbering) {
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
}

TEST(ProbeReportTest, EdgeCasesOfTheStreamLines) {
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
    // Other lines and other stream numbers are skipped.
    const ProbeTexts before = t;
    AddProbeReportLine(t, "Stream #0.2: Data: bin_data");
    AddProbeReportLine(t, "Stream #1.0: Video: other input");
    AddProbeReportLine(t, "Duration: 00:00:01.00, start: 0.000000");
    AddProbeReportLine(t, "stream #0");
    AddProbeReportLine(t, std::string("\0\0", 2));
    EXPECT_EQ(t, before);
}

// ---------------------------------------------------------------- runner

TEST(EncoderProgramTest, RunsAnArgumentVectorWithoutAShell) {
    const std::string dir = TempFolder("runner");
    const std::string out = dir + "/out.txt";
    const std::string err = dir + "/err.txt";
    const std::string tricky = "a b \"c\" $(touch " + dir + "/injected) ; `x` 'q'";
    EXPECT_EQ(RunEncoderProgram({"/usr/bin/printf", "%s|", tricky, "second"}, {out, err}), 0);
    EXPECT_EQ(ReadFile(out), tricky + "|second|");
    EXPECT_FALSE(fs::exists(dir + "/injected"));

    EXPECT_EQ(RunEncoderProgram({"/bin/sh", "-c", "echo oops >&2; exit 3"}, {out, err}), 3);
    EXPECT_EQ(ReadFile(err), "oops\n");
    EXPECT_EQ(ReadFile(out), "");  // truncated, not appended
    // The child's standard input is empty, so nothing ever waits for a key.
    EXPECT_EQ(RunEncoderProgram({"/bin/cat"}, {out, {}}), 0);
    EXPECT_EQ(RunEncoderProgram({"/bin/sh", "-c", "kill -9 $$"}), 128 + 9);

    EXPECT_EQ(RunEncoderProgram({dir + "/no-such-program"}), kCannotStart);
    EXPECT_EQ(RunEncoderProgram({}), kCannotStart);
    EXPECT_EQ(RunEncoderProgram({"/bin/true"}, {dir + "/missing/out.txt", {}}), kCannotStart);
    fs::remove_all(dir);
}

TEST(EncoderProgramTest, FindsThePlugInLinkElsePath) {
    // The build links the system ffmpeg beside this test program.
    const std::string exe = ExeFolder();
    EXPECT_EQ(FindEncoderProgram(exe), exe + "PLUG-IN/ffmpeg_III");
    EXPECT_TRUE(fs::exists(exe + "PLUG-IN/ffmpeg_III"));

    const std::string dir = TempFolder("find");
    const std::string fromPath = FindEncoderProgram(dir);
    EXPECT_EQ(fs::path(fromPath).filename(), "ffmpeg");

    const std::string savedPath = std::getenv("PATH");
    ::setenv("PATH", dir.c_str(), 1);
    EXPECT_EQ(FindEncoderProgram(dir), "");
    ::setenv("PATH", savedPath.c_str(), 1);
    fs::remove_all(dir);
}

// ---------------------------------------------------------------- probe

TEST(MediaProbeTest, DescribesTheStreamsAndRemovesTheReport) {
    const std::string clip =
        FisheyeClip("fish-h264.mp4", "--size 192x144 --duration 1 --audio --vcodec libx264");
    const std::string dir = TempFolder("probe") + "/";
    ProbeTexts texts;
    ProbeVideoFile(dir, "  " + clip + "  ", texts);
    EXPECT_EQ(texts.videoNameLine, " Video file: fish-h264.mp4 ");
    EXPECT_NE(texts.videoStreamLine.find("video: h264"), std::string::npos) << texts.videoStreamLine;
    EXPECT_NE(texts.videoStreamLine.find("192x144"), std::string::npos);
    EXPECT_NE(texts.secondStreamLine.find("audio: aac"), std::string::npos) << texts.secondStreamLine;
    EXPECT_EQ(texts.fileInfoText.rfind(" Video file: fish-h264.mp4\r\n\r\nvideo: h264", 0), 0u);
    EXPECT_FALSE(fs::exists(dir + kProbeReportName));

    // Blanks around the path make no difference.
    ProbeTexts plain;
    ProbeVideoFile(dir, clip, plain);
    EXPECT_EQ(plain, texts);
    fs::remove_all(dir);
}

TEST(MediaProbeTest, NothingRunsForAMissingOrBlankPath) {
    const std::string dir = TempFolder("probe-missing") + "/";
    ProbeTexts texts{"info", "name", "video", "second"};
    const ProbeTexts before = texts;
    ProbeVideoFile(dir, dir + "gone.mp4", texts);
    ProbeVideoFile(dir, "   ", texts);
    ProbeVideoFile(dir, dir, texts);  // a folder is no file
    EXPECT_EQ(texts, before);
    EXPECT_FALSE(fs::exists(dir + kProbeReportName));
    fs::remove_all(dir);
}

TEST(MediaProbeTest, WithoutAnEncoderOnlyTheNameIsKnown) {
    const std::string clip =
        FisheyeClip("fish-h264.mp4", "--size 192x144 --duration 1 --audio --vcodec libx264");
    const std::string dir = TempFolder("probe-noenc") + "/";
    const std::string savedPath = std::getenv("PATH");
    ::setenv("PATH", dir.c_str(), 1);
    ProbeTexts texts;
    ProbeVideoFile(dir, clip, texts);
    const AudioExtractionResult audio = ExtractAudioTrack(dir, clip, dir);
    ::setenv("PATH", savedPath.c_str(), 1);
    EXPECT_EQ(texts, InitialProbeTexts(clip));
    EXPECT_EQ(audio.exitStatus, kCannotStart);
    EXPECT_FALSE(audio.wavWritten);
    fs::remove_all(dir);
}

// ---------------------------------------------------------------- sound

struct WavFacts {
    int format = 0, channels = 0, rate = 0, bits = 0;
    uint32_t dataBytes = 0;
};

// Walks the RIFF chunks of a WAV file.
WavFacts ReadWav(const std::string& path) {
    const std::string b = ReadFile(path);
    WavFacts w;
    auto u16 = [&](size_t at) { return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8; };
    auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
    if (b.size() < 12 || b.compare(0, 4, "RIFF") != 0 || b.compare(8, 4, "WAVE") != 0) return w;
    for (size_t at = 12; at + 8 <= b.size();) {
        const std::string id = b.substr(at, 4);
        const uint32_t size = u32(at + 4);
        if (id == "fmt " && at + 24 <= b.size()) {
            w.format = static_cast<int>(u16(at + 8));
            w.channels = static_cast<int>(u16(at + 10));
            w.rate = static_cast<int>(u32(at + 12));
            w.bits = static_cast<int>(u16(at + 22));
        } else if (id == "data") {
            w.dataBytes = static_cast<uint32_t>(std::min<size_t>(size, b.size() - at - 8));
            break;
        }
        at += 8 + size + (size & 1);
    }
    return w;
}

TEST(AudioExtractionTest, CommandLineTextAndArguments) {
    const CommandLine cmd =
        AudioExtractionCommand("/opt/app/PLUG-IN/ffmpeg_III", "  /v/my clip.mp4 ", " /tmp/work ");
    EXPECT_EQ(cmd.text,
              "/opt/app/PLUG-IN/ffmpeg_III -i \"/v/my clip.mp4\" -f wav -ar 44100 -ac 2 "
              "-acodec pcm_s16le -y \"/tmp/work/temp.wav\"");
    const std::vector<std::string> args = {"/opt/app/PLUG-IN/ffmpeg_III", "-i", "/v/my clip.mp4",
                                           "-f", "wav", "-ar", "44100", "-ac", "2", "-acodec",
                                           "pcm_s16le", "-y", "/tmp/work/temp.wav"};
    EXPECT_EQ(cmd.args, args);
}

TEST(AudioExtractionTest, WritesStereo44100PcmOfTheClipsLength) {
    const std::string clip =
        FisheyeClip("fish-h264.mp4", "--size 192x144 --duration 1 --audio --vcodec libx264");
    const std::string dir = TempFolder("wav");
    std::vector<std::string> logged;
    const AudioExtractionResult r =
        ExtractAudioTrack(ExeFolder(), clip, dir, [&](const std::string& l) { logged.push_back(l); });
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_TRUE(r.wavWritten);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0], ExeFolder() + "PLUG-IN/ffmpeg_III -i \"" + clip +
                             "\" -f wav -ar 44100 -ac 2 -acodec pcm_s16le -y \"" + dir + "/temp.wav\"");
    const WavFacts w = ReadWav(dir + "/temp.wav");
    EXPECT_EQ(w.format, 1);
    EXPECT_EQ(w.channels, 2);
    EXPECT_EQ(w.rate, 44100);
    EXPECT_EQ(w.bits, 16);
    const double seconds = w.dataBytes / (44100.0 * 4);
    EXPECT_NEAR(seconds, 1.0, 0.05);
    fs::remove_all(dir);
}

TEST(AudioExtractionTest, AClipWithoutSoundLeavesNoWavNotEvenAnOldOne) {
    const std::string clip = FisheyeClip("fish-mjpeg.avi", "--size 192x144 --duration 1 --vcodec mjpeg");
    const std::string dir = TempFolder("nowav");
    {
        std::ofstream stale(dir + "/temp.wav");
        stale << std::string(1000, 'x');
    }
    const AudioExtractionResult r = ExtractAudioTrack(ExeFolder(), clip, dir);
    EXPECT_NE(r.exitStatus, 0);
    EXPECT_FALSE(r.wavWritten);
    EXPECT_TRUE(!fs::exists(dir + "/temp.wav") || fs::file_size(dir + "/temp.wav") <= 44);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace tessaly
