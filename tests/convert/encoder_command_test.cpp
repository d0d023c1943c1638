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
    job.quality = 0;
    job.resizeIndex = 0;
    job.outW = 1104;
    job.outH = 1104;
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
    std::vector<std::string> expected = {
        "/App/PLUG-IN/ffmpeg_III", "-r", "25.00", "-i", "/App/TEMP/mono%06d.jpg", "-i",
        "/App/TEMP/temp.wav", "-ac", "2", "-ar", "44100", "-vcodec", "libx264", "-acodec", "mp3",
        "-pix_fmt", "yuv420p", "-t", "00:01:05", "-crf", "22", "-qscale", "15", "-f", "flv",
        "-y", "/d/out.flv"};
    EXPECT_EQ(c.argv, expected);
}

TEST(EncoderCommand, RateElement) {
    EncoderJob job = WorkedExample();
    job.avgTimePerFrame = 0;  // unknown time per frame: 30 fps
    EXPECT_NE(BuildEncoderCommand(job).text.find("\"  -r 30 -i \""), std::string::npos);
    job.avgTimePerFrame = 333667;  // 29.97002997 fps
    EXPECT_NE(BuildEncoderCommand(job).text.find(" -r 29.97 -i"), std::string::npos);
    job.avgTimePerFrame = 2000000;  // 5 fps keeps two integer digits
    EncoderCommand c = BuildEncoderCommand(job);
    EXPECT_NE(c.text.find(" -r 05.00 -i"), std::string::npos);
    EXPECT_EQ(c.argv[2], "05.00");
}

TEST(EncoderCommand, ExtensionSelectsRowInLowerCase) {
    EncoderJob job = WorkedExample();
    job.outputPath = "/d/OUT.MP4";
    EncoderCommand c = BuildEncoderCommand(job);
    EXPECT_EQ(c.videoExt, ".mp4");
    EXPECT_NE(c.text.find(" -r 30 -pix_fmt yuv420p  -t 00:01:05 -qscale 15 -f mp4  -y \"/d/OUT.MP4\""),
              std::string::npos)
        << c.text;
    EXPECT_EQ(c.text.find("sameq"), std::string::npos);

    EXPECT_EQ(OutputExtension("/a.b/c"), "");         // the dot belongs to a folder
    EXPECT_EQ(OutputExtension("/x/movie"), "");
    EXPECT_EQ(OutputExtension("/x/movie.tar.WebM"), ".webm");
    EXPECT_EQ(OutputExtension("/x/" + std::string(5000, 'a') + ".mp4"), "");
}

TEST(EncoderCommand, UnknownExtensionBuildsNothing) {
    for (const char* path : {"/d/out.mpg", "/d/out", "/d/out.mp44", ""}) {
        EncoderJob job = WorkedExample();
        job.outputPath = path;
        EncoderCommand c = BuildEncoderCommand(job);
        EXPECT_FALSE(c.known) << path;
        EXPECT_TRUE(c.text.empty());
        EXPECT_TRUE(c.argv.empty());
    }
}

TEST(EncoderCommand, ResizeUsesSinglePrecisionFactors) {
    EXPECT_EQ(ResizedDimension(1920, 1), 1712);  // not 1728
    EXPECT_EQ(ResizedDimension(960, 1), 848);    // 53.99999 sixteens
    EXPECT_EQ(ResizedDimension(1920, 2), 1536);
    EXPECT_EQ(ResizedDimension(1920, 3), 1328);  // not 1344
    EXPECT_EQ(ResizedDimension(1920, 4), 1152);
    EXPECT_EQ(ResizedDimension(1920, 5), 960);
    EXPECT_EQ(ResizedDimension(1104, 0), 1104);

    EncoderJob job = WorkedExample();
    job.resizeIndex = 1;
    job.outW = 1920;
    job.outH = 960;
    EncoderCommand c = BuildEncoderCommand(job);
    // The size follows the duration, inside the duration element.
    EXPECT_NE(c.text.find(" -t 00:01:05 -s 1712x848  -crf 22"), std::string::npos) << c.text;
    job.resizeIndex = 0;
    EXPECT_EQ(BuildEncoderCommand(job).text.find(" -s "), std::string::npos);
}

TEST(EncoderCommand, QualityLevels) {
    EncoderJob job = WorkedExample();
    job.quality = 21;
    job.outputPath = "/d/a.avi";
    EncoderCommand avi = BuildEncoderCommand(job);
    EXPECT_NE(avi.text.find(" -vcodec libx264 -acodec pcm_s16le -pix_fmt yuv420p  -t 00:01:05 "
                            "-crf 31 -f avi  -y"),
              std::string::npos)
        << avi.text;
    job.outputPath = "/d/a.webm";
    EncoderCommand webm = BuildEncoderCommand(job);
    EXPECT_NE(webm.text.find(" -t 00:01:05 -qscale 21 -f webm  -y"), std::string::npos)
        << webm.text;
    job.quality = 1;
    job.outputPath = "/d/a.mov";
    EXPECT_NE(BuildEncoderCommand(job).text.find(" -crf 11 -f mov "), std::string::npos);
    job.outputPath = "/d/a.ogv";
    EXPECT_NE(BuildEncoderCommand(job).text.find(" -qscale 1 -f ogg "), std::string::npos);
}

TEST(EncoderCommand, DurationTruncatesToWholeSeconds) {
    EncoderJob job = WorkedExample();
    job.durationSeconds = 59.9;
    EXPECT_NE(BuildEncoderCommand(job).text.find(" -t 00:00:59 "), std::string::npos);
    job.durationSeconds = 60;
    EXPECT_NE(BuildEncoderCommand(job).text.find(" -t 00:01:00 "), std::string::npos);
    // Shorter than a second: one second, not an empty movie.
    job.durationSeconds = 0.4;
    EXPECT_NE(BuildEncoderCommand(job).text.find(" -t 00:00:01 "), std::string::npos);
    // Unknown: no limit, the size still in place.
    job.durationSeconds = 0;
    job.resizeIndex = 5;
    job.outW = job.outH = 1104;
    EncoderCommand c = BuildEncoderCommand(job);
    EXPECT_EQ(c.text.find(" -t "), std::string::npos);
    EXPECT_NE(c.text.find("mp3 -pix_fmt yuv420p  -s 544x544  -crf 22"), std::string::npos) << c.text;
}

TEST(EncoderCommand, AudioAndStillPattern) {
    EncoderJob job = WorkedExample();
    job.hasAudio = false;
    job.tempFormat = 1;
    EncoderCommand c = BuildEncoderCommand(job);
    EXPECT_NE(c.text.find(" -i \"/App/TEMP/mono%06d.bmp\"   -vcodec"), std::string::npos) << c.text;
    EXPECT_EQ(c.text.find("temp.wav"), std::string::npos);
    // Any format value but 1 means JPEG stills were written.
    for (int32_t format : {0, 2, 3, -1}) {
        EXPECT_EQ(StillPattern("/t", format), "/t/mono%06d.jpg") << format;
    }
    EXPECT_EQ(StillPattern("/t", 1), "/t/mono%06d.bmp");
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
