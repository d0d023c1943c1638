#include "cli/convert_options.h"

#include <gtest/gtest.h>


namespace tessaly {
namespace {

ParsedOptions Parse(std::vector<std::string> args) { return ParseConvertOptions(args); }

TEST(ConvertOptions, FilesAndEveryOption) {
    ParsedOptions p = Parse({"--cut", "-10,-8,612,606", "--sharpen=3,2", "--brightness", "140",
                             "--contrast", "90", "--noise", "2", "--cpu", "80", "--flip",
                             "--aspect", "--stills", "jpg", "--quality", "21", "--resize=5",
                             "--temp", "/tmp/x y ", "--keep-stills", "--params", "/p.ini", "--encoder-stall=0",
                             "--lens", "equisolid", "--fov=212.5", "--yaw", "-12.25", "--pitch", "+3", "--roll", "180",
                             "in.mp4", "out.mp4", "--", "-odd.webm"});
    ASSERT_TRUE(p.ok) << p.error;
    const ConvertOptions& o = p.options;
    EXPECT_EQ(o.input, "in.mp4");
    EXPECT_EQ(o.outputs, (std::vector<std::string>{"out.mp4", "-odd.webm"}));
    EXPECT_EQ(*o.cut, (std::array<int32_t, 4>{-10, -8, 612, 606}));
    EXPECT_EQ(o.tempDir, "/tmp/x y ");  // exactly as typed

    FisheyeApp app;
    app.settings.Change([&](AppSettings& s) { s.SHARPEN_CH = 0; });
    ApplyConvertOptions(o, app);
    const AppSettings& s = *app.settings;
    EXPECT_EQ((std::vector<int32_t>{s.XL1, s.YL2, s.SHARPEN_CH, s.SHARPEN, s.RADIUS, s.BRIGHTNESS_CH,
                                    s.BRIGHTNESS, s.CONTRAST, s.NOISE_CH, s.NOISE, s.CPU_CH, s.CPU,
                                    s.ASPECT, app.run.horizontalFlip.load(),
                                    static_cast<int32_t>(app.run.tempFormat.load()),
                                    app.run.resizeChoice.load()}),
              (std::vector<int32_t>{-10, 606, 1, 3, 2, 1, 140, 90, 1, 2, 1, 80, 1, 1, 2, 5}));
    EXPECT_EQ(s.APATH, "/tmp/x y ");
    EXPECT_EQ(s.lens.model, LensModel::kEquisolid);
    EXPECT_EQ((std::vector<double>{s.lens.fov, s.lens.yaw, s.lens.pitch, s.lens.roll}),
              (std::vector<double>{212.5, -12.25, 3, 180}));
    EXPECT_EQ(LensSettingsProblem(s), "");
    EXPECT_EQ(o.quality, 21);
    EXPECT_TRUE(o.keepStills);
    EXPECT_EQ(o.encoderStallSeconds, 0);  // waits for ever
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
    app.settings.Change([&](AppSettings& s) { s.XL1 = 5; });
    ApplyConvertOptions(p.options, app);
    EXPECT_EQ(app.settings->XL1, 5);
}

// Only what is given replaces the file's values; an encoder may go a minute
// without progress unless told.
TEST(ConvertOptions, UnsetOptionsKeepTheParameterFileValues) {
    ParsedOptions p = Parse({"--pitch", "-4.5", "a.mov", "b.mp4"});
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.options.encoderStallSeconds, 60);
    FisheyeApp app;
    app.settings.Change([&](AppSettings& s) {
        s.BRIGHTNESS_CH = 1;
        s.BRIGHTNESS = 77;
        s.XL1 = 5;
        s.APATH = "/keep";
        s.lens.model = LensModel::kOrthographic;
        s.lens.fov = 170;
    });
    app.run.tempFormat = StillFormat::Jpeg;
    ApplyConvertOptions(p.options, app);
    EXPECT_EQ(app.settings->BRIGHTNESS, 77);
    EXPECT_EQ(app.settings->XL1, 5);
    EXPECT_EQ(app.settings->APATH, "/keep");
    EXPECT_EQ(app.run.tempFormat.load(), StillFormat::Jpeg);
    EXPECT_EQ(app.settings->lens.model, LensModel::kOrthographic);
    EXPECT_EQ(app.settings->lens.fov, 170.0);
    EXPECT_EQ(app.settings->lens.pitch, -4.5);
    ApplyConvertOptions(Parse({"a.mov", "b.mp4"}).options, app);
    EXPECT_EQ(app.settings->lens.pitch, -4.5);
    // A field of view the file's model cannot have is found once both are known.
    ApplyConvertOptions(Parse({"--fov", "200", "a.mov", "b.mp4"}).options, app);
    EXPECT_EQ(LensSettingsProblem(*app.settings),
              "the lens cannot be used: an orthographic lens sees at most 180 degrees (not 200)");

    ParsedOptions off = Parse({"--sharpen", "off", "a.mov", "b.mp4"});
    ASSERT_TRUE(off.ok);
    ApplyConvertOptions(off.options, app);
    EXPECT_EQ(app.settings->SHARPEN_CH, 0);
}

TEST(ConvertOptions, BadOptionsGiveOneLineErrors) {
    struct Case {
        std::vector<std::string> args;
        std::string error;
    };
    const Case cases[] = {
        {{}, "no input movie and no output movie given"},
        {{"in.mp4"}, "no output movie given"},
        {{"--bogus", "a", "b"}, "unknown option --bogus"},
        {{"--flip=1", "a", "b"}, "unknown option --flip"},
        {{"a", "b", "--quality"}, "--quality needs a value"},
        {{"--sharpen", "1,1,1", "a", "b"}, "--sharpen needs AMOUNT[,RADIUS] or off, got '1,1,1'"},
        {{"--cut", "1,2,3,99999999999", "a", "b"}, "--cut needs four whole numbers XL1,YL1,XL2,YL2, got '1,2,3,99999999999'"},
        {{"--stills", "png", "a", "b"}, "--stills needs jpg or bmp, got 'png'"},
        {{"--temp=", "a", "b"}, "--temp needs a folder"},
        {{"a.mp4", "a.mp4"}, "the output movie a.mp4 is the input movie"},
        {{"--circle", "1,2,3", "--cut", "1,2,3,4", "a", "b"}, "--circle and --cut both set the cut: give one of them"},
        {{"--lens", "fisheye", "a", "b"},
         "--lens needs equidistant, equisolid, stereographic or orthographic, got 'fisheye'"},
        {{"--lens=", "a", "b"}, "--lens needs equidistant, equisolid, stereographic or orthographic, got ''"},
        {{"--fov", "300", "a", "b"}, "--fov: the lens's field of view must lie between 90 and 280 degrees (not 300)"},
        {{"--fov", "89.5", "a", "b"}, "--fov: the lens's field of view must lie between 90 and 280 degrees (not 89.5)"},
        {{"--yaw", "", "a", "b"}, "--yaw needs a number of degrees, got ''"},
        {{"--yaw", "180.5", "a", "b"}, "--yaw: the yaw must lie between -180 and 180 degrees (not 180.5)"},
        {{"--pitch", "-200", "a", "b"}, "--pitch: the pitch must lie between -180 and 180 degrees (not -200)"},
        {{"--roll", "10deg", "a", "b"}, "--roll needs a number of degrees, got '10deg'"},
        {{"a", "b", "--roll"}, "--roll needs a value"},
        {{"--fov", "190", "--lens", "orthographic", "a", "b"},
         "--lens orthographic --fov: an orthographic lens sees at most 180 degrees (not 190)"},
        {{"--crop-factor", "0", "a", "b"}, "--crop-factor needs a number from 0.1 to 20, got '0'"},
        {{"--focal", "8,5", "a", "b"}, "--focal needs a number from 0.5 to 1000, got '8,5'"},
        {{"--lens-profile=", "a", "b"}, "--lens-profile needs a maker and model, as \"MAKER MODEL\""},
        {{"--part", "1/2", "a", "b", "c"}, "--part writes one part file: give IN PARTFILE"},
        {{"--part", "1/2", "a"}, "no output movie given"},
        {{"--join", "a", "b"}, "--join needs the source movie, the output and at least one part: IN OUT PART..."},
        {{"--join", "--part", "1/2", "a", "b", "c"}, "--part and --join cannot be given together"},
        {{"--join", "a", "b", "a"}, "the part a is also named as the source movie"},
        {{"--join", "a", "b", "c", "b"}, "the part b is also named as the output"},
        {{"--join", "a", "a", "c"}, "the output movie a is the input movie"},
    };
    std::vector<Case> all(std::begin(cases), std::end(cases));
    // Values an option refuses with one message.
    const struct {
        const char* option;
        std::vector<std::string> values;
        std::string needs;
    } refusedValues[] = {
        {"--circle", {"1,2", "1,2,0", "1;5,2,3", "1,2,3e2", "1,2,nan"},
         "needs the centre and radius CX,CY,R in source pixels (R above 0)"},
        {"--fov", {"12,5", "nan", "1e999"}, "needs a number of degrees"},
        {"--encoder-stall", {"-1", "1.5", "x", "", "604801"}, "needs a whole number from 0 to 604800"},
        {"--part", {"0/4", "5/4", "2", "1/10001", "1/x"}, "needs I/N with 1 <= I <= N <= 10000"},
    };
    for (const auto& r : refusedValues) {
        for (const std::string& v : r.values) all.push_back({{r.option, v, "a", "b"}, r.option + (" " + r.needs) + ", got '" + v + "'"});
    }
    for (const Case& c : all) {
        SCOPED_TRACE(c.error);
        const ParsedOptions p = Parse(c.args);
        EXPECT_FALSE(p.ok);
        EXPECT_EQ(p.error, c.error);
    }
}

// The amounts keep to the ranges of the desktop's sliders (written out
// here as the window shows them), both ends included.
TEST(ConvertOptions, AmountsKeepToTheSliderRanges) {
    const struct {
        const char* option;
        const char* prefix;  // of the value: the radius follows an amount
        const char* name;    // in the error
        int32_t low, high;
    } amounts[] = {
        {"--sharpen", "", "--sharpen amount", 0, 5}, {"--sharpen", "2,", "--sharpen radius", 0, 3},
        {"--brightness", "", "--brightness", 0, 255}, {"--contrast", "", "--contrast", 0, 255},
        {"--noise", "", "--noise", 1, 5},             {"--cpu", "", "--cpu", 50, 100},
        {"--quality", "", "--quality", 0, 21},        {"--resize", "", "--resize", 0, 5},
    };
    for (const auto& a : amounts) {
        for (int32_t v : {a.low, a.high}) {
            const ParsedOptions p = Parse({a.option, a.prefix + std::to_string(v), "in.mp4", "out.mp4"});
            EXPECT_TRUE(p.ok) << a.name << " " << v << ": " << p.error;
        }
        for (int32_t v : {a.low - 1, a.high + 1}) {
            const std::string value = std::to_string(v);
            const ParsedOptions p = Parse({a.option, a.prefix + value, "in.mp4", "out.mp4"});
            EXPECT_FALSE(p.ok) << a.name << " " << v;
            EXPECT_EQ(p.error, std::string(a.name) + " needs a whole number from " + std::to_string(a.low) + " to " +
                                   std::to_string(a.high) + ", got '" + value + "'");
        }
    }
}

// A calibrated profile from the lens database: its options go into the
// lens settings; a name the database cannot place lists what it has.
TEST(ConvertOptions, LensProfileOptions) {
    ParsedOptions p = Parse({"--lens-profile", "Sigma 8mm f/3.5 EX DG Circular", "--crop-factor", "1.523", "--focal=8",
                             "--aperture", "5.6", "a.mov", "b.mp4"});
    ASSERT_TRUE(p.ok) << p.error;
    FisheyeApp app;
    ApplyConvertOptions(p.options, app);
    EXPECT_EQ(app.settings->lens.profile.lens, "Sigma 8mm f/3.5 EX DG Circular");
    EXPECT_EQ(app.settings->lens.profile.cropFactor, 1.523);
    EXPECT_EQ(app.settings->lens.profile.aperture, 5.6);
    EXPECT_EQ(LensSettingsProblem(*app.settings), "");
    EXPECT_NE(LensProfileLine(*app.settings).find("equisolid, focal length 8 mm, crop factor 1.523; distortion ptlens"),
              std::string::npos) << LensProfileLine(*app.settings);
    const struct {
        std::vector<std::string> args;
        const char* problem;  // the start of LensSettingsProblem
        const char* candidate;
    } names[] = {
        {{"--lens-profile", "Nikkor 55mm Pancake"}, "the lens profile cannot be used: the lens database knows no lens", nullptr},
        {{"--lens-profile", "Samyang Fish-eye"}, "the lens profile cannot be used: the lens name \"Samyang Fish-eye\" fits several lenses; the database has:\n  ", "Samyang 8mm f/2.8 UMC Fish-eye"},
        {{"--lens-profile", "Canon EF 50mm f/1.8 II"}, "the lens profile cannot be used: \"Canon EF 50mm f/1.8 MkII\" is a rectilinear lens", nullptr},
        {{"--lens-profile", "Canon EF 8-15mm f/4L Fisheye USM", "--focal", "20"}, "the lens profile cannot be used: \"Canon EF 8-15mm f/4L Fisheye USM\" has focal lengths 8-15 mm (not 20)", nullptr},
        {{"--lens-profile", "Sigma 8mm f/3.5 EX DG Circular", "--lens-file", "/nonexistent/my lenses.xml"}, "the lens profile cannot be used: the lens file \"/nonexistent/my lenses.xml\" cannot be read", nullptr},
    };
    for (const auto& c : names) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"a.mov", "b.mp4"});
        FisheyeApp fresh;
        const ParsedOptions q = Parse(args);
        ASSERT_TRUE(q.ok) << q.error;
        ApplyConvertOptions(q.options, fresh);
        const std::string problem = LensSettingsProblem(*fresh.settings);
        EXPECT_EQ(problem.rfind(c.problem, 0), 0u) << problem;
        if (c.candidate != nullptr) {
            EXPECT_NE(problem.find(std::string("\n  ") + c.candidate), std::string::npos) << problem;
        }
    }
    // --list-lenses needs no movie; its word is optional; fisheyes come first.
    for (const auto& [args, word] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--list-lenses"}, ""}, {{"--list-lenses", "fisheye"}, "fisheye"}, {{"--list-lenses=samyang"}, "samyang"}}) {
        const ParsedOptions l = Parse(args);
        ASSERT_TRUE(l.ok) << l.error;
        EXPECT_EQ(l.options.listLenses, word);
    }
    std::vector<std::string> lines;
    std::string error;
    ConvertOptions samyang;
    samyang.listLenses = "samyang";
    ASSERT_TRUE(ListLensLines(samyang, lines, error)) << error;
    ASSERT_GT(lines.size(), 3u);
    EXPECT_NE(lines.front().find("(stereographic, crop factor"), std::string::npos) << lines.front();
    EXPECT_EQ(lines.back().find("fisheye"), std::string::npos) << lines.back();
    EXPECT_NE(lines.back().find("(rectilinear"), std::string::npos) << lines.back();
    samyang.listLenses = "no such lens anywhere";
    EXPECT_FALSE(ListLensLines(samyang, lines, error));
    EXPECT_EQ(error, "no lens in the lens database matches 'no such lens anywhere'");
}

TEST(ConvertOptions, PartAndJoin) {
    ParsedOptions p = Parse({"--part", "3/7", "--lens", "equisolid", "in.mp4", "part3.mkv"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.options.partIndex, 3);
    EXPECT_EQ(p.options.partCount, 7);
    EXPECT_EQ(p.options.input, "in.mp4");
    EXPECT_EQ(p.options.outputs, (std::vector<std::string>{"part3.mkv"}));
    EXPECT_FALSE(p.options.join);

    p = Parse({"--part=1/1", "in.mp4", "p.mkv"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.options.partIndex, 1);

    p = Parse({"--join", "in.mp4", "out.webm", "p1.webm", "p2.webm"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_TRUE(p.options.join);
    EXPECT_EQ(p.options.input, "in.mp4");
    EXPECT_EQ(p.options.outputs, (std::vector<std::string>{"out.webm"}));
    EXPECT_EQ(p.options.parts, (std::vector<std::string>{"p1.webm", "p2.webm"}));
    EXPECT_EQ(p.options.partCount, 0);

    // The usage names both forms.
    EXPECT_NE(ConvertUsage().find("--part I/N INPUT PARTFILE"), std::string::npos);
    EXPECT_NE(ConvertUsage().find("--join INPUT OUTPUT PART..."), std::string::npos);
}

}  // namespace
}  // namespace tessaly
