#include "cli/convert_options.h"

#include <charconv>
#include <climits>
#include <cmath>

#include "convert/movie_part.h"
#include "app/parameter_file.h"
#include "cli/stereo_options.h"

namespace tessaly {
namespace {

// A whole decimal number filling the whole text.
std::optional<int32_t> ParseInt(const std::string& text) {
    int32_t value = 0;
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    if (begin != end && *begin == '+') ++begin;
    auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ec != std::errc() || ptr != end || begin == end) return std::nullopt;
    return value;
}

// A decimal number filling the whole text, read without the locale ("."
// is the decimal point whatever LC_NUMERIC says).
std::optional<double> ParseDecimal(const std::string& text) {
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    if (begin != end && *begin == '+') ++begin;
    double value = 0.0;
    auto [ptr, ec] = std::from_chars(begin, end, value, std::chars_format::fixed);
    if (ec != std::errc() || ptr != end || begin == end || !std::isfinite(value)) return std::nullopt;
    return value;
}

// One lens value in degrees, checked on its own; false with `error` set.
bool ReadLensValue(const std::string& name, const std::string& value, double LensSettings::*field,
                   std::optional<double>& out, std::string& error) {
    const std::optional<double> v = ParseDecimal(value);
    if (!v) {
        error = name + " needs a number of degrees, got '" + value + "'";
        return false;
    }
    LensSettings probe;
    probe.*field = *v;
    const std::string problem = LensProblem(probe);
    if (!problem.empty()) {
        error = name + ": " + problem;
        return false;
    }
    out = *v;
    return true;
}

std::vector<std::string> SplitCommas(const std::string& text) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        size_t comma = text.find(',', start);
        parts.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return parts;
}

std::string RangeError(const std::string& name, int32_t low, int32_t high,
                       const std::string& value) {
    return name + " needs a whole number from " + std::to_string(low) + " to " +
           std::to_string(high) + ", got '" + value + "'";
}

// Reads a number in low..high into `out`; false with `error` set otherwise.
bool ReadInRange(const std::string& name, const std::string& value, int32_t low, int32_t high,
                 int32_t& out, std::string& error) {
    std::optional<int32_t> n = ParseInt(value);
    if (!n || *n < low || *n > high) {
        error = RangeError(name, low, high, value);
        return false;
    }
    out = *n;
    return true;
}

// Reads an amount within the range of its trackbar (the parameter table's).
bool ReadAmount(const std::string& name, const std::string& value, int32_t AppSettings::*field, int32_t& out,
                std::string& error) {
    const Parameter& p = *ParameterOf(field);
    return ReadInRange(name, value, p.min, p.max, out, error);
}

// "0..255": an amount's range as the usage text writes it.
std::string RangeText(int32_t AppSettings::*field) {
    const Parameter& p = *ParameterOf(field);
    return std::to_string(p.min) + ".." + std::to_string(p.max);
}

bool TakesValue(const std::string& name) {
    static const char* const kWithValue[] = {
        "--params", "--cut",   "--sharpen", "--brightness", "--contrast", "--noise", "--cpu",
        "--stills", "--quality", "--resize", "--temp", "--lens", "--fov", "--yaw", "--pitch", "--roll", "--circle",
        "--encoder-stall", "--part"};
    for (const char* option : kWithValue) {
        if (name == option) return true;
    }
    return TakesStereoValue(name);
}

// One option with its value; false with `error` set when it is not valid.
bool ApplyOption(const std::string& name, const std::string& value, ConvertOptions& o,
                 std::string& error) {
    int32_t n = 0;
    if (name == "--params") {
        if (value.empty()) {
            error = "--params needs a file name";
            return false;
        }
        o.paramsFile = value;
    } else if (name == "--cut") {
        std::vector<std::string> parts = SplitCommas(value);
        std::array<int32_t, 4> cut{};
        bool good = parts.size() == 4;
        for (size_t i = 0; good && i < 4; ++i) {
            std::optional<int32_t> v = ParseInt(parts[i]);
            // Far beyond any preview coordinate; keeps the geometry's arithmetic in range.
            good = v && *v >= -1000000 && *v <= 1000000;
            if (good) cut[i] = *v;
        }
        if (!good) {
            error = "--cut needs four whole numbers XL1,YL1,XL2,YL2, got '" + value + "'";
            return false;
        }
        o.cut = cut;
    } else if (name == "--circle") {
        std::vector<std::string> parts = SplitCommas(value);
        double v[3] = {0, 0, 0};
        bool good = parts.size() == 3;
        for (size_t i = 0; good && i < 3; ++i) {
            std::optional<double> d = ParseDecimal(parts[i]);
            good = d && std::fabs(*d) <= 1.0e6;
            if (good) v[i] = *d;
        }
        if (!good || !(v[2] > 0.0)) {
            error = "--circle needs the centre and radius CX,CY,R in source pixels (R above 0), got '" + value + "'";
            return false;
        }
        o.circle = LensCircle{v[0], v[1], v[2]};
    } else if (name == "--sharpen") {
        if (value == "off") {
            o.sharpenOff = true;
            o.sharpen.reset();
            o.radius.reset();
            return true;
        }
        std::vector<std::string> parts = SplitCommas(value);
        if (parts.size() > 2) {
            error = "--sharpen needs AMOUNT[,RADIUS] or off, got '" + value + "'";
            return false;
        }
        if (!ReadAmount("--sharpen amount", parts[0], &AppSettings::SHARPEN, n, error)) return false;
        o.sharpen = n;
        o.sharpenOff = false;
        if (parts.size() == 2) {
            if (!ReadAmount("--sharpen radius", parts[1], &AppSettings::RADIUS, n, error)) return false;
            o.radius = n;
        }
    } else if (name == "--brightness") {
        if (!ReadAmount(name, value, &AppSettings::BRIGHTNESS, n, error)) return false;
        o.brightness = n;
    } else if (name == "--contrast") {
        if (!ReadAmount(name, value, &AppSettings::CONTRAST, n, error)) return false;
        o.contrast = n;
    } else if (name == "--noise") {
        if (!ReadAmount(name, value, &AppSettings::NOISE, n, error)) return false;
        o.noise = n;
    } else if (name == "--cpu") {
        if (!ReadAmount(name, value, &AppSettings::CPU, n, error)) return false;
        o.cpu = n;
    } else if (name == "--lens") {
        o.lensModel = LensModelFromName(value);
        if (!o.lensModel) {
            error = "--lens needs equidistant, equisolid, stereographic or orthographic, got '" + value + "'";
            return false;
        }
    } else if (name == "--fov") {
        return ReadLensValue(name, value, &LensSettings::fov, o.fov, error);
    } else if (name == "--yaw") {
        return ReadLensValue(name, value, &LensSettings::yaw, o.yaw, error);
    } else if (name == "--pitch") {
        return ReadLensValue(name, value, &LensSettings::pitch, o.pitch, error);
    } else if (name == "--roll") {
        return ReadLensValue(name, value, &LensSettings::roll, o.roll, error);
    } else if (name == "--stills") {
        if (value == "jpg" || value == "jpeg") {
            o.tempFormat = StillFormat::Jpeg;
        } else if (value == "bmp") {
            o.tempFormat = StillFormat::Bmp;
        } else {
            error = "--stills needs jpg or bmp, got '" + value + "'";
            return false;
        }
    } else if (name == "--quality") {
        if (!ReadInRange(name, value, 0, 21, o.quality, error)) return false;
    } else if (name == "--resize") {
        if (!ReadInRange(name, value, 0, 5, o.resize, error)) return false;
    } else if (name == "--temp") {
        if (value.empty()) {
            error = "--temp needs a folder";
            return false;
        }
        o.tempDir = value;  // exactly as typed: "tb " is not "tb"
    } else if (name == "--part") {
        const size_t slash = value.find('/');
        const std::optional<int32_t> index = ParseInt(value.substr(0, slash));
        const std::optional<int32_t> count =
            slash == std::string::npos ? std::nullopt : ParseInt(value.substr(slash + 1));
        if (!index || !count || *count < 1 || *count > kMaxParts || *index < 1 || *index > *count) {
            error = "--part needs I/N with 1 <= I <= N <= " + std::to_string(kMaxParts) + ", got '" + value + "'";
            return false;
        }
        o.partIndex = *index;
        o.partCount = *count;
    } else if (name == "--encoder-stall") {
        // Up to a week; 0 waits for ever.
        if (!ReadInRange(name, value, 0, 604800, o.encoderStallSeconds, error)) return false;
    } else {
        return ApplyStereoOption(name, value, o.stereo, error);
    }
    return true;
}

}  // namespace

ParsedOptions ParseConvertOptions(const std::vector<std::string>& args) {
    ParsedOptions result;
    ConvertOptions& o = result.options;
    std::vector<std::string> files;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            o.help = true;
            continue;
        }
        if (arg == "--version") {
            o.version = true;
            continue;
        }
        if (arg == "--flip") {
            o.flip = true;
            continue;
        }
        if (arg == "--aspect") {
            o.aspect = true;
            continue;
        }
        if (arg == "--keep-stills") {
            o.keepStills = true;
            continue;
        }
        if (arg == "--strict") {
            o.strict = true;
            continue;
        }
        if (arg == "--join") {
            o.join = true;
            continue;
        }
        if (arg == "--no-vr-metadata") {
            o.vrMetadata = false;
            continue;
        }
        if (ApplyStereoSwitch(arg, o.stereo)) continue;
        std::string name = arg;
        std::string value;
        size_t equals = arg.find('=');
        bool inlineValue = equals != std::string::npos;
        if (inlineValue) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
        }
        if (!TakesValue(name)) {
            result.error = "unknown option " + name;
            return result;
        }
        if (!inlineValue) {
            if (i + 1 >= args.size()) {
                result.error = name + " needs a value";
                return result;
            }
            value = args[++i];
        }
        if (!ApplyOption(name, value, o, result.error)) return result;
    }
    if (o.help || o.version) {
        result.ok = true;
        return result;
    }
    if (o.circle && o.cut) {
        result.error = "--circle and --cut both set the cut: give one of them";
        return result;
    }
    result.error = StereoOptionsProblem(o.stereo, StereoOnlyOptionsGiven(o.stereo), o.cut || o.circle, o.flip,
                                        o.join || o.partCount > 0);
    if (!result.error.empty()) return result;
    // The model and field of view given together must suit each other.
    if (o.lensModel && o.fov) {
        LensSettings lens;
        lens.model = *o.lensModel;
        lens.fov = *o.fov;
        const std::string problem = LensProblem(lens);
        if (!problem.empty()) {
            result.error = "--lens " + std::string(LensModelName(lens.model)) + " --fov: " + problem;
            return result;
        }
    }
    if (o.join && o.partCount > 0) {
        result.error = "--part and --join cannot be given together";
        return result;
    }
    if (o.join) {
        if (files.size() < 3) {
            result.error = "--join needs the source movie, the output and at least one part: IN OUT PART...";
            return result;
        }
        o.input = files[0];
        o.outputs = {files[1]};
        o.parts.assign(files.begin() + 2, files.end());
        for (const std::string& part : o.parts) {
            if (part == o.input || part == files[1]) {
                result.error = "the part " + part + " is also named as the " +
                               (part == o.input ? "source movie" : "output");
                return result;
            }
        }
        if (files[1] == o.input) {
            result.error = "the output movie " + files[1] + " is the input movie";
            return result;
        }
        result.ok = true;
        return result;
    }
    if (o.partCount > 0 && files.size() > 2) {
        result.error = "--part writes one part file: give IN PARTFILE";
        return result;
    }
    if (files.size() < 2) {
        result.error = files.empty() ? "no input movie and no output movie given"
                                     : "no output movie given";
        return result;
    }
    o.input = files[0];
    o.outputs.assign(files.begin() + 1, files.end());
    for (const std::string& output : o.outputs) {
        if (output == o.input) {
            result.error = "the output movie " + output + " is the input movie";
            return result;
        }
    }
    result.ok = true;
    return result;
}

void ApplyConvertOptions(const ConvertOptions& o, FisheyeApp& app) {
    app.settings.Change([&o](AppSettings& s) {
        if (o.cut) {
            s.XL1 = (*o.cut)[0];
            s.YL1 = (*o.cut)[1];
            s.XL2 = (*o.cut)[2];
            s.YL2 = (*o.cut)[3];
        }
        if (o.sharpenOff) s.SHARPEN_CH = 0;
        if (o.sharpen) {
            s.SHARPEN_CH = 1;
            s.SHARPEN = *o.sharpen;
        }
        if (o.radius) s.RADIUS = *o.radius;
        if (o.brightness) {
            s.BRIGHTNESS_CH = 1;
            s.BRIGHTNESS = *o.brightness;
        }
        if (o.contrast) {
            s.CONTRAST_CH = 1;
            s.CONTRAST = *o.contrast;
        }
        if (o.noise) {
            s.NOISE_CH = 1;
            s.NOISE = *o.noise;
        }
        if (o.cpu) {
            s.CPU_CH = 1;
            s.CPU = *o.cpu;
        }
        if (o.aspect) s.ASPECT = 1;
        if (o.lensModel) s.lens.model = *o.lensModel;
        if (o.fov) s.lens.fov = *o.fov;
        if (o.yaw) s.lens.yaw = *o.yaw;
        if (o.pitch) s.lens.pitch = *o.pitch;
        if (o.roll) s.lens.roll = *o.roll;
        if (!o.tempDir.empty()) s.APATH = o.tempDir;
    });
    if (o.flip) app.run.horizontalFlip = true;
    if (o.tempFormat) app.run.tempFormat = *o.tempFormat;
    app.run.resizeChoice = o.resize;
    app.run.markVrOutput = o.vrMetadata;
}

std::string LensSettingsProblem(const AppSettings& settings) {
    const std::string problem = LensProblem(settings.lens);
    return problem.empty() ? problem : "the lens cannot be used: " + problem;
}

std::string ConvertUsage() {
    const std::string amounts =
        "  --sharpen AMOUNT[,RADIUS]  sharpen " + RangeText(&AppSettings::SHARPEN) + ", radius " +
        RangeText(&AppSettings::RADIUS) + "; --sharpen off disables\n"
        "  --brightness N         brightness " + RangeText(&AppSettings::BRIGHTNESS) + "\n"
        "  --contrast N           contrast " + RangeText(&AppSettings::CONTRAST) + "\n"
        "  --noise N              noise filter " + RangeText(&AppSettings::NOISE) + "\n"
        "  --cpu N                CPU usage limit " + RangeText(&AppSettings::CPU) + " percent\n";
    return "Usage: tessaly-convert [options] INPUT OUTPUT [MORE OUTPUTS]\n"
           "       tessaly-convert [options] --part I/N INPUT PARTFILE\n"
           "       tessaly-convert [options] --join INPUT OUTPUT PART...\n"
           "Converts a movie filmed through a circular 180-degree fisheye lens into a\n"
           "square equirectangular movie. The container follows each OUTPUT's extension\n"
           "(.flv .mov .avi .mp4 .m4v .mpg .mpeg .ogg .ogv .webm); every further OUTPUT is\n"
           "encoded from the same frames. .mpg and .mpeg (MPEG-2) take a standard rate\n"
           "from 23.976 to 60 fps: a slower movie's frames are shown twice or more.\n"
           "Settings not given come from the parameter file.\n"
           "\n"
           "Modes:\n"
           "  streaming (default)    each converted frame goes through a pipe into one\n"
           "                         encoder that writes every OUTPUT at once, with the\n"
           "                         sound taken from INPUT: no stills, no sound file\n"
           "  --stills jpg|bmp       the still path: every frame is written as a still\n"
           "                         into the temporary folder, the sound into a WAV,\n"
           "                         then the encoder reads them for each OUTPUT\n"
           "\n"
           "Parts (one movie on many cores or machines):\n"
           "  --part I/N             convert only part I of N: the frames whose times fall\n"
           "                         in the I-th of N equal spans of INPUT's timeline,\n"
           "                         with the settings of a whole run, into PARTFILE\n"
           "                         (video only, starting with a key frame). Over\n"
           "                         I = 1..N every frame is converted exactly once.\n"
           "                         PARTFILE .mkv holds the H.264 video of .mp4 .m4v\n"
           "                         .mov .flv .avi outputs; for .webm .ogg .ogv outputs\n"
           "                         give the parts the output's extension\n"
           "  --join                 INPUT OUTPUT PART...: join the parts of INPUT, in\n"
           "                         order, into OUTPUT without re-encoding the picture,\n"
           "                         with INPUT's sound for the whole length; checked and\n"
           "                         marked like any output. A missing, damaged or\n"
           "                         mismatched part (size, rate, codec, settings, order)\n"
           "                         is refused, naming the part\n"
           "\n"
           "Options:\n"
           "  --params FILE          parameter file (default: Tessaly.ini, see Files below)\n"
           "  --cut XL1,YL1,XL2,YL2  cut rectangle in 600x600 preview units\n"
           "  --circle CX,CY,R       the lens circle's centre and radius in source pixels\n"
           "                         (x right, y down, 0,0 the top-left pixel's centre):\n"
           "                         the cut that places it. Without --circle, --cut and\n"
           "                         --params the circle is found in frames sampled\n"
           "                         across INPUT (not with --aspect); if there is\n"
           "                         none, the cut of the parameter file (or the start\n"
           "                         cut) is used\n"
           + amounts +
           "  --flip                 mirror the picture horizontally\n"
           "  --aspect               fix the pixel aspect ratio (PARxDAR)\n"
           "  --lens MODEL           the lens's projection: equidistant (default),\n"
           "                         equisolid, stereographic or orthographic\n"
           "  --fov DEGREES          the lens's field of view across its circle, 90..280\n"
           "                         (default 180; orthographic at most 180); directions\n"
           "                         the lens does not see come out black\n"
           "  --yaw DEGREES          turn the view to the right (negative: left)\n"
           "  --pitch DEGREES        tilt the view up (negative: down)\n"
           "  --roll DEGREES         turn the view about its axis; the three angles lie\n"
           "                         within -180..180 and mean what they mean to ffmpeg's\n"
           "                         v360 filter (applied as yaw, then pitch, then roll)\n"
           "  --stills jpg|bmp       take the still path with stills of this format\n"
           "  --quality 0..21        0 = encoder default, 1 = largest file .. 21 = smallest\n"
           "  --resize 0..5          0 = natural size, 1..5 = 90% .. 50%\n"
           "  --temp DIR             the run works in a private folder made inside DIR\n"
           "                         (removed at the end), so runs may share DIR\n"
           "  --encoder-stall SECONDS  end an encoder that shows no progress (no output,\n"
           "                         no progress line) for this long; default 60, 0 waits\n"
           "                         for ever. A slow encoder that progresses is waited for\n"
           "  --keep-stills          keep the numbered stills, in DIR/tessaly-stills-*\n"
           "                         (the still path)\n"
           "  --no-vr-metadata       do not mark the outputs as 180-degree VR video; by\n"
           "                         default .mp4 .m4v .mov .webm outputs are marked as\n"
           "                         mono 180x180 equirectangular (Spherical Video V2,\n"
           "                         Matroska Projection) so VR players show them as\n"
           "                         180-degree video; .flv .avi .mpg .mpeg .ogg .ogv\n"
           "                         cannot carry it\n"
           "  --strict               fail (exit status 4) when the movie decodes fewer\n"
           "                         frames than it declares (a damaged file); without\n"
           "                         it such a run converts what can be decoded, says\n"
           "                         \"converted N of the M frames the file declares\"\n"
           "                         and succeeds\n"
           "  --check-options OPTIONS... INPUT OUTPUT  (first) check a command line as a\n"
           "                         run would, up to its first frame, and convert nothing\n"
           "  --help                 show this text\n"
           "  --version              show the version\n" +
           StereoUsage();
}

}  // namespace tessaly
