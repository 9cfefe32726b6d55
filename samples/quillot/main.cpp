// Quillot: a sample host of the UbinBangou control. Without a display it says how to get one.
#include "samples/quillot/quillot_window.h"

#include "platform/component/registry.h"
#include "platform/component/saved_form.h"
#include "platform/forms/dialogs.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool HasDisplay()
{
    if (std::getenv("QT_QPA_PLATFORM")) return true;
    return std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
}

const QString kTitle = QStringLiteral("Ubinコントロールのテスト");

// What the platform does with an error nobody handles: it says so, and the program ends.
[[noreturn]] void ReportAndEnd(const QString& message)
{
    ubin::forms::ShowInformation(nullptr, message, kTitle);
    std::exit(1);
}

} // namespace

int main(int argc, char** argv)
{
    if (!HasDisplay()) {
        std::fprintf(stderr, "quillot: no display (DISPLAY is not set); run it on a desktop, or under a "
                             "virtual one: xvfb-run -a %s\n", argv[0]);
        return 1;
    }
    // --registry FILE uses another class registry than the user's (the build tree's, for example).
    std::filesystem::path registry =
        ubin::component::DefaultRegistryPath(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--registry") == 0) registry = argv[i + 1];

    QApplication app(argc, argv);
    QApplication::setApplicationName(kTitle);
    const std::filesystem::path exeFolder = QCoreApplication::applicationDirPath().toStdString();

    ubin::component::Result<ubin::component::SavedForm> form = ubin::component::ReadSavedForm(
        ubin::quillot::FindFormFile(exeFolder));
    if (!form) ReportAndEnd(QString::fromStdString(form.status().ToString()));

    ubin::quillot::QuillotWindow window;
    if (ubin::component::Status s = window.LoadControl(registry, *form); !s.ok())
        ReportAndEnd(QString::fromStdString(s.ToString()));
    QObject::connect(&window, &ubin::quillot::QuillotWindow::controlFailed, &window, [](const QString& message) {
        ReportAndEnd(message);
    });
    window.show();
    return app.exec(); // closing the window ends the program
}
