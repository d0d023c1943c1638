// Still names, BMP files, progress lines, failures and the clean-up.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "app/run_log.h"
#include "output/still_writer.h"
#include "tests/output/output_test_support.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;
using outtest::TempFolder;

std::vector<std::string> LogLines(const std::string& path) {
    const std::vector<uint8_t> bytes = outtest::ReadBytes(path);
    std::vector<std::string> lines;
    std::string text(bytes.begin(), bytes.end());
    size_t start = 0;
    for (size_t p; (p = text.find("\r\n", start)) != std::string::npos; start = p + 2) {
        lines.push_back(text.substr(start, p - start));
    }
    return lines;
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

TEST(StillNames, SixDigitsAtLeast) {
    EXPECT_EQ(StillFileName("/tmp/t", 0, StillFormat::Jpeg), "/tmp/t/mono000000.jpg");
    EXPECT_EQ(StillFileName("/tmp/t", 42, StillFormat::Jpeg), "/tmp/t/mono000042.jpg");
    EXPECT_EQ(StillFileName("/tmp/t", 999999, StillFormat::Bmp), "/tmp/t/mono999999.bmp");
    EXPECT_EQ(StillFileName("/tmp/t", 1000000, StillFormat::Bmp), "/tmp/t/mono1000000.bmp");
}

TEST(StillBmp, HeadersAndBottomUpRowsAsHeld) {
    TempFolder dir;
    StillWriter writer(dir.str());
    // 3 x 2 frame, stored bottom row first; every byte distinct.
    std::vector<uint8_t> frame(3 * 2 * 4);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(10 + i);
    ASSERT_TRUE(writer.WriteStillBmp(7, frame.data(), 3, 2));

    const std::vector<uint8_t> b = outtest::ReadBytes(dir / "mono000007.bmp");
    ASSERT_EQ(b.size(), 54u + 24u);
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(Le32(b, 2), 78u);   // file size
    EXPECT_EQ(Le32(b, 6), 0u);    // reserved
    EXPECT_EQ(Le32(b, 10), 54u);  // pixel offset
    EXPECT_EQ(Le32(b, 14), 40u);
    EXPECT_EQ(Le32(b, 18), 3u);
    EXPECT_EQ(Le32(b, 22), 2u);  // positive height: bottom-up
    EXPECT_EQ(b[26] | b[27] << 8, 1);
    EXPECT_EQ(b[28] | b[29] << 8, 32);
    for (size_t at = 30; at < 54; at += 4) EXPECT_EQ(Le32(b, at), 0u) << at;
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 54, b.end()), frame);
}

TEST(StillBmp, FfmpegSeesTheFirstStoredRowAtTheBottom) {
    TempFolder dir;
    StillWriter writer(dir.str());
    const int w = 5, h = 4;
    std::vector<uint8_t> frame(static_cast<size_t>(w * h * 4), 0);
    for (int x = 0; x < w; ++x) {
        frame[static_cast<size_t>(4 * x + 2)] = 200;  // first stored row: red
    }
    for (int x = 0; x < w; ++x) {
        frame[static_cast<size_t>(4 * ((h - 1) * w + x))] = 150;  // last stored row: blue
    }
    ASSERT_TRUE(writer.WriteStillBmp(0, frame.data(), w, h));
    const outtest::Rgb d = outtest::DecodeWithFfmpeg(dir / "mono000000.bmp");
    ASSERT_EQ(d.width, w);
    ASSERT_EQ(d.height, h);
    const auto px = [&](int x, int y, int c) { return d.rgb[(static_cast<size_t>(y) * w + x) * 3 + c]; };
    EXPECT_EQ(px(0, 0, 2), 150);      // top row is blue
    EXPECT_EQ(px(0, h - 1, 0), 200);  // bottom row is red
}

TEST(StillProgress, OneLineAfterAThousandBmpStills) {
    TempFolder dir;
    RunLog log;
    log.SetPath(dir / "run.log");
    StillWriter writer(dir.str(), &log);
    const uint8_t pixel[4] = {1, 2, 3, 0};
    for (int i = 0; i < 1000; ++i) {
        ASSERT_TRUE(writer.WriteStillBmp(i, pixel, 1, 1));
        if (i == 499) {
            EXPECT_FALSE(fs::exists(dir / "run.log")) << "line before the 501st still";
        }
        if (i == 500) {
            EXPECT_EQ(LogLines(dir / "run.log").size(), 1u) << "line with the 501st still";
        }
    }
    EXPECT_EQ(LogLines(dir / "run.log"), std::vector<std::string>{"Process: 500frames"});
    EXPECT_EQ(writer.StillCount(StillFormat::Bmp), 1000);
    EXPECT_TRUE(fs::exists(dir / "mono000999.bmp"));
    // The next line comes 501 stills later and carries the count before it.
    for (int i = 1000; i < 1002; ++i) writer.WriteStillBmp(i, pixel, 1, 1);
    EXPECT_EQ(LogLines(dir / "run.log"), (std::vector<std::string>{"Process: 500frames", "Process: 1001frames"}));
}

TEST(StillProgress, FormatsCountSeparately) {
    TempFolder dir;
    RunLog log;
    log.SetPath(dir / "run.log");
    StillWriter writer(dir.str(), &log);
    const uint8_t pixels[8 * 8 * 4] = {};
    for (int i = 0; i < 300; ++i) {
        writer.WriteStillBmp(i, pixels, 8, 8);
        writer.WriteStillJpeg(i, pixels, 8, 8);
    }
    EXPECT_FALSE(fs::exists(dir / "run.log"));  // 600 stills, but 300 of each
    for (int i = 300; i < 501; ++i) writer.WriteStillJpeg(i, pixels, 8, 8);
    EXPECT_EQ(LogLines(dir / "run.log"), std::vector<std::string>{"Process: 500frames"});
    EXPECT_EQ(writer.StillCount(StillFormat::Jpeg), 501);
    EXPECT_EQ(writer.StillCount(StillFormat::Bmp), 300);
    for (int i = 300; i < 501; ++i) writer.WriteStillBmp(i, pixels, 8, 8);
    EXPECT_EQ(LogLines(dir / "run.log"), (std::vector<std::string>{"Process: 500frames", "Process: 500frames"}));
}

TEST(StillJpeg, DecodesAndTruncatesAnOlderLongerFile) {
    TempFolder dir;
    StillWriter writer(dir.str());
    const outtest::Frame f = outtest::NaturalFrame(24, 16, 32, 4);
    outtest::Run("head -c 100000 /dev/urandom > " + outtest::Quote(dir / "mono000003.jpg"));
    ASSERT_TRUE(writer.WriteStillJpeg(3, f.bytes.data(), 24, 16));
    EXPECT_LT(fs::file_size(dir / "mono000003.jpg"), 100000u);
    const outtest::Rgb d = outtest::DecodeWithDjpeg(dir / "mono000003.jpg");
    ASSERT_EQ(d.width, 24);
    EXPECT_GT(outtest::Psnr(f, d), 40.0);
}

TEST(StillFailures, AreLoggedWithTheFileNameAndReported) {
    TempFolder dir;
    RunLog log;
    log.SetPath(dir / "run.log");
    const uint8_t pixels[16 * 16 * 4] = {};
    {
        StillWriter writer(dir / "missing", &log);
        const StillResult bmp = writer.WriteStillBmp(5, pixels, 16, 16);
        EXPECT_FALSE(bmp.ok);
        EXPECT_NE(bmp.message.find(dir / "missing/mono000005.bmp"), std::string::npos) << bmp.message;
        const StillResult jpg = writer.WriteStillJpeg(6, pixels, 16, 16);
        EXPECT_FALSE(jpg);
        EXPECT_NE(jpg.message.find("mono000006.jpg"), std::string::npos);
        EXPECT_EQ(writer.StillCount(StillFormat::Bmp), 0);
        EXPECT_EQ(LogLines(dir / "run.log"), (std::vector<std::string>{bmp.message, jpg.message}));
    }
    {
        // A full disk: the still's name leads to /dev/full.
        fs::create_symlink("/dev/full", dir / "mono000001.jpg");
        fs::create_symlink("/dev/full", dir / "mono000001.bmp");
        StillWriter writer(dir.str(), &log);
        const StillResult jpg = writer.WriteStillJpeg(1, pixels, 16, 16);
        EXPECT_FALSE(jpg);
        EXPECT_NE(jpg.message.find("No space left"), std::string::npos) << jpg.message;
        const StillResult bmp = writer.WriteStillBmp(1, pixels, 16, 16);
        EXPECT_FALSE(bmp);
        EXPECT_NE(bmp.message.find("No space left"), std::string::npos) << bmp.message;
    }
    {
        StillWriter writer(dir.str(), &log);
        EXPECT_FALSE(writer.WriteStillBmp(2, nullptr, 16, 16));
        EXPECT_FALSE(writer.WriteStillJpeg(2, pixels, 0, 16));
        EXPECT_FALSE(fs::exists(dir / "mono000002.bmp"));
        EXPECT_FALSE(fs::exists(dir / "mono000002.jpg"));
    }
    if (geteuid() != 0) {
        fs::create_directory(dir / "readonly");
        fs::permissions(dir / "readonly", fs::perms::owner_read | fs::perms::owner_exec);
        StillWriter writer(dir / "readonly", &log);
        EXPECT_FALSE(writer.WriteStillJpeg(0, pixels, 16, 16));
        fs::permissions(dir / "readonly", fs::perms::owner_all);
    }
}

TEST(StillCleanup, DeletesStillsAndSoundOnly) {
    TempFolder dir;
    for (const char* name : {"mono000000.jpg", "mono000001.bmp", "mono1234567.jpg", "temp.wav",
                             "UPPER.JPG", "keep.txt", "keep.jpeg", "holiday.jpg", "monoxyz123.bmp",
                             "mono12.jpg", "song.wav"}) {
        outtest::Run("touch " + outtest::Quote(dir / name));
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

TEST(StillThreads, ConcurrentStillsKeepCountsAndOneProgressLine) {
    TempFolder dir;
    RunLog log;
    log.SetPath(dir / "run.log");
    StillWriter writer(dir.str(), &log);
    const outtest::Frame f = outtest::NaturalFrame(16, 8, 32, 2);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = t; i < 600; i += 4) {
                if (!writer.WriteStillJpeg(i, f.bytes.data(), 16, 8)) ADD_FAILURE() << i;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(writer.StillCount(StillFormat::Jpeg), 600);
    EXPECT_EQ(LogLines(dir / "run.log"), std::vector<std::string>{"Process: 500frames"});
    const std::vector<uint8_t> first = outtest::ReadBytes(dir / "mono000000.jpg");
    EXPECT_EQ(outtest::ReadBytes(dir / "mono000599.jpg"), first);
}

}  // namespace
}  // namespace tessaly
