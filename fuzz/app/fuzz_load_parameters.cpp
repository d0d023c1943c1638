// Feeds arbitrary bytes to the parameter-file reader and checks that what it
// stores is what a later save and load reproduce.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/parameter_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tessaly;
    AppSettings settings;
    int32_t w = 0, h = 0;
    const ScreenSize screen{1920, 1080};
    const LoadResult r = LoadParametersFromText(
        std::string(reinterpret_cast<const char*>(data), size), settings, screen, w, h);
    if (settings.APATH.size() > 260 || settings.OPATH.size() > 260) std::abort();
    if (!r.complete && (settings.XL1 != -8 || w != 400)) std::abort();
    // A path holding a tag's text cannot be told apart from the tag on the
    // next read; the format has no escape for it.
    const bool plainPaths = settings.APATH.find('<') == std::string::npos &&
                            settings.OPATH.find('<') == std::string::npos;
    if (r.complete && plainPaths) {
        // What was read survives a save and load: saving again writes the
        // very same file (paths lose only their trailing "/" and blanks).
        const std::string saved = SerializeParameters(settings, screen);
        AppSettings again;
        int32_t w2 = 0, h2 = 0;
        if (!LoadParametersFromText(saved, again, screen, w2, h2).complete) std::abort();
        if (SerializeParameters(again, screen) != saved) std::abort();
    }
    return 0;
}
