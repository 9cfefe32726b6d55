// Quillot: a sample host of the UbinBangou control. Without a display it says how to get one.
#include "samples/quillot/quillot_window.h"

#include "base/program.h"
#include "qt/component/registry.h"
#include "qt/component/saved_form.h"
#include "qt/widgets/dialogs.h"
#include "qt/widgets/program.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>

namespace {

const ubin::widgets::ProgramInfo kProgram{
    QStringLiteral("quillot"), QStringLiteral("Ubinコントロールのテスト"),
    QStringLiteral("Ubinコントロールのテスト: a sample program that hosts the UbinBangou lookup control "
                   "(Marubeta.UbinBangou, registered with ubin-regsvr) and shows its results.")};

// What the platform does with an error nobody handles: it says so, and the program ends.
[[noreturn]] void ReportAndEnd(const QString& message)
{
    const QByteArray bytes = (QStringLiteral("quillot: ") + message + QLatin1Char('\n')).toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stderr);
    ubin::widgets::ShowError(nullptr, message, kProgram.title);
    std::exit(1);
}

} // namespace

int main(int argc, char** argv)
{
    ubin::widgets::CommandLine commandLine(kProgram);
    const QCommandLineOption registryOption(
        QStringLiteral("registry"),
        QStringLiteral("The class registry to create the control from (default: $XDG_CONFIG_HOME/marubeta/"
                       "classes.json, ~/.config/marubeta/classes.json)."),
        QStringLiteral("FILE"));
    commandLine.AddOption(registryOption);
    if (const auto status = commandLine.ParseAndPrint(ubin::widgets::Arguments(argc, argv))) return *status;
    if (!ubin::widgets::HasDisplay()) return ubin::widgets::ReportNoDisplay(kProgram.name);

    std::filesystem::path registry =
        ubin::component::DefaultRegistryPath(ubin::ConfigHome());
    if (commandLine.parser().isSet(registryOption))
        registry = commandLine.parser().value(registryOption).toStdU16String();

    QApplication app(argc, argv);
    ubin::widgets::SetUpApplication(kProgram);
    const std::filesystem::path exeFolder = QCoreApplication::applicationDirPath().toStdU16String();

    const std::filesystem::path formFile = ubin::quillot::FindFormFile(exeFolder);
    ubin::component::Result<ubin::component::SavedForm> form = ubin::component::ReadSavedForm(formFile);
    if (!form)
        ReportAndEnd(QStringLiteral("保存されたフォームを読めません。\nファイル: %1\n詳しく: %2\n\n"
                                    "quillot.form を quillot と同じフォルダか <prefix>/share/marubeta/ に置いてください。")
                         .arg(QString::fromStdU16String(formFile.u16string()),
                              QString::fromStdString(form.status().ToString())));

    ubin::quillot::QuillotWindow window;
    if (ubin::component::Status s = window.LoadControl(registry, *form); !s.ok())
        ReportAndEnd(ubin::quillot::CreationFailedMessage(s, registry, ubin::quillot::ControlLibraryPath(exeFolder)));
    QObject::connect(&window, &ubin::quillot::QuillotWindow::controlFailed, &window, [](const QString& message) {
        ReportAndEnd(ubin::quillot::CallFailedMessage(message));
    });
    window.show();
    return app.exec(); // closing the window ends the program
}
