#include "convert/encoder_command.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace tessaly {
namespace {

// The worked example: JPEG stills, a WAV, 25 fps, 65.9 s, default quality,
// natural size, an FLV output. Two mends change its text: the duration keeps
// its fraction ("00:01:05.900", not "00:01:05", which dropped 0.9 s of the
// movie), and every path goes to the encoder as "file:" + path.
EncoderJob WorkedExample() {
    EncoderJob job;
    job.encoderProgram = "/App/PLUG-IN/ffmpeg_III";
    job.tempFolder = "/App/TEMP";
    job.outputPath = "/d/out.flv";
    job.tempFormat = StillFormat::Jpeg;
    job.outW = job.outH = 1104;
    job.timePerFrame = MediaTime{400000};
    job.durationSeconds = 65.9;
    job.hasAudio = true;
    return job;
}

TEST(EncoderCommand, WorkedExampleTextAndArguments) {
    EncoderCommand c = BuildEncoderCommand(WorkedExample());
    ASSERT_TRUE(c.known);
    EXPECT_EQ(c.videoExt, ".flv");
    EXPECT_EQ(c.text,
              "\"/App/PLUG-IN/ffmpeg_III\"  -r 25.00 -i \"file:/App/TEMP/mono%06d.jpg\" "
              "-i \"file:/App/TEMP/temp.wav\" -ac 2  -ar 44100  -vcodec libx264 -acodec mp3 "
              "-pix_fmt yuv420p  -t 00:01:05.900 -crf 22 -qscale 15 -f flv  -y \"file:/d/out.flv\"");
    // The arguments are the text's words without their quotes.
    std::istringstream words(c.text);
    std::vector<std::string> expected;
    for (std::string w; words >> w;) expected.push_back(w.front() == '"' ? w.substr(1, w.size() - 2) : w);
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
        {"time per frame 0: 30 fps", [](EncoderJob& j) { j.timePerFrame = MediaTime{0}; }, "\"  -r 30 -i \""},
        {"5 fps", [](EncoderJob& j) { j.timePerFrame = MediaTime{2000000}; }, " -r 05.00 -i"},
        {"upper-case extension", [](EncoderJob& j) { j.outputPath = "/d/OUT.MP4"; },
         "44100  -vcodec libx264 -pix_fmt yuv420p  -t 00:01:05.900 -crf 22 -f mp4  -y \"file:/d/OUT.MP4\""},
        {"resize 90 %",
         [](EncoderJob& j) { j.resizeIndex = 1, j.outW = 1920, j.outH = 960; },
         " -t 00:01:05.900 -s 1712x848  -crf 22"},
        // The first three rows keep their levels: -crf q + 10.
        {"q 21 avi", [](EncoderJob& j) { j.quality = 21, j.outputPath = "/d/a.avi"; },
         " -vcodec libx264 -acodec pcm_s16le -pix_fmt yuv420p  -t 00:01:05.900 -crf 31 -f avi  -y"},
        {"q 1 mov", [](EncoderJob& j) { j.quality = 1, j.outputPath = "/d/a.mov"; }, " -crf 11 -f mov "},
        // The other rows: libx264 -crf, libvpx -crf with -b:v 0, Theora's
        // -q:v running from 10 (best) down to 0.
        {"q 1 m4v", [](EncoderJob& j) { j.quality = 1, j.outputPath = "/d/a.m4v"; }, " -crf 11 -f mp4 "},
        {"q 21 webm", [](EncoderJob& j) { j.quality = 21, j.outputPath = "/d/a.webm"; },
         " -t 00:01:05.900 -crf 52 -b:v 0 -f webm  -y"},
        {"q 1 ogv", [](EncoderJob& j) { j.quality = 1, j.outputPath = "/d/a.ogv"; }, " -q:v 10 -f ogg "},
        {"q 2 ogg", [](EncoderJob& j) { j.quality = 2, j.outputPath = "/d/a.ogg"; }, " -q:v 9.5 -f ogg "},
        {"q 21 ogg", [](EncoderJob& j) { j.quality = 21, j.outputPath = "/d/a.ogg"; }, " -q:v 0 -f ogg "},
        {"59.9 s", [](EncoderJob& j) { j.durationSeconds = 59.9; }, " -t 00:00:59.900 "},
        {"60 s", [](EncoderJob& j) { j.durationSeconds = 60; }, " -t 00:01:00.000 "},
        {"under a second", [](EncoderJob& j) { j.durationSeconds = 0.4; }, " -t 00:00:00.400 "},
        {"over an hour", [](EncoderJob& j) { j.durationSeconds = 3725.0625; }, " -t 01:02:05.062 "},
        {"unknown duration, resized", [](EncoderJob& j) { j.durationSeconds = 0, j.resizeIndex = 5; },
         "mp3 -pix_fmt yuv420p  -s 544x544  -crf 22"},
        {"BMP stills, no sound", [](EncoderJob& j) { j.hasAudio = false, j.tempFormat = StillFormat::Bmp; },
         " -i \"file:/App/TEMP/mono%06d.bmp\"   -vcodec"},
        // MPEG-2 program streams: a standard rate, -q:v q + 1 from 2 to 22.
        {"mpg at 25 fps", [](EncoderJob& j) { j.outputPath = "/d/a.mpg"; },
         " -ar 44100  -r 25 -vcodec mpeg2video -acodec mp2 -pix_fmt yuv420p -flags +low_delay "
         " -t 00:01:05.900 -q:v 4 -f vob  -y \"file:/d/a.mpg\""},
        {"q 1 mpg", [](EncoderJob& j) { j.quality = 1, j.outputPath = "/d/a.mpg"; }, " -q:v 2 -f vob "},
        {"q 21 MPEG", [](EncoderJob& j) { j.quality = 21, j.outputPath = "/d/A.MPEG"; }, " -q:v 22 -f vob "},
        {"mpg at 15 fps", [](EncoderJob& j) { j.timePerFrame = MediaTime{666667}, j.outputPath = "/d/a.mpg"; },
         " -r 15.00 -i \"file:/App/TEMP/mono%06d.jpg\" -i \"file:/App/TEMP/temp.wav\" -ac 2  -ar 44100  "
         "-r 30 -vcodec mpeg2video"},
        {"mpg at 29.97 fps", [](EncoderJob& j) { j.timePerFrame = MediaTime{333667}, j.outputPath = "/d/a.mpg"; },
         " -r 30000/1001 -vcodec mpeg2video"},
    };
    for (const Case& c : cases) {
        EncoderJob job = WorkedExample();
        c.change(job);
        const std::string text = BuildEncoderCommand(job).text;
        EXPECT_NE(text.find(c.piece), std::string::npos) << c.what << ": " << text;
    }
    EXPECT_EQ(BuildEncoderCommand(WorkedExample()).text.find(" -s "), std::string::npos);
    // (That no row but MPEG-2's re-times the stills: ConversionTest.EveryContainerGetsTheFramesAndTheSound.)
    // Single-precision factors: 1712 not 1728, 53.99999 sixteens, 1328 not 1344.
    EXPECT_EQ(ResizedDimension(1920, 1), 1712);
    EXPECT_EQ(ResizedDimension(960, 1), 848);
    EXPECT_EQ(ResizedDimension(1920, 3), 1328);
}

// The stream command takes the sound straight from the source movie: its
// first sound stream beside the piped frames, and none for a silent movie.
TEST(EncoderCommand, StreamCommandsMapTheSourcesSound) {
    StreamJob job;
    job.encoderProgram = "ffmpeg", job.sourcePath = "/s/in.mp4", job.width = job.height = 240;
    job.outputs = {"/d/a.mp4"};
    for (const bool sound : {true, false}) {
        job.sound = sound;
        const EncoderCommand c = BuildStreamCommand(job);
        ASSERT_TRUE(c.known);
        EXPECT_NE(c.text.find(sound ? " -i \"file:/s/in.mp4\" -map 0:v:0 -map 1:a:0 -ac 2 -ar 44100 -vcodec libx264"
                                    : " -map 0:v:0 -vcodec libx264"),
                  std::string::npos) << c.text;
    }
}

TEST(EncoderCommand, UnknownExtensionBuildsNothing) {
    for (const char* path : {"/d/out.mkv", "/d/out", "/d/out.mp44", "/d/out.mpg4", "", "/a.b/c"}) {
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

// MPEG-2 video takes eight rates: others get the lowest one that repeats
// each frame evenly, else the lowest above; above 60 fps nothing.
TEST(EncoderCommand, MpegRatesAreStandardOnes) {
    struct Case {
        double source;
        const char* rate;  // "" : refused
    };
    const Case cases[] = {
        {25, "25"},          {30000.0 / 1001, "30000/1001"}, {29.97, "30000/1001"},  // the stills' "29.97"
        {30, "30"},          {23.98, "24000/1001"},          {24, "24"},
        {12, "24"},          {15, "30"},                     {12.5, "25"},
        {10, "30"},          {20, "60"},                     {14.985, "30000/1001"},
        {5, "25"},           {0.5, "24"},                    {16, "24000/1001"},
        {40, "50"},          {59.94, "60000/1001"},          {60.03, "60"},
        {0, "30"},           {61, ""},                       {120, ""},
    };
    for (const Case& c : cases) {
        const MpegRate chosen = ChooseMpegRate(c.source);
        EXPECT_EQ(chosen.usable, *c.rate != 0) << c.source;
        EXPECT_EQ(chosen.text, c.rate) << c.source;
        EXPECT_EQ(chosen.problem.empty(), chosen.usable) << c.source;
    }
    EXPECT_EQ(ChooseMpegRate(120).problem,
              "MPEG-2 video takes at most 60 frames per second, the movie has 120.00 fps "
              "(another container, such as .mp4, keeps every frame)");
    EXPECT_EQ(OutputRateProblem("/d/x.MPG", 120), ChooseMpegRate(120).problem);
    EXPECT_EQ(OutputRateProblem("/d/x.mp4", 120), "");

    // Still path: no command, the reason instead.
    EncoderJob job = WorkedExample();
    job.outputPath = "/d/fast.mpg";
    job.timePerFrame = MediaTime{83333};  // 120 fps
    EncoderCommand c = BuildEncoderCommand(job);
    EXPECT_TRUE(c.known);
    EXPECT_NE(c.problem.find("at most 60"), std::string::npos);
    EXPECT_TRUE(c.text.empty() && c.argv.empty());
    // What the check of the output expects the encoder to write.
    EXPECT_DOUBLE_EQ(EncoderOutputRate(".mpg", StillInputRate(MediaTime{666667})), 30);
    EXPECT_DOUBLE_EQ(EncoderOutputRate(".mpeg", 25), 25);
    EXPECT_DOUBLE_EQ(EncoderOutputRate(".mp4", 25), 0);
    EXPECT_DOUBLE_EQ(EncoderOutputRate(".avi", 25), 0);
}

TEST(EncoderCommand, RatesTheEncoderRefusesAreFound) {
    struct Case { int64_t avgTimePerFrame; const char* rate; bool usable; };
    // Unknown: 30 fps; 1/250 fps cannot be written, 1/100 fps can.
    const Case cases[] = {{0, "30", true},  {400000, "25.00", true}, {333667, "29.97", true},
                          {2500000000, "00.00", false}, {1000000000, "00.01", true}, {-5, "", false}};
    for (const Case& c : cases) {
        EXPECT_EQ(EncoderRateUsable(MediaTime{c.avgTimePerFrame}), c.usable) << c.avgTimePerFrame;
        if (c.avgTimePerFrame >= 0) {
            EXPECT_EQ(EncoderRate(MediaTime{c.avgTimePerFrame}), c.rate);
        }
    }
}

}  // namespace
}  // namespace tessaly
