#include "convert/encoder_command.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tessaly {
namespace {

// The worked example: JPEG stills, a WAV, 25 fps, 65.9 s, default quality,
// natural size, an FLV output.
EncoderJob WorkedExample() {
    EncoderJob job;
    job.encoderProgram = "/App/PLUG-IN/ffmpeg_III";
    job.tempFolder = "/App/TEMP";
    job.outputPath = "/d/out.flv";
    job.tempFormat = 2;
    job.outW = job.outH = 1104;
    job.avgTimePerFrame = 400000;
    job.durationSeconds = 65.9;
    job.hasAudio = true;
    return job;
}

TEST(EncoderCommand, WorkedExampleTextAndArguments) {
    EncoderCommand c = BuildEncoderCommand(WorkedExample());
    ASSERT_TRUE(c.known);
    EXPECT_EQ(c.videoExt, ".flv");
    EXPECT_EQ(c.text,
              "\"/App/PLUG-IN/ffmpeg_III\"  -r 25.00 -i \"/App/TEMP/mono%06d.jpg\" "
              "-i \"/App/TEMP/temp.wav\" -ac 2  -ar 44100  -vcodec libx264 -acodec mp3 "
              "-pix_fmt yuv420p  -t 00:01:05 -crf 22 -qscale 15 -f flv  -y \"/d/out.flv\"");
    const std::vector<std::string> expected = {
        "/App/PLUG-IN/ffmpeg_III", "-r", "25.00", "-i", "/App/TEMP/mono%06d.jpg", "-i",
        "/App/TEMP/temp.wav", "-ac", "2", "-ar", "44100", "-vcodec", "libx264", "-acodec", "mp3",
        "-pix_fmt", "yuv420p", "-t", "00:01:05", "-crf", "22", "-qscale", "15", "-f", "flv",
        "-y", "/d/out.flv"};
    EXPECT_EQ(c.argv, expected);
}

// The worked example with one thing changed, and a piece of the text it gives.
TEST(EncoderCommand, VariantsOfTheWorkedExample) {
    struct Case {
        const char* what;
        void (*change)(EncoderJob&);
        const char* piece;
    };
    const Case cases[] = {
        {"time per frame 0: 30 fps", [](EncoderJob& j) { j.avgTimePerFrame = 0; }, "\"  -r 30 -i \""},
        {"5 fps", [](EncoderJob& j) { j.avgTimePerFrame = 2000000; }, " -r 05.00 -i"},
        {"upper-case extension", [](EncoderJob& j) { j.outputPath = "/d/OUT.MP4"; },
         " -r 30 -pix_fmt yuv420p  -t 00:01:05 -qscale 15 -f mp4  -y \"/d/OUT.MP4\""},
        {"resize 90 %",
         [](EncoderJob& j) { j.resizeIndex = 1, j.outW = 1920, j.outH = 960; },
         " -t 00:01:05 -s 1712x848  -crf 22"},
        {"q 21 avi", [](EncoderJob& j) { j.quality = 21, j.outputPath = "/d/a.avi"; },
         " -vcodec libx264 -acodec pcm_s16le -pix_fmt yuv420p  -t 00:01:05 -crf 31 -f avi  -y"},
        {"q 21 webm", [](EncoderJob& j) { j.quality = 21, j.outputPath = "/d/a.webm"; },
         " -t 00:01:05 -qscale 21 -f webm  -y"},
        {"q 1 mov", [](EncoderJob& j) { j.quality = 1, j.outputPath = "/d/a.mov"; }, " -crf 11 -f mov "},
        {"q 1 ogv", [](EncoderJob& j) { j.quality = 1, j.outputPath = "/d/a.ogv"; }, " -qscale 1 -f ogg "},
        {"59.9 s", [](EncoderJob& j) { j.durationSeconds = 59.9; }, " -t 00:00:59 "},
        {"60 s", [](EncoderJob& j) { j.durationSeconds = 60; }, " -t 00:01:00 "},
        {"under a second", [](EncoderJob& j) { j.durationSeconds = 0.4; }, " -t 00:00:01 "},
        {"unknown duration, resized", [](EncoderJob& j) { j.durationSeconds = 0, j.resizeIndex = 5; },
         "mp3 -pix_fmt yuv420p  -s 544x544  -crf 22"},
        {"BMP stills, no sound", [](EncoderJob& j) { j.hasAudio = false, j.tempFormat = 1; },
         " -i \"/App/TEMP/mono%06d.bmp\"   -vcodec"},
    };
    for (const Case& c : cases) {
        EncoderJob job = WorkedExample();
        c.change(job);
        const std::string text = BuildEncoderCommand(job).text;
        EXPECT_NE(text.find(c.piece), std::string::npos) << c.what << ": " << text;
    }
    EXPECT_EQ(BuildEncoderCommand(WorkedExample()).text.find(" -s "), std::string::npos);
    // Single-precision factors: 1712 not 1728, 53.99999 sixteens, 1328 not 1344.
    EXPECT_EQ(ResizedDimension(1920, 1), 1712);
    EXPECT_EQ(ResizedDimension(960, 1), 848);
    EXPECT_EQ(ResizedDimension(1920, 3), 1328);
}

TEST(EncoderCommand, UnknownExtensionBuildsNothing) {
    for (const char* path : {"/d/out.mpg", "/d/out", "/d/out.mp44", "", "/a.b/c"}) {
        EncoderJob job = WorkedExample();
        job.outputPath = path;
        EncoderCommand c = BuildEncoderCommand(job);
        EXPECT_FALSE(c.known) << path;
        EXPECT_TRUE(c.text.empty() && c.argv.empty()) << path;
    }
    EXPECT_EQ(OutputExtension("/x/movie.tar.WebM"), ".webm");
    EXPECT_EQ(OutputExtension("/d/OUT.MP4"), ".mp4");
    EXPECT_EQ(OutputExtension("/x/" + std::string(5000, 'a') + ".mp4"), "");
}

TEST(EncoderCommand, PathsWithBlanksAndQuotesStayOneArgument) {
    EncoderJob job = WorkedExample();
    job.outputPath = "  /d/my \"best\" movie.mp4  ";
    job.tempFolder = "/t/a b";
    EncoderCommand c = BuildEncoderCommand(job);
    ASSERT_TRUE(c.known);
    EXPECT_EQ(c.argv.back(), "/d/my \"best\" movie.mp4");
    EXPECT_EQ(c.argv[4], "/t/a b/mono%06d.jpg");
}

}  // namespace
}  // namespace tessaly
