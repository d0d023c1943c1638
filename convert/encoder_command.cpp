#include "convert/encoder_command.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <system_error>

#include "app/format.h"
#include "video/encoder_program.h"

namespace tessaly {
namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// One piece of the command: its text exactly as the log shows it and the
// arguments it contributes to the argument vector.
struct Element {
    std::string text;
    std::vector<std::string> args;
};

// Splits a text of options and values on blanks; used only for the fixed
// literals, never for paths.
std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    for (char c : text) {
        if (c == ' ') {
            if (!word.empty()) words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) words.push_back(word);
    return words;
}

Element Literal(std::string text) {
    Element e;
    e.args = Words(text);
    e.text = std::move(text);
    return e;
}

// The containers the encoder writes. The stills are RGB, from which the
// encoder would choose 4:4:4 chroma that most players cannot decode, hence
// "-pix_fmt yuv420p" in every row. The encoder no longer knows "-sameq", so
// the default rows start at "-qscale". ".m4v" goes into the MPEG-4 container
// (the "m4v" format is a raw video stream without sound), and WebM gets
// Vorbis sound because Opus does not take the 44100 Hz the audio input asks
// for. ".mpg" and ".mpeg" are MPEG-2 program streams ("vob" is the encoder's
// MPEG-2 pack layout) of MPEG-2 video without B-frames, flagged as such
// ("low_delay"), so that the reader gives every frame its own time stamp,
// and MPEG audio layer II; their frame rate is added per movie (see
// ChooseMpegRate).
//
// Every row honours the 21 levels, level 1 largest and 21 smallest, through
// its encoder's own quality control: "-qscale" does nothing for libx264 and
// libvpx and runs the wrong way for Theora (higher -q:v is better there).
enum class LevelScale {
    kCrfFrom11,      // -crf q + 10: 11 .. 31 (libx264)
    kCrfFrom12By2,   // -crf 10 + 2q: 12 .. 52 of libvpx's 0..63, with -b:v 0
    kTheoraFrom10,   // -q:v 10 * (21 - q) / 20: 10 .. 0
    kQscaleFrom2,    // -q:v q + 1: 2 .. 22 of MPEG-2's 1..31 quantizer scale
};

struct ContainerRow {
    const char* ext;
    const char* codec;
    const char* defaultQuality;  // q = 0
    const char* format;          // the " -f ... " that ends a level's quality
    LevelScale scale;
};

constexpr ContainerRow kRows[] = {
    {".flv", " -vcodec libx264 -acodec mp3 -pix_fmt yuv420p ", " -crf 22 -qscale 15 -f flv ",
     " -f flv ", LevelScale::kCrfFrom11},
    {".mov", " -vcodec libx264 -acodec mp3 -pix_fmt yuv420p ", " -crf 22 -qscale 15 -f mov ",
     " -f mov ", LevelScale::kCrfFrom11},
    {".avi", " -vcodec libx264 -acodec pcm_s16le -pix_fmt yuv420p ",
     " -crf 22 -qscale 15 -f avi ", " -f avi ", LevelScale::kCrfFrom11},
    {".mp4", " -vcodec libx264 -pix_fmt yuv420p ", " -crf 22 -f mp4 ", " -f mp4 ",
     LevelScale::kCrfFrom11},
    {".m4v", " -vcodec libx264 -pix_fmt yuv420p ", " -crf 22 -f mp4 ", " -f mp4 ",
     LevelScale::kCrfFrom11},
    {".ogg", " -vcodec libtheora -pix_fmt yuv420p ", " -q:v 6 -f ogg ", " -f ogg ",
     LevelScale::kTheoraFrom10},
    {".ogv", " -vcodec libtheora -pix_fmt yuv420p ", " -q:v 6 -f ogg ", " -f ogg ",
     LevelScale::kTheoraFrom10},
    {".webm", " -vcodec libvpx-vp9 -acodec libvorbis -pix_fmt yuv420p ",
     " -crf 32 -b:v 0 -f webm ", " -f webm ", LevelScale::kCrfFrom12By2},
    {".mpg", " -vcodec mpeg2video -acodec mp2 -pix_fmt yuv420p -flags +low_delay ",
     " -q:v 4 -f vob ", " -f vob ", LevelScale::kQscaleFrom2},
    {".mpeg", " -vcodec mpeg2video -acodec mp2 -pix_fmt yuv420p -flags +low_delay ",
     " -q:v 4 -f vob ", " -f vob ", LevelScale::kQscaleFrom2},
};

// A part of a movie in Matroska: the video of the .mp4 row, in a container
// that takes any codec and a comment, for parts joined into .mp4, .m4v,
// .mov, .flv or .avi.
constexpr ContainerRow kPartMatroskaRow = {".mkv", " -vcodec libx264 -pix_fmt yuv420p ", " -crf 22 -f matroska ",
                                           " -f matroska ", LevelScale::kCrfFrom11};

// The frame rates MPEG-2 video defines. The encoder would write any other
// rate as one of these times the sequence extension's fraction, which is
// outside MPEG-2's profiles; players that ignore it show the movie too fast.
struct StandardRate {
    int32_t num;
    int32_t den;
    const char* text;
};
constexpr StandardRate kMpegRates[] = {
    {24000, 1001, "24000/1001"}, {24, 1, "24"}, {25, 1, "25"},         {30000, 1001, "30000/1001"},
    {30, 1, "30"},               {50, 1, "50"}, {60000, 1001, "60000/1001"}, {60, 1, "60"},
};
// Rates this close count as equal: the still path hands the encoder the rate
// rounded to hundredths ("29.97" for 30000/1001).
constexpr double kRateTolerance = 0.001;

std::string LevelQuality(const ContainerRow& row, int32_t q) {
    switch (row.scale) {
        case LevelScale::kCrfFrom11:
            return " -crf " + std::to_string(q + 10) + row.format;
        case LevelScale::kCrfFrom12By2:
            return " -crf " + std::to_string(10 + 2 * q) + " -b:v 0" + row.format;
        case LevelScale::kTheoraFrom10:
            return " -q:v " + FormatNumber(10.0 * (21 - q) / 20.0) + row.format;
        case LevelScale::kQscaleFrom2:
            return " -q:v " + std::to_string(q + 1) + row.format;
    }
    return row.format;
}

// A path handed to the encoder is a file whatever its text: "file:" keeps
// "-x.mp4" from being read as an option and "pipe:x" or "udp:x" as a
// protocol.
std::string FileUrl(const std::string& path) { return "file:" + path; }

const ContainerRow* FindRow(const std::string& ext) {
    for (const ContainerRow& row : kRows) {
        if (ext == row.ext) return &row;
    }
    return nullptr;
}

double RateValue(const StandardRate& rate) { return static_cast<double>(rate.num) / rate.den; }

// The standard rate that shows each frame the fewest whole number of times,
// the closest one first (12 fps goes to 24, not to 23.976); null if none.
const StandardRate* EvenRepeatRate(double sourceRate) {
    const StandardRate* best = nullptr;
    double bestTimes = 0, bestError = 0;
    for (const StandardRate& rate : kMpegRates) {
        const double times = std::round(RateValue(rate) / sourceRate);
        const double error = std::fabs(times * sourceRate - RateValue(rate)) / RateValue(rate);
        if (times < 1 || error > kRateTolerance) continue;
        if (best == nullptr || times < bestTimes || (times == bestTimes && error < bestError)) {
            best = &rate;
            bestTimes = times;
            bestError = error;
        }
    }
    return best;
}

// The row's codec element, with the MPEG rows' output rate in front.
std::string CodecText(const ContainerRow& row, const MpegRate& rate) {
    if (!IsMpegExtension(row.ext)) return row.codec;
    return " -r " + rate.text + row.codec;
}

// The picture of the first input and, with sound, the first sound track of
// the second as stereo at 44,100 Hz; a one-channel sound goes unchanged on
// both channels (the encoder's own spreading would lower it by 3 dB).
Element SoundMapping(bool sound, bool mono) {
    if (!sound) return Literal(" -map 0:v:0");
    Element e = Literal(" -map 0:v:0 -map 1:a:0");
    if (mono) {
        e.text += std::string(" -af ") + kMonoOnBothChannels;
        e.args.insert(e.args.end(), {"-af", kMonoOnBothChannels});
    }
    const Element rest = Literal(" -ac 2 -ar 44100");
    e.text += rest.text;
    e.args.insert(e.args.end(), rest.args.begin(), rest.args.end());
    return e;
}

}  // namespace

int32_t ResizedDimension(int32_t size, int32_t resizeIndex) {
    static constexpr float kFactors[] = {1.0f, 0.9f, 0.8f, 0.7f, 0.6f, 0.5f};
    if (resizeIndex < 1 || resizeIndex > 5) return size;
    // The factor keeps its single-precision value; product and division are
    // exact in double, so 960 at 90 % gives 53.99999 sixteens, truncated.
    double sixteens = static_cast<double>(kFactors[resizeIndex]) * size / 16.0;
    return static_cast<int32_t>(16 * std::trunc(sixteens));
}

std::string EncoderRate(MediaTime timePerFrame) {
    if (timePerFrame.count() == 0) return "30";
    return FormatMask(1.0e7 / static_cast<double>(timePerFrame.count()), "00.00");
}

bool EncoderRateUsable(MediaTime timePerFrame) {
    if (timePerFrame.count() == 0) return true;
    if (timePerFrame.count() < 0) return false;
    return RoundHalfEven(1.0e9 / static_cast<double>(timePerFrame.count())) >= 1;  // at least "00.01"
}

std::string EncoderDuration(double seconds, bool microseconds) {
    const int64_t unit = microseconds ? 1000000 : 1000;
    const int64_t ticks = RoundHalfEvenToInt(seconds * static_cast<double>(unit));
    const int64_t whole = ticks / unit;
    char text[48];
    std::snprintf(text, sizeof text, microseconds ? "%02lld:%02lld:%02lld.%06lld" : "%02lld:%02lld:%02lld.%03lld",
                  static_cast<long long>(whole / 3600), static_cast<long long>(whole / 60 % 60),
                  static_cast<long long>(whole % 60), static_cast<long long>(ticks % unit));
    return text;
}

std::string TempWavPath(const std::string& tempFolder) { return tempFolder + "/temp.wav"; }

bool HasUsableWav(const std::string& tempFolder) {
    std::error_code ec;
    std::string wav = TempWavPath(tempFolder);
    if (!std::filesystem::is_regular_file(wav, ec)) return false;
    auto size = std::filesystem::file_size(wav, ec);
    return !ec && size > 0;
}

std::string StillPattern(const std::string& tempFolder, StillFormat tempFormat) {
    // Any format value but 1 writes JPEG stills, so only 1 reads BMP ones.
    // A "%" of the folder is a literal one for the encoder's pattern reader.
    std::string folder;
    for (char c : tempFolder) {
        folder += c;
        if (c == '%') folder += '%';
    }
    return folder + (tempFormat == StillFormat::Bmp ? "/mono%06d.bmp" : "/mono%06d.jpg");
}

EncoderCommand BuildEncoderCommand(const EncoderJob& job) {
    EncoderCommand command;
    // Paths are used exactly as given: the one that was checked is the one
    // that is written.
    command.videoExt = OutputExtension(job.outputPath);
    const ContainerRow* row = FindRow(command.videoExt);
    if (row == nullptr) return command;
    command.known = true;
    const MpegRate mpegRate = ChooseMpegRate(StillInputRate(job.timePerFrame));
    if (IsMpegExtension(row->ext) && !mpegRate.usable) {
        command.problem = mpegRate.problem;
        return command;
    }

    Element exe{Quoted(job.encoderProgram), {job.encoderProgram}};

    const std::string fps = EncoderRate(job.timePerFrame);
    Element rate{" -r " + fps + " ", {"-r", fps}};

    Element size;
    if (job.resizeIndex >= 1 && job.resizeIndex <= 5) {
        std::string wh = std::to_string(ResizedDimension(job.outW, job.resizeIndex)) + "x" +
                         std::to_string(ResizedDimension(job.outH, job.resizeIndex));
        size = {" -s " + wh + " ", {"-s", wh}};
    }

    // The limit keeps the fraction of the last second (milliseconds), so no
    // frame and no sound of the movie is cut; without a known duration there
    // is no limit at all.
    Element duration = size;
    if (job.durationSeconds > 0) {
        // Above 1000 frames a second a millisecond holds several frames,
        // which the encoder would add by repeating the last one.
        std::string clock = EncoderDuration(job.durationSeconds, StillInputRate(job.timePerFrame) > 1000);
        duration = {" -t " + clock + size.text, {"-t", clock}};
        duration.args.insert(duration.args.end(), size.args.begin(), size.args.end());
    }

    Element audio;
    if (job.hasAudio) {
        std::string wav = FileUrl(TempWavPath(job.tempFolder));
        audio = {"-i " + Quoted(wav) + " -ac 2 " + " -ar 44100 ",
                 {"-i", wav, "-ac", "2", "-ar", "44100"}};
    } else {
        audio = Literal(" ");
    }

    std::string pattern = FileUrl(StillPattern(job.tempFolder, job.tempFormat));
    Element stills{"-i " + Quoted(pattern), {"-i", pattern}};

    Element codec = Literal(CodecText(*row, mpegRate));
    Element quality = Literal(job.quality <= 0 ? std::string(row->defaultQuality)
                                               : LevelQuality(*row, job.quality));

    std::string output = FileUrl(job.writePath.empty() ? job.outputPath : job.writePath);
    Element target{" -y " + Quoted(output), {"-y", output}};

    // exe + " " + rate + still input + " " + audio + codec + duration +
    // quality + target, with nothing else between them.
    Element blank = Literal(" ");
    for (const Element* e : {&exe, &blank, &rate, &stills, &blank, &audio, &codec, &duration,
                             &quality, &target}) {
        command.text += e->text;
        command.argv.insert(command.argv.end(), e->args.begin(), e->args.end());
    }
    return command;
}

EncoderCommand BuildStreamCommand(const StreamJob& job) {
    EncoderCommand command;
    std::vector<const ContainerRow*> rows;
    for (const std::string& output : job.outputs) {
        const ContainerRow* row = FindRow(OutputExtension(output));
        if (row == nullptr && !job.partTag.empty() && OutputExtension(output) == kPartMatroskaRow.ext) {
            row = &kPartMatroskaRow;
        }
        if (row == nullptr) {
            command.videoExt = OutputExtension(output);
            return command;
        }
        rows.push_back(row);
    }
    if (rows.empty()) return command;
    command.known = true;
    command.videoExt = OutputExtension(job.outputs.front());
    const MpegRate mpegRate =
        ChooseMpegRate(job.rateDen > 0 ? static_cast<double>(job.rateNum) / job.rateDen : 0);
    for (const ContainerRow* row : rows) {
        if (IsMpegExtension(row->ext) && !mpegRate.usable) {
            command.problem = mpegRate.problem;
            return command;
        }
    }

    const std::string size = std::to_string(job.width) + "x" + std::to_string(job.height);
    const std::string rate = std::to_string(job.rateNum) + "/" + std::to_string(job.rateDen);
    std::vector<Element> elements;
    elements.push_back({Quoted(job.encoderProgram), {job.encoderProgram}});
    elements.push_back(Literal(" -f rawvideo -pix_fmt bgr0 -s " + size + " -framerate " + rate +
                               " -i pipe:0"));
    if (job.sound) {
        // The sound is read for the movie's stated length; the picture runs
        // as long as what was converted, which a damaged movie's stated
        // length may not match.
        if (job.durationSeconds > 0) {
            const std::string clock = EncoderDuration(job.durationSeconds);
            elements.push_back({" -t " + clock, {"-t", clock}});
        }
        const std::string source = FileUrl(job.sourcePath);
        elements.push_back({" -i " + Quoted(source), {"-i", source}});
    }
    for (size_t i = 0; i < rows.size(); ++i) {
        const ContainerRow& row = *rows[i];
        elements.push_back(SoundMapping(job.sound, job.monoSound));
        // Every row keeps the source's own rate; the MPEG rows name the
        // standard rate the frames go into.
        elements.push_back(Literal(CodecText(row, mpegRate)));
        if (job.resizeIndex >= 1 && job.resizeIndex <= 5) {
            const std::string wh = std::to_string(ResizedDimension(job.width, job.resizeIndex)) + "x" +
                                   std::to_string(ResizedDimension(job.height, job.resizeIndex));
            elements.push_back({" -s " + wh + " ", {"-s", wh}});
        }
        if (!job.partTag.empty()) {
            const std::string comment = "comment=" + job.partTag;
            elements.push_back({" -metadata " + Quoted(comment), {"-metadata", comment}});
        }
        elements.push_back(Literal(job.quality <= 0 ? std::string(row.defaultQuality)
                                                    : LevelQuality(row, job.quality)));
        const std::string output =
            FileUrl(i < job.writePaths.size() ? job.writePaths[i] : job.outputs[i]);
        elements.push_back({" -y " + Quoted(output), {"-y", output}});
    }
    for (const Element& e : elements) {
        command.text += e.text;
        command.argv.insert(command.argv.end(), e.args.begin(), e.args.end());
    }
    return command;
}

std::string JoinableVideoCodec(const std::string& videoExt) {
    const ContainerRow* row = videoExt == kPartMatroskaRow.ext ? &kPartMatroskaRow : FindRow(videoExt);
    if (row == nullptr || IsMpegExtension(row->ext)) return {};
    const std::string codec = row->codec;
    if (codec.find("libx264") != std::string::npos) return "h264";
    if (codec.find("libvpx-vp9") != std::string::npos) return "vp9";
    if (codec.find("libtheora") != std::string::npos) return "theora";
    return {};
}

EncoderCommand BuildJoinCommand(const JoinJob& job) {
    EncoderCommand command;
    command.videoExt = OutputExtension(job.outputPath);
    const ContainerRow* row = FindRow(command.videoExt);
    if (row == nullptr) return command;
    command.known = true;
    if (IsMpegExtension(row->ext)) {
        command.problem = "MPEG-2 program streams (" + command.videoExt +
                          ") cannot be joined from parts without re-encoding (another container, such as .mp4)";
        return command;
    }
    // The row's codec text with the picture copied: every word but the
    // video codec's and the pixel format's.
    std::vector<std::string> codecWords = Words(row->codec);
    std::string codecText = " -vcodec copy";
    std::vector<std::string> codecArgs{"-vcodec", "copy"};
    for (size_t i = 0; i + 1 < codecWords.size(); i += 2) {
        if (codecWords[i] == "-vcodec" || codecWords[i] == "-pix_fmt") continue;
        codecText += " " + codecWords[i] + " " + codecWords[i + 1];
        codecArgs.push_back(codecWords[i]);
        codecArgs.push_back(codecWords[i + 1]);
    }
    std::vector<Element> elements;
    elements.push_back({Quoted(job.encoderProgram), {job.encoderProgram}});
    const std::string list = FileUrl(job.listPath);
    elements.push_back({" -f concat -safe 0 -i " + Quoted(list), {"-f", "concat", "-safe", "0", "-i", list}});
    if (job.sound) {
        const std::string source = FileUrl(job.sourcePath);
        elements.push_back({" -i " + Quoted(source), {"-i", source}});
    }
    elements.push_back(SoundMapping(job.sound, job.monoSound));
    elements.push_back({codecText + " ", codecArgs});
    if (job.durationSeconds > 0) {
        const std::string clock = EncoderDuration(job.durationSeconds);
        elements.push_back({" -t " + clock, {"-t", clock}});
    }
    elements.push_back(Literal(job.quality <= 0 ? std::string(row->defaultQuality) : LevelQuality(*row, job.quality)));
    const std::string output = FileUrl(job.writePath.empty() ? job.outputPath : job.writePath);
    elements.push_back({" -y " + Quoted(output), {"-y", output}});
    for (const Element& e : elements) {
        command.text += e.text;
        command.argv.insert(command.argv.end(), e.args.begin(), e.args.end());
    }
    return command;
}

double EncoderOutputRate(const std::string& videoExt, double sourceRate) {
    const ContainerRow* row = FindRow(videoExt);
    if (row == nullptr) return 0;
    if (IsMpegExtension(videoExt)) return ChooseMpegRate(sourceRate).value;
    return 0.0;  // the stills' own rate
}

double StillInputRate(MediaTime timePerFrame) {
    if (timePerFrame.count() <= 0) return 30;
    // The value of EncoderRate's text: hundredths, halves to even.
    return RoundHalfEven(1.0e9 / static_cast<double>(timePerFrame.count())) / 100.0;
}

MpegRate ChooseMpegRate(double sourceRate) {
    MpegRate chosen;
    if (!(sourceRate > 0)) sourceRate = 30;  // unknown: 30 fps, as for the stills
    const StandardRate* best = EvenRepeatRate(sourceRate);
    // Else the lowest rate above the source's: no frame is lost.
    for (const StandardRate& rate : kMpegRates) {
        if (best == nullptr && RateValue(rate) > sourceRate) best = &rate;
    }
    if (best == nullptr) {
        chosen.problem = "MPEG-2 video takes at most 60 frames per second, the movie has " +
                         FormatMask(sourceRate, "00.00") +
                         " fps (another container, such as .mp4, keeps every frame)";
        return chosen;
    }
    chosen.usable = true;
    chosen.text = best->text;
    chosen.value = RateValue(*best);
    return chosen;
}

bool IsMpegExtension(const std::string& videoExt) {
    return videoExt == ".mpg" || videoExt == ".mpeg";
}

std::string KnownExtensionList() {
    std::string list;
    const size_t count = std::size(kRows);
    for (size_t i = 0; i < count; ++i) {
        list += (i == 0 ? "" : i + 1 == count ? " or " : ", ") + std::string(kRows[i].ext);
    }
    return list;
}

std::string OutputRateProblem(const std::string& outputPath, double sourceRate) {
    if (!IsMpegExtension(OutputExtension(outputPath))) return {};
    return ChooseMpegRate(sourceRate).problem;
}

}  // namespace tessaly
