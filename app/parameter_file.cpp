#include "app/parameter_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <optional>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "app/format.h"

namespace tessaly {
namespace {

constexpr size_t kMaxPath = 260;

// Indexes into kParameterTable in the order the fields are read; FPS comes
// fifth, so a file without it keeps only the cut rectangle, which the
// early-stop reset then undoes.
constexpr int kReadOrder[] = {0,  1,  2,  3,  26, 4,  5,  6,  7,  8,  9,  10, 11, 12,
                              13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25};
static_assert(std::size(kReadOrder) == kParameterFileLines);
static_assert(std::string_view(kParameterTable[26].tag) == "FPS");

// The lens's tags in the order LensValue numbers them.
constexpr const char* kLensTags[] = {Parameter("LENS").tag, Parameter("LENS_FOV").tag, Parameter("YAW").tag,
                                     Parameter("PITCH").tag, Parameter("ROLL").tag};
constexpr const char* kLensProfileTag = Parameter("LENS_PROFILE").tag;
constexpr ValueForm kLensProfileForm = Parameter("LENS_PROFILE").form;

int32_t ClampToRange(int32_t v, int32_t limit) { return (v < 0 || v > limit) ? 0 : v; }

int32_t LimitOf(PositionLimit which, const ScreenSize& screen) {
    return which == PositionLimit::kWidth ? screen.width : screen.height;
}

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

// The lens tags' values as written: the model's number, then decimal
// numbers with "." whatever the locale.
std::string LensValue(const LensSettings& lens, int index) {
    switch (index) {
        case 0: return std::to_string(static_cast<int32_t>(lens.model));
        case 1: return FormatNumber(lens.fov);
        case 2: return FormatNumber(lens.yaw);
        case 3: return FormatNumber(lens.pitch);
        default: return FormatNumber(lens.roll);
    }
}

// A decimal number filling the whole segment (blanks around it allowed),
// read without the locale; nothing else is a value.
bool ParseLensNumber(std::string_view text, double& value) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return false;
    double v = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::fixed);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v)) return false;
    value = v;
    return true;
}

// The profile's fields in the form of its descriptor,
// "LENS|CAMERA|CROP|FOCAL|APERTURE", read leniently: a missing field is
// empty, a number that cannot be used stays 0 (the database's default) with
// a note.
void LoadLensProfile(std::string_view segment, LensProfileSettings& profile, std::vector<std::string>& notes) {
    if (segment.empty()) return;
    const ValueForm& form = kLensProfileForm;
    std::vector<std::string> fields = SplitAt(segment, form.separator);
    fields.resize(form.parts);
    profile.lens = TrimBlanksAndNuls(fields[0]);
    profile.camera = TrimBlanksAndNuls(fields[1]);
    double LensProfileSettings::*numbers[] = {&LensProfileSettings::cropFactor, &LensProfileSettings::focal,
                                              &LensProfileSettings::aperture};
    for (int i = 0; i < 3; ++i) {
        double v = 0.0;
        if (fields[2 + i].empty()) continue;
        if (!ParseLensNumber(fields[2 + i], v) || v < form.min || v > form.max) {
            notes.push_back(std::string("Parameter file: <") + kLensProfileTag + "> \"" + fields[2 + i].substr(0, 40) +
                            "\" cannot be used (not a number from " + std::to_string(form.min) + " to " +
                            std::to_string(form.max) + "); 0 is used instead");
            continue;
        }
        profile.*numbers[i] = v;
    }
}

// The lens values of a file whose 27 fields were read. Each value stands on
// its own: one that is missing keeps its default silently, one that cannot
// be used takes its default with a note.
void LoadLens(std::string_view text, LensSettings& lens, std::vector<std::string>& notes) {
    const LensSettings defaults;
    lens = defaults;
    auto refuse = [&notes](const char* tag, std::string_view segment, const std::string& why,
                           const std::string& fallback) {
        notes.push_back(std::string("Parameter file: <") + tag + "> \"" + std::string(segment.substr(0, 40)) +
                        "\" cannot be used (" + why + "); " + fallback + " is used instead");
    };
    for (int i = 0; i < static_cast<int>(std::size(kLensTags)); ++i) {
        const char* tag = kLensTags[i];
        const std::string_view segment = SecondSegment(text, std::string("<") + tag + ">");
        if (segment.empty()) continue;
        double v = 0.0;
        if (!ParseLensNumber(segment, v)) {
            refuse(tag, segment, "not a number", LensValue(defaults, i));
            continue;
        }
        if (i == 0) {
            const std::optional<LensModel> model =
                v == std::trunc(v) && std::fabs(v) < 1e9 ? LensModelFromNumber(static_cast<int64_t>(v)) : std::nullopt;
            if (!model) {
                refuse(tag, segment, "no lens model has that number", LensValue(defaults, i));
            } else {
                lens.model = *model;
            }
            continue;
        }
        LensSettings probe;
        double LensSettings::*field = i == 1   ? &LensSettings::fov
                                      : i == 2 ? &LensSettings::yaw
                                      : i == 3 ? &LensSettings::pitch
                                               : &LensSettings::roll;
        probe.*field = v;
        const std::string problem = LensProblem(probe);
        if (!problem.empty()) {
            refuse(tag, segment, problem, LensValue(defaults, i));
            continue;
        }
        lens.*field = v;
    }
    LoadLensProfile(SecondSegment(text, std::string("<") + kLensProfileTag + ">"), lens.profile, notes);
    // A field of view the model cannot have (an orthographic lens above 180).
    const std::string problem = LensProblem(lens);
    if (!problem.empty()) {
        refuse("LENS_FOV", LensValue(lens, 1), problem, LensValue(defaults, 1));
        lens.fov = defaults.fov;
    }
}

// The movie path as written between its tags, and back.
std::string EscapeMoviePath(const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : path) {
        if (c == '%' || c == '<' || c == '>' || c == '\r' || c == '\n') {
            const auto b = static_cast<unsigned char>(c);
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 15];
        } else {
            out += c;
        }
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string UnescapeMoviePath(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const int high = i + 2 < text.size() && text[i] == '%' ? HexDigit(text[i + 1]) : -1;
        const int low = high >= 0 ? HexDigit(text[i + 2]) : -1;
        if (low >= 0) {
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The movie of the cut: all three values or none (a damaged or partial set
// leaves the cut belonging to no movie, so the next load searches).
void LoadCutMovie(std::string_view text, AppSettings& settings) {
    SetCutMovie(settings, {}, 0, 0);
    const std::string_view path = SecondSegment(text, "<CUT_MOVIE>");
    const double w = ParseLeadingNumber(SecondSegment(text, "<CUT_WIDTH>"));
    const double h = ParseLeadingNumber(SecondSegment(text, "<CUT_HEIGHT>"));
    if (path.empty() || !(w >= 1 && w <= 1e6) || !(h >= 1 && h <= 1e6)) return;
    SetCutMovie(settings, UnescapeMoviePath(path), static_cast<int32_t>(w), static_cast<int32_t>(h));
}

// The eyes' own angles as written: six fields, left eye's yaw, pitch and
// roll then the right eye's, each empty when the eye takes the lens's.
constexpr std::optional<double> EyeAngles::*kEyeAngleFields[] = {&EyeAngles::yaw, &EyeAngles::pitch,
                                                                  &EyeAngles::roll};

std::string EyeAnglesValue(const std::array<EyeAngles, 2>& eyes) {
    std::string text;
    for (int i = 0; i < 6; ++i) {
        if (i > 0) text += ',';
        const std::optional<double>& angle = eyes[i / 3].*kEyeAngleFields[i % 3];
        if (angle) text += FormatNumber(*angle);
    }
    return text;
}

// The stereo choice of a file; a value out of its range, a damaged or an
// unusable angle keeps its start value.
void LoadStereo(std::string_view text, AppSettings& settings) {
    const AppSettings start;
    for (const char* tag : {"STEREO", "STEREO_OUT", "SWAP_EYES", "ALIGN_EYES"}) {
        const ParameterDescriptor& d = Parameter(tag);
        const std::string_view segment = SecondSegment(text, std::string("<") + tag + ">");
        double v = 0.0;
        const bool read = !segment.empty() && ParseLensNumber(segment, v) && v == std::trunc(v);
        settings.*d.field = read && v >= d.min && v <= d.max ? static_cast<int32_t>(v) : start.*d.field;
    }
    settings.eyeAngles = start.eyeAngles;
    std::string_view rest = SecondSegment(text, "<EYE_ANGLES>");
    for (int i = 0; i < 6 && !rest.empty(); ++i) {
        const size_t comma = rest.find(',');
        const std::string_view field = rest.substr(0, comma);
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        LensSettings probe;
        probe.yaw = 0.0;
        if (field.empty() || !ParseLensNumber(field, probe.yaw) || !LensProblem(probe).empty()) continue;
        settings.eyeAngles[i / 3].*kEyeAngleFields[i % 3] = probe.yaw;
    }
}

// The value a number read from the file becomes: a 0 outside its range,
// or FPS 0, takes the reset value.
int32_t CorrectedZero(const ParameterDescriptor& d, int32_t v) {
    if (v != 0 || d.reset == 0) return v;
    return d.kind == ValueKind::kAmount && InRange(d, 0) ? 0 : d.reset;
}

// A path among the 27, as written: nothing between two tags ends reading,
// so an empty path would make the program's own file lose every later
// field. One blank reads back as the same empty path.
std::string PathLineValue(const std::string& path) {
    const std::string value = CutToBuffer(PathForFile(path));
    return value.empty() ? " " : value;
}

// The value of one tag of the file as written; none for a tag left out (no
// profile chosen).
std::optional<std::string> FileValue(const ParameterDescriptor& d, const AppSettings& in, const ScreenSize& screen) {
    const std::string_view tag = d.tag;
    for (int i = 0; i < static_cast<int>(std::size(kLensTags)); ++i) {
        if (tag == kLensTags[i]) return LensValue(in.lens, i);
    }
    if (tag == kLensProfileTag) {
        const LensProfileSettings& p = in.lens.profile;
        if (p.Empty()) return std::nullopt;
        const char bar = kLensProfileForm.separator;
        return p.lens + bar + p.camera + bar + FormatNumber(p.cropFactor) + bar + FormatNumber(p.focal) + bar +
               FormatNumber(p.aperture);
    }
    if (d.path == &AppSettings::cutMovie) return EscapeMoviePath(in.cutMovie);
    if (tag == "EYE_ANGLES") return EyeAnglesValue(in.eyeAngles);
    if (d.path != nullptr) return PathLineValue(in.*d.path);
    int32_t v = in.*d.field;
    if (d.limit != PositionLimit::kNone) v = ClampToRange(v, LimitOf(d.limit, screen));
    return std::to_string(v);
}

}  // namespace

std::string SerializeParameters(const AppSettings& in, const ScreenSize& screen) {
    std::string out = "Generated by Tessaly fisheye publisher, d'not edit!\r\n";
    out += std::string(48, '-') + "\r\n";
    for (const ParameterDescriptor& d : kParameterTable) {
        if ((d.files & kInParameterFile) == 0) continue;
        if (const std::optional<std::string> value = FileValue(d, in, screen)) {
            out += std::string("<") + d.tag + ">" + *value + "</" + d.tag + ">\r\n";
        }
    }
    return out;
}

namespace {

bool WriteWhole(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return ::fsync(fd) == 0;
}

// The file a path names: a symbolic link is written through, not replaced.
std::string FileBehind(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_symlink(path, ec)) return path;
    const std::filesystem::path target = std::filesystem::canonical(path, ec);
    return ec ? path : target.string();
}

}  // namespace

bool SaveParameters(const AppSettings& settings, const ScreenSize& screen,
                    const std::string& path) {
    const std::string text = SerializeParameters(settings, screen);
    const std::string target = FileBehind(path);
    struct stat old {};
    const bool existed = ::stat(target.c_str(), &old) == 0;

    // A new file beside the old one, renamed over it, so a crash or a full
    // disk never leaves a half-written file; it keeps the old file's mode.
    const std::string temp = target + ".tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd >= 0) {
        bool ok = !existed || ::fchmod(fd, old.st_mode & 07777) == 0;
        ok = WriteWhole(fd, text) && ok;
        ok = ::close(fd) == 0 && ok;
        if (ok && std::rename(temp.c_str(), target.c_str()) == 0) return true;
        ::unlink(temp.c_str());
        return false;  // the old file stays whole
    }
    // Only a folder that cannot take the new file, around a file that may
    // be written: write it in place.
    if (errno != EACCES && errno != EPERM && errno != EROFS) return false;
    if (!existed || ::access(target.c_str(), W_OK) != 0) return false;
    const int in = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (in < 0) return false;
    const bool ok = WriteWhole(in, text);
    return ::close(in) == 0 && ok;
}

bool SaveParameters(FisheyeApp& app) {
    return SaveParameters(app.settings.Copy(), app.env.screen, app.env.iniPath);
}

LoadResult LoadParametersFromText(std::string text, AppSettings& settings,
                                  const ScreenSize& screen, int32_t& frameWidth,
                                  int32_t& frameHeight) {
    // Make every closing tag equal to its opening tag. Only the "/" of a
    // closing tag goes, so folder paths keep their separators.
    for (const ParameterDescriptor& d : kParameterTable) {
        if ((d.files & kInParameterFile) == 0) continue;
        const char* tag = d.tag;
        const std::string closing = std::string("</") + tag + ">";
        const std::string opening = std::string("<") + tag + ">";
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
    for (const int index : kReadOrder) {
        const ParameterDescriptor& f = kParameterTable[index];
        const std::string tag = std::string("<") + f.tag + ">";
        const std::string_view segment = SecondSegment(text, tag);
        if (segment.empty()) {
            result.missingTag = f.tag;
            frameWidth = kStartFrameWidth;
            frameHeight = kStartFrameHeight;
            ResetCut(settings);
            SetCutMovie(settings, {}, 0, 0);
            return result;
        }
        if (f.path != nullptr) {
            // Applied only once every field was read.
            (f.path == &AppSettings::APATH ? apath : opath) = CutToBuffer(segment);
            continue;
        }
        int32_t& v = settings.*f.field;
        v = CorrectedZero(f, RoundHalfEvenToInt32(ParseLeadingNumber(segment)));
        if (f.limit != PositionLimit::kNone) v = ClampToRange(v, LimitOf(f.limit, screen));
    }
    settings.APATH = TrimBlanksAndNuls(apath);
    settings.OPATH = TrimBlanksAndNuls(opath);
    LoadLens(text, settings.lens, result.lensNotes);
    LoadCutMovie(text, settings);
    LoadStereo(text, settings);
    result.complete = true;
    return result;
}

LoadResult LoadParameters(FisheyeApp& app) {
    std::string text;
    if (std::FILE* f = std::fopen(app.env.iniPath.c_str(), "rb")) {
        char buf[65536];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
        std::fclose(f);
    }
    int32_t w = app.run.frameWidth.load();
    int32_t h = app.run.frameHeight.load();
    LoadResult r;
    app.settings.Change([&](AppSettings& s) { r = LoadParametersFromText(std::move(text), s, app.env.screen, w, h); });
    app.run.frameWidth = w;
    app.run.frameHeight = h;
    for (const std::string& note : r.lensNotes) app.env.log.WriteLogLine(note);
    app.env.parameterNotes = r.lensNotes;
    return r;
}

}  // namespace tessaly
