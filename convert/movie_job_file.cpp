#include "convert/movie_job_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include "app/parameter_table.h"
#include "app/value_form.h"

namespace tessaly {
namespace {

// A job file read so far: its job, or why it was refused.
struct JobFileRead {
    bool ok = false;
    std::string error;
    MovieJob job;
};

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
                if (!ReadWholeNumber(v, low, high, n)) {
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
    return {tag, [=](const MovieJob& j) { return Values{DecimalText(j.lens.*field)}; },
            [=](const std::string& v, MovieJob& j, std::string& why) {
                double d = 0;
                if (!ReadDecimal(v, d)) {
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
                const bool whole = ReadWholeNumber(v, INT32_MIN, INT32_MAX, n);
                why = whole ? RangeProblem(p, static_cast<int32_t>(n)) : "needs a whole number";
                if (why.empty()) j.filters.*f.field = static_cast<int32_t>(n);
                return why.empty();
            }};
}

// A line whose value has the form `form`: written from the parts `get`
// gives (none: no line, or an empty value where the form may be empty) and
// read back by `set`, which may refuse parts the form lets through. Texts
// are escaped.
using FormGetter = std::function<std::optional<FormValue>(const MovieJob&)>;
using FormSetter = std::function<bool(const FormValue&, MovieJob&)>;
JobTag FormTag(std::string tag, const ValueForm& form, FormGetter get, FormSetter set, bool optional = false,
               bool stereo = false) {
    const bool texts = form.texts > 0;
    JobTag t{std::move(tag),
             [=](const MovieJob& j) {
                 const std::optional<FormValue> value = get(j);
                 if (!value) return form.mayBeEmpty ? Values{""} : Values{};
                 const std::string text = FormValueText(form, *value);
                 return Values{texts ? EscapeJobValue(text) : text};
             },
             [=](const std::string& v, MovieJob& j, std::string& why) {
                 std::string text = v;
                 const bool read = !texts || UnescapeJobValue(v, text);
                 if (read && text.empty() && form.mayBeEmpty) return true;  // none
                 const std::optional<FormValue> value = read ? ReadFormValue(form, text) : std::nullopt;
                 if (!value || !set(*value, j)) why = std::string("needs ") + form.needs;
                 return why.empty();
             }};
    t.optional = optional;
    t.stereo = stereo;
    return t;
}

FormValue Numbers(std::vector<double> numbers) { return FormValue{{}, std::move(numbers)}; }

// The whole number at `i` of a value whose form has whole numbers in int32_t's range.
int32_t Whole(const FormValue& v, size_t i) { return static_cast<int32_t>(v.numbers[i]); }

JobTag SizeTag() {
    return FormTag("SIZE", Parameter("SIZE").form,
                   [](const MovieJob& j) { return Numbers({double(j.movie.width), double(j.movie.height)}); },
                   [](const FormValue& v, MovieJob& j) {
                       j.movie.width = j.geometry.frameW = Whole(v, 0);
                       j.movie.height = j.geometry.frameH = Whole(v, 1);
                       return true;
                   });
}

JobTag RateTag() {
    return FormTag("RATE", Parameter("RATE").form,
                   [](const MovieJob& j) { return Numbers({double(j.movie.rateNum), double(j.movie.rateDen)}); },
                   [](const FormValue& v, MovieJob& j) {
                       j.movie.rateNum = Whole(v, 0);
                       j.movie.rateDen = Whole(v, 1);
                       return true;
                   });
}

std::optional<FormValue> CircleParts(const std::optional<LensCircle>& c) {
    if (!c) return std::nullopt;
    return Numbers({c->cx, c->cy, c->r});
}

LensCircle CircleOf(const FormValue& v) { return LensCircle{v.numbers[0], v.numbers[1], v.numbers[2]}; }

JobTag CircleTag() {
    return FormTag("CIRCLE", Parameter("CIRCLE").form, [](const MovieJob& j) { return CircleParts(j.geometry.circle); },
                   [](const FormValue& v, MovieJob& j) {
                       j.geometry.circle = CircleOf(v);
                       return true;
                   },
                   true);
}

// The calibrated profile: "LENS|CAMERA|CROP|FOCAL|APERTURE", empty without one.
JobTag LensProfileTag() {
    return FormTag("LENS_PROFILE", Parameter("LENS_PROFILE").form,
                   [](const MovieJob& j) -> std::optional<FormValue> {
                       const LensProfileSettings& p = j.lens.profile;
                       if (p.Empty()) return std::nullopt;
                       return FormValue{{p.lens, p.camera}, {p.cropFactor, p.focal, p.aperture}};
                   },
                   [](const FormValue& v, MovieJob& j) {
                       if (v.texts[0].empty()) return false;
                       LensProfileSettings& p = j.lens.profile;
                       p.lens = v.texts[0];
                       p.camera = v.texts[1];
                       p.cropFactor = v.numbers[0];
                       p.focal = v.numbers[1];
                       p.aperture = v.numbers[2];
                       return true;
                   },
                   true);
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
                if (!ReadWholeNumber(v, 0, INT64_MAX, j.movie.bytes)) why = "needs the movie's size in bytes";
                return why.empty();
            }};
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

// The forms of a stereo job's own lines.
constexpr ValueForm kEyeOffsetForm{.parts = 2, .decimals = true, .min = -360, .max = 360,
                                   .needs = "the right eye's PITCH,ROLL off the left in degrees"};
constexpr ValueForm kEyeWindowForm{.parts = 4, .min = -65536, .max = 65536, .positive = 2,
                                   .needs = "the window X,Y,W,H in source pixels (W and H above 0)"};
constexpr ValueForm kEyeCutForm{.parts = 4, .min = -kCutLimit, .max = kCutLimit, .needs = "the cut XL1,YL1,XL2,YL2"};

JobTag EyesMeasuredTag() {
    return FormTag("EYES_MEASURED", kEyeOffsetForm,
                   [](const MovieJob& j) -> std::optional<FormValue> {
                       const std::optional<EyeOffset>& m = j.stereo.measured;
                       if (!m || !j.stereo.IsStereo()) return std::nullopt;
                       return Numbers({m->pitch, m->roll});
                   },
                   [](const FormValue& v, MovieJob& j) {
                       j.stereo.measured = EyeOffset{v.numbers[0], v.numbers[1]};
                       return true;
                   },
                   true, true);
}

std::string EyeTag(int eye, const char* what) { return std::string(eye == kLeftEye ? "LEFT_" : "RIGHT_") + what; }

// An eye's window of the frame (X,Y,W,H in source pixels) and its cut in
// that window's 600 units.
JobTag EyeWindowTag(int eye) {
    return FormTag(EyeTag(eye, "WINDOW"), kEyeWindowForm,
                   [eye](const MovieJob& j) -> std::optional<FormValue> {
                       const FrameRegion& w = j.stereo.settings.windows[eye];
                       if (!j.stereo.IsStereo()) return std::nullopt;
                       return Numbers({double(w.x), double(w.y), double(w.w), double(w.h)});
                   },
                   [eye](const FormValue& v, MovieJob& j) {
                       j.stereo.settings.windows[eye] = FrameRegion{Whole(v, 0), Whole(v, 1), Whole(v, 2), Whole(v, 3)};
                       return true;
                   },
                   false, true);
}

JobTag EyeCutTag(int eye) {
    return FormTag(EyeTag(eye, "CUT"), kEyeCutForm,
                   [eye](const MovieJob& j) -> std::optional<FormValue> {
                       const CutRect& c = j.stereo.settings.cuts[eye];
                       if (!j.stereo.IsStereo()) return std::nullopt;
                       return Numbers({double(c.XL1), double(c.YL1), double(c.XL2), double(c.YL2)});
                   },
                   [eye](const FormValue& v, MovieJob& j) {
                       j.stereo.settings.cuts[eye] = CutRect{Whole(v, 0), Whole(v, 1), Whole(v, 2), Whole(v, 3)};
                       return true;
                   },
                   false, true);
}

// The fraction of a pixel the eye's circle centre lies off where its window
// and cut place it (X,Y in source pixels); none when left out.
constexpr ValueForm kEyeShiftForm{.parts = 2, .decimals = true, .min = -1, .max = 1,
                                  .needs = "the centre's shift X,Y in source pixels, each from -1 to 1"};

JobTag EyeShiftTag(int eye) {
    return FormTag(EyeTag(eye, "SHIFT"), kEyeShiftForm,
                   [eye](const MovieJob& j) -> std::optional<FormValue> {
                       const CentreShift& s = j.stereo.settings.shifts[eye];
                       if (!j.stereo.IsStereo()) return std::nullopt;
                       return Numbers({s.x, s.y});
                   },
                   [eye](const FormValue& v, MovieJob& j) {
                       j.stereo.settings.shifts[eye] = CentreShift{v.numbers[0], v.numbers[1]};
                       return true;
                   },
                   true, true);
}

JobTag EyeCircleTag(int eye) {
    return FormTag(EyeTag(eye, "CIRCLE"), kCircleForm,
                   [eye](const MovieJob& j) {
                       return j.stereo.IsStereo() ? CircleParts(j.stereo.circles[eye]) : std::nullopt;
                   },
                   [eye](const FormValue& v, MovieJob& j) {
                       j.stereo.circles[eye] = CircleOf(v);
                       return true;
                   },
                   true, true);
}

// An eye's own angle, when it has one: checked as the shared lens's is.
JobTag EyeAngleTag(int eye, const char* what, std::optional<double> EyeAngles::*angle, double LensSettings::*field) {
    return {EyeTag(eye, what),
            [=](const MovieJob& j) {
                const std::optional<double>& a = j.stereo.settings.angles[eye].*angle;
                return a ? IfStereo(j, DecimalText(*a)) : Values{};
            },
            [=](const std::string& v, MovieJob& j, std::string& why) {
                LensSettings probe;
                if (!ReadDecimal(v, probe.*field)) {
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
                     std::string text;
                     for (const int64_t n : {int64_t{m.stream}, int64_t{m.width}, int64_t{m.height}, int64_t{m.rateNum},
                                             int64_t{m.rateDen}, m.bytes}) {
                         text += (text.empty() ? "" : ",") + std::to_string(n);
                     }
                     return IfPair(j, text);
                 },
                 [](const std::string& v, MovieJob& j, std::string& why) {
                     int64_t n[6] = {0, 0, 0, 0, 0, 0};
                     const std::vector<std::string> parts = SplitAt(v, ',');
                     bool read = parts.size() == 6;
                     for (size_t i = 0; read && i < 6; ++i) read = ReadWholeNumber(parts[i], -1, INT64_MAX, n[i]);
                     if (!read || n[1] > 65536 || n[2] > 65536 ||
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
                     if (!ReadWholeNumber(v, 0, 1000000, n)) why = "needs the right movie's frames ahead of the left's, 0 or more";
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
        t.push_back(EyeShiftTag(eye));
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
    std::vector<std::string> lines = SplitAt(text, '\n');
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
    if (!ReadWholeNumber(lines[0].substr(header.size()), kJobFileMonoVersion, kJobFileVersion, version)) {
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
