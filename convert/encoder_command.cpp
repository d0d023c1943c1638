#include "convert/encoder_command.h"

#include <cmath>
#include <filesystem>
#include <system_error>

#include "app/format.h"

namespace tessaly {
namespace {

// Longest path the file system takes; a longer output path cannot be written.
constexpr size_t kMaxPathLength = 4096;

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

struct ContainerRow {
    const char* ext;
    const char* codec;
    const char* defaultQuality;  // q = 0
    const char* levelPrefix;     // followed by the level number
    const char* levelSuffix;
    int levelOffset;             // added to q
};

// The containers the encoder writes. The stills are RGB, from which the
// encoder would choose 4:4:4 chroma that most players cannot decode, hence
// "-pix_fmt yuv420p" in every row. The encoder no longer knows "-sameq", so
// the default rows start at "-qscale". ".m4v" goes into the MPEG-4 container
// (the "m4v" format is a raw video stream without sound), and WebM gets
// Vorbis sound because Opus does not take the 44100 Hz the audio input asks
// for.
constexpr ContainerRow kRows[] = {
    {".flv", " -vcodec libx264 -acodec mp3 -pix_fmt yuv420p ", " -crf 22 -qscale 15 -f flv ",
     " -crf ", " -f flv ", 10},
    {".mov", " -vcodec libx264 -acodec mp3 -pix_fmt yuv420p ", " -crf 22 -qscale 15 -f mov ",
     " -crf ", " -f mov ", 10},
    {".avi", " -vcodec libx264 -acodec pcm_s16le -pix_fmt yuv420p ",
     " -crf 22 -qscale 15 -f avi ", " -crf ", " -f avi ", 10},
    {".mp4", " -r 30 -pix_fmt yuv420p ", " -qscale 15 -f mp4 ", " -qscale ", " -f mp4 ", 0},
    {".m4v", " -r 30 -pix_fmt yuv420p ", " -qscale 15 -f mp4 ", " -qscale ", " -f mp4 ", 0},
    {".ogg", " -r 30 -pix_fmt yuv420p ", " -qscale 15 -f ogg ", " -qscale ", " -f ogg ", 0},
    {".ogv", " -r 30 -pix_fmt yuv420p ", " -qscale 15 -f ogg ", " -qscale ", " -f ogg ", 0},
    {".webm", " -r 30 -acodec libvorbis -pix_fmt yuv420p ", " -qscale 15 -f webm ",
     " -qscale ", " -f webm ", 0},
};

const ContainerRow* FindRow(const std::string& ext) {
    for (const ContainerRow& row : kRows) {
        if (ext == row.ext) return &row;
    }
    return nullptr;
}

}  // namespace

std::string OutputExtension(const std::string& path) {
    if (path.size() > kMaxPathLength) return {};
    size_t dot = path.rfind('.');
    if (dot == std::string::npos) return {};
    size_t separator = path.find_last_of("/:");
    if (separator != std::string::npos && separator > dot) return {};
    std::string ext = path.substr(dot);
    for (char& c : ext) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return ext;
}

int32_t ResizedDimension(int32_t size, int32_t resizeIndex) {
    static constexpr float kFactors[] = {1.0f, 0.9f, 0.8f, 0.7f, 0.6f, 0.5f};
    if (resizeIndex < 1 || resizeIndex > 5) return size;
    // The factor keeps its single-precision value; product and division are
    // exact in double, so 960 at 90 % gives 53.99999 sixteens, truncated.
    double sixteens = static_cast<double>(kFactors[resizeIndex]) * size / 16.0;
    return static_cast<int32_t>(16 * std::trunc(sixteens));
}

std::string TempWavPath(const std::string& tempFolder) { return tempFolder + "/temp.wav"; }

bool HasUsableWav(const std::string& tempFolder) {
    std::error_code ec;
    std::string wav = TrimBlanksAndNuls(TempWavPath(tempFolder));
    if (!std::filesystem::is_regular_file(wav, ec)) return false;
    auto size = std::filesystem::file_size(wav, ec);
    return !ec && size > 0;
}

std::string StillPattern(const std::string& tempFolder, int32_t tempFormat) {
    // Any format value but 1 writes JPEG stills, so only 1 reads BMP ones.
    return tempFolder + (tempFormat == 1 ? "/mono%06d.bmp" : "/mono%06d.jpg");
}

EncoderCommand BuildEncoderCommand(const EncoderJob& job) {
    EncoderCommand command;
    // The target is written without surrounding blanks, so its extension is
    // read the same way.
    command.videoExt = OutputExtension(TrimBlanksAndNuls(job.outputPath));
    const ContainerRow* row = FindRow(command.videoExt);
    if (row == nullptr) return command;
    command.known = true;

    Element exe{Quoted(job.encoderProgram), {job.encoderProgram}};

    Element rate;
    if (job.avgTimePerFrame == 0) {
        rate = Literal(" -r 30 ");
    } else {
        std::string fps = FormatMask(1.0e7 / static_cast<double>(job.avgTimePerFrame), "00.00");
        rate = {" -r " + fps + " ", {"-r", fps}};
    }

    Element size;
    if (job.resizeIndex >= 1 && job.resizeIndex <= 5) {
        std::string wh = std::to_string(ResizedDimension(job.outW, job.resizeIndex)) + "x" +
                         std::to_string(ResizedDimension(job.outH, job.resizeIndex));
        size = {" -s " + wh + " ", {"-s", wh}};
    }

    // The limit is whole seconds. A movie shorter than one second would get
    // "-t 00:00:00", an empty output, so it gets one second; without a known
    // duration there is no limit at all.
    Element duration = size;
    if (job.durationSeconds > 0) {
        std::string clock = FormatDuration(job.durationSeconds < 1 ? 1 : job.durationSeconds);
        duration = {" -t " + clock + size.text, {"-t", clock}};
        duration.args.insert(duration.args.end(), size.args.begin(), size.args.end());
    }

    Element audio;
    if (job.hasAudio) {
        std::string wav = TrimBlanksAndNuls(TempWavPath(job.tempFolder));
        audio = {"-i " + Quoted(wav) + " -ac 2 " + " -ar 44100 ",
                 {"-i", wav, "-ac", "2", "-ar", "44100"}};
    } else {
        audio = Literal(" ");
    }

    std::string pattern = TrimBlanksAndNuls(StillPattern(job.tempFolder, job.tempFormat));
    Element stills{"-i " + Quoted(pattern), {"-i", pattern}};

    Element codec = Literal(row->codec);
    Element quality;
    if (job.quality <= 0) {
        quality = Literal(row->defaultQuality);
    } else {
        quality = Literal(std::string(row->levelPrefix) +
                          std::to_string(job.quality + row->levelOffset) + row->levelSuffix);
    }

    std::string output = TrimBlanksAndNuls(job.outputPath);
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

}  // namespace tessaly
