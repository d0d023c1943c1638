// GoogleTest inside a QApplication on Qt's offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QStyleFactory>

#include <cstdlib>
#include <filesystem>


#if defined(__SANITIZE_THREAD__)
// Qt's raster engine scales pictures on its own thread pool, synchronised
// through Qt's uninstrumented primitives: let ThreadSanitizer look only at
// the accesses of the code built here.
extern "C" const char* __tsan_default_options() { return "ignore_noninstrumented_modules=1"; }
#endif

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Qt's file dialogs keep their state in the user's configuration under
    // a file lock: tests running side by side each get a folder of their own.
    char config[] = "/tmp/tessaly-ui-config-XXXXXX";
    if (mkdtemp(config) != nullptr) {
        setenv("XDG_CONFIG_HOME", config, 1);
        setenv("XDG_RUNTIME_DIR", config, 1);
    }
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::error_code ec;
    std::filesystem::remove_all(config, ec);
    return result;
}
