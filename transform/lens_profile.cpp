#include "transform/lens_profile.h"

#include <lensfun.h>
#include <locale.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <numbers>

#include "transform/lens_profile_map.h"

namespace tessaly {
namespace {

// The vignetting calibrations of most lenses are taken this far away (m);
// the library's own advice when the distance is not known.
constexpr double kDefaultDistance = 1000.0;

std::string Lower(std::string s) {
    for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return s;
}

std::string Number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    std::string s = text;
    std::replace(s.begin(), s.end(), ',', '.');  // whatever the locale
    return s;
}

std::string FullName(const char* maker, const char* model) {
    const std::string m = maker != nullptr ? maker : "";
    const std::string n = model != nullptr ? model : "";
    // Many models repeat their maker ("Sigma" "Sigma 8mm ..."): say it once.
    if (!m.empty() && Lower(n).rfind(Lower(m), 0) != 0) return m + " " + n;
    return n;
}

std::string LensName(const lfLens& l) { return FullName(l.Maker, l.Model); }

std::optional<LensModel> ProjectionOf(lfLensType type) {
    switch (type) {
        case LF_FISHEYE: return LensModel::kEquidistant;
        case LF_FISHEYE_EQUISOLID: return LensModel::kEquisolid;
        case LF_FISHEYE_STEREOGRAPHIC: return LensModel::kStereographic;
        case LF_FISHEYE_ORTHOGRAPHIC: return LensModel::kOrthographic;
        default: return std::nullopt;
    }
}

const char* TypeWord(lfLensType type) {
    switch (type) {
        case LF_RECTILINEAR: return "rectilinear";
        case LF_PANORAMIC: return "panoramic";
        case LF_EQUIRECTANGULAR: return "equirectangular";
        case LF_FISHEYE_THOBY: return "thoby fisheye";
        default: return "unknown";
    }
}

// The database numbers are read with a full stop whatever the locale: the
// C locale for this thread while it loads.
struct CNumbers {
    locale_t c = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(nullptr));
    locale_t previous = c != nullptr ? uselocale(c) : nullptr;
    ~CNumbers() {
        if (c == nullptr) return;
        uselocale(previous);
        freelocale(c);
    }
};

struct Database {
    lfDatabase db;
    std::string error;
};

std::mutex databaseMutex;

// The database with the system's, the user's and lensFile's profiles, read
// once per lens file. Callers hold databaseMutex.
const Database& LoadedDatabase(const std::string& lensFile) {
    static std::map<std::string, std::unique_ptr<Database>> loaded;
    std::unique_ptr<Database>& slot = loaded[lensFile];
    if (slot) return *slot;
    slot = std::make_unique<Database>();
    CNumbers numbers;
    if (slot->db.Load() != LF_NO_ERROR) slot->error = "the lens database could not be read (is liblensfun-data-v1 installed?)";
    if (!lensFile.empty()) {
        struct stat st {};
        if (stat(lensFile.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            slot->error = "the lens file \"" + lensFile + "\" cannot be read";
        } else if (slot->db.Load(lensFile.c_str()) != LF_NO_ERROR) {
            slot->error = "the lens file \"" + lensFile + "\" is not in the lens database's XML format";
        } else {
            slot->error.clear();
        }
    }
    return *slot;
}

// Every database entry of the lens whose full name (or model) is `name`.
std::vector<const lfLens*> EntriesNamed(const lfDatabase& db, const std::string& name) {
    std::vector<const lfLens*> out;
    const std::string want = Lower(name);
    for (const lfLens* const* l = db.GetLenses(); l != nullptr && *l != nullptr; ++l) {
        if (Lower(LensName(**l)) == want || Lower((*l)->Model != nullptr ? (*l)->Model : "") == want) {
            out.push_back(*l);
        }
    }
    return out;
}

// The names the database's own matching finds for `text` (all its words,
// in any order, as maker and model).
std::vector<std::string> DatabaseMatches(const lfDatabase& db, const std::string& text, int flags) {
    std::vector<std::string> names;
    const lfLens** found = db.FindLenses(nullptr, nullptr, text.c_str(), flags);
    for (const lfLens** l = found; l != nullptr && *l != nullptr; ++l) {
        const std::string n = LensName(**l);
        if (std::find(names.begin(), names.end(), n) == names.end()) names.push_back(n);
    }
    lf_free(found);
    return names;
}

// The calibration meant for the camera: the largest calibration sensor not
// larger than the camera's (its crop factor not smaller), else the smallest.
const lfLens* ForCamera(const std::vector<const lfLens*>& entries, double crop) {
    const lfLens* best = nullptr;
    for (const lfLens* l : entries) {
        if (crop > 0 && l->CropFactor > crop * 1.01) continue;
        if (best == nullptr || (crop > 0 ? l->CropFactor > best->CropFactor : l->CropFactor < best->CropFactor)) best = l;
    }
    if (best != nullptr) return best;
    for (const lfLens* l : entries) {
        if (best == nullptr || l->CropFactor < best->CropFactor) best = l;
    }
    return best;
}

// The camera's crop factor from its name, or an error.
double CameraCrop(const lfDatabase& db, const std::string& name, LensProfileLookup& out) {
    const lfCamera** found = db.FindCamerasExt(nullptr, name.c_str(), 0);
    double crop = 0.0;
    double only = 0.0;  // the crop factor of the first camera found
    std::vector<std::string> names;
    for (const lfCamera** c = found; c != nullptr && *c != nullptr; ++c) {
        const std::string n = FullName((*c)->Maker, (*c)->Model);
        if (Lower(n) == Lower(name) || Lower((*c)->Model != nullptr ? (*c)->Model : "") == Lower(name)) crop = (*c)->CropFactor;
        if (names.empty()) only = (*c)->CropFactor;
        if (std::find(names.begin(), names.end(), n) == names.end()) names.push_back(n);
    }
    lf_free(found);
    if (crop <= 0.0 && names.size() == 1) crop = only;
    if (crop <= 0.0) {
        out.error = names.empty() ? "the lens database knows no camera \"" + name + "\""
                                  : "the camera \"" + name + "\" is ambiguous in the lens database";
        out.candidates = names;
    }
    return crop;
}

void ReadCorrections(const lfLens& l, LensCorrection& c, const LensProfileSettings& s) {
    const float focal = static_cast<float>(c.focal);
    lfLensCalibDistortion d{};
    if (l.InterpolateDistortion(focal, d)) {
        c.distortion = d.Model == LF_DIST_MODEL_POLY3   ? DistortionModel::kPoly3
                       : d.Model == LF_DIST_MODEL_POLY5 ? DistortionModel::kPoly5
                       : d.Model == LF_DIST_MODEL_PTLENS ? DistortionModel::kPtLens
                                                         : DistortionModel::kNone;
        for (int i = 0; i < 3; ++i) c.distortionTerms[i] = d.Terms[i];
    }
    lfLensCalibTCA t{};
    if (s.lateralColour && l.InterpolateTCA(focal, t)) {
        c.tca = t.Model == LF_TCA_MODEL_LINEAR ? TcaModel::kLinear
                : t.Model == LF_TCA_MODEL_POLY3 ? TcaModel::kPoly3
                                                : TcaModel::kNone;
        for (int i = 0; i < 6; ++i) c.tcaTerms[i] = t.Terms[i];
    }
    const double aperture = s.aperture > 0 ? s.aperture : (l.MinAperture > 0 ? l.MinAperture : 8.0);
    const double distance = s.distance > 0 ? s.distance : kDefaultDistance;
    if (s.aperture <= 0) c.notes.push_back("vignetting for the widest aperture, f/" + Number(aperture));
    lfLensCalibVignetting v{};
    if (l.InterpolateVignetting(focal, static_cast<float>(aperture), static_cast<float>(distance), v) &&
        v.Model == LF_VIGNETTING_MODEL_PA) {
        c.vignetting = true;
        for (int i = 0; i < 3; ++i) c.vignettingTerms[i] = v.Terms[i];
    }
    // The projection's focal length: the calibrated real one where the
    // database has it, over the scale the poly3 and ptlens fits carry at
    // the centre (the library's own reading of these models).
    lfLensCalibRealFocal real{};
    c.projectionFocal = l.InterpolateRealFocal(focal, real) ? real.RealFocal : c.focal;
    const double centreScale = c.distortion == DistortionModel::kPoly3    ? 1.0 - c.distortionTerms[0]
                               : c.distortion == DistortionModel::kPtLens ? 1.0 - c.distortionTerms[0] -
                                                                                 c.distortionTerms[1] - c.distortionTerms[2]
                                                                          : 1.0;
    if (l.InterpolateRealFocal(focal, real) && centreScale > 0) c.projectionFocal /= centreScale;
}

LensCorrection CorrectionOf(const lfLens& l, double crop, const LensProfileSettings& s) {
    LensCorrection c;
    c.maker = l.Maker != nullptr ? l.Maker : "";
    c.model = l.Model != nullptr ? l.Model : "";
    c.name = LensName(l);
    c.projection = *ProjectionOf(l.Type);
    c.calibrationCropFactor = l.CropFactor > 0 ? l.CropFactor : 1.0;
    c.calibrationAspect = l.AspectRatio > 0 ? l.AspectRatio : 1.5;
    c.cropFactor = crop > 0 ? crop : c.calibrationCropFactor;
    if (crop <= 0) c.notes.push_back("no crop factor given: the calibration's");
    c.focal = s.focal > 0 ? s.focal : l.MinFocal;
    if (s.focal <= 0) c.notes.push_back("no focal length given: the lens's shortest");
    ReadCorrections(l, c, s);
    return c;
}

}  // namespace

LensProfileLookup LookUpLensProfile(const LensProfileSettings& s) {
    LensProfileLookup out;
    const std::lock_guard<std::mutex> lock(databaseMutex);
    const Database& base = LoadedDatabase(s.lensFile);
    if (!base.error.empty()) {
        out.error = base.error;
        return out;
    }
    std::vector<const lfLens*> entries = EntriesNamed(base.db, s.lens);
    if (entries.empty()) {
        const std::vector<std::string> names = DatabaseMatches(base.db, s.lens, LF_SEARCH_SORT_AND_UNIQUIFY);
        if (names.size() == 1) entries = EntriesNamed(base.db, names[0]);
        if (names.size() != 1) {
            out.candidates = names.empty() ? DatabaseMatches(base.db, s.lens, LF_SEARCH_LOOSE) : names;
            out.error = names.empty() ? "the lens database knows no lens \"" + s.lens + "\""
                                      : "the lens name \"" + s.lens + "\" fits several lenses";
            return out;
        }
    }
    double crop = s.cropFactor;
    if (crop <= 0 && !s.camera.empty()) {
        crop = CameraCrop(base.db, s.camera, out);
        if (!out.error.empty()) return out;
    }
    const lfLens* lens = ForCamera(entries, crop);
    if (!ProjectionOf(lens->Type)) {
        out.error = "\"" + LensName(*lens) + "\" is a " + TypeWord(lens->Type) + " lens, not a fisheye";
        return out;
    }
    if (s.focal > 0 && lens->MinFocal > 0 &&
        (s.focal < lens->MinFocal * 0.999 || s.focal > std::max(lens->MinFocal, lens->MaxFocal) * 1.001)) {
        out.error = "\"" + LensName(*lens) + "\" has focal lengths " + Number(lens->MinFocal) +
                    (lens->MaxFocal > lens->MinFocal ? "-" + Number(lens->MaxFocal) : std::string()) + " mm (not " +
                    Number(s.focal) + ")";
        return out;
    }
    out.correction = CorrectionOf(*lens, crop, s);
    return out;
}

std::vector<LensListing> ListLenses(const std::string& word, const std::string& lensFile, std::string& error) {
    std::vector<LensListing> out;
    const std::lock_guard<std::mutex> lock(databaseMutex);
    const Database& base = LoadedDatabase(lensFile);
    error = base.error;
    if (!error.empty()) return out;
    const std::string want = Lower(word);
    for (const lfLens* const* l = base.db.GetLenses(); l != nullptr && *l != nullptr; ++l) {
        const std::optional<LensModel> projection = ProjectionOf((*l)->Type);
        LensListing e{(*l)->Maker != nullptr ? (*l)->Maker : "",
                      LensName(**l),
                      projection ? LensModelName(*projection) : TypeWord((*l)->Type),
                      projection.has_value(),
                      (*l)->CropFactor,
                      (*l)->MinFocal,
                      std::max((*l)->MinFocal, (*l)->MaxFocal),
                      (*l)->CalibVignetting != nullptr && *(*l)->CalibVignetting != nullptr};
        const std::string all = Lower(e.maker + " " + e.model + " " + e.projection + (e.fisheye ? " fisheye" : ""));
        if (!want.empty() && all.find(want) == std::string::npos) continue;
        out.push_back(e);
    }
    std::stable_sort(out.begin(), out.end(), [](const LensListing& a, const LensListing& b) {
        if (a.fisheye != b.fisheye) return a.fisheye;
        return Lower(a.model) < Lower(b.model);
    });
    return out;
}

std::vector<std::string> ListCameras(const std::string& lensFile, std::string& error) {
    std::vector<std::string> out;
    const std::lock_guard<std::mutex> lock(databaseMutex);
    const Database& base = LoadedDatabase(lensFile);
    error = base.error;
    if (!error.empty()) return out;
    for (const lfCamera* const* c = base.db.GetCameras(); c != nullptr && *c != nullptr; ++c) {
        out.push_back(FullName((*c)->Maker, (*c)->Model));
    }
    std::sort(out.begin(), out.end(), [](const std::string& a, const std::string& b) { return Lower(a) < Lower(b); });
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

double ExpectedCircleDiameter(const LensCorrection& c, double fov, int frameW, int frameH) {
    CutGeometry g;
    g.frameW = frameW;
    g.frameH = frameH;
    g.projS = 1.0f;
    LensSettings ideal;
    ideal.model = c.projection;
    const ProfileMap m = MakeProfileMap(g, ideal, c);
    return 2.0 * ProfileRadiusPixels(m, 0.5 * fov * std::numbers::pi / 180.0);
}

namespace {

// "2,980": whole pixels to the nearest ten, thousands set apart.
std::string AboutPixels(double px) {
    std::string digits = std::to_string(static_cast<long long>(std::llround(px / 10.0) * 10));
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(static_cast<size_t>(i), ",");
    return digits;
}

const char* DistortionName(DistortionModel m) {
    switch (m) {
        case DistortionModel::kPoly3: return "poly3";
        case DistortionModel::kPoly5: return "poly5";
        case DistortionModel::kPtLens: return "ptlens";
        case DistortionModel::kNone: break;
    }
    return "none";
}

}  // namespace

std::string CircleMismatch(const LensCorrection& c, double fov, double foundDiameter, int frameW, int frameH) {
    const double expected = ExpectedCircleDiameter(c, fov, frameW, frameH);
    if (!(expected > 0.0) || !(foundDiameter > 0.0) || std::fabs(foundDiameter / expected - 1.0) <= 0.05) return {};
    return "this lens on this camera draws a circle of about " + AboutPixels(expected) + " px; the movie's is " +
           AboutPixels(foundDiameter) + " px: another camera, a speed booster, or another lens?";
}

std::string ProfileSetting(const LensCorrection& c) {
    return std::string(LensModelName(c.projection)) + ", focal length " + Number(c.focal) + " mm, crop factor " +
           Number(c.cropFactor);
}

std::string ProfileCorrections(const LensCorrection& c) {
    return std::string("distortion ") + DistortionName(c.distortion) + ", vignetting " +
           (c.vignetting ? "corrected" : "not calibrated") + ", lateral colour " +
           (c.tca == TcaModel::kLinear ? "linear" : c.tca == TcaModel::kPoly3 ? "poly3" : "none");
}

std::string ProfileSummary(const LensCorrection& c) {
    std::string line = "lens profile " + FullName(c.maker.c_str(), c.model.c_str()) + ": " + ProfileSetting(c) + "; " +
                       ProfileCorrections(c);
    for (const std::string& note : c.notes) line += "; " + note;
    return line;
}

}  // namespace tessaly
