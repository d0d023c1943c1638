// tessaly: the desktop program.
#include <QApplication>
#include <QStyleFactory>

#include "ui/desktop_app.h"

int main(int argc, char** argv) {
    QApplication qt(argc, argv);  // takes Qt's own options out of argv
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    tessaly::DesktopOptions options;
    options.argv0 = argv[0];
    options.firstArgument = argc > 1 ? argv[1] : nullptr;
    return tessaly::RunDesktop(options);
}
