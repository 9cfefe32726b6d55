// Marubeta: the search window. It needs a display; without one it says how to get one.
#include "base/errors.h"
#include "marubeta/marubeta_window.h"

#include "platform/forms/dialogs.h"

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int terminationPipe[2] = {-1, -1};

void OnTerminate(int)
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(terminationPipe[1], &c, 1);
}

bool HasDisplay()
{
    if (std::getenv("QT_QPA_PLATFORM")) return true;
    return std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
}

std::filesystem::path ConfigHome()
{
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) return xdg;
    if (const char* home = std::getenv("HOME"); home && *home) return std::filesystem::path(home) / ".config";
    return std::filesystem::current_path();
}

} // namespace

int main(int argc, char** argv)
{
    if (!HasDisplay()) {
        std::fprintf(stderr, "marubeta: no display (DISPLAY is not set); run it on a desktop, or under a "
                             "virtual one: xvfb-run -a %s\n", argv[0]);
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("郵便番号簿"));
    const std::filesystem::path exeFolder = QCoreApplication::applicationDirPath().toStdString();
    const ubin::PlaceContext places =
        ubin::PlatformPlaces(ubin::Program::Marubeta, ConfigHome(), exeFolder, std::filesystem::current_path());

    std::unique_ptr<ubin::MarubetaWindow> window;
    try {
        window = std::make_unique<ubin::MarubetaWindow>(places);
    } catch (const ubin::SettingsNotFound&) {
        ubin::forms::ShowInformation(nullptr, ubin::SettingsNotFoundMessage(), QStringLiteral("郵便番号簿"));
        return 1;
    } catch (const std::exception& e) {
        ubin::forms::ShowInformation(nullptr, QString::fromUtf8(e.what()), QStringLiteral("郵便番号簿"));
        return 1;
    }

    // The window serves other programs over the link; a second Marubeta leaves the first its
    // conversations and runs without the service.
    if (QString reason; !window->StartLinkSource(QStringLiteral("Marubeta"), &reason))
        std::fprintf(stderr, "marubeta: running without the link service: %s\n", reason.toLocal8Bit().constData());

    // Termination by the system runs the same shut-down as the menu and the close button.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, terminationPipe) == 0) {
        auto* notifier = new QSocketNotifier(terminationPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, window.get(), &ubin::MarubetaWindow::ShutDownProgram);
        std::signal(SIGTERM, OnTerminate);
        std::signal(SIGINT, OnTerminate);
        std::signal(SIGHUP, OnTerminate);
    }
    QObject::connect(window.get(), &ubin::MarubetaWindow::shutDownRequested, &app, [] { QCoreApplication::exit(0); });
    window->show();
    return app.exec();
}
