#include "cli/convert_options.h"

#include <gtest/gtest.h>

namespace tessaly {
namespace {

ParsedOptions Parse(std::vector<std::string> args) { return ParseConvertOptions(args); }

TEST(ConvertOptions, FilesAndEveryOption) {
    ParsedOptions p = Parse({"--cut", "-10,-8,612,606", "--sharpen=3,2", "--brightness", "140",
                             "--contrast", "90", "--noise", "2", "--cpu", "80", "--flip",
                             "--aspect", "--stills", "jpg", "--quality", "21", "--resize=5",
                             "--temp", "/tmp/x y ", "--keep-stills", "--params", "/p.ini",
                             "in.mp4", "out.mp4", "--", "-odd.webm"});
    ASSERT_TRUE(p.ok) << p.error;
    const ConvertOptions& o = p.options;
    EXPECT_EQ(o.input, "in.mp4");
    EXPECT_EQ(o.outputs, (std::vector<std::string>{"out.mp4", "-odd.webm"}));
    EXPECT_EQ(*o.cut, (std::array<int32_t, 4>{-10, -8, 612, 606}));
    EXPECT_EQ(o.tempDir, "/tmp/x y ");  // exactly as typed

    FisheyeApp app;
    app.settings.SHARPEN_CH = 0;
    ApplyConvertOptions(o, app);
    const AppSettings& s = app.settings;
    EXPECT_EQ((std::vector<int32_t>{s.XL1, s.YL2, s.SHARPEN_CH, s.SHARPEN, s.RADIUS, s.BRIGHTNESS_CH,
                                    s.BRIGHTNESS, s.CONTRAST, s.NOISE_CH, s.NOISE, s.CPU_CH, s.CPU,
                                    s.ASPECT, app.horizontalFlip.load(), app.tempFormat.load(),
                                    app.resizeChoice.load()}),
              (std::vector<int32_t>{-10, 606, 1, 3, 2, 1, 140, 90, 1, 2, 1, 80, 1, 1, 2, 5}));
    EXPECT_EQ(s.APATH, "/tmp/x y ");
    EXPECT_EQ(o.quality, 21);
    EXPECT_TRUE(o.keepStills);
    EXPECT_FALSE(o.circle.has_value());
}

TEST(ConvertOptions, CircleInSourcePixels) {
    ParsedOptions p = Parse({"--circle", "639.5,359.5,360", "a.mp4", "b.mp4"});
    ASSERT_TRUE(p.ok) << p.error;
    ASSERT_TRUE(p.options.circle.has_value());
    EXPECT_EQ(*p.options.circle, (LensCircle{639.5, 359.5, 360.0}));
    EXPECT_FALSE(p.options.cut.has_value());
    p = Parse({"--circle=-12.25,+7,0.5", "--params", "x.ini", "a.mp4", "b.mp4"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(*p.options.circle, (LensCircle{-12.25, 7.0, 0.5}));
    // The circle is no cut yet: the settings keep theirs until the movie's size is known.
    FisheyeApp app;
    app.settings.XL1 = 5;
    ApplyConvertOptions(p.options, app);
    EXPECT_EQ(app.settings.XL1, 5);
}

TEST(ConvertOptions, UnsetOptionsKeepTheParameterFileValues) {
    ParsedOptions p = Parse({"a.mov", "b.mp4"});
    ASSERT_TRUE(p.ok);
    FisheyeApp app;
    app.settings.BRIGHTNESS_CH = 1;
    app.settings.BRIGHTNESS = 77;
    app.settings.XL1 = 5;
    app.settings.APATH = "/keep";
    app.tempFormat = 2;
    ApplyConvertOptions(p.options, app);
    EXPECT_EQ(app.settings.BRIGHTNESS, 77);
    EXPECT_EQ(app.settings.XL1, 5);
    EXPECT_EQ(app.settings.APATH, "/keep");
    EXPECT_EQ(app.tempFormat.load(), 2);

    ParsedOptions off = Parse({"--sharpen", "off", "a.mov", "b.mp4"});
    ASSERT_TRUE(off.ok);
    ApplyConvertOptions(off.options, app);
    EXPECT_EQ(app.settings.SHARPEN_CH, 0);
}

TEST(ConvertOptions, BadOptionsGiveOneLineErrors) {
    struct Case {
        std::vector<std::string> args;
        const char* error;
    };
    const Case cases[] = {
        {{}, "no input movie and no output movie given"},
        {{"in.mp4"}, "no output movie given"},
        {{"--bogus", "a", "b"}, "unknown option --bogus"},
        {{"--flip=1", "a", "b"}, "unknown option --flip"},
        {{"a", "b", "--quality"}, "--quality needs a value"},
        {{"--quality", "22", "a", "b"}, "--quality needs a whole number from 0 to 21, got '22'"},
        {{"--resize", "-1", "a", "b"}, "--resize needs a whole number from 0 to 5, got '-1'"},
        {{"--cpu", "49", "a", "b"}, "--cpu needs a whole number from 50 to 100, got '49'"},
        {{"--brightness", "256", "a", "b"},
         "--brightness needs a whole number from 0 to 255, got '256'"},
        {{"--sharpen", "2,4", "a", "b"},
         "--sharpen radius needs a whole number from 0 to 3, got '4'"},
        {{"--sharpen", "1,1,1", "a", "b"}, "--sharpen needs AMOUNT[,RADIUS] or off, got '1,1,1'"},
        {{"--cut", "1,2,3,99999999999", "a", "b"},
         "--cut needs four whole numbers XL1,YL1,XL2,YL2, got '1,2,3,99999999999'"},
        {{"--stills", "png", "a", "b"}, "--stills needs jpg or bmp, got 'png'"},
        {{"--temp=", "a", "b"}, "--temp needs a folder"},
        {{"a.mp4", "a.mp4"}, "the output movie a.mp4 is the input movie"},
        {{"--circle", "1,2", "a", "b"},
         "--circle needs the centre and radius CX,CY,R in source pixels (R above 0), got '1,2'"},
        {{"--circle", "1,2,0", "a", "b"},
         "--circle needs the centre and radius CX,CY,R in source pixels (R above 0), got '1,2,0'"},
        {{"--circle", "1;5,2,3", "a", "b"},
         "--circle needs the centre and radius CX,CY,R in source pixels (R above 0), got '1;5,2,3'"},
        {{"--circle", "1,2,3e2", "a", "b"},
         "--circle needs the centre and radius CX,CY,R in source pixels (R above 0), got '1,2,3e2'"},
        {{"--circle", "1,2,nan", "a", "b"},
         "--circle needs the centre and radius CX,CY,R in source pixels (R above 0), got '1,2,nan'"},
        {{"--circle", "1,2,3", "--cut", "1,2,3,4", "a", "b"}, "--circle and --cut both set the cut: give one of them"},
    };
    for (const Case& c : cases) {
        ParsedOptions p = Parse(c.args);
        EXPECT_FALSE(p.ok) << c.error;
        EXPECT_EQ(p.error, c.error);
    }
}

}  // namespace
}  // namespace tessaly
