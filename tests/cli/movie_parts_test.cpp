// A movie converted in parts and joined, as a user (or a cluster job) runs
// it: the parts hold every frame of a whole run exactly once and in order,
// whatever the key frames and frame times of the source, and the join
// refuses parts that do not belong together, leaving nothing behind.
// What the files hold is read with ffprobe and ffmpeg, which no one here wrote.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/cli/converter_test_support.h"

namespace {

using namespace tessaly::testing;

// Per-frame PSNR (dB) of the frames of `a` against those of `b`, frame k of
// one against frame k + shift of the other; ffmpeg's psnr filter.
std::vector<double> FramePsnr(const std::string& a, const std::string& b, int shift = 0) {
    const std::string trim = shift > 0 ? "trim=start_frame=" + std::to_string(shift) + ",setpts=PTS-STARTPTS," : "";
    const std::string out = Capture(
        "ffmpeg -v error -i " + Quote("file:" + a) + " -i " + Quote("file:" + b) +
        " -lavfi '[0:v]settb=1/1000,setpts=N[x];[1:v]" + trim + "settb=1/1000,setpts=N[y];[x][y]psnr=stats_file=-' "
        "-f null -");
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

// The sizes of a movie's video packets, and which are key frames.
std::vector<std::pair<int, bool>> PacketSizes(const std::string& files) {
    std::istringstream lines(CaptureOutput("for f in " + files + "; do ffprobe -v error -select_streams v:0 "
                                           "-show_entries packet=size,flags -of csv=p=0 \"$f\"; done"));
    std::vector<std::pair<int, bool>> sizes;
    for (std::string line; std::getline(lines, line);) {
        sizes.emplace_back(std::atoi(line.c_str()), line.find(",K") != std::string::npos);
    }
    return sizes;
}

class MoviePartsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = fs::temp_directory_path() / ("tessaly_parts_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "temp");
        program_ = ConverterCopyIn(dir_);
        // 4.2 s at 25 fps: 105 frames, a key frame every 50, and sound.
        source_ = (dir_ / "sparse.mp4").string();
        MakeFisheyeClip(source_, "160x120", 25, "4.2", true, "-g 50 -keyint_min 50 -sc_threshold 0");
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }

    // The source in 4 parts and as a whole run, made once by the first test
    // of this process that needs them (ctest runs every test in a process of its own).
    static void MakeParts() {
        if (!parts_.empty()) return;
        for (int i = 1; i <= 4; ++i) {
            parts_.push_back((dir_ / ("part" + std::to_string(i) + ".mkv")).string());
            partRuns_.push_back(Convert(PartOf(i, 4, source_, parts_.back())));
        }
        whole_ = (dir_ / "whole.mp4").string();
        wholeRun_ = Convert(Quote(source_) + " " + Quote(whole_));
    }

    // Every run with the same cut (no circle search) and a temporary folder
    // that must be empty after it.
    static Outcome Convert(const std::string& args) {
        return RunShell(Quote(program_.string()) + " --temp " + Quote((dir_ / "temp").string()) +
                        " --cut 20,10,580,590 " + args);
    }
    static std::string PartOf(int i, int count, const std::string& source, const std::string& part) {
        return "--part " + std::to_string(i) + "/" + std::to_string(count) + " " + Quote(source) + " " + Quote(part);
    }
    static std::string Joined(const std::vector<std::string>& parts) {
        std::string list;
        for (const std::string& p : parts) list += " " + Quote(p);
        return list;
    }
    static std::string Path(const std::string& name) { return (dir_ / name).string(); }

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

    // A join of `parts` into `out` is refused with `status`, in one line
    // that names `names` and says `says`, and leaves nothing.
    static Outcome ExpectJoinRefused(const std::vector<std::string>& parts, int status, const std::string& names,
                                     const std::string& says) {
        const std::string out = Path("refused.mp4");
        const Outcome o = Convert("--join " + Quote(source_) + " " + Quote(out) + Joined(parts));
        EXPECT_EQ(o.status, status) << o.output;
        EXPECT_EQ(std::count(o.output.begin(), o.output.end(), '\n'), 1) << o.output;
        EXPECT_NE(o.output.find(names), std::string::npos) << o.output;
        EXPECT_NE(o.output.find(says), std::string::npos) << o.output;
        EXPECT_FALSE(fs::exists(out));
        EXPECT_TRUE(HiddenFiles().empty());
        return o;
    }

    // A copy of part 2 changed by `change`.
    static std::string Damaged(const std::string& name, const std::function<void(std::string&)>& change) {
        std::string bytes = ReadAll(parts_[1]);
        change(bytes);
        std::ofstream(Path(name), std::ios::binary | std::ios::trunc) << bytes;
        return Path(name);
    }

    inline static fs::path dir_;
    inline static fs::path program_;
    inline static std::string source_, whole_;
    inline static Outcome wholeRun_;
    inline static std::vector<std::string> parts_;
    inline static std::vector<Outcome> partRuns_;
};

// Each part holds its share of the slots (105 in 4 parts: 26, 26, 26, 27),
// starts with a key frame and has no sound; joined, they are the whole
// run's frames, with sound, the picture copied, not encoded again. Every joined frame matches its own frame of the whole
// run (both are lossy encodings of the same picture) and none its neighbour
// (the test pattern moves every frame), so a frame twice or missing anywhere
// would show. (The parts' frames are the whole run's, byte for byte, and the
// join keeps the 180-degree marking: ConvertJobTest.)
TEST_F(MoviePartsTest, PartsJoinIntoTheWholeRun) {
    MakeParts();
    ASSERT_EQ(wholeRun_.status, 0) << wholeRun_.output;
    ASSERT_EQ(CountFrames(source_), 105);
    ASSERT_EQ(CountFrames(whole_), 105);
    const int expected[] = {26, 26, 26, 27};
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(partRuns_[i].status, 0) << partRuns_[i].output;
        EXPECT_EQ(CountFrames(parts_[i]), expected[i]) << parts_[i];
        EXPECT_FALSE(HasSound(parts_[i])) << parts_[i];
        EXPECT_TRUE(PacketSizes(Quote(parts_[i])).at(0).second) << parts_[i];
    }
    const std::string out = Path("joined.mp4");
    const Outcome o = Convert("--join " + Quote(source_) + " " + Quote(out) + Joined(parts_));
    ASSERT_EQ(o.status, 0) << o.output;
    EXPECT_NE(o.output.find("105 frames of 4 parts joined"), std::string::npos) << o.output;
    EXPECT_EQ(CountFrames(out), 105);
    EXPECT_NEAR(StreamSeconds(out, "v:0"), StreamSeconds(whole_, "v:0"), 1.0 / 25 + 0.002);
    EXPECT_TRUE(HasSound(out));
    const std::vector<double> psnr = FramePsnr(out, whole_);
    ASSERT_EQ(psnr.size(), 105u);
    EXPECT_GT(Lowest(psnr), 35.0);
    const std::vector<double> shifted = FramePsnr(out, whole_, 1);
    ASSERT_FALSE(shifted.empty());
    EXPECT_LT(Lowest(shifted), 30.0) << "neighbouring frames must differ for this check to mean anything";
    // The parts' packets are the joined movie's, a key frame's with at most
    // its parameter sets added.
    const auto fromParts = PacketSizes(Joined(parts_));
    const auto joined = PacketSizes(Quote(out));
    ASSERT_EQ(fromParts.size(), joined.size());
    for (size_t i = 0; i < joined.size(); ++i) {
        const int added = joined[i].first - fromParts[i].first;
        EXPECT_TRUE(fromParts[i].second ? added >= 0 && added < 200 : added == 0) << "packet " << i;
    }
    EXPECT_TRUE(HiddenFiles().empty());
}

// Sources whose frames come at varying times, that have no index, or whose
// rate is not whole: the parts together hold the whole run's frames, and
// their join is the whole run, with exact frame times.
TEST_F(MoviePartsTest, EveryKindOfSourceSplitsAndJoinsIntoItsWholeRun) {
    const struct {
        const char* name;
        std::string make;  // ffmpeg's arguments before the source's name
        int parts;
        bool sound;
        int rateNum, rateDen;  // the joined frames' times; 0: not looked at
    } cases[] = {
        // Frames 25, 50 and 75 (the first of parts 2, 3 and 4 of 100 slots)
        // and every seventh frame missing: their slots repeat the frame
        // before, which for a part's first slot lies in the part before.
        {"vfr.mkv", "-i " + Quote(source_) +
                        " -vf \"select='(not(eq(mod(n\\,25)\\,0))+eq(n\\,0))*not(eq(mod(n\\,7)\\,3))'\" "
                        "-fps_mode vfr -an -t 4 -c:v libx264 -g 50",
         4, false, 0, 0},
        // MPEG transport streams have no index: a seek there may land late,
        // and the part then reads from the start.
        {"stream.ts", "-i " + Quote(source_) + " -c:v libx264 -g 40 -c:a mp2", 3, true, 0, 0},
        {"ntsc.mp4", "-f lavfi -i testsrc2=s=160x120:d=1:r=30000/1001 -c:v libx264", 2, false, 30000, 1001},
        {"thirty.mp4", "-f lavfi -i testsrc2=s=160x120:d=1:r=30 -c:v libx264", 2, false, 30, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string source = Path(c.name);
        ASSERT_EQ(RunShell("ffmpeg -v error " + c.make + " -y " + Quote(source)).status, 0);
        const std::string whole = Path(std::string("whole-") + c.name + ".mp4");
        ASSERT_EQ(Convert(Quote(source) + " " + Quote(whole)).status, 0);
        const int wholeFrames = CountFrames(whole);
        EXPECT_GE(wholeFrames, CountFrames(source));
        std::vector<std::string> parts;
        int sum = 0;
        for (int i = 1; i <= c.parts; ++i) {
            parts.push_back(Path(std::string(c.name) + std::to_string(i) + ".mkv"));
            const Outcome o = Convert(PartOf(i, c.parts, source, parts.back()));
            ASSERT_EQ(o.status, 0) << o.output;
            sum += CountFrames(parts.back());
        }
        EXPECT_EQ(sum, wholeFrames);
        const std::string out = Path("joined.mp4");
        const Outcome o = Convert("--join " + Quote(source) + " " + Quote(out) + Joined(parts));
        ASSERT_EQ(o.status, 0) << o.output;
        EXPECT_EQ(CountFrames(out), wholeFrames);
        EXPECT_EQ(HasSound(out), c.sound);
        const std::vector<double> psnr = FramePsnr(out, whole);
        ASSERT_EQ(psnr.size(), static_cast<size_t>(wholeFrames));
        EXPECT_GT(Lowest(psnr), 35.0);
        std::istringstream times(Capture("ffprobe -v error -select_streams v:0 -show_entries packet=pts_time "
                                         "-of csv=p=0 " + Quote(out) + " | sort -g"));
        int frame = 0;
        for (std::string line; std::getline(times, line) && c.rateNum > 0; ++frame) {
            EXPECT_NEAR(std::atof(line.c_str()), static_cast<double>(frame) * c.rateDen / c.rateNum, 2e-6) << frame;
        }
        EXPECT_TRUE(c.rateNum == 0 || frame == CountFrames(source)) << frame;
        fs::remove(out);
        EXPECT_TRUE(HiddenFiles().empty());
    }
    // The variable frame times really have gaps.
    const int vfrFrames = CountFrames(Path("whole-vfr.mkv.mp4"));
    EXPECT_GE(vfrFrames, 99);
    EXPECT_LT(CountFrames(Path("vfr.mkv")), vfrFrames - 10);
}

TEST_F(MoviePartsTest, JoinRefusesPartsThatDoNotBelong) {
    MakeParts();
    ASSERT_EQ(partRuns_[1].status, 0);
    const std::string& p1 = parts_[0];
    const std::string& p2 = parts_[1];
    const std::string& p3 = parts_[2];
    const std::string& p4 = parts_[3];
    ExpectJoinRefused({p1, p2, p4}, 2, "part 3/4", "is missing");
    ExpectJoinRefused({p1, p2, p2, p3, p4}, 2, p2, "repeats part 2/4");
    ExpectJoinRefused({p1, p3, p2, p4}, 2, p3, "give the parts in order");
    const std::string gone = Path("gone.mkv");
    ExpectJoinRefused({p1, p2, gone, p4}, 3, gone, "no such file");
    // A movie that is no part.
    const std::string copy = Path("copy.mp4");
    fs::copy_file(source_, copy);
    ExpectJoinRefused({p1, p2, copy, p4}, 3, copy, "no part tag");
    // Another lens setting, another codec, another movie.
    const std::string lens = Path("lens3.mkv");
    ASSERT_EQ(Convert("--lens stereographic " + PartOf(3, 4, source_, lens)).status, 0);
    ExpectJoinRefused({p1, p2, lens, p4}, 3, lens, "lens=stereographic");
    const std::string webm = Path("part3.webm");
    ASSERT_EQ(Convert(PartOf(3, 4, source_, webm)).status, 0);
    ExpectJoinRefused({p1, p2, webm, p4}, 3, webm, "vp9");
    const std::string other = Path("other.mp4");
    MakeFisheyeClip(other, "192x144", 30, "4.2", false);
    const std::string foreign = Path("foreign3.mkv");
    ASSERT_EQ(Convert(PartOf(3, 4, other, foreign)).status, 0);
    ExpectJoinRefused({p1, p2, foreign, p4}, 3, foreign, "another movie");
    // Parts of webm video for an .mp4 output.
    ExpectJoinRefused({webm}, 3, webm, "needs h264");

    // A failed join keeps a file that already had the output's name.
    const std::string out = Path("refused.mp4");
    std::ofstream(out) << "keep me";
    EXPECT_EQ(Convert("--join " + Quote(source_) + " " + Quote(out) + Joined({p1, p2, p4})).status, 2);
    EXPECT_EQ(ReadAll(out), "keep me");
    fs::remove(out);
    EXPECT_TRUE(HiddenFiles().empty());
}

// Damaged parts are called damaged before anything else (a changed setting
// in the tag, its frames untouched, is no other setting).
TEST_F(MoviePartsTest, DamagedPartsAreCalledDamaged) {
    MakeParts();
    ASSERT_EQ(partRuns_[1].status, 0);
    // Bytes flipped across the middle of the file, where its frames are.
    const auto flip = [](int count) {
        return [count](std::string& bytes) {
            for (int i = 0; i < count; ++i) bytes[bytes.size() * (40 + i * 20 / count) / 100] ^= 0x55;
        };
    };
    std::string junk;
    for (int i = 0; i < 5000; ++i) junk += static_cast<char>((i * 7919) & 0xff);
    const std::string parts[] = {
        Damaged("flip5.mkv", flip(5)),
        Damaged("flip100.mkv", flip(100)),
        Damaged("retagged.mkv", [](std::string& b) { b.replace(b.find("equidistant"), 11, "equi1istant"); }),
        Damaged("cut.mkv", [](std::string& b) { b.resize(b.size() / 2); }),
    };
    for (const std::string& part : parts) {
        SCOPED_TRACE(part);
        const Outcome o = ExpectJoinRefused({parts_[0], part, parts_[2], parts_[3]}, 3,
                                            "cannot use the part " + part + ": it is damaged", "damaged");
        EXPECT_EQ(o.output.find("settings"), std::string::npos) << o.output;
    }
    const std::string junkPart = Damaged("junk.mkv", [&junk](std::string& b) { b = junk; });
    ExpectJoinRefused({parts_[0], junkPart, parts_[2], parts_[3]}, 3, junkPart, "cannot use the part");
}

TEST_F(MoviePartsTest, PartOptionsThatCannotWork) {
    const auto refused = [&](const std::string& args, int status, const std::string& says) {
        const Outcome o = Convert(args);
        EXPECT_EQ(o.status, status) << args << "\n" << o.output;
        EXPECT_NE(o.output.find(says), std::string::npos) << o.output;
        EXPECT_TRUE(HiddenFiles().empty());
    };
    refused(PartOf(1, 2, source_, Path("p.mpg")), 2, "MPEG-2 parts");
    refused(PartOf(1, 2, source_, Path("p.xyz")), 2, "unsupported extension");
    refused("--stills bmp " + PartOf(1, 2, source_, Path("p.mkv")), 2, "--stills");
    refused(PartOf(200, 200, source_, Path("p.mkv")), 3, "105 frames cannot be split into 200 parts");
    // Refused before any part is read.
    refused("--join " + Quote(source_) + " " + Quote(Path("j.mpg")) + " " + Quote(Path("none1.mkv")), 2,
            "cannot be joined");
    EXPECT_FALSE(fs::exists(dir_ / "p.mkv"));
}

TEST_F(MoviePartsTest, StoppedPartsAndJoinsLeaveNothing) {
    MakeParts();
    // Stopped at some moment of the run, whichever phase that is: a stop
    // leaves no file and no temporary; a run that was quicker is complete.
    const std::string part = Path("stopped2.mkv");
    const std::string out = Path("stopped.mp4");
    const struct {
        std::string args;
        std::string file;
        int frames;
    } runs[] = {
        {PartOf(2, 4, source_, part), part, 26},
        {"--join " + Quote(source_) + " " + Quote(out) + Joined(parts_), out, 105},
    };
    for (const auto& run : runs) {
        for (const char* after : {"0.05", "0.3"}) {
            const Outcome o = RunShell("timeout --preserve-status -s TERM " + std::string(after) + " " +
                                       Quote(program_.string()) + " --temp " + Quote((dir_ / "temp").string()) +
                                       " --cut 20,10,580,590 " + run.args);
            if (o.status == 0) {
                EXPECT_EQ(CountFrames(run.file), run.frames) << run.args;
            } else {
                EXPECT_EQ(o.status, 143) << run.args << "\n" << o.output;
                EXPECT_FALSE(fs::exists(run.file)) << run.args;
            }
            fs::remove(run.file);
            EXPECT_TRUE(HiddenFiles().empty()) << run.args;
        }
    }
}

TEST_F(MoviePartsTest, APartOfAMovieThatDecodesShortSaysSoAndIsNotJoined) {
    // 50 frames declared, the last tenth of the file gone.
    const std::string cut = Path("cut.mp4");
    ASSERT_EQ(RunShell("ffmpeg -v error -f lavfi -i testsrc2=s=160x120:r=25:d=2 -f lavfi -i sine=d=2 -shortest "
                       "-c:v libx264 -g 10 -c:a aac -movflags +faststart -y " + Quote(cut)).status,
              0);
    fs::resize_file(cut, fs::file_size(cut) * 9 / 10);
    const std::string p1 = Path("cut1.mkv");
    const std::string p2 = Path("cut2.mkv");
    const Outcome first = Convert("--strict " + PartOf(1, 2, cut, p1));
    EXPECT_EQ(first.status, 0) << first.output;
    const Outcome strict = Convert("--strict " + PartOf(2, 2, cut, p2));
    EXPECT_EQ(strict.status, 4) << strict.output;
    EXPECT_NE(strict.output.find("of the 50 frames the file declares"), std::string::npos) << strict.output;
    const Outcome second = Convert(PartOf(2, 2, cut, p2));
    ASSERT_EQ(second.status, 0) << second.output;
    EXPECT_NE(second.output.find("warning: converted"), std::string::npos) << second.output;
    // Not stretched over the slots the movie no longer has.
    EXPECT_LT(CountFrames(p2), 24);
    const std::string out = Path("cut-joined.mp4");
    const Outcome join = Convert("--join " + Quote(cut) + " " + Quote(out) + Joined({p1, p2}));
    EXPECT_EQ(join.status, 3) << join.output;
    EXPECT_NE(join.output.find("cannot use the part " + p2 + ": its frames fall short of its slots"),
              std::string::npos)
        << join.output;
    EXPECT_FALSE(fs::exists(out));
    EXPECT_TRUE(HiddenFiles().empty());
}

}  // namespace
