// Job files: what is written reads back as the same job (odd paths, exact
// numbers, a comma-decimal locale), and a damaged file is refused naming
// its line.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "convert/movie_job.h"
#include "convert/movie_job_file.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

MovieJob SampleJob(const std::string& movie, std::vector<std::string> outputs) {
    MovieJob job;
    job.movie = JobMovie{movie, 0, 1280, 720, 30000, 1001, 123456789012};
    job.geometry = JobGeometry{CutRect{-3, 7, 590, 601}, LensCircle{640.25, 0.1 + 0.2, 355.123456789}, movie,
                               1280, 720};
    job.lens = LensSettings{LensModel::kStereographic, 190.5, -12.345678901234567, 1e-7, 179.99};
    job.lens.profile = LensProfileSettings{"Samyang 8mm f/3.5 Fish-Eye CS", "Canon EOS 5D Mark ÏÏ", 1.523, 8, 0.1 + 5.5, 0,
                                           "/my lenses/\"own\".xml"};
    job.filters = JobFilters{1, 5, 3, 1, 200, 1, 17, 0, 0, 1, 50};
    job.flip = job.aspect = true;
    job.outputs = JobOutputs{std::move(outputs), 21, 5, StillFormat::Jpeg, true, false};
    job.run.tempDir = "/tmp/with blank/", job.run.strict = true, job.run.encoderStallSeconds = 0;
    return job;
}

// A dual-fisheye job: the eyes one above the other, swapped, aligned.
MovieJob StereoJob() {
    MovieJob job = SampleJob("/films/dual 'eyes'.mp4", {"/out/sbs.mp4"});
    job.flip = false;
    StereoSettings& s = job.stereo.settings;
    s.input = StereoLayout::kTopBottom;
    s.swapEyes = true;
    s.windows = {FrameRegion{-3, 0, 1280, 360}, FrameRegion{0, 361, 1280, 360}};
    s.cuts = {CutRect{-8, 1, 612, 600}, CutRect{-7, 1, 613, 600}};
    s.shifts = {CentreShift{-0.5, 0.1 + 0.2}, CentreShift{}};
    s.angles[kLeftEye].pitch = 0.1 + 0.2;
    s.angles[kRightEye] = EyeAngles{-2.5, -0.15000000000000002, 1e-9};
    job.stereo.circles = {LensCircle{640.5, 180, 179.25}, std::nullopt};
    job.stereo.measured = EyeOffset{0.3, -1.4999};
    return job;
}

class MovieJobFileTest : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        if (std::string(GetParam()) == "C") return;
        if (std::setlocale(LC_ALL, GetParam()) == nullptr) GTEST_SKIP() << GetParam() << " is not available";
        ASSERT_EQ(std::string(std::localeconv()->decimal_point), ",");
    }
    void TearDown() override { std::setlocale(LC_ALL, "C"); }
};

TEST_P(MovieJobFileTest, WrittenJobsReadBackEqual) {
    const fs::path dir = fs::temp_directory_path() / ("tessaly_job_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::vector<MovieJob> jobs = {
        SampleJob("/films/a b/\"quoted\" 'single'.mp4", {"/out/ünïcødé ñ.mp4", "/out/two.webm"}),
        SampleJob(" leading and trailing ", {"new\nline\r.mov", "back\\slash\t\x01\x7f.mkv"}),
        SampleJob("\\x41 not an escape", {"/out/%20 $HOME `x`.avi"}),
        [] {
            MovieJob plain;  // the defaults: no circle, streamed, no temporary folder
            plain.movie.path = plain.geometry.moviePath = "m.mp4";
            plain.outputs.paths = {"o.mp4"};
            return plain;
        }(),
        StereoJob(),
    };
    for (const MovieJob& job : jobs) {
        const std::string path = (dir / "job.txt").string();
        const Status written = WriteJobFile(job, path);
        ASSERT_TRUE(written.ok()) << written.reason();
        const Result<MovieJob> read = ReadJobFile(path);
        ASSERT_TRUE(read.ok()) << read.reason() << "\n" << JobFileText(job);
        EXPECT_EQ(read.value(), job) << JobFileText(job);
        // One line per tag: the paths' line breaks are escaped.
        const std::string text = JobFileText(job);
        // A job without stereo stays version 1, which programs before stereo read.
        EXPECT_EQ(text.rfind(job.stereo.IsStereo() ? "TESSALY-JOB 2\n" : "TESSALY-JOB 1\n", 0), 0u);
        EXPECT_EQ(text.find("STEREO") != std::string::npos, job.stereo.IsStereo()) << text;
        for (const std::string& output : job.outputs.paths) {
            EXPECT_NE(text.find("\nOUTPUT " + EscapeJobValue(output) + "\n"), std::string::npos) << text;
        }
    }
    EXPECT_NE(JobFileText(jobs[0]).find("\nLENS_FOV 190.5\n"), std::string::npos) << JobFileText(jobs[0]);
    EXPECT_NE(JobFileText(jobs[3]).find("\nLENS_PROFILE \n"), std::string::npos) << JobFileText(jobs[3]);
    const Status refused = WriteJobFile(jobs[0], (dir / "no folder" / "job.txt").string());
    EXPECT_FALSE(refused.ok());
    EXPECT_NE(refused.reason().find("cannot write the job file"), std::string::npos) << refused.reason();
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Locales, MovieJobFileTest, ::testing::Values("C", "de_DE.UTF-8"),
                         [](const auto& info) { return std::string(info.param) == "C" ? "Point" : "Comma"; });

// The text of a good job with one line replaced (or dropped: empty
// `replacement`), cut at `cut` characters when not 0.
std::string Damaged(const std::string& tag, const std::string& replacement, size_t cut = 0, bool stereo = false) {
    std::string text = JobFileText(stereo ? StereoJob() : SampleJob("/m.mp4", {"/o.mp4"}));
    for (size_t at = 0; !tag.empty() && at < text.size(); at = text.find('\n', at) + 1) {
        const size_t end = text.find('\n', at) + 1;
        const std::string line = text.substr(at, end - at - 1);
        if (line == tag || line.rfind(tag + " ", 0) == 0) {
            text.replace(at, end - at, replacement.empty() ? "" : replacement + "\n");
            break;
        }
    }
    return cut > 0 ? text.substr(0, cut) : text;
}

TEST(MovieJobFile, DamagedFilesAreRefusedNamingTheLine) {
    struct Case { std::string text; std::string message; };
    const Case cases[] = {
        {"", "line 1: not a job file (it starts with TESSALY-JOB 1)"},
        {Damaged("TESSALY-JOB", "TESSALY-JOB 3"), "line 1: version 3 of the job file is not known"},
        {Damaged("TESSALY-JOB", "<XL1>0</XL1>"), "line 1: not a job file"},
        {Damaged("MOVIE", ""), "no MOVIE line before END"},
        {Damaged("OUTPUT", ""), "no OUTPUT line before END"},
        {Damaged("QUALITY", "QUALITY x"), "QUALITY needs a whole number from 0 to 21, got 'x'"},
        {Damaged("QUALITY", "QUALITY 22"), "QUALITY needs a whole number from 0 to 21, got '22'"},
        {Damaged("LENS_FOV", "LENS_FOV 190,5"), "LENS_FOV needs a number of degrees"},
        {Damaged("LENS_FOV", "LENS_FOV 300"), "LENS_FOV cannot be used: the lens's field of view"},
        {Damaged("SHARPEN", "SHARPEN 9"), "SHARPEN needs a whole number from 0 to 5, got '9'"},
        {Damaged("FLIP", "FLIP yes"), "FLIP needs 0 or 1"},
        {Damaged("SIZE", "SIZE 1280"), "SIZE needs the picture's WIDTHxHEIGHT"},
        {Damaged("CIRCLE", "CIRCLE 1,2,-3"), "CIRCLE needs the centre and radius"},
        {Damaged("MOVIE", "MOVIE /a\\q.mp4"), "MOVIE holds a damaged escape"},
        {Damaged("MOVIE", "MOVIE /a\\x00.mp4"), "MOVIE holds a damaged escape"},
        {Damaged("RESIZE", "RESIZE 1\nRESIZE 2"), "RESIZE is given twice"},
        {Damaged("STILLS", "STILS bmp"), "unknown tag STILS"},
        {Damaged("END", "END\nMORE"), "text after END"},
        {Damaged("", "", 300), "the file ends within this line: it is cut short"},
        {Damaged("END", ""), "without END: it is cut short"},
        {Damaged("LENS", "LENS orthographic"), "the lens cannot be used"},
        {Damaged("LENS_PROFILE", "LENS_PROFILE Samyang|x|1,5|8|5.6"), "LENS_PROFILE needs LENS|CAMERA|CROP"},
        {Damaged("LENS_PROFILE", "LENS_PROFILE Samyang|x|1.5|8"), "LENS_PROFILE needs LENS|CAMERA|CROP"},
        {Damaged("LENS_PROFILE", "LENS_PROFILE |x|1.5|8|4"), "LENS_PROFILE needs LENS|CAMERA|CROP"},
        {Damaged("TESSALY-JOB", "TESSALY-JOB 1", 0, true), "unknown tag STEREO in a version 1 job file"},
        {Damaged("STEREO", "", 0, true), "STEREO_OUT is given without a STEREO line"},
        {Damaged("LEFT_CUT", "", 0, true), "no LEFT_CUT line before END"},
        {Damaged("STEREO", "STEREO lr", 0, true), "STEREO needs sbs, tb or pair, got 'lr'"},
        {Damaged("STEREO_OUT", "STEREO_OUT pair", 0, true), "STEREO_OUT needs sbs or tb, got 'pair'"},
        {Damaged("STEREO", "STEREO pair", 0, true), "a pair of movies needs the right movie"},
        {Damaged("RIGHT_WINDOW", "RIGHT_WINDOW 0,361,1280,0", 0, true), "RIGHT_WINDOW needs the window X,Y,W,H"},
        {Damaged("RIGHT_WINDOW", "RIGHT_WINDOW 0,361,1279,360", 0, true), "the eyes' windows need one size"},
        {Damaged("LEFT_PITCH", "LEFT_PITCH 0,3", 0, true), "LEFT_PITCH needs a number of degrees"},
        {Damaged("RIGHT_SHIFT", "RIGHT_SHIFT 0,1.5", 0, true), "RIGHT_SHIFT needs the centre's shift X,Y"},
        {Damaged("EYES_MEASURED", "EYES_MEASURED 1", 0, true), "EYES_MEASURED needs the right eye's PITCH,ROLL"},
        {Damaged("FLIP", "FLIP 1", 0, true), "a stereo job cannot flip"},
    };
    for (const Case& c : cases) {
        const Result<MovieJob> read = ReadJobText(c.text);
        EXPECT_FALSE(read.ok()) << c.text;
        EXPECT_NE(read.reason().find(c.message), std::string::npos) << read.reason() << "\nwanted: " << c.message;
    }
    // The line number is the damaged line's.
    const std::string good = JobFileText(SampleJob("/m.mp4", {"/o.mp4"}));
    const auto line = std::count(good.begin(), good.begin() + good.find("\nQUALITY "), '\n') + 2;
    EXPECT_EQ(ReadJobText(Damaged("QUALITY", "QUALITY x")).reason().rfind("line " + std::to_string(line) + ": ", 0), 0u);
}

}  // namespace
}  // namespace tessaly
