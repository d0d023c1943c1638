// GoogleTest inside a QApplication on Qt's offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QStyleFactory>

#include <cstdlib>


#if defined(__SANITIZE_THREAD__)
// Qt's raster engine scales pictures on its own thread pool, synchronised
// through Qt's uninstrumented primitives: let ThreadSanitizer look only at
// the accesses of the code built here.
extern "C" const char* __tsan_default_options() { return "ignore_noninstrumented_modules=1"; }
#endif

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
