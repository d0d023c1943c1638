// tessaly: the desktop program.
#include <QApplication>
#include <QStyleFactory>

#include <filesystem>

#include "ui/desktop_app.h"

int main(int argc, char** argv) {
    QApplication qt(argc, argv);  // takes Qt's own options out of argv
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    tessaly::DesktopOptions options;
    options.argv0 = argv[0];
    options.firstArgument = argc > 1 ? argv[1] : nullptr;
    // "2" still selects JPEG stills; an argument naming a file opens it.
    for (int i = 1; i < argc && options.openMovie.empty(); ++i) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(argv[i], ec)) options.openMovie = argv[i];
    }
    return tessaly::RunDesktop(options);
}
