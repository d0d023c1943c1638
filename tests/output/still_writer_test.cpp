// Still names, BMP files, progress lines, failures and the clean-up.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "app/run_log.h"
#include "output/still_writer.h"
#include "tests/output/output_test_support.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;
using outtest::TempFolder;

// The run log's lines, each of which must end in CR LF.
std::vector<std::string> LogLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line.ends_with('\r') ? line.erase(line.size() - 1) : "no CR");
    }
    return lines;
}

// A writer into a temporary folder with a run log in it.
class StillTest : public ::testing::Test {
protected:
    void SetUp() override { log.SetPath(dir / "run.log"); }
    TempFolder dir;
    RunLog log;
    StillWriter writer{dir.str(), &log};
};

TEST_F(StillTest, BmpNamesHeadersAndBottomUpRowsAsHeld) {
    EXPECT_EQ(StillFileName("/tmp/t", 42, StillFormat::Jpeg), "/tmp/t/mono000042.jpg");
    EXPECT_EQ(StillFileName("/tmp/t", 1000000, StillFormat::Bmp), "/tmp/t/mono1000000.bmp");
    std::vector<uint8_t> frame(3 * 2 * 4);  // 3 x 2, bottom row first; every byte distinct
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(10 + i);
    ASSERT_TRUE(writer.WriteStillBmp(7, frame.data(), 3, 2));
    // 'BM', file size = true size, reserved, pixel offset, header size, 3 x 2
    // (positive height: bottom-up), 1 plane, 32 bits, then zeros.
    std::vector<uint8_t> header = {'B', 'M', 78, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0,
                                   3,   0,   0,  0, 2, 0, 0, 0, 1, 0, 32, 0};
    header.resize(54, 0);
    header.insert(header.end(), frame.begin(), frame.end());
    EXPECT_EQ(outtest::ReadBytes(dir / "mono000007.bmp"), header);

    // FFmpeg shows the last stored row on top, the first at the bottom.
    const outtest::Rgb d = outtest::DecodeWithFfmpeg(dir / "mono000007.bmp");
    EXPECT_EQ(d.rgb, (std::vector<uint8_t>{24, 23, 22, 28, 27, 26, 32, 31, 30, 12, 11, 10, 16, 15, 14, 20, 19, 18}));
}

// A progress line comes with every 501st still of a format, carrying the
// count before it; the two formats count on their own.
TEST_F(StillTest, ProgressLinesCountEachFormatOnItsOwn) {
    const uint8_t pixels[8 * 8 * 4] = {};
    for (int i = 0; i < 300; ++i) {
        writer.WriteStillBmp(i, pixels, 8, 8);
        writer.WriteStillJpeg(i, pixels, 8, 8);
    }
    for (int i = 300; i < 500; ++i) writer.WriteStillJpeg(i, pixels, 8, 8);
    EXPECT_FALSE(fs::exists(dir / "run.log"));  // 800 stills, but 500 of one format at most
    writer.WriteStillJpeg(500, pixels, 8, 8);
    EXPECT_EQ(LogLines(dir / "run.log"), std::vector<std::string>{"Process: 500frames"});
    for (int i = 300; i < 1002; ++i) writer.WriteStillBmp(i, pixels, 8, 8);
    EXPECT_EQ(LogLines(dir / "run.log"),
              (std::vector<std::string>{"Process: 500frames", "Process: 500frames", "Process: 1001frames"}));
    EXPECT_EQ(writer.StillCount(StillFormat::Jpeg), 501);
    EXPECT_EQ(writer.StillCount(StillFormat::Bmp), 1002);
}

TEST_F(StillTest, FailuresAreLoggedWithTheFileNameAndReported) {
    const uint8_t pixels[16 * 16 * 4] = {};
    StillWriter lost(dir / "missing", &log);
    const StillResult bmp = lost.WriteStillBmp(5, pixels, 16, 16), jpg = lost.WriteStillJpeg(6, pixels, 16, 16);
    EXPECT_FALSE(bmp || jpg || lost.StillCount(StillFormat::Bmp) > 0);
    EXPECT_NE(bmp.message.find(dir / "missing/mono000005.bmp"), std::string::npos) << bmp.message;
    EXPECT_NE(jpg.message.find(dir / "missing/mono000006.jpg"), std::string::npos) << jpg.message;
    EXPECT_EQ(LogLines(dir / "run.log"), (std::vector<std::string>{bmp.message, jpg.message}));
    for (const char* name : {"mono000001.jpg", "mono000001.bmp"}) fs::create_symlink("/dev/full", dir / name);
    for (const StillResult& r : {writer.WriteStillJpeg(1, pixels, 16, 16), writer.WriteStillBmp(1, pixels, 16, 16)}) {
        EXPECT_FALSE(r);
        EXPECT_NE(r.message.find("No space left"), std::string::npos) << r.message;  // a full disk
    }
    EXPECT_FALSE(writer.WriteStillBmp(2, nullptr, 16, 16));
    EXPECT_FALSE(writer.WriteStillJpeg(2, pixels, 0, 16));
    EXPECT_FALSE(fs::exists(dir / "mono000002.bmp") || fs::exists(dir / "mono000002.jpg"));
}

TEST(StillCleanup, DeletesStillsAndSoundOnly) {
    TempFolder dir;
    for (const char* name : {"mono000000.jpg", "mono000001.bmp", "mono1234567.jpg", "temp.wav",
                             "UPPER.JPG", "keep.txt", "keep.jpeg", "holiday.jpg", "monoxyz123.bmp",
                             "mono12.jpg", "song.wav"}) {
        std::ofstream(dir / name).put('x');
    }
    fs::create_directory(dir / "folder.jpg");
    StillWriter writer(dir.str());
    writer.DeleteTemporaryFiles();
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(dir.str())) left.push_back(e.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"UPPER.JPG", "folder.jpg", "holiday.jpg", "keep.jpeg",
                                              "keep.txt", "mono12.jpg", "monoxyz123.bmp", "song.wav"}));
    StillWriter missing(dir / "no-such-folder");
    missing.DeleteTemporaryFiles();  // nothing to do, no failure
    StillWriter empty(dir / "folder.jpg");
    empty.DeleteTemporaryFiles();
}

TEST_F(StillTest, ThreadsConcurrentStillsOfTwoSizesKeepCountsBytesAndOneProgressLine) {
    // Two sizes so that reused encoders change size between stills.
    const outtest::Frame frames[2] = {outtest::NaturalFrame(16, 8, 32, 2), outtest::NaturalFrame(41, 23, 32, 3)};
    outtest::Run("head -c 100000 /dev/urandom > '" + (dir / "mono000003.jpg") + "'");  // truncated when rewritten
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = t; i < 600; i += 4) {
                const outtest::Frame& f = frames[i / 4 % 2];
                if (!writer.WriteStillJpeg(i, f.bytes.data(), f.width, f.height)) ADD_FAILURE() << i;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(writer.StillCount(StillFormat::Jpeg), 600);
    EXPECT_EQ(LogLines(dir / "run.log"), std::vector<std::string>{"Process: 500frames"});
    // Stills of one size are identical whichever encoder wrote them, and decode.
    const auto name = [&](int i) { return StillFileName(dir.str(), i, StillFormat::Jpeg); };
    for (int i = 0; i < 600; ++i) ASSERT_EQ(outtest::ReadBytes(name(i)), outtest::ReadBytes(name(i / 4 % 2 * 4))) << i;
    for (int k : {0, 1}) EXPECT_GT(outtest::Psnr(frames[k], outtest::DecodeWithDjpeg(name(4 * k))), 39.0);
}

}  // namespace
}  // namespace tessaly
