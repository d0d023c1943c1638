// A movie converted in parts and joined, as a user (or a cluster job) runs
// it: the parts hold every frame of a whole run exactly once and in order,
// whatever the key frames and frame times of the source, and the join
// refuses parts that do not belong together, leaving nothing behind.
// What the files hold is read with ffprobe and ffmpeg, which no one here wrote.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "tests/cli/converter_copy.h"
#include "tests/capture_output.h"

namespace {

namespace fs = std::filesystem;

using tessaly::testing::CaptureOutput;
using tessaly::testing::RunShellCommand;
using tessaly::testing::ShellOutcome;
std::string Quote(const std::string& text) { return tessaly::testing::ShellQuote(text); }

int Frames(const std::string& movie) {
    return std::atoi(CaptureOutput("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                   "stream=nb_read_frames -of csv=p=0 " + Quote("file:" + movie) + " 2>/dev/null")
                         .c_str());
}

bool HasSound(const std::string& movie) {
    return !CaptureOutput("ffprobe -v error -select_streams a -show_entries stream=index -of csv=p=0 " +
                          Quote("file:" + movie) + " 2>/dev/null")
                .empty();
}

double VideoSeconds(const std::string& movie) {
    return std::atof(CaptureOutput("ffprobe -v error -select_streams v:0 -show_entries packet=pts_time,duration_time "
                                   "-of csv=p=0 " + Quote("file:" + movie) +
                                   " 2>/dev/null | awk -F, '{e=$1+$2; if(e>m)m=e; if(NR==1||$1<s)s=$1} END{print m-s}'")
                         .c_str());
}

// Per-frame PSNR (dB) of the frames of `a` against those of `b`, frame k of
// one against frame k + shift of the other; ffmpeg's psnr filter.
std::vector<double> FramePsnr(const std::string& a, const std::string& b, int shift = 0) {
    const std::string trim = shift > 0 ? "trim=start_frame=" + std::to_string(shift) + ",setpts=PTS-STARTPTS," : "";
    const std::string out = CaptureOutput(
        "ffmpeg -v error -i " + Quote("file:" + a) + " -i " + Quote("file:" + b) +
        " -lavfi '[0:v]settb=1/1000,setpts=N[x];[1:v]" + trim + "settb=1/1000,setpts=N[y];[x][y]psnr=stats_file=-' "
        "-f null - 2>/dev/null");
    std::vector<double> values;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t at = line.find("psnr_avg:");
        if (at == std::string::npos) continue;
        const std::string value = line.substr(at + 9, line.find(' ', at) - at - 9);
        values.push_back(value == "inf" ? 99.0 : std::atof(value.c_str()));
    }
    return values;
}

double Lowest(const std::vector<double>& values) {
    return values.empty() ? 0.0 : *std::min_element(values.begin(), values.end());
}

class MoviePartsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = fs::temp_directory_path() / ("tessaly_parts_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "temp");
        program_ = tessaly::testing::ConverterCopyIn(dir_);
        // 4.2 s at 25 fps: 105 frames, a key frame every 50, and sound.
        source_ = (dir_ / "sparse.mp4").string();
        Run(std::string(TESSALY_SOURCE_DIR) + "/tools/make-fisheye-clip " + Quote(source_) +
            " --size 160x120 --fps 25 --duration 4.2 --audio --extra '-g 50 -keyint_min 50 -sc_threshold 0'");
    }

    // The source in 4 parts, made once by the first test of this process
    // that needs them (ctest runs every test in a process of its own).
    static void MakeParts() {
        if (!parts_.empty()) return;
        for (int i = 1; i <= 4; ++i) {
            parts_.push_back((dir_ / ("part" + std::to_string(i) + ".mkv")).string());
            partRuns_.push_back(
                Convert("--part " + std::to_string(i) + "/4 " + Quote(source_) + " " + Quote(parts_.back())));
        }
    }
    static void MakeWhole() {
        if (!whole_.empty()) return;
        whole_ = (dir_ / "whole.mp4").string();
        wholeRun_ = Convert(Quote(source_) + " " + Quote(whole_));
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }

    static ShellOutcome Run(const std::string& command) { return RunShellCommand(command); }

    // Every run with the same cut (no circle search) and a temporary folder
    // that must be empty after it.
    static ShellOutcome Convert(const std::string& args) {
        return Run(Quote(program_.string()) + " --temp " + Quote((dir_ / "temp").string()) +
                   " --cut 20,10,580,590 " + args);
    }

    static std::string Joined(const std::vector<std::string>& parts) {
        std::string list;
        for (const std::string& p : parts) list += " " + Quote(p);
        return list;
    }

    // Files of the folder other than the ones the suite made on purpose.
    static std::vector<std::string> HiddenFiles() {
        std::vector<std::string> hidden;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            const std::string name = entry.path().filename().string();
            if (name[0] == '.') hidden.push_back(name);
        }
        for (const auto& entry : fs::directory_iterator(dir_ / "temp")) hidden.push_back(entry.path().string());
        return hidden;
    }

    static fs::path dir_;
    static fs::path program_;
    static std::string source_, whole_;
    static ShellOutcome wholeRun_;
    static std::vector<std::string> parts_;
    static std::vector<ShellOutcome> partRuns_;
};

fs::path MoviePartsTest::dir_;
fs::path MoviePartsTest::program_;
std::string MoviePartsTest::source_;
std::string MoviePartsTest::whole_;
ShellOutcome MoviePartsTest::wholeRun_;
std::vector<std::string> MoviePartsTest::parts_;
std::vector<ShellOutcome> MoviePartsTest::partRuns_;

TEST_F(MoviePartsTest, PartsHoldEveryFrameOnceInOrderAndJoinIntoTheWholeRun) {
    MakeWhole();
    MakeParts();
    ASSERT_EQ(wholeRun_.status, 0) << wholeRun_.output;
    const int sourceFrames = Frames(source_);
    ASSERT_EQ(sourceFrames, 105);
    ASSERT_EQ(Frames(whole_), sourceFrames);
    // 105 slots in 4 parts: 26, 26, 26, 27.
    const int expected[] = {26, 26, 26, 27};
    int sum = 0;
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(partRuns_[i].status, 0) << partRuns_[i].output;
        const int frames = Frames(parts_[i]);
        EXPECT_EQ(frames, expected[i]) << parts_[i];
        sum += frames;
        EXPECT_FALSE(HasSound(parts_[i])) << parts_[i];
        // Each part starts with a key frame.
        EXPECT_EQ(CaptureOutput("ffprobe -v error -select_streams v:0 -show_entries packet=flags -of csv=p=0 "
                                "-read_intervals '%+#1' " + Quote(parts_[i]))
                      .substr(0, 1),
                  "K")
            << parts_[i];
    }
    EXPECT_EQ(sum, sourceFrames);
    // The parts' frames, one after the other, are the whole run's frames:
    // every one matches its own frame (both are lossy encodings of the same
    // picture), and none its neighbour (the test pattern moves every frame),
    // so a frame twice or missing anywhere would show.
    const std::string list = (dir_ / "parts.txt").string();
    {
        std::ofstream out(list);
        for (const std::string& p : parts_) out << "file '" << p << "'\n";
    }
    const std::string concat = (dir_ / "concat.mkv").string();
    ASSERT_EQ(Run("ffmpeg -v error -f concat -safe 0 -i " + Quote(list) + " -c copy -y " + Quote(concat)).status, 0);
    const std::vector<double> same = FramePsnr(concat, whole_);
    ASSERT_EQ(same.size(), 105u);
    EXPECT_GT(Lowest(same), 35.0);
    const std::vector<double> shifted = FramePsnr(concat, whole_, 1);
    ASSERT_FALSE(shifted.empty());
    EXPECT_LT(Lowest(shifted), 30.0) << "neighbouring frames must differ for this check to mean anything";
    fs::remove(concat);
    EXPECT_TRUE(HiddenFiles().empty());

    // Joined: the whole run's frames, with sound and the 180-degree marking.
    const std::string out = (dir_ / "joined.mp4").string();
    const ShellOutcome o = Convert("--join " + Quote(source_) + " " + Quote(out) + Joined(parts_));
    ASSERT_EQ(o.status, 0) << o.output;
    EXPECT_NE(o.output.find("105 frames of 4 parts joined"), std::string::npos) << o.output;
    EXPECT_EQ(Frames(out), Frames(source_));
    EXPECT_NEAR(VideoSeconds(out), VideoSeconds(whole_), 1.0 / 25 + 0.002);
    EXPECT_TRUE(HasSound(out));
    const std::vector<double> psnr = FramePsnr(out, whole_);
    ASSERT_EQ(psnr.size(), 105u);
    EXPECT_GT(Lowest(psnr), 35.0);
    // The picture was copied, not encoded again: the parts' packets are the
    // joined movie's, a key frame's with at most its parameter sets added.
    const auto packetSizes = [](const std::string& files) {
        std::istringstream lines(CaptureOutput("for f in " + files + "; do ffprobe -v error -select_streams v:0 "
                                               "-show_entries packet=size,flags -of csv=p=0 \"$f\"; done"));
        std::vector<std::pair<int, bool>> sizes;
        std::string line;
        while (std::getline(lines, line)) sizes.emplace_back(std::atoi(line.c_str()), line.find(",K") != std::string::npos);
        return sizes;
    };
    const auto fromParts = packetSizes(Joined(parts_));
    const auto joined = packetSizes(Quote(out));
    ASSERT_EQ(fromParts.size(), joined.size());
    for (size_t i = 0; i < joined.size(); ++i) {
        const int added = joined[i].first - fromParts[i].first;
        if (fromParts[i].second) {
            EXPECT_TRUE(added >= 0 && added < 200) << "packet " << i;
        } else {
            EXPECT_EQ(added, 0) << "packet " << i;
        }
    }
    // Marked as 180-degree video, as a whole run's output is.
    const auto side = [](const std::string& movie) {
        return CaptureOutput("ffprobe -v error -select_streams v:0 -show_entries stream_side_data -of default " +
                             Quote(movie));
    };
    EXPECT_NE(side(out).find("equirectangular"), std::string::npos) << side(out);
    EXPECT_EQ(side(out), side(whole_));
    EXPECT_TRUE(HiddenFiles().empty());
}

TEST_F(MoviePartsTest, VariableFrameTimesPartitionToo) {
    // Frames 25, 50 and 75 (the first of parts 2, 3 and 4 of 100 slots) and
    // every seventh frame missing: their slots repeat the frame before, which
    // for a part's first slot lies in the part before.
    const std::string vfr = (dir_ / "vfr.mkv").string();
    ASSERT_EQ(Run("ffmpeg -v error -i " + Quote(source_) +
                  " -vf \"select='(not(eq(mod(n\\,25)\\,0))+eq(n\\,0))*not(eq(mod(n\\,7)\\,3))'\" "
                  "-fps_mode vfr -an -t 4 -c:v libx264 -g 50 -y " + Quote(vfr))
                  .status,
              0);
    const std::string whole = (dir_ / "vfr-whole.mp4").string();
    ASSERT_EQ(Convert(Quote(vfr) + " " + Quote(whole)).status, 0);
    const int wholeFrames = Frames(whole);
    EXPECT_GE(wholeFrames, 99);
    EXPECT_LT(Frames(vfr), wholeFrames - 10);  // the source really has gaps
    std::vector<std::string> parts;
    int sum = 0;
    for (int i = 1; i <= 4; ++i) {
        parts.push_back((dir_ / ("vfr" + std::to_string(i) + ".mkv")).string());
        const ShellOutcome o = Convert("--part " + std::to_string(i) + "/4 " + Quote(vfr) + " " + Quote(parts.back()));
        ASSERT_EQ(o.status, 0) << o.output;
        sum += Frames(parts.back());
    }
    EXPECT_EQ(sum, wholeFrames);
    const std::string out = (dir_ / "vfr-joined.mp4").string();
    const ShellOutcome o = Convert("--join " + Quote(vfr) + " " + Quote(out) + Joined(parts));
    ASSERT_EQ(o.status, 0) << o.output;
    EXPECT_EQ(Frames(out), wholeFrames);
    EXPECT_FALSE(HasSound(out));
    const std::vector<double> psnr = FramePsnr(out, whole);
    ASSERT_EQ(psnr.size(), static_cast<size_t>(wholeFrames));
    EXPECT_GT(Lowest(psnr), 35.0);
    EXPECT_TRUE(HiddenFiles().empty());
}

TEST_F(MoviePartsTest, AStreamWithoutAnIndexPartitionsToo) {
    // MPEG transport streams have no index: a seek there may land late,
    // and the part then reads from the start.
    const std::string ts = (dir_ / "stream.ts").string();
    ASSERT_EQ(Run("ffmpeg -v error -i " + Quote(source_) + " -c:v libx264 -g 40 -c:a mp2 -y " + Quote(ts)).status, 0);
    const std::string whole = (dir_ / "ts-whole.mp4").string();
    ASSERT_EQ(Convert(Quote(ts) + " " + Quote(whole)).status, 0);
    std::vector<std::string> parts;
    for (int i = 1; i <= 3; ++i) {
        parts.push_back((dir_ / ("ts" + std::to_string(i) + ".mkv")).string());
        const ShellOutcome o = Convert("--part " + std::to_string(i) + "/3 " + Quote(ts) + " " + Quote(parts.back()));
        ASSERT_EQ(o.status, 0) << o.output;
    }
    const std::string out = (dir_ / "ts-joined.mp4").string();
    const ShellOutcome o = Convert("--join " + Quote(ts) + " " + Quote(out) + Joined(parts));
    ASSERT_EQ(o.status, 0) << o.output;
    EXPECT_EQ(Frames(out), Frames(whole));
    EXPECT_TRUE(HasSound(out));
    const std::vector<double> psnr = FramePsnr(out, whole);
    ASSERT_EQ(psnr.size(), static_cast<size_t>(Frames(whole)));
    EXPECT_GT(Lowest(psnr), 35.0);
    EXPECT_TRUE(HiddenFiles().empty());
}

TEST_F(MoviePartsTest, JoinRefusesPartsThatDoNotBelongAndLeavesNothing) {
    MakeParts();
    ASSERT_EQ(partRuns_[1].status, 0);
    const std::string out = (dir_ / "refused.mp4").string();
    const auto join = [&](const std::vector<std::string>& parts) {
        return Convert("--join " + Quote(source_) + " " + Quote(out) + Joined(parts));
    };
    const auto expectRefused = [&](const ShellOutcome& o, int status, const std::string& names,
                                   const std::string& says) {
        EXPECT_EQ(o.status, status) << o.output;
        // One line, naming the part.
        EXPECT_EQ(std::count(o.output.begin(), o.output.end(), '\n'), 1) << o.output;
        EXPECT_NE(o.output.find(names), std::string::npos) << o.output;
        EXPECT_NE(o.output.find(says), std::string::npos) << o.output;
        EXPECT_FALSE(fs::exists(out));
        EXPECT_TRUE(HiddenFiles().empty());
    };
    const std::string& p1 = parts_[0];
    const std::string& p2 = parts_[1];
    const std::string& p3 = parts_[2];
    const std::string& p4 = parts_[3];

    expectRefused(join({p1, p2, p4}), 2, "part 3/4", "is missing");
    expectRefused(join({p1, p2, p2, p3, p4}), 2, p2, "repeats part 2/4");
    expectRefused(join({p1, p3, p2, p4}), 2, p3, "give the parts in order");
    const std::string gone = (dir_ / "gone.mkv").string();
    expectRefused(join({p1, p2, gone, p4}), 3, gone, "no such file");

    // Damaged: cut short, or not a movie at all.
    const std::string cut = (dir_ / "cut.mkv").string();
    fs::copy_file(p3, cut);
    fs::resize_file(cut, fs::file_size(cut) / 2);
    expectRefused(join({p1, p2, cut, p4}), 3, cut, "damaged");
    const std::string junk = (dir_ / "junk.mkv").string();
    {
        std::ofstream f(junk, std::ios::binary);
        for (int i = 0; i < 5000; ++i) f.put(static_cast<char>((i * 7919) & 0xff));
    }
    expectRefused(join({p1, p2, junk, p4}), 3, junk, "cannot use the part");
    // A movie that is no part.
    const std::string copy = (dir_ / "copy.mp4").string();
    fs::copy_file(source_, copy);
    expectRefused(join({p1, p2, copy, p4}), 3, copy, "no part tag");

    // Another lens setting, another codec, another movie.
    const std::string lens = (dir_ / "lens3.mkv").string();
    ASSERT_EQ(Convert("--lens stereographic --part 3/4 " + Quote(source_) + " " + Quote(lens)).status, 0);
    expectRefused(join({p1, p2, lens, p4}), 3, lens, "lens=stereographic");
    const std::string webm = (dir_ / "part3.webm").string();
    ASSERT_EQ(Convert("--part 3/4 " + Quote(source_) + " " + Quote(webm)).status, 0);
    expectRefused(join({p1, p2, webm, p4}), 3, webm, "vp9");
    const std::string other = (dir_ / "other.mp4").string();
    Run(std::string(TESSALY_SOURCE_DIR) + "/tools/make-fisheye-clip " + Quote(other) +
        " --size 192x144 --fps 30 --duration 4.2");
    const std::string foreign = (dir_ / "foreign3.mkv").string();
    ASSERT_EQ(Convert("--part 3/4 " + Quote(other) + " " + Quote(foreign)).status, 0);
    expectRefused(join({p1, p2, foreign, p4}), 3, foreign, "another movie");
    // Parts of webm video for an .mp4 output.
    expectRefused(join({webm}), 3, webm, "needs h264");

    // A failed join keeps a file that already had the output's name.
    {
        std::ofstream f(out);
        f << "keep me";
    }
    const ShellOutcome o = join({p1, p2, p4});
    EXPECT_EQ(o.status, 2);
    std::ifstream kept(out);
    std::string text;
    std::getline(kept, text);
    EXPECT_EQ(text, "keep me");
    fs::remove(out);
    EXPECT_TRUE(HiddenFiles().empty());
}

TEST_F(MoviePartsTest, PartOptionsThatCannotWork) {
    const auto refused = [&](const std::string& args, int status, const std::string& says) {
        const ShellOutcome o = Convert(args);
        EXPECT_EQ(o.status, status) << args << "\n" << o.output;
        EXPECT_NE(o.output.find(says), std::string::npos) << o.output;
        EXPECT_TRUE(HiddenFiles().empty());
    };
    refused("--part 1/2 " + Quote(source_) + " " + Quote((dir_ / "p.mpg").string()), 2, "MPEG-2 parts");
    refused("--part 1/2 " + Quote(source_) + " " + Quote((dir_ / "p.xyz").string()), 2, "unsupported extension");
    refused("--part 1/2 --stills bmp " + Quote(source_) + " " + Quote((dir_ / "p.mkv").string()), 2, "--stills");
    refused("--part 200/200 " + Quote(source_) + " " + Quote((dir_ / "p.mkv").string()), 3,
            "105 frames cannot be split into 200 parts");
    // Refused before any part is read.
    refused("--join " + Quote(source_) + " " + Quote((dir_ / "j.mpg").string()) + " " +
                Quote((dir_ / "none1.mkv").string()),
            2, "cannot be joined");
    EXPECT_FALSE(fs::exists(dir_ / "p.mkv"));
}

TEST_F(MoviePartsTest, StoppedPartsAndJoinsLeaveNothing) {
    MakeParts();
    // Stopped at some moment of the run, whichever phase that is: a stop
    // leaves no file and no temporary; a run that was quicker is complete.
    const std::string part = (dir_ / "stopped2.mkv").string();
    const std::string out = (dir_ / "stopped.mp4").string();
    const struct {
        std::string args;
        std::string file;
        int frames;
    } runs[] = {
        {"--part 2/4 " + Quote(source_) + " " + Quote(part), part, 26},
        {"--join " + Quote(source_) + " " + Quote(out) + Joined(parts_), out, 105},
    };
    for (const auto& run : runs) {
        for (const char* after : {"0.05", "0.3"}) {
            const ShellOutcome o = Run("timeout --preserve-status -s TERM " + std::string(after) + " " +
                                       Quote(program_.string()) + " --temp " + Quote((dir_ / "temp").string()) +
                                       " --cut 20,10,580,590 " + run.args);
            if (o.status == 0) {
                EXPECT_EQ(Frames(run.file), run.frames) << run.args;
            } else {
                EXPECT_EQ(o.status, 143) << run.args << "\n" << o.output;
                EXPECT_FALSE(fs::exists(run.file)) << run.args;
            }
            fs::remove(run.file);
            EXPECT_TRUE(HiddenFiles().empty()) << run.args;
        }
    }
}

TEST_F(MoviePartsTest, DamagedPartsAreCalledDamagedBeforeAnythingElse) {
    MakeParts();
    ASSERT_EQ(partRuns_[1].status, 0);
    const std::string out = (dir_ / "damaged.mp4").string();
    const auto damaged = [&](const std::string& name, const std::function<void(std::string&)>& change) {
        std::ifstream in(parts_[1], std::ios::binary);
        std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        change(bytes);
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
        return path;
    };
    // Bytes flipped across the middle of the file, where its frames are.
    const auto flip = [](int count) {
        return [count](std::string& bytes) {
            for (int i = 0; i < count; ++i) bytes[bytes.size() * (40 + i * 20 / count) / 100] ^= 0x55;
        };
    };
    const struct {
        std::string part;
    } cases[] = {
        {damaged("flip5.mkv", flip(5))},
        {damaged("flip100.mkv", flip(100))},
        // A changed setting in the tag, the frames untouched.
        {damaged("retagged.mkv", [](std::string& b) { b.replace(b.find("equidistant"), 11, "equi1istant"); })},
    };
    for (const auto& c : cases) {
        const ShellOutcome o = Convert("--join " + Quote(source_) + " " + Quote(out) +
                                       Joined({parts_[0], c.part, parts_[2], parts_[3]}));
        EXPECT_EQ(o.status, 3) << o.output;
        EXPECT_NE(o.output.find("cannot use the part " + c.part + ": it is damaged"), std::string::npos) << o.output;
        EXPECT_EQ(o.output.find("settings"), std::string::npos) << o.output;
        EXPECT_FALSE(fs::exists(out));
    }
    EXPECT_TRUE(HiddenFiles().empty());
}

TEST_F(MoviePartsTest, APartOfAMovieThatDecodesShortSaysSoAndIsNotJoined) {
    // 50 frames declared, the last tenth of the file gone.
    const std::string cut = (dir_ / "cut.mp4").string();
    ASSERT_EQ(Run("ffmpeg -v error -f lavfi -i testsrc2=s=160x120:r=25:d=2 -f lavfi -i sine=d=2 -shortest "
                  "-c:v libx264 -g 10 -c:a aac -movflags +faststart -y " + Quote(cut)).status,
              0);
    fs::resize_file(cut, fs::file_size(cut) * 9 / 10);
    const std::string p1 = (dir_ / "cut1.mkv").string();
    const std::string p2 = (dir_ / "cut2.mkv").string();
    const ShellOutcome first = Convert("--strict --part 1/2 " + Quote(cut) + " " + Quote(p1));
    EXPECT_EQ(first.status, 0) << first.output;
    const ShellOutcome strict = Convert("--strict --part 2/2 " + Quote(cut) + " " + Quote(p2));
    EXPECT_EQ(strict.status, 4) << strict.output;
    EXPECT_NE(strict.output.find("of the 50 frames the file declares"), std::string::npos) << strict.output;
    const ShellOutcome second = Convert("--part 2/2 " + Quote(cut) + " " + Quote(p2));
    ASSERT_EQ(second.status, 0) << second.output;
    EXPECT_NE(second.output.find("warning: converted"), std::string::npos) << second.output;
    // Not stretched over the slots the movie no longer has.
    EXPECT_LT(Frames(p2), 24);
    const std::string out = (dir_ / "cut-joined.mp4").string();
    const ShellOutcome join = Convert("--join " + Quote(cut) + " " + Quote(out) + Joined({p1, p2}));
    EXPECT_EQ(join.status, 3) << join.output;
    EXPECT_NE(join.output.find("cannot use the part " + p2 + ": its frames fall short of its slots"),
              std::string::npos)
        << join.output;
    EXPECT_FALSE(fs::exists(out));
    EXPECT_TRUE(HiddenFiles().empty());
}

TEST_F(MoviePartsTest, JoinedMoviesHaveExactFrameTimes) {
    for (const auto& [rate, num, den] : {std::tuple{"30000/1001", 30000, 1001}, std::tuple{"30", 30, 1}}) {
        SCOPED_TRACE(rate);
        const std::string source = (dir_ / "rate.mp4").string();
        ASSERT_EQ(Run("ffmpeg -v error -f lavfi -i testsrc2=s=160x120:d=1:r=" + std::string(rate) +
                      " -c:v libx264 -y " + Quote(source)).status,
                  0);
        std::vector<std::string> parts;
        for (int i = 1; i <= 2; ++i) {
            parts.push_back((dir_ / ("rate" + std::to_string(i) + ".mkv")).string());
            ASSERT_EQ(Convert("--part " + std::to_string(i) + "/2 " + Quote(source) + " " + Quote(parts.back())).status,
                      0);
        }
        const std::string out = (dir_ / "rate-joined.mp4").string();
        const ShellOutcome o = Convert("--join " + Quote(source) + " " + Quote(out) + Joined(parts));
        ASSERT_EQ(o.status, 0) << o.output;
        std::istringstream times(CaptureOutput("ffprobe -v error -select_streams v:0 -show_entries packet=pts_time "
                                               "-of csv=p=0 " + Quote(out) + " | sort -g"));
        int frame = 0;
        for (std::string line; std::getline(times, line); ++frame) {
            EXPECT_NEAR(std::atof(line.c_str()), static_cast<double>(frame) * den / num, 2e-6) << "frame " << frame;
        }
        EXPECT_EQ(frame, Frames(source));
        fs::remove(out);
    }
    EXPECT_TRUE(HiddenFiles().empty());
}

}  // namespace

