#include "app/parameter_file.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <unistd.h>

#include "app/format.h"

namespace tessaly {
namespace {

constexpr size_t kMaxPath = 260;

enum class Field {
    XL1, YL1, XL2, YL2, M_X, M_Y, V_X, V_Y, SHARPEN_CH, BRIGHTNESS_CH, CONTRAST_CH, CPU_CH,
    NOISE_CH, ASPECT, SHARPEN, RADIUS, BRIGHTNESS, CONTRAST, CPU, NOISE, APATH, OPATH,
    DSSETUP, BITRATE, CODECMODE, AUTOSAVE, FPS
};

struct FieldInfo {
    Field field;
    const char* tag;
};

// The order in which the file's lines are written.
constexpr FieldInfo kWriteOrder[] = {
    {Field::XL1, "XL1"}, {Field::YL1, "YL1"}, {Field::XL2, "XL2"}, {Field::YL2, "YL2"},
    {Field::M_X, "M_X"}, {Field::M_Y, "M_Y"}, {Field::V_X, "V_X"}, {Field::V_Y, "V_Y"},
    {Field::SHARPEN_CH, "SHARPEN_CH"}, {Field::BRIGHTNESS_CH, "BRIGHTNESS_CH"},
    {Field::CONTRAST_CH, "CONTRAST_CH"}, {Field::CPU_CH, "CPU_CH"},
    {Field::NOISE_CH, "NOISE_CH"}, {Field::ASPECT, "ASPECT"}, {Field::SHARPEN, "SHARPEN"},
    {Field::RADIUS, "RADIUS"}, {Field::BRIGHTNESS, "BRIGHTNESS"},
    {Field::CONTRAST, "CONTRAST"}, {Field::CPU, "CPU"}, {Field::NOISE, "NOISE"},
    {Field::APATH, "APATH"}, {Field::OPATH, "OPATH"}, {Field::DSSETUP, "DSSETUP"},
    {Field::BITRATE, "BITRATE"}, {Field::CODECMODE, "CODECMODE"},
    {Field::AUTOSAVE, "AUTOSAVE"}, {Field::FPS, "FPS"},
};

// The order in which they are read; FPS comes fifth, so a file without it
// keeps only the cut rectangle, which the early-stop reset then undoes.
constexpr FieldInfo kReadOrder[] = {
    {Field::XL1, "XL1"}, {Field::YL1, "YL1"}, {Field::XL2, "XL2"}, {Field::YL2, "YL2"},
    {Field::FPS, "FPS"}, {Field::M_X, "M_X"}, {Field::M_Y, "M_Y"}, {Field::V_X, "V_X"},
    {Field::V_Y, "V_Y"}, {Field::SHARPEN_CH, "SHARPEN_CH"},
    {Field::BRIGHTNESS_CH, "BRIGHTNESS_CH"}, {Field::CONTRAST_CH, "CONTRAST_CH"},
    {Field::CPU_CH, "CPU_CH"}, {Field::NOISE_CH, "NOISE_CH"}, {Field::ASPECT, "ASPECT"},
    {Field::SHARPEN, "SHARPEN"}, {Field::RADIUS, "RADIUS"}, {Field::BRIGHTNESS, "BRIGHTNESS"},
    {Field::CONTRAST, "CONTRAST"}, {Field::CPU, "CPU"}, {Field::NOISE, "NOISE"},
    {Field::APATH, "APATH"}, {Field::OPATH, "OPATH"}, {Field::DSSETUP, "DSSETUP"},
    {Field::BITRATE, "BITRATE"}, {Field::CODECMODE, "CODECMODE"},
    {Field::AUTOSAVE, "AUTOSAVE"},
};

int32_t* IntField(AppSettings& s, Field f) {
    switch (f) {
        case Field::XL1: return &s.XL1;
        case Field::YL1: return &s.YL1;
        case Field::XL2: return &s.XL2;
        case Field::YL2: return &s.YL2;
        case Field::M_X: return &s.M_X;
        case Field::M_Y: return &s.M_Y;
        case Field::V_X: return &s.V_X;
        case Field::V_Y: return &s.V_Y;
        case Field::SHARPEN_CH: return &s.SHARPEN_CH;
        case Field::BRIGHTNESS_CH: return &s.BRIGHTNESS_CH;
        case Field::CONTRAST_CH: return &s.CONTRAST_CH;
        case Field::CPU_CH: return &s.CPU_CH;
        case Field::NOISE_CH: return &s.NOISE_CH;
        case Field::ASPECT: return &s.ASPECT;
        case Field::SHARPEN: return &s.SHARPEN;
        case Field::RADIUS: return &s.RADIUS;
        case Field::BRIGHTNESS: return &s.BRIGHTNESS;
        case Field::CONTRAST: return &s.CONTRAST;
        case Field::CPU: return &s.CPU;
        case Field::NOISE: return &s.NOISE;
        case Field::DSSETUP: return &s.DSSETUP;
        case Field::BITRATE: return &s.BITRATE;
        case Field::CODECMODE: return &s.CODECMODE;
        case Field::AUTOSAVE: return &s.AUTOSAVE;
        case Field::FPS: return &s.FPS;
        case Field::APATH:
        case Field::OPATH: return nullptr;
    }
    return nullptr;
}

int32_t ClampToRange(int32_t v, int32_t limit) { return (v < 0 || v > limit) ? 0 : v; }

// A path as written to the file: no trailing blanks, no trailing separator
// (the root folder itself keeps its "/"), at most 260 bytes without cutting
// a UTF-8 sequence in half.
std::string PathForFile(std::string path) {
    while (!path.empty()) {
        const char c = path.back();
        if (c == ' ' || c == '\0' || (c == '/' && path.size() > 1)) {
            path.pop_back();
        } else {
            break;
        }
    }
    return path;
}

std::string CutToBuffer(std::string_view segment) {
    if (segment.size() <= kMaxPath) return std::string(segment);
    size_t n = kMaxPath;
    // Step back over UTF-8 continuation bytes so the cut ends on a whole
    // character.
    while (n > 0 && (static_cast<unsigned char>(segment[n]) & 0xC0) == 0x80) --n;
    return std::string(segment.substr(0, n));
}

// The text between the first and second occurrence of the tag; empty when
// the tag is missing or present only once.
std::string_view SecondSegment(std::string_view text, std::string_view tag) {
    const size_t first = text.find(tag);
    if (first == std::string_view::npos) return {};
    const size_t start = first + tag.size();
    const size_t second = text.find(tag, start);
    if (second == std::string_view::npos) return {};
    return text.substr(start, second - start);
}

}  // namespace

std::string SerializeParameters(const AppSettings& in, const ScreenSize& screen) {
    AppSettings s = in;
    s.M_X = ClampToRange(s.M_X, screen.width);
    s.V_X = ClampToRange(s.V_X, screen.width);
    s.M_Y = ClampToRange(s.M_Y, screen.height);
    s.V_Y = ClampToRange(s.V_Y, screen.height);

    std::string out = "Generated by Tessaly fisheye publisher, d'not edit!\r\n";
    out += std::string(48, '-') + "\r\n";
    for (const FieldInfo& f : kWriteOrder) {
        std::string value;
        if (f.field == Field::APATH || f.field == Field::OPATH) {
            value = CutToBuffer(PathForFile(f.field == Field::APATH ? s.APATH : s.OPATH));
            // Nothing between two tags ends reading, so an empty path would
            // make the program's own file lose every later field. One blank
            // reads back as the same empty path.
            if (value.empty()) value = " ";
        } else {
            value = std::to_string(*IntField(s, f.field));
        }
        out += std::string("<") + f.tag + ">" + value + "</" + f.tag + ">\r\n";
    }
    return out;
}

bool SaveParameters(const AppSettings& settings, const ScreenSize& screen,
                    const std::string& path) {
    const std::string text = SerializeParameters(settings, screen);
    const std::string temp = path + ".tmp";
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = (std::fflush(f) == 0) && ok;
    ok = (fsync(fileno(f)) == 0) && ok;
    ok = (std::fclose(f) == 0) && ok;
    if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

bool SaveParameters(FisheyeApp& app) {
    return SaveParameters(app.settings, app.screen, app.iniPath);
}

LoadResult LoadParametersFromText(std::string text, AppSettings& settings,
                                  const ScreenSize& screen, int32_t& frameWidth,
                                  int32_t& frameHeight) {
    // Make every closing tag equal to its opening tag. Only the "/" of a
    // closing tag goes, so folder paths keep their separators.
    for (const FieldInfo& f : kWriteOrder) {
        const std::string closing = std::string("</") + f.tag + ">";
        const std::string opening = std::string("<") + f.tag + ">";
        std::string out;
        out.reserve(text.size());
        size_t pos = 0;
        for (size_t hit; (hit = text.find(closing, pos)) != std::string::npos;
             pos = hit + closing.size()) {
            out.append(text, pos, hit - pos);
            out += opening;
        }
        if (pos == 0) continue;
        out.append(text, pos, std::string::npos);
        text = std::move(out);
    }

    LoadResult result;
    std::string apath, opath;
    for (const FieldInfo& f : kReadOrder) {
        const std::string tag = std::string("<") + f.tag + ">";
        const std::string_view segment = SecondSegment(text, tag);
        if (segment.empty()) {
            result.missingTag = f.tag;
            frameWidth = 400;
            frameHeight = 300;
            ResetCut(settings);
            return result;
        }
        if (f.field == Field::APATH) {
            apath = CutToBuffer(segment);
            continue;
        }
        if (f.field == Field::OPATH) {
            opath = CutToBuffer(segment);
            continue;
        }
        int32_t& v = *IntField(settings, f.field);
        v = RoundHalfEvenToInt32(ParseLeadingNumber(segment));
        switch (f.field) {
            case Field::FPS: if (v == 0) v = 1; break;
            case Field::M_X:
            case Field::V_X: v = ClampToRange(v, screen.width); break;
            case Field::M_Y:
            case Field::V_Y: v = ClampToRange(v, screen.height); break;
            case Field::SHARPEN: if (v == 0) v = 1; break;
            case Field::BRIGHTNESS: if (v == 0) v = 127; break;
            case Field::CONTRAST: if (v == 0) v = 127; break;
            case Field::CPU: if (v == 0) v = 100; break;
            case Field::NOISE: if (v == 0) v = 1; break;
            default: break;
        }
    }
    settings.APATH = TrimBlanksAndNuls(apath);
    settings.OPATH = TrimBlanksAndNuls(opath);
    result.complete = true;
    return result;
}

LoadResult LoadParameters(FisheyeApp& app) {
    std::string text;
    if (std::FILE* f = std::fopen(app.iniPath.c_str(), "rb")) {
        char buf[65536];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
        std::fclose(f);
    }
    int32_t w = app.frameWidth.load();
    int32_t h = app.frameHeight.load();
    LoadResult r = LoadParametersFromText(std::move(text), app.settings, app.screen, w, h);
    app.frameWidth = w;
    app.frameHeight = h;
    return r;
}

}  // namespace tessaly
