#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tests/transform/test_frames.h"
#include "transform/frame_pipeline.h"
#include "transform/frame_steps.h"
#include "transform/stereo_layout.h"

namespace tessaly {
namespace {

using testing::Fnv1a64;
using testing::MakePattern;

TransformSettings Cut(int xl1, int yl1, int xl2, int yl2) {
    TransformSettings s;
    s.cut = CutRect{xl1, yl1, xl2, yl2};
    s.sharpenOn = 0;
    return s;
}

std::vector<uint8_t> OutputBytes(const FramePipeline& p) {
    return std::vector<uint8_t>(p.OutputPixels(), p.OutputPixels() + p.Output().PictureBytes());
}

// A pipeline of w x h frames with the geometry of s built.
void Prepare(FramePipeline& p, int w, int h, const TransformSettings& s) {
    ASSERT_EQ(p.Allocate(w, h), TransformStatus::kOk);
    ASSERT_TRUE(p.BuildGeometry(s.cut).Ok());
}

// Converts one 160 x 120 frame and returns the output.
std::vector<uint8_t> Convert(FramePipeline& p, const TransformSettings& s, uint32_t seed) {
    const std::vector<uint8_t> frame = MakePattern(160, 120, seed);
    EXPECT_EQ(p.ConvertFrame(frame.data(), frame.size(), s, {}, {}), TransformStatus::kOk);
    return OutputBytes(p);
}

// Every pair of the table equals SourceOffset of its pixel.
bool TableHoldsTheGeometry(FramePipeline& p) {
    const CutGeometry& g = p.Geometry();
    const float* pairs = p.Table().Pairs();
    for (int y = 0; y < g.outH; ++y) {
        for (int x = 0; x < g.outW; ++x) {
            const SourcePair sp = SourceOffset(g, x, y);
            if (std::memcmp(pairs + 2 * (static_cast<size_t>(y) * g.outW + x), &sp, 8) != 0) return false;
        }
    }
    return true;
}

TEST(FramePipeline, TableIsBuiltWithTheGeometryAndOnlyReadByTheFrames) {
    for (int aspect : {0, 1}) {
        FramePipeline p;
        TransformSettings s = Cut(-8, -8, 616, 606);
        s.aspect = aspect;
        ASSERT_EQ(p.Allocate(160, 120), TransformStatus::kOk);
        EXPECT_EQ(p.GeomValid() + p.CacheFilled(), 0);
        ASSERT_TRUE(p.BuildGeometry(s.cut).Ok());
        EXPECT_EQ(p.GeomValid() + p.CacheFilled(), 2);
        EXPECT_TRUE(TableHoldsTheGeometry(p));
        const std::vector<uint8_t> first = Convert(p, s, 3);

        // Point every pair at the crop centre: a read table makes the output one colour.
        float* pairs = const_cast<float*>(p.Table().Pairs());
        std::vector<float> kept(pairs, pairs + 2 * p.Table().PairCount());
        std::fill(pairs, pairs + kept.size(), 0.0f);
        const std::vector<uint8_t> tampered = Convert(p, s, 3);
        for (size_t i = 0; i < tampered.size(); i += 4) ASSERT_EQ(std::memcmp(&tampered[i], &tampered[0], 3), 0) << i;
        std::copy(kept.begin(), kept.end(), pairs);
        EXPECT_EQ(Convert(p, s, 3), first);
        // The same crop height again keeps the table (a marked pair stays).
        pairs[0] = 1e9f;
        ASSERT_TRUE(p.BuildGeometry(s.cut).Ok());
        EXPECT_EQ(p.Table().Pairs()[0], 1e9f);
        pairs[0] = kept[0];

        // Only the bottom edge moved: another crop height, a new table.
        s.cut.YL2 = 500;
        ASSERT_TRUE(p.BuildGeometry(s.cut).Ok());
        EXPECT_TRUE(TableHoldsTheGeometry(p));
    }
}

TEST(FramePipeline, RefusesWrongSamplesAndCutsWithoutTouchingTheOutput) {
    FramePipeline p;
    TransformSettings s = Cut(-8, -8, 616, 606);
    EXPECT_EQ(p.ConvertFrame(nullptr, 0, s, {}, {}), TransformStatus::kNoFrame);
    ASSERT_EQ(p.Allocate(160, 120), TransformStatus::kOk);
    const std::vector<uint8_t> frame = MakePattern(160, 120, 1);
    EXPECT_EQ(p.ConvertFrame(frame.data(), frame.size(), s, {}, {}), TransformStatus::kNoGeometry);
    ASSERT_TRUE(p.BuildGeometry(s.cut).Ok());
    const std::vector<uint8_t> before = Convert(p, s, 1);
    EXPECT_EQ(p.ConvertFrame(frame.data(), frame.size() - 4, s, {}, {}), TransformStatus::kBadSampleSize);
    EXPECT_EQ(p.ConvertFrame(frame.data(), frame.size() + 4, s, {}, {}), TransformStatus::kBadSampleSize);
    EXPECT_EQ(p.ConvertFrame(nullptr, frame.size(), s, {}, {}), TransformStatus::kBadSampleSize);
    EXPECT_EQ(OutputBytes(p), before);
    EXPECT_EQ(p.BuildGeometry(CutRect{0, 0, 600, 600000}).status, TransformStatus::kOutputTooLarge);
    EXPECT_EQ(p.BuildGeometry(CutRect{0, 0, 600, 1}).status, TransformStatus::kCropEmpty);
    EXPECT_EQ(p.ConvertFrame(frame.data(), frame.size(), s, {}, {}), TransformStatus::kNoGeometry);

    // Random cuts, sensible and absurd: each is refused or converted within
    // its buffers (the sanitizer builds check every access).
    std::mt19937 rng(2024);
    std::uniform_int_distribution<int> small(-700, 1300);
    std::uniform_int_distribution<int> any(std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
    const std::vector<uint8_t> little = MakePattern(64, 48, 3);
    FramePipeline q(2);
    ASSERT_EQ(q.Allocate(64, 48), TransformStatus::kOk);
    int converted = 0;
    for (int i = 0; i < 300; ++i) {
        auto pick = [&] { return (i % 10 == 9) ? any(rng) : small(rng); };
        TransformSettings c = Cut(pick(), pick(), pick(), pick());
        c.aspect = i & 1, c.sharpenOn = 1, c.sharpen = 2;
        const GeometryResult g = q.BuildGeometry(c.cut);
        const TransformStatus st = q.ConvertFrame(little.data(), little.size(), c, {i & 2 ? 1 : 0, 0}, {});
        converted += g.Ok();
        EXPECT_EQ(st, g.Ok() ? TransformStatus::kOk : TransformStatus::kNoGeometry);
        EXPECT_TRUE(g.Ok() ? q.OutputWidth() == g.geometry.outW : !g.Message().empty());
    }
    EXPECT_GT(converted, 50);
    EXPECT_LT(converted, 250);
}

TEST(FramePipeline, PreviewPassOrderAndGeometryRebuilds) {
    FramePipeline p;
    std::vector<std::string> ev;
    std::vector<uint8_t> frame = MakePattern(300, 300, 9);
    PreviewCallbacks cb;
    cb.getCurrentBuffer = [&](uint8_t* dst, size_t bytes) {
        ev.push_back("grab");
        return std::memcpy(dst, frame.data(), bytes) != nullptr;
    };
    cb.paintPreviews = [&] { ev.push_back("paint busy=" + std::to_string(p.PreviewBusy().load())); };
    cb.sleep = [&](int ms) { ev.push_back("pause " + std::to_string(ms)); };
    cb.showOutputSize = [&](const std::string& t) { ev.push_back("size" + t); };
    ASSERT_EQ(p.Allocate(300, 300), TransformStatus::kOk);
    TransformSettings s = Cut(0, 0, 400, 400);  // a corner at 0, 0 still builds on the first pass
    s.cpuOn = s.sharpenOn = s.sharpen = 1, s.cpu = 97;
    EXPECT_TRUE(p.PreviewPass(s, FrameSwitches{0, 1}, cb).geometryBuilt);
    // Only the CPU-usage pauses wait: one after the projection, one in the
    // pass, one in the input filters.
    EXPECT_EQ(ev, (std::vector<std::string>{"size 200x200", "grab", "pause 30", "pause 30", "pause 30", "paint busy=1"}));
    EXPECT_EQ(p.PreviewBusy().load(), 0);
    EXPECT_TRUE(TableHoldsTheGeometry(p));
    // The bottom-right corner alone does not rebuild; the top-left does.
    s.cut.XL2 = s.cut.YL2 = 300;
    EXPECT_FALSE(p.PreviewPass(s, {}, cb).geometryBuilt);
    EXPECT_EQ(p.Geometry().cropH, 200);
    s.cut.XL1 = 2;
    ev.clear();
    EXPECT_TRUE(p.PreviewPass(s, {}, cb).geometryBuilt);
    EXPECT_EQ(ev[0], "size 150x150");
    EXPECT_TRUE(TableHoldsTheGeometry(p));
    // A refused cut, told once per corner position, keeps the input following the stream.
    s = Cut(10, 10, 400, 11);
    frame = MakePattern(300, 300, 2);
    const PreviewResult res = p.PreviewPass(s, {}, cb);
    EXPECT_TRUE(res.status == TransformStatus::kCropEmpty && res.geometryBuilt && !res.message.empty());
    EXPECT_EQ(std::memcmp(p.InputFrame().Data(), frame.data(), frame.size()), 0);
    EXPECT_FALSE(p.PreviewPass(s, {}, cb).geometryBuilt);
}

// Two eyes of one frame, each read through its window (across the frame's
// edges) and written in place into its part of one joined frame, give the
// bytes of each window converted alone, frame after frame. Alike eyes share
// one remap table; an eye that needs another builds its own beside it.
TEST(FramePipeline, EyesReadAndWrittenInPlaceGiveTheBytesOfEachEyeAlone) {
    const int w = 320, h = 120;
    const FrameRegion windows[2] = {{-6, 4, 160, 120}, {166, -5, 160, 120}};
    struct Case { const char* name; StereoLayout layout; double rightRoll; int32_t sharpen, brightness; };
    const Case kCases[] = {{"side by side", StereoLayout::kSideBySide, 0, 0, 0},
                           {"top-bottom, sharpened", StereoLayout::kTopBottom, 0, 3, 0},
                           {"right eye rolled, sharpened", StereoLayout::kSideBySide, 3, 3, 0},
                           {"brightness: windows copied", StereoLayout::kSideBySide, 0, 0, 40}};
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        TransformSettings s[2] = {Cut(-8, -8, 616, 606), Cut(-8, -8, 616, 606)};
        std::array<FramePipeline, 2> eyes, alone;
        FrameBuffer joined;
        for (int e = 0; e < 2; ++e) {
            s[e].sharpenOn = c.sharpen != 0, s[e].sharpen = c.sharpen, s[e].radius = 1;
            s[e].brightnessOn = c.brightness != 0, s[e].brightness = c.brightness;
            s[e].lens.roll = e == kRightEye ? c.rightRoll : 0;
            ASSERT_EQ(eyes[e].Allocate(160, 120), TransformStatus::kOk);
            eyes[e].PlaceOutput(PixelRect{});
            if (e == kRightEye) eyes[e].ShareTableOf(eyes[kLeftEye]);
            ASSERT_TRUE(eyes[e].BuildGeometry(s[e].cut, s[e].lens).Ok());
            ASSERT_EQ(alone[e].Allocate(160, 120), TransformStatus::kOk);
            ASSERT_TRUE(alone[e].BuildGeometry(s[e].cut, s[e].lens).Ok());
        }
        EXPECT_EQ(eyes[kRightEye].SharesTableWith(eyes[kLeftEye]), c.rightRoll == 0);
        int32_t jw = 0, jh = 0;
        JoinedSize(c.layout, eyes[0].Geometry().outW, eyes[0].Geometry().outH, jw, jh);
        joined.Allocate(jw, jh);
        for (int e = 0; e < 2; ++e) eyes[e].PlaceOutput(EyePart(c.layout, joined, e));
        for (uint32_t seed : {1u, 2u}) {
            const std::vector<uint8_t> frame = MakePattern(w, h, seed);
            for (int e = 0; e < 2; ++e) {
                ASSERT_EQ(eyes[e].ConvertWindow(frame.data(), w, h, windows[e], s[e], {}, {}), TransformStatus::kOk);
                FrameBuffer copy;
                CopyWindow(frame.data(), w, h, windows[e], copy);
                ASSERT_EQ(alone[e].ConvertFrame(copy.Data(), copy.PictureBytes(), s[e], {}, {}), TransformStatus::kOk);
                const PixelRect part = EyePart(c.layout, joined, e);
                ASSERT_EQ(part.width * part.height, alone[e].Output().PixelCount());
                for (int r = 0; r < part.height; ++r) {
                    ASSERT_EQ(std::memcmp(part.data + r * part.stride, alone[e].Output().Row(r), 4 * part.width), 0)
                        << "eye " << e << " frame " << seed << " stored row " << r;
                }
            }
        }
    }
}

// A centre shift of whole pixels reads what a window moved by as many
// pixels does (x to the right, y downward), up to the last bit of a weight.
TEST(FramePipeline, CentreShiftOfWholePixelsReadsAsAMovedWindow) {
    const std::vector<uint8_t> frame = MakePattern(200, 140, 5);
    const TransformSettings s = Cut(-8, -8, 616, 606);
    for (const auto& [dx, dy] : {std::pair{1, 0}, {0, 1}, {-2, 1}}) {
        std::vector<uint8_t> out[3];  // shifted, moved, neither
        const FrameRegion windows[3] = {{20, 10, 160, 120}, {20 + dx, 10 + dy, 160, 120}, {20, 10, 160, 120}};
        for (int k = 0; k < 3; ++k) {
            FramePipeline p(1);
            ASSERT_EQ(p.Allocate(160, 120), TransformStatus::kOk);
            ASSERT_TRUE(p.BuildGeometry(s.cut, s.lens, k == 0 ? CentreShift{1.0 * dx, 1.0 * dy} : CentreShift{}).Ok());
            ASSERT_EQ(p.ConvertWindow(frame.data(), 200, 140, windows[k], s, {}, {}), TransformStatus::kOk);
            out[k] = OutputBytes(p);
        }
        ASSERT_EQ(out[0].size(), out[1].size());
        for (size_t i = 0; i < out[0].size(); ++i) ASSERT_LE(std::abs(out[0][i] - out[1][i]), 1) << dx << "," << dy << ": " << i;
        EXPECT_NE(out[0], out[2]) << dx << "," << dy;
    }
}

// The full conversion order with every filter on, flipped, over two frames
// (the second reads the table again). Its checksums were taken from a plain
// per-pixel conversion written from the formulas, with no tables, threads or
// vectors; any change of a single output byte fails here. Every kernel and
// thread count gives these bytes, and on other cuts the single-thread scalar
// bytes.
TEST(FramePipeline, GoldenChecksumAndIdenticalBytesOnEveryKernelAndThreadCount) {
    const int w = 320, h = 240;
    TransformSettings golden = Cut(-8, -8, 616, 606);
    golden.noiseOn = golden.brightnessOn = golden.contrastOn = golden.sharpenOn = golden.cpuOn = golden.aspect = 1;
    golden.noise = 2, golden.brightness = 140, golden.contrast = 150, golden.sharpen = 3, golden.radius = 1, golden.cpu = 100;
    TransformSettings narrow = Cut(200, 100, 330, 520);  // unwritten borders left and right
    narrow.aspect = 1;
    const std::vector<std::pair<TransformSettings, FrameSwitches>> cases = {
        {golden, {1, 0}}, {narrow, {}},
        {Cut(-200, 300, 500, 700), {1, 0}},  // mostly outside the frame, flipped
        {Cut(3, 7, 61, 75), {}}};            // small, odd sizes
    for (size_t c = 0; c < cases.size(); ++c) {
        const auto& [s, sw] = cases[c];
        std::vector<uint64_t> expected;
        if (c == 0) expected = {0xecdc1bde0f1d1248ull, 0xa1eb51abc02390deull};
        for (ResampleKernel k : {ResampleKernel::kScalar, ResampleKernel::kSse2, ResampleKernel::kAvx2, ResampleKernel::kAvx512}) {
            for (int threads : {1, 2, 3, 0}) {
                if (!KernelSupported(k)) continue;
                FramePipeline p(threads);
                p.SetKernel(k);
                Prepare(p, w, h, s);
                // Without a painter a frame without input filters is cut
                // straight from the sample: the same bytes.
                const bool paint = threads != 3;
                int paints = 0;
                FrameCallbacks cb;
                if (paint) cb.paintPreviews = [&] { ++paints; };
                std::vector<uint64_t> sums;
                for (uint32_t seed : {11u, 12u}) {
                    const std::vector<uint8_t> frame = MakePattern(w, h, seed);
                    ASSERT_EQ(p.ConvertFrame(frame.data(), frame.size(), s, sw, cb), TransformStatus::kOk);
                    sums.push_back(Fnv1a64(p.OutputPixels(), p.Output().PictureBytes()));
                }
                EXPECT_EQ(paints, paint ? 2 : 0);
                if (expected.empty()) expected = sums;
                EXPECT_EQ(sums, expected) << "cut " << c << " " << KernelName(k) << " threads " << threads << std::hex
                                          << " " << sums[0] << " " << sums[1];
                EXPECT_TRUE(c != 0 || (p.OutputWidth() == 246 && p.OutputHeight() == 246)) << p.OutputWidth();
            }
        }
    }
}

}  // namespace
}  // namespace tessaly
