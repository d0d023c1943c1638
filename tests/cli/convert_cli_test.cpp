// The headless converter as a user runs it: exit status, one-line errors,
// and no temporary files left behind, for good and bad input alike.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string Quote(const std::string& text) { return "'" + text + "'"; }

struct Outcome {
    int status = -1;        // exit status
    bool signalled = false;  // killed by a signal: a crash
    std::string output;     // stdout and stderr together
};

Outcome RunShell(const std::string& command) {
    Outcome outcome;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return outcome;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) outcome.output += buffer;
    const int raw = ::pclose(pipe);
    if (WIFEXITED(raw)) {
        outcome.status = WEXITSTATUS(raw);
        // A sanitizer report or a crash inside the shell's child.
        outcome.signalled = outcome.status >= 128;
    } else {
        outcome.signalled = true;
    }
    return outcome;
}

class ConvertCliTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        suiteDir_ = fs::temp_directory_path() / ("tessaly_cli_" + std::to_string(::getpid()));
        fs::remove_all(suiteDir_);
        fs::create_directories(suiteDir_);
        clip_ = (suiteDir_ / "clip.mp4").string();
        const std::string tool = std::string(TESSALY_SOURCE_DIR) + "/tools/make-fisheye-clip";
        std::system((tool + " " + Quote(clip_) +
                     " --size 160x120 --fps 30 --duration 1 --audio >/dev/null 2>&1").c_str());
    }
    static void TearDownTestSuite() { fs::remove_all(suiteDir_); }

    void SetUp() override {
        ASSERT_TRUE(fs::exists(clip_)) << "the clip maker failed";
        dir_ = suiteDir_ / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::create_directories(dir_ / "prog");
        fs::create_directories(dir_ / "temp");
        // A program folder of its own: the log and the parameter file live
        // beside the program, and tests run in parallel.
        const fs::path built = fs::path(TESSALY_BINARY_DIR) / "cli" / "tessaly-convert";
        program_ = dir_ / "prog" / "tessaly-convert";
        std::error_code ec;
        fs::create_hard_link(built, program_, ec);
        if (ec) fs::copy_file(built, program_, fs::copy_options::overwrite_existing);
    }

    Outcome Convert(const std::string& args, const std::string& prefix = "") {
        return RunShell(prefix + Quote(program_.string()) + " --temp " +
                        Quote((dir_ / "temp").string()) + " " + args);
    }

    bool TemporaryFilesLeft() const {
        for (const auto& entry : fs::directory_iterator(dir_ / "temp")) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("mono", 0) == 0 || name == "temp.wav") return true;
        }
        return false;
    }

    std::string Out(const std::string& name) const { return (dir_ / name).string(); }

    static fs::path suiteDir_;
    static std::string clip_;
    fs::path dir_;
    fs::path program_;
};

fs::path ConvertCliTest::suiteDir_;
std::string ConvertCliTest::clip_;

TEST_F(ConvertCliTest, ConvertsIntoEveryOutputAndLeavesTheSettingsAlone) {
    const std::string params = Out("mine.ini");
    {
        std::ofstream ini(params);
        ini << "<SHARPEN_CH>1</SHARPEN_CH>\r\n";
    }
    Outcome o = Convert("--params " + Quote(params) + " --quality 5 --sharpen 2,1 " + Quote(clip_) +
                        " " + Quote(Out("a.mp4")) + " " + Quote(Out("b.webm")));
    ASSERT_EQ(o.status, 0) << o.output;
    EXPECT_NE(o.output.find("wrote " + Out("a.mp4") + ", " + Out("b.webm")), std::string::npos)
        << o.output;
    EXPECT_GT(fs::file_size(Out("a.mp4")), 0u);
    EXPECT_GT(fs::file_size(Out("b.webm")), 0u);
    EXPECT_FALSE(TemporaryFilesLeft());
    // The headless converter never writes a parameter file.
    EXPECT_FALSE(fs::exists(dir_ / "prog" / "Tessaly.ini"));
    std::ifstream in(params);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "<SHARPEN_CH>1</SHARPEN_CH>\r\n");
    EXPECT_TRUE(fs::exists(dir_ / "prog" / "Tessaly_mono.log"));
}

// The stills stay, the WAV goes; the JPEG stills decode with a decoder no
// one here wrote.
TEST_F(ConvertCliTest, KeepStills) {
    Outcome o = Convert("--keep-stills --stills jpg " + Quote(clip_) + " " + Quote(Out("k.avi")));
    ASSERT_EQ(o.status, 0) << o.output;
    EXPECT_FALSE(fs::exists(dir_ / "temp" / "temp.wav"));
    Outcome djpeg = RunShell("cd " + Quote((dir_ / "temp").string()) + " && ls mono*.jpg | wc -l && "
                             "for f in mono*.jpg; do djpeg -bmp $f >/dev/null || exit 1; done");
    EXPECT_EQ(djpeg.status, 0) << djpeg.output;
    EXPECT_GE(std::atoi(djpeg.output.c_str()), 29) << djpeg.output;
}

TEST_F(ConvertCliTest, EveryFailureHasItsMessageAndExitStatus) {
    // An unreadable "movie".
    {
        std::ofstream junk(Out("junk.mp4"));
        junk << "this is not a movie\n";
    }
    // An encoder that always fails, in the place the program looks first.
    const fs::path plugIn = dir_ / "prog" / "PLUG-IN";
    struct Case {
        const char* name;
        std::string args;
        std::string prefix;
        int status;
        std::string message;
    };
    const Case cases[] = {
        {"missing input", Quote(Out("nothing.mp4")) + " " + Quote(Out("o.mp4")), "", 3,
         "input movie not found: " + Out("nothing.mp4")},
        {"unsupported movie", Quote(Out("junk.mp4")) + " " + Quote(Out("o.mp4")), "", 3,
         "cannot open " + Out("junk.mp4") + ": "},
        {"bad option", "--quality 30 " + Quote(clip_) + " " + Quote(Out("o.mp4")), "", 2,
         "--quality needs a whole number from 0 to 21, got '30'"},
        {"no output", Quote(clip_), "", 2, "no output movie given"},
        {"unknown container", Quote(clip_) + " " + Quote(Out("o.mkv")), "", 2,
         "unsupported extension '.mkv'"},
        {"missing output folder", Quote(clip_) + " " + Quote(Out("none/o.mp4")), "", 2,
         "no folder"},
        {"output is the input", Quote(clip_) + " " + Quote(suiteDir_.string() + "/./clip.mp4"), "", 2,
         "is the input movie"},
        {"empty cut", "--cut 0,0,0,0 " + Quote(clip_) + " " + Quote(Out("o.mp4")), "", 1, "crop"},
        // Files may not grow beyond 20 KB: the first still cannot be written,
        // as on a full disk.
        {"disk full", Quote(clip_) + " " + Quote(Out("o.mp4")), "ulimit -f 20; trap '' XFSZ; ", 1,
         "mono000000.bmp"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Outcome o = Convert(c.args, c.prefix);
        EXPECT_FALSE(o.signalled) << o.output;
        EXPECT_EQ(o.status, c.status) << o.output;
        EXPECT_NE(o.output.find("tessaly-convert: "), std::string::npos) << o.output;
        EXPECT_NE(o.output.find(c.message), std::string::npos) << o.output;
        EXPECT_FALSE(fs::exists(Out("o.mp4")));
        EXPECT_FALSE(TemporaryFilesLeft());
    }

    fs::create_directories(plugIn);
    {
        std::ofstream fake(plugIn / "ffmpeg_III");
        fake << "#!/bin/sh\necho 'simulated encoder breakdown' >&2\nexit 1\n";
    }
    fs::permissions(plugIn / "ffmpeg_III", fs::perms::owner_all);
    // --keep-stills keeps the stills of a good run only.
    Outcome o = Convert("--keep-stills " + Quote(clip_) + " " + Quote(Out("o.mp4")));
    EXPECT_FALSE(o.signalled) << o.output;
    EXPECT_EQ(o.status, 1) << o.output;
    EXPECT_NE(o.output.find("the encoder failed (exit status 1): simulated encoder breakdown"),
              std::string::npos)
        << o.output;
    EXPECT_FALSE(TemporaryFilesLeft());
}

TEST_F(ConvertCliTest, InterruptCleansUp) {
    const std::string longer = Out("longer.mp4");
    const std::string tool = std::string(TESSALY_SOURCE_DIR) + "/tools/make-fisheye-clip";
    ASSERT_EQ(std::system((tool + " " + Quote(longer) +
                           " --size 640x480 --fps 30 --duration 4 --audio >/dev/null 2>&1").c_str()),
              0);
    // SIGINT once the first stills are there, as Ctrl+C would.
    const std::string temp = (dir_ / "temp").string();
    Outcome o = RunShell("(" + Quote(program_.string()) + " --temp " + Quote(temp) + " " +
                         Quote(longer) + " " + Quote(Out("i.mp4")) + " " + Quote(Out("j.mp4")) +
                         " & pid=$!; for i in $(seq 400); do ls " + Quote(temp) +
                         " | grep -q mono && break; sleep 0.01; done; kill -INT $pid; wait $pid)");
    EXPECT_FALSE(o.signalled) << o.output;
    EXPECT_EQ(o.status, 1) << o.output;
    EXPECT_NE(o.output.find("tessaly-convert: stopped"), std::string::npos) << o.output;
    EXPECT_FALSE(fs::exists(Out("j.mp4")));
    EXPECT_FALSE(TemporaryFilesLeft());
}

TEST_F(ConvertCliTest, OneConversionPerTemporaryFolder) {
    const int lock = ::open((dir_ / "temp" / ".tessaly-convert.lock").c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    Outcome o = Convert(Quote(clip_) + " " + Quote(Out("o.mp4")));
    ::close(lock);
    EXPECT_EQ(o.status, 1) << o.output;
    EXPECT_NE(o.output.find("is in use by another conversion"), std::string::npos) << o.output;
    EXPECT_FALSE(fs::exists(Out("o.mp4")));
}

TEST_F(ConvertCliTest, HelpAndVersion) {
    Outcome help = RunShell(Quote(program_.string()) + " --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("Usage: tessaly-convert"), std::string::npos);
    Outcome version = RunShell(Quote(program_.string()) + " --version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.output.rfind("tessaly-convert ", 0), 0u);
}

// Outputs that can carry it are marked as 180-degree VR video unless
// --no-vr-metadata; the others are noted once in the log.
TEST_F(ConvertCliTest, MarksOutputsAsVrVideo) {
    auto sideData = [](const std::string& path) {
        return RunShell("ffprobe -v error -select_streams v:0 -show_streams -of flat " +
                        Quote(path) + " | grep side_data").output;
    };
    auto log = [this] {
        std::ifstream in(dir_ / "prog" / "Tessaly_mono.log");
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    Outcome o = Convert(Quote(clip_) + " " + Quote(Out("vr.mov")) + " " + Quote(Out("a.avi")) +
                        " " + Quote(Out("b.flv")));
    ASSERT_EQ(o.status, 0) << o.output;
    const std::string marked = sideData(Out("vr.mov"));
    EXPECT_NE(marked.find("tiled equirectangular"), std::string::npos) << marked;
    EXPECT_NE(marked.find("\"2D\""), std::string::npos) << marked;
    EXPECT_EQ(sideData(Out("a.avi")), "");
    const std::string text = log();
    EXPECT_NE(text.find("VR metadata: " + Out("vr.mov") + " marked as 180x180"), std::string::npos)
        << text;
    const size_t note = text.find("cannot carry the 180-degree VR marking");
    EXPECT_NE(note, std::string::npos) << text;
    EXPECT_EQ(text.find("cannot carry", note + 1), std::string::npos) << text;

    o = Convert("--no-vr-metadata " + Quote(clip_) + " " + Quote(Out("flat.webm")));
    ASSERT_EQ(o.status, 0) << o.output;
    EXPECT_EQ(sideData(Out("flat.webm")), "");
    EXPECT_EQ(log().find("VR metadata"), std::string::npos);

    Outcome help = RunShell(Quote(program_.string()) + " --help");
    EXPECT_NE(help.output.find("--no-vr-metadata"), std::string::npos);
    EXPECT_NE(help.output.find(".flv .avi .ogg .ogv cannot carry it"), std::string::npos);
}

}  // namespace
