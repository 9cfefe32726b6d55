// Piroshen: the sample client of Marubeta's link service. Without a display it says how to get one.
//
//   piroshen [--marubeta PATH]
//
// Marubeta's program file is the `marubeta` beside Piroshen's own executable (both are installed
// into the same bin folder); --marubeta names another one, as when running from the build tree.
#include "samples/piroshen/piroshen_window.h"

#include <QApplication>
#include <QStringList>
#include <cstdio>
#include <cstdlib>

namespace {

bool HasDisplay()
{
    if (std::getenv("QT_QPA_PLATFORM")) return true;
    return std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
}

const char kUsage[] = "usage: piroshen [--marubeta PATH]\n";

} // namespace

int main(int argc, char** argv)
{
    if (!HasDisplay()) {
        std::fprintf(stderr, "piroshen: no display (DISPLAY is not set); run it on a desktop, or under a "
                             "virtual one: xvfb-run -a %s\n", argv[0]);
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(ubin::piroshen::PiroshenWindow::kTitle);

    ubin::piroshen::PiroshenSetup setup;
    setup.marubetaProgram = ubin::piroshen::MarubetaBeside(QCoreApplication::applicationDirPath());
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    while (!args.isEmpty()) {
        const QString option = args.takeFirst();
        if (option == QLatin1String("--marubeta") && !args.isEmpty()) {
            setup.marubetaProgram = args.takeFirst();
        } else if (option.startsWith(QLatin1String("--marubeta="))) {
            setup.marubetaProgram = option.mid(11);
        } else if (option == QLatin1String("--help")) {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            std::fprintf(stderr, "piroshen: unknown argument %s\n%s", option.toLocal8Bit().constData(), kUsage);
            return 64;
        }
    }

    ubin::piroshen::PiroshenWindow window(setup);
    window.Start();
    window.show();
    return app.exec(); // closing the window ends the program; nothing else is done at close
}
