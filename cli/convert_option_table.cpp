#include "cli/convert_option_table.h"

#include <charconv>
#include <cstdlib>
#include <cmath>
#include <iterator>
#include <optional>
#include <utility>
#include <vector>

#include "app/format.h"
#include "app/parameter_table.h"
#include "cli/stereo_options.h"
#include "convert/movie_part.h"

namespace tessaly {

std::pair<int32_t, int32_t> RangeOfTag(const std::string& tag) {
    const ParameterDescriptor& d = Parameter(tag);
    if (d.kind != ValueKind::kWhole && d.kind != ValueKind::kAmount) std::abort();  // a tag without a range
    return {d.min, d.max};
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

// "0..255": a range as --help writes it.
std::string RangeText(const std::string& tag) {
    const auto [low, high] = RangeOfTag(tag);
    return std::to_string(low) + ".." + std::to_string(high);
}

// Reads a number in low..high into `out`; false with `error` set otherwise.
bool ReadInRange(const std::string& name, const std::string& value, int32_t low, int32_t high,
                 int32_t& out, std::string& error) {
    std::optional<int32_t> n = ParseInt(value);
    if (!n || *n < low || *n > high) {
        error = name + " needs a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
                ", got '" + value + "'";
        return false;
    }
    out = *n;
    return true;
}

// Reads a number in the range of the setting `tag`.
bool ReadTagged(const std::string& name, const std::string& value, const char* tag, int32_t& out,
                std::string& error) {
    const auto [low, high] = RangeOfTag(tag);
    return ReadInRange(name, value, low, high, out, error);
}

template <bool ConvertOptions::*Field, bool kValue>
bool SetSwitch(const ConvertOption&, const std::string&, ConvertOptions& o, std::string&) {
    o.*Field = kValue;
    return true;
}

// A file name, which may not be empty.
template <std::string ConvertOptions::*Field>
bool ReadFileName(const ConvertOption& self, const std::string& value, ConvertOptions& o, std::string& error) {
    if (value.empty()) {
        error = std::string(self.name) + " needs a file name";
        return false;
    }
    o.*Field = value;
    return true;
}

bool ReadTempFolder(const ConvertOption&, const std::string& value, ConvertOptions& o, std::string& error) {
    if (value.empty()) {
        error = "--temp needs a folder";
        return false;
    }
    o.tempDir = value;  // exactly as typed: "tb " is not "tb"
    return true;
}

// A whole number in the range of its setting.
template <int32_t ConvertOptions::*Field>
bool ReadWhole(const ConvertOption& self, const std::string& value, ConvertOptions& o, std::string& error) {
    return ReadTagged(self.name, value, self.tag, o.*Field, error);
}

// An amount of the parameter file, in its range.
template <std::optional<int32_t> ConvertOptions::*Field>
bool ReadAmountOption(const ConvertOption& self, const std::string& value, ConvertOptions& o,
                      std::string& error) {
    int32_t n = 0;
    if (!ReadTagged(self.name, value, self.tag, n, error)) return false;
    o.*Field = n;
    return true;
}

// One lens value in degrees, checked on its own.
template <double LensSettings::*Lens, std::optional<double> ConvertOptions::*Field>
bool ReadLensValue(const ConvertOption& self, const std::string& value, ConvertOptions& o, std::string& error) {
    const std::string name = self.name;
    const std::optional<double> v = ParseDecimal(value);
    if (!v) {
        error = name + " needs a number of degrees, got '" + value + "'";
        return false;
    }
    LensSettings probe;
    probe.*Lens = *v;
    const std::string problem = LensProblem(probe);
    if (!problem.empty()) {
        error = name + ": " + problem;
        return false;
    }
    o.*Field = *v;
    return true;
}

// A lens or camera of the lens database, named as "MAKER MODEL".
template <std::optional<std::string> ConvertOptions::*Field>
bool ReadDatabaseName(const ConvertOption& self, const std::string& value, ConvertOptions& o, std::string& error) {
    if (value.empty()) {
        error = std::string(self.name) + " needs a maker and model, as \"MAKER MODEL\"";
        return false;
    }
    o.*Field = value;
    return true;
}

// One number of a calibrated profile, within low..high.
template <std::optional<double> ConvertOptions::*Field, double kLow, double kHigh>
bool ReadProfileNumber(const ConvertOption& self, const std::string& value, ConvertOptions& o, std::string& error) {
    const std::optional<double> v = ParseDecimal(value);
    if (!v || *v < kLow || *v > kHigh) {
        error = std::string(self.name) + " needs a number from " + FormatNumber(kLow) + " to " + FormatNumber(kHigh) +
                ", got '" + value + "'";
        return false;
    }
    o.*Field = *v;
    return true;
}

bool ReadListLenses(const ConvertOption&, const std::string& value, ConvertOptions& o, std::string&) {
    o.listLenses = value;
    return true;
}

bool ReadCut(const ConvertOption&, const std::string& value, ConvertOptions& o, std::string& error) {
    std::vector<std::string> parts = SplitCommas(value);
    std::array<int32_t, 4> cut{};
    bool good = parts.size() == 4;
    for (size_t i = 0; good && i < 4; ++i) {
        std::optional<int32_t> v = ParseInt(parts[i]);
        // Keeps the geometry's arithmetic in range.
        good = v && *v >= -kCutLimit && *v <= kCutLimit;
        if (good) cut[i] = *v;
    }
    if (!good) {
        error = "--cut needs four whole numbers XL1,YL1,XL2,YL2, got '" + value + "'";
        return false;
    }
    o.cut = cut;
    return true;
}

bool ReadCircle(const ConvertOption&, const std::string& value, ConvertOptions& o, std::string& error) {
    // The job file's form, with the command line's numbers ("+7", no exponent).
    const ValueForm& form = kCircleForm;
    std::vector<std::string> parts = SplitCommas(value);
    double v[3] = {0, 0, 0};
    bool good = parts.size() == form.parts;
    for (size_t i = 0; good && i < form.parts; ++i) {
        std::optional<double> d = ParseDecimal(parts[i]);
        good = d && *d >= form.min && *d <= form.max;
        if (good) v[i] = *d;
    }
    if (!good || !(v[2] > 0.0)) {
        error = std::string("--circle needs ") + form.needs + ", got '" + value + "'";
        return false;
    }
    o.circle = LensCircle{v[0], v[1], v[2]};
    return true;
}

bool ReadSharpen(const ConvertOption&, const std::string& value, ConvertOptions& o, std::string& error) {
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
    int32_t n = 0;
    if (!ReadTagged("--sharpen amount", parts[0], "SHARPEN", n, error)) return false;
    o.sharpen = n;
    o.sharpenOff = false;
    if (parts.size() == 2) {
        if (!ReadTagged("--sharpen radius", parts[1], "RADIUS", n, error)) return false;
        o.radius = n;
    }
    return true;
}

bool ReadLensModel(const ConvertOption&, const std::string& value, ConvertOptions& o, std::string& error) {
    o.lensModel = LensModelFromName(value);
    if (!o.lensModel) {
        error = "--lens needs equidistant, equisolid, stereographic or orthographic, got '" + value + "'";
        return false;
    }
    return true;
}

bool ReadStills(const ConvertOption&, const std::string& value, ConvertOptions& o, std::string& error) {
    if (value == "jpg" || value == "jpeg") {
        o.tempFormat = StillFormat::Jpeg;
    } else if (value == "bmp") {
        o.tempFormat = StillFormat::Bmp;
    } else {
        error = "--stills needs jpg or bmp, got '" + value + "'";
        return false;
    }
    return true;
}

bool ReadPart(const ConvertOption&, const std::string& value, ConvertOptions& o, std::string& error) {
    const size_t slash = value.find('/');
    const std::optional<int32_t> index = ParseInt(value.substr(0, slash));
    const std::optional<int32_t> count = slash == std::string::npos ? std::nullopt : ParseInt(value.substr(slash + 1));
    if (!index || !count || *count < 1 || *count > kMaxParts || *index < 1 || *index > *count) {
        error = "--part needs I/N with 1 <= I <= N <= " + std::to_string(kMaxParts) + ", got '" + value + "'";
        return false;
    }
    o.partIndex = *index;
    o.partCount = *count;
    return true;
}

// A stereo option with its value (cli/stereo_options).
bool ReadStereoValue(const ConvertOption& self, const std::string& value, ConvertOptions& o, std::string& error) {
    return ApplyStereoOption(self.name, value, o.stereo, error);
}

// --right-offset N: a whole number of frames.
bool ReadRightOffset(const ConvertOption&, const std::string& value, ConvertOptions& o, std::string& error) {
    int64_t n = 0;
    const char* end = value.data() + value.size();
    const auto [ptr, ec] = std::from_chars(value.data(), end, n);
    if (value.empty() || ec != std::errc() || ptr != end || n < -1000000 || n > 1000000) {
        error = "--right-offset needs a whole number of frames, got '" + value + "'";
        return false;
    }
    o.rightOffset = static_cast<int32_t>(n);
    return true;
}

// A stereo switch (--swap-eyes, --align-eyes, --no-align-eyes).
bool SetStereoSwitch(const ConvertOption& self, const std::string&, ConvertOptions& o, std::string&) {
    return ApplyStereoSwitch(self.name, o.stereo);
}

using enum OptionSection;
using O = ConvertOptions;

// A new option is one line here: its name, value, section, help and reader;
// an option that sets a parameter names its tag and takes its name, value
// and help from the parameter's descriptor (app/parameter_table.h).
const ConvertOption kTable[] = {
    {.name = "--part", .value = "I/N", .section = kParts,
     .help = "convert only part I of N: the frames whose times fall\n"
             "in the I-th of N equal spans of INPUT's timeline,\n"
             "with the settings of a whole run, into PARTFILE\n"
             "(video only, starting with a key frame). Over\n"
             "I = 1..N every frame is converted exactly once.\n"
             "PARTFILE .mkv holds the H.264 video of .mp4 .m4v\n"
             ".mov .flv .avi outputs; for .webm .ogg .ogv outputs\n"
             "give the parts the output's extension",
     .apply = ReadPart},
    {.name = "--join", .section = kParts,
     .help = "INPUT OUTPUT PART...: join the parts of INPUT, in\n"
             "order, into OUTPUT without re-encoding the picture,\n"
             "with INPUT's sound for the whole length; checked and\n"
             "marked like any output. A missing, damaged or\n"
             "mismatched part (size, rate, codec, settings, order)\n"
             "is refused, naming the part",
     .apply = SetSwitch<&O::join, true>},
    {.name = "--save-job", .value = "JOBFILE", .section = kJobs,
     .help = "write the job these options make (parameter file and\n"
             "options resolved, the lens circle found, the movie's\n"
             "facts and the outputs) into JOBFILE, and convert\n"
             "nothing",
     .apply = ReadFileName<&O::saveJobFile>},
    {.name = "--job", .value = "JOBFILE", .section = kJobs,
     .help = "run the job of JOBFILE: no parameter file is read and\n"
             "no other setting may be given; with --part I/N\n"
             "PARTFILE one part of it, with --join PART... the\n"
             "parts joined into its first output. A damaged job\n"
             "file is refused naming its line (exit status 2), a\n"
             "movie that changed since the job was made too (3)",
     .apply = ReadFileName<&O::jobFile>},
    {.name = "--params", .value = "FILE", .help = "parameter file (default: Tessaly.ini, see Files below)",
     .apply = ReadFileName<&O::paramsFile>},
    {.name = "--cut", .value = "XL1,YL1,XL2,YL2", .help = "cut rectangle in 600x600 preview units", .apply = ReadCut},
    {.apply = ReadCircle, .tag = "CIRCLE"},
    {.apply = ReadSharpen, .tag = "SHARPEN"},
    {.apply = ReadAmountOption<&O::brightness>, .tag = "BRIGHTNESS"},
    {.apply = ReadAmountOption<&O::contrast>, .tag = "CONTRAST"},
    {.apply = ReadAmountOption<&O::noise>, .tag = "NOISE"},
    {.apply = ReadAmountOption<&O::cpu>, .tag = "CPU"},
    {.apply = SetSwitch<&O::flip, true>, .tag = "FLIP"},
    {.apply = SetSwitch<&O::aspect, true>, .tag = "ASPECT"},
    {.apply = ReadLensModel, .tag = "LENS"},
    {.apply = ReadLensValue<&LensSettings::fov, &O::fov>, .tag = "LENS_FOV"},
    {.apply = ReadLensValue<&LensSettings::yaw, &O::yaw>, .tag = "YAW"},
    {.apply = ReadLensValue<&LensSettings::pitch, &O::pitch>, .tag = "PITCH"},
    {.apply = ReadLensValue<&LensSettings::roll, &O::roll>, .tag = "ROLL"},
    {.apply = ReadDatabaseName<&O::lensProfile>, .tag = "LENS_PROFILE"},
    {.name = "--camera", .value = "\"MAKER MODEL\"", .help = "the camera, for its crop factor; or",
     .apply = ReadDatabaseName<&O::camera>, .tag = "LENS_PROFILE"},
    {.name = "--crop-factor", .value = "F", .help = "the sensor's crop factor (default: the calibration's)",
     .apply = ReadProfileNumber<&O::cropFactor, 0.1, 20.0>, .tag = "LENS_PROFILE"},
    {.name = "--focal", .value = "MM", .help = "the focal length (zooms; default: the shortest)",
     .apply = ReadProfileNumber<&O::focal, 0.5, 1000.0>, .tag = "LENS_PROFILE"},
    {.name = "--aperture", .value = "F", .help = "the f-number, for the vignetting (default: widest)",
     .apply = ReadProfileNumber<&O::aperture, 0.5, 64.0>, .tag = "LENS_PROFILE"},
    {.apply = ReadFileName<&O::lensFile>, .tag = "LENS_FILE"},
    {.name = "--list-lenses", .value = "[WORD]",
     .help = "list the database's lenses matching WORD, fisheyes\n"
             "first with their projection, and stop",
     .apply = ReadListLenses, .optionalValue = true},
    {.apply = ReadStills, .tag = "STILLS"},
    {.apply = ReadWhole<&O::quality>, .tag = "QUALITY"},
    {.apply = ReadWhole<&O::resize>, .tag = "RESIZE"},
    {.apply = ReadTempFolder, .tag = "TEMP"},
    {.apply = ReadWhole<&O::encoderStallSeconds>, .tag = "ENCODER_STALL"},
    {.apply = SetSwitch<&O::keepStills, true>, .tag = "KEEP_STILLS"},
    {.apply = SetSwitch<&O::vrMetadata, false>, .tag = "VR_METADATA"},
    {.apply = SetSwitch<&O::strict, true>, .tag = "STRICT"},
    {.name = "--check-options", .value = "OPTIONS... INPUT OUTPUT",
     .help = "(first) check a command line as a\n"
             "run would, up to its first frame, and convert nothing"},
    {.name = "--stereo", .value = "sbs|tb|pair", .section = kStereo,
     .help = "INPUT holds two eyes: side by side (left eye on the\n"
             "left) or top-bottom (left eye on top). Each eye's\n"
             "lens circle is found in its half and cut on its own;\n"
             "lens, field of view and angles are shared. pair: two\n"
             "movies, one camera each (LEFT RIGHT OUTPUT), synchronised\n"
             "by their sound; the output has the left movie's sound\n"
             "and ends with the shorter movie",
     .apply = ReadStereoValue},
    {.name = "--right-offset", .value = "FRAMES", .section = kStereo,
     .help = "(--stereo pair) the right movie's frame that goes with\n"
             "the left's first, in place of the one the sound shows",
     .apply = ReadRightOffset},
    {.name = "--swap-eyes", .section = kStereo,
     .help = "the first half holds the right eye (a dual-fisheye\n"
             "lens whose picture lands the left eye on the right)",
     .apply = SetStereoSwitch},
    {.name = "--stereo-out", .value = "sbs|tb", .section = kStereo,
     .help = "the output's layout: each eye a 180x180 square, side\n"
             "by side (2:1, the default) or top-bottom (1:2),\n"
             "marked as stereo 180-degree video",
     .apply = ReadStereoValue},
    {.name = "--align-eyes", .section = kStereo,
     .help = "before the run, measure how far the converted eyes\n"
             "disagree vertically (a tilt and a roll between them,\n"
             "along the horizon) and take it out by each eye's\n"
             "pitch and roll, half each (the default)",
     .apply = SetStereoSwitch},
    {.name = "--no-align-eyes", .section = kStereo, .help = "keep the eyes' angles exactly as given",
     .apply = SetStereoSwitch},
    {.name = "--left-yaw", .value = "DEGREES", .section = kStereo, .help = "the left eye's own yaw",
     .apply = ReadStereoValue},
    {.name = "--left-pitch", .value = "DEGREES", .section = kStereo, .help = "the left eye's own pitch",
     .apply = ReadStereoValue},
    {.name = "--left-roll", .value = "DEGREES", .section = kStereo, .help = "the left eye's own roll",
     .apply = ReadStereoValue},
    {.name = "--right-yaw", .value = "DEGREES", .section = kStereo, .help = "the right eye's own yaw",
     .apply = ReadStereoValue},
    {.name = "--right-pitch", .value = "DEGREES", .section = kStereo, .help = "the right eye's own pitch",
     .apply = ReadStereoValue},
    {.name = "--right-roll", .value = "DEGREES", .section = kStereo,
     .help = "the right eye's own roll; each in place of the\n"
             "shared angle, -180..180",
     .apply = ReadStereoValue},
    {.name = "--help", .help = "show this text", .apply = SetSwitch<&O::help, true>},
    {.name = "--version", .help = "show the version", .apply = SetSwitch<&O::version, true>},
};

// The help text's column.
constexpr size_t kHelpColumn = 25;

// `text` with "{range}" as the option's range and "{TAG}" as that parameter's.
std::string WithRanges(const ConvertOption& option, std::string text) {
    for (size_t open = text.find('{'); open != std::string::npos; open = text.find('{', open)) {
        const size_t close = text.find('}', open);
        const std::string name = text.substr(open + 1, close - open - 1);
        const std::string range = RangeText(name == "range" ? option.tag : name);
        text.replace(open, close - open + 1, range);
        open += range.size();
    }
    return text;
}

// One option's lines of --help: the name and value, the text from the help column.
std::string OptionUsage(const ConvertOption& option) {
    std::string head = std::string("  ") + option.name;
    if (option.value != nullptr) head += " " + WithRanges(option, option.value);
    head += head.size() + 1 < kHelpColumn ? std::string(kHelpColumn - head.size(), ' ') : std::string(2, ' ');
    std::string text = WithRanges(option, option.help);
    const std::string indent = "\n" + std::string(kHelpColumn, ' ');
    for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + indent.size())) {
        text.replace(at, 1, indent);
    }
    return head + text + "\n";
}

// The table with each parameter's own option filled from its descriptor.
std::vector<ConvertOption> FilledTable() {
    std::vector<ConvertOption> options(std::begin(kTable), std::end(kTable));
    for (ConvertOption& option : options) {
        if (option.name != nullptr) continue;
        const ParameterDescriptor& d = Parameter(option.tag);
        option.name = d.flag;
        option.value = d.valueName;
        option.help = d.help;
    }
    return options;
}

}  // namespace

std::span<const ConvertOption> ConvertOptionTable() {
    static const std::vector<ConvertOption> options = FilledTable();
    return options;
}

const ConvertOption* FindConvertOption(const std::string& name) {
    for (const ConvertOption& option : ConvertOptionTable()) {
        if (name == option.name) return &option;
    }
    return nullptr;
}

std::string OptionSectionUsage(OptionSection section) {
    std::string usage;
    for (const ConvertOption& option : ConvertOptionTable()) {
        if (option.section == section) usage += OptionUsage(option);
    }
    return usage;
}

}  // namespace tessaly
