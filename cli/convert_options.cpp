#include "cli/convert_options.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "app/format.h"
#include "cli/convert_option_table.h"
#include "transform/lens_profile.h"
#include "cli/stereo_options.h"

namespace tessaly {
namespace {

// --job takes only how this machine runs the job: the part and its file, or the join and its parts,
// and the temporary folder. False with `error` set.
bool CheckJobOptions(ConvertOptions& o, const std::vector<std::string>& files, std::string& error) {
    static const char* const kWithJob[] = {"--job", "--part", "--join", "--temp"};
    for (const std::string& name : o.given) {
        if (std::find(std::begin(kWithJob), std::end(kWithJob), name) == std::end(kWithJob)) {
            error = "--job FILE holds the conversion's settings: " + name + " cannot be given with it";
            return false;
        }
    }
    if (o.join && o.partCount > 0) {
        error = "--part and --join cannot be given together";
        return false;
    }
    if (o.join) {
        o.parts = files;
        if (files.empty()) error = "--job FILE --join needs the parts: PART...";
    } else if (o.partCount > 0) {
        o.outputs = files;
        if (files.size() != 1) error = "--job FILE --part I/N writes one part file: give PARTFILE";
    } else if (!files.empty()) {
        error = "--job FILE names the movie and the outputs: " + files[0] + " cannot be given with it";
    }
    return error.empty();
}

// The checks of the options together and the files they name: the input,
// the outputs or the parts. False with `error` set.
bool CheckOptionsAndFiles(ConvertOptions& o, const std::vector<std::string>& files, std::string& error) {
    if (!o.saveJobFile.empty() && (!o.jobFile.empty() || o.join || o.partCount > 0)) {
        error = "--save-job writes the job of a whole conversion: --job, --part and --join cannot be given with it";
        return false;
    }
    if (!o.jobFile.empty()) return CheckJobOptions(o, files, error);
    if (o.circle && o.cut) {
        error = "--circle and --cut both set the cut: give one of them";
        return false;
    }
    error = StereoOptionsProblem(o.stereo, StereoOnlyOptionsGiven(o.stereo), o.cut || o.circle, o.flip, o.join);
    if (error.empty() && o.rightOffset && o.stereo.input != StereoLayout::kPair) {
        error = "--right-offset needs --stereo pair";
    }
    if (!error.empty()) return false;
    // The model and field of view given together must suit each other.
    if (o.lensModel && o.fov) {
        LensSettings lens;
        lens.model = *o.lensModel;
        lens.fov = *o.fov;
        const std::string problem = LensProblem(lens);
        if (!problem.empty()) {
            error = "--lens " + std::string(LensModelName(lens.model)) + " --fov: " + problem;
            return false;
        }
    }
    if (o.join && o.partCount > 0) {
        error = "--part and --join cannot be given together";
        return false;
    }
    if (o.join) {
        if (files.size() < 3) {
            error = "--join needs the source movie, the output and at least one part: IN OUT PART...";
            return false;
        }
        o.input = files[0];
        o.outputs = {files[1]};
        o.parts.assign(files.begin() + 2, files.end());
        for (const std::string& part : o.parts) {
            if (part == o.input || part == files[1]) {
                error = "the part " + part + " is also named as the " +
                        (part == o.input ? "source movie" : "output");
                return false;
            }
        }
        if (files[1] == o.input) {
            error = "the output movie " + files[1] + " is the input movie";
            return false;
        }
        return true;
    }
    const size_t movies = o.stereo.input == StereoLayout::kPair ? 2 : 1;
    if (o.partCount > 0 && files.size() > movies + 1) {
        error = movies == 2 ? "--part writes one part file: give LEFT RIGHT PARTFILE"
                            : "--part writes one part file: give IN PARTFILE";
        return false;
    }
    if (files.size() < movies + 1) {
        error = movies == 2    ? std::string("--stereo pair needs LEFT RIGHT OUTPUT: no ") +
                                  (files.size() < 2 ? "right" : "output") + " movie given"
                : files.empty() ? "no input movie and no output movie given"
                                : "no output movie given";
        return false;
    }
    o.input = files[0];
    if (movies == 2) o.rightInput = files[1];
    o.outputs.assign(files.begin() + static_cast<std::ptrdiff_t>(movies), files.end());
    if (movies == 2 && o.rightInput == o.input) {
        error = "the right movie " + o.rightInput + " is the left movie";
        return false;
    }
    for (const std::string& output : o.outputs) {
        if (output == o.input || output == o.rightInput) {
            error = "the output movie " + output + " is the " + (output == o.input ? "input" : "right") + " movie";
            return false;
        }
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
        o.given.push_back(arg.substr(0, arg.find('=')));
        const size_t equals = arg.find('=');
        const bool inlineValue = equals != std::string::npos;
        const std::string name = arg == "-h" ? "--help" : arg.substr(0, equals);
        const ConvertOption* option = FindConvertOption(name);
        // A switch given a value ("--flip=1") is not an option.
        if (option == nullptr || option->apply == nullptr || (inlineValue && !TakesValue(*option))) {
            result.error = "unknown option " + name;
            return result;
        }
        std::string value;
        if (inlineValue) {
            value = arg.substr(equals + 1);
        } else if (TakesValue(*option)) {
            // An optional value is the next argument when that is no option.
            const bool next = i + 1 < args.size() && !(option->optionalValue && args[i + 1].rfind('-', 0) == 0);
            if (!next && !option->optionalValue) {
                result.error = name + " needs a value";
                return result;
            }
            if (next) value = args[++i];
        }
        if (!option->apply(*option, value, o, result.error)) return result;
    }
    if (o.help || o.version || o.listLenses) {
        result.ok = true;
        return result;
    }
    result.ok = CheckOptionsAndFiles(o, files, result.error);
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
        if (o.lensProfile) s.lens.profile.lens = *o.lensProfile;
        if (o.camera) s.lens.profile.camera = *o.camera;
        if (o.cropFactor) s.lens.profile.cropFactor = *o.cropFactor;
        if (o.focal) s.lens.profile.focal = *o.focal;
        if (o.aperture) s.lens.profile.aperture = *o.aperture;
        if (!o.lensFile.empty()) s.lens.profile.lensFile = o.lensFile;
        if (!o.tempDir.empty()) s.APATH = o.tempDir;
    });
    if (o.flip) app.run.horizontalFlip = true;
    if (o.tempFormat) app.run.tempFormat = *o.tempFormat;
    app.run.resizeChoice = o.resize;
    app.run.markVrOutput = o.vrMetadata;
}

MovieJob JobFromOptions(const ConvertOptions& o, const FisheyeApp& app) {
    // The size choice and the marking are the options' (ApplyConvertOptions).
    MovieJob job = JobFromState(*app.settings, app.run, o.input, o.outputs);
    job.outputs.quality = o.quality;
    // Kept stills without a format named take the program's: resolved here,
    // so the job says which.
    if (o.tempFormat || o.keepStills) job.outputs.stills = app.run.tempFormat.load();
    job.outputs.keepStills = o.keepStills;
    job.run.strict = o.strict;
    job.run.encoderStallSeconds = o.encoderStallSeconds;
    job.run.partIndex = o.partIndex;
    job.run.partCount = o.partCount;
    job.run.join = o.join;
    job.run.parts = o.parts;
    // The eyes as asked for; their windows, cuts and alignment are found
    // for the movie before the job is run or saved.
    job.stereo.settings = o.stereo;
    return job;
}

std::string LensSettingsProblem(const AppSettings& settings) {
    const std::string problem = LensProblem(settings.lens);
    if (!problem.empty()) return "the lens cannot be used: " + problem;
    if (settings.lens.profile.Empty()) return {};
    const LensProfileLookup found = LookUpLensProfile(settings.lens.profile);
    if (found.correction) return {};
    std::string text = "the lens profile cannot be used: " + found.error;
    if (!found.candidates.empty()) text += "; the database has:";
    for (size_t i = 0; i < found.candidates.size() && i < 20; ++i) text += "\n  " + found.candidates[i];
    if (found.candidates.size() > 20) text += "\n  ... (" + std::to_string(found.candidates.size() - 20) + " more)";
    return text;
}

std::string LensProfileLine(const AppSettings& settings) {
    if (settings.lens.profile.Empty()) return {};
    const LensProfileLookup found = LookUpLensProfile(settings.lens.profile);
    return found.correction ? ProfileSummary(*found.correction) : std::string();
}

std::string LensCircleMismatch(const AppSettings& settings, double diameter, int frameW, int frameH) {
    if (settings.lens.profile.Empty()) return {};
    const LensProfileLookup found = LookUpLensProfile(settings.lens.profile);
    return found.correction ? CircleMismatch(*found.correction, settings.lens.fov, diameter, frameW, frameH)
                            : std::string();
}

bool ListLensLines(const ConvertOptions& options, std::vector<std::string>& lines, std::string& error) {
    const std::vector<LensListing> lenses = ListLenses(options.listLenses.value_or(""), options.lensFile, error);
    if (!error.empty()) return false;
    if (lenses.empty()) {
        error = "no lens in the lens database matches '" + options.listLenses.value_or("") + "'";
        return false;
    }
    for (const LensListing& l : lenses) {
        lines.push_back(l.model + " (" + l.projection + ", crop factor " + FormatNumber(std::round(l.cropFactor * 1000.0) / 1000.0) + ")");
    }
    return true;
}

std::string ConvertUsage() {
    return "Usage: tessaly-convert [options] INPUT OUTPUT [MORE OUTPUTS]\n"
           "       tessaly-convert [options] --part I/N INPUT PARTFILE\n"
           "       tessaly-convert [options] --join INPUT OUTPUT PART...\n"
           "       tessaly-convert [options] --save-job JOBFILE INPUT OUTPUT [MORE OUTPUTS]\n"
           "       tessaly-convert [--temp DIR] --job JOBFILE [--part I/N PARTFILE | --join PART...]\n"
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
           "Parts (one movie on many cores or machines):\n" +
           OptionSectionUsage(OptionSection::kParts) +
           "\n"
           "Jobs (one conversion, the same on every machine):\n" +
           OptionSectionUsage(OptionSection::kJobs) +
           "\n"
           "Options:\n" +
           OptionSectionUsage(OptionSection::kOptions) +
           "\n"
           "Stereo (two fisheye circles in one frame):\n" +
           OptionSectionUsage(OptionSection::kStereo);
}

}  // namespace tessaly
