// Marubeta: the search window. It needs a display; without one it says how to get one.
#include "base/errors.h"
#include "marubeta/marubeta_window.h"
#include "qt/widgets/search_guard.h"

#include "qt/widgets/dialogs.h"
#include "qt/widgets/program.h"

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int terminationPipe[2] = {-1, -1};

void OnTerminate(int signal)
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(terminationPipe[1], &c, 1);
    // A second signal ends the program at once, should the shut-down itself not end.
    std::signal(signal, SIG_DFL);
}

const ubin::widgets::ProgramInfo kProgram{
    QStringLiteral("marubeta"), QStringLiteral("郵便番号簿"),
    QStringLiteral("郵便番号簿: looks up Japanese postal codes and addresses, and serves the lookup to other "
                   "programs over the link (service Marubeta, topic Form1).\n"
                   "Settings: ubscon.def in $XDG_CONFIG_HOME/marubeta/ (~/.config/marubeta/), the current "
                   "folder, or <prefix>/share/marubeta/.")};

// A start-up failure: on standard error, then in a box; the program ends.
int Fail(const QString& message)
{
    const QByteArray bytes = (QStringLiteral("marubeta: ") + message + QLatin1Char('\n')).toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stderr);
    ubin::widgets::ShowError(nullptr, message, kProgram.title);
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    ubin::widgets::CommandLine commandLine(kProgram);
    if (const auto status = commandLine.ParseAndPrint(ubin::widgets::Arguments(argc, argv))) return *status;
    if (!ubin::widgets::HasDisplay()) return ubin::widgets::ReportNoDisplay(kProgram.name);

    QApplication app(argc, argv);
    ubin::widgets::SetUpApplication(kProgram);
    const std::filesystem::path exeFolder = QCoreApplication::applicationDirPath().toStdString();
    const ubin::PlaceContext places = ubin::ProgramPlaces(ubin::Program::Marubeta, exeFolder);

    std::unique_ptr<ubin::MarubetaWindow> window;
    try {
        window = std::make_unique<ubin::MarubetaWindow>(places);
    } catch (const ubin::SettingsNotFound& e) {
        return Fail(ubin::SettingsNotFoundMessage(e));
    } catch (const ubin::DirectoryStartUpError& e) {
        return Fail(ubin::widgets::DirectoryErrorText(e.what(), e.dataFolder));
    } catch (const std::exception& e) {
        return Fail(QStringLiteral("郵便番号簿を開始できません。\n詳しく: ") + QString::fromUtf8(e.what()));
    }

    // The window serves other programs over the link; a second Marubeta leaves the first its
    // conversations and runs without the service.
    if (QString reason; !window->StartLinkSource(QStringLiteral("Marubeta"), &reason))
        std::fprintf(stderr, "marubeta: running without the link service: %s\n", reason.toLocal8Bit().constData());

    // Termination by the system runs the same shut-down as the menu and the close button.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, terminationPipe) == 0) {
        auto* notifier = new QSocketNotifier(terminationPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, window.get(), [notifier, w = window.get()] {
            // Once: the byte is not read, so the notifier would fire again at every turn.
            notifier->setEnabled(false);
            w->ShutDownOnSignal();
        });
        std::signal(SIGTERM, OnTerminate);
        std::signal(SIGINT, OnTerminate);
        std::signal(SIGHUP, OnTerminate);
    }
    QObject::connect(window.get(), &ubin::MarubetaWindow::shutDownRequested, &app, [] { QCoreApplication::exit(0); });
    window->show();
    return app.exec();
}
