// What the tests of tessaly-convert share: movies made by the clip maker and
// ffmpeg, what ffprobe and ffmpeg (readers no one here wrote) see in a movie,
// an encoder of the test's own where the program looks first, and a fixture
// that gives every test a program folder and a temporary folder of its own.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/capture_output.h"
#include "tests/cli/converter_copy.h"

namespace tessaly::testing {

namespace fs = std::filesystem;
using Outcome = ShellOutcome;

inline std::string Quote(const std::string& text) { return ShellQuote(text); }
inline Outcome RunShell(const std::string& command) { return RunShellCommand(command); }
// What a command printed on standard output, its errors dropped.
inline std::string Capture(const std::string& command) { return CaptureOutput(command + " 2>/dev/null"); }

inline std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A fisheye clip of the clip maker; `extra` goes to its encoder.
inline bool MakeFisheyeClip(const std::string& path, const std::string& size, int fps, const std::string& seconds,
                            bool audio, const std::string& extra = "") {
    return RunShell(std::string(TESSALY_SOURCE_DIR) + "/tools/make-fisheye-clip " + Quote(path) + " --size " + size +
                    " --fps " + std::to_string(fps) + " --duration " + seconds + (audio ? " --audio" : "") +
                    (extra.empty() ? "" : " --extra " + Quote(extra)))
               .status == 0;
}

// How long a stream lasts: from its earliest packet to the latest start +
// duration (pts, or dts where a container stores no pts).
inline double StreamSeconds(const std::string& path, const char* stream) {
    return std::atof(Capture(std::string("ffprobe -v error -select_streams ") + stream +
                             " -show_entries packet=pts_time,dts_time,duration_time -of csv=p=0 " +
                             Quote("file:" + path) +
                             " | awk -F, '{t=($1==\"N/A\")?$2:$1; e=t+$3; if(e>m)m=e; if(NR==1||t<s)s=t} END{print m-s}'")
                         .c_str());
}

// The frames ffprobe decodes from the first video stream.
inline int CountFrames(const std::string& path) {
    return std::atoi(Capture("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                             "stream=nb_read_frames -of csv=p=0 " + Quote("file:" + path))
                         .c_str());
}

inline bool HasSound(const std::string& path) {
    return !Capture("ffprobe -v error -select_streams a -show_entries stream=index -of csv=p=0 " +
                    Quote("file:" + path))
                .empty();
}

// What ffprobe sees in a movie.
struct Probe {
    int width = 0, height = 0, frames = 0;
    double seconds = 0;  // of the video stream, from its frames
    bool audio = false;
};

inline Probe ProbeMovie(const std::string& path) {
    Probe p;
    std::sscanf(Capture("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                        "stream=width,height,nb_read_frames -of csv=p=0 " + Quote("file:" + path)).c_str(),
                "%d,%d,%d", &p.width, &p.height, &p.frames);
    p.seconds = StreamSeconds(path, "v:0");
    p.audio = HasSound(path);
    return p;
}

// ffmpeg's average PSNR (dB) of the pictures of two movies; 99 for identical ones, -1 when it gave none.
inline double AveragePsnr(const std::string& a, const std::string& b) {
    const std::string report = CaptureOutput("ffmpeg -hide_banner -i " + Quote(a) + " -i " + Quote(b) +
                                             " -lavfi '[0:v][1:v]psnr' -f null - 2>&1 | grep -o 'average:[0-9.inf]*'");
    if (report.rfind("average:", 0) != 0) return -1;
    return report.rfind("average:inf", 0) == 0 ? 99 : std::atof(report.c_str() + 8);
}

// A fixture whose tests each run the converter from a program folder of
// their own (its log and parameter file live beside it), with an empty
// temporary folder; `suite` names the folder of the whole suite.
class ConverterTest : public ::testing::Test {
protected:
    static void MakeSuiteFolder(const std::string& suite) {
        suiteDir_ = fs::temp_directory_path() / ("tessaly_" + suite + "_" + std::to_string(::getpid()));
        fs::remove_all(suiteDir_);
        fs::create_directories(suiteDir_);
    }
    static void TearDownTestSuite() { fs::remove_all(suiteDir_); }

    void SetUp() override {
        dir_ = suiteDir_ / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::create_directories(dir_ / "temp");
        program_ = ConverterCopyIn(dir_);
    }

    std::string Command(const std::string& args, const std::string& temp = "") const {
        return Quote(program_.string()) + " --temp " + Quote(temp.empty() ? (dir_ / "temp").string() : temp) + " " +
               args;
    }
    Outcome Convert(const std::string& args, const std::string& prefix = "") const {
        return RunShell(prefix + Command(args));
    }
    std::string Out(const std::string& name) const { return (dir_ / name).string(); }
    std::string Log() const { return ReadAll(dir_ / "prog" / "Tessaly_mono.log"); }

    // `command` started in the background; once the shell test `ready` holds
    // (looked at every 10 ms, 20 s at most) `then` runs, the run's process id
    // in $pid; `after` runs once the run has ended, whose status is the outcome's.
    Outcome WhileRunning(const std::string& command, const std::string& ready, const std::string& then,
                         const std::string& after = ":") const {
        return RunShell("(" + command + " & pid=$!; for i in $(seq 2000); do " + ready +
                        " && break; sleep 0.01; done; " + then + "; wait $pid; rc=$?; " + after + "; exit $rc)");
    }
    // For `ready`: the first still of a run is in the temporary folder.
    std::string StillsWritten() const {
        return "ls " + Quote((dir_ / "temp").string()) + "/*/ 2>/dev/null | grep -q mono";
    }
    // An encoder that writes a little, touches `marker` and hangs, ignoring
    // SIGTERM when `deaf`.
    static std::string HungEncoder(const std::string& marker, bool deaf) {
        return std::string(deaf ? "trap '' TERM; " : "") + "head -c 100000 /dev/urandom > \"$out\"; touch " +
               Quote(marker) + "; while :; do sleep 0.05; done";
    }

    // An encoder in the place the program looks first: a shell script that
    // runs the real ffmpeg for the sound extraction (`wav`) and for the
    // encoding (`encode`) unless those say otherwise. "$out" is the output.
    void FakeEncoder(const std::string& wav, const std::string& encode) const {
        const fs::path plugIn = dir_ / "prog" / "PLUG-IN";
        fs::create_directories(plugIn);
        std::ofstream(plugIn / "ffmpeg_III") << "#!/bin/bash\nfor a in \"$@\"; do out=\"${a#file:}\"; done\n"
                                             << "case \" $* \" in *\" -f wav \"*) "
                                             << (wav.empty() ? "exec ffmpeg \"$@\"" : wav) << " ;; esac\n"
                                             << (encode.empty() ? "exec ffmpeg \"$@\"" : encode) << "\n";
        fs::permissions(plugIn / "ffmpeg_III", fs::perms::owner_all);
    }

    // Something of a run is left in the temporary folder.
    bool TemporaryFilesLeft(const std::string& temp = "") const {
        const fs::path folder = temp.empty() ? dir_ / "temp" : fs::path(temp);
        return fs::exists(folder) && !fs::is_empty(folder);
    }
    // Hidden files beside the outputs or anything in the temporary folder.
    bool LeftOvers() const { return !HiddenFiles().empty() || TemporaryFilesLeft(); }
    // Hidden files the runs left beside their outputs.
    std::vector<std::string> HiddenFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            const std::string name = entry.path().filename().string();
            if (name[0] == '.') names.push_back(name);
        }
        return names;
    }

    inline static fs::path suiteDir_;
    fs::path dir_;
    fs::path program_;
};

}  // namespace tessaly::testing
