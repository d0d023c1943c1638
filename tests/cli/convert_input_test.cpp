// The headless converter on movies whose streams need care: several video
// streams, frames at varying intervals, pictures stored rotated, files that
// decode only in part, damaged indexes. Every result is read back with
// ffprobe and ffmpeg, readers no one here wrote.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "tests/cli/converter_test_support.h"

namespace {

using namespace tessaly::testing;

class ConvertInputTest : public ConverterTest {
protected:
    static void SetUpTestSuite() { MakeSuiteFolder("input"); }

    // A movie made by one ffmpeg call with `arguments` before its name.
    std::string Movie(const std::string& name, const std::string& arguments) const {
        const std::string path = Out(name);
        const Outcome made = RunShell("ffmpeg -hide_banner -loglevel error -y " + arguments + " " + Quote(path));
        EXPECT_EQ(made.status, 0) << made.output;
        return path;
    }
};

// The stream ffmpeg decodes (the default one, here the second) gives rate,
// length and frames; a first stream at another rate changes nothing.
TEST_F(ConvertInputTest, TwoVideoStreamsTakeEverythingFromTheDecodedOne) {
    for (const char* firstRate : {"50", "5"}) {
        SCOPED_TRACE(firstRate);
        const std::string movie =
            Movie(std::string("in-") + firstRate + ".mp4",
                  std::string("-f lavfi -i testsrc=s=64x48:d=2:r=") + firstRate +
                      " -f lavfi -i testsrc2=s=192x144:r=25:d=2 -f lavfi -i sine=d=2 -map 0 -map 1 -map 2 "
                      "-c:v libx264 -pix_fmt yuv420p -c:a aac -disposition:v:0 0 -disposition:v:1 default");
        for (const char* mode : {"", "--stills bmp "}) {
            SCOPED_TRACE(mode);
            const std::string out = Out(std::string("two-") + firstRate + (*mode ? "-stills" : "") + ".mp4");
            const Outcome o = Convert(mode + Quote(movie) + " " + Quote(out));
            ASSERT_EQ(o.status, 0) << o.output;
            EXPECT_NE(o.output.find("50 frames converted to 146x146"), std::string::npos) << o.output;
            // The still path writes .mp4 at 30 fps: its length is what counts.
            if (*mode == '\0') {
                EXPECT_EQ(CountFrames(out), 50);
            }
            EXPECT_NEAR(StreamSeconds(out, "v:0"), 2.0, 0.05);
            EXPECT_NEAR(StreamSeconds(out, "a:0"), 2.0, 0.1);
        }
        const std::string log = Log();
        EXPECT_NE(log.find("Video stream = #1 of 2 video streams\r\n"), std::string::npos) << log;
        EXPECT_NE(log.find("FPS = 25.00\r\n"), std::string::npos) << log;
        EXPECT_NE(log.find("Frame Size = 192x144\r\n"), std::string::npos) << log;
    }
}

// Per video frame of a movie: its time and its mean brightness (ffmpeg's
// signalstats).
struct ShownFrame {
    double seconds = 0;
    double luma = 0;
};

std::vector<ShownFrame> ShownFrames(const std::string& path) {
    std::vector<ShownFrame> frames;
    const std::string text = Capture("ffprobe -v error -f lavfi " + Quote("movie=" + path + ",signalstats") +
                                     " -show_entries frame=pts_time:frame_tags=lavfi.signalstats.YAVG -of csv=p=0");
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        ShownFrame f;
        if (std::sscanf(line.c_str(), "%lf,%lf", &f.seconds, &f.luma) == 2) frames.push_back(f);
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return frames;
}

// Frames at varying intervals (30 at 50 fps, then 45 at 18.75 fps), each as
// bright as its own time says (luma 16 + 70 per second): every output frame
// must show the source frame due at its time, and picture and sound keep
// the movie's length, on both paths.
TEST_F(ConvertInputTest, FramesAtVaryingIntervalsKeepTheirTimes) {
    const std::string movie = Movie(
        "vfr.mp4",
        "-filter_complex \"testsrc2=s=160x120:r=25:d=3,settb=1/1000,"
        "setpts='if(lt(N,30),N*0.02,0.6+(N-30)*0.16/3)/TB',geq=lum='16+T*70':cb=128:cr=128[v];sine=d=3[a]\" "
        "-map '[v]' -map '[a]' -c:v libx264 -pix_fmt yuv420p -c:a aac -fps_mode passthrough -enc_time_base:v 1/1000");
    const double movieSeconds = StreamSeconds(movie, "v:0");
    ASSERT_GT(movieSeconds, 2.8);
    for (const char* mode : {"", "--stills bmp "}) {
        SCOPED_TRACE(mode);
        const std::string out = Out(*mode ? "vfr-stills.mp4" : "vfr-streamed.mp4");
        const Outcome o = Convert(mode + Quote(movie) + " " + Quote(out));
        ASSERT_EQ(o.status, 0) << o.output;
        const std::vector<ShownFrame> frames = ShownFrames(out);
        ASSERT_GT(frames.size(), 60u);
        double worst = 0, worstAt = 0;
        for (const ShownFrame& f : frames) {
            const double shows = (f.luma - 16) / 70;  // the source time of the frame shown
            // Due by now, and not older than the source's longest interval
            // plus one output frame.
            const double off = shows - f.seconds;
            if (std::fabs(off) > std::fabs(worst)) {
                worst = off;
                worstAt = f.seconds;
            }
        }
        EXPECT_LT(std::fabs(worst), 0.1) << "at " << worstAt << " s the frame of " << worstAt + worst << " s";
        const double video = StreamSeconds(out, "v:0");
        EXPECT_NEAR(video, movieSeconds, 0.08);
        EXPECT_NEAR(StreamSeconds(out, "a:0"), video, 0.08);
    }
}

// A movie stored turned a quarter (as phones store an upright shot) is cut
// upright: the log names the upright size, and its panorama is the one of
// the movie that ffmpeg wrote upright.
TEST_F(ConvertInputTest, TurnedMoviesAreConvertedUpright) {
    const std::string stored = Movie("stored.mp4", "-f lavfi -i testsrc2=s=240x180:r=25:d=0.4 -c:v libx264 -qp 0 "
                                                   "-pix_fmt yuv444p");
    const std::string turned = Movie("turned.mp4", "-i " + Quote(stored) + " -c copy -metadata:s:v:0 rotate=90");
    // ffmpeg turns it upright itself when it decodes it (its autorotate).
    const std::string upright = Movie("upright.mp4", "-i " + Quote(turned) + " -c:v libx264 -qp 0 -pix_fmt yuv444p");
    const Outcome a = Convert(Quote(turned) + " " + Quote(Out("a.mp4")));
    ASSERT_EQ(a.status, 0) << a.output;
    EXPECT_NE(Log().find("Frame Size = 180x240\r\n"), std::string::npos) << Log();
    const Outcome b = Convert(Quote(upright) + " " + Quote(Out("b.mp4")));
    ASSERT_EQ(b.status, 0) << b.output;
    EXPECT_GE(AveragePsnr(Out("a.mp4"), Out("b.mp4")), 40.0);
}

// Bytes of a file, cut to `keep` of the bytes after `marker` (none: whole).
void CutFileAfter(const std::string& path, const std::string& marker, double keep) {
    std::string bytes = ReadAll(path);
    const size_t at = bytes.find(marker);
    ASSERT_NE(at, std::string::npos) << marker;
    bytes.resize(at + static_cast<size_t>(static_cast<double>(bytes.size() - at) * keep));
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Writes `value` (big-endian, 32 bits) `offset` bytes after the first
// `marker` in the file: a damaged MP4 table.
void PatchAfter(const std::string& path, const std::string& marker, size_t offset, uint32_t value) {
    std::string bytes = ReadAll(path);
    const size_t at = bytes.find(marker);
    ASSERT_NE(at, std::string::npos) << marker;
    for (int i = 0; i < 4; ++i) bytes[at + offset + static_cast<size_t>(i)] = static_cast<char>(value >> (24 - 8 * i));
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// An MP4 whose index declares 50 frames but whose data ends after a few:
// what decodes is converted and the shortfall is said, in the summary and
// the log; --strict makes it a failure of its own.
TEST_F(ConvertInputTest, AMovieThatDecodesShortSaysSo) {
    const std::string movie = Movie("cut.mp4", "-f lavfi -i testsrc2=s=160x120:r=25:d=2 -c:v libx264 -g 10 "
                                               "-pix_fmt yuv420p -movflags +faststart");
    CutFileAfter(movie, "mdat", 0.2);
    const int decodable = CountFrames(movie);
    ASSERT_GT(decodable, 0);
    ASSERT_LT(decodable, 50);
    const std::string said = "converted " + std::to_string(decodable) + " of the 50 frames the file declares";

    for (const char* mode : {"", "--stills bmp "}) {
        SCOPED_TRACE(mode);
        const std::string out = Out(*mode ? "short-stills.mp4" : "short.mp4");
        const Outcome o = Convert(mode + Quote(movie) + " " + Quote(out));
        ASSERT_EQ(o.status, 0) << o.output;
        EXPECT_NE(o.output.find(said), std::string::npos) << o.output;
        EXPECT_NE(Log().find(said), std::string::npos);
        // What decoded is there, not stretched over the declared length.
        EXPECT_LT(StreamSeconds(out, "v:0"), (decodable + 2) / 25.0);

        const Outcome strict = Convert("--strict " + std::string(mode) + Quote(movie) + " " + Quote(out));
        EXPECT_EQ(strict.status, 4) << strict.output;
        EXPECT_NE(strict.output.find(said), std::string::npos) << strict.output;
    }
    // (A whole movie says nothing of the kind: EveryMovieIsConvertedToItsLastDecodableFrame.)
    // An index whose frame count is beyond what the file's bytes can hold
    // is not believed: the stream's length counts instead.
    const std::string counted = Movie("counted.mp4", "-f lavfi -i testsrc2=s=160x120:r=25:d=1 -c:v libx264 "
                                                     "-pix_fmt yuv420p -movflags +faststart");
    PatchAfter(counted, "stts", 12, 0x7fffffff);
    const Outcome c = Convert("--strict " + Quote(counted) + " " + Quote(Out("counted-out.mp4")));
    EXPECT_EQ(c.status, 0) << c.output;
    EXPECT_EQ(c.output.find("frames the file declares"), std::string::npos) << c.output;

}

// Damaged and unfinished movies get one line naming the file and what is
// wrong with it, instead of the desktop's message box text.
TEST_F(ConvertInputTest, DamagedMoviesAreNamedWithWhatIsWrong) {
    const std::string args = "-f lavfi -i testsrc2=s=160x120:r=25:d=1 -c:v libx264 -pix_fmt yuv420p";
    const std::string tables = Movie("tables.mp4", args + " -movflags +faststart");
    PatchAfter(tables, "stco", 8, 0x7fffffff);  // more chunk offsets than any file holds
    const std::string offsets = Movie("offsets.mp4", args + " -movflags +faststart");
    PatchAfter(offsets, "stco", 12, 0x7ffffff0);  // the first chunk far beyond the end
    const std::string unfinished = Movie("unfinished.mp4", args);
    CutFileAfter(unfinished, "mdat", 0.5);  // the index is written last: cut off
    const std::string garbled = Movie("garbled.mkv", "-f lavfi -i testsrc2=s=160x120:r=25:d=1 -c:v mpeg4");
    {
        // Every MPEG-4 start code of the video (headers and frames) and what
        // follows it overwritten; the container is left whole.
        std::string bytes = ReadAll(garbled);
        for (const char code : {'\xb0', '\xb6'}) {
            const std::string start{'\0', '\0', '\1', code};
            for (size_t at = bytes.find(start); at != std::string::npos; at = bytes.find(start, at + 4)) {
                for (size_t i = at; i < std::min(bytes.size(), at + 40); ++i) bytes[i] = static_cast<char>(0xff);
            }
        }
        std::ofstream(garbled, std::ios::binary | std::ios::trunc) << bytes;
    }
    struct Case {
        std::string movie;
        std::string reason;
    };
    const Case cases[] = {
        {tables, "the movie's index is damaged (moov atom: its tables claim more entries than can be loaded)"},
        {offsets, "the movie's index is damaged (moov atom: none of the video frames it lists can be read)"},
        {unfinished, "the movie's index is missing (no moov atom): the recording was probably not finished"},
    };
    for (const Case& c : cases) {
        for (const char* mode : {"", "--stills bmp "}) {
            const Outcome o = Convert(mode + Quote(c.movie) + " " + Quote(Out("o.mp4")));
            EXPECT_EQ(o.status, 3) << o.output;
            EXPECT_EQ(o.output, "tessaly-convert: cannot open " + c.movie + ": " + c.reason + "\n");
            EXPECT_FALSE(fs::exists(Out("o.mp4")));
        }
    }
    const Outcome o = Convert(Quote(garbled) + " " + Quote(Out("o.mp4")));
    EXPECT_EQ(o.status, 3) << o.output;
    EXPECT_EQ(o.output.find("Format of the file"), std::string::npos) << o.output;
    EXPECT_EQ(o.output, "tessaly-convert: cannot open " + garbled +
                            ": none of its 25 video packets could be decoded: the video data is damaged\n");
}

// Whole movies in every common container and codec, and damaged ones whose
// stated length, rate or sound is not what decodes: converted to their last
// decodable frame. A whole movie gives no word of damage under --strict (an
// AVI's empty chunk, a frame shown twice, counts as a frame it declares); what
// was converted of a damaged one is the movie, checked as such, not refused
// after the encode.
TEST_F(ConvertInputTest, EveryMovieIsConvertedToItsLastDecodableFrame) {
    const std::string picture = "-f lavfi -i testsrc2=s=160x120:r=25:d=2";
    const std::string sound = picture + " -f lavfi -i sine=d=2 -shortest";
    const auto halve = [](const std::string& path) { fs::resize_file(path, fs::file_size(path) / 2); };
    // A y4m header claiming a million frames a second.
    const auto fast = [](const std::string& path) {
        std::string bytes = ReadAll(path);
        bytes.replace(bytes.find("F25:1"), 5, "F1000000:1");
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    };
    const struct {
        const char* name;
        std::string args;
        std::function<void(const std::string&)> damage = nullptr;  // none: a whole movie
        const char* says = "";                           // besides the summary
    } cases[] = {
        {"a.mp4", sound + " -c:v libx264 -c:a aac"},
        {"a.mkv", sound + " -c:v libx264 -c:a aac"},
        {"a.avi", sound + " -c:v mpeg4 -g 12 -c:a libmp3lame"},
        {"b.avi", sound + " -c:v mpeg4 -g 12 -bf 2 -c:a libmp3lame"},
        {"c.avi", picture + " -c:v mpeg4 -g 12"},
        {"a.mov", sound + " -c:v libx264 -c:a aac"},
        {"a.webm", sound + " -c:v libvpx-vp9 -deadline realtime -c:a libopus"},
        {"a.ts", sound + " -c:v libx264 -c:a mp2"},
        {"a.nut", sound + " -c:v ffv1 -c:a flac"},
        {"a.y4m", picture + " -pix_fmt yuv420p"},
        {"cut.nut", sound + " -c:v ffv1 -c:a flac", halve},
        {"cut.ogv", sound + " -c:v libtheora -c:a libvorbis", halve, "holds no sound"},
        {"fast.y4m", picture + " -t 1 -pix_fmt yuv420p", fast},
    };
    for (const auto& c : cases) {
        const std::string movie = Movie(c.name, c.args);
        if (c.damage) c.damage(movie);
        const int frames = CountFrames(movie);
        ASSERT_GT(frames, 0) << c.name;
        for (const char* mode : {"", "--stills bmp "}) {
            if (!c.damage && *mode != '\0') continue;  // whole movies: streamed only
            SCOPED_TRACE(std::string(c.name) + " " + mode);
            const std::string out = movie + (*mode ? "-stills" : "") + ".mp4";
            const Outcome o = Convert(mode + std::string(c.damage ? "" : "--strict ") + "--cut 20,10,580,590 " +
                                      Quote(movie) + " " + Quote(out));
            ASSERT_EQ(o.status, 0) << o.output;
            EXPECT_NE(o.output.find(c.says), std::string::npos) << o.output;
            if (c.damage) {
                EXPECT_NE(o.output.find(std::to_string(frames) + " frames converted"), std::string::npos) << o.output;
                EXPECT_EQ(CountFrames(out), frames);
            } else {
                EXPECT_EQ(o.output.find("declares"), std::string::npos) << o.output;
                EXPECT_GE(CountFrames(out), frames);
            }
        }
    }
    EXPECT_TRUE(fs::is_empty(dir_ / "temp"));
}

}  // namespace

