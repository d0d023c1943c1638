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
    if (r.complete) {
        // Whatever was read survives a save and load unchanged, unless it is a
        // value the reader corrects or a path the writer trims.
        AppSettings again;
        int32_t w2 = 0, h2 = 0;
        LoadParametersFromText(SerializeParameters(settings, screen), again, screen, w2, h2);
        if (again.XL1 != settings.XL1 || again.SHARPEN != settings.SHARPEN ||
            again.CODECMODE != settings.CODECMODE || again.FPS != settings.FPS)
            std::abort();
    }
    return 0;
}
