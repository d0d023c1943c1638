// One job, run every way tessaly-convert runs it: from options, saved with
// --save-job and run with --job (under another parameter file beside the
// program), and as three parts joined. The converted frames are caught on
// their way into the encoder (an encoder of the test's own that copies its
// piped input and hands it to ffmpeg) and must be the same bytes; the
// encoded outputs are compared with ffmpeg's framemd5, their 180-degree
// marking (mono or stereo) with ffprobe's.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/parameter_file.h"
#include "tests/cli/converter_test_support.h"

namespace {

using namespace tessaly::testing;

// The decoded picture of a movie, frame by frame (ffmpeg's framemd5).
std::string FrameHashes(const fs::path& movie) {
    return CaptureOutput("ffmpeg -v error -i " + Quote("file:" + movie.string()) +
                         " -map 0:v -f framemd5 - 2>/dev/null | grep -v '^#'");
}

// The VR marking ffprobe reads from a movie's first video stream.
std::string Marking(const std::string& movie) {
    return CaptureOutput("ffprobe -v error -select_streams v:0 -show_streams " + Quote(movie) +
                         " | grep -E '^(type|projection|bound_[a-z]+)='");
}

class ConvertJobTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = fs::temp_directory_path() / ("tessaly_jobs_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "temp");
        program_ = ConverterCopyIn(dir_ / "node");
        // The encoder beside the program (looked for before the one on PATH):
        // ffmpeg itself, with the frames piped into it copied to $TAP.
        const fs::path encoder = dir_ / "node" / "prog" / "PLUG-IN" / "ffmpeg_III";
        fs::create_directories(encoder.parent_path());
        std::ofstream(encoder) << "#!/bin/sh\n"
                                  "for a in \"$@\"; do\n"
                                  "  if [ \"$a\" = pipe:0 ] && [ -n \"$TAP\" ]; then tee \"$TAP\" | ffmpeg \"$@\"; exit $?; fi\n"
                                  "done\n"
                                  "exec ffmpeg \"$@\"\n";
        fs::permissions(encoder, fs::perms::owner_all, fs::perm_options::add);
        // A name with a blank, a quote and non-ASCII letters.
        source_ = (dir_ / "fïlm 'one'.mp4").string();
        MakeFisheyeClip(source_, "160x120", 25, "1.2", true);
        // The clip twice side by side: two eyes (the runs turn one by --right-roll).
        dualSource_ = (dir_ / "dual fisheye.mp4").string();
        RunShell("ffmpeg -v error -nostdin -i " + Quote(source_) +
                        " -filter_complex \"[0:v]split[l][r];[l][r]hstack\" -c:a copy " + Quote(dualSource_));
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }

    // One run of the program; the frames it encodes go to `tap`.
    static Outcome Convert(const std::string& args, const fs::path& tap = {}) {
        return RunShell("TAP=" + Quote(tap.string()) + " " + Quote(program_.string()) + " " + args);
    }

    // A parameter file beside the program that sharpens, brightens and cuts
    // otherwise: a run that read it would make other pictures.
    static void WriteOtherParameterFile() {
        tessaly::AppSettings other;
        other.SHARPEN = 5;
        other.BRIGHTNESS_CH = 1;
        other.BRIGHTNESS = 40;
        other.XL1 = 100;
        other.lens.yaw = 30;
        std::ofstream(program_.parent_path() / "Tessaly.ini")
            << tessaly::SerializeParameters(other, tessaly::ScreenSize{1920, 1080});
    }

    static fs::path dir_;
    static fs::path program_;
    static std::string source_;
    static std::string dualSource_;
};

fs::path ConvertJobTest::dir_;
fs::path ConvertJobTest::program_;
std::string ConvertJobTest::source_;
std::string ConvertJobTest::dualSource_;

TEST_F(ConvertJobTest, OneJobGivesTheSamePicturesFromOptionsFromItsFileAndInParts) {
    struct Settings {
        const char* name;
        std::string options;
        std::string source = source_;
    };
    const Settings sets[] = {
        {"found circle", ""},
        {"lens", "--lens stereographic --fov 200 --yaw 10.5 --pitch -5.25 --roll 3"},
        {"filters", "--sharpen 4,2 --brightness 150 --contrast 90 --noise 2"},
        {"flip and quality", "--flip --quality 15 --cut 20,10,580,590"},
        {"size and circle", "--resize 2 --circle 80.5,59.75,58 --sharpen off"},
        // Each eye's circle found and the eyes aligned once, by --save-job.
        {"stereo", "--stereo sbs --stereo-out tb --right-roll 2 --sharpen 3", dualSource_},
    };
    const std::string temp = " --temp " + Quote((dir_ / "temp").string()) + " ";
    for (const Settings& set : sets) {
        SCOPED_TRACE(set.name);
        fs::remove(program_.parent_path() / "Tessaly.ini");
        const fs::path run = dir_ / "run";
        fs::remove_all(run);
        fs::create_directories(run);
        const std::string direct = (run / "direct.mp4").string();
        const std::string viaJob = (run / "via job.mp4").string();
        const std::string job = (run / "job.txt").string();
        const Outcome d = Convert(temp + set.options + " " + Quote(set.source) + " " + Quote(direct), run / "direct.raw");
        ASSERT_EQ(d.status, 0) << d.output;
        const Outcome saved =
            Convert(temp + set.options + " --save-job " + Quote(job) + " " + Quote(set.source) + " " + Quote(viaJob));
        ASSERT_EQ(saved.status, 0) << saved.output;
        EXPECT_FALSE(fs::exists(viaJob)) << "--save-job converts nothing";

        // Another machine: its own parameter file, which a job does not read.
        WriteOtherParameterFile();
        const Outcome j = Convert(temp + "--job " + Quote(job), run / "job.raw");
        ASSERT_EQ(j.status, 0) << j.output;
        const std::string frames = ReadAll(run / "direct.raw");
        ASSERT_TRUE(!frames.empty() && frames.size() % (30 * 4) == 0) << "30 frames of BGRX: " << frames.size();
        EXPECT_TRUE(ReadAll(run / "job.raw") == frames);
        EXPECT_EQ(FrameHashes(viaJob), FrameHashes(direct));

        std::string parts, partFrames;
        for (int i = 1; i <= 3; ++i) {
            const fs::path part = run / ("part " + std::to_string(i) + ".mkv");
            const fs::path tap = run / ("part" + std::to_string(i) + ".raw");
            const Outcome p = Convert(temp + "--job " + Quote(job) + " --part " + std::to_string(i) + "/3 " +
                                               Quote(part.string()), tap);
            ASSERT_EQ(p.status, 0) << p.output;
            partFrames += ReadAll(tap);
            parts += " " + Quote(part.string());
        }
        EXPECT_TRUE(partFrames == frames);
        const Outcome joined = Convert(temp + "--job " + Quote(job) + " --join" + parts);
        ASSERT_EQ(joined.status, 0) << joined.output;
        EXPECT_EQ(ProbeMovie(viaJob).width, ProbeMovie(direct).width);
        EXPECT_EQ(Marking(viaJob), Marking(direct));
        EXPECT_EQ(Marking(viaJob).find("type=top and bottom") != std::string::npos, set.source == dualSource_)
            << Marking(viaJob);
    }
    // The other parameter file does change an options run: the comparisons
    // above could tell.
    const fs::path run = dir_ / "run";
    ASSERT_EQ(Convert(temp + Quote(source_) + " " + Quote((run / "other.mp4").string()), run / "other.raw").status, 0);
    EXPECT_FALSE(ReadAll(run / "other.raw") == ReadAll(run / "direct.raw"));
    fs::remove(program_.parent_path() / "Tessaly.ini");
    EXPECT_TRUE(fs::is_empty(dir_ / "temp"));
}

TEST_F(ConvertJobTest, StillsOfAJobAreTheStillsOfItsOptions) {
    const fs::path run = dir_ / "stills";
    fs::create_directories(run / "temp");
    const std::string temp = " --temp " + Quote((run / "temp").string()) + " ";
    const std::string options = temp + "--stills bmp --keep-stills --contrast 200 --yaw -20 ";
    const std::string job = (run / "job.txt").string();
    ASSERT_EQ(Convert(options + Quote(source_) + " " + Quote((run / "a.mp4").string())).status, 0);
    fs::rename(fs::directory_iterator(run / "temp")->path(), run / "from options");
    ASSERT_EQ(Convert(options + "--save-job " + Quote(job) + " " + Quote(source_) + " " +
                      Quote((run / "b.mp4").string())).status, 0);
    const Outcome j = Convert("--job " + Quote(job));
    ASSERT_EQ(j.status, 0) << j.output;
    const fs::path fromJob = fs::directory_iterator(run / "temp")->path();
    int stills = 0;
    for (const auto& entry : fs::directory_iterator(run / "from options")) {
        if (entry.path().extension() != ".bmp") continue;
        ++stills;
        EXPECT_TRUE(ReadAll(entry.path()) == ReadAll(fromJob / entry.path().filename())) << entry.path();
    }
    EXPECT_EQ(stills, 30);
}

TEST_F(ConvertJobTest, DamagedJobsAndWrongUsesAreRefusedLosingNothing) {
    const fs::path run = dir_ / "refused";
    fs::create_directories(run);
    const std::string job = (run / "job.txt").string();
    const std::string out = (run / "out.mp4").string();
    ASSERT_EQ(Convert("--cut 20,10,580,590 --save-job " + Quote(job) + " " + Quote(source_) + " " + Quote(out)).status,
              0);
    const std::string text = ReadAll(job);
    const auto variant = [&](const std::string& from, const std::string& to) {
        std::string changed = text;
        changed.replace(changed.find(from), from.size(), to);
        return changed;
    };
    // A copy of the movie with one byte more: not the movie the job was made for.
    const std::string longer = (run / "longer.mp4").string();
    std::ofstream(longer, std::ios::binary) << ReadAll(source_) << '\0';
    struct Case {
        std::string jobText;  // empty: the good job
        std::string args;
        int status;
        std::string message;
    };
    // (Every damage the reader finds: MovieJobFile.DamagedFilesAreRefusedNamingTheLine.)
    const Case cases[] = {
        {variant("TESSALY-JOB 1", "TESSALY-JOB 9"), "", 2, "line 1: version 9 of the job file is not known"},
        {variant("MOVIE " + source_, "MOVIE " + longer), "", 3, "is not the one the job"},
        {variant("MOVIE " + source_, "MOVIE /no/such/movie.mp4"), "", 3, "no such file"},
        {"", "--sharpen 3", 2, "--sharpen cannot be given with it"},
        {"", "--part 1/2", 2, "writes one part file: give PARTFILE"},
        {"", Quote(source_), 2, "cannot be given with it"},
    };
    for (const Case& c : cases) {
        const std::string file = (run / "case.txt").string();
        std::ofstream(file, std::ios::binary | std::ios::trunc) << (c.jobText.empty() ? text : c.jobText);
        const Outcome o = Convert("--job " + Quote(file) + " " + c.args);
        EXPECT_EQ(o.status, c.status) << c.args << "\n" << o.output;
        EXPECT_NE(o.output.find(c.message), std::string::npos) << o.output;
        EXPECT_FALSE(fs::exists(out));
    }
    // --save-job never writes over the movie or an output.
    const std::string movie = ReadAll(source_);
    const Outcome over = Convert("--save-job " + Quote(source_) + " " + Quote(source_) + " " + Quote(out));
    EXPECT_EQ(over.status, 2) << over.output;
    EXPECT_TRUE(ReadAll(source_) == movie);
}

}  // namespace
