// The 180-degree VR marking, read back by ffprobe (a reader no one here
// wrote); the packets of a marked movie equal the unmarked ones; every
// failure leaves the movie as it was.
#include <gtest/gtest.h>
#include <dlfcn.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/app/temp_dir.h"
#include "tests/capture_output.h"
#include "video/vr_metadata.h"

namespace fs = std::filesystem;

// While set, rename() fails as on a folder that became read-only; the
// module's call resolves to this definition before the C library's.
static std::atomic<int> gFailRename{0};
extern "C" int rename(const char* from, const char* to) {
    if (gFailRename.load() != 0) {
        errno = EROFS;
        return -1;
    }
    using RenameFn = int (*)(const char*, const char*);
    static RenameFn real = reinterpret_cast<RenameFn>(dlsym(RTLD_NEXT, "rename"));
    return real(from, to);
}

namespace tessaly {
namespace {

using testing::CaptureOutput;
using testing::ReadFile;

std::string Quote(const std::string& text) { return testing::ShellQuote(text); }

// The packets of every stream (sizes, times and checksums) as the ffmpeg
// program sees them in a stream copy.
std::string FrameMd5(const std::string& path) {
    return CaptureOutput("ffmpeg -v error -i " + Quote(path) + " -map 0 -c copy -f framemd5 - 2>&1");
}

// The framemd5 text without the two side data entries (stereo, 12 bytes;
// spherical, 36 bytes) that the ffmpeg program hands on with the first packet
// of a marked stream; every packet's times, size and checksum stay.
std::string WithoutMarking(const std::string& framemd5) {
    std::istringstream in(framemd5);
    std::string line, out;
    while (std::getline(in, line)) {
        const size_t s = line.find(", S=");
        if (s != std::string::npos) {
            std::vector<std::string> fields;
            std::string field;
            std::istringstream rest(line.substr(s + 2));
            while (std::getline(rest, field, ',')) fields.push_back(field);
            std::string kept;
            int count = 0;
            for (size_t i = 1; i + 1 < fields.size(); i += 2) {
                const int size = std::atoi(fields[i].c_str());
                if (size == 12 || size == 36) continue;
                kept += "," + fields[i] + "," + fields[i + 1];
                ++count;
            }
            line = line.substr(0, s);
            if (count > 0) line += ", S=" + std::to_string(count) + kept;
        }
        out += line + "\n";
    }
    return out;
}

// The 20 bytes the equi box and the Matroska ProjectionPrivate both hold:
// version and flags, then the top, bottom, left and right bounds.
const std::string kBoundsPayload("\0\0\0\0" "\0\0\0\0" "\0\0\0\0" "\x40\0\0\0" "\x40\0\0\0", 20);

// ffprobe's side data of the first video stream as key=value lines.
std::string ProbedSideData(const std::string& path) {
    return CaptureOutput("ffprobe -v error -select_streams v:0 -show_streams -of flat=s=_ " +
                   Quote(path) + " | grep side_data");
}

bool Has(const std::string& text, const std::string& line) {
    return text.find(line) != std::string::npos;
}

std::vector<std::string> FolderEntries(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class VrMetadataTest : public ::testing::Test {
protected:
    // A 1-second 128x128 clip with sound, encoded as the encoder rows do.
    std::string MakeClip(const std::string& name, const std::string& codecs) {
        const std::string path = (dir_ / name).string();
        std::system(("ffmpeg -v error -y -f lavfi -i testsrc2=size=128x128:rate=10:duration=1 "
                     "-f lavfi -i sine=duration=1 -ac 2 -ar 44100 -pix_fmt yuv420p " +
                     codecs + " " + Quote(path))
                        .c_str());
        return path;
    }

    testing::TempDir temp_{"vr"};
    const fs::path dir_ = temp_.path();
};

// Every carrying container, mono and with two eyes side by side or one above
// the other (st3d in MP4 and QuickTime, StereoMode in Matroska and WebM),
// says so with the same 180-degree bounds as ffprobe reads them; the packets
// stay, the file keeps its permissions and no other file stays beside it.
TEST_F(VrMetadataTest, MarksEveryCarryingContainerAndLayoutAndKeepsThePackets) {
    const char *kMp4 = "-c:v libx264 -c:a aac", *kMov = "-c:v libx264 -c:a libmp3lame -f mov",
               *kWebm = "-c:v libvpx-vp9 -c:a libvorbis -f webm", *kMkv = "-c:v libx264 -c:a libvorbis";
    constexpr StereoLayout kMono = StereoLayout::kMono, kSbs = StereoLayout::kSideBySide,
                           kTb = StereoLayout::kTopBottom;
    const struct { const char* name; const char* codecs; StereoLayout layout; } kCases[] = {
        {"out.mp4", kMp4, kMono}, {"out.m4v", "-c:v libx264 -c:a aac -f mp4", kMono}, {"out.mov", kMov, kMono},
        {"out.webm", kWebm, kMono}, {"out with blanks ü.mkv", kMkv, kMono}, {"sbs.mp4", kMp4, kSbs},
        {"tb.mp4", kMp4, kTb}, {"sbs.mov", kMov, kSbs}, {"tb.webm", kWebm, kTb}, {"sbs.webm", kWebm, kSbs},
        {"tb.mkv", kMkv, kTb}, {"sbs.mkv", kMkv, kSbs},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        // ffprobe's stereo type and the logged layout.
        const char* probed = c.layout == kMono ? "2D" : c.layout == kSbs ? "side by side" : "top and bottom";
        const char* logged = c.layout == kMono ? "mono" : c.layout == kSbs ? "side-by-side stereo" : "top-bottom stereo";
        const std::string path = MakeClip(c.name, c.codecs);
        ASSERT_TRUE(fs::exists(path));
        fs::permissions(path, fs::perms(0640));
        const std::string before = FrameMd5(path);
        ASSERT_TRUE(Has(before, "0,")) << before;
        EXPECT_EQ(ProbedSideData(path), "");

        std::vector<std::string> log;
        const VrMarkResult r = MarkAs180Video(path, [&](const std::string& l) { log.push_back(l); }, c.layout);
        ASSERT_EQ(r.status, VrMarkStatus::kMarked) << r.reason;
        ASSERT_EQ(log.size(), 1u);
        EXPECT_TRUE(Has(log[0], std::string("marked as 180x180 degree equirectangular ") + logged + " video"))
            << log[0];

        // ffprobe gives the bounds in pixels of the 128-wide picture: a
        // quarter of a sphere twice as wide is 64 on each side (its integer
        // arithmetic makes that 65 and 63).
        const std::string sd = ProbedSideData(path);
        for (const std::string line : {"side_data_type=\"Spherical Mapping\"", "projection=\"tiled equirectangular\"",
                                       "bound_left=65", "bound_right=63", "bound_top=0", "bound_bottom=0",
                                       "side_data_type=\"Stereo 3D\""})
            EXPECT_TRUE(Has(sd, line)) << line << " in " << sd;
        EXPECT_TRUE(Has(sd, std::string("type=\"") + probed + "\"")) << sd;

        const std::string after = FrameMd5(path);
        EXPECT_NE(after, before);  // the marking travels with the first packet
        EXPECT_EQ(WithoutMarking(after), WithoutMarking(before));
        const std::string bytes = ReadFile(path);
        EXPECT_TRUE(Has(bytes, kBoundsPayload));
        if (bytes.find("ftyp") == 4) {
            EXPECT_TRUE(Has(bytes, "equi" + kBoundsPayload));
        }
        EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms(0640));
        EXPECT_EQ(FolderEntries(dir_), std::vector<std::string>{c.name});

        const VrMarking m = ReadVrMarking(path);
        EXPECT_TRUE(m.spherical && m.equirectangular && m.stereo);
        EXPECT_EQ(m.mono, c.layout == StereoLayout::kMono);
        EXPECT_EQ(m.layout, c.layout);
        EXPECT_EQ(m.boundLeft, kVr180BoundLeft);
        fs::remove(path);
    }
    // Through a link: the movie it names is marked, the link stays a link.
    const std::string movie = MakeClip("real.mp4", "-c:v libx264 -c:a aac");
    fs::create_directories(dir_ / "links");
    const fs::path link = dir_ / "links" / "link.mp4";
    fs::create_symlink(movie, link);
    ASSERT_EQ(MarkAs180Video(link.string(), {}).status, VrMarkStatus::kMarked);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(ReadVrMarking(movie).spherical);
    EXPECT_EQ(FolderEntries(dir_), (std::vector<std::string>{"links", "real.mp4"}));
}

TEST_F(VrMetadataTest, LeavesContainersThatCannotCarryItByteIdentical) {
    const struct {
        const char* name;
        const char* codecs;
    } kContainers[] = {{"out.flv", "-c:v libx264 -c:a libmp3lame -f flv"}, {"out.avi", "-c:v libx264 -c:a pcm_s16le -f avi"},
                       {"out.ogg", "-c:v libtheora -c:a libvorbis -f ogg"}, {"out.OGV", "-c:v libtheora -c:a libvorbis -f ogg"}};
    for (const auto& c : kContainers) {
        SCOPED_TRACE(c.name);
        const std::string path = MakeClip(c.name, c.codecs);
        const std::string before = ReadFile(path);
        ASSERT_FALSE(before.empty());
        std::vector<std::string> log;
        const VrMarkResult r = MarkAs180Video(path, [&](const std::string& l) { log.push_back(l); });
        EXPECT_EQ(r.status, VrMarkStatus::kUnsupported);
        EXPECT_TRUE(Has(r.reason, "cannot carry")) << r.reason;
        EXPECT_EQ(ReadFile(path), before);
        EXPECT_EQ(FolderEntries(dir_), std::vector<std::string>{c.name});
        fs::remove(path);
    }
}

// Each failure keeps the encoder's movie byte for byte, leaves no temporary
// file and says why.
TEST_F(VrMetadataTest, AFailingRemuxKeepsTheUnmarkedMovie) {
    const std::string movie = MakeClip("movie.mp4", "-c:v libx264 -c:a aac");
    const std::string original = ReadFile(movie);
    ASSERT_GT(original.size(), 4096u);
    const std::string damaged = (dir_ / "damaged.mp4").string();
    std::ofstream(damaged, std::ios::binary) << original.substr(0, original.size() / 3);
    const std::string damagedBytes = ReadFile(damaged);

    struct Case {
        const char* name;
        std::string path;
        std::function<void()> before, after;
        const char* reason;
    };
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const Case kCases[] = {
        {"read-only folder at rename", movie, [] { gFailRename = 1; }, [] { gFailRename = 0; },
         "Read-only file system"},
        // A file-size limit fails the copy's writes as a full disk does.
        {"disk full", movie,
         [&] {
             ::signal(SIGXFSZ, SIG_IGN);
             rlimit small = saved;
             small.rlim_cur = original.size() / 2;
             ::setrlimit(RLIMIT_FSIZE, &small);
         },
         [&] { ::setrlimit(RLIMIT_FSIZE, &saved); }, "File too large"},
        {"damaged movie", damaged, [] {}, [] {}, "cannot open"},
        {"missing movie", (dir_ / "gone.mp4").string(), [] {}, [] {}, "no movie file"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const std::vector<std::string> entries = FolderEntries(dir_);
        const std::string bytes = fs::exists(c.path) ? ReadFile(c.path) : "";
        std::vector<std::string> log;
        c.before();
        const VrMarkResult r = MarkAs180Video(c.path, [&](const std::string& l) { log.push_back(l); });
        c.after();
        EXPECT_EQ(r.status, VrMarkStatus::kFailed);
        EXPECT_TRUE(Has(r.reason, c.reason)) << r.reason;
        ASSERT_EQ(log.size(), 1u);
        EXPECT_TRUE(Has(log[0], "left unmarked: " + r.reason)) << log[0];
        if (!bytes.empty()) {
            EXPECT_EQ(ReadFile(c.path), bytes);
        }
        EXPECT_EQ(FolderEntries(dir_), entries);
    }
    EXPECT_EQ(ReadFile(damaged), damagedBytes);
    EXPECT_EQ(ProbedSideData(movie), "");
}

}  // namespace
}  // namespace tessaly
