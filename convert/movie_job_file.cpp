#include "convert/movie_job_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <sstream>
#include <type_traits>

#include "app/parameter_table.h"

namespace tessaly {
namespace {

// A job file read so far: its job, or why it was refused.
struct JobFileRead {
    bool ok = false;
    std::string error;
    MovieJob job;
};

// A whole number filling the whole text, within low..high.
bool ReadWhole(const std::string& text, int64_t low, int64_t high, int64_t& out) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    auto [ptr, ec] = std::from_chars(begin, end, out);
    return ec == std::errc() && ptr == end && begin != end && out >= low && out <= high;
}

// A decimal number filling the whole text, "." as its point whatever the
// locale says.
bool ReadReal(const std::string& text, double& out) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    auto [ptr, ec] = std::from_chars(begin, end, out, std::chars_format::general);
    return ec == std::errc() && ptr == end && begin != end && std::isfinite(out);
}

// The shortest text that reads back as the same double, without the locale.
std::string RealText(double value) {
    char buffer[64];
    auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() ? std::string(buffer, ptr) : std::string("0");
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at = text.find(separator); at != std::string::npos; at = text.find(separator, start)) {
        parts.push_back(text.substr(start, at - start));
        start = at + 1;
    }
    parts.push_back(text.substr(start));
    return parts;
}

using Values = std::vector<std::string>;
// Reads one line's value into the job; false with `why` set.
using ValueReader = std::function<bool(const std::string& value, MovieJob& job, std::string& why)>;
using ValueWriter = std::function<Values(const MovieJob& job)>;

struct JobTag {
    std::string tag;
    ValueWriter write;
    ValueReader read;
    bool optional = false;  // may be left out
    bool repeats = false;   // may be given more than once
    // A stereo job's line: only after STEREO (and then needed unless
    // optional), only in version 2.
    bool stereo = false;
};

// A whole number of the parameter `tag`, in its range.
JobTag WholeTag(const char* tag, int32_t& (*at)(MovieJob&)) {
    const ParameterDescriptor& d = Parameter(tag);
    const int64_t low = d.min, high = d.max;
    return {d.tag, [=](const MovieJob& j) { MovieJob c = j; return Values{std::to_string(at(c))}; },
            [=](const std::string& v, MovieJob& j, std::string& why) {
                int64_t n = 0;
                if (!ReadWhole(v, low, high, n)) {
                    why = "needs a whole number from " + std::to_string(low) + " to " + std::to_string(high);
                    return false;
                }
                at(j) = static_cast<int32_t>(n);
                return true;
            }};
}

JobTag SwitchTag(const char* tag, bool& (*at)(MovieJob&)) {
    return {Parameter(tag).tag, [=](const MovieJob& j) { MovieJob c = j; return Values{at(c) ? "1" : "0"}; },
            [=](const std::string& v, MovieJob& j, std::string& why) {
                if (v != "0" && v != "1") {
                    why = "needs 0 or 1";
                    return false;
                }
                at(j) = v == "1";
                return true;
            }};
}

JobTag PathTag(const std::string& tag, std::string& (*at)(MovieJob&), bool mayBeEmpty) {
    return {tag, [=](const MovieJob& j) { MovieJob c = j; return Values{EscapeJobValue(at(c))}; },
            [=](const std::string& v, MovieJob& j, std::string& why) {
                if (!UnescapeJobValue(v, at(j))) {
                    why = "holds a damaged escape (\\\\, \\n, \\r, \\t or \\xHH)";
                    return false;
                }
                if (!mayBeEmpty && at(j).empty()) {
                    why = "needs a path";
                    return false;
                }
                return true;
            }};
}

// The lens's field of view and angles, each checked on its own as the
// command line checks them.
JobTag LensTag(const std::string& tag, double LensSettings::*field) {
    return {tag, [=](const MovieJob& j) { return Values{RealText(j.lens.*field)}; },
            [=](const std::string& v, MovieJob& j, std::string& why) {
                double d = 0;
                if (!ReadReal(v, d)) {
                    why = "needs a number of degrees (with . as its decimal point)";
                    return false;
                }
                LensSettings probe;
                probe.*field = d;
                const std::string problem = LensProblem(probe);
                if (!problem.empty()) why = "cannot be used: " + problem;
                j.lens.*field = d;
                return problem.empty();
            }};
}

JobTag FilterTag(const JobFilterField& f) {
    const ParameterDescriptor& p = *ParameterOf(f.setting);
    return {p.tag, [f](const MovieJob& j) { return Values{std::to_string(j.filters.*f.field)}; },
            [f, &p](const std::string& v, MovieJob& j, std::string& why) {
                int64_t n = 0;
                const bool whole = ReadWhole(v, INT32_MIN, INT32_MAX, n);
                why = whole ? RangeProblem(p, static_cast<int32_t>(n)) : "needs a whole number";
                if (why.empty()) j.filters.*f.field = static_cast<int32_t>(n);
                return why.empty();
            }};
}

JobTag SizeTag() {
    return {"SIZE",
            [](const MovieJob& j) {
                return Values{std::to_string(j.movie.width) + "x" + std::to_string(j.movie.height)};
            },
            [](const std::string& v, MovieJob& j, std::string& why) {
                const Values wh = Split(v, 'x');
                int64_t w = 0, h = 0;
                if (wh.size() != 2 || !ReadWhole(wh[0], 0, 65536, w) || !ReadWhole(wh[1], 0, 65536, h)) {
                    why = "needs the picture's WIDTHxHEIGHT";
                    return false;
                }
                j.movie.width = j.geometry.frameW = static_cast<int32_t>(w);
                j.movie.height = j.geometry.frameH = static_cast<int32_t>(h);
                return true;
            }};
}

JobTag RateTag() {
    return {"RATE",
            [](const MovieJob& j) {
                return Values{std::to_string(j.movie.rateNum) + "/" + std::to_string(j.movie.rateDen)};
            },
            [](const std::string& v, MovieJob& j, std::string& why) {
                const Values nd = Split(v, '/');
                int64_t n = 0, d = 0;
                if (nd.size() != 2 || !ReadWhole(nd[0], 0, INT32_MAX, n) || !ReadWhole(nd[1], 0, INT32_MAX, d)) {
                    why = "needs the frame rate as NUM/DEN";
                    return false;
                }
                j.movie.rateNum = static_cast<int32_t>(n);
                j.movie.rateDen = static_cast<int32_t>(d);
                return true;
            }};
}

JobTag CircleTag() {
    return {"CIRCLE",
            [](const MovieJob& j) {
                const std::optional<LensCircle>& c = j.geometry.circle;
                return c ? Values{RealText(c->cx) + "," + RealText(c->cy) + "," + RealText(c->r)} : Values{};
            },
            [](const std::string& v, MovieJob& j, std::string& why) {
                const Values parts = Split(v, ',');
                double d[3] = {0, 0, 0};
                bool good = parts.size() == 3;
                for (size_t i = 0; good && i < 3; ++i) good = ReadReal(parts[i], d[i]) && std::fabs(d[i]) <= 1.0e6;
                if (!good || !(d[2] > 0.0)) {
                    why = "needs the centre and radius CX,CY,R in source pixels (R above 0)";
                    return false;
                }
                j.geometry.circle = LensCircle{d[0], d[1], d[2]};
                return true;
            },
            true};
}

// The calibrated profile: "LENS|CAMERA|CROP|FOCAL|APERTURE", empty without one.
JobTag LensProfileTag() {
    return {"LENS_PROFILE",
            [](const MovieJob& j) {
                const LensProfileSettings& p = j.lens.profile;
                if (p.Empty()) return Values{""};
                return Values{EscapeJobValue(p.lens + "|" + p.camera + "|" + RealText(p.cropFactor) + "|" +
                                             RealText(p.focal) + "|" + RealText(p.aperture))};
            },
            [](const std::string& v, MovieJob& j, std::string& why) {
                std::string text;
                const bool read = UnescapeJobValue(v, text);
                if (read && text.empty()) return true;  // no profile
                const std::vector<std::string> f = Split(text, '|');
                LensProfileSettings& p = j.lens.profile;
                bool good = read && f.size() == 5 && !f[0].empty();
                double* numbers[] = {&p.cropFactor, &p.focal, &p.aperture};
                for (int i = 0; good && i < 3; ++i) {
                    good = ReadReal(f[2 + i], *numbers[i]) && *numbers[i] >= 0.0 && *numbers[i] <= 1000.0;
                }
                if (!good) {
                    why = "needs LENS|CAMERA|CROP|FOCAL|APERTURE (numbers from 0 to 1000) or nothing";
                    return false;
                }
                p.lens = f[0];
                p.camera = f[1];
                return true;
            },
            true};
}

JobTag LensModelTag() {
    return {"LENS", [](const MovieJob& j) { return Values{LensModelName(j.lens.model)}; },
            [](const std::string& v, MovieJob& j, std::string& why) {
                const std::optional<LensModel> model = LensModelFromName(v);
                if (!model) why = "needs equidistant, equisolid, stereographic or orthographic";
                if (model) j.lens.model = *model;
                return model.has_value();
            }};
}

JobTag StillsTag() {
    return {"STILLS",
            [](const MovieJob& j) {
                const std::optional<StillFormat>& s = j.outputs.stills;
                return Values{!s ? "stream" : *s == StillFormat::Jpeg ? "jpg" : "bmp"};
            },
            [](const std::string& v, MovieJob& j, std::string& why) {
                if (v == "stream") {
                    j.outputs.stills.reset();
                } else if (v == "jpg" || v == "bmp") {
                    j.outputs.stills = v == "jpg" ? StillFormat::Jpeg : StillFormat::Bmp;
                } else {
                    why = "needs stream, jpg or bmp";
                    return false;
                }
                return true;
            }};
}

JobTag OutputTag() {
    return {"OUTPUT",
            [](const MovieJob& j) {
                Values values;
                for (const std::string& p : j.outputs.paths) values.push_back(EscapeJobValue(p));
                return values;
            },
            [](const std::string& v, MovieJob& j, std::string& why) {
                std::string path;
                if (!UnescapeJobValue(v, path) || path.empty()) {
                    why = "needs a path (escapes: \\\\, \\n, \\r, \\t, \\xHH)";
                    return false;
                }
                j.outputs.paths.push_back(path);
                return true;
            },
            false, true};
}

JobTag BytesTag() {
    return {"BYTES", [](const MovieJob& j) { return Values{std::to_string(j.movie.bytes)}; },
            [](const std::string& v, MovieJob& j, std::string& why) {
                if (!ReadWhole(v, 0, INT64_MAX, j.movie.bytes)) why = "needs the movie's size in bytes";
                return why.empty();
            }};
}

// Exactly `count` numbers separated by commas, each within low..high.
template <typename T>
bool ReadNumbers(const std::string& text, size_t count, T low, T high, T* out) {
    const Values parts = Split(text, ',');
    bool good = parts.size() == count;
    for (size_t i = 0; good && i < count; ++i) {
        if constexpr (std::is_floating_point_v<T>) {
            good = ReadReal(parts[i], out[i]);
        } else {
            int64_t n = 0;
            good = ReadWhole(parts[i], low, high, n);
            out[i] = static_cast<T>(n);
        }
        good = good && out[i] >= low && out[i] <= high;
    }
    return good;
}

template <typename T>
std::string NumbersText(std::initializer_list<T> numbers) {
    std::string text;
    for (const T n : numbers) {
        if constexpr (std::is_floating_point_v<T>) {
            text += (text.empty() ? "" : ",") + RealText(n);
        } else {
            text += (text.empty() ? "" : ",") + std::to_string(n);
        }
    }
    return text;
}

// The stereo lines below are written only for a stereo job.
Values IfStereo(const MovieJob& j, std::string value) { return j.stereo.IsStereo() ? Values{value} : Values{}; }

JobTag StereoLayoutTag(const std::string& tag, StereoLayout StereoSettings::*field) {
    return {tag, [=](const MovieJob& j) { return IfStereo(j, StereoLayoutName(j.stereo.settings.*field)); },
            [=](const std::string& v, MovieJob& j, std::string& why) {
                const bool input = field == &StereoSettings::input;
                std::optional<StereoLayout> layout = StereoLayoutFromName(v);
                if (!input && layout == StereoLayout::kPair) layout.reset();
                if (!layout) why = input ? "needs sbs, tb or pair" : "needs sbs or tb";
                if (layout) j.stereo.settings.*field = *layout;
                return layout.has_value();
            },
            false, false, true};
}

JobTag StereoSwitchTag(const std::string& tag, bool StereoSettings::*field) {
    return {tag, [=](const MovieJob& j) { return IfStereo(j, j.stereo.settings.*field ? "1" : "0"); },
            [=](const std::string& v, MovieJob& j, std::string& why) {
                if (v != "0" && v != "1") why = "needs 0 or 1";
                j.stereo.settings.*field = v == "1";
                return why.empty();
            },
            false, false, true};
}

JobTag EyesMeasuredTag() {
    return {"EYES_MEASURED",
            [](const MovieJob& j) {
                const std::optional<EyeOffset>& m = j.stereo.measured;
                return m ? IfStereo(j, NumbersText({m->pitch, m->roll})) : Values{};
            },
            [](const std::string& v, MovieJob& j, std::string& why) {
                double d[2] = {0, 0};
                if (!ReadNumbers(v, 2, -360.0, 360.0, d)) why = "needs the right eye's PITCH,ROLL off the left in degrees";
                if (why.empty()) j.stereo.measured = EyeOffset{d[0], d[1]};
                return why.empty();
            },
            true, false, true};
}

std::string EyeTag(int eye, const char* what) { return std::string(eye == kLeftEye ? "LEFT_" : "RIGHT_") + what; }

// An eye's window of the frame (X,Y,W,H in source pixels) and its cut in
// that window's 600 units.
JobTag EyeWindowTag(int eye) {
    return {EyeTag(eye, "WINDOW"),
            [eye](const MovieJob& j) {
                const FrameRegion& w = j.stereo.settings.windows[eye];
                return IfStereo(j, NumbersText({w.x, w.y, w.w, w.h}));
            },
            [eye](const std::string& v, MovieJob& j, std::string& why) {
                int32_t n[4] = {0, 0, 0, 0};
                const bool good = ReadNumbers(v, 4, -65536, 65536, n) && n[2] > 0 && n[3] > 0;
                if (!good) why = "needs the window X,Y,W,H in source pixels (W and H above 0)";
                if (good) j.stereo.settings.windows[eye] = FrameRegion{n[0], n[1], n[2], n[3]};
                return good;
            },
            false, false, true};
}

JobTag EyeCutTag(int eye) {
    return {EyeTag(eye, "CUT"),
            [eye](const MovieJob& j) {
                const CutRect& c = j.stereo.settings.cuts[eye];
                return IfStereo(j, NumbersText({c.XL1, c.YL1, c.XL2, c.YL2}));
            },
            [eye](const std::string& v, MovieJob& j, std::string& why) {
                int32_t n[4] = {0, 0, 0, 0};
                const bool good = ReadNumbers(v, 4, -1000000, 1000000, n);
                if (!good) why = "needs the cut XL1,YL1,XL2,YL2";
                if (good) j.stereo.settings.cuts[eye] = CutRect{n[0], n[1], n[2], n[3]};
                return good;
            },
            false, false, true};
}

JobTag EyeCircleTag(int eye) {
    return {EyeTag(eye, "CIRCLE"),
            [eye](const MovieJob& j) {
                const std::optional<LensCircle>& c = j.stereo.circles[eye];
                return c ? IfStereo(j, NumbersText({c->cx, c->cy, c->r})) : Values{};
            },
            [eye](const std::string& v, MovieJob& j, std::string& why) {
                double d[3] = {0, 0, 0};
                const bool good = ReadNumbers(v, 3, -1.0e6, 1.0e6, d) && d[2] > 0.0;
                if (!good) why = "needs the centre and radius CX,CY,R in source pixels (R above 0)";
                if (good) j.stereo.circles[eye] = LensCircle{d[0], d[1], d[2]};
                return good;
            },
            true, false, true};
}

// An eye's own angle, when it has one: checked as the shared lens's is.
JobTag EyeAngleTag(int eye, const char* what, std::optional<double> EyeAngles::*angle, double LensSettings::*field) {
    return {EyeTag(eye, what),
            [=](const MovieJob& j) {
                const std::optional<double>& a = j.stereo.settings.angles[eye].*angle;
                return a ? IfStereo(j, RealText(*a)) : Values{};
            },
            [=](const std::string& v, MovieJob& j, std::string& why) {
                LensSettings probe;
                if (!ReadReal(v, probe.*field)) {
                    why = "needs a number of degrees (with . as its decimal point)";
                    return false;
                }
                const std::string problem = LensProblem(probe);
                if (!problem.empty()) why = "cannot be used: " + problem;
                j.stereo.settings.angles[eye].*angle = probe.*field;
                return problem.empty();
            },
            true, false, true};
}

// The right movie of a pair: its path, its facts (STREAM,WIDTH,HEIGHT,
// RATE_NUM,RATE_DEN,BYTES) and the offset of its frames.
Values IfPair(const MovieJob& j, std::string value) { return j.stereo.IsPair() ? Values{value} : Values{}; }

void AddPairTags(std::vector<JobTag>& t) {
    t.push_back({"RIGHT_MOVIE", [](const MovieJob& j) { return IfPair(j, EscapeJobValue(j.stereo.right.path)); },
                 [](const std::string& v, MovieJob& j, std::string& why) {
                     if (!UnescapeJobValue(v, j.stereo.right.path) || j.stereo.right.path.empty()) {
                         why = "needs a path (escapes: \\\\, \\n, \\r, \\t, \\xHH)";
                     }
                     return why.empty();
                 },
                 true, false, true});
    t.push_back({"RIGHT_FACTS",
                 [](const MovieJob& j) {
                     const JobMovie& m = j.stereo.right;
                     return IfPair(j, NumbersText<int64_t>({m.stream, m.width, m.height, m.rateNum, m.rateDen, m.bytes}));
                 },
                 [](const std::string& v, MovieJob& j, std::string& why) {
                     int64_t n[6] = {0, 0, 0, 0, 0, 0};
                     if (!ReadNumbers<int64_t>(v, 6, -1, INT64_MAX, n) || n[1] > 65536 || n[2] > 65536 ||
                         n[3] > INT32_MAX || n[4] > INT32_MAX) {
                         why = "needs the right movie's STREAM,WIDTH,HEIGHT,RATE_NUM,RATE_DEN,BYTES";
                         return false;
                     }
                     JobMovie& m = j.stereo.right;
                     m.stream = static_cast<int32_t>(n[0]);
                     m.width = static_cast<int32_t>(n[1]);
                     m.height = static_cast<int32_t>(n[2]);
                     m.rateNum = static_cast<int32_t>(n[3]);
                     m.rateDen = static_cast<int32_t>(n[4]);
                     m.bytes = n[5];
                     return true;
                 },
                 true, false, true});
    t.push_back({"RIGHT_OFFSET", [](const MovieJob& j) { return IfPair(j, std::to_string(j.stereo.rightOffset)); },
                 [](const std::string& v, MovieJob& j, std::string& why) {
                     int64_t n = 0;
                     if (!ReadWhole(v, 0, 1000000, n)) why = "needs the right movie's frames ahead of the left's, 0 or more";
                     j.stereo.rightOffset = static_cast<int32_t>(n);
                     return why.empty();
                 },
                 true, false, true});
}

void AddStereoTags(std::vector<JobTag>& t) {
    t.push_back(StereoLayoutTag("STEREO", &StereoSettings::input));
    t.push_back(StereoLayoutTag("STEREO_OUT", &StereoSettings::output));
    t.push_back(StereoSwitchTag("SWAP_EYES", &StereoSettings::swapEyes));
    t.push_back(StereoSwitchTag("ALIGN_EYES", &StereoSettings::alignEyes));
    t.push_back(EyesMeasuredTag());
    for (const int eye : {kLeftEye, kRightEye}) {
        t.push_back(EyeWindowTag(eye));
        t.push_back(EyeCutTag(eye));
        t.push_back(EyeCircleTag(eye));
        t.push_back(EyeAngleTag(eye, "YAW", &EyeAngles::yaw, &LensSettings::yaw));
        t.push_back(EyeAngleTag(eye, "PITCH", &EyeAngles::pitch, &LensSettings::pitch));
        t.push_back(EyeAngleTag(eye, "ROLL", &EyeAngles::roll, &LensSettings::roll));
    }
    AddPairTags(t);
}

// Every tag in the order the file has them.
const std::vector<JobTag>& JobTags() {
    static const std::vector<JobTag> tags = [] {
        std::vector<JobTag> t{
            PathTag("MOVIE", [](MovieJob& j) -> std::string& { return j.movie.path; }, false),
            WholeTag("STREAM", [](MovieJob& j) -> int32_t& { return j.movie.stream; }), SizeTag(), RateTag(), BytesTag(),
            WholeTag("XL1", [](MovieJob& j) -> int32_t& { return j.geometry.cut.XL1; }),
            WholeTag("YL1", [](MovieJob& j) -> int32_t& { return j.geometry.cut.YL1; }),
            WholeTag("XL2", [](MovieJob& j) -> int32_t& { return j.geometry.cut.XL2; }),
            WholeTag("YL2", [](MovieJob& j) -> int32_t& { return j.geometry.cut.YL2; }), CircleTag()};
        for (const JobFilterField& f : kJobFilterFields) t.push_back(FilterTag(f));
        t.push_back(SwitchTag("ASPECT", [](MovieJob& j) -> bool& { return j.aspect; }));
        t.push_back(LensModelTag());
        t.push_back(LensTag("LENS_FOV", &LensSettings::fov));
        t.push_back(LensTag("YAW", &LensSettings::yaw));
        t.push_back(LensTag("PITCH", &LensSettings::pitch));
        t.push_back(LensTag("ROLL", &LensSettings::roll));
        t.push_back(LensProfileTag());
        t.push_back(PathTag("LENS_FILE", [](MovieJob& j) -> std::string& { return j.lens.profile.lensFile; }, true));
        t.push_back(SwitchTag("FLIP", [](MovieJob& j) -> bool& { return j.flip; }));
        t.push_back(StillsTag());
        t.push_back(SwitchTag("KEEP_STILLS", [](MovieJob& j) -> bool& { return j.outputs.keepStills; }));
        t.push_back(WholeTag("QUALITY", [](MovieJob& j) -> int32_t& { return j.outputs.quality; }));
        t.push_back(WholeTag("RESIZE", [](MovieJob& j) -> int32_t& { return j.outputs.resize; }));
        t.push_back(SwitchTag("VR_METADATA", [](MovieJob& j) -> bool& { return j.outputs.vrMetadata; }));
        t.push_back(SwitchTag("STRICT", [](MovieJob& j) -> bool& { return j.run.strict; }));
        t.push_back(WholeTag("ENCODER_STALL", [](MovieJob& j) -> int32_t& { return j.run.encoderStallSeconds; }));
        t.push_back(PathTag("TEMP", [](MovieJob& j) -> std::string& { return j.run.tempDir; }, true));
        t.push_back(OutputTag());
        AddStereoTags(t);
        return t;
    }();
    return tags;
}

const JobTag* FindTag(const std::string& tag) {
    for (const JobTag& t : JobTags()) {
        if (t.tag == tag) return &t;
    }
    return nullptr;
}

std::string LineText(size_t number) { return "line " + std::to_string(number) + ": "; }

// The line a complete job lacks ("no MOVIE line before END"), a stereo
// line without STEREO, or empty.
std::string MissingLine(const std::set<std::string>& seen) {
    const bool stereo = seen.count("STEREO") > 0;
    for (const JobTag& t : JobTags()) {
        const bool given = seen.count(t.tag) > 0;
        if (t.stereo && !stereo && given) return t.tag + " is given without a STEREO line";
        if (!given && !t.optional && (!t.stereo || stereo)) return "no " + t.tag + " line before END";
    }
    return {};
}

// The lines after the header of `version` up to END; false with `error` set.
bool ReadTaggedLines(const std::vector<std::string>& lines, int version, JobFileRead& read) {
    std::set<std::string> seen;
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line == "END") {
            const std::string missing = MissingLine(seen);
            if (!missing.empty()) {
                read.error = LineText(i + 1) + missing;
                return false;
            }
            for (size_t k = i + 1; k < lines.size(); ++k) {
                if (!lines[k].empty()) {
                    read.error = LineText(k + 1) + "text after END";
                    return false;
                }
            }
            read.job.geometry.moviePath = read.job.movie.path;
            return true;
        }
        const size_t blank = line.find(' ');
        const std::string tag = line.substr(0, blank);
        const std::string value = blank == std::string::npos ? std::string() : line.substr(blank + 1);
        const JobTag* t = FindTag(tag);
        if (t == nullptr || (t->stereo && version < kJobFileVersion)) {
            read.error = LineText(i + 1) + (tag.empty() ? "an empty line" : "unknown tag " + tag) +
                         (t == nullptr ? "" : " in a version " + std::to_string(version) + " job file");
            return false;
        }
        if (!seen.insert(tag).second && !t->repeats) {
            read.error = LineText(i + 1) + tag + " is given twice";
            return false;
        }
        std::string why;
        if (!t->read(value, read.job, why)) {
            read.error = LineText(i + 1) + tag + " " + why + ", got '" + value + "'";
            return false;
        }
    }
    read.error = "the file ends after line " + std::to_string(lines.size()) + " without END: it is cut short";
    return false;
}

}  // namespace

std::string EscapeJobValue(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const bool edgeBlank = c == ' ' && (i == 0 || i + 1 == text.size());
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7f || edgeBlank) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool UnescapeJobValue(const std::string& value, std::string& text) {
    text.clear();
    for (size_t i = 0; i < value.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(value[i]);
        if (c < 0x20 || c == 0x7f) return false;  // written escaped
        if (c != '\\') {
            text += static_cast<char>(c);
            continue;
        }
        if (++i >= value.size()) return false;
        const char e = value[i];
        if (e == '\\' || e == 'n' || e == 'r' || e == 't') {
            text += e == '\\' ? '\\' : e == 'n' ? '\n' : e == 'r' ? '\r' : '\t';
        } else if (e == 'x' && i + 2 < value.size() && std::isxdigit(static_cast<unsigned char>(value[i + 1])) &&
                   std::isxdigit(static_cast<unsigned char>(value[i + 2]))) {
            const int byte = std::stoi(value.substr(i + 1, 2), nullptr, 16);
            if (byte == 0) return false;  // no path holds a NUL
            text += static_cast<char>(byte);
            i += 2;
        } else {
            return false;
        }
    }
    return true;
}

std::string JobFileText(const MovieJob& job) {
    const int version = job.stereo.IsStereo() ? kJobFileVersion : kJobFileMonoVersion;
    std::string out = std::string(kJobFileHeader) + " " + std::to_string(version) + "\n";
    for (const JobTag& t : JobTags()) {
        for (const std::string& value : t.write(job)) out += t.tag + " " + value + "\n";
    }
    return out + "END\n";
}

namespace {

JobFileRead ReadJobLines(const std::string& text) {
    JobFileRead read;
    std::vector<std::string> lines = Split(text, '\n');
    if (!lines.empty() && lines.back().empty()) {
        lines.pop_back();
    } else if (!text.empty()) {
        read.error = LineText(lines.size()) + "the file ends within this line: it is cut short";
        return read;
    }
    for (std::string& line : lines) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
    }
    const std::string header = std::string(kJobFileHeader) + " ";
    if (lines.empty() || lines[0].rfind(header, 0) != 0) {
        read.error = "line 1: not a job file (it starts with " + header + std::to_string(kJobFileMonoVersion) + ")";
        return read;
    }
    int64_t version = 0;
    if (!ReadWhole(lines[0].substr(header.size()), kJobFileMonoVersion, kJobFileVersion, version)) {
        read.error = "line 1: version " + lines[0].substr(header.size()) +
                     " of the job file is not known (this program reads versions " +
                     std::to_string(kJobFileMonoVersion) + " to " + std::to_string(kJobFileVersion) + ")";
        return read;
    }
    if (!ReadTaggedLines(lines, static_cast<int>(version), read)) return read;
    const std::string problem = JobProblem(read.job);
    read.ok = problem.empty();
    if (!read.ok) read.error = problem;
    return read;
}

}  // namespace

Result<MovieJob> ReadJobText(const std::string& text) {
    JobFileRead read = ReadJobLines(text);
    if (!read.ok) return Failure{read.error};
    return std::move(read.job);
}

Result<MovieJob> ReadJobFile(const std::string& path) {
    constexpr std::streamsize kMaxJobBytes = 1 << 20;  // far above any job's few lines
    std::ifstream in(path, std::ios::binary);
    std::error_code ec;
    if (!in || std::filesystem::is_directory(path, ec)) {
        return Failure{"cannot read the job file " + path + ": " +
                       (std::filesystem::is_directory(path, ec) ? "is a directory" : std::strerror(errno))};
    }
    std::string text(static_cast<size_t>(kMaxJobBytes) + 1, '\0');
    in.read(text.data(), kMaxJobBytes + 1);
    text.resize(static_cast<size_t>(in.gcount()));
    Result<MovieJob> read = text.size() > static_cast<size_t>(kMaxJobBytes)
                                ? Result<MovieJob>(Failure{"line 1: far too long for a job file"})
                                : ReadJobText(text);
    if (!read.ok()) return Failure{"the job file " + path + ", " + read.reason()};
    return read;
}

Status WriteFileReplacing(const std::string& path, const std::string& text, const std::string& what) {
    std::filesystem::path target(path);
    std::string temp = (target.parent_path() / ("." + target.filename().string() + ".tessaly-XXXXXX")).string();
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return Failure{"cannot write " + what + " " + path + ": " + std::strerror(errno)};
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    int failed = done == text.size() ? 0 : (errno != 0 ? errno : ENOSPC);
    if (failed == 0 && ::fchmod(fd, 0644) != 0) failed = errno;
    if (::close(fd) != 0 && failed == 0) failed = errno;
    if (failed == 0 && std::rename(temp.c_str(), path.c_str()) != 0) failed = errno;
    if (failed != 0) {
        ::unlink(temp.c_str());
        return Failure{"cannot write " + what + " " + path + ": " + std::strerror(failed)};
    }
    return {};
}

Status WriteJobFile(const MovieJob& job, const std::string& path) {
    return WriteFileReplacing(path, JobFileText(job), "the job file");
}

}  // namespace tessaly
