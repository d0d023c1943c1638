#include "convert/movie_part.h"

#include <charconv>
#include <vector>

#include "convert/encoder_command.h"

namespace tessaly {
namespace {

// A number as text whatever the locale: the shortest form that reads back.
std::string Number(double value) {
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    return ec == std::errc() ? std::string(text, end) : std::string("?");
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        const size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at - start));
        if (at == std::string::npos) break;
        start = at + 1;
    }
    return parts;
}

template <typename T>
bool ReadWhole(const std::string& text, T& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty();
}

// "A/B" as two numbers.
template <typename T>
bool ReadPair(const std::string& text, char separator, T& a, T& b) {
    const std::vector<std::string> two = Split(text, separator);
    return two.size() == 2 && ReadWhole(two[0], a) && ReadWhole(two[1], b);
}

// The settings PartSettingsText writes.
constexpr size_t kSettingsCount = 11;
// Hex digits of a SHA-256.
constexpr size_t kDigestDigits = 64;

// "mono", or "sbs>tb/swap=0/left=X,Y,W,H:XL1,YL1,XL2,YL2:SX,SY:YAW,PITCH,ROLL/right=..."
// with each eye's centre shift and its angles as its lens has them.
std::string StereoText(const StereoSettings& stereo, const LensSettings& shared) {
    if (!stereo.IsStereo()) return "mono";
    std::string text = std::string(StereoLayoutName(stereo.input)) + ">" + StereoLayoutName(stereo.output) +
                       "/swap=" + (stereo.swapEyes ? "1" : "0");
    for (const int eye : {kLeftEye, kRightEye}) {
        const FrameRegion& w = stereo.windows[eye];
        const CutRect& c = stereo.cuts[eye];
        const LensSettings lens = EyeLens(shared, stereo.angles[eye]);
        text += std::string(eye == kLeftEye ? "/left=" : "/right=") + std::to_string(w.x) + "," +
                std::to_string(w.y) + "," + std::to_string(w.w) + "," + std::to_string(w.h) + ":" +
                std::to_string(c.XL1) + "," + std::to_string(c.YL1) + "," + std::to_string(c.XL2) + "," +
                std::to_string(c.YL2) + ":" + Number(stereo.shifts[eye].x) + "," + Number(stereo.shifts[eye].y) + ":" +
                Number(lens.yaw) + "," + Number(lens.pitch) + "," + Number(lens.roll);
    }
    return text;
}

}  // namespace

SlotWindow PartWindow(int64_t slots, int32_t index, int32_t count) {
    SlotWindow window;
    if (count < 1 || index < 1 || index > count || slots < 0) return window;
    // floor(slots * i / count) without the product, which a damaged
    // length could take past 64 bits.
    const auto at = [slots, count](int32_t i) {
        return slots / count * i + slots % count * i / count;
    };
    window.first = at(index - 1);
    if (index < count) window.end = at(index);
    return window;
}

std::string PartExtensionProblem(const std::string& path) {
    const std::string ext = OutputExtension(path);
    if (ext == ".mkv") return {};
    EncoderJob probe;
    probe.outputPath = path;
    if (!BuildEncoderCommand(probe).known) {
        return "unsupported extension '" + ext + "' for a part (use .mkv, or the output's extension)";
    }
    if (IsMpegExtension(ext)) {
        return "MPEG-2 parts (" + ext + ") cannot be joined without re-encoding (use .mkv)";
    }
    return {};
}

std::string PartTagText(const PartTag& tag) {
    return "tessaly-part " + std::to_string(tag.index) + "/" + std::to_string(tag.count) + " slots " +
           std::to_string(tag.first) + "-" + std::to_string(tag.end) + "/" + std::to_string(tag.slots) +
           " source " + std::to_string(tag.sourceBytes) + "/" + std::to_string(tag.rateNum) + "/" +
           std::to_string(tag.rateDen) + " settings " + tag.settings +
           (tag.digest.empty() ? std::string() : " digest " + tag.digest);
}

bool ParsePartTag(const std::string& text, PartTag& tag) {
    const std::vector<std::string> words = Split(text, ' ');
    const bool digested = words.size() == 10 && words[8] == "digest" && words[9].size() == kDigestDigits &&
                          words[9].find_first_not_of("0123456789abcdef") == std::string::npos;
    if ((words.size() != 8 && !digested) || words[0] != "tessaly-part" || words[2] != "slots" ||
        words[4] != "source" || words[6] != "settings") {
        return false;
    }
    PartTag t;
    if (digested) t.digest = words[9];
    if (!ReadPair(words[1], '/', t.index, t.count)) return false;
    const std::vector<std::string> span = Split(words[3], '/');
    if (span.size() != 2 || !ReadPair(span[0], '-', t.first, t.end) || !ReadWhole(span[1], t.slots)) return false;
    const std::vector<std::string> source = Split(words[5], '/');
    if (source.size() != 3 || !ReadWhole(source[0], t.sourceBytes) || !ReadWhole(source[1], t.rateNum) ||
        !ReadWhole(source[2], t.rateDen)) {
        return false;
    }
    if (t.count < 1 || t.index < 1 || t.index > t.count || t.first < 0 || t.end < t.first) return false;
    // Every setting as name=value: a cut or damaged text is no tag.
    const std::vector<std::string> settings = Split(words[7], ';');
    if (settings.size() != kSettingsCount) return false;
    for (const std::string& setting : settings) {
        if (setting.find('=') == std::string::npos || setting.back() == '=') return false;
    }
    t.settings = words[7];
    tag = t;
    return true;
}

std::string PartSettingsText(const AppSettings& s, int32_t flip, int32_t quality, int32_t resize,
                             const StereoSettings& stereo) {
    const auto on = [](int32_t sw, int32_t value) { return sw != 0 ? std::to_string(value) : std::string("off"); };
    return "cut=" + std::to_string(s.XL1) + "," + std::to_string(s.YL1) + "," + std::to_string(s.XL2) + "," +
           std::to_string(s.YL2) + ";lens=" + LensModelName(s.lens.model) + "," + Number(s.lens.fov) + "," +
           Number(s.lens.yaw) + "," + Number(s.lens.pitch) + "," + Number(s.lens.roll) +
           ";sharpen=" + (s.SHARPEN_CH != 0 ? std::to_string(s.SHARPEN) + "," + std::to_string(s.RADIUS) : "off") +
           ";brightness=" + on(s.BRIGHTNESS_CH, s.BRIGHTNESS) + ";contrast=" + on(s.CONTRAST_CH, s.CONTRAST) +
           ";noise=" + on(s.NOISE_CH, s.NOISE) + ";aspect=" + std::to_string(s.ASPECT) +
           ";flip=" + std::to_string(flip) + ";quality=" + std::to_string(quality) +
           ";resize=" + std::to_string(resize) + ";stereo=" + StereoText(stereo, s.lens);
}

StereoLayout PartStereoLayout(const std::string& settings) {
    const std::string key = ";stereo=";
    const size_t at = settings.find(key);
    const size_t arrow = at == std::string::npos ? std::string::npos : settings.find('>', at);
    if (arrow == std::string::npos) return StereoLayout::kMono;
    const size_t end = settings.find('/', arrow);
    return StereoLayoutFromName(settings.substr(arrow + 1, end - arrow - 1)).value_or(StereoLayout::kMono);
}

std::string SettingsDifference(const std::string& a, const std::string& b) {
    const std::vector<std::string> ours = Split(a, ';');
    const std::vector<std::string> theirs = Split(b, ';');
    for (size_t i = 0; i < ours.size(); ++i) {
        const std::string other = i < theirs.size() ? theirs[i] : std::string("nothing");
        if (ours[i] != other) return ours[i] + " (not " + other + ")";
    }
    if (theirs.size() > ours.size()) return theirs[ours.size()] + " (not nothing)";
    return {};
}

}  // namespace tessaly
