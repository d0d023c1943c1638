// Parts of a movie: the slot windows, the tag a part carries, and the frame
// callback that hands on one window's frames. Whatever the frame times, the
// windows of parts 1..N hand on exactly the frames of a whole run, in order.
#include "convert/movie_part.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <numeric>
#include <optional>
#include <vector>

#include "convert/frame_callback.h"
#include "video/media_info.h"

namespace tessaly {
namespace {

TEST(MoviePart, WindowsSplitTheSlotsEvenly) {
    const int64_t kEnd = std::numeric_limits<int64_t>::max();
    EXPECT_EQ(PartWindow(105, 1, 4), (SlotWindow{0, 26}));
    EXPECT_EQ(PartWindow(105, 2, 4), (SlotWindow{26, 52}));
    EXPECT_EQ(PartWindow(105, 3, 4), (SlotWindow{52, 78}));
    EXPECT_EQ(PartWindow(105, 4, 4), (SlotWindow{78, kEnd}));
    EXPECT_EQ(PartWindow(10, 1, 1), (SlotWindow{0, kEnd}));
    // Every slot of every split in exactly one window.
    for (int64_t slots : {1LL, 7LL, 100LL, 108000LL}) {
        for (int32_t count : {1, 2, 3, 7, 16}) {
            if (count > slots) continue;
            int64_t next = 0;
            for (int32_t i = 1; i <= count; ++i) {
                const SlotWindow w = PartWindow(slots, i, count);
                EXPECT_EQ(w.first, next) << slots << " " << i << "/" << count;
                EXPECT_GT(std::min(w.end, slots), w.first) << "no part is empty";
                next = w.end;
            }
            EXPECT_EQ(next, kEnd);
        }
    }
    // A damaged length far beyond any movie stays exact.
    EXPECT_EQ(PartWindow(4'000'000'000'000'000'000LL, 9999, 10000).first, 3'999'200'000'000'000'000LL);
}

TEST(MoviePart, TagReadsBackAndRefusesOtherTexts) {
    AppSettings settings;
    settings.lens.fov = 190.5;
    PartTag tag{2, 4, 26, 52, 105, 123456789012LL, 30000, 1001, PartSettingsText(settings, 1, 7, 2, {}), ""};
    EXPECT_EQ(tag.settings,
              "cut=-8,-8,616,606;lens=equidistant,190.5,0,0,0;sharpen=0,0;brightness=off;contrast=off;noise=off;"
              "aspect=0;flip=1;quality=7;resize=2;stereo=mono");
    const std::string text = PartTagText(tag);
    PartTag back;
    ASSERT_TRUE(ParsePartTag(text, back)) << text;
    EXPECT_EQ(back, tag);
    // With the digest of its frames: read back whole; a cut or non-hex one is no tag.
    tag.digest = std::string(64, 'a');
    ASSERT_TRUE(ParsePartTag(PartTagText(tag), back));
    EXPECT_EQ(back, tag);
    EXPECT_FALSE(ParsePartTag(PartTagText(tag).substr(0, PartTagText(tag).size() - 1), back));
    EXPECT_FALSE(ParsePartTag(text + " digest " + std::string(64, 'g'), back));
    for (const std::string& bad :
         {std::string(), std::string("Lavf60"), text.substr(0, text.size() / 2), "tessaly-part 5/4" + text.substr(16),
          std::string("tessaly-part 2/4 slots 52-26/105 source 1/25/1 settings x")}) {
        PartTag none;
        EXPECT_FALSE(ParsePartTag(bad, none)) << bad;
    }
    AppSettings other = settings;
    other.lens.model = LensModel::kStereographic;
    EXPECT_EQ(SettingsDifference(PartSettingsText(other, 1, 7, 2, {}), tag.settings),
              "lens=stereographic,190.5,0,0,0 (not lens=equidistant,190.5,0,0,0)");
    EXPECT_EQ(SettingsDifference(tag.settings, tag.settings), "");
    // Stereo parts say each eye's window, cut, centre shift and angles, and the output's layout for the join's marking.
    StereoSettings stereo;
    stereo.input = StereoLayout::kSideBySide;
    stereo.output = StereoLayout::kTopBottom;
    stereo.windows = {FrameRegion{0, 0, 960, 1080}, FrameRegion{961, 2, 960, 1080}};
    stereo.cuts = {CutRect{1, 2, 599, 598}, CutRect{1, 2, 599, 598}};
    stereo.shifts[kLeftEye] = CentreShift{0.5, -0.125}, stereo.angles[kRightEye].roll = 0.25;
    const std::string sbs = PartSettingsText(settings, 0, 7, 2, stereo);
    EXPECT_EQ(sbs.substr(sbs.find(";stereo=")), ";stereo=sbs>tb/swap=0/left=0,0,960,1080:1,2,599,598:0.5,-0.125:0,0,0/"
                                                "right=961,2,960,1080:1,2,599,598:0,0:0,0,0.25");
    EXPECT_TRUE(ParsePartTag(PartTagText(PartTag{tag.index, tag.count, 0, 1, 2, 3, 25, 1, sbs, ""}), back));
    EXPECT_EQ(PartStereoLayout(sbs), StereoLayout::kTopBottom);
    EXPECT_EQ(PartStereoLayout(tag.settings), StereoLayout::kMono);
}

// Frames are told apart by their first two bytes; the "transform" copies
// them into a one-pixel output and counts its calls.
struct Timeline {
    std::vector<double> times;  // of the frames as delivered
    double fps = 10;
    int64_t slots = 0;
};

struct Handed {
    std::vector<int> frames;  // the frame each emitted slot shows
    int converted = 0;
};

// `from`: the first frame delivered (a part read from a key frame).
// `inspect` sees the callback after the last frame, before the fill.
Handed RunWindow(const Timeline& t, std::optional<SlotWindow> window, bool fill = true, size_t from = 0,
                 const std::function<void(const FrameCallback&)>& inspect = {}) {
    FisheyeApp app;
    FrameBuffer out;
    out.Allocate(1, 1);
    Handed handed;
    FrameCallback callback(
        app.run,
        [&handed](int32_t, const uint8_t* bgrx, int32_t, int32_t) {
            handed.frames.push_back(bgrx[0] | bgrx[1] << 8);
            return StillResult{};
        },
        [&](double, const uint8_t* data, int32_t) -> const FrameBuffer* {
            ++handed.converted;
            std::memcpy(out.Data(), data, 4);
            return &out;
        },
        static_cast<int32_t>(t.slots), 0);
    callback.KeepFrameTimes(t.fps, t.slots);
    if (window) callback.KeepSlots(*window);
    for (size_t i = from; i < t.times.size() && !callback.WindowDone(); ++i) {
        const uint8_t bytes[4] = {static_cast<uint8_t>(i & 0xff), static_cast<uint8_t>(i >> 8), 0, 0};
        callback.OnFrame(t.times[i], bytes, 4);
    }
    if (inspect) inspect(callback);
    if (fill) callback.FillTo(static_cast<double>(t.slots) / t.fps);
    return handed;
}

// A run decoded short when its frames reach less far into the movie's
// timeline than the file declares; a part, whose frames are not all of the
// movie's, by how far they reach unless its slots all filled.
TEST(MoviePart, ShortDecodesCountHowFarTheFramesReach) {
    const auto frames = [](std::vector<int> numbers) {
        Timeline t{{}, 25, 50};
        for (int n : numbers) t.times.push_back(n / 25.0);
        return t;
    };
    std::vector<int> all(50), cut(40), chunk(50);
    std::iota(all.begin(), all.end(), 0);
    std::iota(cut.begin(), cut.end(), 0);
    std::iota(chunk.begin() + 1, chunk.end(), 2);  // an AVI's empty chunk: frame 1 shown again
    const int64_t kEnd = std::numeric_limits<int64_t>::max();
    const struct {
        const char* name;
        std::vector<int> frames;
        std::optional<SlotWindow> window;
        int64_t declared;
        bool exactly;
        bool isShort;
    } cases[] = {
        {"AVI with an empty chunk", chunk, std::nullopt, 51, true, false},
        {"whole movie", all, std::nullopt, 50, true, false},
        {"cut movie", cut, std::nullopt, 50, true, true},
        {"last part of a cut movie", cut, SlotWindow{25, kEnd}, 50, true, true},
        {"first part of a cut movie", cut, SlotWindow{0, 25}, 50, true, false},
        {"last part of a whole movie", all, SlotWindow{25, kEnd}, 50, true, false},
    };
    for (const auto& c : cases) {
        DecodeReach reach;
        RunWindow(frames(c.frames), c.window, false, 0, [&](const FrameCallback& callback) {
            reach = ReachOfRun(callback, c.declared, c.exactly, c.window.has_value());
        });
        EXPECT_EQ(DecodedShort(reach.decoded, reach.declared, reach.exactly), c.isShort) << c.name;
    }
}

TEST(MoviePart, WindowsHandOnTheFramesOfAWholeRunWhateverTheTimes) {
    Timeline even{{}, 10, 23};  // one frame per slot
    for (int i = 0; i < 23; ++i) even.times.push_back(i / 10.0);
    // Gaps (a frame repeated into the next part's first slots), crowded
    // slots (frames dropped), a first frame that comes late and a last one
    // that ends early (the end is filled).
    const Timeline uneven{{0.21, 0.3, 0.4, 0.9, 1.0, 1.01, 1.02, 1.1, 1.6, 1.7, 2.0, 2.05, 2.6, 3.1}, 10, 36};
    // Then a stated length two slots longer than the frames (a whole run does
    // not stretch an even movie, and neither does its last part), and no
    // times at all (frames in order, one per slot).
    for (const Timeline& t : {even, uneven, Timeline{even.times, 10, 25}, Timeline{even.times, 0, 23}}) {
        const Handed whole = RunWindow(t, std::nullopt);
        ASSERT_FALSE(whole.frames.empty());
        for (int32_t count : {1, 2, 3, 5, 7}) {
            std::vector<int> joined;
            int converted = 0;
            for (int32_t i = 1; i <= count; ++i) {
                const Handed part = RunWindow(t, PartWindow(t.slots, i, count), i == count);
                joined.insert(joined.end(), part.frames.begin(), part.frames.end());
                converted += part.converted;
            }
            EXPECT_EQ(joined, whole.frames) << "fps " << t.fps << ", " << count << " parts";
            // Parts read from a frame a few slots before their span (a key
            // frame) hand on the same frames.
            if (t.fps > 0) {
                std::vector<int> sought;
                for (int32_t i = 1; i <= count; ++i) {
                    const SlotWindow w = PartWindow(t.slots, i, count);
                    size_t from = 0;
                    while (from + 1 < t.times.size() && t.times[from + 1] * t.fps < static_cast<double>(w.first) - 2.5) {
                        ++from;
                    }
                    const Handed part = RunWindow(t, w, i == count, from);
                    sought.insert(sought.end(), part.frames.begin(), part.frames.end());
                }
                EXPECT_EQ(sought, whole.frames) << "read from key frames, fps " << t.fps << ", " << count << " parts";
            }
            // Only the frames a part shows are transformed, and at most one
            // more for each part (the frame a repeat carries into it).
            EXPECT_LE(converted, whole.converted + count) << count;
        }
    }
}

}  // namespace
}  // namespace tessaly
